#include "engine/TurnaroundMeter.h"

#include <algorithm>
#include <chrono>

namespace {
int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

void CTurnaroundMeter::AnswerArrived() { answerAtNs_.store(NowNs(), std::memory_order_relaxed); }

void CTurnaroundMeter::FrameWritten() {
    const int64_t answerAt = answerAtNs_.exchange(0, std::memory_order_relaxed);
    if (answerAt == 0) return;
    const uint64_t us = static_cast<uint64_t>(std::max<int64_t>(NowNs() - answerAt, 0) / 1000);
    totalUs_.fetch_add(us, std::memory_order_relaxed);
    buckets_[std::min<uint64_t>(us, kBucketCount - 1)].fetch_add(1, std::memory_order_relaxed);
}

void CTurnaroundMeter::Forget() { answerAtNs_.store(0, std::memory_order_relaxed); }

TurnaroundStats CTurnaroundMeter::Snapshot() const {
    TurnaroundStats stats;
    std::array<uint32_t, kBucketCount> counts{};
    for (uint32_t i = 0; i < kBucketCount; ++i) {
        counts[i] = buckets_[i].load(std::memory_order_relaxed);
        stats.count += counts[i];
    }
    stats.totalUs = totalUs_.load(std::memory_order_relaxed);
    if (stats.count == 0) return stats;
    // The smallest value with at least half (99 %) of the samples at or below it.
    const uint64_t medianRank = (stats.count + 1) / 2;
    const uint64_t p99Rank = (stats.count * 99 + 99) / 100;
    uint64_t seen = 0;
    bool medianSet = false;
    for (uint32_t i = 0; i < kBucketCount; ++i) {
        seen += counts[i];
        if (!medianSet && seen >= medianRank) {
            stats.medianUs = i;
            medianSet = true;
        }
        if (seen >= p99Rank) {
            stats.p99Us = i;
            break;
        }
    }
    return stats;
}

void CTurnaroundMeter::Reset() {
    answerAtNs_.store(0, std::memory_order_relaxed);
    totalUs_.store(0, std::memory_order_relaxed);
    for (auto& bucket : buckets_) bucket.store(0, std::memory_order_relaxed);
}
