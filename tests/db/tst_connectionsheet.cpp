#include "db/ConnectionManager.h"
#include "db/ConnectionSheetController.h"
#include "db/DatabaseExecutor.h"
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
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const auto kPostgreSQL = u"postgresql"_s;
const auto kMySQL = u"mysql"_s;
const auto kBadPort = u"The port must be a number from 1 to 65535."_s;

// The owner's side: counts the dismissals and, like the main window, may let the
// controller go on the first.
struct Owner : ConnectionSheetControllerDelegate
{
    std::unique_ptr<ConnectionSheetController>* controller = nullptr;
    int dismissed = 0;
    void connectionSheetDidDismiss() override
    {
        ++dismissed;
        if (controller)
            controller->reset();
    }
};

// A server that takes connections and says nothing until told to hang up, so that a test
// stays in flight for as long as the test needs it to.
class SilentServer
{
public:
    SilentServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                if (m_hangingUp)
                    socket->abort();
                else
                    m_held.append(socket);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    qsizetype held() const { return m_held.size(); }
    // Closes every connection, now and from now on.
    void hangUp()
    {
        m_hangingUp = true;
        for (QTcpSocket* socket : std::as_const(m_held))
            socket->abort();
    }

private:
    QTcpServer m_server;
    QList<QTcpSocket*> m_held;
    bool m_hangingUp = false;
};

DatabaseConnection record(const QString& name, const QString& type = kPostgreSQL, qint64 port = 5432)
{
    DatabaseConnection c;
    c.name = name;
    c.type = type;
    c.port = port;
    c.host = u"db.example.com"_s;
    return c;
}

// A stored record on one line: name type host:port database user ssl.
QString describe(const DatabaseConnection& c)
{
    return u"%1 %2 %3:%4 %5 %6 %7"_s.arg(c.name, c.type, c.host)
        .arg(c.port)
        .arg(c.database, c.username, c.ssl ? u"ssl"_s : u"plain"_s);
}

QString storedList()
{
    QStringList lines;
    for (const DatabaseConnection& c : ConnectionManager::shared().connections())
        lines << describe(c);
    return lines.join(u" | "_s);
}

QString listTexts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts.join(u'|');
}

// The test servers of scripts/test; see tst_databaseexecutor for the changes.
std::optional<DatabaseConnection> serverConnection(const QString& type, const QString& change)
{
    const QString prefix = type == kPostgreSQL ? u"MIRELO_TEST_PG_"_s : u"MIRELO_TEST_MYSQL_"_s;
    const auto env = [&](const char* name) { return qEnvironmentVariable((prefix + QLatin1String(name)).toLatin1()); };
    if (env("PORT").isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.type = type;
    c.host = env("HOST");
    c.port = change == u"closed port" ? 1 : env(change.endsWith(u"plain server") ? "PLAIN_PORT" : "PORT").toLongLong();
    c.database = env("DATABASE");
    c.username = env("USER");
    c.password = change == u"wrong password" ? u"wrong"_s : env("PASSWORD");
    c.ssl = change.startsWith(u"ssl");
    return c;
}

} // namespace

class TestConnectionSheet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void opening_data();
    void opening();
    void saving_data();
    void saving();
    void typeSwitch_data();
    void typeSwitch();
    void removing_data();
    void removing();
    void keys_data();
    void keys();
    void tabOrder();
    void layout();
    void testAgainstServers_data();
    void testAgainstServers();
    void staysResponsiveWhileTesting_data();
    void staysResponsiveWhileTesting();
    void driverNotFound_data();
    void driverNotFound();

private:
    void open(const QList<DatabaseConnection>& stored = {});
    void fill(const QStringList& edits);

    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<ConnectionSheetController> m_controller;
    Owner m_owner;
};

void TestConnectionSheet::init()
{
    ConnectionManager& manager = ConnectionManager::shared();
    for (const DatabaseConnection& c : manager.connections())
        manager.removeConnectionWithId(c.connectionId);
    manager.setActiveConnectionId(std::nullopt);
    m_window = std::make_unique<MRContentRootView>();
    m_window->resize(900, 640);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_owner = Owner();
}

void TestConnectionSheet::cleanup()
{
    m_controller.reset();
    m_window.reset();
    DatabaseExecutor::setLibrarySearchListForTesting(kPostgreSQL, std::nullopt);
    DatabaseExecutor::setLibrarySearchListForTesting(kMySQL, std::nullopt);
}

void TestConnectionSheet::open(const QList<DatabaseConnection>& stored)
{
    for (const DatabaseConnection& c : stored)
        ConnectionManager::shared().addConnection(c);
    m_controller = std::make_unique<ConnectionSheetController>();
    m_controller->setDelegate(&m_owner);
    m_controller->beginSheetModalForWindow(m_window.get());
    QDialog* sheet = m_controller->sheet();
    QVERIFY(sheet);
    QVERIFY(QTest::qWaitForWindowActive(sheet));
    // The list has the keyboard first.
    QTRY_COMPARE(QApplication::focusWidget(), m_controller->listTable());
}

// Edits the form as a user would: "field=value" types into a field (replacing its text),
// "type=MySQL" picks from the pop-up with the keyboard, "ssl" ticks the box, "add" presses Add.
void TestConnectionSheet::fill(const QStringList& edits)
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
            const bool down = value == u"MySQL";
            if (c.typePopup()->currentText() != value)
                QTest::keyClick(c.typePopup(), down ? Qt::Key_Down : Qt::Key_Up);
        } else if (key == u"row") {
            const int row = value.toInt();
            QListWidget* list = c.listTable();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
        } else {
            QLineEdit* field = fields.value(key);
            QVERIFY2(field, qPrintable(edit));
            field->setFocus(Qt::TabFocusReason);
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Backspace);
            QTest::keyClicks(field, value);
        }
    }
}

void TestConnectionSheet::opening_data()
{
    QTest::addColumn<QList<DatabaseConnection>>("stored");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("form"); // name|type|host|port|database|username|password|ssl
    QTest::addColumn<bool>("removeEnabled");

    QTest::newRow("empty store") << QList<DatabaseConnection>{} << QString() << u"|PostgreSQL||5432||||off"_s << false;
    DatabaseConnection shop = record(u"Shop"_s, kMySQL, 3307);
    shop.database = u"shop"_s;
    shop.username = u"ann"_s;
    shop.password = u"pw"_s;
    shop.ssl = true;
    QTest::newRow("first connection shown, unnamed listed")
        << QList<DatabaseConnection>{shop, record(QString())} << u"Shop|(unnamed)"_s
        << u"Shop|MySQL|db.example.com|3307|shop|ann|pw|on"_s << true;
}

void TestConnectionSheet::opening()
{
    QFETCH(QList<DatabaseConnection>, stored);
    QFETCH(QString, list);
    QFETCH(QString, form);
    QFETCH(bool, removeEnabled);
    open(stored);
    ConnectionSheetController& c = *m_controller;
    QCOMPARE(listTexts(c.listTable()), list);
    const QStringList shown{c.nameField()->text(),     c.typePopup()->currentText(),
                            c.hostField()->text(),     c.portField()->text(),
                            c.databaseField()->text(), c.usernameField()->text(),
                            c.passwordField()->text(), c.sslCheckbox()->isChecked() ? u"on"_s : u"off"_s};
    QCOMPARE(shown.join(u'|'), form);
    QCOMPARE(c.removeButton()->isEnabled(), removeEnabled);
    QCOMPARE(c.passwordField()->echoMode(), QLineEdit::Password);
    QCOMPARE(c.editingConnectionId(),
             stored.isEmpty() ? std::nullopt : std::optional<QString>(stored.first().connectionId));
    QCOMPARE(c.listTable()->selectedItems().size(), stored.isEmpty() ? 0 : 1);
    QCOMPARE(c.sheet()->windowModality(), Qt::WindowModal);
    QCOMPARE(c.sheet()->parentWidget(), m_window.get());
    QCOMPARE(c.sheet()->size(), QSize(660, 470));
}

void TestConnectionSheet::saving_data()
{
    QTest::addColumn<QList<DatabaseConnection>>("stored");
    QTest::addColumn<QStringList>("edits"); // see fill()
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("expected"); // the store afterwards, or empty when unchanged
    QTest::addColumn<int>("selected");     // the list row selected afterwards

    const QList<DatabaseConnection> none;
    const QList<DatabaseConnection> three{record(u"A"_s), record(u"B"_s, kMySQL, 3306), record(u"C"_s)};
    const QString kept = u"A postgresql db.example.com:5432   plain | B mysql db.example.com:3306   plain | C "
                         "postgresql db.example.com:5432   plain"_s;
    const auto row = [](const char* name, const QList<DatabaseConnection>& stored, const QStringList& edits,
                        const QString& status, const QString& expected,
                        int selected) { QTest::newRow(name) << stored << edits << status << expected << selected; };
    row("add, save untouched", none, {u"add"_s}, u"Saved."_s, u"New Connection postgresql :5432   plain"_s, 0);
    row("everything typed", none,
        {u"add"_s, u"name=Shop"_s, u"type=MySQL"_s, u"host=10.0.0.7"_s, u"port=3307"_s, u"database=shop"_s,
         u"username=ann"_s, u"password=secret"_s, u"ssl"_s},
        u"Saved."_s, u"Shop mysql 10.0.0.7:3307 shop ann ssl"_s, 0);
    row("name trimmed", none, {u"add"_s, u"name=  Shop  "_s}, u"Saved."_s, u"Shop postgresql :5432   plain"_s, 0);
    row("blank name refused", none, {u"add"_s, u"name=   "_s}, u"Name is required."_s, QString(), -1);
    row("cleared port gives the type's default", none, {u"add"_s, u"type=MySQL"_s, u"port="_s}, u"Saved."_s,
        u"New Connection mysql :3306   plain"_s, 0);
    row("port with blanks around it", none, {u"add"_s, u"port= 6543 "_s}, u"Saved."_s,
        u"New Connection postgresql :6543   plain"_s, 0);
    row("highest port", none, {u"add"_s, u"port=65535"_s}, u"Saved."_s, u"New Connection postgresql :65535   plain"_s,
        0);
    for (const char* bad : {"0", "65536", "99999999999999999999", "-5", "+5432", "54x", "5 432", "port"})
        QTest::addRow("port \"%s\" refused", bad)
            << none << QStringList{u"add"_s, u"port="_s + QLatin1String(bad)} << kBadPort << QString() << -1;
    row("edit keeps id and position", three, {u"row=1"_s, u"name=Bee"_s, u"port=3310"_s}, u"Saved."_s,
        u"A postgresql db.example.com:5432   plain | Bee mysql db.example.com:3310   plain | C postgresql "
        "db.example.com:5432   plain"_s,
        1);
    row("bad port on an edit changes nothing", three, {u"row=2"_s, u"port=70000"_s}, kBadPort, kept, 2);
    row("add among others goes last", three, {u"add"_s, u"name=D"_s}, u"Saved."_s,
        kept + u" | D postgresql :5432   plain"_s, 3);
}

void TestConnectionSheet::saving()
{
    QFETCH(QList<DatabaseConnection>, stored);
    QFETCH(QStringList, edits);
    QFETCH(QString, status);
    QFETCH(QString, expected);
    QFETCH(int, selected);
    open(stored);
    const QString before = storedList();
    QStringList idsBefore;
    for (const DatabaseConnection& c : stored)
        idsBefore << c.connectionId;
    fill(edits);
    QTest::mouseClick(m_controller->saveButton(), Qt::LeftButton);

    ConnectionSheetController& c = *m_controller;
    QCOMPARE(c.statusText(), status);
    const bool saved = status == u"Saved.";
    QCOMPARE(c.status(), saved ? ConnectionSheetController::Status::Success : ConnectionSheetController::Status::Error);
    QCOMPARE(c.statusLabel()->textColor(), saved ? MRTheme::success() : MRTheme::danger());
    QCOMPARE(storedList(), expected.isEmpty() ? before : expected);
    // What was there keeps its ids and order; a new record is selected and being edited.
    const QList<DatabaseConnection> after = ConnectionManager::shared().connections();
    for (int i = 0; i < idsBefore.size(); ++i)
        QCOMPARE(after.at(i).connectionId, idsBefore.at(i));
    if (saved) {
        QCOMPARE(c.listTable()->currentRow(), selected);
        QCOMPARE(c.editingConnectionId(), after.at(selected).connectionId);
        QCOMPARE(c.nameField()->text(), after.at(selected).name);
        QVERIFY(c.removeButton()->isEnabled());
    }
    QCOMPARE(c.listTable()->count(), after.size());
    QVERIFY(c.sheet()->isVisible());
}

void TestConnectionSheet::typeSwitch_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expected");
    QTest::newRow("5432 follows to MySQL") << u"PostgreSQL"_s << u"5432"_s << u"MySQL"_s << u"3306"_s;
    QTest::newRow("6543 is the user's own") << u"PostgreSQL"_s << u"6543"_s << u"MySQL"_s << u"6543"_s;
    QTest::newRow("3306 follows back") << u"MySQL"_s << u"3306"_s << u"PostgreSQL"_s << u"5432"_s;
    QTest::newRow("MySQL on 5432 takes 5432") << u"MySQL"_s << u"5432"_s << u"PostgreSQL"_s << u"5432"_s;
    QTest::newRow("empty takes the default") << u"PostgreSQL"_s << QString() << u"MySQL"_s << u"3306"_s;
    QTest::newRow("not a number takes the default") << u"PostgreSQL"_s << u"abc"_s << u"MySQL"_s << u"3306"_s;
    QTest::newRow("out of range stays for Save to refuse") << u"PostgreSQL"_s << u"70000"_s << u"MySQL"_s << u"70000"_s;
}

void TestConnectionSheet::typeSwitch()
{
    QFETCH(QString, from);
    QFETCH(QString, port);
    QFETCH(QString, to);
    QFETCH(QString, expected);
    open();
    fill({u"type="_s + from, u"port="_s + port, u"type="_s + to});
    QCOMPARE(m_controller->typePopup()->currentText(), to);
    QCOMPARE(m_controller->selectedType(), to == u"MySQL" ? kMySQL : kPostgreSQL);
    QCOMPARE(m_controller->portField()->text(), expected);
}

void TestConnectionSheet::removing_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("name"); // in the form afterwards
    QTest::addColumn<bool>("removeEnabled");
    QTest::newRow("the last one") << 1 << 0 << QString() << QString() << false;
    QTest::newRow("the second of three") << 3 << 1 << u"C0|C2"_s << u"C0"_s << true;
    QTest::newRow("the first of two") << 2 << 0 << u"C1"_s << u"C1"_s << true;
}

void TestConnectionSheet::removing()
{
    QFETCH(int, count);
    QFETCH(int, row);
    QFETCH(QString, list);
    QFETCH(QString, name);
    QFETCH(bool, removeEnabled);
    QList<DatabaseConnection> stored;
    for (int i = 0; i < count; ++i)
        stored << record(u"C%1"_s.arg(i));
    // Removing the active connection clears the active id; the sheet never sets one.
    ConnectionManager::shared().setActiveConnectionId(stored.at(row).connectionId);
    open(stored);
    fill({u"row=%1"_s.arg(row)});
    QTest::mouseClick(m_controller->removeButton(), Qt::LeftButton);
    ConnectionSheetController& c = *m_controller;
    QCOMPARE(listTexts(c.listTable()), list);
    QCOMPARE(c.nameField()->text(), name);
    QCOMPARE(c.removeButton()->isEnabled(), removeEnabled);
    QCOMPARE(ConnectionManager::shared().activeConnectionId(), std::nullopt);
    if (count == 1) {
        QCOMPARE(c.editingConnectionId(), std::nullopt);
        QCOMPARE(c.portField()->text(), u"5432"_s);
        QCOMPARE(c.typePopup()->currentIndex(), 0);
    }
}

void TestConnectionSheet::keys_data()
{
    QTest::addColumn<QKeyCombination>("key");
    QTest::addColumn<QString>("focus"); // where the key is pressed
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("dismissed");
    QTest::newRow("Escape closes") << QKeyCombination(Qt::Key_Escape) << u"name"_s << QString() << 1;
    QTest::newRow("Escape closes from the list") << QKeyCombination(Qt::Key_Escape) << u"list"_s << QString() << 1;
    QTest::newRow("Return saves") << QKeyCombination(Qt::Key_Return) << u"name"_s << u"Saved."_s << 0;
    QTest::newRow("Enter saves from the list") << QKeyCombination(Qt::Key_Enter) << u"list"_s << u"Saved."_s << 0;
    QTest::newRow("Return on Done still saves") << QKeyCombination(Qt::Key_Return) << u"done"_s << u"Saved."_s << 0;
    QTest::newRow("Space on Done closes") << QKeyCombination(Qt::Key_Space) << u"done"_s << QString() << 1;
    QTest::newRow("Ctrl+T tests") << QKeyCombination(Qt::CTRL | Qt::Key_T) << u"port"_s << u"Testing…"_s << 0;
}

void TestConnectionSheet::keys()
{
    QFETCH(QKeyCombination, key);
    QFETCH(QString, focus);
    QFETCH(QString, status);
    QFETCH(int, dismissed);
    SilentServer server;
    DatabaseConnection stored = record(u"Kept"_s);
    stored.host = u"127.0.0.1"_s;
    stored.port = server.port();
    open({stored});
    m_owner.controller = &m_controller;
    ConnectionSheetController& c = *m_controller;
    QWidget* target = focus == u"name"   ? static_cast<QWidget*>(c.nameField())
                      : focus == u"port" ? static_cast<QWidget*>(c.portField())
                      : focus == u"done" ? static_cast<QWidget*>(c.doneButton())
                                         : static_cast<QWidget*>(c.listTable());
    target->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), target);
    const QPointer<QDialog> sheet = c.sheet();
    QTest::keyClick(target, key.key(), key.keyboardModifiers());
    if (dismissed) {
        QVERIFY(!sheet->isVisible());
        // The owner hears it once the sheet is out of the way, and lets the controller go.
        QTRY_COMPARE(m_owner.dismissed, 1);
        QVERIFY(!m_controller);
        QVERIFY(!sheet);
        return;
    }
    QCOMPARE(c.statusText(), status);
    QVERIFY(sheet->isVisible());
    if (c.isTesting()) {
        // The test reached the server; hanging up ends it.
        QTRY_COMPARE(server.held(), 1);
        server.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!c.isTesting(), 30000);
    }
    QCOMPARE(m_owner.dismissed, 0);
}

void TestConnectionSheet::tabOrder()
{
    open({record(u"A"_s)});
    ConnectionSheetController& c = *m_controller;
    const QList<QWidget*> expected{c.listTable(),     c.addButton(),     c.removeButton(), c.nameField(),
                                   c.typePopup(),     c.hostField(),     c.portField(),    c.databaseField(),
                                   c.usernameField(), c.passwordField(), c.sslCheckbox(),  c.testButton(),
                                   c.saveButton(),    c.doneButton(),    c.listTable()};
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected.at(i));
    }
}

void TestConnectionSheet::layout()
{
    open({record(u"A"_s)});
    ConnectionSheetController& c = *m_controller;
    const auto at = [&](const QWidget* w) { return w->mapTo(c.sheet(), QPoint(0, 0)); };
    const QRect title = c.titleLabel()->geometry();
    QCOMPARE(title.topLeft(), QPoint(20, 18));
    const QWidget* card = c.listTable()->parentWidget();
    QCOMPARE(at(card), QPoint(20, title.bottom() + 1 + 14));
    QCOMPARE(card->width(), 200);
    QCOMPARE(c.listTable()->geometry(), card->rect().adjusted(4, 4, -4, -4));
    QCOMPARE(at(card).y() + card->height(), at(c.addButton()).y() - 6);
    QCOMPARE(QRect(at(c.addButton()), c.addButton()->size()), QRect(20, at(c.addButton()).y(), 28, 24));
    QCOMPARE(QRect(at(c.removeButton()), c.removeButton()->size()), QRect(52, at(c.addButton()).y(), 28, 24));

    // The bottom row: 20 from the bottom edge, Done 20 from the right, Save 8 before it.
    const int bottom = 470 - 20;
    for (const QWidget* button : {c.testButton(), c.saveButton(), c.doneButton()})
        QCOMPARE(at(button).y() + button->height(), bottom);
    QCOMPARE(at(c.testButton()).x(), 20);
    QCOMPARE(at(c.doneButton()).x() + c.doneButton()->width(), 640);
    QVERIFY(c.doneButton()->width() >= 64);
    QVERIFY(c.saveButton()->width() >= 72);
    QCOMPARE(at(c.saveButton()).x() + c.saveButton()->width(), at(c.doneButton()).x() - 8);
    QCOMPARE(at(c.spinner()).x(), at(c.testButton()).x() + c.testButton()->width() + 10);
    QCOMPARE(at(c.statusLabel()).x(), at(c.spinner()).x() + 16 + 8);
    QVERIFY(at(c.statusLabel()).x() + c.statusLabel()->width() <= at(c.saveButton()).x() - 10);
    QCOMPARE(at(c.addButton()).y() + 24 + 12 + 1 + 12, at(c.saveButton()).y());

    // The form: labels right-aligned at 236, 74 wide; fields from 320 to 20 before the
    // right edge, centred on their labels, 14 between a field and the next label.
    const QList<QWidget*> fields{c.nameField(),     c.typePopup(),     c.hostField(),    c.portField(),
                                 c.databaseField(), c.usernameField(), c.passwordField()};
    const QList<MRLabel*> labels = c.sheet()->findChildren<MRLabel*>();
    int previousBottom = -1;
    for (QWidget* field : fields) {
        const auto label =
            std::find_if(labels.cbegin(), labels.cend(), [&](MRLabel* l) { return l->buddy() == field; });
        QVERIFY(label != labels.cend());
        const QRect l((*label)->geometry());
        const QRect f(field->geometry());
        QCOMPARE(l.x(), 236);
        QCOMPARE(l.width(), 74);
        QVERIFY((*label)->alignment() & Qt::AlignRight);
        QCOMPARE(f.x(), 320);
        QCOMPARE(f.right() + 1, 640);
        if (field != c.typePopup())
            QCOMPARE(f.height(), 24);
        QVERIFY(qAbs(f.center().y() - l.center().y()) <= 1);
        QCOMPARE(l.y(), previousBottom < 0 ? title.bottom() + 1 + 18 : previousBottom + 14);
        previousBottom = f.bottom() + 1;
    }
    QCOMPARE(c.sslCheckbox()->geometry().topLeft(), QPoint(320, previousBottom + 14));
}

void TestConnectionSheet::testAgainstServers_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("expected"); // a pattern for the whole status
    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const bool pg = type == kPostgreSQL;
        const auto row = [&](const char* change, const QString& expected) {
            QTest::addRow("%s: %s", qPrintable(type), change) << type << QString::fromLatin1(change) << expected;
        };
        row("success", u"Connection successful!"_s);
        row("ssl on, server with TLS", u"Connection successful!"_s);
        row("wrong password", pg ? u"Connection failed: .*password authentication failed for user \"mirelo\"\n"_s
                                 : u"Connection failed: Access denied for user 'mirelo'.*"_s);
        row("closed port", pg ? u"Connection failed: .*port 1 failed: Connection refused\n.*"_s
                              : u"Connection failed: Can't connect to .*"_s);
        row("ssl, plain server", pg ? u"Connection failed: .*server does not support SSL, but SSL was required\n"_s
                                    : u"Connection failed: the server does not offer SSL, but this connection "
                                      "requires it\\."_s);
    }
}

void TestConnectionSheet::testAgainstServers()
{
    QFETCH(QString, type);
    QFETCH(QString, change);
    QFETCH(QString, expected);
    const std::optional<DatabaseConnection> server = serverConnection(type, change);
    if (!server) {
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))
            QFAIL("The database servers' MIRELO_TEST_* variables are missing.");
        QSKIP("No test database servers: run scripts/test, or source scripts/lib/dbservers.sh and mirelo_db_start.");
    }
    open();
    // Typed in, never saved: a test needs no name and stores nothing.
    QStringList edits{u"type="_s + (type == kMySQL ? u"MySQL"_s : u"PostgreSQL"_s),
                      u"name="_s,
                      u"host="_s + server->host,
                      u"port="_s + QString::number(server->port),
                      u"database="_s + server->database,
                      u"username="_s + server->username,
                      u"password="_s + server->password};
    if (server->ssl)
        edits << u"ssl"_s;
    fill(edits);
    ConnectionSheetController& c = *m_controller;
    QTest::mouseClick(c.testButton(), Qt::LeftButton);
    QVERIFY(c.isTesting());
    QCOMPARE(c.statusText(), u"Testing…"_s);
    QCOMPARE(c.statusLabel()->textColor(), MRTheme::textSecondary());
    QVERIFY(!c.testButton()->isEnabled());
    QVERIFY(c.spinner()->isVisible() && c.spinner()->isAnimating());

    QTRY_VERIFY_WITH_TIMEOUT(!c.isTesting(), 60000);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(expected),
                                QRegularExpression::DotMatchesEverythingOption)
                 .match(c.statusText())
                 .hasMatch(),
             qPrintable(c.statusText()));
    const bool ok = expected == u"Connection successful!";
    QCOMPARE(c.statusLabel()->textColor(), ok ? MRTheme::success() : MRTheme::danger());
    QVERIFY(c.testButton()->isEnabled());
    QVERIFY(!c.spinner()->isVisible());
    QVERIFY(ConnectionManager::shared().connections().isEmpty());
}

void TestConnectionSheet::staysResponsiveWhileTesting_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("closeFirst"); // the sheet closes before the server answers
    QTest::newRow("postgresql") << kPostgreSQL << false;
    QTest::newRow("mysql") << kMySQL << false;
    QTest::newRow("postgresql, sheet closed meanwhile") << kPostgreSQL << true;
}

void TestConnectionSheet::staysResponsiveWhileTesting()
{
    QFETCH(QString, type);
    QFETCH(bool, closeFirst);
    SilentServer server;
    DatabaseConnection first = record(u"First"_s, type, server.port());
    first.host = u"127.0.0.1"_s;
    open({first, record(u"Second"_s)});
    m_owner.controller = &m_controller;
    ConnectionSheetController& c = *m_controller;
    if (!DatabaseExecutor::isAvailableForType(type))
        QSKIP("The client library is not installed.");

    QTest::keyClick(c.nameField(), Qt::Key_T, Qt::ControlModifier);
    QVERIFY(c.isTesting());
    // The worker is now waiting on the silent server; the sheet answers meanwhile.
    QTRY_COMPARE(server.held(), 1);
    QVERIFY(c.spinner()->isAnimating());
    if (closeFirst) {
        QTest::keyClick(c.nameField(), Qt::Key_Escape);
        QTRY_COMPARE(m_owner.dismissed, 1);
        QVERIFY(!m_controller);
        server.hangUp();
        // The executor runs one statement at a time: this one runs once the first has ended.
        bool later = false;
        DatabaseConnection refused = record(QString(), type, 1);
        refused.host = u"127.0.0.1"_s;
        DatabaseExecutor::shared().testConnection(refused, [&later](bool, const QString&) { later = true; });
        QTRY_VERIFY_WITH_TIMEOUT(later, 30000);
        return;
    }
    fill({u"row=1"_s, u"name=Renamed"_s});
    QTest::keyClick(c.nameField(), Qt::Key_Return);
    QCOMPARE(c.statusText(), u"Saved."_s);
    QCOMPARE(c.listTable()->item(1)->text(), u"Renamed"_s);
    QVERIFY(c.isTesting());

    server.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!c.isTesting(), 30000);
    // The answer is the first connection's, shown although the form moved on.
    QCOMPARE(c.status(), ConnectionSheetController::Status::Error);
    QVERIFY2(c.statusText().startsWith(u"Connection failed"_s), qPrintable(c.statusText()));
    QCOMPARE(c.nameField()->text(), u"Renamed"_s);
}

void TestConnectionSheet::driverNotFound_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("postgresql") << kPostgreSQL;
    QTest::newRow("mysql") << kMySQL;
}

void TestConnectionSheet::driverNotFound()
{
    QFETCH(QString, type);
    DatabaseExecutor::setLibrarySearchListForTesting(type, QStringList{u"/nonexistent/libnothing.so"_s});
    open({record(u"A"_s, type, 1)});
    ConnectionSheetController& c = *m_controller;
    QTest::mouseClick(c.testButton(), Qt::LeftButton);
    QVERIFY(!c.isTesting());
    QCOMPARE(c.statusText(), QString());
    QMessageBox* alert = c.sheet()->findChild<QMessageBox*>();
    QVERIFY(alert);
    QVERIFY(alert->isVisible());
    QCOMPARE(alert->text(), u"Driver Not Found"_s);
    QCOMPARE(alert->informativeText(), DatabaseExecutor::installInstructionsForType(type));
    QCOMPARE(alert->icon(), QMessageBox::Warning);
    QCOMPARE(alert->windowModality(), Qt::WindowModal);
    QCOMPARE(alert->buttons().size(), 1);
    const QPointer<QMessageBox> guard(alert);
    QTest::mouseClick(alert->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(!guard);
    QVERIFY(c.sheet()->isVisible());
}

QTEST_MAIN(TestConnectionSheet)
#include "tst_connectionsheet.moc"
