#include "platform/X11Pasteboard.h"

#include "platform/X11PasteboardTypes.h"
#include "platform/X11SelectionConnection.h"

#include "store/Log.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMimeData>

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
    : Pasteboard(parent), m_connection(new X11SelectionConnection(this))
{
    connect(m_connection, &X11SelectionConnection::selectionChanged, this, &Pasteboard::changed);
}

X11Pasteboard::~X11Pasteboard() = default;

qint64 X11Pasteboard::changeCount() const
{
    m_connection->pollEvents();
    return m_connection->changeCount();
}

const QMimeData *X11Pasteboard::ownOffer(quint32 owner) const
{
    if (!X11SelectionConnection::isWindowOf(owner, qtConnection()))
        return nullptr;
    const QClipboard *clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
}

QStringList X11Pasteboard::currentTypes()
{
    X11SelectionConnection::Read read(*m_connection, readBudgetMs);
    if (!read.hasOwner())
        return {};
    if (const QMimeData *own = ownOffer(read.owner()))
        return X11PasteboardTypes::offeredTypes(own->formats(), inProcessFetch(own))
            .value_or(QStringList());
    const auto targets = read.targets();
    if (!targets)
        return {};
    return X11PasteboardTypes::offeredTypes(
               *targets, [&read](const QString &target) { return read.convert(target); })
        .value_or(QStringList());
}

std::optional<ItemList> X11Pasteboard::read(const QStringList &wantedUtis)
{
    X11SelectionConnection::Read read(*m_connection, readBudgetMs);
    if (!read.hasOwner())
        return std::nullopt;
    if (const QMimeData *own = ownOffer(read.owner()))
        return X11PasteboardTypes::readItems(own->formats(), wantedUtis, inProcessFetch(own));
    const auto targets = read.targets();
    if (!targets)
        return std::nullopt;
    return X11PasteboardTypes::readItems(
        *targets, wantedUtis, [&read](const QString &target) { return read.convert(target); });
}

bool X11Pasteboard::qtOwnsClipboard() const
{
    return X11SelectionConnection::isWindowOf(m_connection->currentOwner(), qtConnection());
}

bool X11Pasteboard::write(const ItemList &items)
{
    QClipboard *clipboard = qGuiApp ? QGuiApplication::clipboard() : nullptr;
    if (!clipboard)
        return false;
    clipboard->setMimeData(X11PasteboardTypes::mimeDataFor(items), QClipboard::Clipboard);
    if (!qtConnection() || qtOwnsClipboard())
        return true;
    // Qt stamps its claim with the time of the last X event it handled. When another client
    // took the clipboard after that and Qt has not seen it yet, the server refuses the stale
    // claim: let Qt take in its pending events, then claim again.
    const QDeadlineTimer deadline(writeRetryMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        clipboard->setMimeData(X11PasteboardTypes::mimeDataFor(items), QClipboard::Clipboard);
        if (qtOwnsClipboard())
            return true;
    }
    Log::line(QStringLiteral("[Pasteboard] could not take the clipboard"));
    return false;
}
