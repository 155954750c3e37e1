#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One running instance per user, so that two never write the same files. The first start
// holds a lock file in the user's runtime folder for its whole life and listens on a local
// socket beside it; a later start finds the lock held, asks the holder through the socket
// to raise its window, and ends.
class SingleInstance final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    enum class Claim {
        // This process is the one instance; later starts reach it through raiseRequested().
        Primary,
        // Another instance runs and has been asked to raise its window; exit with status 0.
        AnotherRunning,
        // Another instance holds the lock but took no message before the time ran out.
        Unanswered,
    };

    // folder holds the lock and the socket; by default the user's runtime folder.
    explicit SingleInstance(const QString& folder = runtimeFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Blocks for at most timeoutMs, only while another start is on its way up.
    Claim claim(int timeoutMs = 5000);

    QString lockPath() const;
    QString socketPath() const;
    // Whether this process holds the lock and listens.
    bool isListening() const;

    // XDG_RUNTIME_DIR, or else a private folder under the temporary folder; empty when
    // neither can be had.
    static QString runtimeFolder();

Q_SIGNALS:
    // A later start asked for the window to be raised.
    void raiseRequested();

private:
    void becomePrimary();
    bool askToRaise(int timeoutMs);
    void takeConnections();
    void readMessage(QLocalSocket* socket);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
