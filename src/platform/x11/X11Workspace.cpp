#include "platform/x11/X11Workspace.h"

#include "platform/xdg/DesktopEntryIndex.h"

#include <QDBusConnection>

#include <cstring>

namespace {

constexpr quint32 sourcePager = 2; // _NET_ACTIVE_WINDOW source indication: a pager or tool

} // namespace

X11Workspace::X11Workspace(const QByteArray &displayName, QObject *parent,
                           std::shared_ptr<DesktopEntryIndex> entries)
    : Workspace(parent), m_x(displayName),
      m_entries(entries ? std::move(entries) : std::make_shared<DesktopEntryIndex>())
{
    if (m_x.isValid()) {
        m_atoms.activeWindow = m_x.atom("_NET_ACTIVE_WINDOW");
        m_atoms.wmPid = m_x.atom("_NET_WM_PID");
        m_atoms.gtkApplicationId = m_x.atom("_GTK_APPLICATION_ID");
        m_atoms.utf8String = m_x.atom("UTF8_STRING");
        m_atoms.supportingWmCheck = m_x.atom("_NET_SUPPORTING_WM_CHECK");
        m_atoms.wmDesktop = m_x.atom("_NET_WM_DESKTOP");
    }
    const QDBusConnection systemBus = QDBusConnection::systemBus();
    if (systemBus.isConnected())
        watchSleep(systemBus);
}

X11Workspace::~X11Workspace() = default;

QByteArray X11Workspace::property(quint32 window, quint32 property, quint32 type, quint32 maxLongs)
{
    if (!m_x.isValid() || window == 0 || property == XCB_ATOM_NONE)
        return {};
    // The server sends keyboard mapping changes to every client, asked or not; nothing here
    // needs them, and they must not pile up.
    m_x.discardEvents();
    xcb_connection_t *c = m_x.get();
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, window, property, type, 0, maxLongs);
    // A window that went away answers with an error; that reads as "no value".
    xcb_generic_error_t *error = nullptr;
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, &error));
    const XcbReply<xcb_generic_error_t> ownedError(error);
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
}

namespace {

quint32 firstCardinal(const QByteArray &value)
{
    if (value.size() < int(sizeof(quint32)))
        return 0;
    quint32 number = 0;
    std::memcpy(&number, value.constData(), sizeof number);
    return number;
}

} // namespace

bool X11Workspace::hasEwmhManager()
{
    // The check window names itself; a stale one left by a window manager that quit does not.
    const quint32 check =
        firstCardinal(property(m_x.root(), m_atoms.supportingWmCheck, XCB_ATOM_WINDOW));
    return check != 0 &&
           firstCardinal(property(check, m_atoms.supportingWmCheck, XCB_ATOM_WINDOW)) == check;
}

quint32 X11Workspace::currentInputFocus()
{
    xcb_connection_t *c = m_x.get();
    const XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!reply)
        return 0;
    quint32 window = reply->focus;
    // None and PointerRoot are no windows.
    if (window <= XCB_INPUT_FOCUS_POINTER_ROOT || window == m_x.root())
        return 0;
    // Without a window manager the focus may sit in a child; the application marks its
    // top-level window.
    for (int depth = 0; depth < 32; ++depth) {
        if (!property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).isEmpty())
            return window;
        const XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree)
            return window;
        const quint32 parent = tree->parent;
        if (parent == 0 || parent == m_x.root())
            return window;
        window = parent;
    }
    return window;
}

quint64 X11Workspace::activeWindow()
{
    if (!m_x.isValid())
        return 0;
    const QByteArray value = property(m_x.root(), m_atoms.activeWindow, XCB_ATOM_WINDOW);
    if (!value.isEmpty())
        return firstCardinal(value);
    if (hasEwmhManager())
        return 0;
    return currentInputFocus();
}

QStringList X11Workspace::windowClassPair(quint64 window)
{
    const QByteArray value = property(quint32(window), XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    if (value.isEmpty())
        return {};
    // Two NUL-terminated strings: the instance name, then the class.
    QList<QByteArray> parts = value.split('\0');
    while (parts.size() < 2)
        parts.append(QByteArray());
    return {QString::fromLocal8Bit(parts.at(0)), QString::fromLocal8Bit(parts.at(1))};
}

QString X11Workspace::windowClass(quint64 window)
{
    const QStringList pair = windowClassPair(window);
    return pair.isEmpty() ? QString() : pair.at(1);
}

std::optional<AppInfo> X11Workspace::applicationOf(quint64 window)
{
    if (!m_x.isValid() || window == 0)
        return std::nullopt;
    const QStringList pair = windowClassPair(window);
    const QString instance = pair.value(0);
    const QString cls = pair.value(1).isEmpty() ? instance : pair.value(1);
    QByteArray gtkId = property(quint32(window), m_atoms.gtkApplicationId, m_atoms.utf8String);
    if (const qsizetype nul = gtkId.indexOf('\0'); nul >= 0)
        gtkId.truncate(nul);
    const QString applicationId = QString::fromUtf8(gtkId).trimmed();

    AppInfo info;
    info.pid = firstCardinal(property(quint32(window), m_atoms.wmPid, XCB_ATOM_CARDINAL));
    if (cls.isEmpty() && applicationId.isEmpty() && info.pid == 0)
        return std::nullopt;

    std::optional<DesktopEntryIndex::Entry> entry;
    if (!applicationId.isEmpty()) {
        info.appId = applicationId;
        entry = m_entries->byId(applicationId);
    } else {
        entry = m_entries->byWindowClass(cls, instance);
        info.appId = entry ? entry->id : cls;
    }
    if (entry && !entry->name.isEmpty())
        info.name = entry->name;
    else
        info.name = cls.isEmpty() ? info.appId : cls;
    return info;
}

std::optional<AppInfo> X11Workspace::activeApplication()
{
    const quint64 window = activeWindow();
    if (window == 0)
        return std::nullopt;
    return applicationOf(window);
}

void X11Workspace::sendToWindowManager(quint32 window, quint32 type,
                                       const std::array<quint32, 3> &data)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    for (size_t i = 0; i < data.size(); ++i)
        event.data.data32[i] = data[i];
    xcb_send_event(m_x.get(), 0, m_x.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

void X11Workspace::showOnAllDesktops(quint64 window)
{
    xcb_connection_t *c = m_x.get();
    if (!c || window == 0 || window > 0xFFFFFFFFu || m_atoms.wmDesktop == 0)
        return;
    const auto id = quint32(window);
    const quint32 allDesktops = 0xFFFFFFFFu;
    // The property covers a window about to be mapped; a mapped one must ask the window
    // manager, which owns the property from then on.
    XcbReply<xcb_generic_error_t>(xcb_request_check(
        c, xcb_change_property_checked(c, XCB_PROP_MODE_REPLACE, id, m_atoms.wmDesktop,
                                       XCB_ATOM_CARDINAL, 32, 1, &allDesktops)));
    if (hasEwmhManager()) {
        sendToWindowManager(id, m_atoms.wmDesktop, {allDesktops, sourcePager, 0});
    }
    xcb_flush(c);
}

void X11Workspace::activateWindow(quint64 window)
{
    xcb_connection_t *c = m_x.get();
    if (!c || window == 0 || window > 0xFFFFFFFFu)
        return;
    const auto id = quint32(window);
    if (hasEwmhManager()) {
        sendToWindowManager(id, m_atoms.activeWindow,
                            {sourcePager, XCB_CURRENT_TIME, quint32(activeWindow())});
    } else {
        // Nobody manages the windows: raise it and give it the keyboard ourselves.
        const quint32 stackMode = XCB_STACK_MODE_ABOVE;
        // Checked requests: nothing reads this connection's event queue, so an error for a
        // window that is gone or unmapped must not be left to pile up there.
        XcbReply<xcb_generic_error_t>(xcb_request_check(
            c, xcb_configure_window_checked(c, id, XCB_CONFIG_WINDOW_STACK_MODE, &stackMode)));
        XcbReply<xcb_generic_error_t>(xcb_request_check(
            c, xcb_set_input_focus_checked(c, XCB_INPUT_FOCUS_PARENT, id, XCB_CURRENT_TIME)));
    }
    xcb_flush(c);
}

bool X11Workspace::watchSleep(const QDBusConnection &bus)
{
    return QDBusConnection(bus).connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(handlePrepareForSleep(bool)));
}

void X11Workspace::handlePrepareForSleep(bool sleeping)
{
    if (sleeping)
        Q_EMIT aboutToSleep();
    else
        Q_EMIT resumed();
}
