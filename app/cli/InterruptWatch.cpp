#include "app/cli/InterruptWatch.h"

void CInterruptWatch::OnInterrupt() {
    // The first interrupt is stopping the engine; a second one means the user will not wait.
    if (interrupted_.load()) ExitAtOnce("\niap-cli: второе прерывание: выход без ожидания\n");
    std::lock_guard<std::mutex> lock(mutex_);
    interrupted_.store(true);
    if (wake_) wake_();
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
