// `ulvane --show` reads the session bus's answers with its own small reader; whatever arrives
// on the socket, it must stay inside the bytes received and report sizes it can step over.
#include "launcher/BusWire.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    // The launcher drops each complete message and reads the next from what is left.
    for (int guard = 0; guard < 1000; ++guard) {
        const BusWire::Scan scan = BusWire::scan(bytes);
        if (scan.state != BusWire::Scan::State::Complete)
            break;
        if (scan.size < 16 || scan.size > bytes.size())
            std::abort();
        bytes.remove_prefix(scan.size);
    }
    return 0;
}
