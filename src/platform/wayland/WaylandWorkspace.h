#pragma once

#include "platform/Workspace.h"

#include <memory>

class DesktopEntryIndex;
class WaylandToplevels;

// The workspace of a Wayland session. Where the compositor lists other clients' windows
// (wlroots desktops) the window in front and its application id come from that list;
// elsewhere no application is known to be in front, so copies are stored without a source
// and the ignore list cannot apply. Sleep and resume come from logind.
class WaylandWorkspace : public Workspace
{
    Q_OBJECT

public:
    // Applications are named from `entries` (an index of its own when none is given).
    explicit WaylandWorkspace(std::shared_ptr<DesktopEntryIndex> entries = {},
                              QObject *parent = nullptr);
    ~WaylandWorkspace() override;

    // Whether the compositor tells which window is in front.
    bool knowsWindows() const;
    bool knowsApplications() const override { return knowsWindows(); }

    std::optional<AppInfo> activeApplication() override;
    quint64 activeWindow() override;
    void activateWindow(quint64 window) override;
    // The window's application id, which Wayland clients name themselves by.
    QString windowClass(quint64 window) override;

private Q_SLOTS:
    void handlePrepareForSleep(bool sleeping);

private:
    std::unique_ptr<WaylandToplevels> m_toplevels;
    std::shared_ptr<DesktopEntryIndex> m_entries;
};
