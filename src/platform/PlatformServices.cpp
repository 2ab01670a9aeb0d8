#include "platform/PlatformServices.h"

#include "platform/CanberraEventSound.h"
#include "platform/DisplaySession.h"
#include "platform/NoticingKeySynthesizer.h"
#include "platform/PasteNotice.h"
#include "platform/UnavailableKeySynthesizer.h"
#include "platform/wayland/WaylandDataControl.h"
#include "platform/wayland/WaylandKeySynthesizer.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/x11/X11HotKeyRegistrar.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XWaylandKeySynthesizer.h"
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
    if (DisplaySession::current().backend() != DisplaySession::Backend::Wayland)
        return nullptr;
    auto control = std::make_unique<WaylandDataControl>();
    if (!control->isValid())
        return nullptr;
    return std::make_unique<WaylandPasteboard>(std::move(control));
}

// Where no key can reach the window in front, the clip stays on the clipboard and the user is
// told to paste it: a paste never ends in silence.
std::unique_ptr<KeySynthesizer> withNotice(std::unique_ptr<KeySynthesizer> keys)
{
    return std::make_unique<NoticingKeySynthesizer>(std::move(keys),
                                                    std::make_unique<PasteNotice>());
}

// XTest reaches the windows of the compositor's XWayland server, and those alone.
std::unique_ptr<KeySynthesizer> xwaylandKeys()
{
    auto keys = std::make_unique<XWaylandKeySynthesizer>();
    if (keys->canSendKeys())
        return withNotice(std::move(keys));
    return withNotice(std::make_unique<UnavailableKeySynthesizer>());
}

// A virtual keyboard where the compositor offers one (wlroots); else XTest into XWayland's
// windows (KDE Plasma). A stroke that fails either way ends in the notice.
std::unique_ptr<KeySynthesizer> waylandKeys()
{
    auto keys = std::make_unique<WaylandKeySynthesizer>();
    if (keys->canSendKeys())
        return withNotice(std::move(keys));
    return xwaylandKeys();
}

void useX11(PlatformServices &services)
{
    services.pasteboard = std::make_unique<X11Pasteboard>();
    services.workspace =
        std::make_unique<X11Workspace>(QByteArray(), nullptr, services.desktopEntries);
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
    } else if (const DisplaySession &session = DisplaySession::current();
               session.backend() == DisplaySession::Backend::XWayland) {
        Log::line(QStringLiteral("[Platform] X11 through XWayland: ") + session.reason());
        useX11(services);
        services.keys = xwaylandKeys();
    } else if (session.backend() == DisplaySession::Backend::None) {
        // The application still runs: its history, search and picker need no clipboard.
        Log::line(QStringLiteral("[Platform] no clipboard access: ") + session.reason());
        useX11(services);
        services.keys = withNotice(std::make_unique<UnavailableKeySynthesizer>());
    } else {
        Log::line(QStringLiteral("[Platform] X11"));
        useX11(services);
        services.keys = std::make_unique<X11KeySynthesizer>();
    }
    services.hotKeys = hotKeyRegistrar();
    services.sound = std::make_unique<CanberraEventSound>();
    return services;
}
