#pragma once
// Start-up: the shared start state, the settings file and the host's hand-off files, then the
// main window or, after the first failure, the error window.

// The windows start-up opens; the window layer implements it.
class StartupWindows {
public:
    virtual ~StartupWindows() = default;
    virtual void showMainWindow() = 0;
    virtual void showErrorWindow() = 0;
};

void InitStartState();
void InitColours();
void Main(StartupWindows &windows);
