#pragma once

#include <QDeadlineTimer>
#include <QMutex>
#include <atomic>
#include <chrono>
#include <functional>

// What one statement runs under: the time it may take, and the way its caller stops it.
// The client code never blocks in a library call that could wait for the server: it waits
// for the connection's socket through wait(), which returns early once stop() was called
// from any thread or the deadline it was given has passed.
class StatementControl final
{
    Q_DISABLE_COPY_MOVE(StatementControl)

public:
    enum class Wait {
        Ready,   // the socket is ready, or reports an error the library will read
        Stopped, // stop() was called
        Expired, // the deadline passed
    };

    // timeLimit bounds the statement from startStatement() to its last row.
    explicit StatementControl(std::chrono::seconds timeLimit);
    ~StatementControl();

    // Any thread. From now on every wait() returns Stopped at once, and the server is
    // asked to stop the statement if a way to do so was registered.
    void stop();
    bool isStopped() const { return m_stopped.load(); }

    // Arms the statement's deadline; connection set-up has its own.
    void startStatement();
    QDeadlineTimer statementDeadline() const { return m_statementDeadline; }
    int timeLimitSeconds() const { return int(m_timeLimit.count()); }

    // Waits until fd is readable (read) or writable (write), stop() is called or deadline
    // passes. On Ready, *readable and *writable say which.
    Wait wait(int fd, bool read, bool write, QDeadlineTimer deadline, bool* readable = nullptr,
              bool* writable = nullptr);

    // Registers how to ask the server to stop the statement in progress; it runs at most
    // once, on a thread of its own (see ServerCancel), so a server that does not answer
    // never holds up the caller. Cleared before the connection closes.
    void setServerCancel(std::function<void()> cancel);
    void clearServerCancel();
    // For a statement past its deadline: asks the server to stop it, as stop() does.
    void cancelOnServer();

private:
    std::atomic_bool m_stopped{false};
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    const std::chrono::seconds m_timeLimit;
    QDeadlineTimer m_statementDeadline{QDeadlineTimer::Forever};
    QMutex m_mutex;
    std::function<void()> m_serverCancel;
};
