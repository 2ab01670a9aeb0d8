#pragma once

#include <QHash>
#include <QKeyCombination>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class HotKeyRegistrar;

// One global shortcut. The label is what preferences store ("⌥⌘V"); the combination is what
// the desktop grabs (Meta+Alt+V).
struct Combo
{
    QString label;
    QKeyCombination keys;

    friend bool operator==(const Combo &, const Combo &) = default;
};

namespace HotKeys {

// The label of a shortcut that is switched off.
inline const QString offLabel = QStringLiteral("Off");

// The seven combinations a user can choose from, in the order the settings list them.
const QList<Combo> &presets();
std::optional<Combo> preset(const QString &label);

// What the settings pickers offer, in order.
QStringList showPanelChoices();
QStringList auxChoices();
// Tried after the preferred show-panel label when that one cannot be had.
QStringList showPanelFallbacks();

// Labels write modifier symbols ⌃ ⌥ ⇧ ⌘ (Control, Alt, Shift, and Meta for the Super key),
// each at most once and in that order, then one capital letter or digit. Pure and total: any
// text gives either a combination or nothing. At least one modifier is needed, since a bare
// letter cannot serve as a system-wide shortcut.
std::optional<QKeyCombination> parseLabel(const QString &label);
// The label of a combination; empty when no label can say it (no modifier, another key, or
// a modifier labels do not have).
QString label(QKeyCombination keys);

// A stored label as Linux users read it, e.g. "⌥⌘V" → "Super+Alt+V". Texts that are not a
// label (such as "Off") come back unchanged.
QString displayLabel(const QString &label);

} // namespace HotKeys

// Registers the program's global shortcuts from the preferences: the picker toggle, with its
// fallback chain, and the optional serial-paste, plain-mode and pause keys. Every bindAll()
// starts from nothing, so a changed preference never leaves a stale grab behind.
class HotKeyCenter : public QObject
{
    Q_OBJECT

public:
    // What the application runs for the two shortcuts whose work lives above this layer.
    struct Actions
    {
        std::function<void()> togglePanel;
        std::function<void()> serialNext;
    };

    struct Binding
    {
        quint32 id = 0;
        QString label;
    };

    explicit HotKeyCenter(HotKeyRegistrar &registrar, QObject *parent = nullptr);
    ~HotKeyCenter() override;

    // Looked up at the moment of each press, so the order of setActions() and bindAll() does
    // not matter.
    void setActions(Actions actions);

    void bindAll();
    bool registerCombo(const Combo &combo, std::function<void()> action);
    void unregisterAll();

    // The registered shortcuts in registration order; ids count up from 1 after every
    // unregisterAll().
    QList<Binding> bindings() const;

private:
    struct Registration
    {
        quint32 handle = 0;
        QString label;
        std::function<void()> action;
    };

    void bindShowPanel();
    void bindOptional(const QString &label, std::function<void()> action);
    void onPressed(quint32 handle);

    HotKeyRegistrar &m_registrar;
    Actions m_actions;
    QHash<quint32, Registration> m_registrations; // by id
    quint32 m_nextId = 1;
};
