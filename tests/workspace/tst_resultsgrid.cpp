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

namespace {

QueryResultPtr makeResult(const QStringList& columns, const QList<SqlRow>& rows)
{
    auto result = std::make_shared<QueryResult>();
    result->columnNames = columns;
    result->rows = rows;
    result->rowCount = quint64(rows.size());
    return result;
}

QueryResultPtr numberedRows(qsizetype count)
{
    QList<SqlRow> rows;
    for (qsizetype i = 0; i < count; ++i)
        rows.append({QString::number(i), QStringLiteral("row %1").arg(i)});
    return makeResult({QStringLiteral("id"), QStringLiteral("name")}, rows);
}

} // namespace

class TestResultsGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void alignment_data();
    void alignment();
    void nullShowsInTertiary();
    void height_data();
    void height();
    void columnsFillTheWidth();
    void copiesSelectedRowsInOrder();
    void menuEnabling();
    void exportsCSV();
    void exportsTheResultShownWhenAsked();
    void repaintsForAppearance();

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
    m_grid->setResult(makeResult({QStringLiteral("v")}, {{value}}));
    const auto alignment = Qt::Alignment(m_grid->table()->model()->index(0, 0).data(Qt::TextAlignmentRole).toInt());
    QCOMPARE(alignment & Qt::AlignHorizontal_Mask, right ? Qt::AlignRight : Qt::AlignLeft);
}

void TestResultsGrid::nullShowsInTertiary()
{
    m_grid->setResult(makeResult({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                                 {{std::nullopt, QStringLiteral("NULL")}}));
    QTableView* table = m_grid->table();
    const QModelIndex null = table->model()->index(0, 0);
    const QModelIndex missing = table->model()->index(0, 2);
    QCOMPARE(null.data().toString(), QStringLiteral("NULL"));
    QCOMPARE(missing.data().toString(), QString());
    QVERIFY(!(null.flags() & Qt::ItemIsEditable));
    const QImage image = table->viewport()->grab().toImage();
    const QRect textCell = table->visualRect(table->model()->index(0, 1));
    QVERIFY(pixelsNear(image, table->visualRect(null), MRTheme::textTertiary().light()) > 0);
    QCOMPARE(pixelsNear(image, table->visualRect(null), MRTheme::textPrimary().light()), 0);
    QVERIFY(pixelsNear(image, textCell, MRTheme::textPrimary().light()) > 0);
}

void TestResultsGrid::height_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("height");

    QTest::newRow("no result") << -1 << 0;
    QTest::newRow("no rows") << 0 << 0;
    QTest::newRow("one") << 1 << 48;
    QTest::newRow("eleven") << 11 << 268;
    QTest::newRow("twelve") << 12 << 280;
    QTest::newRow("many") << 10000 << 280;
}

void TestResultsGrid::height()
{
    QFETCH(int, rows);
    QFETCH(int, height);
    m_grid->setResult(numberedRows(3));
    m_grid->setResult(rows < 0 ? nullptr : numberedRows(rows));
    QCOMPARE(m_grid->preferredHeight(), height);
    QCOMPARE(m_grid->sizeHint().height(), height);
    QCOMPARE(m_grid->table()->horizontalHeader()->count(), rows < 0 ? 0 : 2);
    QCOMPARE(m_grid->table()->rowHeight(0), rows > 0 ? ResultsGridView::kRowHeight : 0);
}

void TestResultsGrid::columnsFillTheWidth()
{
    m_grid->resize(600, 280);
    m_grid->setResult(makeResult({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                                 {{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}}));
    QHeaderView* header = m_grid->table()->horizontalHeader();
    QCOMPARE(header->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("c"));
    QCOMPARE(header->height(), ResultsGridView::kRowHeight);
    const int viewport = m_grid->table()->viewport()->width();
    QCOMPARE(header->length(), viewport);
    QVERIFY(qAbs(header->sectionSize(0) - header->sectionSize(2)) <= 1);

    m_grid->resize(900, 280);
    QCOMPARE(header->length(), m_grid->table()->viewport()->width());
    QVERIFY(qAbs(header->sectionSize(0) - header->sectionSize(2)) <= 1);

    QStringList many;
    for (int i = 0; i < 20; ++i)
        many << QStringLiteral("c%1").arg(i);
    m_grid->setResult(makeResult(many, {}));
    for (int i = 0; i < 20; ++i)
        QCOMPARE(header->sectionSize(i), ResultsGridView::kMinColumnWidth);
}

void TestResultsGrid::copiesSelectedRowsInOrder()
{
    m_grid->setResult(makeResult({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                                 {
                                     {QStringLiteral("r0"), QStringLiteral("x"), QStringLiteral("y")},
                                     {QStringLiteral("r1"), std::nullopt, QStringLiteral("tab\there")},
                                     {QStringLiteral("r2"), QStringLiteral("x"), QStringLiteral("y")},
                                     {QStringLiteral("r3"), QStringLiteral("line\nfeed")},
                                 }));
    QTableView* table = m_grid->table();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("untouched"));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("untouched"));

    const auto rowCentre = [table](int row) { return table->visualRect(table->model()->index(row, 0)).center(); };
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(3));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("r1\t\ttab\there\nr3\tline\nfeed\t"));
}

void TestResultsGrid::menuEnabling()
{
    QTableView* table = m_grid->table();
    const auto menuState = [&] {
        const QPoint position(10, 10);
        QContextMenuEvent event(QContextMenuEvent::Mouse, position, table->viewport()->mapToGlobal(position));
        QApplication::sendEvent(table->viewport(), &event);
        QMenu* menu = m_grid->findChild<QMenu*>();
        QString state;
        if (menu && menu->isVisible()) {
            for (const QAction* action : menu->actions())
                state += action->text() + (action->isEnabled() ? QStringLiteral("+") : QStringLiteral("-"));
            menu->close();
        }
        return state;
    };

    QCOMPARE(menuState(), QStringLiteral("Copy-Export CSV…-"));
    m_grid->setResult(makeResult({QStringLiteral("a")}, {}));
    QCOMPARE(menuState(), QStringLiteral("Copy-Export CSV…-"));
    m_grid->setResult(numberedRows(2));
    QCOMPARE(menuState(), QStringLiteral("Copy-Export CSV…+"));
    table->selectRow(1);
    QCOMPARE(menuState(), QStringLiteral("Copy+Export CSV…+"));
    for (const QAction* action : m_grid->findChild<QMenu*>()->actions())
        QVERIFY(action->shortcut().isEmpty());
}

void TestResultsGrid::exportsCSV()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    m_grid->setResult(makeResult({QStringLiteral("name"), QStringLiteral("a,b"), QStringLiteral("n")},
                                 {
                                     {QStringLiteral("say \"hi\""), QStringLiteral("a,b"), QStringLiteral("12.5")},
                                     {std::nullopt, QString(), QStringLiteral("007")},
                                     {QStringLiteral("line\nfeed"), QStringLiteral("tab\tx"), QStringLiteral(" lead ")},
                                     {QStringLiteral("cr\rx"), QStringLiteral("café")},
                                 }));
    ResultsGridView::setNextFileName(path);
    m_grid->exportCSV();
    QTRY_VERIFY(QFile::exists(path));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("name,\"a,b\",n\n"
                                        "\"say \"\"hi\"\"\",\"a,b\",12.5\n"
                                        ",,007\n"
                                        "\"line\nfeed\",tab\tx, lead \n"
                                        "\"cr\rx\",caf\xc3\xa9\n"));
    QVERIFY(!m_grid->findChild<QFileDialog*>());

    m_grid->exportCSV();
    QFileDialog* dialog = m_grid->findChild<QFileDialog*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(), QStringLiteral("results.csv"));
    dialog->reject();
}

void TestResultsGrid::exportsTheResultShownWhenAsked()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("first.csv"));
    m_grid->setResult(makeResult({QStringLiteral("v")}, {{QStringLiteral("first")}}));
    ResultsGridView::setNextFileName(path);
    m_grid->exportCSV();
    m_grid->setResult(makeResult({QStringLiteral("v")}, {{QStringLiteral("second")}}));
    QTRY_VERIFY(QFile::exists(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("v\nfirst\n"));

    // Nothing is offered without rows.
    m_grid->setResult(makeResult({QStringLiteral("v")}, {}));
    m_grid->exportCSV();
    QVERIFY(!m_grid->findChild<QFileDialog*>());
}

void TestResultsGrid::repaintsForAppearance()
{
    m_grid->setResult(numberedRows(1));
    m_grid->resize(400, m_grid->preferredHeight());
    // The strip under the last row shows the card's own background.
    const QRect strip(20, m_grid->height() - 3, 360, 1);
    QCOMPARE(pixelsNear(m_grid->grab().toImage(), strip, MRTheme::inputBackground().light()), strip.width());
    setAppearance(true);
    QCOMPARE(pixelsNear(m_grid->grab().toImage(), strip, MRTheme::inputBackground().dark()), strip.width());
}

QTEST_MAIN(TestResultsGrid)
#include "tst_resultsgrid.moc"
