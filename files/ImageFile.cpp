#include "files/ImageFile.h"

#include <cerrno>
#include <cwchar>

CImageFile::~CImageFile() { Close(); }

void CImageFile::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    openedSize_ = 0;
    readErrno_ = 0;
}

void CImageFile::FailOpen(ImageState state, std::wstring reason) {
    Close();
    openFailure_ = {state, std::move(reason)};
}

size_t CImageFile::Read(void* dst, size_t count) {
    if (file_ == nullptr || dst == nullptr || count == 0) return 0;
    errno = 0;
    const size_t got = std::fread(dst, 1, count, file_);
    // Keep the reason now: anything called later may overwrite errno.
    if (got < count && std::ferror(file_) != 0 && readErrno_ == 0) readErrno_ = errno != 0 ? errno : EIO;
    return got;
}

bool CImageFile::HasError() const { return file_ != nullptr && std::ferror(file_) != 0; }

std::wstring CImageFile::ReadErrorText() const { return readErrno_ != 0 ? ErrorText(readErrno_) : std::wstring(); }

std::wstring CImageFile::TooLargeText(long long bytes) {
    wchar_t text[128];
    std::swprintf(text, sizeof text / sizeof text[0], L"файл слишком велик: %lld байт, допускается не больше %lld МиБ",
                  bytes, kMaxBytes / (1024 * 1024));
    return text;
}

std::wstring CImageFile::ReadErrorReason(long long bytesRead, const std::wstring& osText) {
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], L"ошибка чтения после %lld байт: ", bytesRead);
    return text + (osText.empty() ? std::wstring(L"причина неизвестна") : osText);
}
