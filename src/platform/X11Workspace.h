#pragma once

#include "platform/Workspace.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QStringList>

#include <array>

#include <optional>

class QDBusConnection;
struct xcb_connection_t;

// The installed desktop entries ($XDG_DATA_HOME/applications, then each
// $XDG_DATA_DIRS/applications), indexed for turning a window's WM_CLASS into an application
// id and a name. Scanning the folders costs milliseconds, so the index is kept and rebuilt
// only on a miss, and then not more often than every few seconds.
class DesktopEntryIndex
{
public:
    struct Entry
    {
        QString id;   // the file name without ".desktop"; subfolders joined with '-'
        QString name; // the unlocalised Name=
        QString startupWMClass;
        QString icon; // Icon=: a theme icon name or an absolute path
    };

    static constexpr int defaultRebuildIntervalMs = 5000;

    explicit DesktopEntryIndex(int rebuildIntervalMs = defaultRebuildIntervalMs)
        : m_rebuildIntervalMs(rebuildIntervalMs)
    {}

    // The entry with that application id, compared without regard to case.
    std::optional<Entry> byId(const QString &id);
    // The entry for a window of that class and instance: by StartupWMClass, else by id, else
    // by the file name alone or the last part of a reverse-DNS id.
    std::optional<Entry> byWindowClass(const QString &windowClass, const QString &instance);

    // The folders searched, most important first.
    static QStringList applicationDirs();
    // One entry file, or absent when it is no application entry.
    static std::optional<Entry> parse(const QString &path, const QString &id);

private:
    template <typename Lookup> std::optional<Entry> find(const Lookup &lookup);
    void rebuild();
    std::optional<Entry> lookupId(const QString &id) const;
    std::optional<Entry> lookupClass(const QString &windowClass, const QString &instance) const;

    int m_rebuildIntervalMs;
    bool m_built = false;
    QDeadlineTimer m_nextRebuild;
    QList<Entry> m_entries;
    QHash<QString, qsizetype> m_byId;        // lower-case id → index
    QHash<QString, qsizetype> m_byWMClass;   // lower-case StartupWMClass → index
    QHash<QString, qsizetype> m_byShortName; // lower-case file name or last id part → index
};

// The active window and its application through EWMH, over an X connection of our own so
// nothing here depends on Qt's platform plugin. Sleep and wake come from logind.
class X11Workspace : public Workspace
{
    Q_OBJECT

public:
    // Connects to $DISPLAY, or to the given display name. Without a server every answer is
    // empty and activation does nothing.
    explicit X11Workspace(const QByteArray &displayName = {}, QObject *parent = nullptr);
    ~X11Workspace() override;

    bool isConnected() const { return m_connection != nullptr; }

    std::optional<AppInfo> frontmostApplication() override;
    quint64 activeWindow() override;
    void activateWindow(quint64 window) override;
    void showOnAllDesktops(quint64 window) override;
    QString windowClass(quint64 window) override;

    // The application owning any window; absent when the window says nothing about itself.
    std::optional<AppInfo> applicationOf(quint64 window);
    // WM_CLASS as {instance, class}; empty when the window has none.
    QStringList windowClassPair(quint64 window);

    // Also listens for PrepareForSleep on the given bus; the system bus, when there is one,
    // is watched from construction on.
    bool watchSleep(const QDBusConnection &bus);

private Q_SLOTS:
    void handlePrepareForSleep(bool sleeping);

private:
    void connectToServer(const QByteArray &displayName);
    quint32 intern(const char *name);
    QByteArray property(quint32 window, quint32 property, quint32 type, quint32 maxLongs = 1024);
    bool hasEwmhManager();
    quint32 currentInputFocus();

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    // An EWMH request to the window manager about `window`, sent to the root window.
    void sendToWindowManager(quint32 window, quint32 type, const std::array<quint32, 3> &data);

    struct Atoms
    {
        quint32 activeWindow = 0;
        quint32 wmPid = 0;
        quint32 gtkApplicationId = 0;
        quint32 utf8String = 0;
        quint32 supportingWmCheck = 0;
        quint32 wmDesktop = 0;
    } m_atoms;
    DesktopEntryIndex m_entries;
};
