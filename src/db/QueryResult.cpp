#include "db/QueryResult.h"

namespace {

QString milliseconds(double seconds)
{
    return QString::number(seconds * 1000.0, 'f', 1) + QStringLiteral("ms");
}

} // namespace

QString QueryResult::rowsSummary(quint64 total, double seconds)
{
    if (total > quint64(kMaxKeptRows))
        return QStringLiteral("Showing %1 of %2 rows (%3)").arg(kMaxKeptRows).arg(total).arg(milliseconds(seconds));
    return QStringLiteral("%1 %2 (%3)")
        .arg(total)
        .arg(total == 1 ? QStringLiteral("row") : QStringLiteral("rows"), milliseconds(seconds));
}

QString QueryResult::affectedSummary(const QString& affected, double seconds)
{
    return QStringLiteral("OK — %1 rows affected (%2)").arg(affected, milliseconds(seconds));
}
