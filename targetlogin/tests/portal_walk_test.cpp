// The walk of portal-group data: the stride rule, the byte account, the
// PortalTable, and data whose counts claim more than it holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "targetlogin/targetlogin.h"

namespace {

// Portal-group data as the service lays it out, built a field at a time.
struct GroupData {
    std::vector<unsigned char> bytes;

    void u32(ULONG value)
    {
        unsigned char raw[4];
        memcpy(raw, &value, 4);
        bytes.insert(bytes.end(), raw, raw + 4);
    }
    void portal(const std::string &address, USHORT socket, const std::string &symbolic = "")
    {
        ISCSI_TARGET_PORTALW record;
        memset(&record, 0, sizeof record);
        for (size_t i = 0; i < address.size() && i < 256; i++)
            record.Address[i] = static_cast<WCHAR16>(address[i]);
        for (size_t i = 0; i < symbolic.size() && i < 256; i++)
            record.SymbolicName[i] = static_cast<WCHAR16>(symbolic[i]);
        record.Socket = socket;
        const unsigned char *raw = reinterpret_cast<const unsigned char *>(&record);
        bytes.insert(bytes.end(), raw, raw + sizeof record);
    }
    // Fill up to the group's full stride.
    void pad(size_t groupStart, ULONG portalCount)
    {
        bytes.resize(groupStart + portalGroupStride(portalCount), 0xEE);
    }
    // A whole group of portals "10.0.0.<first + k>", sockets 3260 + k.
    void group(ULONG count, int first)
    {
        size_t start = bytes.size();
        u32(count);
        for (ULONG k = 0; k < count; k++)
            portal("10.0.0." + std::to_string(first + static_cast<int>(k)),
                   static_cast<USHORT>(3260 + k));
        pad(start, count);
    }
};

std::string portalLines(const std::string &address, int socket, const std::string &symbolic = "")
{
    return "            Address and Socket    : " + address + " " + std::to_string(socket) +
           "\n            Symbolic Name         : " + symbolic + "\n";
}

std::string groupLine(int group, long long portals)
{
    return "        Group " + std::to_string(group) + " has " + std::to_string(portals) +
           " portals\n";
}

// Runs the walk as the report does: the group count from the first 4 bytes,
// the groups after them, the whole size as the account.
std::string walk(const GroupData &data)
{
    emptyPortalTable();
    ULONG groupCount;
    memcpy(&groupCount, data.bytes.data(), 4);
    // Exactly the bytes of the data on the heap, so that the sanitizer sees
    // any read past their end.
    std::vector<unsigned char> exact(data.bytes);
    exact.shrink_to_fit();
    testing::internal::CaptureStdout();
    walkPortalGroups(groupCount, exact.data() + 4, static_cast<ULONG>(exact.size()));
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string tableAddress(int entry)
{
    std::string text;
    for (const WCHAR16 *at = portalTable.entries[entry].address; *at != 0; at++)
        text.push_back(static_cast<char>(*at));
    return text;
}

int recordedPortals()
{
    int count = 0;
    while (count < PORTAL_TABLE_ENTRIES && portalTable.entries[count].socket != 0)
        count++;
    return count;
}

TEST(WalkPortalGroups, StrideRuleAcrossGroups)
{
    GroupData data;
    data.u32(3);
    data.group(1, 1);
    data.group(0, 0);  // no portals: the next group starts 4 bytes on
    size_t start = data.bytes.size();
    data.u32(2);
    data.portal("10.0.0.2", 3260, "first");
    data.portal("10.0.0.3", 0xCBD, "second");
    data.pad(start, 2);

    EXPECT_EQ(walk(data), groupLine(0, 1) + portalLines("10.0.0.1", 3260) + groupLine(1, 0) +
                              groupLine(2, 2) + portalLines("10.0.0.2", 3260, "first") +
                              portalLines("10.0.0.3", 3261, "second"));
    ASSERT_EQ(recordedPortals(), 3);
    EXPECT_EQ(tableAddress(0), "10.0.0.1");
    EXPECT_EQ(tableAddress(2), "10.0.0.3");
    EXPECT_EQ(portalTable.entries[2].socket, 3261);
}

TEST(WalkPortalGroups, TwentyPortalsPrintedSixteenRecorded)
{
    GroupData data;
    data.u32(5);
    std::string expected;
    for (int g = 0; g < 5; g++) {
        data.group(4, 4 * g);
        expected += groupLine(g, 4);
        for (int k = 0; k < 4; k++)
            expected += portalLines("10.0.0." + std::to_string(4 * g + k), 3260 + k);
    }
    EXPECT_EQ(walk(data), expected);
    EXPECT_EQ(recordedPortals(), 16);
    EXPECT_EQ(tableAddress(15), "10.0.0.15");
}

TEST(WalkPortalGroups, ShortLastGroupIsWalkedInFull)
{
    // Three portals, the data ending right after the last record: 2 bytes
    // short of the stride, which the account's 4 extra bytes cover.
    GroupData data;
    data.u32(1);
    data.u32(3);
    for (int k = 0; k < 3; k++)
        data.portal("192.0.2." + std::to_string(k), 3260);
    ASSERT_EQ(data.bytes.size(), 4u + 4u + 3u * 1026u);

    EXPECT_EQ(walk(data), groupLine(0, 3) + portalLines("192.0.2.0", 3260) +
                              portalLines("192.0.2.1", 3260) + portalLines("192.0.2.2", 3260));
    EXPECT_EQ(recordedPortals(), 3);
}

// Counts that claim more than the data holds: the walk ends at the data's
// end and records only whole portals inside it.
struct ShortDataCase {
    const char *name;
    GroupData data;
    std::string expected;
    int recorded;
};

std::vector<ShortDataCase> shortDataCases()
{
    std::vector<ShortDataCase> cases;

    ShortDataCase beyond = {"a group count beyond the groups present", {}, "", 1};
    beyond.data.u32(1000000);
    beyond.data.group(1, 7);
    beyond.expected = groupLine(0, 1) + portalLines("10.0.0.7", 3260);
    cases.push_back(beyond);

    ShortDataCase huge = {"a portal count whose stride would wrap in 32 bits", {}, "", 0};
    huge.data.u32(1);
    huge.data.u32(0x80000000u);  // 0x80000000 * 1026 + 9 wraps to 9 in 32-bit arithmetic
    huge.data.portal("10.9.9.9", 3260);
    huge.expected = groupLine(0, -2147483648LL);
    cases.push_back(huge);

    ShortDataCase cut = {"a last record cut short inside the account's slack", {}, "", 1};
    cut.data.u32(2);
    cut.data.group(1, 1);
    cut.data.u32(1);
    cut.data.portal("10.0.0.2", 3260);
    cut.data.bytes.resize(cut.data.bytes.size() - 2);  // the socket is missing
    cut.expected = groupLine(0, 1) + portalLines("10.0.0.1", 3260) + groupLine(1, 1);
    cases.push_back(cut);

    ShortDataCase counts = {"a group count with no room for a portal count", {}, "", 0};
    counts.data.u32(2);
    counts.data.bytes.push_back(1);  // three bytes where a count would be
    counts.data.bytes.push_back(0);
    counts.data.bytes.push_back(0);
    cases.push_back(counts);

    ShortDataCase many = {"empty groups past the end of the data", {}, "", 0};
    many.data.u32(0xFFFFFFFFu);
    many.data.u32(0);
    many.data.u32(0);
    many.expected = groupLine(0, 0) + groupLine(1, 0);
    cases.push_back(many);
    return cases;
}

TEST(WalkPortalGroups, CountsBeyondTheDataEndTheWalk)
{
    for (const ShortDataCase &c : shortDataCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(walk(c.data), c.expected);
        EXPECT_EQ(recordedPortals(), c.recorded);
    }
}

TEST(WalkPortalGroups, AddressFillingItsFieldStaysInside)
{
    // 256 characters and no terminator: printed and recorded no further
    // than the field, the recorded copy still a terminated text.
    GroupData data;
    data.u32(1);
    data.u32(1);
    std::string address(256, 'a');
    data.portal(address, 3260, std::string(256, 's'));
    data.pad(4, 1);

    EXPECT_EQ(walk(data), groupLine(0, 1) + portalLines(address, 3260, std::string(256, 's')));
    ASSERT_EQ(recordedPortals(), 1);
    EXPECT_EQ(tableAddress(0), address);
}

}  // namespace
