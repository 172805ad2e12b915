// What the three update-file readers accept to open: only a regular file of at most 256 MiB. A FIFO or
// a device must neither block nor be read; a missing file is Absent, a file that is there but cannot
// be opened is Refused with the OS reason.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "files/File_EDogMusicPic.h"
#include "files/File_Project.h"
#include "files/File_Radar.h"
#include "files/ImageFile.h"
#include "support/FilesTestSupport.h"
#include "support/TestSupport.h"
#include "base/Text.h"
#include "base/Trace.h"

namespace {

using filestest::Wide;

enum class Reader { Project, Data, Radar };

// A small valid image for each reader.
std::string ValidContent(Reader reader) {
    if (reader == Reader::Project)
        return filestest::HexLine(4, 0, {0x08, 0x00}) + filestest::HexLine(0, 0, {1, 2, 3}) + ":00000001FF\r\n0105";
    const auto bytes = filestest::RandomBytes(3, 5000);
    return std::string(bytes.begin(), bytes.end());
}

template <class Image>
ImageLoadStatus LoadAs(const std::wstring& path) {
    Image image = filestest::MakeReader<Image>();
    image.Load(path.c_str());
    return image.LoadStatus();
}

ImageLoadStatus LoadWith(Reader reader, const std::string& path) {
    switch (reader) {
        case Reader::Project: return LoadAs<CFile_Project>(Wide(path));
        case Reader::Data: return LoadAs<CFile_EDogMusicPic>(Wide(path));
        case Reader::Radar: return LoadAs<CFile_Radar>(Wide(path));
    }
    return {};
}

// Runs the load on its own thread so that a load that blocks fails the test (after
// ScaledMs(timeoutMs)) instead of hanging it.
// The thread is left behind only in that failure.
// Makes the file at `path` `bytes` long, sparse where the file system allows it; "" or why it failed.
std::string GrowTo(const std::string& path, long long bytes) {
#ifdef _WIN32
    // mingw's resize_file goes through its ftruncate64, which first asks the volume for its free
    // space and crashes under wine in a prefix without the mount manager (ours); the C runtime's own
    // _chsize_s only moves the file's end.
    std::FILE* file = _wfopen(testsupport::Utf8Path(path).c_str(), L"r+b");
    if (file == nullptr) return "cannot open " + path;
    const errno_t failed = _chsize_s(_fileno(file), bytes);
    std::fclose(file);
    return failed != 0 ? "_chsize_s failed: " + std::to_string(failed) : std::string();
#else
    std::error_code error;
    std::filesystem::resize_file(testsupport::Utf8Path(path), static_cast<std::uintmax_t>(bytes), error);
    return error ? "resize failed: " + error.message() : std::string();
#endif
}

bool LoadWithin(Reader reader, const std::string& path, int timeoutMs, ImageLoadStatus& out) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        ImageLoadStatus status;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, reader, path] {
        ImageLoadStatus status = LoadWith(reader, path);
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->status = std::move(status);
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->done.wait_for(lock, std::chrono::milliseconds(testsupport::ScaledMs(timeoutMs)),
                               [&] { return shared->finished; }))
        return false;
    out = shared->status;
    return true;
}

TEST(ImageFileTest, WhatEachReaderOpens) {
    struct Row {
        const char* name;
        // Makes the file `path` (or not); returns a reason to skip the row, or "".
        std::function<std::string(const std::string& path, Reader reader)> make;
        ImageState state;
        const char* reason;
        const char* projectReason = nullptr;  // where the firmware reader names the record instead
        const char* traced = nullptr;         // the system's own words, kept in the trace
    };
    const Row rows[] = {
        {"regular file",
         [](const std::string& path, Reader reader) {
             testsupport::WriteTextFile(path, ValidContent(reader));
             return std::string();
         },
         ImageState::Ready, ""},
        {"no such file", [](const std::string&, Reader) { return std::string(); }, ImageState::Absent, ""},
        {"empty file",
         [](const std::string& path, Reader) {
             testsupport::WriteFile(path, {});
             return std::string();
         },
         ImageState::Empty, "файл пуст"},
        {"folder",
         [](const std::string& path, Reader) {
             std::filesystem::create_directory(testsupport::Utf8Path(path));
             return std::string();
         },
         ImageState::Refused, "это папка, а не файл"},
#ifndef _WIN32
        // Windows has none of these file kinds (FIFO, device file, a link to itself) nor such
        // permission bits. Opening a FIFO for reading waits for a writer; none ever comes here.
        {"FIFO",
         [](const std::string& path, Reader) {
             mkfifo(path.c_str(), 0600);
             return std::string();
         },
         ImageState::Refused, "это канал (FIFO), а не файл"},
        // /dev/zero never ends: reading it would fill the memory.
        {"device",
         [](const std::string& path, Reader) {
             return symlink("/dev/zero", path.c_str()) == 0 ? std::string() : std::string("no symlink");
         },
         ImageState::Refused, "это устройство, а не файл"},
#endif
        // Sparse (where the file system allows it): no disk space and no time, but over the limit.
        {"over 256 MiB",
         [](const std::string& path, Reader) {
             testsupport::WriteFile(path, {});
             return GrowTo(path, CImageFile::kMaxBytes + 1);
         },
         ImageState::Refused, "файл слишком велик: 268435457 байт, допускается не больше 256 МиБ"},
#ifndef _WIN32
        {"no read permission",
         [](const std::string& path, Reader reader) {
             if (geteuid() == 0) return std::string("root reads a file without read permission");
             testsupport::WriteTextFile(path, ValidContent(reader));
             chmod(path.c_str(), 0);
             return std::string();
         },
         ImageState::Refused, "файл не открывается: нет доступа (недостаточно прав)", nullptr, "Permission denied"},
        // Root too meets a file that is there but cannot be opened: a link that points at itself.
        {"symbolic link loop",
         [](const std::string& path, Reader) {
             return symlink(path.c_str(), path.c_str()) == 0 ? std::string() : std::string("no symlink");
         },
         ImageState::Refused, "файл не открывается: символические ссылки замкнуты в круг", nullptr,
         "Too many levels of symbolic links"},
        // A file that fails while it is read loads nothing: /proc/self/mem is a regular file whose
        // first page is never mapped, so its first read fails with EIO. The radar reader's size says
        // 0 bytes; the read after the last packet finds the error.
        {"read error",
         [](const std::string& path, Reader) {
             if (access("/proc/self/mem", R_OK) != 0) return std::string("/proc/self/mem cannot be read here");
             return symlink("/proc/self/mem", path.c_str()) == 0 ? std::string() : std::string("no symlink");
         },
         ImageState::Refused, "ошибка чтения после 0 байт: ошибка ввода-вывода",
         "запись 1: ошибка чтения после 0 байт: ошибка ввода-вывода", "Input/output error"},
#endif
    };
    for (const Row& row : rows) {
        for (Reader reader : {Reader::Project, Reader::Data, Reader::Radar}) {
            SCOPED_TRACE(std::string(row.name) + ", reader " + std::to_string(static_cast<int>(reader)));
            testsupport::TempDir dir;
            const std::string path = dir.File("image");
            const std::string skip = row.make(path, reader);
            if (!skip.empty()) {
                std::printf("row \"%s\" skipped: %s\n", row.name, skip.c_str());
                continue;
            }
            std::mutex traceMutex;
            std::wstring trace;
            SetTraceSink([&](const std::wstring& text) {
                std::lock_guard<std::mutex> lock(traceMutex);
                trace += text;
            });
            ImageLoadStatus status;
            const bool loaded = LoadWithin(reader, path, 5000, status);
            SetTraceSink({});
            ASSERT_TRUE(loaded) << "the load blocked";
            EXPECT_EQ(status.state, row.state) << WideToUtf8(status.reason);
            EXPECT_EQ(WideToUtf8(status.reason),
                      reader == Reader::Project && row.projectReason ? row.projectReason : row.reason);
            if (row.traced != nullptr) {
                std::lock_guard<std::mutex> lock(traceMutex);
                EXPECT_NE(WideToUtf8(trace).find(row.traced), std::string::npos) << WideToUtf8(trace);
            }
        }
    }
}

// The data reader keeps nothing of a refused load.
TEST(ImageFileTest, ARefusedLoadKeepsNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "a file that fails while it is read is made from Linux's /proc/self/mem";
#else
    const char* path = "/proc/self/mem";
    if (access(path, R_OK) != 0) GTEST_SKIP() << path << " cannot be read here";
    testsupport::TempDir dir;
    testsupport::WriteTextFile(dir.File("flagdata.bin"), ValidContent(Reader::Data));
    CFile_EDogMusicPic image = filestest::MakeReader<CFile_EDogMusicPic>();
    ASSERT_EQ(image.Load(Wide(dir.File("flagdata.bin")).c_str()), 1);
    EXPECT_EQ(image.Load(Wide(path).c_str()), 0);
    EXPECT_EQ(image.GetPacketCount(), 0);
#endif
}

}  // namespace
