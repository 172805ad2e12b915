#include "files/File_Project.h"
#include "files/PacketIndex.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <new>
#include <utility>

#include "base/Trace.h"
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

constexpr uint8_t kTypeExtendedSegmentAddress = 0x02;
constexpr uint8_t kTypeStartSegmentAddress = 0x03;

bool IsEndOfFileRecord(const CPacket_Hex& record) {
    return record.GetDataLength() == 0 && record.GetAddress() == 0 &&
           record.GetType() == CPacket_Hex::kTypeEndOfFile && record.GetChecksum() == 0xFF;
}

std::wstring FormatReason(const wchar_t* format, ...) {
    wchar_t text[256] = {};
    va_list args;
    va_start(args, format);
    std::vswprintf(text, sizeof text / sizeof text[0], format, args);
    va_end(args);
    return text;
}

// Why the characters [from, to) of a record line are not all upper-case hex digits; empty when they
// are. A lower-case or stray character would otherwise become a wrong byte value.
std::wstring CheckDigits(const char* line, size_t from, size_t to) {
    for (size_t pos = from; pos < to; ++pos) {
        const char ch = line[pos];
        if (CPacket_Hex::IsHexDigit(ch)) continue;
        const unsigned code = static_cast<unsigned char>(ch);
        // Only a visible ASCII character is shown as itself; anything else by its code.
        const std::wstring shown = code > 0x20 && code < 0x7F ? FormatReason(L"\"%lc\"", static_cast<wint_t>(code))
                                                              : FormatReason(L"с кодом 0x%02X", code);
        return FormatReason(L"знак %ls на месте %zu строки не шестнадцатеричная цифра (нужны 0-9 и заглавные A-F)",
                            shown.c_str(), pos + 1);
    }
    return {};
}

// Why a well-formed record cannot be placed by the transfer; empty when it can.
std::wstring CheckRecordType(const CPacket_Hex& record, int number) {
    const uint8_t type = record.GetType();
    const unsigned length = record.GetDataLength();
    switch (type) {
        case CPacket_Hex::kTypeData:
            break;
        case CPacket_Hex::kTypeEndOfFile:
            if (!IsEndOfFileRecord(record)) return L"запись конца файла должна быть :00000001FF";
            break;
        case CPacket_Hex::kTypeExtendedLinearAddress:
            if (length != 2) return FormatReason(L"запись адреса (тип 04) должна нести 2 байта, а несёт %u", length);
            break;
        case CPacket_Hex::kTypeStartLinearAddress:
            if (length != 4)
                return FormatReason(L"запись стартового адреса (тип 05) должна нести 4 байта, а несёт %u", length);
            break;
        // Segment addressing shifts the records after it in a way the transfer does not follow: their
        // bytes would land at the wrong addresses.
        case kTypeExtendedSegmentAddress:
            return L"запись адреса сегмента (тип 02) не поддерживается: данные легли бы не по своим адресам";
        case kTypeStartSegmentAddress:
            return L"запись стартового адреса сегмента (тип 03) не поддерживается";
        default:
            return FormatReason(L"неизвестный тип записи %02X", static_cast<unsigned>(type));
    }
    // The transfer takes the load address from the first record; without it nothing can be placed.
    if (number == 1 && type != CPacket_Hex::kTypeExtendedLinearAddress)
        return L"первая запись не задаёт адрес загрузки (тип 04)";
    return {};
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
    if (!file.Open(path)) {
        status_ = file.OpenFailure();
        if (status_.state == ImageState::Refused) Trace(L"Firmware image refused: %ls\r\n", status_.reason.c_str());
        return 0;
    }

    std::vector<CPacket_Hex>().swap(records_);
    version_ = 0;
    status_ = {ImageState::Ready, {}};
    try {
        const int result = ReadRecords(file);
        if (status_.state == ImageState::Refused)
            Trace(L"Firmware image refused: %ls\r\n", status_.reason.c_str());
        return result;
    } catch (const std::bad_alloc&) {
        // Half a firmware image must never be sent.
        Clear();
        status_ = {ImageState::Refused, L"не хватило памяти"};
        Trace(L"Out of memory while loading the firmware image\r\n");
        return 0;
    }
}

void CFile_Project::Refuse(int record, const std::wstring& what) {
    status_ = {ImageState::Refused, FormatReason(L"запись %d: ", record) + what};
}

int CFile_Project::ReadRecords(CImageFile& file) {
    int result = 0;
    bool endSeen = false;
    long long bytesRead = 0;
    // Zero-filled, so an empty file (no line ever read) gives version 0.
    std::vector<char> line(static_cast<size_t>(lineBufferBytes_), 0);
    const size_t tailRoom = line.size() - kRecordHeadChars;
    CPacket_Hex record;

    for (;;) {
        const int number = GetPacketCount() + 1;
        const size_t headRead = file.Read(line.data(), kRecordHeadChars);
        bytesRead += static_cast<long long>(headRead);
        if (file.HasError()) {
            Refuse(number, CImageFile::ReadErrorReason(bytesRead, file.ReadErrorText()));
            break;
        }
        if (headRead < static_cast<size_t>(kRecordHeadChars)) {
            // The trailer: positions the short read did not reach still hold the last record line.
            version_ = TrailerVersion(line);
            Trace(L"\r\n GetHexVer == %04x \r\n", static_cast<unsigned>(version_));
            if (bytesRead == 0)
                status_ = {ImageState::Empty, L"файл пуст"};
            else if (!endSeen && headRead > 0 && line[0] == ':')
                Refuse(number, L"оборвана концом файла");
            else if (!endSeen)
                Refuse(number, L"файл кончился без записи конца файла (:00000001FF)");
            break;
        }
        if (line[0] != ':') {
            Refuse(number, endSeen ? L"после записи конца файла лишний текст: версия должна быть не длиннее 8 знаков"
                                   : L"строка не начинается с \":\"");
            break;
        }
        std::wstring wrong = CheckDigits(line.data(), 1, kRecordHeadChars);
        if (!wrong.empty()) {
            Refuse(number, wrong);
            break;
        }

        const unsigned dataBytes = CPacket_Hex::HexDigitValue(line[1]) * 16u + CPacket_Hex::HexDigitValue(line[2]);
        const size_t tail = 2 * static_cast<size_t>(dataBytes) + 4;  // data, checksum, CR LF
        if (tail > tailRoom) {
            Refuse(number, FormatReason(L"%u байт данных, а читается не больше %d", dataBytes, MaxRecordDataBytes()));
            break;
        }
        const size_t tailRead = file.Read(line.data() + kRecordHeadChars, tail);
        bytesRead += static_cast<long long>(tailRead);
        if (file.HasError()) {
            Refuse(number, CImageFile::ReadErrorReason(bytesRead, file.ReadErrorText()));
            break;
        }
        // Without its checksum digits the record would be parsed from the previous line's leftovers.
        if (tailRead + 2 < tail) {
            Refuse(number, L"оборвана концом файла");
            break;
        }
        const size_t textEnd = CPacket_Hex::TextLength(static_cast<int>(dataBytes));
        wrong = CheckDigits(line.data(), kRecordHeadChars, textEnd);
        if (!wrong.empty()) {
            Refuse(number, wrong);
            break;
        }
        // The reader counts characters; a line end of any other length shifts every later record.
        // The end of the file may cut the last line's CR LF, nothing else may.
        const size_t lineEndRead = kRecordHeadChars + tailRead - textEnd;
        if ((lineEndRead >= 1 && line[textEnd] != '\r') || (lineEndRead >= 2 && line[textEnd + 1] != '\n')) {
            Refuse(number, line[textEnd] == '\n' ? L"строка кончается на LF, нужен CR LF"
                                                  : L"после контрольной суммы не CR LF");
            break;
        }
        if (!record.ParseLine(line.data(), kRecordHeadChars + tailRead)) {
            Refuse(number, L"неверная контрольная сумма");
            break;
        }
        wrong = CheckRecordType(record, number);
        if (!wrong.empty()) {
            Refuse(number, wrong);
            break;
        }
        if (IsEndOfFileRecord(record)) {
            result = 1;
            endSeen = true;
        }
        records_.push_back(std::move(record));
    }
    return result;
}

int CFile_Project::GetPacket(int index, CPacket_Hex& out) const { return CopyPacketAtIndex(records_, index, out); }

const CPacket_Hex* CFile_Project::PacketAt(int index) const { return PacketAtIndex(records_, index); }

void CFile_Project::Clear() {
    std::vector<CPacket_Hex>().swap(records_);
    status_ = {};
}
