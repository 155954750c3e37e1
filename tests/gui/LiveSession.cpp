#include "LiveSession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kStartMs = 20000;
constexpr int kProbeMs = 5000;
constexpr int kPollMs = 25;
// The virtual screen: room for the main window and its dialogs, centred.
const auto kScreen = u"1280x900x24"_s;

QRect rectFrom(const QJsonValue& value)
{
    const QJsonObject o = value.toObject();
    return {o.value(u"x").toInt(), o.value(u"y").toInt(), o.value(u"w").toInt(), o.value(u"h").toInt()};
}

ProbedWidget widgetFrom(const QJsonObject& o)
{
    ProbedWidget w;
    w.raw = o;
    w.found = o.value(u"found").toBool();
    if (!w.found)
        return w;
    w.rect = rectFrom(o.value(u"rect"));
    w.shown = rectFrom(o.value(u"shown"));
    w.enabled = o.value(u"enabled").toBool();
    w.text = o.value(u"text").toString();
    w.name = o.value(u"name").toString();
    w.value = o.value(u"value").toString();
    w.rows = o.value(u"rows").toInt(-1);
    w.viewport = rectFrom(o.value(u"viewport"));
    return w;
}

} // namespace

LiveSession::LiveSession(const QString& testName)
    : m_screenshots(QStringLiteral(MIRELO_SCREENSHOT_DIR) + QLatin1Char('/') + testName)
{
    // Each run leaves the pictures of that run only.
    QDir(m_screenshots).removeRecursively();
    QDir().mkpath(m_screenshots);
}

LiveSession::~LiveSession()
{
    // What the screen showed when the test failed is the first thing to look at.
    if (QTest::currentTestFailed() && m_xvfb && m_xvfb->state() == QProcess::Running)
        screenshot(u"failure"_s);
    // The application first, so that it never outlives its display or its server.
    stop(m_app.get());
    stop(m_bystander.get());
    stop(m_server.get());
    stop(m_xvfb.get());
}

QString LiveSession::missingTools()
{
    QStringList missing;
    for (const QString& tool : {u"Xvfb"_s, u"xdotool"_s}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    }
    if (missing.isEmpty())
        return {};
    return u"These programs are missing: %1 (scripts/lib/packages.sh installs them)."_s.arg(missing.join(u", "_s));
}

void LiveSession::stop(QProcess* process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(5000);
    }
}

QString LiveSession::startProcess(QProcess* process, const QString& program, const QStringList& arguments)
{
    // A test that is killed (a CTest timeout) takes what it started with it.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process->start(program, arguments);
    if (!process->waitForStarted(kStartMs))
        return u"%1 did not start: %2."_s.arg(program, process->errorString());
    return {};
}

QString LiveSession::startDisplay()
{
    m_xvfb = std::make_unique<QProcess>();
    m_xvfb->setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd: Xvfb takes the first free display number and writes it to standard output
    // once it accepts clients.
    const QString error =
        startProcess(m_xvfb.get(), u"Xvfb"_s,
                     {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, kScreen, u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
    if (!error.isEmpty())
        return error;
    const QDeadlineTimer deadline(kStartMs);
    while (!m_xvfb->canReadLine()) {
        if (m_xvfb->state() == QProcess::NotRunning || deadline.hasExpired()) {
            return u"Xvfb did not report its display: %1"_s.arg(
                QString::fromLocal8Bit(m_xvfb->readAllStandardError()).trimmed());
        }
        m_xvfb->waitForReadyRead(100);
    }
    bool ok = false;
    const int number = QString::fromLatin1(m_xvfb->readLine()).trimmed().toInt(&ok);
    if (!ok)
        return u"Xvfb reported no display number."_s;
    m_display = u":%1"_s.arg(number);
    return {};
}

QString LiveSession::startDemoServer(const QString& dialect)
{
    m_apiKey = u"mirelo_test_"_s + QString::number(QRandomGenerator::global()->generate64(), 16);
    m_server = std::make_unique<QProcess>();
    const QString error = startProcess(m_server.get(), QStringLiteral(MIRELO_DEVSERVER_PATH),
                                       {u"--port"_s, u"0"_s, u"--api-key"_s, m_apiKey, u"--dialect"_s, dialect});
    if (!error.isEmpty())
        return error;
    const QDeadlineTimer deadline(kStartMs);
    while (!m_server->canReadLine()) {
        if (m_server->state() == QProcess::NotRunning || deadline.hasExpired())
            return u"The demo server did not report its address: %1"_s.arg(
                QString::fromUtf8(m_server->readAllStandardError()));
        m_server->waitForReadyRead(100);
    }
    const QString line = QString::fromUtf8(m_server->readLine()).trimmed();
    if (!line.startsWith(u"Listening on "_s))
        return u"The demo server's first line was “%1”."_s.arg(line);
    m_serverURL = line.mid(13);
    return {};
}

QStringList LiveSession::serverLog()
{
    if (m_server) {
        m_server->waitForReadyRead(0);
        m_serverLog += QString::fromUtf8(m_server->readAllStandardOutput());
    }
    return m_serverLog.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString LiveSession::makeProfile(AppProfile* profile)
{
    if (!m_scratch.isValid())
        return u"No temporary folder: %1."_s.arg(m_scratch.errorString());
    profile->root = m_scratch.filePath(u"profile%1"_s.arg(++m_profiles));
    for (const QString& folder : {profile->home(), profile->config(), profile->data(), profile->runtime()}) {
        if (!QDir().mkpath(folder))
            return u"Could not make %1."_s.arg(folder);
    }
    QFile::setPermissions(profile->runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return {};
}

QProcessEnvironment LiveSession::appEnvironment(const AppProfile& profile) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nothing of the desktop the tests happen to run in reaches the application.
    for (const QString& name :
         {u"WAYLAND_DISPLAY"_s, u"XAUTHORITY"_s, u"XDG_CURRENT_DESKTOP"_s, u"XDG_SESSION_TYPE"_s, u"DESKTOP_SESSION"_s,
          u"QT_QPA_PLATFORMTHEME"_s, u"QT_STYLE_OVERRIDE"_s, u"QT_SCALE_FACTOR"_s, u"QT_SCREEN_SCALE_FACTORS"_s,
          u"QT_AUTO_SCREEN_SCALE_FACTOR"_s, u"QT_FONT_DPI"_s, u"LD_PRELOAD"_s})
        env.remove(name);
    env.insert(u"DISPLAY"_s, m_display);
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    env.insert(u"HOME"_s, profile.home());
    env.insert(u"XDG_CONFIG_HOME"_s, profile.config());
    env.insert(u"XDG_DATA_HOME"_s, profile.data());
    env.insert(u"XDG_CACHE_HOME"_s, profile.root + u"/cache"_s);
    env.insert(u"XDG_STATE_HOME"_s, profile.root + u"/state"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, profile.runtime());
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + profile.runtime() + u"/no-bus"_s);
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    // An instrumented application has its sanitizer runtime loaded after the probe.
    if (env.contains(u"ASAN_OPTIONS"_s))
        env.insert(u"ASAN_OPTIONS"_s, env.value(u"ASAN_OPTIONS"_s) + u":verify_asan_link_order=0"_s);
    return env;
}

QString LiveSession::startApp(const AppProfile& profile)
{
    m_probeSocket = profile.runtime() + u"/probe.socket"_s;
    QProcessEnvironment env = appEnvironment(profile);
    env.insert(u"LD_PRELOAD"_s, QStringLiteral(MIRELO_PROBE_PATH));
    env.insert(u"MIRELO_PROBE_SOCKET"_s, m_probeSocket);
    m_app = std::make_unique<QProcess>();
    m_app->setProcessEnvironment(env);
    // Its messages are kept beside the screenshots.
    m_app->setStandardOutputFile(m_screenshots + u"/mirelo.log"_s, QIODevice::Append);
    m_app->setStandardErrorFile(m_screenshots + u"/mirelo.log"_s, QIODevice::Append);
    const QString error = startProcess(m_app.get(), QStringLiteral(MIRELO_APP_PATH), {});
    if (!error.isEmpty())
        return error;
    const QDeadlineTimer deadline(kStartMs);
    for (;;) {
        QJsonObject answer;
        if (query(u"focus"_s, &answer).isEmpty())
            return {};
        if (m_app->state() == QProcess::NotRunning)
            return u"Mirelo ended at start with exit code %1; see %2/mirelo.log."_s.arg(m_app->exitCode())
                .arg(m_screenshots);
        if (deadline.hasExpired())
            return u"Mirelo's probe did not answer within %1 s."_s.arg(kStartMs / 1000);
        QTest::qWait(kPollMs * 2);
    }
}

QString LiveSession::startBystander(const AppProfile& profile)
{
    m_bystander = std::make_unique<QProcess>();
    m_bystander->setProcessEnvironment(appEnvironment(profile));
    m_bystander->setStandardOutputFile(m_screenshots + u"/mirelo-bystander.log"_s);
    m_bystander->setStandardErrorFile(m_screenshots + u"/mirelo-bystander.log"_s);
    return startProcess(m_bystander.get(), QStringLiteral(MIRELO_APP_PATH), {});
}

void LiveSession::stopBystander()
{
    stop(m_bystander.get());
}

int LiveSession::runAppAgain(const AppProfile& profile, QString* error)
{
    QProcess second;
    second.setProcessEnvironment(appEnvironment(profile));
    second.setStandardOutputFile(m_screenshots + u"/mirelo-second.log"_s);
    second.setStandardErrorFile(m_screenshots + u"/mirelo-second.log"_s);
    *error = startProcess(&second, QStringLiteral(MIRELO_APP_PATH), {});
    if (!error->isEmpty())
        return -1;
    if (!second.waitForFinished(kStartMs)) {
        *error = u"The second Mirelo did not end within %1 s."_s.arg(kStartMs / 1000);
        stop(&second);
        return -1;
    }
    if (second.exitStatus() != QProcess::NormalExit) {
        *error = u"The second Mirelo crashed."_s;
        return -1;
    }
    return second.exitCode();
}

bool LiveSession::waitForAppExit(int timeoutMs)
{
    return !m_app || m_app->state() == QProcess::NotRunning || m_app->waitForFinished(timeoutMs);
}

QString LiveSession::query(const QString& request, QJsonObject* answer)
{
    QLocalSocket socket;
    socket.connectToServer(m_probeSocket);
    if (!socket.waitForConnected(kProbeMs))
        return u"The probe does not answer: %1."_s.arg(socket.errorString());
    socket.write(request.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(kProbeMs))
        return u"The probe took no request: %1."_s.arg(socket.errorString());
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kProbeMs))
            return u"The probe did not answer “%1”: %2."_s.arg(request, socket.errorString());
    }
    *answer = QJsonDocument::fromJson(socket.readLine()).object();
    return {};
}

ProbedWidget LiveSession::find(const QString& key)
{
    QJsonObject answer;
    if (!query(u"find "_s + key, &answer).isEmpty())
        return {};
    return widgetFrom(answer);
}

ProbedWidget LiveSession::menuItem(const QString& title)
{
    QJsonObject answer;
    if (!query(u"menu "_s + title, &answer).isEmpty())
        return {};
    return widgetFrom(answer);
}

QJsonObject LiveSession::focus()
{
    QJsonObject answer;
    query(u"focus"_s, &answer);
    return answer;
}

QList<QJsonObject> LiveSession::windows()
{
    QJsonObject answer;
    QList<QJsonObject> list;
    if (!query(u"windows"_s, &answer).isEmpty())
        return list;
    const QJsonArray array = answer.value(u"windows").toArray();
    for (const QJsonValue& window : array)
        list << window.toObject();
    return list;
}

ProbedWidget LiveSession::waitFor(const QString& key, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const ProbedWidget widget = find(key);
        if (widget.found || deadline.hasExpired())
            return widget;
        QTest::qWait(kPollMs);
    }
}

ProbedWidget LiveSession::waitForText(const QString& key, const QString& text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const ProbedWidget widget = find(key);
        if ((widget.found && widget.text == text) || deadline.hasExpired())
            return widget;
        QTest::qWait(kPollMs);
    }
}

ProbedWidget LiveSession::waitForMenuItem(const QString& title, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const ProbedWidget item = menuItem(title);
        if (item.found || deadline.hasExpired())
            return item;
        QTest::qWait(kPollMs);
    }
}

bool LiveSession::waitUntilGone(const QString& key, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (!find(key).found)
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(kPollMs);
    }
}

bool LiveSession::xdotool(const QStringList& arguments, QByteArray* output)
{

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DISPLAY"_s, m_display);
    env.remove(u"XAUTHORITY"_s);
    tool.setProcessEnvironment(env);
    tool.start(u"xdotool"_s, arguments);
    if (!tool.waitForFinished(kStartMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        m_lastError = u"xdotool %1 failed: %2"_s.arg(arguments.join(QLatin1Char(' ')),
                                                     QString::fromLocal8Bit(tool.readAllStandardError()).trimmed());
        return false;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return true;
}

QStringList LiveSession::xWindowsNamed(const QString& title)
{
    QByteArray output;
    // A search that finds nothing ends with exit code 1; that is an empty list here.
    if (!xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^"_s + QRegularExpression::escape(title) + u"$"_s},
                 &output))
        return {};
    return QString::fromLatin1(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QSize LiveSession::xWindowSize(const QString& windowId)
{
    QByteArray output;
    if (!xdotool({u"getwindowgeometry"_s, u"--shell"_s, windowId}, &output))
        return {};
    int width = -1;
    int height = -1;
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith("WIDTH="))
            width = line.mid(6).toInt();
        else if (line.startsWith("HEIGHT="))
            height = line.mid(7).toInt();
    }
    return {width, height};
}

QString LiveSession::xFocusedWindow()
{
    QByteArray output;
    if (!xdotool({u"getwindowfocus"_s, u"-f"_s}, &output))
        return {};
    return QString::fromLatin1(output).trimmed();
}

bool LiveSession::refocus()
{
    const QList<QJsonObject> shown = windows();
    QString target;
    for (const QJsonObject& window : shown) {
        if (window.value(u"popup").toBool())
            continue;
        if (target.isEmpty() || window.value(u"modal").toBool())
            target = window.value(u"winId").toString();
        if (window.value(u"modal").toBool())
            break;
    }
    if (target.isEmpty()) {
        m_lastError = u"The application shows no window to give the keyboard to."_s;
        return false;
    }
    return xdotool({u"windowfocus"_s, u"--sync"_s, target});
}

bool LiveSession::clickAt(const QPoint& point, int button)
{
    // xdotool's --sync waits for the pointer to move, and so for ever when it is there already.
    if (point == m_pointer)
        return xdotool({u"click"_s, QString::number(button)});
    if (!xdotool({u"mousemove"_s, u"--sync"_s, QString::number(point.x()), QString::number(point.y()), u"click"_s,
                  QString::number(button)}))
        return false;
    m_pointer = point;
    return true;
}

bool LiveSession::click(const ProbedWidget& target, int button)
{
    if (!target.found || target.shown.isEmpty()) {
        m_lastError = target.found ? u"The widget “%1” has no visible part to click."_s.arg(target.name)
                                   : u"There is no such widget to click."_s;
        return false;
    }
    return clickAt(target.shown.center(), button);
}

ProbedWidget LiveSession::scrollIntoView(const QString& key, const QPoint& wheelAt, int minHeight)
{
    const auto shownHeight = [](const ProbedWidget& w) { return w.rows >= 0 ? w.viewport.height() : w.shown.height(); };
    ProbedWidget widget = waitFor(key);
    for (int notch = 0; widget.found && shownHeight(widget) < minHeight && notch < 30; ++notch) {
        if (!clickAt(wheelAt, 5))
            break;
        // Each notch moves the page; the next one waits until it has.
        const QRect before = widget.rect;
        const QDeadlineTimer moved(1000);
        while (!moved.hasExpired() && widget.found && widget.rect == before) {
            QTest::qWait(kPollMs);
            widget = find(key);
        }
        // The page has reached its end.
        if (widget.rect == before)
            break;
    }
    return widget;
}

bool LiveSession::typeText(const QString& text)
{
    return xdotool({u"type"_s, u"--delay"_s, u"4"_s, u"--"_s, text});
}

bool LiveSession::pressKeys(const QString& keys)
{
    return xdotool(QStringList{u"key"_s, u"--delay"_s, u"20"_s, u"--"_s} + keys.split(QLatin1Char(' ')));
}

bool LiveSession::fillField(const QString& key, const QString& text)
{
    const ProbedWidget field = waitFor(key);
    if (!click(field))
        return false;
    const QDeadlineTimer focused(kProbeMs);
    for (;;) {
        const QJsonObject now = focus();
        if (now.value(u"found").toBool() && widgetFrom(now).rect == field.rect)
            break;
        if (focused.hasExpired()) {
            m_lastError = u"Clicking “%1” did not give it the keyboard focus."_s.arg(key);
            return false;
        }
        QTest::qWait(kPollMs);
    }
    if (!pressKeys(u"ctrl+a"_s) || !typeText(text))
        return false;
    const QDeadlineTimer typed(kProbeMs + text.size() * 20);
    for (;;) {
        const ProbedWidget now = find(key);
        if (now.text == text)
            return true;
        if (typed.hasExpired()) {
            m_lastError = u"The field “%1” shows “%2” after typing “%3”."_s.arg(key, now.text, text);
            return false;
        }
        QTest::qWait(kPollMs);
    }
}

QString LiveSession::screenshot(const QString& step)
{

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DISPLAY"_s, m_display);
    env.remove(u"XAUTHORITY"_s);
    tool.setProcessEnvironment(env);
    const QString path = m_screenshots + QLatin1Char('/') + step + u".png"_s;
    tool.start(QStringLiteral(MIRELO_SCREENSHOT_PATH), {path});
    if (!tool.waitForFinished(kStartMs) || tool.exitCode() != 0)
        return u"The screenshot %1 failed: %2"_s.arg(path, QString::fromLocal8Bit(tool.readAllStandardError()));
    return {};
}
