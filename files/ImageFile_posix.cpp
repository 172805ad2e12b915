#include "files/ImageFile.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "engine/Trace.h"

int CImageFile::Open(const wchar_t* path) {
    Close();
    if (path == nullptr || *path == L'\0') return 0;
    const std::string narrow = WideToUtf8(path);
    std::FILE* file = std::fopen(narrow.c_str(), "rb");
    if (file == nullptr) return 0;
    // fopen accepts a folder here, unlike the Windows run-time; refuse it the same way.
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return 0;
    }
    file_ = file;
    return 1;
}

long long CImageFile::SizeBySeek() {
    if (file_ == nullptr || fseeko(file_, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(file_);
    return end < 0 ? -1 : static_cast<long long>(end);
}

int CImageFile::SeekTo(long long offset) {
    if (file_ == nullptr || offset < 0) return 0;
    return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0 ? 1 : 0;
}
