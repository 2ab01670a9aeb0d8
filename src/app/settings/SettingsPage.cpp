#include "app/settings/SettingsPage.h"

#include <QVBoxLayout>

SettingsPage::SettingsPage(QWidget *parent) : QScrollArea(parent), m_content(new QWidget)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_layout = new QVBoxLayout(m_content);
    m_layout->setContentsMargins(20, 16, 20, 16);
    m_layout->setSpacing(6);
    setWidget(m_content);
    viewport()->setAutoFillBackground(false);
    m_content->setAutoFillBackground(false);
}
