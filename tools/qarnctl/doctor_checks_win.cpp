// The doctor's checks of a port on Windows: port n is COMn, which opens or says why not (another
// program holding it is the busy check), and an FTDI adapter's latency timer as its driver takes
// it from the device's settings in the registry. Windows has no device file, account groups or
// lock files to look at.

#include "doctor_checks.h"

#include "adapter.h"
#include "port_lookup.h"
#include "run_errors.h"
#include "shared_state.h"
#include "win_files.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace doctor {

namespace {

// Where the FTDI driver keeps its devices: <device id>\<instance>\Device Parameters, with the
// COM port's name in PortName and the latency timer in LatencyTimer.
const wchar_t kFtdiDevices[] = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
// The FTDI driver's latency timer where the device's settings give none.
constexpr int kDriverDefaultLatencyMs = 16;

// A registry key open for reading only: the doctor never changes a device's settings (lowering
// the timer takes an administrator, and is done in Device Manager).
class Key {
public:
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key() {
        if (m_key)
            ::RegCloseKey(m_key);
    }

    LONG open(HKEY parent, const std::wstring &path) {
        return ::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &m_key);
    }
    HKEY handle() const { return m_key; }

    std::vector<std::wstring> subkeys() const {
        std::vector<std::wstring> names;
        for (DWORD index = 0;; ++index) {
            wchar_t name[256]; // the longest key name and its end
            DWORD length = DWORD(std::size(name));
            const LONG result =
                ::RegEnumKeyExW(m_key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_MORE_DATA)
                continue;
            if (result != ERROR_SUCCESS)
                return names; // ERROR_NO_MORE_ITEMS, or the key went away
            names.emplace_back(name, length);
        }
    }

    std::optional<QString> text(const wchar_t *name) const {
        wchar_t value[64] = {}; // a port's name; longer values are no COMn
        DWORD type = 0;
        DWORD size = sizeof value - sizeof(wchar_t); // room for an end the value may lack
        if (::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE *>(value),
                               &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return std::nullopt;
        return QString::fromWCharArray(value); // up to the first end
    }

    std::optional<DWORD> number(const wchar_t *name) const {
        DWORD value = 0;
        DWORD type = 0;
        DWORD size = sizeof value;
        if (::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value),
                               &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value)
            return std::nullopt;
        return value;
    }

private:
    HKEY m_key = nullptr;
};

// An FTDI adapter that the registry gives the port's name.
struct FtdiAdapter {
    QString instance;   // FTDIBUS\<device id>\<instance>
    int latencyMs = -1; // -1: the device's settings give none
};

// The FTDI adapters whose settings name `portName`. 0, or the Win32 error with which the
// registry refused; no FTDI driver at all is 0 and none.
LONG FindFtdiAdapters(const QString &portName, QList<FtdiAdapter> &found) {
    Key devices;
    const LONG error = devices.open(HKEY_LOCAL_MACHINE, kFtdiDevices);
    if (error == ERROR_FILE_NOT_FOUND)
        return 0;
    if (error != ERROR_SUCCESS)
        return error;
    for (const std::wstring &id : devices.subkeys()) {
        Key device;
        if (device.open(devices.handle(), id) != ERROR_SUCCESS)
            continue;
        for (const std::wstring &instance : device.subkeys()) {
            Key parameters;
            if (parameters.open(device.handle(), instance + L"\\Device Parameters") !=
                ERROR_SUCCESS)
                continue;
            const std::optional<QString> name = parameters.text(L"PortName");
            if (!name || name->compare(portName, Qt::CaseInsensitive) != 0)
                continue;
            FtdiAdapter adapter;
            adapter.instance =
                QStringLiteral("FTDIBUS\\%1\\%2")
                    .arg(QString::fromStdWString(id), QString::fromStdWString(instance));
            // The driver takes 1 to 255 ms; anything else is reported as it is, within reason.
            if (const std::optional<DWORD> ms = parameters.number(L"LatencyTimer"))
                adapter.latencyMs = int(std::min<DWORD>(*ms, 65535));
            found.append(adapter);
        }
    }
    return 0;
}

void checkAdapter(const PortSetup &setup, const QString &portName, QList<Check> &checks) {
    const QString name = QStringLiteral("adapter");
    QList<FtdiAdapter> adapters;
    if (const LONG error = FindFtdiAdapters(portName, adapters); error != 0) {
        checks.append(Check{name, Status::Warn,
                            QStringLiteral("the FTDI adapters' settings could not be read "
                                           "(HKLM\\%1: Win32 error %2, %3)")
                                .arg(QString::fromWCharArray(kFtdiDevices))
                                .arg(error)
                                .arg(Win32ErrorText(error)),
                            QStringLiteral("Device Manager shows the timer: Ports (COM & LPT) > "
                                           "%1 > Properties > Port Settings > Advanced > Latency "
                                           "Timer (msec); above 2 ms, set it to 1, then unplug "
                                           "the adapter and plug it in again")
                                .arg(portName)});
        return;
    }
    if (adapters.isEmpty()) {
        checks.append(Check{name,
                            Status::Ok,
                            QStringLiteral("the registry knows no FTDI adapter on %1 (not an "
                                           "FTDI USB serial adapter)")
                                .arg(portName),
                            {}});
        return;
    }
    // Settings left behind by an adapter plugged in before may name the port too: the slowest
    // timer is the one to mend.
    const auto timer = [](const FtdiAdapter &adapter) {
        return adapter.latencyMs >= 0 ? adapter.latencyMs : kDriverDefaultLatencyMs;
    };
    FtdiAdapter adapter = adapters.first();
    for (const FtdiAdapter &other : adapters)
        if (timer(other) > timer(adapter))
            adapter = other;
    const int latencyMs = timer(adapter);
    QString found =
        QStringLiteral("FTDI adapter %1, ").arg(adapter.instance) +
        (adapter.latencyMs >= 0 ? QStringLiteral("latency timer %1 ms").arg(latencyMs)
                                : QStringLiteral("latency timer %1 ms (its settings give none: the "
                                                 "driver's default)")
                                      .arg(latencyMs));
    if (latencyMs <= kMaxGoodLatencyMs) {
        checks.append(Check{name, Status::Ok, found, {}});
        return;
    }
    const int bitRate = gBitRate.toInt() > 0 ? gBitRate.toInt() : 9600;
    const double slow = KernelTransferSeconds(setup.kernelBytes, bitRate, latencyMs);
    const LowLatencyTrial trial = TryLowLatency(setup.number, QString(), *setup.lowLatency);
    found += QStringLiteral(", which QARN cannot switch to 1 ms while it downloads (%1): the "
                            "echoed transfer of %2 takes about %3 s at %4 bit/s instead of %5 s")
                 .arg(trial.note)
                 .arg(setup.kernelName)
                 .arg(slow, 0, 'f', 1)
                 .arg(bitRate)
                 .arg(KernelTransferSeconds(setup.kernelBytes, bitRate, 1), 0, 'f', 1);
    if (slow > gTransferTimeout)
        found += QStringLiteral(", longer than its time-out (TTO, %1 s): error 310")
                     .arg(double(gTransferTimeout));
    checks.append(Check{name, Status::Warn, found, WindowsLatencyAdvice(portName, latencyMs)});
}

} // namespace

PortState CheckPort(const PortSetup &setup, QList<Check> &checks) {
    const PortLookup lookup = LookUpPort(setup.number);
    if (!lookup.problem.isEmpty()) {
        checks.append(Check{QStringLiteral("port"), Status::Fail, lookup.problem, lookup.remedy});
        return PortState::Missing;
    }
    const QString portName = QStringLiteral("COM%1").arg(setup.number);
    checks.append(Check{QStringLiteral("port"),
                        Status::Ok,
                        QStringLiteral("port %1 is %2").arg(setup.number).arg(lookup.where),
                        {}});
    const bool free = lookup.held.isEmpty();
    checks.append(free ? Check{QStringLiteral("busy"),
                               Status::Ok,
                               QStringLiteral("no other program holds %1").arg(portName),
                               {}}
                       : Check{QStringLiteral("busy"), Status::Fail, lookup.held, lookup.remedy});
    checkAdapter(setup, portName, checks);
    return free ? PortState::Usable : PortState::Unusable;
}

QString LineAdvice(int failure) {
    const char *advice =
        failure == RunError::PermissionDenied || failure == RunError::PortAlreadyOpen
            ? "another program holds the port: close it"
        : failure == RunError::InvalidArgument
            ? "these line settings are not usable: BRATE, DLEN, PARITY and STOP in QARN.ini "
              "or the description"
            : "plug the adapter in again; Device Manager (Ports (COM & LPT)) shows whether "
              "Windows sees it";
    return QString::fromLatin1(advice);
}

QList<QCommandLineOption> PortOptions() {
    return {};
}

void TakePortOptions(const QCommandLineParser &, PortSetup &) {}

const char *HelpNote() {
    return "\n\n"
           "On Windows, port n is COMn: the port check opens \\\\.\\COMn and closes it again\n"
           "(another program holding it fails the busy check), and the adapter check reads an\n"
           "FTDI adapter's latency timer from the device's settings in the registry, never\n"
           "changing them: Windows has no low-latency flag.";
}

} // namespace doctor
