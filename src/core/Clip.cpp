#include "core/Clip.h"

namespace ClipKinds {

QString rawValue(ClipKind kind)
{
    switch (kind) {
    case ClipKind::Text:
        return QStringLiteral("text");
    case ClipKind::Code:
        return QStringLiteral("code");
    case ClipKind::Color:
        return QStringLiteral("color");
    case ClipKind::Image:
        return QStringLiteral("image");
    case ClipKind::File:
        return QStringLiteral("file");
    case ClipKind::Link:
        return QStringLiteral("link");
    }
    return QStringLiteral("text");
}

std::optional<ClipKind> fromRawValue(const QString &raw)
{
    for (ClipKind kind : allCases()) {
        if (rawValue(kind) == raw)
            return kind;
    }
    return std::nullopt;
}

QList<ClipKind> allCases()
{
    return {ClipKind::Text,  ClipKind::Code, ClipKind::Color,
            ClipKind::Image, ClipKind::File, ClipKind::Link};
}

} // namespace ClipKinds

namespace ClipFilters {

QString rawValue(ClipFilter filter)
{
    switch (filter) {
    case ClipFilter::All:
        return QStringLiteral("All");
    case ClipFilter::Favorites:
        return QStringLiteral("\u2605");
    case ClipFilter::Text:
        return QStringLiteral("Text");
    case ClipFilter::Images:
        return QStringLiteral("Images");
    case ClipFilter::Files:
        return QStringLiteral("Files");
    case ClipFilter::Links:
        return QStringLiteral("Links");
    }
    return QStringLiteral("All");
}

std::optional<ClipFilter> fromRawValue(const QString &raw)
{
    for (ClipFilter filter : allCases()) {
        if (rawValue(filter) == raw)
            return filter;
    }
    return std::nullopt;
}

QList<ClipFilter> allCases()
{
    return {ClipFilter::All,    ClipFilter::Favorites, ClipFilter::Text,
            ClipFilter::Images, ClipFilter::Files,     ClipFilter::Links};
}

} // namespace ClipFilters
