#include "engine/AnswerTimeMeter.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {
int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The lower middle of `values` (which it reorders).
uint32_t Median(std::vector<uint32_t>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>((values.size() - 1) / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}
}  // namespace

uint32_t WireUs(uint32_t bytes, uint32_t baud) {
    if (baud == 0) return 0;
    return static_cast<uint32_t>(uint64_t{bytes} * 10u * 1000000u / baud);
}

AnswerTimeVerdict JudgeAnswerTimes(std::span<const AnswerTimeSample> samples) {
    AnswerTimeVerdict verdict;
    if (samples.empty()) return verdict;
    std::vector<uint32_t> answers, wires, beyondWire;
    size_t slow = 0;
    for (const AnswerTimeSample& s : samples) {
        answers.push_back(s.answerUs);
        wires.push_back(s.wireUs);
        beyondWire.push_back(s.answerUs > s.wireUs ? s.answerUs - s.wireUs : 0);
        const uint64_t limit = std::max<uint64_t>(kMinSlowAnswerUs, uint64_t{kSlowWireFactor} * s.wireUs);
        slow += s.answerUs > limit;
    }
    verdict.slow = slow * 2 > samples.size();
    verdict.medianAnswerUs = Median(answers);
    verdict.medianWireUs = Median(wires);
    verdict.delayMs = (Median(beyondWire) + 500) / 1000;
    return verdict;
}

void CAnswerTimeMeter::Reset() {
    writtenAtNs_.store(0, std::memory_order_relaxed);
    count_.store(0, std::memory_order_relaxed);
}

void CAnswerTimeMeter::PacketWritten(uint32_t frameBytes) {
    if (count_.load(std::memory_order_relaxed) >= kWindow) return;
    const int64_t now = NowNs();
    writtenBytes_.store(frameBytes, std::memory_order_relaxed);
    int64_t before = writtenAtNs_.load(std::memory_order_relaxed);
    while (before < now && !writtenAtNs_.compare_exchange_weak(before, now, std::memory_order_release)) {
    }
}

void CAnswerTimeMeter::OtherFrameWritten() { writtenAtNs_.store(0, std::memory_order_relaxed); }

bool CAnswerTimeMeter::AnswerArrived(uint32_t answerBytes, uint32_t baud, AnswerTimeVerdict& verdict) {
    const int64_t writtenAt = writtenAtNs_.exchange(0, std::memory_order_acquire);
    if (writtenAt == 0) return false;
    const uint32_t index = count_.load(std::memory_order_relaxed);
    if (index >= kWindow) return false;
    const int64_t ns = std::max<int64_t>(NowNs() - writtenAt, 0);
    answerUs_[index].store(static_cast<uint32_t>(std::min<int64_t>(ns / 1000, UINT32_MAX)), std::memory_order_relaxed);
    wireUs_[index].store(WireUs(writtenBytes_.load(std::memory_order_relaxed) + answerBytes, baud),
                         std::memory_order_relaxed);
    count_.store(index + 1, std::memory_order_relaxed);
    if (index + 1 < kWindow) return false;
    std::array<AnswerTimeSample, kWindow> samples;
    for (uint32_t i = 0; i < kWindow; ++i)
        samples[i] = {answerUs_[i].load(std::memory_order_relaxed), wireUs_[i].load(std::memory_order_relaxed)};
    verdict = JudgeAnswerTimes(samples);
    return true;
}
