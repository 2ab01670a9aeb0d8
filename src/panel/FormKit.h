#pragma once

#include "panel/Symbols.h"

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QFrame>

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

// The pieces every window of the application builds its forms from, in the Brisel palette:
// labels, dividers, section boxes with one row per setting, switches and the flat buttons.
// Widgets come back parented and styled; callers only place them.
namespace FormKit {

// Gives text, editable text and button text one colour.
void setForeground(QWidget *widget, const QColor &color);
// The window background and its text in the palette, for a top-level window.
void setWindowColors(QWidget *window);

// Plain text (never rich text: names and clips may contain markup).
QLabel *label(const QString &text, const QFont &font, const QColor &color, QWidget *parent);
// A small dim caption under a section, wrapped.
QLabel *caption(const QString &text, QWidget *parent);
// A spaced-out, upper-case title over a section.
QLabel *sectionHeader(const QString &text, QWidget *parent);

// A one-pixel line in the divider colour; a vertical one as tall as its layout makes it.
QWidget *divider(QWidget *parent, Qt::Orientation orientation = Qt::Horizontal);

// A drop-down of choices for a setting, named `name`.
QComboBox *picker(const QString &name, QWidget *parent);
// A full-width, left-aligned text button for a row of a section ("Export history…").
QPushButton *rowButton(const QString &name, const QString &text, const QColor &color,
                       QWidget *parent);
// A small bordered button beside a notice ("Grant…").
QPushButton *borderedButton(const QString &name, const QString &text, QWidget *parent);
// Dim text that turns to the accent colour under the pointer, read as a link.
QPushButton *linkButton(const QString &name, const QString &text, const QFont &font,
                        QWidget *parent);

// A borderless button that shows only its symbol.
QToolButton *iconButton(QWidget *parent, Symbol symbol, int size, const QString &toolTip);
// A small symbol with text beside it in one colour; `clickable` false lets clicks through.
QToolButton *symbolLabel(QWidget *parent, Symbol symbol, const QString &text, const QColor &color,
                         bool clickable = false);

// A two-state switch: blue track when on.
class Switch : public QAbstractButton
{
public:
    explicit Switch(const QString &name, QWidget *parent = nullptr);
    QSize sizeHint() const override { return QSize(34, 20); }

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A grouped form section: rounded box, one row per setting, hairlines between rows.
class Section : public QFrame
{
public:
    explicit Section(QWidget *parent);

    // A row with its text on the left and `control` (if any) on the right; returns the row.
    QWidget *addRow(const QString &text, QWidget *control);
    // A row whose content fills it; `margin` pads it.
    QWidget *addWidget(QWidget *content, int margin = 12);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_layout;
};

} // namespace FormKit
