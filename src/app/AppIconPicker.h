#pragma once

#include "app/AppIconStyle.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

class AppIconManager;

// The grid of icon-style tiles in the settings: one tile per style, in the styles' order,
// in as many columns of at least 92 pixels as the width allows. A click (or Space/Return on
// the focused tile) selects the style and applies it, even when it is already selected.
class AppIconPicker : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minColumnWidth = 92;
    static constexpr int spacing = 12;
    static constexpr int iconSide = 56;
    static constexpr int iconPadding = 8;

    explicit AppIconPicker(AppIconManager &icons, QWidget *parent = nullptr);

    // The name a tile shows, e.g. "Trypillia Night · Azure Gold".
    static QString displayName(AppIconStyle style);

    AppIconStyle selected() const { return m_selected; }
    // Selects the stored choice again, without applying it.
    void reloadSelection();

    int columnCount() const { return columnsFor(width()); }
    // Where tile `index` (in the styles' order) lies; empty for an index out of range.
    QRect tileRect(int index) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void styleApplied(AppIconStyle style);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static int columnsFor(int width);
    int tileHeight() const;
    int tileAt(const QPoint &position) const;
    void choose(int index);
    // The artwork fitted into the icon square; null when the style has none.
    QPixmap artwork(AppIconStyle style, qreal devicePixelRatio);
    void paintTile(QPainter &painter, int index);

    AppIconManager &m_icons;
    QList<AppIconStyle> m_styles;
    AppIconStyle m_selected;
    int m_pressed = -1;
    int m_focusIndex = 0;
    QHash<int, QPixmap> m_artwork; // by style index, for the current pixel ratio
    qreal m_artworkRatio = 0;
};
