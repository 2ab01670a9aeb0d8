#pragma once

#include "platform/wayland/DataControlProtocol.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>

class WaylandConnection;
struct wl_seat;

// A Wayland connection of the clipboard's own, next to Qt's, bound to a data-control protocol
// (the standard one where offered, the wlroots one otherwise). It follows the seat's
// clipboard from the event loop of the thread it was made on, with no surface and no focus,
// and sets the clipboard (or the primary selection) to content this process serves until
// another client replaces it. Changes of the primary selection are not followed.
// selection() and receive() may be called from any thread; everything else belongs to the
// owning thread.
class WaylandDataControl : public QObject, private DataControlProtocol::Events
{
    Q_OBJECT

public:
    // Content in one mime type.
    struct Content
    {
        QByteArray mimeType;
        QByteArray data;
    };

    // One look at the clipboard.
    struct Selection
    {
        quint64 serial = 0;      // changes with every new selection
        QStringList mimeTypes;   // empty when the clipboard is empty
        bool ownContent = false; // offered by this connection's own source
    };

    // Connects to $WAYLAND_DISPLAY. Without a compositor offering data-control the object is
    // not valid and every answer is empty.
    explicit WaylandDataControl(QObject *parent = nullptr);
    ~WaylandDataControl() override;

    bool isValid() const { return m_protocol != nullptr && m_seat != nullptr; }
    // "ext-data-control" or "wlr-data-control"; empty when not valid.
    QString protocolName() const;

    qint64 changeCount() const { return m_changeCount.load(); }
    Selection selection() const;
    // Asks the owner of the selection `serial` for its content in `mimeType`; the read end of
    // the pipe it writes into, or -1 when the selection has changed since.
    int receive(quint64 serial, const QString &mimeType);

    // Makes the contents the clipboard. False when not valid.
    bool setSelection(const QList<Content> &contents);
    // Makes the contents the primary selection; false where the protocol has none.
    bool setPrimarySelection(const QList<Content> &contents);
    // Whether the clipboard is still the content set here last.
    bool ownsSelection() const { return m_activeSource != nullptr; }
    // The content set here last, while it is the clipboard.
    QList<Content> ownContents() const;

    // Takes in the events the compositor has sent, without waiting.
    void dispatchEvents();

Q_SIGNALS:
    // The clipboard changed; changeCount() has moved.
    void selectionChanged();

private:
    void dataOffer(wl_proxy *offer) override;
    void offerMimeType(wl_proxy *offer, const char *mimeType) override;
    void selection(wl_proxy *offer) override;
    void primarySelection(wl_proxy *offer) override;
    void finished() override;
    void sourceSend(wl_proxy *source, const char *mimeType, int fd) override;
    void sourceCancelled(wl_proxy *source) override;

    bool bindProtocol();
    wl_proxy *createSource(const QList<Content> &contents);
    // Destroys every proxy made on the connection; the object is not valid afterwards.
    void releaseProxies();
    void scheduleSignal();

    // Declared first, so it closes after every proxy made on it is gone.
    std::unique_ptr<WaylandConnection> m_connection;
    wl_seat *m_seat = nullptr;
    std::unique_ptr<DataControlProtocol> m_protocol;

    // Offers announced but not yet named as a selection, with their types.
    QHash<wl_proxy *, QStringList> m_pendingOffers;
    // The sources set as the clipboard, until the compositor cancels them.
    QHash<wl_proxy *, QList<Content>> m_sources;
    wl_proxy *m_activeSource = nullptr;

    // The clipboard's offer, shared with reading threads; destroyed only under the lock.
    mutable QMutex m_lock;
    wl_proxy *m_offer = nullptr;
    Selection m_selection;

    std::atomic<qint64> m_changeCount = 0;
    bool m_signalScheduled = false;
};
