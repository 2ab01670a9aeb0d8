#pragma once

#include "panel/PanelView.h"

#include <QObject>
#include <QPointer>

#include <memory>

class AppIconCache;
class ClipActions;
class PanelKeyHandler;
class PanelModel;
class PinnedPlacement;
class PasteService;
class Prefs;
class Store;
class Workspace;

// Owns the picker window: builds it once, shows it on the screen under the pointer with the
// keyboard in its search field, remembers which window the user came from so the paste goes
// back there, and reads the picker's keys before the focused control sees them. On Wayland the
// compositor places the window (see PinnedPlacement) and gives the keyboard back on hiding.
//
// The window is a frameless tool window that stays on top and on every desktop. It is hidden,
// never closed, so each appearance costs only a refresh of the list.
class PanelController : public QObject
{
    Q_OBJECT

public:
    static constexpr int initialWidth = 720;
    static constexpr int initialHeight = 460;

    PanelController(Store &store, PasteService &paste, Workspace &workspace, Prefs &prefs,
                    AppIconCache &icons, PanelActions actions = {}, QObject *parent = nullptr);
    ~PanelController() override;

    void show();
    void hide();
    // The show-panel hot key: hides a visible panel, shows a hidden one.
    void toggle();
    bool isVisible() const;

    PanelModel &model() const { return *m_model; }
    ClipActions &clipActions() const { return *m_clipActions; }
    PanelView *panel() const { return m_panel.data(); }
    PanelKeyHandler &keyHandler() const { return *m_keys; }

    struct ScreenArea
    {
        QRect geometry;  // the whole screen, in desktop coordinates
        QRect available; // without panels and docks
    };
    // Where the panel goes for a pointer position: centred on the first screen that contains
    // the pointer (else the primary one), 8 % of that screen's usable height above its centre.
    // Absent when there is no screen at all.
    static std::optional<QPoint> panelOrigin(const QPoint &pointer, const QSize &size,
                                             const QList<ScreenArea> &screens, int primary);
    // The same for the screens Qt knows.
    static std::optional<QPoint> panelOrigin(const QPoint &pointer, const QSize &size);

Q_SIGNALS:
    // Before the panel takes the keyboard: the window the user works in is still active.
    void aboutToShow();
    // After the panel was put on screen and given the keyboard (benchmarks wait for it).
    void shown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Wayland: windows cannot be placed by their client.
    static bool placedByCompositor();
    void positionPanel();

    Workspace &m_workspace;
    std::unique_ptr<PanelModel> m_model;
    std::unique_ptr<ClipActions> m_clipActions;
    QPointer<PanelView> m_panel;
    std::unique_ptr<PanelKeyHandler> m_keys;
    std::unique_ptr<PinnedPlacement> m_placement; // Wayland only
};
