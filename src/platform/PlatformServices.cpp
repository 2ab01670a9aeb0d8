#include "platform/PlatformServices.h"

#include "platform/CanberraEventSound.h"
#include "platform/UnavailableKeySynthesizer.h"
#include "platform/wayland/WaylandDataControl.h"
#include "platform/wayland/WaylandKeySynthesizer.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/x11/X11HotKeyRegistrar.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"
#include "platform/xdg/PortalHotKeyRegistrar.h"

#include "core/Log.h"

PlatformServices::PlatformServices() = default;
PlatformServices::PlatformServices(PlatformServices &&) noexcept = default;
PlatformServices &PlatformServices::operator=(PlatformServices &&) noexcept = default;
PlatformServices::~PlatformServices() = default;

namespace {

// A Wayland session whose compositor lets a client follow the clipboard without focus. Where
// it does not (GNOME), everything runs through XWayland as on X11.
std::unique_ptr<WaylandPasteboard> waylandPasteboard()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return nullptr;
    auto control = std::make_unique<WaylandDataControl>();
    if (!control->isValid())
        return nullptr;
    return std::make_unique<WaylandPasteboard>(std::move(control));
}

// A virtual keyboard where the compositor offers one. Elsewhere no synthetic key reaches a
// Wayland client: a paste leaves the clip on the clipboard for the user to paste.
std::unique_ptr<KeySynthesizer> waylandKeys()
{
    auto keys = std::make_unique<WaylandKeySynthesizer>();
    if (keys->canSendKeys())
        return keys;
    return std::make_unique<UnavailableKeySynthesizer>();
}

// A Wayland compositor lets no client grab keys (an X11 grab would fire only while an XWayland
// window has focus): there the desktop portal binds them, where the session offers one.
std::unique_ptr<HotKeyRegistrar> hotKeyRegistrar()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return std::make_unique<X11HotKeyRegistrar>();
    return std::make_unique<PortalHotKeyRegistrar>(QDBusConnection::sessionBus());
}

} // namespace

PlatformServices createPlatformServices()
{
    PlatformServices services;
    services.desktopEntries = std::make_shared<DesktopEntryIndex>();
    if (std::unique_ptr<WaylandPasteboard> pasteboard = waylandPasteboard()) {
        Log::line(QStringLiteral("[Platform] Wayland clipboard through ") +
                  pasteboard->protocolName());
        services.pasteboard = std::move(pasteboard);
        services.workspace = std::make_unique<WaylandWorkspace>(services.desktopEntries);
        services.keys = waylandKeys();
    } else {
        Log::line(QStringLiteral("[Platform] X11"));
        services.pasteboard = std::make_unique<X11Pasteboard>();
        services.workspace =
            std::make_unique<X11Workspace>(QByteArray(), nullptr, services.desktopEntries);
        services.keys = std::make_unique<X11KeySynthesizer>();
    }
    services.hotKeys = hotKeyRegistrar();
    services.sound = std::make_unique<CanberraEventSound>();
    return services;
}
