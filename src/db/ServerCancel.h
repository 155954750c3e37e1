#pragma once

#include <QDeadlineTimer>
#include <functional>

// Requests to stop a statement on the server (libpq's cancel request, MariaDB's KILL QUERY
// over a second connection). Each runs on a thread of its own that nobody joins: a server
// that has stopped answering may hold such a request for as long as it stays frozen, and
// neither the statement queue nor the caller may wait for that.
namespace ServerCancel {

// Runs request on a new detached thread.
void send(std::function<void()> request);

// Waits until no request is running any more or the deadline passes; true when none is
// left. For the end of an executor, so that requests under way finish with the process's
// libraries still intact.
bool waitForPending(QDeadlineTimer deadline);

} // namespace ServerCancel
