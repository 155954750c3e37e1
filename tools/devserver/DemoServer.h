#pragma once

#include "PromptMatcher.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <optional>

class QHttpServerResponse;

// The server side of the Mirelo API as the client uses it, over the sample shop: the key
// check, SQL generation through PromptMatcher, the appcast and the download of one build.
// Every request is logged as one line on standard output when it is answered; one that
// waits (pauseIn) also when it arrives.
class DemoServer final : public QAbstractHttpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DemoServer)

public:
    struct Config
    {
        QStringList apiKeys;
        SqlDialect dialect = SqlDialect::PostgreSQL;
        qint64 isolationUserId = 1;
        std::optional<QJsonObject> release; // the appcast's release; none answers "release": null
        QByteArray build;                   // the file served at the release's download_path
    };

    explicit DemoServer(Config config, QObject* parent = nullptr);

    // A prompt of the form "Wait N seconds, then <prompt>" is answered as <prompt>, N
    // seconds later (1 to 60), so that a client's cancel can be shown and tested. Returns
    // the pause and the rest of the prompt; no pause for any other prompt.
    struct Pause
    {
        int seconds = 0;
        QString prompt;
    };
    static std::optional<Pause> pauseIn(const QString& prompt);
    static constexpr int kMaxPauseSeconds = 60;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Reply;

    Reply route(const QHttpServerRequest& request, int* pauseSeconds) const;
    Reply generate(const QHttpServerRequest& request, int* pauseSeconds) const;
    static QHttpServerResponse response(const Reply& reply);
    bool authorised(const QHttpServerRequest& request) const;

    Config m_config;
    PromptMatcher m_matcher;
    QString m_downloadPath;
};
