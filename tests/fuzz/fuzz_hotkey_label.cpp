// Hot-key labels come from a hand-editable settings file.
#include "prefs/HotKeys.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString label = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QKeyCombination> keys = HotKeys::parseLabel(label);
    const QString shown = HotKeys::displayLabel(label);
    if (!keys) {
        // Anything that is not a label is shown as it stands.
        if (shown != label)
            std::abort();
        return 0;
    }
    // A combination always needs a modifier, is shown with a '+' between its parts, and
    // writes back as the very label it was read from.
    if (keys->keyboardModifiers() == Qt::NoModifier || !shown.contains(u'+') ||
        HotKeys::label(*keys) != label)
        std::abort();
    return 0;
}
