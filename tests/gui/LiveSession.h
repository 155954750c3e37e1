#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// What the probe preloaded into the application says about one widget or menu item.
struct ProbedWidget
{
    bool found = false;
    QRect rect;  // the whole widget, in X pixels of the screen
    QRect shown; // the part its ancestors do not clip away
    bool enabled = false;
    QString text; // what it shows: a label's or button's text, a field's contents
    QString name; // its accessible name
    QString value;
    int rows = -1; // item views: the model's rows
    QRect viewport;
    QJsonObject raw;
};

// A folder that stands in for a user's home for one run of the application: its own home
// and XDG folders, so the application reads and writes nothing of anyone else's.
struct AppProfile
{
    QString root;
    QString home() const { return root + QStringLiteral("/home"); }
    QString config() const { return root + QStringLiteral("/config"); }
    QString data() const { return root + QStringLiteral("/data"); }
    QString runtime() const { return root + QStringLiteral("/runtime"); }
    QString credentialsPath() const { return data() + QStringLiteral("/Mirelo/credentials.json"); }
    QString connectionsPath() const { return home() + QStringLiteral("/.mirelo"); }
    QString settingsPath() const { return config() + QStringLiteral("/Mirelo/Mirelo.conf"); }
};

// Runs the real application for a test under a virtual X display (Xvfb), with the demo
// server beside it, and drives it the way a user does: real X pointer and key events from
// xdotool, aimed with what the read-only probe (MireloProbe) reports about the widgets.
// Screenshots go to <build>/screenshots/<test>/<step>.png. Everything it starts is stopped
// when it goes, also when a test fails half-way, and dies with the test process if that is
// killed.
class LiveSession final
{
    Q_DISABLE_COPY_MOVE(LiveSession)

public:
    explicit LiveSession(const QString& testName);
    ~LiveSession();

    // Empty when Xvfb and xdotool are installed; otherwise the sentence that says what is not.
    static QString missingTools();

    // Each returns an empty string on success, else a sentence for the test's failure.
    QString startDisplay();
    QString startDemoServer(const QString& dialect);
    QString makeProfile(AppProfile* profile);
    // Starts the application with the profile, the probe loaded into it, and waits until the
    // probe answers.
    QString startApp(const AppProfile& profile);
    // Starts another copy of the application with a profile of its own, as another user's
    // would run beside this one; it runs until the session ends or stopBystander().
    QString startBystander(const AppProfile& profile);
    void stopBystander();
    // Runs the application once more with the same profile and no probe, until it ends.
    // Gives its exit code, or -1 with error set when it crashed or did not end in time.
    int runAppAgain(const AppProfile& profile, QString* error);

    QString display() const { return m_display; }
    QString serverURL() const { return m_serverURL; }
    QString apiKey() const { return m_apiKey; }
    // The demo server's log lines so far, the address line left out.
    QStringList serverLog();
    QProcess* app() { return m_app.get(); }
    // Waits for the application to end; false when it is still running after timeoutMs.
    bool waitForAppExit(int timeoutMs);

    // The probe's answers. A failed request comes back as not found.
    ProbedWidget find(const QString& key);
    ProbedWidget menuItem(const QString& title);
    QJsonObject focus();
    QList<QJsonObject> windows();
    // Waits until find(key) is found and, when given, its text is text; returns the last
    // answer either way.
    ProbedWidget waitFor(const QString& key, int timeoutMs = 10000);
    ProbedWidget waitForText(const QString& key, const QString& text, int timeoutMs = 10000);
    ProbedWidget waitForMenuItem(const QString& title, int timeoutMs = 10000);
    bool waitUntilGone(const QString& key, int timeoutMs = 10000);

    // The X windows titled title, from xdotool's search, each as its id.
    QStringList xWindowsNamed(const QString& title);
    // An X window's size, or an invalid size.
    QSize xWindowSize(const QString& windowId);
    QString xFocusedWindow();

    // Xvfb runs no window manager, so nothing gives the keyboard back to a window when a
    // dialog above it closes; this does, as a window manager would: to the application's
    // modal window if one is open, else to its one other visible window.
    bool refocus();

    // Real input. Each returns false, with lastError() set, when xdotool fails or the target
    // has no visible part.
    bool click(const ProbedWidget& target, int button = 1);
    bool clickAt(const QPoint& point, int button = 1);
    // Turns the mouse wheel down at wheelAt, a notch at a time, until the widget (an item
    // view: its viewport) shows at least minHeight pixels; gives its last answer.
    ProbedWidget scrollIntoView(const QString& key, const QPoint& wheelAt, int minHeight);
    bool typeText(const QString& text);
    // xdotool's key names, one after the other: "ctrl+Return", "Down Return".
    bool pressKeys(const QString& keys);
    // Clicks the field, waits until it has the focus, selects what it holds and types text
    // over it, then waits until it shows text (masked fields: until it holds text).
    bool fillField(const QString& key, const QString& text);
    QString lastError() const { return m_lastError; }

    // Saves the whole screen as <step>.png in the test's screenshot folder.
    QString screenshot(const QString& step);
    QString screenshotFolder() const { return m_screenshots; }

private:
    QString startProcess(QProcess* process, const QString& program, const QStringList& arguments);
    QString query(const QString& request, QJsonObject* answer);
    bool xdotool(const QStringList& arguments, QByteArray* output = nullptr);
    QProcessEnvironment appEnvironment(const AppProfile& profile) const;
    static void stop(QProcess* process);

    QTemporaryDir m_scratch;
    QString m_screenshots;
    std::unique_ptr<QProcess> m_xvfb;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_app;
    std::unique_ptr<QProcess> m_bystander;
    QString m_display;
    QString m_serverURL;
    QString m_apiKey;
    QString m_serverLog;
    QString m_probeSocket;
    QString m_lastError;
    QPoint m_pointer{-1, -1}; // where the last click left the pointer
    int m_profiles = 0;
};
