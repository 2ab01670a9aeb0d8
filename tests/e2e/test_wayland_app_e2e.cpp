#include "TestMain.h"

#include "store/Store.h"

#include <QProcess>

#include <memory>

namespace {

constexpr int settleMs = 30000;

} // namespace

// The real binary in a Wayland session: it picks the data-control backend by itself and
// stores what Wayland clients copy, without ever having the focus, under the application in
// front.
class TestWaylandAppE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    QByteArray m_log;
    QProcess m_terminal;
    std::unique_ptr<Store> m_store;

private Q_SLOTS:
    void initTestCase()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        m_app.setProcessEnvironment(env);
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((m_log += m_app.readAllStandardError()).contains("[App] launched"),
                                 settleMs);
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") +
                                          QStringLiteral("/Vesk"));
    }

    void cleanupTestCase()
    {
        m_terminal.kill();
        m_terminal.waitForFinished();
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
    }

    void choosesTheWaylandBackend()
    {
        QVERIFY2(m_log.contains("[Platform] Wayland clipboard through wlr-data-control\n"),
                 m_log.constData());
    }

    void storesCopiesUnderTheApplicationInFront()
    {
        m_terminal.start(QStringLiteral("foot"), {QStringLiteral("sleep"), QStringLiteral("120")});
        QVERIFY(m_terminal.waitForStarted());
        // A copy made before the terminal is in front would be stored without it; wait for
        // the compositor to focus it, as the tree says.
        QTRY_VERIFY_WITH_TIMEOUT(focusedAppId() == "foot", settleMs);

        QProcess copy;
        copy.start(QStringLiteral("wl-copy"), {QStringLiteral("copied in foot")});
        QVERIFY(copy.waitForFinished(settleMs));
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);
        const Clip clip = m_store->search({}, ClipFilter::All, 5).first();
        QCOMPARE(m_store->plainText(clip.id), QStringLiteral("copied in foot"));
        QCOMPARE(clip.appId, QStringLiteral("foot"));
    }

private:
    static QByteArray focusedAppId()
    {
        QProcess tree;
        tree.start(QStringLiteral("swaymsg"),
                   {QStringLiteral("-t"), QStringLiteral("get_tree"), QStringLiteral("-r")});
        tree.waitForFinished(settleMs);
        // The focused node is the only one whose "focused" is true; its app_id follows it.
        const QByteArray json = tree.readAllStandardOutput();
        const qsizetype focused = json.indexOf("\"focused\": true");
        const qsizetype key = json.indexOf("\"app_id\": \"", focused);
        if (focused < 0 || key < 0)
            return {};
        const qsizetype start = key + 11;
        return json.mid(start, json.indexOf('"', start) - start);
    }
};

int main(int argc, char **argv)
{
    return TestEnv::run<QGuiApplication, TestWaylandAppE2E>(argc, argv, false);
}

#include "test_wayland_app_e2e.moc"
