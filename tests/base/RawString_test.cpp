// The byte buffer under frames, images and the receive path.
#include <gtest/gtest.h>

#include "base/RawString.h"
#include "support/TestSupport.h"

namespace {

TEST(RawStringTest, AssignKeepsPrefixAndRefusesBadArguments) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    const uint8_t xy[] = {'x', 'y'};
    CRawString s(abc, 3);
    EXPECT_EQ(s.Assign(xy, 2, 1), 1);
    EXPECT_EQ(s.Size(), 3);
    EXPECT_EQ(s.GetAt(0), 'a');
    EXPECT_EQ(s.GetAt(1), 'x');
    EXPECT_EQ(s.Assign(xy, 2, 99), 1);  // keep clamps to the size
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Assign(nullptr, 1), 0);
    EXPECT_EQ(s.Assign(xy, -1), 0);
    EXPECT_EQ(s.Assign(s.Data(), 1), 0);  // own pointer
    EXPECT_EQ(s.Size(), 5);
    // A source inside the buffer (not its start) is copied safely.
    EXPECT_EQ(s.Assign(s.Data() + 3, 2, 0), 1);
    EXPECT_EQ(s.Size(), 2);
    EXPECT_EQ(s.GetAt(0), 'x');
    EXPECT_EQ(s.GetAt(1), 'y');
    // The content is followed by two zero bytes.
    EXPECT_EQ(s.Data()[2], 0);
    EXPECT_EQ(s.Data()[3], 0);
}

TEST(RawStringTest, AppendEraseFindGetAt) {
    CRawString s;
    EXPECT_EQ(s.Data(), nullptr);
    EXPECT_EQ(s.Append(nullptr, 2), 0);
    const uint8_t junk[] = {0x01, 0x02, 0xAC, 0x05, 0xAC};
    EXPECT_EQ(s.Append(junk, 0), 0);
    EXPECT_EQ(s.Append(junk, 5), 1);
    EXPECT_EQ(s.AppendByte(0x07), 1);
    EXPECT_EQ(s.Size(), 6);
    const uint8_t head = 0xAC;
    EXPECT_EQ(s.Find(&head, 1), 2);
    EXPECT_EQ(s.Find(&head, 1, 3), 4);
    EXPECT_EQ(s.Find(&head, 1, 5), -1);
    EXPECT_EQ(s.Find(&head, 1, -1), -1);
    EXPECT_EQ(s.Find(nullptr, 1), -1);
    EXPECT_EQ(s.Find(junk, 7), -1);
    EXPECT_EQ(s.Find(junk, 0), -1);
    EXPECT_EQ(s.GetAt(-1), 0);
    EXPECT_EQ(s.GetAt(6), 0);

    EXPECT_EQ(s.Erase(6, 1), 0);   // pos equal to the size removes nothing
    EXPECT_EQ(s.Erase(-1, 1), 0);
    EXPECT_EQ(s.Erase(1, 0), 0);
    EXPECT_EQ(s.Erase(4, 100), 1);  // clamped to the end
    EXPECT_EQ(s.Size(), 4);
    EXPECT_EQ(s.Erase(0, 2), 1);
    EXPECT_EQ(s.GetAt(0), 0xAC);
    CRawString empty;
    EXPECT_EQ(empty.Find(&head, 1), -1);
    s = s;
    EXPECT_EQ(s.Size(), 2);
}

TEST(RawStringTest, DumpTracesLabelAndBytes) {
    testsupport::TraceCapture trace;
    const uint8_t bytes[] = {0xAC, 0x05};
    CRawString(bytes, 2).Dump(L"frame");
    EXPECT_EQ(trace.Text(), L"frame[2]:0xac 0x05 \r\n");
}

}  // namespace
