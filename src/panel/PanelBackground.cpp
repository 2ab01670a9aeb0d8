#include "panel/PanelBackground.h"

#include "panel/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace PanelBackground {
void paint(QPainter &painter, const QRectF &rect)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, cornerRadius, cornerRadius);
    painter.fillPath(shape, Brisel::bg());
    QPainterPath outline;
    outline.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5,
                           cornerRadius - 0.5);
    painter.setPen(QPen(Brisel::border(), 1));
    painter.drawPath(outline);
    painter.restore();
}
} // namespace PanelBackground
