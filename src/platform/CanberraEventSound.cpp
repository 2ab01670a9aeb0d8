#include "platform/CanberraEventSound.h"

#include <atomic>
#include <system_error>
#include <thread>

#include <canberra.h>

namespace {

// The freedesktop sound theme's ids, best first; themes lack some of them.
constexpr const char *eventIds[] = {"message", "complete", "bell"};

} // namespace

struct CanberraEventSound::State
{
    // Set while a sound thread runs; only that thread touches the fields below.
    std::atomic_bool busy = false;
    ca_context *context = nullptr;
    bool unavailable = false;

    ~State()
    {
        if (context)
            ca_context_destroy(context);
    }

    bool open()
    {
        if (context || unavailable)
            return context != nullptr;
        if (ca_context_create(&context) != CA_SUCCESS) {
            context = nullptr;
            unavailable = true;
            return false;
        }
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Ulvane", CA_PROP_APPLICATION_ID,
                                "org.brisel.Ulvane", nullptr);
        if (ca_context_open(context) != CA_SUCCESS) {
            // No sound server and no sound card: stay silent from now on.
            ca_context_destroy(context);
            context = nullptr;
            unavailable = true;
            return false;
        }
        return true;
    }

    void play()
    {
        if (!open())
            return;
        for (const char *id : eventIds) {
            const int result =
                ca_context_play(context, 0, CA_PROP_EVENT_ID, id, CA_PROP_CANBERRA_CACHE_CONTROL,
                                "permanent", nullptr);
            if (result != CA_ERROR_NOTFOUND)
                return;
        }
    }
};

CanberraEventSound::CanberraEventSound() : m_state(std::make_shared<State>()) {}

CanberraEventSound::~CanberraEventSound() = default;

void CanberraEventSound::play()
{
    if (m_state->busy.exchange(true))
        return;
    try {
        std::thread([state = m_state] {
            state->play();
            state->busy = false;
        }).detach();
    } catch (const std::system_error &) {
        // No thread to be had: the sound is skipped.
        m_state->busy = false;
    }
}
