#include "panel/PanelController.h"

#include "panel/ClipActions.h"
#include "panel/PanelKeys.h"
#include "panel/PanelModel.h"
#include "panel/PinnedPlacement.h"
#include "paste/PasteService.h"
#include "platform/Workspace.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QScreen>

PanelController::PanelController(Store &store, PasteService &paste, Workspace &workspace,
                                 Prefs &prefs, AppIconCache &icons, PanelActions actions,
                                 QObject *parent)
    : QObject(parent), m_workspace(workspace), m_model(std::make_unique<PanelModel>(store)),
      m_clipActions(std::make_unique<ClipActions>(*m_model, store, paste))
{
    const auto openSettings = [action = QPointer<QAction>(actions.openSettings)] {
        if (action)
            action->trigger();
    };
    m_panel = new PanelView(*m_model, *m_clipActions, prefs, store, icons, std::move(actions));
    m_panel->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_panel->setWindowTitle(QStringLiteral("Clipboard"));
    m_panel->setObjectName(QStringLiteral("ulvane-panel"));
    m_panel->resize(initialWidth, initialHeight);
    // Sized once: a size the user gives it by dragging an edge stays for the rest of the run.
    if (placedByCompositor())
        m_placement = std::make_unique<PinnedPlacement>(*m_panel);

    QPointer<PanelView> panel = m_panel;
    m_model->setRequestHide([panel] {
        if (panel)
            panel->hide();
    });
    m_keys = std::make_unique<PanelKeyHandler>(*m_model, *m_clipActions,
                                               PanelKeyHandler::Actions{[panel] {
                                                                            if (panel)
                                                                                panel->hide();
                                                                        },
                                                                        openSettings});
    qApp->installEventFilter(this);
}

PanelController::~PanelController()
{
    qApp->removeEventFilter(this);
    m_placement.reset();
    delete m_panel.data();
}

bool PanelController::isVisible() const
{
    return m_panel && m_panel->isVisible();
}

void PanelController::show()
{
    if (!m_panel)
        return;
    Q_EMIT aboutToShow();
    // Remember where the user was: X11 moves the keyboard to the picker, so the paste has to
    // send it back there first.
    const quint64 active = m_workspace.activeWindow();
    const bool ownWindowActive = placedByCompositor()
                                     ? m_panel->isVisible() && m_panel->isActiveWindow()
                                     : active == quint64(m_panel->winId());
    m_clipActions->setPasteTarget(!ownWindowActive ? PasteTarget{active} : PasteTarget{});

    m_model->onShow();
    m_panel->updateFooter();
    if (placedByCompositor()) {
        // The compositor's window list knows the picker by no id of Qt's (there winId() is
        // not a window of the list), so it is left out of the calls that name it; Qt asks
        // for the focus itself, with the launcher's activation token when one came.
        if (!m_panel->isVisible())
            m_placement->pin();
        m_panel->show();
        m_panel->raise();
        m_panel->activateWindow();
        Q_EMIT shown();
        return;
    }
    positionPanel();
    m_workspace.showOnAllDesktops(quint64(m_panel->winId()));
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    // Window managers may refuse focus to a window that asks for itself; as a tool window we
    // ask the way pagers do, which they honour.
    m_workspace.activateWindow(quint64(m_panel->winId()));
    m_workspace.showOnAllDesktops(quint64(m_panel->winId()));
    Q_EMIT shown();
}

void PanelController::hide()
{
    if (m_panel)
        m_panel->hide();
}

void PanelController::toggle()
{
    if (isVisible())
        hide();
    else
        show();
}

std::optional<QPoint> PanelController::panelOrigin(const QPoint &pointer, const QSize &size,
                                                   const QList<ScreenArea> &screens, int primary)
{
    const ScreenArea *screen = nullptr;
    for (const ScreenArea &candidate : screens) {
        if (candidate.geometry.contains(pointer)) {
            screen = &candidate;
            break;
        }
    }
    if (!screen && primary >= 0 && primary < screens.size())
        screen = &screens.at(primary);
    if (!screen)
        return std::nullopt;
    const QRect visible = screen->available;
    // Screen coordinates grow downwards here, so "above the centre" subtracts.
    const qreal x = visible.x() + visible.width() / 2.0 - size.width() * 0.5;
    const qreal y =
        visible.y() + visible.height() / 2.0 - size.height() * 0.5 - visible.height() * 0.08;
    return QPoint(qRound(x), qRound(y));
}

std::optional<QPoint> PanelController::panelOrigin(const QPoint &pointer, const QSize &size)
{
    QList<ScreenArea> areas;
    int primary = -1;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen == QGuiApplication::primaryScreen())
            primary = int(areas.size());
        areas.append({screen->geometry(), screen->availableGeometry()});
    }
    return panelOrigin(pointer, size, areas, primary);
}

bool PanelController::placedByCompositor()
{
    return QGuiApplication::platformName() == u"wayland";
}

void PanelController::positionPanel()
{
    const std::optional<QPoint> origin = panelOrigin(QCursor::pos(), m_panel->size());
    if (origin)
        m_panel->move(*origin);
}

bool PanelController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_panel)
        return false;
    // Only keys meant for the picker window: other windows (settings, dialogs, the rename
    // prompt, an open menu) keep their own keyboard.
    // A key that reaches one of its widgets already means the picker has the keyboard; asking
    // whether it is the active window would drop the keys typed before Qt heard of the focus.
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != m_panel.data())
        return false;
    return m_keys->handle(*static_cast<QKeyEvent *>(event));
}
