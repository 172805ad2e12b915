#include "files/File_EDogMusicPic.h"

#include <new>

#include "base/Trace.h"
#include "files/ImageFile.h"

CFile_EDogMusicPic::CFile_EDogMusicPic(int extendedAddressLine, int dataLine, int startAddressLine,
                                       int endOfFileLine)
    : shapes_{extendedAddressLine, dataLine, startAddressLine, endOfFileLine} {}

int CFile_EDogMusicPic::Load(const wchar_t* path) {
    CImageFile file;
    if (!file.Open(path)) {
        RefuseUnopened(file.OpenFailure(), L"Data image");
        return 0;
    }

    Clear();
    try {
        std::vector<uint8_t> buffer(kPacketBytes);
        for (;;) {
            const size_t got = file.Read(buffer.data(), buffer.size());
            if (got == 0) break;
            AppendPacket(buffer.data(), got);
            // The size was checked on opening; a file that grows while it is read must not get past it.
            if (GetTotalBytes() > CImageFile::kMaxBytes) {
                Refuse(CImageFile::TooLargeText(GetTotalBytes()), L"Data image");
                return 0;
            }
            // A short read means the end of the file or a read error; reading on after an error
            // could leave a short packet in the middle of the image.
            if (got < buffer.size()) break;
        }
    } catch (const std::bad_alloc&) {
        Refuse(L"не хватило памяти", L"Data image");
        return 0;
    }
    if (file.HasError()) {
        // Half an image must never be sent.
        Refuse(CImageFile::ReadErrorReason(GetTotalBytes(), file.ReadErrorText()), L"Data image");
        return 0;
    }
    if (HasPackets())
        SetLoadStatus(ImageState::Ready);
    else
        SetLoadStatus(ImageState::Empty, L"файл пуст");
    return HasPackets() ? 1 : 0;
}
