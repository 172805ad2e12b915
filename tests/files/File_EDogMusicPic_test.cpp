// The data image reader: 4096-byte cutting, bounds, and loads that fail or find nothing.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "files/File_EDogMusicPic.h"
#include "support/FilesTestSupport.h"
#include "support/TestSupport.h"

namespace {

using filestest::Joined;
using filestest::PacketSizes;
using filestest::Wide;

TEST(FileEDogMusicPicTest, CuttingTable) {
    struct Row {
        size_t size;
        std::vector<int> packets;
    };
    const Row rows[] = {
        {10000, {4096, 4096, 1808}}, {8192, {4096, 4096}}, {0, {}},           {1, {1}},
        {4095, {4095}},              {4096, {4096}},       {4097, {4096, 1}}, {3 * 4096 + 7, {4096, 4096, 4096, 7}},
    };
    testsupport::TempDir dir;
    for (const Row& row : rows) {
        const std::vector<uint8_t> bytes = filestest::RandomBytes(static_cast<uint32_t>(row.size), row.size);
        testsupport::WriteFile(dir.File("flagdata.bin"), bytes);
        CFile_EDogMusicPic reader = filestest::MakeReader<CFile_EDogMusicPic>();
        EXPECT_EQ(reader.Load(Wide(dir.File("flagdata.bin")).c_str()), row.size > 0 ? 1 : 0) << row.size;
        EXPECT_EQ(PacketSizes(reader), row.packets) << row.size;
        EXPECT_EQ(reader.GetPacketCount(), static_cast<int>((row.size + 4095) / 4096));
        EXPECT_EQ(reader.GetTotalBytes(), static_cast<long long>(row.size));
        EXPECT_EQ(Joined(reader), bytes) << row.size;
    }
}

TEST(FileEDogMusicPicTest, GetPacketBounds) {
    testsupport::TempDir dir;
    const std::vector<uint8_t> bytes = filestest::RandomBytes(7, 10000);
    testsupport::WriteFile(dir.File("audioHead.bin"), bytes);
    CFile_EDogMusicPic reader = filestest::MakeReader<CFile_EDogMusicPic>();
    ASSERT_EQ(reader.Load(Wide(dir.File("audioHead.bin")).c_str()), 1);

    const uint8_t marker[] = {0xAB, 0xCD};
    CRawString out(marker, 2);
    for (int index : {3, 4, -1, INT_MAX, INT_MIN}) {
        EXPECT_EQ(reader.GetPacket(index, out), 0) << index;
        EXPECT_EQ(out, CRawString(marker, 2)) << "out must stay untouched";
        EXPECT_EQ(reader.PacketAt(index), nullptr);
    }
    ASSERT_EQ(reader.GetPacket(2, out), 1);
    EXPECT_EQ(out.Size(), 1808);
    EXPECT_EQ(std::vector<uint8_t>(out.Data(), out.Data() + out.Size()),
              std::vector<uint8_t>(bytes.begin() + 8192, bytes.end()));
    ASSERT_EQ(reader.GetPacket(0, out), 1);
    EXPECT_EQ(out, *reader.PacketAt(0));
}

TEST(FileEDogMusicPicTest, MissingFileKeepsTheListAnEmptyFileEmptiesIt) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("picHead.bin"), filestest::RandomBytes(8, 5000));
    testsupport::WriteFile(dir.File("empty.bin"), {});
    CFile_EDogMusicPic reader = filestest::MakeReader<CFile_EDogMusicPic>();
    ASSERT_EQ(reader.Load(Wide(dir.File("picHead.bin")).c_str()), 1);

    for (const std::string& path : {dir.File("missing.bin"), dir.Path(), std::string()}) {
        EXPECT_EQ(reader.Load(Wide(path).c_str()), 0) << path;
        EXPECT_EQ(PacketSizes(reader), (std::vector<int>{4096, 904})) << path;
    }
    EXPECT_EQ(reader.Load(nullptr), 0);
    EXPECT_EQ(reader.GetPacketCount(), 2);

    EXPECT_EQ(reader.Load(Wide(dir.File("empty.bin")).c_str()), 0);
    EXPECT_EQ(reader.GetPacketCount(), 0);
    EXPECT_EQ(reader.GetTotalBytes(), 0);
    EXPECT_EQ(reader.LoadStatus().state, ImageState::Empty);
    EXPECT_EQ(reader.LoadStatus().reason, L"файл пуст");

    ASSERT_EQ(reader.Load(Wide(dir.File("picHead.bin")).c_str()), 1);
    reader.Clear();
    EXPECT_EQ(reader.GetPacketCount(), 0);
    EXPECT_EQ(reader.begin(), reader.end());
    EXPECT_EQ(reader.GetTotalBytes(), 0);
}

}  // namespace
