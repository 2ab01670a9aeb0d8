#pragma once

// What tests store: text items, a clip to add, and pictures as PNG bytes (a plain fill, noise
// that no encoder shrinks, or words large enough for the recogniser).

#include "core/Util.h"
#include "store/Store.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

inline ItemList textItems(const QString &text)
{
    return {{{Uti::plainText, text.toUtf8()}}};
}

// A clip as capture would hand it over; the excerpt comes from its plain text.
inline NewClip newClip(const ItemList &items, double created, ClipKind kind = ClipKind::Text,
                       NewClip::IfStored ifStored = NewClip::IfStored::MoveUp)
{
    const FlavorList flat = Flavors::flatten(items);
    const Flavor *plain = Flavors::first(flat, Uti::plainText);
    NewClip clip;
    clip.items = items;
    clip.kind = kind;
    clip.excerpt = plain ? Util::excerpt(QString::fromUtf8(plain->data), 240) : QStringLiteral("x");
    clip.created = created;
    clip.ifStored = ifStored;
    return clip;
}

inline QByteArray encoded(const QImage &image, const char *format = "PNG")
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QImage filledImage(int width, int height, QColor color = Qt::darkCyan)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

inline QByteArray filledPng(int width, int height, QColor color = Qt::darkCyan)
{
    return encoded(filledImage(width, height, color));
}

inline QByteArray noisePng(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return encoded(image);
}

// Black lines of text on a plain background with generous margins, so recognition is exact.
inline QImage textImage(const QStringList &lines, QImage::Format format = QImage::Format_RGB32,
                        QColor background = Qt::white, int pixelSize = 40)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    const int margin = 60;
    const int lineHeight = metrics.height() * 3 / 2;
    int width = 0;
    for (const QString &line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    QImage image(width + 2 * margin, int(lines.size()) * lineHeight + 2 * margin, format);
    image.fill(background);
    QPainter painter(&image);
    painter.setFont(font);
    for (int i = 0; i < lines.size(); ++i)
        painter.drawText(margin, margin + i * lineHeight + metrics.ascent(), lines[i]);
    return image;
}
