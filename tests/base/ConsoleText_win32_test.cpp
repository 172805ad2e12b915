// A real Windows console: the test gives itself one and reads back what its screen shows. Russian text
// written through ConsoleText must appear as written, whatever the console's code page; the UTF-8
// bytes of a plain narrow write would show garbled there. Under wine a console needs a display (the
// Windows tests run under xvfb-run); without one the test says so and is skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/ConsoleText.h"

namespace {

class ConsoleOfOurOwn : public ::testing::Test {
protected:
    void SetUp() override {
        // The test runner's own console, if it has one, is left for a fresh one whose screen we own.
        FreeConsole();
        if (!AllocConsole()) GTEST_SKIP() << "no console can be made here (error " << GetLastError() << ")";
        // Read and write access, as a console's standard handles have: a console handle for writing
        // only does not answer GetConsoleMode.
        stream_ = _wfopen(L"CONOUT$", L"r+");
        if (stream_ == nullptr) GTEST_SKIP() << "CONOUT$ does not open";
        screen_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (screen_ == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen_, &info))
            GTEST_SKIP() << "the console's screen cannot be read (under wine: no display)";
        // A code page that cannot show Cyrillic, so only UTF-16 output reads back right.
        SetConsoleOutputCP(437);
    }
    void TearDown() override {
        if (stream_ != nullptr) std::fclose(stream_);
        if (screen_ != INVALID_HANDLE_VALUE) CloseHandle(screen_);
        FreeConsole();
    }

    COORD Cursor() const {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        GetConsoleScreenBufferInfo(screen_, &info);
        return info.dwCursorPosition;
    }
    std::wstring ScreenAt(COORD at, size_t length) const {
        std::wstring text(length, L'\0');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen_, text.data(), static_cast<DWORD>(length), at, &read);
        text.resize(read);
        return text;
    }

    std::FILE* stream_ = nullptr;
    HANDLE screen_ = INVALID_HANDLE_VALUE;
};

TEST_F(ConsoleOfOurOwn, RussianTextAppearsAsWrittenAndInOrder) {
    ASSERT_TRUE(IsUtf16Console(stream_));
    struct Row {
        const char* narrowFirst;  // written before with fputs: must come first on the screen
        std::wstring wide;        // through WriteConsoleText
        std::string utf8;         // through WriteConsoleUtf8
        std::wstring shown;
    };
    const Row rows[] = {
        {"", L"Обновление", "", L"Обновление"},
        {"1: ", L"", "\xD0\x93\xD0\xBE\xD1\x82\xD0\xBE\xD0\xB2\xD0\xBE", L"1: Готово"},
        {"[", L"Успешно обновлено!", "]", L"[Успешно обновлено!]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.narrowFirst) + row.utf8);
        const COORD at = Cursor();
        std::fputs(row.narrowFirst, stream_);
        if (!row.wide.empty()) {
            EXPECT_EQ(WriteConsoleText(stream_, row.wide), 1);
        }
        if (!row.utf8.empty()) {
            EXPECT_EQ(WriteConsoleUtf8(stream_, row.utf8), 1);
        }
        EXPECT_EQ(ScreenAt(at, row.shown.size()), row.shown);
        EXPECT_EQ(WriteConsoleText(stream_, L"\n"), 1);
    }
}

// What the console shows of the UTF-8 bytes written the old way: not the text. Keeps the case above
// honest: it passes only because the text went as UTF-16.
TEST_F(ConsoleOfOurOwn, Utf8BytesWrittenPlainlyAreNotTheText) {
    const COORD at = Cursor();
    const std::string bytes = "\xD0\x93\xD0\xBE\xD1\x82\xD0\xBE\xD0\xB2\xD0\xBE";
    std::fwrite(bytes.data(), 1, bytes.size(), stream_);
    std::fflush(stream_);
    EXPECT_NE(ScreenAt(at, 6), L"Готово");
}

}  // namespace
