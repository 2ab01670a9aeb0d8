#include "platform/x11/X11Pasteboard.h"

#include "platform/x11/X11PasteboardTypes.h"
#include "platform/x11/X11SelectionConnection.h"

#include "core/Log.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

namespace {

xcb_connection_t *qtConnection()
{
    if (!qGuiApp)
        return nullptr;
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

X11PasteboardTypes::Fetch inProcessFetch(const QMimeData *mime)
{
    return [mime](const QString &format) {
        return std::optional(X11PasteboardTypes::Transfer{mime->data(format), format});
    };
}

} // namespace

X11Pasteboard::X11Pasteboard(QObject *parent)
    : Pasteboard(parent),
      m_connection(new X11SelectionConnection(X11SelectionConnection::Mode::Watch, this)),
      m_backgroundReader(
          std::make_unique<X11SelectionConnection>(X11SelectionConnection::Mode::ReadOnly))
{
    // Taken once on the GUI thread; reads on other threads compare owners against it.
    m_qtConnection = qtConnection();
    connect(m_connection, &X11SelectionConnection::selectionChanged, this, &Pasteboard::changed);
}

X11Pasteboard::~X11Pasteboard() = default;

qint64 X11Pasteboard::changeCount() const
{
    m_connection->pollEvents();
    return m_connection->changeCount();
}

bool X11Pasteboard::announcesChanges() const
{
    return m_connection->isValid();
}

bool X11Pasteboard::isOwnOffer(quint32 owner) const
{
    return X11SelectionConnection::isWindowOf(owner, m_qtConnection);
}

const QMimeData *X11Pasteboard::ownOffer() const
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
}

bool X11Pasteboard::onGuiThread() const
{
    return QThread::currentThread() == thread();
}

template <typename Use>
auto X11Pasteboard::withOffer(const Use &use)
    -> decltype(use(QStringList(), X11PasteboardTypes::Fetch()))
{
    const bool gui = onGuiThread();
    QMutexLocker background(gui ? nullptr : &m_backgroundLock);
    X11SelectionConnection::Read read(gui ? *m_connection : *m_backgroundReader, readBudgetMs);
    if (!read.hasOwner())
        return std::nullopt;
    if (isOwnOffer(read.owner())) {
        // QClipboard is the GUI thread's. Off it, our own offer reads as nothing offered:
        // what this process offers was copied in this application and is never captured.
        const QMimeData *own = gui ? ownOffer() : nullptr;
        if (!own)
            return std::nullopt;
        return use(own->formats(), inProcessFetch(own));
    }
    const auto targets = read.targets();
    if (!targets)
        return std::nullopt;
    return use(*targets, [&read](const QString &target) { return read.convert(target); });
}

std::optional<Pasteboard::Offer> X11Pasteboard::readOffer(const QStringList &wantedUtis,
                                                          const TypeCheck &accept)
{
    return withOffer([&](const QStringList &targets,
                         const X11PasteboardTypes::Fetch &fetch) -> std::optional<Offer> {
        std::optional<QStringList> types = X11PasteboardTypes::offeredTypes(targets, fetch);
        if (!types)
            return std::nullopt;
        Offer offer{std::move(*types), {}};
        if (!accept || !accept(offer.types))
            return offer;
        std::optional<ItemList> items = X11PasteboardTypes::readItems(targets, wantedUtis, fetch);
        if (!items)
            return std::nullopt;
        offer.items = std::move(*items);
        return offer;
    });
}

bool X11Pasteboard::ownsClipboard() const
{
    return isOwnOffer(m_connection->currentOwner());
}

bool X11Pasteboard::write(const ItemList &items)
{
    QClipboard *clipboard = qGuiApp ? QGuiApplication::clipboard() : nullptr;
    if (!clipboard)
        return false;
    clipboard->setMimeData(X11PasteboardTypes::mimeDataFor(items), QClipboard::Clipboard);
    if (!m_qtConnection || ownsClipboard())
        return true;
    // Qt stamps its claim with the time of the last X event it handled. When another client
    // took the clipboard after that and Qt has not seen it yet, the server refuses the stale
    // claim: let Qt take in its pending events, then claim again.
    const QDeadlineTimer deadline(writeRetryMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        clipboard->setMimeData(X11PasteboardTypes::mimeDataFor(items), QClipboard::Clipboard);
        if (ownsClipboard())
            return true;
    }
    Log::line(QStringLiteral("[Pasteboard] could not take the clipboard"));
    return false;
}

bool X11Pasteboard::writePrimary(const ItemList &items)
{
    QClipboard *clipboard = qGuiApp ? QGuiApplication::clipboard() : nullptr;
    if (!clipboard || !clipboard->supportsSelection())
        return false;
    // Written right after the clipboard, whose claim has already brought Qt's event time up
    // to date, so this claim is not refused as stale.
    clipboard->setMimeData(X11PasteboardTypes::mimeDataFor(items), QClipboard::Selection);
    return clipboard->ownsSelection();
}
