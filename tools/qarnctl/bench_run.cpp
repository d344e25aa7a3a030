#include "bench_run.h"

#include "adapter_info.h"
#include "bench_child.h"
#include "catalogue.h"
#include "number_text.h"
#include "run_output.h"
#include "run_report.h"
#include "signal_stop.h"
#include "system_serial_port.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kRefresh{150};
// After a second signal every run ends at once; one that has not ended by then is killed.
constexpr std::chrono::seconds kEndGrace{5};

// One device's run as its process told it.
struct DeviceRun {
    int run = 1;
    QString outcome; // ok, simulated, failed, stopped, matches, differs; refused: never started
    int errNo = 0;
    QString error;
    QString checksum, fcs;
    double seconds = 0;
    QString kernelSha256, imageSha256;
};

struct PortRun {
    QString number;  // "3"
    QString name;    // "COM3"
    QString adapter; // the USB adapter's serial number, "" when none is known
    QString trace;
    std::unique_ptr<QProcess> process;
    QByteArray out, err; // what came in after the last whole line
    QString lastError;   // the last line on standard error
    int phase = 0, done = 0, total = 0;
    QString phaseName;
    QElapsedTimer clock; // since the run under way started
    std::vector<DeviceRun> runs;
    bool midRun = true; // a run is under way whose outcome has not come
    bool ended = false;
};

// A trace path with the port in its name: /tmp/run.log for COM3 is /tmp/run-COM3.log.
QString tracePath(const QString &path, const QString &port) {
    const QFileInfo info(path);
    QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    name = dot > 0 ? name.left(dot) + u'-' + port + name.mid(dot) : name + u'-' + port;
    return info.absoluteDir().filePath(name);
}

QString orDash(const QString &text) {
    return text.isEmpty() ? QStringLiteral("-") : text;
}

// The columns a character takes on a terminal: two for the wide ones of East Asian scripts (the
// Japanese phase names), one for the rest.
int columnsOf(char32_t c) {
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// `line` cut to fewer than `columns` columns, so that it never wraps; as it is when `columns`
// is unknown (0).
QString fitted(const QString &line, int columns) {
    if (columns < 2)
        return line;
    QString kept;
    int used = 0;
    for (const char32_t c : line.toUcs4()) {
        if ((used += columnsOf(c)) > columns - 1)
            break;
        kept += QString::fromUcs4(&c, 1);
    }
    return kept;
}

bool succeeded(const QString &outcome) {
    return outcome == u"ok" || outcome == u"simulated" || outcome == u"matches";
}

// The target's checksum as the run history records it: when the run obtained one.
QString shownSum(const DeviceRun &d) {
    const bool obtained = d.outcome == u"ok" || d.outcome == u"matches" ||
                          d.outcome == u"differs" || (d.outcome == u"failed" && d.errNo == 370);
    return obtained ? d.checksum : QString();
}

class Bench {
public:
    explicit Bench(const BenchRun &bench)
        : m_bench(bench), m_command("qarnctl " + bench.command),
          m_phases(bench.command == u"verify" ? 3 : 5) {}

    int run(std::vector<PortRun> &ports);

private:
    void start(PortRun &port);
    void readOut(PortRun &port);
    void readErr(PortRun &port);
    void took(PortRun &port, QJsonObject line);
    void ended(PortRun &port, const QString &outcome, const QString &error);
    void record(PortRun &port, DeviceRun device);
    void say(const QByteArray &text, bool progress = false); // standard error
    void redraw();
    QString portLine(const PortRun &port) const;
    QString outcomeText(const DeviceRun &device) const;
    void printSummary() const;
    int status() const;

    const BenchRun &m_bench;
    const QString m_command;
    const int m_phases;
    std::vector<PortRun> *m_ports = nullptr;
    bool m_block = false;   // a terminal: one line per port redrawn in place
    int m_drawn = 0;        // lines of the block drawn so far
    QByteArray m_messages;  // lines waiting to go above the block
    QByteArray m_lastBlock; // the block as it was drawn last
    int m_endSignal = 0;
    bool m_stopPassed =
        false; // every port was handed a Stop   // the second signal that ended every run
    QEventLoop m_loop;
};

void Bench::say(const QByteArray &text, bool progress) {
    if (!m_block) {
        Say(stderr, text, progress);
        return;
    }
    m_messages += text;
    redraw();
}

QString Bench::outcomeText(const DeviceRun &d) const {
    if (d.outcome == u"ok")
        return "checksum=" + d.checksum;
    if (d.outcome == u"simulated")
        return m_bench.command == u"verify" ? "simulated: no device was read"
                                            : "simulated: no device was written";
    if (d.outcome == u"matches")
        return "checksum=" + d.checksum + " matches";
    if (d.outcome == u"differs")
        return "checksum=" + d.checksum + " differs from FCS " + d.fcs;
    if (d.outcome == u"stopped")
        return d.error;
    if (d.outcome == u"refused")
        return "refused: " + d.error;
    return QStringLiteral("E%1").arg(d.errNo);
}

QString Bench::portLine(const PortRun &port) const {
    qsizetype adapterWidth = 1;
    for (const PortRun &other : *m_ports)
        adapterWidth = std::max(adapterWidth, other.adapter.size());
    QString line =
        port.name.leftJustified(6) + u' ' + orDash(port.adapter).leftJustified(adapterWidth);
    // Between a run's outcome and the next run (or the process's end) the port shows the run
    // it has just done.
    if (m_bench.repeat > 1)
        line +=
            QStringLiteral("  run %1/%2")
                .arg(std::min<qsizetype>(port.runs.size() + (port.ended ? 0 : 1), m_bench.repeat))
                .arg(m_bench.repeat);
    if (port.phase > 0)
        line += QStringLiteral("  [%1/%2] %3").arg(port.phase).arg(m_phases).arg(port.phaseName);
    if (port.total > 0)
        line += QStringLiteral(" %1%").arg(
            std::clamp<qint64>(qint64(port.done) * 100 / port.total, 0, 100), 3);
    if (port.ended || qsizetype(port.runs.size()) >= m_bench.repeat)
        line += "  " + (port.runs.empty() ? QString() : port.runs.back().outcome);
    else if (!port.runs.empty())
        line += "  (last: " + port.runs.back().outcome + u')';
    return line;
}

void Bench::redraw() {
    if (!m_block)
        return;
    // A line never reaches the last column, so that none wraps and moving up stays exact.
    const int columns = StandardErrorColumns();
    QByteArray block;
    for (const PortRun &port : *m_ports)
        block += fitted(portLine(port), columns).toUtf8() + '\n';
    if (block == m_lastBlock && m_messages.isEmpty())
        return; // nothing changed
    QByteArray text;
    if (m_drawn > 0)
        text += "\x1b[" + QByteArray::number(m_drawn) + "A\r\x1b[J";
    text += m_messages + block;
    // While the terminal is held, a redraw of the block alone may be dropped: then nothing of it
    // moved the cursor. The lines above it never are.
    if (!Say(stderr, text, m_messages.isEmpty()))
        return;
    m_messages.clear();
    m_lastBlock = block;
    m_drawn = int(m_ports->size());
}

void Bench::start(PortRun &port) {
    port.process = std::make_unique<QProcess>();
    QProcess &process = *port.process;
    PrepareBenchChild(process);
    process.setStandardInputFile(QProcess::nullDevice());
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [this, &port] { readOut(port); });
    QObject::connect(&process, &QProcess::readyReadStandardError, [this, &port] { readErr(port); });
    QObject::connect(
        &process, &QProcess::finished, [this, &port](int code, QProcess::ExitStatus how) {
            readOut(port), readErr(port);
            // A last line without its line end is still the child's.
            for (QByteArray *rest : {&port.out, &port.err})
                if (!rest->isEmpty())
                    *rest += '\n';
            readOut(port), readErr(port);
            const bool normal = how == QProcess::NormalExit;
            const bool told =
                normal && !port.runs.empty() && (code == 0 || code == 1 || code == 3 || code == 4);
            // Ended at once by a second signal (by itself, or killed after the grace), or by a Stop
            // that came before it could take one: the run under way was stopped.
            if ((normal && code >= 128) || (!normal && m_stopPassed))
                ended(port, port.midRun ? QStringLiteral("stopped") : QString(), Msg(127));
            else if (normal && code == 2 && port.runs.empty())
                ended(port, "refused", port.lastError);
            else if (!told)
                ended(port, "failed",
                      how == QProcess::CrashExit
                          ? QStringLiteral("the run's process crashed")
                          : QString("the run's process ended with status %1").arg(code));
            else
                ended(port, {}, {});
        });
    QObject::connect(&process, &QProcess::errorOccurred, [this, &port](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            ended(port, "failed",
                  "the run's process did not start: " + port.process->errorString());
    });
    QStringList args{m_bench.command, "--port", port.number, "--json", "--bench-child"};
    if (!port.trace.isEmpty())
        args << "--trace" << port.trace;
    port.clock.start();
    process.start(QCoreApplication::applicationFilePath(), args + m_bench.options);
}

void Bench::readOut(PortRun &port) {
    port.out += port.process->readAllStandardOutput();
    for (qsizetype end; (end = port.out.indexOf('\n')) >= 0;) {
        const QByteArray line = port.out.left(end);
        port.out.remove(0, end + 1);
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty())
            took(port, object);
    }
}

void Bench::readErr(PortRun &port) {
    port.err += port.process->readAllStandardError();
    for (qsizetype end; (end = port.err.indexOf('\n')) >= 0;) {
        const QByteArray line = port.err.left(end);
        port.err.remove(0, end + 1);
        port.lastError = QString::fromUtf8(line);
        say(port.name.toUtf8() + ": " + line + '\n');
    }
}

void Bench::took(PortRun &port, QJsonObject line) {
    if (line.contains("phase")) {
        port.midRun = true;
        port.phase = line.value("phase").toInt();
        port.phaseName = line.value("name").toString();
        port.done = line.value("done").toInt();
        port.total = line.value("total").toInt();
        if (m_bench.json) {
            line.insert("port", port.name);
            printJsonLine(line, true);
        } else if (!m_block) {
            QString text =
                QStringLiteral("[%1/%2] %3").arg(port.phase).arg(m_phases).arg(port.phaseName);
            if (port.total > 0)
                text += QStringLiteral(" %1% (%2/%3)")
                            .arg(qint64(port.done) * 100 / port.total)
                            .arg(port.done)
                            .arg(port.total);
            say((port.name + ": " + text + u'\n').toUtf8(), true);
        }
        return;
    }
    if (!line.contains("outcome"))
        return;
    DeviceRun device;
    device.run = line.value("run").toInt(int(port.runs.size()) + 1);
    device.outcome = line.value("outcome").toString();
    device.errNo = line.value("errno").toInt();
    device.error = line.value("error").toString();
    device.checksum = line.value("checksum").toString();
    device.fcs = line.value("fcs").toString();
    device.seconds = line.contains("seconds") ? line.value("seconds").toDouble()
                                              : double(port.clock.elapsed()) / 1000.0;
    device.kernelSha256 = line.value("kernel_sha256").toString();
    device.imageSha256 = line.value("image_sha256").toString();
    record(port, device);
}

// A run's end: on standard output (a line, or the JSON line with the port), and in the port's
// line on a terminal.
void Bench::record(PortRun &port, DeviceRun device) {
    port.clock.start();
    port.midRun = false;
    port.phase = port.done = port.total = 0;
    if (m_bench.json) {
        QJsonObject line{{"port", port.name},
                         {"outcome", device.outcome},
                         {"errno", device.errNo},
                         {"error", device.error},
                         {"checksum", device.checksum},
                         {"seconds", device.seconds},
                         {"kernel_sha256", device.kernelSha256},
                         {"image_sha256", device.imageSha256}};
        if (m_bench.command == u"verify")
            line.insert("fcs", device.fcs);
        if (m_bench.repeat > 1)
            line.insert("run", device.run);
        printJsonLine(line);
    } else if (!m_block) {
        QString text = port.name + ": ";
        if (m_bench.repeat > 1)
            text += QStringLiteral("run %1/%2: ").arg(device.run).arg(m_bench.repeat);
        text += outcomeText(device) + u'\n';
        if (device.outcome == u"failed")
            for (const QString &errorLine : device.error.split(u'\n', Qt::SkipEmptyParts))
                text += port.name + ": " + errorLine + u'\n';
        printOut(text);
    }
    port.runs.push_back(device);
    redraw();
}

// The port's process has ended; `outcome` is the run it did not report (its process ended at
// once, was refused or never started), or "".
void Bench::ended(PortRun &port, const QString &outcome, const QString &error) {
    if (port.ended)
        return;
    if (!outcome.isEmpty()) {
        DeviceRun device;
        device.run = int(port.runs.size()) + 1;
        device.outcome = outcome;
        device.error = error;
        device.seconds = double(port.clock.elapsed()) / 1000.0;
        record(port, device);
    }
    port.ended = true;
    redraw();
    if (std::all_of(m_ports->begin(), m_ports->end(), [](const PortRun &p) { return p.ended; }))
        m_loop.quit();
}

void Bench::printSummary() const {
    if (m_bench.json) {
        for (const PortRun &port : *m_ports)
            for (const DeviceRun &d : port.runs) {
                printJsonLine({{"summary", true},
                               {"port", port.name},
                               {"run", d.run},
                               {"adapter", port.adapter},
                               {"outcome", d.outcome},
                               {"errno", d.errNo},
                               {"checksum", shownSum(d)},
                               {"seconds", d.seconds},
                               {"kernel_sha256", d.kernelSha256},
                               {"image_sha256", d.imageSha256}});
            }
        return;
    }
    QList<QStringList> rows{{"port", "run", "adapter", "outcome", "error", "checksum", "seconds",
                             "kernel SHA-256", "image SHA-256"}};
    QStringList outcomes; // in the order they first came, each with its count
    QList<int> counts;
    for (const PortRun &port : *m_ports)
        for (const DeviceRun &d : port.runs) {
            if (!outcomes.contains(d.outcome))
                outcomes << d.outcome, counts << 0;
            ++counts[outcomes.indexOf(d.outcome)];
            rows << QStringList{port.name,
                                QString::number(d.run),
                                orDash(port.adapter),
                                d.outcome,
                                QString::number(d.errNo),
                                orDash(shownSum(d)),
                                QString::number(d.seconds, 'f', 1),
                                orDash(d.kernelSha256),
                                orDash(d.imageSha256)};
        }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    QStringList tally;
    for (qsizetype i = 0; i < outcomes.size(); ++i)
        tally << QStringLiteral("%1 %2").arg(counts[i]).arg(outcomes[i]);
    QString text = QStringLiteral("summary: %1 devices: %2\n")
                       .arg(rows.size() - 1)
                       .arg(tally.join(QStringLiteral(", ")));
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += (i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i]);
        text += line + u'\n';
    }
    printOut(text);
}

int Bench::status() const {
    if (m_endSignal != 0)
        return 128 + m_endSignal;
    bool stopped = false, failed = false, differs = false;
    for (const PortRun &port : *m_ports)
        for (const DeviceRun &d : port.runs) {
            stopped |= d.outcome == u"stopped";
            differs |= d.outcome == u"differs";
            failed |= !succeeded(d.outcome) && d.outcome != u"differs";
        }
    // Every port refused the run as a usage error (PROTOTYPE without --simulate): so is this.
    const bool refused = std::all_of(m_ports->begin(), m_ports->end(), [](const PortRun &p) {
        return !p.runs.empty() && p.runs.back().outcome == u"refused";
    });
    return refused ? 2 : stopped ? 3 : failed ? 1 : differs ? 4 : 0;
}

int Bench::run(std::vector<PortRun> &ports) {
    m_ports = &ports;
    m_block = !m_bench.json && StandardErrorIsTerminal() && EnableCursorMovement();
    SignalStop stop;
    bool hangUpPassed = false;
    QTimer grace;
    grace.setSingleShot(true);
    QObject::connect(&grace, &QTimer::timeout, [&] {
        for (PortRun &port : ports)
            if (!port.ended)
                port.process->kill();
    });
    // The first signal is Stop for every port, a second ends every run at once.
    stop.onSignal([&](int signal, int count) {
        m_stopPassed = true;
        if (count == 1) {
            say((m_command + ": stopping every port at its next wait; Ctrl-C again ends every "
                             "run at once\n")
                    .toUtf8());
        } else if (m_endSignal == 0) {
            m_endSignal = signal;
            say((m_command + ": ending every run at once\n").toUtf8());
            grace.start(kEndGrace);
        }
        for (PortRun &port : ports)
            StopBenchChild(*port.process, signal);
    });
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        // A hang-up stops nothing: each port ends its run, and starts no further one.
        if (stop.hungUp() && !hangUpPassed) {
            hangUpPassed = true;
            for (PortRun &port : ports)
                HangUpBenchChild(*port.process);
        }
        redraw();
    });
    refresh.start(kRefresh);
    for (PortRun &port : ports)
        start(port);
    redraw();
    if (!std::all_of(ports.begin(), ports.end(), [](const PortRun &p) { return p.ended; }))
        m_loop.exec();
    refresh.stop();
    redraw();
    printSummary();
    return status();
}

} // namespace

int RunBenchPorts(const BenchRun &bench) {
    const QString command = "qarnctl " + bench.command;
    const auto refuse = [&](const QString &why) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(command), qPrintable(why));
        return 2;
    };
    std::vector<PortRun> ports;
    for (const QString &given : bench.ports) {
        const std::optional<int16_t> number = ToInt16(given);
        if (!number || *number < 1)
            return refuse(QString("--port needs a port number of 1 to 32767, not '%1'").arg(given));
        PortRun port;
        port.number = QString::number(*number);
        port.name = "COM" + port.number;
        // Two runs on one line would garble both: refused before any port is opened.
        const QString device = SystemSerialPort::portLocation(*number);
        for (const PortRun &other : ports) {
            if (other.number == port.number)
                return refuse(QString("port %1 is named twice: two runs on one line would "
                                      "garble both")
                                  .arg(port.number));
            if (!device.isEmpty() && SystemSerialPort::portLocation(other.number.toInt()) == device)
                return refuse(QString("ports %1 and %2 both lead to %3: two runs on one line "
                                      "would garble both")
                                  .arg(other.number, port.number, device));
        }
        if (!device.isEmpty()) {
            const AdapterInfo adapter = ReadAdapterInfo(bench.sysfs, QFileInfo(device).fileName());
            port.adapter = adapter.usb ? adapter.serial : QString();
        }
        ports.push_back(std::move(port));
    }
    // A trace that cannot be written is refused before the target is touched, as for one port.
    for (PortRun &port : ports) {
        if (bench.trace.isEmpty())
            break;
        port.trace = tracePath(bench.trace, port.name);
        if (QFile file(port.trace); !file.open(QIODevice::WriteOnly | QIODevice::Append))
            return refuse(
                QString("cannot write the trace %1 (%2)").arg(port.trace, file.errorString()));
    }
    return Bench(bench).run(ports);
}
