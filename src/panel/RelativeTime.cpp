#include "panel/RelativeTime.h"

#include "core/Util.h"

#include <cmath>
#include <memory>
#include <mutex>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

namespace RelativeTime {

namespace {

icu::RelativeDateTimeFormatter *relFormatter()
{
    static std::once_flag once;
    static std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;
    std::call_once(once, [] {
        UErrorCode status = U_ZERO_ERROR;
        auto made = std::make_unique<icu::RelativeDateTimeFormatter>(
            icu::Locale::getDefault(), nullptr, UDAT_STYLE_SHORT, UDISPCTX_CAPITALIZATION_NONE,
            status);
        if (U_SUCCESS(status))
            formatter = std::move(made);
    });
    return formatter.get();
}

} // namespace

QString relTime(double secondsSince1970)
{
    return relTime(secondsSince1970, Util::now());
}

QString relTime(double secondsSince1970, double nowSeconds)
{
    const double elapsed = nowSeconds - secondsSince1970;
    if (elapsed < 60)
        return QStringLiteral("now");

    // The largest unit that fits, counted in whole units.
    struct Unit
    {
        double seconds;
        URelativeDateTimeUnit unit;
    };
    static const Unit units[] = {
        {365.0 * 86400, UDAT_REL_UNIT_YEAR}, {30.0 * 86400, UDAT_REL_UNIT_MONTH},
        {7.0 * 86400, UDAT_REL_UNIT_WEEK},   {86400, UDAT_REL_UNIT_DAY},
        {3600, UDAT_REL_UNIT_HOUR},          {60, UDAT_REL_UNIT_MINUTE},
    };
    const Unit *chosen = &units[5];
    for (const Unit &u : units) {
        if (elapsed >= u.seconds) {
            chosen = &u;
            break;
        }
    }
    const double amount = std::floor(elapsed / chosen->seconds);

    icu::RelativeDateTimeFormatter *formatter = relFormatter();
    if (formatter) {
        icu::UnicodeString out;
        UErrorCode status = U_ZERO_ERROR;
        formatter->formatNumeric(-amount, chosen->unit, out, status);
        if (U_SUCCESS(status))
            return QString(reinterpret_cast<const QChar *>(out.getBuffer()), out.length());
    }
    static const char *const names[] = {"yr.", "mo.", "wk.", "day", "hr.", "min."};
    return QStringLiteral("%1 %2 ago").arg(amount).arg(QLatin1String(names[chosen - units]));
}

QStringList longestLabels()
{
    constexpr double minute = 60, hour = 3600, day = 86400;
    const double now = Util::now();
    QStringList labels;
    for (const double elapsed : {59 * minute + 30, 23 * hour + 30 * minute, 6 * day + hour,
                                 29 * day, 364 * day, 99 * 365.0 * day})
        labels.append(relTime(now - elapsed, now));
    return labels;
}

} // namespace RelativeTime
