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
#include "service_libiscsi/discovery_answer.h"
#include "service_libiscsi/failure_mapping.h"
#include "service_libiscsi/iscsi_exchange.h"
#include "service_libiscsi/libiscsi_lookups_kept.h"
#include "service_libiscsi/node_identity.h"
#include "service_libiscsi/service_status.h"
#include "service_libiscsi/state_location.h"
#include "service_libiscsi/tests/service_test_support.h"
#include "service_libiscsi/tests/target_daemons.h"
#include "service_support/iscsi_names.h"
#include "service_support/portal_text.h"
#include "service_support/target_answers.h"
#include "service_support/text_conversion.h"

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

#ifdef TOOLS_STATIC_DEPENDENCIES
// libiscsi's lookups: every call gets a list of its own, the same address
// again from the kept answer; a numeric address of either family is answered
// as itself, a name is still looked up; other calls pass straight through.
TEST(LibiscsiLookups, AnswersAreKeptAndEveryCallerGetsItsOwnCopy)
{
    struct Case {
        const char *node;
        int family;
        const char *address;
    };
    const Case cases[] = {{"127.0.0.1", AF_INET, "127.0.0.1"},
                          {"::1", AF_INET6, "::1"},
                          {"localhost", 0, nullptr}};  // from /etc/hosts, either family
    for (const Case &c : cases) {
        SCOPED_TRACE(c.node);
        struct addrinfo *first = nullptr;
        struct addrinfo *second = nullptr;
        ASSERT_EQ(tools_iscsi_getaddrinfo(c.node, nullptr, nullptr, &first), 0);
        ASSERT_EQ(tools_iscsi_getaddrinfo(c.node, nullptr, nullptr, &second), 0);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        size_t count = 0;
        for (const struct addrinfo *a = first, *b = second; a != nullptr || b != nullptr;
             a = a->ai_next, b = b->ai_next, count++) {
            ASSERT_TRUE(a != nullptr && b != nullptr) << "the lists differ in length";
            EXPECT_NE(a->ai_addr, b->ai_addr);
            ASSERT_EQ(a->ai_addrlen, b->ai_addrlen);
            EXPECT_EQ(memcmp(a->ai_addr, b->ai_addr, a->ai_addrlen), 0);
            if (c.address == nullptr)
                continue;
            EXPECT_EQ(a->ai_family, c.family);
            char host[NI_MAXHOST];
            ASSERT_EQ(getnameinfo(a->ai_addr, a->ai_addrlen, host, sizeof host, nullptr, 0,
                                  NI_NUMERICHOST),
                      0);
            EXPECT_STREQ(host, c.address);
        }
        EXPECT_GT(count, 0u);
        // libiscsi connects to the first entry over TCP.
        EXPECT_TRUE(first->ai_socktype == SOCK_STREAM || first->ai_socktype == 0);
        tools_iscsi_freeaddrinfo(first);
        tools_iscsi_freeaddrinfo(second);
    }

    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_flags = AI_NUMERICHOST;
    struct addrinfo *none = nullptr;
    EXPECT_NE(tools_iscsi_getaddrinfo("999.1.1.1", nullptr, &hints, &none), 0);
    EXPECT_EQ(none, nullptr);
}
#endif

// The tools link SQLite with its math calls made on demand: a statement that
// uses a math function still gets the math library's result.
TEST(SqliteMath, MathFunctionsGiveTheMathLibrarysResults)
{
    sqlite3 *database = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &database), SQLITE_OK);
    sqlite3_stmt *query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(database,
                                 "SELECT sqrt(16.0), pow(2, 10), atan2(0, -1), floor(-1.5), "
                                 "mod(7, 4), exp(0), ln(1), acos(1)",
                                 -1, &query, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(database);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
    const double expected[] = {4.0, 1024.0, 3.14159265358979, -2.0, 3.0, 1.0, 0.0, 0.0};
    for (int i = 0; i < 8; i++)
        EXPECT_NEAR(sqlite3_column_double(query, i), expected[i], 1e-12) << "column " << i;
    sqlite3_finalize(query);
    sqlite3_close(database);
}

}  // namespace
