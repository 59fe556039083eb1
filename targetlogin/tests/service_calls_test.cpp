// The routines that talk to the service, run in-process over the scripted
// stand-in: the arguments each call carries, the sizing rule, and list
// answers that claim more than the buffers hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "service_standin/standin_control.h"
#include "targetlogin/targetlogin.h"

namespace {

void load(const std::string &scenario)
{
    char error[256];
    ASSERT_TRUE(standinLoadScenario(scenario.c_str(), error, sizeof error)) << error;
}

std::vector<std::string> logLines()
{
    std::vector<std::string> lines;
    std::string log = standinCallLog();
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(log.substr(start, end - start));
    return lines;
}

std::u16string wide(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

const char kPortal[] = "portal=(symbolic=\"\" address=\"192.0.2.1\" socket=3260)";

struct RegisterCase {
    const char *name;
    const char *secret;        // -t, or null
    const char16_t *instance;  // the chosen initiator instance, or null
    std::string address;
    const char16_t *portText;
    ULONG initiatorPort;
    const char *scenario;
    ISDSC_STATUS expected;
    std::vector<std::string> log;
};

std::vector<RegisterCase> registerCases()
{
    const std::string noOptions = "options=(none) security=0x0 ";
    const std::string address255(255, 'a');
    return {
        {"no secret: no login options; the add succeeds, no removal",
         nullptr,
         nullptr,
         "192.0.2.1",
         u"3260",
         ISCSI_ANY_INITIATOR_PORT,
         "AddIScsiSendTargetPortalW 0\n",
         0,
         {"AddIScsiSendTargetPortalW instance=(none) port=0xffffffff " + noOptions + kPortal +
          " -> 0"}},
        {"a 12-character secret: CHAP options, no user name",
         "twelve-chars",
         u"Root\\ISCSIPRT\\0000_0",
         "192.0.2.1",
         u"0xCBC",
         2,
         "AddIScsiSendTargetPortalW 0\n",
         0,
         {"AddIScsiSendTargetPortalW instance=\"Root\\ISCSIPRT\\0000_0\" port=0x2 "
          "options=(version=0 "
          "info=0xe0 flags=0x2 auth=1 header=0 data=0 maxconn=0 wait=0 retain=0 userlen=0 "
          "username=(none) passlen=12 password=\"twelve-chars\") security=0x0 " +
          std::string(kPortal) + " -> 0"}},
        {"an empty secret: CHAP options with password length 0",
         "",
         nullptr,
         "192.0.2.1",
         u"3260",
         0,
         "AddIScsiSendTargetPortalW 0\n",
         0,
         {"AddIScsiSendTargetPortalW instance=(none) port=0x0 options=(version=0 info=0xe0 "
          "flags=0x2 "
          "auth=1 header=0 data=0 maxconn=0 wait=0 retain=0 userlen=0 username=(none) passlen=0 "
          "password=\"\") security=0x0 " +
          std::string(kPortal) + " -> 0"}},
        {"a failed add is removed with the same arguments, its status returned",
         nullptr,
         u"Root\\X",
         "192.0.2.1",
         u"3260",
         7,
         "AddIScsiSendTargetPortalW 0xEFFF0100\nRemoveIScsiSendTargetPortalW 0\n",
         0xEFFF0100u,
         {"AddIScsiSendTargetPortalW instance=\"Root\\X\" port=0x7 " + noOptions + kPortal +
              " -> 0xefff0100",
          "RemoveIScsiSendTargetPortalW instance=\"Root\\X\" port=0x7 " + std::string(kPortal) +
              " -> 0"}},
        {"the socket is the low 16 bits of the port text",
         nullptr,
         nullptr,
         "h",
         u"70000",
         ISCSI_ANY_INITIATOR_PORT,
         "AddIScsiSendTargetPortalW 0\n",
         0,
         {"AddIScsiSendTargetPortalW instance=(none) port=0xffffffff " + noOptions +
          "portal=(symbolic=\"\" address=\"h\" socket=4464) -> 0"}},
        {"an address of 255 characters reaches the service",
         nullptr,
         nullptr,
         address255,
         u"abc",
         ISCSI_ANY_INITIATOR_PORT,
         "AddIScsiSendTargetPortalW 0\n",
         0,
         {"AddIScsiSendTargetPortalW instance=(none) port=0xffffffff " + noOptions +
          "portal=(symbolic=\"\" address=\"" + address255 + "\" socket=0) -> 0"}},
        {"an address of 256 characters: 87 and no call",
         nullptr,
         nullptr,
         std::string(256, 'a'),
         u"3260",
         ISCSI_ANY_INITIATOR_PORT,
         "AddIScsiSendTargetPortalW 0\n",
         87,
         {}},
    };
}

TEST(RegisterPortal, ArgumentsOfTheAddAndTheRemoval)
{
    for (const RegisterCase &c : registerCases()) {
        SCOPED_TRACE(c.name);
        load(c.scenario);
        resetConnectOptions(&connectOptions);
        connectOptions.chapSecret = c.secret;
        connectOptions.initiatorInstance = c.instance;
        std::u16string address = wide(c.address);
        EXPECT_EQ(registerPortal(address.c_str(), c.portText, c.initiatorPort), c.expected);
        EXPECT_EQ(logLines(), c.log);
    }
}

TEST(QueryTargetInformation, SizingRule)
{
    const std::u16string target = u"t";
    struct SizingCase {
        const char *name;
        const char *scenario;
        ISDSC_STATUS status;
        ULONG size;
        std::vector<unsigned char> data;
        std::vector<std::string> sizes;  // "size=IN -> STATUS size=OUT" of each call
    };
    const SizingCase cases[] = {
        {"122, then the data in a buffer of the size asked for",
         "GetIScsiTargetInformationW 0 u32 7",
         0,
         4,
         {7, 0, 0, 0},
         {"size=0 buffer=(none) -> 122 size=4", "size=4 buffer=out -> 0 size=4"}},
        {"0 at once: no data",
         "GetIScsiTargetInformationW 0",
         0,
         0,
         {},
         {"size=0 buffer=(none) -> 0 size=0"}},
        {"a second 122 is a failure; there is no third call",
         "GetIScsiTargetInformationW 122 need=4\nGetIScsiTargetInformationW 122 need=8\n"
         "GetIScsiTargetInformationW 0 u32 1",
         122,
         0,
         {},
         {"size=0 buffer=(none) -> 122 size=4", "size=4 buffer=out -> 122 size=8"}},
        {"any other first status is the result",
         "GetIScsiTargetInformationW 0xEFFF0101",
         0xEFFF0101u,
         0,
         {},
         {"size=0 buffer=(none) -> 0xefff0101 size=0"}},
        {"a claimed size beyond the buffer is cut to it",
         "GetIScsiTargetInformationW 0 size=4000 u32 9",
         0,
         4,
         {9, 0, 0, 0},
         {"size=0 buffer=(none) -> 122 size=4", "size=4 buffer=out -> 0 size=4000"}},
    };
    for (const SizingCase &c : cases) {
        SCOPED_TRACE(c.name);
        load(c.scenario);
        ULONG size = 12345;
        unsigned char *data = reinterpret_cast<unsigned char *>(&size);
        ISDSC_STATUS status =
            queryTargetInformation(target.c_str(), nullptr, TargetFlags, &size, &data);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(size, c.size);
        if (c.data.empty()) {
            EXPECT_EQ(data, nullptr);
        } else {
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(std::vector<unsigned char>(data, data + size), c.data);
        }
        free(data);
        std::vector<std::string> lines = logLines();
        ASSERT_EQ(lines.size(), c.sizes.size());
        for (size_t i = 0; i < lines.size(); i++)
            EXPECT_EQ(
                lines[i],
                "GetIScsiTargetInformationW target=\"t\" mechanism=(none) class=TargetFlags " +
                    c.sizes[i]);
    }
}

std::string runCaptured(std::vector<const char *> arguments)
{
    std::vector<char *> argv;
    for (const char *argument : arguments)
        argv.push_back(const_cast<char *>(argument));
    testing::internal::CaptureStdout();
    int code = runTargetLogin(static_cast<int>(argv.size()), argv.data());
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    return std::to_string(code) + "|" + output;
}

TEST(ListWalks, ClaimedSizesBeyondTheBuffersStopAtTheirEnd)
{
    // Both lists fill all 4096 characters without a terminator and claim
    // more; each walk takes the one text that ends at the buffer's end.
    const std::string instance = "Root\\" + std::string(4091, 'i');
    const std::string target = std::string(4096, 't');
    load("GetIScsiInitiatorNodeNameW 0 wide \"n\"\n"
         "ReportIScsiInitiatorListW 0 size=9000 chars \"" +
         instance +
         "\"\n"
         "AddIScsiSendTargetPortalW 0\n"
         "ReportIScsiTargetsW 0 size=0xFFFFFFFF chars \"" +
         target +
         "\"\n"
         "GetIScsiTargetInformationW 0xEFFF0101\n");
    EXPECT_EQ(runCaptured({"targetlogin", "192.0.2.1"}),
              "0|n\n" + instance + "\nGet Target information for " + target + "\n");
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 6u);
    const std::string add = "AddIScsiSendTargetPortalW instance=\"" + instance + "\" port";
    EXPECT_EQ(lines[3].substr(0, add.size()), add);
    const std::string query = "GetIScsiTargetInformationW target=\"" + target + "\" mech";
    EXPECT_EQ(lines[5].substr(0, query.size()), query);
}

TEST(ListWalks, TextsThatBeginBelowTheReturnedCountAreTakenWhole)
{
    // The service says it returned 5 characters: the text that begins at 0
    // is taken up to its terminator, the one after the count is not looked at.
    load("GetIScsiInitiatorNodeNameW 0 wide \"n\"\n"
         "ReportIScsiInitiatorListW 0 size=5 chars \"Root\\A\" u16 0 wide \"Root\\B\"\n");
    EXPECT_EQ(runCaptured({"targetlogin", "-a"}), "0|n\nRoot\\A\n");
}

struct UserNameCase {
    const char16_t *target;
    std::string expected;
};

TEST(ChapUserName, TargetNameAsBytes)
{
    const UserNameCase cases[] = {
        {u"iqn.2026-01.test:disk1", "iqn.2026-01.test:disk1"},
        {u"", ""},
        {u"caf\u00e9-\u20ac", "caf\xc3\xa9-\xe2\x82\xac"},  // UTF-8, as the protocol carries names
    };
    for (const UserNameCase &c : cases) {
        char out[256];
        ULONG length = chapUserName(c.target, out, sizeof out);
        EXPECT_EQ(std::string(out, length), c.expected);
        EXPECT_EQ(out[length], 0);
    }

    // Cut to the first 255 bytes, never in the middle of a character.
    std::u16string longName(300, u'a');
    char out[256];
    EXPECT_EQ(chapUserName(longName.c_str(), out, sizeof out), 255u);
    std::u16string nearEnd = std::u16string(254, u'a') + u"\u00e9";
    EXPECT_EQ(chapUserName(nearEnd.c_str(), out, sizeof out), 254u);
    EXPECT_EQ(std::string(out), std::string(254, 'a'));
}

}  // namespace

namespace {

const char kPreamble[] = "GetIScsiInitiatorNodeNameW 0 wide \"n\"\n"
                         "ReportIScsiInitiatorListW 0 list\n"
                         "AddIScsiSendTargetPortalW 0\n"
                         "ReportIScsiTargetsW 0 list \"t\"\n";

TEST(ReportTarget, LoginOptionsOnlyAsAWholeRecordOfThisBuild)
{
    // One byte short of this build's record prints nothing (in a 64-bit
    // build that is more than the 52 bytes of the 32-bit layout); a whole
    // record is rendered.
    const size_t record = sizeof(ISCSI_LOGIN_OPTIONS);
    const std::string head =
        "n\n(null)\nGet Target information for t\nDiscovery Mechanism: ST\n"
        "    Protocol Type        : iSCSI TCP Protocol\n    Target Alias         : a\n"
        "    PortalGroups         : <This List Is Empty>\n    Initiator Name       : <Empty>\n";
    const struct {
        size_t bytes;
        std::string rendered;
    } cases[] = {
        {record - 1, ""},
        {record, "    Version              : 0\n    Information Specified: 0x0\n"
                 "    Login Flags          : 0x0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        load(std::string(kPreamble) +
             "GetIScsiTargetInformationW 0 list \"ST\"\n"
             "GetIScsiTargetInformationW 0 u32 0\n"
             "GetIScsiTargetInformationW 0 wide \"a\"\n"
             "GetIScsiTargetInformationW 0\n"
             "GetIScsiTargetInformationW 0\n"
             "GetIScsiTargetInformationW 0 u16 1\n"  // flags of 2 bytes: no line
             "GetIScsiTargetInformationW 0 zeros " +
             std::to_string(c.bytes) + "\n");
        EXPECT_EQ(runCaptured({"targetlogin", "192.0.2.1"}), "0|" + head + c.rendered);
    }
}

TEST(ReportTarget, UnterminatedTextsEndAtTheData)
{
    // Mechanism, alias and initiator name without their terminators: each
    // text ends with the data, and the copies serve the later calls.
    load(std::string(kPreamble) +
         "GetIScsiTargetInformationW 0 chars \"ST\"\n"
         "GetIScsiTargetInformationW 0 u8 0\n"                     // a protocol code of one byte
         "GetIScsiTargetInformationW 0 chars \"alias\" u8 0x41\n"  // and half a character
         "GetIScsiTargetInformationW 0\n"
         "    u32 1\n"
         "    group 1\n"
         "      portal \"192.0.2.1\" 3260\n"
         "GetIScsiTargetInformationW 0 chars \"Root\\Z\"\n"
         "GetIScsiTargetInformationW 0 u32 0\n"
         "GetIScsiTargetInformationW 0 zeros 8\n"
         "RemoveIScsiPersistentTargetW 0\n"
         "LoginIScsiTargetW 0\n"
         "LoginIScsiTargetW 0\n");
    EXPECT_EQ(runCaptured({"targetlogin", "192.0.2.1"}),
              "0|n\n(null)\nGet Target information for t\nDiscovery Mechanism: ST\n"
              "    Protocol Type        : Unknown\n    Target Alias         : alias\n"
              "    PortalGroups         : 1 portal groups\n        Group 0 has 1 portals\n"
              "            Address and Socket    : 192.0.2.1 3260\n"
              "            Symbolic Name         : \n"
              "    Initiator Name       : Root\\Z\n    Target Flags         : 0x0\n"
              ">           Address and Socket    : 192.0.2.1 3260\n"
              "LoginTarget to t on Root\\Z to 192.0.2.1/3260\n"
              "Session Id is 0x0-0x0\nConnection Id is 0x0-0x0\nConnection complete\n");
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 22u);
    const std::string protocol =
        "GetIScsiTargetInformationW target=\"t\" mechanism=\"ST\" class=ProtocolType";
    EXPECT_EQ(lines[7].substr(0, protocol.size()), protocol);
    const std::string removal = "RemoveIScsiPersistentTargetW instance=\"Root\\Z\" port";
    EXPECT_EQ(lines[19].substr(0, removal.size()), removal);
}

}  // namespace

namespace {

TEST(NodeName, FillingItsBufferAndBeyondOneByteACharacter)
{
    // A name that fills all 224 characters without a terminator is cut to
    // its first 223; the "Running on node" line shows a character above 255
    // as '?'.
    const std::string full(MAX_ISCSI_NAME_LEN + 1, 'n');
    load("GetIScsiInitiatorNodeNameW 0 chars \"" + full +
         "\"\n"
         "ReportIScsiInitiatorListW 0 list\n"
         "GetIScsiInitiatorNodeNameW 0 wide \"a\\u{0101}b\\x{e9}\"\n");
    EXPECT_EQ(
        runCaptured({"targetlogin"}),
        "2|" + full.substr(0, MAX_ISCSI_NAME_LEN) +
            "\n(null)\nRunning on node a?b\xe9\n\n"
            "usage: targetlogin ipaddress [-p tcpPort] [-a] ... [-t targetCHAP] [-h host_iqn_name\n"
            "       tcpPort defaults to 3260\n");
}

}  // namespace
