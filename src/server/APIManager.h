#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The client for the user's Mirelo server: the key check during sign-in and SQL
// generation. At most one generation is in flight; a new one cancels the previous one,
// whose callback then never fires. Main thread only.
class APIManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(APIManager)

public:
    using ValidateCompletion = std::function<void(bool ok, const QString& error)>;
    // Exactly one of sql and error is present; a successful answer may be an empty text.
    using SearchCompletion = std::function<void(const std::optional<QString>& sql, const QString& error)>;

    // What one generation answer means: SQL, or the sentence to show.
    struct Answer
    {
        std::optional<QString> sql;
        QString error;
    };

    static APIManager& shared();

    QString serverURL() const { return m_serverURL; }
    void setServerURL(const QString& url) { m_serverURL = url; }
    QString apiKey() const { return m_apiKey; }
    void setApiKey(const QString& key) { m_apiKey = key; }

    // Checks serverURL and apiKey against the health endpoint.
    void validateKey(ValidateCompletion completion);
    // Sends the prompt with the four generation settings.
    void searchWithPrompt(const QString& prompt, SearchCompletion completion);
    void cancelPendingRequests();

    // The endpoint under the server's base URL: slashes at either end of the base are
    // dropped, then path is appended. Empty when that gives no usable http(s) URL.
    static QUrl endpointURL(const QString& serverURL, const QString& path);
    // The sentence refusing a key or server URL that holds a line break or another control
    // character, which would end a header and start another; empty when both can be sent.
    static QString credentialsError(const QString& serverURL, const QString& apiKey);
    // Reads one generation answer; a pure function of the status code and body. Exactly
    // one of sql and error is present, and an error is never empty.
    static Answer interpretGenerationAnswer(int status, const QByteArray& body);
    // The sentence for a transfer that failed without an HTTP answer.
    static QString transportErrorText(int networkError);

    // The idle and total time-outs, 30 s and 60 s unless a test shortens them.
    void setTimeoutsForTesting(int idleMs, int totalMs);
    QNetworkAccessManager* network() const { return m_network; }

private:
    APIManager();

    struct Outcome
    {
        int status = 0; // 0 when no HTTP answer arrived
        QByteArray body;
        QString transportError; // set when the transfer itself failed
        bool cancelled = false;
    };
    using Finished = std::function<void(const Outcome&)>;

    // Sends request with the same-origin redirect rule and the idle and total time-outs.
    QNetworkReply* send(QNetworkRequest request, const QByteArray& verb, const QByteArray& body, Finished finished);

    QString m_serverURL;
    QString m_apiKey;
    QNetworkAccessManager* m_network;
    QPointer<QNetworkReply> m_pendingTask;
    int m_idleTimeoutMs = 30000;
    int m_totalTimeoutMs = 60000;
};
