// Text for people on a stream that is no console (a file here; a pipe is the same): UTF-8 bytes, in
// order with the narrow bytes written before, on every platform. The Windows console itself is in
// ConsoleText_win32_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/ConsoleText.h"
#include "support/TestSupport.h"

namespace {

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(ConsoleTextTest, ARedirectedStreamGetsUtf8BytesInOrder) {
    testsupport::TempDir dir;
    const std::string path = dir.File("out.txt");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(IsUtf16Console(file));
    // Narrow bytes still in the stream's buffer come first.
    std::fputs("1 ", file);
    EXPECT_EQ(WriteConsoleText(file, L"Обновление 更新\n"), 1);
    EXPECT_EQ(WriteConsoleUtf8(file, "2 \xD0\x93\xD0\xBE\xD1\x82\xD0\xBE\xD0\xB2\xD0\xBE\n"), 1);
    std::fclose(file);
    EXPECT_EQ(Bytes(testsupport::ReadFile(path)),
              "1 \xD0\x9E\xD0\xB1\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5 \xE6\x9B\xB4\xE6\x96\xB0\n"
              "2 \xD0\x93\xD0\xBE\xD1\x82\xD0\xBE\xD0\xB2\xD0\xBE\n");
}

TEST(ConsoleTextTest, NoStreamWritesNothing) {
    EXPECT_FALSE(IsUtf16Console(nullptr));
    EXPECT_EQ(WriteConsoleText(nullptr, L"x"), 0);
    EXPECT_EQ(WriteConsoleUtf8(nullptr, "x"), 0);
}

}  // namespace
