// The device's flash as the firmware packets fill it: a flat image from the lowest to the highest
// address written, unwritten gaps 0xFF (erased flash). Single-threaded use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CFirmwareMemory {
public:
    // Largest span between the lowest and the highest byte; a write beyond it is refused, so a
    // stray address cannot make the simulator allocate gigabytes.
    static constexpr uint64_t kMaxSpanBytes = 16u * 1024u * 1024u;

    // Stores `count` bytes at `address`. Returns 1, or 0 (nothing stored) when the range would
    // pass the end of the 32-bit address space or widen the image beyond kMaxSpanBytes.
    int Write(uint32_t address, const uint8_t* data, size_t count);
    void Clear();

    bool Empty() const { return bytes_.empty(); }
    uint32_t Base() const { return base_; }  // 0 while empty
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    uint32_t base_ = 0;
    std::vector<uint8_t> bytes_;
};
