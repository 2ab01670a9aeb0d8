#pragma once

#include <QRectF>

class QPainter;

// The picker's surface: the background colour with a hairline outline, rounded at 14.
namespace PanelBackground {
constexpr qreal cornerRadius = 14;
void paint(QPainter &painter, const QRectF &rect);
} // namespace PanelBackground
