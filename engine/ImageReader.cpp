#include "engine/ImageReader.h"

CImageReader::CImageReader(ImageReaderKind kind, int extendedAddressLine, int dataLine, int startAddressLine,
                           int endOfFileLine)
    : reader_(Make(kind, extendedAddressLine, dataLine, startAddressLine, endOfFileLine)) {}

CImageReader::Reader CImageReader::Make(ImageReaderKind kind, int extendedAddressLine, int dataLine,
                                        int startAddressLine, int endOfFileLine) {
    switch (kind) {
        case ImageReaderKind::Hex:
            return Reader(std::in_place_type<CFile_Project>, extendedAddressLine, dataLine, startAddressLine,
                          endOfFileLine);
        case ImageReaderKind::Radar:
            return Reader(std::in_place_type<CFile_Radar>, extendedAddressLine, dataLine, startAddressLine,
                          endOfFileLine);
        case ImageReaderKind::Data:
            break;
    }
    return Reader(std::in_place_type<CFile_EDogMusicPic>, extendedAddressLine, dataLine, startAddressLine,
                  endOfFileLine);
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
