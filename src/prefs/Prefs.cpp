#include "prefs/Prefs.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <limits>

namespace {

namespace Key {
const QString historyCap = QStringLiteral("historyCap");
const QString autoPaste = QStringLiteral("autoPaste");
const QString plainTextMode = QStringLiteral("plainTextMode");
const QString soundOn = QStringLiteral("soundOn");
const QString ignoreHandoff = QStringLiteral("ignoreHandoff");
const QString ignoredApps = QStringLiteral("ignoredApps");
const QString fontSize = QStringLiteral("fontSize");
const QString density = QStringLiteral("density");
const QString showHotkeyLabel = QStringLiteral("showHotkeyLabel");
const QString serialNextHotkeyLabel = QStringLiteral("serialNextHotkeyLabel");
const QString plainModeHotkeyLabel = QStringLiteral("plainModeHotkeyLabel");
const QString pauseHotkeyLabel = QStringLiteral("pauseHotkeyLabel");
const QString paused = QStringLiteral("paused");
// Kept in the same file by other parts, outside any Prefs object.
const QString appIconStyle = QStringLiteral("appIconStyle");
const QString activeHotkeyLabel = QStringLiteral("activeHotkeyLabel");
const QString axPromptShown = QStringLiteral("axPromptShown");
} // namespace Key

namespace Default {
constexpr int historyCap = 1000;
constexpr bool autoPaste = true;
constexpr bool plainTextMode = false;
constexpr bool soundOn = false;
constexpr bool ignoreHandoff = false;
constexpr int fontSize = 13;
constexpr int density = 1;
// Option, Command, V.
const QString showHotkeyLabel = QStringLiteral("\u2325\u2318V");
const QString offHotkeyLabel = QStringLiteral("Off");
constexpr bool paused = false;
} // namespace Default

// The file is hand-editable, so a value may be anything: whatever does not read cleanly as
// the key's type falls back to the default instead of becoming 0, false or "".

int readInt(const QSettings &settings, const QString &key, int fallback)
{
    bool ok = false;
    // Through 64 bits: QVariant's direct conversion to int wraps large numbers silently.
    const qlonglong number = settings.value(key).toLongLong(&ok);
    if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return fallback;
    return int(number);
}

bool readBool(const QSettings &settings, const QString &key, bool fallback)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString word = value.toString().trimmed().toLower();
    if (word == u"true" || word == u"yes")
        return true;
    if (word == u"false" || word == u"no")
        return false;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return ok ? number != 0 : fallback;
}

QString readText(const QSettings &settings, const QString &key, const QString &fallback)
{
    const QVariant value = settings.value(key);
    // An unquoted comma in a hand-edited line makes the INI reader split the text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    // An empty text is a value the user chose (a cleared ignore list), not an absent one.
    if (!value.isValid() || !value.canConvert<QString>())
        return fallback;
    return value.toString();
}

// Flushed at once, so a second process (the --show command, say) sees the change. Each write
// opens the file afresh and QSettings merges on sync, so writers of different keys never
// overwrite each other. A line the INI reader cannot parse (a "# note", a stray word) makes
// the sync report a format error, yet the file is still written without that line.
void writeValue(const QString &path, const QString &key, const QVariant &value)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        Log::line(QStringLiteral("[Prefs] could not write %1 to %2").arg(key, path));
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringView trimBlanks(QStringView line)
{
    while (!line.isEmpty() && isBlank(line.front()))
        line = line.sliced(1);
    while (!line.isEmpty() && isBlank(line.back()))
        line.chop(1);
    return line;
}

} // namespace

Prefs &Prefs::shared()
{
    static Prefs *prefs = [] {
        auto *made = new Prefs(defaultSettingsPath());
        if (QCoreApplication *app = QCoreApplication::instance())
            made->moveToThread(app->thread());
        return made;
    }();
    return *prefs;
}

QString Prefs::defaultSettingsPath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/ulvane/ulvane.conf");
}

Prefs::Prefs(const QString &settingsPath, QObject *parent)
    : QObject(parent), m_settingsPath(settingsPath)
{
    load();
}

QString Prefs::defaultIgnoredApps()
{
    // Password managers by the ids of their desktop entries: Debian's packages, the vendors'
    // own packages and Flathub's. The earlier defaults stay, so a list never edited only grows.
    return QStringLiteral(
        "# One application id per line. Clips from these apps are never captured.\n"
        "org.keepassxc.KeePassXC\n"
        "keepass2\n"
        "1password\n"
        "com.onepassword.OnePassword\n"
        "bitwarden\n"
        "com.bitwarden.desktop\n"
        "proton-pass\n"
        "me.proton.Pass\n"
        "org.gnome.seahorse.Application\n"
        "org.kde.kwalletmanager5\n"
        "org.kde.kwalletmanager\n"
        "com.apple.keychainaccess\n"
        "com.1password.1password\n"
        "com.agilebits.onepassword7");
}

QStringList Prefs::parseAppIds(const QString &text)
{
    QStringList ids;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text[i]))
            continue;
        const QStringView line = trimBlanks(QStringView(text).sliced(start, i - start));
        if (!line.isEmpty() && !line.startsWith(u'#'))
            ids.append(line.toString());
        start = i + 1;
    }
    return ids;
}

void Prefs::load()
{
    const QSettings settings(m_settingsPath, QSettings::IniFormat);
    if (settings.status() == QSettings::FormatError)
        Log::line(QStringLiteral("[Prefs] unreadable lines in %1 are ignored").arg(m_settingsPath));
    m_historyCap = readInt(settings, Key::historyCap, Default::historyCap);
    m_autoPaste = readBool(settings, Key::autoPaste, Default::autoPaste);
    m_plainTextMode = readBool(settings, Key::plainTextMode, Default::plainTextMode);
    m_soundOn = readBool(settings, Key::soundOn, Default::soundOn);
    m_ignoreHandoff = readBool(settings, Key::ignoreHandoff, Default::ignoreHandoff);
    m_ignoredApps = readText(settings, Key::ignoredApps, defaultIgnoredApps());
    m_fontSize = readInt(settings, Key::fontSize, Default::fontSize);
    m_density = readInt(settings, Key::density, Default::density);
    m_showHotkeyLabel = readText(settings, Key::showHotkeyLabel, Default::showHotkeyLabel);
    m_serialNextHotkeyLabel =
        readText(settings, Key::serialNextHotkeyLabel, Default::offHotkeyLabel);
    m_plainModeHotkeyLabel = readText(settings, Key::plainModeHotkeyLabel, Default::offHotkeyLabel);
    m_pauseHotkeyLabel = readText(settings, Key::pauseHotkeyLabel, Default::offHotkeyLabel);
    m_paused = readBool(settings, Key::paused, Default::paused);
}

void Prefs::persist(const QString &key, const QVariant &value) const
{
    writeValue(m_settingsPath, key, value);
}

void Prefs::announce(Signal changed)
{
    Q_EMIT(this->*changed)();
    Q_EMIT this->changed();
}

void Prefs::setHistoryCap(int cap)
{
    assign(m_historyCap, cap, Key::historyCap, &Prefs::historyCapChanged);
}

void Prefs::setAutoPaste(bool on)
{
    assign(m_autoPaste, on, Key::autoPaste, &Prefs::autoPasteChanged);
}

void Prefs::setPlainTextMode(bool on)
{
    assign(m_plainTextMode, on, Key::plainTextMode, &Prefs::plainTextModeChanged);
}

void Prefs::setSoundOn(bool on)
{
    assign(m_soundOn, on, Key::soundOn, &Prefs::soundOnChanged);
}

void Prefs::setIgnoreHandoff(bool on)
{
    assign(m_ignoreHandoff, on, Key::ignoreHandoff, &Prefs::ignoreHandoffChanged);
}

void Prefs::setIgnoredApps(const QString &text)
{
    assign(m_ignoredApps, text, Key::ignoredApps, &Prefs::ignoredAppsChanged);
}

void Prefs::setFontSize(int points)
{
    assign(m_fontSize, points, Key::fontSize, &Prefs::fontSizeChanged);
}

void Prefs::setDensity(int density)
{
    assign(m_density, density, Key::density, &Prefs::densityChanged);
}

void Prefs::setShowHotkeyLabel(const QString &label)
{
    assign(m_showHotkeyLabel, label, Key::showHotkeyLabel, &Prefs::showHotkeyLabelChanged);
}

void Prefs::setSerialNextHotkeyLabel(const QString &label)
{
    assign(m_serialNextHotkeyLabel, label, Key::serialNextHotkeyLabel,
           &Prefs::serialNextHotkeyLabelChanged);
}

void Prefs::setPlainModeHotkeyLabel(const QString &label)
{
    assign(m_plainModeHotkeyLabel, label, Key::plainModeHotkeyLabel,
           &Prefs::plainModeHotkeyLabelChanged);
}

void Prefs::setPauseHotkeyLabel(const QString &label)
{
    assign(m_pauseHotkeyLabel, label, Key::pauseHotkeyLabel, &Prefs::pauseHotkeyLabelChanged);
}

void Prefs::setPaused(bool on)
{
    assign(m_paused, on, Key::paused, &Prefs::pausedChanged);
}

// The direct keys live in the shared object's file but never go through it, so they work
// before it exists and never announce anything.

QString Prefs::appIconStyle()
{
    return readText(QSettings(defaultSettingsPath(), QSettings::IniFormat), Key::appIconStyle,
                    QString());
}

void Prefs::setAppIconStyle(const QString &style)
{
    writeValue(defaultSettingsPath(), Key::appIconStyle, style);
}

QString Prefs::activeHotkeyLabel()
{
    return readText(QSettings(defaultSettingsPath(), QSettings::IniFormat), Key::activeHotkeyLabel,
                    QString());
}

void Prefs::setActiveHotkeyLabel(const QString &label)
{
    writeValue(defaultSettingsPath(), Key::activeHotkeyLabel, label);
}

bool Prefs::autoPastePromptShown()
{
    return readBool(QSettings(defaultSettingsPath(), QSettings::IniFormat), Key::axPromptShown,
                    false);
}

void Prefs::setAutoPastePromptShown(bool shown)
{
    writeValue(defaultSettingsPath(), Key::axPromptShown, shown);
}
