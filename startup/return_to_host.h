#pragma once
// The one way the tool ends: the result line goes into the host's torvane.cha, the host is
// started again with "goToMain", every window closes and the process ends.

#include <QString>

// What the return to the host needs of the window system.
class HostReturnUi {
public:
    virtual ~HostReturnUi() = default;
    // A modal message box with the application's title and an OK button only.
    virtual void showMessage(const QString &text) = 0;
    // Closes every window of the tool, the most recently opened first.
    virtual void closeAllWindows() = 0;
    // Ends the process.
    virtual void endProcess() = 0;
};

// Writes "SUB END" for "Normal", "SUB ERROR" for "NormalNG" (an empty file for anything else)
// as the new torvane.cha, keeping the previous one as torvane.cha.bak, starts the host and
// ends the tool. Returns only when it could not end the tool.
void ReturnToHost(const QString &result, HostReturnUi &ui);
