// A Wayland clipboard owner for the tests, free of Qt and of the code under test: it sets the
// clipboard through wlr-data-control (no surface, no focus needed) and serves it well or
// badly. It prints "ready" once the compositor has the selection, and exits when another
// client takes the clipboard.
//   wayland_test_owner [--type MIME=VALUE]... [--many N] [--silent] [--flood BYTES]
//     --many N      also offers N types of its own, application/x-test-1 ... -N
//     --silent      takes every request and never writes nor closes
//     --flood BYTES answers every request with BYTES filler bytes, whatever the type
//     --trickle     answers every request with one byte every 100 ms, until the reader leaves

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Owner
{
    std::vector<std::pair<std::string, std::string>> contents;
    bool silent = false;
    long long flood = -1;
    bool trickle = false;
    std::vector<int> heldFds;
    bool cancelled = false;

    zwlr_data_control_manager_v1 *manager = nullptr;
    wl_seat *seat = nullptr;
};

void writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put <= 0)
            return; // the reader went away
        data += put;
        size -= static_cast<size_t>(put);
    }
}

void send(void *data, zwlr_data_control_source_v1 *, const char *mimeType, int32_t fd)
{
    auto *owner = static_cast<Owner *>(data);
    if (owner->silent) {
        owner->heldFds.push_back(fd);
        return;
    }
    if (owner->trickle) {
        while (write(fd, "x", 1) == 1)
            usleep(100 * 1000);
    } else if (owner->flood >= 0) {
        const std::string chunk(64 * 1024, 'x');
        for (long long left = owner->flood; left > 0; left -= static_cast<long long>(chunk.size()))
            writeAll(fd, chunk.data(), std::min<long long>(left, chunk.size()));
    } else {
        for (const auto &[type, value] : owner->contents) {
            if (type == mimeType) {
                writeAll(fd, value.data(), value.size());
                break;
            }
        }
    }
    close(fd);
}

void cancelled(void *data, zwlr_data_control_source_v1 *)
{
    static_cast<Owner *>(data)->cancelled = true;
}

void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *owner = static_cast<Owner *>(data);
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
        owner->manager = static_cast<zwlr_data_control_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !owner->seat)
        owner->seat =
            static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}

void globalRemove(void *, wl_registry *, uint32_t) {}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    Owner owner;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--type" && i + 1 < argc) {
            const std::string typeAndValue = argv[++i];
            const size_t eq = typeAndValue.find('=');
            owner.contents.emplace_back(typeAndValue.substr(0, eq),
                                        eq == std::string::npos ? "" : typeAndValue.substr(eq + 1));
        } else if (arg == "--many" && i + 1 < argc) {
            const int count = std::atoi(argv[++i]);
            for (int n = 1; n <= count; ++n)
                owner.contents.emplace_back("application/x-test-" + std::to_string(n),
                                            std::to_string(n));
        } else if (arg == "--silent") {
            owner.silent = true;
        } else if (arg == "--trickle") {
            owner.trickle = true;
        } else if (arg == "--flood" && i + 1 < argc) {
            owner.flood = std::atoll(argv[++i]);
        } else {
            std::fprintf(stderr, "wayland_test_owner: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "wayland_test_owner: no compositor\n");
        return 1;
    }
    static const wl_registry_listener registryListener = {global, globalRemove};
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &owner);
    wl_display_roundtrip(display);
    if (!owner.manager || !owner.seat) {
        std::fprintf(stderr, "wayland_test_owner: no data-control\n");
        return 1;
    }

    zwlr_data_control_device_v1 *device =
        zwlr_data_control_manager_v1_get_data_device(owner.manager, owner.seat);
    zwlr_data_control_source_v1 *source =
        zwlr_data_control_manager_v1_create_data_source(owner.manager);
    static const zwlr_data_control_source_v1_listener sourceListener = {send, cancelled};
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, &owner);
    for (const auto &content : owner.contents)
        zwlr_data_control_source_v1_offer(source, content.first.c_str());
    zwlr_data_control_device_v1_set_selection(device, source);
    wl_display_roundtrip(display);
    std::printf("ready\n");
    std::fflush(stdout);

    while (!owner.cancelled && wl_display_dispatch(display) >= 0) {
    }
    for (const int fd : owner.heldFds)
        close(fd);
    zwlr_data_control_source_v1_destroy(source);
    zwlr_data_control_device_v1_destroy(device);
    wl_display_disconnect(display);
    return 0;
}
