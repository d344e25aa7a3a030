#pragma once
// The run history for the service record: every download from the window and every qarnctl
// flash or verify appends one line to qarn-history.csv in the application folder. The file is
// CSV as a spreadsheet reads it, UTF-8, CR LF; a new file starts with a UTF-8 byte-order mark and
// a header line. A line goes in one append and is flushed to disk before the tool goes on; the
// file is never rewritten; a line cut short (a full disk) is taken back, so a line is in it whole or not at all. Past kHistoryLimit bytes it moves to qarn-history.csv.1
// (replacing an older one) and a new file starts. A history that cannot be written never fails the
// run: the caller is told why, and notes it where it can.

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

inline constexpr char kHistoryFileName[] = "qarn-history.csv";
// A history file grows up to this many bytes before it is moved aside.
constexpr qint64 kHistoryLimit = 1024 * 1024;

// One run as the history records it.
struct RunRecord {
    QDateTime started; // local time
    QString tool;      // "qarn" (the window) or "qarnctl"
    QString command;   // "download", "flash" or "verify"
    QString firmware;  // model/board/version (the window) or the description's path
    QString port;      // "COM1"; "" when no port was used (simulated)
    QString device;    // the device behind the port, "" when there is none
    QString adapterDriver, adapterId, adapterSerial; // a USB adapter: driver, vendor:product
    QString bootBitRate, dataBitRate;
    QString outcome; // ok, failed, stopped, simulated, matches, differs
    int errNo = 0;
    QString checksum; // the target's flash checksum, "" when it gave none
    QString fcs;      // the description's FCS
    double seconds = 0;
    // SHA-256 of the kernel and of the image as the run read them, "" when it did not read the
    // whole file
    QString kernelSha256, imageSha256;
};

// The start of a new file (the UTF-8 byte-order mark and the header line) and the line of one
// record, each ending in CR LF. The checksums are written as 0x10E6, which stays text.
QByteArray HistoryHeader();
QByteArray HistoryLine(const RunRecord &record);

// Appends `record` to the history file at `path`. "" when it was written and flushed to disk,
// else why not. A path that is a link, a directory or anything but a regular file is never
// written through. Only a run that holds the history's lock starts a file with its header or moves
// a full one aside; one that has waited 200 ms for another run's lock appends its line alone. A
// file that starts with another header (an older layout) is moved aside as a full one is, so
// that no file mixes two layouts; without the lock, the line is not written into it.
QString AppendHistory(const QString &path, const RunRecord &record);

// A record kept from the start of a run to its end.
class RunHistory {
public:
    // Takes the time, the port gPort with the device and USB adapter behind it (read under the
    // sysfs root `sysfs`) and the bit rates, as the run is about to start.
    RunHistory(const QString &tool, const QString &command, const QString &firmware,
               const QString &sysfs = QStringLiteral("/sys"));

    // Ends the record with `outcome` and the error state, and appends it to qarn-history.csv in
    // the application folder unless HISTORY 0 turned the history off. The target's checksum is
    // recorded when the run obtained one (`outcome` ok, matches or differs, or error 370). ""
    // when written or turned off, else why it was not written.
    QString finish(const QString &outcome);

    const RunRecord &record() const { return m_record; }

private:
    RunRecord m_record;
    QElapsedTimer m_timer;
};
