#pragma once
// The tool's settings file QARN.ini: language, port, simulation mode and the protocol defaults
// that every firmware description starts from.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// Built-in protocol defaults (serial line, block size, blank blocks, UT, time-outs, SETUPINFO).
// Leaves the language, the port and the simulation mode alone.
void SetDefaultSettings();

// Reads QARN.ini from the application folder. False when it cannot be read, with gErrNo (130
// or 139), gRunErrNo and gErrFileName set for the error window.
bool ReadQARNIni();

// The core of ReadQARNIni: everything after the file was read, from its bytes. False with
// gErrNo 139 and the code in gRunErrNo for a line longer than a position can reach.
bool QARNIniFromBytes(const QByteArray &bytes);

// "0" -> "N", "1" -> "O", "2" -> "E", anything else -> "N".
QString ParityLetter(const QString &value);

// One key of a settings-style file: the key text and what its value does.
struct SettingKey {
    QString key;
    std::function<void(const QString &value)> apply;
};

// The key-and-value line loop shared by the settings file and the firmware descriptions: each
// line is upper-cased, the first key of the table that starts it is applied with its value, and
// a line that is the key alone applies that key with an empty value. Returns 0, or the run-time
// failure code that stops the read (6 for a line longer than a position can reach).
int ApplySettingLines(const QStringList &lines, const QList<SettingKey> &keys);

// The keys both files share, in the order they are tested (BAUD ... NDTCD), without the
// block-size keys (PacketSizeKey).
QList<SettingKey> CommonSettingKeys();

// A block-size key (PIZE, PDSIZE, DPDSIZE): a value that converts sets gPacketSize and names the
// key and the file being read (the path `file` gives) in gPacketSizeKey and gPacketSizeFile.
SettingKey PacketSizeKey(const char *key, QString (*file)());
