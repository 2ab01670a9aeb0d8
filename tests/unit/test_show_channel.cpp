#include "PrivateBus.h"
#include "TestMain.h"

#include "launcher/ShowRequest.h"
#include "platform/ShowChannel.h"

#include <QDBusConnection>
#include <QSignalSpy>

namespace {

// A listener as an older running instance wires it: a slot without arguments.
class ArgumentlessListener : public QObject
{
    Q_OBJECT
public:
    int count = 0;
public Q_SLOTS:
    void onShow() { ++count; }
};

} // namespace

// The show request with and without a launcher's activation token, from both senders (the
// small launcher that writes the bus protocol by hand, and a second start of the application),
// through a real bus daemon to the running instance.
class TestShowChannel : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_daemon;
    std::unique_ptr<ShowChannel> m_channel;
    ArgumentlessListener m_older;

private Q_SLOTS:
    void initTestCase()
    {
        m_daemon = std::make_unique<PrivateBus>(u"unix:path=%1/bus"_qs.arg(TestEnv::home().path()));
        QVERIFY(!m_daemon->address().isEmpty());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_daemon->address().toUtf8());
        m_channel = std::make_unique<ShowChannel>();
        QVERIFY(m_channel->listen());
        QVERIFY(QDBusConnection::sessionBus().connect(
            QString(), ShowChannel::objectPath, ShowChannel::interfaceName, ShowChannel::signalName,
            &m_older, SLOT(onShow())));
    }

    void requestCarriesTheToken_data()
    {
        QTest::addColumn<bool>("fromLauncher");
        QTest::addColumn<QString>("token");
        QTest::newRow("launcher, no token") << true << QString();
        QTest::newRow("launcher, token") << true << u"sway-token-1234_abc"_qs;
        QTest::newRow("launcher, long token") << true << QString(300, u'x');
        QTest::newRow("second start, no token") << false << QString();
        QTest::newRow("second start, token") << false << u"kwin-4711"_qs;
    }
    void requestCarriesTheToken()
    {
        QFETCH(bool, fromLauncher);
        QFETCH(QString, token);
        QSignalSpy shown(m_channel.get(), &ShowChannel::showRequested);
        const int olderBefore = m_older.count;

        if (fromLauncher) {
            QVERIFY(ShowRequest::send(10000, token.toStdString()));
        } else {
            if (token.isEmpty())
                qunsetenv("XDG_ACTIVATION_TOKEN");
            else
                qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
            QVERIFY(ShowRequest::send(10000, ShowRequest::activationToken()));
            qunsetenv("XDG_ACTIVATION_TOKEN");
        }
        QVERIFY(shown.wait(10000));
        QCOMPARE(shown.count(), 1);
        QCOMPARE(m_channel->activationToken(), token);
        // A running instance of an older version still opens its picker.
        QTRY_COMPARE_WITH_TIMEOUT(m_older.count, olderBefore + 1, 10000);
        // Off Wayland the token must not leak into the programs the application starts.
        QVERIFY(qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN"));
    }
};

int main(int argc, char **argv)
{
    return TestEnv::run<QGuiApplication, TestShowChannel>(argc, argv, false);
}

#include "test_show_channel.moc"
