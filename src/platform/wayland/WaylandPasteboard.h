#pragma once

#include "platform/Pasteboard.h"

#include <memory>

class WaylandDataControl;

// The clipboard of a Wayland session through data-control, on a connection of the
// pasteboard's own. Offers are read into flavors through the same type map as on X11, with
// the same bounds: each wait for an owner is a step of its own, a read as a whole has a
// budget, and content over the capture limit ends the read. Writes set a source that serves
// the items until another client takes the clipboard. changeCount() and write() belong to the
// thread the pasteboard was made on; reads may come from any thread, and off it our own
// content reads as nothing offered, so a capture never stores what this process wrote.
class WaylandPasteboard : public Pasteboard
{
    Q_OBJECT

public:
    static constexpr int readBudgetMs = 2000;
    static constexpr int stepTimeoutMs = 500;

    // Takes a connected control (see WaylandDataControl::isValid()).
    explicit WaylandPasteboard(std::unique_ptr<WaylandDataControl> control,
                               QObject *parent = nullptr);
    ~WaylandPasteboard() override;

    // Which protocol carries the clipboard, for the log.
    QString protocolName() const;

    qint64 changeCount() const override;
    bool announcesChanges() const override;
    std::optional<Offer> readOffer(const QStringList &wantedUtis, const TypeCheck &accept) override;
    bool write(const ItemList &items) override;
    bool writePrimary(const ItemList &items) override;
    bool ownsClipboard() const override;

private:
    std::unique_ptr<WaylandDataControl> m_control;
};
