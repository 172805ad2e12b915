// CImageReader: one update image as the engine holds it, read by the reader its table row names
// (CFile_Project, CFile_EDogMusicPic or CFile_Radar). The engine keeps one per row; the command line
// makes one to check a file before it connects.
//
// Threads: as the readers themselves. Load and Clear run on the engine's connect thread or at engine
// stop; the accessors are read by the transfer steps afterwards. Nothing here locks.
#pragma once

#include <cstdint>
#include <variant>

#include "engine/ImageTable.h"
#include "files/File_EDogMusicPic.h"
#include "files/File_Project.h"
#include "files/File_Radar.h"
#include "files/ImageLoad.h"
#include "files/Packet_Hex.h"

class CImageReader {
public:
    // The HEX line shapes are passed to whichever reader `kind` names (only the HEX reader uses them).
    explicit CImageReader(ImageReaderKind kind, const HexLineShapes& shapes = HexLineShapes{});

    // The reader's Load: 1 on success, 0 otherwise; LoadStatus() says how it went.
    int Load(const wchar_t* path);
    void Clear();
    int GetPacketCount() const;
    const ImageLoadStatus& LoadStatus() const;
    // Bytes of the image as its start command announces them: the radar reader's file size, the sum
    // of a data image's packets; 0 for a HEX image.
    uint32_t ImageBytes() const;

    // The reader as its own class, or null when the image is read by another kind.
    const CFile_Project* Hex() const { return std::get_if<CFile_Project>(&reader_); }
    const CFile_EDogMusicPic* Data() const { return std::get_if<CFile_EDogMusicPic>(&reader_); }
    const CFile_Radar* Radar() const { return std::get_if<CFile_Radar>(&reader_); }
    // The packets of a data or radar image, sent as stored; null for a HEX image.
    const CRawPacketList* Packets() const;

private:
    using Reader = std::variant<CFile_Project, CFile_EDogMusicPic, CFile_Radar>;
    static Reader Make(ImageReaderKind kind, const HexLineShapes& shapes);

    Reader reader_;
};
