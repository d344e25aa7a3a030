#include "qarn_main.h"

#include "host_files.h"
#include "settings.h"
#include "shared_state.h"

void InitStartState() {
    gCmdConsole = QStringLiteral("0");
    gStopRequested = false;
}

void InitColours() {
    gColorCyan = 0x00FFFF80;
    gColorYellow = 0x0080FFFF;
    gColorGrey = 0x00C0C0C0;
    gColorGreen = 0x00C0FFC0;
}

void Main(StartupWindows &windows) {
    InitStartState();
    InitColours();
    // The first failure stops the sequence; the error window then reports that failure only.
    // The settings file comes first so that every later message is in its language.
    const bool started =
        ReadQARNIni() && ReadHostIni() == 0 && ReadHostCha() == 0 && ReadFirmDesc() == 0;
    if (started)
        windows.showMainWindow();
    else
        windows.showErrorWindow();
}
