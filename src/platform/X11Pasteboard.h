#pragma once

#include "platform/Pasteboard.h"

class QMimeData;
class X11SelectionConnection;

// The CLIPBOARD selection of the X server. Reads go through a private connection with bounded
// waits; writes go through QClipboard, which keeps serving the offer for as long as this
// process owns the selection.
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
    QStringList currentTypes() override;
    std::optional<ItemList> read(const QStringList &wantedUtis) override;
    bool write(const ItemList &items) override;

private:
    // Our own offer when Qt's connection owns the selection. Converting it over the X server
    // would wait for this very thread to answer, so it is read in process instead.
    const QMimeData *ownOffer(quint32 owner) const;
    bool qtOwnsClipboard() const;

    X11SelectionConnection *m_connection;
};
