#pragma once
// A serial trace for diagnosing downloads in the field: one readable text line per exchange,
// with its time, direction, bytes in hexadecimal and the step under way (gFuncName), the port's
// opening (with its line settings, then what it found and did about the low-latency flag) and
// closing, and at the end the outcome with the error number. Long runs are summarised: a write of
// more than a few bytes shows its length and sum, and a run of bytes that are each sent and echoed
// back (the kernel transfer) becomes one line with its count and the sums of both directions.
//
// The trace is buffered in memory and written out at every port open and close, when the
// buffer grows large, and at the end, so that it costs the download next to nothing.

#include "link_observer.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class SerialTrace : public LinkObserver {
public:
    SerialTrace() = default;
    ~SerialTrace() override;
    SerialTrace(const SerialTrace &) = delete;
    SerialTrace &operator=(const SerialTrace &) = delete;

    // Creates (or empties) the file and writes the heading. 0, or the run-time failure code of
    // the open. A trace that could not be opened records nothing. `fresh`: the file must not
    // exist yet (nothing is written through a link or into a file someone put there).
    int open(const QString &path, bool fresh = false);
    bool isOpen() const { return m_file.isOpen(); }

    void onOpen(int port, const QString &settings, int result) override;
    void onClose() override;
    void onNote(const QString &text) override;
    void onSend(const QByteArray &bytes) override;
    void onReceive(const QByteArray &bytes) override;
    void onRunEnd(bool ok) override;

    // Writes the outcome line unless the run already wrote one (a simulated run does not end
    // through the link). `checksum` is the text the run returned.
    void noteOutcome(bool ok, const QString &checksum);
    // Writes everything pending and closes the file.
    void close();

    // Writes of more bytes than this show as their length and sum.
    static constexpr int kShownBytes = 16;
    // Echoed pairs up to this many are shown one by one; more become one summary line.
    static constexpr int kShownPairs = 4;

private:
    // One line of bytes in one direction: short writes in hexadecimal, long ones summarised.
    struct Segment {
        QByteArray bytes;  // shown in hexadecimal while at most kShownBytes
        qint64 count = 0;  // bytes in the segment
        uint32_t sum = 0;  // their sum
        bool open = false; // later single bytes may join it
    };
    struct Line {
        char direction = 0; // '>' host to target, '<' target to host, 0 none
        double time = 0;
        QString step;
        QList<Segment> segments;
    };
    struct HeldSend {
        uint8_t byte;
        double time;
        QString step;
    };
    struct ShownPair {
        uint8_t sent;
        uint8_t back;
        double sendTime;
        double backTime;
    };
    struct EchoRun {
        qint64 pairs = 0;
        double time = 0;
        QString step;
        uint32_t sentSum = 0;
        uint32_t echoSum = 0;
        qint64 mismatches = 0;
        qint64 firstMismatch = -1;
        uint8_t mismatchSent = 0;
        uint8_t mismatchEcho = 0;
        QList<ShownPair> shown; // the first pairs
        uint8_t lastSent = 0;
        uint8_t lastBack = 0;
        double lastSendTime = 0;
        double lastTime = 0;
    };

    double now() const;
    void append(char direction, const QByteArray &bytes, double time, const QString &step);
    void commitHeld();
    void dissolveLastPair();
    void flushEcho();
    void flushLine();
    void flushAll();
    void writeEvent(const QString &what);
    void writeRow(double time, const char *direction, const QString &step, const QString &text);
    void writeOut();

    QFile m_file;
    QByteArray m_buffer;
    double m_start = 0;
    bool m_failed = false;
    bool m_outcomeWritten = false;
    Line m_line;
    std::optional<HeldSend> m_held;
    EchoRun m_echo;
    bool m_pairIsLast = false; // the last event closed an echoed pair
};

// Opens a new trace at `path`, keeping the previous one as `path`.1 (an older .1 is replaced).
// The new file is created afresh, never through a symbolic link. 0, or the run-time failure
// code.
int StartTraceFile(SerialTrace &trace, const QString &path);

// Makes `observer` the link's observer for its lifetime, then puts the previous one back.
class ScopedLinkObserver {
public:
    explicit ScopedLinkObserver(LinkObserver *observer);
    ~ScopedLinkObserver();
    ScopedLinkObserver(const ScopedLinkObserver &) = delete;
    ScopedLinkObserver &operator=(const ScopedLinkObserver &) = delete;

private:
    LinkObserver *m_previous;
};

// The name of the trace file in the application folder.
inline constexpr char kTraceFileName[] = "qarn-trace.log";

// One run with a trace at `path` (the previous trace kept as `path`.1): the trace watches the
// link while `run` runs, then records the outcome. A trace that cannot be written does not keep
// the download from running.
bool RunTraced(const QString &path, const std::function<bool(QString &)> &run, QString &checksum);
