#pragma once

// A clipboard owner spoken for in raw XCB, for tests (and the soak run's copier) that need one
// that behaves exactly as told down to the protocol: Qt's own clipboard always answers
// correctly and at once.

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

namespace X11Raw {

// XCB hands over its replies and events as malloc'ed memory of the caller's.
struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

inline xcb_atom_t intern(xcb_connection_t *c, const QByteArray &name)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A CLIPBOARD owner on an X connection and a thread of its own, so it keeps answering (or not)
// whatever the test's thread is blocked on. A subclass decides each answer; this class does the
// protocol around it: the notification, and the chunks of an incremental transfer.
class ClipboardOwner
{
public:
    ClipboardOwner(const ClipboardOwner &) = delete;
    ClipboardOwner &operator=(const ClipboardOwner &) = delete;
    virtual ~ClipboardOwner()
    {
        stop();
        if (m_c)
            xcb_disconnect(m_c);
    }

    // Takes the clipboard, again if need be, and answers from then on; true once the server
    // names this owner.
    bool claim()
    {
        if (!m_c || xcb_connection_has_error(m_c))
            return false;
        xcb_set_selection_owner(m_c, m_window, m_clipboard, XCB_CURRENT_TIME);
        Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, m_clipboard), nullptr));
        if (!owner || owner->owner != m_window)
            return false;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { serve(); });
        return true;
    }

protected:
    // Ignored sends no notification at all, as an owner that hangs.
    enum class Outcome { Ignored, Refused, Written };

    ClipboardOwner() : m_c(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_c))
            return;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, screen->root_visual, 0, nullptr);
        m_clipboard = atom("CLIPBOARD");
        m_targets = atom("TARGETS");
        m_incr = atom("INCR");
    }

    // Every subclass calls this first thing in its destructor: the thread calls into it.
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // Runs on the owner's thread; the answer, if any, goes into `property` of the requestor.
    virtual Outcome answer(const xcb_selection_request_event_t &request, xcb_atom_t property) = 0;

    xcb_connection_t *connection() const { return m_c; }
    xcb_atom_t atom(const QByteArray &name) const { return intern(m_c, name); }
    xcb_atom_t targetsAtom() const { return m_targets; }

    void writeAtoms(const xcb_selection_request_event_t &request, xcb_atom_t property,
                    const QList<xcb_atom_t> &atoms)
    {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM,
                            32, uint32_t(atoms.size()), atoms.constData());
    }

    // Bytes of the requested target's own type.
    void write(const xcb_selection_request_event_t &request, xcb_atom_t property,
               const QByteArray &data, uint8_t mode = XCB_PROP_MODE_REPLACE)
    {
        xcb_change_property(m_c, mode, request.requestor, property, request.target, 8,
                            uint32_t(data.size()), data.constData());
    }

    // Announces an incremental transfer of at least `announced` bytes. Each time the requestor
    // deletes the property, `next` gives the following chunk; the empty one ends the transfer.
    void sendIncrementally(const xcb_selection_request_event_t &request, xcb_atom_t property,
                           uint32_t announced, std::function<QByteArray()> next)
    {
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_c, request.requestor, XCB_CW_EVENT_MASK, &mask);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, request.requestor, property, m_incr, 32, 1,
                            &announced);
        // A new request into the same property supersedes the transfer still going on there.
        std::erase_if(m_transfers, [&](const Transfer &t) {
            return t.requestor == request.requestor && t.property == property;
        });
        m_transfers.push_back({request.requestor, property, request.target, std::move(next)});
    }

    // Drops the connection at once, as a client that crashes; only from the owner's thread.
    void disconnect()
    {
        xcb_disconnect(m_c);
        m_c = nullptr;
    }

private:
    struct Transfer
    {
        xcb_window_t requestor;
        xcb_atom_t property;
        xcb_atom_t type;
        std::function<QByteArray()> next;
    };

    void serve()
    {
        const int fd = xcb_get_file_descriptor(m_c);
        while (!m_stop && m_c && !xcb_connection_has_error(m_c)) {
            while (m_c) {
                Reply<xcb_generic_event_t> event(xcb_poll_for_event(m_c));
                if (!event)
                    break;
                const uint8_t type = event->response_type & 0x7F;
                if (type == XCB_SELECTION_REQUEST)
                    reply(*reinterpret_cast<const xcb_selection_request_event_t *>(event.get()));
                else if (type == XCB_PROPERTY_NOTIFY)
                    nextChunk(*reinterpret_cast<const xcb_property_notify_event_t *>(event.get()));
            }
            if (!m_c)
                return;
            xcb_flush(m_c);
            pollfd pfd{fd, POLLIN, 0};
            ::poll(&pfd, 1, 20);
        }
    }

    void reply(const xcb_selection_request_event_t &request)
    {
        // A requestor that names no property is an old one: the target doubles as the property.
        const xcb_atom_t property = request.property ? request.property : request.target;
        const Outcome outcome = answer(request, property);
        if (outcome == Outcome::Ignored || !m_c)
            return;
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = outcome == Outcome::Written ? property : xcb_atom_t(XCB_ATOM_NONE);
        xcb_send_event(m_c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&notify));
    }

    void nextChunk(const xcb_property_notify_event_t &event)
    {
        if (event.state != XCB_PROPERTY_DELETE)
            return;
        for (auto t = m_transfers.begin(); t != m_transfers.end(); ++t) {
            if (t->requestor != event.window || t->property != event.atom)
                continue;
            const QByteArray chunk = t->next();
            if (!m_c)
                return;
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, t->requestor, t->property, t->type, 8,
                                uint32_t(chunk.size()), chunk.constData());
            if (chunk.isEmpty())
                m_transfers.erase(t);
            return;
        }
    }

    xcb_connection_t *m_c;
    xcb_window_t m_window = 0;
    xcb_atom_t m_clipboard = 0, m_targets = 0, m_incr = 0;
    std::vector<Transfer> m_transfers;
    std::atomic_bool m_stop{false};
    std::thread m_thread;
};

// Serves a fixed offer: its targets, and each target's bytes, behaving as told.
class OfferOwner : public ClipboardOwner
{
public:
    enum Behaviour {
        Answer,
        Silent,           // answers nothing, as an owner that hangs
        DieMidTransfer,   // drops its connection after an incremental transfer's first chunk
        AnnounceOneChunk, // announces no more than a chunk: no lie, the size is a lower bound
        AppendOneProperty // all of it in one property, block by block, as no request may
                          // carry a huge one
    };
    using Offer = QList<std::pair<QByteArray, QByteArray>>;

    // Content larger than `chunk` (if > 0) goes incrementally, in chunks of that size.
    explicit OfferOwner(const Offer &offer, Behaviour behaviour = Answer, int delayMs = 0,
                        int chunk = 0)
        : m_behaviour(behaviour), m_delayMs(delayMs), m_chunk(chunk)
    {
        // Asked for all at once: an offer may name thousands of targets.
        std::vector<xcb_intern_atom_cookie_t> cookies;
        for (const auto &[target, data] : offer)
            cookies.push_back(
                xcb_intern_atom(connection(), 0, uint16_t(target.size()), target.constData()));
        for (qsizetype i = 0; i < offer.size(); ++i) {
            Reply<xcb_intern_atom_reply_t> reply(
                xcb_intern_atom_reply(connection(), cookies[size_t(i)], nullptr));
            m_offer.push_back({reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE), offer[i].second});
        }
    }
    ~OfferOwner() override { stop(); }

    // The targets asked for so far, in order.
    QList<xcb_atom_t> asked() const
    {
        const std::lock_guard lock(m_askedLock);
        return m_asked;
    }
    qint64 bytesSent() const { return m_bytesSent; }
    // True from a request until the server has taken in the whole answer: appending a huge
    // property keeps it busy for seconds after the reader gave up, and every client's round
    // trips queue behind it meanwhile.
    bool answering() const { return m_answering; }

protected:
    Outcome answer(const xcb_selection_request_event_t &request, xcb_atom_t property) override
    {
        {
            const std::lock_guard lock(m_askedLock);
            m_asked.append(request.target);
        }
        m_answering = true;
        const Outcome outcome = compose(request, property);
        // Replies come in order: once this one is back, the server has handled every write.
        if (connection())
            Reply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(
                connection(), xcb_get_input_focus(connection()), nullptr));
        m_answering = false;
        return outcome;
    }

private:
    Outcome compose(const xcb_selection_request_event_t &request, xcb_atom_t property)
    {
        if (m_behaviour == Silent)
            return Outcome::Ignored;
        if (m_delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
        if (request.target == targetsAtom()) {
            QList<xcb_atom_t> atoms{targetsAtom()};
            for (const auto &offered : m_offer)
                atoms.append(offered.first);
            writeAtoms(request, property, atoms);
            return Outcome::Written;
        }
        const auto found = std::find_if(m_offer.cbegin(), m_offer.cend(),
                                        [&](const auto &o) { return o.first == request.target; });
        if (found == m_offer.cend())
            return Outcome::Refused;
        const QByteArray data = found->second;
        if (m_behaviour == AppendOneProperty) {
            // The server copies the whole property on every append, so the blocks are as large
            // as a request may be, or the answer would come too late to be read at all.
            const qsizetype block = std::min<qsizetype>(
                qsizetype(xcb_get_maximum_request_length(connection())) * 4 - 64, 16 << 20);
            for (qsizetype sent = 0; sent < data.size(); sent += block) {
                write(request, property, data.mid(sent, block),
                      sent ? XCB_PROP_MODE_APPEND : XCB_PROP_MODE_REPLACE);
                m_bytesSent += std::min(block, data.size() - sent);
            }
        } else if (m_chunk <= 0 || data.size() <= m_chunk) {
            write(request, property, data);
            m_bytesSent += data.size();
        } else {
            auto chunks = [this, data, offset = qsizetype(0)]() mutable {
                if (m_behaviour == DieMidTransfer && offset > 0) {
                    disconnect();
                    return QByteArray();
                }
                const QByteArray chunk = data.mid(offset, m_chunk);
                offset += chunk.size();
                m_bytesSent += chunk.size();
                return chunk;
            };
            sendIncrementally(request, property,
                              uint32_t(m_behaviour == AnnounceOneChunk ? m_chunk : data.size()),
                              chunks);
        }
        return Outcome::Written;
    }

    const Behaviour m_behaviour;
    const int m_delayMs;
    const int m_chunk;
    std::vector<std::pair<xcb_atom_t, QByteArray>> m_offer;
    mutable std::mutex m_askedLock;
    QList<xcb_atom_t> m_asked;
    std::atomic<qint64> m_bytesSent{0};
    std::atomic_bool m_answering{false};
};

} // namespace X11Raw
