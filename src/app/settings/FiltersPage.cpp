#include "app/settings/FiltersPage.h"

#include "panel/FormKit.h"
#include "panel/Theme.h"
#include "prefs/Prefs.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

FiltersPage::FiltersPage(Prefs &prefs, QWidget *parent) : SettingsPage(parent), m_prefs(prefs)
{
    QVBoxLayout *layout = contentLayout();
    auto *section = new FormKit::Section(content());
    m_ignoreHandoff = new FormKit::Switch(QStringLiteral("ignoreHandoff"), section);
    section->addRow(QStringLiteral("Ignore Handoff / remote clipboard"), m_ignoreHandoff);
    connect(m_ignoreHandoff, &QAbstractButton::clicked, &m_prefs, &Prefs::setIgnoreHandoff);
    layout->addWidget(section);
    layout->addWidget(FormKit::caption(
        QStringLiteral("Concealed & transient types (password managers etc.) are always ignored."),
        content()));

    layout->addSpacing(14);
    layout->addWidget(FormKit::sectionHeader(
        QStringLiteral("IGNORED APPS (APPLICATION ID PER LINE)"), content()));
    auto *editorSection = new FormKit::Section(content());
    m_ignoredApps = new QPlainTextEdit;
    m_ignoredApps->setObjectName(QStringLiteral("ignoredApps"));
    m_ignoredApps->setFont(Fonts::mono(12));
    m_ignoredApps->setFixedHeight(180);
    m_ignoredApps->setFrameShape(QFrame::NoFrame);
    // Wrapped: a sideways scroll bar for the odd long comment line costs more than it saves.
    m_ignoredApps->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_ignoredApps->setTabChangesFocus(true);
    QPalette editorPalette = m_ignoredApps->palette();
    editorPalette.setColor(QPalette::Base, Brisel::surface());
    editorPalette.setColor(QPalette::Text, Brisel::text());
    editorPalette.setColor(QPalette::Highlight, Brisel::blue());
    m_ignoredApps->setPalette(editorPalette);
    editorSection->addWidget(m_ignoredApps, 6);
    connect(m_ignoredApps, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_syncing)
            m_prefs.setIgnoredApps(m_ignoredApps->toPlainText());
    });
    layout->addWidget(editorSection);
    m_unknownSources = FormKit::caption(
        QStringLiteral("This desktop does not tell which application copied: clips are stored "
                       "without their source, and this list applies only where the source is "
                       "known."),
        content());
    m_unknownSources->setObjectName(QStringLiteral("unknownSources"));
    m_unknownSources->hide();
    layout->addSpacing(6);
    layout->addWidget(m_unknownSources);
    layout->addStretch(1);

    connect(&m_prefs, &Prefs::ignoreHandoffChanged, this,
            [this] { m_ignoreHandoff->setChecked(m_prefs.ignoreHandoff()); });
    connect(&m_prefs, &Prefs::ignoredAppsChanged, this, &FiltersPage::syncIgnoredApps);
    m_ignoreHandoff->setChecked(m_prefs.ignoreHandoff());
    syncIgnoredApps();
}

void FiltersPage::setSourcesKnown(bool known)
{
    m_unknownSources->setVisible(!known);
}

void FiltersPage::syncIgnoredApps()
{
    if (m_ignoredApps->toPlainText() == m_prefs.ignoredApps())
        return;
    m_syncing = true;
    m_ignoredApps->setPlainText(m_prefs.ignoredApps());
    m_syncing = false;
}
