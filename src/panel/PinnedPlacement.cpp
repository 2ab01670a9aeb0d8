#include "panel/PinnedPlacement.h"

#include <QEvent>
#include <QWidget>

PinnedPlacement::PinnedPlacement(QWidget &window, QObject *parent)
    : QObject(parent), m_window(window)
{
    m_window.installEventFilter(this);
}

PinnedPlacement::~PinnedPlacement()
{
    m_window.removeEventFilter(this);
}

void PinnedPlacement::pin()
{
    if (m_pinned)
        return;
    m_minimum = m_window.minimumSize();
    m_maximum = m_window.maximumSize();
    m_window.setFixedSize(m_window.size());
    m_pinned = true;
}

void PinnedPlacement::release()
{
    if (!m_pinned)
        return;
    m_pinned = false;
    m_window.setMinimumSize(m_minimum);
    m_window.setMaximumSize(m_maximum);
}

bool PinnedPlacement::eventFilter(QObject *watched, QEvent *event)
{
    // The keyboard arrives only at a mapped window; one hidden before that never needs pinning
    // again until the next show.
    if (watched == &m_window &&
        (event->type() == QEvent::WindowActivate || event->type() == QEvent::Hide))
        release();
    return false;
}
