#pragma once

#include "core/Clip.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QTimer;
class Store;

// The state behind the picker: what was typed, which tab is active, the rows on show, the
// selected row and the previewed clip. It turns that state into store queries and keeps the
// selection on the same clip when the list changes under it. As an item model it is the list
// the picker's view shows; rows are painted by ClipRowDelegate, so it only says how many there
// are and which clip each one is.
//
// While the picker is off screen a store change only marks the list stale: a capture then
// costs no query, and the next showing refreshes once. On screen, the list follows the store
// at once, so pin and delete from the keyboard show immediately.
//
// Every assignment to an observable property notifies, even when the value is unchanged: the
// views treat a notification as "redraw", and a repeated scroll request must scroll again.
// Lives on the main thread.
class PanelModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(int filter READ filterValue WRITE setFilterValue NOTIFY filterChanged)
    Q_PROPERTY(int selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(bool hasPreview READ hasPreview NOTIFY previewChanged)
    Q_PROPERTY(Clip previewClip READ previewClip NOTIFY previewChanged)
    Q_PROPERTY(int focusTick READ focusTick NOTIFY focusTickChanged)
    Q_PROPERTY(QString scrollTarget READ scrollTargetId NOTIFY scrollTargetChanged)

public:
    // The longest list the picker shows; longer histories are reached by searching.
    static constexpr int searchLimit = 400;
    // Long enough to swallow a burst of keystrokes, short enough to feel live.
    static constexpr int refreshDelayMs = 120;

    explicit PanelModel(Store &store, QObject *parent = nullptr);
    ~PanelModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    QString query() const { return m_query; }
    void setQuery(const QString &query);

    ClipFilter filter() const { return m_filter; }
    void setFilter(ClipFilter filter);
    int filterValue() const { return static_cast<int>(m_filter); }
    // Values outside the tab list are ignored.
    void setFilterValue(int value);

    // By value: a store change refreshes the list, so a reference could dangle in a caller
    // that pins or deletes while iterating.
    QList<Clip> clips() const { return m_clips; }
    int count() const { return int(m_clips.size()); }
    // The clip of a row; an empty clip (no id) for rows out of range.
    const Clip &clipAt(int row) const;
    int rowOf(const QString &id) const;

    int selection() const { return m_selection; }
    void setSelection(int selection);
    std::optional<Clip> selectedClip() const;

    std::optional<Clip> preview() const { return m_preview; }
    void setPreview(const std::optional<Clip> &preview);
    bool hasPreview() const { return m_preview.has_value(); }
    Clip previewClip() const { return m_preview.value_or(Clip()); }

    int focusTick() const { return m_focusTick; }

    std::optional<QString> scrollTarget() const { return m_scrollTarget; }
    QString scrollTargetId() const { return m_scrollTarget.value_or(QString()); }

    // Set by the controller to order the panel window out.
    void setRequestHide(std::function<void()> requestHide)
    {
        m_requestHide = std::move(requestHide);
    }
    // Orders the panel out through the controller's callback (nothing without one).
    void requestHide() const;

    // A new appearance: an empty search over every clip, the top row selected, no preview, and
    // the list read from the store once.
    void onShow();
    // Whether the picker is on screen. Coming back on screen with a stale list refreshes it,
    // keeping the selected clip.
    void setOnScreen(bool onScreen);
    bool isStale() const { return m_stale; }

    void scheduleRefresh();
    // Runs a search that is still waiting for its debounce now, so a key that acts on the list
    // acts on what the typed text finds, not on the list from before it.
    void settlePendingSearch();
    void refresh(bool keepSelection);
    void moveSelection(int step);
    void togglePreview();

Q_SIGNALS:
    void queryChanged();
    void filterChanged();
    void selectionChanged();
    void previewChanged();
    void focusTickChanged();
    void scrollTargetChanged();

private:
    void storeChanged();
    void setClips(QList<Clip> clips);
    void setScrollTarget(const std::optional<QString> &id);
    // The screen-reader text of a row: "<app>: <title or excerpt>".
    static QString accessibleText(const Clip &clip);

    Store &m_store;
    QTimer *m_refreshTimer;
    std::function<void()> m_requestHide;
    bool m_onScreen = false;
    bool m_stale = true;

    QString m_query;
    ClipFilter m_filter = ClipFilter::All;
    QList<Clip> m_clips;
    int m_selection = 0;
    std::optional<Clip> m_preview;
    int m_focusTick = 0;
    std::optional<QString> m_scrollTarget;
};
