#pragma once

#include <QListView>

#include <functional>

class ClipActions;
class ClipRowDelegate;
class PanelModel;
class QMenu;
struct Clip;

// The picker's list: rows painted by ClipRowDelegate, a click pastes, a secondary click opens
// the row's menu, the model's scroll target is brought into view, and an empty list says why.
// It never takes keyboard focus: the search field keeps it so typing always filters.
class ClipListView : public QListView
{
    Q_OBJECT

public:
    ClipListView(PanelModel &model, ClipActions &actions, ClipRowDelegate &delegate,
                 QWidget *parent = nullptr);

    // The row's context menu; the caller owns it. Public so tests can drive every item.
    QMenu *buildContextMenu(const Clip &clip, QWidget *parent) const;

    // What the empty list says for the current search.
    QString emptyText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void scrollToTarget();

    PanelModel &m_model;
    ClipActions &m_actions;
};
