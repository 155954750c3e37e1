#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

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
    QJsonObject credentials() const;
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
    explicit LiveSession(const QString& testName);
    ~LiveSession();

    // Empty when Xvfb and xdotool are installed; otherwise the sentence that says what is not.
    static QString missingTools();

    // The display and the demo server answering in the dialect ("postgresql" or "mysql").
    QString start(const QString& dialect);
    AppProfile makeProfile();
    // Starts the application with the profile and the probe loaded into it, and waits until
    // the probe answers.
    QString startApp(const AppProfile& profile);
    // Starts the application (startApp: with the probe); it runs until the session ends.
    QProcess* launch(const AppProfile& profile, const QString& logName, bool probe = false);
    // With the sign-in window on screen: signs in to the demo server with Return, and waits
    // for the main window; mainWindow is its X window.
    QString signIn(QString* mainWindow = nullptr);

    QString serverURL() const { return m_serverURL; }
    QString apiKey() const { return m_apiKey; }
    bool serverLogContains(const QString& text);
    QProcess* app() { return m_app; }

    // The probe's answers; those waited for, for up to ten seconds.
    ProbedWidget find(const QString& key);
    ProbedWidget waitFor(const QString& key, const QString& text = {});
    ProbedWidget waitForMenuItem(const QString& title);
    // Whether a menu, a list of choices or a completion list is open.
    bool popupShown();

    // The application's X windows, bottom to top, and the one with the keyboard.
    QStringList xWindows();
    QString xFocusedWindow();
    // The application's window of the given size, waited for; its X window, or empty.
    QString waitForWindow(const QSize& size);
    QString placeWindow(const QString& windowId, const QRect& frame);
    // Xvfb runs no window manager, so nothing gives the keyboard back to a window when a
    // dialog above it closes; this does, as a window manager would: to the application's
    // modal window if one is open, else to its one other visible window.
    QString refocus();

    QString click(const ProbedWidget& target, int button = 1);
    QString clickAt(const QPoint& point, int button = 1);
    // xdotool's key names, one after the other: "ctrl+Return", "Down Return".
    QString pressKeys(const QString& keys);
    // Clicks the field, waits until it has the focus, types text over what it holds, and
    // waits until it shows text.
    QString fillField(const QString& key, const QString& text);

    QString screenshot(const QString& step);
    QString screenshotFolder() const { return m_screenshots; }

private:
    QProcess* newProcess(const QProcessEnvironment& environment);
    QJsonObject query(const QString& request);
    QJsonArray windows();
    // Runs a tool on the display (xdotool, screenshot) to its end.
    QString runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);
    // The display's; with a profile, the application's, kept apart from the desktop's.
    QProcessEnvironment environment(const AppProfile* profile = nullptr, bool probe = false) const;

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
    do {                                                                                                               \
        const QString stepError_ = (expression);                                                                       \
        QVERIFY2(stepError_.isEmpty(), qPrintable(stepError_));                                                        \
    } while (false)

// What the test needs and is missing, as a sentence; empty when nothing is. Under
// scripts/test the test fails; run by hand, it skips.
#define GUI_REQUIRE(missing)                                                                                           \
    do {                                                                                                               \
        const QString missing_ = (missing);                                                                            \
        if (!missing_.isEmpty() && qEnvironmentVariableIsSet("MIRELO_TEST_GUI_REQUIRED"))                              \
            QFAIL(qPrintable(missing_));                                                                               \
        if (!missing_.isEmpty())                                                                                       \
            QSKIP(qPrintable(missing_));                                                                               \
    } while (false)
