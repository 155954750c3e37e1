#include "platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray kRaiseMessage = "raise\n";
// Longer messages are not ours; the connection is dropped.
constexpr qint64 kMaxMessage = 64;
constexpr int kRetryMs = 20;

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), m_folder(folder) {}

SingleInstance::~SingleInstance()
{
    // Stop listening before the lock goes, so the next start never meets a live socket
    // without a holder.
    delete m_server;
}

QString SingleInstance::runtimeFolder()
{
    // Qt checks that the folder belongs to the user and is private, and creates
    // /tmp/runtime-<user> with mode 0700 when XDG_RUNTIME_DIR is not set.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::lockPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("mirelo.lock"));
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("mirelo.socket"));
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

SingleInstance::Claim SingleInstance::claim(int timeoutMs)
{
    // Without a private folder there is nobody to ask and nowhere to listen.
    if (m_folder.isEmpty())
        return Claim::Primary;
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Stale only when the process that wrote it is gone, however long it has been running.
    m_lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // The lock decides who is first, also when two starts race; a lock left by a
        // crashed instance is taken over.
        if (m_lock->tryLock(0)) {
            becomePrimary();
            return Claim::Primary;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            // The folder refuses the lock file: nothing can be coordinated there.
            m_lock.reset();
            return Claim::Primary;
        }
        // The holder may have taken the lock a moment ago and not be listening yet.
        if (askToRaise(int(qMin<qint64>(deadline.remainingTime(), 1000))))
            return Claim::AnotherRunning;
        if (deadline.hasExpired())
            return Claim::Unanswered;
        QThread::msleep(kRetryMs);
    }
}

void SingleInstance::becomePrimary()
{
    // Holding the lock means no other instance is alive, so a socket here was left by one
    // that crashed.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::takeConnections);
    // Should listening fail, this instance still runs alone: later starts find the lock
    // and, finding nobody to answer, end without starting a second instance.
    m_server->listen(socketPath());
}

bool SingleInstance::askToRaise(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(qMax(timeoutMs, 0)))
        return false;
    socket.write(kRaiseMessage);
    const bool written = socket.waitForBytesWritten(qMax(timeoutMs, 0));
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(qMax(timeoutMs, 0));
    return written;
}

void SingleInstance::takeConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket* socket)
{
    if (socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxMessage + 1);
        socket->disconnectFromServer();
        if (line == kRaiseMessage)
            Q_EMIT raiseRequested();
        return;
    }
    if (socket->bytesAvailable() > kMaxMessage)
        socket->abort();
}
