#include "files/File_Radar.h"

#include <algorithm>
#include <new>

#include "engine/Trace.h"
#include "files/ImageFile.h"

CFile_Radar::CFile_Radar(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine)
    : shapes_{extendedAddressLine, dataLine, startAddressLine, endOfFileLine} {}

uint32_t CFile_Radar::PlannedPacketCount(uint32_t size) {
    const uint32_t rest = size % kLargePacketBytes;
    return size / kLargePacketBytes + rest / kSmallPacketBytes + (rest % kSmallPacketBytes != 0 ? 1 : 0);
}

int CFile_Radar::Load(const wchar_t* path) {
    CImageFile file;
    if (!file.Open(path)) return 0;

    Clear();
    fileSize_ = 0;
    const long long size = file.SizeBySeek();
    if (size < 0 || size > static_cast<long long>(UINT32_MAX)) {
        Trace(L"Radar firmware size %lld cannot be sent, the image is not loaded\r\n", size);
        return 0;
    }
    try {
        const long long read = ReadPackets(file, static_cast<uint32_t>(size));
        if (read != size) {
            // The device is told the size first; packets adding up to anything else would leave
            // it with a damaged firmware.
            Clear();
            Trace(L"Radar firmware delivered %lld of its %lld bytes, the image is not loaded\r\n", read, size);
            return 0;
        }
    } catch (const std::bad_alloc&) {
        Clear();
        Trace(L"Out of memory while loading the radar firmware\r\n");
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
