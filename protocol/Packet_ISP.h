// One command frame of the serial protocol, and the queueing attributes the command queue reads.
//
// Frames are values: the queue stores copies and copies the head again before sending it, so a frame
// never crosses threads by reference.
#pragma once

#include <cstdint>

#include "base/RawString.h"

// 8-bit additive sum, carry discarded. Null data or a count <= 0 gives 0.
uint8_t CheckSum(const uint8_t* data, int count);

// Queueing attributes of one command.
class CTask {
public:
    CTask(int attemptLimit, uint32_t longWaitMs, int shortWaitMs);
    virtual ~CTask() = default;
    CTask(const CTask&) = default;
    CTask& operator=(const CTask&) = default;

    // 0 when the attempts made have reached the limit; otherwise counts one more attempt and returns 1.
    int TryCount();

    int AttemptLimit() const { return attemptLimit_; }
    int AttemptsMade() const { return attemptsMade_; }
    uint32_t LongWaitMs() const { return longWaitMs_; }
    int ShortWaitMs() const { return shortWaitMs_; }

private:
    int attemptLimit_;
    uint32_t longWaitMs_;
    int shortWaitMs_;
    int attemptsMade_ = 0;
};

// The frame's bytes are the object's own CRawString base, so Size() and Data() are the frame's too.
class CPacket_ISP : public CTask, public CRawString {
public:
    static constexpr int kAttemptLimit = 1;
    static constexpr uint32_t kLongWaitMs = 1000;
    static constexpr int kShortWaitMs = 100;

    CPacket_ISP();

    // Replaces the frame by AC, length + 5 (little-endian), cmd, payload, checksum.
    // A null payload adds no payload bytes (callers pass it only with length 0).
    void Pack(uint8_t cmd, const void* payload, uint16_t length);

    // Reading side; each gives 0 or null for a frame shorter than 4 bytes.
    uint8_t GetCmd() const;
    uint8_t GetHead() const;
    bool IsHeadOk() const;
    uint16_t GetLength() const;
    const uint8_t* GetBody() const;

    const uint8_t* GetFrameData() const { return Data(); }
    int GetFrameSize() const { return Size(); }
    const CRawString& Frame() const { return *this; }

private:
    bool HasHeader() const { return Size() >= 4; }
};
