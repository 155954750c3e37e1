#include "workspace/RelativeTime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinute = 60;
constexpr double kHour = 3600;
constexpr double kDay = 86400;
constexpr double kWeek = 604800;
constexpr double kMaxMilliseconds = 8.64e15; // about 273,000 years either side of 1970

QString tr(const char* text)
{
    return QCoreApplication::translate("RelativeTime", text);
}

} // namespace

QString RelativeTime::text(double timestamp, double now, const QLocale& locale)
{
    if (timestamp == 0 || !std::isfinite(timestamp))
        return {};
    const double age = now - timestamp;
    if (age < kMinute)
        return tr("just now");
    if (age < kHour)
        return tr("%1m ago").arg(qint64(age / kMinute));
    if (age < kDay)
        return tr("%1h ago").arg(qint64(age / kHour));
    if (age < kWeek)
        return tr("%1d ago").arg(qint64(age / kDay));
    // A corrupt history file may hold any number; keep the conversion within range.
    const double milliseconds = std::clamp(timestamp * 1000, -kMaxMilliseconds, kMaxMilliseconds);
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(qint64(milliseconds));
    return locale.toString(when.toLocalTime().date(), QStringLiteral("MMM d"));
}
