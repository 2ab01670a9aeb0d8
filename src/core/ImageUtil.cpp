#include "core/ImageUtil.h"

#include <QBuffer>
#include <QImageWriter>

#include <algorithm>
#include <cmath>

namespace ImageUtil {

std::optional<QByteArray> pngData(const QImage &image)
{
    if (image.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image) || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

namespace {

QSize thumbnailSize(QSize source, int maxSide)
{
    const int w = source.width();
    const int h = source.height();
    const double scale = double(maxSide) / double(std::max(w, h));
    if (scale >= 1.0)
        return {std::max(w, 1), std::max(h, 1)};
    const auto side = [scale](int length) {
        return std::max(int(std::lround(double(length) * scale)), 1);
    };
    return {side(w), side(h)};
}

} // namespace

std::optional<QByteArray> thumbnailPNG(const QImage &image, int maxSide)
{
    if (image.width() <= 0 || image.height() <= 0)
        return std::nullopt;
    const QSize target = thumbnailSize(image.size(), maxSide);
    if (target == image.size())
        return pngData(image);
    // Area-averaging scale straight into the target: every target pixel comes from the source
    // alone, so transparency survives as it is, and a full-screen image takes milliseconds.
    const QImage scaled = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return pngData(scaled);
}

QImage decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QImage();
    return QImage::fromData(bytes);
}

} // namespace ImageUtil
