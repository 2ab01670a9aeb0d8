// Colour clips are whatever text someone copied; the swatch parser must take any of it.
#include "panel/Theme.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QColor> color = colorFromHexString(text);
    if (!color)
        return 0;
    // A swatch is always opaque, and what parses is six or eight hex digits at heart.
    if (!color->isValid() || color->alpha() != 255)
        std::abort();
    QString digits = text.trimmed();
    if (digits.startsWith(u'#'))
        digits = digits.mid(1);
    if (digits.startsWith(u'+'))
        digits = digits.mid(1);
    if (digits.size() > 8 || digits.size() < 5)
        std::abort();
    return 0;
}
