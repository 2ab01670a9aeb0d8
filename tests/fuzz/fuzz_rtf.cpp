// Feeds arbitrary bytes to the RTF reader: it must return (text or nothing) without crashing,
// hanging or reading out of bounds. The reader needs no Qt application object.
#include "core/RtfReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<QString> text = Rtf::toPlainText(bytes);
    // Touch the result so a broken string (bad size, dangling data) shows up under ASan.
    if (text && !text->isEmpty())
        static_cast<void>(text->back());
    return 0;
}
