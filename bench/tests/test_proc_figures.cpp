#include "ProcFigures.h"

#include <QFile>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace ProcFigures;

namespace {

// One smaps entry: its header and its private pages.
QByteArray mapping(const char *header, qint64 clean, qint64 dirty)
{
    return QByteArray(header) + "\nSize:                132 kB\nRss:                  12 kB\n" +
           "Pss:                  12 kB\nShared_Clean:          0 kB\nPrivate_Clean:  " +
           QByteArray::number(clean) + " kB\nPrivate_Dirty:  " + QByteArray::number(dirty) +
           " kB\nVmFlags: rd wr mr mw me ac sd\n";
}

qint64 partOf(const std::vector<PrivatePart> &parts, const QString &kind)
{
    for (const PrivatePart &part : parts) {
        if (part.kind == kind)
            return part.kib;
    }
    return -1;
}

qint64 sum(const std::vector<PrivatePart> &parts)
{
    qint64 total = 0;
    for (const PrivatePart &part : parts)
        total += part.kib;
    return total;
}

const QString store = QStringLiteral("/home/u/.local/share/Vesk");

} // namespace

class TestProcFigures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cpuTicks_data()
    {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<qint64>("ticks");
        const QByteArray tail = " S 1 2 3 4 5 6 7 8 9 10 120 30 0 0 20 0 9";
        QTest::newRow("plain name") << "4242 (ulvane)" + tail << qint64(150);
        QTest::newRow("name with spaces and parentheses") << "4242 (a) (b c)" + tail << qint64(150);
        QTest::newRow("cut short") << QByteArray("4242 (ulvane) S 1 2 3") << qint64(0);
        QTest::newRow("empty") << QByteArray() << qint64(0);
    }
    void cpuTicks()
    {
        QFETCH(QByteArray, stat);
        QFETCH(qint64, ticks);
        QCOMPARE(cpuTicksFromStat(stat), ticks);
    }

    void rollupCountsOnlyTheTotals()
    {
        // The split fields (Pss_Anon and the like) must not be added to the totals again.
        const QByteArray rollup = "55d0c0a00000-7ffd4a3f2000 ---p 00000000 00:00 0 [rollup]\n"
                                  "Rss:               49152 kB\nPss:               40000 kB\n"
                                  "Pss_Dirty:         20000 kB\nPss_Anon:          18000 kB\n"
                                  "Pss_File:          22000 kB\nShared_Clean:      12000 kB\n"
                                  "Private_Clean:      3000 kB\nPrivate_Dirty:     30000 kB\n"
                                  "Private_Hugetlb:       0 kB\n";
        const Memory memory = memoryFromRollup(rollup);
        QCOMPARE(memory.rssKiB, qint64(49152));
        QCOMPARE(memory.pssKiB, qint64(40000));
        QCOMPARE(memory.ussKiB, qint64(33000));
        QCOMPARE(memory.dirtyKiB, qint64(30000));
    }

    void privatePartKinds_data()
    {
        QTest::addColumn<QByteArray>("smaps");
        QTest::addColumn<QString>("kind");
        QTest::newRow("heap") << mapping("55d0c0a00000-55d0c1a00000 rw-p 00000000 00:00 0 "
                                         "                         [heap]",
                                         0, 700)
                              << u"heap"_qs;
        QTest::newRow("main stack")
            << mapping("7ffd4a3d1000-7ffd4a3f2000 rw-p 00000000 00:00 0  [stack]", 0, 700)
            << u"stacks"_qs;
        QTest::newRow("thread stack, by its stack pointer")
            << mapping("7f0000000000-7f0000800000 rw-p 00000000 00:00 0", 0, 700) << u"stacks"_qs;
        QTest::newRow("nameless") << mapping("7f1000000000-7f1000800000 rw-p 00000000 00:00 0", 0,
                                             700)
                                  << u"other anonymous memory"_qs;
        QTest::newRow("named anonymous")
            << mapping("7f1000000000-7f1000800000 rw-p 00000000 00:00 0  [anon:glib]", 0, 700)
            << u"other anonymous memory"_qs;
        QTest::newRow("database") << mapping("7f2000000000-7f2000100000 rw-s 00000000 08:01 77 "
                                             "  /home/u/.local/share/Vesk/index.sqlite-shm",
                                             100, 600)
                                  << u"store files"_qs;
        QTest::newRow("a folder named like the store")
            << mapping("7f2000000000-7f2000100000 r--p 00000000 08:01 77 "
                       "/home/u/.local/share/Vesk2/x.db",
                       700, 0)
            << u"x.db"_qs;
        QTest::newRow("X shared memory")
            << mapping("7f3000000000-7f3000100000 rw-s 00000000 00:01 5  /SYSV00000000 (deleted)",
                       0, 700)
            << u"shared-memory segments"_qs;
        QTest::newRow("vdso") << mapping("7ffd4a3f6000-7ffd4a3f8000 r-xp 00000000 00:00 0 [vdso]",
                                         700, 0)
                              << u"kernel mappings"_qs;
        QTest::newRow("library") << mapping("7f4000000000-7f4000100000 r--p 00000000 08:01 9 "
                                            "  /usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2",
                                            700, 0)
                                 << u"libQt6Gui.so.6.4.2"_qs;
        QTest::newRow("file with spaces, since deleted")
            << mapping("7f4000000000-7f4000100000 r--p 00000000 08:01 9 "
                       "/tmp/a b/fonts cache.bin (deleted)",
                       300, 400)
            << u"fonts cache.bin"_qs;
    }
    void privatePartKinds()
    {
        QFETCH(QByteArray, smaps);
        QFETCH(QString, kind);
        const std::vector<PrivatePart> parts = privateParts(smaps, store, {0x7f0000400000}, 8);
        QCOMPARE(partOf(parts, kind), qint64(700));
        QCOMPARE(sum(parts), qint64(700));
    }

    void zeroFilledDataCountsForItsFile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("kind");
        const QByteArray writable =
            "7f4000000000-7f4000010000 rw-p 00020000 08:01 9 /usr/lib/libz.so";
        QTest::newRow("right after the file's data")
            << writable << QByteArray("7f4000010000-7f4000020000 rw-p 00000000 00:00 0")
            << u"libz.so"_qs;
        QTest::newRow("with a gap")
            << writable << QByteArray("7f4000011000-7f4000020000 rw-p 00000000 00:00 0")
            << u"other anonymous memory"_qs;
        QTest::newRow("after read-only text")
            << QByteArray("7f4000000000-7f4000010000 r-xp 00000000 08:01 9 /usr/lib/libz.so")
            << QByteArray("7f4000010000-7f4000020000 rw-p 00000000 00:00 0")
            << u"other anonymous memory"_qs;
        QTest::newRow("after the store's file")
            << QByteArray("7f4000000000-7f4000010000 rw-p 00000000 08:01 9 " + store.toUtf8() +
                          "/index.sqlite")
            << QByteArray("7f4000010000-7f4000020000 rw-p 00000000 00:00 0") << u"store files"_qs;
    }
    void zeroFilledDataCountsForItsFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, kind);
        const std::vector<PrivatePart> parts =
            privateParts(mapping(before, 0, 0) + mapping(after, 0, 64), store, {}, 8);
        QCOMPARE(partOf(parts, kind), qint64(64));
        QCOMPARE(sum(parts), qint64(64));
    }

    void largestFilesByNameThenTheRest()
    {
        // Ten files, the third one in two mappings; the smallest two go into the rest.
        QByteArray smaps;
        const qint64 sizes[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
        for (int i = 0; i < 10; ++i) {
            const QByteArray start = QByteArray::number(0x7f1000000000 + i * 0x100000, 16);
            const QByteArray header = start + '-' + start.left(start.size() - 2) +
                                      "ff r--p 0 08:01 9 /lib/f" + QByteArray::number(i);
            smaps += mapping(header, sizes[i], 0);
        }
        smaps += mapping("7f5000000000-7f5000100000 rw-p 0 08:01 9 /lib/f2", 0, 100);
        const std::vector<PrivatePart> parts = privateParts(smaps, store, {}, 8);
        QStringList order;
        for (const PrivatePart &part : parts) {
            if (part.kind.startsWith(u'f'))
                order << part.kind;
        }
        QCOMPARE(order, (QStringList{u"f2"_qs, u"f9"_qs, u"f8"_qs, u"f7"_qs, u"f6"_qs, u"f5"_qs,
                                     u"f4"_qs, u"f3"_qs}));
        QCOMPARE(partOf(parts, u"f2"_qs), qint64(130));
        QCOMPARE(partOf(parts, u"other files"_qs), qint64(10 + 20));
        QCOMPARE(sum(parts), qint64(650));
    }

    void activityPerThreadName()
    {
        ThreadActivity activity;
        activity.look({{u"100"_qs, {u"ulvane"_qs, 50, 9000}},
                       {u"101"_qs, {u"Thread (pooled)"_qs, 7, 100}},
                       {u"102"_qs, {u"Thread (pooled)"_qs, 3, 100}},
                       {u"103"_qs, {u"ends later"_qs, 90, 5000}},
                       {u"104"_qs, {u"QDBusConnection"_qs, 40, 1000}}});
        activity.look({{u"100"_qs, {u"ulvane"_qs, 51, 9500}},
                       {u"101"_qs, {u"Thread (pooled)"_qs, 9, 300}},
                       {u"102"_qs, {u"Thread (pooled)"_qs, 6, 100}},
                       {u"103"_qs, {u"ends later"_qs, 93, 5200}},
                       {u"105"_qs, {u"OCR"_qs, 4, 700}},
                       // The id of a thread that ended, now another thread's.
                       {u"104"_qs, {u"QXcbEventQueue"_qs, 41, 1500}}});
        activity.look({{u"100"_qs, {u"ulvane"_qs, 52, 9600}},
                       {u"101"_qs, {u"Thread (pooled)"_qs, 9, 300}},
                       {u"102"_qs, {u"Thread (pooled)"_qs, 6, 100}},
                       {u"105"_qs, {u"OCR"_qs, 4, 700}},
                       {u"104"_qs, {u"QXcbEventQueue"_qs, 41, 1500}}});
        QStringList seen;
        for (const Wakeups &thread : activity.wakeups())
            seen << QStringLiteral("%1=%2/%3")
                        .arg(thread.thread)
                        .arg(thread.count)
                        .arg(thread.runNs);
        QCOMPARE(seen, (QStringList{u"QXcbEventQueue=41/1500"_qs, u"Thread (pooled)=5/200"_qs,
                                    u"OCR=4/700"_qs, u"ends later=3/200"_qs, u"ulvane=2/600"_qs}));
        QCOMPARE(activity.totalWakeups(), qint64(55));
        QCOMPARE(activity.cpuSeconds(), (600 + 200 + 200 + 700 + 1500) / 1e9);
    }

    void findsTheStacksOfThisProcessThreads()
    {
        // A thread that touched a few stack pages and now waits in a system call: its stack
        // is a nameless mapping that only its stack pointer identifies.
        std::mutex mutex;
        std::condition_variable wake;
        bool done = false;
        std::thread sleeper([&] {
            volatile char used[64 * 1024];
            for (size_t i = 0; i < sizeof used; i += 4096)
                used[i] = 1;
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return done; });
        });
        // What the threads' stack pointers add to the stacks, once the sleeper waits.
        auto stacksFound = [] {
            QFile smapsFile(QStringLiteral("/proc/self/smaps"));
            if (!smapsFile.open(QIODevice::ReadOnly))
                return qint64(-1);
            const QByteArray smaps = smapsFile.readAll();
            return partOf(privateParts(smaps, QString(), stackPointers(getpid()), 8),
                          u"stacks"_qs) -
                   partOf(privateParts(smaps, QString(), {}, 8), u"stacks"_qs);
        };
        QTRY_VERIFY_WITH_TIMEOUT(stacksFound() >= 64, 10000);
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        wake.notify_all();
        sleeper.join();
    }
};

QTEST_GUILESS_MAIN(TestProcFigures)
#include "test_proc_figures.moc"
