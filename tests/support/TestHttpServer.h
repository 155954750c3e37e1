#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <functional>
#include <memory>

// A real HTTP/1.1 server on 127.0.0.1 with a free port, running on its own thread so that
// it answers even while the test's main thread is blocked. Each route answers with a
// scripted status, headers and body, optionally after a delay or cut off mid-answer;
// every request is recorded.
class TestHttpServer final
{
    Q_DISABLE_COPY_MOVE(TestHttpServer)

public:
    struct Response
    {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int delayMs = 0;
        // When not negative: send the headers and this many body bytes, then drop the connection.
        qsizetype dropAfterBodyBytes = -1;
        // When not negative: send the headers and this many body bytes, then hold the rest
        // until resumePaused().
        qsizetype pauseAfterBodyBytes = -1;
        // When positive: send the body this many bytes at a time, the first piece with the
        // headers and each further one trickleIntervalMs after the one before.
        qsizetype trickleBytes = 0;
        int trickleIntervalMs = 0;
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;                      // with the query string, as sent
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    TestHttpServer();
    ~TestHttpServer();

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;

    using Responder = std::function<Response(const Request&)>;

    // Routes are matched on method and path without the query string; unknown ones get 404.
    void route(const QByteArray& method, const QByteArray& path, const Response& response);
    // A route whose answer depends on the request; called on the server's thread.
    void route(const QByteArray& method, const QByteArray& path, Responder responder);
    static Response json(int status, const QByteArray& body);

    QList<Request> requests() const;
    void clearRequests();
    // Waits, spinning the caller's event loop, until at least n requests have arrived.
    bool waitForRequests(int n, int timeoutMs = 5000) const;
    // Blocks the caller, without running its event loop, until n answers have been handed
    // whole to the network: for tests about answers that arrive while the client is busy.
    bool waitForAnswers(int n, int timeoutMs = 5000) const;
    // Sends the rest of every answer held by pauseAfterBodyBytes.
    void resumePaused();

private:
    friend class TestHttpConnection;
    Response responseFor(const Request& request) const;
    void record(const Request& request);
    void noteAnswered();

    mutable QMutex m_mutex;
    QMap<QPair<QByteArray, QByteArray>, Responder> m_routes;
    QList<Request> m_requests;
    int m_answered = 0;
    mutable QWaitCondition m_answeredChanged;
    QThread m_thread;
    QObject* m_context = nullptr;          // lives on m_thread
    QList<std::function<void()>> m_paused; // touched on m_thread only
    quint16 m_port = 0;
};
