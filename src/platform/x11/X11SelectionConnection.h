#pragma once

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11PasteboardTypes.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>

#include <memory>
#include <optional>

class QSocketNotifier;

// A private X connection for reading the CLIPBOARD selection. Qt's own clipboard waits
// seconds for an owner that does not answer; this one never waits longer than the caller's
// budget, so a dead or slow owner cannot stall the main thread. It also follows the owner
// through XFixes and counts every change.
class X11SelectionConnection : public QObject
{
    Q_OBJECT

public:
    // How long one owner may take to answer one step of a transfer.
    static constexpr int stepTimeoutMs = 500;
    // The largest transfer accepted; larger content ends the whole read, as an owner that does
    // not answer does. Nothing larger is ever kept, so reading further would only cost time
    // and memory.
    static constexpr qint64 maxTransferBytes = Flavors::maxCaptureBytes;

    // A watching connection follows the owner from the event loop of the thread it was made
    // on and signals changes; a reading-only one takes in events only while a read waits, so
    // it may be used from any one thread at a time.
    enum class Mode { Watch, ReadOnly };

    explicit X11SelectionConnection(Mode mode = Mode::Watch, QObject *parent = nullptr);
    ~X11SelectionConnection() override;

    // False without an X server or without XFixes; every read then finds nothing.
    bool isValid() const { return m_x != nullptr; }

    // The window owning CLIPBOARD now, 0 when nobody does.
    quint32 currentOwner();

    // Whether a window was created by the given client, told by its resource id range.
    static bool isWindowOf(quint32 window, xcb_connection_t *client);

    // Takes in the change events already sent, without waiting.
    void pollEvents();
    qint64 changeCount() const { return m_changeCount; }

    // One read of the current owner's offer. A read ends early when the owner changes or
    // goes away while it runs, or when the overall deadline passes.
    class Read
    {
    public:
        Read(X11SelectionConnection &connection, int totalBudgetMs);
        ~Read();
        Read(const Read &) = delete;
        Read &operator=(const Read &) = delete;

        bool hasOwner() const { return m_owner != 0; }
        quint32 owner() const { return m_owner; }
        // The offered targets, or absent when the owner did not answer in time.
        std::optional<QStringList> targets();
        // One conversion, with the semantics of X11PasteboardTypes::Fetch.
        std::optional<X11PasteboardTypes::Transfer> convert(const QString &target);

    private:
        X11SelectionConnection &m_connection;
        QDeadlineTimer m_total;
        quint32 m_owner = 0;
    };

Q_SIGNALS:
    // The owner of CLIPBOARD changed or went away; changeCount() has moved.
    void selectionChanged();

private:
    enum class Wait { Matched, TimedOut, Aborted };

    bool connectToServer();
    quint32 intern(const QByteArray &name);
    QString atomName(quint32 atom);
    QStringList atomNames(const QList<quint32> &atoms);
    quint32 nextProperty();

    // Waits for an event the predicate accepts; returns it (to be freed) or nullptr.
    template <typename Predicate>
    xcb_generic_event_t *waitForEvent(const Predicate &accept, const QDeadlineTimer &deadline,
                                      Wait *outcome);
    void handleEvent(xcb_generic_event_t *event);
    void scheduleDrain();

    std::optional<X11PasteboardTypes::Transfer> convert(quint32 target,
                                                        const QDeadlineTimer &total);
    std::optional<X11PasteboardTypes::Transfer>
    receiveIncrementally(quint32 target, quint32 property, const QDeadlineTimer &total);
    std::optional<X11PasteboardTypes::Transfer> refuseOversized(quint32 target, quint32 property,
                                                                qint64 bytes);
    QDeadlineTimer stepDeadline(const QDeadlineTimer &total) const;
    xcb_connection_t *connection() const { return m_x ? m_x->get() : nullptr; }

    const Mode m_mode;
    std::unique_ptr<X11Connection> m_x; // absent without a server offering XFixes
    quint32 m_window = 0;
    quint8 m_xfixesFirstEvent = 0;
    QSocketNotifier *m_notifier = nullptr;
    qint64 m_changeCount = 0;
    bool m_drainScheduled = false;
    bool m_emitScheduled = false;

    // The owner a read started with; any other owner, or its departure, aborts the read.
    quint32 m_readOwner = 0;
    bool m_readAborted = false;

    struct Atoms
    {
        quint32 clipboard = 0;
        quint32 targets = 0;
        quint32 incr = 0;
        quint32 atom = 0;
    } m_atoms;
    // Every conversion lands in the next property of a small ring, so a late answer to an
    // abandoned conversion is never mistaken for the answer to a newer one.
    QList<quint32> m_properties;
    int m_nextProperty = 0;
    QHash<quint32, QString> m_atomNames;
    QHash<QString, quint32> m_atomsByName;
};
