#include "files/File_EDogMusicPic.h"

#include <new>

#include "engine/Trace.h"
#include "files/ImageFile.h"

CFile_EDogMusicPic::CFile_EDogMusicPic(int extendedAddressLine, int dataLine, int startAddressLine,
                                       int endOfFileLine)
    : shapes_{extendedAddressLine, dataLine, startAddressLine, endOfFileLine} {}

int CFile_EDogMusicPic::Load(const wchar_t* path) {
    CImageFile file;
    if (!file.Open(path)) return 0;

    Clear();
    try {
        std::vector<uint8_t> buffer(kPacketBytes);
        for (;;) {
            const size_t got = file.Read(buffer.data(), buffer.size());
            if (got == 0) break;
            packets_.emplace_back(buffer.data(), static_cast<int>(got));
            if (packets_.back().Size() != static_cast<int>(got)) throw std::bad_alloc();
            totalBytes_ += static_cast<long long>(got);
            // A short read means the end of the file or a read error; reading on after an error
            // could leave a short packet in the middle of the image.
            if (got < buffer.size()) break;
        }
    } catch (const std::bad_alloc&) {
        // Half an image must never be sent.
        Clear();
        Trace(L"Out of memory while loading a data image\r\n");
        return 0;
    }
    if (file.HasError()) Trace(L"Read error after %lld bytes of a data image\r\n", totalBytes_);
    return packets_.empty() ? 0 : 1;
}

int CFile_EDogMusicPic::GetPacket(int index, CRawString& out) const {
    const CRawString* packet = PacketAt(index);
    if (packet == nullptr) return 0;
    out = *packet;
    return 1;
}

const CRawString* CFile_EDogMusicPic::PacketAt(int index) const {
    if (index < 0 || index >= GetPacketCount()) return nullptr;
    return &packets_[static_cast<size_t>(index)];
}

void CFile_EDogMusicPic::Clear() {
    std::vector<CRawString>().swap(packets_);
    totalBytes_ = 0;
}
