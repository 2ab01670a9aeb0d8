// Hot-key labels come from a hand-editable settings file.
#include "prefs/HotKeys.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString label = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<KeyChord> chord = HotKeys::parseLabel(label);
    const QString shown = HotKeys::displayLabel(label);
    if (!chord) {
        // Anything that is not a label is shown as it stands.
        if (shown != label)
            std::abort();
        return 0;
    }
    // A chord always needs a modifier and is shown with a '+' between its parts.
    if (chord->carbonMods == 0 || !shown.contains(u'+'))
        std::abort();
    return 0;
}
