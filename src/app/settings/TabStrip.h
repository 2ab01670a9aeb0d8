#pragma once

#include <QWidget>

class QButtonGroup;

// The row of tabs over the settings pages: a glyph over each name, centred, one checked at a
// time. Tabs are numbered in the order they are added.
class TabStrip : public QWidget
{
    Q_OBJECT

public:
    enum class Glyph { Gear, Keyboard, CrossedEye, Brush, Drive };

    explicit TabStrip(QWidget *parent = nullptr);

    void addTab(const QString &name, Glyph glyph);
    void setCurrent(int index);

Q_SIGNALS:
    // A tab was clicked.
    void activated(int index);

private:
    QButtonGroup *m_tabs;
};
