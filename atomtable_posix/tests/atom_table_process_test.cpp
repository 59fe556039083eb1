// The table shared between real processes: references taken by several
// processes, racing adds, holders killed with the lock, a full table, and
// table objects that are not fit for use.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "atommarker/atom_platform.h"
#include "atomtable_posix/atom_table_store.h"
#include "atomtable_posix/tests/atom_test_support.h"

namespace {

const int kWaitMilliseconds = 5000;

// Runs `body` in a child process; its result is the child's exit code.
pid_t startChild(const std::function<int()> &body)
{
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        alarm(30);  // a child never outlives a test that stopped waiting
        _exit(body());
    }
    return child;
}

int waitForExit(pid_t child)
{
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits (bounded) for one byte on fd; false when none came in time.
bool awaitByte(int fd)
{
    struct pollfd ready = {fd, POLLIN, 0};
    char byte;
    return poll(&ready, 1, kWaitMilliseconds) == 1 && read(fd, &byte, 1) == 1;
}

uint32_t referencesOf(ATOM atom)
{
    AtomTableShared *table = nullptr;
    if (mapAtomTable(&table) != 0 || lockAtomTable(table) != 0) {
        ADD_FAILURE() << "table not usable";
        return 0;
    }
    uint32_t references = atomReferences(table, atom);
    unlockAtomTable(table);
    return references;
}

ProcessResult expectRun(const std::vector<std::string> &arguments, const std::string &output,
                        int exitCode)
{
    ProcessResult run = runTessmark(arguments);
    EXPECT_TRUE(run.finished) << arguments[0] << " " << arguments[1];
    EXPECT_EQ(output, run.output);
    EXPECT_EQ(exitCode, run.exitCode);
    EXPECT_EQ("", run.errors);
    return run;
}

// Runs tessmark from a child process, so that the test can go on while it
// runs.  The child's exit code is tessmark's; its output comes on *output.
pid_t startTessmark(const std::vector<std::string> &arguments, int *output)
{
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    pid_t child = startChild([&] {
        close(channel[0]);
        ProcessResult run = runTessmark(arguments);
        if (write(channel[1], run.output.data(), run.output.size()) < 0 || !run.finished)
            return 99;
        return run.exitCode;
    });
    close(channel[1]);
    *output = channel[0];
    return child;
}

std::string readAll(int fd)
{
    std::string text;
    char chunk[256];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(got));
    close(fd);
    return text;
}

class AtomTableProcessTest : public PrivateAtomTableTest {};

TEST_F(AtomTableProcessTest, CreatedPrivateToTheUser)
{
    expectRun({"add", "marker"}, "New Atom: 49152\n", 0);
    int fd = shm_open(tableName.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat status;
    ASSERT_EQ(0, fstat(fd, &status));
    close(fd);
    EXPECT_EQ(0600u, status.st_mode & 0777u);
    EXPECT_EQ(geteuid(), status.st_uid);
}

TEST_F(AtomTableProcessTest, EachProcessTakesAReferenceAndEachDeleteReleasesOne)
{
    for (int process = 0; process < 3; ++process) {
        pid_t child = startChild([] { return GlobalAddAtomA("Shared-Name") == 0xC000 ? 0 : 1; });
        ASSERT_EQ(0, waitForExit(child));
    }
    EXPECT_EQ(3u, referencesOf(0xC000));
    for (int remaining = 2; remaining >= 0; --remaining) {
        pid_t child = startChild([] { return GlobalDeleteAtom(0xC000) == 0 ? 0 : 1; });
        ASSERT_EQ(0, waitForExit(child));
        EXPECT_EQ(remaining == 0 ? 0 : 0xC000, GlobalFindAtomA("shared-name"));
    }
    EXPECT_EQ(0u, referencesOf(0xC000));
}

// Children that start together on a table not yet created, each adding
// the same name many times: one atom, and a reference for every add that
// succeeded.
TEST_F(AtomTableProcessTest, RacingAddsLeaveOneAtomWithAReferencePerSuccess)
{
    const int children = 4;
    const int addsEach = 2000;
    int go[2];
    int results[2];
    ASSERT_EQ(0, pipe(go));
    ASSERT_EQ(0, pipe(results));
    std::vector<pid_t> started;
    for (int i = 0; i < children; ++i) {
        started.push_back(startChild([&] {
            close(go[1]);
            awaitByte(go[0]);
            ATOM first = 0;
            int successes = 0;
            for (int add = 0; add < addsEach; ++add) {
                ATOM atom = GlobalAddAtomA("race");
                if (atom != 0 && (first == 0 || atom == first)) {
                    first = atom;
                    ++successes;
                }
            }
            char report[32];
            int length = std::snprintf(report, sizeof report, "%u %d\n", first, successes);
            return write(results[1], report, static_cast<size_t>(length)) == length ? 0 : 1;
        }));
    }
    close(results[1]);
    ASSERT_EQ(children, write(go[1], "gggg", children));
    for (pid_t child : started)
        EXPECT_EQ(0, waitForExit(child));
    std::string reports;
    char chunk[256];
    ssize_t got;
    while ((got = read(results[0], chunk, sizeof chunk)) > 0)
        reports.append(chunk, static_cast<size_t>(got));
    close(results[0]);
    close(go[0]);
    close(go[1]);

    unsigned totalSuccesses = 0;
    int lines = 0;
    for (size_t at = 0; at < reports.size(); ++lines) {
        unsigned atom = 0;
        int successes = 0;
        ASSERT_EQ(2, std::sscanf(reports.c_str() + at, "%u %d", &atom, &successes));
        EXPECT_EQ(0xC000u, atom);
        totalSuccesses += static_cast<unsigned>(successes);
        at = reports.find('\n', at) + 1;
    }
    EXPECT_EQ(children, lines);
    EXPECT_EQ(static_cast<unsigned>(children * addsEach), totalSuccesses);
    EXPECT_EQ(totalSuccesses, referencesOf(0xC000));
    EXPECT_EQ(0, GlobalFindAtomA("another")) << "no second atom";
}

// Two tessmark runs adding the same name at once: each that reports a new
// atom reports the same one, and that many deletes remove it.
TEST_F(AtomTableProcessTest, RacingToolRunsCountTheirNewAtoms)
{
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const std::string name = "pair-" + std::to_string(round);
        int outputs[2];
        pid_t children[2];
        for (int i = 0; i < 2; ++i) {
            children[i] = startTessmark({"add", name}, &outputs[i]);
            ASSERT_GT(children[i], 0);
        }
        unsigned successes = 0;
        for (int i = 0; i < 2; ++i) {
            int exitCode = waitForExit(children[i]);
            std::string output = readAll(outputs[i]);
            if (exitCode == 0) {
                EXPECT_EQ("New Atom: 49152\n", output);
                ++successes;
            } else {
                EXPECT_EQ(2, exitCode);
                EXPECT_EQ("Atom already exists for: " + name + "\n", output);
            }
        }
        EXPECT_GE(successes, 1u);
        EXPECT_EQ(successes, referencesOf(0xC000));
        for (unsigned i = 0; i < successes; ++i)
            expectRun({"delete", name}, "Deleted Atom: 49152\n", 0);
        expectRun({"find", name}, "Atom not found for: " + name + "\n", 3);
    }
}

// A child that takes the lock, tells the parent, and waits to be killed;
// `before` runs under the lock first.
pid_t startLockHolder(int *ready, const std::function<void(AtomTableShared *)> &before)
{
    int signal[2];
    if (pipe(signal) != 0)
        return -1;
    pid_t child = startChild([&] {
        close(signal[0]);
        AtomTableShared *table = nullptr;
        if (mapAtomTable(&table) != 0 || lockAtomTable(table) != 0)
            return 1;
        before(table);
        if (write(signal[1], "L", 1) != 1)
            return 1;
        for (;;)
            pause();
    });
    close(signal[1]);
    *ready = signal[0];
    return child;
}

void killHolder(pid_t child, int ready)
{
    ASSERT_TRUE(awaitByte(ready)) << "the holder never took the lock";
    close(ready);
    kill(child, SIGKILL);
    EXPECT_EQ(128 + SIGKILL, waitForExit(child));
}

TEST_F(AtomTableProcessTest, AddWaitsWhileAnotherProcessHoldsTheLock)
{
    int ready = -1;
    pid_t holder = startLockHolder(&ready, [](AtomTableShared *) {});
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(awaitByte(ready));
    close(ready);

    int output = -1;
    pid_t adder = startTessmark({"add", "waiting"}, &output);
    ASSERT_GT(adder, 0);
    struct pollfd written = {output, POLLIN, 0};
    EXPECT_EQ(0, poll(&written, 1, 300)) << "an add went ahead while the lock was held";
    EXPECT_EQ(0, waitpid(adder, nullptr, WNOHANG));

    kill(holder, SIGKILL);  // its death releases the lock
    EXPECT_EQ(128 + SIGKILL, waitForExit(holder));
    EXPECT_EQ(0, waitForExit(adder));
    EXPECT_EQ("New Atom: 49152\n", readAll(output));
}

TEST_F(AtomTableProcessTest, HolderKilledWithTheLockDoesNotWedgeTheTable)
{
    expectRun({"add", "before-kill"}, "New Atom: 49152\n", 0);
    // Twice: the second holder takes a lock whose holder died, and dies too.
    for (int holder = 0; holder < 2; ++holder) {
        int ready = -1;
        pid_t child = startLockHolder(&ready, [](AtomTableShared *) {});
        ASSERT_GT(child, 0);
        killHolder(child, ready);
    }
    expectRun({"find", "BEFORE-KILL"}, "Found Atom: 49152\n", 0);
    expectRun({"add", "after-kill"}, "New Atom: 49153\n", 0);
    expectRun({"delete", "before-kill"}, "Deleted Atom: 49152\n", 0);
}

TEST_F(AtomTableProcessTest, HolderKilledInTheMiddleOfAnAddLeavesNoHalfName)
{
    expectRun({"add", "kept"}, "New Atom: 49152\n", 0);
    int ready = -1;
    pid_t child = startLockHolder(&ready, [](AtomTableShared *table) {
        long slot = claimFreeSlot(table);
        if (slot >= 0)
            writeSlotName(table, static_cast<uint32_t>(slot), "half-added", 10);
    });
    ASSERT_GT(child, 0);
    killHolder(child, ready);
    expectRun({"find", "half-added"}, "Atom not found for: half-added\n", 3);
    expectRun({"add", "whole"}, "New Atom: 49153\n", 0);
    expectRun({"find", "kept"}, "Found Atom: 49152\n", 0);
}

// A holder stopped (SIGSTOP) with the lock in hand is alive, so its lock is
// never released: a run waits for it a bounded time, once, and the refused
// add says why.  Once the holder is gone the table works again.
TEST_F(AtomTableProcessTest, AHolderStoppedWithTheLockCostsARunOneBoundedWait)
{
    expectRun({"add", "kept"}, "New Atom: 49152\n", 0);
    int ready = -1;
    pid_t holder = startLockHolder(&ready, [](AtomTableShared *) {});
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(awaitByte(ready));
    close(ready);
    kill(holder, SIGSTOP);

    auto start = std::chrono::steady_clock::now();
    ProcessResult add = runTessmark({"add", "marker"}, 15000);
    long long took = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
    ProcessResult find = runTessmark({"find", "kept"}, 15000);
    kill(holder, SIGKILL);
    EXPECT_EQ(128 + SIGKILL, waitForExit(holder));

    EXPECT_TRUE(add.finished) << "the add waited for ever";
    EXPECT_EQ("This operation returned because the timeout period expired.\r\n\nNew Atom: 0\n",
              add.output);
    EXPECT_EQ(0, add.exitCode);
    EXPECT_GE(took, 2500);
    EXPECT_LT(took, 5000) << "the find and the add of one run each waited";
    EXPECT_TRUE(find.finished);
    EXPECT_EQ("Atom not found for: kept\n", find.output);
    expectRun({"find", "kept"}, "Found Atom: 49152\n", 0);
    expectRun({"add", "marker"}, "New Atom: 49153\n", 0);
}

TEST_F(AtomTableProcessTest, FullTableRefusesWithAText)
{
    char name[32];
    for (unsigned i = 0; i < ATOM_TABLE_SLOTS; ++i) {
        std::snprintf(name, sizeof name, "fill-%u", i);
        ASSERT_NE(0, GlobalAddAtomA(name)) << name;
    }
    expectRun({"add", "one-too-many"},
              "Not enough memory resources are available to process this command.\r\n\n"
              "New Atom: 0\n",
              0);
    expectRun({"find", "fill-16383"}, "Found Atom: 65535\n", 0);
    expectRun({"delete", "fill-16383"}, "Deleted Atom: 65535\n", 0);
    expectRun({"add", "one-too-many"}, "New Atom: 65535\n", 0);
}

// Table objects that are not fit for use: the tool reports the refusal
// and the object is left as it was.
TEST_F(AtomTableProcessTest, TableOthersCanReadIsRefused)
{
    expectRun({"add", "marker"}, "New Atom: 49152\n", 0);
    int fd = shm_open(tableName.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, fchmod(fd, 0644));
    close(fd);
    expectRun({"find", "marker"}, "Atom not found for: marker\n", 3);
    expectRun({"add", "marker"}, "Access is denied.\r\n\nNew Atom: 0\n", 0);
}

TEST_F(AtomTableProcessTest, ObjectOfAnotherSizeIsRefused)
{
    int fd = shm_open(tableName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, 4096));
    close(fd);
    expectRun({"add", "marker"}, "The data is invalid.\r\n\nNew Atom: 0\n", 0);
}

// A creator that died before the table was set up leaves an object of the
// right size without its mark: the next process sets it up.
TEST_F(AtomTableProcessTest, HalfSetUpTableIsSetUpAgain)
{
    int fd = shm_open(tableName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, sizeof(AtomTableShared)));
    void *base = mmap(nullptr, sizeof(AtomTableShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(MAP_FAILED, base);
    memset(base, 0x5A, 4096);  // garbage where the mark and the lock go
    munmap(base, sizeof(AtomTableShared));
    close(fd);
    expectRun({"add", "marker"}, "New Atom: 49152\n", 0);
    expectRun({"find", "marker"}, "Found Atom: 49152\n", 0);
}

}  // namespace
