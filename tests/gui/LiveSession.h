#pragma once

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

// Returns the step's failure sentence, if it has one.
#define RETURN_ON_FAILURE(expression)                                                                                  \
    if (QString failure_ = (expression); !failure_.isEmpty())                                                          \
    return failure_

// What the probe preloaded into the application says about one widget or menu item.
struct ProbedWidget
{
    QString key; // what it was asked for, for the failure sentences
    bool found = false;
    QRect shown;   // the part its ancestors do not clip away, in X pixels of the screen
    QString text;  // what it shows: a label's or button's text, a field's contents
    int rows = -1; // item views: the model's rows
    QRect viewport;
};

// A folder that stands in for a user's home for one run of the application: its own home
// and XDG folders, so the application reads and writes nothing of anyone else's.
struct AppProfile
{
    QString root;
    QString home() const { return root + QStringLiteral("/home"); }
    QString runtime() const { return root + QStringLiteral("/runtime"); }
    QString credentialsPath() const { return root + QStringLiteral("/data/Mirelo/credentials.json"); }
    QJsonObject credentials() const
    {
        QFile file(credentialsPath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
};

// Runs the real application for a test under a virtual X display (Xvfb), with the demo
// server beside it, and drives it the way a user does: real X pointer and key events from
// xdotool, aimed with what the read-only probe (MireloProbe) reports about the widgets.
// Screenshots go to <build>/screenshots/<test>/<step>.png. Everything it starts is stopped
// when it goes, also when a test fails half-way, and dies with the test process if that is
// killed. The steps return an empty string on success, else the sentence for the failure.
class LiveSession final
{
    Q_DISABLE_COPY_MOVE(LiveSession)

public:
    explicit LiveSession(const QString& testName)
        : m_screenshots(QStringLiteral(MIRELO_SCREENSHOT_DIR) + QLatin1Char('/') + testName)
    {
        // Each run leaves the pictures of that run only.
        QDir(m_screenshots).removeRecursively();
        QDir().mkpath(m_screenshots);
    }
    ~LiveSession()
    {
        // What the screen showed when the test failed is the first thing to look at.
        if (QTest::currentTestFailed() && !m_display.isEmpty())
            screenshot(u"failure"_s);
        // Stopped last to first: the applications before their server and their display.
        while (!m_processes.empty())
            m_processes.pop_back();
    }

    // Empty when Xvfb and xdotool are installed; otherwise the sentence that says what is not.
    static QString missingTools()
    {
        for (const QString& tool : {u"Xvfb"_s, u"xdotool"_s}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return u"%1 is missing (scripts/lib/packages.sh installs it)."_s.arg(tool);
        }
        return {};
    }

    // The display and the demo server answering in the dialect ("postgresql" or "mysql").
    QString start(const QString& dialect)
    {
        // -displayfd: Xvfb takes the first free display number and writes it to standard output
        // once it accepts clients.
        // The screen has room for the main window made tall enough to show a whole result
        // beneath its statement.
        QProcess* xvfb = newProcess(QProcessEnvironment::systemEnvironment());
        xvfb->start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1280x1024x24"_s, u"-nolisten"_s,
                                u"tcp"_s, u"-noreset"_s});
        QString number;
        RETURN_ON_FAILURE(readFirstLine(xvfb, &number));
        m_display = u":"_s + number;

        m_apiKey = u"mirelo_test_"_s + QString::number(QRandomGenerator::global()->generate64(), 16);
        m_server = newProcess(QProcessEnvironment::systemEnvironment());
        m_server->start(QStringLiteral(MIRELO_DEVSERVER_PATH),
                        {u"--port"_s, u"0"_s, u"--api-key"_s, m_apiKey, u"--dialect"_s, dialect});
        QString line;
        RETURN_ON_FAILURE(readFirstLine(m_server, &line));
        m_serverURL = line.mid(13); // after "Listening on "
        return {};
    }
    AppProfile makeProfile()
    {
        AppProfile profile{m_scratch.filePath(u"profile%1"_s.arg(++m_profiles))};
        QDir().mkpath(profile.home());
        QDir().mkpath(profile.runtime());
        QFile::setPermissions(profile.runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return profile;
    }
    // Starts the application with the profile and the probe loaded into it, and waits until
    // the probe answers.
    QString startApp(const AppProfile& profile)
    {
        m_probeSocket = profile.runtime() + u"/probe.socket"_s;
        m_app = launch(profile, u"mirelo"_s, true);
        const auto answered = [this] { return m_app->state() != QProcess::Running || !query(u"focus"_s).isEmpty(); };
        if (!QTest::qWaitFor(answered, kStartMs) || m_app->state() != QProcess::Running)
            return u"Mirelo's probe did not answer; see %1/mirelo.log."_s.arg(m_screenshots);
        return {};
    }
    // Starts the application (startApp: with the probe); it runs until the session ends.
    QProcess* launch(const AppProfile& profile, const QString& logName, bool probe = false)
    {
        QProcessEnvironment env = environment(&profile);
        if (probe) {
            env.insert(u"LD_PRELOAD"_s, QStringLiteral(MIRELO_PROBE_PATH));
            env.insert(u"MIRELO_PROBE_SOCKET"_s, m_probeSocket);
            // An instrumented application has its sanitizer runtime loaded after the probe.
            env.insert(u"ASAN_OPTIONS"_s, env.value(u"ASAN_OPTIONS"_s) + u":verify_asan_link_order=0"_s);
        }
        QProcess* app = newProcess(env);
        // Its messages are kept beside the screenshots.
        app->setStandardOutputFile(m_screenshots + u"/%1.log"_s.arg(logName), QIODevice::Append);
        app->setStandardErrorFile(m_screenshots + u"/%1.log"_s.arg(logName), QIODevice::Append);
        app->start(QStringLiteral(MIRELO_APP_PATH), {});
        app->waitForStarted(kStartMs);
        return app;
    }
    // With the sign-in window on screen: signs in to the demo server with Return, and waits
    // for the main window; mainWindow is its X window.
    QString signIn(QString* mainWindow)
    {
        if (waitForWindow(QSize(460, 460)).isEmpty())
            return u"No 460 × 460 sign-in window appeared."_s;
        RETURN_ON_FAILURE(fillField(u"Server URL"_s, m_serverURL));
        RETURN_ON_FAILURE(fillField(u"API Key"_s, m_apiKey));
        RETURN_ON_FAILURE(screenshot(u"sign-in"_s));
        RETURN_ON_FAILURE(pressKeys(u"Return"_s));
        *mainWindow = waitForWindow(QSize(1040, 720));
        if (mainWindow->isEmpty() || !waitFor(u"Prompt"_s).found)
            return u"No 1040 × 720 main window appeared after signing in."_s;
        return {};
    }

    QString serverURL() const { return m_serverURL; }
    QString apiKey() const { return m_apiKey; }
    bool serverLogContains(const QString& text)
    {
        m_server->waitForReadyRead(0);
        m_serverLog += QString::fromUtf8(m_server->readAllStandardOutput());
        return m_serverLog.contains(text);
    }
    QProcess* app() { return m_app; }

    // The probe's answers ("menu <title>" for a menu item); those waited for, for up to ten
    // seconds.
    ProbedWidget find(const QString& key)
    {
        const QJsonObject o = query(u"find "_s + key);
        return {key,
                o[u"found"].toBool(),
                rectFrom(o[u"shown"]),
                o[u"text"].toString(),
                o[u"rows"].toInt(-1),
                rectFrom(o[u"viewport"])};
    }
    ProbedWidget waitFor(const QString& key, const QString& text = {})
    {
        ProbedWidget widget;
        (void)QTest::qWaitFor([&] { return (widget = find(key)).found && (text.isEmpty() || widget.text == text); },
                              kWaitMs);
        return widget;
    }
    // Whether a menu, a list of choices or a completion list is open.
    bool popupShown()
    {
        const QJsonArray shown = windows();
        return std::any_of(shown.begin(), shown.end(), [](const QJsonValue& w) { return w[u"popup"].toBool(); });
    }

    // The application's X windows, bottom to top, and the one with the keyboard.
    QStringList xWindows()
    {
        QByteArray output;
        // A search that finds nothing fails; that is an empty list here.
        runTool(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Mirelo$"_s}, &output);
        return QString::fromLatin1(output).split(u'\n', Qt::SkipEmptyParts);
    }
    QString xFocusedWindow()
    {
        QByteArray output;
        runTool(u"xdotool"_s, {u"getwindowfocus"_s, u"-f"_s}, &output);
        return QString::fromLatin1(output);
    }
    // The application's window of the given size, waited for; its X window, or empty.
    QString waitForWindow(const QSize& size)
    {
        QString id;
        (void)QTest::qWaitFor(
            [&] {
                for (const QJsonValue& window : windows()) {
                    if (rectFrom(window[u"rect"]).size() == size)
                        return !(id = window[u"winId"].toString()).isEmpty();
                }
                return false;
            },
            kWaitMs);
        return id;
    }
    QString placeWindow(const QString& windowId, const QRect& frame)
    {
        RETURN_ON_FAILURE(runTool(u"xdotool"_s, {u"windowmove"_s, windowId, QString::number(frame.x()),
                                                 QString::number(frame.y()), u"windowsize"_s, windowId,
                                                 QString::number(frame.width()), QString::number(frame.height())}));
        if (waitForWindow(frame.size()) != windowId)
            return u"The window did not take the size %1 × %2."_s.arg(frame.width()).arg(frame.height());
        return {};
    }
    // Xvfb runs no window manager, so nothing gives the keyboard back to a window when a
    // dialog above it closes; this does, as a window manager would: to the application's
    // modal window if one is open, else to its one other visible window.
    QString refocus()
    {
        // The probe lists the modal window, if any, before the others.
        for (const QJsonValue& window : windows()) {
            if (!window[u"popup"].toBool())
                return runTool(u"xdotool"_s, {u"windowfocus"_s, u"--sync"_s, window[u"winId"].toString()});
        }
        return u"The application shows no window to give the keyboard to."_s;
    }

    QString click(const ProbedWidget& target)

    {

        if (!target.found || target.shown.isEmpty())

            return u"“%1” is not on screen to be clicked."_s.arg(target.key);

        return clickAt(target.shown.center());
    }
    QString clickAt(const QPoint& point, int button = 1)
    {
        // xdotool's --sync waits for the pointer to move, and so for ever when it is there already.
        QStringList arguments{u"click"_s, QString::number(button)};
        if (point != m_pointer)
            arguments =
                QStringList{u"mousemove"_s, u"--sync"_s, QString::number(point.x()), QString::number(point.y())} +
                arguments;
        m_pointer = point;
        return runTool(u"xdotool"_s, arguments);
    }
    // xdotool's key names, one after the other: "ctrl+Return", "Down Return".
    QString pressKeys(const QString& keys)
    {
        return runTool(u"xdotool"_s, QStringList{u"key"_s, u"--delay"_s, u"20"_s, u"--"_s} + keys.split(u' '));
    }
    // Clicks the field, waits until it has the focus, types text over what it holds, and
    // waits until it shows text.
    QString fillField(const QString& key, const QString& text)
    {
        const ProbedWidget field = waitFor(key);
        RETURN_ON_FAILURE(click(field));
        if (!QTest::qWaitFor([&] { return rectFrom(query(u"focus"_s)[u"shown"]) == field.shown; }, kWaitMs))
            return u"Clicking “%1” did not give it the keyboard focus."_s.arg(key);
        RETURN_ON_FAILURE(pressKeys(u"ctrl+a"_s));
        RETURN_ON_FAILURE(runTool(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"4"_s, u"--"_s, text}));
        if (waitFor(key, text).text != text)
            return u"The field “%1” does not show “%2” after typing it."_s.arg(key, text);
        return {};
    }

    QString screenshot(const QString& step)
    {
        return runTool(QStringLiteral(MIRELO_SCREENSHOT_PATH), {m_screenshots + u'/' + step + u".png"_s});
    }
    QString screenshotFolder() const { return m_screenshots; }

private:
    static constexpr int kWaitMs = 10000;
    static constexpr int kStartMs = 20000;

    static QRect rectFrom(const QJsonValue& value)
    {
        return {value[u"x"].toInt(), value[u"y"].toInt(), value[u"w"].toInt(), value[u"h"].toInt()};
    }

    static QString readFirstLine(QProcess* process, QString* line)
    {
        (void)QTest::qWaitFor([&] { return process->canReadLine() || process->state() == QProcess::NotRunning; },
                              kStartMs);
        if (!process->canReadLine()) {
            return u"%1 did not start: %2 %3"_s.arg(process->program(), process->errorString(),
                                                    QString::fromLocal8Bit(process->readAllStandardError()).trimmed());
        }
        *line = QString::fromUtf8(process->readLine()).trimmed();
        return {};
    }

    QProcess* newProcess(const QProcessEnvironment& environment)
    {
        QProcess* process = m_processes.emplace_back(std::make_unique<QProcess>()).get();
        process->setProcessEnvironment(environment);
        // A test that is killed (a CTest timeout) takes what it started with it.
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        return process;
    }
    QJsonObject query(const QString& request)
    {
        QLocalSocket socket;
        socket.connectToServer(m_probeSocket);
        socket.write(request.toUtf8() + '\n');
        while (!socket.canReadLine()) {
            if (!socket.waitForReadyRead(kWaitMs))
                return {};
        }
        return QJsonDocument::fromJson(socket.readLine()).object();
    }
    QJsonArray windows() { return query(u"windows"_s).value(u"windows").toArray(); }
    // Runs a tool on the display (xdotool, screenshot) to its end.
    QString runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
    {
        QProcess tool;
        tool.setProcessEnvironment(environment());
        tool.start(program, arguments);
        if (!tool.waitForFinished(kStartMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
            return u"%1 %2 failed: %3"_s.arg(tool.program(), arguments.join(u' '),
                                             QString::fromLocal8Bit(tool.readAllStandardError()).trimmed());
        if (output)
            *output = tool.readAllStandardOutput().trimmed();
        return {};
    }
    // The display's; with a profile, the application's, kept apart from the user's.
    QProcessEnvironment environment(const AppProfile* profile = nullptr) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DISPLAY"_s, m_display);
        if (!profile)
            return env;
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        env.insert(u"HOME"_s, profile->home());
        for (const QString& folder : {u"CONFIG"_s, u"DATA"_s, u"CACHE"_s, u"STATE"_s})
            env.insert(u"XDG_%1_HOME"_s.arg(folder), profile->root + u'/' + folder.toLower());
        env.insert(u"XDG_RUNTIME_DIR"_s, profile->runtime());
        // No session bus: nothing reaches the desktop's keyring.
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + profile->runtime() + u"/no-bus"_s);
        return env;
    }

    QTemporaryDir m_scratch;
    QString m_screenshots;
    // Stopped last to first: the applications before their server and their display.
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QProcess* m_server = nullptr;
    QProcess* m_app = nullptr;
    QString m_display;
    QString m_serverURL;
    QString m_apiKey;
    QString m_serverLog;
    QString m_probeSocket;
    QPoint m_pointer{-1, -1}; // where the last click left the pointer
    int m_profiles = 0;
};

// A step that returns a sentence on failure, empty on success.
#define GUI_STEP(expression)                                                                                           \
    if (const QString stepError_ = (expression); !stepError_.isEmpty())                                                \
    QFAIL(qPrintable(stepError_))

// What the test needs and is missing, as a sentence; empty when nothing is. Under
// scripts/test the test fails; run by hand, it skips.
#define GUI_REQUIRE(missing)                                                                                           \
    if (const QString missing_ = (missing); !missing_.isEmpty()) {                                                     \
        if (qEnvironmentVariableIsSet("MIRELO_TEST_GUI_REQUIRED"))                                                     \
            QFAIL(qPrintable(missing_));                                                                               \
        QSKIP(qPrintable(missing_));                                                                                   \
    }
