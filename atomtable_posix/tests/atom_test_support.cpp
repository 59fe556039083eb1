// Private tables and runs of the real tessmark for the tests.
#include "atomtable_posix/tests/atom_test_support.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "atomtable_posix/atom_table_store.h"

namespace {

bool readSome(int fd, std::string *into)
{
    char chunk[4096];
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) {
        into->append(chunk, static_cast<size_t>(got));
        return true;
    }
    return got < 0 && errno == EINTR;
}

}  // namespace

ProcessResult runTessmark(const std::vector<std::string> &arguments, int timeoutMilliseconds)
{
    ProcessResult result = {false, -1, "", ""};
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        ADD_FAILURE() << "pipe";
        return result;
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(TESSMARK_PATH));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        execv(TESSMARK_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (child < 0) {
        ADD_FAILURE() << "fork";
        close(out[0]);
        close(err[0]);
        return result;
    }
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    bool outOpen = true;
    bool errOpen = true;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        struct pollfd ready[2] = {{outOpen ? out[0] : -1, POLLIN, 0},
                                  {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(ready, 2, 50) <= 0)
            continue;
        if (outOpen && (ready[0].revents & (POLLIN | POLLHUP)) != 0)
            outOpen = readSome(out[0], &result.output);
        if (errOpen && (ready[1].revents & (POLLIN | POLLHUP)) != 0)
            errOpen = readSome(err[0], &result.errors);
    }
    if (outOpen || errOpen)
        kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(out[0]);
    close(err[0]);
    result.finished = !outOpen && !errOpen && WIFEXITED(status);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

uint32_t atomReferences(const AtomTableShared *table, ATOM atom)
{
    if (atom < ATOM_TABLE_FIRST_STRING_ATOM)
        return 0;
    uint32_t slot = atom - ATOM_TABLE_FIRST_STRING_ATOM;
    if (slot >= __atomic_load_n(&table->slotsUsed, __ATOMIC_ACQUIRE))
        return 0;
    return __atomic_load_n(&table->slots[slot].references, __ATOMIC_ACQUIRE);
}

void PrivateAtomTableTest::SetUp()
{
    static int tables = 0;
    char name[128];
    std::snprintf(name, sizeof name, "/tessmark-test-%ld-%d", static_cast<long>(getpid()),
                  ++tables);
    tableName = name;
    shm_unlink(tableName.c_str());
    setenv(ATOM_TABLE_ENVIRONMENT, tableName.c_str(), 1);
}

void PrivateAtomTableTest::TearDown()
{
    shm_unlink(tableName.c_str());
    unsetenv(ATOM_TABLE_ENVIRONMENT);
}
