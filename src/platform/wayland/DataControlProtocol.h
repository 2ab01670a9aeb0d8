#pragma once

#include <QString>

#include <memory>

class WaylandConnection;
struct wl_proxy;
struct wl_seat;

// One of the two data-control protocols, bound on a registry. Both carry the same requests
// and events under different interface names; the rest of the clipboard code sees this one
// face and never the generated types. Offers and sources are opaque proxies.
class DataControlProtocol
{
public:
    enum class Kind { Ext, Wlr };

    // Where the device's, offers' and sources' events go, on the thread that dispatches.
    class Events
    {
    public:
        virtual void dataOffer(wl_proxy *offer) = 0;
        virtual void offerMimeType(wl_proxy *offer, const char *mimeType) = 0;
        virtual void selection(wl_proxy *offer) = 0;
        virtual void primarySelection(wl_proxy *offer) = 0;
        virtual void finished() = 0;
        // The fd is ours to write and close.
        virtual void sourceSend(wl_proxy *source, const char *mimeType, int fd) = 0;
        virtual void sourceCancelled(wl_proxy *source) = 0;

    protected:
        ~Events() = default;
    };

    // Binds the manager at the highest version both sides know; nullptr when the compositor
    // does not offer it.
    static std::unique_ptr<DataControlProtocol> bind(Kind kind, WaylandConnection &connection,
                                                     Events &events);

    virtual ~DataControlProtocol() = default;

    virtual Kind kind() const = 0;
    // How the log names it: "ext-data-control" or "wlr-data-control".
    QString displayName() const;

    // Follows the seat's selections; call once.
    virtual void followSeat(wl_seat *seat) = 0;

    virtual wl_proxy *createSource(const QList<QByteArray> &mimeTypes) = 0;
    virtual void setSelection(wl_proxy *source) = 0;
    // The primary selection came with the wlroots protocol's second version.
    virtual bool canSetPrimarySelection() const = 0;
    virtual void setPrimarySelection(wl_proxy *source) = 0;
    virtual void destroySource(wl_proxy *source) = 0;

    virtual void receive(wl_proxy *offer, const QByteArray &mimeType, int fd) = 0;
    virtual void destroyOffer(wl_proxy *offer) = 0;
};
