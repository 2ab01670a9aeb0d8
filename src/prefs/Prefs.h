#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

// The user's settings, one observable property each, backed by an INI file. Values are loaded
// once at construction; every set keeps the value, writes it through to the file (flushed at
// once, so another process sees it), emits the property's change signal and then changed()
// — even when the value did not change, because callers that flip a flag
// rely on the announcement. Absent or unreadable keys read as their defaults, and nothing is
// written until something is set. Lives on the main thread.
class Prefs : public QObject
{
    Q_OBJECT
    // Declared in load order.
    Q_PROPERTY(int historyCap READ historyCap WRITE setHistoryCap NOTIFY historyCapChanged)
    Q_PROPERTY(bool autoPaste READ autoPaste WRITE setAutoPaste NOTIFY autoPasteChanged)
    Q_PROPERTY(
        bool plainTextMode READ plainTextMode WRITE setPlainTextMode NOTIFY plainTextModeChanged)
    Q_PROPERTY(bool soundOn READ soundOn WRITE setSoundOn NOTIFY soundOnChanged)
    Q_PROPERTY(
        bool ignoreHandoff READ ignoreHandoff WRITE setIgnoreHandoff NOTIFY ignoreHandoffChanged)
    Q_PROPERTY(QString ignoredApps READ ignoredApps WRITE setIgnoredApps NOTIFY ignoredAppsChanged)
    Q_PROPERTY(int fontSize READ fontSize WRITE setFontSize NOTIFY fontSizeChanged)
    Q_PROPERTY(int density READ density WRITE setDensity NOTIFY densityChanged)
    Q_PROPERTY(QString showHotkeyLabel READ showHotkeyLabel WRITE setShowHotkeyLabel NOTIFY
                   showHotkeyLabelChanged)
    Q_PROPERTY(QString serialNextHotkeyLabel READ serialNextHotkeyLabel WRITE
                   setSerialNextHotkeyLabel NOTIFY serialNextHotkeyLabelChanged)
    Q_PROPERTY(QString plainModeHotkeyLabel READ plainModeHotkeyLabel WRITE setPlainModeHotkeyLabel
                   NOTIFY plainModeHotkeyLabelChanged)
    Q_PROPERTY(QString pauseHotkeyLabel READ pauseHotkeyLabel WRITE setPauseHotkeyLabel NOTIFY
                   pauseHotkeyLabelChanged)
    Q_PROPERTY(bool paused READ paused WRITE setPaused NOTIFY pausedChanged)
    // Derived from ignoredApps on every read; never stored.
    Q_PROPERTY(QStringList ignoredAppIds READ ignoredAppIds NOTIFY ignoredAppsChanged)

public:
    // The settings of this user, created on first use.
    static Prefs &shared();
    // $XDG_CONFIG_HOME/ulvane/ulvane.conf
    static QString defaultSettingsPath();

    explicit Prefs(const QString &settingsPath, QObject *parent = nullptr);

    QString settingsPath() const { return m_settingsPath; }

    static QString defaultIgnoredApps();

    // The application ids of an ignored-apps text: one per line at any kind of line break, blanks
    // and tabs trimmed, empty lines and "#" comments dropped, order and duplicates kept.
    static QStringList parseAppIds(const QString &text);

    // 0 means no limit.
    int historyCap() const { return m_historyCap; }
    bool autoPaste() const { return m_autoPaste; }
    bool plainTextMode() const { return m_plainTextMode; }
    bool soundOn() const { return m_soundOn; }
    bool ignoreHandoff() const { return m_ignoreHandoff; }
    QString ignoredApps() const { return m_ignoredApps; }
    int fontSize() const { return m_fontSize; }
    int density() const { return m_density; }
    QString showHotkeyLabel() const { return m_showHotkeyLabel; }
    QString serialNextHotkeyLabel() const { return m_serialNextHotkeyLabel; }
    QString plainModeHotkeyLabel() const { return m_plainModeHotkeyLabel; }
    QString pauseHotkeyLabel() const { return m_pauseHotkeyLabel; }
    bool paused() const { return m_paused; }
    QStringList ignoredAppIds() const { return parseAppIds(m_ignoredApps); }

    void setHistoryCap(int cap);
    void setAutoPaste(bool on);
    void setPlainTextMode(bool on);
    void setSoundOn(bool on);
    void setIgnoreHandoff(bool on);
    void setIgnoredApps(const QString &text);
    void setFontSize(int points);
    void setDensity(int density);
    void setShowHotkeyLabel(const QString &label);
    void setSerialNextHotkeyLabel(const QString &label);
    void setPlainModeHotkeyLabel(const QString &label);
    void setPauseHotkeyLabel(const QString &label);
    void setPaused(bool on);

    // Keys that other parts keep in the same file without going through a Prefs object:
    // they neither emit nor post, and work before the shared object exists.
    // The chosen application icon style; empty when none was chosen.
    static QString appIconStyle();
    static void setAppIconStyle(const QString &style);
    // The show-picker combination actually bound; empty when none was recorded.
    static QString activeHotkeyLabel();
    static void setActiveHotkeyLabel(const QString &label);
    // Whether the auto-paste help was already offered (stored as "axPromptShown", a name kept
    // so settings files stay portable).
    static bool autoPastePromptShown();
    static void setAutoPastePromptShown(bool shown);

Q_SIGNALS:
    // After any property's own change signal.
    void changed();
    void historyCapChanged();
    void autoPasteChanged();
    void plainTextModeChanged();
    void soundOnChanged();
    void ignoreHandoffChanged();
    void ignoredAppsChanged();
    void fontSizeChanged();
    void densityChanged();
    void showHotkeyLabelChanged();
    void serialNextHotkeyLabelChanged();
    void plainModeHotkeyLabelChanged();
    void pauseHotkeyLabelChanged();
    void pausedChanged();

private:
    using Signal = void (Prefs::*)();

    void load();
    void persist(const QString &key, const QVariant &value) const;
    void announce(Signal changed);
    template <typename T> void assign(T &field, const T &value, const QString &key, Signal changed)
    {
        field = value;
        persist(key, value);
        announce(changed);
    }

    QString m_settingsPath;
    // Loaded by the constructor; the defaults live next to the keys in Prefs.cpp.
    int m_historyCap = 0;
    bool m_autoPaste = false;
    bool m_plainTextMode = false;
    bool m_soundOn = false;
    bool m_ignoreHandoff = false;
    QString m_ignoredApps;
    int m_fontSize = 0;
    int m_density = 0;
    QString m_showHotkeyLabel;
    QString m_serialNextHotkeyLabel;
    QString m_plainModeHotkeyLabel;
    QString m_pauseHotkeyLabel;
    bool m_paused = false;
};
