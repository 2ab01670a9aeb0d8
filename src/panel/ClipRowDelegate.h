#pragma once

#include "core/Clip.h"

#include <QCache>
#include <QFont>
#include <QHash>
#include <QPair>
#include <QPixmap>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>

class AppIconCache;
class PanelModel;
class Prefs;
class Store;

// Paints one picker row: application icon, thumbnail or colour swatch, title and excerpt,
// then the pin star, the quick-paste number and the age. Row heights follow the font size and
// density preferences; the highlight follows the model's selection and the pointer.
class ClipRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // Space between rows, part of each row's height so the list needs no spacing of its own.
    static constexpr int rowGap = 1;

    ClipRowDelegate(PanelModel &model, Prefs &prefs, Store &store, AppIconCache &icons,
                    QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Rows are painted with the current preferences; call after fontSize or density change.
    void updateMetrics();
    bool compact() const { return m_compact; }

    // The row's layout, exposed for tests of sizes and positions.
    struct Geometry
    {
        QRectF highlight;
        QRectF icon;
        QRectF kindElement; // empty when the kind shows none
        QRectF text;
        QRectF age;
        int excerptLines = 1;
    };
    Geometry geometry(const Clip &clip, int index, const QRect &rowRect) const;

private:
    qreal ageWidth() const;
    int textHeight(const Clip &clip, int excerptLines) const;
    int excerptLines(const Clip &clip, qreal width) const;
    // The excerpt's width from cached character advances; absent for scripts whose shaping
    // changes widths (anything beyond Latin, Greek and Cyrillic).
    std::optional<qreal> estimatedWidth(const QString &text, bool code) const;
    QFont excerptFont(const Clip &clip) const;
    QPixmap thumbnail(const QString &id) const;
    QSizeF thumbnailBox(const QString &id) const;

    PanelModel &m_model;
    Prefs &m_prefs;
    Store &m_store;
    AppIconCache &m_icons;

    bool m_compact = false;
    QFont m_titleFont;
    QFont m_textFont;
    QFont m_codeFont;
    QFont m_numberFont;
    QFont m_ageFont;
    mutable qreal m_ageWidth = 0;
    QPixmap m_star;
    qreal m_numberWidth = 0; // "Ctrl+N" in the monospaced number font
    // Whether an excerpt wraps, by clip and width: shaping a long excerpt costs tens of
    // microseconds and the list asks for every row's height on each refresh.
    mutable QHash<QString, QPair<int, int>> m_lineCache; // id → (text width, lines)
    // Advances of single characters in the text and code fonts, for the quick width estimate.
    mutable QHash<char16_t, qreal> m_textAdvances;
    mutable QHash<char16_t, qreal> m_codeAdvances;
    // Decoded thumbnails, small enough to keep a few hundred; a missing one is cached as null.
    mutable QCache<QString, QPixmap> m_thumbnails;
};
