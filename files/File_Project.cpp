#include "files/File_Project.h"

#include <algorithm>
#include <new>
#include <utility>

#include "engine/Trace.h"
#include "files/ImageFile.h"

namespace {

// Start mark, two length digits, four offset digits and two type digits: enough to know how long
// the rest of the record is.
constexpr int kRecordHeadChars = 9;
// The head plus the two checksum digits and CR LF: the line of a record without data.
constexpr int kEmptyRecordChars = kRecordHeadChars + 4;

uint16_t TrailerVersion(const std::vector<char>& line) {
    return static_cast<uint16_t>(((line[0] & 0x0F) << 12) | ((line[1] & 0x0F) << 8) | ((line[2] & 0x0F) << 4) |
                                 (line[3] & 0x0F));
}

bool IsEndOfFileRecord(const CPacket_Hex& record) {
    return record.GetDataLength() == 0 && record.GetAddress() == 0 &&
           record.GetType() == CPacket_Hex::kTypeEndOfFile && record.GetChecksum() == 0xFF;
}

}  // namespace

CFile_Project::CFile_Project(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine)
    : shapes_{extendedAddressLine, dataLine, startAddressLine, endOfFileLine} {
    // Odd construction values must neither shrink the buffer below an empty record's line nor make
    // it larger than the longest line a record can have.
    const long long wanted = static_cast<long long>(dataLine) + endOfFileLine;
    lineBufferBytes_ = static_cast<int>(std::clamp<long long>(
        wanted, kEmptyRecordChars, kEmptyRecordChars + 2LL * CPacket_Hex::kMaxDataBytes));
}

int CFile_Project::MaxRecordDataBytes() const { return (lineBufferBytes_ - kEmptyRecordChars) / 2; }

int CFile_Project::Load(const wchar_t* path) {
    CImageFile file;
    if (!file.Open(path)) return 0;

    std::vector<CPacket_Hex>().swap(records_);
    version_ = 0;
    try {
        const int result = ReadRecords(file);
        status_ = result ? ImageLoadStatus{ImageState::Ready, {}}
                         : ImageLoadStatus{ImageState::Refused, L"файл прочитан не до конца"};
        return result;
    } catch (const std::bad_alloc&) {
        // Half a firmware image must never be sent.
        Clear();
        status_ = {ImageState::Refused, L"не хватило памяти"};
        Trace(L"Out of memory while loading the firmware image\r\n");
        return 0;
    }
}

int CFile_Project::ReadRecords(CImageFile& file) {
    int result = 0;
    // Zero-filled, so an empty file (no line ever read) gives version 0.
    std::vector<char> line(static_cast<size_t>(lineBufferBytes_), 0);
    const size_t tailRoom = line.size() - kRecordHeadChars;
    CPacket_Hex record;

    for (;;) {
        const size_t headRead = file.Read(line.data(), kRecordHeadChars);
        if (headRead < static_cast<size_t>(kRecordHeadChars)) {
            // The trailer: positions the short read did not reach still hold the last record line.
            version_ = TrailerVersion(line);
            Trace(L"\r\n GetHexVer == %04x \r\n", static_cast<unsigned>(version_));
            break;
        }
        if (line[0] != ':') break;

        const unsigned dataBytes = CPacket_Hex::HexDigitValue(line[1]) * 16u + CPacket_Hex::HexDigitValue(line[2]);
        const size_t tail = 2 * static_cast<size_t>(dataBytes) + 4;  // data, checksum, CR LF
        if (tail > tailRoom) {
            Trace(L"HEX record %d announces %u data bytes, more than the %d the reader takes\r\n",
                  GetPacketCount() + 1, dataBytes, MaxRecordDataBytes());
            break;
        }
        const size_t tailRead = file.Read(line.data() + kRecordHeadChars, tail);
        // Without its checksum digits the record would be parsed from the previous line's leftovers.
        if (tailRead + 2 < tail) {
            Trace(L"HEX record %d is cut short by the end of the file\r\n", GetPacketCount() + 1);
            break;
        }
        if (!record.ParseLine(line.data(), kRecordHeadChars + tailRead)) {
            Trace(L"HEX record %d fails its checksum\r\n", GetPacketCount() + 1);
            break;
        }
        if (IsEndOfFileRecord(record)) result = 1;
        records_.push_back(std::move(record));
    }
    return result;
}

int CFile_Project::GetPacket(int index, CPacket_Hex& out) const {
    const CPacket_Hex* record = PacketAt(index);
    if (record == nullptr) return 0;
    out = *record;
    return 1;
}

const CPacket_Hex* CFile_Project::PacketAt(int index) const {
    if (index < 0 || index >= GetPacketCount()) return nullptr;
    return &records_[static_cast<size_t>(index)];
}

void CFile_Project::Clear() {
    std::vector<CPacket_Hex>().swap(records_);
    status_ = {};
}
