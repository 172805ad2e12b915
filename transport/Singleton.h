// Singleton<T>: the registry of the one T object of the process. The Singleton part is a base of T;
// constructing T records it, destroying it clears the record. There is no lazy creation: Instance()
// is null before the object exists and after it is gone.
#pragma once

#include <atomic>

template <typename T>
class Singleton {
public:
    // The cast happens here, on a fully built object, not in the base constructor.
    static T* Instance() { return static_cast<T*>(instance_.load(std::memory_order_acquire)); }

protected:
    Singleton() { instance_.store(this, std::memory_order_release); }
    virtual ~Singleton() {
        Singleton* self = this;
        instance_.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    }
    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

private:
    inline static std::atomic<Singleton*> instance_{nullptr};
};
