#pragma once

#include "platform/Pasteboard.h"
#include "platform/x11/X11PasteboardTypes.h"

#include <QMutex>

#include <memory>

class QMimeData;
class X11SelectionConnection;
struct xcb_connection_t;

// The CLIPBOARD selection of the X server. Reads go through a private connection with bounded
// waits; writes go through QClipboard, which keeps serving the offer for as long as this
// process owns the selection. changeCount() and write() belong to the GUI thread. Reads may
// come from any thread: off the GUI thread they take turns on a connection of their own, so
// an owner that is slow to answer stalls only the thread that asked.
class X11Pasteboard : public Pasteboard
{
    Q_OBJECT

public:
    // One read never takes longer, however many conversions it needs.
    static constexpr int readBudgetMs = 2000;
    // How long a write may wait for Qt to catch up with a change it has not handled yet.
    static constexpr int writeRetryMs = 300;

    explicit X11Pasteboard(QObject *parent = nullptr);
    ~X11Pasteboard() override;

    qint64 changeCount() const override;
    std::optional<Offer> readOffer(const QStringList &wantedUtis, const TypeCheck &accept) override;
    bool write(const ItemList &items) override;
    bool writePrimary(const ItemList &items) override;
    bool ownsClipboard() const override;
    // XFixes tells every change of owner.
    bool announcesChanges() const override;

private:
    bool onGuiThread() const;
    // Hands the current offer's targets and a way to fetch them to `use`; absent when nothing
    // is offered, the owner does not answer, or our own offer is asked for off the GUI thread.
    template <typename Use>
    auto withOffer(const Use &use) -> decltype(use(QStringList(), X11PasteboardTypes::Fetch()));
    // Whether Qt's connection owns the selection: the offer is our own, and converting it
    // over the X server would wait for the GUI thread to answer, so it is read in process.
    bool isOwnOffer(quint32 owner) const;
    const QMimeData *ownOffer() const;

    X11SelectionConnection *m_connection;
    std::unique_ptr<X11SelectionConnection> m_backgroundReader;
    QMutex m_backgroundLock;
    xcb_connection_t *m_qtConnection = nullptr;
};
