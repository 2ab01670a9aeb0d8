#pragma once

#include "platform/Workspace.h"

// The workspace of a Wayland session that tells clients nothing about other clients' windows:
// no application is known to be in front, so copies are stored without a source and the
// ignore list cannot apply. Sleep and resume still come from logind.
class WaylandWorkspace : public Workspace
{
    Q_OBJECT

public:
    explicit WaylandWorkspace(QObject *parent = nullptr);

    std::optional<AppInfo> activeApplication() override { return std::nullopt; }
    quint64 activeWindow() override { return 0; }
    void activateWindow(quint64 window) override { Q_UNUSED(window); }
    QString windowClass(quint64 window) override
    {
        Q_UNUSED(window);
        return {};
    }

private Q_SLOTS:
    void handlePrepareForSleep(bool sleeping);
};
