#include "platform/wayland/WaylandDataControl.h"

#include "platform/wayland/PipeTransfer.h"

#include "core/Log.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

WaylandDataControl::WaylandDataControl(QObject *parent) : QObject(parent)
{
    if (!connectToCompositor()) {
        m_protocol.reset();
        if (m_seat)
            wl_seat_destroy(m_seat);
        m_seat = nullptr;
    }
}

WaylandDataControl::~WaylandDataControl()
{
    delete m_notifier;
    if (!m_display)
        return;
    for (auto it = m_sources.cbegin(); it != m_sources.cend(); ++it)
        m_protocol->destroySource(it.key());
    for (auto it = m_pendingOffers.cbegin(); it != m_pendingOffers.cend(); ++it)
        m_protocol->destroyOffer(it.key());
    if (m_offer)
        m_protocol->destroyOffer(m_offer);
    m_protocol.reset();
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

void WaylandDataControl::registryGlobal(void *data, wl_registry *, uint32_t name,
                                        const char *interface, uint32_t version)
{
    auto *self = static_cast<WaylandDataControl *>(data);
    const Global global{name, version};
    if (std::strcmp(interface,
                    DataControlProtocol::interfaceName(DataControlProtocol::Kind::Ext)) == 0)
        self->m_extGlobal = global;
    else if (std::strcmp(interface,
                         DataControlProtocol::interfaceName(DataControlProtocol::Kind::Wlr)) == 0)
        self->m_wlrGlobal = global;
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->m_seatGlobal.name == 0)
        self->m_seatGlobal = global; // the first seat is the user's
}

bool WaylandDataControl::connectToCompositor()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return false;
    static const wl_registry_listener registryListener = {
        &WaylandDataControl::registryGlobal,
        [](void *, wl_registry *, uint32_t) {},
    };
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, this);
    if (wl_display_roundtrip(m_display) < 0 || m_seatGlobal.name == 0)
        return false;

    // The standard protocol where the compositor has it: the wlroots one is being retired.
    const bool ext = m_extGlobal.name != 0;
    const Global global = ext ? m_extGlobal : m_wlrGlobal;
    if (global.name == 0)
        return false;
    m_seat = static_cast<wl_seat *>(
        wl_registry_bind(m_registry, m_seatGlobal.name, &wl_seat_interface, 1));
    m_protocol = DataControlProtocol::bind(ext ? DataControlProtocol::Kind::Ext
                                               : DataControlProtocol::Kind::Wlr,
                                           m_registry, global.name, global.version, *this);
    if (!m_seat || !m_protocol)
        return false;
    m_protocol->followSeat(m_seat);
    // The device tells the current clipboard at once; taken in now, it is no change.
    if (wl_display_roundtrip(m_display) < 0)
        return false;
    m_changeCount = 0;

    m_notifier = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandDataControl::dispatchEvents);
    return true;
}

QString WaylandDataControl::protocolName() const
{
    return isValid() ? m_protocol->displayName() : QString();
}

void WaylandDataControl::dispatchEvents()
{
    if (!m_display || !m_notifier || !m_notifier->isEnabled())
        return;
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    pollfd pfd{wl_display_get_fd(m_display), POLLIN, 0};
    if (::poll(&pfd, 1, 0) > 0)
        wl_display_read_events(m_display);
    else
        wl_display_cancel_read(m_display);
    wl_display_dispatch_pending(m_display);
    flush();
    if (const int error = wl_display_get_error(m_display)) {
        m_notifier->setEnabled(false);
        Log::line(QStringLiteral("[Pasteboard] Wayland connection lost: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
}

void WaylandDataControl::flush()
{
    // A full socket keeps the rest for the next round; nothing waits on it.
    wl_display_flush(m_display);
}

void WaylandDataControl::scheduleSignal()
{
    if (m_signalScheduled)
        return;
    m_signalScheduled = true;
    // Never sent from inside dispatching: a listener that reads at once would re-enter it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_signalScheduled = false;
            Q_EMIT selectionChanged();
        },
        Qt::QueuedConnection);
}

void WaylandDataControl::dataOffer(wl_proxy *offer)
{
    m_pendingOffers.insert(offer, {});
}

void WaylandDataControl::offerMimeType(wl_proxy *offer, const char *mimeType)
{
    const auto it = m_pendingOffers.find(offer);
    if (it != m_pendingOffers.end())
        it->append(QString::fromUtf8(mimeType));
}

void WaylandDataControl::selection(wl_proxy *offer)
{
    const QStringList types = offer ? m_pendingOffers.take(offer) : QStringList();
    {
        const QMutexLocker locker(&m_lock);
        if (m_offer)
            m_protocol->destroyOffer(m_offer);
        m_offer = offer;
        ++m_selection.serial;
        m_selection.mimeTypes = types;
        // The compositor cancels our source before it names another client's offer, so
        // while ours is active the new selection is the one we set.
        m_selection.ownContent = offer && m_activeSource;
    }
    ++m_changeCount;
    scheduleSignal();
}

void WaylandDataControl::primarySelection(wl_proxy *offer)
{
    if (offer) {
        m_pendingOffers.remove(offer);
        m_protocol->destroyOffer(offer);
    }
}

void WaylandDataControl::finished()
{
    Log::line(QStringLiteral("[Pasteboard] the compositor ended clipboard access"));
    const QMutexLocker locker(&m_lock);
    if (m_offer)
        m_protocol->destroyOffer(m_offer);
    m_offer = nullptr;
    ++m_selection.serial;
    m_selection.mimeTypes.clear();
    m_selection.ownContent = false;
}

void WaylandDataControl::sourceSend(wl_proxy *source, const char *mimeType, int fd)
{
    const QList<Content> contents = m_sources.value(source);
    const QByteArray type(mimeType);
    for (const Content &content : contents) {
        if (content.mimeType == type) {
            PipeWriter::start(fd, content.data, this);
            return;
        }
    }
    ::close(fd);
}

void WaylandDataControl::sourceCancelled(wl_proxy *source)
{
    m_sources.remove(source);
    m_protocol->destroySource(source);
    if (m_activeSource == source)
        m_activeSource = nullptr;
}

WaylandDataControl::Selection WaylandDataControl::selection() const
{
    const QMutexLocker locker(&m_lock);
    return m_selection;
}

int WaylandDataControl::receive(quint64 serial, const QString &mimeType)
{
    int fds[2];
    {
        const QMutexLocker locker(&m_lock);
        if (!m_offer || serial != m_selection.serial || ::pipe2(fds, O_CLOEXEC) != 0)
            return -1;
        m_protocol->receive(m_offer, mimeType.toUtf8(), fds[1]);
    }
    // The request holds a copy of the write end; ours must go so the end of the content
    // shows as the end of the pipe.
    wl_display_flush(m_display);
    ::close(fds[1]);
    return fds[0];
}

bool WaylandDataControl::setSelection(const QList<Content> &contents)
{
    if (!isValid())
        return false;
    QList<QByteArray> types;
    for (const Content &content : contents)
        types.append(content.mimeType);
    wl_proxy *source = m_protocol->createSource(types);
    m_sources.insert(source, contents);
    m_activeSource = source;
    // The source it replaces is cancelled by the compositor and let go then.
    m_protocol->setSelection(source);
    flush();
    return true;
}

QList<WaylandDataControl::Content> WaylandDataControl::ownContents() const
{
    return m_activeSource ? m_sources.value(m_activeSource) : QList<Content>();
}
