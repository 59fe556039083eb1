#include <gtest/gtest.h>

#include <string>

#include "common/wide_text.h"

namespace {

const WCHAR16 kFill = u'#';

std::u16string repeat(char16_t ch, size_t count)
{
    return std::u16string(count, ch);
}

TEST(PrintBounded, RefusesCountsOutsideRangeAndLeavesBuffer)
{
    for (ULONG count : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        WCHAR16 buffer[4] = {kFill, kFill, kFill, kFill};
        EXPECT_EQ(BOUNDED_INVALID_ARGUMENT, printBounded(buffer, count, u"Status: 0x%x", 0x1Fu))
            << count;
        for (WCHAR16 ch : buffer)
            EXPECT_EQ(kFill, ch);
    }
}

TEST(PrintBounded, CutsAtCountMinusOne)
{
    struct Case {
        ULONG count;
        ULONG result;
        std::u16string text;
    } cases[] = {
        {10, BOUNDED_TRUNCATED, u"Status: 0"}, {12, BOUNDED_TRUNCATED, u"Status: 0x1"},
        {13, BOUNDED_OK, u"Status: 0x1f"},     {1, BOUNDED_TRUNCATED, u""},
        {260, BOUNDED_OK, u"Status: 0x1f"},
    };
    for (const Case &c : cases) {
        WCHAR16 buffer[300];
        std::fill(buffer, buffer + 300, kFill);
        EXPECT_EQ(c.result, printBounded(buffer, c.count, u"Status: 0x%x", 0x1Fu)) << c.count;
        EXPECT_EQ(c.text, std::u16string(buffer)) << c.count;
        EXPECT_EQ(kFill, buffer[c.count]) << "wrote past the count " << c.count;
    }
}

TEST(PrintBounded, FailedFormattingLeavesEmptyText)
{
    WCHAR16 buffer[8] = {kFill, kFill, kFill, kFill, kFill, kFill, kFill, kFill};
    EXPECT_EQ(BOUNDED_TRUNCATED, printBounded(buffer, 8, u"bad %q"));
    EXPECT_EQ(0, buffer[0]);
    EXPECT_EQ(0, buffer[7]);
}

TEST(PrintBounded, FallbackUsesLowerCaseHexWithoutLeadingZeros)
{
    WCHAR16 buffer[260];
    struct Case {
        ULONG status;
        std::u16string text;
    } cases[] = {
        {0xEFFF0013u, u"Status: 0xefff0013"},
        {0xABCu, u"Status: 0xabc"},
        {0u, u"Status: 0x0"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(BOUNDED_OK, printBounded(buffer, 260, u"Status: 0x%x", c.status));
        EXPECT_EQ(c.text, std::u16string(buffer));
    }
}

TEST(CopyBounded, Cases)
{
    struct Case {
        ULONG count;
        size_t sourceLength;
        ULONG result;
        size_t copiedLength;
    } cases[] = {
        {256, 255, BOUNDED_OK, 255},
        {256, 256, BOUNDED_TRUNCATED, 255},
        {256, 300, BOUNDED_TRUNCATED, 255},
        {256, 0, BOUNDED_OK, 0},
        {1, 0, BOUNDED_OK, 0},
        {1, 1, BOUNDED_TRUNCATED, 0},
    };
    for (const Case &c : cases) {
        std::u16string source = repeat(u'a', c.sourceLength);
        WCHAR16 buffer[301];
        std::fill(buffer, buffer + 301, kFill);
        EXPECT_EQ(c.result, copyBounded(buffer, c.count, source.c_str()))
            << c.count << "/" << c.sourceLength;
        EXPECT_EQ(repeat(u'a', c.copiedLength), std::u16string(buffer));
        EXPECT_EQ(kFill, buffer[c.count]) << "wrote past the count";
    }
}

TEST(CopyBounded, RefusesCountsOutsideRangeAndLeavesBuffer)
{
    for (ULONG count : {0u, 2147483648u}) {
        WCHAR16 buffer[2] = {kFill, kFill};
        EXPECT_EQ(BOUNDED_INVALID_ARGUMENT, copyBounded(buffer, count, u"x"));
        EXPECT_EQ(kFill, buffer[0]);
        EXPECT_EQ(kFill, buffer[1]);
    }
}

TEST(CopyBounded, ReadsSourceNoFurtherThanCount)
{
    // An unterminated source of exactly count characters: the copy must stop
    // at the count-th character (ASan reports a read past the array).
    WCHAR16 source[4] = {u'a', u'b', u'c', u'd'};
    WCHAR16 buffer[4];
    EXPECT_EQ(BOUNDED_TRUNCATED, copyBounded(buffer, 4, source));
    EXPECT_EQ(std::u16string(u"abc"), std::u16string(buffer));
}

}  // namespace
