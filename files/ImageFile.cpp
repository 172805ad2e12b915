#include "files/ImageFile.h"

CImageFile::~CImageFile() { Close(); }

void CImageFile::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

size_t CImageFile::Read(void* dst, size_t count) {
    if (file_ == nullptr || dst == nullptr || count == 0) return 0;
    return std::fread(dst, 1, count, file_);
}

bool CImageFile::HasError() const { return file_ != nullptr && std::ferror(file_) != 0; }
