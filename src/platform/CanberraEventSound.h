#pragma once

#include "platform/EventSound.h"

#include <memory>

// The capture sound through libcanberra. Opening the sound backend can take a while (or hang
// on a wedged sound server), so each sound starts on a short-lived thread of its own and
// play() returns at once; nothing, not even quitting, waits for the sound server. A play
// requested while one is still starting is dropped: a burst of captures makes one sound, not
// a queue of them.
class CanberraEventSound : public EventSound
{
public:
    CanberraEventSound();
    ~CanberraEventSound() override;
    CanberraEventSound(const CanberraEventSound &) = delete;
    CanberraEventSound &operator=(const CanberraEventSound &) = delete;

    void play() override;

private:
    struct State;
    // Shared with a running sound thread, which may outlive this object.
    std::shared_ptr<State> m_state;
};
