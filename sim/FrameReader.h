// Cuts the tool's command frames out of the received byte stream (the device's receive side).
//
// Frame: AC, 16-bit little-endian length of the whole frame, command, payload, checksum (8-bit sum
// of command and payload). Unlike the tool's answer parser this side honours the full 16-bit
// length, since the tool's packets run up to 4101 bytes. A candidate whose length is out of range
// or whose checksum fails is counted, reported, and skipped by one byte, so a frame hidden behind a
// false start byte is still found. A candidate that stays incomplete while no byte arrives for the
// stale time is dropped the same way, so a torn frame cannot swallow the frames after it.
// Single-threaded use.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using SimClock = std::chrono::steady_clock;

struct ReceivedFrame {
    std::vector<uint8_t> bytes;        // the whole frame, start byte to checksum
    SimClock::time_point firstByteAt;  // when its start byte was read
};

enum class RejectReason { BadLength, BadChecksum, Incomplete };
// The reason in a few words, for the trace and frames.log ("bad checksum").
const char* RejectReasonText(RejectReason reason);

class CFrameReader {
public:
    // maxFrameBytes: the longest frame the device accepts; longer length fields count as bad.
    // The reject hook sees every refused candidate (bytes from its start byte, as far as known).
    using RejectHook = std::function<void(RejectReason, const std::vector<uint8_t>&)>;
    CFrameReader(size_t maxFrameBytes, std::chrono::milliseconds staleAfter, RejectHook onReject);

    void Feed(const uint8_t* data, size_t count, SimClock::time_point now);
    // Moves the next valid frame into `out`; false when none is complete yet.
    bool Next(ReceivedFrame& out);
    // Drops a candidate that has been incomplete since the stale time; call from the idle loop.
    void DropStale(SimClock::time_point now);
    // The earliest moment DropStale could act, or time_point::max() when nothing is pending.
    SimClock::time_point StaleDeadline() const;

    unsigned long BadLength() const { return badLength_; }
    unsigned long BadChecksum() const { return badChecksum_; }
    unsigned long Incomplete() const { return incomplete_; }
    unsigned long SkippedBytes() const { return skippedBytes_; }

private:
    void SkipLeadingNoise();
    void DropFront(size_t count);
    void Reject(RejectReason reason, size_t knownBytes);

    size_t maxFrameBytes_;
    std::chrono::milliseconds staleAfter_;
    RejectHook onReject_;
    size_t Pending() const { return buffer_.size() - start_; }
    uint8_t At(size_t i) const { return buffer_[start_ + i]; }

    // Bytes before start_ are consumed; they are compacted away in bulk, so skipping noise one
    // byte at a time stays linear.
    std::vector<uint8_t> buffer_;
    std::vector<SimClock::time_point> arrival_;  // per buffered byte
    size_t start_ = 0;
    SimClock::time_point lastByteAt_{};
    unsigned long badLength_ = 0;
    unsigned long badChecksum_ = 0;
    unsigned long incomplete_ = 0;
    unsigned long skippedBytes_ = 0;
};
