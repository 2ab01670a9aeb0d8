#include "prefs/HotKeys.h"

#include "core/Log.h"
#include "platform/HotKeyRegistrar.h"
#include "prefs/Prefs.h"

#include <array>

namespace {

constexpr char16_t ControlSymbol = u'\u2303';
constexpr char16_t OptionSymbol = u'\u2325';
constexpr char16_t ShiftSymbol = u'\u21E7';
constexpr char16_t CommandSymbol = u'\u2318';

struct Modifier
{
    char16_t symbol;
    Qt::KeyboardModifier modifier;
    const char *linuxName;
};

// In the order labels write them. The stored ⌘ has always meant the Super key.
constexpr std::array<Modifier, 4> modifiers{{
    {ControlSymbol, Qt::ControlModifier, "Ctrl"},
    {OptionSymbol, Qt::AltModifier, "Alt"},
    {ShiftSymbol, Qt::ShiftModifier, "Shift"},
    {CommandSymbol, Qt::MetaModifier, "Super"},
}};

constexpr Qt::KeyboardModifiers labelModifiers =
    Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier;

std::optional<Qt::Key> keyOf(QChar character)
{
    if (character >= u'A' && character <= u'Z')
        return Qt::Key(Qt::Key_A + (character.unicode() - u'A'));
    if (character >= u'0' && character <= u'9')
        return Qt::Key(Qt::Key_0 + (character.unicode() - u'0'));
    return std::nullopt;
}

// Key_A … Key_Z and Key_0 … Key_9 carry their ASCII codes.
std::optional<QChar> characterOf(Qt::Key key)
{
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return QChar(char16_t(key));
    return std::nullopt;
}

Combo makeCombo(std::initializer_list<char16_t> symbols, char key)
{
    QString text;
    for (const char16_t symbol : symbols)
        text.append(QChar(symbol));
    text.append(QLatin1Char(key));
    return Combo{text, HotKeys::parseLabel(text).value()};
}

// The number the register log line has always shown for each refusal of ours; a refusal by
// the server shows its own error code.
int loggedStatus(const HotKeyRegistrar::Grab &grab)
{
    switch (grab.status) {
    case HotKeyRegistrar::GrabStatus::Granted:
        return 0;
    case HotKeyRegistrar::GrabStatus::NoDisplay:
        return -1;
    case HotKeyRegistrar::GrabStatus::UnknownKey:
        return -2;
    case HotKeyRegistrar::GrabStatus::AlreadyHeld:
        return -9878;
    case HotKeyRegistrar::GrabStatus::Refused:
        return grab.serverError;
    }
    return 0;
}

} // namespace

namespace HotKeys {

const QList<Combo> &presets()
{
    static const QList<Combo> table{
        makeCombo({OptionSymbol, CommandSymbol}, 'V'),
        makeCombo({ControlSymbol, OptionSymbol}, 'V'),
        makeCombo({ControlSymbol, OptionSymbol, CommandSymbol}, 'V'),
        makeCombo({ShiftSymbol, CommandSymbol}, 'V'),
        makeCombo({ControlSymbol, OptionSymbol}, 'P'),
        makeCombo({ControlSymbol, OptionSymbol, CommandSymbol}, 'P'),
        makeCombo({ControlSymbol, OptionSymbol}, 'X'),
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

const HotKeyRegistrar::Purpose &showPanelPurpose()
{
    static const HotKeyRegistrar::Purpose purpose{QStringLiteral("show-panel"),
                                                  QStringLiteral("Show the clipboard history")};
    return purpose;
}

const HotKeyRegistrar::Purpose &serialNextPurpose()
{
    static const HotKeyRegistrar::Purpose purpose{
        QStringLiteral("serial-next"), QStringLiteral("Paste the next clip of a serial paste")};
    return purpose;
}

const HotKeyRegistrar::Purpose &plainModePurpose()
{
    static const HotKeyRegistrar::Purpose purpose{QStringLiteral("plain-mode"),
                                                  QStringLiteral("Toggle plain-text mode")};
    return purpose;
}

const HotKeyRegistrar::Purpose &pausePurpose()
{
    static const HotKeyRegistrar::Purpose purpose{QStringLiteral("pause"),
                                                  QStringLiteral("Pause or resume clipping")};
    return purpose;
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

std::optional<QKeyCombination> parseLabel(const QString &label)
{
    Qt::KeyboardModifiers mods;
    qsizetype at = 0;
    // Each modifier may appear once, and only after those that precede it in the table.
    for (const Modifier &modifier : modifiers) {
        if (at < label.size() && label.at(at) == QChar(modifier.symbol)) {
            mods |= modifier.modifier;
            ++at;
        }
    }
    if (mods == Qt::NoModifier || at != label.size() - 1)
        return std::nullopt;
    const std::optional<Qt::Key> key = keyOf(label.at(at));
    if (!key)
        return std::nullopt;
    return QKeyCombination(mods, *key);
}

QString label(QKeyCombination keys)
{
    const Qt::KeyboardModifiers mods = keys.keyboardModifiers();
    const std::optional<QChar> character = characterOf(keys.key());
    if (!character || mods == Qt::NoModifier || (mods & ~labelModifiers))
        return QString();
    QString text;
    for (const Modifier &modifier : modifiers) {
        if (mods & modifier.modifier)
            text.append(QChar(modifier.symbol));
    }
    text.append(*character);
    return text;
}

// Ctrl, Shift and Super keep the order of the desktops' shortcut editors; Alt is never
// written first, since "Alt+…" reads as a menu mnemonic, so it follows the leading
// modifier: "⌥⌘V" is "Super+Alt+V", "⌃⌥⌘P" is "Ctrl+Alt+Super+P".
QString displayLabel(const QString &label)
{
    const std::optional<QKeyCombination> keys = parseLabel(label);
    if (!keys)
        return label;
    const Qt::KeyboardModifiers mods = keys->keyboardModifiers();
    QStringList names;
    for (const Qt::KeyboardModifier wanted :
         {Qt::ControlModifier, Qt::ShiftModifier, Qt::MetaModifier}) {
        if (!(mods & wanted))
            continue;
        for (const Modifier &modifier : modifiers) {
            if (modifier.modifier == wanted)
                names.append(QLatin1String(modifier.linuxName));
        }
    }
    if (mods & Qt::AltModifier)
        names.insert(names.isEmpty() ? 0 : 1, QStringLiteral("Alt"));
    names.append(QString(*characterOf(keys->key())));
    return names.join(QLatin1Char('+'));
}

} // namespace HotKeys

HotKeyCenter::HotKeyCenter(HotKeyRegistrar &registrar, QObject *parent)
    : QObject(parent), m_registrar(registrar)
{
    connect(&m_registrar, &HotKeyRegistrar::pressed, this, &HotKeyCenter::onPressed);
    connect(&m_registrar, &HotKeyRegistrar::settled, this, &HotKeyCenter::onSettled);
    connect(&m_registrar, &HotKeyRegistrar::routeChanged, this, &HotKeyCenter::bindAll);
    connect(&m_registrar, &HotKeyRegistrar::assignmentsChanged, this, &HotKeyCenter::changed);
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
    bindOptional(prefs.serialNextHotkeyLabel(), HotKeys::serialNextPurpose(), [this] {
        if (m_actions.serialNext)
            m_actions.serialNext();
    });
    bindOptional(prefs.plainModeHotkeyLabel(), HotKeys::plainModePurpose(), [] {
        Prefs &prefs = Prefs::shared();
        prefs.setPlainTextMode(!prefs.plainTextMode());
    });
    bindOptional(prefs.pauseHotkeyLabel(), HotKeys::pausePurpose(), [] {
        Prefs &prefs = Prefs::shared();
        prefs.setPaused(!prefs.paused());
    });
    Q_EMIT changed();
}

void HotKeyCenter::bindShowPanel()
{
    const QString preferred = Prefs::shared().showHotkeyLabel();
    m_showCandidates.clear();
    m_pendingShowLabel.clear();
    // Where nothing can be bound, trying every candidate would only fill the log.
    if (preferred != HotKeys::offLabel &&
        m_registrar.route() != HotKeyRegistrar::Route::Unavailable) {
        m_showCandidates.append(preferred);
        for (const QString &fallback : HotKeys::showPanelFallbacks()) {
            if (fallback != preferred)
                m_showCandidates.append(fallback);
        }
    }
    bindNextShowPanelCandidate();
}

void HotKeyCenter::bindNextShowPanelCandidate()
{
    while (!m_showCandidates.isEmpty()) {
        const QString candidate = m_showCandidates.takeFirst();
        const std::optional<Combo> combo = HotKeys::preset(candidate);
        if (!combo ||
            !registerCombo(*combo, HotKeys::showPanelPurpose(), [this] { togglePanel(); }))
            continue;
        m_showPanelId = m_nextId - 1;
        if (m_registrar.route() == HotKeyRegistrar::Route::Grab) {
            settleShowPanel(candidate);
        } else {
            // The key stored as in force stays the desktop's last verdict until its next one.
            m_pendingShowLabel = candidate;
        }
        return;
    }
    settleShowPanel(HotKeys::offLabel);
}

void HotKeyCenter::settleShowPanel(QString label)
{
    m_pendingShowLabel.clear();
    Prefs::setActiveHotkeyLabel(label);
    Log::line(QStringLiteral("[HotKeys] show-panel bound to ") + label);
}

void HotKeyCenter::togglePanel()
{
    if (m_actions.togglePanel)
        m_actions.togglePanel();
}

// Optional shortcuts have no fallback: a refusal shows only in the register log line.
void HotKeyCenter::bindOptional(const QString &label, const HotKeyRegistrar::Purpose &purpose,
                                std::function<void()> action)
{
    if (label == HotKeys::offLabel || m_registrar.route() == HotKeyRegistrar::Route::Unavailable)
        return;
    if (const std::optional<Combo> combo = HotKeys::preset(label))
        registerCombo(*combo, purpose, std::move(action));
}

bool HotKeyCenter::registerCombo(const Combo &combo, const HotKeyRegistrar::Purpose &purpose,
                                 std::function<void()> action)
{
    const HotKeyRegistrar::Grab grab = m_registrar.grabFor(purpose, combo.keys);
    if (!grab.granted()) {
        Log::line(QStringLiteral("[HotKeys] register failed for %1 (status %2)")
                      .arg(combo.label)
                      .arg(loggedStatus(grab)));
        return false;
    }
    m_registrations.insert(m_nextId,
                           Registration{grab.handle, combo.label, purpose.id, std::move(action)});
    ++m_nextId;
    return true;
}

// The desktop assigned no keys to some of what was granted. The show-panel key moves on along
// its chain, unless the desktop refused the request as a whole; the last one tried, and the
// optional keys, stay registered without keys, so keys given to them later in the desktop's
// settings work.
void HotKeyCenter::onSettled(const QList<quint32> &unassigned, bool declined)
{
    bool showPanelUnassigned = false;
    // In registration order, so the log reads the same on every run.
    for (quint32 id = 1; id < m_nextId; ++id) {
        const auto it = m_registrations.find(id);
        if (it == m_registrations.end() || !unassigned.contains(it->handle))
            continue;
        Log::line(QStringLiteral("[HotKeys] the desktop assigned no keys to ") + it->label);
        if (id != m_showPanelId)
            continue;
        showPanelUnassigned = true;
        if (declined || m_showCandidates.isEmpty())
            continue;
        m_showPanelId = 0;
        m_registrar.release(it->handle);
        m_registrations.erase(it);
    }
    if (showPanelUnassigned && m_showPanelId == 0) {
        bindNextShowPanelCandidate();
    } else if (showPanelUnassigned) {
        m_showCandidates.clear();
        settleShowPanel(HotKeys::offLabel);
    } else if (!m_pendingShowLabel.isEmpty()) {
        settleShowPanel(m_pendingShowLabel);
    }
    Q_EMIT changed();
}

void HotKeyCenter::unregisterAll()
{
    for (const Registration &registration : std::as_const(m_registrations))
        m_registrar.release(registration.handle);
    m_registrations.clear();
    m_nextId = 1;
    m_showPanelId = 0;
}

QList<HotKeyCenter::Binding> HotKeyCenter::bindings() const
{
    QList<Binding> result;
    for (quint32 id = 1; id < m_nextId; ++id) {
        const auto found = m_registrations.constFind(id);
        if (found != m_registrations.constEnd())
            result.append(Binding{id, found->label, found->purposeId,
                                  m_registrar.assignedKeys(found->handle)});
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
