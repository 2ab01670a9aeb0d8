#pragma once

#include <QObject>
#include <QSize>

class QWidget;

// Where a Wayland compositor puts a window is its own decision: a client can neither move its
// windows nor learn where they are. Tiling compositors (sway and the other wlroots desktops)
// float a new window, centred on the output in use, only when its size is fixed; the stacking
// ones (KWin, Mutter) place it by their own policy, which centres tool windows. So the window
// is shown with its size pinned, and released once it holds the keyboard, when the compositor
// has mapped and placed it: its edge still resizes it afterwards, and it stays floating.
class PinnedPlacement : public QObject
{
    Q_OBJECT

public:
    explicit PinnedPlacement(QWidget &window, QObject *parent = nullptr);
    ~PinnedPlacement() override;

    // Before the window is shown.
    void pin();
    bool isPinned() const { return m_pinned; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void release();

    QWidget &m_window;
    QSize m_minimum;
    QSize m_maximum;
    bool m_pinned = false;
};
