#include "panel/ClipListModel.h"

#include "panel/PanelModel.h"

ClipListModel::ClipListModel(PanelModel &model, QObject *parent)
    : QAbstractListModel(parent), m_model(model)
{
    connect(&m_model, &PanelModel::clipsChanged, this, &ClipListModel::reload);
    m_clips = m_model.clips();
}

void ClipListModel::reload()
{
    // A reset is cheaper than diffing at 400 rows, and the view keeps no per-row state.
    beginResetModel();
    m_clips = m_model.clips();
    endResetModel();
}

int ClipListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_clips.size());
}

QVariant ClipListModel::data(const QModelIndex &index, int role) const
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

const Clip &ClipListModel::clipAt(int row) const
{
    static const Clip none;
    return row >= 0 && row < m_clips.size() ? m_clips.at(row) : none;
}

int ClipListModel::rowOf(const QString &id) const
{
    for (qsizetype i = 0; i < m_clips.size(); ++i) {
        if (m_clips.at(i).id == id)
            return int(i);
    }
    return -1;
}

QString ClipListModel::accessibleText(const Clip &clip)
{
    return clip.appName + QStringLiteral(": ") + (clip.title.isEmpty() ? clip.excerpt : clip.title);
}
