// Answers on their way out: each goes out whole in one write once its time has come, or in
// 1-byte pieces about 1 ms apart with --split, optionally behind junk bytes.
//
// With a baud rate the outgoing line is paced like a real 8N1 line: an answer is written only after
// the time its bytes need on the wire, counted from when the line became free, so back-to-back
// answers queue up behind each other. Single-threaded use.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/FrameReader.h"
#include "sim/LineIo.h"
#include "sim/Recorder.h"

// Time `bytes` take on an 8N1 line (10 bit times each); zero when baud is 0 (unpaced).
std::chrono::microseconds LineTime(unsigned baud, size_t bytes);

class COutbox {
public:
    COutbox(unsigned baud, bool split);

    // Queues one answer frame to be sent no earlier than `earliest` plus its line time, behind
    // JunkBytes() when `junkPrefix` is set. Returns when its last byte is due to be written.
    SimClock::time_point Queue(const std::vector<uint8_t>& frame, SimClock::time_point earliest, bool junkPrefix);

    bool Empty() const { return chunks_.empty(); }
    // Answers wait for their line time (a baud rate on the pseudo-terminal).
    bool Paced() const { return baud_ != 0; }
    // When the next write is due; time_point::max() when nothing waits.
    SimClock::time_point NextDue() const;

    // Writes every due chunk the line takes. Sets `lineFull` when the line refused bytes (wait for
    // POLLOUT). Returns 1, or 0 on a hard write error.
    int Flush(CLineIo& line, SimClock::time_point now, CRecorder& recorder, bool& lineFull);

    // Junk put before every answer with --junk: a false start byte whose length byte is too small
    // to be a frame, framed by bytes that are no start byte.
    static const std::vector<uint8_t>& JunkBytes();

private:
    struct Chunk {
        std::vector<uint8_t> bytes;
        SimClock::time_point due;
        std::vector<uint8_t> frameToLog;  // set on the first chunk of an answer
        size_t written = 0;
    };

    unsigned baud_;
    bool split_;
    SimClock::time_point lineFreeAt_{};
    std::deque<Chunk> chunks_;
};
