#pragma once

#include <QString>

namespace RelativeTime {
// Short relative label for list rows: "now" under a minute (and for future times), else an
// abbreviated localized phrase such as "5 min. ago".
QString relTime(double secondsSince1970);
QString relTime(double secondsSince1970, double nowSecondsSince1970);
} // namespace RelativeTime
