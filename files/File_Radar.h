// CFile_Radar: the radar module's firmware as a list of raw packets in file order, plus the file's
// size, which the radar start command carries. While at least 1024 bytes remain unread a packet holds
// 1024 bytes; after that packets hold 128 bytes, the last one the remainder. Nothing is padded.
//
// Threads: Load and Clear run on the engine's connect thread or at engine stop; the accessors are
// read by the transfer steps afterwards. Nothing here locks.
#pragma once

#include <cstdint>

#include "files/Packet_Hex.h"
#include "files/RawPacketList.h"

class CImageFile;

class CFile_Radar : public CRawPacketList {
public:
    static constexpr int kLargePacketBytes = 1024;
    static constexpr int kSmallPacketBytes = 128;

    // The HEX line lengths every reader is built with; unused by this reader.
    CFile_Radar(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine);

    // A file that cannot be opened returns 0 and leaves the list and the size as they were;
    // LoadStatus() says Absent (no such file) or Refused (not a regular file, too large, no access).
    // Otherwise the size is taken by seeking to the end and the list is replaced by the file's
    // packets; the result is 1 when at least one packet was read, 0 for an empty file (state Empty).
    // The packets always add up to GetFileSize(): a file whose size cannot be found, or that delivers
    // a different number of bytes than its size (changed while being read, read error) loads no
    // packets, size 0, result 0, state Refused with the reason (traced).
    int Load(const wchar_t* path);

    // Size in bytes from the last load (0 before the first); Clear leaves it until the next load.
    uint32_t GetFileSize() const { return fileSize_; }
    // Number of packets the cutting rule gives for a file of `size` bytes.
    static uint32_t PlannedPacketCount(uint32_t size);

    const HexLineShapes& Shapes() const { return shapes_; }

private:
    // Reads the planned packets; returns the bytes read.
    long long ReadPackets(CImageFile& file, uint32_t size);

    HexLineShapes shapes_;
    uint32_t fileSize_ = 0;
};
