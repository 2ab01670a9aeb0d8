#include "platform/wayland/WaylandDataControl.h"

#include "platform/wayland/PipeTransfer.h"
#include "platform/wayland/WaylandConnection.h"

#include "core/Log.h"

#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

WaylandDataControl::WaylandDataControl(QObject *parent)
    : QObject(parent), m_connection(std::make_unique<WaylandConnection>())
{
    if (!bindProtocol())
        releaseProxies();
}

WaylandDataControl::~WaylandDataControl()
{
    releaseProxies();
}

void WaylandDataControl::releaseProxies()
{
    if (m_protocol) {
        for (auto it = m_sources.cbegin(); it != m_sources.cend(); ++it)
            m_protocol->destroySource(it.key());
        for (auto it = m_pendingOffers.cbegin(); it != m_pendingOffers.cend(); ++it)
            m_protocol->destroyOffer(it.key());
        const QMutexLocker locker(&m_lock);
        if (m_offer)
            m_protocol->destroyOffer(m_offer);
        m_offer = nullptr;
    }
    m_sources.clear();
    m_pendingOffers.clear();
    m_activeSource = nullptr;
    m_protocol.reset();
    if (m_seat)
        wl_seat_destroy(m_seat);
    m_seat = nullptr;
}

bool WaylandDataControl::bindProtocol()
{
    if (!m_connection->isConnected())
        return false;
    m_seat = static_cast<wl_seat *>(
        m_connection->bind(m_connection->global(wl_seat_interface.name), &wl_seat_interface, 1));
    if (!m_seat)
        return false;
    // The standard protocol where the compositor has it: the wlroots one is being retired.
    m_protocol = DataControlProtocol::bind(DataControlProtocol::Kind::Ext, *m_connection, *this);
    if (!m_protocol)
        m_protocol =
            DataControlProtocol::bind(DataControlProtocol::Kind::Wlr, *m_connection, *this);
    if (!m_protocol)
        return false;
    m_protocol->followSeat(m_seat);
    // The device tells the current clipboard at once; taken in now, it is no change.
    if (!m_connection->roundtrip())
        return false;
    m_changeCount = 0;
    m_connection->watch();
    return true;
}

QString WaylandDataControl::protocolName() const
{
    return isValid() ? m_protocol->displayName() : QString();
}

void WaylandDataControl::dispatchEvents()
{
    m_connection->dispatchEvents();
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
    m_connection->flush();
    ::close(fds[1]);
    return fds[0];
}

wl_proxy *WaylandDataControl::createSource(const QList<Content> &contents)
{
    QList<QByteArray> types;
    for (const Content &content : contents)
        types.append(content.mimeType);
    wl_proxy *source = m_protocol->createSource(types);
    // Served until the compositor cancels it, and let go then.
    m_sources.insert(source, contents);
    return source;
}

bool WaylandDataControl::setSelection(const QList<Content> &contents)
{
    if (!isValid())
        return false;
    m_activeSource = createSource(contents);
    m_protocol->setSelection(m_activeSource);
    m_connection->flush();
    return true;
}

bool WaylandDataControl::setPrimarySelection(const QList<Content> &contents)
{
    if (!isValid() || !m_protocol->canSetPrimarySelection())
        return false;
    m_protocol->setPrimarySelection(createSource(contents));
    m_connection->flush();
    return true;
}

QList<WaylandDataControl::Content> WaylandDataControl::ownContents() const
{
    return m_activeSource ? m_sources.value(m_activeSource) : QList<Content>();
}
