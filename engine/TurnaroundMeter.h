// How long the tool itself takes between an answer and the next frame: from the moment a complete
// answer frame has been read off the port to the moment the next frame has been handed to the port.
// On a stop-and-wait line this is the tool's own share of every record's time; the rest is the wire,
// the device and the operating system's hand-over of the bytes, which a measurement at the device's
// end cannot tell apart.
//
// Threads: AnswerArrived on the reader thread, FrameWritten on whichever thread writes (the sender or
// the reader), Forget, Snapshot and Reset on any thread. Lock-free: it sits on the path of every frame.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

struct TurnaroundStats {
    uint64_t count = 0;
    uint32_t medianUs = 0;
    uint32_t p99Us = 0;
    uint64_t totalUs = 0;  // the sum of all of them
};

class CTurnaroundMeter {
public:
    void AnswerArrived();
    // Counts the time since the last answer, once: frames written without an answer before them
    // (an acknowledgement of the device's notice, the first frame of a run) are not turnarounds.
    void FrameWritten();
    // The next frame is not counted: a deliberate wait came after the last answer.
    void Forget();
    TurnaroundStats Snapshot() const;
    void Reset();

private:
    static constexpr uint32_t kBucketCount = 4096;  // 1 us each; the last holds everything longer
    std::atomic<int64_t> answerAtNs_{0};
    std::atomic<uint64_t> totalUs_{0};
    std::array<std::atomic<uint32_t>, kBucketCount> buckets_{};
};
