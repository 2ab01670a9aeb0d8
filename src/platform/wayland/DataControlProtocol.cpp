#include "platform/wayland/DataControlProtocol.h"

#include "platform/wayland/WaylandConnection.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QList>

namespace {

// The generated names of one protocol, so a single template serves both.
#define ULVANE_DATA_CONTROL_NAMES(Traits, prefix, highestVersion, primaryVersion)                  \
    struct Traits                                                                                  \
    {                                                                                              \
        using Manager = prefix##_manager_v1;                                                       \
        using Device = prefix##_device_v1;                                                         \
        using Source = prefix##_source_v1;                                                         \
        using Offer = prefix##_offer_v1;                                                           \
        using DeviceListener = prefix##_device_v1_listener;                                        \
        using SourceListener = prefix##_source_v1_listener;                                        \
        using OfferListener = prefix##_offer_v1_listener;                                          \
        static constexpr quint32 version = highestVersion;                                         \
        static constexpr quint32 primarySince = primaryVersion;                                    \
        static const wl_interface *managerInterface() { return &prefix##_manager_v1_interface; }   \
        static Device *getDevice(Manager *m, wl_seat *s)                                           \
        {                                                                                          \
            return prefix##_manager_v1_get_data_device(m, s);                                      \
        }                                                                                          \
        static Source *createSource(Manager *m)                                                    \
        {                                                                                          \
            return prefix##_manager_v1_create_data_source(m);                                      \
        }                                                                                          \
        static void destroyManager(Manager *m) { prefix##_manager_v1_destroy(m); }                 \
        static void destroyDevice(Device *d) { prefix##_device_v1_destroy(d); }                    \
        static void setSelection(Device *d, Source *s) { prefix##_device_v1_set_selection(d, s); } \
        static void setPrimarySelection(Device *d, Source *s)                                      \
        {                                                                                          \
            prefix##_device_v1_set_primary_selection(d, s);                                        \
        }                                                                                          \
        static void offer(Source *s, const char *type) { prefix##_source_v1_offer(s, type); }      \
        static void destroySource(Source *s) { prefix##_source_v1_destroy(s); }                    \
        static void receive(Offer *o, const char *type, int fd)                                    \
        {                                                                                          \
            prefix##_offer_v1_receive(o, type, fd);                                                \
        }                                                                                          \
        static void destroyOffer(Offer *o) { prefix##_offer_v1_destroy(o); }                       \
    };

ULVANE_DATA_CONTROL_NAMES(ExtNames, ext_data_control, 1, 1)
ULVANE_DATA_CONTROL_NAMES(WlrNames, zwlr_data_control, 2, 2)
#undef ULVANE_DATA_CONTROL_NAMES

wl_proxy *proxy(void *object)
{
    return static_cast<wl_proxy *>(object);
}

template <typename Names, DataControlProtocol::Kind kindValue>
class Binding final : public DataControlProtocol
{
public:
    Binding(typename Names::Manager *manager, Events &events) : m_manager(manager), m_events(events)
    {}

    ~Binding() override
    {
        if (m_device)
            Names::destroyDevice(m_device);
        Names::destroyManager(m_manager);
    }

    Kind kind() const override { return kindValue; }

    void followSeat(wl_seat *seat) override
    {
        m_device = Names::getDevice(m_manager, seat);
        static const typename Names::DeviceListener listener = {
            [](void *data, typename Names::Device *, typename Names::Offer *offer) {
                auto *self = static_cast<Binding *>(data);
                static const typename Names::OfferListener offerListener = {
                    [](void *events, typename Names::Offer *o, const char *type) {
                        static_cast<Events *>(events)->offerMimeType(proxy(o), type);
                    },
                };
                wl_proxy_add_listener(
                    proxy(offer),
                    reinterpret_cast<void (**)(void)>(
                        const_cast<typename Names::OfferListener *>(&offerListener)),
                    &self->m_events);
                self->m_events.dataOffer(proxy(offer));
            },
            [](void *data, typename Names::Device *, typename Names::Offer *offer) {
                static_cast<Binding *>(data)->m_events.selection(proxy(offer));
            },
            [](void *data, typename Names::Device *) {
                static_cast<Binding *>(data)->m_events.finished();
            },
            [](void *data, typename Names::Device *, typename Names::Offer *offer) {
                static_cast<Binding *>(data)->m_events.primarySelection(proxy(offer));
            },
        };
        wl_proxy_add_listener(proxy(m_device),
                              reinterpret_cast<void (**)(void)>(
                                  const_cast<typename Names::DeviceListener *>(&listener)),
                              this);
    }

    wl_proxy *createSource(const QList<QByteArray> &mimeTypes) override
    {
        typename Names::Source *source = Names::createSource(m_manager);
        static const typename Names::SourceListener listener = {
            [](void *events, typename Names::Source *s, const char *type, int32_t fd) {
                static_cast<Events *>(events)->sourceSend(proxy(s), type, fd);
            },
            [](void *events, typename Names::Source *s) {
                static_cast<Events *>(events)->sourceCancelled(proxy(s));
            },
        };
        wl_proxy_add_listener(proxy(source),
                              reinterpret_cast<void (**)(void)>(
                                  const_cast<typename Names::SourceListener *>(&listener)),
                              &m_events);
        for (const QByteArray &type : mimeTypes)
            Names::offer(source, type.constData());
        return proxy(source);
    }

    void setSelection(wl_proxy *source) override
    {
        if (m_device)
            Names::setSelection(m_device, reinterpret_cast<typename Names::Source *>(source));
    }

    bool canSetPrimarySelection() const override
    {
        return m_device && wl_proxy_get_version(proxy(m_device)) >= Names::primarySince;
    }

    void setPrimarySelection(wl_proxy *source) override
    {
        if (canSetPrimarySelection())
            Names::setPrimarySelection(m_device,
                                       reinterpret_cast<typename Names::Source *>(source));
    }

    void destroySource(wl_proxy *source) override
    {
        Names::destroySource(reinterpret_cast<typename Names::Source *>(source));
    }

    void receive(wl_proxy *offer, const QByteArray &mimeType, int fd) override
    {
        Names::receive(reinterpret_cast<typename Names::Offer *>(offer), mimeType.constData(), fd);
    }

    void destroyOffer(wl_proxy *offer) override
    {
        Names::destroyOffer(reinterpret_cast<typename Names::Offer *>(offer));
    }

private:
    typename Names::Manager *m_manager;
    typename Names::Device *m_device = nullptr;
    Events &m_events;
};

template <typename Names, DataControlProtocol::Kind kind>
std::unique_ptr<DataControlProtocol> bindAs(WaylandConnection &connection,
                                            DataControlProtocol::Events &events)
{
    const WaylandConnection::Global global = connection.global(Names::managerInterface()->name);
    auto *manager = static_cast<typename Names::Manager *>(
        connection.bind(global, Names::managerInterface(), Names::version));
    if (!manager)
        return nullptr;
    return std::make_unique<Binding<Names, kind>>(manager, events);
}

} // namespace

std::unique_ptr<DataControlProtocol>
DataControlProtocol::bind(Kind kind, WaylandConnection &connection, Events &events)
{
    if (kind == Kind::Ext)
        return bindAs<ExtNames, Kind::Ext>(connection, events);
    return bindAs<WlrNames, Kind::Wlr>(connection, events);
}

QString DataControlProtocol::displayName() const
{
    return kind() == Kind::Ext ? QStringLiteral("ext-data-control")
                               : QStringLiteral("wlr-data-control");
}
