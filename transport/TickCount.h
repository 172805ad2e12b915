// Millisecond tick count (monotonic), and a sleep in milliseconds.
#pragma once

#include <cstdint>

constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

uint32_t GetTickCountMs();
void SleepMs(uint32_t ms);
