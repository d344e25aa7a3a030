#pragma once
// The tool's settings file QARN.ini: language, port, simulation mode and the protocol defaults
// that every firmware description starts from.

#include <QString>
#include <QStringList>
#include <functional>

// Built-in protocol defaults (serial line, block size, blank blocks, UT, time-outs, SETUPINFO).
// Leaves the language, the port and the simulation mode alone.
void SetDefaultSettings();

// Reads QARN.ini from the application folder. False when it cannot be read, with gErrNo (130
// or 139), gRunErrNo and gErrFileName set for the error window.
bool ReadQARNIni();

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

// The keys both files share, in the order they are tested (BAUD ... NDTCD).
QList<SettingKey> CommonSettingKeys();
