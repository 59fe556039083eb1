// The child runner with small shell programs in the place of iscsiadm:
// capture, bounds, exit codes, the deadline over a whole process group, the
// clean environment and descriptors, and no child left behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "service_openiscsi/child_runner.h"

namespace {

std::string shellPath()
{
    char path[256];
    return findSystemProgram("sh", path, sizeof path) ? path : "";
}

// Runs `sh -c script` and returns whether runChild reported a finished run.
bool runShell(const std::string &script, int timeoutMs, size_t limit, ChildResult *result)
{
    std::string sh = shellPath();
    const char *argv[] = {"sh", "-c", script.c_str(), nullptr};
    return runChild(sh.c_str(), argv, timeoutMs, limit, result);
}

std::string text(const ChildOutput &output)
{
    return std::string(output.data, output.length);
}

// Gone, or a zombie waiting for a reaper that is not us.
bool processGone(pid_t pid)
{
    for (int i = 0; i < 200; i++) {
        if (kill(pid, 0) < 0 && errno == ESRCH)
            return true;
        char path[64];
        snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
        FILE *stat = fopen(path, "r");
        if (stat != nullptr) {
            char state = 0;
            int scanned = fscanf(stat, "%*d (%*[^)]) %c", &state);
            fclose(stat);
            if (scanned == 1 && state == 'Z')
                return true;
        }
        usleep(10000);
    }
    return false;
}

// No child of this process is left, reaped or not.
bool noChildLeft()
{
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

class ChildRunner : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (shellPath().empty())
            GTEST_SKIP() << "no sh in the system folders";
        memset(&result, 0, sizeof result);
    }
    void TearDown() override
    {
        freeChildResult(&result);
    }
    ChildResult result;
};

TEST_F(ChildRunner, CapturesBothStreamsAndTheExitCode)
{
    ASSERT_TRUE(runShell("printf 'out\\0put'; printf 'err' >&2; exit 3", 5000, 0, &result));
    EXPECT_EQ(CHILD_EXITED, result.end);
    EXPECT_EQ(3, result.exitCode);
    EXPECT_EQ(std::string("out\0put", 7), text(result.out));
    EXPECT_EQ("err", text(result.err));
    EXPECT_EQ(0, result.out.data[result.out.length]);
    EXPECT_FALSE(result.out.truncated);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildRunner, KeepsOnlyTheBoundAndLetsTheChildFinish)
{
    // Three times the default bound on stdout, more than a pipe holds on
    // stderr: the child must not block on a full pipe.
    ASSERT_TRUE(
        runShell("head -c 3145728 /dev/zero | tr '\\0' a; head -c 200000 /dev/zero >&2; exit 0",
                 20000, 0, &result));
    EXPECT_EQ(CHILD_EXITED, result.end);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(static_cast<size_t>(CHILD_OUTPUT_LIMIT), result.out.length);
    EXPECT_TRUE(result.out.truncated);
    EXPECT_EQ('a', result.out.data[CHILD_OUTPUT_LIMIT - 1]);
    EXPECT_EQ(0, result.out.data[CHILD_OUTPUT_LIMIT]);
    EXPECT_EQ(200000u, result.err.length);
    EXPECT_FALSE(result.err.truncated);
}

TEST_F(ChildRunner, SmallBoundTruncatesEachStream)
{
    ASSERT_TRUE(runShell("printf 0123456789; printf abcdefghij >&2", 5000, 4, &result));
    EXPECT_EQ("0123", text(result.out));
    EXPECT_EQ("abcd", text(result.err));
    EXPECT_TRUE(result.out.truncated);
    EXPECT_TRUE(result.err.truncated);
}

TEST_F(ChildRunner, DeadlineKillsTheWholeGroup)
{
    // The grandchild prints its pid; the deadline must end it with the child.
    EXPECT_FALSE(runShell("sleep 100 & echo $!; wait", 300, 0, &result));
    EXPECT_EQ(CHILD_TIMED_OUT, result.end);
    EXPECT_LT(result.elapsedMs, 5000);
    EXPECT_GE(result.elapsedMs, 300);
    pid_t grandchild = static_cast<pid_t>(atoi(result.out.data));
    ASSERT_GT(grandchild, 1);
    EXPECT_TRUE(processGone(grandchild));
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildRunner, WhatTheChildLeavesRunningIsEndedWhenItExits)
{
    // The child exits at once; its background process holds the pipes open.
    ASSERT_TRUE(runShell("sleep 100 & echo $!; exit 4", 10000, 0, &result));
    EXPECT_EQ(CHILD_EXITED, result.end);
    EXPECT_EQ(4, result.exitCode);
    EXPECT_LT(result.elapsedMs, 5000);
    pid_t leftover = static_cast<pid_t>(atoi(result.out.data));
    ASSERT_GT(leftover, 1);
    EXPECT_TRUE(processGone(leftover));
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildRunner, ReportsTheSignalThatEndedTheChild)
{
    ASSERT_TRUE(runShell("kill -TERM $$", 5000, 0, &result));
    EXPECT_EQ(CHILD_SIGNALED, result.end);
    EXPECT_EQ(SIGTERM, result.termSignal);
}

TEST_F(ChildRunner, SignalsIgnoredHereAreAtTheirDefaultsInTheChild)
{
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &previous);
    bool finished = runShell("kill -INT $$; exit 0", 5000, 0, &result);
    sigaction(SIGINT, &previous, nullptr);
    ASSERT_TRUE(finished);
    EXPECT_EQ(CHILD_SIGNALED, result.end);
    EXPECT_EQ(SIGINT, result.termSignal);
}

TEST_F(ChildRunner, TheChildGetsACleanEnvironment)
{
    setenv("LD_PRELOAD", "/nonexistent/preload.so", 1);
    setenv("CHILD_RUNNER_TEST", "leaked", 1);
    const char *argv[] = {"env", nullptr};
    char env[256];
    ASSERT_TRUE(findSystemProgram("env", env, sizeof env));
    bool finished = runChild(env, argv, 5000, 0, &result);
    unsetenv("LD_PRELOAD");
    unsetenv("CHILD_RUNNER_TEST");
    ASSERT_TRUE(finished);
    EXPECT_EQ("PATH=" SYSTEM_PROGRAM_PATH "\nLANG=C\n", text(result.out));
    EXPECT_EQ("", text(result.err));
}

TEST_F(ChildRunner, OnlyTheStandardDescriptorsReachTheChild)
{
    int leaked = open("/dev/null", O_RDONLY);  // no O_CLOEXEC on purpose
    ASSERT_GE(leaked, 0);
    bool finished = runShell("ls /proc/$$/fd; readlink /proc/$$/fd/0", 5000, 0, &result);
    close(leaked);
    ASSERT_TRUE(finished);
    EXPECT_EQ("0\n1\n2\n/dev/null\n", text(result.out));
}

TEST_F(ChildRunner, AProgramThatCannotStartIsReportedSo)
{
    const char *argv[] = {"missing", nullptr};
    EXPECT_FALSE(runChild("/nonexistent/program", argv, 5000, 0, &result));
    EXPECT_EQ(CHILD_NOT_STARTED, result.end);
    EXPECT_EQ(ENOENT, result.startErrno);
    EXPECT_TRUE(noChildLeft());
    freeChildResult(&result);

    // A relative path is never looked up.
    EXPECT_FALSE(runChild("sh", argv, 5000, 0, &result));
    EXPECT_EQ(CHILD_NOT_STARTED, result.end);
    EXPECT_EQ(EINVAL, result.startErrno);
    freeChildResult(&result);

    EXPECT_FALSE(runChild("/bin/sh", argv, 0, 0, &result));
    EXPECT_EQ(EINVAL, result.startErrno);
}

TEST(SystemPrograms, AreFoundInTheSystemFoldersOnly)
{
    char path[256];
    std::string callerPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", "/nonexistent", 1);  // never consulted
    bool found = findSystemProgram("sh", path, sizeof path);
    setenv("PATH", callerPath.c_str(), 1);
    ASSERT_TRUE(found);
    EXPECT_TRUE(strncmp(path, "/usr/", 5) == 0 || strncmp(path, "/bin/", 5) == 0 ||
                strncmp(path, "/sbin/", 6) == 0)
        << path;
    EXPECT_FALSE(findSystemProgram("no-such-program-here", path, sizeof path));
    EXPECT_STREQ("", path);
    EXPECT_FALSE(findSystemProgram("../bin/sh", path, sizeof path));
    EXPECT_FALSE(findSystemProgram("", path, sizeof path));
    EXPECT_FALSE(findSystemProgram("sh", path, 4));  // no room

    const char *iscsiadm = iscsiadmPath();
    if (access("/usr/sbin/iscsiadm", X_OK) == 0)
        EXPECT_STREQ("/usr/sbin/iscsiadm", iscsiadm);
    else if (iscsiadm != nullptr)
        EXPECT_EQ(0, access(iscsiadm, X_OK));
}

}  // namespace
