// Reading scenarios: what a scenario writer's mistakes are told as.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/iscsi_service.h"
#include "service_standin/standin_control.h"

namespace {

TEST(StandinScenario, ErrorsNameTheLine)
{
    const std::string longPortal =
        "GetIScsiTargetInformationW 0 portal \"" + std::string(257, 'a') + "\" 1\n";
    struct Case {
        const char *scenario;
        const char *error;
    } cases[] = {
        {"\n# comment\nNoSuchOperation 0\n", "line 3: unknown operation 'NoSuchOperation'"},
        {"GetIScsiVersionInformation\n", "line 1: GetIScsiVersionInformation needs a status"},
        {"GetIScsiVersionInformation zero\n", "line 1: 'zero' is not a number"},
        {"GetIScsiVersionInformation 0x100000000\n", "line 1: '0x100000000' is too large"},
        {"GetIScsiVersionInformation 0 u32 1 2 0x1FFFFFFFF\n",
         "line 1: '0x1FFFFFFFF' is too large"},
        {"GetIScsiVersionInformation 0 u8 256\n", "line 1: '256' is too large"},
        {"GetIScsiVersionInformation 0 words 1\n", "line 1: unknown data item 'words'"},
        {"GetIScsiInitiatorNodeNameW 0 wide \"open\n",
         "line 1: quoted text without its closing quote"},
        {"GetIScsiInitiatorNodeNameW 0 wide\n", "line 1: 'text item' needs a quoted text"},
        {"GetIScsiInitiatorNodeNameW 0 wide \"\xC3\"\n",
         "line 1: the quoted text is not valid UTF-8"},
        {"GetIScsiInitiatorNodeNameW 0 wide \"\xED\xA0\x80\"\n",
         "line 1: the quoted text is not valid UTF-8"},
        {"  u32 1\n", "line 1: an indented line continues the data of an answer, but none is open"},
        {"GetIScsiTargetInformationW 0\n  hex 0a0\n",
         "line 2: 'hex' needs pairs of hexadecimal digits"},
        {"GetIScsiTargetInformationW 0 bogus=1\n", "line 1: unknown option 'bogus'"},
        {"GetIScsiTargetInformationW 0 loginoptions colour=1\n",
         "line 1: loginoptions has no field 'colour'"},
        {"GetIScsiTargetInformationW 0 loginoptions username=abc\n",
         "line 1: username= needs a quoted text"},
        {"LoginIScsiTargetW 0 session=5\n",
         "line 1: identifiers are written as two numbers joined by a comma"},
        // A group must get its portals before anything else, here or on the
        // next answer's line.
        {"GetIScsiTargetInformationW 0 u32 1\n  group 2\n    portal \"a\" "
         "1\nAddIScsiSendTargetPortalW 0\n",
         "line 4: the group still needs 1 portal items"},
        {"GetIScsiTargetInformationW 0 group 1 u32 5\n",
         "line 1: the group still needs 1 portal items"},
        {"ReportIScsiTargetsW 0 u8 1\n",
         "line 1: ReportIScsiTargetsW: a list's data must be whole 16-bit characters"},
        // Options and data that the operation would never use.
        {"AddIScsiSendTargetPortalW 0 portal \"192.0.2.1\" 3260\n",
         "line 1: AddIScsiSendTargetPortalW takes no data"},
        {"\nLoginIScsiTargetW 0 fill=1\nLoginIScsiTargetW 0\n",
         "line 2: LoginIScsiTargetW takes no data"},
        {"GetIScsiVersionInformation 0 size=12 u32 1 2 3\n",
         "line 1: need= and size= are for lists and target information, not "
         "GetIScsiVersionInformation"},
        {"ReportIScsiTargetsW 0 once list\n",
         "line 1: once is for GetIScsiTargetInformationW, not ReportIScsiTargetsW"},
        {"GetIScsiTargetInformationW 0 session=1,2\n",
         "line 1: session= and connection= are for LoginIScsiTargetW, not "
         "GetIScsiTargetInformationW"},
        {"default\n", "line 1: write 'default STATUS' or 'default OPERATION STATUS'"},
        {"GetIScsiTargetInformationW 0 portal \"a\" 70000\n", "line 1: '70000' is too large"},
        {longPortal.c_str(), "line 1: a portal text of more than 256 characters"},
    };
    for (const Case &c : cases) {
        char error[256] = "untouched";
        EXPECT_FALSE(standinLoadScenario(c.scenario, error, sizeof error)) << c.scenario;
        EXPECT_STREQ(c.error, error) << c.scenario;
    }
}

TEST(StandinScenario, AFailedLoadLeavesNoScenario)
{
    char error[128];
    ASSERT_TRUE(standinLoadScenario("GetIScsiVersionInformation 0\n", error, sizeof error));
    EXPECT_FALSE(standinLoadScenario("GetIScsiVersionInformation 0\nOops\n", error, sizeof error));
    ISCSI_VERSION_INFO version;
    EXPECT_EQ(1722u, GetIScsiVersionInformation(&version));
}

TEST(StandinScenario, ErrorIsCutToItsRoom)
{
    char error[12];
    EXPECT_FALSE(standinLoadScenario("NoSuchOperation 0\n", error, sizeof error));
    EXPECT_STREQ("line 1: unk", error);
    EXPECT_FALSE(standinLoadScenario("NoSuchOperation 0\n", nullptr, 0));
}

// The example of README.md is a scenario that loads (and tells what it says).
TEST(StandinScenario, ReadmeExampleLoads)
{
    FILE *file = fopen(STANDIN_README, "rb");
    ASSERT_NE(nullptr, file);
    std::string readme;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        readme.append(chunk, got);
    fclose(file);
    size_t start = readme.find("### Example\n\n");
    ASSERT_NE(std::string::npos, start);
    start += 13;
    size_t end = readme.find("\n\n## ", start);
    std::string example;
    for (size_t at = start; at < end;) {
        size_t next = readme.find('\n', at);
        example += readme.substr(at + 4, next - at - 4) + "\n";  // drop the indent
        at = next + 1;
    }
    char error[256];
    ASSERT_TRUE(standinLoadScenario(example.c_str(), error, sizeof error)) << error << example;
    ISCSI_VERSION_INFO version = {};
    ASSERT_EQ(0u, GetIScsiVersionInformation(&version));
    EXPECT_EQ(6000u, version.BuildNumber);
}

}  // namespace
