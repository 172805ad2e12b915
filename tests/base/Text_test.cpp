// The one conversion between wide text and UTF-8: Cyrillic and Chinese round trips, code points
// above U+FFFF (surrogate pairs where wchar_t is 16 bits), and damaged input turned into U+FFFD.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "base/DisplayPath.h"
#include "base/OsErrorText.h"
#include "base/Text.h"

namespace {

struct RoundTrip {
    const char* utf8;
    std::wstring wide;
};

TEST(TextTest, WideAndUtf8RoundTrip) {
    const std::wstring musicalG = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD834), wchar_t(0xDD1E)}
                                                       : std::wstring{wchar_t(0x1D11E)};
    const RoundTrip rows[] = {
        {"", L""},
        {"COM20", L"COM20"},
        {"\xD0\x9E\xD0\xB1\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5", L"Обновление"},
        {"\xE6\x9B\xB4\xE6\x96\xB0", L"更新"},
        {"\xF0\x9D\x84\x9E", musicalG},
    };
    for (const RoundTrip& row : rows) {
        SCOPED_TRACE(row.utf8);
        EXPECT_EQ(WideToUtf8(row.wide), row.utf8);
        EXPECT_EQ(Utf8ToWide(row.utf8), row.wide);
    }
}

TEST(TextTest, DamagedInputBecomesReplacementCharacters) {
    const std::wstring fffd(1, wchar_t(0xFFFD));
    // A lone continuation byte, a cut-short sequence at the end, a lead byte followed by ASCII.
    EXPECT_EQ(Utf8ToWide("a\x80z"), L"a" + fffd + L"z");
    EXPECT_EQ(Utf8ToWide("\xD0"), fffd);
    EXPECT_EQ(Utf8ToWide("\xE6\x9B" "A"), fffd + fffd + L"A");
    // A lone surrogate is no character.
    EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
}


// Paths in texts people read carry the platform's separators; the rows are per platform, as Qt's
// port-name tests are.
TEST(DisplayPathTest, ThePlatformsSeparators) {
    struct Row {
        std::string path;
        std::string shown;
    };
#ifdef _WIN32
    const Row rows[] = {
        {"C:/Program Files/IAP Tool/", "C:\\Program Files\\IAP Tool\\"},
        {"C:\\Обновление/ver.txt", "C:\\Обновление\\ver.txt"},
        {"\\\\server\\share\\", "\\\\server\\share\\"},
        {"", ""},
    };
#else
    const Row rows[] = {
        {"/usr/lib/iap-tool/", "/usr/lib/iap-tool/"},
        {"/home/user/Обновление/ver.txt", "/home/user/Обновление/ver.txt"},
        {"/tmp/a\\b", "/tmp/a\\b"},  // a '\' is part of a POSIX name
        {"", ""},
    };
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(DisplayPath(row.path), row.shown);
        EXPECT_EQ(DisplayPath(Utf8ToWide(row.path)), Utf8ToWide(row.shown));
    }
}

// The common OS reasons in Russian; any other keeps the system's words. Both tables on every platform.
TEST(OsErrorTextTest, CommonReasonsInRussianOthersAsTheSystemSaysThem) {
    struct Row {
        bool windows;
        unsigned long code;
        const wchar_t* shown;  // null: the system's text
    };
    const Row rows[] = {
        {false, EACCES, L"нет доступа (недостаточно прав)"},
        {false, EIO, L"ошибка ввода-вывода"},
        {false, EBUSY, L"занято другой программой"},
        {false, ELOOP, L"символические ссылки замкнуты в круг"},
        {false, EDOM, nullptr},
        {true, 5, L"нет доступа (недостаточно прав)"},
        {true, 32, L"файл занят другой программой"},
        {true, 1167, L"устройство не подключено"},
        {true, 1460, nullptr},
    };
    const std::wstring system = L"System's own words";
    for (const Row& row : rows) {
        SCOPED_TRACE((row.windows ? "Windows " : "errno ") + std::to_string(row.code));
        const std::wstring text = row.windows ? WindowsErrorText(row.code, system) : ErrnoText(static_cast<int>(row.code), system);
        EXPECT_EQ(text, row.shown != nullptr ? std::wstring(row.shown) : system);
    }
    EXPECT_EQ(ErrnoText(-1, system), system);
}

}  // namespace
