#pragma once

#include "capture/ContentClassifier.h"
#include "core/Flavor.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <mutex>
#include <optional>

class Pasteboard;
class Store;
class Workspace;

// The settings a capture consults, read afresh at every change so a toggle applies at once.
struct CaptureSettings
{
    bool paused = false;
    bool ignoreHandoff = false;
    bool plainTextMode = false;
    bool soundOn = false;
    QStringList ignoredAppIds;
};

// Where a newly stored entry goes next. Each hook may be empty.
struct CaptureHooks
{
    std::function<void(const QString &id)> recordSerial;
    std::function<void(const QString &id)> enqueueOcr;
    std::function<void()> playSound;
};

// Turns every new copy made in another application into a history entry. Follows the
// clipboard's change counter (a change signal for speed, a 0.2 s poll as the safety net) and
// drops changes that must not be kept: our own writes, secrets, remote clipboards, copies made
// in this application or in ignored ones. The change counter, the settings and the source
// application are looked at on the GUI thread; the offer is read, classified and stored on a
// capture thread, because its owner may take its time to answer and the picker must open
// meanwhile. One capture runs at a time; the hooks run on the GUI thread.
class PasteboardMonitor : public QObject
{
    Q_OBJECT

public:
    using SettingsProvider = std::function<CaptureSettings()>;

    // The desktop application id; the self marker and the own-application test derive from it.
    static inline const QString applicationId = QStringLiteral("org.brisel.Ulvane");
    static constexpr int pollIntervalMs = 200;

    // The types read from an offer, in order of preference.
    static const QStringList &storableUTIs();
    // Any of these marks an offer that must never be stored (passwords, generated content).
    static const QStringList &concealedTypes();

    PasteboardMonitor(Pasteboard &pasteboard, Workspace &workspace, Store &store,
                      SettingsProvider settings, CaptureHooks hooks, QObject *parent = nullptr);
    // Waits for a running capture, at most the pasteboard's read budget.
    ~PasteboardMonitor() override;

    // Begins following the clipboard; call once. Where the pasteboard announces every change
    // nothing runs between changes; elsewhere the change counter is polled.
    void start();
    // One look at the change counter, capturing when it moved. Also the safety net for a
    // change announcement that never came: the app calls it when the picker is shown.
    void tick();

    qint64 lastChangeCount() const { return m_lastChangeCount; }
    bool isSleeping() const { return m_sleeping; }
    bool isStarted() const { return m_started; }
    bool isPolling() const { return m_timer.isActive(); }
    bool isCapturing() const { return m_capturing; }

    static Classification classify(const FlavorList &flat);

    // The storable flavors of an offer, item by item: TIFF converted to PNG where it decodes,
    // one flavor per type, empty items dropped. *totalBytes receives the size that counts
    // against Flavors::maxCaptureBytes.
    static ItemList collectFlavors(const ItemList &offer, qint64 *totalBytes);
    // Plain-text mode: only text, file URLs and PNG survive; an offer left with none of them
    // is kept whole rather than lost.
    static ItemList reduceToPlain(const ItemList &items);

Q_SIGNALS:
    // A capture started by tick() has ended, whether or not it stored anything.
    void captureFinished();

private:
    struct Stored
    {
        QString id;
        ClipKind kind = ClipKind::Text;
    };
    // Runs on the capture thread.
    std::optional<Stored> capture(const CaptureSettings &settings, const QString &appId,
                                  const QString &appName);
    void finishCapture();
    bool vetoedByTypes(const QStringList &types, const CaptureSettings &settings) const;
    bool isOwnApplication(const QString &appId, qint64 pid) const;

    Pasteboard &m_pasteboard;
    Workspace &m_workspace;
    Store &m_store;
    SettingsProvider m_settings;
    CaptureHooks m_hooks;
    QTimer m_timer;
    bool m_started = false;
    qint64 m_lastChangeCount = 0;
    bool m_sleeping = false;
    bool m_capturing = false;
    QThreadPool m_captureThread;
    // What the GUI thread hands the capture thread and gets back. A lock of its own, rather
    // than trusting the pool's and the event queue's hand-over, so the order is plain to see
    // (and to ThreadSanitizer, which cannot see into Qt's futex-based locks).
    struct Request
    {
        CaptureSettings settings;
        QString appId;
        QString appName;
    };
    std::mutex m_handoffLock;
    Request m_request;
    std::optional<Stored> m_result;
};
