// CFile_EDogMusicPic: a binary data image (speed-camera data, audio or pictures) as a list of raw
// packets in file order. Every packet holds 4096 bytes except the last, which holds the remainder
// (1 to 4096 bytes); nothing is padded and the bytes are not interpreted.
//
// Threads: Load and Clear run on the engine's connect thread or at engine stop; the accessors are
// read by the transfer steps afterwards. Nothing here locks.
#pragma once

#include <vector>

#include "engine/RawString.h"
#include "files/Packet_Hex.h"

class CFile_EDogMusicPic {
public:
    static constexpr int kPacketBytes = 4096;
    using const_iterator = std::vector<CRawString>::const_iterator;

    // The HEX line lengths every reader is built with; unused by this reader.
    CFile_EDogMusicPic(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine);

    // A file that cannot be opened returns 0 and leaves the list as it was. Otherwise the list is
    // replaced by the file's packets and the result is 1 when at least one packet was read, 0 for an
    // empty file; the engine does not act on it. A read error ends the reading like the end of the
    // file: the packets read so far stay (the error is traced).
    int Load(const wchar_t* path);

    int GetPacketCount() const { return static_cast<int>(packets_.size()); }
    // Copies packet `index` into out and returns 1; 0 with out untouched when index is out of range.
    int GetPacket(int index, CRawString& out) const;
    // Packet `index`, or null when it is out of range. Valid until the next Load or Clear.
    const CRawString* PacketAt(int index) const;
    const_iterator begin() const { return packets_.begin(); }
    const_iterator end() const { return packets_.end(); }
    // Sum of the packet sizes.
    long long GetTotalBytes() const { return totalBytes_; }
    // Empties the list and frees its memory.
    void Clear();

    const HexLineShapes& Shapes() const { return shapes_; }

private:
    HexLineShapes shapes_;
    std::vector<CRawString> packets_;
    long long totalBytes_ = 0;
};
