#pragma once

#include <QList>
#include <QWidget>

class AppIconCache;
class ClipActions;
class ClipListView;
class ClipRowDelegate;
class FilterTabs;
class PanelModel;
class Prefs;
class PreviewPane;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class Store;

// The application's verbs the picker offers. Any may be left out (tests, benchmarks): its
// control then does nothing.
struct PanelActions
{
    // The "More" menu, top to bottom; a null entry stands for a separator.
    QList<QAction *> more;
    // The gear button and Ctrl+,.
    QAction *openSettings = nullptr;
    // Offered in the footer while auto-paste is on and this action is visible, that is while
    // this desktop takes no synthetic keys.
    QAction *enableAutoPaste = nullptr;
};

// The picker's content, top to bottom: toolbar, search bar with the filter tabs, the list with
// the optional preview beside it, and the footer. It draws its own rounded background and can
// be dragged by it and resized from its edges, since the window has no frame.
class PanelView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minimumWidth = 560;
    static constexpr int minimumHeight = 340;
    // After each appearance the caret goes to the search field once the window is mapped.
    static constexpr int focusDelayMs = 50;

    PanelView(PanelModel &model, ClipActions &clipActions, Prefs &prefs, Store &store,
              AppIconCache &icons, PanelActions actions = {}, QWidget *parent = nullptr);
    ~PanelView() override;

    QLineEdit *searchField() const { return m_search; }
    ClipListView *listView() const { return m_list; }
    PreviewPane *previewPane() const { return m_preview; }
    FilterTabs *filterTabs() const { return m_tabs; }
    QMenu *moreMenu() const { return m_moreMenu; }
    QToolButton *settingsButton() const { return m_settingsButton; }
    QToolButton *closeButton() const { return m_closeButton; }
    QToolButton *clearSearchButton() const { return m_clearButton; }
    QToolButton *autoPasteButton() const { return m_autoPasteButton; }
    QLabel *pausedChip() const { return m_pausedChip; }
    QToolButton *pausedLabel() const { return m_pausedLabel; }
    QToolButton *plainLabel() const { return m_plainLabel; }
    QLabel *countLabel() const { return m_countLabel; }
    QLabel *hintLabel() const { return m_hintLabel; }

    // Re-reads the conditions the footer shows (also called on every appearance).
    void updateFooter();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildToolbar();
    QWidget *buildSearchBar();
    QWidget *buildFooter();
    QMenu *buildMoreMenu(QWidget *parent);
    void syncQuery();
    void syncPreview();
    void focusSearchSoon();
    Qt::Edges edgesAt(const QPoint &pos) const;

    PanelModel &m_model;
    ClipActions &m_clipActions;
    Prefs &m_prefs;
    Store &m_store;
    AppIconCache &m_icons;
    PanelActions m_actions;

    ClipRowDelegate *m_delegate;
    ClipListView *m_list;
    PreviewPane *m_preview;
    QWidget *m_previewDivider;
    QLineEdit *m_search;
    FilterTabs *m_tabs;
    QMenu *m_moreMenu;
    QToolButton *m_settingsButton;
    QToolButton *m_closeButton;
    QToolButton *m_clearButton;
    QToolButton *m_autoPasteButton;
    QLabel *m_pausedChip;
    QToolButton *m_pausedLabel;
    QToolButton *m_plainLabel;
    QLabel *m_countLabel;
    QLabel *m_hintLabel;
};
