// Times whole runs of several commands for the benchmark (never installed).
//   launcher ROUNDS -- [NAME=VALUE...] PROGRAM [ARG...] [-- [NAME=VALUE...] PROGRAM [ARG...]]...
// Runs every command once as a warm-up, then ROUNDS rounds of all of them,
// alternating the order (first to last, then last to first), and prints one
// line a counted run: "COMMAND ROUND NANOSECONDS", COMMAND counted from 0 in
// the order given.  PROGRAM is a path (no search); the NAME=VALUE words before
// it are added to that command's environment only.  Each run's output goes to
// /dev/null.  A run that fails stops the launcher: the run is repeated with its
// output on standard error, and the exit code is 1 (2 for a wrong command
// line).
//
// The time of a run is taken around posix_spawn and waitpid with the monotonic
// clock: it holds the command's whole life (exec, dynamic loading, run, exit)
// and the same launcher cost for every command.  Pin the launcher (taskset)
// to pin every command it starts.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace {

const int MAX_COMMANDS = 16;
const int MAX_WORDS = 64;
const int MAX_ENVIRONMENT = 1024;

struct Command {
    char *argv[MAX_WORDS + 1];
    char *envp[MAX_ENVIRONMENT + 1];
};

Command commands[MAX_COMMANDS];
int commandCount = 0;

bool isAssignment(const char *word)
{
    const char *equals = strchr(word, '=');
    return equals != nullptr && equals != word && word[0] != '/';
}

// Length of the name part of "NAME=VALUE" (the whole text when no '=').
size_t nameLength(const char *entry)
{
    return strcspn(entry, "=");
}

// Puts an assignment into a command's environment, replacing the entry of the
// same name.  Returns false when the environment is full.
bool setVariable(Command &command, int &count, char *assignment)
{
    size_t length = nameLength(assignment);
    for (int i = 0; i < count; ++i) {
        if (nameLength(command.envp[i]) == length &&
            strncmp(command.envp[i], assignment, length) == 0) {
            command.envp[i] = assignment;
            return true;
        }
    }
    if (count == MAX_ENVIRONMENT)
        return false;
    command.envp[count++] = assignment;
    command.envp[count] = nullptr;
    return true;
}

// Reads the commands from argv[first..argc); returns false on a wrong line.
bool readCommands(int argc, char **argv, int first)
{
    int index = first;
    while (index < argc) {
        if (strcmp(argv[index], "--") != 0 || commandCount == MAX_COMMANDS)
            return false;
        ++index;
        Command &command = commands[commandCount++];
        int environmentCount = 0;
        for (char **entry = environ; *entry != nullptr; ++entry) {
            if (environmentCount == MAX_ENVIRONMENT)
                return false;
            command.envp[environmentCount++] = *entry;
        }
        command.envp[environmentCount] = nullptr;
        while (index < argc && isAssignment(argv[index]))
            if (!setVariable(command, environmentCount, argv[index++]))
                return false;
        int words = 0;
        while (index < argc && strcmp(argv[index], "--") != 0) {
            if (words == MAX_WORDS)
                return false;
            command.argv[words++] = argv[index++];
        }
        if (words == 0)
            return false;
        command.argv[words] = nullptr;
    }
    return commandCount > 0;
}

long long nowNanoseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Runs one command to its end with its output sent to outputFd (both
// streams).  Stores the elapsed nanoseconds; returns the wait status, or -1
// when the command could not be started.
int runOnce(const Command &command, int outputFd, long long *elapsed)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    long long start = nowNanoseconds();
    pid_t child;
    int status = -1;
    if (posix_spawn(&child, command.argv[0], &actions, nullptr, command.argv, command.envp) == 0) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    *elapsed = nowNanoseconds() - start;
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

// Runs a command and reports a failure; returns false when it failed.
bool runChecked(int index, int nullFd, long long *elapsed)
{
    int status = runOnce(commands[index], nullFd, elapsed);
    if (status == 0)
        return true;
    std::fprintf(stderr, "launcher: %s failed (%s %d); again with its output:\n",
                 commands[index].argv[0],
                 status == -1          ? "not started"
                 : WIFSIGNALED(status) ? "signal"
                                       : "exit code",
                 status == -1          ? 0
                 : WIFSIGNALED(status) ? WTERMSIG(status)
                                       : WEXITSTATUS(status));
    long long ignored;
    runOnce(commands[index], STDERR_FILENO, &ignored);
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    char *end = nullptr;
    long rounds = argc > 1 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc < 4 || end == argv[1] || *end != '\0' || rounds < 1 || !readCommands(argc, argv, 2)) {
        std::fprintf(stderr,
                     "usage: launcher ROUNDS -- [NAME=VALUE...] PROGRAM [ARG...] [-- ...]...\n");
        return 2;
    }
    int nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nullFd < 0) {
        std::perror("launcher: /dev/null");
        return 1;
    }
    long long elapsed;
    for (int index = 0; index < commandCount; ++index)
        if (!runChecked(index, nullFd, &elapsed))
            return 1;
    for (long round = 0; round < rounds; ++round) {
        for (int step = 0; step < commandCount; ++step) {
            int index = round % 2 == 0 ? step : commandCount - 1 - step;
            if (!runChecked(index, nullFd, &elapsed))
                return 1;
            std::printf("%d %ld %lld\n", index, round, elapsed);
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
