#pragma once

#include <memory>

class DesktopEntryIndex;
class EventSound;
class HotKeyRegistrar;
class KeySynthesizer;
class Pasteboard;
class Workspace;

// Everything the application asks of the desktop, built once for the platform the session
// runs on. The rest of the program sees only these interfaces.
struct PlatformServices
{
    std::unique_ptr<Pasteboard> pasteboard;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<KeySynthesizer> keys;
    std::unique_ptr<HotKeyRegistrar> hotKeys;
    std::unique_ptr<EventSound> sound;
    // The installed applications (names and icons), shared with the workspace.
    std::shared_ptr<DesktopEntryIndex> desktopEntries;

    PlatformServices();
    PlatformServices(PlatformServices &&) noexcept;
    PlatformServices &operator=(PlatformServices &&) noexcept;
    ~PlatformServices();
};

// The services of the running desktop session. The one place that chooses an implementation.
PlatformServices createPlatformServices();
