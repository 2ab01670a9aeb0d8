#include "app/AppIconPicker.h"

#include "app/AppIconManager.h"
#include "panel/Theme.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QTextLayout>

namespace {

constexpr int boxSide = AppIconPicker::iconSide + 2 * AppIconPicker::iconPadding;
constexpr int boxRadius = 12;
constexpr int nameGap = 6;
constexpr int nameLines = 2;

QFont nameFont()
{
    return Fonts::ui(10.5);
}

// A rounded app-shaped outline with a question mark: the tile of a style whose artwork is
// missing.
void paintMissing(QPainter &painter, const QRectF &box)
{
    const QColor color = Brisel::dim();
    const qreal side = box.width() * 0.72;
    const QRectF frame(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    painter.setPen(QPen(color, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), side * 0.22, side * 0.22);
    QFont font = Fonts::ui(side * 0.52, QFont::Bold);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(frame, Qt::AlignCenter, QStringLiteral("?"));
}

} // namespace

AppIconPicker::AppIconPicker(AppIconManager &icons, QWidget *parent)
    : QWidget(parent), m_icons(icons), m_styles(AppIconStyles::allCases()),
      m_selected(icons.storedStyle())
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    m_focusIndex = int(m_styles.indexOf(m_selected));
}

QString AppIconPicker::displayName(AppIconStyle style)
{
    switch (style) {
    case AppIconStyle::Petroglyph:
        return QStringLiteral("Petroglyph");
    case AppIconStyle::KnyazSeal:
        return QStringLiteral("Knyaz Seal");
    case AppIconStyle::TrypilliaCeramic:
        return QStringLiteral("Trypillia Ceramic");
    case AppIconStyle::ScythianGold:
        return QStringLiteral("Scythian Gold");
    case AppIconStyle::TrypilliaDarkEmber:
        return QStringLiteral("Trypillia Night \u00B7 Ember");
    case AppIconStyle::TrypilliaDarkTurquoise:
        return QStringLiteral("Trypillia Night \u00B7 Turquoise");
    case AppIconStyle::TrypilliaDarkAzureGold:
        return QStringLiteral("Trypillia Night \u00B7 Azure Gold");
    }
    return QString();
}

void AppIconPicker::reloadSelection()
{
    m_selected = m_icons.storedStyle();
    // The files may have been added or replaced while the settings were closed.
    m_artwork.clear();
    update();
}

int AppIconPicker::columnsFor(int width)
{
    return qMax(1, (width + spacing) / (minColumnWidth + spacing));
}

int AppIconPicker::tileHeight() const
{
    return boxSide + nameGap + QFontMetrics(nameFont()).lineSpacing() * nameLines;
}

int AppIconPicker::heightForWidth(int width) const
{
    const int columns = columnsFor(width);
    const int rows = int((m_styles.size() + columns - 1) / columns);
    return rows * tileHeight() + (rows - 1) * spacing;
}

QSize AppIconPicker::sizeHint() const
{
    const int width = 4 * minColumnWidth + 3 * spacing;
    return QSize(width, heightForWidth(width));
}

QSize AppIconPicker::minimumSizeHint() const
{
    return QSize(minColumnWidth, heightForWidth(minColumnWidth));
}

void AppIconPicker::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Fewer columns need more rows: ask the layout for the height this width needs.
    const int needed = heightForWidth(width());
    if (minimumHeight() != needed)
        setFixedHeight(needed);
}

QRect AppIconPicker::tileRect(int index) const
{
    if (index < 0 || index >= m_styles.size())
        return QRect();
    const int columns = columnCount();
    const int columnWidth = (width() - (columns - 1) * spacing) / columns;
    const int row = index / columns;
    const int column = index % columns;
    return QRect(column * (columnWidth + spacing), row * (tileHeight() + spacing), columnWidth,
                 tileHeight());
}

int AppIconPicker::tileAt(const QPoint &position) const
{
    for (int i = 0; i < m_styles.size(); ++i) {
        if (tileRect(i).contains(position))
            return i;
    }
    return -1;
}

void AppIconPicker::choose(int index)
{
    if (index < 0 || index >= m_styles.size())
        return;
    m_selected = m_styles.at(index);
    m_focusIndex = index;
    update();
    m_icons.apply(m_selected);
    Q_EMIT styleApplied(m_selected);
}

void AppIconPicker::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = tileAt(event->position().toPoint());
    QWidget::mousePressEvent(event);
}

void AppIconPicker::mouseReleaseEvent(QMouseEvent *event)
{
    const int released =
        event->button() == Qt::LeftButton ? tileAt(event->position().toPoint()) : -1;
    // A press that slides off its tile is a change of mind.
    if (released >= 0 && released == m_pressed)
        choose(released);
    m_pressed = -1;
    QWidget::mouseReleaseEvent(event);
}

void AppIconPicker::keyPressEvent(QKeyEvent *event)
{
    const int count = int(m_styles.size());
    const int columns = columnCount();
    int next = m_focusIndex;
    switch (event->key()) {
    case Qt::Key_Left:
        next = m_focusIndex - 1;
        break;
    case Qt::Key_Right:
        next = m_focusIndex + 1;
        break;
    case Qt::Key_Up:
        next = m_focusIndex - columns;
        break;
    case Qt::Key_Down:
        next = m_focusIndex + columns;
        break;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        choose(m_focusIndex);
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (next >= 0 && next < count) {
        m_focusIndex = next;
        update();
    }
}

QPixmap AppIconPicker::artwork(AppIconStyle style, qreal devicePixelRatio)
{
    if (m_artworkRatio != devicePixelRatio) {
        m_artwork.clear();
        m_artworkRatio = devicePixelRatio;
    }
    const int key = int(style);
    const auto cached = m_artwork.constFind(key);
    if (cached != m_artwork.constEnd())
        return *cached;

    QPixmap pixmap;
    const QString path = m_icons.artworkPath(style);
    if (!path.isEmpty() && m_icons.hasArtwork(style)) {
        QSvgRenderer renderer(path);
        renderer.setAspectRatioMode(Qt::KeepAspectRatio);
        const int side = qRound(iconSide * devicePixelRatio);
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
        painter.end();
        pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(devicePixelRatio);
    }
    m_artwork.insert(key, pixmap);
    return pixmap;
}

void AppIconPicker::paintTile(QPainter &painter, int index)
{
    const AppIconStyle style = m_styles.at(index);
    const bool selected = style == m_selected;
    const QRect tile = tileRect(index);
    const QRectF box(tile.center().x() - boxSide / 2.0, tile.top(), boxSide, boxSide);

    // The border lies inside the shape, so a selected tile does not grow.
    const qreal borderWidth = selected ? 2.0 : 1.0;
    QColor fill = Brisel::blue();
    fill.setAlphaF(0.16f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(selected ? fill : Brisel::surface());
    painter.drawRoundedRect(box, boxRadius, boxRadius);
    painter.setPen(QPen(selected ? Brisel::blue() : Brisel::border(), borderWidth));
    painter.setBrush(Qt::NoBrush);
    const qreal inset = borderWidth / 2;
    painter.drawRoundedRect(box.adjusted(inset, inset, -inset, -inset), boxRadius - inset,
                            boxRadius - inset);

    const QRectF iconBox = box.adjusted(iconPadding, iconPadding, -iconPadding, -iconPadding);
    const QPixmap image = artwork(style, devicePixelRatioF());
    if (image.isNull())
        paintMissing(painter, iconBox);
    else
        painter.drawPixmap(iconBox.topLeft(), image);

    if (hasFocus() && index == m_focusIndex) {
        QColor ring = Brisel::blue();
        ring.setAlphaF(0.55f);
        painter.setPen(QPen(ring, 1, Qt::DashLine));
        painter.drawRoundedRect(box.adjusted(-3, -3, 3, 3), boxRadius + 3, boxRadius + 3);
    }

    // The name wraps onto a second line and is elided after it.
    const QFont font = nameFont();
    const QFontMetrics metrics(font);
    const QRect nameBox(tile.left(), int(box.bottom()) + nameGap, tile.width(),
                        metrics.lineSpacing() * nameLines);
    const QString name = displayName(style);
    QTextLayout layout(name, font);
    layout.beginLayout();
    QStringList lines;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(tile.width());
        if (lines.size() == nameLines - 1) {
            // The last line takes the rest, elided when it does not fit.
            lines.append(metrics.elidedText(name.mid(line.textStart()).trimmed(), Qt::ElideRight,
                                            tile.width()));
            break;
        }
        lines.append(name.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    painter.setFont(font);
    painter.setPen(selected ? Brisel::text() : Brisel::dim());
    painter.drawText(nameBox, Qt::AlignHCenter | Qt::AlignTop, lines.join(u'\n'));
}

void AppIconPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int i = 0; i < m_styles.size(); ++i)
        paintTile(painter, i);
}
