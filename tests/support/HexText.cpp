#include "support/HexText.h"

#include <algorithm>
#include <cstdio>

namespace testsupport {

std::string HexLine(const HexRecord& record) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(record.data.size()), static_cast<uint8_t>(record.offset >> 8),
                                  static_cast<uint8_t>(record.offset & 0xFF), record.type};
    bytes.insert(bytes.end(), record.data.begin(), record.data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    std::string line = ":";
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        line += digits;
    }
    return line + "\r\n";
}

std::string HexFile(const std::vector<HexRecord>& records, const std::string& trailer) {
    std::string text;
    for (const HexRecord& record : records) text += HexLine(record);
    return text + trailer;
}

std::vector<HexRecord> HexRecordsFor(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::vector<HexRecord> records;
    uint32_t segment = 0xFFFFFFFFu;
    for (size_t done = 0; done < bytes.size();) {
        const uint32_t at = address + static_cast<uint32_t>(done);
        if ((at >> 16) != segment) {
            segment = at >> 16;
            records.push_back({0x04, 0, {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment & 0xFF)}});
        }
        size_t take = std::min<size_t>(16, bytes.size() - done);
        take = std::min<size_t>(take, 0x10000 - (at & 0xFFFF));
        records.push_back({0x00, static_cast<uint16_t>(at & 0xFFFF),
                           std::vector<uint8_t>(bytes.begin() + static_cast<long>(done),
                                                bytes.begin() + static_cast<long>(done + take))});
        done += take;
    }
    return records;
}

std::vector<HexRecord> ParseHexText(const std::string& text) {
    std::vector<HexRecord> records;
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
    for (size_t pos = text.find(':'); pos != std::string::npos; pos = text.find(':', pos + 1)) {
        auto byteAt = [&](size_t i, uint8_t& value) {
            const size_t at = pos + 1 + 2 * i;
            if (at + 2 > text.size() || !isHex(text[at]) || !isHex(text[at + 1])) return false;
            value = static_cast<uint8_t>(std::stoi(text.substr(at, 2), nullptr, 16));
            return true;
        };
        uint8_t length = 0, high = 0, low = 0, type = 0;
        if (!byteAt(0, length) || !byteAt(1, high) || !byteAt(2, low) || !byteAt(3, type)) continue;
        HexRecord record{type, static_cast<uint16_t>(high << 8 | low), std::vector<uint8_t>(length)};
        bool whole = true;
        for (uint8_t i = 0; i < length && whole; ++i) whole = byteAt(4u + i, record.data[i]);
        if (whole) records.push_back(std::move(record));
    }
    return records;
}

Memory MemoryOf(const std::vector<HexRecord>& records) {
    Memory memory;
    uint32_t upper = 0;
    for (const HexRecord& record : records) {
        if (record.type == 0x04 && record.data.size() == 2) upper = (record.data[0] << 8) | record.data[1];
        if (record.type == 0x01) break;
        if (record.type != 0x00) continue;
        for (size_t i = 0; i < record.data.size(); ++i)
            memory[upper * 65536u + record.offset + static_cast<uint32_t>(i)] = record.data[i];
    }
    return memory;
}

Memory MemoryFromImage(uint32_t base, const std::vector<uint8_t>& image) {
    Memory memory;
    for (size_t i = 0; i < image.size(); ++i) memory[base + static_cast<uint32_t>(i)] = image[i];
    return memory;
}

bool SameMemory(const Memory& expected, const Memory& actual, std::string* why) {
    char text[128];
    for (const auto& [address, value] : expected) {
        auto it = actual.find(address);
        if (it == actual.end() || it->second != value) {
            std::snprintf(text, sizeof text, "address 0x%08X: expected %02X, got %s", address, value,
                          it == actual.end() ? "nothing" : "a different byte");
            if (why) *why = text;
            return false;
        }
    }
    for (const auto& [address, value] : actual) {
        if (value != 0xFF && expected.find(address) == expected.end()) {
            std::snprintf(text, sizeof text, "address 0x%08X holds %02X that was never sent", address, value);
            if (why) *why = text;
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> PseudoRandomBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t x = seed ? seed : 1;
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

}  // namespace testsupport
