#include "files/ImageFile.h"

#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "base/OsErrorText.h"
#include "base/Trace.h"

std::wstring CImageFile::ErrorText(int error) {
    wchar_t text[256] = {};
    const std::wstring system = _wcserror_s(text, sizeof text / sizeof text[0], error) == 0 ? text : L"unknown error";
    Trace(L"update file: C runtime error %d: %ls\n", error, system.c_str());
    return ErrnoText(error, system);
}

namespace {

std::wstring SystemErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = length != 0 && text != nullptr ? std::wstring(text, length) : L"unknown error";
    if (text != nullptr) LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
        result.pop_back();
    Trace(L"update file: Windows error %lu: %ls\n", static_cast<unsigned long>(error), result.c_str());
    return WindowsErrorText(error, result);
}

}  // namespace

int CImageFile::Open(const wchar_t* path) {
    Close();
    openFailure_ = {};
    if (path == nullptr || *path == L'\0') return 0;

    // Told by the name first, so that a folder is refused the same way on every platform and a
    // device name ("COM1", "\\.\pipe\...") is never opened.
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            FailOpen(ImageState::Absent, {});
        } else {
            FailOpen(ImageState::Refused, L"файл не открывается: " + SystemErrorText(error));
        }
        return 0;
    }
    if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        FailOpen(ImageState::Refused, L"это папка, а не файл");
        return 0;
    }
    const long long size =
        static_cast<long long>((static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow);
    if (size > kMaxBytes) {
        FailOpen(ImageState::Refused, TooLargeText(size));
        return 0;
    }

    std::FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) {
        const int error = errno;
        FailOpen(error == ENOENT ? ImageState::Absent : ImageState::Refused,
                 error == ENOENT ? std::wstring() : L"файл не открывается: " + ErrorText(error));
        return 0;
    }
    // The name may have been swapped since; only a file on a disk is an update file.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        std::fclose(file);
        FailOpen(ImageState::Refused, L"это не обычный файл");
        return 0;
    }
    file_ = file;
    openedSize_ = size;
    return 1;
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
