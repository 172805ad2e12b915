#include "files/Packet_Hex.h"

#include <array>

namespace {

constexpr int kHeaderBytes = 5;  // mark, N, offset low, offset high, type
constexpr size_t kUnbounded = static_cast<size_t>(-1);

// Digit values by character code: a table keeps the per-character cost of a large file flat.
constexpr std::array<uint8_t, 256> kDigitValues = [] {
    std::array<uint8_t, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = static_cast<uint8_t>(code);
    for (int digit = 0; digit < 10; ++digit) table['0' + digit] = static_cast<uint8_t>(digit);
    for (int digit = 0; digit < 6; ++digit) table['A' + digit] = static_cast<uint8_t>(10 + digit);
    return table;
}();

uint8_t DigitValue(char ch) { return kDigitValues[static_cast<unsigned char>(ch)]; }

uint8_t ByteAt(const char* line, size_t pos) {
    return static_cast<uint8_t>(DigitValue(line[pos]) * 16 + DigitValue(line[pos + 1]));
}

}  // namespace

uint8_t CPacket_Hex::HexDigitValue(char ch) { return DigitValue(ch); }

int CPacket_Hex::ParseLine(const char* line) { return ParseLine(line, kUnbounded); }

int CPacket_Hex::ParseLine(const char* line, size_t available) {
    // Characters 0..2 must be there before the length can be known.
    if (line == nullptr || available < 3) return 0;
    const uint8_t dataBytes = ByteAt(line, 1);
    if (available < TextLength(dataBytes)) return 0;

    // Sized for the largest length a record can announce, so no line can overrun it; only the
    // bytes this record uses are written and read.
    std::array<uint8_t, kHeaderBytes + kMaxDataBytes + 1> record;
    record[0] = static_cast<uint8_t>(line[0]);
    record[1] = dataBytes;
    const uint16_t offset = static_cast<uint16_t>(DigitValue(line[3]) * 4096 + DigitValue(line[4]) * 256 +
                                                  DigitValue(line[5]) * 16 + DigitValue(line[6]));
    record[2] = static_cast<uint8_t>(offset & 0xFF);
    record[3] = static_cast<uint8_t>(offset >> 8);
    record[4] = ByteAt(line, 7);
    for (int i = 0; i < dataBytes; ++i) record[kHeaderBytes + i] = ByteAt(line, 9 + 2 * static_cast<size_t>(i));
    const uint8_t checksum = ByteAt(line, 9 + 2 * static_cast<size_t>(dataBytes));
    record[kHeaderBytes + dataBytes] = checksum;

    unsigned sum = 0;
    for (int i = 1; i <= 4 + dataBytes; ++i) sum += record[i];
    if (((sum + checksum) & 0xFF) != 0) return 0;
    return record_.Assign(record.data(), kHeaderBytes + dataBytes + 1);
}

uint16_t CPacket_Hex::GetAddress() const {
    if (record_.Size() < 4) return 0;
    return static_cast<uint16_t>(record_.GetAt(2) | (record_.GetAt(3) << 8));
}

uint8_t CPacket_Hex::GetDataLength() const { return record_.GetAt(1); }

uint8_t CPacket_Hex::GetType() const { return record_.GetAt(4); }

const uint8_t* CPacket_Hex::GetData() const {
    // A stored record always holds its N data bytes and checksum; anything shorter is not a record.
    if (record_.Size() < kHeaderBytes + GetDataLength() + 1) return nullptr;
    return record_.Data() + kHeaderBytes;
}

uint8_t CPacket_Hex::GetChecksum() const {
    const int pos = kHeaderBytes + GetDataLength();
    if (record_.Size() <= pos) return 0;
    return record_.GetAt(pos);
}
