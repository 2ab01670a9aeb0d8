#include "app/settings/ShortcutsPage.h"

#include "panel/FormKit.h"
#include "panel/PanelKeys.h"
#include "panel/Theme.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"

#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>

ShortcutsPage::ShortcutsPage(Prefs &prefs, HotKeyCenter &hotKeys, QWidget *parent)
    : SettingsPage(parent), m_prefs(prefs), m_hotKeys(hotKeys)
{
    auto *section = new FormKit::Section(content());
    m_showHotkey = hotkeyPicker(QStringLiteral("showHotkey"), HotKeys::showPanelChoices(),
                                &Prefs::setShowHotkeyLabel);
    section->addRow(QStringLiteral("Show clipboard panel"), m_showHotkey);
    m_warning = FormKit::label(QString(), Fonts::ui(11.5), Brisel::gold(), section);
    m_warning->setObjectName(QStringLiteral("hotkeyWarning"));
    m_warning->setWordWrap(true);
    section->addWidget(m_warning);

    m_serialNextHotkey = hotkeyPicker(QStringLiteral("serialNextHotkey"), HotKeys::auxChoices(),
                                      &Prefs::setSerialNextHotkeyLabel);
    section->addRow(QStringLiteral("Serial paste — paste next"), m_serialNextHotkey);
    m_plainModeHotkey = hotkeyPicker(QStringLiteral("plainModeHotkey"), HotKeys::auxChoices(),
                                     &Prefs::setPlainModeHotkeyLabel);
    section->addRow(QStringLiteral("Toggle plain-text mode"), m_plainModeHotkey);
    m_pauseHotkey = hotkeyPicker(QStringLiteral("pauseHotkey"), HotKeys::auxChoices(),
                                 &Prefs::setPauseHotkeyLabel);
    section->addRow(QStringLiteral("Pause / resume clipping"), m_pauseHotkey);
    contentLayout()->addWidget(section);

    QStringList keys;
    for (const char *token :
         {"↩ paste", "⌥↩ plain", "⌘1–9 quick paste", "⌘D pin", "⌘I preview", "⌘⌫ delete"})
        keys.append(PanelKeys::displayLabel(QString::fromUtf8(token)));
    QLabel *help = FormKit::caption(QStringLiteral("In-panel: ") + keys.join(QStringLiteral(" · ")),
                                    content());
    help->setObjectName(QStringLiteral("shortcutHelp"));
    contentLayout()->addSpacing(2);
    contentLayout()->addWidget(help);
    contentLayout()->addStretch(1);

    for (auto signal : {&Prefs::showHotkeyLabelChanged, &Prefs::serialNextHotkeyLabelChanged,
                        &Prefs::plainModeHotkeyLabelChanged, &Prefs::pauseHotkeyLabelChanged})
        connect(&m_prefs, signal, this, &ShortcutsPage::refresh);
    syncPickers();
}

QComboBox *ShortcutsPage::hotkeyPicker(const QString &name, const QStringList &choices,
                                       void (Prefs::*store)(const QString &))
{
    QComboBox *picker = FormKit::picker(name, this);
    for (const QString &label : choices)
        picker->addItem(HotKeys::displayLabel(label), label);
    connect(picker, &QComboBox::activated, this, [this, picker, store](int index) {
        (m_prefs.*store)(picker->itemData(index).toString());
        // The registrar watches no preference: every change rebinds all shortcuts.
        m_hotKeys.bindAll();
        updateWarning();
    });
    return picker;
}

void ShortcutsPage::refresh()
{
    syncPickers();
    updateWarning();
}

void ShortcutsPage::syncPickers()
{
    const auto show = [](QComboBox *picker, const QString &label, const QString &inForce) {
        int index = picker->findData(label);
        if (index < 0)
            index = picker->findData(inForce);
        if (index < 0)
            index = picker->findData(HotKeys::offLabel);
        picker->setCurrentIndex(index);
    };
    // An unusable label binds nothing of its own: the show-panel key falls back to whatever
    // was bound instead, and the optional keys stay off.
    show(m_showHotkey, m_prefs.showHotkeyLabel(), Prefs::activeHotkeyLabel());
    show(m_serialNextHotkey, m_prefs.serialNextHotkeyLabel(), HotKeys::offLabel);
    show(m_plainModeHotkey, m_prefs.plainModeHotkeyLabel(), HotKeys::offLabel);
    show(m_pauseHotkey, m_prefs.pauseHotkeyLabel(), HotKeys::offLabel);
}

QString ShortcutsPage::hotkeyWarning() const
{
    const QString active = Prefs::activeHotkeyLabel();
    const QString preferred = m_prefs.showHotkeyLabel();
    if (active.isEmpty() || active == preferred || preferred == HotKeys::offLabel)
        return QString();
    // A label that names no combination was never tried, so nothing took it.
    if (!HotKeys::preset(preferred))
        return QString();
    return QStringLiteral("Preferred combo is taken (held by another application?). Active now: ") +
           HotKeys::displayLabel(active);
}

void ShortcutsPage::updateWarning()
{
    const QString warning = hotkeyWarning();
    m_warning->setText(warning);
    m_warning->parentWidget()->setVisible(!warning.isEmpty());
}
