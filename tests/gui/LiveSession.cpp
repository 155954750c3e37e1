#include "LiveSession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 10000;
constexpr int kStartMs = 20000;
constexpr int kPollMs = 25;
// Room for the main window made tall enough to show a whole result beneath its statement.
const auto kScreen = u"1280x1024x24"_s;

QRect rectFrom(const QJsonValue& value)
{
    return {value[u"x"].toInt(), value[u"y"].toInt(), value[u"w"].toInt(), value[u"h"].toInt()};
}

ProbedWidget widgetFrom(const QString& key, const QJsonObject& o)
{
    return {key,
            o[u"found"].toBool(),
            rectFrom(o[u"shown"]),
            o[u"text"].toString(),
            o[u"rows"].toInt(-1),
            rectFrom(o[u"viewport"])};
}

constexpr auto kYes = [](bool yes) { return yes; };

// Asks again until done accepts the answer or the time is up; gives the last answer.
template <typename Ask, typename Done> auto poll(Ask ask, Done done, int timeoutMs = kWaitMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        auto answer = ask();
        if (done(answer) || deadline.hasExpired())
            return answer;
        QTest::qWait(kPollMs);
    }
}

QString readFirstLine(QProcess* process, QString* line)
{
    const QDeadlineTimer deadline(kStartMs);
    while (!process->canReadLine()) {
        if (process->state() == QProcess::NotRunning || deadline.hasExpired()) {
            return u"%1 did not start: %2 %3"_s.arg(process->program(), process->errorString(),
                                                    QString::fromLocal8Bit(process->readAllStandardError()).trimmed());
        }
        process->waitForReadyRead(100);
    }
    *line = QString::fromUtf8(process->readLine()).trimmed();
    return {};
}

} // namespace

QJsonObject AppProfile::credentials() const
{
    QFile file(credentialsPath());
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

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
    if (QTest::currentTestFailed() && !m_display.isEmpty())
        screenshot(u"failure"_s);
    for (auto process = m_processes.rbegin(); process != m_processes.rend(); ++process) {
        (*process)->terminate();
        if (!(*process)->waitForFinished(5000))
            (*process)->kill();
    }
}

QString LiveSession::missingTools()
{
    for (const QString& tool : {u"Xvfb"_s, u"xdotool"_s}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return u"%1 is missing (scripts/lib/packages.sh installs it)."_s.arg(tool);
    }
    return {};
}

QProcess* LiveSession::newProcess(const QProcessEnvironment& environment)
{
    QProcess* process = m_processes.emplace_back(std::make_unique<QProcess>()).get();
    process->setProcessEnvironment(environment);
    // A test that is killed (a CTest timeout) takes what it started with it.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    return process;
}

QString LiveSession::start(const QString& dialect)
{
    // -displayfd: Xvfb takes the first free display number and writes it to standard output
    // once it accepts clients.
    QProcess* xvfb = newProcess(QProcessEnvironment::systemEnvironment());
    xvfb->start(u"Xvfb"_s,
                {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, kScreen, u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
    QString number;
    if (const QString error = readFirstLine(xvfb, &number); !error.isEmpty())
        return error;
    m_display = u":"_s + number;

    m_apiKey = u"mirelo_test_"_s + QString::number(QRandomGenerator::global()->generate64(), 16);
    m_server = newProcess(QProcessEnvironment::systemEnvironment());
    m_server->start(QStringLiteral(MIRELO_DEVSERVER_PATH),
                    {u"--port"_s, u"0"_s, u"--api-key"_s, m_apiKey, u"--dialect"_s, dialect});
    QString line;
    if (const QString error = readFirstLine(m_server, &line); !error.isEmpty())
        return error;
    if (!line.startsWith(u"Listening on "_s))
        return u"The demo server's first line was “%1”."_s.arg(line);
    m_serverURL = line.mid(13);
    return {};
}

bool LiveSession::serverLogContains(const QString& text)
{
    m_server->waitForReadyRead(0);
    m_serverLog += QString::fromUtf8(m_server->readAllStandardOutput());
    return m_serverLog.contains(text);
}

AppProfile LiveSession::makeProfile()
{
    AppProfile profile{m_scratch.filePath(u"profile%1"_s.arg(++m_profiles))};
    QDir().mkpath(profile.home());
    QDir().mkpath(profile.runtime());
    QFile::setPermissions(profile.runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return profile;
}

QProcessEnvironment LiveSession::environment(const AppProfile* profile, bool probe) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DISPLAY"_s, m_display);
    env.remove(u"XAUTHORITY"_s);
    if (!profile)
        return env;
    // Nothing of the desktop the tests happen to run in reaches the application.
    for (const QString& name : {u"XDG_CURRENT_DESKTOP"_s, u"QT_QPA_PLATFORMTHEME"_s, u"QT_STYLE_OVERRIDE"_s,
                                u"QT_SCALE_FACTOR"_s, u"QT_SCREEN_SCALE_FACTORS"_s, u"QT_FONT_DPI"_s, u"LD_PRELOAD"_s})
        env.remove(name);
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    env.insert(u"HOME"_s, profile->home());
    for (const QString& folder : {u"CONFIG"_s, u"DATA"_s, u"CACHE"_s, u"STATE"_s})
        env.insert(u"XDG_%1_HOME"_s.arg(folder), profile->root + u'/' + folder.toLower());
    env.insert(u"XDG_RUNTIME_DIR"_s, profile->runtime());
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + profile->runtime() + u"/no-bus"_s);
    if (probe) {
        env.insert(u"LD_PRELOAD"_s, QStringLiteral(MIRELO_PROBE_PATH));
        env.insert(u"MIRELO_PROBE_SOCKET"_s, m_probeSocket);
        // An instrumented application has its sanitizer runtime loaded after the probe.
        if (env.contains(u"ASAN_OPTIONS"_s))
            env.insert(u"ASAN_OPTIONS"_s, env.value(u"ASAN_OPTIONS"_s) + u":verify_asan_link_order=0"_s);
    }
    return env;
}

QProcess* LiveSession::launch(const AppProfile& profile, const QString& logName, bool probe)
{
    QProcess* app = newProcess(environment(&profile, probe));
    // Its messages are kept beside the screenshots.
    app->setStandardOutputFile(m_screenshots + u"/%1.log"_s.arg(logName), QIODevice::Append);
    app->setStandardErrorFile(m_screenshots + u"/%1.log"_s.arg(logName), QIODevice::Append);
    app->start(QStringLiteral(MIRELO_APP_PATH), {});
    app->waitForStarted(kStartMs);
    return app;
}

QString LiveSession::startApp(const AppProfile& profile)
{
    m_probeSocket = profile.runtime() + u"/probe.socket"_s;
    m_app = launch(profile, u"mirelo"_s, true);
    const auto ended = [this] { return m_app->state() != QProcess::Running || !query(u"focus"_s).isEmpty(); };
    if (!poll(ended, kYes, kStartMs) || m_app->state() != QProcess::Running)
        return u"Mirelo's probe did not answer; see %1/mirelo.log."_s.arg(m_screenshots);
    return {};
}

QString LiveSession::signIn(QString* mainWindow)
{
    if (waitForWindow(QSize(460, 460)).isEmpty())
        return u"No 460 × 460 sign-in window appeared."_s;
    QString error = fillField(u"Server URL"_s, m_serverURL);
    if (error.isEmpty())
        error = fillField(u"API Key"_s, m_apiKey);
    if (error.isEmpty())
        error = screenshot(u"sign-in"_s);
    if (error.isEmpty())
        error = pressKeys(u"Return"_s);
    if (!error.isEmpty())
        return error;
    const QString window = waitForWindow(QSize(1040, 720));
    if (window.isEmpty() || !waitFor(u"Prompt"_s).found)
        return u"No 1040 × 720 main window appeared after signing in."_s;
    if (mainWindow)
        *mainWindow = window;
    return {};
}

QJsonObject LiveSession::query(const QString& request)
{
    QLocalSocket socket;
    socket.connectToServer(m_probeSocket);
    if (!socket.waitForConnected(kWaitMs))
        return {};
    socket.write(request.toUtf8() + '\n');
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kWaitMs))
            return {};
    }
    return QJsonDocument::fromJson(socket.readLine()).object();
}

ProbedWidget LiveSession::find(const QString& key)
{
    return widgetFrom(key, query(u"find "_s + key));
}

ProbedWidget LiveSession::waitFor(const QString& key, const QString& text)
{
    return poll([&] { return find(key); },
                [&](const ProbedWidget& w) { return w.found && (text.isEmpty() || w.text == text); });
}

ProbedWidget LiveSession::waitForMenuItem(const QString& title)
{
    return poll([&] { return widgetFrom(title, query(u"menu "_s + title)); },
                [](const ProbedWidget& w) { return w.found; });
}

QJsonArray LiveSession::windows()
{
    return query(u"windows"_s).value(u"windows").toArray();
}

bool LiveSession::popupShown()
{
    const QJsonArray shown = windows();
    return std::any_of(shown.begin(), shown.end(), [](const QJsonValue& w) { return w[u"popup"].toBool(); });
}

QString LiveSession::runTool(const QString& program, const QStringList& arguments, QByteArray* output)
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(program, arguments);
    if (!tool.waitForFinished(kStartMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return u"%1 %2 failed: %3"_s.arg(program, arguments.join(u' '),
                                         QString::fromLocal8Bit(tool.readAllStandardError()).trimmed());
    if (output)
        *output = tool.readAllStandardOutput();
    return {};
}

QStringList LiveSession::xWindows()
{
    QByteArray output;
    // A search that finds nothing fails; that is an empty list here.
    runTool(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Mirelo$"_s}, &output);
    return QString::fromLatin1(output).split(u'\n', Qt::SkipEmptyParts);
}

QString LiveSession::xFocusedWindow()
{
    QByteArray output;
    runTool(u"xdotool"_s, {u"getwindowfocus"_s, u"-f"_s}, &output);
    return QString::fromLatin1(output).trimmed();
}

QString LiveSession::waitForWindow(const QSize& size)
{
    const auto sized = [&] {
        for (const QJsonValue& window : windows()) {
            if (rectFrom(window[u"rect"]).size() == size)
                return window[u"winId"].toString();
        }
        return QString();
    };
    return poll(sized, [](const QString& id) { return !id.isEmpty(); });
}

QString LiveSession::placeWindow(const QString& windowId, const QRect& frame)
{
    const QString error = runTool(u"xdotool"_s, {u"windowmove"_s, windowId, QString::number(frame.x()),
                                                 QString::number(frame.y()), u"windowsize"_s, windowId,
                                                 QString::number(frame.width()), QString::number(frame.height())});
    if (!error.isEmpty() || waitForWindow(frame.size()) == windowId)
        return error;
    return u"The window did not take the size %1 × %2."_s.arg(frame.width()).arg(frame.height());
}

QString LiveSession::refocus()
{
    // The probe lists the modal window, if any, before the others.
    for (const QJsonValue& window : windows()) {
        if (!window[u"popup"].toBool())
            return runTool(u"xdotool"_s, {u"windowfocus"_s, u"--sync"_s, window[u"winId"].toString()});
    }
    return u"The application shows no window to give the keyboard to."_s;
}

QString LiveSession::clickAt(const QPoint& point, int button)
{
    // xdotool's --sync waits for the pointer to move, and so for ever when it is there already.
    QStringList arguments{u"click"_s, QString::number(button)};
    if (point != m_pointer)
        arguments = QStringList{u"mousemove"_s, u"--sync"_s, QString::number(point.x()), QString::number(point.y())} +
                    arguments;
    const QString error = runTool(u"xdotool"_s, arguments);
    if (error.isEmpty())
        m_pointer = point;
    return error;
}

QString LiveSession::click(const ProbedWidget& target, int button)
{
    if (!target.found || target.shown.isEmpty())
        return u"“%1” is not on screen to be clicked."_s.arg(target.key);
    return clickAt(target.shown.center(), button);
}

QString LiveSession::pressKeys(const QString& keys)
{
    return runTool(u"xdotool"_s, QStringList{u"key"_s, u"--delay"_s, u"20"_s, u"--"_s} + keys.split(u' '));
}

QString LiveSession::fillField(const QString& key, const QString& text)
{
    const ProbedWidget field = waitFor(key);
    QString error = click(field);
    if (error.isEmpty() && !poll([&] { return rectFrom(query(u"focus"_s)[u"shown"]) == field.shown; }, kYes))
        error = u"Clicking “%1” did not give it the keyboard focus."_s.arg(key);
    if (error.isEmpty())
        error = pressKeys(u"ctrl+a"_s);
    if (error.isEmpty())
        error = runTool(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"4"_s, u"--"_s, text});
    if (error.isEmpty() && waitFor(key, text).text != text)
        error = u"The field “%1” does not show “%2” after typing it."_s.arg(key, text);
    return error;
}

QString LiveSession::screenshot(const QString& step)
{
    return runTool(QStringLiteral(MIRELO_SCREENSHOT_PATH), {m_screenshots + u'/' + step + u".png"_s});
}
