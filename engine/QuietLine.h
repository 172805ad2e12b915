// CQuietLine: tells when a line has been quiet, its byte count unchanged, for a given time. The
// first look starts the count: what came before it is not known, so it counts as traffic.
// One thread; no clock of its own (the caller passes the millisecond tick).
#pragma once

#include <cstdint>

class CQuietLine {
public:
    explicit CQuietLine(uint32_t quietMs) : quietMs_(quietMs) {}

    // The line's byte count (both directions) at `nowMs`; true once it has not changed for quietMs.
    bool Quiet(uint64_t bytes, uint32_t nowMs) {
        if (!seen_ || bytes != bytes_) {
            seen_ = true;
            bytes_ = bytes;
            since_ = nowMs;
        }
        return nowMs - since_ >= quietMs_;
    }

private:
    const uint32_t quietMs_;
    bool seen_ = false;
    uint64_t bytes_ = 0;
    uint32_t since_ = 0;
};
