#include "PickerWatch.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename Reply> struct Freed
{
    Reply *reply;
    ~Freed() { std::free(reply); }
    Reply *operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

} // namespace

PickerWatch::PickerWatch()
{
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        m_problem = QStringLiteral("no X display");
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;

    const xcb_query_extension_reply_t *damage =
        xcb_get_extension_data(m_connection, &xcb_damage_id);
    if (!damage || !damage->present) {
        m_problem = QStringLiteral("no Damage extension");
        return;
    }
    m_damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
    Freed<xcb_damage_query_version_reply_t> version{xcb_damage_query_version_reply(
        m_connection, xcb_damage_query_version(m_connection, 1, 1), nullptr)};
    if (!version) {
        m_problem = QStringLiteral("no Damage extension");
        return;
    }
    Freed<xcb_intern_atom_reply_t> pidAtom{xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, 11, "_NET_WM_PID"), nullptr)};
    m_pidAtom = pidAtom ? pidAtom->atom : XCB_NONE;
    // The window manager's frames are the root's children: their MapNotify is the moment a
    // reparented window becomes viewable.
    const quint32 rootEvents = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &rootEvents);
    xcb_flush(m_connection);
}

PickerWatch::~PickerWatch()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool PickerWatch::isViewable(quint32 window)
{
    Freed<xcb_get_window_attributes_reply_t> attributes{xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr)};
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool PickerWatch::isViewable()
{
    return m_window && isViewable(m_window);
}

bool PickerWatch::identify(pid_t pid, const std::function<void()> &reveal, int timeoutMs)
{
    if (!m_problem.isEmpty())
        return false;
    // Client windows sit at most a frame or two below the root.
    auto viewableWindowsOf = [this, pid] {
        std::vector<std::pair<quint32, quint32>> found; // window, area
        std::vector<std::pair<quint32, int>> pending{{m_root, 0}};
        while (!pending.empty()) {
            const auto [parent, depth] = pending.back();
            pending.pop_back();
            Freed<xcb_query_tree_reply_t> tree{
                xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, parent), nullptr)};
            if (!tree)
                continue;
            const xcb_window_t *children = xcb_query_tree_children(tree.reply);
            for (int i = 0; i < xcb_query_tree_children_length(tree.reply); ++i) {
                const xcb_window_t child = children[i];
                if (depth < 2)
                    pending.push_back({child, depth + 1});
                Freed<xcb_get_property_reply_t> property{xcb_get_property_reply(
                    m_connection,
                    xcb_get_property(m_connection, 0, child, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                    nullptr)};
                if (!property || xcb_get_property_value_length(property.reply) != 4 ||
                    *static_cast<const quint32 *>(xcb_get_property_value(property.reply)) !=
                        quint32(pid) ||
                    !isViewable(child))
                    continue;
                Freed<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(
                    m_connection, xcb_get_geometry(m_connection, child), nullptr)};
                found.push_back(
                    {child, geometry ? quint32(geometry->width * geometry->height) : 0});
            }
        }
        return found;
    };

    const auto before = viewableWindowsOf();
    reveal();
    const Clock::time_point start = Clock::now();
    quint32 window = 0, largest = 0;
    while (!window && msSince(start) < timeoutMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const auto &[candidate, area] : viewableWindowsOf()) {
            const bool wasThere = std::any_of(before.begin(), before.end(), [&](const auto &seen) {
                return seen.first == candidate;
            });
            if (!wasThere && area >= largest) {
                window = candidate;
                largest = area;
            }
        }
    }
    drainEvents();
    if (!window)
        return false;
    if (m_damage)
        xcb_damage_destroy(m_connection, m_damage);
    m_window = window;
    // Its own MapNotify (without a window manager it is the only one) and UnmapNotify.
    const quint32 events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, m_window, XCB_CW_EVENT_MASK, &events);
    m_damage = xcb_generate_id(m_connection);
    xcb_damage_create(m_connection, m_damage, m_window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_flush(m_connection);
    return true;
}

void PickerWatch::rearmDamage()
{
    // An empty damage region again, so the next drawing reports anew.
    xcb_damage_subtract(m_connection, m_damage, XCB_NONE, XCB_NONE);
    xcb_flush(m_connection);
}

void PickerWatch::drainEvents()
{
    // A round trip first: everything the server sent before it is then in the queue.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    while (xcb_generic_event_t *event = xcb_poll_for_queued_event(m_connection))
        std::free(event);
}

PickerWatch::Timing PickerWatch::measure(const std::function<int()> &start, int timeoutMs)
{
    Timing timing;
    if (!m_window)
        return timing;
    rearmDamage();
    drainEvents();

    const Clock::time_point started = Clock::now();
    pollfd fds[2] = {{xcb_get_file_descriptor(m_connection), POLLIN, 0}, {start(), POLLIN, 0}};
    if (fds[1].fd < 0)
        return timing;
    while (timing.mapped < 0 || timing.painted < 0 || timing.exited < 0) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            const double at = msSince(started);
            const quint8 type = event->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY && timing.mapped < 0 && isViewable(m_window)) {
                timing.mapped = at;
            } else if (type == m_damageEvent) {
                // Drawing can only reach a viewable window; a report from before is stale.
                if (timing.mapped >= 0 && timing.painted < 0)
                    timing.painted = at;
                else if (timing.mapped < 0)
                    rearmDamage();
            }
            std::free(event);
        }
        const int remaining = timeoutMs - int(msSince(started));
        if (remaining <= 0 || xcb_connection_has_error(m_connection))
            break;
        if (::poll(fds, 2, remaining) <= 0)
            continue;
        if (fds[1].revents) {
            timing.exited = msSince(started);
            fds[1].fd = -1; // ignored by poll from now on
        }
    }
    return timing;
}

bool PickerWatch::waitHidden(int timeoutMs)
{
    const Clock::time_point start = Clock::now();
    while (isViewable()) {
        if (msSince(start) > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    drainEvents();
    return true;
}
