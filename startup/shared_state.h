#pragma once
// The program-wide shared state. Every procedure of the tool passes settings, hand-off values,
// description values, progress and error information through these variables; their names are
// the ones the rest of the system uses. One thread (the window thread) reads and writes them.

#include <QString>
#include <QStringList>
#include <cstdint>

class SerialPortInterface; // bootmode/serial_port.h

// Application folder: the folder of the executable, kept once at start-up. Library code takes
// the folder from here so tests can point it at a temporary folder.
extern QString gAppDir;

// Start-up and host hand-off
extern uint32_t gColorCyan;
extern uint32_t gColorYellow;
extern uint32_t gColorGrey;
extern uint32_t gColorGreen;
extern bool gStopRequested;
extern QString gCmdConsole;
extern QString gFilePath;
extern QStringList gLangList;
extern QStringList gCountryList;
extern QString gDrive;
extern QString gFdir;
extern QString gSelectedModel;
extern QString gSelectedPcb;
extern QString gSelectedVersion;  // the version chosen in the tree, for the run history
extern QStringList gTgbnList;     // entries numbered from 1; entry 0 stays empty
extern QStringList gTgbnDescList; // parallel to gTgbnList

// Errors, language
extern int16_t gErrNo;
extern int16_t gRunErrNo;
extern QString gErrFileName;
extern QString gFuncName;
extern QString gErrKey; // description key named by error 123
extern int32_t gLangBase;

// Settings (settings file, overridden by the firmware description)
extern QString gPort;
extern int16_t gPrototype;
extern QString gBitRate;
extern QString gBitRate2;
extern QString gDataBits;
extern QString gParity;
extern QString gStopBits;
extern int32_t gPacketSize;
extern QString gPacketSizeKey;  // the key that gave gPacketSize, "" for the built-in default
extern QString gPacketSizeFile; // the file that holds that key
extern bool gSendBlankBlocks;
extern float gAdjustTimeout;
extern float gEraseTimeout;
extern float gStatusTimeout;
extern float gTransferTimeout;
extern float gDataTimeout;
extern float gWriteTimeout;
extern QString gWaitTime;
extern QString gSetupInfo;
extern bool gTrace;   // TRACE 1 in the settings file: write a serial trace per run
extern bool gHistory; // HISTORY 0 in the settings file: no run history
// STREAM 1 in the settings file: the kernel goes streamed rather than lock-step
extern bool gStreamKernel;

// Firmware description values
extern int16_t gSeqType;
extern QString gIrdFile;
extern QString gPrgFile;
extern QString gIrdCheckSum;
extern QString gFlashStart;
extern QString gFlashEnd;
extern QString gFlashCheckSum;
extern int16_t gIftFileNo;
// SHA-256 (64 lowercase hex digits) of the kernel and of the image as the run under way read
// them; "" until it has read the whole file
extern QString gKernelSha256;
extern QString gImageSha256;

// Download run, progress and link timing
extern SerialPortInterface *gComm; // null in simulation mode
extern int16_t gDownloadState;
extern int32_t gByteCount;
extern int32_t gByteTotal;
extern int32_t gObtainedCheckSum;
extern int32_t gIrdSize;
extern double gDeadline; // seconds on the link clock
extern bool gTimeoutActive;

// Colour constants, 0x00BBGGRR as the window system's colour values
constexpr uint32_t kColorWhite = 0x00FFFFFF;
constexpr uint32_t kColorBlack = 0x00000000;
constexpr uint32_t kColorRed = 0x000000FF;
constexpr uint32_t kColorLightRed = 0x008080FF;

// True while a download run is under way or its end waits for the user to confirm it (Start
// shows "O  K"): gDownloadState 1 to 8. Nothing but Stop may end the tool then.
bool RunUnderWay();

// Empties the values a firmware description gives (variant, files, checksums, addresses).
void ResetDescriptionValues();

// Puts every shared variable back to its value before start-up (tests use it between cases).
void ResetSharedState();
