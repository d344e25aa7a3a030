#pragma once
// The bilingual message catalogue built into the program. Japanese texts have ids 100 to 192,
// English ones the same ids plus 100; callers add gLangBase to the Japanese id themselves.

#include <QString>

// The text of one catalogue entry; an id without an entry gives the empty text.
QString LoadResString(int id);

// The text with Japanese id j in the current language (gLangBase + j).
QString Msg(int j);

// Whether the catalogue has an entry with this id.
bool HasResString(int id);
