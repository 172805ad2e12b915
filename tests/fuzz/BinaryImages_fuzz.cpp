// A binary image through the two binary readers, CFile_EDogMusicPic and CFile_Radar (from a scratch
// file: the readers take a path). Both must hand back exactly the file's bytes, in order, cut by
// their packet rules, with nothing padded.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "files/File_EDogMusicPic.h"
#include "files/File_Radar.h"
#include "fuzz/FuzzSupport.h"

namespace {

fuzzsupport::ScratchFile g_file("image");

// The packets laid end to end are the file.
void CheckCoversFile(const CRawPacketList& list, const uint8_t* data, size_t size) {
    size_t at = 0;
    for (const CRawString& packet : list) {
        FUZZ_CHECK(packet.Size() > 0);
        FUZZ_CHECK(at + static_cast<size_t>(packet.Size()) <= size);
        FUZZ_CHECK(std::memcmp(packet.Data(), data + at, static_cast<size_t>(packet.Size())) == 0);
        at += static_cast<size_t>(packet.Size());
    }
    FUZZ_CHECK(at == size);
    FUZZ_CHECK(list.GetTotalBytes() == static_cast<long long>(size));
}

}  // namespace

FUZZ_INITIALIZE_SILENT_TRACE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_file.Write(data, size);
    CFile_EDogMusicPic image = fuzzsupport::MakeReader<CFile_EDogMusicPic>();
    FUZZ_CHECK(image.Load(g_file.WidePath()) == (size > 0 ? 1 : 0));
    CheckCoversFile(image, data, size);
    const size_t packetBytes = CFile_EDogMusicPic::kPacketBytes;
    FUZZ_CHECK(static_cast<size_t>(image.GetPacketCount()) == (size + packetBytes - 1) / packetBytes);
    for (int i = 0; i + 1 < image.GetPacketCount(); ++i)
        FUZZ_CHECK(image.PacketAt(i)->Size() == CFile_EDogMusicPic::kPacketBytes);

    CFile_Radar radar = fuzzsupport::MakeReader<CFile_Radar>();
    FUZZ_CHECK(radar.Load(g_file.WidePath()) == (size > 0 ? 1 : 0));
    FUZZ_CHECK(radar.GetFileSize() == size);
    CheckCoversFile(radar, data, size);
    FUZZ_CHECK(static_cast<uint32_t>(radar.GetPacketCount()) == CFile_Radar::PlannedPacketCount(static_cast<uint32_t>(size)));
    // 1024-byte packets while 1024 or more bytes remain, then 128-byte packets, the last shorter.
    size_t remaining = size;
    for (const CRawString& packet : radar) {
        const size_t expected = remaining >= CFile_Radar::kLargePacketBytes
                                    ? CFile_Radar::kLargePacketBytes
                                    : std::min<size_t>(remaining, CFile_Radar::kSmallPacketBytes);
        FUZZ_CHECK(static_cast<size_t>(packet.Size()) == expected);
        remaining -= expected;
    }

    CRawString out;
    FUZZ_CHECK(radar.GetPacket(radar.GetPacketCount(), out) == 0);
    FUZZ_CHECK(image.GetPacket(image.GetPacketCount(), out) == 0);
    return 0;
}
