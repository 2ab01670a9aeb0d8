#include "PrivateBus.h"
#include "TestMain.h"

#include "launcher/BusWire.h"
#include "launcher/ShowRequest.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSignalSpy>

namespace {

// Counts the show signals that arrive on one bus connection.
class ShowCounter : public QObject
{
    Q_OBJECT
public:
    int count = 0;
Q_SIGNALS:
    void arrived();
public Q_SLOTS:
    void onShow()
    {
        ++count;
        Q_EMIT arrived();
    }
};

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void busAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("runtimeDir");
        QTest::addColumn<QStringList>("expected"); // "@name" for an abstract socket
        QTest::newRow("path") << "unix:path=/run/user/1000/bus,guid=ab12"
                              << "" << QStringList{"/run/user/1000/bus"};
        QTest::newRow("escaped, then abstract")
            << "unix:path=/tmp/a%20b%2Cc;unix:abstract=/tmp/dbus-XYZ"
            << "" << QStringList{"/tmp/a b,c", "@/tmp/dbus-XYZ"};
        QTest::newRow("other transports skipped")
            << "tcp:host=localhost,port=1;launchd:env=X;unix:path=/b"
            << "/run/user/7" << QStringList{"/b"};
        QTest::newRow("unset: the runtime folder's socket")
            << ""
            << "/run/user/7" << QStringList{"/run/user/7/bus"};
        QTest::newRow("nothing at all") << ""
                                        << "" << QStringList{};
        QTest::newRow("malformed") << "unix:path;unix:;:path=/x;unix:path="
                                   << "" << QStringList{};
    }
    void busAddresses()
    {
        QFETCH(QString, address);
        QFETCH(QString, runtimeDir);
        QFETCH(QStringList, expected);
        QStringList found;
        for (const BusWire::SocketAddress &socket : BusWire::sessionBusSockets(
                 address.toUtf8().constData(), runtimeDir.toUtf8().constData()))
            found.append((socket.abstract ? u"@"_qs : QString()) +
                         QString::fromStdString(socket.name));
        QCOMPARE(found, expected);
    }

    // What the bus sends back is read message by message; nothing it sends may make the
    // reader run past the bytes it has.
    void replyFraming()
    {
        const std::string call =
            BusWire::encode({BusWire::MessageType::MethodCall, 7, "/a", "b.c", "D", "e.f"});
        QCOMPARE(call.size() % 8, 0u);
        const BusWire::Scan whole = BusWire::scan(call + "trailing");
        QCOMPARE(whole.state, BusWire::Scan::State::Complete);
        QCOMPARE(whole.size, call.size());
        QVERIFY(!whole.replySerial);
        for (size_t cut : {size_t(0), size_t(15), call.size() - 1})
            QCOMPARE(BusWire::scan(call.substr(0, cut)).state, BusWire::Scan::State::Incomplete);

        std::string hugeBody = call;
        hugeBody[4] = hugeBody[5] = hugeBody[6] = hugeBody[7] = '\xff';
        QCOMPARE(BusWire::scan(hugeBody).state, BusWire::Scan::State::Malformed);
        std::string wrongEndian = call;
        wrongEndian[0] = 'x';
        QCOMPARE(BusWire::scan(wrongEndian).state, BusWire::Scan::State::Malformed);
        std::string fieldPastHeader = call;
        fieldPastHeader[12] = 4; // fields end inside the first string
        QCOMPARE(BusWire::scan(fieldPastHeader).state, BusWire::Scan::State::Malformed);
    }

    // The request against a real bus daemon, received by Qt's own D-Bus client the way the
    // running instance receives it, on a socket in the file system and an abstract one.
    void showRequestReachesListener_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("prefix"); // what the client's address lists before it
        const QString folder = TestEnv::home().path();
        QTest::newRow("path") << u"unix:path=%1/bus"_qs.arg(folder) << QString();
        QTest::newRow("abstract, after a dead socket")
            << u"unix:abstract=ulvane-test-%1"_qs.arg(QCoreApplication::applicationPid())
            << u"unix:path=%1/no-such-bus;"_qs.arg(folder);
    }
    void showRequestReachesListener()
    {
        QFETCH(QString, listen);
        QFETCH(QString, prefix);
        PrivateBus daemon(listen);
        const QString address = daemon.address();
        QVERIFY(!address.isEmpty());

        const QString name = QTest::currentDataTag();
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        QVERIFY(bus.isConnected());
        ShowCounter counter;
        QVERIFY(bus.connect(QString(), u"/org/brisel/Ulvane"_qs, u"org.brisel.Ulvane"_qs,
                            u"show"_qs, &counter, SLOT(onShow())));
        QSignalSpy arrived(&counter, &ShowCounter::arrived);

        qputenv("DBUS_SESSION_BUS_ADDRESS", (prefix + address).toUtf8());
        QVERIFY(ShowRequest::send());
        QVERIFY(arrived.wait(10000));
        QCOMPARE(counter.count, 1);

        // The real command sends the same and exits at once, whether or not an instance runs.
        QProcess show;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, address);
        show.setProcessEnvironment(env);
        show.start(QStringLiteral(ULVANE_BINARY), {u"--show"_qs});
        QVERIFY(show.waitForFinished(30000));
        QCOMPARE(show.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(counter.count, 2, 10000);

        QDBusConnection::disconnectFromBus(name);
        daemon.stop();
        // With the daemon gone the request fails rather than waits.
        QVERIFY(!ShowRequest::send(30000));
    }
};

ULVANE_TEST_MAIN(TestLauncher)
#include "test_launcher.moc"
