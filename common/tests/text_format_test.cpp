#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/text_format.h"

namespace {

void collectNarrow(void *context, const char *bytes, size_t length)
{
    static_cast<std::string *>(context)->append(bytes, length);
}

void collectWide(void *context, const WCHAR16 *chars, size_t length)
{
    char utf8[1024];
    size_t needed = wideToUtf8(chars, length, utf8, sizeof utf8);
    static_cast<std::string *>(context)->append(utf8, needed);
}

std::string expand(const char *format, ...)
{
    std::string out;
    FormatSink sink = {collectNarrow, collectWide, &out};
    va_list arguments;
    va_start(arguments, format);
    bool ok = expandFormat(sink, format, arguments);
    va_end(arguments);
    return ok ? out : "<failed>";
}

TEST(ExpandFormat, ReportConversions)
{
    const WCHAR16 *wide = u"iqn.2001-04.com.example:disk";
    EXPECT_EQ("Get Target information for iqn.2001-04.com.example:disk\n",
              expand("Get Target information for %ws\n", wide));
    EXPECT_EQ("(null)\n", expand("%ws\n", static_cast<const WCHAR16 *>(nullptr)));
    EXPECT_EQ("Session Id is 0xfedcba9876543210-0x1\n",
              expand("Session Id is 0x%I64x-0x%I64x\n", 0xFEDCBA9876543210ull, 1ull));
    EXPECT_EQ("0a ff    .", expand("%02x %02x %s%c", 0x0A, 0xFF, "   ", '.'));
    EXPECT_EQ("-1 4294967295 0xefff0001", expand("%d %u 0x%x", -1, 0xFFFFFFFFu, 0xEFFF0001u));
    EXPECT_EQ("    Protocol Type        : iSCSI TCP Protocol",
              expand("%sProtocol Type        : %s", "    ", "iSCSI TCP Protocol"));
    EXPECT_EQ("100%", expand("100%%"));
    EXPECT_EQ("<failed>", expand("%q"));
}

TEST(ExpandFormat, WideTextBecomesUtf8)
{
    const WCHAR16 text[] = {0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xD800, u'x', 0};
    EXPECT_EQ("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx", expand("%ws", text));
}

TEST(ExpandFormat, NarrowTextIsByteForByte)
{
    EXPECT_EQ("Running on node \xE9\xFF\n", expand("Running on node %s\n", "\xE9\xFF"));
}

}  // namespace
