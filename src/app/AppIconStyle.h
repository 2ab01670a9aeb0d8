#pragma once

#include <optional>
#include <QList>
#include <QString>

// The application icon styles; the raw value names the style on the command line, in the
// settings and in the icon file name (resources/icons/ulvane-<raw value>.svg).
enum class AppIconStyle {
    Petroglyph,
    KnyazSeal,
    TrypilliaCeramic,
    ScythianGold,
    TrypilliaDarkEmber,
    TrypilliaDarkTurquoise,
    TrypilliaDarkAzureGold,
};

namespace AppIconStyles {
QString rawValue(AppIconStyle style);
// Exact, case-sensitive match.
std::optional<AppIconStyle> fromRawValue(const QString &raw);
QList<AppIconStyle> allCases();
} // namespace AppIconStyles
