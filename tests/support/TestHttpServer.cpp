#include "TestHttpServer.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// Reads one request from a socket and answers it; lives on the server thread.
class TestHttpConnection final : public QObject
{
public:
    TestHttpConnection(TestHttpServer* server, QTcpSocket* socket) : QObject(socket), m_server(server), m_socket(socket)
    {
        connect(socket, &QTcpSocket::readyRead, this, &TestHttpConnection::readMore);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void readMore()
    {
        m_buffer += m_socket->readAll();
        if (m_answered)
            return;
        if (m_headerEnd < 0) {
            m_headerEnd = m_buffer.indexOf("\r\n\r\n");
            if (m_headerEnd < 0)
                return;
            parseHead(m_buffer.left(m_headerEnd));
        }
        const qsizetype bodyStart = m_headerEnd + 4;
        if (m_buffer.size() - bodyStart < m_contentLength)
            return;
        m_request.body = m_buffer.mid(bodyStart, m_contentLength);
        m_answered = true;
        m_server->record(m_request);

        const TestHttpServer::Response response = m_server->responseFor(m_request);
        if (response.delayMs > 0)
            QTimer::singleShot(response.delayMs, this, [this, response] { answer(response); });
        else
            answer(response);
    }

    void parseHead(const QByteArray& head)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        m_request.method = requestLine.value(0);
        m_request.path = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            m_request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        m_contentLength = m_request.headers.value("content-length", "0").toLongLong();
    }

    void answer(const TestHttpServer::Response& response)
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted" +
                         "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                         "\r\nConnection: close\r\n";
        for (const auto& [name, value] : response.headers)
            out += name + ": " + value + "\r\n";
        out += "\r\n";
        if (response.dropAfterBodyBytes >= 0) {
            out += response.body.left(response.dropAfterBodyBytes);
            m_socket->write(out);
            m_socket->flush();
            m_socket->abort();
            return;
        }
        if (response.pauseAfterBodyBytes >= 0) {
            out += response.body.left(response.pauseAfterBodyBytes);
            m_socket->write(out);
            m_socket->flush();
            const QByteArray rest = response.body.mid(response.pauseAfterBodyBytes);
            m_server->m_paused.append([socket = QPointer<QTcpSocket>(m_socket), rest] {
                if (!socket || socket->state() != QAbstractSocket::ConnectedState)
                    return;
                socket->write(rest);
                socket->disconnectFromHost();
            });
            return;
        }
        if (response.trickleBytes > 0) {
            m_socket->write(out + response.body.left(response.trickleBytes));
            m_socket->flush();
            trickle(response, response.trickleBytes);
            return;
        }
        out += response.body;
        m_socket->write(out);
        m_socket->flush();
        m_server->noteAnswered();
        m_socket->disconnectFromHost();
    }

    // Sends the body from sent on, one piece per interval.
    void trickle(const TestHttpServer::Response& response, qsizetype sent)
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (sent >= response.body.size()) {
            m_server->noteAnswered();
            m_socket->disconnectFromHost();
            return;
        }
        QTimer::singleShot(response.trickleIntervalMs, Qt::PreciseTimer, this, [this, response, sent] {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                return;
            m_socket->write(response.body.mid(sent, response.trickleBytes));
            m_socket->flush();
            trickle(response, sent + response.trickleBytes);
        });
    }

    TestHttpServer* m_server;
    QTcpSocket* m_socket;
    QByteArray m_buffer;
    qsizetype m_headerEnd = -1;
    qsizetype m_contentLength = 0;
    bool m_answered = false;
    TestHttpServer::Request m_request;
};

TestHttpServer::TestHttpServer()
{
    m_thread.setObjectName(QStringLiteral("TestHttpServer"));
    m_thread.start();
    QSemaphore listening;
    auto* tcp = new QTcpServer;
    tcp->moveToThread(&m_thread);
    m_context = tcp;
    QMetaObject::invokeMethod(tcp, [this, tcp, &listening] {
        QObject::connect(tcp, &QTcpServer::newConnection, tcp, [this, tcp] {
            while (QTcpSocket* socket = tcp->nextPendingConnection())
                new TestHttpConnection(this, socket);
        });
        QObject::connect(&m_thread, &QThread::finished, tcp, &QObject::deleteLater);
        if (tcp->listen(QHostAddress::LocalHost, 0))
            m_port = tcp->serverPort();
        listening.release();
    });
    listening.acquire();
    Q_ASSERT(m_port != 0);
}

TestHttpServer::~TestHttpServer()
{
    m_thread.quit();
    m_thread.wait();
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void TestHttpServer::route(const QByteArray& method, const QByteArray& path, const Response& response)
{
    route(method, path, [response](const Request&) { return response; });
}

void TestHttpServer::route(const QByteArray& method, const QByteArray& path, Responder responder)
{
    QMutexLocker lock(&m_mutex);
    m_routes.insert({method, path}, std::move(responder));
}

TestHttpServer::Response TestHttpServer::json(int status, const QByteArray& body)
{
    Response r;
    r.status = status;
    r.headers = {{"Content-Type", "application/json"}};
    r.body = body;
    return r;
}

TestHttpServer::Response TestHttpServer::responseFor(const Request& request) const
{
    QByteArray path = request.path;
    if (const qsizetype q = path.indexOf('?'); q >= 0)
        path.truncate(q);
    Responder responder;
    {
        QMutexLocker lock(&m_mutex);
        responder = m_routes.value({request.method, path});
    }
    if (responder)
        return responder(request);
    Response notFound;
    notFound.status = 404;
    notFound.body = "not found";
    return notFound;
}

void TestHttpServer::record(const Request& request)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(request);
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

void TestHttpServer::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

void TestHttpServer::noteAnswered()
{
    QMutexLocker lock(&m_mutex);
    ++m_answered;
    m_answeredChanged.wakeAll();
}

bool TestHttpServer::waitForAnswers(int n, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&m_mutex);
    while (m_answered < n) {
        if (!m_answeredChanged.wait(&m_mutex, deadline))
            return false;
    }
    return true;
}

bool TestHttpServer::waitForRequests(int n, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return requests().size() >= n; }, timeoutMs);
}

void TestHttpServer::resumePaused()
{
    QMetaObject::invokeMethod(m_context, [this] {
        const QList<std::function<void()>> paused = std::exchange(m_paused, {});
        for (const auto& resume : paused)
            resume();
    });
}
