#include "platform/X11Workspace.h"
#include "platform/X11Display.h"

#include <QDBusConnection>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace {

constexpr quint32 sourcePager = 2; // _NET_ACTIVE_WINDOW source indication: a pager or tool

QString environmentValue(const char *name)
{
    return QFile::decodeName(qgetenv(name));
}

} // namespace

// ---- DesktopEntryIndex ------------------------------------------------------------------

QStringList DesktopEntryIndex::applicationDirs()
{
    QStringList bases;
    QString dataHome = environmentValue("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    bases.append(dataHome);
    QString dataDirs = environmentValue("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        bases.append(dir);

    QStringList dirs;
    for (const QString &base : std::as_const(bases)) {
        const QString dir = QDir::cleanPath(base + QStringLiteral("/applications"));
        if (!dirs.contains(dir))
            dirs.append(dir);
    }
    return dirs;
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::parse(const QString &path,
                                                                 const QString &id)
{
    QFile file(path);
    // Entry files are small; anything large is no entry of ours to read.
    if (file.size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;

    Entry entry;
    entry.id = id;
    bool inMainGroup = false;
    bool sawMainGroup = false;
    QString type;
    bool hidden = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("StartupWMClass"))
            entry.startupWMClass = value;
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
        else if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Hidden"))
            hidden = value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    if (!sawMainGroup || hidden || (!type.isEmpty() && type != QLatin1String("Application")))
        return std::nullopt;
    return entry;
}

void DesktopEntryIndex::rebuild()
{
    m_entries.clear();
    m_byId.clear();
    m_byWMClass.clear();
    m_byShortName.clear();

    for (const QString &dir : applicationDirs()) {
        const QDir root(dir);
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = root.relativeFilePath(path);
            id.chop(int(qstrlen(".desktop")));
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            const QString key = id.toLower();
            // An entry in a more important folder hides the same id further down.
            if (m_byId.contains(key))
                continue;
            const std::optional<Entry> entry = parse(path, id);
            if (!entry)
                continue;
            const qsizetype index = m_entries.size();
            m_entries.append(*entry);
            m_byId.insert(key, index);
            if (!entry->startupWMClass.isEmpty())
                m_byWMClass.insert(entry->startupWMClass.toLower(), index);
            // Weaker names: the file name alone (entries in subfolders) and the last part of a
            // reverse-DNS id ("org.kde.kwrite" for a window of class "kwrite").
            const QString fileName = QFileInfo(path).completeBaseName().toLower();
            if (fileName != key && !m_byShortName.contains(fileName))
                m_byShortName.insert(fileName, index);
            const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
            if (dot >= 0 && dot + 1 < fileName.size() &&
                !m_byShortName.contains(fileName.mid(dot + 1)))
                m_byShortName.insert(fileName.mid(dot + 1), index);
        }
    }
    m_built = true;
    m_nextRebuild.setRemainingTime(m_rebuildIntervalMs);
}

template <typename Lookup>
std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::find(const Lookup &lookup)
{
    if (!m_built)
        rebuild();
    std::optional<Entry> found = lookup();
    // A miss may be an application installed since the last scan.
    if (!found && m_nextRebuild.hasExpired()) {
        rebuild();
        found = lookup();
    }
    return found;
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::lookupId(const QString &id) const
{
    const auto it = m_byId.constFind(id.toLower());
    if (it == m_byId.cend())
        return std::nullopt;
    return m_entries.at(*it);
}

std::optional<DesktopEntryIndex::Entry>
DesktopEntryIndex::lookupClass(const QString &windowClass, const QString &instance) const
{
    const QString names[] = {windowClass.toLower(), instance.toLower()};
    for (const QHash<QString, qsizetype> *table : {&m_byWMClass, &m_byId, &m_byShortName}) {
        for (const QString &name : names) {
            if (name.isEmpty())
                continue;
            const auto it = table->constFind(name);
            if (it != table->cend())
                return m_entries.at(*it);
        }
    }
    return std::nullopt;
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::byId(const QString &id)
{
    if (id.isEmpty())
        return std::nullopt;
    return find([&] { return lookupId(id); });
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::byWindowClass(const QString &windowClass,
                                                                         const QString &instance)
{
    if (windowClass.isEmpty() && instance.isEmpty())
        return std::nullopt;
    return find([&] { return lookupClass(windowClass, instance); });
}

// ---- X11Workspace -----------------------------------------------------------------------

X11Workspace::X11Workspace(const QByteArray &displayName, QObject *parent) : Workspace(parent)
{
    connectToServer(displayName);
    const QDBusConnection systemBus = QDBusConnection::systemBus();
    if (systemBus.isConnected())
        watchSleep(systemBus);
}

X11Workspace::~X11Workspace()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

void X11Workspace::connectToServer(const QByteArray &displayName)
{
    const X11Display display = connectToDisplay(displayName);
    if (!display.connection)
        return;
    m_connection = display.connection;
    m_root = display.root;
    m_atoms.activeWindow = intern("_NET_ACTIVE_WINDOW");
    m_atoms.wmPid = intern("_NET_WM_PID");
    m_atoms.gtkApplicationId = intern("_GTK_APPLICATION_ID");
    m_atoms.utf8String = intern("UTF8_STRING");
    m_atoms.supportingWmCheck = intern("_NET_SUPPORTING_WM_CHECK");
    m_atoms.wmDesktop = intern("_NET_WM_DESKTOP");
}

quint32 X11Workspace::intern(const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(m_connection, 0, quint16(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(m_connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const quint32 atom = reply->atom;
    std::free(reply);
    return atom;
}

QByteArray X11Workspace::property(quint32 window, quint32 property, quint32 type, quint32 maxLongs)
{
    if (!m_connection || window == 0 || property == XCB_ATOM_NONE)
        return {};
    // The server sends keyboard mapping changes to every client, asked or not; nothing here
    // needs them, and they must not pile up.
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        std::free(event);
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(m_connection, 0, window, property, type, 0, maxLongs);
    // A window that went away answers with an error; that reads as "no value".
    xcb_generic_error_t *error = nullptr;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection, cookie, &error);
    std::free(error);
    if (!reply)
        return {};
    QByteArray value;
    if (reply->type != XCB_ATOM_NONE) {
        const int length = xcb_get_property_value_length(reply);
        if (length > 0)
            value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), length);
    }
    std::free(reply);
    return value;
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
        firstCardinal(property(m_root, m_atoms.supportingWmCheck, XCB_ATOM_WINDOW));
    return check != 0 &&
           firstCardinal(property(check, m_atoms.supportingWmCheck, XCB_ATOM_WINDOW)) == check;
}

quint32 X11Workspace::currentInputFocus()
{
    xcb_get_input_focus_reply_t *reply =
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr);
    if (!reply)
        return 0;
    quint32 window = reply->focus;
    std::free(reply);
    // None and PointerRoot are no windows.
    if (window <= XCB_INPUT_FOCUS_POINTER_ROOT || window == m_root)
        return 0;
    // Without a window manager the focus may sit in a child; the application marks its
    // top-level window.
    for (int depth = 0; depth < 32; ++depth) {
        if (!property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).isEmpty())
            return window;
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr);
        if (!tree)
            return window;
        const quint32 parent = tree->parent;
        std::free(tree);
        if (parent == 0 || parent == m_root)
            return window;
        window = parent;
    }
    return window;
}

quint64 X11Workspace::activeWindow()
{
    if (!m_connection)
        return 0;
    const QByteArray value = property(m_root, m_atoms.activeWindow, XCB_ATOM_WINDOW);
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
    if (!m_connection || window == 0)
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
        info.bundleId = applicationId;
        entry = m_entries.byId(applicationId);
    } else {
        entry = m_entries.byWindowClass(cls, instance);
        info.bundleId = entry ? entry->id : cls;
    }
    if (entry && !entry->name.isEmpty())
        info.name = entry->name;
    else
        info.name = cls.isEmpty() ? info.bundleId : cls;
    return info;
}

std::optional<AppInfo> X11Workspace::frontmostApplication()
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
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

void X11Workspace::showOnAllDesktops(quint64 window)
{
    if (!m_connection || window == 0 || window > 0xFFFFFFFFu || m_atoms.wmDesktop == 0)
        return;
    const auto id = quint32(window);
    const quint32 allDesktops = 0xFFFFFFFFu;
    // The property covers a window about to be mapped; a mapped one must ask the window
    // manager, which owns the property from then on.
    std::free(xcb_request_check(m_connection,
                                xcb_change_property_checked(m_connection, XCB_PROP_MODE_REPLACE, id,
                                                            m_atoms.wmDesktop, XCB_ATOM_CARDINAL,
                                                            32, 1, &allDesktops)));
    if (hasEwmhManager()) {
        sendToWindowManager(id, m_atoms.wmDesktop, {allDesktops, sourcePager, 0});
    }
    xcb_flush(m_connection);
}

void X11Workspace::activateWindow(quint64 window)
{
    if (!m_connection || window == 0 || window > 0xFFFFFFFFu)
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
        std::free(xcb_request_check(
            m_connection, xcb_configure_window_checked(m_connection, id,
                                                       XCB_CONFIG_WINDOW_STACK_MODE, &stackMode)));
        std::free(xcb_request_check(
            m_connection, xcb_set_input_focus_checked(m_connection, XCB_INPUT_FOCUS_PARENT, id,
                                                      XCB_CURRENT_TIME)));
    }
    xcb_flush(m_connection);
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
        Q_EMIT willSleep();
    else
        Q_EMIT didWake();
}
