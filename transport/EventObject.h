// CEventObject: an event. Every event of the system is unnamed, auto-reset and created non-signalled:
// Set() releases one waiting thread (or the next one to wait) and the event resets itself. Signals
// are not counted: several Set() calls before a wait wake it once.
// Thread-safe: any thread may Set or Wait.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "transport/TickCount.h"

enum class WaitResult { Signalled, Timeout };

class CEventObject {
public:
    CEventObject() = default;
    ~CEventObject() = default;
    CEventObject(const CEventObject&) = delete;
    CEventObject& operator=(const CEventObject&) = delete;

    // Name is ignored (events are process-local); returns true.
    bool Create(const wchar_t* name = nullptr, bool manualReset = false, bool initiallySignalled = false);
    void Set();
    // Waits up to timeoutMs (INFINITE_WAIT: no limit). An auto-reset event resets when it releases a waiter.
    WaitResult Wait(uint32_t timeoutMs);

private:
    std::mutex mutex_;
    std::condition_variable signal_;
    bool signalled_ = false;
    bool manualReset_ = false;
};
