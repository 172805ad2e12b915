// Inputs shared by the update-file reader tests: HEX lines, seeded random bytes, wide paths; and
// what a binary reader cut a file into.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/Text.h"
#include "base/Trace.h"
#include "files/Packet_Hex.h"

namespace filestest {

// A file reader with the HEX line shapes the engine gives every reader.
template <class Reader>
Reader MakeReader() {
    const HexLineShapes shapes;
    return Reader(shapes.extendedAddressLine, shapes.dataLine, shapes.startAddressLine, shapes.endOfFileLine);
}

inline std::wstring Wide(const std::string& path) { return Utf8ToWide(path); }

// One Intel HEX record line with a correct checksum, upper-case digits and CR LF.
inline std::string HexLine(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data,
                           const char* lineEnd = "\r\n") {
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(data.size() & 0xFF),
                  static_cast<unsigned>(offset), static_cast<unsigned>(type));
    std::string line = field;
    for (uint8_t byte : data) {
        std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(byte));
        line += field;
        sum += byte;
    }
    std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + field + lineEnd;
}

inline std::vector<uint8_t> RandomBytes(uint32_t seed, size_t count) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

inline std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The sizes of a binary reader's packets, and their bytes laid end to end.
template <class Reader>
std::vector<int> PacketSizes(const Reader& reader) {
    std::vector<int> sizes;
    for (const auto& packet : reader) sizes.push_back(packet.Size());
    return sizes;
}

template <class Reader>
std::vector<uint8_t> Joined(const Reader& reader) {
    std::vector<uint8_t> bytes;
    for (const auto& packet : reader) bytes.insert(bytes.end(), packet.Data(), packet.Data() + packet.Size());
    return bytes;
}

}  // namespace filestest
