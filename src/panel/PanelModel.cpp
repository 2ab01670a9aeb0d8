#include "panel/PanelModel.h"

#include "store/Store.h"

#include <QTimer>

#include <algorithm>

PanelModel::PanelModel(Store &store, QObject *parent)
    : QAbstractListModel(parent), m_store(store), m_refreshTimer(new QTimer(this))
{
    // A child timer dies with the model, so a pending refresh never outlives it.
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setTimerType(Qt::PreciseTimer);
    m_refreshTimer->setInterval(refreshDelayMs);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] { refresh(false); });
    connect(&m_store, &Store::changed, this, &PanelModel::storeChanged);
}

PanelModel::~PanelModel() = default;

int PanelModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_clips.size());
}

QVariant PanelModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_clips.size())
        return {};
    const Clip &clip = m_clips.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return clip.title.isEmpty() ? clip.excerpt : clip.title;
    case Qt::AccessibleTextRole:
        return accessibleText(clip);
    default:
        return {};
    }
}

QString PanelModel::accessibleText(const Clip &clip)
{
    return clip.appName + QStringLiteral(": ") + (clip.title.isEmpty() ? clip.excerpt : clip.title);
}

const Clip &PanelModel::clipAt(int row) const
{
    static const Clip none;
    return row >= 0 && row < m_clips.size() ? m_clips.at(row) : none;
}

std::optional<Clip> PanelModel::selectedClip() const
{
    if (m_selection < 0 || m_selection >= m_clips.size())
        return std::nullopt;
    return m_clips.at(m_selection);
}

int PanelModel::rowOf(const QString &id) const
{
    for (qsizetype i = 0; i < m_clips.size(); ++i) {
        if (m_clips.at(i).id == id)
            return int(i);
    }
    return -1;
}

void PanelModel::setQuery(const QString &query)
{
    m_query = query;
    Q_EMIT queryChanged();
    scheduleRefresh();
}

void PanelModel::setFilter(ClipFilter filter)
{
    m_filter = filter;
    Q_EMIT filterChanged();
    refresh(false);
}

void PanelModel::setFilterValue(int value)
{
    const QList<ClipFilter> filters = ClipFilters::allCases();
    for (const ClipFilter filter : filters) {
        if (static_cast<int>(filter) == value) {
            setFilter(filter);
            return;
        }
    }
}

void PanelModel::setSelection(int selection)
{
    m_selection = selection;
    Q_EMIT selectionChanged();
}

void PanelModel::setPreview(const std::optional<Clip> &preview)
{
    m_preview = preview;
    Q_EMIT previewChanged();
}

void PanelModel::setClips(QList<Clip> clips)
{
    // A reset is cheaper than diffing at 400 rows, and the view keeps no per-row state.
    beginResetModel();
    m_clips = std::move(clips);
    endResetModel();
}

void PanelModel::setScrollTarget(const std::optional<QString> &id)
{
    m_scrollTarget = id;
    Q_EMIT scrollTargetChanged();
}

void PanelModel::requestHide() const
{
    if (m_requestHide)
        m_requestHide();
}

void PanelModel::onShow()
{
    // Each reset is announced, but only the one refresh below reads the store: a debounced
    // refresh of the emptied search would query a second time and could move the selection
    // back to the top under the first arrow key.
    m_refreshTimer->stop();
    m_query.clear();
    Q_EMIT queryChanged();
    m_filter = ClipFilter::All;
    Q_EMIT filterChanged();
    setPreview(std::nullopt);
    setSelection(0);
    refresh(false);
    m_focusTick += 1;
    Q_EMIT focusTickChanged();
}

void PanelModel::setOnScreen(bool onScreen)
{
    m_onScreen = onScreen;
    if (!onScreen && m_refreshTimer->isActive()) {
        // The search it was for is cleared by the next showing anyway.
        m_refreshTimer->stop();
        m_stale = true;
    }
    if (onScreen && m_stale)
        refresh(true);
}

void PanelModel::storeChanged()
{
    if (m_onScreen)
        refresh(true);
    else
        m_stale = true;
}

void PanelModel::scheduleRefresh()
{
    // Restarting drops the pending run: only the last keystroke of a burst queries.
    m_refreshTimer->start();
}

void PanelModel::settlePendingSearch()
{
    if (!m_refreshTimer->isActive())
        return;
    m_refreshTimer->stop();
    refresh(false);
}

void PanelModel::refresh(bool keepSelection)
{
    std::optional<QString> remembered;
    if (keepSelection) {
        if (const std::optional<Clip> selected = selectedClip())
            remembered = selected->id;
    }

    m_stale = false;
    setClips(m_store.search(m_query, m_filter, searchLimit));

    const int found = remembered ? rowOf(*remembered) : -1;
    if (found >= 0)
        setSelection(found);
    else if (!keepSelection || m_clips.isEmpty())
        setSelection(0);
    else // the selected clip left the list: stay at the same height, within the new list
        setSelection(std::min(m_selection, int(m_clips.size()) - 1));

    // A clip still listed keeps the record the preview opened with, so the pane does not
    // redraw on every unrelated store change.
    if (m_preview && rowOf(m_preview->id) < 0)
        setPreview(std::nullopt);
}

void PanelModel::moveSelection(int step)
{
    if (m_clips.isEmpty())
        return;
    const qint64 target = qint64(m_selection) + step;
    setSelection(int(std::clamp<qint64>(target, 0, m_clips.size() - 1)));
    const Clip &selected = m_clips.at(m_selection);
    setScrollTarget(selected.id);
    if (m_preview)
        setPreview(selected);
}

void PanelModel::togglePreview()
{
    setPreview(m_preview ? std::nullopt : selectedClip());
}
