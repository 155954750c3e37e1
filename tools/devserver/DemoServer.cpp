#include "DemoServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <memory>

using StatusCode = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;

struct DemoServer::Reply
{
    StatusCode status = StatusCode::Ok;
    QJsonObject json; // the body, unless bytes are set
    QByteArray bytes; // a download
    QByteArray allow; // the Allow header of a 405
    QString outcome;  // for the log
};

namespace {

const auto kHealth = QStringLiteral("/api/v1/health");
const auto kGenerate = QStringLiteral("/api/v1");
const auto kAppcast = QStringLiteral("/api/v1/desktop/appcast");

QJsonObject errorObject(const QString& type, const QString& sentence)
{
    return {{QStringLiteral("status"), QStringLiteral("error")},
            {QStringLiteral("error_type"), type},
            {QStringLiteral("error"), sentence}};
}

QString methodName(Method method)
{
    const char* key = QMetaEnum::fromType<Method>().valueToKey(int(method));
    return key ? QString::fromLatin1(key).toUpper() : QStringLiteral("?");
}

// Writes one log line at once, so that a reader of a pipe sees each request as it happens.
// request: the method and path, as requestName() gives them.
void log(const QString& request, StatusCode status, const QString& outcome)
{
    const QString line = QStringLiteral("%1 %2 %3 %4\n")
                             .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), request)
                             .arg(int(status))
                             .arg(outcome);
    std::fputs(line.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QString requestName(const QHttpServerRequest& request)
{
    return methodName(request.method()) + QLatin1Char(' ') + request.url().path(QUrl::FullyEncoded);
}

} // namespace

DemoServer::DemoServer(Config config, QObject* parent)
    : QAbstractHttpServer(parent), m_config(std::move(config)), m_matcher(m_config.dialect, m_config.isolationUserId)
{
    if (m_config.release) {
        const QJsonValue path = m_config.release->value(QStringLiteral("download_path"));
        if (path.isString())
            m_downloadPath = QUrl(path.toString()).path(QUrl::FullyDecoded);
    }
}

bool DemoServer::authorised(const QHttpServerRequest& request) const
{
    for (const auto& [name, value] : request.headers()) {
        if (name.compare("x-api-key", Qt::CaseInsensitive) == 0)
            return !value.isEmpty() && m_config.apiKeys.contains(QString::fromUtf8(value));
    }
    return false;
}

QHttpServerResponse DemoServer::response(const Reply& reply)
{
    QHttpServerResponse response = reply.bytes.isNull()
                                       ? QHttpServerResponse(reply.json, reply.status)
                                       : QHttpServerResponse("application/octet-stream", reply.bytes, reply.status);
    if (!reply.allow.isEmpty())
        response.setHeader("Allow", reply.allow);
    return response;
}

bool DemoServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    int pauseSeconds = 0;
    const Reply reply = route(request, &pauseSeconds);
    if (pauseSeconds == 0) {
        response(reply).write(makeResponder(request, socket));
        log(requestName(request), reply.status, reply.outcome);
        return true;
    }
    // The answer waits on the event loop, so that other requests go on meanwhile. A client
    // that gives up first has closed the connection by then, and is sent nothing.
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    const QPointer<QTcpSocket> client(socket);
    const QString name = requestName(request);
    // A paused request is logged as it arrives too, so that a watcher knows it is there.
    log(name, reply.status, QStringLiteral("waiting %1 s before answering").arg(pauseSeconds));
    QTimer::singleShot(pauseSeconds * 1000, this, [client, responder, reply, name, pauseSeconds] {
        if (!client || client->state() != QAbstractSocket::ConnectedState) {
            log(name, reply.status,
                QStringLiteral("not sent: the client left during the %1 s pause").arg(pauseSeconds));
            return;
        }
        response(reply).write(std::move(*responder));
        log(name, reply.status, QStringLiteral("%1, after a %2 s pause").arg(reply.outcome).arg(pauseSeconds));
    });
    return true;
}

void DemoServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // Every request is handled above; this only satisfies the base class.
    handleRequest(request, socket);
}

DemoServer::Reply DemoServer::route(const QHttpServerRequest& request, int* pauseSeconds) const
{
    const QString path = request.url().path(QUrl::FullyDecoded);
    const Method method = request.method();
    const auto onlyMethod = [&](Method allowed, const QByteArray& name) -> std::optional<Reply> {
        if (method == allowed)
            return std::nullopt;
        return Reply{StatusCode::MethodNotAllowed,
                     errorObject(QStringLiteral("method_not_allowed"),
                                 QStringLiteral("%1 takes %2 requests only.").arg(path, QString::fromLatin1(name))),
                     {},
                     name,
                     QStringLiteral("wrong method")};
    };
    const auto unauthorised = [] {
        return Reply{StatusCode::Unauthorized,
                     errorObject(QStringLiteral("unauthorized"),
                                 QStringLiteral("The API key is missing or not one this server accepts.")),
                     {},
                     {},
                     QStringLiteral("refused: bad key")};
    };

    if (path == kHealth) {
        if (auto wrong = onlyMethod(Method::Get, "GET"))
            return std::move(*wrong);
        if (!authorised(request))
            return unauthorised();
        return Reply{
            StatusCode::Ok, {{QStringLiteral("status"), QStringLiteral("ok")}}, {}, {}, QStringLiteral("key ok")};
    }
    if (path == kGenerate) {
        if (auto wrong = onlyMethod(Method::Post, "POST"))
            return std::move(*wrong);
        if (!authorised(request))
            return unauthorised();
        return generate(request, pauseSeconds);
    }
    if (path == kAppcast) {
        if (auto wrong = onlyMethod(Method::Get, "GET"))
            return std::move(*wrong);
        if (!authorised(request))
            return unauthorised();
        const QJsonValue release = m_config.release ? QJsonValue(*m_config.release) : QJsonValue(QJsonValue::Null);
        return Reply{StatusCode::Ok,
                     {{QStringLiteral("release"), release}},
                     {},
                     {},
                     m_config.release ? QStringLiteral("release offered") : QStringLiteral("no release")};
    }
    if (!m_downloadPath.isEmpty() && path == m_downloadPath) {
        if (auto wrong = onlyMethod(Method::Get, "GET"))
            return std::move(*wrong);
        if (!authorised(request))
            return unauthorised();
        if (m_config.build.isNull()) {
            return Reply{StatusCode::NotFound,
                         errorObject(QStringLiteral("not_found"), QStringLiteral("This server has no build to offer.")),
                         {},
                         {},
                         QStringLiteral("no build")};
        }
        return Reply{
            StatusCode::Ok, {}, m_config.build, {}, QStringLiteral("build sent, %1 bytes").arg(m_config.build.size())};
    }
    return Reply{
        StatusCode::NotFound,
        errorObject(QStringLiteral("not_found"), QStringLiteral("There is nothing at %1 on this server.").arg(path)),
        {},
        {},
        QStringLiteral("not found")};
}

DemoServer::Reply DemoServer::generate(const QHttpServerRequest& request, int* pauseSeconds) const
{
    const auto invalid = [](const QString& sentence) {
        return Reply{StatusCode::BadRequest,
                     errorObject(QStringLiteral("invalid_request"), sentence),
                     {},
                     {},
                     QStringLiteral("refused: invalid request")};
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(request.body(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return invalid(QStringLiteral("The request body must be a JSON object with a prompt."));
    const QJsonObject body = document.object();
    const QJsonValue prompt = body.value(QStringLiteral("prompt"));
    if (!prompt.isString())
        return invalid(QStringLiteral("The request needs a prompt text."));

    GenerationSettings settings;
    const QList<std::pair<QString, bool*>> switches{
        {QStringLiteral("allow_destructive"), &settings.allowDestructive},
        {QStringLiteral("self_correction"), &settings.selfCorrection},
        {QStringLiteral("data_isolation"), &settings.dataIsolation},
        {QStringLiteral("singular_results"), &settings.singularResults},
    };
    for (const auto& [name, flag] : switches) {
        const QJsonValue value = body.value(name);
        if (value.isUndefined())
            continue;
        if (!value.isBool())
            return invalid(QStringLiteral("The setting %1 must be true or false.").arg(name));
        *flag = value.toBool();
    }

    QString text = prompt.toString();
    if (const std::optional<Pause> pause = pauseIn(text)) {
        if (pause->seconds < 1 || pause->seconds > kMaxPauseSeconds) {
            return Reply{
                StatusCode::UnprocessableEntity,
                errorObject(QStringLiteral("unsupported_prompt"),
                            QStringLiteral("The demo server waits from 1 to %1 seconds.").arg(kMaxPauseSeconds)),
                {},
                {},
                QStringLiteral("refused: pause out of range")};
        }
        *pauseSeconds = pause->seconds;
        text = pause->prompt;
    }
    const Generation generation = m_matcher.generate(text, settings);
    if (generation.succeeded()) {
        return Reply{StatusCode::Ok,
                     {{QStringLiteral("status"), QStringLiteral("success")}, {QStringLiteral("query"), generation.sql}},
                     {},
                     {},
                     generation.outcome};
    }
    const StatusCode status = generation.errorType == QLatin1String("invalid_request")
                                  ? StatusCode::BadRequest
                                  : StatusCode::UnprocessableEntity;
    return Reply{status, errorObject(generation.errorType, generation.error), {}, {}, generation.outcome};
}

std::optional<DemoServer::Pause> DemoServer::pauseIn(const QString& prompt)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\s*wait\\s+(\\d{1,6})\\s+seconds?\\s*,?\\s*then\\s+(\\S.*)$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = shape.match(prompt);
    if (!match.hasMatch())
        return std::nullopt;
    return Pause{match.captured(1).toInt(), match.captured(2)};
}
