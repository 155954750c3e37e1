#include "ViewTestSupport.h"
#include "support/TestDatabases.h"
#include "ui/MRButton.h"
#include "ui/MRLabel.h"
#include "workspace/ExportProgressPanel.h"
#include "workspace/QueryResultModel.h"
#include "workspace/ResultsGridView.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

QueryResultPtr makeResult(const QStringList& columns, const QList<SQLRow>& rows)
{
    auto result = std::make_shared<QueryResult>();
    result->columnNames = columns;
    result->rows = rows;
    result->rowCount = quint64(rows.size());
    return result;
}

QueryResultPtr numberedRows(qsizetype count)
{
    QList<SQLRow> rows;
    for (qsizetype i = 0; i < count; ++i)
        rows.append({QString::number(i), u"row %1"_s.arg(i)});
    return makeResult({u"id"_s, u"name"_s}, rows);
}

// The items of the grid's context menu that show, as it opens: + enabled, - disabled; !
// a shortcut, which would take Ctrl+C from the table.
QString menuState(ResultsGridView* grid)
{
    QTableView* table = grid->table();
    const QPoint position(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, position, table->viewport()->mapToGlobal(position));
    QApplication::sendEvent(table->viewport(), &event);
    QMenu* menu = grid->findChild<QMenu*>();
    QString state = menu->isVisible() ? QString() : u"hidden: "_s;
    for (const QAction* action : menu->actions()) {
        if (action->isVisible())
            state +=
                action->text() + (action->isEnabled() ? u'+' : u'-') + (action->shortcut().isEmpty() ? u""_s : u"!"_s);
    }
    menu->close();
    return state;
}

// A result the grid keeps only part of: shown rows of total.
QueryResultPtr cappedResult(qsizetype shown, quint64 total)
{
    auto result = std::make_shared<QueryResult>(*numberedRows(shown));
    result->rowCount = total;
    return result;
}

} // namespace

class TestResultsGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Counts of rows are grouped as the user's language writes numbers.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void init()
    {
        setAppearance(false);
        m_grid = std::make_unique<ResultsGridView>();
        m_tester = std::make_unique<QAbstractItemModelTester>(m_grid->table()->model(),
                                                              QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_grid->resize(600, 300);
        m_grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    }

    void alignment_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("right");
        for (const char* value : {"1,234.50", "-3", "1e-5", "$ 12"})
            QTest::newRow(value) << QString::fromUtf8(value) << true;
        for (const char* value : {"e", "-", "abc1", "10%"})
            QTest::newRow(value) << QString::fromUtf8(value) << false;
    }

    void alignment()
    {
        QFETCH(QString, value);
        QFETCH(bool, right);
        m_grid->setResult(makeResult({u"v"_s}, {{value}}));
        const auto alignment = Qt::Alignment(m_grid->table()->model()->index(0, 0).data(Qt::TextAlignmentRole).toInt());
        QCOMPARE(alignment & Qt::AlignHorizontal_Mask, right ? Qt::AlignRight : Qt::AlignLeft);
    }

    void nullCells()
    {
        // A row shorter than the columns: the missing cell is empty, not NULL; a NULL and the
        // text 'NULL' read alike but are drawn apart, and a screen reader says NULL.
        m_grid->setResult(makeResult({u"a"_s, u"b"_s, u"c"_s}, {{std::nullopt, u"NULL"_s}}));
        m_grid->resize(400, m_grid->preferredHeight());
        QTableView* table = m_grid->table();
        QCOMPARE(table->model()->index(0, 0).data().toString(), u"NULL"_s);
        QCOMPARE(table->model()->index(0, 2).data().toString(), QString());
        const auto cell = [&](int column) {
            const QPoint origin = table->viewport()->mapTo(m_grid.get(), QPoint());
            return table->visualRect(table->model()->index(0, column)).translated(origin);
        };
        for (const bool dark : {false, true}) {
            setAppearance(dark);
            const QImage image = m_grid->grab().toImage();
            QVERIFY(pixelsNear(image, cell(0), MRTheme::textTertiary().resolve(dark)) > 0);
            QCOMPARE(pixelsNear(image, cell(0), MRTheme::textPrimary().resolve(dark)), 0);
            QVERIFY(pixelsNear(image, cell(1), MRTheme::textPrimary().resolve(dark)) > 0);
        }
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(table);
        QCOMPARE(iface->text(QAccessible::Name), u"Results"_s);
        QCOMPARE(iface->tableInterface()->cellAt(0, 0)->text(QAccessible::Name), u"NULL"_s);
    }

    void copyAndMenu()
    {
        QTableView* table = m_grid->table();
        m_grid->setResult(makeResult({u"a"_s}, {}));
        QCOMPARE(menuState(m_grid.get()), u"Copy-Export CSV…-"_s);

        m_grid->setResult(makeResult({u"a"_s, u"b"_s, u"c"_s}, {{u"r0"_s, u"x"_s, u"y"_s},
                                                                {u"r1"_s, std::nullopt, u"tab\there"_s},
                                                                {u"r2"_s, u"x"_s, u"y"_s},
                                                                {u"r3"_s, u"line\nfeed"_s}}));
        QCOMPARE(menuState(m_grid.get()), u"Copy-Export CSV…+"_s);
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(u"untouched"_s);
        table->setFocus();
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), u"untouched"_s);

        // Rows are copied in their order, whatever the order they were selected in.
        const auto rowCentre = [table](int row) { return table->visualRect(table->model()->index(row, 0)).center(); };
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(3));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
        QCOMPARE(menuState(m_grid.get()), u"Copy+Export CSV…+"_s);
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), u"r1\t\ttab\there\nr3\tline\nfeed\t"_s);
    }

    void exportsCSV()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.csv"_s);
        m_grid->setResult(makeResult({u"name"_s, u"a,b"_s, u"n"_s}, {{u"say \"hi\""_s, u"a,b"_s, u"12.5"_s},
                                                                     {std::nullopt, QString(), u"007"_s},
                                                                     {u"line\nfeed"_s, u"tab\tx"_s, u" lead "_s},
                                                                     {u"cr\rx"_s, u"café"_s}}));
        ResultsGridView::setNextFileName(path);
        m_grid->exportCSV();
        // What is written is the result shown when the dialog opened, not one arriving since.
        m_grid->setResult(makeResult({u"v"_s}, {{u"second"_s}}));
        QTRY_VERIFY(QFile::exists(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("name,\"a,b\",n\n"
                                            "\"say \"\"hi\"\"\",\"a,b\",12.5\n"
                                            ",,007\n"
                                            "\"line\nfeed\",tab\tx, lead \n"
                                            "\"cr\rx\",caf\xc3\xa9\n"));
    }

    void wholeResultOffer_data()
    {
        QTest::addColumn<QueryResultPtr>("result");
        QTest::addColumn<QString>("menu"); // the items that show: + enabled, - disabled
        QTest::addColumn<QStringList>("fileTypes");
        const QStringList plain{u"CSV (*.csv)"_s};
        const QStringList choice{u"CSV — the 3 rows shown (*.csv)"_s, u"CSV — all 25,000 rows (*.csv)"_s};
        QTest::newRow("capped") << cappedResult(3, 25000) << u"Copy-Export CSV…+Export All 25,000 Rows as CSV…+"_s
                                << choice;
        QTest::newRow("whole") << numberedRows(3) << u"Copy-Export CSV…+"_s << plain;
    }

    void wholeResultOffer()
    {
        QFETCH(QueryResultPtr, result);
        QFETCH(QString, menu);
        QFETCH(QStringList, fileTypes);
        m_grid->setResult(result, {u"SELECT g FROM generate_series(1, 25000) AS g"_s, DatabaseConnection()});
        QCOMPARE(menuState(m_grid.get()), menu);

        // Either menu item opens the one window-modal dialog, with its own choice made at first.
        for (const auto scope : {ResultsGridView::ExportScope::ShownRows, ResultsGridView::ExportScope::WholeResult}) {
            m_grid->exportCSV(scope);
            QFileDialog* dialog = m_grid->findChild<QFileDialog*>();
            QVERIFY(dialog && dialog->isVisible() && dialog->windowModality() == Qt::WindowModal);
            QCOMPARE(dialog->nameFilters(), fileTypes);
            QCOMPARE(dialog->selectedNameFilter(),
                     scope == ResultsGridView::ExportScope::WholeResult ? fileTypes.last() : fileTypes.first());
            delete dialog;
        }
    }

    void wholeResultProgressAndCancel()
    {
        MIRELO_REQUIRE_DATABASE(c, u"postgresql"_s);
        // Rows that trickle in for minutes.
        m_grid->setResult(cappedResult(10, 500000),
                          {u"SELECT g, pg_sleep(0.0005) FROM generate_series(1, 500000) AS g"_s, c});
        QTemporaryDir dir;
        QSignalSpy failed(m_grid.get(), &ResultsGridView::exportFailed);
        QSignalSpy exported(m_grid.get(), &ResultsGridView::wholeResultExported);
        ResultsGridView::setNextFileName(dir.filePath(u"all.csv"_s), ResultsGridView::ExportScope::WholeResult);
        m_grid->exportCSV();

        QTRY_VERIFY(m_grid->exportPanel() && m_grid->exportPanel()->isVisible());
        ExportProgressPanel* panel = m_grid->exportPanel();
        QCOMPARE(panel->windowModality(), Qt::WindowModal);
        QCOMPARE(panel->titleLabel()->text(), u"Exporting all 500,000 rows to “all.csv”…"_s);
        // Rows written, of how many, as they arrive.
        QTRY_VERIFY_WITH_TIMEOUT(panel->rowsWritten() > 0, 60000);
        QVERIFY(QRegularExpression(u"^[1-9][0-9,]* of 500,000 rows written$"_s)
                    .match(panel->progressLabel()->text())
                    .hasMatch());

        QTest::mouseClick(panel->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_grid->isExportingWholeResult(), 10000);
        QTRY_VERIFY(!m_grid->exportPanel());
        // No word of failure (that nothing is left on disk is the executor's test).
        QCOMPARE(failed.size() + exported.size(), 0);
        QVERIFY(!m_grid->findChild<QMessageBox*>());
        QVERIFY(m_grid->canExportWholeResult());
    }

    void exportErrors_data()
    {
        QTest::addColumn<QString>("sql"); // the statement behind the shown result; empty: rows shown only
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message"); // a pattern
        QTest::newRow("whole result, missing folder")
            << u"SELECT g FROM generate_series(1, 20) AS g"_s << u"missing/out.csv"_s
            << u"Could not create a temporary file for “.*/missing/out.csv”: No such file or directory\\."_s;
        QTest::newRow("whole result, a write")
            << u"CREATE TABLE grid_export_%1 AS SELECT 1 AS a"_s.arg(QCoreApplication::applicationPid()) << u"out.csv"_s
            << u"The statement changes data, so it is not run again to export all its rows\\."_s;
    }

    void exportErrors()
    {
        QFETCH(QString, sql);
        QFETCH(QString, file);
        QFETCH(QString, message);
        MIRELO_REQUIRE_DATABASE(c, u"postgresql"_s);
        QTemporaryDir dir;
        m_grid->setResult(cappedResult(3, 20), {sql, c});
        QSignalSpy failed(m_grid.get(), &ResultsGridView::exportFailed);
        ResultsGridView::setNextFileName(dir.filePath(file), ResultsGridView::ExportScope::WholeResult);
        m_grid->exportCSV();

        // Said in a window-modal alert, as a sentence, and nothing is written.
        const QString text = alertText(openAlert(m_grid.get(), u"exportFailedAlert"_s));
        QVERIFY2(
            QRegularExpression(QRegularExpression::anchoredPattern(u"The rows could not be exported\\.\n"_s + message))
                .match(text)
                .hasMatch(),
            qPrintable(text));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

private:
    std::unique_ptr<ResultsGridView> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

QTEST_MAIN(TestResultsGrid)
#include "tst_resultsgrid.moc"
