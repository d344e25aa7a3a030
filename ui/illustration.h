#pragma once
// The window's illustrations, drawn from resources/NAME.svg: on Qt Svg where the build has it,
// elsewhere from the pictures that the build drew of the same drawings.

#include <QPixmap>

// Illustration NAME ("pc", "downloader", ...) fitted into `size` (keeping its proportions,
// centred, the rest transparent) at the screen's pixel ratio; a null pixmap when there is none.
QPixmap DrawIllustration(const char *name, QSize size, qreal ratio);
