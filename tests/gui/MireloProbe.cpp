// A read-only probe for the tests that drive the real application under a virtual X
// display. Preloaded into the unmodified `mirelo` executable (LD_PRELOAD), it listens on
// the local socket named by MIRELO_PROBE_SOCKET and answers where a widget is on the screen
// and what it shows, so that a test can aim real X input events at it. It never changes
// the application: no clicks, no keys, no property writes.
//
// One request per line, one JSON object per answer line:
//   find <key>     the first visible widget whose objectName, or else accessible name, is
//                  key ("outer > inner": inner inside outer): its rectangle and the part of
//                  it that shows on screen, in X pixels, enabled, text, accessible name and
//                  value, rows (item views), class
//   menu <text>    the visible menu or menu bar item titled text (mnemonics ignored)
//   windows        the visible top-level windows: class, objectName, title, modal, active
//   focus          the widget that has keyboard focus
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWindow>

namespace {

qreal ratio(const QWidget* widget)
{
    const QWindow* window = widget->window()->windowHandle();
    return window ? window->devicePixelRatio() : 1.0;
}

QJsonObject rectObject(const QRect& rect, qreal scale)
{
    const QRect device(QPoint(qRound(rect.x() * scale), qRound(rect.y() * scale)),
                       QSize(qRound(rect.width() * scale), qRound(rect.height() * scale)));
    return {{QStringLiteral("x"), device.x()},
            {QStringLiteral("y"), device.y()},
            {QStringLiteral("w"), device.width()},
            {QStringLiteral("h"), device.height()}};
}

// The part of the widget that its ancestors do not clip away, in global coordinates.
QRect shownRect(const QWidget* widget)
{
    QRect shown(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    for (const QWidget* parent = widget->parentWidget(); parent && !widget->isWindow();
         parent = parent->parentWidget()) {
        shown &= QRect(parent->mapToGlobal(QPoint(0, 0)), parent->size());
        if (parent->isWindow())
            break;
    }
    return shown;
}

QString accessibleText(QWidget* widget, QAccessible::Text kind)
{
    // A name given to the widget itself comes first: some interfaces report their current
    // text as the name on this platform (a combo box its choice).
    if (kind == QAccessible::Name && !widget->accessibleName().isEmpty())
        return widget->accessibleName();
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(kind) : QString();
}

QString shownText(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        return line->text();
    if (auto* edit = qobject_cast<QTextEdit*>(widget))
        return edit->toPlainText();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(widget))
        return plain->toPlainText();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText();
    // Widgets that paint their own text say it through their accessible name.
    return accessibleText(widget, QAccessible::Name);
}

QJsonObject describe(QWidget* widget)
{
    QJsonObject object{
        {QStringLiteral("found"), true},
        {QStringLiteral("class"), QString::fromLatin1(widget->metaObject()->className())},
        {QStringLiteral("objectName"), widget->objectName()},
        {QStringLiteral("rect"), rectObject(QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()), ratio(widget))},
        {QStringLiteral("shown"), rectObject(shownRect(widget), ratio(widget))},
        {QStringLiteral("enabled"), widget->isEnabled()},
        {QStringLiteral("text"), shownText(widget)},
        {QStringLiteral("name"), accessibleText(widget, QAccessible::Name)},
        {QStringLiteral("value"), accessibleText(widget, QAccessible::Value)},
    };
    if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
        object.insert(QStringLiteral("rows"), view->model()->rowCount(view->rootIndex()));
        object.insert(QStringLiteral("columns"), view->model()->columnCount(view->rootIndex()));
        object.insert(QStringLiteral("viewport"), rectObject(shownRect(view->viewport()), ratio(widget)));
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget); button && button->isCheckable())
        object.insert(QStringLiteral("checked"), button->isChecked());
    return object;
}

// Popups first, then the modal window, then every other window: what a user can reach now
// comes before what is behind it.
QList<QWidget*> windowsInReach()
{
    QList<QWidget*> windows;
    if (QWidget* popup = QApplication::activePopupWidget())
        windows << popup;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && !windows.contains(modal))
        windows << modal;
    const QList<QWidget*> all = QApplication::topLevelWidgets();
    for (QWidget* window : all) {
        if (window->isVisible() && !windows.contains(window))
            windows << window;
    }
    return windows;
}

enum class Match { ObjectName, ControlName, LabelName };

bool matches(QWidget* widget, const QString& key, Match how)
{
    if (!widget->isVisible())
        return false;
    if (how == Match::ObjectName)
        return widget->objectName() == key;
    // A caption label carries the same name as the field it describes; the field is meant.
    if ((how == Match::LabelName) != bool(qobject_cast<QLabel*>(widget)))
        return false;
    return accessibleText(widget, QAccessible::Name) == key;
}

// The first visible widget among roots and their descendants that key names: by objectName
// anywhere first, then by accessible name, controls before labels.
QWidget* findIn(const QList<QWidget*>& roots, const QString& key)
{
    for (const Match how : {Match::ObjectName, Match::ControlName, Match::LabelName}) {
        for (QWidget* root : roots) {
            if (matches(root, key, how))
                return root;
            const QList<QWidget*> children = root->findChildren<QWidget*>();
            for (QWidget* widget : children) {
                if (matches(widget, key, how))
                    return widget;
            }
        }
    }
    return nullptr;
}

// key: a name, or "outer > inner" for a widget named inner inside one named outer.
QJsonObject find(const QString& key)
{
    QList<QWidget*> roots = windowsInReach();
    QWidget* found = nullptr;
    const QStringList path = key.split(QStringLiteral(" > "));
    for (const QString& part : path) {
        found = findIn(roots, part);
        if (!found)
            return {{QStringLiteral("found"), false}};
        roots = found->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    }
    return describe(found);
}

QString plainTitle(QString text)
{
    // "&File" shows as "File"; "&&" is a literal ampersand.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

QJsonObject menuItem(const QString& title)
{
    for (QWidget* window : windowsInReach()) {
        QList<QWidget*> candidates{window};
        const QList<QMenuBar*> bars = window->findChildren<QMenuBar*>();
        for (QMenuBar* bar : bars)
            candidates << bar;
        for (QWidget* widget : std::as_const(candidates)) {
            auto* menu = qobject_cast<QMenu*>(widget);
            auto* bar = qobject_cast<QMenuBar*>(widget);
            if ((!menu && !bar) || !widget->isVisible())
                continue;
            for (QAction* action : widget->actions()) {
                if (!action->isVisible() || action->isSeparator() || plainTitle(action->text()) != title)
                    continue;
                const QRect local = menu ? menu->actionGeometry(action) : bar->actionGeometry(action);
                const QRect global(widget->mapToGlobal(local.topLeft()), local.size());
                return {{QStringLiteral("found"), true},
                        {QStringLiteral("rect"), rectObject(global, ratio(widget))},
                        {QStringLiteral("shown"), rectObject(global, ratio(widget))},
                        {QStringLiteral("enabled"), action->isEnabled()},
                        {QStringLiteral("checked"), action->isChecked()},
                        {QStringLiteral("text"), plainTitle(action->text())}};
            }
        }
    }
    return {{QStringLiteral("found"), false}};
}

QJsonArray windows()
{
    QJsonArray list;
    for (QWidget* window : windowsInReach()) {
        list.append(QJsonObject{
            {QStringLiteral("class"), QString::fromLatin1(window->metaObject()->className())},
            {QStringLiteral("objectName"), window->objectName()},
            {QStringLiteral("title"), window->windowTitle()},
            {QStringLiteral("modal"), window->windowModality() != Qt::NonModal},
            {QStringLiteral("active"), window->isActiveWindow()},
            {QStringLiteral("popup"), window->windowType() == Qt::Popup},
            {QStringLiteral("winId"), QString::number(window->internalWinId())},
            {QStringLiteral("rect"),
             rectObject(QRect(window->mapToGlobal(QPoint(0, 0)), window->size()), ratio(window))},
        });
    }
    return list;
}

QByteArray answer(const QByteArray& line)
{
    const QString request = QString::fromUtf8(line).trimmed();
    const qsizetype space = request.indexOf(QLatin1Char(' '));
    const QString verb = space < 0 ? request : request.left(space);
    const QString argument = space < 0 ? QString() : request.mid(space + 1);
    QJsonObject reply;
    if (verb == QLatin1String("find")) {
        reply = find(argument);
    } else if (verb == QLatin1String("menu")) {
        reply = menuItem(argument);
    } else if (verb == QLatin1String("windows")) {
        reply = {{QStringLiteral("windows"), windows()}};
    } else if (verb == QLatin1String("focus")) {
        QWidget* focus = QApplication::focusWidget();
        reply = focus ? describe(focus) : QJsonObject{{QStringLiteral("found"), false}};
    } else {
        reply = {{QStringLiteral("error"), QStringLiteral("unknown request: ") + verb}};
    }
    return QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n';
}

void startProbe()
{
    const QString path = qEnvironmentVariable("MIRELO_PROBE_SOCKET");
    // Whatever the application starts itself runs without the probe.
    qunsetenv("LD_PRELOAD");
    qunsetenv("MIRELO_PROBE_SOCKET");
    if (path.isEmpty() || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    // Listening starts with the event loop, once the application object is complete.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [path] {
            auto* server = new QLocalServer(QCoreApplication::instance());
            if (!server->listen(path)) {
                qWarning("The test probe cannot listen on %s: %s", qPrintable(path), qPrintable(server->errorString()));
                return;
            }
            QObject::connect(server, &QLocalServer::newConnection, server, [server] {
                while (QLocalSocket* client = server->nextPendingConnection()) {
                    QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
                    QObject::connect(client, &QLocalSocket::readyRead, client, [client] {
                        while (client->canReadLine())
                            client->write(answer(client->readLine()));
                    });
                }
            });
        },
        Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)
