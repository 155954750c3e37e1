// Stands in for the application in the relaunch tests. It runs from an application
// folder, takes its build number from build.txt beside its executable (as the real
// application takes its own from the build) and writes what it does to a log.
// Environment: MIRELO_TEST_SERVER and MIRELO_TEST_KEY (the server it signs in to) and
// MIRELO_TEST_LOG (the log, one line per event).
// Without arguments it checks for updates and installs a newer build; with
// "relaunch <application>" it hands over to that staged application at once.

#include "server/APIManager.h"
#include "update/UpdateManager.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

namespace {

void log(const QString& line)
{
    QFile file(qEnvironmentVariable("MIRELO_TEST_LOG"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line.toUtf8() + '\n');
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    UpdateManager& manager = UpdateManager::shared();
    QFile buildFile(QCoreApplication::applicationDirPath() + QStringLiteral("/build.txt"));
    const qint64 build = buildFile.open(QIODevice::ReadOnly) ? buildFile.readAll().toLongLong() : 0;
    UpdateManager::setCurrentBuildForTesting(build);
    APIManager::shared().setServerURL(qEnvironmentVariable("MIRELO_TEST_SERVER"));
    APIManager::shared().setApiKey(qEnvironmentVariable("MIRELO_TEST_KEY"));
    log(QStringLiteral("started %1 %2").arg(QString::number(build), manager.runningBundlePath()));

    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("relaunch")) {
        QTimer::singleShot(0, &app, [&manager, staged = args.at(2)] { manager.relaunchWithStagedApp(staged); });
        return app.exec();
    }

    manager.checkWithCompletion([&manager, build](const std::optional<UpdateInfo>& update, const QString& error) {
        if (!error.isEmpty() || !update) {
            log(error.isEmpty() ? QStringLiteral("up-to-date %1").arg(build) : QStringLiteral("error ") + error);
            QCoreApplication::exit(error.isEmpty() ? 0 : 1);
            return;
        }
        // Once staged, the manager relaunches and quits.
        manager.downloadAndInstall(*update, {}, [](const QString& installError) {
            log(installError.isEmpty() ? QStringLiteral("staged") : QStringLiteral("error ") + installError);
            if (!installError.isEmpty())
                QCoreApplication::exit(1);
        });
    });
    return app.exec();
}
