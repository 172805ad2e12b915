#include "transport/EventObject.h"

#include <chrono>

bool CEventObject::Create(const wchar_t* /*name*/, bool manualReset, bool initiallySignalled) {
    std::lock_guard<std::mutex> lock(mutex_);
    manualReset_ = manualReset;
    signalled_ = initiallySignalled;
    return true;
}

void CEventObject::Set() {
    bool manualReset;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        manualReset = manualReset_;
    }
    if (manualReset)
        signal_.notify_all();
    else
        signal_.notify_one();
}

WaitResult CEventObject::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto isSignalled = [this] { return signalled_; };
    if (timeoutMs == INFINITE_WAIT) {
        signal_.wait(lock, isSignalled);
    } else if (!signal_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled)) {
        return WaitResult::Timeout;
    }
    if (!manualReset_) signalled_ = false;
    return WaitResult::Signalled;
}
