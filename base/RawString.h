// CRawString: a growable byte buffer owned by value.
//
// The content is always followed by two zero bytes, so it may be read as a zero-terminated narrow or
// wide string. Operations return 1 on success and 0 when they refuse (bad argument) or run out of
// memory; a refusal leaves the content unchanged, an allocation failure leaves the buffer empty.
// Not thread-safe: a buffer belongs to one thread at a time (frames are copied between threads).
#pragma once

#include <cstdint>
#include <vector>

class CRawString {
public:
    CRawString() = default;
    CRawString(const void* src, int length);
    CRawString(const CRawString& other) = default;
    CRawString& operator=(const CRawString& other);
    CRawString(CRawString&& other) noexcept = default;
    CRawString& operator=(CRawString&& other) noexcept = default;
    virtual ~CRawString() = default;

    // The bytes, or null when the buffer is empty.
    const uint8_t* Data() const;
    uint8_t* Data();
    int Size() const;
    bool Empty() const { return Size() == 0; }
    void Clear();

    // New content: the first `keep` old bytes (clamped to 0..Size()) followed by `length` bytes of src.
    // Refused when src is null, length is negative, or src is this buffer's own pointer.
    int Assign(const void* src, int length, int keep = 0);
    // Refused when src is null or length <= 0.
    int Append(const void* src, int length);
    int AppendByte(uint8_t byte);
    // Removes count bytes at pos (count clamped to the end). Does nothing and returns 0 when count <= 0,
    // pos < 0 or pos >= Size().
    int Erase(int pos, int count);
    // First position >= from where the pattern occurs, or -1 (also for bad arguments).
    int Find(const void* pattern, int length, int from = 0) const;
    // The byte at pos, 0 when pos is out of range.
    uint8_t GetAt(int pos) const;

    // Hex dump through Trace: "label[size]:", then "0x%02x " per byte, then a line end.
    void Dump(const wchar_t* label) const;

    bool operator==(const CRawString& other) const { return bytes_ == other.bytes_; }

private:
    // New content: headLength bytes of head then tailLength bytes of tail (tail not inside bytes_).
    int Rebuild(const uint8_t* head, int headLength, const uint8_t* tail, int tailLength);

    // Content plus two zero bytes; empty (no terminator) when the buffer is empty.
    std::vector<uint8_t> bytes_;
};
