// Cutting answer frames out of the received byte stream.
//
// A frame is AC, L (low byte of the whole length; the high byte is not read), x, command (1..0x51),
// payload, checksum over command and payload. Candidates that fail any test are skipped, so false
// headers, corrupt and incomplete frames never hide a later valid frame.
#pragma once

#include "engine/RawString.h"

// True when `buffer` holds a valid frame; start/end (exclusive) then bound the first one.
// Both are set to -1 before the search.
bool FindAnswerFrame(const CRawString& buffer, int& start, int& end);

using FrameFinder = bool (*)(const CRawString& buffer, int& start, int& end);

// Finds a frame with `finder`; on success copies it into `frame`, removes it (and, with
// discardLeading, every byte before it) from `buffer` and returns 1. Else 0, buffer unchanged.
int ExtractFrame(CRawString& buffer, FrameFinder finder, CRawString& frame, bool discardLeading);

// Bytes that never formed a frame are kept only up to this length (a frame is at most 255 bytes);
// older bytes are dropped so a line full of noise cannot grow the buffer without limit.
constexpr int RECEIVE_BUFFER_LIMIT = 64 * 1024;
constexpr int MAX_ANSWER_FRAME = 255;
void TrimReceiveBuffer(CRawString& buffer);
