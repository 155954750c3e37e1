#include "db/DatabaseThread.h"

#include <csignal>
#include <dlfcn.h>
#include <pthread.h>

namespace DatabaseThread {

void prepare()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

void releaseCryptoState()
{
    void* crypto = ::dlopen("libcrypto.so.3", RTLD_LAZY | RTLD_NOLOAD);
    if (!crypto)
        return;
    using ThreadStop = void (*)();
    if (auto stop = reinterpret_cast<ThreadStop>(::dlsym(crypto, "OPENSSL_thread_stop")))
        stop();
    ::dlclose(crypto);
}

} // namespace DatabaseThread
