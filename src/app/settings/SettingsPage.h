#pragma once

#include <QScrollArea>

class QVBoxLayout;

// One tab of the settings: its form in a scroll area, so a form taller than the window scrolls.
// Pages read what they show from their sources when built, follow the preferences on their
// own, and re-read what they cannot observe in refresh(), which the window runs on every
// appearance.
class SettingsPage : public QScrollArea
{
    Q_OBJECT

public:
    explicit SettingsPage(QWidget *parent = nullptr);

    virtual void refresh() {}

protected:
    QWidget *content() const { return m_content; }
    QVBoxLayout *contentLayout() const { return m_layout; }

private:
    QWidget *m_content;
    QVBoxLayout *m_layout;
};
