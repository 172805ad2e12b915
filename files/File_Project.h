// CFile_Project: the device firmware, an Intel HEX file, as a list of binary records in file order,
// plus the image version read from the short text trailer after the last record.
//
// Accepted file form: one record per line, upper-case digits, CR LF line ends (characters are
// counted, the line end is not searched), at most (dataLine + endOfFileLine - 13) / 2 data bytes per
// record (22 with the usual shapes 17, 45, 21, 13), then the end-of-file record :00000001FF and a
// trailer of four decimal digits, optionally followed by up to four more characters.
//
// Threads: Load and Clear run on the engine's connect thread or at engine stop; the accessors are
// read by the transfer steps afterwards. Nothing here locks; the engine never loads while a step runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/ImageLoad.h"
#include "files/Packet_Hex.h"

class CImageFile;

class CFile_Project {
public:
    using const_iterator = std::vector<CPacket_Hex>::const_iterator;

    // The four HEX line lengths (17, 45, 21, 13 in the engine); the line buffer holds a data line
    // plus an end-of-file line.
    CFile_Project(int extendedAddressLine, int dataLine, int startAddressLine, int endOfFileLine);

    // Returns 1 when a valid end-of-file record was read, 0 otherwise. A file that cannot be opened
    // returns 0 and leaves the records and the version as they were (LoadStatus() then says Absent,
    // or Refused with the reason). Otherwise the list is replaced by every record up to the first of:
    // the end of the file (then the version is computed from the trailer and traced), or a record the
    // reader refuses. Only the end of the file sets the version; every other stop leaves it 0.
    // Records after the end-of-file record are read and checked too. An empty file gives no records,
    // version 0 and the state Empty.
    //
    // The state is Ready only for a file read whole, in the accepted form, that the transfer can
    // place. Everything else is Refused with "запись N: <what>" (N counting records from 1): a line
    // not starting with ':', a character that is not an upper-case hex digit, a record longer than
    // the line buffer, a record cut short, a line end other than CR LF, a bad checksum, a segment
    // address record (types 02, 03) or an unknown type, an address record of the wrong length, a
    // first record that is not an extended linear address (type 04), no end-of-file record, text of
    // 9 or more characters after it, a read error. The records before the refused one stay in the
    // list (the engine sends nothing of a refused image), and the result keeps its meaning: a file
    // refused after its end-of-file record still returns 1.
    int Load(const wchar_t* path);

    int GetPacketCount() const { return static_cast<int>(records_.size()); }
    // Copies record `index` into out and returns 1; 0 with out untouched when index is out of range.
    int GetPacket(int index, CPacket_Hex& out) const;
    // Record `index`, or null when it is out of range. Valid until the next Load or Clear.
    const CPacket_Hex* PacketAt(int index) const;
    const_iterator begin() const { return records_.begin(); }
    const_iterator end() const { return records_.end(); }

    // The version the last load computed (0 until then); Clear keeps it.
    uint16_t GetHexVer() const { return version_; }
    // Empties the record list and frees its memory.
    void Clear();
    // How the last Load went (Absent before the first).
    const ImageLoadStatus& LoadStatus() const { return status_; }

    const HexLineShapes& Shapes() const { return shapes_; }
    // Bytes of the line buffer and the longest record (data bytes) that fits it.
    int LineBufferBytes() const { return lineBufferBytes_; }
    int MaxRecordDataBytes() const;

private:
    // The reading loop over an open file; sets the version on the short read and the state.
    // Returns the result.
    int ReadRecords(CImageFile& file);
    void Refuse(int record, const std::wstring& what);

    HexLineShapes shapes_;
    int lineBufferBytes_;
    std::vector<CPacket_Hex> records_;
    uint16_t version_ = 0;
    ImageLoadStatus status_;
};
