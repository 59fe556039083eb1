#include <gtest/gtest.h>

#include <string>

#include "common/message_lookup.h"
#include "common/status_text.h"

namespace {

// A service table for these tests: texts of 254 and 255 characters around the
// lookup's fixed room of 255, and a text that asks for an insert.
const std::string kText254 = std::string(252, 'x') + ".\r\n";  // renders 254 characters
const std::string kText255 = std::string(253, 'y') + ".\r\n";  // renders 255 characters

const MessageTableEntry kServiceTable[] = {
    {0xEFFF0001u, "The target has no discovery mechanism.\r\n"},
    {0xEFFF0002u, kText254.c_str()},
    {0xEFFF0003u, kText255.c_str()},
    {0xEFFF0004u, "Portal %1 is unreachable.\r\n"},
    {0xEFFF0005u, "Two lines\r\nof text.\r\n"},
    {0xEFFF0006u, "100%% sure%0 not shown"},
    {87u, "Service's own text for 87.\r\n"},
};

}  // namespace

extern "C" ULONG lookupServiceMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    EXPECT_EQ(0u, languageId);
    EXPECT_EQ(255u, room);
    return lookupMessageTable(kServiceTable, sizeof kServiceTable / sizeof kServiceTable[0], code,
                              buffer, room);
}

namespace {

std::u16string formatted(ISDSC_STATUS status)
{
    WCHAR16 buffer[STATUS_TEXT_CHARS];
    WCHAR16 *result = formatStatus(buffer, STATUS_TEXT_CHARS, status);
    EXPECT_EQ(buffer, result);
    return std::u16string(result);
}

TEST(FormatStatus, Texts)
{
    struct Case {
        ISDSC_STATUS status;
        std::u16string text;
    } cases[] = {
        // The stored line break becomes one blank.
        {0xEFFF0001u, u"The target has no discovery mechanism. "},
        {0xEFFF0005u, u"Two lines of text. "},
        {0xEFFF0006u, u"100% sure"},
        // The service's table comes before the system's.
        {87u, u"Service's own text for 87. "},
        // The system's table.
        {122u, u"The data area passed to a system call is too small. "},
        {8u, u"Not enough memory resources are available to process this command. "},
        // No table has it: the fallback, lower-case hexadecimal.
        {0xEFFFABCDu, u"Status: 0xefffabcd"},
        {0x7FFu, u"Status: 0x7ff"},
        // Inserts are never read: fallback.
        {0xEFFF0004u, u"Status: 0xefff0004"},
        // 254 characters and a terminator fit the room of 255; 255 do not,
        // although the caller's buffer has 260 slots.
        {0xEFFF0002u, std::u16string(252, u'x') + u". "},
        {0xEFFF0003u, u"Status: 0xefff0003"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.text, formatted(c.status)) << std::hex << c.status;
}

TEST(RenderMessageText, StopsAtRoom)
{
    WCHAR16 buffer[8];
    EXPECT_EQ(6u, renderMessageText("abcdef", buffer, 7));
    EXPECT_EQ(0u, renderMessageText("abcdefg", buffer, 7));
    EXPECT_EQ(0u, renderMessageText("a", buffer, 0));
}

TEST(RenderMessageText, DecodesUtf8)
{
    WCHAR16 buffer[16];
    ASSERT_EQ(4u, renderMessageText("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", buffer, 16));
    EXPECT_EQ(std::u16string(u"\u00e9\u20ac\U0001F600"), std::u16string(buffer));
}

}  // namespace
