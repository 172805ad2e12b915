// CLockObject: a re-entrant critical section (Enter/Leave), and its scoped guard.
#pragma once

#include <mutex>

class CLockObject {
public:
    CLockObject() = default;
    virtual ~CLockObject() = default;
    CLockObject(const CLockObject&) = delete;
    CLockObject& operator=(const CLockObject&) = delete;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

class CLockGuard {
public:
    explicit CLockGuard(CLockObject& lock) : lock_(lock) { lock_.Enter(); }
    ~CLockGuard() { lock_.Leave(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CLockObject& lock_;
};
