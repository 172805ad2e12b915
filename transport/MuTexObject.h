// CMuTexObject: a re-entrant mutex. The owning thread may lock it again while holding it and must
// unlock as often as it locked; the command queue relies on this (a frame written under the queue
// lock may re-enter the queue).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "transport/TickCount.h"

class CMuTexObject {
public:
    CMuTexObject() = default;
    virtual ~CMuTexObject() = default;
    CMuTexObject(const CMuTexObject&) = delete;
    CMuTexObject& operator=(const CMuTexObject&) = delete;

    // True when the mutex was acquired within timeoutMs (INFINITE_WAIT waits without limit).
    bool Lock(uint32_t timeoutMs = INFINITE_WAIT) {
        if (mutex_.try_lock()) return true;
        waiting_.fetch_add(1);
        bool locked = true;
        if (timeoutMs == INFINITE_WAIT)
            mutex_.lock();
        else
            locked = mutex_.try_lock_for(std::chrono::milliseconds(timeoutMs));
        waiting_.fetch_sub(1);
        return locked;
    }
    void Unlock() { mutex_.unlock(); }

    // Threads blocked in Lock right now. Lets a test that holds the lock know that another thread
    // has reached it, instead of guessing with a sleep.
    int Waiting() const { return waiting_.load(); }

private:
    std::recursive_timed_mutex mutex_;
    std::atomic<int> waiting_{0};
};

// Scoped hold of a CMuTexObject; Locked() is false when the lock could not be taken.
class CMuTexGuard {
public:
    explicit CMuTexGuard(CMuTexObject& mutex, uint32_t timeoutMs = INFINITE_WAIT)
        : mutex_(mutex), locked_(mutex.Lock(timeoutMs)) {}
    ~CMuTexGuard() {
        if (locked_) mutex_.Unlock();
    }
    CMuTexGuard(const CMuTexGuard&) = delete;
    CMuTexGuard& operator=(const CMuTexGuard&) = delete;
    bool Locked() const { return locked_; }

private:
    CMuTexObject& mutex_;
    bool locked_;
};
