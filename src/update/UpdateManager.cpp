#include "update/UpdateManager.h"

#include "platform/AtomicFile.h"
#include "server/APIManager.h"
#include "server/RequestTimeouts.h"
#include "server/SameOriginRedirects.h"
#include "update/AppBundle.h"
#include "update/UpdateStaging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>
#include <QUuid>
#include <cmath>
#include <limits>

#ifndef MIRELO_VERSION
#define MIRELO_VERSION ""
#endif
#ifndef MIRELO_BUILD_NUMBER
#define MIRELO_BUILD_NUMBER "0"
#endif

namespace {

constexpr int kCheckPeriodMs = 21600 * 1000;
constexpr int kIdleTimeoutMs = 30 * 1000;
constexpr int kTotalTimeoutMs = 600 * 1000;
constexpr qint64 kDownloadBufferBytes = 256 * 1024;
const char* const kWriteFailedProperty = "mireloWriteFailed";

std::optional<qint64>& buildOverride()
{
    static std::optional<qint64> value;
    return value;
}

std::optional<QString>& versionOverride()
{
    static std::optional<QString> value;
    return value;
}

// The executable and its application folder, as they were when the process started:
// once the installation has replaced the folder, the running file's path means nothing.
struct StartupLocation
{
    QString executable;
    QString bundle;
};

StartupLocation& startupLocation()
{
    static StartupLocation location;
    return location;
}

void readStartupLocation()
{
    StartupLocation& location = startupLocation();
    location.executable = QCoreApplication::applicationFilePath();
    location.bundle = AppBundle::enclosingBundle(location.executable);
}

qint64 jsonInteger(const QJsonValue& value)
{
    if (value.isString())
        return UpdateManager::integerValue(value.toString());
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (std::isnan(number))
        return 0;
    if (number >= double(std::numeric_limits<qint64>::max()))
        return std::numeric_limits<qint64>::max();
    if (number <= double(std::numeric_limits<qint64>::min()))
        return std::numeric_limits<qint64>::min();
    return qint64(number);
}

std::optional<QString> optionalString(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// An http(s) address with a host, or an empty one.
QUrl webURL(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return {};
    return url;
}

bool isLocalHost(const QString& host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") || host == QLatin1String("::1");
}

struct Answer
{
    int status = 0; // 0 when no HTTP answer arrived
    QString transportError;
};

Answer answerOf(const QNetworkReply* reply)
{
    if (SameOriginRedirects::wasRefused(reply))
        return {0, SameOriginRedirects::refusedText()};
    if (RequestTimeouts::timedOut(reply))
        return {0, APIManager::transportErrorText(QNetworkReply::TimeoutError)};
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int error = reply->error();
    // Qt reports statuses such as 404 as errors too; those are answers. Network errors
    // (below 200) and a broken protocol mean the transfer itself failed.
    if (error != QNetworkReply::NoError &&
        (!status.isValid() || error < 200 || error == QNetworkReply::ProtocolFailure))
        return {0, APIManager::transportErrorText(error)};
    return {status.toInt(), {}};
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(readStartupLocation)

UpdateManager& UpdateManager::shared()
{
    static UpdateManager* instance = new UpdateManager;
    return *instance;
}

UpdateManager::UpdateManager() : m_network(new QNetworkAccessManager(this)), m_worker(new QObject)
{
    if (startupLocation().executable.isEmpty() && QCoreApplication::instance())
        readStartupLocation();
    m_runningExecutable = startupLocation().executable;
    m_runningBundle = startupLocation().bundle;

    m_workerThread.setObjectName(QStringLiteral("UpdateManager worker"));
    m_worker->moveToThread(&m_workerThread);
    connect(&m_workerThread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_workerThread.start();
}

UpdateManager::~UpdateManager()
{
    m_workerThread.quit();
    m_workerThread.wait();
}

qint64 UpdateManager::currentBuild()
{
    if (buildOverride())
        return *buildOverride();
    return integerValue(QStringLiteral(MIRELO_BUILD_NUMBER));
}

QString UpdateManager::currentVersion()
{
    if (versionOverride())
        return *versionOverride();
    return QStringLiteral(MIRELO_VERSION);
}

void UpdateManager::setCurrentBuildForTesting(std::optional<qint64> build)
{
    buildOverride() = build;
}

void UpdateManager::setCurrentVersionForTesting(std::optional<QString> version)
{
    versionOverride() = std::move(version);
}

qint64 UpdateManager::integerValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        const int digit = text.at(i).unicode() - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

QString UpdateManager::trimmedServerURL()
{
    const QString url = APIManager::shared().serverURL();
    const auto trimmed = [](QChar c) { return c == QLatin1Char('/') || c == QLatin1Char(' '); };
    qsizetype begin = 0;
    qsizetype end = url.size();
    while (begin < end && trimmed(url.at(begin)))
        ++begin;
    while (end > begin && trimmed(url.at(end - 1)))
        --end;
    return url.mid(begin, end - begin);
}

std::optional<UpdateInfo> UpdateManager::infoFromDictionary(const QJsonObject& release)
{
    const QJsonValue downloadPath = release.value(QStringLiteral("download_path"));
    const QJsonValue sha256 = release.value(QStringLiteral("sha256"));
    if (!downloadPath.isString() || !sha256.isString())
        return std::nullopt;
    UpdateInfo info;
    info.releaseId = jsonInteger(release.value(QStringLiteral("id")));
    const QJsonValue version = release.value(QStringLiteral("version"));
    info.version = version.isString() ? version.toString() : QStringLiteral("?");
    info.build = jsonInteger(release.value(QStringLiteral("build")));
    info.notes = optionalString(release.value(QStringLiteral("notes")));
    info.minOS = optionalString(release.value(QStringLiteral("min_os")));
    info.size = jsonInteger(release.value(QStringLiteral("size")));
    info.sha256 = sha256.toString().toLower();
    info.downloadPath = downloadPath.toString();
    return info;
}

QNetworkReply* UpdateManager::get(QNetworkRequest request)
{
    SameOriginRedirects::prepare(request);
    QNetworkReply* reply = m_network->get(request);
    SameOriginRedirects::guard(reply);

    RequestTimeouts::arm(reply, kIdleTimeoutMs, kTotalTimeoutMs);
    return reply;
}

void UpdateManager::startAutomaticChecks()
{
    checkWithCompletion();
    delete m_timer;
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("automaticCheckTimer"));
    m_timer->setInterval(kCheckPeriodMs);
    connect(m_timer, &QTimer::timeout, this, [this] { checkWithCompletion(); });
    m_timer->start();
}

void UpdateManager::checkWithCompletion(CheckCompletion completion)
{
    const auto finish = [&completion](const QString& error) {
        if (completion)
            completion(std::nullopt, error);
    };
    const QString base = trimmedServerURL();
    const QString key = APIManager::shared().apiKey();
    if (base.isEmpty() || key.isEmpty()) {
        finish(tr("Not signed in."));
        return;
    }
    if (const QString error = APIManager::credentialsError(base, key); !error.isEmpty()) {
        finish(error);
        return;
    }
    const QUrl url = webURL(base + QStringLiteral("/api/v1/desktop/appcast"));
    if (url.isEmpty()) {
        finish(tr("Invalid server URL."));
        return;
    }
    QNetworkRequest request(url);
    request.setRawHeader("x-api-key", key.toUtf8());
    request.setRawHeader("Accept", "application/json");
    QNetworkReply* reply = get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, completion = std::move(completion)] {
        reply->deleteLater();
        const Answer answer = answerOf(reply);
        handleAppcastAnswer(answer.status, answer.transportError.isEmpty() ? reply->readAll() : QByteArray(),
                            answer.transportError, completion);
    });
}

void UpdateManager::handleAppcastAnswer(int status, const QByteArray& body, const QString& transportError,
                                        const CheckCompletion& completion)
{
    const auto finish = [&completion](const std::optional<UpdateInfo>& info, const QString& error) {
        if (completion)
            completion(info, error);
    };
    if (!transportError.isEmpty()) {
        finish(std::nullopt, transportError);
        return;
    }
    if (status != 200 || body.isEmpty()) {
        finish(std::nullopt, tr("Update check failed (HTTP %1).").arg(status));
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue release = document.object().value(QStringLiteral("release"));
    const std::optional<UpdateInfo> info =
        document.isObject() && release.isObject() ? infoFromDictionary(release.toObject()) : std::nullopt;
    if (!info || info->build <= currentBuild()) {
        finish(std::nullopt, {});
        return;
    }
    m_availableUpdate = info;
    Q_EMIT updateAvailable(*info);
    finish(info, {});
}

UpdateManager::InstallKind UpdateManager::installKind() const
{
    if (m_runningBundle.isEmpty())
        return InstallKind::NotInstalled;
    if (AppBundle::isPackageManaged(m_runningBundle))
        return InstallKind::PackageManager;
    return InstallKind::SelfUpdating;
}

QString UpdateManager::installationError() const
{
    switch (installKind()) {
    case InstallKind::NotInstalled:
        return tr("Mirelo can’t update itself because it isn’t running from an installed application folder.");
    case InstallKind::PackageManager:
        return tr("This copy of Mirelo is updated by your package manager.");
    case InstallKind::SelfUpdating:
        break;
    }
    // The new copy is made beside the old one and renamed into its place.
    const QString parent = QFileInfo(m_runningBundle).absolutePath();
    if (!AppBundle::canCreateIn(parent))
        return tr("The update can’t be installed because the folder %1 can’t be written.").arg(parent);
    return {};
}

void UpdateManager::downloadAndInstall(const UpdateInfo& info, Progress progress, InstallCompletion completion)
{
    // The path is appended to the server's own address, so it must be a path: anything
    // else (".evil.example/x", "@evil.example/x") would carry the API key to another host.
    const QString base = trimmedServerURL();
    if (const QString error = APIManager::credentialsError(base, APIManager::shared().apiKey()); !error.isEmpty()) {
        completion(error);
        return;
    }
    const QUrl url = webURL(base + info.downloadPath);
    if (!info.downloadPath.startsWith(QLatin1Char('/')) || url.isEmpty() ||
        !SameOriginRedirects::isSameOrigin(url, webURL(base))) {
        completion(tr("Invalid download URL."));
        return;
    }
    if (url.scheme().toLower() != QLatin1String("https") && !isLocalHost(url.host())) {
        completion(tr("Updates require a secure (https) connection to your server."));
        return;
    }
    if (m_installing) {
        completion(tr("An update is already being installed."));
        return;
    }
    if (const QString error = installationError(); !error.isEmpty()) {
        completion(error);
        return;
    }
    const QString partPath = QDir(QDir::tempPath())
                                 .filePath(QStringLiteral("mirelo-download-%1.part")
                                               .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
    auto* part = new QFile(partPath, this);
    if (!part->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        delete part;
        completion(tr("Couldn't write the downloaded build to disk."));
        return;
    }

    QNetworkRequest request(url);
    const QString key = APIManager::shared().apiKey();
    if (!key.isEmpty())
        request.setRawHeader("x-api-key", key.toUtf8());
    request.setRawHeader("Accept", "*/*");

    m_installing = true;
    m_downloadProgress = std::move(progress);
    m_installCompletion = std::move(completion);
    QNetworkReply* reply = get(request);
    // Small pieces, each written as it comes: a large buffer would make the main thread
    // copy many megabytes at a time.
    reply->setReadBufferSize(kDownloadBufferBytes);
    // Progress is counted here rather than taken from downloadProgress(), which Qt holds
    // back during the first tenth of a second and so can miss a short download entirely.
    connect(reply, &QNetworkReply::readyRead, part, [this, reply, part] {
        const QByteArray data = reply->readAll();
        // Only the build itself is kept and counted, never an error page or a redirect's body.
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
            return;
        if (part->write(data) < 0) {
            reply->setProperty(kWriteFailedProperty, true);
            reply->abort();
            return;
        }
        const qint64 total = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (total > 0 && m_downloadProgress)
            m_downloadProgress(qMin(1.0, double(part->size()) / double(total)));
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, part, info] {
        reply->deleteLater();
        m_downloadProgress = {};
        const Answer answer = answerOf(reply);
        const bool answered = answer.transportError.isEmpty() && answer.status == 200;
        const bool written = !reply->property(kWriteFailedProperty).toBool() &&
                             (!answered || part->write(reply->readAll()) >= 0) && part->flush();
        const QString path = part->fileName();
        part->close();
        delete part;

        QString error;
        if (!written)
            error = tr("Couldn't write the downloaded build to disk.");
        else if (!answer.transportError.isEmpty())
            error = answer.transportError;
        else if (answer.status != 200)
            error = tr("Download failed (HTTP %1).").arg(answer.status);
        if (!error.isEmpty()) {
            QFile::remove(path);
            finishInstall(error, {});
            return;
        }
        // Hashing and unpacking a large build takes a while: off the main thread. The
        // manager outlives its worker (its destructor waits for it), so the answer can
        // always be posted back to it.
        QMetaObject::invokeMethod(m_worker, [this, path, info] {
            const UpdateStaging::Staged staged = UpdateStaging::verifyAndStage(path, info);
            QMetaObject::invokeMethod(
                this, [this, staged] { finishInstall(staged.error, staged.appPath); }, Qt::QueuedConnection);
        });
    });
}

void UpdateManager::finishInstall(const QString& error, const QString& appPath)
{
    m_installing = false;
    const InstallCompletion completion = std::exchange(m_installCompletion, {});
    if (!error.isEmpty()) {
        if (completion)
            completion(error);
        return;
    }
    m_stagedAppPath = appPath;
    if (completion)
        completion({});
    relaunchWithStagedApp(appPath);
}

void UpdateManager::relaunchWithStagedApp(const QString& appPath)
{
    if (appPath.isEmpty())
        return;
    if (m_relaunchForTesting) {
        m_relaunchForTesting(appPath);
        return;
    }
    const QString executable = QDir(m_runningBundle).relativeFilePath(m_runningExecutable);
    if (m_runningBundle.isEmpty() || executable.isEmpty() || executable.startsWith(QLatin1String("..")))
        return;
    const QString script = QDir(QDir::tempPath())
                               .filePath(QStringLiteral("mirelo-relaunch-%1.sh")
                                             .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
    const QByteArray text = UpdateStaging::relaunchScript(QCoreApplication::applicationPid(), executable,
                                                          UpdateStaging::stagingDirOf(appPath));
    if (!AtomicFile::write(script, text).isEmpty())
        return;
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), {script, m_runningBundle, appPath}, QStringLiteral("/"))) {
        QFile::remove(script);
        return;
    }
    QCoreApplication::quit();
}

void UpdateManager::setRunningBundleForTesting(const QString& bundle, const QString& executable)
{
    m_runningBundle = bundle;
    m_runningExecutable = executable.isEmpty() ? QDir(bundle).filePath(QStringLiteral("mirelo")) : executable;
}

void UpdateManager::setRelaunchForTesting(std::function<void(const QString&)> relaunch)
{
    m_relaunchForTesting = std::move(relaunch);
}
