#include "core/Flavor.h"

namespace Flavors {

FlavorList flatten(const ItemList &items)
{
    FlavorList flat;
    qsizetype n = 0;
    for (const FlavorList &item : items)
        n += item.size();
    flat.reserve(n);
    for (const FlavorList &item : items)
        flat.append(item);
    return flat;
}

const Flavor *first(const FlavorList &flat, const QString &uti)
{
    for (const Flavor &f : flat) {
        if (f.uti == uti)
            return &f;
    }
    return nullptr;
}

bool contains(const FlavorList &flat, const QString &uti)
{
    return first(flat, uti) != nullptr;
}

} // namespace Flavors
