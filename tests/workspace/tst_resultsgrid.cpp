#include "ViewTestSupport.h"
#include "workspace/QueryResultModel.h"
#include "workspace/ResultsGridView.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

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

} // namespace

class TestResultsGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void alignment_data();
    void alignment();
    void painting();
    void height_data();
    void height();
    void columnsFillTheWidth();
    void copyAndMenu();
    void exportsCSV();

private:
    std::unique_ptr<ResultsGridView> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestResultsGrid::init()
{
    setAppearance(false);
    m_grid = std::make_unique<ResultsGridView>();
    m_tester = std::make_unique<QAbstractItemModelTester>(m_grid->table()->model(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_grid->resize(600, 300);
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
}

void TestResultsGrid::alignment_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("right");
    for (const char* value : {"1,234.50", "-3", "1e-5", "$ 12", "12 345", "007"})
        QTest::newRow(value) << QString::fromUtf8(value) << true;
    for (const char* value : {"e", "-", "abc1", "10%", ""})
        QTest::newRow(*value ? value : "empty") << QString::fromUtf8(value) << false;
}

void TestResultsGrid::alignment()
{
    QFETCH(QString, value);
    QFETCH(bool, right);
    m_grid->setResult(makeResult({u"v"_s}, {{value}}));
    const auto alignment = Qt::Alignment(m_grid->table()->model()->index(0, 0).data(Qt::TextAlignmentRole).toInt());
    QCOMPARE(alignment & Qt::AlignHorizontal_Mask, right ? Qt::AlignRight : Qt::AlignLeft);
}

void TestResultsGrid::painting()
{
    // A row shorter than the columns: the missing cell is empty, not NULL.
    m_grid->setResult(makeResult({u"a"_s, u"b"_s, u"c"_s}, {{std::nullopt, u"NULL"_s}}));
    m_grid->resize(400, m_grid->preferredHeight());
    QTableView* table = m_grid->table();
    QCOMPARE(table->model()->index(0, 0).data().toString(), u"NULL"_s);
    QCOMPARE(table->model()->index(0, 2).data().toString(), QString());
    const auto cell = [&](int column) {
        const QPoint origin = table->viewport()->mapTo(m_grid.get(), QPoint());
        return table->visualRect(table->model()->index(0, column)).translated(origin);
    };
    // The strip under the last row shows the card's own background.
    const QRect strip(20, m_grid->height() - 3, 360, 1);
    for (const bool dark : {false, true}) {
        setAppearance(dark);
        const QImage image = m_grid->grab().toImage();
        QCOMPARE(pixelsNear(image, strip, MRTheme::inputBackground().resolve(dark)), strip.width());
        QVERIFY(pixelsNear(image, cell(0), MRTheme::textTertiary().resolve(dark)) > 0);
        QCOMPARE(pixelsNear(image, cell(0), MRTheme::textPrimary().resolve(dark)), 0);
        QVERIFY(pixelsNear(image, cell(1), MRTheme::textPrimary().resolve(dark)) > 0);
    }
}

void TestResultsGrid::height_data()
{
    QTest::addColumn<int>("rows"); // -1: no result
    QTest::addColumn<int>("height");
    QTest::newRow("no result") << -1 << 0;
    QTest::newRow("no rows") << 0 << 0;
    QTest::newRow("one") << 1 << 48;
    QTest::newRow("eleven") << 11 << 268;
    QTest::newRow("twelve") << 12 << 280;
}

void TestResultsGrid::height()
{
    QFETCH(int, rows);
    QFETCH(int, height);
    m_grid->setResult(numberedRows(3));
    m_grid->setResult(rows < 0 ? nullptr : numberedRows(rows));
    QCOMPARE(m_grid->sizeHint().height(), height);
    QCOMPARE(m_grid->table()->horizontalHeader()->count(), rows < 0 ? 0 : 2);
    QCOMPARE(m_grid->table()->rowHeight(0), rows > 0 ? ResultsGridView::kRowHeight : 0);
}

void TestResultsGrid::columnsFillTheWidth()
{
    m_grid->setResult(makeResult({u"a"_s, u"b"_s, u"c"_s}, {{u"1"_s, u"2"_s, u"3"_s}}));
    QHeaderView* header = m_grid->table()->horizontalHeader();
    QCOMPARE(header->height(), ResultsGridView::kRowHeight); // as the height rule counts it
    for (const int width : {600, 900}) {
        m_grid->resize(width, 280);
        QCOMPARE(header->length(), m_grid->table()->viewport()->width());
        QVERIFY(qAbs(header->sectionSize(0) - header->sectionSize(2)) <= 1);
    }

    // Columns that cannot all fit keep their minimum width and scroll.
    QStringList many;
    for (int i = 0; i < 20; ++i)
        many << u"c%1"_s.arg(i);
    m_grid->setResult(makeResult(many, {}));
    QCOMPARE(header->length(), 20 * ResultsGridView::kMinColumnWidth);
}

void TestResultsGrid::copyAndMenu()
{
    QTableView* table = m_grid->table();
    const auto menuState = [&] {
        const QPoint position(10, 10);
        QContextMenuEvent event(QContextMenuEvent::Mouse, position, table->viewport()->mapToGlobal(position));
        QApplication::sendEvent(table->viewport(), &event);
        QMenu* menu = m_grid->findChild<QMenu*>();
        // + enabled, - disabled; ! a shortcut, which would take Ctrl+C from the table.
        QString state = menu->isVisible() ? QString() : u"hidden: "_s;
        for (const QAction* action : menu->actions())
            state +=
                action->text() + (action->isEnabled() ? u'+' : u'-') + (action->shortcut().isEmpty() ? u""_s : u"!"_s);
        menu->close();
        return state;
    };
    QCOMPARE(menuState(), u"Copy-Export CSV…-"_s);
    m_grid->setResult(makeResult({u"a"_s}, {}));
    QCOMPARE(menuState(), u"Copy-Export CSV…-"_s);

    m_grid->setResult(makeResult({u"a"_s, u"b"_s, u"c"_s}, {{u"r0"_s, u"x"_s, u"y"_s},
                                                            {u"r1"_s, std::nullopt, u"tab\there"_s},
                                                            {u"r2"_s, u"x"_s, u"y"_s},
                                                            {u"r3"_s, u"line\nfeed"_s}}));
    QCOMPARE(menuState(), u"Copy-Export CSV…+"_s);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(u"untouched"_s);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), u"untouched"_s);

    // Rows are copied in their order, whatever the order they were selected in.
    const auto rowCentre = [table](int row) { return table->visualRect(table->model()->index(row, 0)).center(); };
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(3));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    QCOMPARE(menuState(), u"Copy+Export CSV…+"_s);
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), u"r1\t\ttab\there\nr3\tline\nfeed\t"_s);
}

void TestResultsGrid::exportsCSV()
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
    QVERIFY(!m_grid->findChild<QFileDialog*>());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("name,\"a,b\",n\n"
                                        "\"say \"\"hi\"\"\",\"a,b\",12.5\n"
                                        ",,007\n"
                                        "\"line\nfeed\",tab\tx, lead \n"
                                        "\"cr\rx\",caf\xc3\xa9\n"));

    m_grid->exportCSV();
    QFileDialog* dialog = m_grid->findChild<QFileDialog*>();
    QVERIFY(dialog && dialog->windowModality() == Qt::WindowModal && dialog->acceptMode() == QFileDialog::AcceptSave);
    QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(), u"results.csv"_s);
    delete dialog;

    // Nothing is offered without rows.
    m_grid->setResult(makeResult({u"v"_s}, {}));
    m_grid->exportCSV();
    QVERIFY(!m_grid->findChild<QFileDialog*>());
}

QTEST_MAIN(TestResultsGrid)
#include "tst_resultsgrid.moc"
