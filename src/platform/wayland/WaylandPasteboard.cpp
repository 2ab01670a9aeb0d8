#include "platform/wayland/WaylandPasteboard.h"

#include "platform/wayland/PipeTransfer.h"
#include "platform/wayland/WaylandDataControl.h"
#include "platform/x11/X11PasteboardTypes.h"

#include "core/Log.h"

#include <QMimeData>
#include <QThread>

#include <memory>

namespace {

// Names plain text goes by besides text/plain: toolkits ask for one or another.
const QList<QByteArray> textAliases = {"text/plain;charset=utf-8", "UTF8_STRING", "STRING", "TEXT"};

QList<WaylandDataControl::Content> contentsFor(const ItemList &items)
{
    const std::unique_ptr<QMimeData> mime(X11PasteboardTypes::mimeDataFor(items));
    QList<WaylandDataControl::Content> contents;
    const QStringList formats = mime->formats();
    if (formats.contains(QStringLiteral("text/plain"))) {
        const QByteArray text = mime->data(QStringLiteral("text/plain"));
        for (const QByteArray &alias : textAliases)
            contents.append({alias, text});
    }
    for (const QString &format : formats)
        contents.append({format.toUtf8(), mime->data(format)});
    return contents;
}

std::optional<X11PasteboardTypes::Transfer> transferOf(const PipeTransfer::Result &result,
                                                       const QString &type)
{
    using Outcome = PipeTransfer::Result::Outcome;
    switch (result.outcome) {
    case Outcome::Complete:
        return X11PasteboardTypes::Transfer{result.data, type};
    case Outcome::NoAnswer:
        Log::line(QStringLiteral("[Pasteboard] clipboard owner did not answer for %1").arg(type));
        break;
    case Outcome::Stalled:
        Log::line(QStringLiteral("[Pasteboard] clipboard owner stopped mid-transfer"));
        break;
    case Outcome::Oversized:
        // A copy is kept with all its formats or not at all.
        Log::line(QStringLiteral("[Pasteboard] refused %1: %2 bytes or more, above %3")
                      .arg(type)
                      .arg(result.bytes)
                      .arg(Flavors::maxCaptureBytes));
        break;
    }
    return std::nullopt;
}

} // namespace

WaylandPasteboard::WaylandPasteboard(std::unique_ptr<WaylandDataControl> control, QObject *parent)
    : Pasteboard(parent), m_control(std::move(control))
{
    m_control->setParent(nullptr);
    connect(m_control.get(), &WaylandDataControl::selectionChanged, this, &Pasteboard::changed);
}

WaylandPasteboard::~WaylandPasteboard() = default;

QString WaylandPasteboard::protocolName() const
{
    return m_control->protocolName();
}

qint64 WaylandPasteboard::changeCount() const
{
    m_control->dispatchEvents();
    return m_control->changeCount();
}

bool WaylandPasteboard::announcesChanges() const
{
    return m_control->isValid();
}

bool WaylandPasteboard::ownsClipboard() const
{
    return m_control->ownsSelection();
}

std::optional<Pasteboard::Offer> WaylandPasteboard::readOffer(const QStringList &wantedUtis,
                                                              const TypeCheck &accept)
{
    const bool ownThread = QThread::currentThread() == thread();
    QStringList types;
    X11PasteboardTypes::Fetch fetch;
    QHash<QString, QByteArray> own;
    const QDeadlineTimer budget(readBudgetMs);
    const WaylandDataControl::Selection selection = m_control->selection();

    if (ownThread && m_control->ownsSelection()) {
        // Our own content is read in process: asking the compositor for it would wait for
        // this very thread to write it.
        for (const WaylandDataControl::Content &content : m_control->ownContents()) {
            const QString type = QString::fromUtf8(content.mimeType);
            if (!own.contains(type))
                types.append(type);
            own.insert(type, content.data);
        }
        fetch = [&own](const QString &type) {
            return std::optional(X11PasteboardTypes::Transfer{own.value(type), type});
        };
    } else {
        if (selection.mimeTypes.isEmpty() || selection.ownContent)
            return std::nullopt;
        types = selection.mimeTypes;
        fetch = [this, &selection,
                 &budget](const QString &type) -> std::optional<X11PasteboardTypes::Transfer> {
            if (budget.hasExpired())
                return std::nullopt;
            const int fd = m_control->receive(selection.serial, type);
            if (fd < 0)
                return std::nullopt; // the clipboard changed meanwhile
            return transferOf(
                PipeTransfer::read(fd, budget, stepTimeoutMs, Flavors::maxCaptureBytes), type);
        };
    }

    std::optional<QStringList> offered = X11PasteboardTypes::offeredTypes(types, fetch);
    if (!offered)
        return std::nullopt;
    Offer offer{std::move(*offered), {}};
    if (!accept || !accept(offer.types))
        return offer;
    std::optional<ItemList> items = X11PasteboardTypes::readItems(types, wantedUtis, fetch);
    if (!items)
        return std::nullopt;
    offer.items = std::move(*items);
    return offer;
}

bool WaylandPasteboard::write(const ItemList &items)
{
    return m_control->setSelection(contentsFor(items));
}

bool WaylandPasteboard::writePrimary(const ItemList &items)
{
    return m_control->setPrimarySelection(contentsFor(items));
}
