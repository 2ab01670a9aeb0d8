#pragma once

#include "core/Flavor.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

// The system clipboard as the capture and paste code see it: items of typed flavors named by
// uniform type identifiers, a change counter and a change signal. The platform's own type
// names never leave the implementation.
class Pasteboard : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Changes whenever any process, this one included, changes the contents. Only inequality
    // carries meaning.
    virtual qint64 changeCount() const = 0;
    // Whether changed() is sent for every change, so nobody needs to poll changeCount().
    virtual bool announcesChanges() const { return false; }

    // One look at the current offer.
    struct Offer
    {
        // Every type identifier offered, item after item, without duplicates.
        QStringList types;
        // The items in order, each holding the flavors of the wanted types that came with
        // bytes; empty when the check refused the offer or none of the wanted types came.
        ItemList items;
    };
    using TypeCheck = std::function<bool(const QStringList &types)>;

    // Reads the current offer once: first its types, which `accept` sees before any content
    // is transferred (so a concealed password never leaves its owner just to be thrown
    // away), then, when accepted, the wanted types' contents. Plain text offered only in
    // another text encoding arrives as UTF-8 "public.utf8-plain-text" when that type is
    // wanted. Absent when nothing is offered, the owner does not answer in time or one of the
    // wanted contents is over Flavors::maxCaptureBytes.
    virtual std::optional<Offer> readOffer(const QStringList &wantedUtis,
                                           const TypeCheck &accept) = 0;

    // The offered types alone; empty when nothing is offered or the owner does not answer.
    QStringList currentTypes();
    // The wanted types' contents; an empty list when the offer has none of them.
    std::optional<ItemList> read(const QStringList &wantedUtis);

    // Makes the items the clipboard's whole contents. False when nothing could be written.
    virtual bool write(const ItemList &items) = 0;
    // Whether this process wrote the clipboard's current contents; reading them then waits on
    // no other application.
    virtual bool ownsClipboard() const = 0;

    // Makes the items the primary selection (what a middle click or Shift+Insert pastes);
    // false where there is none.
    virtual bool writePrimary(const ItemList &items)
    {
        Q_UNUSED(items);
        return false;
    }

Q_SIGNALS:
    // As soon as the clipboard's owner changes; changeCount() has moved by then.
    void changed();
};
