#include "app/AppDelegate.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Mirelo"));
    QApplication::setApplicationName(QStringLiteral("Mirelo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Mirelo"));
    QGuiApplication::setDesktopFileName(QStringLiteral("mirelo"));
    QApplication::setStyle(QStringLiteral("Fusion"));

    // A second start raises the running instance's window instead of writing its files too.
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::Primary:
        break;
    case SingleInstance::Claim::AnotherRunning:
        return 0;
    case SingleInstance::Claim::Unanswered:
        QTextStream(stderr) << QCoreApplication::translate(
            "main", "Mirelo is already running but does not answer. Quit it and start Mirelo again.\n");
        return 1;
    }

    AppDelegate delegate;
    QObject::connect(&instance, &SingleInstance::raiseRequested, &delegate, &AppDelegate::raise);
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
