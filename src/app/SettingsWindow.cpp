#include "app/SettingsWindow.h"

#include "app/AboutWindow.h"
#include "app/settings/AppearancePage.h"
#include "app/settings/FiltersPage.h"
#include "app/settings/GeneralPage.h"
#include "app/settings/SettingsDialogs.h"
#include "app/settings/ShortcutsPage.h"
#include "app/settings/TabStrip.h"
#include "panel/FormKit.h"
#include "panel/Theme.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(Prefs &prefs, Store &store, HotKeyCenter &hotKeys,
                               LoginItem &loginItem, AppIconManager &icons, QWidget *parent)
    : QWidget(parent, Qt::Window), m_dialogs(std::make_unique<SettingsDialogs>())
{
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(windowWidth, windowHeight);
    FormKit::setWindowColors(this);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Highlight, Brisel::blue());
    palette.setColor(QPalette::Link, Brisel::blue());
    setPalette(palette);

    m_pages = new QStackedWidget(this);
    m_general = new GeneralPage(prefs, loginItem, m_pages);
    m_shortcuts = new ShortcutsPage(prefs, hotKeys, m_pages);
    m_filters = new FiltersPage(prefs, m_pages);
    m_appearance = new AppearancePage(prefs, icons, m_pages);
    m_data = new DataPage(store, *m_dialogs, m_pages);
    for (QWidget *page : {static_cast<QWidget *>(m_general), static_cast<QWidget *>(m_shortcuts),
                          static_cast<QWidget *>(m_filters), static_cast<QWidget *>(m_appearance),
                          static_cast<QWidget *>(m_data)})
        m_pages->addWidget(page);
    connect(m_data, &DataPage::copyLessImportFinished, this,
            &SettingsWindow::copyLessImportFinished);

    m_tabs = new TabStrip(this);
    m_tabs->addTab(QStringLiteral("General"), TabStrip::Glyph::Gear);
    m_tabs->addTab(QStringLiteral("Shortcuts"), TabStrip::Glyph::Keyboard);
    m_tabs->addTab(QStringLiteral("Filters"), TabStrip::Glyph::CrossedEye);
    m_tabs->addTab(QStringLiteral("Appearance"), TabStrip::Glyph::Brush);
    m_tabs->addTab(QStringLiteral("Data"), TabStrip::Glyph::Drive);
    connect(m_tabs, &TabStrip::activated, this, [this](int tab) {
        m_pages->setCurrentIndex(tab);
        if (tab == Data)
            m_data->refresh();
    });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tabs);
    layout->addWidget(FormKit::divider(this));
    layout->addWidget(m_pages, 1);
    layout->addWidget(FormKit::divider(this));
    layout->addWidget(buildFooter());

    refresh();
    setCurrentTab(General);
}

SettingsWindow::~SettingsWindow() = default;

QWidget *SettingsWindow::buildFooter()
{
    auto *footer = new QWidget(this);
    footer->setFixedHeight(30);
    auto *layout = new QHBoxLayout(footer);
    layout->setContentsMargins(16, 0, 12, 0);
    QLabel *version =
        FormKit::label(QStringLiteral("BRISEL · ULVANE · v") + AboutWindow::shortVersion(),
                       Fonts::mono(9.5), Brisel::faint(), footer);
    version->setObjectName(QStringLiteral("footerVersion"));
    layout->addWidget(version);
    layout->addStretch(1);
    m_aboutLink = FormKit::linkButton(QStringLiteral("openAbout"), QStringLiteral("About Ulvane"),
                                      Fonts::ui(10.5), footer);
    m_aboutLink->hide();
    layout->addWidget(m_aboutLink);
    return footer;
}

void SettingsWindow::setEnableAutoPasteAction(QAction *action)
{
    m_general->setEnableAutoPasteAction(action);
}

void SettingsWindow::setSourcesKnown(bool known)
{
    m_filters->setSourcesKnown(known);
}

void SettingsWindow::setAboutAction(QAction *action)
{
    disconnect(m_aboutLink, &QPushButton::clicked, nullptr, nullptr);
    if (action)
        connect(m_aboutLink, &QPushButton::clicked, action, &QAction::trigger);
    m_aboutLink->setVisible(action != nullptr);
}

void SettingsWindow::setDialogs(std::unique_ptr<SettingsDialogs> dialogs)
{
    if (!dialogs)
        dialogs = std::make_unique<SettingsDialogs>();
    m_data->setDialogs(*dialogs);
    m_dialogs = std::move(dialogs);
}

void SettingsWindow::setCopyLessJob(DataPage::CopyLessJob job)
{
    m_data->setCopyLessJob(std::move(job));
}

void SettingsWindow::refresh()
{
    m_general->refresh();
    m_shortcuts->refresh();
    m_data->refresh();
    m_appearance->refresh();
}

QString SettingsWindow::hotkeyWarning() const
{
    return m_shortcuts->hotkeyWarning();
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    refresh();
    QWidget::showEvent(event);
}

SettingsWindow::Tab SettingsWindow::currentTab() const
{
    return Tab(m_pages->currentIndex());
}

void SettingsWindow::setCurrentTab(Tab tab)
{
    m_tabs->setCurrent(tab);
    m_pages->setCurrentIndex(tab);
    if (tab == Data)
        m_data->refresh();
}
