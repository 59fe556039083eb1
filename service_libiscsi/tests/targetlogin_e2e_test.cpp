// The real targetlogin over this service against tgtd on loopback: whole
// output and exit code of each run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "service_libiscsi/tests/target_daemons.h"

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

// The unprivileged user the hostile-store cases run as (root only).
const uid_t kNobody = 65534;

// Starts targetlogin with its standard output (and error) in outputPath; as
// kNobody when asNobody (the file is opened before the privileges go).  With
// a gate (a pipe), the program starts when the gate's writing end is closed,
// so that several start at the same moment.
pid_t startTargetlogin(const std::vector<std::string> &arguments, const std::string &outputPath,
                       bool asNobody, const int *gate = nullptr)
{
    std::vector<const char *> argv = {TARGETLOGIN_PATH};
    for (const std::string &argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child != 0)
        return child;
    int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int input = open("/dev/null", O_RDONLY);
    if (output < 0 || input < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(output, 2) < 0)
        _exit(126);
    if (asNobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(126);
    if (gate != nullptr) {
        char byte;
        close(gate[1]);
        if (read(gate[0], &byte, 1) != 0)
            _exit(126);
    }
    execv(TARGETLOGIN_PATH, const_cast<char *const *>(argv.data()));
    _exit(127);
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
                           "            Address and Socket    : 127.0.0.1 " +
                           port +
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
        text += ">           Address and Socket    : 127.0.0.1 " + port + "\n" + "LoginTarget to " +
                target + " on Root\\SoftwareInitiator\\0000_0 to 127.0.0.1/" + port + "\n";
        return text;
    }

    const std::string loggedIn = "Session Id is <id>\nConnection Id is <id>\n";

    char scratch_[256] = {0};
    TargetDaemon tgt_ = {-1, 0, 0, 0, {0}, {0}};
    bool started_ = false;
    int runs_ = 0;
};

#define SKIP_WITHOUT_TGTD()                                                                        \
    do {                                                                                           \
        if (!started_)                                                                             \
            GTEST_SKIP() << "no target daemon here: " << tgt_.why;                                 \
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
    EXPECT_EQ(
        result.output,
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
    EXPECT_NE(output.find(std::string("Get Target information for ") + kSecured),
              std::string::npos);
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
    const char *killedArgv[] = {TARGETLOGIN_PATH,   "127.0.0.1", "-p",
                                port.c_str(),       "127.0.0.1", "-p",
                                silentText.c_str(), nullptr};
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

    std::string expected =
        header() + report(kPlain, false) + loggedIn + report(kSecured, false) +
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

// Two runs started together on a store that does not exist yet, round after
// round: the second waits for the first to create the store and both do
// their whole job.
TEST_F(TargetloginOverService, TwoRunsAtOnceOnAFreshStoreBothComplete)
{
    SKIP_WITHOUT_TGTD();
    const int kRounds = 40;
    std::string port = std::to_string(tgt_.port);
    int failedRounds = 0;
    std::string firstFailure;
    for (int round = 0; round < kRounds; round++) {
        std::string state = std::string(scratch_) + "/fresh" + std::to_string(round);
        setenv("ISCSI_TOOLS_STATE_DIR", state.c_str(), 1);
        std::string outputs[2];
        pid_t children[2];
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        for (int i = 0; i < 2; i++) {
            outputs[i] = state + "-run" + std::to_string(i) + ".txt";
            children[i] =
                startTargetlogin({"127.0.0.1", "-p", port, "-t", kSecret}, outputs[i], false, gate);
            ASSERT_GT(children[i], 0);
        }
        close(gate[0]);
        close(gate[1]);
        int codes[2];
        for (int i = 0; i < 2; i++)
            codes[i] = waitForChild(children[i], 30000);
        // The node name is read after the runs: without a host name file the
        // first run generated it.
        std::string expected = header() + report(kPlain, true) + loggedIn + report(kSecured, true) +
                               loggedIn + "Connection complete\n";
        for (int i = 0; i < 2; i++) {
            std::string output = maskIdentifiers(readFile(outputs[i]));
            if (codes[i] == 0 && output == expected)
                continue;
            if (failedRounds++ == 0)
                firstFailure = "round " + std::to_string(round) + ", exit " +
                               std::to_string(codes[i]) + ":\n" + output;
            break;
        }
    }
    EXPECT_EQ(failedRounds, 0) << firstFailure;
}

TEST_F(TargetloginOverService, ASecretLongerThanTheServiceTakesIsRefusedWithItsText)
{
    SKIP_WITHOUT_TGTD();
    std::string port = std::to_string(tgt_.port);
    ToolRun result = run({"127.0.0.1", "-p", port, "-t", std::string(256, 's')});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output,
              header() + "Error adding target portal 127.0.0.1: The CHAP secret is longer than "
                         "the 255 bytes the initiator service accepts. \n");
    // 255 bytes are taken (and refused by the target as the wrong secret).
    result = run({"127.0.0.1", "-p", port, "-t", std::string(255, 's')});
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

// A state directory or store that another user owns or may change, or that
// leads elsewhere through a symbolic link, is refused before anything is
// read or written there; every failure line ends in the reason.  The runs
// are made as an unprivileged user, whom the scratch folders let through.
TEST_F(TargetloginOverService, HostileStateDirectoriesAndStoresAreRefused)
{
    SKIP_WITHOUT_TGTD();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to prepare files of other users";
    const std::string notOwnedDirectory =
        "The initiator service's state directory belongs to another user; the service does "
        "not use it. ";
    const std::string openDirectory =
        "Other users may write to the initiator service's state directory; the service does "
        "not use it. ";
    const std::string notOwnedStore =
        "The initiator service's store (service.db or its -wal or -shm file) belongs to another "
        "user; the service does not use it. ";
    const std::string openStore =
        "Other users may read or change the initiator service's store (service.db or its -wal "
        "or -shm file); the service does not use it. ";
    const std::string linkedStore =
        "The initiator service's store (service.db or its -wal or -shm file) is a symbolic "
        "link; the service does not follow it. ";
    struct Case {
        const char *what;
        uid_t directoryOwner;
        mode_t directoryMode;
        const char *plantedFile;  // in the state directory, or null
        uid_t fileOwner;
        mode_t fileMode;
        const char *linkName;  // a symbolic link to <case>/elsewhere/target, or null
        const std::string *text;
    };
    const Case cases[] = {
        {"directory of another user", 0, 0770, nullptr, 0, 0, nullptr, &notOwnedDirectory},
        {"directory others may write", kNobody, 0777, nullptr, 0, 0, nullptr, &openDirectory},
        {"directory the group may write", kNobody, 0730, nullptr, 0, 0, nullptr, &openDirectory},
        {"store of another user", kNobody, 0700, "service.db", 0, 0644, nullptr, &notOwnedStore},
        {"store others may read", kNobody, 0700, "service.db", kNobody, 0666, nullptr, &openStore},
        {"log others may read", kNobody, 0700, "service.db-wal", kNobody, 0604, nullptr,
         &openStore},
        {"store through a link", kNobody, 0700, nullptr, 0, 0, "service.db", &linkedStore},
        {"log through a link", kNobody, 0700, "service.db", kNobody, 0600, "service.db-wal",
         &linkedStore},
        {"shared memory through a link", kNobody, 0700, "service.db", kNobody, 0600,
         "service.db-shm", &linkedStore},
    };
    ASSERT_EQ(chmod(scratch_, 0711), 0);
    std::string port = std::to_string(tgt_.port);
    int number = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string base = std::string(scratch_) + "/hostile" + std::to_string(number++);
        std::string state = base + "/state";
        std::string elsewhere = base + "/elsewhere";
        ASSERT_EQ(mkdir(base.c_str(), 0711), 0);
        ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
        ASSERT_EQ(chown(elsewhere.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(mkdir(state.c_str(), 0700), 0);
        ASSERT_EQ(chown(state.c_str(), c.directoryOwner, kNobody), 0);
        ASSERT_EQ(chmod(state.c_str(), c.directoryMode), 0);
        if (c.plantedFile != nullptr) {
            std::string planted = state + "/" + c.plantedFile;
            int fd = open(planted.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            ASSERT_GE(fd, 0);
            close(fd);
            ASSERT_EQ(chown(planted.c_str(), c.fileOwner, kNobody), 0);
            ASSERT_EQ(chmod(planted.c_str(), c.fileMode), 0);
        }
        std::string target = elsewhere + "/target";
        if (c.linkName != nullptr) {
            std::string link = state + "/" + c.linkName;
            ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
            ASSERT_EQ(lchown(link.c_str(), kNobody, kNobody), 0);
        }
        std::string log = state + "/service.db-wal";
        struct stat info;
        bool logBefore = lstat(log.c_str(), &info) == 0;
        setenv("ISCSI_TOOLS_STATE_DIR", state.c_str(), 1);
        std::string outputPath = base + "/output.txt";
        int code =
            waitForChild(startTargetlogin({"127.0.0.1", "-p", port}, outputPath, true), 30000);
        std::string output = readFile(outputPath);
        EXPECT_EQ(code, 1) << output;
        EXPECT_NE(output.find("Error adding target portal 127.0.0.1: " + *c.text + "\n"),
                  std::string::npos)
            << output;
        // Every failure line gives the same reason.
        std::istringstream lines(output);
        std::string line;
        while (std::getline(lines, line))
            if (line.compare(0, 6, "Error ") == 0)
                EXPECT_EQ(line.substr(line.find(": ") + 2), *c.text) << line;
        EXPECT_NE(lstat(target.c_str(), &info), 0) << "a file was made through the link";
        EXPECT_EQ(lstat(log.c_str(), &info) == 0, logBefore) << "the run made the store's log";
    }
}

}  // namespace
