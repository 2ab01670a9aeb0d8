#pragma once

// What the end-to-end tests share: running X11 clients without blocking this process's event
// loop, asking xdotool about windows, and a window that records what was pasted into it.

#include <QClipboard>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QRect>
#include <QTest>

#include <cstdlib>
#include <xcb/xcb.h>

namespace X11Clients {

// Only a hang should fail, however loaded the machine.
inline constexpr int timeoutMs = 30000;

// Runs a client to its end while this process keeps answering the X server (the client may
// ask it for the clipboard). Returns its standard output; `status` gets the exit code.
inline QByteArray run(const QString &program, const QStringList &args, const QByteArray &input = {},
                      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                      int *status = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForStarted(timeoutMs))
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs))
        process.kill();
    if (status)
        *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

inline QRect windowGeometry(quint64 window)
{
    const QByteArray out =
        run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                        QStringLiteral("--shell"), QString::number(window)});
    QHash<QByteArray, int> values;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() == 2)
            values.insert(pair[0], pair[1].toInt());
    }
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"),
                 values.value("HEIGHT"));
}

// The window titled `name` of the process `pid` while it is viewable; 0 when there is none.
inline quint64 visibleWindow(qint64 pid, const QString &name)
{
    const QByteArray found =
        run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
             QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
             QLatin1Char('^') + name + QLatin1Char('$')});
    return found.trimmed().split('\n').last().toULongLong();
}

// Presses keys through XTEST: "Down Return" is two keys.
inline void key(const QString &keys)
{
    run(QStringLiteral("xdotool"),
        QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("120")} +
            keys.split(u' ', Qt::SkipEmptyParts));
}

// Whether another client holds the keyboard, as an open popup menu does: keys pressed now
// reach it. Told by trying to grab the keyboard on a connection of the test's own.
inline bool keyboardGrabbed()
{
    static xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(
        c,
        xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    const bool grabbed = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        xcb_flush(c);
    }
    std::free(reply);
    return grabbed;
}

// Records what a Ctrl+V delivered, the way an editor would read it.
class TargetWindow : public QRasterWindow
{
public:
    QStringList pasted;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_V && event->modifiers().testFlag(Qt::ControlModifier))
            pasted.append(QGuiApplication::clipboard()->text());
    }
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(0x33, 0x44, 0x55));
    }
};

} // namespace X11Clients
