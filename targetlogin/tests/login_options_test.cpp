// Rendering of login-options records and their user-name hex dump, checked
// on the whole output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "targetlogin/targetlogin.h"

namespace {

const std::string k26(26, ' ');

std::string blanks(size_t count)
{
    return std::string(count, ' ');
}

std::string renderOptions(const ISCSI_LOGIN_OPTIONS &options)
{
    testing::internal::CaptureStdout();
    printLoginOptions("    ", &options);
    fflush(stdout);  // an open label line has no line end to flush it
    return testing::internal::GetCapturedStdout();
}

std::string renderDump(const char *prefix, const unsigned char *bytes, ULONG count)
{
    testing::internal::CaptureStdout();
    dumpBytes(prefix, bytes, count);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

ISCSI_LOGIN_OPTIONS record(ULONG mask, ULONG loginFlags)
{
    ISCSI_LOGIN_OPTIONS options;
    memset(&options, 0, sizeof options);
    options.InformationSpecified = mask;
    options.LoginFlags = loginFlags;
    return options;
}

// Codes the enumerations do not name arrive as raw 32-bit values.
void setCode(void *field, ULONG code)
{
    memcpy(field, &code, sizeof code);
}

unsigned char kName20[] = "iqn.2026-01.test:abc";
unsigned char kName16[] = "iqn.2026-01.test";
unsigned char kOddBytes[] = {'a', ' ', 0x7F, 0x00, 0xFF, 'z'};

struct OptionsCase {
    const char *name;
    ISCSI_LOGIN_OPTIONS options;
    std::string expected;
};

std::vector<OptionsCase> optionsCases()
{
    std::vector<OptionsCase> cases;

    cases.push_back({"mask 0: version, mask and login flags only", record(0, 0x2),
                     "    Version              : 0\n"
                     "    Information Specified: 0x0\n"
                     "    Login Flags          : 0x2\n"
                     "                           Multipath Enabled\n"});

    ISCSI_LOGIN_OPTIONS chap = record(0xE0, 0x2);
    setCode(&chap.AuthType, 1);
    chap.Username = kName20;
    chap.UsernameLength = 20;
    chap.Password = nullptr;  // never read
    chap.PasswordLength = 12;
    cases.push_back({"CHAP with a 20-byte user name: two rows", chap,
                     "    Version              : 0\n"
                     "    Information Specified: 0xe0\n"
                     "    Login Flags          : 0x2\n"
                     "                           Multipath Enabled\n"
                     "    Authentication Type  : CHAP\n"
                     "    Username             : \n" +
                         k26 +
                         "69 71 6e 2e 32 30 32 36 2d 30 31 2e 74 65 73 74     iqn.2026-01.test\n" +
                         k26 + "3a 61 62 63 " + blanks(36) + "    :abc\n" +
                         "    Password             : <is established>\n"});

    ISCSI_LOGIN_OPTIONS full = record(0x20, 0);
    full.Username = kName16;
    full.UsernameLength = 16;
    cases.push_back({"a user name of exactly 16 bytes: one full row", full,
                     "    Version              : 0\n"
                     "    Information Specified: 0x20\n"
                     "    Login Flags          : 0x0\n"
                     "    Username             : \n" +
                         k26 +
                         "69 71 6e 2e 32 30 32 36 2d 30 31 2e 74 65 73 74     iqn.2026-01.test\n"});

    ISCSI_LOGIN_OPTIONS empty = record(0x20, 0);
    empty.Username = kName16;
    empty.UsernameLength = 0;
    cases.push_back({"user-name bit with length 0: label, no row", empty,
                     "    Version              : 0\n"
                     "    Information Specified: 0x20\n"
                     "    Login Flags          : 0x0\n"
                     "    Username             : \n"});

    ISCSI_LOGIN_OPTIONS absent = record(0x20, 0);
    absent.Username = nullptr;
    absent.UsernameLength = 5;
    cases.push_back({"an absent user name with a length: label, no row", absent,
                     "    Version              : 0\n"
                     "    Information Specified: 0x20\n"
                     "    Login Flags          : 0x0\n"
                     "    Username             : \n"});

    ISCSI_LOGIN_OPTIONS openDigest = record(0x3, 0);
    setCode(&openDigest.HeaderDigest, 2);
    setCode(&openDigest.DataDigest, 7);
    cases.push_back(
        {"unknown digest codes leave their lines open", openDigest,
         "    Version              : 0\n"
         "    Information Specified: 0x3\n"
         "    Header Digest        :     Data Digest          :     Login Flags          : 0x0\n"});

    ISCSI_LOGIN_OPTIONS unknownAuth = record(0x80, 0);
    setCode(&unknownAuth.AuthType, 5);
    cases.push_back({"unknown authentication type", unknownAuth,
                     "    Version              : 0\n"
                     "    Information Specified: 0x80\n"
                     "    Login Flags          : 0x0\n"
                     "    Authentication Type  : Unknown - 5\n"});

    ISCSI_LOGIN_OPTIONS every = record(0xFF, 0x3);
    every.Version = 0xFFFFFFFFu;  // %d prints the fields signed
    setCode(&every.HeaderDigest, 1);
    setCode(&every.DataDigest, 0);
    every.MaximumConnections = 0x80000000u;
    every.DefaultTime2Wait = 2;
    every.DefaultTime2Retain = 20;
    setCode(&every.AuthType, 2);
    every.Username = kOddBytes;
    every.UsernameLength = sizeof kOddBytes;
    cases.push_back({"every field, both login flags, unprintable bytes", every,
                     "    Version              : -1\n"
                     "    Information Specified: 0xff\n"
                     "    Header Digest        : CRC-32C\n"
                     "    Data Digest          : None\n"
                     "    Maximum Connections  : -2147483648\n"
                     "    Default Time 2 Wait  : 2\n"
                     "    Default Time 2 Retain: 20\n"
                     "    Login Flags          : 0x3\n"
                     "                           Require IPsec\n"
                     "                           Multipath Enabled\n"
                     "    Authentication Type  : Mutual CHAP\n"
                     "    Username             : \n" +
                         k26 + "61 20 7f 00 ff 7a " + blanks(30) + "    a....z\n" +
                         "    Password             : <is established>\n"});

    ISCSI_LOGIN_OPTIONS noAuth = record(0x80 | 0x100, 0);  // unknown mask bits print nothing
    setCode(&noAuth.AuthType, 0);
    cases.push_back({"authentication type none", noAuth,
                     "    Version              : 0\n"
                     "    Information Specified: 0x180\n"
                     "    Login Flags          : 0x0\n"
                     "    Authentication Type  : None\n"});
    return cases;
}

TEST(PrintLoginOptions, TableOfRecords)
{
    for (const OptionsCase &c : optionsCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(renderOptions(c.options), c.expected);
    }
}

TEST(DumpBytes, RowsAndPrefix)
{
    const unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(renderDump(k26.c_str(), abc, 3), k26 + "61 62 63 " + blanks(39) + "    abc\n");

    // A count of 0 prints nothing, not even the prefix.
    EXPECT_EQ(renderDump(">>", abc, 0), "");

    // Rows after the first keep the character column in line.
    unsigned char bytes[33];
    for (unsigned i = 0; i < sizeof bytes; i++)
        bytes[i] = static_cast<unsigned char>(0x20 + i);
    EXPECT_EQ(renderDump("> ", bytes, sizeof bytes),
              "> 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f     .!\"#$%&'()*+,-./\n"
              "> 30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f     0123456789:;<=>?\n"
              "> 40 " +
                  blanks(45) + "    @\n");
}

}  // namespace
