// Intel HEX text for tests, written and read independently of the firmware reader under test.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct HexRecord {
    uint8_t type;
    uint16_t offset;
    std::vector<uint8_t> data;
};

// One record line ":LLAAAATT<data>CC\r\n" in upper case.
std::string HexLine(const HexRecord& record);
// The whole file: every record as a line, then `trailer` (e.g. "0105\r\n").
std::string HexFile(const std::vector<HexRecord>& records, const std::string& trailer);
// Records for `bytes` at `address` in 16-byte data records, with a type-04 record for each 64 KiB
// segment (the first one first).
std::vector<HexRecord> HexRecordsFor(uint32_t address, const std::vector<uint8_t>& bytes);

// The records of an Intel HEX text, read leniently: every ':' line with its type, offset and data
// (checksums and line ends are not checked; text after the records is ignored).
std::vector<HexRecord> ParseHexText(const std::string& text);

// Memory image: address -> byte.
using Memory = std::map<uint32_t, uint8_t>;
// What a correct device would hold after loading the data records of `records`.
Memory MemoryOf(const std::vector<HexRecord>& records);
// Memory from the simulator's firmware.bin (contiguous from `base`, 0xFF in gaps: such bytes are not
// compared unless `expected` holds them).
Memory MemoryFromImage(uint32_t base, const std::vector<uint8_t>& image);
// True when every byte of `expected` is in `actual` with the same value and `actual` holds nothing but
// 0xFF fill elsewhere.
bool SameMemory(const Memory& expected, const Memory& actual, std::string* why);

std::vector<uint8_t> PseudoRandomBytes(size_t count, uint32_t seed);

}  // namespace testsupport
