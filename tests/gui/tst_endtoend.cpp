#include "GuiTest.h"
#include "SampleShop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QUuid>

using namespace Qt::StringLiterals;

// The whole product as a user meets it: the built `mirelo` under a virtual X display,
// driven with real input events, signed in to the demo server, over a fresh copy of the
// sample shop in the PostgreSQL or MariaDB test server. Each example prompt is generated,
// executed and exported; the export is compared with the database client's own CSV of the
// same statement. A destructive statement is confirmed, a generation is cancelled, and the
// user signs out. Light and dark; screenshots of each step go to
// build/screenshots/endtoend-<run>/.
//
// CSV: Mirelo quotes a field that holds a comma, a double quote, a line feed or a carriage
// return, doubling its quotes, and writes NULL as an empty field; psql --csv does the same,
// and also quotes a field that is exactly \. (so that COPY does not read it as the end of
// the data), which Mirelo writes as it is. The sample rows hold no such field (the test
// checks), so the files must be equal byte for byte: the same header line, quoting and
// line feeds. For MariaDB the client's tab-separated output is turned into CSV by the rule
// above (SampleShop), so there the test checks the values and the line structure, and that
// no value is the text NULL, which that output cannot tell from a NULL.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void walkThrough_data();
    void walkThrough();

private:
    void signIn(LiveSession& session);
    void chooseDarkInMenu(LiveSession& session, const AppProfile& profile);
    void chooseDarkWithToolbar(LiveSession& session, const AppProfile& profile);
    void addConnectionThroughSheet(LiveSession& session, const SampleShop& shop);
    void generate(LiveSession& session, const QString& prompt, bool typed);
    void executeAndCompare(LiveSession& session, const SampleShop& shop, const QString& step);
    void exportAndCompare(LiveSession& session, const SampleShop& shop, const QString& sql, const QString& step);
    void confirmDelete(LiveSession& session, const SampleShop& shop);
    void cancelGeneration(LiveSession& session, bool withKeys);
    void signOutAndQuit(LiveSession& session, const AppProfile& profile);
    void checkBackground(LiveSession& session, const QString& step, bool dark);
};

namespace {

const auto kGenerated = u"SQL generated. Review it, then Execute."_s;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
        file.commit();
    }
}

// The number of the first line at which two texts differ, counted from 1, and both lines.
QString firstDifference(const QByteArray& got, const QByteArray& expected)
{
    const QList<QByteArray> a = got.split('\n');
    const QList<QByteArray> b = expected.split('\n');
    for (qsizetype i = 0; i < qMax(a.size(), b.size()); ++i) {
        const QByteArray left = a.value(i);
        const QByteArray right = b.value(i);
        if (left != right || i >= a.size() || i >= b.size())
            return u"line %1: Mirelo “%2”, the client “%3”"_s.arg(i + 1).arg(QString::fromUtf8(left),
                                                                             QString::fromUtf8(right));
    }
    return {};
}

// Whether a menu, a list of choices or a completion list is open.
bool popupShown(LiveSession& session)
{
    const QList<QJsonObject> windows = session.windows();
    return std::any_of(windows.cbegin(), windows.cend(),
                       [](const QJsonObject& w) { return w.value(u"popup").toBool(); });
}

} // namespace

void TestEndToEnd::initTestCase()
{
    GUI_REQUIRE_TOOLS();
}

void TestEndToEnd::walkThrough_data()
{
    // appearance: "preset" (Light in the settings file before start), "menu" (View ▸
    // Appearance ▸ Dark) or "toolbar" (the appearance button, System → Light → Dark).
    // sheet: the connection made in the connection sheet, else preset in the profile as
    // scripts/demo makes it. typed: the prompts typed and sent with Ctrl+Return, else the
    // example rows clicked.
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QString>("appearance");
    QTest::addColumn<bool>("sheet");
    QTest::addColumn<bool>("typed");
    QTest::newRow("light") << u"postgresql"_s << u"preset"_s << true << false;
    QTest::newRow("dark") << u"postgresql"_s << u"menu"_s << false << true;
    QTest::newRow("mariadb") << u"mysql"_s << u"toolbar"_s << true << false;
}

void TestEndToEnd::walkThrough()
{
    QFETCH(QString, dialect);
    QFETCH(QString, appearance);
    QFETCH(bool, sheet);
    QFETCH(bool, typed);
    const bool dark = appearance != u"preset"_s;
    const QString run = QString::fromLatin1(QTest::currentDataTag());

    // A shop of its own: the walk deletes rows, and other tests count them in the shared one.
    SampleShop shop(dialect);
    if (const QString missing = shop.missing(); !missing.isEmpty()) {
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))
            QFAIL(qPrintable(missing));
        QSKIP(qPrintable(missing + u" Run scripts/test, or source scripts/lib/dbservers.sh and mirelo_db_start."_s));
    }
    GUI_STEP(shop.create(u"mirelo_e2e_%1_%2"_s.arg(run).arg(QCoreApplication::applicationPid())));

    LiveSession session(u"endtoend-"_s + run);
    GUI_STEP(session.startDisplay());
    GUI_STEP(session.startDemoServer(dialect));
    AppProfile profile;
    GUI_STEP(session.makeProfile(&profile));
    if (!sheet) {
        // As scripts/demo prepares its profile: the connection and its password on file.
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        QDir().mkpath(QFileInfo(profile.credentialsPath()).path());
        writeFile(profile.credentialsPath(),
                  QJsonDocument(QJsonObject{{u"connections"_s, QJsonObject{{id, shop.password()}}}}).toJson());
        const QJsonObject connection{{u"id"_s, id},
                                     {u"name"_s, u"Demo shop"_s},
                                     {u"type"_s, shop.type()},
                                     {u"host"_s, shop.host()},
                                     {u"port"_s, shop.port().toInt()},
                                     {u"database"_s, shop.database()},
                                     {u"username"_s, shop.user()},
                                     {u"ssl"_s, false}};
        writeFile(profile.connectionsPath(), QJsonDocument(QJsonObject{{u"connections"_s, QJsonArray{connection}},
                                                                       {u"active_connection_id"_s, id}})
                                                 .toJson());
    }
    if (appearance == u"preset"_s) {
        QSettings settings(profile.settingsPath(), QSettings::IniFormat);
        settings.setValue(u"MRThemeMode"_s, 1);
    }
    GUI_STEP(session.startApp(profile));

    signIn(session);
    if (QTest::currentTestFailed())
        return;
    if (appearance == u"menu"_s)
        chooseDarkInMenu(session, profile);
    else if (appearance == u"toolbar"_s)
        chooseDarkWithToolbar(session, profile);
    if (QTest::currentTestFailed())
        return;
    if (sheet)
        addConnectionThroughSheet(session, shop);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(session.waitForText(u"connButton"_s, u"Run against · Demo shop"_s).found);
    GUI_STEP(session.screenshot(u"01-main-window"_s));
    checkBackground(session, u"01-main-window"_s, dark);
    if (QTest::currentTestFailed())
        return;

    const QStringList examples{u"Show the 10 most recent orders"_s, u"Count users who signed up this month"_s,
                               u"Top 5 products by total revenue"_s, u"Customers with no orders in 90 days"_s};
    for (qsizetype i = 0; i < examples.size(); ++i) {
        const QString step = u"%1-example-%2"_s.arg(i + 2, 2, 10, QLatin1Char('0')).arg(i + 1);
        generate(session, examples.at(i), typed);
        if (QTest::currentTestFailed())
            return;
        executeAndCompare(session, shop, step);
        if (QTest::currentTestFailed())
            return;
    }

    confirmDelete(session, shop);
    if (QTest::currentTestFailed())
        return;
    cancelGeneration(session, typed);
    if (QTest::currentTestFailed())
        return;
    signOutAndQuit(session, profile);
}

void TestEndToEnd::signIn(LiveSession& session)
{
    QVERIFY2(!GuiTest::waitForXWindow(session, u"Mirelo"_s, QSize(460, 460)).isEmpty(), "No sign-in window appeared.");
    GUI_INPUT(session, session.fillField(u"Server URL"_s, session.serverURL()));
    GUI_INPUT(session, session.fillField(u"API Key"_s, session.apiKey()));
    GUI_INPUT(session, session.pressKeys(u"Return"_s));
    QVERIFY2(!GuiTest::waitForXWindow(session, u"Mirelo"_s, QSize(1040, 720)).isEmpty(),
             "No main window appeared after signing in.");
    QVERIFY(session.waitFor(u"Prompt"_s).found);
}

void TestEndToEnd::chooseDarkInMenu(LiveSession& session, const AppProfile& profile)
{
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"View"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Appearance"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Dark"_s)));
    // The choice is stored as it is made.
    QTRY_COMPARE_WITH_TIMEOUT(QSettings(profile.settingsPath(), QSettings::IniFormat).value(u"MRThemeMode"_s).toInt(),
                              2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!session.menuItem(u"Dark"_s).found, 5000);
}

void TestEndToEnd::chooseDarkWithToolbar(LiveSession& session, const AppProfile& profile)
{
    const auto mode = [&profile] {
        return QSettings(profile.settingsPath(), QSettings::IniFormat).value(u"MRThemeMode"_s, 0).toInt();
    };
    QCOMPARE(mode(), 0);
    for (const int next : {1, 2}) {
        GUI_INPUT(session, session.click(session.waitFor(u"Toggle appearance"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(mode(), next, 5000);
    }
}

void TestEndToEnd::addConnectionThroughSheet(LiveSession& session, const SampleShop& shop)
{
    GUI_INPUT(session, session.click(session.waitForText(u"connButton"_s, u"Run against · No database"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Manage Databases…"_s)));
    QVERIFY2(session.waitFor(u"Host"_s).found, "The connection sheet did not open.");
    GUI_INPUT(session, session.fillField(u"Name"_s, u"Demo shop"_s));
    // The type: the next choice of the list, with the arrow key, for MySQL.
    if (shop.typeTitle() != session.find(u"Type"_s).text) {
        GUI_INPUT(session, session.click(session.find(u"Type"_s)));
        QTRY_VERIFY_WITH_TIMEOUT(popupShown(session), 5000);
        GUI_INPUT(session, session.pressKeys(u"Down Return"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!popupShown(session), 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(session.find(u"Type"_s).text, shop.typeTitle(), 5000);
    const QList<std::pair<QString, QString>> fields{
        {u"Host"_s, shop.host()},     {u"Port"_s, shop.port()},         {u"Database"_s, shop.database()},
        {u"Username"_s, shop.user()}, {u"Password"_s, shop.password()},
    };
    for (const auto& [field, text] : fields)
        GUI_INPUT(session, session.fillField(field, text));
    GUI_STEP(session.screenshot(u"00-connection-sheet"_s));
    GUI_INPUT(session, session.click(session.waitFor(u"Save"_s)));
    QVERIFY(session.waitFor(u"Saved."_s).found);
    GUI_INPUT(session, session.click(session.waitFor(u"Done"_s)));
    QVERIFY2(session.waitUntilGone(u"Host"_s), "The connection sheet stayed open after Done.");
    GUI_INPUT(session, session.refocus());
    GUI_INPUT(session, session.click(session.waitFor(u"connButton"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Demo shop"_s)));
}

void TestEndToEnd::generate(LiveSession& session, const QString& prompt, bool typed)
{
    if (typed) {
        GUI_INPUT(session, session.fillField(u"Prompt"_s, prompt));
        GUI_INPUT(session, session.pressKeys(u"ctrl+Return"_s));
    } else {
        // File ▸ New Query brings the example rows back.
        GUI_INPUT(session, session.pressKeys(u"ctrl+n"_s));
        GUI_INPUT(session, session.click(session.waitFor(u"suggestionsBox > "_s + prompt)));
    }
    const ProbedWidget status = session.waitForText(u"statusLabel"_s, kGenerated);
    QVERIFY2(status.text == kGenerated, qPrintable(u"“%1”: the status says “%2”."_s.arg(prompt, status.text)));
    QCOMPARE(session.find(u"Prompt"_s).text, prompt);
}

void TestEndToEnd::executeAndCompare(LiveSession& session, const SampleShop& shop, const QString& step)
{
    const QString sql = session.find(u"Generated SQL"_s).text;
    QVERIFY(!sql.isEmpty());
    GUI_INPUT(session, session.click(session.waitFor(u"Execute"_s)));
    // The summary line says how many rows came back, as "10 rows (1.2ms)".
    static const QRegularExpression summary(u"^(\\d+) rows? \\(\\d+\\.\\dms\\)$"_s);
    QRegularExpressionMatch match;
    QTRY_VERIFY2_WITH_TIMEOUT((match = summary.match(session.find(u"resultsStatusLabel"_s).text)).hasMatch(),
                              qPrintable(session.find(u"resultsStatusLabel"_s).text), 20000);

    QString error;
    const std::optional<QByteArray> expected = shop.csv(sql, &error);
    QVERIFY2(expected, qPrintable(error));
    const int rows = int(expected->count('\n')) - 1;
    QVERIFY2(rows > 0, qPrintable(u"No rows for %1"_s.arg(sql)));
    QCOMPARE(match.captured(1).toInt(), rows);
    QTRY_COMPARE_WITH_TIMEOUT(session.find(u"Results"_s).rows, rows, 5000);
    GUI_STEP(session.screenshot(step));
    exportAndCompare(session, shop, sql, step);
}

void TestEndToEnd::exportAndCompare(LiveSession& session, const SampleShop& shop, const QString& sql,
                                    const QString& step)
{
    // The context menu of the grid's first row, scrolled into view as a user would, with
    // the wheel over the page's margin beside the grid.
    const ProbedWidget placed = session.waitFor(u"Results"_s);
    int bottom = placed.rect.top();
    for (const QJsonObject& window : session.windows()) {
        if (window.value(u"class").toString() == u"MainWindowController"_s)
            bottom = window.value(u"rect").toObject().value(u"y").toInt() +
                     window.value(u"rect").toObject().value(u"h").toInt();
    }
    const QPoint wheelAt(placed.rect.left() - 24, qMin(placed.rect.top(), bottom) - 40);
    // Enough of it for the screenshot to show the rows: five, or all of a shorter result.
    const ProbedWidget grid = session.scrollIntoView(u"Results"_s, wheelAt, qMin(placed.rect.height() - 28, 110));
    QVERIFY2(grid.viewport.height() >= 24, "The results grid shows no rows on screen.");
    if (grid.rect != placed.rect)
        GUI_STEP(session.screenshot(step + u"-scrolled"_s));
    GUI_INPUT(session, session.clickAt(QPoint(grid.viewport.left() + 40, grid.viewport.top() + 11), 3));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Export CSV…"_s)));

    // The file dialog: the path typed over the proposed name, then Return.
    const QString path = session.screenshotFolder() + QLatin1Char('/') + step + u".csv"_s;
    QVERIFY2(session.waitFor(u"fileNameEdit"_s).found, "The export's file dialog did not open.");
    QCOMPARE(session.find(u"fileNameEdit"_s).text, u"results.csv"_s);
    GUI_INPUT(session, session.fillField(u"fileNameEdit"_s, path));
    // A completion list over the field would take the Return.
    QTRY_VERIFY_WITH_TIMEOUT(!popupShown(session), 5000);
    GUI_INPUT(session, session.pressKeys(u"Return"_s));
    QVERIFY2(session.waitUntilGone(u"fileNameEdit"_s), "The file dialog stayed open.");
    GUI_INPUT(session, session.refocus());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path), 5000);

    QString error;
    const std::optional<QByteArray> expected = shop.csv(sql, &error);
    QVERIFY2(expected, qPrintable(error));
    QVERIFY2(!expected->contains("\"\\.\""), "A field is exactly \\., which psql quotes and Mirelo does not.");
    QVERIFY2(!expected->contains(",NULL,") && !expected->contains(",NULL\n") && !expected->contains("\nNULL,"),
             "A value is the text NULL, which mariadb --batch shows as it shows a NULL.");
    const QByteArray got = readFile(path);
    if (got != *expected) {
        writeFile(session.screenshotFolder() + QLatin1Char('/') + step + u".client.csv"_s, *expected);
        QFAIL(qPrintable(u"The exported CSV differs from the client’s, %1"_s.arg(firstDifference(got, *expected))));
    }
}

void TestEndToEnd::confirmDelete(LiveSession& session, const SampleShop& shop)
{
    const auto cancelled = [&shop] {
        QString error;
        const std::optional<QString> count =
            shop.value(u"SELECT count(*) FROM orders WHERE status = 'cancelled'"_s, &error);
        return count ? count->toInt() : -1;
    };
    const int before = cancelled();
    QVERIFY2(before > 0, "The sample shop has no cancelled orders to delete.");

    // Writes on, so that the server answers with a DELETE.
    const ProbedWidget writes = session.waitFor(u"Destructive Commands"_s);
    QCOMPARE(writes.value, u"0"_s);
    GUI_INPUT(session, session.click(writes));
    QTRY_COMPARE_WITH_TIMEOUT(session.find(u"Destructive Commands"_s).value, u"1"_s, 5000);
    generate(session, u"Delete orders where status is cancelled"_s, true);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(session.find(u"Generated SQL"_s).text.startsWith(u"DELETE FROM orders"_s),
             qPrintable(session.find(u"Generated SQL"_s).text));

    // Execute asks first; Cancel leaves the data alone.
    GUI_INPUT(session, session.click(session.waitFor(u"Execute"_s)));
    QVERIFY2(session.waitFor(u"Run Query"_s).found, "Executing a DELETE did not ask first.");
    GUI_STEP(session.screenshot(u"06-confirm-delete"_s));
    GUI_INPUT(session, session.click(session.waitFor(u"Cancel"_s)));
    QVERIFY(session.waitUntilGone(u"Run Query"_s));
    GUI_INPUT(session, session.refocus());
    QCOMPARE(cancelled(), before);

    // Run Query deletes them.
    GUI_INPUT(session, session.click(session.waitFor(u"Execute"_s)));
    GUI_INPUT(session, session.click(session.waitFor(u"Run Query"_s)));
    QVERIFY(session.waitUntilGone(u"Run Query"_s));
    GUI_INPUT(session, session.refocus());
    const QString done = u"OK — %1 rows affected ("_s.arg(before);
    QTRY_VERIFY2_WITH_TIMEOUT(session.find(u"resultsStatusLabel"_s).text.startsWith(done),
                              qPrintable(session.find(u"resultsStatusLabel"_s).text), 20000);
    QCOMPARE(cancelled(), 0);
    GUI_STEP(session.screenshot(u"07-deleted"_s));
}

void TestEndToEnd::cancelGeneration(LiveSession& session, bool withKeys)
{
    // The demo server answers this prompt three seconds late.
    const QString sqlBefore = session.find(u"Generated SQL"_s).text;
    GUI_INPUT(session, session.fillField(u"Prompt"_s, u"Wait 3 seconds, then count orders"_s));
    GUI_INPUT(session, session.pressKeys(u"ctrl+Return"_s));
    QVERIFY(session.waitForText(u"statusLabel"_s, u"Generating SQL…"_s).found);
    QCOMPARE(session.find(u"statusLabel"_s).text, u"Generating SQL…"_s);
    QTRY_VERIFY_WITH_TIMEOUT(session.serverLog().join(u'\n').contains(u"waiting 3 s before answering"_s), 5000);
    GUI_STEP(session.screenshot(u"08-generating"_s));
    // The send button is the stop button now; Ctrl+Return presses it too.
    if (withKeys)
        GUI_INPUT(session, session.pressKeys(u"ctrl+Return"_s));
    else
        GUI_INPUT(session, session.click(session.waitFor(u"Stop"_s)));
    const ProbedWidget status = session.waitForText(u"statusLabel"_s, u"Generation cancelled."_s);
    QCOMPARE(status.text, u"Generation cancelled."_s);
    GUI_STEP(session.screenshot(u"09-cancelled"_s));

    // The server's late answer finds nobody waiting, and nothing on screen changes.
    QTRY_VERIFY_WITH_TIMEOUT(session.serverLog().join(u'\n').contains(u"not sent: the client left"_s), 10000);
    QCOMPARE(session.find(u"statusLabel"_s).text, u"Generation cancelled."_s);
    QCOMPARE(session.find(u"Generated SQL"_s).text, sqlBefore);
    QVERIFY(session.find(u"Send"_s).found);
}

void TestEndToEnd::signOutAndQuit(LiveSession& session, const AppProfile& profile)
{
    GUI_INPUT(session, session.click(session.waitFor(u"More"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Sign Out…"_s)));
    GUI_INPUT(session, session.click(session.waitFor(u"Sign Out"_s)));
    QVERIFY2(!GuiTest::waitForXWindow(session, u"Mirelo"_s, QSize(460, 460)).isEmpty(),
             "The sign-in window did not come back after signing out.");
    QVERIFY(session.waitFor(u"Server URL"_s).found);
    GUI_STEP(session.screenshot(u"10-signed-out"_s));

    // The key is gone; the connection and its password stay.
    const QJsonObject credentials = GuiTest::readJson(profile.credentialsPath());
    QVERIFY(!credentials.contains(u"apiKey"));
    QCOMPARE(credentials.value(u"connections").toObject().size(), 1);
    const QJsonArray connections = GuiTest::readJson(profile.connectionsPath()).value(u"connections").toArray();
    QCOMPARE(connections.size(), 1);
    QCOMPARE(connections.first().toObject().value(u"name").toString(), u"Demo shop"_s);

    GUI_INPUT(session, session.pressKeys(u"ctrl+w"_s));
    QVERIFY2(session.waitForAppExit(10000), "Mirelo was still running after its last window closed.");
    QCOMPARE(session.app()->exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.app()->exitCode(), 0);
}

void TestEndToEnd::checkBackground(LiveSession& session, const QString& step, bool dark)
{
    // The workspace's backdrop, away from any control: light or dark as chosen.
    const QImage shot(session.screenshotFolder() + QLatin1Char('/') + step + u".png"_s);
    QVERIFY(!shot.isNull());
    const ProbedWidget prompt = session.find(u"Prompt"_s);
    const QRect area(prompt.rect.right() - 60, prompt.rect.top() - 150, 40, 40);
    qint64 sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            sum += qGray(shot.pixel(x, y));
    }
    const int average = int(sum / (qint64(area.width()) * area.height()));
    if (dark)
        QVERIFY2(average < 80, qPrintable(u"The backdrop is not dark: grey %1"_s.arg(average)));
    else
        QVERIFY2(average > 200, qPrintable(u"The backdrop is not light: grey %1"_s.arg(average)));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
