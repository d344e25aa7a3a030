#pragma once
// What qarnctl flash and verify show while a run goes on: the phases and a progress bar per
// transfer on standard error (or JSON lines on standard output), the warning about a slow
// adapter, and the lines of the outcome.

#include "system_serial_port.h"

#include <QCommandLineOption>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class RunHistory;
class SerialTrace;

void printOut(const QString &text);
// `progress`: a line that may be dropped while the reader stands.
void printJsonLine(const QJsonObject &object, bool progress = false);
// An error window's text as lines of a terminal.
QString windowText(QString text);

// Says on standard error, once per process, why the run history could not be written; nothing
// when `problem` is empty.
void noteHistoryProblem(const QString &command, const QString &problem);

// After a failure's text: each line the system's text cannot say (the missing file's path, a
// lost port, why a streamed transfer gave up, where a port that does not exist was looked for, or
// that another program holds it), on standard error after `command`'s name.
void sayErrorNotes(const QString &command);

// The name of a download's phase as the step display shows it: the erase comes second in
// variants 0 and 1, third in variants 2 and 3.
QString phaseName(int state, int seqType);

// Follows gDownloadState, gByteCount and gByteTotal and draws them on standard error.
class ProgressReport {
public:
    using PhaseNamer = std::function<QString(int phase)>;
    // `json`: JSON lines on standard output instead of text on standard error. The run has
    // `phases` phases, named by `name` (a download's five by default).
    ProgressReport(bool terminal, bool json, int phases = 5, PhaseNamer name = {});

    void poll();
    void finish() { endBar(); }

private:
    void show(int count);
    void line(const QString &text);
    void endBar();
    QJsonObject progressObject(int phase, int done, int total) const;

    bool m_terminal;
    bool m_json;
    int m_phases;
    PhaseNamer m_name;
    bool m_barOpen = false;
    int m_state = 0;
    int m_total = 0;
    int m_tenth = -1;
};

// Warns once on standard error, as soon as the port has been opened, when the low-latency flag
// was not on and the adapter's latency timer slows the kernel transfer. `command` names the
// warning's sender ("qarnctl flash").
class LatencyWarning {
public:
    LatencyWarning(const QString &command, const QString &sysfs, const SystemSerialPort &serial);
    void poll();

private:
    QString m_command;
    QString m_sysfs;
    QString m_bitRate; // the boot bit rate, at which the kernel goes
    const SystemSerialPort &m_serial;
    bool m_done = false;
};

// A signal during a run: the first stops the run at its next wait (the caller's signal handler
// has set Stop); a second ends the command at once, inside whatever wait the run is in (the
// settling pause does not look at Stop): what is left unsent is discarded and the port closed
// through the link, as every run closes it, the trace and the history get their outcome, and the
// status tells the signal (130 for Ctrl-C).
void AnswerSignal(const QString &command, int signal, int count, ProgressReport &progress,
                  SerialTrace &trace, std::optional<RunHistory> &history);

// The options that qarnctl flash and verify share.
struct RunOptions {
    QCommandLineOption appDir{
        "app-dir", "application folder holding QARN.ini (default: the folder of qarnctl)", "DIR"};
    QCommandLineOption port{"port",
                            "port number, instead of PORT in QARN.ini; given more than once, the "
                            "same run on every port named, all at once, each in a process of its "
                            "own, and a summary of every device at the end",
                            "N"};
    QCommandLineOption json{"json", "progress and result as JSON lines on standard output, for "
                                    "scripts"};
    QCommandLineOption stream{"stream",
                              "stream the kernel to the boot program, as STREAM 1 in QARN.ini "
                              "does: several bytes in flight, sent with two stop bits, every "
                              "echo still compared"};
    // The run of one port among several: its JSON outcome also gives the run's seconds.
    QCommandLineOption benchChild = [] {
        QCommandLineOption option("bench-child", "one port's run among several");
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        return option;
    }();
    QList<QCommandLineOption> list() const { return {appDir, port, json, stream, benchChild}; }
};

// Opens the trace a run was asked for (none when `path` is empty) before anything else, so that
// a path that cannot be written is refused before the target is touched. 0, or the exit status
// 2 after saying why.
int OpenRunTrace(const QString &command, const QString &path, SerialTrace &trace);
// gAppDir: the folder given with --app-dir, or the folder of qarnctl.
void TakeAppDir(const QString &given);
