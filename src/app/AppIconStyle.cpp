#include "app/AppIconStyle.h"

namespace AppIconStyles {

QString rawValue(AppIconStyle style)
{
    switch (style) {
    case AppIconStyle::Petroglyph:
        return QStringLiteral("petroglyph");
    case AppIconStyle::KnyazSeal:
        return QStringLiteral("knyaz-seal");
    case AppIconStyle::TrypilliaCeramic:
        return QStringLiteral("trypillia-ceramic");
    case AppIconStyle::ScythianGold:
        return QStringLiteral("scythian-gold");
    case AppIconStyle::TrypilliaDarkEmber:
        return QStringLiteral("trypillia-dark-ember");
    case AppIconStyle::TrypilliaDarkTurquoise:
        return QStringLiteral("trypillia-dark-turquoise");
    case AppIconStyle::TrypilliaDarkAzureGold:
        return QStringLiteral("trypillia-dark-azure-gold");
    }
    return QString();
}

std::optional<AppIconStyle> fromRawValue(const QString &raw)
{
    for (AppIconStyle style : allCases()) {
        if (rawValue(style) == raw)
            return style;
    }
    return std::nullopt;
}

QList<AppIconStyle> allCases()
{
    return {AppIconStyle::Petroglyph,
            AppIconStyle::KnyazSeal,
            AppIconStyle::TrypilliaCeramic,
            AppIconStyle::ScythianGold,
            AppIconStyle::TrypilliaDarkEmber,
            AppIconStyle::TrypilliaDarkTurquoise,
            AppIconStyle::TrypilliaDarkAzureGold};
}

} // namespace AppIconStyles
