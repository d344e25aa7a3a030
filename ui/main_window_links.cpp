// How the main window reaches the rest of the tool when it runs for real.

#include "app_windows.h"
#include "download.h"
#include "frmQARN_UI.h"
#include "history.h"
#include "system_serial_port.h"
#include "shared_state.h"
#include "text_file.h"
#include "trace.h"

#include <QTime>

frmQARN_UI::Links frmQARN_UI::DefaultLinks() {
    Links links;
    links.showErrorWindow = [] { ShowErrorWindow(); };
    links.closeErrorWindows = [] { CloseErrorWindows(); };
    links.hostReturnUi = []() -> HostReturnUi & { return AppHostReturnUi(); };
    links.runDownload = [](QString &checkSum) {
        // TRACE 1 in QARN.ini: one serial trace per run in the application folder. A trace
        // that cannot be written does not keep the download from running.
        SerialTrace trace;
        const bool traced = gTrace && StartTraceFile(trace, AppFilePath(kTraceFileName)) == 0;
        RunHistory history(QStringLiteral("qarn"), QStringLiteral("download"),
                           gSelectedModel + u'/' + gSelectedPcb + u'/' + gSelectedVersion);
        bool ok = false;
        {
            ScopedLinkObserver watching(traced ? &trace : nullptr);
            ok = gPrototype == 0 ? RunDownload(checkSum) : SimulateDownload(checkSum);
        }
        trace.noteOutcome(ok, checkSum);
        const QString outcome =
            ok ? (gPrototype == 0 ? "ok" : "simulated") : (gStopRequested ? "stopped" : "failed");
        const QString problem = history.finish(outcome);
        if (!problem.isEmpty())
            trace.onNote(QStringLiteral("run history not written: ") + problem);
        trace.close();
        if (!problem.isEmpty())
            ShowHistoryProblem(problem);
        return ok;
    };
    links.makeSerialPort = []() -> std::unique_ptr<SerialPortInterface> {
        return std::make_unique<SystemSerialPort>();
    };
    links.secondsSinceMidnight = [] {
        return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    };
    return links;
}
