#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

// Decodes the whole of bytes; -1 ends the list where the text was refused.
std::vector<long> decodeAll(const std::string &bytes, Utf8Malformed malformed)
{
    const unsigned char *text = reinterpret_cast<const unsigned char *>(bytes.data());
    std::vector<long> codes;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t before = at;
        long code = decodeUtf8(text, bytes.size(), &at, malformed);
        codes.push_back(code);
        if (code < 0) {
            EXPECT_EQ(at, before) << "a refusal leaves the position";
            break;
        }
        EXPECT_GT(at, before);
    }
    return codes;
}

struct DecodeCase {
    const char *name;
    std::string bytes;
    std::vector<long> substituted;  // with UTF8_SUBSTITUTE
    std::vector<long> refused;      // with UTF8_REFUSE
};

TEST(DecodeUtf8, SubstituteOrRefuseWhatIsMalformed)
{
    const long R = 0xFFFD;
    const std::vector<DecodeCase> cases = {
        {"one to four bytes",
         "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         {0x41, 0xE9, 0x20AC, 0x1F600},
         {0x41, 0xE9, 0x20AC, 0x1F600}},
        {"the first and last of each length",
         "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         {0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF},
         {0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}},
        {"a continuation byte where a sequence begins",
         "\x80"
         "A",
         {R, 0x41},
         {-1}},
        {"bytes that begin no sequence",
         "\xF8\xFF"
         "A",
         {R, R, 0x41},
         {-1}},
        {"a missing continuation byte",
         "A\xE2\x82"
         "B",
         {0x41, R, 0x42},
         {0x41, -1}},
        {"a sequence cut by the end of the text", "\xF0\x9F\x98", {R}, {-1}},
        {"overlong forms", "\xC0\xAF\xE0\x80\xAF\xF0\x80\x80\xAF", {R, R, R}, {-1}},
        {"encoded surrogates", "\xED\xA0\x80\xED\xBF\xBFx", {R, R, 0x78}, {-1}},
        {"above U+10FFFF", "\xF4\x90\x80\x80\xF7\xBF\xBF\xBF", {R, R}, {-1}},
    };
    for (const DecodeCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeAll(c.bytes, UTF8_SUBSTITUTE), c.substituted);
        EXPECT_EQ(decodeAll(c.bytes, UTF8_REFUSE), c.refused);
    }
}

TEST(DecodeUtf8, TheTerminatorEndsASequenceOfATerminatedText)
{
    const unsigned char text[] = {0xE2, 0x82, 0};
    size_t at = 0;
    EXPECT_EQ(decodeUtf8(text, SIZE_MAX, &at, UTF8_REFUSE), -1);
    EXPECT_EQ(decodeUtf8(text, SIZE_MAX, &at, UTF8_SUBSTITUTE), 0xFFFD);
    EXPECT_EQ(at, 2u);
}

TEST(HexDigit, DigitsOfEitherCaseAndNothingElse)
{
    const std::string digits = "0123456789abcdefABCDEF";
    const int values[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                          11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < digits.size(); i++)
        EXPECT_EQ(hexDigit(static_cast<unsigned char>(digits[i])), values[i]) << digits[i];
    for (unsigned long other :
         {0x2FUL, 0x3AUL, 0x40UL, 0x47UL, 0x60UL, 0x67UL, 0UL, 0xFF10UL, 0x130UL})
        EXPECT_EQ(hexDigit(other), -1) << other;
}

}  // namespace
