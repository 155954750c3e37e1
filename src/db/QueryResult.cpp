#include "db/QueryResult.h"

#include <QCoreApplication>

namespace {

QString milliseconds(double seconds)
{
    return QString::number(seconds * 1000.0, 'f', 1) + QStringLiteral("ms");
}

} // namespace

QString QueryResult::rowsSummary(quint64 total, double seconds)
{
    if (total > quint64(kMaxKeptRows))
        return QCoreApplication::translate("QueryResult", "Showing %1 of %2 rows (%3)")
            .arg(kMaxKeptRows)
            .arg(total)
            .arg(milliseconds(seconds));
    return QCoreApplication::translate("QueryResult", "%1 %2 (%3)")
        .arg(total)
        .arg(total == 1 ? QCoreApplication::translate("QueryResult", "row")
                        : QCoreApplication::translate("QueryResult", "rows"),
             milliseconds(seconds));
}

QString QueryResult::affectedSummary(const QString& affected, double seconds)
{
    return QCoreApplication::translate("QueryResult", "OK — %1 rows affected (%2)")
        .arg(affected, milliseconds(seconds));
}
