// One Intel HEX text line through CPacket_Hex::ParseLine, with both the bounded and the unbounded
// form. An accepted record must satisfy the checksum rule and, for a line in canonical form (upper-case
// digits), print back to the very line; a refused one must leave the object's record as it was.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "files/Packet_Hex.h"
#include "support/FilesTestSupport.h"

namespace {

bool IsCanonicalDigit(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F'); }

}  // namespace

FUZZ_INITIALIZE_SILENT_TRACE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // A record the refused parses must not touch.
    CPacket_Hex record;
    FUZZ_CHECK(record.ParseLine(":00000001FF", 11) == 1);
    const CRawString before = record.Record();

    const int bounded = record.ParseLine(text, size);
    if (!bounded) FUZZ_CHECK(record.Record() == before);
    if (size < 3) {
        FUZZ_CHECK(bounded == 0);
        return 0;
    }
    const int dataBytes = CPacket_Hex::HexDigitValue(text[1]) * 16 + CPacket_Hex::HexDigitValue(text[2]);
    const size_t needed = CPacket_Hex::TextLength(dataBytes & 0xFF);
    if (size < needed) {
        FUZZ_CHECK(bounded == 0);
        return 0;
    }

    // The unbounded form on a copy of exactly the characters it may read: reading one more is
    // caught by AddressSanitizer.
    std::unique_ptr<char[]> exact(new char[needed]);
    std::memcpy(exact.get(), text, needed);
    CPacket_Hex unbounded;
    FUZZ_CHECK(unbounded.ParseLine(exact.get()) == bounded);
    if (!bounded) return 0;
    FUZZ_CHECK(unbounded.Record() == record.Record());

    const CRawString& bytes = record.Record();
    const int n = record.GetDataLength();
    FUZZ_CHECK(n == (dataBytes & 0xFF));
    FUZZ_CHECK(bytes.Size() == n + 6);
    FUZZ_CHECK(bytes.GetAt(0) == data[0]);
    unsigned sum = 0;
    for (int i = 1; i <= n + 5; ++i) sum += bytes.GetAt(i);
    FUZZ_CHECK((sum & 0xFF) == 0);

    bool canonical = true;
    for (size_t i = 1; i < needed; ++i) canonical = canonical && IsCanonicalDigit(text[i]);
    if (canonical && text[0] == ':') {
        const std::vector<uint8_t> payload(record.GetData(), record.GetData() + n);
        const std::string printed = filestest::HexLine(record.GetType(), record.GetAddress(), payload, "");
        FUZZ_CHECK(printed == std::string(text, needed));
    }
    return 0;
}
