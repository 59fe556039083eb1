// The service's pieces that need no target: the failure mapping, the texts
// that name portals, the answers' layouts, the node name and the state
// directory.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "common/message_lookup.h"
#include "service_linux/discovery_answer.h"
#include "service_linux/failure_mapping.h"
#include "service_linux/iscsi_exchange.h"
#include "service_linux/node_identity.h"
#include "service_linux/portal_text.h"
#include "service_linux/service_status.h"
#include "service_linux/state_location.h"
#include "service_linux/target_answers.h"
#include "service_linux/tests/service_test_support.h"
#include "service_linux/tests/target_daemons.h"
#include "service_linux/text_conversion.h"

namespace {

struct FailureCase {
    ExchangeStep step;
    FailureKind kind;
    int code;
    const char *text;
    ISDSC_STATUS expected;
};

TEST(FailureMapping, EveryFailureBecomesItsStatus)
{
    const FailureCase cases[] = {
        {STEP_CONNECT, FAILURE_TIMEOUT, 0, nullptr, SERVICE_NO_ANSWER_IN_TIME},
        {STEP_LOGIN, FAILURE_TIMEOUT, 0, nullptr, SERVICE_NO_ANSWER_IN_TIME},
        {STEP_NAME_LOOKUP, FAILURE_TIMEOUT, 0, nullptr, SERVICE_NAME_LOOKUP_TIMEOUT},
        {STEP_CONNECT, FAILURE_ERRNO, ECONNREFUSED, nullptr, SERVICE_CONNECTION_REFUSED},
        {STEP_CONNECT, FAILURE_ERRNO, ETIMEDOUT, nullptr, SERVICE_NO_ANSWER_IN_TIME},
        {STEP_CONNECT, FAILURE_ERRNO, ENETUNREACH, nullptr, SERVICE_PORTAL_UNREACHABLE},
        {STEP_CONNECT, FAILURE_ERRNO, EHOSTUNREACH, nullptr, SERVICE_PORTAL_UNREACHABLE},
        {STEP_LOGIN, FAILURE_ERRNO, ECONNRESET, nullptr, SERVICE_CONNECTION_CLOSED},
        {STEP_LOGIN, FAILURE_ERRNO, 0, nullptr, SERVICE_CONNECTION_CLOSED},
        {STEP_CONNECT, FAILURE_ERRNO, ENOMEM, nullptr, ISDSC_ERROR_NOT_ENOUGH_MEMORY},
        {STEP_CONNECT, FAILURE_ERRNO, EACCES, nullptr, SERVICE_ACCESS_DENIED},
        {STEP_CONNECT, FAILURE_ERRNO, EIO, nullptr, SERVICE_CONNECTION_FAILED},
        {STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, EAI_NONAME, nullptr, SERVICE_NAME_NOT_FOUND},
        {STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, EAI_AGAIN, nullptr, SERVICE_NAME_LOOKUP_FAILED},
        {STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, EAI_MEMORY, nullptr, ISDSC_ERROR_NOT_ENOUGH_MEMORY},
        // libiscsi's own texts.
        {STEP_CONNECT, FAILURE_LIBRARY, 0, "Connect failed with errno : Connection refused(111)",
         SERVICE_CONNECTION_REFUSED},
        {STEP_CONNECT, FAILURE_LIBRARY, 0,
         "iscsi_service: socket error Network is unreachable(101) while connecting.",
         SERVICE_PORTAL_UNREACHABLE},
        {STEP_LOGIN, FAILURE_LIBRARY, 0, "read from socket failed, errno:104",
         SERVICE_CONNECTION_CLOSED},
        {STEP_LOGIN, FAILURE_LIBRARY, 0, "read from socket failed, errno:0",
         SERVICE_CONNECTION_CLOSED},
        {STEP_LOGIN, FAILURE_LIBRARY, 0,
         "Failed to log in to target. Status: Authentication failure(513)",
         SERVICE_AUTHENTICATION_FAILED},
        {STEP_LOGIN, FAILURE_LIBRARY, 0,
         "Failed to log in to target. Status: Authorization failure(514)",
         SERVICE_AUTHORIZATION_FAILED},
        {STEP_LOGIN, FAILURE_LIBRARY, 0,
         "Failed to log in to target. Status: Target not found(515)",
         SERVICE_LOGIN_TARGET_NOT_FOUND},
        {STEP_LOGIN, FAILURE_LIBRARY, 0,
         "Failed to log in to target. Status: Target moved temporarily(257)",
         SERVICE_LOGIN_REDIRECTED},
        {STEP_LOGIN, FAILURE_LIBRARY, 0, "Failed to log in to target. Status: Target error(768)",
         SERVICE_TARGET_ERROR},
        {STEP_LOGIN, FAILURE_LIBRARY, 0, "Failed to log in to target. Status: Unknown login error",
         SERVICE_LOGIN_REJECTED},
        {STEP_LOGIN, FAILURE_LIBRARY, 0, "No CHAP challenge found", SERVICE_AUTHENTICATION_FAILED},
        {STEP_TEXT, FAILURE_LIBRARY, 0, "Invalid discovery reply", SERVICE_NOT_AN_ISCSI_TARGET},
        {STEP_LOGIN, FAILURE_LIBRARY, 0, nullptr, SERVICE_NOT_AN_ISCSI_TARGET},
        {STEP_CONNECT, FAILURE_LIBRARY, 0, "something else", SERVICE_CONNECTION_FAILED},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : std::to_string(c.code));
        ExchangeFailure failure = {c.step, c.kind, c.code, c.text};
        EXPECT_EQ(statusForExchangeFailure(failure), c.expected);
    }
}

// A busy store says it stayed locked too long only when the whole bound was
// waited; SQLite's refusals to wait at all say so.
TEST(FailureMapping, StoreAndDirectoryFailures)
{
    EXPECT_EQ(statusForStoreResult(SQLITE_BUSY, true), SERVICE_STORE_BUSY);
    EXPECT_EQ(statusForStoreResult(SQLITE_BUSY, false), SERVICE_STORE_CONFLICT);
    EXPECT_EQ(statusForStoreResult(SQLITE_BUSY_SNAPSHOT, false), SERVICE_STORE_CONFLICT);
    EXPECT_EQ(statusForStoreResult(SQLITE_LOCKED, false), SERVICE_STORE_CONFLICT);
    EXPECT_EQ(statusForStoreResult(SQLITE_NOMEM, false), ISDSC_ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(statusForStoreResult(SQLITE_CORRUPT, false), SERVICE_STORE_FAILED);
    EXPECT_EQ(statusForStoreResult(SQLITE_IOERR_WRITE, true), SERVICE_STORE_FAILED);
    EXPECT_EQ(statusForStateDirectoryErrno(EACCES), SERVICE_STATE_DIRECTORY_FAILED);
    EXPECT_EQ(statusForStateDirectoryErrno(ENOMEM), ISDSC_ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(statusForStoreFileErrno(ELOOP), SERVICE_STORE_IS_LINK);
    EXPECT_EQ(statusForStoreFileErrno(EIO), SERVICE_STORE_FAILED);
    EXPECT_EQ(statusText(SERVICE_STORE_BUSY),
              "The initiator service's store stayed locked by another process for too long. ");
    EXPECT_EQ(statusText(SERVICE_STORE_CONFLICT),
              "Another process held the initiator service's store in a way this operation "
              "cannot wait for. ");
}

// Every code of the service's own range has a sentence in its table, so no
// failure line ends in a bare number.
TEST(ServiceMessages, EveryOwnCodeHasASentence)
{
    const ISDSC_STATUS codes[] = {SERVICE_NON_SPECIFIC_ERROR,
                                  SERVICE_CONNECTION_REFUSED,
                                  SERVICE_NO_ANSWER_IN_TIME,
                                  SERVICE_PORTAL_UNREACHABLE,
                                  SERVICE_CONNECTION_CLOSED,
                                  SERVICE_CONNECTION_FAILED,
                                  SERVICE_NAME_NOT_FOUND,
                                  SERVICE_NAME_LOOKUP_FAILED,
                                  SERVICE_NAME_LOOKUP_TIMEOUT,
                                  SERVICE_NOT_AN_ISCSI_TARGET,
                                  SERVICE_AUTHENTICATION_FAILED,
                                  SERVICE_AUTHORIZATION_FAILED,
                                  SERVICE_LOGIN_TARGET_NOT_FOUND,
                                  SERVICE_LOGIN_TARGET_REMOVED,
                                  SERVICE_LOGIN_REDIRECTED,
                                  SERVICE_LOGIN_REJECTED,
                                  SERVICE_TARGET_ERROR,
                                  SERVICE_TOO_MANY_CONNECTIONS,
                                  SERVICE_DISCOVERY_FAILED,
                                  SERVICE_TARGET_NOT_FOUND,
                                  SERVICE_PORTAL_NOT_FOUND,
                                  SERVICE_PERSISTENT_LOGIN_NOT_FOUND,
                                  SERVICE_MECHANISM_NOT_FOUND,
                                  SERVICE_INITIATOR_NOT_FOUND,
                                  SERVICE_NOT_SUPPORTED,
                                  SERVICE_TOO_MANY_LOGINS,
                                  SERVICE_STORE_FAILED,
                                  SERVICE_STORE_BUSY,
                                  SERVICE_STATE_DIRECTORY_FAILED,
                                  SERVICE_INITIATOR_NAME_INVALID,
                                  SERVICE_STORE_CONFLICT,
                                  SERVICE_STATE_DIRECTORY_NOT_OWNED,
                                  SERVICE_STATE_DIRECTORY_NOT_PRIVATE,
                                  SERVICE_STORE_NOT_OWNED,
                                  SERVICE_STORE_NOT_PRIVATE,
                                  SERVICE_STORE_IS_LINK,
                                  SERVICE_PORTAL_KEPT_FOR_ANOTHER_RUN,
                                  SERVICE_SECRET_TOO_LONG};
    for (ISDSC_STATUS code : codes) {
        SCOPED_TRACE(code);
        WCHAR16 text[255];
        ULONG length = lookupServiceMessage(code, 0, text, 255);
        ASSERT_GT(length, 2u);
        EXPECT_EQ(text[length - 2], u'.');
        EXPECT_EQ(text[length - 1], u' ');
    }
    WCHAR16 text[255];
    EXPECT_EQ(lookupServiceMessage(0xEFFF7777u, 0, text, 255), 0u);
    EXPECT_EQ(statusText(SERVICE_PORTAL_NOT_FOUND),
              "The send-target portal is not registered with the initiator service. ");
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

// What a target may name its targets: the rest of its answer is kept when
// one name is refused (discovery_answer.h).
TEST(DiscoveryAnswer, TargetNamesAreUtf8WithoutControlsAndAtMost223Bytes)
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

// The ISID of a login holds the process id and random bits: two processes
// with the same id (in two PID namespaces) differ by their random bits, and
// the logins of one process by their number.
TEST(IsidBuilder, SameProcessIdDiffersByRandomBitsAndLoginNumber)
{
    const unsigned long pid = 1;
    unsigned long long first = buildIsid(pid, 0x00012345u, 1);
    EXPECT_EQ(first >> 40, 0x80u) << "type random";
    EXPECT_EQ((first >> 16) & 0x3FFFFFu, pid);
    EXPECT_NE(buildIsid(pid, 0x00012346u, 1), first);
    EXPECT_NE(buildIsid(pid, 0x00032345u, 1), first) << "the two random bits of the field";
    EXPECT_NE(buildIsid(pid, 0x00012345u, 2), first);
    EXPECT_EQ(buildIsid(pid, 0x00012345u, 1), first);
    EXPECT_EQ(buildIsid(4194303, 0, 7), (0x80ull << 40) | (0x3FFFFFull << 16) | 7u);
    // Every login number of a process gives its own qualifier.
    std::vector<bool> seen(0x10000, false);
    for (ULONG login = 1; login <= 0xFFFF; login++) {
        ULONG qualifier = static_cast<ULONG>(buildIsid(pid, 0xBEEF, login) & 0xFFFF);
        ASSERT_FALSE(seen[qualifier]) << login;
        seen[qualifier] = true;
    }
}

struct NameFileCase {
    const char *content;
    NameFileResult expected;
    const char *name;
};

TEST(NodeIdentity, ReadsTheHostsNameFile)
{
    char directory[256];
    ASSERT_TRUE(makeScratchDirectory(directory, sizeof directory));
    std::string path = std::string(directory) + "/initiatorname.iscsi";
    const NameFileCase cases[] = {
        {"## written by the installer\nInitiatorName=iqn.1993-08.org.debian:01:abc123\n",
         NAME_FILE_FOUND, "iqn.1993-08.org.debian:01:abc123"},
        {"InitiatorName= iqn.2005-03.org.open-iscsi:host1 \r\n", NAME_FILE_FOUND,
         "iqn.2005-03.org.open-iscsi:host1"},
        {"#InitiatorName=iqn.2000-01.com.example:old\nInitiatorName=eui.0123456789abcdef\n",
         NAME_FILE_FOUND, "eui.0123456789abcdef"},
        {"InitiatorAlias=box\n", NAME_FILE_ABSENT, ""},
        {"", NAME_FILE_ABSENT, ""},
        {"InitiatorName=\n", NAME_FILE_INVALID, ""},
        {"InitiatorName=not an iqn\n", NAME_FILE_INVALID, ""},
        {"InitiatorName=iqn.20-01.x:y\n", NAME_FILE_INVALID, ""},
    };
    for (const NameFileCase &c : cases) {
        SCOPED_TRACE(c.content);
        FILE *file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(c.content, file);
        fclose(file);
        char name[ISCSI_NAME_BYTES] = "untouched";
        EXPECT_EQ(readInitiatorNameFile(path.c_str(), name, sizeof name), c.expected);
        if (c.expected == NAME_FILE_FOUND)
            EXPECT_STREQ(name, c.name);
    }
    char name[ISCSI_NAME_BYTES];
    EXPECT_EQ(readInitiatorNameFile((path + ".missing").c_str(), name, sizeof name),
              NAME_FILE_ABSENT);
    removeTree(directory);
}

TEST(NodeIdentity, GeneratesValidNamesThatDiffer)
{
    char first[ISCSI_NAME_BYTES];
    char second[ISCSI_NAME_BYTES];
    generateInitiatorName(first, sizeof first);
    generateInitiatorName(second, sizeof second);
    EXPECT_TRUE(isValidIscsiName(first)) << first;
    EXPECT_STRNE(first, second);
    EXPECT_EQ(strncmp(first, "iqn.", 4), 0);
    EXPECT_FALSE(isValidIscsiName(std::string(224, 'a').c_str()));
    EXPECT_FALSE(isValidIscsiName("naa.0123"));
    EXPECT_TRUE(isValidIscsiName("naa.0123456789abcdef"));
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

TEST(StateLocation, TheVariableChoosesAndCreatesAPrivateDirectory)
{
    char scratch[256];
    ASSERT_TRUE(makeScratchDirectory(scratch, sizeof scratch));
    std::string chosen = std::string(scratch) + "/a/b/state";
    setenv(STATE_DIRECTORY_VARIABLE, chosen.c_str(), 1);
    char path[STATE_PATH_BYTES];
    ASSERT_EQ(findStateDirectory(path, sizeof path), 0u);
    EXPECT_EQ(std::string(path), chosen);
    ASSERT_EQ(createStateDirectory(path), 0u);
    struct stat info;
    ASSERT_EQ(stat(path, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((std::string(scratch) + "/a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(createStateDirectory(path), 0u);  // already there

    std::string file = std::string(scratch) + "/plain";
    FILE *plain = fopen(file.c_str(), "w");
    ASSERT_NE(plain, nullptr);
    fclose(plain);
    EXPECT_EQ(createStateDirectory(file.c_str()), SERVICE_STATE_DIRECTORY_FAILED);
    EXPECT_EQ(createStateDirectory((file + "/below").c_str()), SERVICE_STATE_DIRECTORY_FAILED);

    unsetenv(STATE_DIRECTORY_VARIABLE);
    ASSERT_EQ(findStateDirectory(path, sizeof path), 0u);
    if (geteuid() == 0)
        EXPECT_STREQ(path, "/var/lib/iscsi-tools");
    removeTree(scratch);
}

// Another user than root keeps the store under the XDG state directory, or
// under ~/.local/state without one.  Checked in a child that drops to an
// unprivileged user (root only).
TEST(StateLocation, OtherUsersKeepTheStoreInTheirStateDirectory)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    struct Case {
        const char *xdg;  // null: unset
        const char *expected;
    };
    const Case cases[] = {
        {"/tmp/xdg-state", "/tmp/xdg-state/iscsi-tools"},
        {"relative/path", "/tmp/home-of-test/.local/state/iscsi-tools"},
        {nullptr, "/tmp/home-of-test/.local/state/iscsi-tools"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.xdg != nullptr ? c.xdg : "(unset)");
        int channel[2];
        ASSERT_EQ(pipe(channel), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(channel[0]);
            unsetenv(STATE_DIRECTORY_VARIABLE);
            setenv("HOME", "/tmp/home-of-test", 1);
            if (c.xdg != nullptr)
                setenv("XDG_STATE_HOME", c.xdg, 1);
            else
                unsetenv("XDG_STATE_HOME");
            char path[STATE_PATH_BYTES] = "";
            if (setgid(65534) != 0 || setuid(65534) != 0 ||
                findStateDirectory(path, sizeof path) != 0)
                _exit(1);
            ssize_t written = write(channel[1], path, strlen(path));
            _exit(written == static_cast<ssize_t>(strlen(path)) ? 0 : 1);
        }
        close(channel[1]);
        char path[STATE_PATH_BYTES] = "";
        ssize_t got = read(channel[0], path, sizeof path - 1);
        close(channel[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        path[got > 0 ? got : 0] = 0;
        EXPECT_STREQ(path, c.expected);
    }
}

}  // namespace
