// CImageFile: an update file opened for binary reading, closed when the object goes.
//
// The three update-file readers share it so that no return path leaks the handle and every reader
// refuses the same things: only a regular file of at most kMaxBytes is opened. A FIFO, a device, a
// folder or a huge file is never read: a FIFO would block the connect thread (and iap-cli) for ever,
// /dev/zero would be read until memory runs out. The platform back ends (ImageFile_posix.cpp,
// ImageFile_win32.cpp) differ in how a wide path is opened, how its kind is told, and how offsets
// beyond 2 GiB are reached. Not thread-safe: one reader uses one object during one load.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "files/ImageLoad.h"

class CImageFile {
public:
    // No device image comes near this; the limit keeps a wrong file from filling the memory.
    static constexpr long long kMaxBytes = 256LL * 1024 * 1024;

    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // 1 when the file is open for reading. 0 otherwise, and OpenFailure() says why: Absent for a null
    // or empty path or no file of that name; Refused, with a reason for the user, for a file that is
    // there but is not a regular file, is larger than kMaxBytes, or cannot be opened (the OS reason
    // is kept). Never blocks. Closes a file opened before.
    int Open(const wchar_t* path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    // Why the last Open failed (Absent after a successful one).
    const ImageLoadStatus& OpenFailure() const { return openFailure_; }
    // Size of the open file when it was opened, in bytes.
    long long OpenedSize() const { return openedSize_; }

    // Up to `count` bytes into dst; fewer only at the end of the file or on a read error.
    size_t Read(void* dst, size_t count);
    // True once a read has failed for another reason than the end of the file.
    bool HasError() const;
    // The OS reason of the failed read, for the user ("" while no read failed).
    std::wstring ReadErrorText() const;

    // Size in bytes found by seeking to the end (the position is left there); -1 when the file
    // cannot seek.
    long long SizeBySeek();
    // 1 when the next read starts at `offset` from the beginning, 0 otherwise.
    int SeekTo(long long offset);

    // The reason texts the readers share.
    static std::wstring TooLargeText(long long bytes);
    static std::wstring ReadErrorReason(long long bytesRead, const std::wstring& osText);

private:
    // Text of an OS error number for the user (base/OsErrorText.h); the system's own text goes to the
    // trace.
    static std::wstring ErrorText(int error);
    void FailOpen(ImageState state, std::wstring reason);

    std::FILE* file_ = nullptr;
    ImageLoadStatus openFailure_;
    long long openedSize_ = 0;
    int readErrno_ = 0;
};
