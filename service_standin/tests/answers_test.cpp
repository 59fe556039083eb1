// The stand-in's answers, as a caller of the service operations sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/iscsi_service.h"
#include "common/message_lookup.h"
#include "service_standin/standin_control.h"

namespace {

void load(const char *scenario)
{
    char error[256];
    ASSERT_TRUE(standinLoadScenario(scenario, error, sizeof error)) << error;
}

std::u16string wideOf(const WCHAR16 *text, size_t chars)
{
    return std::u16string(text, chars);
}

TEST(StandinAnswers, WithoutScenarioEveryCallFailsWith1722)
{
    standinReset();
    ISCSI_VERSION_INFO version = {7, 7, 7};
    WCHAR16 name[MAX_ISCSI_NAME_LEN + 1] = {u'x'};
    WCHAR16 list[16] = {};
    ULONG size = 16;
    ISCSI_TARGET_PORTALW portal = {};
    ISCSI_UNIQUE_SESSION_ID session = {};
    WCHAR16 target[] = u"t";
    EXPECT_EQ(1722u, GetIScsiVersionInformation(&version));
    EXPECT_EQ(1722u, GetIScsiInitiatorNodeNameW(name));
    EXPECT_EQ(1722u, ReportIScsiInitiatorListW(&size, list));
    EXPECT_EQ(1722u, AddIScsiSendTargetPortalW(nullptr, 0, nullptr, 0, &portal));
    EXPECT_EQ(1722u, RemoveIScsiSendTargetPortalW(nullptr, 0, &portal));
    EXPECT_EQ(1722u, ReportIScsiTargetsW(1, &size, list));
    EXPECT_EQ(1722u, GetIScsiTargetInformationW(target, nullptr, PortalGroups, &size, nullptr));
    EXPECT_EQ(1722u, LoginIScsiTargetW(target, 0, nullptr, 0, &portal, 0, nullptr, nullptr, 0,
                                       nullptr, 1, &session, &session));
    EXPECT_EQ(1722u, RemoveIScsiPersistentTargetW(nullptr, 0, target, &portal));
    // Failures leave the caller's buffers alone.
    EXPECT_EQ(7u, version.MajorVersion);
    EXPECT_EQ(u'x', name[0]);
    EXPECT_EQ(16u, size);
}

TEST(StandinAnswers, CallsBeyondTheScriptGetTheDefaultStatus)
{
    load("default 5\n"
         "default AddIScsiSendTargetPortalW 87\n"
         "AddIScsiSendTargetPortalW 0\n"
         "AddIScsiSendTargetPortalW 0xEFFF0100\n");
    ISCSI_TARGET_PORTALW portal = {};
    EXPECT_EQ(0u, AddIScsiSendTargetPortalW(nullptr, 0, nullptr, 0, &portal));
    EXPECT_EQ(0xEFFF0100u, AddIScsiSendTargetPortalW(nullptr, 0, nullptr, 0, &portal));
    EXPECT_EQ(87u, AddIScsiSendTargetPortalW(nullptr, 0, nullptr, 0, &portal));
    EXPECT_EQ(5u, RemoveIScsiSendTargetPortalW(nullptr, 0, &portal));
}

TEST(StandinAnswers, VersionAndNodeName)
{
    load("GetIScsiVersionInformation 0 u32 2 0 6000\n"
         "GetIScsiInitiatorNodeNameW 0 wide \"iqn.2026-01.test:host\"\n");
    ISCSI_VERSION_INFO version = {};
    ASSERT_EQ(0u, GetIScsiVersionInformation(&version));
    EXPECT_EQ(2u, version.MajorVersion);
    EXPECT_EQ(0u, version.MinorVersion);
    EXPECT_EQ(6000u, version.BuildNumber);
    WCHAR16 name[MAX_ISCSI_NAME_LEN + 1];
    memset(name, 0xFF, sizeof name);
    ASSERT_EQ(0u, GetIScsiInitiatorNodeNameW(name));
    EXPECT_EQ(std::u16string(u"iqn.2026-01.test:host"), std::u16string(name));
    // The rest of the buffer is filled (default 0), so nothing is left to chance.
    EXPECT_EQ(0, name[MAX_ISCSI_NAME_LEN]);
}

TEST(StandinAnswers, NodeNameNeverWritesPastItsBuffer)
{
    // 300 characters scripted; the buffer holds 224.
    std::string scenario = "GetIScsiInitiatorNodeNameW 0 chars \"" + std::string(300, 'n') + "\"\n";
    load(scenario.c_str());
    WCHAR16 name[MAX_ISCSI_NAME_LEN + 2];
    name[MAX_ISCSI_NAME_LEN + 1] = u'!';
    ASSERT_EQ(0u, GetIScsiInitiatorNodeNameW(name));
    EXPECT_EQ(u'n', name[MAX_ISCSI_NAME_LEN]);
    EXPECT_EQ(u'!', name[MAX_ISCSI_NAME_LEN + 1]);
}

TEST(StandinAnswers, Lists)
{
    struct Case {
        const char *scenario;
        ULONG room;
        ISDSC_STATUS status;
        ULONG returnedSize;
        std::u16string data;  // the first returnedSize characters, on success
    } cases[] = {
        {"ReportIScsiTargetsW 0 list \"a\" \"bc\"\n", 4096, 0, 6, std::u16string(u"a\0bc\0\0", 6)},
        {"ReportIScsiTargetsW 0 list\n", 4096, 0, 1, std::u16string(u"\0", 1)},
        {"ReportIScsiTargetsW 0\n", 4096, 0, 0, u""},
        // Exactly fits, then one character too few: 122 and the size needed.
        {"ReportIScsiTargetsW 0 list \"abc\"\n", 5, 0, 5, std::u16string(u"abc\0\0", 5)},
        {"ReportIScsiTargetsW 0 list \"abc\"\n", 4, 122, 5, u""},
        // A size claimed other than the real length.
        {"ReportIScsiTargetsW 0 size=9000 list \"abc\"\n", 4096, 0, 9000,
         std::u16string(u"abc\0\0", 5)},
        {"ReportIScsiTargetsW 0 size=2 list \"abc\"\n", 4096, 0, 2, u"ab"},
        {"ReportIScsiTargetsW 122 need=5000\n", 4096, 122, 5000, u""},
        {"ReportIScsiTargetsW 0 need=5000 list \"abc\"\n", 4096, 122, 5000, u""},
        {"ReportIScsiTargetsW 0xEFFF0100\n", 4096, 0xEFFF0100u, 4096, u""},
    };
    for (const Case &c : cases) {
        load(c.scenario);
        WCHAR16 buffer[4096];
        memset(buffer, 0xEE, sizeof buffer);
        ULONG size = c.room;
        EXPECT_EQ(c.status, ReportIScsiTargetsW(1, &size, buffer)) << c.scenario;
        EXPECT_EQ(c.returnedSize, size) << c.scenario;
        if (c.status == 0)
            EXPECT_EQ(c.data, wideOf(buffer, c.data.size())) << c.scenario;
    }
}

TEST(StandinAnswers, ListFillsOnlyTheRoomGiven)
{
    load("ReportIScsiInitiatorListW 0 fill=0x41 list \"Root\\ISCSIPRT\\0000_0\"\n");
    WCHAR16 buffer[40];
    buffer[30] = u'#';
    ULONG size = 30;
    ASSERT_EQ(0u, ReportIScsiInitiatorListW(&size, buffer));
    EXPECT_EQ(22u, size);
    EXPECT_EQ(std::u16string(u"Root\\ISCSIPRT\\0000_0"), std::u16string(buffer));
    EXPECT_EQ(0x4141, buffer[29]);
    EXPECT_EQ(u'#', buffer[30]);
}

// The target-information answers: what each call of a sequence returns.
TEST(StandinAnswers, SizedTargetInformation)
{
    struct Call {
        bool buffer;
        ULONG size;
        ISDSC_STATUS status;
        ULONG returnedSize;
    };
    struct Case {
        const char *name;
        const char *scenario;
        Call calls[4];
        int count;
    } cases[] = {
        {"data: 122 and the size, then the data",
         "GetIScsiTargetInformationW 0 u32 7\n",
         {{false, 0, 122, 4}, {true, 4, 0, 4}, {false, 0, 1722, 0}},
         3},
        {"a buffer too small is still 122",
         "GetIScsiTargetInformationW 0 u32 7\n",
         {{true, 3, 122, 4}, {true, 8, 0, 4}},
         2},
        {"no data: success at once with size 0",
         "GetIScsiTargetInformationW 0\n",
         {{false, 0, 0, 0}, {false, 0, 1722, 0}},
         2},
        {"a second 122 scripted after the first",
         "GetIScsiTargetInformationW 122 need=4\nGetIScsiTargetInformationW 122 need=8\n",
         {{false, 0, 122, 4}, {true, 4, 122, 8}},
         2},
        {"size claimed larger than the data",
         "GetIScsiTargetInformationW 0 need=1000 size=1000 u32 7\n",
         {{false, 0, 122, 1000}, {true, 1000, 0, 1000}},
         2},
        {"success without a buffer, claiming a size",
         "GetIScsiTargetInformationW 0 once size=100 u32 7\n",
         {{false, 0, 0, 100}, {false, 0, 1722, 0}},
         2},
        {"a failure answers one call",
         "GetIScsiTargetInformationW 0xEFFF0100\nGetIScsiTargetInformationW 0 u32 1\n",
         {{false, 0, 0xEFFF0100u, 0}, {false, 0, 122, 4}, {true, 4, 0, 4}},
         3},
    };
    for (const Case &c : cases) {
        load(c.scenario);
        WCHAR16 target[] = u"iqn.t";
        for (int i = 0; i < c.count; i++) {
            const Call &call = c.calls[i];
            unsigned char buffer[1000];
            memset(buffer, 0xEE, sizeof buffer);
            ULONG size = call.size;
            ISDSC_STATUS status = GetIScsiTargetInformationW(target, nullptr, ProtocolType, &size,
                                                             call.buffer ? buffer : nullptr);
            EXPECT_EQ(call.status, status) << c.name << ", call " << i;
            EXPECT_EQ(call.returnedSize, size) << c.name << ", call " << i;
            if (status == 0 && call.buffer) {
                ULONG value;
                memcpy(&value, buffer, 4);
                EXPECT_TRUE(value == 7 || value == 1) << c.name;
                // The room after the data is filled with 0, never beyond.
                for (ULONG b = 4; b < call.size; b++)
                    ASSERT_EQ(0, buffer[b]) << c.name << " byte " << b;
                if (call.size < sizeof buffer)
                    EXPECT_EQ(0xEE, buffer[call.size]) << c.name;
            }
        }
    }
}

TEST(StandinAnswers, PortalGroupsLayout)
{
    load("GetIScsiTargetInformationW 0\n"
         "  u32 3\n"
         "  group 1\n"
         "    portal \"192.0.2.1\" 3260 \"first\"\n"
         "  group 0\n"
         "  group 2 nopad\n"
         "    portal \"192.0.2.2\" 3260\n"
         "    portal \"192.0.2.3\" 3261\n");
    WCHAR16 target[] = u"iqn.t";
    ULONG size = 0;
    ASSERT_EQ(122u, GetIScsiTargetInformationW(target, nullptr, PortalGroups, &size, nullptr));
    // count, group of one padded to its stride, empty group, two portals unpadded
    ASSERT_EQ(4u + portalGroupStride(1) + portalGroupStride(0) + 4u + 2u * 1026u, size);
    unsigned char data[4 + 1032 + 4 + 4 + 2052];
    ASSERT_EQ(0u, GetIScsiTargetInformationW(target, nullptr, PortalGroups, &size, data));
    ULONG count;
    memcpy(&count, data, 4);
    EXPECT_EQ(3u, count);
    const unsigned char *group = data + 4;
    memcpy(&count, group, 4);
    EXPECT_EQ(1u, count);
    ISCSI_TARGET_PORTALW portal;
    memcpy(&portal, group + 4, sizeof portal);
    EXPECT_EQ(std::u16string(u"first"), std::u16string(portal.SymbolicName));
    EXPECT_EQ(std::u16string(u"192.0.2.1"), std::u16string(portal.Address));
    EXPECT_EQ(3260, portal.Socket);
    group += portalGroupStride(1);
    memcpy(&count, group, 4);
    EXPECT_EQ(0u, count);
    group += portalGroupStride(0);
    memcpy(&count, group, 4);
    EXPECT_EQ(2u, count);
    memcpy(&portal, group + 4 + 1026, sizeof portal);
    EXPECT_EQ(std::u16string(u"192.0.2.3"), std::u16string(portal.Address));
    EXPECT_EQ(3261, portal.Socket);
    EXPECT_EQ(std::u16string(u""), std::u16string(portal.SymbolicName));
}

TEST(StandinAnswers, LoginOptionsPointIntoTheCallersBuffer)
{
    load("GetIScsiTargetInformationW 0 loginoptions info=0xe0 flags=2 auth=1 "
         "username=\"iqn.user name\" password=\"pw\"\n"
         "GetIScsiTargetInformationW 0 loginoptions info=0x20 username=\"abc\" userptr=outside\n"
         "GetIScsiTargetInformationW 0 loginoptions info=0x20 userlen=5\n");
    WCHAR16 target[] = u"iqn.t";
    unsigned char data[512];

    ULONG size = sizeof data;
    ASSERT_EQ(0u, GetIScsiTargetInformationW(target, nullptr, LoginOptions, &size, data));
    ASSERT_EQ(sizeof(ISCSI_LOGIN_OPTIONS) + 13 + 2, size);
    ISCSI_LOGIN_OPTIONS options;
    memcpy(&options, data, sizeof options);
    EXPECT_EQ(0xE0u, options.InformationSpecified);
    EXPECT_EQ(2u, options.LoginFlags);
    EXPECT_EQ(ISCSI_CHAP_AUTH_TYPE, options.AuthType);
    EXPECT_EQ(13u, options.UsernameLength);
    EXPECT_EQ(data + sizeof options, options.Username);
    EXPECT_EQ(0, memcmp(options.Username, "iqn.user name", 13));
    EXPECT_EQ(2u, options.PasswordLength);
    EXPECT_EQ(data + sizeof options + 13, options.Password);

    size = sizeof data;
    ASSERT_EQ(0u, GetIScsiTargetInformationW(target, nullptr, LoginOptions, &size, data));
    memcpy(&options, data, sizeof options);
    EXPECT_EQ(3u, options.UsernameLength);
    EXPECT_TRUE(options.Username < data || options.Username >= data + sizeof data);
    EXPECT_EQ(nullptr, options.Password);

    size = sizeof data;
    ASSERT_EQ(0u, GetIScsiTargetInformationW(target, nullptr, LoginOptions, &size, data));
    memcpy(&options, data, sizeof options);
    EXPECT_EQ(5u, options.UsernameLength);
    EXPECT_EQ(nullptr, options.Username);
}

TEST(StandinAnswers, LoginIdentifiers)
{
    load("LoginIScsiTargetW 0 session=0x1234,0xffffffffffffffff connection=1,2\n"
         "LoginIScsiTargetW 0xEFFF0102 session=5,5\n");
    WCHAR16 target[] = u"iqn.t";
    ISCSI_TARGET_PORTALW portal = {};
    ISCSI_UNIQUE_SESSION_ID session = {};
    ISCSI_UNIQUE_CONNECTION_ID connection = {};
    ASSERT_EQ(0u, LoginIScsiTargetW(target, 0, nullptr, 0, &portal, 0, nullptr, nullptr, 0, nullptr,
                                    0, &session, &connection));
    EXPECT_EQ(0x1234u, session.AdapterUnique);
    EXPECT_EQ(0xFFFFFFFFFFFFFFFFu, session.AdapterSpecific);
    EXPECT_EQ(1u, connection.AdapterUnique);
    EXPECT_EQ(2u, connection.AdapterSpecific);
    EXPECT_EQ(0xEFFF0102u, LoginIScsiTargetW(target, 0, nullptr, 0, &portal, 0, nullptr, nullptr, 0,
                                             nullptr, 0, &session, &connection));
    EXPECT_EQ(0x1234u, session.AdapterUnique);  // a failure fills nothing
}

TEST(StandinMessages, TableTexts)
{
    struct Case {
        ULONG code;
        std::u16string text;  // empty: no rendering
    } cases[] = {
        {0xEFFF0100u, u"The target portal could not be reached. "},
        {0xEFFF0106u, u"The connection to the target was lost. The session will be recovered. "},
        {0xEFFF0105u, u""},  // asks for an insert argument
        {0xEFFF01FFu, u""},
        {1722u, u""},  // the system's, not the service's
    };
    for (const Case &c : cases) {
        WCHAR16 buffer[255];
        ULONG stored = lookupServiceMessage(c.code, 0, buffer, 255);
        EXPECT_EQ(c.text.size(), stored) << std::hex << c.code;
        if (stored > 0)
            EXPECT_EQ(c.text, std::u16string(buffer)) << std::hex << c.code;
    }
}

}  // namespace
