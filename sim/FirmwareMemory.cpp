#include "sim/FirmwareMemory.h"

#include <algorithm>

constexpr uint8_t kErasedByte = 0xFF;

int CFirmwareMemory::Write(uint32_t address, const uint8_t* data, size_t count) {
    if (count == 0) return 1;
    if (data == nullptr) return 0;
    const uint64_t first = address;
    const uint64_t end = first + count;  // exclusive
    if (end > (uint64_t{1} << 32)) return 0;
    const uint64_t low = bytes_.empty() ? first : std::min<uint64_t>(first, base_);
    const uint64_t high = bytes_.empty() ? end : std::max<uint64_t>(end, base_ + bytes_.size());
    if (high - low > kMaxSpanBytes) return 0;

    if (bytes_.empty()) {
        base_ = address;
        bytes_.assign(count, kErasedByte);
    } else {
        if (low < base_) bytes_.insert(bytes_.begin(), static_cast<size_t>(base_ - low), kErasedByte);
        base_ = static_cast<uint32_t>(low);
        if (high - low > bytes_.size()) bytes_.resize(static_cast<size_t>(high - low), kErasedByte);
    }
    std::copy(data, data + count, bytes_.begin() + static_cast<std::ptrdiff_t>(first - base_));
    return 1;
}

void CFirmwareMemory::Clear() {
    base_ = 0;
    bytes_.clear();
}
