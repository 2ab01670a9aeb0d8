#include "panel/FormKit.h"

#include "panel/Theme.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace FormKit {

namespace {
const QColor switchOff(0x2A, 0x2F, 0x38);
} // namespace

void setForeground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

void setWindowColors(QWidget *window)
{
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Brisel::bg());
    palette.setColor(QPalette::WindowText, Brisel::text());
    window->setPalette(palette);
}

QLabel *label(const QString &text, const QFont &font, const QColor &color, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    setForeground(label, color);
    return label;
}

QLabel *caption(const QString &text, QWidget *parent)
{
    QLabel *caption = label(text, Fonts::ui(11.5), Brisel::dim(), parent);
    caption->setWordWrap(true);
    caption->setContentsMargins(4, 0, 4, 0);
    return caption;
}

QLabel *sectionHeader(const QString &text, QWidget *parent)
{
    QFont font = Fonts::mono(10);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    QLabel *header = label(text, font, Brisel::dim(), parent);
    header->setContentsMargins(4, 0, 4, 0);
    return header;
}

QWidget *divider(QWidget *parent, Qt::Orientation orientation)
{
    auto *line = new QWidget(parent);
    if (orientation == Qt::Horizontal)
        line->setFixedHeight(1);
    else
        line->setFixedWidth(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, Brisel::line());
    line->setPalette(palette);
    return line;
}

QComboBox *picker(const QString &name, QWidget *parent)
{
    auto *picker = new QComboBox(parent);
    picker->setObjectName(name);
    picker->setFont(Fonts::ui(12.5));
    picker->setMinimumWidth(150);
    picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    picker->setFocusPolicy(Qt::StrongFocus);
    return picker;
}

QPushButton *rowButton(const QString &name, const QString &text, const QColor &color,
                       QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFont(Fonts::ui(13));
    button->setCursor(Qt::PointingHandCursor);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent;"
                                         " color: %1; text-align: left; padding: 0 12px;"
                                         " min-height: 36px; }"
                                         "QPushButton:hover { color: %2; }"
                                         "QPushButton:pressed { background: %3; }"
                                         "QPushButton:disabled { color: %4; }")
                              .arg(color.name(), color.lighter(118).name(), Brisel::elev().name(),
                                   Brisel::faint().name()));
    return button;
}

QPushButton *borderedButton(const QString &name, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFont(Fonts::ui(12));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid %1; border-radius: 5px;"
                       " background: %2; color: %3; padding: 3px 12px; }"
                       "QPushButton:pressed { background: %1; }")
            .arg(Brisel::border().name(), Brisel::elev().name(), Brisel::text().name()));
    return button;
}

QPushButton *linkButton(const QString &name, const QString &text, const QFont &font,
                        QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    button->setFlat(true);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent;"
                                         " color: %1; padding: 2px 4px; }"
                                         "QPushButton:hover { color: %2; }")
                              .arg(Brisel::dim().name(), Brisel::blue().name()));
    return button;
}

QToolButton *iconButton(QWidget *parent, Symbol symbol, int size, const QString &toolTip)
{
    auto *button = new QToolButton(parent);
    button->setIcon(Symbols::icon(symbol, size, Brisel::dim()));
    button->setIconSize(QSize(size, size));
    button->setToolTip(toolTip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px; }"
                                         "QToolButton::menu-indicator { image: none; }"));
    return button;
}

QToolButton *symbolLabel(QWidget *parent, Symbol symbol, const QString &text, const QColor &color,
                         bool clickable)
{
    auto *label = new QToolButton(parent);
    label->setIcon(Symbols::icon(symbol, 10, color));
    label->setIconSize(QSize(10, 10));
    label->setText(text);
    label->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    label->setFont(Fonts::ui(10.5));
    label->setFocusPolicy(Qt::NoFocus);
    if (clickable)
        label->setCursor(Qt::PointingHandCursor);
    else
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setStyleSheet(
        QStringLiteral("QToolButton { border: none; padding: 0; color: %1; }").arg(color.name()));
    return label;
}

Switch::Switch(const QString &name, QWidget *parent) : QAbstractButton(parent)
{
    setObjectName(name);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void Switch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(0, 0, 34, 20).translated(0, (height() - 20) / 2.0);
    QColor fill = isChecked() ? Brisel::blue() : switchOff;
    if (!isEnabled())
        fill.setAlphaF(0.4f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, 10, 10);
    const qreal knob = 16;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(Brisel::text());
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        QColor ring = Brisel::blue();
        ring.setAlphaF(0.5f);
        painter.setPen(QPen(ring, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), 11.5, 11.5);
    }
}

Section::Section(QWidget *parent) : QFrame(parent)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 1, 0, 1);
    m_layout->setSpacing(0);
}

QWidget *Section::addRow(const QString &text, QWidget *control)
{
    auto *row = new QWidget(this);
    row->setMinimumHeight(36);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->setSpacing(12);
    QLabel *title = label(text, Fonts::ui(13), Brisel::text(), row);
    title->setWordWrap(true);
    layout->addWidget(title, 1);
    if (control)
        layout->addWidget(control, 0, Qt::AlignRight | Qt::AlignVCenter);
    m_layout->addWidget(row);
    return row;
}

QWidget *Section::addWidget(QWidget *content, int margin)
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(margin, margin ? 8 : 0, margin, margin ? 8 : 0);
    layout->setSpacing(0);
    content->setParent(row);
    layout->addWidget(content);
    m_layout->addWidget(row);
    return row;
}

void Section::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Brisel::border(), 1));
    painter.setBrush(Brisel::surface());
    painter.drawRoundedRect(box, 8, 8);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The palette's divider colour is meant for the window background; on a section's
    // surface it would vanish, so rows part with the border colour.
    painter.setPen(QPen(Brisel::border(), 1));
    bool first = true;
    for (int i = 0; i < m_layout->count(); ++i) {
        QWidget *row = m_layout->itemAt(i)->widget();
        if (!row || row->isHidden())
            continue;
        if (!first)
            painter.drawLine(12, row->y(), width() - 1, row->y());
        first = false;
    }
}

} // namespace FormKit
