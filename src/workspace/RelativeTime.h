#pragma once

#include <QLocale>
#include <QString>

// How long ago a history record was made, as the history page shows it: "just now",
// minutes, hours or days, and the date once a week has passed.
namespace RelativeTime {

// timestamp and now are seconds since 1970-01-01 UTC. A record without a time (0) gives
// the empty string; a time in the future reads "just now". Each boundary belongs to the
// older bucket: exactly 60 seconds is "1m ago". The date is "MMM d" in locale.
QString text(double timestamp, double now, const QLocale& locale = QLocale());

} // namespace RelativeTime
