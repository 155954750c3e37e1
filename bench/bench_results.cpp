// Times showing a 10000 x 20 result in the results grid (model set, columns built, first
// paint) and exporting it as CSV (text built, written atomically). Targets: 30 ms to show,
// 60 ms to export.
#include "ui/MRTheme.h"
#include "workspace/ResultExport.h"
#include "workspace/ResultsGridView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kRows = 10000;
constexpr int kColumns = 20;

QueryResultPtr makeResult()
{
    auto result = std::make_shared<QueryResult>();
    for (int c = 0; c < kColumns; ++c)
        result->columnNames.append(QStringLiteral("column_%1").arg(c));
    result->rows.reserve(kRows);
    for (int r = 0; r < kRows; ++r) {
        SQLRow row;
        row.reserve(kColumns);
        for (int c = 0; c < kColumns; ++c) {
            switch (c % 5) {
            case 0:
                row.append(QString::number(r * 7919 + c));
                break;
            case 1:
                row.append(QStringLiteral("customer %1").arg(r));
                break;
            case 2:
                row.append(QString::number(r * 1.25 + c, 'f', 2));
                break;
            case 3:
                row.append(r % 7 == 0 ? SQLValue() : SQLValue(QStringLiteral("2024-03-%1").arg(1 + r % 28)));
                break;
            default:
                row.append(QStringLiteral("note, with \"quotes\" %1").arg(r));
                break;
            }
        }
        result->rows.append(row);
    }
    result->rowCount = kRows;
    return result;
}

struct Times
{
    double median;
    double worst;
};

Times measure(int runs, const std::function<void()>& run)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.last()};
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(MRTheme::palette(false));

    const QueryResultPtr result = makeResult();
    std::printf("result: %d rows x %d columns\n", kRows, kColumns);

    {
        // Fonts, style and the first widget of a kind are loaded once per process.
        ResultsGridView warmUp;
        warmUp.resize(1000, 300);
        warmUp.setResult(result);
        warmUp.grab();
    }
    const Times show = measure(9, [&] {
        ResultsGridView grid;
        grid.resize(1000, ResultsGridView::kMaxHeight);
        grid.setResult(result);
        grid.grab();
    });
    std::printf("show in grid (set, columns, first paint): median %.2f ms, worst %.2f ms (target 30 ms)\n", show.median,
                show.worst);

    qsizetype bytes = 0;
    const Times build = measure(9, [&] { bytes = ResultExport::csv(*result).size(); });
    std::printf("CSV text: %.1f MB, built in median %.2f ms, worst %.2f ms\n", double(bytes) / (1024.0 * 1024.0),
                build.median, build.worst);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.csv"));
    const Times exported = measure(9, [&] {
        const QString error = ResultExport::writeCSV(*result, path);
        if (!error.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(error));
    });
    std::printf("CSV export (build and atomic write): median %.2f ms, worst %.2f ms (target 60 ms)\n", exported.median,
                exported.worst);
    return 0;
}
