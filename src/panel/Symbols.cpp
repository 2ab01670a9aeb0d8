#include "panel/Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

void drawGear(QPainter &p, const QRectF &b, const QColor &color)
{
    const QPointF c = b.center();
    const qreal outer = b.width() * 0.48;
    const qreal inner = b.width() * 0.36;
    QPainterPath path;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i - 0.5) * M_PI / teeth;
        const qreal a1 = (i + 0.5) * M_PI / teeth;
        const qreal r = (i % 2 == 0) ? outer : inner;
        const QPointF p0(c.x() + r * qCos(a0), c.y() + r * qSin(a0));
        const QPointF p1(c.x() + r * qCos(a1), c.y() + r * qSin(a1));
        if (i == 0)
            path.moveTo(p0);
        else
            path.lineTo(p0);
        path.lineTo(p1);
    }
    path.closeSubpath();
    path.addEllipse(c, b.width() * 0.15, b.width() * 0.15);
    path.setFillRule(Qt::OddEvenFill);
    p.fillPath(path, color);
}

QPainterPath xPath(const QPointF &c, qreal half)
{
    QPainterPath path;
    path.moveTo(c.x() - half, c.y() - half);
    path.lineTo(c.x() + half, c.y() + half);
    path.moveTo(c.x() + half, c.y() - half);
    path.lineTo(c.x() - half, c.y() + half);
    return path;
}

QPainterPath starPath(const QRectF &b)
{
    QPainterPath path;
    const QPointF c = b.center();
    const qreal outer = b.width() * 0.5;
    const qreal inner = outer * 0.45;
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2 == 0) ? outer : inner;
        const qreal a = -M_PI / 2 + i * M_PI / 5;
        const QPointF pt(c.x() + r * qCos(a), c.y() + r * qSin(a) + b.height() * 0.04);
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

} // namespace

namespace Symbols {

void paint(QPainter &p, Symbol symbol, const QRectF &area, const QColor &color)
{
    const qreal side = qMin(area.width(), area.height());
    const QRectF b(area.center().x() - side / 2, area.center().y() - side / 2, side, side);
    const qreal w = side;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, qMax<qreal>(1.2, w * 0.1), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (symbol) {
    case Symbol::Clipboard: {
        // A board with a clip on top and two text lines.
        const QRectF board(b.left() + w * 0.15, b.top() + w * 0.12, w * 0.7, w * 0.84);
        QPainterPath path;
        path.addRoundedRect(board, w * 0.1, w * 0.1);
        p.setPen(Qt::NoPen);
        p.fillPath(path, color);
        const QRectF clip(b.left() + w * 0.33, b.top() + w * 0.02, w * 0.34, w * 0.2);
        QPainterPath clipPath;
        clipPath.addRoundedRect(clip, w * 0.06, w * 0.06);
        p.fillPath(clipPath, color);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, qMax<qreal>(1.0, w * 0.08), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(b.left() + w * 0.3, b.top() + w * 0.5),
                   QPointF(b.left() + w * 0.7, b.top() + w * 0.5));
        p.drawLine(QPointF(b.left() + w * 0.3, b.top() + w * 0.7),
                   QPointF(b.left() + w * 0.58, b.top() + w * 0.7));
        p.drawLine(QPointF(b.left() + w * 0.36, b.top() + w * 0.2),
                   QPointF(b.left() + w * 0.64, b.top() + w * 0.2));
        break;
    }
    case Symbol::Gear:
        drawGear(p, b, color);
        break;
    case Symbol::Ellipsis: {
        pen.setWidthF(qMax<qreal>(1.0, w * 0.08));
        p.setPen(pen);
        p.drawEllipse(b.adjusted(w * 0.06, w * 0.06, -w * 0.06, -w * 0.06));
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        const qreal r = w * 0.07;
        for (int i = -1; i <= 1; ++i)
            p.drawEllipse(QPointF(b.center().x() + i * w * 0.22, b.center().y()), r, r);
        break;
    }
    case Symbol::Close:
        pen.setWidthF(qMax<qreal>(1.4, w * 0.14));
        p.setPen(pen);
        p.drawPath(xPath(b.center(), w * 0.3));
        break;
    case Symbol::CloseCircle: {
        QPainterPath disc;
        disc.addEllipse(b.adjusted(w * 0.04, w * 0.04, -w * 0.04, -w * 0.04));
        p.fillPath(disc, color);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, qMax<qreal>(1.2, w * 0.11), Qt::SolidLine, Qt::RoundCap));
        p.drawPath(xPath(b.center(), w * 0.18));
        break;
    }
    case Symbol::MagnifyingGlass: {
        pen.setWidthF(qMax<qreal>(1.3, w * 0.11));
        p.setPen(pen);
        const QPointF c(b.left() + w * 0.42, b.top() + w * 0.42);
        p.drawEllipse(c, w * 0.3, w * 0.3);
        p.drawLine(QPointF(b.left() + w * 0.64, b.top() + w * 0.64),
                   QPointF(b.left() + w * 0.92, b.top() + w * 0.92));
        break;
    }
    case Symbol::Star:
        p.setPen(Qt::NoPen);
        p.fillPath(starPath(b), color);
        break;
    case Symbol::Pause:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(b.left() + w * 0.2, b.top() + w * 0.12, w * 0.22, w * 0.76),
                          w * 0.05, w * 0.05);
        p.drawRoundedRect(QRectF(b.left() + w * 0.58, b.top() + w * 0.12, w * 0.22, w * 0.76),
                          w * 0.05, w * 0.05);
        break;
    case Symbol::TextFormat: {
        // A large and a small "A" drawn as strokes.
        pen.setWidthF(qMax<qreal>(1.1, w * 0.09));
        p.setPen(pen);
        auto letter = [&](qreal left, qreal width, qreal top) {
            const qreal bottom = b.top() + w * 0.85;
            p.drawLine(QPointF(left, bottom), QPointF(left + width / 2, top));
            p.drawLine(QPointF(left + width / 2, top), QPointF(left + width, bottom));
            const qreal mid = top + (bottom - top) * 0.62;
            p.drawLine(QPointF(left + width * 0.2, mid), QPointF(left + width * 0.8, mid));
        };
        letter(b.left() + w * 0.02, w * 0.55, b.top() + w * 0.12);
        letter(b.left() + w * 0.58, w * 0.38, b.top() + w * 0.42);
        break;
    }
    case Symbol::Warning: {
        QPainterPath tri;
        tri.moveTo(b.center().x(), b.top() + w * 0.06);
        tri.lineTo(b.right() - w * 0.03, b.bottom() - w * 0.1);
        tri.lineTo(b.left() + w * 0.03, b.bottom() - w * 0.1);
        tri.closeSubpath();
        p.setPen(QPen(color, w * 0.08, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(color);
        p.drawPath(tri);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, qMax<qreal>(1.1, w * 0.1), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(b.center().x(), b.top() + w * 0.36),
                   QPointF(b.center().x(), b.top() + w * 0.6));
        p.drawPoint(QPointF(b.center().x(), b.top() + w * 0.75));
        break;
    }
    }
    p.restore();
}

QPixmap pixmap(Symbol symbol, int size, const QColor &color, qreal devicePixelRatio)
{
    QPixmap pm(qCeil(size * devicePixelRatio), qCeil(size * devicePixelRatio));
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    paint(painter, symbol, QRectF(0, 0, size, size), color);
    return pm;
}

QIcon icon(Symbol symbol, int size, const QColor &color)
{
    QIcon result;
    result.addPixmap(pixmap(symbol, size, color));
    return result;
}

} // namespace Symbols
