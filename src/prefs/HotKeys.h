#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QHash>
#include <QKeyCombination>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

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

// What each shortcut is for, as desktops that assign the keys list them. The ids stay the
// same across releases: the desktop keeps the user's choice of keys under them.
const HotKeyRegistrar::Purpose &showPanelPurpose();
const HotKeyRegistrar::Purpose &serialNextPurpose();
const HotKeyRegistrar::Purpose &plainModePurpose();
const HotKeyRegistrar::Purpose &pausePurpose();

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
// starts from nothing, so a changed preference never leaves a stale grab behind. Where the
// desktop assigns the keys, the show-panel key in force is known (stored and logged) once the
// desktop has answered, and the fallback chain follows its answer.
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
        QString purposeId;
        QString assignedKeys; // where the desktop assigns keys: its description of them
    };

    explicit HotKeyCenter(HotKeyRegistrar &registrar, QObject *parent = nullptr);
    ~HotKeyCenter() override;

    // Looked up at the moment of each press, so the order of setActions() and bindAll() does
    // not matter.
    void setActions(Actions actions);

    void bindAll();
    bool registerCombo(const Combo &combo, const HotKeyRegistrar::Purpose &purpose,
                       std::function<void()> action);
    void unregisterAll();

    // The registered shortcuts in registration order; ids count up from 1 after every
    // unregisterAll().
    QList<Binding> bindings() const;
    HotKeyRegistrar::Route route() const { return m_registrar.route(); }
    // Whether the desktop has yet to answer for the show-panel key.
    bool awaitingDesktop() const { return !m_pendingShowLabel.isEmpty(); }

Q_SIGNALS:
    // What is bound, or what the desktop assigned, has changed.
    void changed();

private:
    struct Registration
    {
        quint32 handle = 0;
        QString label;
        QString purposeId;
        std::function<void()> action;
    };

    void bindShowPanel();
    void bindNextShowPanelCandidate();
    void settleShowPanel(QString label);
    void bindOptional(const QString &label, const HotKeyRegistrar::Purpose &purpose,
                      std::function<void()> action);
    void togglePanel();
    void onPressed(quint32 handle);
    void onSettled(const QList<quint32> &unassigned, bool declined);

    HotKeyRegistrar &m_registrar;
    Actions m_actions;
    QHash<quint32, Registration> m_registrations; // by id
    quint32 m_nextId = 1;
    // Show-panel labels still to try, in order, and the one awaiting the desktop's answer.
    QStringList m_showCandidates;
    QString m_pendingShowLabel;
    quint32 m_showPanelId = 0;
};
