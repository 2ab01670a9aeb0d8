#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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
    // One entry file, or absent when it is no application entry (unreadable, too large, no
    // [Desktop Entry] group, hidden, or of another type).
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
