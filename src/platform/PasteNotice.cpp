#include "platform/PasteNotice.h"

#include "core/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

#include <utility>

namespace {

constexpr int noticeTimeoutMs = 6000;

} // namespace

PasteNotice::PasteNotice(QObject *parent) : PasteNotice(QDBusConnection::sessionBus(), parent) {}

PasteNotice::PasteNotice(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus)
{}

QString PasteNotice::summary(PasteKey key)
{
    return QStringLiteral("Press %1 to paste").arg(PasteKeys::label(key));
}

QString PasteNotice::body(PasteKey key)
{
    const QString onClipboard = QStringLiteral(
        "Ulvane could not send the paste key to this window; the clip is on the clipboard.");
    // Terminals are told apart by their application; where that is unknown, the plain key
    // is named and the terminal's one added.
    if (key == PasteKey::ControlV)
        return onClipboard + QStringLiteral(" In a terminal, press Ctrl+Shift+V.");
    return onClipboard;
}

void PasteNotice::show(PasteKey key)
{
    if (!m_bus.isConnected()) {
        reportUnavailable(QStringLiteral("no D-Bus session bus"));
        return;
    }
    if (m_waiting) {
        m_next = key;
        return;
    }
    send(key);
}

void PasteNotice::send(PasteKey key)
{
    m_waiting = true;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("transient"), true);
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.brisel.Ulvane"));
    call << QStringLiteral("Ulvane") << m_shownId << QStringLiteral("org.brisel.Ulvane")
         << summary(key) << body(key) << QStringList() << hints << noticeTimeoutMs;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                m_waiting = false;
                const QDBusPendingReply<quint32> reply = *finished;
                if (reply.isError())
                    reportUnavailable(reply.error().message());
                else
                    m_shownId = reply.value();
                if (const std::optional<PasteKey> next = std::exchange(m_next, std::nullopt))
                    send(*next);
            });
}

void PasteNotice::reportUnavailable(const QString &why)
{
    if (m_reported)
        return;
    m_reported = true;
    Log::line(QStringLiteral("[Paste] no desktop notification to say the clip is on the "
                             "clipboard: ") +
              why);
}
