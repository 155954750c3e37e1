// The Mirelo demo server: a stand-in for a real Mirelo server that answers the example
// prompts and a few plain patterns over the sample shop. A demo and test peer, not a
// language model.

#include "DemoServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpServer>
#include <QUrl>
#include <cstdio>
#include <optional>

namespace {

int fail(const QString& sentence)
{
    std::fputs((sentence + QLatin1Char('\n')).toUtf8().constData(), stderr);
    return 2;
}

std::optional<QByteArray> readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Could not read %1: %2.").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

// The release of an appcast file, which holds either the release object itself or a whole
// answer with a "release" member. A build file fills in what the file leaves out: where to
// download it, its SHA-256 digest and its size.
std::optional<std::optional<QJsonObject>> loadRelease(const QString& appcastPath, const QString& buildPath,
                                                      const QByteArray& build, QString* error)
{
    if (appcastPath.isEmpty())
        return std::optional<QJsonObject>();
    const std::optional<QByteArray> bytes = readFile(appcastPath, error);
    if (!bytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (!document.isObject()) {
        *error = QStringLiteral("%1 does not hold a JSON object.").arg(appcastPath);
        return std::nullopt;
    }
    QJsonObject root = document.object();
    if (root.contains(QStringLiteral("release"))) {
        const QJsonValue release = root.value(QStringLiteral("release"));
        if (release.isNull())
            return std::optional<QJsonObject>();
        if (!release.isObject()) {
            *error = QStringLiteral("The release in %1 must be an object or null.").arg(appcastPath);
            return std::nullopt;
        }
        root = release.toObject();
    }
    if (!buildPath.isEmpty()) {
        if (!root.contains(QStringLiteral("download_path"))) {
            const QString name = QString::fromUtf8(QUrl::toPercentEncoding(QFileInfo(buildPath).fileName()));
            root.insert(QStringLiteral("download_path"), QStringLiteral("/api/v1/desktop/download/") + name);
        }
        if (!root.contains(QStringLiteral("sha256"))) {
            root.insert(QStringLiteral("sha256"),
                        QString::fromLatin1(QCryptographicHash::hash(build, QCryptographicHash::Sha256).toHex()));
        }
        if (!root.contains(QStringLiteral("size")))
            root.insert(QStringLiteral("size"), double(build.size()));
    }
    const QJsonValue path = root.value(QStringLiteral("download_path"));
    if (path.isString() && !path.toString().startsWith(QLatin1Char('/'))) {
        *error = QStringLiteral("The download_path in %1 must start with a slash.").arg(appcastPath);
        return std::nullopt;
    }
    return std::optional<QJsonObject>(root);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Mirelo demo server: answers the example prompts and plain requests about the sample shop "
        "with SQL. A demo and test peer, not a language model. \"Wait N seconds, then <prompt>\" is "
        "answered N seconds late (1 to 60), to show stopping a generation. Prints \"Listening on <URL>\" "
        "first, then one line per request."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port to listen on; 0 picks a free one."),
                                  QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Address to listen on."),
                                     QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption apiKey(QStringLiteral("api-key"), QStringLiteral("An accepted API key; may repeat."),
                                    QStringLiteral("key"));
    const QCommandLineOption apiKeyFile(QStringLiteral("api-key-file"),
                                        QStringLiteral("A file of accepted API keys, one a line."),
                                        QStringLiteral("file"));
    const QCommandLineOption dialect(QStringLiteral("dialect"),
                                     QStringLiteral("SQL dialect of the answers: postgresql or mysql."),
                                     QStringLiteral("dialect"), QStringLiteral("postgresql"));
    const QCommandLineOption dataUser(QStringLiteral("data-user"),
                                      QStringLiteral("The users.id whose rows a data-isolated answer may show."),
                                      QStringLiteral("id"), QStringLiteral("1"));
    const QCommandLineOption appcast(QStringLiteral("appcast"),
                                     QStringLiteral("A JSON file with the release the appcast offers."),
                                     QStringLiteral("file"));
    const QCommandLineOption buildFile(QStringLiteral("build-file"),
                                       QStringLiteral("The build to serve at the release's download_path."),
                                       QStringLiteral("file"));
    parser.addOptions({port, address, apiKey, apiKeyFile, dialect, dataUser, appcast, buildFile});
    parser.process(app);

    DemoServer::Config config;
    config.apiKeys = parser.values(apiKey);
    if (parser.isSet(apiKeyFile)) {
        QString error;
        const std::optional<QByteArray> keys = readFile(parser.value(apiKeyFile), &error);
        if (!keys)
            return fail(error);
        for (const QByteArray& line : keys->split('\n')) {
            const QString key = QString::fromUtf8(line).trimmed();
            if (!key.isEmpty() && !key.startsWith(QLatin1Char('#')))
                config.apiKeys << key;
        }
    }
    config.apiKeys.removeAll(QString());
    if (config.apiKeys.isEmpty())
        return fail(QStringLiteral("Give at least one API key with --api-key or --api-key-file."));

    const std::optional<SqlDialect> chosen = PromptMatcher::dialectNamed(parser.value(dialect));
    if (!chosen)
        return fail(QStringLiteral("The dialect must be postgresql or mysql, not “%1”.").arg(parser.value(dialect)));
    config.dialect = *chosen;

    bool ok = false;
    config.isolationUserId = parser.value(dataUser).toLongLong(&ok);
    if (!ok || config.isolationUserId < 1)
        return fail(QStringLiteral("The data user must be a positive users.id."));

    if (parser.isSet(buildFile) && !parser.isSet(appcast))
        return fail(QStringLiteral("A build file needs --appcast with the release that offers it."));
    QString error;
    if (parser.isSet(buildFile)) {
        const std::optional<QByteArray> build = readFile(parser.value(buildFile), &error);
        if (!build)
            return fail(error);
        config.build = *build;
    }
    const auto release = loadRelease(parser.value(appcast), parser.value(buildFile), config.build, &error);
    if (!release)
        return fail(error);
    config.release = *release;

    const quint16 requestedPort = parser.value(port).toUShort(&ok);
    if (!ok)
        return fail(QStringLiteral("The port must be a number from 0 to 65535."));
    const QHostAddress host(parser.value(address));
    if (host.isNull())
        return fail(QStringLiteral("“%1” is not an IP address.").arg(parser.value(address)));

    DemoServer server(std::move(config));
    auto* listener = new QTcpServer(&server);
    if (!listener->listen(host, requestedPort)) {
        return fail(QStringLiteral("Could not listen on %1 port %2: %3.")
                        .arg(host.toString())
                        .arg(requestedPort)
                        .arg(listener->errorString()));
    }
    server.bind(listener);

    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host.toString());
    url.setPort(listener->serverPort());
    std::fputs(QStringLiteral("Listening on %1\n").arg(url.toString()).toUtf8().constData(), stdout);
    std::fflush(stdout);
    return app.exec();
}
