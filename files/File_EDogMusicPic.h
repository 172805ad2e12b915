// CFile_EDogMusicPic: a binary data image (speed-camera data, audio or pictures) as a list of raw
// packets in file order. Every packet holds 4096 bytes except the last, which holds the remainder
// (1 to 4096 bytes); nothing is padded and the bytes are not interpreted.
//
// Threads: Load and Clear run on the engine's connect thread or at engine stop; the accessors are
// read by the transfer steps afterwards. Nothing here locks.
#pragma once

#include "files/Packet_Hex.h"
#include "files/RawPacketList.h"

class CFile_EDogMusicPic : public CRawPacketList {
public:
    static constexpr int kPacketBytes = 4096;

    // The HEX line lengths every reader is built with; unused by this reader.
    CFile_EDogMusicPic(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine);

    // A file that cannot be opened returns 0 and leaves the list as it was; LoadStatus() says Absent
    // (no such file) or Refused (not a regular file, too large, no access). Otherwise the list is
    // replaced by the file's packets and the result is 1 when at least one packet was read, 0 for an
    // empty file (state Empty); the engine does not act on it. A read error in the middle, or a file
    // growing past CImageFile::kMaxBytes while it is read, drops every packet: result 0, state
    // Refused with the reason (traced). Half an image is never kept.
    int Load(const wchar_t* path);

    const HexLineShapes& Shapes() const { return shapes_; }

private:
    HexLineShapes shapes_;
};
