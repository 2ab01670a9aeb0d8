#include "platform/Pasteboard.h"

QStringList Pasteboard::currentTypes()
{
    const std::optional<Offer> offer = readOffer({}, [](const QStringList &) { return false; });
    return offer ? offer->types : QStringList();
}

std::optional<ItemList> Pasteboard::read(const QStringList &wantedUtis)
{
    std::optional<Offer> offer = readOffer(wantedUtis, [](const QStringList &) { return true; });
    if (!offer)
        return std::nullopt;
    return std::move(offer->items);
}
