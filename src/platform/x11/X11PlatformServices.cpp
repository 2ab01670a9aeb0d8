#include "platform/PlatformServices.h"

#include "platform/CanberraEventSound.h"
#include "platform/x11/X11HotKeyRegistrar.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"

PlatformServices::PlatformServices() = default;
PlatformServices::PlatformServices(PlatformServices &&) noexcept = default;
PlatformServices &PlatformServices::operator=(PlatformServices &&) noexcept = default;
PlatformServices::~PlatformServices() = default;

PlatformServices createPlatformServices()
{
    PlatformServices services;
    services.desktopEntries = std::make_shared<DesktopEntryIndex>();
    services.pasteboard = std::make_unique<X11Pasteboard>();
    services.workspace =
        std::make_unique<X11Workspace>(QByteArray(), nullptr, services.desktopEntries);
    services.keys = std::make_unique<X11KeySynthesizer>();
    services.hotKeys = std::make_unique<X11HotKeyRegistrar>();
    services.sound = std::make_unique<CanberraEventSound>();
    return services;
}
