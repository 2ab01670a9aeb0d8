#include "platform/wayland/WaylandToplevels.h"

#include "platform/wayland/WaylandConnection.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

namespace {

using HandleProxy = zwlr_foreign_toplevel_handle_v1;

wl_proxy *proxy(HandleProxy *handle)
{
    return reinterpret_cast<wl_proxy *>(handle);
}

} // namespace

WaylandToplevels::WaylandToplevels(QObject *parent)
    : QObject(parent), m_connection(std::make_unique<WaylandConnection>())
{
    if (!m_connection->isConnected())
        return;
    m_manager = static_cast<zwlr_foreign_toplevel_manager_v1 *>(
        m_connection->bind(m_connection->global(zwlr_foreign_toplevel_manager_v1_interface.name),
                           &zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!m_manager)
        return;
    m_seat = static_cast<wl_seat *>(
        m_connection->bind(m_connection->global(wl_seat_interface.name), &wl_seat_interface, 1));
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {
        [](void *data, zwlr_foreign_toplevel_manager_v1 *manager, HandleProxy *handle) {
            announce(data, manager, proxy(handle));
        },
        [](void *data, zwlr_foreign_toplevel_manager_v1 *manager) {
            auto *self = static_cast<WaylandToplevels *>(data);
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
            self->m_manager = nullptr;
        },
    };
    zwlr_foreign_toplevel_manager_v1_add_listener(m_manager, &listener, this);
    // The windows that exist already are announced at once.
    m_connection->roundtrip();
    m_connection->watch();
}

WaylandToplevels::~WaylandToplevels()
{
    for (auto it = m_handles.cbegin(); it != m_handles.cend(); ++it)
        zwlr_foreign_toplevel_handle_v1_destroy(reinterpret_cast<HandleProxy *>(it.key()));
    if (m_manager)
        zwlr_foreign_toplevel_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
}

void WaylandToplevels::announce(void *data, zwlr_foreign_toplevel_manager_v1 *, wl_proxy *handle)
{
    auto *self = static_cast<WaylandToplevels *>(data);
    Handle &entry = self->m_handles[handle];
    entry.pending.id = entry.current.id = self->m_nextId++;
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        .title =
            [](void *data, HandleProxy *h, const char *title) {
                if (Handle *e = static_cast<WaylandToplevels *>(data)->handleOf(proxy(h)))
                    e->pending.title = QString::fromUtf8(title);
            },
        .app_id =
            [](void *data, HandleProxy *h, const char *appId) {
                if (Handle *e = static_cast<WaylandToplevels *>(data)->handleOf(proxy(h)))
                    e->pending.appId = QString::fromUtf8(appId);
            },
        .output_enter = [](void *, HandleProxy *, wl_output *) {},
        .output_leave = [](void *, HandleProxy *, wl_output *) {},
        .state =
            [](void *data, HandleProxy *h, wl_array *states) {
                Handle *e = static_cast<WaylandToplevels *>(data)->handleOf(proxy(h));
                if (!e)
                    return;
                e->pending.activated = false;
                const auto *state = static_cast<const uint32_t *>(states->data);
                for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
                    if (state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
                        e->pending.activated = true;
                }
            },
        .done =
            [](void *data, HandleProxy *h) {
                if (Handle *e = static_cast<WaylandToplevels *>(data)->handleOf(proxy(h)))
                    e->current = e->pending;
            },
        .closed = [](void *data,
                     HandleProxy *h) { static_cast<WaylandToplevels *>(data)->closed(proxy(h)); },
        .parent = [](void *, HandleProxy *, HandleProxy *) {},
    };
    zwlr_foreign_toplevel_handle_v1_add_listener(reinterpret_cast<HandleProxy *>(handle), &listener,
                                                 self);
}

WaylandToplevels::Handle *WaylandToplevels::handleOf(wl_proxy *proxy)
{
    const auto it = m_handles.find(proxy);
    return it == m_handles.end() ? nullptr : &it.value();
}

void WaylandToplevels::closed(wl_proxy *handle)
{
    m_handles.remove(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(reinterpret_cast<HandleProxy *>(handle));
}

std::optional<WaylandToplevels::Window> WaylandToplevels::active()
{
    m_connection->dispatchEvents();
    for (const Handle &handle : std::as_const(m_handles)) {
        if (handle.current.activated)
            return handle.current;
    }
    return std::nullopt;
}

std::optional<WaylandToplevels::Window> WaylandToplevels::window(quint64 id)
{
    for (const Handle &handle : std::as_const(m_handles)) {
        if (handle.current.id == id)
            return handle.current;
    }
    return std::nullopt;
}

void WaylandToplevels::activate(quint64 id)
{
    if (!m_seat)
        return;
    for (auto it = m_handles.cbegin(); it != m_handles.cend(); ++it) {
        if (it->current.id == id) {
            zwlr_foreign_toplevel_handle_v1_activate(reinterpret_cast<HandleProxy *>(it.key()),
                                                     m_seat);
            m_connection->flush();
            return;
        }
    }
}
