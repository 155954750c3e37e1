#include "LiveSession.h"

#include <QImage>
#include <QRegularExpression>
#include <QSettings>

// The whole product as a user meets it: the built `mirelo` under a virtual X display,
// driven with real input events, signed in to the demo server, over a fresh copy of the
// sample shop in the PostgreSQL or MariaDB test server. The connection is made in the
// connection sheet; each example prompt is generated, executed and exported, and the export
// is compared with the database client's own CSV of the same statement. A destructive
// statement is confirmed and its effect read back, a generation is stopped, and the user
// signs out. PostgreSQL in light, MariaDB in dark; screenshots of each step go to
// build/screenshots/endtoend-<run>/.
//
// CSV: Mirelo quotes a field that holds a comma, a double quote, a line feed or a carriage
// return, doubling its quotes, and writes NULL as an empty field; psql --csv does the same,
// and also quotes a field that is exactly \. (so that COPY does not read it as the end of
// the data), which Mirelo writes as it is. The sample rows hold no such field, so the files
// must be equal byte for byte. For MariaDB the client's tab-separated output is turned into
// CSV by the same rule (SampleShop); the sample rows hold no text NULL, which that output
// cannot tell from a NULL. Either would show as a difference, never hide one.

// A copy of the sample shop of its own for one walk, in the PostgreSQL or MariaDB test
// server that scripts/lib/dbservers.sh started, made, read and changed through the servers'
// own command-line clients (psql, mariadb), never through Mirelo's code. Dropped when it goes.
class SampleShop final
{
    Q_DISABLE_COPY_MOVE(SampleShop)

public:
    explicit SampleShop(const QString& dialect) : m_pg(dialect == u"postgresql"_s) {}
    ~SampleShop()
    {
        if (!m_database.isEmpty())
            run(variable("DATABASE"), {m_pg ? u"-c"_s : u"-e"_s, u"DROP DATABASE "_s + m_database});
    }

    QString variable(const QByteArray& name) const
    {
        return qEnvironmentVariable(((m_pg ? "MIRELO_TEST_PG_" : "MIRELO_TEST_MYSQL_") + name).constData());
    }

    // Makes the database and loads the sample data into it. Empty on success.
    QString create(const QString& name)
    {
        QString error;
        const QString make = u"CREATE DATABASE "_s + name + (m_pg ? u""_s : u" CHARACTER SET utf8mb4"_s);
        run(variable("DATABASE"), {m_pg ? u"-c"_s : u"-e"_s, make}, &error);
        if (!error.isEmpty())
            return error;
        m_database = name;
        run(m_database, {}, &error,
            QStringLiteral(MIRELO_SAMPLE_DIR) + (m_pg ? u"/postgresql.sql"_s : u"/mysql.sql"_s));
        return error;
    }

    // The statement's rows as CSV, by the client: psql --csv as it is; for MariaDB, whose
    // client writes no CSV, mariadb --batch --raw turned into it by the common rule (a field
    // that holds a comma, a double quote, a line feed or a carriage return is quoted, its
    // quotes doubled; NULL is an empty field). Tabs and line feeds in values would break the
    // lines apart; the sample rows hold none.
    QByteArray csv(const QString& sql, QString* error = nullptr) const
    {
        if (m_pg)
            return run(m_database, {u"--csv"_s, u"-c"_s, sql}, error);
        QByteArray out;
        const QList<QByteArray> lines = run(m_database, {u"-e"_s, sql}, error).split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            QList<QByteArray> fields = lines.at(i).split('\t');
            for (QByteArray& field : fields) {
                // The header is never NULL; a value shown as NULL is one.
                if (i > 0 && field == "NULL")
                    field.clear();
                else if (field.contains(',') || field.contains('"') || field.contains('\r'))
                    field = '"' + field.replace("\"", "\"\"") + '"';
            }
            out += fields.join(',') + '\n';
        }
        return out;
    }

private:
    QByteArray run(const QString& database, const QStringList& arguments, QString* error = nullptr,
                   const QString& inputFile = {}) const
    {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(m_pg ? u"PGPASSWORD"_s : u"MYSQL_PWD"_s, variable("PASSWORD"));
        tool.setProcessEnvironment(env);
        if (!inputFile.isEmpty())
            tool.setStandardInputFile(inputFile);
        QStringList all = m_pg ? QStringList{u"-X"_s, u"-q"_s,          u"-v"_s, u"ON_ERROR_STOP=1"_s,
                                             u"-p"_s, variable("PORT"), u"-U"_s, variable("USER")}
                               : QStringList{u"--no-defaults"_s, u"--batch"_s, u"--raw"_s,      u"-P"_s,
                                             variable("PORT"),   u"-u"_s,      variable("USER")};
        all << u"-h"_s << variable("HOST") << (m_pg ? u"-d"_s : u"-D"_s) << database << arguments;
        tool.start(m_pg ? u"psql"_s : u"mariadb"_s, all);
        const bool ran =
            tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
        if (!ran && error)
            *error = u"%1 %2 failed: %3"_s.arg(tool.program(), arguments.join(u' '),
                                               QString::fromLocal8Bit(tool.readAllStandardError()).trimmed());
        return tool.readAllStandardOutput();
    }

    bool m_pg;
    QString m_database;
};

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void walkThrough_data();
    void walkThrough();
};

void TestEndToEnd::walkThrough_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<bool>("dark");
    QTest::newRow("postgresql_light") << u"postgresql"_s << false;
    QTest::newRow("mariadb_dark") << u"mysql"_s << true;
}

void TestEndToEnd::walkThrough()
{
    QFETCH(QString, dialect);
    QFETCH(bool, dark);
    // A shop of its own: the walk deletes rows, and other tests count them in the shared one.
    SampleShop shop(dialect);
    GUI_REQUIRE(LiveSession::missingTools());
    GUI_REQUIRE(shop.variable("HOST").isEmpty() ? u"The test database servers' variables (MIRELO_TEST_*) are "
                                                  "missing; source scripts/lib/dbservers.sh and mirelo_db_start."_s
                                                : QString());
    const QString run = QString::fromLatin1(QTest::currentDataTag());
    const QString database = u"mirelo_e2e_%1_%2"_s.arg(run).arg(QCoreApplication::applicationPid());
    GUI_STEP(shop.create(database));
    const QString kGenerated = u"SQL generated. Review it, then Execute."_s;

    LiveSession session(u"endtoend-"_s + run);
    GUI_STEP(session.start(dialect));
    const AppProfile profile = session.makeProfile();
    if (!dark)
        QSettings(profile.root + u"/config/Mirelo/Mirelo.conf"_s, QSettings::IniFormat).setValue(u"MRThemeMode"_s, 1);
    GUI_STEP(session.startApp(profile));
    QString mainWindow;
    GUI_STEP(session.signIn(&mainWindow));
    for (const QString& item : dark ? QStringList{u"View"_s, u"Appearance"_s, u"Dark"_s} : QStringList())
        GUI_STEP(session.click(session.waitFor(u"menu "_s + item)));
    // Tall enough for a whole result beneath its statement, as a user would make it.
    GUI_STEP(session.placeWindow(mainWindow, QRect(120, 12, 1040, 1000)));

    // The connection, made in the connection sheet; MySQL is the type's next choice.
    GUI_STEP(session.click(session.waitFor(u"connButton"_s, u"Run against · No database"_s)));
    GUI_STEP(session.click(session.waitFor(u"menu Manage Databases…"_s)));
    GUI_STEP(session.fillField(u"Name"_s, u"Demo shop"_s));
    if (dialect != u"postgresql"_s) {
        GUI_STEP(session.click(session.find(u"Type"_s)));
        QTRY_VERIFY_WITH_TIMEOUT(session.popupShown(), 5000);
        GUI_STEP(session.pressKeys(u"Down Return"_s));
    }
    for (const QString& field : {u"Host"_s, u"Port"_s, u"Username"_s, u"Password"_s})
        GUI_STEP(session.fillField(field, shop.variable(field == u"Username"_s ? "USER" : field.toUpper().toLatin1())));
    GUI_STEP(session.fillField(u"Database"_s, database));
    GUI_STEP(session.screenshot(u"00-connection-sheet"_s));
    GUI_STEP(session.click(session.waitFor(u"Save"_s)));
    GUI_STEP(session.click(session.waitFor(u"Done"_s)));
    QTRY_VERIFY2(!session.find(u"Host"_s).found, "The connection sheet stayed open after Done.");
    GUI_STEP(session.refocus());
    GUI_STEP(session.click(session.waitFor(u"connButton"_s)));
    GUI_STEP(session.click(session.waitFor(u"menu Demo shop"_s)));
    GUI_STEP(session.screenshot(u"01-main-window"_s));
    // The workspace's backdrop above the prompt, away from any control: light or dark as chosen.
    const QRect prompt = session.find(u"Prompt"_s).shown;
    const QImage backdrop = QImage(session.screenshotFolder() + u"/01-main-window.png"_s)
                                .copy(prompt.right() - 60, prompt.top() - 150, 40, 40)
                                .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int grey = qGray(backdrop.pixel(0, 0));
    QVERIFY2(dark ? grey < 80 : grey > 200, qPrintable(u"The backdrop's grey is %1."_s.arg(grey)));

    // Each example prompt: generated from its row (File ▸ New Query brings the rows back),
    // executed, its rows in the grid, and exported from the context menu of the first row.
    const QStringList examples{u"Show the 10 most recent orders"_s, u"Count users who signed up this month"_s,
                               u"Top 5 products by total revenue"_s, u"Customers with no orders in 90 days"_s};
    for (qsizetype i = 0; i < examples.size(); ++i) {
        const QString step = u"%1-example-%2"_s.arg(int(i) + 2, 2, 10, QLatin1Char('0')).arg(i + 1);
        GUI_STEP(session.pressKeys(u"ctrl+n"_s));
        GUI_STEP(session.click(session.waitFor(examples.at(i))));
        QCOMPARE(session.waitFor(u"statusLabel"_s, kGenerated).text, kGenerated);
        const QString sql = session.find(u"Generated SQL"_s).text;
        const QByteArray expected = shop.csv(sql);
        const int rows = int(expected.count('\n')) - 1;

        // The summary line says how many rows came back, as "10 rows (1.2ms)".
        GUI_STEP(session.click(session.waitFor(u"Execute"_s)));
        const QRegularExpression summary(u"^%1 rows? \\(\\d+\\.\\dms\\)$"_s.arg(rows));
        QTRY_VERIFY2_WITH_TIMEOUT(summary.match(session.find(u"resultsStatusLabel"_s).text).hasMatch(),
                                  qPrintable(session.find(u"resultsStatusLabel"_s).text), 20000);
        const ProbedWidget grid = session.find(u"Results"_s);
        QCOMPARE(grid.rows, rows);
        GUI_STEP(session.screenshot(step));

        // In the file dialog the path is typed over the proposed name, then Return; a
        // completion list over the field would take the Return.
        GUI_STEP(session.clickAt(QPoint(grid.viewport.left() + 40, grid.viewport.top() + 11), 3));
        GUI_STEP(session.click(session.waitFor(u"menu Export CSV…"_s)));
        const QString path = session.screenshotFolder() + u'/' + step + u".csv"_s;
        // The completion list reads the folder in the background and can open after the
        // path is typed, taking the Return (and maybe the text) for itself: then the path
        // is typed again.
        bool saved = false;
        for (int attempt = 0; attempt < 3 && !saved; ++attempt) {
            GUI_STEP(session.fillField(u"fileNameEdit"_s, path));
            QTRY_VERIFY_WITH_TIMEOUT(!session.popupShown(), 5000);
            GUI_STEP(session.pressKeys(u"Return"_s));
            saved = QTest::qWaitFor([&] { return !session.find(u"fileNameEdit"_s).found; }, 10000);
        }
        QVERIFY2(saved, "The file dialog stayed open.");
        GUI_STEP(session.refocus());
        QFile exported(path);
        QVERIFY2(exported.open(QIODevice::ReadOnly), qPrintable(exported.errorString()));
        QCOMPARE(exported.readAll(), expected);
    }

    // With writes allowed the server answers with a DELETE; Execute asks first, and Run
    // Query deletes the rows.
    QString error;
    const QString cancelled = u"SELECT count(*) AS n FROM orders WHERE status = 'cancelled'"_s;
    const QString before = QString::fromUtf8(shop.csv(cancelled, &error).split('\n').value(1));
    QVERIFY2(before.toInt() > 0, qPrintable(u"No cancelled orders to delete: %1"_s.arg(error)));
    GUI_STEP(session.click(session.waitFor(u"Destructive Commands"_s)));
    GUI_STEP(session.fillField(u"Prompt"_s, u"Delete orders where status is cancelled"_s));
    GUI_STEP(session.pressKeys(u"ctrl+Return"_s));
    QCOMPARE(session.waitFor(u"statusLabel"_s, kGenerated).text, kGenerated);
    GUI_STEP(session.click(session.waitFor(u"Execute"_s)));
    QVERIFY2(session.waitFor(u"Run Query"_s).found, "Executing a DELETE did not ask first.");
    GUI_STEP(session.click(session.find(u"Run Query"_s)));
    QTRY_VERIFY(!session.find(u"Run Query"_s).found);
    GUI_STEP(session.refocus());
    const QString done = u"OK — %1 rows affected ("_s.arg(before);
    QTRY_VERIFY2_WITH_TIMEOUT(session.find(u"resultsStatusLabel"_s).text.startsWith(done),
                              qPrintable(session.find(u"resultsStatusLabel"_s).text), 20000);
    QCOMPARE(shop.csv(cancelled, &error), "n\n0\n"_ba);
    GUI_STEP(session.screenshot(u"07-deleted"_s));

    // Stopping a generation: the demo server answers this prompt three seconds late; its
    // late answer finds nobody waiting, and nothing on screen changes.
    const QString sqlBefore = session.find(u"Generated SQL"_s).text;
    GUI_STEP(session.fillField(u"Prompt"_s, u"Wait 3 seconds, then count orders"_s));
    GUI_STEP(session.pressKeys(u"ctrl+Return"_s));
    QTRY_VERIFY_WITH_TIMEOUT(session.serverLogContains(u"waiting 3 s before answering"_s), 5000);
    GUI_STEP(session.click(session.waitFor(u"Stop"_s)));
    QTRY_VERIFY_WITH_TIMEOUT(session.serverLogContains(u"not sent: the client left"_s), 10000);
    QCOMPARE(session.find(u"statusLabel"_s).text, u"Generation cancelled."_s);
    QCOMPARE(session.find(u"Generated SQL"_s).text, sqlBefore);
    GUI_STEP(session.screenshot(u"09-cancelled"_s));

    // Signing out: the sign-in window again; both credentials are gone, the connection and
    // its password stay.
    GUI_STEP(session.click(session.waitFor(u"More"_s)));
    GUI_STEP(session.click(session.waitFor(u"menu Sign Out…"_s)));
    GUI_STEP(session.click(session.waitFor(u"Sign Out"_s)));
    QVERIFY2(!session.waitForWindow(QSize(460, 460)).isEmpty(), "The sign-in window did not come back.");
    GUI_STEP(session.screenshot(u"10-signed-out"_s));
    const QJsonObject credentials = profile.credentials();
    QVERIFY(!credentials.contains(u"apiKey") && !credentials.contains(u"serverURL"));
    QCOMPARE(credentials.value(u"connections").toObject().size(), 1);

    // Closing the last window (File ▸ Close, Ctrl+W) ends the application with 0.
    GUI_STEP(session.pressKeys(u"ctrl+w"_s));
    QVERIFY2(session.app()->waitForFinished(10000) && session.app()->exitStatus() == QProcess::NormalExit &&
                 session.app()->exitCode() == 0,
             "Mirelo did not end with 0 after its last window closed.");
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
