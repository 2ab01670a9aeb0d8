#pragma once

#include "core/Clip.h"

#include <QList>
#include <QWidget>

// The filter tabs as one segmented control: a click selects a tab and says so.
class FilterTabs : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int current READ current WRITE setCurrent NOTIFY currentChanged)

public:
    explicit FilterTabs(QWidget *parent = nullptr);

    int current() const { return m_current; }
    void setCurrent(int current);
    int count() const { return int(m_filters.size()); }
    QString label(int tab) const;
    QRect tabRect(int tab) const;

    QSize sizeHint() const override;

Q_SIGNALS:
    // Only on clicks, so the model's own changes do not loop back into it.
    void activated(int filterValue);
    void currentChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QList<ClipFilter> m_filters;
    int m_current = 0;
};
