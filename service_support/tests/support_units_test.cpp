// The pieces both Linux services share: portal texts, text conversion,
// iSCSI name rules, the host's initiator name file and the answers' layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/iscsi_service.h"
#include "service_openiscsi/tests/recorded_files.h"
#include "service_support/discovery_records.h"
#include "service_support/initiator_name_file.h"
#include "service_support/iscsi_names.h"
#include "service_support/login_settings.h"
#include "service_support/portal_text.h"
#include "service_support/target_answers.h"
#include "service_support/text_conversion.h"

namespace {

std::string narrow(const WCHAR16 *text)
{
    std::string out;
    for (; *text != 0; text++)
        out.push_back(static_cast<char>(*text));
    return out;
}

// A scratch folder of this test process under $TMPDIR (or /tmp).
std::string scratchDirectory()
{
    const char *base = getenv("TMPDIR");
    std::string path =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/support-test-XXXXXX";
    std::vector<char> text(path.begin(), path.end());
    text.push_back(0);
    return mkdtemp(text.data()) != nullptr ? std::string(text.data()) : std::string();
}

struct AddressCase {
    const char *text;
    bool ok;
    const char *address;
    int port;
    ULONG tag;
};

TEST(PortalText, TargetAddressesSplitIntoAddressPortAndTag)
{
    const AddressCase cases[] = {
        {"127.0.0.1:3260,1", true, "127.0.0.1", 3260, 1},
        {"192.0.2.7:13260,12", true, "192.0.2.7", 13260, 12},
        {"[::1]:3261,2", true, "::1", 3261, 2},
        {"[fe80::1%eth0]:3260,3", true, "fe80::1%eth0", 3260, 3},
        {"target.example.test,4", true, "target.example.test", 3260, 4},
        {"target.example.test:860", true, "target.example.test", 860, 1},
        {"[::1]", true, "::1", 3260, 1},
        {"fe80::2", true, "fe80::2", 3260, 1},
        {"", false, "", 0, 0},
        {":3260,1", false, "", 0, 0},
        {"127.0.0.1:,1", false, "", 0, 0},
        {"127.0.0.1:0,1", false, "", 0, 0},
        {"127.0.0.1:70000,1", false, "", 0, 0},
        {"127.0.0.1:3260,", false, "", 0, 0},
        {"127.0.0.1:3260,x", false, "", 0, 0},
        {"[::1:3260,1", false, "", 0, 0},
        {"[::1]x3260,1", false, "", 0, 0},
        {"f[::1]:3261,2", false, "", 0, 0},
        {"[[::1]]:3260", false, "", 0, 0},
        {"a]b:3260", false, "", 0, 0},
        {"\x01\x02\x7f", false, "", 0, 0},
        {"127.0.0.1 :3260", false, "", 0, 0},
        {"host\tname,1", false, "", 0, 0},
        {"a,b:3260,1", false, "", 0, 0},
        {"host\xc2\x9b"
         "2J:3260,1",
         false, "", 0, 0},  // a C1 control in UTF-8
        {"h\xc3\xb6st:3260,1", true, "h\xc3\xb6st", 3260, 1},
    };
    for (const AddressCase &c : cases) {
        SCOPED_TRACE(c.text);
        char address[PORTAL_ADDRESS_BYTES];
        USHORT port = 0;
        ULONG tag = 0;
        ASSERT_EQ(parseTargetAddress(c.text, address, sizeof address, &port, &tag), c.ok);
        if (c.ok) {
            EXPECT_STREQ(address, c.address);
            EXPECT_EQ(port, c.port);
            EXPECT_EQ(tag, c.tag);
        }
    }
    // An address of 256 characters does not fit a portal record.
    std::string longName(256, 'a');
    char address[PORTAL_ADDRESS_BYTES];
    USHORT port;
    ULONG tag;
    EXPECT_FALSE(parseTargetAddress(longName.c_str(), address, sizeof address, &port, &tag));
    longName.resize(255);
    EXPECT_TRUE(parseTargetAddress(longName.c_str(), address, sizeof address, &port, &tag));
}

TEST(PortalText, EndpointsAndMechanismsBracketIpv6)
{
    char text[PORTAL_ADDRESS_BYTES + 32];
    ASSERT_TRUE(formatEndpoint("127.0.0.1", 3260, text, sizeof text));
    EXPECT_STREQ(text, "127.0.0.1:3260");
    ASSERT_TRUE(formatEndpoint("::1", 3261, text, sizeof text));
    EXPECT_STREQ(text, "[::1]:3261");
    ASSERT_TRUE(formatEndpoint("[::1]", 3261, text, sizeof text));
    EXPECT_STREQ(text, "[::1]:3261");
    ASSERT_TRUE(formatDiscoveryMechanism("::1", 3260, text, sizeof text));
    EXPECT_STREQ(text, "SendTargets [::1]:3260");
    EXPECT_FALSE(formatEndpoint("127.0.0.1", 3260, text, 10));
}

TEST(TextConversion, RoundTripsAndRefusesWhatDoesNotConvert)
{
    const std::u16string text = u"ziel-\u00e9\u20ac-\U0001F600";
    char utf8[64];
    ASSERT_TRUE(convertWideToUtf8(text.c_str(), text.size() + 1, utf8, sizeof utf8));
    EXPECT_STREQ(utf8, "ziel-\xc3\xa9\xe2\x82\xac-\xf0\x9f\x98\x80");
    WCHAR16 back[64];
    ASSERT_TRUE(convertUtf8ToWide(utf8, back, 64));
    EXPECT_EQ(std::u16string(back), text);
    EXPECT_EQ(utf8WideCharacters(utf8), text.size());

    const WCHAR16 lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_FALSE(convertWideToUtf8(lone, 4, utf8, sizeof utf8));
    const WCHAR16 unterminated[] = {u'a', u'b', u'c'};
    EXPECT_FALSE(convertWideToUtf8(unterminated, 3, utf8, sizeof utf8));
    EXPECT_FALSE(convertWideToUtf8(text.c_str(), text.size() + 1, utf8, 5));
    EXPECT_FALSE(convertUtf8ToWide("\xc3", back, 64));
    EXPECT_FALSE(convertUtf8ToWide("\xed\xa0\x80", back, 64));  // an encoded surrogate
    EXPECT_FALSE(convertUtf8ToWide("abcdef", back, 6));
    EXPECT_TRUE(convertUtf8ToWide("abcde", back, 6));
}

struct NameCase {
    const char *what;
    std::string name;
    bool acceptable;
};

// What a target may name its targets: a service keeps the rest of an answer
// when it refuses one name.
TEST(IscsiNames, TargetNamesAreUtf8WithoutControlsAndAtMost223Bytes)
{
    const NameCase cases[] = {
        {"plain", "iqn.2026-01.test:disk", true},
        {"UTF-8 letters", "iqn.2026-01.test:d\xc3\xafsk-\xe2\x82\xac", true},
        {"223 bytes", "iqn.2026-01.test:" + std::string(206, 'x'), true},
        {"224 bytes", "iqn.2026-01.test:" + std::string(207, 'x'), false},
        {"empty", "", false},
        {"not UTF-8", "iqn.2026-01.evil:\xff\xfe", false},
        {"cut UTF-8", "iqn.2026-01.evil:\xc3", false},
        {"encoded surrogate", "iqn.2026-01.evil:\xed\xa0\x80", false},
        {"window title", "iqn.2026-01.evil:\x1b]0;owned\x07", false},
        {"clear screen", "iqn.2026-01.evil:\x1b[2J", false},
        {"carriage return", "iqn.2026-01.evil:a\rb", false},
        {"tab", "iqn.2026-01.evil:a\tb", false},
        {"delete", "iqn.2026-01.evil:\x7f", false},
        {"C1 control",
         "iqn.2026-01.evil:\xc2\x9b"
         "31m",
         false},
        {"after C1", "iqn.2026-01.test:\xc2\xa0", true},
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(isAcceptableTargetName(c.name.c_str()), c.acceptable);
    }
}

struct NameFileCase {
    const char *content;
    InitiatorNameRead read;
    bool valid;  // isValidIscsiName of what was read
    const char *name;
};

TEST(InitiatorNameFile, TheHostsNameAsTheServicesReadIt)
{
    std::string directory = scratchDirectory();
    ASSERT_FALSE(directory.empty());
    std::string path = directory + "/initiatorname.iscsi";
    const NameFileCase cases[] = {
        {"## written by the installer\nInitiatorName=iqn.1993-08.org.debian:01:abc123\n",
         INITIATOR_NAME_READ, true, "iqn.1993-08.org.debian:01:abc123"},
        {"InitiatorName= iqn.2005-03.org.open-iscsi:host1 \r\n", INITIATOR_NAME_READ, true,
         "iqn.2005-03.org.open-iscsi:host1"},
        {"#InitiatorName=iqn.2000-01.com.example:old\nInitiatorName=eui.0123456789abcdef\n",
         INITIATOR_NAME_READ, true, "eui.0123456789abcdef"},
        {"InitiatorAlias=box\n", INITIATOR_NAME_ABSENT, false, ""},
        {"", INITIATOR_NAME_ABSENT, false, ""},
        {"InitiatorName=\n", INITIATOR_NAME_MALFORMED, false, ""},
        {"InitiatorName=not an iqn\n", INITIATOR_NAME_MALFORMED, false, ""},
        {"InitiatorName=iqn.20-01.x:y\n", INITIATOR_NAME_READ, false, "iqn.20-01.x:y"},
    };
    for (const NameFileCase &c : cases) {
        SCOPED_TRACE(c.content);
        FILE *file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(c.content, file);
        fclose(file);
        char name[ISCSI_NAME_BYTES] = "untouched";
        EXPECT_EQ(readInitiatorNameFile(path.c_str(), name, sizeof name), c.read);
        if (c.read == INITIATOR_NAME_READ) {
            EXPECT_STREQ(name, c.name);
            EXPECT_EQ(isValidIscsiName(name), c.valid);
        }
    }
    // The buffer follows the file's size: a name after long comments is read
    // up to the limit, and one past the limit is not.
    const struct {
        size_t commentBytes;
        InitiatorNameRead read;
    } sized[] = {{20000, INITIATOR_NAME_READ}, {INITIATOR_NAME_FILE_LIMIT, INITIATOR_NAME_ABSENT}};
    for (const auto &c : sized) {
        SCOPED_TRACE(c.commentBytes);
        std::string text = "#" + std::string(c.commentBytes - 2, 'x') + "\n" +
                           "InitiatorName=iqn.2001-04.com.example:far\n";
        FILE *file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(text.c_str(), file);
        fclose(file);
        char name[ISCSI_NAME_BYTES] = "untouched";
        EXPECT_EQ(readInitiatorNameFile(path.c_str(), name, sizeof name), c.read);
        if (c.read == INITIATOR_NAME_READ)
            EXPECT_STREQ(name, "iqn.2001-04.com.example:far");
    }
    char name[ISCSI_NAME_BYTES];
    EXPECT_EQ(readInitiatorNameFile((path + ".missing").c_str(), name, sizeof name),
              INITIATOR_NAME_NO_FILE);
    unlink(path.c_str());
    rmdir(directory.c_str());
}

TEST(InitiatorName, TheFileAsThePackageWritesIt)
{
    char name[ISCSI_NAME_BYTES];
    std::string text = recorded("host/initiatorname.iscsi");
    ASSERT_EQ(INITIATOR_NAME_READ,
              parseInitiatorNameText(text.data(), text.size(), name, sizeof name));
    EXPECT_EQ(0, strncmp(name, "iqn.", 4)) << name;
    EXPECT_EQ(INITIATOR_NAME_READ,
              readInitiatorNameFile((kRecorded + "/host/initiatorname.iscsi").c_str(), name,
                                    sizeof name));
}

TEST(InitiatorName, FormsOfTheLine)
{
    struct Case {
        const char *text;
        InitiatorNameRead result;
        const char *name;
    };
    std::string tooLong = "InitiatorName=" + std::string(ISCSI_NAME_BYTES, 'a') + "\n";
    const Case cases[] = {
        {"InitiatorName=iqn.2024-01.x:y\n", INITIATOR_NAME_READ, "iqn.2024-01.x:y"},
        {"  InitiatorName=\tiqn.2024-01.x:y  \r\n", INITIATOR_NAME_READ, "iqn.2024-01.x:y"},
        {"## comment\n#InitiatorName=iqn.old:x\nInitiatorName=iqn.new:y", INITIATOR_NAME_READ,
         "iqn.new:y"},
        {"InitiatorName=iqn.first:a\nInitiatorName=iqn.second:b\n", INITIATOR_NAME_READ,
         "iqn.first:a"},
        {"InitiatorAlias=host\n", INITIATOR_NAME_ABSENT, ""},
        {"InitiatorName = iqn.spaced:a\n", INITIATOR_NAME_ABSENT, ""},
        {"", INITIATOR_NAME_ABSENT, ""},
        {"InitiatorName=\n", INITIATOR_NAME_MALFORMED, ""},
        {"InitiatorName=iqn.a b:c\n", INITIATOR_NAME_MALFORMED, ""},
        {"InitiatorName=iqn.a\x01:c\n", INITIATOR_NAME_MALFORMED, ""},
        {tooLong.c_str(), INITIATOR_NAME_MALFORMED, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        char name[ISCSI_NAME_BYTES];
        EXPECT_EQ(c.result, parseInitiatorNameText(c.text, strlen(c.text), name, sizeof name));
        EXPECT_STREQ(c.name, name);
    }
}

TEST(InitiatorName, FilesThatAreNotThere)
{
    char name[ISCSI_NAME_BYTES];
    EXPECT_EQ(INITIATOR_NAME_NO_FILE,
              readInitiatorNameFile("/nonexistent/initiatorname.iscsi", name, sizeof name));
    EXPECT_EQ(INITIATOR_NAME_UNREADABLE, readInitiatorNameFile("/", name, sizeof name));

    // A FIFO in its place is refused at once, not read forever.
    char folder[] = "/tmp/initiator-name-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    std::string fifo = std::string(folder) + "/initiatorname.iscsi";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(INITIATOR_NAME_UNREADABLE, readInitiatorNameFile(fifo.c_str(), name, sizeof name));
    unlink(fifo.c_str());
    rmdir(folder);
}

std::vector<DiscoveryRecord> records(const std::vector<std::pair<std::string, ULONG>> &portals)
{
    std::vector<DiscoveryRecord> out;
    for (const auto &p : portals) {
        DiscoveryRecord record;
        memset(&record, 0, sizeof record);
        snprintf(record.target, sizeof record.target, "iqn.2026-01.test:t");
        snprintf(record.address, sizeof record.address, "%s", p.first.c_str());
        record.socket = 3260;
        record.tag = p.second;
        out.push_back(record);
    }
    return out;
}

// Walks portal-group data the way the report reads it; returns the
// "address/group" of each portal found.
std::vector<std::string> walk(const Answer &answer)
{
    std::vector<std::string> found;
    ULONG groups;
    memcpy(&groups, answer.bytes, 4);
    ULONG available = answer.size;
    size_t at = 4;
    for (ULONG g = 0; g < groups; g++) {
        ULONG count;
        memcpy(&count, answer.bytes + at, 4);
        uint64_t stride = portalGroupStride(count);
        if (stride > available)
            break;
        for (ULONG k = 0; k < count; k++) {
            ISCSI_TARGET_PORTALW portal;
            memcpy(&portal, answer.bytes + at + 4 + k * sizeof portal, sizeof portal);
            found.push_back(narrow(portal.Address) + "/" + std::to_string(g));
        }
        available -= static_cast<ULONG>(stride);
        at += stride;
    }
    return found;
}

TEST(TargetAnswers, PortalGroupsAreLaidOutAtTheirStride)
{
    std::vector<DiscoveryRecord> list =
        records({{"10.0.0.1", 2}, {"10.0.0.2", 1}, {"10.0.0.3", 2}, {"10.0.0.4", 7}});
    DiscoveryList discovered = {list.data(), list.size(), list.size()};
    Answer answer = {nullptr, 0, 0};
    ASSERT_TRUE(buildPortalGroups(discovered, &answer));
    EXPECT_EQ(answer.size, 4 + portalGroupStride(1) + portalGroupStride(2) + portalGroupStride(1));
    EXPECT_EQ(walk(answer),
              (std::vector<std::string>{"10.0.0.2/0", "10.0.0.1/1", "10.0.0.3/1", "10.0.0.4/2"}));
    freeAnswer(&answer);

    DiscoveryList none = {nullptr, 0, 0};
    ASSERT_TRUE(buildPortalGroups(none, &answer));
    ASSERT_EQ(answer.size, 4u);
    EXPECT_EQ(walk(answer).size(), 0u);
    freeAnswer(&answer);
}

TEST(TargetAnswers, LoginOptionsCarryTheUserNameButNeverTheSecret)
{
    LoginSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.informationSpecified = 0xE0;
    settings.loginFlags = 2;
    settings.authType = ISCSI_CHAP_AUTH_TYPE;
    memcpy(settings.username, "chap-user", 9);
    settings.usernameLength = 9;
    memcpy(settings.password, "secret-of-12", 12);
    settings.passwordLength = 12;
    Answer answer = {nullptr, 0, 0};
    ASSERT_TRUE(buildLoginOptions(settings, &answer));
    ASSERT_EQ(answer.size, sizeof(ISCSI_LOGIN_OPTIONS) + 9);

    ULONG size = 0;
    EXPECT_EQ(deliverLoginOptions(answer, &size, nullptr), ISDSC_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, answer.size);
    std::vector<unsigned char> buffer(size);
    ULONG tooSmall = size - 1;
    EXPECT_EQ(deliverLoginOptions(answer, &tooSmall, buffer.data()),
              ISDSC_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(tooSmall, size);
    ASSERT_EQ(deliverLoginOptions(answer, &size, buffer.data()), 0u);
    ISCSI_LOGIN_OPTIONS record;
    memcpy(&record, buffer.data(), sizeof record);
    EXPECT_EQ(record.InformationSpecified, 0xE0u);
    EXPECT_EQ(record.PasswordLength, 0u);
    EXPECT_EQ(record.Password, nullptr);
    ASSERT_EQ(record.Username, buffer.data() + sizeof record);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record.Username), record.UsernameLength),
              "chap-user");
    std::string bytes(buffer.begin(), buffer.end());
    EXPECT_EQ(bytes.find("secret-of-12"), std::string::npos);
    freeAnswer(&answer);
}

}  // namespace
