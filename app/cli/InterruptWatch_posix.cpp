#include "app/cli/InterruptWatch.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace {

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

CInterruptWatch::CInterruptWatch() {
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Watch(); });
}

CInterruptWatch::~CInterruptWatch() {
    closing_.store(true);
    // The watch thread waits for exactly these signals; one aimed at it ends the wait.
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
}

void CInterruptWatch::Watch() {
    const sigset_t set = InterruptSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (closing_.load()) return;
        OnInterrupt();
    }
}

void CInterruptWatch::ExitAtOnce(const char* text) {
    // Called on the watch thread while other threads may hold stdio's locks: write and _exit only.
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, text, std::strlen(text));
    _exit(1);
}
