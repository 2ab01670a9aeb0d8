#include "app/settings/ShortcutsPage.h"

#include "panel/FormKit.h"
#include "panel/PanelKeys.h"
#include "panel/Theme.h"
#include "platform/HotKeyRegistrar.h"
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
    m_desktopNote = FormKit::caption(QString(), section);
    m_desktopNote->setObjectName(QStringLiteral("desktopShortcutsNote"));
    m_desktopNote->setWordWrap(true);
    m_desktopNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    section->addWidget(m_desktopNote);
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
    // The desktop answers for its shortcuts later, and its settings can change them.
    connect(&m_hotKeys, &HotKeyCenter::changed, this, &ShortcutsPage::refresh);
    syncPickers();
    updateDesktopNote();
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
    updateDesktopNote();
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
    // Where nothing can be bound, no other application took the key; the note says why.
    if (m_hotKeys.route() == HotKeyRegistrar::Route::Unavailable)
        return QString();
    // A label that names no combination was never tried, so nothing took it.
    if (!HotKeys::preset(preferred))
        return QString();
    return QStringLiteral("Preferred combo is taken (held by another application?). Active now: ") +
           HotKeys::displayLabel(active);
}

QString ShortcutsPage::desktopNote() const
{
    switch (m_hotKeys.route()) {
    case HotKeyRegistrar::Route::Grab:
        return QString();
    case HotKeyRegistrar::Route::Unavailable:
        return QStringLiteral(
            "This desktop lets no application grab global shortcuts, so the keys above do "
            "nothing here. To open the clipboard panel from the keyboard, add a shortcut in the "
            "desktop's keyboard settings that runs: ulvane --show");
    case HotKeyRegistrar::Route::DesktopAssigned:
        break;
    }
    const struct
    {
        const HotKeyRegistrar::Purpose &purpose;
        const char *title;
    } rows[] = {
        {HotKeys::showPanelPurpose(), "Show clipboard panel"},
        {HotKeys::serialNextPurpose(), "Serial paste — paste next"},
        {HotKeys::plainModePurpose(), "Toggle plain-text mode"},
        {HotKeys::pausePurpose(), "Pause / resume clipping"},
    };
    const QList<HotKeyCenter::Binding> bindings = m_hotKeys.bindings();
    QStringList inForce;
    for (const auto &row : rows) {
        for (const HotKeyCenter::Binding &binding : bindings) {
            if (binding.purposeId != row.purpose.id)
                continue;
            const QString keys = !binding.assignedKeys.isEmpty() ? binding.assignedKeys
                                 : m_hotKeys.awaitingDesktop()   ? QStringLiteral("asking…")
                                                                 : QStringLiteral("none");
            inForce.append(QString::fromUtf8(row.title) + QStringLiteral(": ") + keys);
        }
    }
    QString note = QStringLiteral(
        "The desktop assigns these shortcuts: the choices above are what Ulvane asks for, and "
        "the keys in force are changed in the desktop's own settings (on KDE Plasma: System "
        "Settings → Shortcuts).");
    if (!inForce.isEmpty())
        note += QStringLiteral("\nIn force: ") + inForce.join(QStringLiteral(" · "));
    return note;
}

void ShortcutsPage::updateDesktopNote()
{
    const QString note = desktopNote();
    m_desktopNote->setText(note);
    m_desktopNote->parentWidget()->setVisible(!note.isEmpty());
}

void ShortcutsPage::updateWarning()
{
    const QString warning = hotkeyWarning();
    m_warning->setText(warning);
    m_warning->parentWidget()->setVisible(!warning.isEmpty());
}
