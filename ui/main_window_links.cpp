// How the main window reaches the rest of the tool when it runs for real.

#include "app_windows.h"
#include "download.h"
#include "frmQARN_UI.h"
#include "qt_serial_port.h"
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
        const auto run = [](QString &sum) {
            return gPrototype == 0 ? RunDownload(sum) : SimulateDownload(sum);
        };
        // TRACE 1 in QARN.ini: one serial trace per run in the application folder.
        return gTrace ? RunTraced(AppFilePath(kTraceFileName), run, checkSum) : run(checkSum);
    };
    links.makeSerialPort = []() -> std::unique_ptr<SerialPortInterface> {
        return std::make_unique<QtSerialPort>();
    };
    links.secondsSinceMidnight = [] {
        return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    };
    return links;
}
