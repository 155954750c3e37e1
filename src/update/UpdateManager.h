#pragma once

#include "update/UpdateInfo.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QTimer;

// Keeps the application current from the server the user signed in to: asks its appcast
// for the latest build, announces a newer one, and downloads, verifies, unpacks and
// installs it, then hands over to a script that restarts the new build. Main thread only;
// hashing and unpacking run on a worker thread of its own.
class UpdateManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateManager)

public:
    // (newer build or none, error text or empty); none and no error means up to date.
    using CheckCompletion = std::function<void(const std::optional<UpdateInfo>& update, const QString& error)>;
    // A fraction from 0.0 to 1.0 of the download.
    using Progress = std::function<void(double fraction)>;
    // Empty when the new build is staged (the application then restarts), else an error text.
    using InstallCompletion = std::function<void(const QString& error)>;

    // How this copy of the application is updated.
    enum class InstallKind {
        SelfUpdating,   // a user-owned application folder that the manager can replace
        PackageManager, // installed by the system's package manager, which updates it
        NotInstalled,   // not running from an application folder (a build tree, say)
    };

    static UpdateManager& shared();

    // The running build number and display version, from the build (or a test's seam).
    static qint64 currentBuild();
    static QString currentVersion();
    static void setCurrentBuildForTesting(std::optional<qint64> build);
    static void setCurrentVersionForTesting(std::optional<QString> version);
    // The leading integer of a text, as a build number is read; 0 when it has none.
    static qint64 integerValue(const QString& text);

    // One check now, then one every six hours; calling it again restarts the period.
    void startAutomaticChecks();
    // One check; the completion, if any, runs once on the main thread ("Not signed in."
    // and "Invalid server URL." at once, before this returns).
    void checkWithCompletion(CheckCompletion completion = {});
    // The shared API client's server URL without slashes and spaces at either end.
    static QString trimmedServerURL();
    // Reads the appcast's release object; none when download_path or sha256 is missing.
    static std::optional<UpdateInfo> infoFromDictionary(const QJsonObject& release);
    // The last newer build found, kept until the process ends.
    std::optional<UpdateInfo> availableUpdate() const { return m_availableUpdate; }

    // Downloads the offer, verifies and unpacks it, then restarts into it. The completion
    // runs once on the main thread; failures found before any request is sent arrive
    // before this returns. Progress runs on the main thread before the completion.
    void downloadAndInstall(const UpdateInfo& info, Progress progress, InstallCompletion completion);
    bool isInstalling() const { return m_installing; }
    std::optional<QString> stagedAppPath() const { return m_stagedAppPath; }

    // The application folder this process runs from, read once at start-up, and how it
    // gets its updates.
    QString runningBundlePath() const { return m_runningBundle; }
    InstallKind installKind() const;

    // Writes the relaunch script, starts it and quits the application. Failures are
    // silent: the application simply keeps running.
    void relaunchWithStagedApp(const QString& appPath);

    // Test seams: the application folder taken as the running one (with the executable
    // inside it), and what happens instead of the relaunch.
    void setRunningBundleForTesting(const QString& bundle, const QString& executable = {});
    void setRelaunchForTesting(std::function<void(const QString& appPath)> relaunch);

Q_SIGNALS:
    // A check found a newer build than the running one; sent again by every such check.
    void updateAvailable(const UpdateInfo& info);

private:
    UpdateManager();
    ~UpdateManager() override;

    void handleAppcastAnswer(int status, const QByteArray& body, const QString& transportError,
                             const CheckCompletion& completion);
    QNetworkReply* get(QNetworkRequest request);
    QString installationError() const;
    void finishInstall(const QString& error, const QString& appPath);

    QNetworkAccessManager* m_network;
    QTimer* m_timer = nullptr;
    std::optional<UpdateInfo> m_availableUpdate;
    std::optional<QString> m_stagedAppPath;
    Progress m_downloadProgress;
    InstallCompletion m_installCompletion;
    bool m_installing = false;
    QString m_runningBundle;
    QString m_runningExecutable;
    std::function<void(const QString&)> m_relaunchForTesting;
    QThread m_workerThread;
    QObject* m_worker;
};
