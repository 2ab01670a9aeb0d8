#pragma once

#include <optional>
#include <QByteArray>
#include <QImage>

namespace ImageUtil {

// PNG encoding of the image; absent when the image is null or encoding fails.
std::optional<QByteArray> pngData(const QImage &image);

// The image scaled so its longer side is at most maxSide (never enlarged; each side at least
// 1 px), alpha kept, as PNG. Absent when the image is empty.
std::optional<QByteArray> thumbnailPNG(const QImage &image, int maxSide);

// Decode bytes as an image (PNG, JPEG, TIFF, ...): null when they do not decode.
QImage decode(const QByteArray &bytes);

} // namespace ImageUtil
