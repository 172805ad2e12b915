#include "files/RawPacketList.h"
#include "files/PacketIndex.h"

#include <new>

#include "base/Trace.h"

int CRawPacketList::GetPacket(int index, CRawString& out) const { return CopyPacketAtIndex(packets_, index, out); }

const CRawString* CRawPacketList::PacketAt(int index) const { return PacketAtIndex(packets_, index); }

void CRawPacketList::Clear() {
    std::vector<CRawString>().swap(packets_);
    totalBytes_ = 0;
    status_ = {};
}

void CRawPacketList::AppendPacket(const uint8_t* bytes, size_t count) {
    packets_.emplace_back(bytes, static_cast<int>(count));
    // CRawString reports an allocation failure by staying empty.
    if (packets_.back().Size() != static_cast<int>(count)) throw std::bad_alloc();
    totalBytes_ += static_cast<long long>(count);
}

void CRawPacketList::Refuse(const std::wstring& reason, const wchar_t* what) {
    Clear();
    SetLoadStatus(ImageState::Refused, reason);
    Trace(L"%ls refused: %ls\r\n", what, reason.c_str());
}

void CRawPacketList::RefuseUnopened(const ImageLoadStatus& failure, const wchar_t* what) {
    status_ = failure;
    if (failure.state == ImageState::Refused) Trace(L"%ls refused: %ls\r\n", what, failure.reason.c_str());
}
