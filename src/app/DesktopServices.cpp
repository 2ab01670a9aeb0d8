#include "app/DesktopServices.h"

#include "capture/PasteboardMonitor.h"
#include "ocr/OCRService.h"
#include "paste/PasteService.h"
#include "paste/SerialPaste.h"
#include "platform/CanberraEventSound.h"
#include "platform/X11KeySynthesizer.h"
#include "platform/X11Pasteboard.h"
#include "platform/X11Workspace.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

DesktopServices::DesktopServices(QObject *parent)
    : QObject(parent), m_pasteboard(std::make_unique<X11Pasteboard>()),
      m_workspace(std::make_unique<X11Workspace>()), m_keys(std::make_unique<X11KeySynthesizer>()),
      m_sound(std::make_unique<CanberraEventSound>())
{
    Store &store = Store::shared();
    m_paste = std::make_unique<PasteService>(*m_pasteboard, *m_keys, *m_workspace, store,
                                             [] { return Prefs::shared().autoPaste(); });
    m_serial = std::make_unique<SerialPaste>(*m_paste, store);

    auto settings = [] {
        const Prefs &prefs = Prefs::shared();
        CaptureSettings s;
        s.paused = prefs.paused();
        s.ignoreHandoff = prefs.ignoreHandoff();
        s.plainTextMode = prefs.plainTextMode();
        s.soundOn = prefs.soundOn();
        s.ignoredBundleIDs = prefs.ignoredBundleIDs();
        return s;
    };
    CaptureHooks hooks;
    hooks.recordSerial = [this](const QString &id) { m_serial->recordIfNeeded(id); };
    hooks.enqueueOcr = [](const QString &id) { OCRService::shared().enqueue(id); };
    hooks.playSound = [this] { m_sound->play(); };
    m_monitor =
        std::make_unique<PasteboardMonitor>(*m_pasteboard, *m_workspace, store, settings, hooks);
}

DesktopServices::~DesktopServices() = default;

void DesktopServices::bindHotKeys()
{
    HotKeyCenter &hotKeys = HotKeyCenter::shared();
    hotKeys.setActions(
        {[this] { Q_EMIT togglePanelRequested(); }, [this] { m_serial->pasteNext(); }});
    hotKeys.bindAll();
}

void DesktopServices::startCapture()
{
    m_monitor->start();
}

bool DesktopServices::keyStrokesTrusted() const
{
    return m_keys->isTrusted();
}
