#include "panel/FilterTabs.h"

#include "panel/Theme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

FilterTabs::FilterTabs(QWidget *parent) : QWidget(parent), m_filters(ClipFilters::allCases())
{
    setFixedWidth(300);
    setFixedHeight(24);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void FilterTabs::setCurrent(int current)
{
    for (qsizetype i = 0; i < m_filters.size(); ++i) {
        if (static_cast<int>(m_filters.at(i)) == current) {
            m_current = int(i);
            update();
            Q_EMIT currentChanged();
            return;
        }
    }
}

QString FilterTabs::label(int tab) const
{
    if (tab < 0 || tab >= m_filters.size())
        return {};
    return ClipFilters::rawValue(m_filters.at(tab));
}

QRect FilterTabs::tabRect(int tab) const
{
    const qreal width = qreal(this->width()) / qMax(1, count());
    return QRectF(tab * width, 0, width, height()).toAlignedRect();
}

QSize FilterTabs::sizeHint() const
{
    return QSize(300, 24);
}

void FilterTabs::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(frame, 6, 6);
    painter.fillPath(outline, Brisel::surface());
    painter.setPen(QPen(Brisel::border(), 1));
    painter.drawPath(outline);

    const QFont font = Fonts::ui(11.5, QFont::Medium);
    painter.setFont(font);
    for (int tab = 0; tab < count(); ++tab) {
        const QRectF cell = QRectF(tabRect(tab)).adjusted(2, 2, -2, -2);
        if (tab == m_current) {
            QPainterPath chip;
            chip.addRoundedRect(cell, 4.5, 4.5);
            painter.fillPath(chip, Brisel::blue());
        } else if (tab > 0 && tab != m_current + 1) {
            painter.setPen(QPen(Brisel::border(), 1));
            painter.drawLine(QPointF(cell.left() - 2, 6), QPointF(cell.left() - 2, height() - 6));
        }
        painter.setPen(tab == m_current ? QColor(Qt::white) : Brisel::dim());
        painter.drawText(cell, Qt::AlignCenter, label(tab));
    }
}

void FilterTabs::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    for (int tab = 0; tab < count(); ++tab) {
        if (tabRect(tab).contains(event->position().toPoint())) {
            Q_EMIT activated(static_cast<int>(m_filters.at(tab)));
            return;
        }
    }
}
