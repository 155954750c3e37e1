#pragma once

#include "LiveSession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// Shared steps of the tests that drive the real application.
namespace GuiTest {

// Under scripts/test a missing Xvfb or xdotool fails the test; run by hand, it skips.
inline bool toolsRequired()
{
    return qEnvironmentVariableIsSet("MIRELO_TEST_GUI_REQUIRED");
}

// The X window titled title with exactly the given size, waited for; its id or empty.
inline QString waitForXWindow(LiveSession& session, const QString& title, const QSize& size, int timeoutMs = 10000)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QStringList ids = session.xWindowsNamed(title);
        for (const QString& id : ids) {
            if (session.xWindowSize(id) == size)
                return id;
        }
        if (deadline.hasExpired())
            return {};
        QTest::qWait(50);
    }
}

inline QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace GuiTest

// A step that returns a sentence on failure, empty on success.
#define GUI_STEP(expression)                                                                                           \
    do {                                                                                                               \
        const QString stepError_ = (expression);                                                                       \
        QVERIFY2(stepError_.isEmpty(), qPrintable(stepError_));                                                        \
    } while (false)

// Input that must reach the application.
#define GUI_INPUT(session, expression) QVERIFY2((expression), qPrintable((session).lastError()))

#define GUI_REQUIRE_TOOLS()                                                                                            \
    do {                                                                                                               \
        const QString missing_ = LiveSession::missingTools();                                                          \
        if (!missing_.isEmpty()) {                                                                                     \
            if (GuiTest::toolsRequired())                                                                              \
                QFAIL(qPrintable(missing_));                                                                           \
            QSKIP(qPrintable(missing_));                                                                               \
        }                                                                                                              \
    } while (false)
