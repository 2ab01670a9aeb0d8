#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

class QPainter;
class QRectF;

// The picker's small glyphs, drawn with paths so they look the same on every desktop whatever
// icon theme is installed (many minimal desktops ship none).
enum class Symbol {
    Clipboard,   // the app's mark in the toolbar, and the empty list
    Gear,        // settings
    Ellipsis,    // the "More" menu (a circle with three dots)
    Close,       // an x
    CloseCircle, // a filled circle with an x: clears the search
    MagnifyingGlass,
    Star,
    Pause,
    TextFormat, // plain-text mode
    Warning,    // a filled triangle with "!"
};

namespace Symbols {
// Paints the symbol to fill `box` (kept square and centred).
void paint(QPainter &painter, Symbol symbol, const QRectF &box, const QColor &color);
// A pixmap of `size` device-independent pixels, sharp on high-density screens.
QPixmap pixmap(Symbol symbol, int size, const QColor &color, qreal devicePixelRatio = 2.0);
QIcon icon(Symbol symbol, int size, const QColor &color);
} // namespace Symbols
