#include "server/APIManager.h"

#include "platform/StrictUtf8.h"
#include "server/RequestTimeouts.h"
#include "server/SameOriginRedirects.h"
#include "stores/QuerySettings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>

namespace {

// Marks a reply whose callback must never run: it was cancelled or replaced.
const char* const kCancelledProperty = "mireloCancelled";

QString statusText(int status)
{
    return QString::number(status);
}

// First n UTF-16 code units, then "..." when the text was longer.
QString clip(const QString& text, qsizetype n)
{
    return text.size() > n ? text.left(n) + QStringLiteral("...") : text;
}

// A line break in a header value would end the header and start another one; no other
// control character belongs in a key or an address either.
bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

APIManager& APIManager::shared()
{
    static APIManager* instance = new APIManager;
    return *instance;
}

APIManager::APIManager() : m_network(new QNetworkAccessManager(this))
{
    // Every request carries the API key, so a redirect is followed only to the server's
    // own origin (SameOriginRedirects, per request); anything sent without that guard
    // follows none.
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

void APIManager::setTimeoutsForTesting(int idleMs, int totalMs)
{
    m_idleTimeoutMs = idleMs;
    m_totalTimeoutMs = totalMs;
}

QUrl APIManager::endpointURL(const QString& serverURL, const QString& path)
{
    qsizetype begin = 0;
    qsizetype end = serverURL.size();
    while (begin < end && serverURL.at(begin) == QLatin1Char('/'))
        ++begin;
    while (end > begin && serverURL.at(end - 1) == QLatin1Char('/'))
        --end;
    const QUrl url(serverURL.mid(begin, end - begin) + path, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return {};
    return url;
}

QString APIManager::credentialsError(const QString& serverURL, const QString& apiKey)
{
    if (hasControlCharacter(apiKey))
        return tr("The API key contains characters that cannot be sent.");
    if (hasControlCharacter(serverURL))
        return tr("The server URL contains characters that cannot be sent.");
    return {};
}

QString APIManager::transportErrorText(int networkError)
{
    switch (QNetworkReply::NetworkError(networkError)) {
    case QNetworkReply::ConnectionRefusedError:
        return tr("Could not connect to the server.");
    case QNetworkReply::HostNotFoundError:
        return tr("A server with the specified hostname could not be found.");
    case QNetworkReply::TimeoutError:
        return tr("The request timed out.");
    case QNetworkReply::RemoteHostClosedError:
        return tr("The network connection was lost.");
    case QNetworkReply::SslHandshakeFailedError:
        return tr("An SSL error has occurred and a secure connection to the server cannot be made.");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return tr("The Internet connection appears to be offline.");
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return tr("The server redirected the request too many times or to an insecure address.");
    case QNetworkReply::ProtocolUnknownError:
        return tr("The server address is not supported.");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return tr("The proxy server could not be reached.");
    default:
        return tr("The request to the server failed.");
    }
}

QNetworkReply* APIManager::send(QNetworkRequest request, const QByteArray& verb, const QByteArray& body,
                                Finished finished)
{
    SameOriginRedirects::prepare(request);
    QNetworkReply* reply = m_network->sendCustomRequest(request, verb, body);
    SameOriginRedirects::guard(reply);

    RequestTimeouts::arm(reply, m_idleTimeoutMs, m_totalTimeoutMs);

    connect(reply, &QNetworkReply::finished, this, [reply, finished = std::move(finished)] {
        reply->deleteLater();
        Outcome outcome;
        if (reply->property(kCancelledProperty).toBool()) {
            outcome.cancelled = true;
            finished(outcome);
            return;
        }
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const int error = reply->error();
        // Qt also reports HTTP statuses such as 400 or 500 as errors; those are answers.
        // Network and proxy errors (below 200) and a broken protocol mean the transfer
        // itself failed, even when headers had already arrived.
        const bool transferFailed = error != QNetworkReply::NoError &&
                                    (!status.isValid() || error < 200 || error == QNetworkReply::ProtocolFailure);
        if (SameOriginRedirects::wasRefused(reply))
            outcome.transportError = SameOriginRedirects::refusedText();
        else if (RequestTimeouts::timedOut(reply))
            outcome.transportError = transportErrorText(QNetworkReply::TimeoutError);
        else if (transferFailed)
            outcome.transportError = transportErrorText(error);
        else {
            outcome.status = status.toInt();
            outcome.body = reply->readAll();
        }
        finished(outcome);
    });
    return reply;
}

void APIManager::validateKey(ValidateCompletion completion)
{
    if (const QString error = credentialsError(m_serverURL, m_apiKey); !error.isEmpty()) {
        completion(false, error);
        return;
    }
    const QUrl url = endpointURL(m_serverURL, QStringLiteral("/api/v1/health"));
    if (url.isEmpty()) {
        completion(false, tr("Invalid server URL"));
        return;
    }
    QNetworkRequest request(url);
    if (!m_apiKey.isEmpty())
        request.setRawHeader("x-api-key", m_apiKey.toUtf8());
    request.setRawHeader("Accept", "application/json");
    send(request, "GET", {}, [completion = std::move(completion)](const Outcome& outcome) {
        if (outcome.cancelled)
            return;
        if (!outcome.transportError.isEmpty())
            completion(false, outcome.transportError);
        else if (outcome.status == 200)
            completion(true, {});
        else if (outcome.status == 401)
            completion(false, tr("Invalid API key"));
        else
            completion(false, tr("Server returned status %1").arg(statusText(outcome.status)));
    });
}

void APIManager::searchWithPrompt(const QString& prompt, SearchCompletion completion)
{
    cancelPendingRequests();
    if (const QString error = credentialsError(m_serverURL, m_apiKey); !error.isEmpty()) {
        completion(std::nullopt, error);
        return;
    }
    const QUrl url = endpointURL(m_serverURL, QStringLiteral("/api/v1"));
    if (url.isEmpty()) {
        completion(std::nullopt, tr("Invalid server URL"));
        return;
    }
    // JSON text cannot carry a lone surrogate; sending a silently altered prompt would be worse.
    if (!prompt.isValidUtf16()) {
        completion(std::nullopt, tr("Failed to encode request"));
        return;
    }
    QJsonObject parameters = QuerySettings::shared().requestParameters();
    parameters.insert(QStringLiteral("prompt"), prompt);
    const QByteArray body = QJsonDocument(parameters).toJson(QJsonDocument::Compact);

    QNetworkRequest request(url);
    if (!m_apiKey.isEmpty())
        request.setRawHeader("x-api-key", m_apiKey.toUtf8());
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");

    m_pendingTask = send(request, "POST", body, [this, completion = std::move(completion)](const Outcome& outcome) {
        m_pendingTask.clear();
        if (outcome.cancelled)
            return;
        if (!outcome.transportError.isEmpty()) {
            completion(std::nullopt, outcome.transportError);
            return;
        }
        const Answer answer = interpretGenerationAnswer(outcome.status, outcome.body);
        completion(answer.sql, answer.error);
    });
}

void APIManager::cancelPendingRequests()
{
    if (QNetworkReply* reply = m_pendingTask.data()) {
        // The flag, not the abort, guarantees silence: the answer may already be queued.
        reply->setProperty(kCancelledProperty, true);
        reply->abort();
    }
    m_pendingTask.clear();
}

APIManager::Answer APIManager::interpretGenerationAnswer(int status, const QByteArray& body)
{
    const QString code = statusText(status);
    if (status == 401)
        return {std::nullopt, tr("Invalid API key. Please log in again.")};
    if (status == 429)
        return {std::nullopt, tr("Rate limit exceeded. Please try again later.")};
    if (body.isEmpty())
        return {std::nullopt, tr("Empty response (HTTP %1)").arg(code)};

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || (!document.isObject() && !document.isArray())) {
        const std::optional<QString> text = StrictUtf8::decode(body);
        return {std::nullopt, tr("HTTP %1 — non-JSON response: %2").arg(code, text ? clip(*text, 200) : tr("(empty)"))};
    }
    if (!document.isObject())
        return {std::nullopt, tr("HTTP %1 — unexpected response format").arg(code)};

    const QJsonObject answer = document.object();
    if (answer.value(QStringLiteral("status")) == QLatin1String("success")) {
        const QJsonValue query = answer.value(QStringLiteral("query"));
        return {query.toString(), {}};
    }
    // An empty message would leave the caller with neither SQL nor a sentence, so an empty
    // error or error_type counts as absent and the later rules decide.
    const QString error = answer.value(QStringLiteral("error")).toString();
    const QString errorType = answer.value(QStringLiteral("error_type")).toString();
    if (!error.isEmpty() && !errorType.isEmpty())
        return {std::nullopt, QStringLiteral("[%1] %2").arg(errorType, error)};
    if (!error.isEmpty())
        return {std::nullopt, error};
    return {std::nullopt, tr("HTTP %1: %2").arg(code, clip(QString::fromUtf8(body), 300))};
}
