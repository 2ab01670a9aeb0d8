#include "panel/AppIconCache.h"

#include "panel/Theme.h"

#include <QFileInfo>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>

AppIconCache::AppIconCache(IconNameLookup lookup) : m_lookup(std::move(lookup))
{
    m_generic = render(QStringLiteral("application-x-executable"));
    if (m_generic.isNull())
        m_generic = drawnGeneric();
}

QPixmap AppIconCache::icon(const QString &appId)
{
    if (appId.isEmpty())
        return m_generic;
    const auto cached = m_cache.constFind(appId);
    if (cached != m_cache.constEnd())
        return *cached;
    ++m_lookups;
    QPixmap pixmap = render(m_lookup ? m_lookup(appId) : QString());
    if (pixmap.isNull())
        pixmap = m_generic;
    m_cache.insert(appId, pixmap);
    return pixmap;
}

QPixmap AppIconCache::render(const QString &iconName)
{
    if (iconName.isEmpty())
        return {};
    QIcon icon;
    if (QFileInfo(iconName).isAbsolute()) {
        if (QFileInfo::exists(iconName))
            icon = QIcon(iconName);
    } else {
        icon = QIcon::fromTheme(iconName);
    }
    if (icon.isNull())
        return {};
    // Rendered at twice the size so a 2x screen stays sharp; painted scaled to 20.
    QPixmap pixmap = icon.pixmap(iconSize * 2, iconSize * 2);
    if (pixmap.isNull())
        return {};
    return pixmap.scaled(iconSize * 2, iconSize * 2, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QPixmap AppIconCache::drawnGeneric()
{
    // A window frame with a title bar: reads as "some application" at 20 pixels.
    QPixmap pixmap(iconSize * 2, iconSize * 2);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(4, 7, 32, 26);
    QPainterPath path;
    path.addRoundedRect(frame, 5, 5);
    p.fillPath(path, Brisel::elev());
    p.setPen(QPen(Brisel::dim(), 2));
    p.drawPath(path);
    p.fillRect(QRectF(5, 8, 30, 6), Brisel::dim());
    return pixmap;
}
