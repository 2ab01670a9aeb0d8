#pragma once

// The short sound after a capture; fire and forget, silent without a sound server.
class EventSound
{
public:
    virtual ~EventSound() = default;
    virtual void play() = 0;
};
