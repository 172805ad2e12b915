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
            AppendPacket(buffer.data(), got);
            // A short read means the end of the file or a read error; reading on after an error
            // could leave a short packet in the middle of the image.
            if (got < buffer.size()) break;
        }
    } catch (const std::bad_alloc&) {
        // Half an image must never be sent.
        Clear();
        SetLoadStatus(ImageState::Refused, L"не хватило памяти");
        Trace(L"Out of memory while loading a data image\r\n");
        return 0;
    }
    if (file.HasError()) Trace(L"Read error after %lld bytes of a data image\r\n", GetTotalBytes());
    if (HasPackets())
        SetLoadStatus(ImageState::Ready);
    else
        SetLoadStatus(ImageState::Empty, L"файл пуст");
    return HasPackets() ? 1 : 0;
}
