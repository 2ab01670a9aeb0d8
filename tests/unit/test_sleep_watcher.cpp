#include "PrivateBus.h"
#include "TestMain.h"

#include "platform/SleepWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>

class TestSleepWatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Only the way back up counts as a wake, and only from the login manager itself.
    void wakeIsReportedFromTheLoginManager()
    {
        PrivateBus daemon(u"unix:path=%1/system-bus"_qs.arg(TestEnv::home().path()));
        QVERIFY(!daemon.address().isEmpty());
        QDBusConnection watched = QDBusConnection::connectToBus(daemon.address(), u"watched"_qs);
        QDBusConnection logind = QDBusConnection::connectToBus(daemon.address(), u"logind"_qs);
        QDBusConnection other = QDBusConnection::connectToBus(daemon.address(), u"other"_qs);
        QVERIFY(logind.interface()->registerService(u"org.freedesktop.login1"_qs).isValid());

        SleepWatcher watcher(watched);
        QVERIFY(watcher.isWatching());
        QSignalSpy woke(&watcher, &SleepWatcher::woke);
        const auto announce = [](QDBusConnection &from, bool sleeping) {
            QDBusMessage message = QDBusMessage::createSignal(u"/org/freedesktop/login1"_qs,
                                                              u"org.freedesktop.login1.Manager"_qs,
                                                              u"PrepareForSleep"_qs);
            message << sleeping;
            QVERIFY(from.send(message));
        };
        announce(logind, true);
        announce(other, false); // not the login manager
        announce(logind, false);
        QVERIFY(woke.wait(10000));
        QTest::qWait(200); // time for a wrongly counted signal to arrive as well
        QCOMPARE(woke.count(), 1);

        QDBusConnection::disconnectFromBus(u"watched"_qs);
        QDBusConnection::disconnectFromBus(u"logind"_qs);
        QDBusConnection::disconnectFromBus(u"other"_qs);
    }

    void noBusNoWatching()
    {
        const SleepWatcher watcher(QDBusConnection::connectToBus(
            u"unix:path=%1/no-such-bus"_qs.arg(TestEnv::home().path()), u"none"_qs));
        QVERIFY(!watcher.isWatching());
    }
};

ULVANE_TEST_MAIN(TestSleepWatcher)
#include "test_sleep_watcher.moc"
