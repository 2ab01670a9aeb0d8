#include "TestMain.h"
#include "WaylandTestKeyboard.h"
#include "X11Clients.h"
#include "X11KeyRecorder.h"
#include "X11RawOwner.h"

#include "platform/wayland/WaylandToplevels.h"
#include "store/Store.h"

#include <QProcess>

#include <memory>

namespace {

constexpr int settleMs = 30000;
const QString pickerAppId = QStringLiteral("org.brisel.Ulvane");

} // namespace

// The real binary in a Wayland session that runs XWayland too, as most desktops do: both
// WAYLAND_DISPLAY and DISPLAY are set. It keeps to the Wayland backend, and the compositor
// carries copies between the two worlds: a copy made in either is stored once, and what the
// picker writes for a paste, which the compositor hands on to XWayland, is not stored again.
class TestXWaylandAppE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    QByteArray m_log;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<X11KeyRecorder> m_x11Window;
    std::unique_ptr<X11Raw::OfferOwner> m_x11Owner;
    std::unique_ptr<WaylandToplevels> m_toplevels;
    std::unique_ptr<WaylandTestKeyboard> m_keyboard;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
        QVERIFY(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
        // Qt's platform is left to the application: it has to pick the Wayland one itself.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_app.setProcessEnvironment(env);
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((m_log += m_app.readAllStandardError()).contains("[App] launched"),
                                 settleMs);
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") +
                                          QStringLiteral("/Vesk"));
        m_toplevels = std::make_unique<WaylandToplevels>();
        m_keyboard = std::make_unique<WaylandTestKeyboard>();
        QVERIFY(m_keyboard->isReady());
        // The compositor passes the clipboard to and from XWayland only while one of its
        // windows has the focus.
        m_x11Window = std::make_unique<X11KeyRecorder>();
        QTRY_VERIFY_WITH_TIMEOUT(m_x11Window->hasFocus(), settleMs);
    }

    void cleanupTestCase()
    {
        m_x11Owner.reset();
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
    }

    void keepsTheWaylandBackendBesideXWayland()
    {
        QVERIFY2(m_log.contains("[Platform] Wayland clipboard through wlr-data-control\n"),
                 m_log.constData());
    }

    void eachCopyIsStoredOnce_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("stored");
        const QStringList xclip = {QStringLiteral("-selection"), QStringLiteral("clipboard")};
        QTest::newRow("X11 client, text")
            << QStringLiteral("xclip") << xclip << QByteArray("copied in an X11 window")
            << QStringLiteral("copied in an X11 window");
        QTest::newRow("Wayland client")
            << QStringLiteral("wl-copy")
            << QStringList{QStringLiteral("--type"), QStringLiteral("text/plain;charset=utf-8"),
                           QStringLiteral("copied by a Wayland client")}
            << QByteArray() << QStringLiteral("copied by a Wayland client");
        // No program: an X11 owner of the test's own, offering HTML and text.
        QTest::newRow("X11 client, HTML and text")
            << QString() << QStringList() << QByteArray() << QStringLiteral("rich from X11");
    }
    void eachCopyIsStoredOnce()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, stored);
        const int before = m_store->count();
        if (program.isEmpty()) {
            m_x11Owner = std::make_unique<X11Raw::OfferOwner>(X11Raw::OfferOwner::Offer{
                {"text/html", "<b>rich</b> from X11"}, {"UTF8_STRING", stored.toUtf8()}});
            QVERIFY(m_x11Owner->claim());
        } else {
            int status = -1;
            X11Clients::run(program, arguments, input, QProcessEnvironment::systemEnvironment(),
                            &status);
            QCOMPARE(status, 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(newestText(), stored, settleMs);
        QCOMPARE(m_store->count(), before + 1);
    }

    // A plain paste of the HTML copy writes content the history does not hold yet (the text
    // alone): stored again, it would show as a row of its own.
    void ownPasteIsNotStoredBackThroughXWayland()
    {
        const int before = m_store->count();
        QProcess show;
        show.start(QStringLiteral(ULVANE_BINARY), {QStringLiteral("--show")});
        QVERIFY(show.waitForFinished(settleMs));
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), pickerAppId, settleMs);
        QVERIFY(m_keyboard->tap(WaylandTestKeyboard::Return, {WaylandTestKeyboard::LeftAlt}));
        QTRY_VERIFY_WITH_TIMEOUT(m_x11Window->hasFocus(), settleMs);
        // It went the whole way: XWayland's clipboard holds the plain text now.
        QTRY_COMPARE_WITH_TIMEOUT(x11Clipboard(), QByteArray("rich from X11"), settleMs);

        // Copies are taken in the order they are made: once this one is in, a copy of the
        // paste would be too.
        QProcess copy;
        copy.start(QStringLiteral("wl-copy"), {QStringLiteral("after the paste")});
        QVERIFY(copy.waitForFinished(settleMs));
        QTRY_COMPARE_WITH_TIMEOUT(newestText(), QStringLiteral("after the paste"), settleMs);
        QCOMPARE(m_store->count(), before + 1);
        QVERIFY2(!m_log.contains("[Paste] could not send"), m_log.constData());
    }

private:
    QString newestText()
    {
        m_log += m_app.readAllStandardError();
        const QList<Clip> clips = m_store->search({}, ClipFilter::All, 1);
        return clips.isEmpty() ? QString()
                               : m_store->plainText(clips.first().id).value_or(QString());
    }

    static QByteArray x11Clipboard()
    {
        return X11Clients::run(
            QStringLiteral("xclip"),
            {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")});
    }

    QString activeAppId() const
    {
        const std::optional<WaylandToplevels::Window> window = m_toplevels->active();
        return window ? window->appId : QString();
    }
};

int main(int argc, char **argv)
{
    return TestEnv::run<QGuiApplication, TestXWaylandAppE2E>(argc, argv, false);
}

#include "test_xwayland_app_e2e.moc"
