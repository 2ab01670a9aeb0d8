#include "app/settings/TabStrip.h"

#include "panel/Symbols.h"
#include "panel/Theme.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace {

// The glyphs in a 20-unit box.
void paintGlyph(QPainter &painter, TabStrip::Glyph glyph, const QColor &color)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen outline(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (glyph) {
    case TabStrip::Glyph::Gear:
        Symbols::paint(painter, Symbol::Gear, QRectF(1, 1, 18, 18), color);
        break;
    case TabStrip::Glyph::Keyboard: {
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(1.75, 4.75, 16.5, 10.5), 2.2, 2.2);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (int row = 0; row < 2; ++row) {
            for (int key = 0; key < 5; ++key)
                painter.drawRect(QRectF(4.2 + key * 2.6, 7.2 + row * 2.6, 1.5, 1.5));
        }
        painter.drawRoundedRect(QRectF(6.5, 12.4, 7, 1.4), 0.5, 0.5);
        break;
    }
    case TabStrip::Glyph::CrossedEye: {
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        QPainterPath eye;
        eye.moveTo(1.8, 10);
        eye.quadTo(10, 1.5, 18.2, 10);
        eye.quadTo(10, 18.5, 1.8, 10);
        painter.drawPath(eye);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(10, 10), 2.8, 2.8);
        // Cut a gap around the slash so it reads as crossing the eye.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(3.5, 3), QPointF(16.5, 17));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(outline);
        painter.drawLine(QPointF(3.5, 3), QPointF(16.5, 17));
        break;
    }
    case TabStrip::Glyph::Brush: {
        painter.setPen(QPen(color, 2.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(17, 3), QPointF(10.2, 9.8));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        QPainterPath tip;
        tip.moveTo(8.6, 9.9);
        tip.cubicTo(5.6, 9.9, 5.8, 13.2, 4.8, 15.0);
        tip.cubicTo(4.2, 16.2, 3.2, 16.8, 2.2, 17.6);
        tip.cubicTo(6.2, 17.9, 10.4, 16.4, 10.3, 12.0);
        tip.closeSubpath();
        painter.drawPath(tip);
        break;
    }
    case TabStrip::Glyph::Drive: {
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(1.75, 6.25, 16.5, 8.5), 2.6, 2.6);
        painter.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(4.8, 10.5), QPointF(9, 10.5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(14.6, 10.5), 1.1, 1.1);
        break;
    }
    }
}

// Dim when off, the accent colour when checked.
QIcon glyphIcon(TabStrip::Glyph glyph)
{
    QIcon icon;
    constexpr qreal ratio = 2.0;
    for (const bool on : {false, true}) {
        QPixmap pixmap(QSize(20, 20) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintGlyph(painter, glyph, on ? Brisel::blue() : Brisel::dim());
        painter.end();
        icon.addPixmap(pixmap, QIcon::Normal, on ? QIcon::On : QIcon::Off);
    }
    return icon;
}

} // namespace

TabStrip::TabStrip(QWidget *parent) : QWidget(parent), m_tabs(new QButtonGroup(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 6);
    layout->setSpacing(4);
    layout->addStretch(1);
    layout->addStretch(1);
    m_tabs->setExclusive(true);
    connect(m_tabs, &QButtonGroup::idClicked, this, &TabStrip::activated);
}

void TabStrip::addTab(const QString &name, Glyph glyph)
{
    auto *button = new QToolButton(this);
    button->setObjectName(QStringLiteral("tab") + name);
    button->setText(name);
    button->setIcon(glyphIcon(glyph));
    button->setIconSize(QSize(20, 20));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setCheckable(true);
    button->setFont(Fonts::ui(11));
    button->setFixedSize(78, 48);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 7px;"
                                         " color: %1; background: transparent;"
                                         " padding: 4px 2px 3px 2px; }"
                                         "QToolButton:hover { background: %2; }"
                                         "QToolButton:checked { color: %3; background: %4; }")
                              .arg(Brisel::dim().name(), Brisel::surface().name(),
                                   Brisel::blue().name(), Brisel::elev().name()));
    m_tabs->addButton(button, int(m_tabs->buttons().size()));
    // Between the two stretches that centre the row.
    auto *row = static_cast<QHBoxLayout *>(layout());
    row->insertWidget(row->count() - 1, button);
}

void TabStrip::setCurrent(int index)
{
    if (QAbstractButton *button = m_tabs->button(index))
        button->setChecked(true);
}
