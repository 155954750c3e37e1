#pragma once

// What every thread that talks to a database server does, at its start and at its end.
namespace DatabaseThread {

// Keeps a write to a connection the server has closed, or that was shut down to abandon
// a statement, an error of that call: SIGPIPE is blocked for the calling thread, which
// OpenSSL's socket writes would otherwise raise and which ends the process by default.
void prepare();

// The client libraries encrypt through OpenSSL, which keeps random generators and an
// error queue per thread and frees them from a thread-exit hook. A waiter for the thread
// can return before such hooks have run, so a process that ends right after could exit
// while they were still freeing; the thread hands them back itself before it says it has
// finished.
void releaseCryptoState();

} // namespace DatabaseThread
