#pragma once
// The tool's windows as start-up and the return to the host see them: the main window or the
// error window after start-up, message boxes with the application's title, closing every window
// and ending the process.

#include "qarn_main.h"
#include "return_to_host.h"

class QWidget;

class AppStartupWindows : public StartupWindows {
public:
    void showMainWindow() override;
    void showErrorWindow() override;
};

class AppHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override;
    void closeAllWindows() override;
    void endProcess() override;
};

// The window system's side of the return to the host, one for the whole program.
HostReturnUi &AppHostReturnUi();

// Creates the error window for the current error state and shows it, not modal.
void ShowErrorWindow();
// Closes every error window that is still open.
void CloseErrorWindows();

// Says, in the chosen language and without waiting for an answer, that the run history could not
// be written and why.
void ShowHistoryProblem(const QString &why);

// Shows a window of the tool and keeps it in the order of opening (closeAllWindows closes the
// most recent first). The window deletes itself when closed.
void OpenToolWindow(QWidget *window);
