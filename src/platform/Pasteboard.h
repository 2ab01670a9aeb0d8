#pragma once

#include "core/Flavor.h"

#include <QObject>
#include <QStringList>

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

    // Every type identifier offered now, item after item, without duplicates. Used to veto a
    // capture (concealed types, our own marker) before any content is transferred. Empty when
    // nothing is offered or the owner does not answer in time.
    virtual QStringList currentTypes() = 0;

    // Reads the current offer once: the items in order, each holding the flavors of the wanted
    // types that came with bytes. Plain text offered only in another text encoding arrives as
    // UTF-8 "public.utf8-plain-text" when that type is wanted. An empty list means the offer
    // has none of the wanted types; absent means nothing is offered or the owner did not
    // answer in time.
    virtual std::optional<ItemList> read(const QStringList &wantedUtis) = 0;

    // Makes the items the clipboard's whole contents. False when nothing could be written.
    virtual bool write(const ItemList &items) = 0;

Q_SIGNALS:
    // As soon as the clipboard's owner changes; changeCount() has moved by then.
    void changed();
};
