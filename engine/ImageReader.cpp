#include "engine/ImageReader.h"

CImageReader::CImageReader(ImageReaderKind kind, const HexLineShapes& shapes) : reader_(Make(kind, shapes)) {}

CImageReader::Reader CImageReader::Make(ImageReaderKind kind, const HexLineShapes& shapes) {
    const int a = shapes.extendedAddressLine, d = shapes.dataLine, s = shapes.startAddressLine,
              e = shapes.endOfFileLine;
    switch (kind) {
        case ImageReaderKind::Hex: return Reader(std::in_place_type<CFile_Project>, a, d, s, e);
        case ImageReaderKind::Radar: return Reader(std::in_place_type<CFile_Radar>, a, d, s, e);
        case ImageReaderKind::Data: break;
    }
    return Reader(std::in_place_type<CFile_EDogMusicPic>, a, d, s, e);
}

int CImageReader::Load(const wchar_t* path) {
    return std::visit([path](auto& reader) { return reader.Load(path); }, reader_);
}

void CImageReader::Clear() {
    std::visit([](auto& reader) { reader.Clear(); }, reader_);
}

int CImageReader::GetPacketCount() const {
    return std::visit([](const auto& reader) { return reader.GetPacketCount(); }, reader_);
}

const ImageLoadStatus& CImageReader::LoadStatus() const {
    return std::visit([](const auto& reader) -> const ImageLoadStatus& { return reader.LoadStatus(); }, reader_);
}

uint32_t CImageReader::ImageBytes() const {
    if (const CFile_Radar* radar = Radar()) return radar->GetFileSize();
    if (const CRawPacketList* packets = Packets()) return static_cast<uint32_t>(packets->GetTotalBytes());
    return 0;
}

const CRawPacketList* CImageReader::Packets() const {
    if (const CFile_EDogMusicPic* data = Data()) return data;
    return Radar();
}
