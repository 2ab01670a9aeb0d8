#pragma once

#include "platform/Workspace.h"
#include "platform/x11/X11Connection.h"

#include <QByteArray>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

class DesktopEntryIndex;
class QDBusConnection;

// The active window and its application through EWMH, over an X connection of our own so
// nothing here depends on Qt's platform plugin. Sleep and resume come from logind.
class X11Workspace : public Workspace
{
    Q_OBJECT

public:
    // Connects to $DISPLAY, or to the given display name. Without a server every answer is
    // empty and activation does nothing. Applications are named from `entries` (an index of
    // its own when none is given).
    explicit X11Workspace(const QByteArray &displayName = {}, QObject *parent = nullptr,
                          std::shared_ptr<DesktopEntryIndex> entries = {});
    ~X11Workspace() override;

    bool isConnected() const { return m_x.isValid(); }

    std::optional<AppInfo> activeApplication() override;
    quint64 activeWindow() override;
    void activateWindow(quint64 window) override;
    void showOnAllDesktops(quint64 window) override;
    QString windowClass(quint64 window) override;

    // The application owning any window; absent when the window says nothing about itself.
    std::optional<AppInfo> applicationOf(quint64 window);
    // WM_CLASS as {instance, class}; empty when the window has none.
    QStringList windowClassPair(quint64 window);

    // Also listens for PrepareForSleep on the given bus; the system bus, when there is one,
    // is watched from construction on.
    bool watchSleep(const QDBusConnection &bus);

private Q_SLOTS:
    void handlePrepareForSleep(bool sleeping);

private:
    QByteArray property(quint32 window, quint32 property, quint32 type, quint32 maxLongs = 1024);
    bool hasEwmhManager();
    quint32 currentInputFocus();
    // An EWMH request to the window manager about `window`, sent to the root window.
    void sendToWindowManager(quint32 window, quint32 type, const std::array<quint32, 3> &data);

    X11Connection m_x;
    struct Atoms
    {
        quint32 activeWindow = 0;
        quint32 wmPid = 0;
        quint32 gtkApplicationId = 0;
        quint32 utf8String = 0;
        quint32 supportingWmCheck = 0;
        quint32 wmDesktop = 0;
    } m_atoms;
    std::shared_ptr<DesktopEntryIndex> m_entries;
};
