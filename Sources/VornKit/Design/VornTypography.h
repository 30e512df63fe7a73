#pragma once

#include <QFont>
#include <QString>

// Design sizes are points, and a point is one device-independent pixel.
enum class VornFontDesign { standard, rounded, monospaced };

// A font of `points` device-independent pixels (fractions kept: 12.5 stays 12.5) in the given weight.
// standard and rounded use the interface font (the application font, i.e. the desktop's); there is
// no rounded face on the desktop, so rounded falls back to it. monospaced uses the fixed font.
QFont vornFont(double points, QFont::Weight weight = QFont::Normal, VornFontDesign design = VornFontDesign::standard);

// The named text styles of the design and their sizes.
enum class VornTextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

double vornTextStylePoints(VornTextStyle style);
// headline is semibold, every other style regular unless `weight` asks otherwise.
QFont vornFont(VornTextStyle style);
QFont vornFont(VornTextStyle style, QFont::Weight weight);

// The family the monospaced design uses; empty means the system's fixed font. Tests pin it so that
// layouts do not depend on the machine.
void vornSetMonospacedFamily(const QString& family);
