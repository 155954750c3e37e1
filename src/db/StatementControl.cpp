#include "db/StatementControl.h"

#include "db/ServerCancel.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace {

void makeNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

StatementControl::StatementControl(std::chrono::seconds timeLimit) : m_timeLimit(timeLimit)
{
    // Written once by stop() and never drained: every later wait sees it at once.
    int fds[2];
    if (::pipe(fds) == 0) {
        makeNonBlocking(fds[0]);
        makeNonBlocking(fds[1]);
        m_wakeRead = fds[0];
        m_wakeWrite = fds[1];
    }
}

StatementControl::~StatementControl()
{
    if (m_wakeRead >= 0)
        ::close(m_wakeRead);
    if (m_wakeWrite >= 0)
        ::close(m_wakeWrite);
}

void StatementControl::stop()
{
    // The flag and the server's cancel change together: a waiter that sees the flag and
    // then clears the cancel finds it already taken, and a statement that registers its
    // cancel after this finds the flag set and never starts. Either way the server is asked.
    std::function<void()> cancel;
    {
        QMutexLocker lock(&m_mutex);
        if (m_stopped.exchange(true))
            return;
        cancel = std::exchange(m_serverCancel, nullptr);
    }
    if (cancel)
        ServerCancel::send(std::move(cancel));
    if (m_wakeWrite >= 0) {
        const char byte = 1;
        while (::write(m_wakeWrite, &byte, 1) < 0 && errno == EINTR) {
        }
    }
}

void StatementControl::startStatement()
{
    m_statementDeadline = QDeadlineTimer(m_timeLimit);
}

StatementControl::Wait StatementControl::wait(int fd, bool read, bool write, QDeadlineTimer deadline, bool* readable,
                                              bool* writable)
{
    if (fd < 0)
        return Wait::Ready; // no connection to wait for: the library's own call reports that
    pollfd fds[2] = {{fd, short((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0}, {m_wakeRead, POLLIN, 0}};
    for (;;) {
        if (m_stopped.load())
            return Wait::Stopped;
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            return Wait::Expired;
        const int timeout = remaining < 0 ? -1 : int(std::min<qint64>(remaining, 60 * 60 * 1000));
        const int ready = ::poll(fds, m_wakeRead >= 0 ? 2 : 1, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Wait::Ready; // the library's own call will meet and report the error
        }
        if (fds[1].revents != 0)
            return Wait::Stopped;
        if (ready == 0)
            continue; // the loop decides between the deadline and a long wait's next round
        if (readable)
            *readable = fds[0].revents & (POLLIN | POLLERR | POLLHUP);
        if (writable)
            *writable = fds[0].revents & (POLLOUT | POLLERR | POLLHUP);
        return Wait::Ready;
    }
}

void StatementControl::setServerCancel(std::function<void()> cancel)
{
    QMutexLocker lock(&m_mutex);
    m_serverCancel = std::move(cancel);
}

void StatementControl::clearServerCancel()
{
    QMutexLocker lock(&m_mutex);
    m_serverCancel = nullptr;
}

void StatementControl::cancelOnServer()
{
    std::function<void()> cancel;
    {
        QMutexLocker lock(&m_mutex);
        cancel = std::move(m_serverCancel);
        m_serverCancel = nullptr;
    }
    if (cancel)
        ServerCancel::send(std::move(cancel));
}
