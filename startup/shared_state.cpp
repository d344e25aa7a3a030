#include "shared_state.h"

QString gAppDir;

uint32_t gColorCyan = 0;
uint32_t gColorYellow = 0;
uint32_t gColorGrey = 0;
uint32_t gColorGreen = 0;
bool gStopRequested = false;
QString gCmdConsole;
QString gFilePath;
QStringList gLangList;
QStringList gCountryList;
QString gDrive;
QString gFdir;
QString gSelectedModel;
QString gSelectedPcb;
QString gSelectedVersion;
QStringList gTgbnList;
QStringList gTgbnDescList;

int16_t gErrNo = 0;
int16_t gRunErrNo = 0;
QString gErrFileName;
QString gFuncName;
QString gErrKey;
int32_t gLangBase = 0;

QString gPort;
int16_t gPrototype = 0;
QString gBitRate;
QString gBitRate2;
QString gDataBits;
QString gParity;
QString gStopBits;
int32_t gPacketSize = 0;
QString gPacketSizeKey;
QString gPacketSizeFile;
bool gSendBlankBlocks = false;
float gAdjustTimeout = 0;
float gEraseTimeout = 0;
float gStatusTimeout = 0;
float gTransferTimeout = 0;
float gDataTimeout = 0;
float gWriteTimeout = 0;
QString gWaitTime;
QString gSetupInfo;
bool gTrace = false;
bool gHistory = true;
bool gStreamKernel = false;

int16_t gSeqType = 0;
QString gIrdFile;
QString gPrgFile;
QString gIrdCheckSum;
QString gFlashStart;
QString gFlashEnd;
QString gFlashCheckSum;
int16_t gIftFileNo = 0;
QString gKernelSha256;
QString gImageSha256;

SerialPortInterface *gComm = nullptr;
int16_t gDownloadState = 0;
int32_t gByteCount = 0;
int32_t gByteTotal = 0;
int32_t gObtainedCheckSum = 0;
int32_t gIrdSize = 0;
double gDeadline = 0;
bool gTimeoutActive = false;

void ResetDescriptionValues() {
    gSeqType = 0;
    gIrdFile.clear();
    gPrgFile.clear();
    gIrdCheckSum.clear();
    gFlashStart.clear();
    gFlashEnd.clear();
    gFlashCheckSum.clear();
}

bool RunUnderWay() {
    return gDownloadState >= 1 && gDownloadState <= 8;
}

void ResetSharedState() {
    gColorCyan = gColorYellow = gColorGrey = gColorGreen = 0;
    gStopRequested = false;
    gCmdConsole.clear();
    gFilePath.clear();
    gLangList.clear();
    gCountryList.clear();
    gDrive.clear();
    gFdir.clear();
    gSelectedModel.clear();
    gSelectedPcb.clear();
    gSelectedVersion.clear();
    gTgbnList.clear();
    gTgbnDescList.clear();

    gErrNo = 0;
    gRunErrNo = 0;
    gErrFileName.clear();
    gFuncName.clear();
    gErrKey.clear();
    gLangBase = 0;

    gPort.clear();
    gPrototype = 0;
    gBitRate.clear();
    gBitRate2.clear();
    gDataBits.clear();
    gParity.clear();
    gStopBits.clear();
    gPacketSize = 0;
    gPacketSizeKey.clear();
    gPacketSizeFile.clear();
    gSendBlankBlocks = false;
    gAdjustTimeout = gEraseTimeout = gStatusTimeout = 0;
    gTransferTimeout = gDataTimeout = gWriteTimeout = 0;
    gWaitTime.clear();
    gSetupInfo.clear();
    gTrace = false;
    gHistory = true;
    gStreamKernel = false;

    ResetDescriptionValues();
    gIftFileNo = 0;
    gKernelSha256.clear();
    gImageSha256.clear();

    gComm = nullptr;
    gDownloadState = 0;
    gByteCount = 0;
    gByteTotal = 0;
    gObtainedCheckSum = 0;
    gIrdSize = 0;
    gDeadline = 0;
    gTimeoutActive = false;
}
