// A read-only probe for the tests that drive the real application under a virtual X
// display. Preloaded into the unmodified `mirelo` executable (LD_PRELOAD), it listens on
// the local socket named by MIRELO_PROBE_SOCKET and answers where a widget is on the screen
// and what it shows, so that a test can aim real X input events at it. It never changes
// the application: no clicks, no keys, no property writes.
//
// One request per line, one JSON object per answer line:
//   find <key>     the first visible widget whose objectName, or else accessible name, is
//                  key: the part of it that shows
//                  on screen, in X pixels, its text, and rows (item views)
//   find menu <text>  the visible menu or menu bar item titled text (mnemonics ignored)
//   windows        the visible top-level windows, those a user can reach first first: their
//                  X window, rectangle, and whether they are popups
//   focus          the widget that has keyboard focus
// The tests run the application at a device pixel ratio of 1, so that Qt's pixels are X's.
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>

using namespace Qt::StringLiterals;

namespace {

const QJsonObject kNotFound{{u"found"_s, false}};

QJsonObject rectObject(const QRect& rect)
{
    return {{u"x"_s, rect.x()}, {u"y"_s, rect.y()}, {u"w"_s, rect.width()}, {u"h"_s, rect.height()}};
}

QRect globalRect(const QWidget* widget)
{
    return {widget->mapToGlobal(QPoint(0, 0)), widget->size()};
}

// The part of the widget that its ancestors do not clip away.
QRect shownRect(const QWidget* widget)
{
    QRect shown = globalRect(widget);
    for (const QWidget* parent = widget; !parent->isWindow(); parent = parent->parentWidget())
        shown &= globalRect(parent->parentWidget());
    return shown;
}

QString accessibleName(QWidget* widget)
{
    // A name given to the widget itself comes first: some interfaces report their current
    // text as the name on this platform (a combo box its choice).
    if (!widget->accessibleName().isEmpty())
        return widget->accessibleName();
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// A label's, button's or line field's text, a combo box's choice, a text field's plain
// text; widgets that paint their own text say it through their accessible name.
QString shownText(QWidget* widget)
{
    for (const char* property : {"text", "currentText", "plainText"}) {
        if (const QVariant value = widget->property(property); value.isValid())
            return value.toString();
    }
    return accessibleName(widget);
}

QJsonObject describe(QWidget* widget)
{
    QJsonObject object{{u"found"_s, true}, {u"shown"_s, rectObject(shownRect(widget))}, {u"text"_s, shownText(widget)}};
    if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
        object.insert(u"rows"_s, view->model()->rowCount(view->rootIndex()));
        object.insert(u"viewport"_s, rectObject(shownRect(view->viewport())));
    }
    return object;
}

// Popups first, then the modal window, then every other window: what a user can reach now
// comes before what is behind it.
QList<QWidget*> windowsInReach()
{
    QList<QWidget*> windows{QApplication::activePopupWidget(), QApplication::activeModalWidget()};
    windows.append(QApplication::topLevelWidgets());
    QList<QWidget*> shown;
    for (QWidget* window : std::as_const(windows)) {
        if (window && window->isVisible() && !shown.contains(window))
            shown << window;
    }
    return shown;
}

// The first visible widget among roots and their descendants that key names: by objectName
// anywhere first, then by accessible name, controls before labels: a caption label carries
// the same name as the field it describes, and the field is meant.
QWidget* findIn(const QList<QWidget*>& roots, const QString& key)
{
    QWidget* label = nullptr;
    for (const bool byObjectName : {true, false}) {
        for (QWidget* root : roots) {
            QList<QWidget*> candidates = root->findChildren<QWidget*>();
            candidates.prepend(root);
            for (QWidget* widget : std::as_const(candidates)) {
                if (!widget->isVisible() || (byObjectName ? widget->objectName() : accessibleName(widget)) != key)
                    continue;
                if (byObjectName || !qobject_cast<QLabel*>(widget))
                    return widget;
                label = label ? label : widget;
            }
        }
    }
    return label;
}

// In the menu bars and the open menus.
QJsonObject menuItem(const QString& title)
{
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets) {
        auto* menu = qobject_cast<QMenu*>(widget);
        auto* bar = qobject_cast<QMenuBar*>(widget);
        if ((!menu && !bar) || !widget->isVisible())
            continue;
        for (QAction* action : widget->actions()) {
            // "&File" shows as "File".
            QString text = action->text().replace(u"&&"_s, u"\x01"_s).remove(u'&').replace(u'\x01', u'&');
            if (!action->isVisible() || action->isSeparator() || text != title)
                continue;
            const QRect local = menu ? menu->actionGeometry(action) : bar->actionGeometry(action);
            const QJsonObject rect = rectObject(QRect(widget->mapToGlobal(local.topLeft()), local.size()));
            return {{u"found"_s, true}, {u"shown"_s, rect}};
        }
    }
    return kNotFound;
}

QJsonObject find(const QString& key)
{
    if (key.startsWith(u"menu "_s))
        return menuItem(key.mid(5));
    QWidget* found = findIn(windowsInReach(), key);
    return found ? describe(found) : kNotFound;
}

QByteArray answer(const QByteArray& line)
{
    const QString request = QString::fromUtf8(line).trimmed();
    const QString verb = request.section(u' ', 0, 0);
    const QString argument = request.section(u' ', 1);
    QJsonObject reply;
    if (verb == u"find"_s) {
        reply = find(argument);
    } else if (verb == u"focus"_s) {
        QWidget* focus = QApplication::focusWidget();
        reply = focus ? describe(focus) : kNotFound;
    } else if (verb == u"windows"_s) {
        QJsonArray list;
        for (QWidget* window : windowsInReach()) {
            list.append(QJsonObject{{u"popup"_s, window->windowType() == Qt::Popup},
                                    {u"winId"_s, QString::number(window->internalWinId())},
                                    {u"rect"_s, rectObject(globalRect(window))}});
        }
        reply = {{u"windows"_s, list}};
    }
    return QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n';
}

void startProbe()
{
    const QString path = qEnvironmentVariable("MIRELO_PROBE_SOCKET");
    // Whatever the application starts itself runs without the probe.
    qunsetenv("LD_PRELOAD");
    qunsetenv("MIRELO_PROBE_SOCKET");
    // Listening starts with the event loop, once the application object is complete.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [path] {
            auto* server = new QLocalServer(QCoreApplication::instance());
            server->listen(path);
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
