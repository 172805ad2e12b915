// The radar firmware reader: 1024/128 cutting, the size the device is told, and files whose size
// and content disagree.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "files/File_Radar.h"
#include "support/FilesTestSupport.h"
#include "support/TestSupport.h"
#include "base/Text.h"

namespace {

using filestest::Joined;
using filestest::PacketSizes;
using filestest::Wide;

std::vector<int> Repeat(int count, int size) { return std::vector<int>(static_cast<size_t>(count), size); }

std::vector<int> Join(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(FileRadarTest, CuttingTable) {
    struct Row {
        uint32_t size;
        std::vector<int> packets;
    };
    const Row rows[] = {
        {3372, {1024, 1024, 1024, 128, 128, 44}},
        {1024, {1024}},
        {1000, Join(Repeat(7, 128), {104})},
        {0, {}},
        {1, {1}},
        {128, {128}},
        {129, {128, 1}},
        {1023, Join(Repeat(7, 128), {127})},
        {1025, {1024, 1}},
        {2048, {1024, 1024}},
        {70000, Join(Repeat(68, 1024), Join(Repeat(2, 128), {112}))},
    };
    testsupport::TempDir dir;
    for (const Row& row : rows) {
        const std::vector<uint8_t> bytes = filestest::RandomBytes(row.size, row.size);
        testsupport::WriteFile(dir.File("rdfwd.bin"), bytes);
        CFile_Radar reader = filestest::MakeReader<CFile_Radar>();
        EXPECT_EQ(reader.Load(Wide(dir.File("rdfwd.bin")).c_str()), row.size > 0 ? 1 : 0) << row.size;
        EXPECT_EQ(reader.GetFileSize(), row.size);
        EXPECT_EQ(PacketSizes(reader), row.packets) << row.size;
        EXPECT_EQ(CFile_Radar::PlannedPacketCount(row.size), row.packets.size()) << row.size;
        EXPECT_EQ(reader.GetTotalBytes(), static_cast<long long>(row.size));
        EXPECT_EQ(Joined(reader), bytes) << row.size;
    }
}

TEST(FileRadarTest, GetPacketBounds) {
    testsupport::TempDir dir;
    const std::vector<uint8_t> bytes = filestest::RandomBytes(9, 3372);
    testsupport::WriteFile(dir.File("rdfwd.bin"), bytes);
    CFile_Radar reader = filestest::MakeReader<CFile_Radar>();
    ASSERT_EQ(reader.Load(Wide(dir.File("rdfwd.bin")).c_str()), 1);

    const uint8_t marker[] = {0x5A};
    CRawString out(marker, 1);
    for (int index : {6, 7, -1, INT_MAX, INT_MIN}) {
        EXPECT_EQ(reader.GetPacket(index, out), 0) << index;
        EXPECT_EQ(out, CRawString(marker, 1)) << "out must stay untouched";
        EXPECT_EQ(reader.PacketAt(index), nullptr);
    }
    ASSERT_EQ(reader.GetPacket(5, out), 1);
    EXPECT_EQ(std::vector<uint8_t>(out.Data(), out.Data() + out.Size()),
              std::vector<uint8_t>(bytes.end() - 44, bytes.end()));
}

TEST(FileRadarTest, MissingFileKeepsListAndSize) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("rdfwd.bin"), filestest::RandomBytes(10, 1000));
    testsupport::WriteFile(dir.File("empty.bin"), {});
    CFile_Radar reader = filestest::MakeReader<CFile_Radar>();
    EXPECT_EQ(reader.GetFileSize(), 0u);
    ASSERT_EQ(reader.Load(Wide(dir.File("rdfwd.bin")).c_str()), 1);
    for (const std::string& path : {dir.File("missing.bin"), dir.Path(), std::string()}) {
        EXPECT_EQ(reader.Load(Wide(path).c_str()), 0) << path;
        EXPECT_EQ(reader.GetFileSize(), 1000u) << path;
        EXPECT_EQ(reader.GetPacketCount(), 8) << path;
    }
    EXPECT_EQ(reader.Load(nullptr), 0);
    EXPECT_EQ(reader.GetPacketCount(), 8);

    reader.Clear();
    EXPECT_EQ(reader.GetPacketCount(), 0);
    EXPECT_EQ(reader.GetFileSize(), 1000u);

    EXPECT_EQ(reader.Load(Wide(dir.File("empty.bin")).c_str()), 0);
    EXPECT_EQ(reader.GetFileSize(), 0u);
    EXPECT_EQ(reader.GetPacketCount(), 0);
}

// A sysfs attribute claims 4096 bytes and delivers a few: the device would be told a size the packets
// do not add up to, so nothing is loaded.
TEST(FileRadarTest, FileDeliveringFewerBytesThanItsSizeIsRefused) {
    const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat info {};
    if (stat(path, &info) != 0 || info.st_size != 4096) GTEST_SKIP() << path << " is not a 4096-byte sysfs file here";
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("rdfwd.bin"), filestest::RandomBytes(11, 2000));
    CFile_Radar reader = filestest::MakeReader<CFile_Radar>();
    ASSERT_EQ(reader.Load(Wide(dir.File("rdfwd.bin")).c_str()), 1);

    testsupport::TraceCapture trace;
    EXPECT_EQ(reader.Load(Wide(path).c_str()), 0);
    EXPECT_EQ(reader.GetPacketCount(), 0);
    EXPECT_EQ(reader.GetFileSize(), 0u);
    EXPECT_TRUE(trace.Contains(L"of its 4096 bytes")) << std::string(WideToUtf8(trace.Text()));
    EXPECT_EQ(reader.LoadStatus().state, ImageState::Refused);
    EXPECT_NE(reader.LoadStatus().reason.find(L"файл изменился во время чтения"), std::wstring::npos);
}

// A pipe has no size to tell the device. It is refused by its kind, before any open that would wait
// for a writer; the refusal is traced.
TEST(FileRadarTest, UnseekableFileIsRefused) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFO in its file system";
#else
    testsupport::TempDir dir;
    const std::string fifo = dir.File("rdfwd.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    CFile_Radar reader = filestest::MakeReader<CFile_Radar>();
    testsupport::TraceCapture trace;
    EXPECT_EQ(reader.Load(Wide(fifo).c_str()), 0);
    EXPECT_EQ(reader.GetPacketCount(), 0);
    EXPECT_EQ(reader.GetFileSize(), 0u);
    EXPECT_EQ(reader.LoadStatus().state, ImageState::Refused);
    EXPECT_TRUE(trace.Contains(L"Radar firmware refused: это канал (FIFO), а не файл"))
        << WideToUtf8(trace.Text());
#endif
}

}  // namespace
