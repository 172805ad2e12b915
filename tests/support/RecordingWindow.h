// A notification window for tests: records every engine message and lets a test wait for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/NotifyWindow.h"
#include "support/TestSupport.h"

namespace testsupport {

struct EngineMessage {
    uint32_t message;
    NotifyWParam wParam;
    NotifyLParam lParam;
    bool operator==(const EngineMessage& other) const {
        return message == other.message && wParam == other.wParam && lParam == other.lParam;
    }
};

class RecordingWindow : public CNotifyWindow {
public:
    intptr_t Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) override {
        // Notified under the lock: a test that wakes may destroy this window right after.
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({message, wParam, lParam});
        changed_.notify_all();
        return 0;
    }

    std::vector<EngineMessage> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

    int Count(uint32_t message) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const EngineMessage& m : messages_) n += m.message == message;
        return n;
    }

    // Waits until `pred` holds for the messages so far; gives up after ScaledMs(timeoutMs).
    bool WaitFor(const std::function<bool(const std::vector<EngineMessage>&)>& pred, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(ScaledMs(timeoutMs)), [&] { return pred(messages_); });
    }

    bool WaitForCount(uint32_t message, int count, int timeoutMs) {
        return WaitFor(
            [&](const std::vector<EngineMessage>& all) {
                int n = 0;
                for (const EngineMessage& m : all) n += m.message == message;
                return n >= count;
            },
            timeoutMs);
    }

    // Waits for the end of the whole run (step 7).
    bool WaitForRunEnd(int timeoutMs) {
        return WaitFor(
            [](const std::vector<EngineMessage>& all) {
                for (const EngineMessage& m : all)
                    if (m.message == WM_ENGINE_STEP_END && m.wParam == 7) return true;
                return false;
            },
            timeoutMs);
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<EngineMessage> messages_;
};

}  // namespace testsupport
