#pragma once
// The one way the tool ends: the result line goes into the host's torvane.cha, the host is
// started again with "goToMain", every window closes and the process ends.

#include <QString>
#include <QStringList>

// What the return to the host needs of the window system and of the process table.
class HostReturnUi {
public:
    virtual ~HostReturnUi() = default;
    // A modal message box with the application's title and an OK button only.
    virtual void showMessage(const QString &text) = 0;
    // Closes every window of the tool, the most recently opened first.
    virtual void closeAllWindows() = 0;
    // Ends the process.
    virtual void endProcess() = 0;
    // Starts a program without waiting for it; false when it could not be started.
    virtual bool startHost(const QString &program, const QStringList &arguments,
                           const QString &workingFolder);
};

// Writes "SUB END" for "Normal", "SUB ERROR" for "NormalNG" (an empty file for anything else)
// as the new torvane.cha, keeping the previous one as torvane.cha.bak, starts the host and
// ends the tool. Returns only when it could not end the tool, or at once, doing nothing, while
// a download run is under way or waits for its end to be confirmed (RunUnderWay).
//
// The new file is written completely and forced to disk as torvane.cha.buk before it replaces
// torvane.cha in one rename, so the host finds either its old file or the whole new one. When
// the new file cannot be written, backed up or moved into place, torvane.cha stays as it was,
// the user is told what failed (error 118 with the failure code and the file), and the tool
// ends without starting the host.
void ReturnToHost(const QString &result, HostReturnUi &ui);

// The host program: torvane.exe in the application folder, else on the search path; empty when
// there is none.
QString HostProgram();
