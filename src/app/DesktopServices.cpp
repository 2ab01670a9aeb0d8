#include "app/DesktopServices.h"

#include "capture/PasteboardMonitor.h"
#include "ocr/OCRService.h"
#include "paste/PasteService.h"
#include "paste/SerialPaste.h"
#include "platform/EventSound.h"
#include "platform/HotKeyRegistrar.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/SleepWatcher.h"
#include "platform/Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

DesktopServices::DesktopServices(QObject *parent)
    : QObject(parent), m_platform(createPlatformServices()),
      m_hotKeys(std::make_unique<HotKeyCenter>(*m_platform.hotKeys))
{
    Store &store = Store::shared();
    m_paste = std::make_unique<PasteService>(*m_platform.pasteboard, *m_platform.keys,
                                             *m_platform.workspace, store,
                                             [] { return Prefs::shared().autoPaste(); });
    m_serial = std::make_unique<SerialPaste>(*m_paste, store);

    auto settings = [] {
        const Prefs &prefs = Prefs::shared();
        CaptureSettings s;
        s.paused = prefs.paused();
        s.ignoreHandoff = prefs.ignoreHandoff();
        s.plainTextMode = prefs.plainTextMode();
        s.soundOn = prefs.soundOn();
        s.ignoredAppIds = prefs.ignoredAppIds();
        return s;
    };
    CaptureHooks hooks;
    hooks.recordSerial = [this](const QString &id) { m_serial->recordIfNeeded(id); };
    hooks.enqueueOcr = [](const QString &id) { OCRService::shared().enqueue(id); };
    hooks.playSound = [this] { m_platform.sound->play(); };
    m_monitor = std::make_unique<PasteboardMonitor>(*m_platform.pasteboard, *m_platform.workspace,
                                                    store, settings, hooks);
}

DesktopServices::~DesktopServices() = default;

void DesktopServices::bindHotKeys()
{
    m_hotKeys->setActions(
        {[this] { Q_EMIT togglePanelRequested(); }, [this] { m_serial->pasteNext(); }});
    m_hotKeys->bindAll();
}

void DesktopServices::startCapture()
{
    m_monitor->start();
}

void DesktopServices::recheckAfterSleep()
{
    if (m_sleep)
        return;
    m_sleep = std::make_unique<SleepWatcher>();
    connect(m_sleep.get(), &SleepWatcher::woke, this, &DesktopServices::recheckClipboard);
}

void DesktopServices::recheckClipboard()
{
    if (m_monitor->isStarted())
        m_monitor->tick();
}

bool DesktopServices::canSendKeys() const
{
    return m_platform.keys->canSendKeys();
}
