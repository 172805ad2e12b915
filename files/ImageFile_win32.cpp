#include "files/ImageFile.h"

#include <cstdio>

int CImageFile::Open(const wchar_t* path) {
    Close();
    if (path == nullptr || *path == L'\0') return 0;
    // _wfopen refuses a folder by itself.
    file_ = _wfopen(path, L"rb");
    return file_ != nullptr ? 1 : 0;
}

long long CImageFile::SizeBySeek() {
    if (file_ == nullptr || _fseeki64(file_, 0, SEEK_END) != 0) return -1;
    const long long end = _ftelli64(file_);
    return end < 0 ? -1 : end;
}

int CImageFile::SeekTo(long long offset) {
    if (file_ == nullptr || offset < 0) return 0;
    return _fseeki64(file_, offset, SEEK_SET) == 0 ? 1 : 0;
}
