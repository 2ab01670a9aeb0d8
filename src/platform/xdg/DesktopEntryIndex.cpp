#include "platform/xdg/DesktopEntryIndex.h"

#include "platform/xdg/DesktopEntry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

QString environmentValue(const char *name)
{
    return QFile::decodeName(qgetenv(name));
}

} // namespace

QStringList DesktopEntryIndex::applicationDirs()
{
    QStringList bases;
    QString dataHome = environmentValue("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    bases.append(dataHome);
    QString dataDirs = environmentValue("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        bases.append(dir);

    QStringList dirs;
    for (const QString &base : std::as_const(bases)) {
        const QString dir = QDir::cleanPath(base + QStringLiteral("/applications"));
        if (!dirs.contains(dir))
            dirs.append(dir);
    }
    return dirs;
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::parse(const QString &path,
                                                                 const QString &id)
{
    const std::optional<QString> text = DesktopEntry::readFile(path);
    const std::optional<QHash<QString, QString>> values =
        text ? DesktopEntry::mainGroup(*text) : std::nullopt;
    if (!values)
        return std::nullopt;
    const QString type = values->value(QStringLiteral("Type"));
    const bool hidden = values->value(QStringLiteral("Hidden"))
                            .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    if (hidden || (!type.isEmpty() && type != QLatin1String("Application")))
        return std::nullopt;
    return Entry{id, values->value(QStringLiteral("Name")),
                 values->value(QStringLiteral("StartupWMClass")),
                 values->value(QStringLiteral("Icon"))};
}

void DesktopEntryIndex::rebuild()
{
    m_entries.clear();
    m_byId.clear();
    m_byWMClass.clear();
    m_byShortName.clear();

    for (const QString &dir : applicationDirs()) {
        const QDir root(dir);
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = root.relativeFilePath(path);
            id.chop(int(qstrlen(".desktop")));
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            const QString key = id.toLower();
            // An entry in a more important folder hides the same id further down.
            if (m_byId.contains(key))
                continue;
            const std::optional<Entry> entry = parse(path, id);
            if (!entry)
                continue;
            const qsizetype index = m_entries.size();
            m_entries.append(*entry);
            m_byId.insert(key, index);
            if (!entry->startupWMClass.isEmpty())
                m_byWMClass.insert(entry->startupWMClass.toLower(), index);
            // Weaker names: the file name alone (entries in subfolders) and the last part of a
            // reverse-DNS id ("org.kde.kwrite" for a window of class "kwrite").
            const QString fileName = QFileInfo(path).completeBaseName().toLower();
            if (fileName != key && !m_byShortName.contains(fileName))
                m_byShortName.insert(fileName, index);
            const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
            if (dot >= 0 && dot + 1 < fileName.size() &&
                !m_byShortName.contains(fileName.mid(dot + 1)))
                m_byShortName.insert(fileName.mid(dot + 1), index);
        }
    }
    m_built = true;
    m_nextRebuild.setRemainingTime(m_rebuildIntervalMs);
}

template <typename Lookup>
std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::find(const Lookup &lookup)
{
    if (!m_built)
        rebuild();
    std::optional<Entry> found = lookup();
    // A miss may be an application installed since the last scan.
    if (!found && m_nextRebuild.hasExpired()) {
        rebuild();
        found = lookup();
    }
    return found;
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::lookupId(const QString &id) const
{
    const auto it = m_byId.constFind(id.toLower());
    if (it == m_byId.cend())
        return std::nullopt;
    return m_entries.at(*it);
}

std::optional<DesktopEntryIndex::Entry>
DesktopEntryIndex::lookupClass(const QString &windowClass, const QString &instance) const
{
    const QString names[] = {windowClass.toLower(), instance.toLower()};
    for (const QHash<QString, qsizetype> *table : {&m_byWMClass, &m_byId, &m_byShortName}) {
        for (const QString &name : names) {
            if (name.isEmpty())
                continue;
            const auto it = table->constFind(name);
            if (it != table->cend())
                return m_entries.at(*it);
        }
    }
    return std::nullopt;
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::byId(const QString &id)
{
    if (id.isEmpty())
        return std::nullopt;
    return find([&] { return lookupId(id); });
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::byWindowClass(const QString &windowClass,
                                                                         const QString &instance)
{
    if (windowClass.isEmpty() && instance.isEmpty())
        return std::nullopt;
    return find([&] { return lookupClass(windowClass, instance); });
}
