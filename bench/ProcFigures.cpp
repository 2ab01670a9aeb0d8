#include "ProcFigures.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <map>
#include <unistd.h>

namespace ProcFigures {

namespace {

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    // /proc files report size 0: read until the end rather than by size.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 numberOfField(const QByteArray &line)
{
    return line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toLongLong();
}

// A mapping's header: "start-end perms offset dev inode [path]".
struct Mapping
{
    quint64 start = 0, end = 0;
    QByteArray perms;
    QString path;
    qint64 privateKiB = 0;
};

bool parseHeader(const QByteArray &line, Mapping &mapping)
{
    const qsizetype dash = line.indexOf('-');
    const qsizetype space = line.indexOf(' ');
    if (dash <= 0 || space < dash)
        return false;
    bool startOk = false, endOk = false;
    mapping.start = line.left(dash).toULongLong(&startOk, 16);
    mapping.end = line.mid(dash + 1, space - dash - 1).toULongLong(&endOk, 16);
    if (!startOk || !endOk)
        return false;
    // perms, offset, dev and inode, then the path, which may hold spaces.
    qsizetype at = space;
    for (int field = 0; field < 4; ++field) {
        while (at < line.size() && line.at(at) == ' ')
            ++at;
        const qsizetype next = line.indexOf(' ', at);
        if (field == 0)
            mapping.perms = line.mid(at, next < 0 ? -1 : next - at);
        at = next < 0 ? line.size() : next;
    }
    mapping.path = QString::fromUtf8(line.mid(at).trimmed());
    return true;
}

std::vector<Mapping> parseSmaps(const QByteArray &smaps)
{
    std::vector<Mapping> mappings;
    for (const QByteArray &line : smaps.split('\n')) {
        Mapping header;
        if (parseHeader(line, header)) {
            mappings.push_back(header);
        } else if (!mappings.empty() &&
                   (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:"))) {
            mappings.back().privateKiB += numberOfField(line);
        }
    }
    return mappings;
}

bool isAnonymous(const QString &path)
{
    return path.isEmpty() || path.startsWith(QLatin1String("[anon"));
}

bool isSharedMemory(const QString &path)
{
    return path.startsWith(QLatin1String("/SYSV")) || path.startsWith(QLatin1String("/dev/shm/")) ||
           path.startsWith(QLatin1String("/memfd:"));
}

QString fileName(QString path)
{
    path.remove(QLatin1String(" (deleted)"));
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

qint64 cpuTicksFromStat(const QByteArray &stat)
{
    // The fields after the command name, which may itself hold spaces and parentheses.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return fields.at(11).toLongLong() + fields.at(12).toLongLong();
}

double cpuSeconds(qint64 pid)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return double(cpuTicksFromStat(stat)) / double(sysconf(_SC_CLK_TCK));
}

QHash<QString, ThreadSample> sampleThreads(qint64 pid)
{
    QHash<QString, ThreadSample> threads;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray status = readProcFile(tasks.filePath(task + QStringLiteral("/status")));
        if (status.isEmpty())
            continue;
        ThreadSample thread;
        for (const QByteArray &line : status.split('\n')) {
            if (line.startsWith("Name:"))
                thread.name = QString::fromUtf8(line.mid(5).trimmed());
            else if (line.startsWith("voluntary_ctxt_switches:") ||
                     line.startsWith("nonvoluntary_ctxt_switches:"))
                thread.switches += numberOfField(line);
        }
        // Nanoseconds; the ticks of stat are 10 ms, as coarse as a minute's whole CPU bar.
        const QByteArray schedstat =
            readProcFile(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!schedstat.isEmpty()) {
            thread.runNs = schedstat.split(' ').first().toLongLong();
        } else {
            const QByteArray stat = readProcFile(tasks.filePath(task + QStringLiteral("/stat")));
            thread.runNs = cpuTicksFromStat(stat) * (1'000'000'000 / sysconf(_SC_CLK_TCK));
        }
        threads.insert(task, thread);
    }
    return threads;
}

void ThreadActivity::look(const QHash<QString, ThreadSample> &threads)
{
    if (m_looked) {
        for (auto it = threads.cbegin(); it != threads.cend(); ++it) {
            const auto earlier = m_last.constFind(it.key());
            const bool same = earlier != m_last.cend() && earlier->name == it->name &&
                              earlier->switches <= it->switches && earlier->runNs <= it->runNs;
            Wakeups &thread = m_byName[it->name];
            thread.thread = it->name;
            thread.count += it->switches - (same ? earlier->switches : 0);
            thread.runNs += it->runNs - (same ? earlier->runNs : 0);
            m_runNs += it->runNs - (same ? earlier->runNs : 0);
        }
    }
    m_looked = true;
    m_last = threads;
}

std::vector<Wakeups> ThreadActivity::wakeups() const
{
    std::vector<Wakeups> wakeups(m_byName.cbegin(), m_byName.cend());
    std::sort(wakeups.begin(), wakeups.end(), [](const Wakeups &a, const Wakeups &b) {
        return a.count != b.count ? a.count > b.count : a.thread < b.thread;
    });
    return wakeups;
}

qint64 ThreadActivity::totalWakeups() const
{
    qint64 total = 0;
    for (const Wakeups &thread : m_byName)
        total += thread.count;
    return total;
}

Memory memoryFromRollup(const QByteArray &rollup)
{
    Memory memory;
    for (const QByteArray &line : rollup.split('\n')) {
        if (line.startsWith("Rss:"))
            memory.rssKiB += numberOfField(line);
        else if (line.startsWith("Pss:"))
            memory.pssKiB += numberOfField(line);
        else if (line.startsWith("Private_Clean:"))
            memory.ussKiB += numberOfField(line);
        else if (line.startsWith("Private_Dirty:"))
            memory.dirtyKiB += numberOfField(line);
    }
    memory.ussKiB += memory.dirtyKiB;
    return memory;
}

Memory memoryOf(qint64 pid)
{
    return memoryFromRollup(readProcFile(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)));
}

std::vector<PrivatePart> privateParts(const QByteArray &smaps, const QString &storeFolder,
                                      const std::vector<quint64> &stackPointers, int topFiles)
{
    const QString heap = QStringLiteral("heap"), stacks = QStringLiteral("stacks"),
                  anonymous = QStringLiteral("other anonymous memory"),
                  store = QStringLiteral("store files"),
                  shared = QStringLiteral("shared-memory segments"),
                  special = QStringLiteral("kernel mappings");
    const QString storePrefix = storeFolder.isEmpty() ? QString() : storeFolder + u'/';
    // What a mapping with a path is: one of the kinds, or a file by its name (isFile).
    auto named = [&](const QString &path, bool *isFile) {
        *isFile = false;
        if (path == QLatin1String("[heap]"))
            return heap;
        if (path.startsWith(QLatin1String("[stack")))
            return stacks;
        if (path.startsWith(u'['))
            return special;
        if (!storePrefix.isEmpty() && path.startsWith(storePrefix))
            return store;
        if (isSharedMemory(path))
            return shared;
        *isFile = true;
        return fileName(path);
    };

    std::map<QString, qint64> kinds{{heap, 0},  {stacks, 0}, {anonymous, 0},
                                    {store, 0}, {shared, 0}, {special, 0}};
    std::map<QString, qint64> files;
    const std::vector<Mapping> mappings = parseSmaps(smaps);
    for (size_t i = 0; i < mappings.size(); ++i) {
        const Mapping &mapping = mappings[i];
        QString owner;
        bool isFile = false;
        if (!isAnonymous(mapping.path)) {
            owner = named(mapping.path, &isFile);
        } else if (std::any_of(stackPointers.begin(), stackPointers.end(), [&](quint64 sp) {
                       return sp >= mapping.start && sp < mapping.end;
                   })) {
            owner = stacks;
        } else if (const Mapping *before = i > 0 ? &mappings[i - 1] : nullptr;
                   before && before->end == mapping.start && before->perms.startsWith("rw") &&
                   !isAnonymous(before->path) && !before->path.startsWith(u'[')) {
            owner = named(before->path, &isFile);
        } else {
            owner = anonymous;
        }
        (isFile ? files : kinds)[owner] += mapping.privateKiB;
    }

    std::vector<PrivatePart> parts;
    for (const QString &kind : {heap, anonymous, stacks, store, shared, special})
        parts.push_back({kind, kinds[kind]});
    std::vector<PrivatePart> byFile;
    for (const auto &[name, kib] : files)
        byFile.push_back({name, kib});
    std::stable_sort(byFile.begin(), byFile.end(),
                     [](const PrivatePart &a, const PrivatePart &b) { return a.kib > b.kib; });
    PrivatePart rest{QStringLiteral("other files"), 0};
    for (size_t i = 0; i < byFile.size(); ++i) {
        if (int(i) < topFiles)
            parts.push_back(byFile[i]);
        else
            rest.kib += byFile[i].kib;
    }
    parts.push_back(rest);
    return parts;
}

std::vector<quint64> stackPointers(qint64 pid)
{
    std::vector<quint64> pointers;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        // "nr args… sp pc" in a system call, "-1 sp pc" outside one, "running" while running.
        const QList<QByteArray> fields =
            readProcFile(tasks.filePath(task + QStringLiteral("/syscall"))).trimmed().split(' ');
        if (fields.size() < 3)
            continue;
        bool ok = false;
        const quint64 sp = fields.at(fields.size() - 2).toULongLong(&ok, 0);
        if (ok)
            pointers.push_back(sp);
    }
    return pointers;
}

} // namespace ProcFigures
