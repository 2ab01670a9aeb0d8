// The real ulvane binary against clipboard owners that misbehave on purpose: one that never
// answers, one that offers 10 000 targets, and two that send 100 MiB (incrementally, and as one
// huge property). While each owns the clipboard the picker must still open on its hot key,
// memory must stay bounded, and an ordinary copy afterwards must be captured.
#include "TestMain.h"
#include "X11Clients.h"
#include "X11RawOwner.h"

#include "platform/x11/X11Workspace.h"
#include "store/Store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <functional>
#include <memory>

using namespace X11Clients;
using namespace X11Raw;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
constexpr qint64 hugeBytes = 100 * mebibyte;
// Hot key to picker is reported, not held to a figure: the bar only tells a picker that hung
// from one that answered. An idle machine shows 70 to 110 ms (xdotool's own start included),
// one with both cores busy up to about a second: ten times that.
constexpr qint64 pickerHangBarMs = 10000;
// Appending 100 MiB took the X server 2 s on an idle machine and 9 s on a loaded one.
constexpr int serverSettleTimeoutMs = 60000;

// A sanitized build (the binary is built with the same flags as this test) keeps freed memory
// in quarantine, so its resident size says nothing about what the code holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool memoryFiguresMeanSomething = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool memoryFiguresMeanSomething = false;
#else
constexpr bool memoryFiguresMeanSomething = true;
#endif
#else
constexpr bool memoryFiguresMeanSomething = true;
#endif

// A CLIPBOARD owner that misbehaves whatever this test's event loop is doing.
class HostileOwner : public ClipboardOwner
{
public:
    enum class Mode { Silent, ManyTargets, HugeIncremental, HugeProperty };

    static constexpr int manyTargets = 10000;
    static constexpr qint64 chunkBytes = mebibyte;
    static inline const QByteArray manyTargetsText = "offered among ten thousand targets";

    explicit HostileOwner(Mode mode) : m_mode(mode), m_utf8(atom("UTF8_STRING"))
    {
        m_offered = {targetsAtom(), m_utf8};
        if (m_mode == Mode::ManyTargets)
            internManyTargets();
    }
    ~HostileOwner() override { stop(); }

    int requests() const { return m_requests; }
    qint64 bytesSent() const { return m_bytesSent; }
    // True from a request until the server has taken in the whole answer to it. Appending
    // 100 MiB keeps the X server busy for seconds, long after a reader has given up waiting,
    // and every client's round trips (the hot key's, the picker's, the window manager's) queue
    // behind it meanwhile.
    bool answering() const { return m_answering; }

private:
    void internManyTargets()
    {
        xcb_connection_t *c = connection();
        std::vector<xcb_intern_atom_cookie_t> cookies;
        cookies.reserve(manyTargets - 2);
        for (int i = 0; i < manyTargets - 2; ++i) {
            const QByteArray name = "application/x-hostile-" + QByteArray::number(i);
            cookies.push_back(xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()));
        }
        m_offered = {targetsAtom()};
        for (const xcb_intern_atom_cookie_t cookie : cookies) {
            Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
            m_offered.append(reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE));
        }
        m_offered.append(m_utf8); // last, so every name before it has to be looked at
    }

    Outcome answer(const xcb_selection_request_event_t &request, xcb_atom_t property) override
    {
        ++m_requests;
        m_answering = true;
        const Outcome outcome = compose(request, property);
        // Replies come in order: once this one is back, the server has handled every append.
        Reply<xcb_get_input_focus_reply_t> sync(
            xcb_get_input_focus_reply(connection(), xcb_get_input_focus(connection()), nullptr));
        m_answering = false;
        return outcome;
    }

    Outcome compose(const xcb_selection_request_event_t &request, xcb_atom_t property)
    {
        if (m_mode == Mode::Silent)
            return Outcome::Ignored;
        if (request.target == targetsAtom()) {
            writeAtoms(request, property, m_offered);
        } else if (request.target != m_utf8) {
            return Outcome::Refused;
        } else if (m_mode == Mode::ManyTargets) {
            write(request, property, manyTargetsText);
        } else if (m_mode == Mode::HugeProperty) {
            // Built by appending: no single request may carry 100 MiB. The server copies the
            // whole property on every append, so the blocks are as large as a request may be,
            // or the answer would come too late to be read at all.
            const qint64 largest = qint64(xcb_get_maximum_request_length(connection())) * 4 - 64;
            const QByteArray block(int(std::min(largest, 16 * mebibyte)), 'h');
            for (qint64 sent = 0; sent < hugeBytes; sent += block.size()) {
                write(request, property, block.first(std::min(block.size(), hugeBytes - sent)),
                      sent ? XCB_PROP_MODE_APPEND : XCB_PROP_MODE_REPLACE);
                m_bytesSent += std::min(block.size(), hugeBytes - sent);
            }
        } else {
            // The announced size is a lower bound by convention, so a small one is no lie the
            // reader may rely on: the bytes that follow decide.
            sendIncrementally(request, property, uint32_t(chunkBytes),
                              [this, sent = qint64(0)]() mutable {
                                  const qint64 size = std::min(chunkBytes, hugeBytes - sent);
                                  sent += size;
                                  m_bytesSent += size;
                                  return QByteArray(int(size), 'i');
                              });
        }
        return Outcome::Written;
    }

    const Mode m_mode;
    const xcb_atom_t m_utf8;
    QList<xcb_atom_t> m_offered;
    std::atomic<int> m_requests{0};
    std::atomic<qint64> m_bytesSent{0};
    std::atomic_bool m_answering{false};
};

// Finds the picker: the window titled "Clipboard" of the given process, while it is viewable.
// Asked directly over one connection with pipelined requests, so a poll costs about a
// millisecond even while the server is busy with a huge property, when a new client (an
// xdotool search) waits seconds just to connect and the figure would be the probe's.
class PickerProbe
{
public:
    explicit PickerProbe(qint64 pid) : m_pid(quint32(pid))
    {
        m_c = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        m_wmPid = intern(m_c, "_NET_WM_PID");
        m_wmName = intern(m_c, "_NET_WM_NAME");
    }
    ~PickerProbe() { xcb_disconnect(m_c); }

    bool visible()
    {
        // Top-level windows and, under a reparenting window manager, their frames' children.
        std::vector<xcb_window_t> windows;
        std::vector<xcb_window_t> level{m_root};
        for (int depth = 0; depth < 3; ++depth) {
            std::vector<xcb_query_tree_cookie_t> cookies;
            for (const xcb_window_t window : level)
                cookies.push_back(xcb_query_tree(m_c, window));
            level.clear();
            for (const xcb_query_tree_cookie_t cookie : cookies) {
                Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(m_c, cookie, nullptr));
                if (!tree)
                    continue;
                const xcb_window_t *children = xcb_query_tree_children(tree.get());
                level.insert(level.end(), children,
                             children + xcb_query_tree_children_length(tree.get()));
            }
            windows.insert(windows.end(), level.begin(), level.end());
        }
        std::vector<xcb_get_property_cookie_t> pids;
        for (const xcb_window_t window : windows)
            pids.push_back(xcb_get_property(m_c, 0, window, m_wmPid, XCB_ATOM_CARDINAL, 0, 1));
        bool found = false;
        for (size_t i = 0; i < windows.size(); ++i) {
            Reply<xcb_get_property_reply_t> pid(xcb_get_property_reply(m_c, pids[i], nullptr));
            if (!found && pid && xcb_get_property_value_length(pid.get()) == 4 &&
                *static_cast<const quint32 *>(xcb_get_property_value(pid.get())) == m_pid)
                if ((found = isPicker(windows[i])))
                    m_window = windows[i];
        }
        return found;
    }

    // The picker's window as last seen.
    xcb_window_t window() const { return m_window; }

private:
    bool isPicker(xcb_window_t window)
    {
        Reply<xcb_get_property_reply_t> name(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, m_wmName, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
            nullptr));
        if (!name || QByteArray(static_cast<const char *>(xcb_get_property_value(name.get())),
                                xcb_get_property_value_length(name.get())) != "Clipboard")
            return false;
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, window), nullptr));
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    xcb_connection_t *m_c;
    xcb_window_t m_root;
    xcb_atom_t m_wmPid, m_wmName;
    quint32 m_pid;
    xcb_window_t m_window = 0;
};

qint64 statusKiB(qint64 pid, const QByteArray &field)
{
    QFile status(u"/proc/%1/status"_qs.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

class TestHostileOwnersE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    QByteArray m_log;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<PickerProbe> m_picker;
    std::unique_ptr<X11Workspace> m_workspace;
    TargetWindow m_editor; // where the user is when they press the hot key
    QStringList m_figures;

    bool logged(const QByteArray &line)
    {
        m_log += m_app.readAllStandardError();
        return m_log.contains(line);
    }

    bool stored(const QString &text)
    {
        const QList<Clip> clips = m_store->search(QString(), ClipFilter::All, 5);
        return !clips.isEmpty() && clips.first().excerpt == text;
    }

    // Hot key to viewable picker window, in milliseconds, timed from launching the key
    // client (so it includes xdotool's own start); the picker is closed again afterwards.
    qint64 openPicker()
    {
        if (m_picker->visible())
            return -1;
        m_workspace->activateWindow(m_editor.winId());
        if (!QTest::qWaitFor([&] { return m_workspace->activeWindow() == m_editor.winId(); },
                             timeoutMs)) {
            qWarning("the editor window could not be activated");
            return -1;
        }
        QElapsedTimer clock;
        clock.start();
        QProcess::startDetached(u"xdotool"_qs, {u"key"_qs, u"super+alt+v"_qs});
        while (!m_picker->visible()) {
            if (clock.elapsed() > timeoutMs) {
                qWarning("the picker did not appear");
                return -1;
            }
            QTest::qWait(2);
        }
        const qint64 elapsed = clock.elapsed();
        // Keys reach the picker once the window manager has made it the active window.
        if (!QTest::qWaitFor(
                [&] { return m_workspace->activeWindow() == quint64(m_picker->window()); },
                timeoutMs))
            qWarning("the picker did not take the keyboard");
        // The window manager may make the picker active a moment before Qt has moved the
        // keyboard into it; an Escape that fell into that gap is pressed again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            key(u"Escape"_qs);
            if (QTest::qWaitFor([&] { return !m_picker->visible(); }, 5000))
                return elapsed;
        }
        qWarning("the picker did not close on Escape");
        return -1;
    }

    // The picker opens both while the owner's offer is being read and once the read has given
    // up; afterwards an ordinary copy is captured again.
    void holdTheClipboard(HostileOwner::Mode mode, const QString &name,
                          const std::function<bool()> &readFinished,
                          const std::function<void(const HostileOwner &)> &inspect = {})
    {
        {
            HostileOwner owner(mode);
            QVERIFY(owner.claim());
            const qint64 during = openPicker();
            QTRY_VERIFY_WITH_TIMEOUT(readFinished(), timeoutMs);
            QVERIFY(owner.requests() > 0);
            // The figure after the read is the app's own once the server is done with the
            // owner's answer; before that every client waits for the server.
            QElapsedTimer busy;
            busy.start();
            QTRY_VERIFY_WITH_TIMEOUT(!owner.answering(), serverSettleTimeoutMs);
            if (busy.elapsed() > 50)
                m_figures << u"%1: the X server took in the owner's answer for %2 ms after the "
                             "read ended"_qs.arg(name)
                                 .arg(busy.elapsed());
            const qint64 after = openPicker();
            m_figures
                << u"%1: picker %2 ms while reading, %3 ms after"_qs.arg(name).arg(during).arg(
                       after);
            QVERIFY2(during >= 0 && during <= pickerHangBarMs, qPrintable(m_figures.last()));
            QVERIFY2(after >= 0 && after <= pickerHangBarMs, qPrintable(m_figures.last()));
            if (inspect)
                inspect(owner);
        }

        const QString text = u"ordinary copy after the %1 owner"_qs.arg(name);
        run(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, u"UTF8_STRING"_qs},
            text.toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(stored(text), timeoutMs);
    }

    void hugeOffer(HostileOwner::Mode mode, const QString &name)
    {
        const qint64 pid = m_app.processId();
        const qint64 rssBefore = statusKiB(pid, "VmRSS");
        const qint64 peakBefore = statusKiB(pid, "VmHWM");
        const qint64 rows = m_store->count();
        m_log.clear();
        qint64 sent = 0;
        // Building 100 MiB in the server takes the owner longer than the 500 ms a step may last
        // (two seconds and more): its answer mostly comes too late and is abandoned, which
        // bounds memory just as well. An incremental transfer answers at once and must be refused.
        const bool mayBeLate = mode == HostileOwner::Mode::HugeProperty;
        holdTheClipboard(
            mode, name,
            [&] {
                return logged("[Pasteboard] refused UTF8_STRING") ||
                       (mayBeLate && logged("did not answer for UTF8_STRING"));
            },
            [&](const HostileOwner &owner) { sent = owner.bytesSent(); });
        if (QTest::currentTestFailed())
            return;
        if (!mayBeLate)
            QVERIFY(!m_log.contains("did not answer"));
        if (!m_log.contains("refused UTF8_STRING"))
            m_figures << name + u": the owner answered too late, so nothing was read"_qs;
        // The ordinary copy is the only new row: nothing of the 100 MiB was kept.
        QCOMPARE(m_store->count(), rows + 1);
        const qint64 peak = statusKiB(pid, "VmHWM");
        const qint64 rssAfter = statusKiB(pid, "VmRSS");
        m_figures << u"%1: RSS %2 MiB before, %3 MiB after, peak %4 MiB (was %5)"_qs.arg(name)
                         .arg(rssBefore / 1024)
                         .arg(rssAfter / 1024)
                         .arg(peak / 1024)
                         .arg(peakBefore / 1024);
        // Holding the whole offer would lift the peak by 100 MiB at least. Incrementally, up to
        // the 25 MiB bound is read before the offer is known to be too large (with the buffer's
        // growth, some 30 MiB); one property is refused by its size alone, before a byte of it
        // is fetched, so even the first 25 MiB of it would show. What the allocator keeps after
        // the read (up to some 30 MiB) is no leak; the whole offer kept would be.
        const qint64 allowedPeakKiB =
            mode == HostileOwner::Mode::HugeIncremental ? 80 * 1024 : 16 * 1024;
        if (memoryFiguresMeanSomething) {
            QVERIFY2(peak - rssBefore < allowedPeakKiB, qPrintable(m_figures.last()));
            QVERIFY2(rssAfter - rssBefore < 64 * 1024, qPrintable(m_figures.last()));
        }
        // Sent incrementally, the transfer was broken off well before its end.
        if (mode == HostileOwner::Mode::HugeIncremental)
            QVERIFY2(sent < hugeBytes / 2, qPrintable(QString::number(sent)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_workspace = std::make_unique<X11Workspace>();
        m_editor.setTitle(u"editor"_qs);
        m_editor.resize(400, 240);
        m_editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_editor));
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(logged("[App] launched"), 20000);
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") + u"/Vesk"_qs);
        m_picker = std::make_unique<PickerProbe>(m_app.processId());
        // The picker's first opening builds its window; time the later ones only.
        QVERIFY(openPicker() >= 0);
    }

    void cleanupTestCase()
    {
        for (const QString &figure : std::as_const(m_figures))
            qInfo("%s", qPrintable(figure));
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
    }

    void ownerThatNeverAnswers()
    {
        m_log.clear();
        holdTheClipboard(HostileOwner::Mode::Silent, u"silent"_qs,
                         [&] { return logged("owner did not answer for TARGETS"); });
    }

    void ownerWithTenThousandTargets()
    {
        const QString text = QString::fromLatin1(HostileOwner::manyTargetsText);
        // The one usable type among them is still found and kept.
        holdTheClipboard(HostileOwner::Mode::ManyTargets, u"10 000 targets"_qs,
                         [&] { return stored(text); });
    }

    // Before the incremental one, whose reading lifts the peak this one must not move.
    void ownerSendingHundredMiBInOneProperty()
    {
        hugeOffer(HostileOwner::Mode::HugeProperty, u"100 MiB property"_qs);
    }

    void ownerSendingHundredMiBIncrementally()
    {
        hugeOffer(HostileOwner::Mode::HugeIncremental, u"100 MiB INCR"_qs);
    }

    void theClipboardConnectionSurvived()
    {
        QCOMPARE(m_app.state(), QProcess::Running);
        QVERIFY(!logged("X connection lost"));
    }
};

ULVANE_X11_TEST_MAIN(TestHostileOwnersE2E)
#include "test_hostile_owners_e2e.moc"
