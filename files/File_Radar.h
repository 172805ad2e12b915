// CFile_Radar: the radar module's firmware as a list of raw packets in file order, plus the file's
// size, which the radar start command carries. While at least 1024 bytes remain unread a packet holds
// 1024 bytes; after that packets hold 128 bytes, the last one the remainder. Nothing is padded.
//
// Threads: Load and Clear run on the engine's connect thread or at engine stop; the accessors are
// read by the transfer steps afterwards. Nothing here locks.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/RawString.h"
#include "files/Packet_Hex.h"

class CImageFile;

class CFile_Radar {
public:
    static constexpr int kLargePacketBytes = 1024;
    static constexpr int kSmallPacketBytes = 128;
    using const_iterator = std::vector<CRawString>::const_iterator;

    // The HEX line lengths every reader is built with; unused by this reader.
    CFile_Radar(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine);

    // A file that cannot be opened returns 0 and leaves the list and the size as they were.
    // Otherwise the size is taken by seeking to the end and the list is replaced by the file's
    // packets; the result is 1 when at least one packet was read, 0 for an empty file.
    // The packets always add up to GetFileSize(): a file whose size cannot be found, does not fit the
    // 32-bit size the device is told, or delivers a different number of bytes than its size (changed
    // while being read, read error) loads no packets, size 0, result 0 (traced).
    int Load(const wchar_t* path);

    // Size in bytes from the last load (0 before the first).
    uint32_t GetFileSize() const { return fileSize_; }
    int GetPacketCount() const { return static_cast<int>(packets_.size()); }
    // Copies packet `index` into out and returns 1; 0 with out untouched when index is out of range.
    int GetPacket(int index, CRawString& out) const;
    // Packet `index`, or null when it is out of range. Valid until the next Load or Clear.
    const CRawString* PacketAt(int index) const;
    const_iterator begin() const { return packets_.begin(); }
    const_iterator end() const { return packets_.end(); }
    // Sum of the packet sizes.
    long long GetTotalBytes() const { return totalBytes_; }
    // Empties the list and frees its memory; the size stays until the next load.
    void Clear();

    // Number of packets the cutting rule gives for a file of `size` bytes.
    static uint32_t PlannedPacketCount(uint32_t size);

    const HexLineShapes& Shapes() const { return shapes_; }

private:
    // Reads the planned packets; returns the bytes read.
    long long ReadPackets(CImageFile& file, uint32_t size);

    HexLineShapes shapes_;
    std::vector<CRawString> packets_;
    long long totalBytes_ = 0;
    uint32_t fileSize_ = 0;
};
