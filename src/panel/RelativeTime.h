#pragma once

#include <QString>
#include <QStringList>

namespace RelativeTime {
// Short relative label for list rows: "now" under a minute (and for future times), else an
// abbreviated localized phrase such as "5 min. ago".
QString relTime(double secondsSince1970);
QString relTime(double secondsSince1970, double nowSecondsSince1970);
// For each unit, the label with the most digits it shows before the next unit takes over
// ("59 min. ago", "12 mo. ago", ...): what a column of ages has to fit.
QStringList longestLabels();
} // namespace RelativeTime
