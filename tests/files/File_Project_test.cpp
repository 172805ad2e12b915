// The firmware HEX reader: record list, end-of-file rule, trailer version, and every way a file can
// be wrong. Files come from a standard tool (srec_cat) as well as from hand-made lines.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "files/File_Project.h"
#include "support/FilesTestSupport.h"
#include "support/TestSupport.h"
#include "base/Text.h"

namespace {

using filestest::HexLine;
using filestest::Wide;

const std::string kEof = ":00000001FF\r\n";

// Extended address 0x0800, two data records, start address, end of file.
std::string SmallImage() {
    return HexLine(4, 0, {0x08, 0x00}) + HexLine(0, 0xF000, filestest::RandomBytes(1, 16)) +
           HexLine(0, 0xF010, filestest::RandomBytes(2, 16)) + HexLine(5, 0, {0x08, 0x00, 0xF1, 0x01}) + kEof;
}

struct Loaded {
    int result = -1;
    int count = -1;
    uint16_t version = 0xFFFF;
    ImageLoadStatus status;
};

Loaded LoadText(const std::string& text, CFile_Project& reader) {
    testsupport::TempDir dir;
    const std::string path = dir.File("AC7811_project.hex");
    testsupport::WriteTextFile(path, text);
    Loaded out;
    out.result = reader.Load(Wide(path).c_str());
    out.count = reader.GetPacketCount();
    out.version = reader.GetHexVer();
    out.status = reader.LoadStatus();
    return out;
}

Loaded LoadText(const std::string& text) {
    CFile_Project reader = filestest::MakeReader<CFile_Project>();
    return LoadText(text, reader);
}

TEST(FileProjectTest, WellFormedFileWithTrailer) {
    for (const char* trailer : {"0105", "0105\r\n"}) {
        testsupport::TraceCapture trace;
        CFile_Project reader = filestest::MakeReader<CFile_Project>();
        const Loaded got = LoadText(SmallImage() + trailer, reader);
        EXPECT_EQ(got.result, 1) << trailer;
        EXPECT_EQ(got.count, 5);
        EXPECT_EQ(got.version, 0x0105);
        EXPECT_TRUE(trace.Contains(L"\r\n GetHexVer == 0105 \r\n")) << trailer;
        ASSERT_NE(reader.PacketAt(0), nullptr);
        EXPECT_EQ(reader.PacketAt(0)->GetType(), CPacket_Hex::kTypeExtendedLinearAddress);
        EXPECT_EQ(reader.PacketAt(3)->GetType(), CPacket_Hex::kTypeStartLinearAddress);
        EXPECT_EQ(reader.PacketAt(4)->GetType(), CPacket_Hex::kTypeEndOfFile);
        EXPECT_EQ(reader.PacketAt(1)->GetAddress(), 0xF000);
        EXPECT_EQ(std::vector<uint8_t>(reader.PacketAt(2)->GetData(), reader.PacketAt(2)->GetData() + 16),
                  filestest::RandomBytes(2, 16));
    }
}

// How each kind of file ends: result, records kept, version, and whether the engine may send it (a
// refused file names the record and what is wrong with it).
TEST(FileProjectTest, ResultCountAndVersionTable) {
    const std::string image = SmallImage();
    const std::string ext = HexLine(4, 0, {0x08, 0x00});
    const std::string data = HexLine(0, 0x0010, filestest::RandomBytes(3, 16));
    std::string badThird = ext + data + data + kEof + "0105";
    badThird[2 * data.size() + ext.size() - 4] ^= 0x01;  // a checksum digit of the third record
    std::string lfOnly = image;
    for (size_t pos; (pos = lfOnly.find("\r\n")) != std::string::npos;) lfOnly.erase(pos, 1);
    std::string lowerCase = image;
    for (char& ch : lowerCase)
        if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');

    std::string hundredRecords = ext;
    for (int i = 0; i < 99; ++i) hundredRecords += data;
    std::string badHundredFirst = hundredRecords + data + kEof + "0105";
    badHundredFirst[hundredRecords.size() + data.size() - 3] ^= 0x01;

    constexpr ImageState kReady = ImageState::Ready, kRefused = ImageState::Refused, kEmpty = ImageState::Empty;
    struct Row {
        const char* name;
        std::string text;
        int result;
        int count;
        uint16_t version;
        ImageState state;
        const char* reason;  // a piece of it; "" for none
    };
    const Row rows[] = {
        {"no trailer", image, 1, 5, 0xA000, kReady, ""},
        {"no line end after the last record", image.substr(0, image.size() - 2), 1, 5, 0xA000, kReady, ""},
        {"bad checksum in record 3", badThird, 0, 2, 0, kRefused, "запись 3: неверная контрольная сумма"},
        {"bad checksum in record 101", badHundredFirst, 0, 100, 0, kRefused, "запись 101: неверная контрольная сумма"},
        {"empty file", "", 0, 0, 0, kEmpty, "файл пуст"},
        {"trailer only", "0105", 0, 0, 0x0105, kRefused, "запись 1: файл кончился без записи конца файла"},
        {"no end-of-file record", ext + data + "0105", 0, 2, 0x0105, kRefused,
         "запись 3: файл кончился без записи конца файла"},
        {"trailer of 8 characters", image + "0105\r\n\r\n", 1, 5, 0x0105, kReady, ""},
        {"trailer of 9 characters", image + "010512345", 1, 5, 0, kRefused,
         "запись 6: после записи конца файла лишний текст"},
        {"trailer of letters", image + "A1B2", 1, 5, 0x1122, kReady, ""},
        // The short read leaves the last record line's characters in place of missing ones.
        {"trailer of 2 characters", image + "01", 1, 5, 0x0100, kReady, ""},
        {"records after the end-of-file record", image + data + "0106", 1, 6, 0x0106, kReady, ""},
        {"cut inside the header of record 2", image.substr(0, ext.size() + 5), 0, 1, 0xA106, kRefused,
         "запись 2: оборвана концом файла"},
        {"cut inside the data of record 2", image.substr(0, ext.size() + 20), 0, 1, 0, kRefused,
         "запись 2: оборвана концом файла"},
        {"cut inside the checksum of record 2", image.substr(0, ext.size() + data.size() - 3), 0, 1, 0, kRefused,
         "запись 2: оборвана концом файла"},
        // The line buffer still holds the same record's previous copy; it must not fill the gap.
        {"cut inside a repeated record", ext + data + data.substr(0, 20), 0, 2, 0, kRefused,
         "запись 3: оборвана концом файла"},
        {"cut inside the end-of-file record", image.substr(0, image.size() - 4), 0, 4, 0, kRefused,
         "запись 5: оборвана концом файла"},
        {"LF line ends", lfOnly, 0, 0, 0, kRefused, "запись 1: строка кончается на LF, нужен CR LF"},
        {"CR CR line end", ext + HexLine(0, 0x0010, {1, 2}, "\r\r") + kEof + "0105", 0, 1, 0, kRefused,
         "запись 2: после контрольной суммы не CR LF"},
        {"lower-case digits", lowerCase, 0, 0, 0, kRefused, "запись 1: знак \"f\" на месте 14 строки не шестнадцатеричная"},
        {"line not starting with a colon", ext + "X" + data.substr(1) + kEof, 0, 1, 0, kRefused,
         "запись 2: строка не начинается с \":\""},
        {"blank line", ext + "\r\n" + data + kEof, 0, 1, 0, kRefused, "запись 2: строка не начинается с"},
        {"22 data bytes fit", ext + HexLine(0, 0, filestest::RandomBytes(4, 22)) + kEof + "0105", 1, 3, 0x0105, kReady,
         ""},
        {"23 data bytes", ext + HexLine(0, 0, filestest::RandomBytes(4, 23)) + kEof + "0105", 0, 1, 0, kRefused,
         "запись 2: 23 байт данных, а читается не больше 22"},
        {"32 data bytes", ext + HexLine(0, 0, filestest::RandomBytes(5, 32)) + kEof + "0105", 0, 1, 0, kRefused,
         "запись 2: 32 байт данных"},
        {"32 data bytes after the end", image + HexLine(0, 0, filestest::RandomBytes(5, 32)) + "0105", 1, 5, 0,
         kRefused, "запись 6: 32 байт данных"},
        {"length digits not hex", ext + ":G0000000" + std::string(40, '0') + kEof, 0, 1, 0, kRefused,
         "запись 2: знак \"G\" на месте 2"},
        {"control character in a record", ext + ":02001000\x01" + data.substr(10), 0, 1, 0, kRefused,
         "запись 2: знак с кодом 0x01 на месте 10"},
        {"first record a data record", data + ext + kEof + "0105", 0, 0, 0, kRefused,
         "запись 1: первая запись не задаёт адрес загрузки (тип 04)"},
        {"segment address record (type 02)", ext + HexLine(2, 0, {0x10, 0x00}) + data + kEof + "0105", 0, 1, 0,
         kRefused, "запись 2: запись адреса сегмента (тип 02) не поддерживается"},
        {"start segment address record (type 03)", ext + data + HexLine(3, 0, {0, 0, 1, 0}) + kEof + "0105", 0, 2,
         0, kRefused, "запись 3: запись стартового адреса сегмента (тип 03)"},
        {"unknown record type", ext + HexLine(6, 0, {1}) + kEof + "0105", 0, 1, 0, kRefused,
         "запись 2: неизвестный тип записи 06"},
        {"address record of 4 bytes", ext + HexLine(4, 0, {0, 0, 8, 1}) + kEof + "0105", 0, 1, 0, kRefused,
         "запись 2: запись адреса (тип 04) должна нести 2 байта, а несёт 4"},
        {"end-of-file record with an offset", ext + data + HexLine(1, 0x0010, {}) + "0105", 0, 2, 0, kRefused,
         "запись 3: запись конца файла должна быть :00000001FF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Loaded got = LoadText(row.text);
        EXPECT_EQ(got.result, row.result);
        EXPECT_EQ(got.count, row.count);
        EXPECT_EQ(got.version, row.version);
        EXPECT_EQ(got.status.state, row.state) << WideToUtf8(got.status.reason);
        const std::string reason = WideToUtf8(got.status.reason);
        if (row.state == kReady)
            EXPECT_EQ(reason, "");
        else
            EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
    }
}

TEST(FileProjectTest, GetPacketBoundsAndTraversal) {
    CFile_Project reader = filestest::MakeReader<CFile_Project>();
    ASSERT_EQ(LoadText(SmallImage() + "0105", reader).count, 5);

    CPacket_Hex out;
    ASSERT_EQ(out.ParseLine(":0300300002337A1E"), 1);
    for (int index : {5, 6, -1, INT_MAX, INT_MIN}) {
        EXPECT_EQ(reader.GetPacket(index, out), 0) << index;
        EXPECT_EQ(out.GetChecksum(), 0x1E) << "out must stay untouched";
        EXPECT_EQ(reader.PacketAt(index), nullptr);
    }
    ASSERT_EQ(reader.GetPacket(4, out), 1);
    EXPECT_EQ(out.GetType(), CPacket_Hex::kTypeEndOfFile);
    EXPECT_EQ(out.Record(), reader.PacketAt(4)->Record());

    int index = 0;
    for (const CPacket_Hex& record : reader) {
        EXPECT_EQ(&record, reader.PacketAt(index)) << index;
        ++index;
    }
    EXPECT_EQ(index, 5);
}

TEST(FileProjectTest, MissingFileOrFolderChangesNothingAndClearKeepsTheVersion) {
    CFile_Project reader = filestest::MakeReader<CFile_Project>();
    ASSERT_EQ(LoadText(SmallImage() + "0105", reader).result, 1);
    testsupport::TempDir dir;
    for (const std::string& path : {dir.File("missing.hex"), dir.Path(), std::string()}) {
        EXPECT_EQ(reader.Load(Wide(path).c_str()), 0) << path;
        EXPECT_EQ(reader.GetPacketCount(), 5);
        EXPECT_EQ(reader.GetHexVer(), 0x0105);
    }
    EXPECT_EQ(reader.Load(nullptr), 0);
    EXPECT_EQ(reader.GetPacketCount(), 5);

    reader.Clear();
    EXPECT_EQ(reader.GetPacketCount(), 0);
    EXPECT_EQ(reader.begin(), reader.end());
    EXPECT_EQ(reader.GetHexVer(), 0x0105);

    // A load that opens the file replaces everything, even when it fails.
    ASSERT_EQ(LoadText(SmallImage() + "0105", reader).count, 5);
    EXPECT_EQ(LoadText("", reader).count, 0);
    EXPECT_EQ(reader.GetHexVer(), 0);
}

TEST(FileProjectTest, NonAsciiPath) {
    testsupport::TempDir dir;
    const std::string folder = dir.File("Прошивка 固件");
    ASSERT_TRUE(std::filesystem::create_directory(testsupport::Utf8Path(folder)));
    testsupport::WriteTextFile(folder + "/AC7811_project.hex", SmallImage() + "0105");
    CFile_Project reader = filestest::MakeReader<CFile_Project>();
    EXPECT_EQ(reader.Load(Wide(folder + "/AC7811_project.hex").c_str()), 1);
    EXPECT_EQ(reader.GetHexVer(), 0x0105);
}

TEST(FileProjectTest, LineBufferFollowsTheConstructionValues) {
    EXPECT_EQ(filestest::MakeReader<CFile_Project>().LineBufferBytes(), 58);
    EXPECT_EQ(filestest::MakeReader<CFile_Project>().MaxRecordDataBytes(), 22);
    const auto shapes = filestest::MakeReader<CFile_Project>().Shapes();
    EXPECT_EQ(shapes.extendedAddressLine, 17);
    EXPECT_EQ(shapes.dataLine, 45);
    EXPECT_EQ(shapes.startAddressLine, 21);
    EXPECT_EQ(shapes.endOfFileLine, 13);

    // Absurd values stay within an empty record's line and the longest line a record can have.
    EXPECT_EQ(CFile_Project(0, 0, 0, 0).MaxRecordDataBytes(), 0);
    EXPECT_EQ(CFile_Project(0, -100, 0, INT_MIN).MaxRecordDataBytes(), 0);
    EXPECT_EQ(CFile_Project(0, INT_MAX, 0, INT_MAX).MaxRecordDataBytes(), 255);

    CFile_Project tiny(0, 0, 0, 0);
    const Loaded got = LoadText(SmallImage() + "0105", tiny);
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.count, 0);
    CFile_Project huge(0, INT_MAX, 0, INT_MAX);
    const std::string wide = HexLine(4, 0, {0x08, 0x00}) + HexLine(0, 0, filestest::RandomBytes(6, 255)) + kEof + "0105";
    EXPECT_EQ(LoadText(wide, huge).result, 1);
    EXPECT_EQ(huge.GetPacketCount(), 3);
    EXPECT_EQ(huge.PacketAt(1)->GetDataLength(), 255);
}

// Random files, some pure noise and some made of HEX-looking characters, must load without a fault
// and only ever hold records that fit the line buffer.
TEST(FileProjectTest, RandomFilesLoadCleanly) {
    const char alphabet[] = ":0123456789ABCDEF\r\n";
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::vector<uint8_t> bytes = filestest::RandomBytes(seed, 200 + seed * 97);
        if (seed % 2 == 0) {
            for (auto& byte : bytes) byte = static_cast<uint8_t>(alphabet[byte % (sizeof alphabet - 1)]);
            bytes[0] = ':';
        }
        CFile_Project reader = filestest::MakeReader<CFile_Project>();
        const Loaded got = LoadText(std::string(bytes.begin(), bytes.end()), reader);
        EXPECT_TRUE(got.result == 0 || got.result == 1) << seed;
        EXPECT_LE(static_cast<size_t>(got.count), bytes.size() / 13) << seed;
        for (const CPacket_Hex& record : reader) {
            EXPECT_LE(record.GetDataLength(), 22) << seed;
            EXPECT_EQ(record.Record().Size(), record.GetDataLength() + 6) << seed;
        }
    }
}

// The srec_cat binary is the README's "srecord" package.
std::string FindSrecCat() {
#ifndef _WIN32
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string path = std::string(dir) + "/srec_cat";
        if (access(path.c_str(), X_OK) == 0) return path;
    }
#endif
    return {};
}

std::vector<uint8_t> ReadBack(const CFile_Project& reader, uint32_t base, size_t size, int* segments) {
    std::vector<uint8_t> memory(size, 0);
    std::vector<bool> seen(size, false);
    uint32_t upper = 0;
    *segments = 0;
    for (const CPacket_Hex& record : reader) {
        if (record.GetType() == CPacket_Hex::kTypeExtendedLinearAddress) {
            upper = static_cast<uint32_t>(record.GetData()[0] << 8 | record.GetData()[1]);
            ++*segments;
        } else if (record.GetType() == CPacket_Hex::kTypeData) {
            const uint32_t address = (upper << 16) + record.GetAddress();
            for (int i = 0; i < record.GetDataLength(); ++i) {
                const uint32_t at = address + static_cast<uint32_t>(i) - base;
                if (at >= size || seen[at]) {
                    ADD_FAILURE() << "record byte at 0x" << std::hex << address + i << " outside or twice";
                    return {};
                }
                seen[at] = true;
                memory[at] = record.GetData()[i];
            }
        }
    }
    for (size_t i = 0; i < size; ++i)
        if (!seen[i]) {
            ADD_FAILURE() << "no record covers byte " << i;
            return {};
        }
    return memory;
}

TEST(FileProjectTest, StandardToolOutputReproducesTheBinary) {
#ifdef _WIN32
    GTEST_SKIP() << "srec_cat is a Debian program; the Windows build checks the reader on the other cases";
#endif
    const std::string srecCat = FindSrecCat();
    ASSERT_FALSE(srecCat.empty()) << "srec_cat not found: install the Debian package 'srecord'";

    constexpr uint32_t kBase = 0x0800F000;
    constexpr size_t kSize = 0x08021000 - kBase;  // spans the segments 0x0800, 0x0801 and 0x0802
    const std::vector<uint8_t> binary = filestest::RandomBytes(0xF1A5, kSize);
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("image.bin"), binary);
    const std::string command = srecCat + " '" + dir.File("image.bin") + "' -binary -offset 0x0800F000 -o '" +
                                dir.File("crlf.hex") + "' -intel -Output_Block_Size 16 -line-termination=crlf" +
                                " -execution-start-address 0x0800F101 && " + srecCat + " '" +
                                dir.File("image.bin") + "' -binary -offset 0x0800F000 -o '" + dir.File("lf.hex") +
                                "' -intel -Output_Block_Size 16 -line-termination=nl";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::vector<uint8_t> hex = testsupport::ReadFile(dir.File("crlf.hex"));
    ASSERT_GT(hex.size(), kSize * 2);
    for (char ch : std::string("0105")) hex.push_back(static_cast<uint8_t>(ch));
    testsupport::WriteFile(dir.File("AC7811_project.hex"), hex);

    CFile_Project reader = filestest::MakeReader<CFile_Project>();
    ASSERT_EQ(reader.Load(Wide(dir.File("AC7811_project.hex")).c_str()), 1);
    EXPECT_EQ(reader.GetHexVer(), 0x0105);
    const int count = reader.GetPacketCount();
    ASSERT_GE(count, 3);
    // The layout the firmware transfer expects: address first, start address and end last.
    EXPECT_EQ(reader.PacketAt(0)->GetType(), CPacket_Hex::kTypeExtendedLinearAddress);
    EXPECT_EQ(reader.PacketAt(count - 2)->GetType(), CPacket_Hex::kTypeStartLinearAddress);
    EXPECT_EQ(reader.PacketAt(count - 1)->GetType(), CPacket_Hex::kTypeEndOfFile);
    EXPECT_EQ(count, static_cast<int>(kSize / 16) + 3 + 2);
    int segments = 0;
    EXPECT_EQ(ReadBack(reader, kBase, kSize, &segments), binary);
    EXPECT_EQ(segments, 3);

    EXPECT_EQ(reader.LoadStatus().state, ImageState::Ready);

    // The same tool's LF-only output would be misread from its first line end on: refused there.
    CFile_Project lfReader = filestest::MakeReader<CFile_Project>();
    EXPECT_EQ(lfReader.Load(Wide(dir.File("lf.hex")).c_str()), 0);
    EXPECT_EQ(lfReader.GetPacketCount(), 0);
    EXPECT_EQ(lfReader.GetHexVer(), 0);
    EXPECT_EQ(lfReader.LoadStatus().state, ImageState::Refused);
    EXPECT_EQ(lfReader.LoadStatus().reason, L"запись 1: строка кончается на LF, нужен CR LF");
}

}  // namespace
