#pragma once

#include "core/Clip.h"

#include <QAbstractListModel>
#include <QList>

class PanelModel;

// The picker's rows as a Qt item model, following PanelModel's list. Rows are painted by
// ClipRowDelegate; this model only says how many there are and which clip each one is.
class ClipListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ClipListModel(PanelModel &model, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The clip of a row; an empty clip for rows out of range.
    const Clip &clipAt(int row) const;
    int rowOf(const QString &id) const;

    // The text screen readers announce for a row: "<app>: <title or excerpt>".
    static QString accessibleText(const Clip &clip);

private:
    void reload();

    PanelModel &m_model;
    QList<Clip> m_clips;
};
