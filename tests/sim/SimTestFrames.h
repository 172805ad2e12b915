// Command and answer frames for the simulator's tests, built independently of its own frame code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Frame(uint8_t cmd, const Bytes& payload = {}) {
    const size_t length = payload.size() + 5;
    Bytes frame = {0xAC, static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8), cmd};
    unsigned sum = cmd;
    for (uint8_t b : payload) {
        frame.push_back(b);
        sum += b;
    }
    frame.push_back(static_cast<uint8_t>(sum & 0xFF));
    return frame;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline std::string Hex(const Bytes& bytes) {
    std::string text;
    char piece[4];
    for (uint8_t b : bytes) {
        std::snprintf(piece, sizeof piece, "%02x ", b);
        text += piece;
    }
    return text;
}

}  // namespace simtest
