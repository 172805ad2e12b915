// CImageFile: an update file opened for binary reading, closed when the object goes.
//
// The three update-file readers share it so that no return path leaks the handle. The platform back
// ends (ImageFile_posix.cpp, ImageFile_win32.cpp) differ in how a wide path is opened and how offsets
// beyond 2 GiB are reached. Not thread-safe: one reader uses one object during one load.
#pragma once

#include <cstddef>
#include <cstdio>

class CImageFile {
public:
    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // 1 when the file is open for reading; 0 for a null or empty path, a file that cannot be opened,
    // or a folder (which is not an update file on any platform). Closes a file opened before.
    int Open(const wchar_t* path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    // Up to `count` bytes into dst; fewer only at the end of the file or on a read error.
    size_t Read(void* dst, size_t count);
    // True once a read has failed for another reason than the end of the file.
    bool HasError() const;

    // Size in bytes found by seeking to the end (the position is left there); -1 when the file
    // cannot seek.
    long long SizeBySeek();
    // 1 when the next read starts at `offset` from the beginning, 0 otherwise.
    int SeekTo(long long offset);

private:
    std::FILE* file_ = nullptr;
};
