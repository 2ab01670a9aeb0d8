#include "panel/ClipRowDelegate.h"

#include "panel/AppIconCache.h"
#include "panel/PanelKeys.h"
#include "panel/PanelModel.h"
#include "panel/RelativeTime.h"
#include "panel/Symbols.h"
#include "panel/Theme.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {
constexpr int padX = 12;
constexpr int spacing = 10;
constexpr int iconSide = 20;
constexpr int swatchSide = 18;
constexpr int thumbMaxWidth = 72;
constexpr int minAgeWidth = 44;
constexpr int starSide = 10;
constexpr int textSpacing = 2;

int padY(bool compact)
{
    return compact ? 4 : 7;
}
int minRowHeight(bool compact)
{
    return compact ? 30 : 44;
}
int thumbMaxHeight(bool compact)
{
    return compact ? 22 : 36;
}
} // namespace

ClipRowDelegate::ClipRowDelegate(PanelModel &model, Prefs &prefs, Store &store, AppIconCache &icons,
                                 QObject *parent)
    : QStyledItemDelegate(parent), m_model(model), m_prefs(prefs), m_store(store), m_icons(icons),
      m_thumbnails(400)
{
    m_star = Symbols::pixmap(Symbol::Star, starSide, Brisel::gold());
    updateMetrics();
}

void ClipRowDelegate::updateMetrics()
{
    const int size = qBound(8, m_prefs.fontSize(), 64);
    m_compact = m_prefs.density() == 0;
    m_titleFont = Fonts::ui(size, QFont::DemiBold);
    m_textFont = Fonts::ui(size);
    m_codeFont = Fonts::mono(size);
    m_numberFont = Fonts::mono(10);
    m_ageFont = Fonts::mono(10.5);
    m_numberWidth = QFontMetricsF(m_numberFont).horizontalAdvance(PanelKeys::quickPasteLabel(0));
    m_ageWidth = 0; // measured when first needed
    m_lineCache.clear();
    m_textAdvances.clear();
    m_codeAdvances.clear();
}

qreal ClipRowDelegate::ageWidth() const
{
    // Wide enough for the longest age the locale writes, so "11 mo. ago" never loses its
    // number to the clip. Measured at the first row rather than at start: the locale's date
    // data is megabytes the app does not need until the picker is shown.
    if (m_ageWidth <= 0) {
        m_ageWidth = minAgeWidth;
        const QFontMetricsF metrics(m_ageFont);
        for (const QString &label : RelativeTime::longestLabels())
            m_ageWidth = std::max(m_ageWidth, std::ceil(metrics.horizontalAdvance(label)));
    }
    return m_ageWidth;
}

QFont ClipRowDelegate::excerptFont(const Clip &clip) const
{
    return clip.kind == ClipKind::Code ? m_codeFont : m_textFont;
}

QPixmap ClipRowDelegate::thumbnail(const QString &id) const
{
    if (QPixmap *cached = m_thumbnails.object(id))
        return *cached;
    QPixmap pixmap;
    if (const std::optional<QImage> image = m_store.thumbnail(id))
        pixmap = QPixmap::fromImage(*image);
    m_thumbnails.insert(id, new QPixmap(pixmap));
    return pixmap;
}

QSizeF ClipRowDelegate::thumbnailBox(const QString &id) const
{
    const QPixmap pixmap = thumbnail(id);
    if (pixmap.isNull() || pixmap.width() <= 0 || pixmap.height() <= 0)
        return {};
    const QSizeF size =
        QSizeF(pixmap.size())
            .scaled(QSizeF(thumbMaxWidth, thumbMaxHeight(m_compact)), Qt::KeepAspectRatio);
    return size;
}

std::optional<qreal> ClipRowDelegate::estimatedWidth(const QString &text, bool code) const
{
    QHash<char16_t, qreal> &advances = code ? m_codeAdvances : m_textAdvances;
    const QFontMetricsF metrics(code ? m_codeFont : m_textFont);
    qreal width = 0;
    for (const QChar c : text) {
        if (c.unicode() >= 0x0590 || c.category() == QChar::Mark_NonSpacing)
            return std::nullopt;
        auto found = advances.constFind(c.unicode());
        if (found == advances.constEnd())
            found = advances.insert(c.unicode(), metrics.horizontalAdvance(c));
        width += *found;
    }
    return width;
}

int ClipRowDelegate::excerptLines(const Clip &clip, qreal width) const
{
    if (m_compact)
        return 1;
    const int key = int(width);
    const auto cached = m_lineCache.constFind(clip.id);
    if (cached != m_lineCache.constEnd() && cached->first == key)
        return cached->second;
    const QString excerpt = clip.excerpt.isEmpty() ? QStringLiteral("…") : clip.excerpt;
    const bool code = clip.kind == ClipKind::Code;
    // Summed character advances are within a few pixels of the shaped width (kerning); only
    // texts that end near the edge are shaped for the exact answer.
    const std::optional<qreal> estimate = estimatedWidth(excerpt, code);
    int lines = 0;
    if (estimate && *estimate < width * 0.95)
        lines = 1;
    else if (estimate && *estimate > width * 1.05)
        lines = 2;
    else
        lines = QFontMetricsF(excerptFont(clip)).horizontalAdvance(excerpt) > width ? 2 : 1;
    if (!clip.id.isEmpty()) {
        if (m_lineCache.size() > 4000)
            m_lineCache.clear();
        m_lineCache.insert(clip.id, {key, lines});
    }
    return lines;
}

int ClipRowDelegate::textHeight(const Clip &clip, int lines) const
{
    int height = 0;
    if (!clip.title.isEmpty())
        height += QFontMetrics(m_titleFont).height() + textSpacing;
    height += QFontMetrics(excerptFont(clip)).lineSpacing() * lines;
    return height;
}

ClipRowDelegate::Geometry ClipRowDelegate::geometry(const Clip &clip, int index,
                                                    const QRect &rowRect) const
{
    Geometry g;
    const QRectF row = QRectF(rowRect).adjusted(0, 0, 0, -rowGap);
    g.highlight = row.adjusted(padX - 6, 0, -(padX - 6), 0);
    const QRectF content = row.adjusted(padX, 0, -padX, 0);
    const qreal midY = content.center().y();

    qreal x = content.left();
    g.icon = QRectF(x, midY - iconSide / 2.0, iconSide, iconSide);
    x += iconSide + spacing;
    if (clip.kind == ClipKind::Image) {
        const QSizeF box = thumbnailBox(clip.id);
        if (!box.isEmpty()) {
            g.kindElement = QRectF(x, midY - box.height() / 2, box.width(), box.height());
            x += box.width() + spacing;
        }
    } else if (clip.kind == ClipKind::Color) {
        g.kindElement = QRectF(x, midY - swatchSide / 2.0, swatchSide, swatchSide);
        x += swatchSide + spacing;
    }

    qreal right = content.right();
    const qreal ageWidth = this->ageWidth();
    g.age = QRectF(right - ageWidth, content.top(), ageWidth, content.height());
    right -= ageWidth + spacing;
    if (index >= 0 && index < 9)
        right -= m_numberWidth + spacing;
    if (clip.pinned)
        right -= starSide + spacing;

    const qreal width = qMax<qreal>(0, right - x);
    g.excerptLines = excerptLines(clip, width);
    const qreal height = textHeight(clip, g.excerptLines);
    g.text = QRectF(x, midY - height / 2, width, height);
    return g;
}

QSize ClipRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.model() != &m_model)
        return {};
    const Clip &clip = m_model.clipAt(index.row());
    // Wrapping depends on the width the list gives its rows, which is the viewport's.
    int rowWidth = 600;
    if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
        rowWidth = view->viewport()->width();
    else if (option.rect.width() > 0)
        rowWidth = option.rect.width();
    const Geometry g = geometry(clip, index.row(), QRect(0, 0, rowWidth, 100));
    int content = qMax(iconSide, textHeight(clip, g.excerptLines));
    content = qMax(content, int(std::ceil(g.kindElement.height())));
    const int height = qMax(minRowHeight(m_compact), content + 2 * padY(m_compact));
    return QSize(rowWidth, height + rowGap);
}

void ClipRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    if (index.model() != &m_model)
        return;
    const Clip &clip = m_model.clipAt(index.row());
    const bool selected = index.row() == m_model.selection();
    const bool hovering = option.state & QStyle::State_MouseOver;
    const Geometry g = geometry(clip, index.row(), option.rect);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (selected || hovering) {
        QPainterPath highlight;
        highlight.addRoundedRect(g.highlight, 6, 6);
        painter->fillPath(highlight, Brisel::elev());
        if (selected) {
            QPainterPath outline;
            outline.addRoundedRect(g.highlight.adjusted(0.5, 0.5, -0.5, -0.5), 5.5, 5.5);
            painter->setPen(QPen(Brisel::blue(), 1));
            painter->drawPath(outline);
        }
    }

    painter->drawPixmap(g.icon, m_icons.icon(clip.appId), QRectF());

    if (!g.kindElement.isEmpty()) {
        QPainterPath shape;
        shape.addRoundedRect(g.kindElement, 4, 4);
        if (clip.kind == ClipKind::Image) {
            painter->save();
            painter->setClipPath(shape);
            painter->drawPixmap(g.kindElement, thumbnail(clip.id), QRectF());
            painter->restore();
        } else {
            const std::optional<QColor> color = colorFromHexString(clip.excerpt);
            painter->fillPath(shape, color.value_or(QColor(0x8E, 0x8E, 0x93)));
            QPainterPath outline;
            outline.addRoundedRect(g.kindElement.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
            painter->setPen(QPen(Brisel::border(), 1));
            painter->drawPath(outline);
        }
    }

    // Text column.
    qreal y = g.text.top();
    if (!clip.title.isEmpty()) {
        painter->setFont(m_titleFont);
        painter->setPen(Brisel::text());
        const QFontMetricsF metrics(m_titleFont);
        const QString title = metrics.elidedText(clip.title, Qt::ElideRight, g.text.width());
        painter->drawText(QRectF(g.text.left(), y, g.text.width(), metrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, title);
        y += metrics.height() + textSpacing;
    }
    const QFont font = excerptFont(clip);
    const QFontMetricsF metrics(font);
    painter->setFont(font);
    painter->setPen(clip.title.isEmpty() ? Brisel::text() : Brisel::dim());
    const QString excerpt = clip.excerpt.isEmpty() ? QStringLiteral("…") : clip.excerpt;
    if (g.excerptLines == 1) {
        painter->drawText(QRectF(g.text.left(), y, g.text.width(), metrics.lineSpacing()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(excerpt, Qt::ElideRight, g.text.width()));
    } else {
        // Two wrapped lines, the second elided.
        QTextLayout layout(excerpt, font);
        QTextOption textOption;
        textOption.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(textOption);
        layout.beginLayout();
        QTextLine first = layout.createLine();
        int firstLength = 0;
        if (first.isValid()) {
            first.setLineWidth(g.text.width());
            firstLength = first.textLength();
        }
        layout.endLayout();
        painter->drawText(QRectF(g.text.left(), y, g.text.width(), metrics.lineSpacing()),
                          Qt::AlignLeft | Qt::AlignVCenter, excerpt.left(firstLength).trimmed());
        y += metrics.lineSpacing();
        const QString rest = excerpt.mid(firstLength).trimmed();
        painter->drawText(QRectF(g.text.left(), y, g.text.width(), metrics.lineSpacing()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(rest, Qt::ElideRight, g.text.width()));
    }

    // Trailing marks, right to left.
    qreal right = g.age.left();
    painter->setFont(m_ageFont);
    painter->setPen(Brisel::faint());
    painter->drawText(g.age, Qt::AlignRight | Qt::AlignVCenter,
                      RelativeTime::relTime(clip.created));
    right -= spacing;
    const QString number = PanelKeys::quickPasteLabel(index.row());
    if (!number.isEmpty()) {
        const QFontMetricsF numberMetrics(m_numberFont);
        const qreal width = numberMetrics.horizontalAdvance(number);
        painter->setFont(m_numberFont);
        painter->setPen(Brisel::ghost());
        painter->drawText(QRectF(right - width, g.age.top(), width, g.age.height()),
                          Qt::AlignRight | Qt::AlignVCenter, number);
        right -= width + spacing;
    }
    if (clip.pinned) {
        const QRectF star(right - starSide, g.age.center().y() - starSide / 2.0, starSide,
                          starSide);
        painter->drawPixmap(star, m_star, QRectF());
    }
    painter->restore();
}
