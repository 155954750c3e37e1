#include "db/ConnectionManager.h"
#include "db/ConnectionSheetController.h"
#include "db/DatabaseExecutor.h"
#include "support/TestDatabases.h"
#include "ui/MRButton.h"
#include "ui/MRContentRootView.h"
#include "ui/MRLabel.h"
#include "ui/MRSpinnerView.h"
#include "ui/MRTheme.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const auto kPostgreSQL = u"postgresql"_s;
const auto kBadPort = u"The port must be a number from 1 to 65535."_s;

// A server that takes connections and says nothing until told to hang up, so that a test
// of the connection stays in flight for as long as the test needs it to.
class SilentServer : public QTcpServer
{
public:
    SilentServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                hungUp ? socket->abort() : held.append(socket);
        });
    }
    // Closes every connection, now and from now on.
    void hangUp()
    {
        hungUp = true;
        for (QTcpSocket* socket : std::as_const(held))
            socket->abort();
    }
    QList<QTcpSocket*> held;
    bool hungUp = false;
};

DatabaseConnection record(const QString& name, const QString& type = kPostgreSQL, qint64 port = 5432)
{
    DatabaseConnection c;
    std::tie(c.name, c.type, c.host, c.port) = std::tuple(name, type, u"db.example.com"_s, port);
    return c;
}

// The store, one record a line: name type host:port database user ssl.
QStringList stored()
{
    QStringList lines;
    for (const DatabaseConnection& c : ConnectionManager::shared().connections())
        lines << u"%1 %2 %3:%4 %5 %6 %7"_s.arg(c.name, c.type, c.host)
                     .arg(c.port)
                     .arg(c.database, c.username, c.ssl ? u"ssl"_s : u"plain"_s);
    return lines;
}

} // namespace

class TestConnectionSheet : public QObject, ConnectionSheetControllerDelegate
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<ConnectionSheetController> m_controller;
    int m_dismissed = 0;

    // Like the main window, the owner lets the controller go when the sheet is dismissed.
    void connectionSheetDidDismiss() override
    {
        ++m_dismissed;
        m_controller.reset();
    }

    ConnectionSheetController& open(const QList<DatabaseConnection>& records = {})
    {
        for (const DatabaseConnection& c : records)
            ConnectionManager::shared().addConnection(c);
        m_controller = std::make_unique<ConnectionSheetController>();
        m_controller->setDelegate(this);
        m_controller->beginSheetModalForWindow(m_window.get());
        // The list has the keyboard first.
        (void)QTest::qWaitForWindowActive(m_controller->sheet());
        (void)QTest::qWaitFor([this] { return QApplication::focusWidget() == m_controller->listTable(); });
        return *m_controller;
    }

    // Edits the form as a user would: "field=value" types into a field (replacing its text),
    // "type=MySQL" picks from the pop-up with the keyboard, "ssl" ticks the box, "add" presses
    // Add, "row=N" clicks a row of the list.
    void fill(const QStringList& edits)
    {
        ConnectionSheetController& c = *m_controller;
        const QHash<QString, QLineEdit*> fields{{u"name"_s, c.nameField()},         {u"host"_s, c.hostField()},
                                                {u"port"_s, c.portField()},         {u"database"_s, c.databaseField()},
                                                {u"username"_s, c.usernameField()}, {u"password"_s, c.passwordField()}};
        for (const QString& edit : edits) {
            const QString key = edit.section(u'=', 0, 0);
            const QString value = edit.section(u'=', 1);
            if (key == u"add") {
                QTest::mouseClick(c.addButton(), Qt::LeftButton);
            } else if (key == u"ssl") {
                QTest::mouseClick(c.sslCheckbox(), Qt::LeftButton, {}, QPoint(6, c.sslCheckbox()->height() / 2));
            } else if (key == u"type") {
                c.typePopup()->setFocus(Qt::TabFocusReason);
                if (c.typePopup()->currentText() != value)
                    QTest::keyClick(c.typePopup(), value == u"MySQL" ? Qt::Key_Down : Qt::Key_Up);
            } else if (key == u"row") {
                QListWidget* list = c.listTable();
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualItemRect(list->item(value.toInt())).center());
            } else {
                QLineEdit* field = fields.value(key);
                field->setFocus(Qt::TabFocusReason);
                field->selectAll();
                QTest::keyClick(field, Qt::Key_Backspace);
                QTest::keyClicks(field, value);
            }
        }
    }

private Q_SLOTS:
    void init()
    {
        ConnectionManager& manager = ConnectionManager::shared();
        for (const DatabaseConnection& c : manager.connections())
            manager.removeConnectionWithId(c.connectionId);
        m_window = std::make_unique<MRContentRootView>();
        m_window->resize(900, 640);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_dismissed = 0;
    }

    void cleanup()
    {
        m_controller.reset();
        m_window.reset();
    }

    void saving_data()
    {
        QTest::addColumn<QStringList>("edits"); // see fill(), on a sheet listing A, B and C
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("row");        // of the record saved, or -1
        QTest::addColumn<QString>("record"); // as stored() shows it

        const auto add = [](const char* name, const QStringList& edits, const QString& status, int row,
                            const QString& record) { QTest::newRow(name) << edits << status << row << record; };
        add("everything typed, blanks trimmed",
            {u"add"_s, u"name=  Shop  "_s, u"type=MySQL"_s, u"host=10.0.0.7"_s, u"port= 3307 "_s, u"database=shop"_s,
             u"username=ann"_s, u"password=secret"_s, u"ssl"_s},
            u"Saved."_s, 3, u"Shop mysql 10.0.0.7:3307 shop ann ssl"_s);
        add("blank name refused", {u"add"_s, u"name=   "_s}, u"Name is required."_s, -1, QString());
        add("highest port", {u"add"_s, u"port=65535"_s}, u"Saved."_s, 3, u"New Connection postgresql :65535   plain"_s);
        for (const char* bad : {"0", "65536", "99999999999999999999", "+5432"})
            QTest::addRow("port \"%s\" refused", bad)
                << QStringList{u"add"_s, u"port="_s + QLatin1String(bad)} << kBadPort << -1 << QString();
        add("edit keeps id and place", {u"row=1"_s, u"name=Bee"_s, u"port=3310"_s}, u"Saved."_s, 1,
            u"Bee mysql db.example.com:3310   plain"_s);
        add("bad port on an edit changes nothing", {u"row=2"_s, u"port=70000"_s}, kBadPort, -1, QString());
        // A type change moves the port along only from the other type's default.
        add("default port follows the type", {u"row=1"_s, u"type=PostgreSQL"_s}, u"Saved."_s, 1,
            u"B postgresql db.example.com:5432   plain"_s);
        add("the user's own port stays", {u"add"_s, u"port=6543"_s, u"type=MySQL"_s}, u"Saved."_s, 3,
            u"New Connection mysql :6543   plain"_s);
        add("out of range stays for Save to refuse", {u"add"_s, u"port=70000"_s, u"type=MySQL"_s}, kBadPort, -1,
            QString());
    }

    void saving()
    {
        QFETCH(QStringList, edits);
        QFETCH(QString, status);
        QFETCH(int, row);
        QFETCH(QString, record);
        const QList<DatabaseConnection> records{::record(u"A"_s), ::record(u"B"_s, u"mysql"_s, 3306), ::record(u"C"_s)};
        ConnectionSheetController& c = open(records);
        QStringList expected = stored();
        fill(edits);
        QTest::mouseClick(c.saveButton(), Qt::LeftButton);

        QCOMPARE(c.statusText(), status);
        QCOMPARE(c.statusLabel()->textColor(), row < 0 ? MRTheme::danger() : MRTheme::success());
        if (row >= 0) {
            expected.resize(qMax(expected.size(), row + 1));
            expected[row] = record;
        }
        QCOMPARE(stored(), expected);
        const QList<DatabaseConnection> after = ConnectionManager::shared().connections();
        for (int i = 0; i < records.size(); ++i)
            QCOMPARE(after.at(i).connectionId, records.at(i).connectionId);
        if (row >= 0) {
            QCOMPARE(c.listTable()->currentRow(), row);
            QCOMPARE(c.editingConnectionId(), after.at(row).connectionId);
        }
    }

    // Return saves wherever the keyboard is, Done included; Escape closes, and the owner
    // hears it once the sheet is out of the way.
    void keys()
    {
        ConnectionSheetController& c = open({record(u"Kept"_s)});
        // A window-modal sheet showing the first record, its password hidden.
        QCOMPARE(c.sheet()->windowModality(), Qt::WindowModal);
        QCOMPARE(c.nameField()->text(), u"Kept"_s);
        QCOMPARE(c.passwordField()->echoMode(), QLineEdit::Password);
        for (QWidget* target : {static_cast<QWidget*>(c.listTable()), static_cast<QWidget*>(c.nameField()),
                                static_cast<QWidget*>(c.doneButton())}) {
            target->setFocus(Qt::TabFocusReason);
            c.setStatus(QString(), ConnectionSheetController::Status::Progress);
            QTest::keyClick(target, Qt::Key_Return);
            QCOMPARE(c.statusText(), u"Saved."_s);
        }
        const QPointer<QDialog> sheet = c.sheet();
        QTest::keyClick(c.nameField(), Qt::Key_Escape);
        QTRY_VERIFY(!m_controller && !sheet);
        QCOMPARE(m_dismissed, 1);
    }

    // Typed in, never saved: a test needs no name and stores nothing.
    void testAgainstServers_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected"); // a pattern for the whole status
        for (const QString& type : {kPostgreSQL, u"mysql"_s}) {
            QTest::addRow("%s: success", qPrintable(type)) << type << QString() << u"Connection successful!"_s;
            QTest::addRow("%s: wrong password", qPrintable(type))
                << type << u"wrong"_s
                << (type == kPostgreSQL
                        ? u"Connection failed: .*FATAL:  password authentication failed for user \"mirelo\"\n"_s
                        : u"Connection failed: Access denied for user 'mirelo'@'[^']+' \\(using password: YES\\)"_s);
        }
    }

    void testAgainstServers()
    {
        QFETCH(QString, type);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        MIRELO_REQUIRE_DATABASE(server, type);
        ConnectionSheetController& c = open();
        fill({u"type="_s + (type == kPostgreSQL ? u"PostgreSQL"_s : u"MySQL"_s), u"name="_s, u"host="_s + server.host,
              u"port="_s + QString::number(server.port), u"database="_s + server.database,
              u"username="_s + server.username, u"password="_s + (password.isEmpty() ? server.password : password)});
        QTest::mouseClick(c.testButton(), Qt::LeftButton);
        QVERIFY(c.isTesting() && !c.testButton()->isEnabled() && c.spinner()->isAnimating());
        QCOMPARE(c.statusText(), u"Testing…"_s);

        QTRY_VERIFY_WITH_TIMEOUT(!c.isTesting(), 60000);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(expected),
                                    QRegularExpression::DotMatchesEverythingOption)
                     .match(c.statusText())
                     .hasMatch(),
                 qPrintable(c.statusText()));
        const bool ok = expected == u"Connection successful!";
        QCOMPARE(c.statusLabel()->textColor(), ok ? MRTheme::success() : MRTheme::danger());
        QVERIFY(c.testButton()->isEnabled() && !c.spinner()->isVisible());
        QVERIFY(stored().isEmpty());
    }

    // Ctrl+T tests on the executor's worker: while a server keeps it waiting, the sheet
    // answers the keyboard, and the answer that comes is the tested connection's.
    void testInFlight()
    {
        SilentServer server;
        DatabaseConnection first = record(u"First"_s, kPostgreSQL, server.serverPort());
        first.host = u"127.0.0.1"_s;
        ConnectionSheetController& c = open({first, record(u"Second"_s)});
        QTest::keyClick(c.nameField(), Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(c.statusText(), u"Testing…"_s);
        QTRY_COMPARE(server.held.size(), 1);
        fill({u"row=1"_s, u"name=Renamed"_s});
        QTest::keyClick(c.nameField(), Qt::Key_Return);
        QCOMPARE(c.statusText(), u"Saved."_s);
        QVERIFY(c.isTesting());
        server.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!c.isTesting(), 30000);
        QVERIFY2(c.statusText().startsWith(u"Connection failed"_s), qPrintable(c.statusText()));
        QCOMPARE(c.nameField()->text(), u"Renamed"_s);

        // Closed while a test is in flight: the answer finds no sheet, and the executor moves on.
        server.hungUp = false;
        fill({u"row=0"_s});
        QTest::keyClick(c.nameField(), Qt::Key_T, Qt::ControlModifier);
        QTRY_COMPARE(server.held.size(), 2);
        QTest::keyClick(c.nameField(), Qt::Key_Escape);
        QTRY_COMPARE(m_dismissed, 1);
        server.hangUp();
        bool later = false;
        DatabaseExecutor::shared().testConnection(first, [&later](bool, const QString&) { later = true; });
        QTRY_VERIFY_WITH_TIMEOUT(later, 30000);
    }

    // Without its client library, Test says how to get it and tries nothing.
    void testWithoutDriver()
    {
        const auto restore =
            qScopeGuard([] { DatabaseExecutor::setLibrarySearchListForTesting(kPostgreSQL, std::nullopt); });
        DatabaseExecutor::setLibrarySearchListForTesting(kPostgreSQL, QStringList{u"/nonexistent/libpq.so.5"_s});
        ConnectionSheetController& c = open({record(u"A"_s)});
        QTest::mouseClick(c.testButton(), Qt::LeftButton);
        QVERIFY(!c.isTesting());
        QMessageBox* alert = c.sheet()->findChild<QMessageBox*>();
        QVERIFY(alert && alert->isVisible() && alert->windowModality() == Qt::WindowModal);
        QCOMPARE(alert->text(), u"Driver Not Found"_s);
        QCOMPARE(alert->informativeText(), DatabaseExecutor::installInstructionsForType(kPostgreSQL));
    }
};

QTEST_MAIN(TestConnectionSheet)
#include "tst_connectionsheet.moc"
