#include "prefs/HotKeys.h"

#include "platform/HotKeyRegistrar.h"
#include "platform/MacKeyCodes.h"
#include "platform/X11HotKeyRegistrar.h"
#include "prefs/Prefs.h"
#include "core/Log.h"

#include <array>

namespace {

constexpr char16_t ControlSymbol = u'\u2303';
constexpr char16_t OptionSymbol = u'\u2325';
constexpr char16_t ShiftSymbol = u'\u21E7';
constexpr char16_t CommandSymbol = u'\u2318';

struct Modifier
{
    char16_t symbol;
    quint32 carbonMask;
    const char *linuxName;
};

// In the order labels write them.
constexpr std::array<Modifier, 4> modifiers{{
    {ControlSymbol, HotKeyRegistrar::ControlMod, "Ctrl"},
    {OptionSymbol, HotKeyRegistrar::OptionMod, "Alt"},
    {ShiftSymbol, HotKeyRegistrar::ShiftMod, "Shift"},
    {CommandSymbol, HotKeyRegistrar::CommandMod, "Super"},
}};

constexpr quint32 V = 9;
constexpr quint32 P = 35;
constexpr quint32 X = 7;
constexpr quint32 CtrlOpt = HotKeyRegistrar::ControlMod | HotKeyRegistrar::OptionMod;
constexpr quint32 OptCmd = HotKeyRegistrar::OptionMod | HotKeyRegistrar::CommandMod;
constexpr quint32 CtrlOptCmd = CtrlOpt | HotKeyRegistrar::CommandMod;
constexpr quint32 ShiftCmd = HotKeyRegistrar::ShiftMod | HotKeyRegistrar::CommandMod;

QString makeLabel(std::initializer_list<char16_t> symbols, char key)
{
    QString text;
    for (const char16_t symbol : symbols)
        text.append(QChar(symbol));
    text.append(QLatin1Char(key));
    return text;
}

} // namespace

namespace HotKeys {

const QList<Combo> &presets()
{
    static const QList<Combo> table{
        {makeLabel({OptionSymbol, CommandSymbol}, 'V'), V, OptCmd},
        {makeLabel({ControlSymbol, OptionSymbol}, 'V'), V, CtrlOpt},
        {makeLabel({ControlSymbol, OptionSymbol, CommandSymbol}, 'V'), V, CtrlOptCmd},
        {makeLabel({ShiftSymbol, CommandSymbol}, 'V'), V, ShiftCmd},
        {makeLabel({ControlSymbol, OptionSymbol}, 'P'), P, CtrlOpt},
        {makeLabel({ControlSymbol, OptionSymbol, CommandSymbol}, 'P'), P, CtrlOptCmd},
        {makeLabel({ControlSymbol, OptionSymbol}, 'X'), X, CtrlOpt},
    };
    return table;
}

std::optional<Combo> preset(const QString &label)
{
    for (const Combo &combo : presets()) {
        if (combo.label == label)
            return combo;
    }
    return std::nullopt;
}

QStringList showPanelChoices()
{
    const QList<Combo> &table = presets();
    return {table[0].label, table[1].label, table[2].label, table[3].label, offLabel};
}

QStringList auxChoices()
{
    const QList<Combo> &table = presets();
    return {offLabel, table[4].label, table[5].label, table[6].label};
}

QStringList showPanelFallbacks()
{
    const QList<Combo> &table = presets();
    return {table[0].label, table[1].label, table[2].label};
}

std::optional<KeyChord> parseLabel(const QString &label)
{
    KeyChord chord;
    qsizetype at = 0;
    // Each modifier may appear once, and only after those that precede it in the table.
    for (const Modifier &modifier : modifiers) {
        if (at < label.size() && label.at(at) == QChar(modifier.symbol)) {
            chord.carbonMods |= modifier.carbonMask;
            ++at;
        }
    }
    if (chord.carbonMods == 0 || at != label.size() - 1)
        return std::nullopt;
    const QChar key = label.at(at);
    const std::optional<quint32> keyCode = MacKeyCodes::fromCharacter(key);
    if (!keyCode)
        return std::nullopt;
    chord.key = key;
    chord.keyCode = *keyCode;
    return chord;
}

// Ctrl, Shift and Super keep the order of the desktops' shortcut editors; Alt is never
// written first, since "Alt+…" reads as a menu mnemonic, so it follows the leading
// modifier: "⌥⌘V" is "Super+Alt+V", "⌃⌥⌘P" is "Ctrl+Alt+Super+P".
QString displayLabel(const QString &label)
{
    const std::optional<KeyChord> chord = parseLabel(label);
    if (!chord)
        return label;
    QStringList names;
    for (const quint32 mask :
         {HotKeyRegistrar::ControlMod, HotKeyRegistrar::ShiftMod, HotKeyRegistrar::CommandMod}) {
        if (!(chord->carbonMods & mask))
            continue;
        for (const Modifier &modifier : modifiers) {
            if (modifier.carbonMask == mask)
                names.append(QLatin1String(modifier.linuxName));
        }
    }
    if (chord->carbonMods & HotKeyRegistrar::OptionMod)
        names.insert(names.isEmpty() ? 0 : 1, QStringLiteral("Alt"));
    names.append(QString(chord->key));
    return names.join(QLatin1Char('+'));
}

} // namespace HotKeys

HotKeyCenter &HotKeyCenter::shared()
{
    // Both live until the process ends; grabs die with the X connection.
    static auto *registrar = new X11HotKeyRegistrar;
    static auto *center = new HotKeyCenter(*registrar);
    return *center;
}

HotKeyCenter::HotKeyCenter(HotKeyRegistrar &registrar, QObject *parent)
    : QObject(parent), m_registrar(registrar)
{
    connect(&m_registrar, &HotKeyRegistrar::pressed, this, &HotKeyCenter::onPressed);
}

HotKeyCenter::~HotKeyCenter()
{
    unregisterAll();
}

void HotKeyCenter::setActions(Actions actions)
{
    m_actions = std::move(actions);
}

void HotKeyCenter::bindAll()
{
    unregisterAll();
    bindShowPanel();

    Prefs &prefs = Prefs::shared();
    bindOptional(prefs.serialNextHotkeyLabel(), [this] {
        if (m_actions.serialNext)
            m_actions.serialNext();
    });
    bindOptional(prefs.plainModeHotkeyLabel(), [] {
        Prefs &prefs = Prefs::shared();
        prefs.setPlainTextMode(!prefs.plainTextMode());
    });
    bindOptional(prefs.pauseHotkeyLabel(), [] {
        Prefs &prefs = Prefs::shared();
        prefs.setPaused(!prefs.paused());
    });
}

void HotKeyCenter::bindShowPanel()
{
    const QString preferred = Prefs::shared().showHotkeyLabel();
    QString active = HotKeys::offLabel;
    if (preferred != HotKeys::offLabel) {
        QStringList candidates{preferred};
        for (const QString &fallback : HotKeys::showPanelFallbacks()) {
            if (fallback != preferred)
                candidates.append(fallback);
        }
        const auto toggle = [this] {
            if (m_actions.togglePanel)
                m_actions.togglePanel();
        };
        for (const QString &candidate : std::as_const(candidates)) {
            const std::optional<Combo> combo = HotKeys::preset(candidate);
            if (combo && registerCombo(*combo, toggle)) {
                active = candidate;
                break;
            }
        }
    }
    Prefs::setActiveHotkeyLabel(active);
    Log::line(QStringLiteral("[HotKeys] show-panel bound to ") + active);
}

// Optional shortcuts have no fallback: a refusal shows only in the register log line.
void HotKeyCenter::bindOptional(const QString &label, std::function<void()> action)
{
    if (label == HotKeys::offLabel)
        return;
    if (const std::optional<Combo> combo = HotKeys::preset(label))
        registerCombo(*combo, std::move(action));
}

bool HotKeyCenter::registerCombo(const Combo &combo, std::function<void()> action)
{
    int status = 0;
    const quint32 handle = m_registrar.grab(combo.keyCode, combo.carbonMods, &status);
    if (handle == 0) {
        Log::line(QStringLiteral("[HotKeys] register failed for %1 (status %2)")
                      .arg(combo.label)
                      .arg(status));
        return false;
    }
    m_registrations.insert(m_nextId, Registration{handle, combo.label, std::move(action)});
    ++m_nextId;
    return true;
}

void HotKeyCenter::unregisterAll()
{
    for (const Registration &registration : std::as_const(m_registrations))
        m_registrar.release(registration.handle);
    m_registrations.clear();
    m_nextId = 1;
}

QList<HotKeyCenter::Binding> HotKeyCenter::bindings() const
{
    QList<Binding> result;
    for (quint32 id = 1; id < m_nextId; ++id) {
        const auto found = m_registrations.constFind(id);
        if (found != m_registrations.constEnd())
            result.append(Binding{id, found->label});
    }
    return result;
}

void HotKeyCenter::onPressed(quint32 handle)
{
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it) {
        if (it->handle != handle)
            continue;
        // A copy: the action may rebind everything and so destroy the registration.
        const std::function<void()> action = it->action;
        if (action)
            action();
        return;
    }
}
