#include "db/ServerCancel.h"

#include "db/DatabaseThread.h"

#include <QMutex>
#include <QWaitCondition>
#include <thread>

namespace ServerCancel {
namespace {

struct Pending
{
    QMutex mutex;
    QWaitCondition done;
    int running = 0;
};

Pending& pending()
{
    static Pending state;
    return state;
}

} // namespace

void send(std::function<void()> request)
{
    Pending& state = pending();
    {
        QMutexLocker lock(&state.mutex);
        ++state.running;
    }
    std::thread([request = std::move(request)] {
        DatabaseThread::prepare();
        request();
        DatabaseThread::releaseCryptoState();
        Pending& finished = pending();
        QMutexLocker lock(&finished.mutex);
        --finished.running;
        finished.done.wakeAll();
    }).detach();
}

bool waitForPending(QDeadlineTimer deadline)
{
    Pending& state = pending();
    QMutexLocker lock(&state.mutex);
    while (state.running > 0) {
        if (!state.done.wait(&state.mutex, deadline))
            return state.running == 0;
    }
    return true;
}

} // namespace ServerCancel
