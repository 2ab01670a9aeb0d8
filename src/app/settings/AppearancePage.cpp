#include "app/settings/AppearancePage.h"

#include "app/AppIconPicker.h"
#include "panel/FormKit.h"
#include "prefs/Prefs.h"

#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>

AppearancePage::AppearancePage(Prefs &prefs, AppIconManager &icons, QWidget *parent)
    : SettingsPage(parent), m_prefs(prefs)
{
    QVBoxLayout *layout = contentLayout();
    auto *section = new FormKit::Section(content());
    m_fontSize = FormKit::picker(QStringLiteral("fontSize"), section);
    m_fontSize->addItem(QStringLiteral("Small"), 12);
    m_fontSize->addItem(QStringLiteral("Medium"), 13);
    m_fontSize->addItem(QStringLiteral("Large"), 15);
    section->addRow(QStringLiteral("Font size"), m_fontSize);
    connect(m_fontSize, &QComboBox::activated, this,
            [this](int index) { m_prefs.setFontSize(m_fontSize->itemData(index).toInt()); });
    m_density = FormKit::picker(QStringLiteral("density"), section);
    m_density->addItem(QStringLiteral("Compact"), 0);
    m_density->addItem(QStringLiteral("Comfortable"), 1);
    section->addRow(QStringLiteral("Row density"), m_density);
    connect(m_density, &QComboBox::activated, this,
            [this](int index) { m_prefs.setDensity(m_density->itemData(index).toInt()); });
    layout->addWidget(section);
    layout->addWidget(
        FormKit::caption(QStringLiteral("Ulvane використовує темну тему Brisel."), content()));

    layout->addSpacing(14);
    layout->addWidget(FormKit::sectionHeader(QStringLiteral("APP ICON"), content()));
    auto *iconSection = new FormKit::Section(content());
    m_iconPicker = new AppIconPicker(icons);
    m_iconPicker->setObjectName(QStringLiteral("appIconPicker"));
    iconSection->addWidget(m_iconPicker, 14);
    layout->addWidget(iconSection);
    layout->addStretch(1);

    connect(&m_prefs, &Prefs::fontSizeChanged, this, &AppearancePage::syncFontSize);
    connect(&m_prefs, &Prefs::densityChanged, this, &AppearancePage::syncDensity);
    syncFontSize();
    syncDensity();
}

void AppearancePage::refresh()
{
    m_iconPicker->reloadSelection();
}

void AppearancePage::syncFontSize()
{
    // The picker shows the choice nearest to the size the panel actually draws with.
    const int effective = qBound(8, m_prefs.fontSize(), 64);
    int best = 0;
    for (int i = 1; i < m_fontSize->count(); ++i) {
        if (qAbs(m_fontSize->itemData(i).toInt() - effective) <
            qAbs(m_fontSize->itemData(best).toInt() - effective))
            best = i;
    }
    m_fontSize->setCurrentIndex(best);
}

void AppearancePage::syncDensity()
{
    // Anything but 0 lays rows out comfortably.
    m_density->setCurrentIndex(m_prefs.density() == 0 ? 0 : 1);
}
