#include "transport/TickCount.h"

#include <chrono>
#include <thread>

uint32_t GetTickCountMs() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);  // wraps like a 32-bit tick count
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
