#include "GuiTest.h"

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
// sample shop in the PostgreSQL test server. Each example prompt is generated, executed and
// exported; the export is compared with psql's own CSV of the same statement. A destructive
// statement is confirmed, a generation is cancelled, and the user signs out. Once light,
// once dark; screenshots of each step go to build/screenshots/endtoend-<run>/.
//
// CSV: Mirelo quotes a field that holds a comma, a double quote, a line feed or a carriage
// return, and so does psql --csv; psql also quotes a field that is exactly \. (so that COPY
// does not read it as the end of the data), which Mirelo writes as it is. The sample rows
// hold no such field (the test checks), so the two files must be equal byte for byte:
// the same header line, the same quoting, NULL as an empty field, a line feed after every
// line.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void walkThrough_data();
    void walkThrough();

private:
    void signIn(LiveSession& session);
    void chooseDark(LiveSession& session, const AppProfile& profile);
    void addConnectionThroughSheet(LiveSession& session);
    void generate(LiveSession& session, const QString& prompt, bool typed);
    void executeAndCompare(LiveSession& session, const QString& database, const QString& step);
    void exportAndCompare(LiveSession& session, const QString& database, const QString& sql, const QString& step);
    void confirmDelete(LiveSession& session, const QString& database);
    void cancelGeneration(LiveSession& session, bool withKeys);
    void signOutAndQuit(LiveSession& session, const AppProfile& profile);
    void checkBackground(LiveSession& session, const QString& step, bool dark);

    QString m_database;
};

namespace {

const auto kGenerated = u"SQL generated. Review it, then Execute."_s;

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

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
            return u"line %1: Mirelo “%2”, psql “%3”"_s.arg(i + 1).arg(QString::fromUtf8(left),
                                                                       QString::fromUtf8(right));
    }
    return {};
}

} // namespace

void TestEndToEnd::initTestCase()
{
    GUI_REQUIRE_TOOLS();
    if (env("MIRELO_TEST_PG_PORT").isEmpty()) {
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))
            QFAIL("The database servers' MIRELO_TEST_PG_* variables are missing.");
        QSKIP("No test database: run scripts/test, or source scripts/lib/dbservers.sh and mirelo_db_start.");
    }
}

void TestEndToEnd::walkThrough_data()
{
    // dark: the appearance chosen in the View menu, the connection preset in the profile
    // as scripts/demo makes it, the prompts typed; light: the appearance preset, the
    // connection made in the connection sheet, the example rows clicked.
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    QTest::newRow("dark") << true;
}

void TestEndToEnd::walkThrough()
{
    QFETCH(bool, dark);
    const QString run = QString::fromLatin1(QTest::currentDataTag());
    LiveSession session(u"endtoend-"_s + run);

    // A shop of its own: the walk deletes rows, and other tests count them in the shared one.
    m_database = u"mirelo_e2e_%1_%2"_s.arg(run).arg(QCoreApplication::applicationPid());
    QString error;
    QVERIFY2(LiveSession::psql(env("MIRELO_TEST_PG_DATABASE"), {u"-c"_s, u"CREATE DATABASE "_s + m_database}, &error),
             qPrintable(error));
    const auto dropDatabase = qScopeGuard([this] {
        QString ignored;
        LiveSession::psql(env("MIRELO_TEST_PG_DATABASE"),
                          {u"-c"_s, u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_database)}, &ignored);
    });
    QVERIFY2(LiveSession::psql(m_database, {u"-f"_s, QStringLiteral(MIRELO_SAMPLE_DIR "/postgresql.sql")}, &error),
             qPrintable(error));

    GUI_STEP(session.startDisplay());
    GUI_STEP(session.startDemoServer(u"postgresql"_s));
    AppProfile profile;
    GUI_STEP(session.makeProfile(&profile));
    if (dark) {
        // As scripts/demo prepares its profile: the connection and its password on file.
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        QDir().mkpath(QFileInfo(profile.credentialsPath()).path());
        writeFile(
            profile.credentialsPath(),
            QJsonDocument(QJsonObject{{u"connections"_s, QJsonObject{{id, env("MIRELO_TEST_PG_PASSWORD")}}}}).toJson());
        const QJsonObject connection{{u"id"_s, id},
                                     {u"name"_s, u"Demo shop"_s},
                                     {u"type"_s, u"postgresql"_s},
                                     {u"host"_s, env("MIRELO_TEST_PG_HOST")},
                                     {u"port"_s, env("MIRELO_TEST_PG_PORT").toInt()},
                                     {u"database"_s, m_database},
                                     {u"username"_s, env("MIRELO_TEST_PG_USER")},
                                     {u"ssl"_s, false}};
        writeFile(profile.connectionsPath(), QJsonDocument(QJsonObject{{u"connections"_s, QJsonArray{connection}},
                                                                       {u"active_connection_id"_s, id}})
                                                 .toJson());
    } else {
        QSettings settings(profile.settingsPath(), QSettings::IniFormat);
        settings.setValue(u"MRThemeMode"_s, 1);
    }
    GUI_STEP(session.startApp(profile));

    signIn(session);
    if (QTest::currentTestFailed())
        return;
    if (dark)
        chooseDark(session, profile);
    else
        addConnectionThroughSheet(session);
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
        generate(session, examples.at(i), dark);
        if (QTest::currentTestFailed())
            return;
        executeAndCompare(session, m_database, step);
        if (QTest::currentTestFailed())
            return;
    }

    confirmDelete(session, m_database);
    if (QTest::currentTestFailed())
        return;
    cancelGeneration(session, dark);
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

void TestEndToEnd::chooseDark(LiveSession& session, const AppProfile& profile)
{
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"View"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Appearance"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Dark"_s)));
    // The choice is stored as it is made.
    QTRY_COMPARE_WITH_TIMEOUT(QSettings(profile.settingsPath(), QSettings::IniFormat).value(u"MRThemeMode"_s).toInt(),
                              2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!session.menuItem(u"Dark"_s).found, 5000);
}

void TestEndToEnd::addConnectionThroughSheet(LiveSession& session)
{
    GUI_INPUT(session, session.click(session.waitForText(u"connButton"_s, u"Run against · No database"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Manage Databases…"_s)));
    QVERIFY2(session.waitFor(u"Host"_s).found, "The connection sheet did not open.");
    const QList<std::pair<QString, QString>> fields{
        {u"Name"_s, u"Demo shop"_s},
        {u"Host"_s, env("MIRELO_TEST_PG_HOST")},
        {u"Port"_s, env("MIRELO_TEST_PG_PORT")},
        {u"Database"_s, m_database},
        {u"Username"_s, env("MIRELO_TEST_PG_USER")},
        {u"Password"_s, env("MIRELO_TEST_PG_PASSWORD")},
    };
    for (const auto& [field, text] : fields)
        GUI_INPUT(session, session.fillField(field, text));
    QCOMPARE(session.find(u"Type"_s).text, u"PostgreSQL"_s);
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

void TestEndToEnd::executeAndCompare(LiveSession& session, const QString& database, const QString& step)
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
    const std::optional<QByteArray> expected = LiveSession::psql(database, {u"--csv"_s, u"-c"_s, sql}, &error);
    QVERIFY2(expected, qPrintable(error));
    const int rows = int(expected->count('\n')) - 1;
    QVERIFY2(rows > 0, qPrintable(u"No rows for %1"_s.arg(sql)));
    QCOMPARE(match.captured(1).toInt(), rows);
    QTRY_COMPARE_WITH_TIMEOUT(session.find(u"Results"_s).rows, rows, 5000);
    GUI_STEP(session.screenshot(step));
    exportAndCompare(session, database, sql, step);
}

void TestEndToEnd::exportAndCompare(LiveSession& session, const QString& database, const QString& sql,
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
    const auto popupShown = [&session] {
        const QList<QJsonObject> windows = session.windows();
        return std::any_of(windows.cbegin(), windows.cend(),
                           [](const QJsonObject& w) { return w.value(u"popup").toBool(); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(!popupShown(), 5000);
    GUI_INPUT(session, session.pressKeys(u"Return"_s));
    QVERIFY2(session.waitUntilGone(u"fileNameEdit"_s), "The file dialog stayed open.");
    GUI_INPUT(session, session.refocus());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path), 5000);

    QString error;
    const std::optional<QByteArray> expected = LiveSession::psql(database, {u"--csv"_s, u"-c"_s, sql}, &error);
    QVERIFY2(expected, qPrintable(error));
    QVERIFY2(!expected->contains("\"\\.\""), "A field is exactly \\., which psql quotes and Mirelo does not.");
    const QByteArray got = readFile(path);
    if (got != *expected) {
        writeFile(session.screenshotFolder() + QLatin1Char('/') + step + u".psql.csv"_s, *expected);
        QFAIL(qPrintable(u"The exported CSV differs from psql’s, %1"_s.arg(firstDifference(got, *expected))));
    }
}

void TestEndToEnd::confirmDelete(LiveSession& session, const QString& database)
{
    const auto cancelled = [&database] {
        QString error;
        const std::optional<QByteArray> count = LiveSession::psql(
            database, {u"-t"_s, u"-A"_s, u"-c"_s, u"SELECT count(*) FROM orders WHERE status = 'cancelled'"_s}, &error);
        return count ? count->trimmed().toInt() : -1;
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
