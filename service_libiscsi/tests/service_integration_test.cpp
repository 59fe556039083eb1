// The service against real targets on loopback: tgtd and istgt, started and
// stopped by the tests.  A test whose daemon cannot run here is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sqlite3.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "common/iscsi_service.h"
#include "service_libiscsi/iscsi_exchange.h"
#include "service_libiscsi/service_status.h"
#include "service_libiscsi/service_store.h"
#include "service_libiscsi/service_testing.h"
#include "service_libiscsi/stored_login.h"
#include "service_libiscsi/tests/service_test_support.h"
#include "service_libiscsi/tests/target_daemons.h"

namespace {

const char kTargetA[] = "iqn.2026-01.test.tgt:alpha";
const char kTargetB[] = "iqn.2026-01.test.tgt:bravo";
const char kChapTarget[] = "iqn.2026-01.test.tgt:charlie";
const char kSecret[] = "chap-secret-4711";
const char kIstgtTarget[] = "iqn.2026-01.test.istgt:disk1";

long long elapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

// Each test gets a store of its own and a bounded network timeout.
class ServiceOnTargets : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(makeScratchDirectory(stateRoot_, sizeof stateRoot_));
        snprintf(stateDirectory_, sizeof stateDirectory_, "%s/state", stateRoot_);
        setenv("ISCSI_TOOLS_STATE_DIR", stateDirectory_, 1);
        setenv("ISCSI_TOOLS_TIMEOUT_MS", "3000", 1);
        storeClose();
    }

    void TearDown() override
    {
        closeAllSessions();
        storeClose();
        if (tgt_.pid > 0)
            stopTgtd(&tgt_);
        if (istgt_.pid > 0)
            stopIstgt(&istgt_);
        removeTree(stateRoot_);
        unsetenv("ISCSI_TOOLS_STATE_DIR");
        unsetenv("ISCSI_TOOLS_TIMEOUT_MS");
    }

    // Starts tgtd with alpha, bravo and charlie (charlie requires CHAP with
    // its own name as user name); false (and the test skips) when it cannot.
    bool startThreeTargets()
    {
        const TgtTarget targets[] = {{kTargetA, nullptr, nullptr},
                                     {kTargetB, nullptr, nullptr},
                                     {kChapTarget, kChapTarget, kSecret}};
        return startTgtd(&tgt_, targets, 3);
    }

    // Registers the portal from a child process, as another run would: this
    // process has not discovered it itself.
    void addPortalInAnotherProcess(int port)
    {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(addPortal(port) == 0 ? 0 : 1);
        ASSERT_EQ(waitForChild(child, 20000), 0);
    }

    // Changes the store by hand, as an older service or a user could have:
    // runs sql on it with this process's connection closed.
    void changeStore(const std::string &sql)
    {
        storeClose();
        sqlite3 *database = nullptr;
        ASSERT_EQ(sqlite3_open_v2(storePath().c_str(), &database, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(database);
        sqlite3_close(database);
    }

    std::string storePath() const
    {
        return std::string(stateDirectory_) + "/service.db";
    }

    ISDSC_STATUS addPortal(int port, ISCSI_LOGIN_OPTIONS *options = nullptr)
    {
        ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", port);
        return AddIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, options, 0, &portal);
    }

    ISDSC_STATUS login(const char *target, int port, ISCSI_LOGIN_OPTIONS *options, bool persistent,
                       ISCSI_UNIQUE_SESSION_ID *session = nullptr,
                       ISCSI_UNIQUE_CONNECTION_ID *connection = nullptr)
    {
        std::u16string name = wide(target);
        std::u16string instance = wide("Root\\SoftwareInitiator\\0000_0");
        ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", port);
        ISCSI_UNIQUE_SESSION_ID sessionId;
        ISCSI_UNIQUE_CONNECTION_ID connectionId;
        return LoginIScsiTargetW(&name[0], false, &instance[0], ISCSI_ANY_INITIATOR_PORT, &portal,
                                 0, nullptr, options, 0, nullptr, persistent,
                                 session != nullptr ? session : &sessionId,
                                 connection != nullptr ? connection : &connectionId);
    }

    char stateRoot_[256] = {0};
    char stateDirectory_[300] = {0};
    TargetDaemon tgt_ = {-1, 0, 0, 0, {0}, {0}};
    TargetDaemon istgt_ = {-1, 0, 0, 0, {0}, {0}};
};

#define START_OR_SKIP(started, daemon)                                                             \
    do {                                                                                           \
        if (!(started))                                                                            \
            GTEST_SKIP() << "no target daemon here: " << (daemon).why;                             \
    } while (0)

TEST_F(ServiceOnTargets, DiscoversSeveralTargetsAndAnswersEveryClass)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);

    ISDSC_STATUS status;
    std::vector<std::string> names = targetList(true, &status);
    ASSERT_EQ(status, 0u);
    EXPECT_EQ(names, (std::vector<std::string>{kTargetA, kTargetB, kChapTarget}));

    // A buffer one character short asks for the whole list's size.
    WCHAR16 small[8];
    ULONG needed =
        static_cast<ULONG>(strlen(kTargetA) + strlen(kTargetB) + strlen(kChapTarget) + 4);
    ULONG size = needed - 1;
    std::vector<WCHAR16> big(needed - 1);
    EXPECT_EQ(ReportIScsiTargetsW(false, &size, big.data()), ISDSC_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, needed);
    size = 0;
    EXPECT_EQ(ReportIScsiTargetsW(false, &size, small), ISDSC_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, needed);

    std::vector<unsigned char> data;
    ASSERT_EQ(queryInformation(kTargetB, nullptr, DiscoveryMechanisms, &data), 0u);
    std::string mechanism = "SendTargets 127.0.0.1:" + std::to_string(tgt_.port);
    ASSERT_EQ(data.size(), (mechanism.size() + 2) * 2);
    const WCHAR16 *texts = reinterpret_cast<const WCHAR16 *>(data.data());
    EXPECT_EQ(narrow(texts), mechanism);
    std::u16string mechanismWide = wide(mechanism);

    ASSERT_EQ(queryInformation(kTargetB, mechanismWide.c_str(), ProtocolType, &data), 0u);
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data, (std::vector<unsigned char>{0, 0, 0, 0}));

    ASSERT_EQ(queryInformation(kTargetB, mechanismWide.c_str(), TargetAlias, &data), 0u);
    EXPECT_EQ(data, (std::vector<unsigned char>{0, 0}));

    ASSERT_EQ(queryInformation(kTargetB, mechanismWide.c_str(), PortalGroups, &data), 0u);
    ASSERT_EQ(data.size(), 4u + portalGroupStride(1));
    ULONG groups, portals;
    memcpy(&groups, data.data(), 4);
    memcpy(&portals, data.data() + 4, 4);
    EXPECT_EQ(groups, 1u);
    EXPECT_EQ(portals, 1u);
    ISCSI_TARGET_PORTALW portal;
    memcpy(&portal, data.data() + 8, sizeof portal);
    EXPECT_EQ(narrow(portal.Address), "127.0.0.1");
    EXPECT_EQ(portal.Socket, tgt_.port);
    EXPECT_EQ(portal.SymbolicName[0], 0);

    ASSERT_EQ(queryInformation(kTargetB, mechanismWide.c_str(), InitiatorName, &data), 0u);
    EXPECT_EQ(narrow(reinterpret_cast<const WCHAR16 *>(data.data())),
              "Root\\SoftwareInitiator\\0000_0");

    ASSERT_EQ(queryInformation(kTargetB, mechanismWide.c_str(), TargetFlags, &data), 0u);
    EXPECT_EQ(data, (std::vector<unsigned char>{0, 0, 0, 0}));

    ASSERT_EQ(queryInformation(kTargetB, mechanismWide.c_str(), LoginOptions, &data), 0u);
    ASSERT_EQ(data.size(), sizeof(ISCSI_LOGIN_OPTIONS));
    ISCSI_LOGIN_OPTIONS options;
    memcpy(&options, data.data(), sizeof options);
    EXPECT_EQ(options.InformationSpecified, 0u);
    EXPECT_EQ(options.Username, nullptr);
    EXPECT_EQ(options.Password, nullptr);

    EXPECT_EQ(queryInformation("iqn.2026-01.test.tgt:nobody", nullptr, ProtocolType, &data),
              SERVICE_TARGET_NOT_FOUND);
    std::u16string otherMechanism = wide("SendTargets 127.0.0.1:1");
    EXPECT_EQ(queryInformation(kTargetB, otherMechanism.c_str(), ProtocolType, &data),
              SERVICE_MECHANISM_NOT_FOUND);
}

TEST_F(ServiceOnTargets, IstgtAnswersWithTwoPortalGroups)
{
    START_OR_SKIP(startIstgt(&istgt_), istgt_);
    // The logout after istgt's answer fails inside libiscsi; the add must not.
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(addPortal(istgt_.port), 0u);
    EXPECT_LT(elapsedMs(start), 1500) << "the failed logout held the add";
    ISDSC_STATUS status;
    EXPECT_EQ(targetList(true, &status), (std::vector<std::string>{kIstgtTarget}));
    ASSERT_EQ(status, 0u);

    std::vector<unsigned char> data;
    ASSERT_EQ(queryInformation(kIstgtTarget, nullptr, PortalGroups, &data), 0u);
    ASSERT_EQ(data.size(), 4u + portalGroupStride(1) + portalGroupStride(2));
    ULONG groups, first, second;
    memcpy(&groups, data.data(), 4);
    memcpy(&first, data.data() + 4, 4);
    memcpy(&second, data.data() + 4 + portalGroupStride(1), 4);
    EXPECT_EQ(groups, 2u);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    ISCSI_TARGET_PORTALW portal;
    memcpy(&portal, data.data() + 8, sizeof portal);
    EXPECT_EQ(narrow(portal.Address), "127.0.0.1");
    EXPECT_EQ(portal.Socket, istgt_.port);
    // The second group: both portals on the second port, in either order.
    const size_t secondGroup = 4 + portalGroupStride(1);
    std::vector<std::string> seen;
    for (size_t k = 0; k < 2; k++) {
        memcpy(&portal, data.data() + secondGroup + 4 + k * sizeof portal, sizeof portal);
        seen.push_back(narrow(portal.Address) + ":" + std::to_string(portal.Socket));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"127.0.0.1:" + std::to_string(istgt_.secondPort),
                                              "127.0.0.2:" + std::to_string(istgt_.secondPort)}));

    // A login through the second group's portal.
    ISCSI_UNIQUE_SESSION_ID session;
    ASSERT_EQ(login(kIstgtTarget, istgt_.secondPort, nullptr, false, &session), 0u);
    EXPECT_NE(session.AdapterUnique, 0u);
}

TEST_F(ServiceOnTargets, LogsInWithChapAndRefusesAWrongSecret)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ChapOptions right;
    fillChapOptions(&right, kChapTarget, kSecret);
    ASSERT_EQ(addPortal(tgt_.port, &right.options), 0u);

    ASSERT_EQ(login(kChapTarget, tgt_.port, &right.options, true), 0u);
    ISCSI_UNIQUE_SESSION_ID session;
    ISCSI_UNIQUE_CONNECTION_ID connection;
    ASSERT_EQ(login(kChapTarget, tgt_.port, &right.options, false, &session, &connection), 0u);
    EXPECT_NE(session.AdapterUnique, 0u);
    EXPECT_NE(connection.AdapterUnique, session.AdapterUnique);
    EXPECT_EQ(tgtSessionCount(&tgt_, 3), 1);

    ChapOptions wrong;
    fillChapOptions(&wrong, kChapTarget, "not-the-secret-0");
    ISDSC_STATUS status = login(kChapTarget, tgt_.port, &wrong.options, false);
    EXPECT_EQ(status, SERVICE_AUTHENTICATION_FAILED);
    EXPECT_EQ(statusText(status), "The target refused the login: authentication failed. ");
    // No CHAP at all for a target that requires it.
    EXPECT_EQ(login(kChapTarget, tgt_.port, nullptr, false), SERVICE_AUTHENTICATION_FAILED);
    EXPECT_EQ(tgtSessionCount(&tgt_, 3), 1);
}

TEST_F(ServiceOnTargets, GivesEveryLoginItsOwnIsidAndLogsOutAtExit)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    ISCSI_UNIQUE_SESSION_ID first, second;
    ISCSI_UNIQUE_CONNECTION_ID firstConnection, secondConnection;
    ASSERT_EQ(login(kTargetA, tgt_.port, nullptr, false, &first, &firstConnection), 0u);
    ASSERT_EQ(login(kTargetA, tgt_.port, nullptr, false, &second, &secondConnection), 0u);
    // A repeated ISID would have made the target drop the first session.
    EXPECT_EQ(tgtSessionCount(&tgt_, 1), 2);
    EXPECT_NE(first.AdapterUnique, second.AdapterUnique);
    EXPECT_NE(firstConnection.AdapterUnique, secondConnection.AdapterUnique);

    // Another process logs in too and ends: its session goes with it.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ISCSI_UNIQUE_SESSION_ID session;
        int code = login(kTargetA, tgt_.port, nullptr, false, &session) == 0 ? 0 : 1;
        if (code == 0 && (session.AdapterUnique == first.AdapterUnique ||
                          session.AdapterUnique == second.AdapterUnique))
            code = 2;
        if (code == 0 && tgtSessionCount(&tgt_, 1) != 3)
            code = 3;
        exit(code);  // runs the exit handlers: the logout
    }
    EXPECT_EQ(waitForChild(child, 20000), 0);
    EXPECT_EQ(tgtSessionCount(&tgt_, 1), 2);
    closeAllSessions();
    EXPECT_EQ(openSessionCount(), 0u);
    auto start = std::chrono::steady_clock::now();
    while (tgtSessionCount(&tgt_, 1) != 0 && elapsedMs(start) < 5000)
        usleep(20000);
    EXPECT_EQ(tgtSessionCount(&tgt_, 1), 0);
}

struct UnreachableCase {
    const char *what;
    bool silent;
    ISDSC_STATUS expected;
    const char *text;
};

TEST_F(ServiceOnTargets, UnreachablePortalsFailInBoundedTimeAndStoreNothing)
{
    setenv("ISCSI_TOOLS_TIMEOUT_MS", "700", 1);
    const UnreachableCase cases[] = {
        {"closed port", false, SERVICE_CONNECTION_REFUSED,
         "The target portal refused the connection. "},
        {"silent listener", true, SERVICE_NO_ANSWER_IN_TIME,
         "The target portal did not answer in time. "},
    };
    for (const UnreachableCase &c : cases) {
        SCOPED_TRACE(c.what);
        int port = 0;
        int listener = -1;
        if (c.silent) {
            listener = startSilentListener(&port);
            ASSERT_GE(listener, 0);
        } else {
            port = freeLoopbackPort();
        }
        auto start = std::chrono::steady_clock::now();
        ISDSC_STATUS status = addPortal(port);
        long long took = elapsedMs(start);
        if (listener >= 0)
            close(listener);
        EXPECT_EQ(status, c.expected);
        EXPECT_EQ(statusText(status), c.text);
        EXPECT_LT(took, 3000);
        ISDSC_STATUS listed;
        EXPECT_TRUE(targetList(true, &listed).empty());
        EXPECT_EQ(listed, 0u);
        ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", port);
        EXPECT_EQ(RemoveIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, &portal),
                  SERVICE_PORTAL_NOT_FOUND);
    }
}

TEST_F(ServiceOnTargets, KeepsStateAcrossRunsAndTheTargetsOfAPortalThatStoppedAnswering)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    addPortalInAnotherProcess(tgt_.port);

    // This process has not discovered the portal itself: only the store knows.
    storeClose();
    ISDSC_STATUS status;
    EXPECT_EQ(targetList(false, &status),
              (std::vector<std::string>{kTargetA, kTargetB, kChapTarget}));
    EXPECT_EQ(status, 0u);

    stopTgtd(&tgt_);
    setenv("ISCSI_TOOLS_TIMEOUT_MS", "700", 1);
    EXPECT_EQ(targetList(true, &status),
              (std::vector<std::string>{kTargetA, kTargetB, kChapTarget}));
    EXPECT_EQ(status, 0u);

    ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", tgt_.port);
    EXPECT_EQ(RemoveIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, &portal), 0u);
    EXPECT_TRUE(targetList(false, &status).empty());
}

TEST_F(ServiceOnTargets, TwoRunsAtOnceBothComplete)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    pid_t children[2];
    for (pid_t &child : children) {
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int code = 0;
            ISDSC_STATUS status;
            if (addPortal(tgt_.port) != 0)
                code = 1;
            else if (targetList(true, &status).size() != 3 || status != 0)
                code = 2;
            else if (login(kTargetB, tgt_.port, nullptr, true) != 0)
                code = 3;
            else if (login(kTargetB, tgt_.port, nullptr, false) != 0)
                code = 4;
            exit(code);
        }
    }
    for (pid_t child : children)
        EXPECT_EQ(waitForChild(child, 30000), 0);
    storeClose();
    size_t logins = 0;
    ASSERT_EQ(storeBegin(false), 0u);
    EXPECT_EQ(storeCountPersistentLogins(kTargetB, &logins), 0u);
    storeRollback();
    EXPECT_EQ(logins, 1u);
}

TEST_F(ServiceOnTargets, ARunKilledMidwayLeavesAUsableStore)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    ASSERT_EQ(login(kTargetA, tgt_.port, nullptr, true), 0u);
    storeClose();

    const int delaysMs[] = {40, 150, 320};
    for (int delay : delaysMs) {
        SCOPED_TRACE(delay);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < 100000; i++) {
                ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", tgt_.port);
                std::u16string name = wide(kTargetB);
                addPortal(tgt_.port);
                login(kTargetB, tgt_.port, nullptr, true);
                RemoveIScsiPersistentTargetW(nullptr, ISCSI_ANY_INITIATOR_PORT, &name[0], &portal);
            }
            _exit(0);
        }
        usleep(static_cast<useconds_t>(delay) * 1000);
        kill(child, SIGKILL);
        EXPECT_EQ(waitForChild(child, 5000), -1);

        sqlite3 *database = nullptr;
        std::string path = std::string(stateDirectory_) + "/service.db";
        ASSERT_EQ(sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
        sqlite3_busy_timeout(database, 5000);
        sqlite3_stmt *check = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(database, "PRAGMA integrity_check", -1, &check, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(check, 0)), "ok");
        sqlite3_finalize(check);
        sqlite3_close(database);

        storeClose();
        size_t logins = 0;
        ASSERT_EQ(storeBegin(false), 0u);
        EXPECT_EQ(storeCountPersistentLogins(kTargetA, &logins), 0u);
        storeRollback();
        EXPECT_EQ(logins, 1u) << "a committed login was lost";
        ISDSC_STATUS status;
        EXPECT_EQ(targetList(false, &status).size(), 3u);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(addPortal(tgt_.port), 0u);
    }
}

// Every answer of the service, for every target and class, after the secret
// has been handed to it for discovery and for a persistent login.
TEST_F(ServiceOnTargets, NeverHandsTheSecretBack)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ChapOptions chap;
    fillChapOptions(&chap, "", kSecret);  // the node name serves as CHAP name
    ASSERT_EQ(addPortal(tgt_.port, &chap.options), 0u);
    ChapOptions loginChap;
    fillChapOptions(&loginChap, kChapTarget, kSecret);
    ASSERT_EQ(login(kChapTarget, tgt_.port, &loginChap.options, true), 0u);

    ISDSC_STATUS status;
    std::vector<std::string> names = targetList(true, &status);
    ASSERT_EQ(names.size(), 3u);
    const std::string secret = kSecret;
    std::u16string wideSecret = wide(secret);
    const TARGET_INFORMATION_CLASS classes[] = {DiscoveryMechanisms, ProtocolType,  TargetAlias,
                                                PortalGroups,        InitiatorName, TargetFlags,
                                                LoginOptions};
    for (const std::string &name : names) {
        for (TARGET_INFORMATION_CLASS infoClass : classes) {
            SCOPED_TRACE(name + " class " + std::to_string(infoClass));
            std::vector<unsigned char> data;
            ASSERT_EQ(queryInformation(name, nullptr, infoClass, &data), 0u);
            std::string bytes(data.begin(), data.end());
            std::string wideBytes(reinterpret_cast<const char *>(wideSecret.data()),
                                  wideSecret.size() * 2);
            EXPECT_EQ(bytes.find(secret), std::string::npos);
            EXPECT_EQ(bytes.find(wideBytes), std::string::npos);
            if (infoClass == LoginOptions) {
                ISCSI_LOGIN_OPTIONS options;
                ASSERT_GE(data.size(), sizeof options);
                memcpy(&options, data.data(), sizeof options);
                EXPECT_EQ(options.InformationSpecified, 0xE0u);
                EXPECT_EQ(options.AuthType, ISCSI_CHAP_AUTH_TYPE);
                EXPECT_EQ(options.PasswordLength, 0u);
                EXPECT_EQ(options.Password, nullptr);
                EXPECT_EQ(options.UsernameLength, 0u);
            }
        }
    }

    // The store that keeps the secret is for its owner alone.
    struct stat info;
    ASSERT_EQ(stat(stateDirectory_, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((std::string(stateDirectory_) + "/service.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A listener that answers with something other than iSCSI, or with
// nothing, and closes: the add fails at once, and says that the portal is no
// iSCSI target.
TEST_F(ServiceOnTargets, APortalThatIsNoIscsiTargetFailsWithItsText)
{
    struct Case {
        const char *what;
        std::string reply;
        ISDSC_STATUS expected;
    };
    const Case cases[] = {
        {"web server",
         std::string("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n") +
             std::string(64, ' '),
         SERVICE_NOT_AN_ISCSI_TARGET},
        {"closes at once", std::string(), SERVICE_NOT_AN_ISCSI_TARGET},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int port = 0;
        pid_t responder = startResponder(c.reply.data(), c.reply.size(), &port);
        ASSERT_GT(responder, 0);
        auto start = std::chrono::steady_clock::now();
        ISDSC_STATUS status = addPortal(port);
        long long took = elapsedMs(start);
        stopResponder(responder);
        EXPECT_EQ(status, c.expected) << statusText(status);
        EXPECT_LT(took, 2500);
    }
}

// A host name is looked up (from /etc/hosts: no query leaves the host) and
// its addresses tried in turn; the portal keeps the name.
TEST_F(ServiceOnTargets, APortalNamedByHostNameIsLookedUp)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ISCSI_TARGET_PORTALW portal = portalRecord("localhost", tgt_.port);
    ASSERT_EQ(AddIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, nullptr, 0, &portal),
              0u);
    std::vector<unsigned char> data;
    ASSERT_EQ(queryInformation(kTargetA, nullptr, DiscoveryMechanisms, &data), 0u);
    EXPECT_EQ(narrow(reinterpret_cast<const WCHAR16 *>(data.data())),
              "SendTargets localhost:" + std::to_string(tgt_.port));
}

// Countdown: the Nth store call of an operation fails, for N = 0, 1, ...
// until the operation succeeds.  Each failure is a clean status and leaves
// the store as it was.
TEST_F(ServiceOnTargets, AStoreFailureAtAnyStepLeavesTheStoreAsItWas)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    // The node name is generated before the countdowns start.
    WCHAR16 node[MAX_ISCSI_NAME_LEN + 1];
    ASSERT_EQ(GetIScsiInitiatorNodeNameW(node), 0u);

    ISDSC_STATUS status = 1;
    int failures = 0;
    for (int countdown = 0; countdown < 50 && status != 0; countdown++) {
        storeFailAfter(countdown);
        status = addPortal(tgt_.port);
        storeFailAfter(-1);
        if (status == 0)
            break;
        failures++;
        EXPECT_EQ(status, SERVICE_STORE_FAILED);
        ISDSC_STATUS listed;
        EXPECT_TRUE(targetList(false, &listed).empty()) << "after failure " << countdown;
        EXPECT_EQ(listed, 0u);
    }
    EXPECT_EQ(status, 0u);
    EXPECT_GT(failures, 2);

    status = 1;
    for (int countdown = 0; countdown < 50 && status != 0; countdown++) {
        storeFailAfter(countdown);
        status = login(kTargetA, tgt_.port, nullptr, true);
        storeFailAfter(-1);
        size_t logins = 99;
        ASSERT_EQ(storeBegin(false), 0u);
        EXPECT_EQ(storeCountPersistentLogins(kTargetA, &logins), 0u);
        storeRollback();
        EXPECT_EQ(logins, status == 0 ? 1u : 0u);
    }
    EXPECT_EQ(status, 0u);
    ISDSC_STATUS listed;
    EXPECT_EQ(targetList(false, &listed).size(), 3u);
}

// The questions about one target are answered from one read of the store,
// kept until the caller does anything else or this process changes the store:
// an answer never shows a store older than this process's own last change.
TEST_F(ServiceOnTargets, AnswersAboutATargetFollowThisProcesssChanges)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    std::vector<unsigned char> data;
    ASSERT_EQ(queryInformation(kTargetA, nullptr, DiscoveryMechanisms, &data), 0u);

    // A change made through the store itself, between two questions.
    PortalRow extra;
    memset(&extra, 0, sizeof extra);
    snprintf(extra.address, sizeof extra.address, "127.0.0.2");
    extra.socket = 3260;
    extra.portNumber = ISCSI_ANY_INITIATOR_PORT;
    long long id = 0;
    ASSERT_EQ(storeBegin(true), 0u);
    ASSERT_EQ(storeSavePortal(extra, &id), 0u);
    DiscoveryRecord record;
    memset(&record, 0, sizeof record);
    snprintf(record.target, sizeof record.target, "%s", kTargetA);
    snprintf(record.address, sizeof record.address, "127.0.0.9");
    record.socket = 3261;
    record.tag = 7;
    DiscoveryList found = {&record, 1, 1};
    ASSERT_EQ(storeReplaceDiscovery(id, found), 0u);
    ASSERT_EQ(storeCommit(), 0u);
    ASSERT_EQ(queryInformation(kTargetA, nullptr, DiscoveryMechanisms, &data), 0u);
    std::vector<std::string> mechanisms;
    const WCHAR16 *texts = reinterpret_cast<const WCHAR16 *>(data.data());
    for (size_t at = 0; texts[at] != 0; at += mechanisms.back().size() + 1)
        mechanisms.push_back(narrow(texts + at));
    const std::string first = "SendTargets 127.0.0.1:" + std::to_string(tgt_.port);
    EXPECT_EQ(mechanisms, (std::vector<std::string>{first, "SendTargets 127.0.0.2:3260"}));

    // Each portal's answer is its own discovery's records.
    struct Case {
        std::string mechanism;
        std::string address;
        int socket;
    };
    const Case cases[] = {{first, "127.0.0.1", tgt_.port},
                          {"SendTargets 127.0.0.2:3260", "127.0.0.9", 3261}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mechanism);
        std::u16string mechanism = wide(c.mechanism);
        ASSERT_EQ(queryInformation(kTargetA, mechanism.c_str(), PortalGroups, &data), 0u);
        ASSERT_EQ(data.size(), 4u + portalGroupStride(1));
        ISCSI_TARGET_PORTALW portal;
        memcpy(&portal, data.data() + 8, sizeof portal);
        EXPECT_EQ(narrow(portal.Address), c.address);
        EXPECT_EQ(portal.Socket, c.socket);
    }

    // A change made through an operation.
    ISCSI_TARGET_PORTALW removed = portalRecord("127.0.0.2", 3260);
    ASSERT_EQ(RemoveIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, &removed), 0u);
    std::u16string gone = wide("SendTargets 127.0.0.2:3260");
    EXPECT_EQ(queryInformation(kTargetA, gone.c_str(), PortalGroups, &data),
              SERVICE_MECHANISM_NOT_FOUND);
    ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", tgt_.port);
    ASSERT_EQ(RemoveIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, &portal), 0u);
    EXPECT_EQ(queryInformation(kTargetA, nullptr, ProtocolType, &data), SERVICE_TARGET_NOT_FOUND);
}

// What another run changes between two questions about one target is seen
// from the caller's next other operation on: the questions of one report
// agree with each other.
TEST_F(ServiceOnTargets, AnotherRunsChangeIsSeenAfterTheQuestionsAboutATarget)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    std::vector<unsigned char> data;
    ASSERT_EQ(queryInformation(kTargetB, nullptr, DiscoveryMechanisms, &data), 0u);

    storeClose();  // no connection crosses the fork
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", tgt_.port);
        _exit(RemoveIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, &portal) == 0 ? 0
                                                                                            : 1);
    }
    ASSERT_EQ(waitForChild(child, 20000), 0);

    EXPECT_EQ(queryInformation(kTargetB, nullptr, ProtocolType, &data), 0u);
    ISDSC_STATUS status;
    EXPECT_TRUE(targetList(false, &status).empty());
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(queryInformation(kTargetB, nullptr, ProtocolType, &data), SERVICE_TARGET_NOT_FOUND);
}

// A portal registered again keeps what its discovery finds now: a target
// that went and one that came in its place (the same number of records).
TEST_F(ServiceOnTargets, ARegistrationAgainRecordsWhatTheDiscoveryFindsNow)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    ISDSC_STATUS status;
    EXPECT_EQ(targetList(false, &status),
              (std::vector<std::string>{kTargetA, kTargetB, kChapTarget}));

    const char kDelta[] = "iqn.2026-01.test.tgt:delta";
    ASSERT_TRUE(removeTgtTarget(&tgt_, 2));
    ASSERT_TRUE(addTgtTarget(&tgt_, 4, {kDelta, nullptr, nullptr}));
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    EXPECT_EQ(targetList(false, &status),
              (std::vector<std::string>{kTargetA, kChapTarget, kDelta}));
    EXPECT_EQ(status, 0u);
    std::vector<unsigned char> data;
    EXPECT_EQ(queryInformation(kTargetB, nullptr, ProtocolType, &data), SERVICE_TARGET_NOT_FOUND);
}

// Countdown over the questions about a target: a store failure at any step
// is a clean status, and the next question reads the store again.
TEST_F(ServiceOnTargets, AStoreFailureWhileReadingATargetLeavesNoHalfAnswer)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    ISDSC_STATUS status = 1;
    std::vector<unsigned char> data;
    int failures = 0;
    for (int countdown = 0; countdown < 20 && status != 0; countdown++) {
        ISDSC_STATUS listed;
        targetList(false, &listed);  // ends any series of questions
        storeFailAfter(countdown);
        status = queryInformation(kTargetB, nullptr, PortalGroups, &data);
        storeFailAfter(-1);
        if (status != 0) {
            failures++;
            EXPECT_EQ(status, SERVICE_STORE_FAILED);
            ASSERT_EQ(queryInformation(kTargetB, nullptr, PortalGroups, &data), 0u)
                << "after failure " << countdown;
        }
        ASSERT_EQ(data.size(), 4u + portalGroupStride(1)) << "after failure " << countdown;
        ULONG groups = 0;
        memcpy(&groups, data.data(), 4);
        EXPECT_EQ(groups, 1u);
    }
    EXPECT_EQ(status, 0u);
    EXPECT_GT(failures, 2);
}

// An IPv6 portal: the address travels without brackets and connects with them.
TEST_F(ServiceOnTargets, DiscoversAndLogsInOverIpv6Loopback)
{
    const TgtTarget targets[] = {{kTargetA, nullptr, nullptr}};
    START_OR_SKIP(startTgtdOn(&tgt_, "::1", targets, 1), tgt_);
    ISCSI_TARGET_PORTALW portal = portalRecord("::1", tgt_.port);
    ASSERT_EQ(AddIScsiSendTargetPortalW(nullptr, ISCSI_ANY_INITIATOR_PORT, nullptr, 0, &portal),
              0u);
    std::vector<unsigned char> data;
    ASSERT_EQ(queryInformation(kTargetA, nullptr, DiscoveryMechanisms, &data), 0u);
    EXPECT_EQ(narrow(reinterpret_cast<const WCHAR16 *>(data.data())),
              "SendTargets [::1]:" + std::to_string(tgt_.port));
    ASSERT_EQ(queryInformation(kTargetA, nullptr, PortalGroups, &data), 0u);
    ISCSI_TARGET_PORTALW recorded;
    ASSERT_EQ(data.size(), 4u + portalGroupStride(1));
    memcpy(&recorded, data.data() + 8, sizeof recorded);
    EXPECT_EQ(narrow(recorded.Address), "::1");
    EXPECT_EQ(recorded.Socket, tgt_.port);

    std::u16string name = wide(kTargetA);
    ISCSI_UNIQUE_SESSION_ID session;
    ISCSI_UNIQUE_CONNECTION_ID connection;
    EXPECT_EQ(LoginIScsiTargetW(&name[0], false, nullptr, ISCSI_ANY_INITIATOR_PORT, &recorded, 0,
                                nullptr, nullptr, 0, nullptr, false, &session, &connection),
              0u);
}

// A store of version 1 (portals without a registration count) or 2 (the
// login settings in ten columns), as those services wrote it: settings,
// one CHAP portal (id 7, registered five times in version 2), its discovery
// of two targets and a persistent login with a user name and a secret.
std::string oldStoreSql(int version)
{
    const std::string loginColumns =
        "version INTEGER NOT NULL, specified INTEGER NOT NULL, login_flags INTEGER NOT NULL,"
        "auth_type INTEGER NOT NULL, header_digest INTEGER NOT NULL,"
        "data_digest INTEGER NOT NULL, max_connections INTEGER NOT NULL,"
        "time2wait INTEGER NOT NULL, time2retain INTEGER NOT NULL,"
        "username BLOB NOT NULL, password BLOB NOT NULL";
    const std::string chap =
        "0, " +
        std::to_string(ISCSI_LOGIN_OPTIONS_USERNAME | ISCSI_LOGIN_OPTIONS_PASSWORD |
                       ISCSI_LOGIN_OPTIONS_AUTH_TYPE) +
        ", 2, 1, 0, 0, 0, 20, 30";
    bool counted = version >= 2;
    return "DROP TABLE IF EXISTS discovered; DROP TABLE IF EXISTS portals;"
           "DROP TABLE IF EXISTS persistent_logins; DROP TABLE IF EXISTS settings;"
           "CREATE TABLE settings(name TEXT PRIMARY KEY, value TEXT NOT NULL);"
           "CREATE TABLE portals(id INTEGER PRIMARY KEY, address TEXT NOT NULL,"
           "socket INTEGER NOT NULL, instance TEXT NOT NULL, port_number INTEGER NOT NULL, " +
           loginColumns + (counted ? ", generation INTEGER NOT NULL DEFAULT 1" : "") +
           ", UNIQUE(address, socket));"
           "CREATE TABLE discovered("
           "portal_id INTEGER NOT NULL REFERENCES portals(id) ON DELETE CASCADE,"
           "record INTEGER NOT NULL, target_ordinal INTEGER NOT NULL, target TEXT NOT NULL,"
           "address TEXT NOT NULL, socket INTEGER NOT NULL, tag INTEGER NOT NULL,"
           "PRIMARY KEY(portal_id, record));"
           "CREATE INDEX discovered_by_target ON discovered(target);"
           "CREATE TABLE persistent_logins(target TEXT NOT NULL, instance TEXT NOT NULL,"
           "port_number INTEGER NOT NULL, address TEXT NOT NULL, socket INTEGER NOT NULL, " +
           loginColumns +
           ", PRIMARY KEY(target, instance, port_number, address, socket));"
           "INSERT INTO settings VALUES('kept', 'as it was');"
           "INSERT INTO portals VALUES(7, '127.0.0.1', 3260, '', 4294967295, " +
           chap + ", x'', CAST('portal-secret' AS BLOB)" + (counted ? ", 5" : "") +
           ");"
           "INSERT INTO discovered VALUES(7, 0, 0, '" +
           kTargetA + "', '127.0.0.1', 3260, 1), (7, 1, 1, '" + kTargetB +
           "', '127.0.0.1', 3260, 1);"
           "INSERT INTO persistent_logins VALUES('" +
           kTargetA + "', 'Root\\SoftwareInitiator\\0000_0', 4294967295, '127.0.0.1', 3260, " +
           chap +
           ", CAST('user-x' AS BLOB), CAST('login-secret' AS BLOB));"
           "PRAGMA user_version = " +
           std::to_string(version) + ";";
}

// One value of the store, read by hand: the text of the first column of the
// first row of sql ("<none>" without a row, "<error>" when it fails).
std::string storeValue(const std::string &path, const std::string &sql)
{
    sqlite3 *database = nullptr;
    std::string value = "<error>";
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *query = nullptr;
        if (sqlite3_prepare_v2(database, sql.c_str(), -1, &query, nullptr) == SQLITE_OK) {
            int result = sqlite3_step(query);
            if (result == SQLITE_ROW && sqlite3_column_text(query, 0) != nullptr)
                value = reinterpret_cast<const char *>(sqlite3_column_text(query, 0));
            else if (result == SQLITE_DONE)
                value = "<none>";
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(database);
    return value;
}

// A store of versions 1 and 2 is brought up to date when it is opened and
// keeps what it held: the settings, every id, the registration count, the
// discovered targets, the login settings and both secrets.
TEST_F(ServiceOnTargets, AStoreOfAnEarlierVersionIsBroughtUpToDateWithAllItHeld)
{
    for (int version : {1, 2}) {
        SCOPED_TRACE(version);
        ASSERT_EQ(storeBegin(false), 0u);  // the state directory and the store
        storeRollback();
        changeStore(oldStoreSql(version));

        ISDSC_STATUS status;
        EXPECT_EQ(targetList(false, &status), (std::vector<std::string>{kTargetA, kTargetB}));
        EXPECT_EQ(status, 0u) << statusText(status);
        std::vector<unsigned char> data;
        ASSERT_EQ(queryInformation(kTargetA, nullptr, LoginOptions, &data), 0u);
        ISCSI_LOGIN_OPTIONS options;
        ASSERT_GE(data.size(), sizeof options);
        memcpy(&options, data.data(), sizeof options);
        EXPECT_EQ(options.InformationSpecified, ISCSI_LOGIN_OPTIONS_USERNAME |
                                                    ISCSI_LOGIN_OPTIONS_PASSWORD |
                                                    ISCSI_LOGIN_OPTIONS_AUTH_TYPE);
        EXPECT_EQ(options.LoginFlags, 2u);
        EXPECT_EQ(static_cast<int>(options.AuthType), ISCSI_CHAP_AUTH_TYPE);
        EXPECT_EQ(options.DefaultTime2Wait, 20u);
        EXPECT_EQ(options.DefaultTime2Retain, 30u);
        EXPECT_EQ(options.PasswordLength, 0u);

        // One more registration of the portal keeps its id and counts.
        PortalRow again;
        memset(&again, 0, sizeof again);
        snprintf(again.address, sizeof again.address, "127.0.0.1");
        again.socket = 3260;
        long long id = 0;
        ASSERT_EQ(storeBegin(true), 0u);
        ASSERT_EQ(storeSavePortal(again, &id), 0u);
        size_t logins = 0;
        EXPECT_EQ(storeCountPersistentLogins(kTargetA, &logins), 0u);
        ASSERT_EQ(storeCommit(), 0u);
        EXPECT_EQ(id, 7);
        EXPECT_EQ(logins, 1u);
        storeClose();

        const std::string path = storePath();
        EXPECT_EQ(storeValue(path, "PRAGMA user_version"), "3");
        EXPECT_EQ(storeValue(path, "SELECT value FROM settings WHERE name = 'kept'"), "as it was");
        EXPECT_EQ(storeValue(path, "SELECT generation FROM portals WHERE id = 7"),
                  version == 1 ? "2" : "6");
        EXPECT_EQ(storeValue(path, "SELECT count(*) FROM discovered WHERE portal_id = 7"), "2");
        EXPECT_EQ(storeValue(path, "SELECT CAST(secret AS TEXT) FROM persistent_logins"),
                  "login-secret");
        sqlite3 *database = nullptr;
        ASSERT_EQ(sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        sqlite3_stmt *query = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(database, "SELECT login FROM persistent_logins", -1, &query,
                                     nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
        LoginSettings stored;
        memset(&stored, 0, sizeof stored);
        EXPECT_TRUE(decodeStoredLogin(sqlite3_column_blob(query, 0),
                                      static_cast<size_t>(sqlite3_column_bytes(query, 0)),
                                      &stored));
        EXPECT_EQ(
            std::string(reinterpret_cast<const char *>(stored.username), stored.usernameLength),
            "user-x");
        EXPECT_EQ(stored.authType, 1u);
        EXPECT_EQ(stored.defaultTime2Retain, 30u);
        sqlite3_finalize(query);
        sqlite3_close(database);
    }
}

// Countdown over the upgrade: a store failure at any step of it leaves the
// store of version 2 whole (a failure after the upgrade has committed, its
// store of version 3), and the next opening upgrades it.
TEST_F(ServiceOnTargets, AStoreFailureDuringTheUpgradeLeavesTheOldStore)
{
    ASSERT_EQ(storeBegin(false), 0u);
    storeRollback();
    ISDSC_STATUS status = 1;
    int failuresBefore = 0;
    for (int countdown = 0; countdown < 40 && status != 0; countdown++) {
        SCOPED_TRACE(countdown);
        changeStore(oldStoreSql(2));
        storeFailAfter(countdown);
        status = storeBegin(false);
        storeFailAfter(-1);
        storeRollback();
        storeClose();
        if (status == 0)
            break;
        EXPECT_EQ(status, SERVICE_STORE_FAILED);
        const std::string version = storeValue(storePath(), "PRAGMA user_version");
        const std::string secretColumn = version == "2" ? "password" : "secret";
        failuresBefore += version == "2";
        EXPECT_TRUE(version == "2" || version == "3") << version;
        EXPECT_EQ(storeValue(storePath(), "SELECT CAST(" + secretColumn +
                                              " AS TEXT) || generation FROM portals WHERE id = 7"),
                  "portal-secret5");
        EXPECT_EQ(storeValue(storePath(), "SELECT count(*) FROM persistent_logins"), "1");
    }
    EXPECT_EQ(status, 0u);
    EXPECT_GT(failuresBefore, 5);
    EXPECT_EQ(storeValue(storePath(), "PRAGMA user_version"), "3");
    EXPECT_EQ(storeValue(storePath(), "SELECT CAST(secret AS TEXT) || generation FROM portals"),
              "portal-secret5");
}

// Portals that answered once and went silent (they accept connections and
// never answer) are asked again all at once: the forced target list costs one
// step bound, not one per silent portal, and a portal that answers is asked
// in the same round.
TEST_F(ServiceOnTargets, SilentStoredPortalsAreAskedTogetherWithinOneBound)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    addPortalInAnotherProcess(tgt_.port);

    const char *silentTargets[] = {"iqn.2026-01.test.silent:one", "iqn.2026-01.test.silent:two"};
    int listeners[2];
    ASSERT_EQ(storeBegin(true), 0u);
    for (int i = 0; i < 2; i++) {
        int port = 0;
        listeners[i] = startSilentListener(&port);
        ASSERT_GE(listeners[i], 0);
        PortalRow row;
        memset(&row, 0, sizeof row);
        snprintf(row.address, sizeof row.address, "127.0.0.1");
        row.socket = static_cast<USHORT>(port);
        row.portNumber = ISCSI_ANY_INITIATOR_PORT;
        long long id = 0;
        ASSERT_EQ(storeSavePortal(row, &id), 0u);
        DiscoveryRecord record;
        memset(&record, 0, sizeof record);
        snprintf(record.target, sizeof record.target, "%s", silentTargets[i]);
        snprintf(record.address, sizeof record.address, "127.0.0.1");
        record.socket = static_cast<USHORT>(port);
        record.tag = 1;
        DiscoveryList found = {&record, 1, 1};
        ASSERT_EQ(storeReplaceDiscovery(id, found), 0u);
    }
    ASSERT_EQ(storeCommit(), 0u);
    const char kLate[] = "iqn.2026-01.test.tgt:late";
    ASSERT_TRUE(addTgtTarget(&tgt_, 4, {kLate, nullptr, nullptr}));

    const int kBoundMs = 1500;
    setenv("ISCSI_TOOLS_TIMEOUT_MS", std::to_string(kBoundMs).c_str(), 1);
    auto start = std::chrono::steady_clock::now();
    ISDSC_STATUS status;
    std::vector<std::string> names = targetList(true, &status);
    long long took = elapsedMs(start);
    for (int listener : listeners)
        close(listener);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(names, (std::vector<std::string>{kTargetA, kTargetB, kChapTarget, kLate,
                                               silentTargets[0], silentTargets[1]}));
    EXPECT_GE(took, kBoundMs - 100);
    EXPECT_LT(took, kBoundMs + 700) << "the silent portals were asked one after another";
}

// A store written before target names were checked may hold a name that is
// not UTF-8, a name with control characters and a portal record whose
// address has them.  Those rows are passed over; every other row is answered.
TEST_F(ServiceOnTargets, AStoredRowThatCannotBeReadHidesNothing)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    changeStore(
        "INSERT INTO discovered(portal_id, record, target_ordinal, target, address, socket, tag) "
        "SELECT id, 100, 100, CAST(X'69716e2e323032362d30312e6576696c3afffe' AS TEXT), "
        "'127.0.0.1', socket, 1 FROM portals;"
        "INSERT INTO discovered(portal_id, record, target_ordinal, target, address, socket, tag) "
        "SELECT id, 101, 101, 'iqn.2026-01.evil:' || char(27) || ']0;owned' || char(7), "
        "'127.0.0.1', socket, 1 FROM portals;"
        "INSERT INTO discovered(portal_id, record, target_ordinal, target, address, socket, tag) "
        "SELECT id, 102, 1, '" +
        std::string(kTargetB) +
        "', char(27) || '[2J', socket, 2 "
        "FROM portals;");

    ISDSC_STATUS status;
    EXPECT_EQ(targetList(false, &status),
              (std::vector<std::string>{kTargetA, kTargetB, kChapTarget}));
    EXPECT_EQ(status, 0u) << statusText(status);
    std::vector<unsigned char> data;
    ASSERT_EQ(queryInformation(kTargetB, nullptr, PortalGroups, &data), 0u);
    ASSERT_EQ(data.size(), 4u + portalGroupStride(1));
    ISCSI_TARGET_PORTALW portal;
    memcpy(&portal, data.data() + 8, sizeof portal);
    EXPECT_EQ(narrow(portal.Address), "127.0.0.1");
}

// Two runs whose process ids are the same, each in a PID namespace of its
// own (as in two containers), log in to one target at the same time: their
// sessions have ISIDs of their own, and the target keeps both.
TEST_F(ServiceOnTargets, RunsWithOneProcessIdInTwoNamespacesKeepTheirSessions)
{
    START_OR_SKIP(startThreeTargets(), tgt_);
    ASSERT_EQ(addPortal(tgt_.port), 0u);
    int reports[2];
    int release[2];
    ASSERT_EQ(pipe(reports), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t outer[2];
    for (pid_t &run : outer) {
        run = fork();
        ASSERT_GE(run, 0);
        if (run != 0)
            continue;
        alarm(30);
        if (unshare(CLONE_NEWPID) != 0)
            _exit(77);
        pid_t inner = fork();
        if (inner == 0) {
            ISCSI_UNIQUE_SESSION_ID session;
            if (getpid() != 1 || login(kTargetA, tgt_.port, nullptr, false, &session) != 0)
                _exit(1);
            if (write(reports[1], &session.AdapterUnique, sizeof session.AdapterUnique) !=
                static_cast<ssize_t>(sizeof session.AdapterUnique))
                _exit(2);
            char byte;
            _exit(read(release[0], &byte, 1) == 1 ? 0 : 3);  // the session lives until then
        }
        int status = 0;
        waitpid(inner, &status, 0);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 4);
    }
    close(reports[1]);
    unsigned long long isids[2] = {0, 0};
    int received = 0;
    for (unsigned long long &isid : isids)
        received += read(reports[0], &isid, sizeof isid) == static_cast<ssize_t>(sizeof isid);
    int sessions = tgtSessionCount(&tgt_, 1);
    EXPECT_EQ(write(release[1], "gg", 2), 2);
    int codes[2];
    for (int i = 0; i < 2; i++)
        codes[i] = waitForChild(outer[i], 20000);
    close(reports[0]);
    close(release[0]);
    close(release[1]);
    if (codes[0] == 77 || codes[1] == 77)
        GTEST_SKIP() << "no PID namespace can be made here";
    ASSERT_EQ(received, 2);
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 0);
    EXPECT_NE(isids[0], isids[1]);
    EXPECT_EQ(sessions, 2) << "the target dropped a session whose ISID it saw again";
}

// Once a CHAP secret has reached the service, the process cannot be dumped
// (no core file holds the secret); without a secret nothing changes.
TEST_F(ServiceOnTargets, TheProcessCannotBeDumpedOnceItHoldsASecret)
{
    struct Case {
        const char *what;
        bool secret;
        int dumpable;
    };
    const Case cases[] = {{"no secret", false, 1}, {"CHAP secret", true, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int port = freeLoopbackPort();
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(30);
            if (prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) != 0 || prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 1)
                _exit(10);
            ChapOptions chap;
            fillChapOptions(&chap, "", kSecret);
            addPortal(port, c.secret ? &chap.options : nullptr);  // refused: nothing listens
            _exit(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0));
        }
        EXPECT_EQ(waitForChild(child, 20000), c.dumpable);
    }
}

}  // namespace
