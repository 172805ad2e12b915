#include "app/cli/InterruptWatch.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

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
        if (interrupted_.load()) {
            // The first interrupt is stopping the engine; a second one means the user will not wait.
            static const char kText[] = "\niap-cli: второе прерывание: выход без ожидания\n";
            [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kText, sizeof kText - 1);
            _exit(1);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_.store(true);
        if (wake_) wake_();
    }
}

void CInterruptWatch::SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(wake);
    if (wake_ && interrupted_.load()) wake_();
}

bool CInterruptWatch::RunUnlessInterrupted(const std::function<void()>& action) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (interrupted_.load()) return false;
    action();
    return true;
}
