// Content files are read back from disk, where anything may have happened to them.
#include "store/PBContent.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<PBContent> content = PBContent::fromJson(bytes);
    if (!content)
        return 0;
    const ItemList items = content->decodedItems();
    // Whatever decodes must survive our own writer unchanged.
    const std::optional<PBContent> again = PBContent::fromJson(PBContent::from(items).toJson());
    if (!again || again->decodedItems() != items)
        std::abort();
    return 0;
}
