// A firmware file through CFile_Project::Load (from a scratch file: the reader takes a path). Every
// record kept must be a whole record that passed its checksum, and "loaded" must mean that the
// end-of-file record was read; a second load of a missing file must change nothing.
#include <cstdint>

#include "files/File_Project.h"
#include "fuzz/FuzzSupport.h"

namespace {

fuzzsupport::ScratchFile g_file("firmware");

bool IsEndOfFile(const CPacket_Hex& record) {
    return record.GetDataLength() == 0 && record.GetAddress() == 0 &&
           record.GetType() == CPacket_Hex::kTypeEndOfFile && record.GetChecksum() == 0xFF;
}

}  // namespace

FUZZ_INITIALIZE_SILENT_TRACE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_file.Write(data, size);
    CFile_Project project = fuzzsupport::MakeReader<CFile_Project>();
    const int loaded = project.Load(g_file.WidePath());

    bool endSeen = false;
    size_t textBytes = 0;
    for (const CPacket_Hex& record : project) {
        const int n = record.GetDataLength();
        FUZZ_CHECK(n <= project.MaxRecordDataBytes());
        FUZZ_CHECK(record.Record().Size() == n + 6);
        FUZZ_CHECK(record.Record().GetAt(0) == ':');
        unsigned sum = 0;
        for (int i = 1; i <= n + 5; ++i) sum += record.Record().GetAt(i);
        FUZZ_CHECK((sum & 0xFF) == 0);
        endSeen = endSeen || IsEndOfFile(record);
        textBytes += CPacket_Hex::TextLength(n);
    }
    FUZZ_CHECK(textBytes <= size);
    FUZZ_CHECK(loaded == (endSeen ? 1 : 0));
    // Only a file read to its end-of-file record can be sent; one that was, may still be refused (a
    // record it cannot place, text after the end).
    FUZZ_CHECK(project.LoadStatus().state != ImageState::Ready || loaded == 1);

    CPacket_Hex out;
    const int count = project.GetPacketCount();
    FUZZ_CHECK(project.GetPacket(count, out) == 0);
    if (count > 0) {
        FUZZ_CHECK(project.GetPacket(count - 1, out) == 1);
        FUZZ_CHECK(out.Record() == project.PacketAt(count - 1)->Record());
    }

    const uint16_t version = project.GetHexVer();
    FUZZ_CHECK(project.Load(L"/nonexistent/AC7811_project.hex") == 0);
    FUZZ_CHECK(project.GetPacketCount() == count);
    FUZZ_CHECK(project.GetHexVer() == version);
    return 0;
}
