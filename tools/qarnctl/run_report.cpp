#include "run_report.h"

#include "adapter.h"
#include "catalogue.h"
#include "error_notes.h"
#include "history.h"
#include "link.h"
#include "number_text.h"
#include "port_lookup.h"
#include "system_serial_port.h"
#include "run_output.h"
#include "shared_state.h"
#include "trace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kBarWidth = 30;

// Names an adapter whose latency timer slows the echoed kernel transfer at `bootBitRate`.
void warnAboutLatency(const QString &command, const QString &sysfs, const QString &bootBitRate) {
    const std::optional<int16_t> port = ToInt16(gPort);
    const QString device = port ? SystemSerialPort::portLocation(*port) : QString();
    if (device.isEmpty())
        return;
    const AdapterInfo adapter = ReadAdapterInfo(sysfs, QFileInfo(device).fileName());
    if (adapter.latencyMs <= kMaxGoodLatencyMs)
        return;
    const int bitRate = bootBitRate.toInt() > 0 ? bootBitRate.toInt() : 9600;
    const qint64 kernel = QFileInfo(gIrdFile).size();
    Say(stderr, QString::asprintf(
                    "%s: warning: the latency timer of the adapter on %s is %d ms and its "
                    "driver did not take the low-latency flag: the kernel transfer takes about "
                    "%.1f s instead of %.1f s. Set it to 1 ms (see 'qarnctl doctor').\n",
                    qPrintable(command), qPrintable(device), adapter.latencyMs,
                    KernelTransferSeconds(kernel, bitRate, adapter.latencyMs),
                    KernelTransferSeconds(kernel, bitRate, 1))
                    .toUtf8());
}

} // namespace

void printOut(const QString &text) {
    Say(stdout, text.toUtf8());
}

void printJsonLine(const QJsonObject &object, bool progress) {
    Say(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', progress);
}

QString windowText(QString text) {
    return text.replace("\r\n", "\n");
}

void noteHistoryProblem(const QString &command, const QString &problem) {
    static bool said = false;
    if (problem.isEmpty() || said)
        return;
    said = true;
    Say(stderr, (command + ": the run history was not written: " + problem + u'\n').toUtf8());
}

void sayErrorNotes(const QString &command) {
    QStringList notes = ErrorNotes();
    if (const std::optional<int16_t> port = ToInt16(gPort);
        (gErrNo == 301 || gErrNo == 331) && port && *port > 0) {
        if (const PortLookup lookup = LookUpPort(*port); !lookup.problem.isEmpty())
            notes << lookup.problem + QStringLiteral(" => ") + lookup.remedy;
        else if (!lookup.held.isEmpty())
            notes << lookup.held + QStringLiteral(" => ") + lookup.remedy;
    }
    for (const QString &note : std::as_const(notes))
        Say(stderr, (command + QStringLiteral(": ") + note + u'\n').toUtf8());
}

QString phaseName(int state, int seqType) {
    const bool eraseFirst = seqType == 0 || seqType == 1;
    switch (state) {
    case 1:
        return Msg(139);
    case 2:
        return Msg(eraseFirst ? 141 : 140);
    case 3:
        return Msg(eraseFirst ? 140 : 141);
    case 4:
        return Msg(142);
    case 5:
        return Msg(143);
    default:
        return {};
    }
}

ProgressReport::ProgressReport(bool terminal, bool json, int phases, PhaseNamer name)
    : m_terminal(terminal && !json), m_json(json), m_phases(phases), m_name(std::move(name)) {
    if (!m_name)
        m_name = [](int phase) { return phaseName(phase, gSeqType); };
}

void ProgressReport::poll() {
    const int state = gDownloadState;
    if (state != m_state && state >= 1 && state <= m_phases) {
        // The sequence moves on only after a success: a transfer still shown has finished.
        if (m_total > 0)
            show(m_total);
        endBar();
        // Phases run in order in every variant; one that passed between two polls is still
        // named, so the log shows every phase of the run.
        const int first = state > m_state ? m_state + 1 : state;
        for (int passed = std::max(first, 1); passed <= state; ++passed) {
            if (m_json)
                printJsonLine(progressObject(passed, 0, 0), true);
            else
                line(QString("[%1/%2] %3").arg(passed).arg(m_phases).arg(m_name(passed)));
        }
        m_state = state;
        m_tenth = -1;
        m_total = 0;
    }
    if (m_state < 1 || m_state > m_phases)
        return;
    const int total = gByteTotal;
    if (total > 0) {
        if (total != m_total) {
            m_total = total;
            m_tenth = -1;
        }
        show(gByteCount);
    } else if (m_total > 0) {
        // The transfer succeeded: its total has gone back to 0.
        show(m_total);
        m_total = 0;
        endBar();
    }
}

void ProgressReport::show(int count) {
    const int percent = static_cast<int>(std::clamp<qint64>(qint64(count) * 100 / m_total, 0, 100));
    const QString name = m_name(m_state);
    if (m_terminal) {
        const int filled = percent * kBarWidth / 100;
        const QString bar = QString(filled, '#') + QString(kBarWidth - filled, '-');
        Say(stderr,
            QString::asprintf("\r[%d/%d] %s [%s] %3d%%", m_state, m_phases,
                              name.toUtf8().constData(), bar.toLatin1().constData(), percent)
                .toUtf8(),
            true);
        m_barOpen = true;
        return;
    }
    const int tenth = percent / 10;
    if (tenth <= m_tenth)
        return;
    m_tenth = tenth;
    if (m_json) {
        printJsonLine(progressObject(m_state, std::min(count, m_total), m_total), true);
        return;
    }
    line(QString("[%1/%2] %3 %4% (%5/%6)")
             .arg(m_state)
             .arg(m_phases)
             .arg(name)
             .arg(percent)
             .arg(std::min(count, m_total))
             .arg(m_total));
}

void ProgressReport::line(const QString &text) {
    endBar();
    Say(stderr, (text + u'\n').toUtf8(), true);
}

void ProgressReport::endBar() {
    if (!m_barOpen)
        return;
    Say(stderr, "\n", true);
    m_barOpen = false;
}

QJsonObject ProgressReport::progressObject(int phase, int done, int total) const {
    return {{"phase", phase}, {"name", m_name(phase)}, {"done", done}, {"total", total}};
}

LatencyWarning::LatencyWarning(const QString &command, const QString &sysfs,
                               const SystemSerialPort &serial)
    : m_command(command), m_sysfs(sysfs), m_bitRate(gBitRate), m_serial(serial) {}

void LatencyWarning::poll() {
    if (m_done || !m_serial.lowLatency())
        return;
    m_done = true;
    if (!*m_serial.lowLatency())
        warnAboutLatency(m_command, m_sysfs, m_bitRate);
}

void AnswerSignal(const QString &command, int signal, int count, ProgressReport &progress,
                  SerialTrace &trace, std::optional<RunHistory> &history) {
    progress.finish();
    if (count == 1) {
        Say(stderr,
            (command + ": stopping at the next wait; Ctrl-C again ends it at once\n").toUtf8());
        return;
    }
    if (gComm && gComm->isOpen())
        gComm->discardOutput();
    ClosePort();
    trace.noteOutcome(false, QStringLiteral("0000")); // written out at once
    if (history)
        noteHistoryProblem(command, history->finish("stopped"));
    Say(stderr, (command + ": ended at once, the port closed\n").toUtf8());
    FinishSaying(std::chrono::milliseconds(200)); // a reader that stands does not hold it up
    RestoreStandardStreams();
    std::_Exit(128 + signal);
}

int OpenRunTrace(const QString &command, const QString &path, SerialTrace &trace) {
    if (path.isEmpty())
        return 0;
    if (const int code = trace.open(path); code != 0) {
        std::fprintf(stderr, "%s: cannot write the trace %s (code %d)\n", qPrintable(command),
                     qPrintable(path), code);
        return 2;
    }
    return 0;
}

void TakeAppDir(const QString &given) {
    gAppDir = QDir(given.isEmpty() ? QCoreApplication::applicationDirPath() : given).absolutePath();
}
