// How long the device takes to answer an image's packets: from the moment a packet frame has been
// handed to the port to the moment its answer frame has been read off it, over the first packets of a
// run (the firmware's records, or the first data packets when there is no firmware). The device answers
// a packet within a fraction of a millisecond; a USB adapter that holds every answer for its latency
// timer (16 ms by default on FTDI chips) shows here, and on a stop-and-wait line that time is paid once
// per record: a firmware of 20 s takes minutes.
//
// Threads: PacketWritten and OtherFrameWritten on whichever thread writes (the sender or the reader),
// AnswerArrived on the reader thread only, Reset on any thread. Lock-free and without allocation: it sits
// on the path of every frame.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

struct AnswerTimeSample {
    uint32_t answerUs = 0;  // packet handed to the port → answer read
    uint32_t wireUs = 0;    // what the line itself needs for the packet and its answer
};

// The verdict over the first answers of a run. An answer is slow when it took longer than
// max(kMinSlowAnswerUs, kSlowWireFactor × its wire time): a short record's answer has about 1 ms of
// wire time at 256000 baud, so 4 ms is well beyond anything but a held answer, while a 4096-byte data
// packet is not called slow merely for being long. The run is slow when more than half of the answers
// are (the median answer beyond its limit).
struct AnswerTimeVerdict {
    bool slow = false;
    uint32_t medianAnswerUs = 0;
    uint32_t medianWireUs = 0;
    uint32_t delayMs = 0;  // the median of the answer times less their wire times, rounded
};
constexpr uint32_t kMinSlowAnswerUs = 4000;
constexpr uint32_t kSlowWireFactor = 3;
AnswerTimeVerdict JudgeAnswerTimes(std::span<const AnswerTimeSample> samples);
// Microseconds `bytes` take on an 8N1 line (10 bit times a byte); 0 at 0 baud.
uint32_t WireUs(uint32_t bytes, uint32_t baud);

class CAnswerTimeMeter {
public:
    // Answers of the first packets of a run that are judged together.
    static constexpr uint32_t kWindow = 32;

    // A run starts: the window is empty and the verdict not yet given.
    void Reset();
    // A packet frame of `frameBytes` has been handed to the port (after the write returned).
    void PacketWritten(uint32_t frameBytes);
    // Any other frame was written: the next answer is none of a packet's.
    void OtherFrameWritten();
    // An answer frame of `answerBytes` has been read off a line of `baud`. True once per run: when this
    // answer fills the window, with `verdict` then set (slow or not).
    bool AnswerArrived(uint32_t answerBytes, uint32_t baud, AnswerTimeVerdict& verdict);

private:
    // When the packet waiting for its answer was written, 0 while none waits. Only a later time
    // replaces an earlier one: a sender thread that stores its time late must not pass it to the next
    // packet, which the reader thread may have written meanwhile.
    std::atomic<int64_t> writtenAtNs_{0};
    std::atomic<uint32_t> writtenBytes_{0};
    std::atomic<uint32_t> count_{0};
    std::array<std::atomic<uint32_t>, kWindow> answerUs_{};
    std::array<std::atomic<uint32_t>, kWindow> wireUs_{};
};
