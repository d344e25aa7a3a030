#include "trace.h"

#include "error_notes.h"
#include "link_clock.h"
#include "number_text.h"
#include "run_errors.h"
#include "shared_state.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <filesystem>

namespace {

// Past this many buffered bytes the trace is written out even in the middle of a transfer.
constexpr qsizetype kWriteOutAt = 64 * 1024;

QString hex2(uint32_t value) {
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QChar(u'0')).toUpper();
}

QString hexBytes(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// The run-time failure code of a file that cannot be created or replaced.
int WriteFailureCode(const QFile &file) {
    const QFileInfo info(file.fileName());
    if (file.fileName().isEmpty())
        return RunError::BadFileName;
    if (!info.absoluteDir().exists())
        return RunError::PathNotFound;
    if (file.error() == QFileDevice::PermissionsError)
        return RunError::PermissionDenied;
    return RunError::PathFileAccess;
}

uint32_t byteSum(const QByteArray &bytes) {
    uint32_t sum = 0;
    for (const char byte : bytes)
        sum += static_cast<uint8_t>(byte);
    return sum;
}

} // namespace

SerialTrace::~SerialTrace() {
    close();
}

double SerialTrace::now() const {
    return CurrentLinkClock().now();
}

int SerialTrace::open(const QString &path, bool fresh) {
    close();
    m_failed = false;
    m_outcomeWritten = false;
    m_line = Line();
    m_held.reset();
    m_echo = EchoRun();
    m_buffer.clear();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | (fresh ? QIODevice::NewOnly : QIODevice::Truncate)))
        return WriteFailureCode(m_file);
    m_start = now();
    m_buffer += "QARN serial trace, started " +
                QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + "\n";
    m_buffer += "times in seconds from the start; -> host to target, <- target to host, <> each "
                "byte sent and echoed back\n";
    m_buffer += "       time  dir    step                bytes\n";
    writeOut();
    return 0;
}

void SerialTrace::onOpen(int port, const QString &settings, int result) {
    flushAll();
    // An open after an outcome starts the next run (qarnctl flash --repeat): it gets its own.
    m_outcomeWritten = false;
    writeEvent(QStringLiteral("open COM%1 %2 %3")
                   .arg(port)
                   .arg(settings)
                   .arg(result == 0 ? QStringLiteral("ok")
                                    : QStringLiteral("failed, code %1").arg(result)));
    writeOut();
}

void SerialTrace::onClose() {
    flushAll();
    writeEvent(QStringLiteral("close"));
    writeOut();
}

void SerialTrace::onNote(const QString &text) {
    flushAll();
    writeEvent(text);
    writeOut();
}

void SerialTrace::onSend(const QByteArray &bytes) {
    if (!isOpen() || bytes.isEmpty())
        return;
    m_pairIsLast = false;
    commitHeld();
    if (bytes.size() == 1) {
        // Held back: if the next event is a one-byte answer, the two form an echoed pair.
        m_held = HeldSend{static_cast<uint8_t>(bytes[0]), now(), gFuncName};
        return;
    }
    flushEcho();
    append('>', bytes, now(), gFuncName);
}

void SerialTrace::onReceive(const QByteArray &bytes) {
    if (!isOpen() || bytes.isEmpty())
        return;
    const double time = now();
    if (m_held && bytes.size() == 1 && m_held->step == gFuncName) {
        if (m_echo.pairs > 0 && m_echo.step != gFuncName)
            flushEcho();
        flushLine();
        const uint8_t back = static_cast<uint8_t>(bytes[0]);
        if (m_echo.pairs == 0) {
            m_echo.time = m_held->time;
            m_echo.step = m_held->step;
        }
        if (m_echo.shown.size() < kShownPairs)
            m_echo.shown.append({m_held->byte, back, m_held->time, time});
        m_echo.sentSum += m_held->byte;
        m_echo.echoSum += back;
        if (back != m_held->byte) {
            if (m_echo.firstMismatch < 0) {
                m_echo.firstMismatch = m_echo.pairs;
                m_echo.mismatchSent = m_held->byte;
                m_echo.mismatchEcho = back;
            }
            ++m_echo.mismatches;
        }
        ++m_echo.pairs;
        m_echo.lastSent = m_held->byte;
        m_echo.lastBack = back;
        m_echo.lastSendTime = m_held->time;
        m_echo.lastTime = time;
        m_held.reset();
        m_pairIsLast = true;
        return;
    }
    // A command byte and the first byte of its longer reply are no echoed pair. (A reply in
    // another step, such as the erase byte after the kernel, leaves the echoes as they are.)
    if (m_pairIsLast && m_echo.step == gFuncName)
        dissolveLastPair();
    m_pairIsLast = false;
    commitHeld();
    flushEcho();
    append('<', bytes, time, gFuncName);
}

void SerialTrace::dissolveLastPair() {
    m_pairIsLast = false;
    EchoRun &run = m_echo;
    const uint8_t sent = run.lastSent;
    const uint8_t back = run.lastBack;
    const double sendTime = run.lastSendTime;
    const double backTime = run.lastTime;
    const QString step = run.step;
    --run.pairs;
    run.sentSum -= sent;
    run.echoSum -= back;
    if (sent != back) {
        --run.mismatches;
        if (run.firstMismatch == run.pairs)
            run.firstMismatch = -1;
    }
    if (run.shown.size() > run.pairs)
        run.shown.removeLast();
    flushEcho();
    append('>', QByteArray(1, static_cast<char>(sent)), sendTime, step);
    append('<', QByteArray(1, static_cast<char>(back)), backTime, step);
}

void SerialTrace::onRunEnd(bool ok) {
    const QString checksum = Hex4(static_cast<uint32_t>(gObtainedCheckSum));
    noteOutcome(ok, checksum);
}

void SerialTrace::noteOutcome(bool ok, const QString &checksum) {
    if (!isOpen() || m_outcomeWritten)
        return;
    flushAll();
    m_outcomeWritten = true;
    QString text;
    if (ok) {
        text = QStringLiteral("outcome ok, checksum %1").arg(checksum);
    } else {
        text = QStringLiteral("outcome %1, error number %2, run-time code %3, step \"%4\", "
                              "phase %5")
                   .arg(gStopRequested ? QStringLiteral("stopped") : QStringLiteral("failed"))
                   .arg(gErrNo)
                   .arg(gRunErrNo)
                   .arg(gFuncName)
                   .arg(gDownloadState);
    }
    writeEvent(text);
    if (!ok) {
        for (const QString &note : ErrorNotes())
            writeEvent(note);
    }
    writeOut();
}

void SerialTrace::close() {
    if (!m_file.isOpen())
        return;
    flushAll();
    writeOut();
    m_file.close();
}

void SerialTrace::append(char direction, const QByteArray &bytes, double time,
                         const QString &step) {
    if (m_line.direction != direction || m_line.step != step)
        flushLine();
    if (m_line.direction == 0) {
        m_line.direction = direction;
        m_line.time = time;
        m_line.step = step;
    }
    // Single bytes in a row (the 00 pattern of the bit-rate adjustment, a reply arriving byte
    // by byte) join; every longer write stands on its own.
    const bool single = bytes.size() == 1;
    if (single && !m_line.segments.isEmpty() && m_line.segments.last().open) {
        Segment &last = m_line.segments.last();
        last.count += bytes.size();
        last.sum += byteSum(bytes);
        if (last.count <= kShownBytes)
            last.bytes += bytes;
        else
            last.bytes.clear();
        return;
    }
    Segment segment;
    segment.count = bytes.size();
    segment.sum = byteSum(bytes);
    segment.open = single;
    if (bytes.size() <= kShownBytes)
        segment.bytes = bytes;
    m_line.segments.append(segment);
}

void SerialTrace::commitHeld() {
    if (!m_held)
        return;
    const HeldSend held = *m_held;
    m_held.reset();
    flushEcho();
    append('>', QByteArray(1, static_cast<char>(held.byte)), held.time, held.step);
}

void SerialTrace::flushEcho() {
    if (m_echo.pairs == 0)
        return;
    flushLine();
    const EchoRun run = m_echo;
    m_echo = EchoRun();
    if (run.pairs <= kShownPairs) {
        for (const ShownPair &pair : run.shown) {
            writeRow(pair.sendTime, "->", run.step, hex2(pair.sent));
            writeRow(pair.backTime, "<-", run.step, hex2(pair.back));
        }
        return;
    }
    QString text = QStringLiteral("%1 bytes, sum %2, echo sum %3, %4 s")
                       .arg(run.pairs)
                       .arg(Hex4(run.sentSum))
                       .arg(Hex4(run.echoSum))
                       .arg(run.lastTime - run.time, 0, 'f', 3);
    if (run.mismatches > 0)
        text += QStringLiteral("; %1 echoes differ, the first at byte %2: sent %3, echoed %4")
                    .arg(run.mismatches)
                    .arg(run.firstMismatch)
                    .arg(hex2(run.mismatchSent), hex2(run.mismatchEcho));
    writeRow(run.time, "<>", run.step, text);
}

void SerialTrace::flushLine() {
    if (m_line.direction == 0)
        return;
    QStringList parts;
    for (const Segment &segment : std::as_const(m_line.segments)) {
        if (segment.count <= kShownBytes)
            parts << hexBytes(segment.bytes);
        else
            parts << QStringLiteral("[%1 bytes, sum %2]").arg(segment.count).arg(Hex4(segment.sum));
    }
    writeRow(m_line.time, m_line.direction == '>' ? "->" : "<-", m_line.step, parts.join(u' '));
    m_line = Line();
}

void SerialTrace::flushAll() {
    m_pairIsLast = false;
    commitHeld();
    flushEcho();
    flushLine();
}

void SerialTrace::writeEvent(const QString &what) {
    writeRow(now(), "--", gFuncName, what);
}

void SerialTrace::writeRow(double time, const char *direction, const QString &step,
                           const QString &text) {
    if (!isOpen() || m_failed)
        return;
    const QString row = QStringLiteral("%1  %2  %3  %4\n")
                            .arg(time - m_start, 11, 'f', 6)
                            .arg(QLatin1String(direction))
                            .arg(step.isEmpty() ? QStringLiteral("-") : step, -18)
                            .arg(text);
    m_buffer += row.toUtf8();
    if (m_buffer.size() >= kWriteOutAt)
        writeOut();
}

void SerialTrace::writeOut() {
    if (!isOpen() || m_buffer.isEmpty())
        return;
    if (!m_failed && (m_file.write(m_buffer) != m_buffer.size() || !m_file.flush()))
        m_failed = true; // a full disk ends the trace, never the download
    m_buffer.clear();
}

int StartTraceFile(SerialTrace &trace, const QString &path) {
    // A link is moved aside like a file, even one that leads nowhere; it is never followed.
    namespace fs = std::filesystem;
    const fs::path current(QFile::encodeName(path).toStdString());
    const fs::path previous(QFile::encodeName(path + QStringLiteral(".1")).toStdString());
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(current, error)) || fs::exists(current, error)) {
        fs::remove(previous, error);
        if (!error)
            fs::rename(current, previous, error);
        if (error)
            return RunError::PermissionDenied;
    }
    return trace.open(path, true);
}

ScopedLinkObserver::ScopedLinkObserver(LinkObserver *observer) : m_previous(gLinkObserver) {
    gLinkObserver = observer;
}

ScopedLinkObserver::~ScopedLinkObserver() {
    gLinkObserver = m_previous;
}

bool RunTraced(const QString &path, const std::function<bool(QString &)> &run, QString &checksum) {
    SerialTrace trace;
    if (StartTraceFile(trace, path) != 0)
        return run(checksum);
    bool ok = false;
    {
        ScopedLinkObserver watching(&trace);
        ok = run(checksum);
    }
    trace.noteOutcome(ok, checksum);
    trace.close();
    return ok;
}
