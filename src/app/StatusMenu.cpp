#include "app/StatusMenu.h"

#include "app/AppActions.h"

#include "panel/Theme.h"
#include "prefs/HotKeys.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>

namespace StatusMenu {

QString showTitle(const QString &activeHotkeyLabel)
{
    if (activeHotkeyLabel.isEmpty() || activeHotkeyLabel == QLatin1String("Off"))
        return QStringLiteral("Show Clipboard");
    return QStringLiteral("Show Clipboard (%1)").arg(HotKeys::displayLabel(activeHotkeyLabel));
}

QString toolTip(const QString &activeHotkeyLabel, int queued)
{
    const bool bound = !activeHotkeyLabel.isEmpty() && activeHotkeyLabel != QLatin1String("Off");
    QString tip = QStringLiteral("Clipboard Manager — click for menu");
    if (bound)
        tip += QStringLiteral(" (%1 to open)").arg(HotKeys::displayLabel(activeHotkeyLabel));
    if (queued > 0)
        tip += QStringLiteral("\nSerial paste: %1 queued").arg(queued);
    return tip;
}

void fill(QMenu &menu, const AppActions &actions, const QString &version, int clipCount)
{
    menu.clear();
    const auto add = [&menu](QAction *action) {
        if (action->isVisible())
            menu.addAction(action);
    };
    menu.addAction(QStringLiteral("Clipboard Manager"))->setEnabled(false);
    menu.addAction(QStringLiteral("v%1  ·  %2 clips").arg(version).arg(clipCount))
        ->setEnabled(false);
    menu.addSeparator();
    add(actions.showClipboard());
    menu.addSeparator();
    add(actions.pauseClipping());
    add(actions.plainTextMode());
    add(actions.stripFormatting());
    menu.addSeparator();
    add(actions.serialRecording());
    add(actions.serialPasteNext());
    add(actions.serialClear());
    menu.addSeparator();
    if (actions.enableAutoPaste()->isVisible()) {
        add(actions.enableAutoPaste());
        menu.addSeparator();
    }
    add(actions.launchAtLogin());
    add(actions.importCopyLess());
    add(actions.openSettings());
    add(actions.showAbout());
    menu.addSeparator();
    add(actions.quit());
}

QImage statusImage(bool paused, int queued, int side, qreal devicePixelRatio)
{
    const int pixels = qRound(side * devicePixelRatio);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn on an 18-unit grid with y growing upwards, like the original template artwork.
    const qreal unit = side / 18.0;
    p.scale(unit, unit);
    p.translate(0, 18);
    p.scale(1, -1);
    const QColor ink = Brisel::text();

    QPainterPath board;
    board.setFillRule(Qt::OddEvenFill);
    board.addRoundedRect(QRectF(3.0, 1.5, 12.0, 13.2), 2.4, 2.4);
    board.addRect(QRectF(5.6, 9.2, 6.8, 1.5));
    board.addRect(QRectF(5.6, 6.2, 4.8, 1.5));
    p.fillPath(board, ink);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(6.2, 13.2, 5.6, 3.0), 1.2, 1.2);
    p.fillPath(clip, ink);
    if (paused) {
        // A gap either side of the slash, so it reads across the board as well (a same-colour
        // line would vanish there).
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, 3.4, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(2, 16), QPointF(16, 2));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(2, 16), QPointF(16, 2));
    }
    p.resetTransform();
    if (queued > 0) {
        // The queue's length in a badge at the lower right, in the accent colour.
        const QString text = queued > 99 ? QStringLiteral("99+") : QString::number(queued);
        QFont font = p.font();
        font.setPixelSize(qMax(6, int(side * 0.5)));
        font.setBold(true);
        p.setFont(font);
        const qreal width =
            qMax<qreal>(side * 0.55, QFontMetricsF(font).horizontalAdvance(text) + 3);
        const QRectF badge(side - width, side * 0.45, width, side * 0.55);
        p.setPen(Qt::NoPen);
        p.setBrush(Brisel::blue());
        p.drawRoundedRect(badge, badge.height() / 2, badge.height() / 2);
        p.setPen(Qt::white);
        p.drawText(badge, Qt::AlignCenter, text);
    }
    return image;
}

} // namespace StatusMenu
