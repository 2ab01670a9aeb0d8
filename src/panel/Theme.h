#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>

class QApplication;

// The fixed dark palette every window of the application paints with. The colours never follow
// the desktop theme: the picker must look the same on every desktop.
namespace Brisel {
QColor bg();      // panel background
QColor surface(); // tiles of the icon-style picker
QColor elev();    // selected or hovered row
QColor line();    // dividers
QColor border();  // panel outline, swatch outline
QColor text();    // primary text
QColor dim();     // secondary text, toolbar icons
QColor faint();   // tertiary text, footer
QColor ghost();   // quick-paste numbers
QColor blue();    // accent
QColor gold();    // pinned star, paused chip, warnings

// Fusion with a dark QPalette built from the colours above; set before any window exists so
// dialogs and menus match the picker.
void applyDarkAppearance(QApplication &app);
} // namespace Brisel

// Parses "#RRGGBB" / "RRGGBB" / "#RRGGBBAA" (blanks around it allowed) into an opaque colour; the
// alpha byte of the eight-digit form is ignored so a swatch never turns see-through.
std::optional<QColor> colorFromHexString(const QString &text);

namespace Fonts {
// The system font at a size in device-independent pixels (fractions allowed) and a weight.
QFont ui(qreal pointSize, QFont::Weight weight = QFont::Normal);
// The system's monospaced font, sized the same way.
QFont mono(qreal pointSize, QFont::Weight weight = QFont::Normal);
} // namespace Fonts
