// Times MRSQLHighlighter on 10 KB, 100 KB and 1 MB of SQL. The time per KB should stay
// flat as the text grows; 1 MB should take well under 300 ms.
#include "workspace/MRSQLHighlighter.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <algorithm>
#include <cstdio>

namespace {

const char* const kStatements[] = {
    "SELECT u.id, u.name, count(o.id) AS orders, sum(o.total) FROM users u\n"
    "  LEFT JOIN orders o ON o.user_id = u.id WHERE u.created_at > '2024-01-01'\n"
    "  GROUP BY u.id, u.name HAVING count(o.id) > 3 ORDER BY 4 DESC LIMIT 50;\n",
    "-- monthly revenue, refunds excluded\n"
    "select date_trunc('month', paid_at) as month, round(sum(amount) * 1.2, 2)\n"
    "from payments where status <> 'refunded' and note not like '%it''s%' group by 1;\n",
    "/* top products\n   by distinct buyers */ WITH ranked AS (SELECT product_id, count(DISTINCT buyer) AS n\n"
    "FROM sales GROUP BY product_id) SELECT * FROM ranked WHERE n BETWEEN 10 AND 20000 OFFSET 5;\n",
    "insert into audit (id, action, detail) values (42, 'login', 'from 10.0.0.1 -- vpn');\n",
};

QString sqlOfSize(qsizetype bytes)
{
    QString sql;
    sql.reserve(bytes + 512);
    for (int i = 0; sql.size() < bytes; ++i)
        sql += QString::fromLatin1(kStatements[i % 4]);
    sql.truncate(bytes);
    return sql;
}

// Openers that never close: a backtracking matcher would rescan the rest of the text
// from each of them.
QString unbalancedOfSize(qsizetype bytes)
{
    QString sql;
    sql.reserve(bytes + 16);
    while (sql.size() < bytes)
        sql += QStringLiteral("/* x ' y ");
    sql.truncate(bytes);
    return sql;
}

struct Times
{
    double best;
    double median;
};

Times millisecondsFor(const QString& sql, int runs, SQLClassifier::Dialect dialect)
{
    QList<double> times;
    qsizetype spans = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        spans += MRSQLHighlighter::highlight(sql, dialect).size();
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    if (spans < 0)
        std::puts("");
    return {times.first(), times[times.size() / 2]};
}

} // namespace

int main()
{
    QElapsedTimer timer;
    timer.start();
    MRSQLHighlighter::ensureRegexes();
    std::printf("compile expressions (once per process): %.2f ms\n", double(timer.nsecsElapsed()) / 1e6);
    std::printf("%-26s %9s %11s %9s %11s\n", "input", "best ms", "best ms/KB", "median ms", "median ms/KB");
    const auto report = [](const char* name, qsizetype kb, const QString& sql, int runs,
                           SQLClassifier::Dialect dialect = SQLClassifier::Dialect::PostgreSQL) {
        const Times t = millisecondsFor(sql, runs, dialect);
        std::printf("%-18s %4lld KB %9.2f %11.4f %9.2f %11.4f\n", name, static_cast<long long>(kb), t.best,
                    t.best / double(kb), t.median, t.median / double(kb));
    };
    for (const qsizetype kb : {10, 100, 1024})
        report("SQL", kb, sqlOfSize(kb * 1024), kb >= 1024 ? 11 : 31);
    report("SQL, MySQL reading", 1024, sqlOfSize(1024 * 1024), 11, SQLClassifier::Dialect::MySQL);
    report("unclosed openers", 1024, unbalancedOfSize(1024 * 1024), 11);
    report("unclosed, MySQL", 1024, unbalancedOfSize(1024 * 1024), 11, SQLClassifier::Dialect::MySQL);
    std::printf("target: 1024 KB under 300 ms\n");
    return 0;
}
