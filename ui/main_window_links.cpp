// How the main window reaches the rest of the tool when it runs for real.

#include "app_windows.h"
#include "download.h"
#include "frmQARN_UI.h"
#include "qt_serial_port.h"
#include "shared_state.h"

#include <QTime>

frmQARN_UI::Links frmQARN_UI::DefaultLinks() {
    Links links;
    links.showErrorWindow = [] { ShowErrorWindow(); };
    links.hostReturnUi = []() -> HostReturnUi & { return AppHostReturnUi(); };
    links.runDownload = [](QString &checkSum) {
        return gPrototype == 0 ? RunDownload(checkSum) : SimulateDownload(checkSum);
    };
    links.makeSerialPort = []() -> std::unique_ptr<SerialPortInterface> {
        return std::make_unique<QtSerialPort>();
    };
    links.secondsSinceMidnight = [] {
        return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    };
    return links;
}
