#include "files/File_Radar.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "base/Trace.h"
#include "files/ImageFile.h"

namespace {
const wchar_t* const kWhat = L"Radar firmware";
}  // namespace

CFile_Radar::CFile_Radar(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine)
    : shapes_{extendedAddressLine, dataLine, startAddressLine, endOfFileLine} {}

uint32_t CFile_Radar::PlannedPacketCount(uint32_t size) {
    const uint32_t rest = size % kLargePacketBytes;
    return size / kLargePacketBytes + rest / kSmallPacketBytes + (rest % kSmallPacketBytes != 0 ? 1 : 0);
}

int CFile_Radar::Load(const wchar_t* path) {
    CImageFile file;
    if (!file.Open(path)) {
        RefuseUnopened(file.OpenFailure(), kWhat);
        return 0;
    }

    Clear();
    fileSize_ = 0;
    const long long size = file.SizeBySeek();
    if (size < 0) {
        Refuse(L"размер файла не определить: файл не позволяет перейти к своему концу", kWhat);
        return 0;
    }
    if (size > CImageFile::kMaxBytes) {
        Refuse(CImageFile::TooLargeText(size), kWhat);
        return 0;
    }
    try {
        const long long read = ReadPackets(file, static_cast<uint32_t>(size));
        // Nothing may follow the size the device is told: a file that grew, or one whose size says
        // nothing about its content (it claims 0 bytes and fails or delivers when read), is refused.
        uint8_t beyond = 0;
        const bool longer = read == size && file.SeekTo(size) && file.Read(&beyond, 1) > 0;
        if (file.HasError()) {
            Refuse(CImageFile::ReadErrorReason(read, file.ReadErrorText()), kWhat);
            return 0;
        }
        if (read != size || longer) {
            // The device is told the size first; packets adding up to anything else would leave
            // it with a damaged firmware.
            Trace(L"Radar firmware delivered %lld%ls of its %lld bytes, the image is not loaded\r\n", read,
                  longer ? L" and more" : L"", size);
            wchar_t text[160];
            std::swprintf(text, sizeof text / sizeof text[0],
                          L"прочитано %lld байт%ls из %lld: файл изменился во время чтения", read,
                          longer ? L" и больше" : L"", size);
            Refuse(text, kWhat);
            return 0;
        }
    } catch (const std::bad_alloc&) {
        Refuse(L"не хватило памяти", kWhat);
        return 0;
    }
    fileSize_ = static_cast<uint32_t>(size);
    if (HasPackets())
        SetLoadStatus(ImageState::Ready);
    else
        SetLoadStatus(ImageState::Empty, L"файл пуст");
    return HasPackets() ? 1 : 0;
}

long long CFile_Radar::ReadPackets(CImageFile& file, uint32_t size) {
    std::vector<uint8_t> buffer(kLargePacketBytes);
    const uint32_t planned = PlannedPacketCount(size);
    ReservePackets(planned);
    uint32_t remaining = size;
    uint32_t readPosition = 0;
    for (uint32_t i = 0; i < planned && remaining > 0; ++i) {
        // Never more than remains, so a file growing while it is read cannot add bytes the size
        // does not count.
        const uint32_t wanted = std::min<uint32_t>(
            remaining >= static_cast<uint32_t>(kLargePacketBytes) ? kLargePacketBytes : kSmallPacketBytes, remaining);
        if (!file.SeekTo(readPosition)) break;
        readPosition += wanted;
        const size_t got = file.Read(buffer.data(), wanted);
        if (got == 0) continue;
        AppendPacket(buffer.data(), got);
        remaining -= static_cast<uint32_t>(got);
    }
    return GetTotalBytes();
}
