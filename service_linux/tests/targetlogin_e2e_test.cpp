// The real targetlogin over this service against tgtd on loopback: whole
// output and exit code of each run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "service_linux/tests/target_daemons.h"

extern char **environ;

namespace {

const char kPlain[] = "iqn.2026-01.test.e2e:plain";
const char kSecured[] = "iqn.2026-01.test.e2e:secured";
const char kSecret[] = "e2e-chap-secret-31";

struct ToolRun {
    int exitCode;
    std::string output;
};

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Session and connection identifiers differ from run to run: each
// "Id is 0x<hex>-0x<hex>" becomes "Id is <id>".
std::string maskIdentifiers(const std::string &output)
{
    std::string masked;
    const std::string marker = "Id is 0x";
    size_t at = 0;
    for (;;) {
        size_t found = output.find(marker, at);
        if (found == std::string::npos)
            break;
        size_t end = output.find('\n', found);
        if (end == std::string::npos)
            end = output.size();
        masked.append(output, at, found - at);
        masked.append("Id is <id>");
        at = end;
    }
    masked.append(output, at, std::string::npos);
    return masked;
}

class TargetloginOverService : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(makeScratchDirectory(scratch_, sizeof scratch_));
        setenv("ISCSI_TOOLS_STATE_DIR", (std::string(scratch_) + "/state").c_str(), 1);
        setenv("ISCSI_TOOLS_TIMEOUT_MS", "3000", 1);
        const TgtTarget targets[] = {{kPlain, nullptr, nullptr}, {kSecured, kSecured, kSecret}};
        started_ = startTgtd(&tgt_, targets, 2);
    }

    void TearDown() override
    {
        if (tgt_.pid > 0)
            stopTgtd(&tgt_);
        removeTree(scratch_);
        unsetenv("ISCSI_TOOLS_STATE_DIR");
        unsetenv("ISCSI_TOOLS_TIMEOUT_MS");
    }

    ToolRun run(std::vector<std::string> arguments, int timeoutMs = 30000)
    {
        std::string output = std::string(scratch_) + "/out" + std::to_string(runs_++) + ".txt";
        std::vector<const char *> argv = {TARGETLOGIN_PATH};
        for (const std::string &argument : arguments)
            argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        int code = runBounded(argv.data(), timeoutMs, output.c_str());
        return {code, readFile(output)};
    }

    std::string nodeName()
    {
        std::string output = std::string(scratch_) + "/node.txt";
        const char *argv[] = {OVELIN_PATH, nullptr};
        runBounded(argv, 10000, output.c_str());
        std::string name = readFile(output);
        return name.substr(0, name.find('\n'));
    }

    std::string header()
    {
        return "iSCSI Initiator version 1.0 Build 0\n\n" + nodeName() +
               "\nRoot\\SoftwareInitiator\\0000_0\n";
    }

    std::string report(const char *target, bool chap)
    {
        std::string port = std::to_string(tgt_.port);
        std::string text = std::string("Get Target information for ") + target +
                           "\nDiscovery Mechanism: SendTargets 127.0.0.1:" + port +
                           "\n"
                           "    Protocol Type        : iSCSI TCP Protocol\n"
                           "    Target Alias         : \n"
                           "    PortalGroups         : 1 portal groups\n"
                           "        Group 0 has 1 portals\n"
                           "            Address and Socket    : 127.0.0.1 " + port +
                           "\n"
                           "            Symbolic Name         : \n"
                           "    Initiator Name       : Root\\SoftwareInitiator\\0000_0\n"
                           "    Target Flags         : 0x0\n"
                           "    Version              : 0\n";
        if (chap)
            text += "    Information Specified: 0xe0\n"
                    "    Login Flags          : 0x2\n"
                    "                           Multipath Enabled\n"
                    "    Authentication Type  : CHAP\n"
                    "    Username             : \n"
                    "    Password             : <is established>\n";
        else
            text += "    Information Specified: 0x0\n"
                    "    Login Flags          : 0x0\n";
        text += ">           Address and Socket    : 127.0.0.1 " + port + "\n" +
                "LoginTarget to " + target + " on Root\\SoftwareInitiator\\0000_0 to 127.0.0.1/" +
                port + "\n";
        return text;
    }

    const std::string loggedIn = "Session Id is <id>\nConnection Id is <id>\n";

    char scratch_[256] = {0};
    TargetDaemon tgt_ = {-1, 0, 0, 0, {0}, {0}};
    bool started_ = false;
    int runs_ = 0;
};

#define SKIP_WITHOUT_TGTD()                                              \
    do {                                                                 \
        if (!started_)                                                   \
            GTEST_SKIP() << "no target daemon here: " << tgt_.why;       \
    } while (0)

TEST_F(TargetloginOverService, DiscoversAndLogsInWithChap)
{
    SKIP_WITHOUT_TGTD();
    ToolRun result = run({"127.0.0.1", "-p", std::to_string(tgt_.port), "-t", kSecret});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(maskIdentifiers(result.output), header() + report(kPlain, true) + loggedIn +
                                                  report(kSecured, true) + loggedIn +
                                                  "Connection complete\n");
    EXPECT_EQ(result.output.find(kSecret), std::string::npos);
}

TEST_F(TargetloginOverService, AWrongSecretEndsInTheLoginFailureLine)
{
    SKIP_WITHOUT_TGTD();
    ToolRun result = run({"127.0.0.1", "-p", std::to_string(tgt_.port), "-t", "wrong-secret-00"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(maskIdentifiers(result.output),
              header() + report(kPlain, true) + loggedIn + report(kSecured, true) +
                  "    Login Failed : The target refused the login: authentication failed. \n"
                  "Connection complete\n");
    // Without any secret the CHAP target refuses too.
    result = run({"127.0.0.1", "-p", std::to_string(tgt_.port)});
    EXPECT_EQ(maskIdentifiers(result.output),
              header() + report(kPlain, false) + loggedIn + report(kSecured, false) +
                  "    Login Failed : The target refused the login: authentication failed. \n"
                  "Connection complete\n");
}

TEST_F(TargetloginOverService, UnreachablePortalsFailInBoundedTime)
{
    SKIP_WITHOUT_TGTD();
    setenv("ISCSI_TOOLS_TIMEOUT_MS", "700", 1);
    int silentPort = 0;
    int silent = startSilentListener(&silentPort);
    ASSERT_GE(silent, 0);
    int closedPort = freeLoopbackPort();
    auto start = std::chrono::steady_clock::now();
    ToolRun result = run({"127.0.0.1", "-p", std::to_string(closedPort), "127.0.0.1", "-p",
                      std::to_string(silentPort)});
    auto took = std::chrono::steady_clock::now() - start;
    close(silent);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output,
              header() +
                  "Error adding target portal 127.0.0.1: The target portal refused the connection. \n"
                  "Error adding target portal 127.0.0.1: The target portal did not answer in time. \n");
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 5000);
}

TEST_F(TargetloginOverService, ALaterRunStillReportsTheTargetsOfAPortalThatStoppedAnswering)
{
    SKIP_WITHOUT_TGTD();
    std::string port = std::to_string(tgt_.port);
    ASSERT_EQ(run({"127.0.0.1", "-p", port}).exitCode, 0);

    // A second tgtd that knows a third target; the first one goes away.
    TargetDaemon other;
    const TgtTarget targets[] = {{"iqn.2026-01.test.e2e:other", nullptr, nullptr}};
    ASSERT_TRUE(startTgtd(&other, targets, 1)) << other.why;
    stopTgtd(&tgt_);
    setenv("ISCSI_TOOLS_TIMEOUT_MS", "700", 1);
    ToolRun result = run({"127.0.0.1", "-p", std::to_string(other.port)});
    stopTgtd(&other);
    EXPECT_EQ(result.exitCode, 0);
    std::string output = maskIdentifiers(result.output);
    EXPECT_NE(output.find(std::string("Get Target information for ") + kPlain), std::string::npos);
    EXPECT_NE(output.find(std::string("Get Target information for ") + kSecured), std::string::npos);
    EXPECT_NE(output.find("Get Target information for iqn.2026-01.test.e2e:other"),
              std::string::npos);
    EXPECT_NE(output.find("Connection complete\n"), std::string::npos);
}

TEST_F(TargetloginOverService, TwoRunsAtOnceAndAKilledRunLeaveAWorkingStore)
{
    SKIP_WITHOUT_TGTD();
    std::string port = std::to_string(tgt_.port);
    // A run killed while it waits on a silent portal.
    int silentPort = 0;
    int silent = startSilentListener(&silentPort);
    ASSERT_GE(silent, 0);
    std::string silentText = std::to_string(silentPort);
    const char *killedArgv[] = {TARGETLOGIN_PATH, "127.0.0.1", "-p", port.c_str(), "127.0.0.1",
                                "-p", silentText.c_str(), nullptr};
    pid_t killed = -1;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    ASSERT_EQ(posix_spawn(&killed, TARGETLOGIN_PATH, &quiet, nullptr,
                          const_cast<char *const *>(killedArgv), environ),
              0);
    posix_spawn_file_actions_destroy(&quiet);
    usleep(400000);
    kill(killed, SIGKILL);
    int status = 0;
    waitpid(killed, &status, 0);
    close(silent);

    std::string expected = header() + report(kPlain, false) + loggedIn +
                           report(kSecured, false) +
                           "    Login Failed : The target refused the login: authentication failed. \n"
                           "Connection complete\n";
    std::string outputs[2];
    pid_t children[2];
    for (int i = 0; i < 2; i++) {
        outputs[i] = std::string(scratch_) + "/together" + std::to_string(i) + ".txt";
        children[i] = fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0) {
            const char *argv[] = {TARGETLOGIN_PATH, "127.0.0.1", "-p", port.c_str(), nullptr};
            _exit(runBounded(argv, 30000, outputs[i].c_str()));
        }
    }
    for (int i = 0; i < 2; i++) {
        waitpid(children[i], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        // Both runs share the persistent login of the secured target: when
        // the other run's clean-up removed it first, this one's removal fails.
        std::string output = maskIdentifiers(readFile(outputs[i]));
        const std::string raced = "Presistent Login Remove Failed : No persistent login is "
                                  "recorded for this target and portal. \n";
        size_t at = output.find(raced);
        if (at != std::string::npos)
            output.erase(at, raced.size());
        EXPECT_EQ(output, expected);
    }
}

}  // namespace
