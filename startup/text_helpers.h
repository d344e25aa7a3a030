#pragma once
// The small line helpers every reader of the tool's text files uses, so that the same file text
// gives the same values everywhere. Positions are 1-based and 16-bit, as the files expect.

#include <QString>
#include <cstdint>
#include <optional>

// 1 when the line starts with the key (letter case ignored) followed by a separator, else 0.
// A line that is the key alone has no separator to look at: that is a failure (run-time code 5),
// returned as std::nullopt.
std::optional<int16_t> IsKeyLine(const QString &line, const QString &key, int16_t keyLength);

// The next blank-delimited word from pos, at most 128 characters; pos moves past it.
QString GetWord(const QString &line, int16_t &pos);

// The rest of the line from its first non-blank character; inner and trailing spaces stay.
QString GetRestOfLine(const QString &line, int16_t &pos);

// The name paired with a code in gLangList / gCountryList, or the code itself.
QString LangName(const QString &code);
QString CountryName(const QString &code);

// The code a character has in the ANSI code page (ansi_code_page.h), as a signed 16-bit number:
// a character that takes two bytes there reads negative (one that takes more reads as its first
// two), one it cannot encode reads as '?'.
int16_t AnsiCode(QChar c);
