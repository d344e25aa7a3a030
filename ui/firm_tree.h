#pragma once
// Helpers of the firmware tree that need no window: version numbers, the information text of a
// version, the firmware folder and the description file in it.

#include <QString>

// Positions 6-9 of a version text as one decimal number (major * 100 + minor); 0 when they are
// not four decimal digits, so such a text is never preferred over a well-formed version.
int VersionNumber(const QString &versionText);

// Country, language and version of a version text, three labelled lines.
QString FirmwareInfoText(const QString &versionText);

// The part of gFdir up to and including the first "fieldkit" followed by a separator (letter
// case ignored); empty when gFdir has no such part.
QString ToolPrefix(const QString &fdir);

// The first ordinary "*.ift" file of a folder, names compared without regard to letter case;
// empty when there is none.
QString FirstDescriptionFile(const QString &folder);
