// Cutting answer frames out of the received byte stream.
//
// A frame is AC, L (low byte of the whole length; the high byte is not read), x, command (1..0x51),
// payload, checksum over command and payload. Candidates that fail any test are skipped, so false
// headers, corrupt and incomplete frames never hide a later valid frame.
#pragma once

#include <cstdint>
#include <functional>

#include "base/RawString.h"

// True when `buffer` holds a valid frame; start/end (exclusive) then bound the first one.
// Both are set to -1 before the search.
bool FindAnswerFrame(const CRawString& buffer, int& start, int& end);

using FrameFinder = bool (*)(const CRawString& buffer, int& start, int& end);

// Finds a frame with `finder`; on success copies it into `frame`, removes it (and, with
// discardLeading, every byte before it) from `buffer` and returns 1. Else 0, buffer unchanged.
int ExtractFrame(CRawString& buffer, FrameFinder finder, CRawString& frame, bool discardLeading);

// The receive buffer is bounded: once it holds more than RECEIVE_BUFFER_LIMIT bytes, only the
// bytes that can still become a frame are kept, from the first 0xAC among the last
// MAX_ANSWER_FRAME - 1 bytes on (none when there is no 0xAC there). A frame is at most 255 bytes,
// so any earlier candidate is already complete and was rejected for good: nothing that could still
// be delivered is lost, and a line full of noise cannot grow the buffer (and every search over it)
// without limit. The limit leaves room for a few chunks of the longest answer.
constexpr int RECEIVE_BUFFER_LIMIT = 4 * 1024;
constexpr int MAX_ANSWER_FRAME = 255;
void TrimReceiveBuffer(CRawString& buffer);

// One received chunk through the receive path: appends it to `buffer`, hands every frame it
// completes to `deliver` in arrival order (the bytes before each frame are dropped with it), then
// trims the buffer. Returns the number of frames delivered. Runs on the thread that owns `buffer`.
using FrameSink = std::function<void(const CRawString& frame)>;
int ReceiveChunk(CRawString& buffer, const uint8_t* data, int length, const FrameSink& deliver);
