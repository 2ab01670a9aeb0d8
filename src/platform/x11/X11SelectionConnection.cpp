#include "platform/x11/X11SelectionConnection.h"

#include "core/Log.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

constexpr int propertyRingSize = 8;

quint8 eventType(const xcb_generic_event_t *event)
{
    return event->response_type & 0x7F;
}

} // namespace

X11SelectionConnection::X11SelectionConnection(Mode mode, QObject *parent)
    : QObject(parent), m_mode(mode)
{
    if (!connectToServer())
        Log::line(QStringLiteral("[Pasteboard] no X server with XFixes; clipboard unavailable"));
}

X11SelectionConnection::~X11SelectionConnection()
{
    // Before the connection closes: the notifier watches its socket.
    delete m_notifier;
}

bool X11SelectionConnection::connectToServer()
{
    auto x = std::make_unique<X11Connection>();
    xcb_connection_t *c = x->get();
    if (!c)
        return false;
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return false;
    // XFixes answers selection requests only to clients that announced their version.
    const XcbReply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    if (!version)
        return false;
    const xcb_screen_t *screen = x->screen();

    m_x = std::move(x);
    m_xfixesFirstEvent = xfixes->first_event;
    m_window = xcb_generate_id(c);
    // Property changes on our window drive incremental transfers.
    const uint32_t eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, screen->root_visual, XCB_CW_EVENT_MASK,
                      &eventMask);

    m_atoms.clipboard = intern("CLIPBOARD");
    m_atoms.targets = intern("TARGETS");
    m_atoms.incr = intern("INCR");
    m_atoms.atom = XCB_ATOM_ATOM;
    for (int i = 0; i < propertyRingSize; ++i)
        m_properties.append(intern("_ULVANE_SELECTION_" + QByteArray::number(i)));

    xcb_xfixes_select_selection_input(c, m_window, m_atoms.clipboard,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(c);

    if (m_mode == Mode::ReadOnly)
        return true;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11SelectionConnection::pollEvents);
    return true;
}

quint32 X11SelectionConnection::intern(const QByteArray &name)
{
    const QString key = QString::fromUtf8(name);
    if (const auto it = m_atomsByName.constFind(key); it != m_atomsByName.cend())
        return *it;
    const xcb_atom_t atom = m_x ? m_x->atom(name) : xcb_atom_t(XCB_ATOM_NONE);
    if (atom == XCB_ATOM_NONE)
        return XCB_ATOM_NONE;
    m_atomsByName.insert(key, atom);
    m_atomNames.insert(atom, key);
    return atom;
}

QString X11SelectionConnection::atomName(quint32 atom)
{
    return atomNames({atom}).value(0);
}

QStringList X11SelectionConnection::atomNames(const QList<quint32> &atoms)
{
    // Unknown names are asked for all at once: an offer may list hundreds of targets.
    QHash<quint32, xcb_get_atom_name_cookie_t> pending;
    for (const quint32 atom : atoms) {
        if (atom != XCB_ATOM_NONE && !m_atomNames.contains(atom) && !pending.contains(atom))
            pending.insert(atom, xcb_get_atom_name(connection(), atom));
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        XcbReply<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(connection(), it.value(), nullptr));
        if (!reply)
            continue;
        const QString name = QString::fromUtf8(xcb_get_atom_name_name(reply.get()),
                                               xcb_get_atom_name_name_length(reply.get()));
        m_atomNames.insert(it.key(), name);
        m_atomsByName.insert(name, it.key());
    }
    QStringList names;
    for (const quint32 atom : atoms)
        names.append(m_atomNames.value(atom));
    return names;
}

bool X11SelectionConnection::isWindowOf(quint32 window, xcb_connection_t *client)
{
    if (!client || window == XCB_WINDOW_NONE)
        return false;
    const xcb_setup_t *setup = xcb_get_setup(client);
    return setup && (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

quint32 X11SelectionConnection::currentOwner()
{
    if (!connection())
        return XCB_WINDOW_NONE;
    XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        connection(), xcb_get_selection_owner(connection(), m_atoms.clipboard), nullptr));
    return reply ? reply->owner : quint32(XCB_WINDOW_NONE);
}

quint32 X11SelectionConnection::nextProperty()
{
    const quint32 property = m_properties.at(m_nextProperty);
    m_nextProperty = (m_nextProperty + 1) % m_properties.size();
    return property;
}

void X11SelectionConnection::pollEvents()
{
    m_drainScheduled = false;
    if (!connection())
        return;
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection())) {
        handleEvent(event);
        std::free(event);
    }
    if (xcb_connection_has_error(connection()) && m_notifier && m_notifier->isEnabled()) {
        m_notifier->setEnabled(false);
        Log::line(QStringLiteral("[Pasteboard] X connection lost"));
    }
}

void X11SelectionConnection::handleEvent(xcb_generic_event_t *event)
{
    if (eventType(event) != m_xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY)
        return; // late answers to abandoned conversions end here
    const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
    if (notify->selection != m_atoms.clipboard)
        return;
    ++m_changeCount;
    if (m_readOwner != XCB_WINDOW_NONE &&
        (notify->subtype != XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER ||
         notify->owner != m_readOwner))
        m_readAborted = true;
    // Never emitted from inside a read: a listener that reads again would re-enter it.
    if (m_mode == Mode::Watch && !m_emitScheduled) {
        m_emitScheduled = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_emitScheduled = false;
                Q_EMIT selectionChanged();
            },
            Qt::QueuedConnection);
    }
}

void X11SelectionConnection::scheduleDrain()
{
    // Waiting for replies may have queued events inside xcb that the socket will not signal.
    if (m_mode != Mode::Watch || m_drainScheduled)
        return;
    m_drainScheduled = true;
    QMetaObject::invokeMethod(this, &X11SelectionConnection::pollEvents, Qt::QueuedConnection);
}

QDeadlineTimer X11SelectionConnection::stepDeadline(const QDeadlineTimer &total) const
{
    const QDeadlineTimer step(stepTimeoutMs);
    return step < total ? step : total;
}

template <typename Predicate>
xcb_generic_event_t *X11SelectionConnection::waitForEvent(const Predicate &accept,
                                                          const QDeadlineTimer &deadline,
                                                          Wait *outcome)
{
    const int fd = xcb_get_file_descriptor(connection());
    for (;;) {
        xcb_flush(connection());
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection())) {
            if (accept(event)) {
                *outcome = Wait::Matched;
                return event;
            }
            handleEvent(event);
            std::free(event);
        }
        if (m_readAborted || xcb_connection_has_error(connection())) {
            *outcome = Wait::Aborted;
            return nullptr;
        }
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0) {
            *outcome = Wait::TimedOut;
            return nullptr;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int rc = ::poll(&pfd, 1, remaining < 0 ? stepTimeoutMs : static_cast<int>(remaining));
        if (rc < 0 && errno != EINTR) {
            *outcome = Wait::Aborted;
            return nullptr;
        }
    }
}

std::optional<X11PasteboardTypes::Transfer>
X11SelectionConnection::convert(quint32 target, const QDeadlineTimer &total)
{
    if (m_readAborted || target == XCB_ATOM_NONE)
        return std::nullopt;
    const quint32 property = nextProperty();
    xcb_delete_property(connection(), m_window, property);
    xcb_convert_selection(connection(), m_window, m_atoms.clipboard, target, property,
                          XCB_CURRENT_TIME);

    Wait outcome = Wait::TimedOut;
    xcb_generic_event_t *event = waitForEvent(
        [&](const xcb_generic_event_t *e) {
            if (eventType(e) != XCB_SELECTION_NOTIFY)
                return false;
            const auto *n = reinterpret_cast<const xcb_selection_notify_event_t *>(e);
            return n->requestor == m_window && n->selection == m_atoms.clipboard &&
                   n->target == target && (n->property == property || n->property == XCB_NONE);
        },
        stepDeadline(total), &outcome);
    if (!event) {
        if (outcome == Wait::TimedOut)
            Log::line(QStringLiteral("[Pasteboard] clipboard owner did not answer for %1")
                          .arg(atomName(target)));
        return std::nullopt;
    }
    const bool refused =
        reinterpret_cast<const xcb_selection_notify_event_t *>(event)->property == XCB_NONE;
    std::free(event);
    if (refused)
        return X11PasteboardTypes::Transfer{};

    // The size comes first, so an owner offering hundreds of megabytes in one property costs
    // one small reply rather than a buffer the size of its offer.
    XcbReply<xcb_get_property_reply_t> size(xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
        nullptr));
    if (!size)
        return X11PasteboardTypes::Transfer{};
    if (size->type != m_atoms.incr && qint64(size->bytes_after) > maxTransferBytes)
        return refuseOversized(target, property, size->bytes_after);

    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection(),
                               xcb_get_property(connection(), 1, m_window, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, maxTransferBytes / 4),
                               nullptr));
    if (!reply)
        return X11PasteboardTypes::Transfer{};
    if (reply->type == m_atoms.incr) {
        // The announced size is only a lower bound, yet one already too large ends it here.
        quint32 announced = 0;
        if (xcb_get_property_value_length(reply.get()) >= int(sizeof announced))
            std::memcpy(&announced, xcb_get_property_value(reply.get()), sizeof announced);
        if (qint64(announced) > maxTransferBytes)
            return refuseOversized(target, property, announced);
        return receiveIncrementally(target, property, total);
    }
    if (reply->bytes_after > 0)
        return refuseOversized(target, property, qint64(reply->bytes_after) + reply->value_len);
    X11PasteboardTypes::Transfer transfer;
    transfer.type = atomName(reply->type);
    transfer.data = QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                               xcb_get_property_value_length(reply.get()));
    return transfer;
}

std::optional<X11PasteboardTypes::Transfer>
X11SelectionConnection::refuseOversized(quint32 target, quint32 property, qint64 bytes)
{
    xcb_delete_property(connection(), m_window, property);
    Log::line(QStringLiteral("[Pasteboard] refused %1: %2 bytes or more, above %3")
                  .arg(atomName(target))
                  .arg(bytes)
                  .arg(maxTransferBytes));
    // The whole read ends here: a copy is kept with all its formats or not at all, never
    // as the text that came with an image too large to keep.
    return std::nullopt;
}

std::optional<X11PasteboardTypes::Transfer>
X11SelectionConnection::receiveIncrementally(quint32 target, quint32 property,
                                             const QDeadlineTimer &total)
{
    // Deleting the INCR announcement (done by the caller's read) asks for the first chunk;
    // each chunk is deleted in turn to ask for the next, and an empty chunk ends the transfer.
    X11PasteboardTypes::Transfer transfer;
    bool typeKnown = false;
    for (;;) {
        Wait outcome = Wait::TimedOut;
        xcb_generic_event_t *event = waitForEvent(
            [&](const xcb_generic_event_t *e) {
                if (eventType(e) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto *n = reinterpret_cast<const xcb_property_notify_event_t *>(e);
                return n->window == m_window && n->atom == property &&
                       n->state == XCB_PROPERTY_NEW_VALUE;
            },
            stepDeadline(total), &outcome);
        if (!event) {
            if (outcome == Wait::TimedOut)
                Log::line(QStringLiteral("[Pasteboard] clipboard owner stopped mid-transfer"));
            xcb_delete_property(connection(), m_window, property);
            return std::nullopt;
        }
        std::free(event);

        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection(),
            xcb_get_property(connection(), 1, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             maxTransferBytes / 4),
            nullptr));
        if (!reply)
            return std::nullopt;
        const int length = xcb_get_property_value_length(reply.get());
        if (!typeKnown) {
            transfer.type = atomName(reply->type);
            typeKnown = true;
        }
        if (length == 0)
            return transfer;
        if (transfer.data.size() + length > maxTransferBytes)
            return refuseOversized(target, property, transfer.data.size() + length);
        transfer.data.append(static_cast<const char *>(xcb_get_property_value(reply.get())),
                             length);
    }
}

X11SelectionConnection::Read::Read(X11SelectionConnection &connection, int totalBudgetMs)
    : m_connection(connection), m_total(totalBudgetMs)
{
    if (!connection.isValid())
        return;
    connection.m_readOwner = XCB_WINDOW_NONE;
    connection.m_readAborted = false;
    m_owner = connection.currentOwner();
    // The owner reply comes after every change event sent before it: taking those in now
    // keeps an earlier change from aborting this read.
    connection.pollEvents();
    connection.m_readOwner = m_owner;
}

X11SelectionConnection::Read::~Read()
{
    m_connection.m_readOwner = XCB_WINDOW_NONE;
    m_connection.m_readAborted = false;
    if (m_connection.isValid())
        m_connection.scheduleDrain();
}

std::optional<QStringList> X11SelectionConnection::Read::targets()
{
    if (!hasOwner())
        return std::nullopt;
    const auto transfer = m_connection.convert(m_connection.m_atoms.targets, m_total);
    if (!transfer)
        return std::nullopt;
    QList<quint32> atoms;
    const qsizetype count = transfer->data.size() / 4;
    atoms.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        quint32 atom = 0;
        std::memcpy(&atom, transfer->data.constData() + i * 4, sizeof atom);
        atoms.append(atom);
    }
    QStringList names = m_connection.atomNames(atoms);
    names.removeAll(QString());
    return names;
}

std::optional<X11PasteboardTypes::Transfer>
X11SelectionConnection::Read::convert(const QString &target)
{
    if (!hasOwner())
        return std::nullopt;
    return m_connection.convert(m_connection.intern(target.toUtf8()), m_total);
}
