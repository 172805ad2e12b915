#include "files/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/OsErrorText.h"
#include "base/Text.h"
#include "base/Trace.h"

namespace {

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) { return result == 0 ? buffer : "unknown error"; }
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) { return result; }

// Why a file of this kind is not an update file; empty for a regular file.
std::wstring KindRefusal(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return L"это папка, а не файл";
    if (S_ISFIFO(mode)) return L"это канал (FIFO), а не файл";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return L"это устройство, а не файл";
    if (S_ISSOCK(mode)) return L"это сокет, а не файл";
    return L"это не обычный файл";
}

}  // namespace

std::wstring CImageFile::ErrorText(int error) {
    char buffer[256] = {};
    const std::wstring system = Utf8ToWide(ErrorTextOf(strerror_r(error, buffer, sizeof buffer), buffer));
    Trace(L"update file: OS error %d: %ls\n", error, system.c_str());
    return ErrnoText(error, system);
}

int CImageFile::Open(const wchar_t* path) {
    Close();
    openFailure_ = {};
    if (path == nullptr || *path == L'\0') return 0;
    const std::string narrow = WideToUtf8(path);
    auto failOs = [this](int error) {
        // A missing file, or a folder on the way that does not exist, is simply not there.
        if (error == ENOENT || error == ENOTDIR) {
            FailOpen(ImageState::Absent, {});
        } else {
            FailOpen(ImageState::Refused, L"файл не открывается: " + ErrorText(error));
        }
        return 0;
    };

    // Told by the name first, so that a device is never opened: opening a serial port alone
    // changes its modem lines, and a FIFO without a writer would block.
    struct stat info {};
    if (stat(narrow.c_str(), &info) != 0) return failOs(errno);
    std::wstring refusal = KindRefusal(info.st_mode);
    if (!refusal.empty()) {
        FailOpen(ImageState::Refused, refusal);
        return 0;
    }

    // Non-blocking, in case the name was swapped for a FIFO since; the kind is checked again on the
    // descriptor, which cannot change.
    const int fd = open(narrow.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failOs(errno);
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        close(fd);
        return failOs(error);
    }
    refusal = KindRefusal(info.st_mode);
    if (refusal.empty() && info.st_size > kMaxBytes) refusal = TooLargeText(static_cast<long long>(info.st_size));
    if (!refusal.empty()) {
        close(fd);
        FailOpen(ImageState::Refused, refusal);
        return 0;
    }
    // Reads of a regular file never block anyway; clear the flag so that nothing can return EAGAIN.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close(fd);
        return failOs(error);
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        return failOs(error);
    }
    file_ = file;
    openedSize_ = static_cast<long long>(info.st_size);
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
