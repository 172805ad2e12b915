#include "base/RawString.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/Trace.h"

namespace {
constexpr int kTerminatorBytes = 2;
}

CRawString::CRawString(const void* src, int length) { Assign(src, length, 0); }

CRawString& CRawString::operator=(const CRawString& other) {
    if (this != &other) bytes_ = other.bytes_;
    return *this;
}

const uint8_t* CRawString::Data() const { return bytes_.empty() ? nullptr : bytes_.data(); }
uint8_t* CRawString::Data() { return bytes_.empty() ? nullptr : bytes_.data(); }

int CRawString::Size() const {
    return bytes_.empty() ? 0 : static_cast<int>(bytes_.size()) - kTerminatorBytes;
}

void CRawString::Clear() {
    std::vector<uint8_t>().swap(bytes_);
}

int CRawString::Rebuild(const uint8_t* head, int headLength, const uint8_t* tail, int tailLength) {
    const long long total = static_cast<long long>(headLength) + tailLength;
    if (total > 0x7FFFFFFFLL - kTerminatorBytes) return 0;
    std::vector<uint8_t> fresh;
    try {
        if (total > 0) {
            fresh.assign(static_cast<size_t>(total) + kTerminatorBytes, 0);
            if (headLength > 0) std::memcpy(fresh.data(), head, static_cast<size_t>(headLength));
            if (tailLength > 0)
                std::memcpy(fresh.data() + headLength, tail, static_cast<size_t>(tailLength));
        }
    } catch (const std::bad_alloc&) {
        Clear();
        return 0;
    }
    bytes_.swap(fresh);
    return 1;
}

int CRawString::Assign(const void* src, int length, int keep) {
    if (src == nullptr || length < 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(src);
    if (!bytes_.empty() && bytes == bytes_.data()) return 0;
    keep = std::clamp(keep, 0, Size());
    // A source inside this buffer is copied out first: the rebuild replaces the block it points into.
    const bool inside = !bytes_.empty() && bytes > bytes_.data() && bytes < bytes_.data() + bytes_.size();
    if (inside) {
        const std::vector<uint8_t> copy(bytes, bytes + length);
        return Rebuild(bytes_.data(), keep, copy.data(), length);
    }
    return Rebuild(bytes_.empty() ? nullptr : bytes_.data(), keep, bytes, length);
}

int CRawString::Append(const void* src, int length) {
    if (src == nullptr || length <= 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(src);
    const int size = Size();
    if (static_cast<long long>(size) + length > 0x7FFFFFFFLL - kTerminatorBytes) return 0;
    const bool inside = !bytes_.empty() && bytes >= bytes_.data() && bytes < bytes_.data() + bytes_.size();
    try {
        if (inside) {
            std::vector<uint8_t> copy(bytes, bytes + length);
            bytes_.resize(static_cast<size_t>(size));
            bytes_.insert(bytes_.end(), copy.begin(), copy.end());
        } else {
            bytes_.resize(static_cast<size_t>(size));
            bytes_.insert(bytes_.end(), bytes, bytes + length);
        }
        bytes_.push_back(0);
        bytes_.push_back(0);
    } catch (const std::bad_alloc&) {
        Clear();
        return 0;
    }
    return 1;
}

int CRawString::AppendByte(uint8_t byte) { return Append(&byte, 1); }

int CRawString::Erase(int pos, int count) {
    const int size = Size();
    if (count <= 0 || pos < 0 || pos >= size) return 0;
    count = std::min(count, size - pos);
    if (count == size) {
        Clear();
        return 1;
    }
    bytes_.erase(bytes_.begin() + pos, bytes_.begin() + pos + count);
    return 1;
}

int CRawString::Find(const void* pattern, int length, int from) const {
    const int size = Size();
    if (pattern == nullptr || size == 0 || length <= 0 || length > size || from < 0) return -1;
    const auto* needle = static_cast<const uint8_t*>(pattern);
    const uint8_t* begin = bytes_.data();
    const uint8_t* end = begin + size;
    if (from > size - length) return -1;
    const uint8_t* hit = std::search(begin + from, end, needle, needle + length);
    return hit == end ? -1 : static_cast<int>(hit - begin);
}

uint8_t CRawString::GetAt(int pos) const {
    if (pos < 0 || pos >= Size()) return 0;
    return bytes_[static_cast<size_t>(pos)];
}

void CRawString::Dump(const wchar_t* label) const {
    if (label != nullptr) Trace(L"%ls[%d]:", label, Size());
    for (int i = 0; i < Size(); ++i) Trace(L"0x%02x ", bytes_[static_cast<size_t>(i)]);
    Trace(L"\r\n");
}
