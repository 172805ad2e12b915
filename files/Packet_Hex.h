// CPacket_Hex: one Intel HEX record held in binary form, and the parser for one HEX text line.
//
// Stored record (N data bytes, N + 6 bytes in all):
//   [0] start mark as read (':'), [1] N, [2..3] load offset little-endian, [4] type,
//   [5 .. 4+N] data in text order, [5+N] checksum as written in the text.
// A default-constructed record is empty; the accessors then give 0 or null. Copies are deep.
// Not thread-safe: a record belongs to one thread at a time (the readers fill their lists on the
// connect thread, the transfer steps read them afterwards).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/RawString.h"

// The four HEX line lengths (CR LF included) that every update-file reader is constructed with,
// kept in this order. Only the firmware reader uses them, to size its line buffer.
constexpr int HEX_EXTENDED_ADDRESS_LINE = 17;  // :02000004AAAACC
constexpr int HEX_DATA_LINE = 45;              // a record of 16 data bytes
constexpr int HEX_START_ADDRESS_LINE = 21;     // :04000005AAAAAAAACC
constexpr int HEX_END_OF_FILE_LINE = 13;       // :00000001FF
struct HexLineShapes {
    int extendedAddressLine = HEX_EXTENDED_ADDRESS_LINE;
    int dataLine = HEX_DATA_LINE;
    int startAddressLine = HEX_START_ADDRESS_LINE;
    int endOfFileLine = HEX_END_OF_FILE_LINE;
};

class CPacket_Hex {
public:
    // Record types the readers and the transfer steps act on.
    static constexpr uint8_t kTypeData = 0x00;
    static constexpr uint8_t kTypeEndOfFile = 0x01;
    static constexpr uint8_t kTypeExtendedLinearAddress = 0x04;
    static constexpr uint8_t kTypeStartLinearAddress = 0x05;
    // A record's data length is one byte, so no record holds more.
    static constexpr int kMaxDataBytes = 255;
    // Characters from the start mark through the checksum digits of a record with N data bytes
    // (the line end is not part of it).
    static constexpr size_t TextLength(int dataBytes) { return 11 + 2 * static_cast<size_t>(dataBytes); }

    CPacket_Hex() = default;
    CPacket_Hex(const CPacket_Hex& other) = default;
    CPacket_Hex& operator=(const CPacket_Hex& other) = default;
    CPacket_Hex(CPacket_Hex&& other) noexcept = default;
    CPacket_Hex& operator=(CPacket_Hex&& other) noexcept = default;
    virtual ~CPacket_Hex() = default;

    // Parses one HEX text line that starts with its start mark. The caller guarantees that `line`
    // holds at least 13 + 2N characters, N being the length the line's characters 1 and 2 give
    // (the parser never looks at the line end and reads no further than the checksum digits).
    // Returns 1 when the checksum holds and the record replaced this object's bytes; 0 otherwise
    // (null line, checksum mismatch), the object then keeps its previous bytes.
    int ParseLine(const char* line);
    // The same for a line of which only `available` characters may be read: also 0 when the record
    // the length digits announce does not fit in them. Safe on arbitrary bytes.
    int ParseLine(const char* line, size_t available);

    // "0".."9" give 0..9, "A".."F" give 10..15, every other character its own code (so lower-case
    // digits are not digits and produce wrong bytes).
    static uint8_t HexDigitValue(char ch);
    // True for the characters HexDigitValue maps to a digit value ("0".."9", "A".."F"). The parser
    // itself does not ask: a reader that must not turn other characters into wrong bytes does.
    static bool IsHexDigit(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F'); }

    // Fields of the stored record; 0 (or null) while the record is empty.
    uint16_t GetAddress() const;
    uint8_t GetDataLength() const;
    uint8_t GetType() const;
    // The first data byte (record offset 5); GetDataLength() bytes may be read from it.
    const uint8_t* GetData() const;
    uint8_t GetChecksum() const;
    const CRawString& Record() const { return record_; }

private:
    CRawString record_;
};
