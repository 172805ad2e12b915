// CRawPacketList: the packets of a binary image (speed-camera data, audio, pictures, radar firmware)
// in file order, held by value with constant-time access. The binary readers fill it; the transfer
// steps read it packet by packet and send each exactly as stored.
//
// Threads: filled and cleared on the engine's connect thread or at engine stop, read afterwards by the
// transfer steps. Nothing here locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/RawString.h"
#include "files/ImageLoad.h"

class CRawPacketList {
public:
    using const_iterator = std::vector<CRawString>::const_iterator;

    int GetPacketCount() const { return static_cast<int>(packets_.size()); }
    // Copies packet `index` into out and returns 1; 0 with out untouched when index is out of range.
    int GetPacket(int index, CRawString& out) const;
    // Packet `index`, or null when it is out of range. Valid until the next load or Clear.
    const CRawString* PacketAt(int index) const;
    const_iterator begin() const { return packets_.begin(); }
    const_iterator end() const { return packets_.end(); }
    // Sum of the packet sizes.
    long long GetTotalBytes() const { return totalBytes_; }
    // Empties the list and frees its memory.
    void Clear();
    // How the last Load went (Absent before the first).
    const ImageLoadStatus& LoadStatus() const { return status_; }

protected:
    void SetLoadStatus(ImageState state, std::wstring reason = {}) { status_ = {state, std::move(reason)}; }
    // Drops every packet (an image is sent whole or not at all) and records the refusal; `what`
    // names the image in the trace line.
    void Refuse(const std::wstring& reason, const wchar_t* what);
    // The state of a file that did not open: the list stays as it was, the status says why.
    void RefuseUnopened(const ImageLoadStatus& failure, const wchar_t* what);
    void ReservePackets(size_t count) { packets_.reserve(count); }
    // Appends a packet of `count` bytes; throws std::bad_alloc when memory runs out, so a reader can
    // drop the whole image instead of keeping half of it.
    void AppendPacket(const uint8_t* bytes, size_t count);
    bool HasPackets() const { return !packets_.empty(); }

private:
    std::vector<CRawString> packets_;
    long long totalBytes_ = 0;
    ImageLoadStatus status_;
};
