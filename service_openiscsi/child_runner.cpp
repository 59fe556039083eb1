#include "service_openiscsi/child_runner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// Descriptors beyond this are not looked at when close_range is missing.
const long kHighestDescriptorBound = 65536;
const size_t kReadChunk = 65536;
// How often the child's exit is looked for when no pidfd tells us.
const int kExitPollMs = 10;

long long monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void closeQuietly(int *fd)
{
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

// An empty, terminated buffer, so that data is never null.
bool startOutput(ChildOutput *output)
{
    output->data = static_cast<char *>(malloc(1));
    if (output->data == nullptr)
        return false;
    output->data[0] = 0;
    output->length = 0;
    output->truncated = false;
    return true;
}

// Keeps bytes up to limit; beyond it only notes the truncation.  False when
// no memory is left (the output then stays as it was, marked truncated).
bool keepBytes(ChildOutput *output, size_t *capacity, size_t limit, const char *bytes, size_t count)
{
    size_t room = limit - output->length;
    if (count > room) {
        output->truncated = true;
        count = room;
    }
    if (count == 0)
        return true;
    if (output->length + count + 1 > *capacity) {
        size_t grown = *capacity < 4096 ? 4096 : *capacity;
        while (grown < output->length + count + 1)
            grown *= 2;
        if (grown > limit + 1)
            grown = limit + 1;
        char *bigger = static_cast<char *>(realloc(output->data, grown));
        if (bigger == nullptr) {
            output->truncated = true;
            return false;
        }
        output->data = bigger;
        *capacity = grown;
    }
    memcpy(output->data + output->length, bytes, count);
    output->length += count;
    output->data[output->length] = 0;
    return true;
}

struct Stream {
    int fd;
    ChildOutput *output;
    size_t capacity;
};

// Reads what the pipe holds now.  Closes it at end of file.
void drainStream(Stream *stream, size_t limit, char *chunk)
{
    while (stream->fd >= 0) {
        ssize_t got = read(stream->fd, chunk, kReadChunk);
        if (got > 0) {
            keepBytes(stream->output, &stream->capacity, limit, chunk, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        closeQuietly(&stream->fd);
    }
}

// In the child after fork: only async-signal-safe calls from here on.
[[noreturn]] void becomeProgram(const char *program, const char *const *argv, int outFd, int errFd,
                                int reportFd, long highestFd)
{
    static const char *const kEnvironment[] = {"PATH=" SYSTEM_PROGRAM_PATH, "LANG=C", nullptr};

    setpgid(0, 0);
    // Ignored or blocked signals would survive exec.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int signal = 1; signal < NSIG; signal++)
        sigaction(signal, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    // Lift our pipes above 0-3 first: the caller may have run with 0-2
    // closed, so the pipes may sit where the standard streams go.
    int report = fcntl(reportFd, F_DUPFD_CLOEXEC, 10);
    int out = fcntl(outFd, F_DUPFD, 10);
    int err = fcntl(errFd, F_DUPFD, 10);
    int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int input = nullFd >= 0 ? fcntl(nullFd, F_DUPFD, 10) : -1;
    int failure = 0;
    if (report < 0 || out < 0 || err < 0 || input < 0 || dup2(input, 0) < 0 || dup2(out, 1) < 0 ||
        dup2(err, 2) < 0 || dup3(report, 3, O_CLOEXEC) < 0)
        failure = errno;
    if (failure == 0) {
        bool closed = false;
#ifdef SYS_close_range
        closed = syscall(SYS_close_range, 4u, ~0u, 0u) == 0;
#endif
        for (long fd = 4; !closed && fd <= highestFd; fd++)
            close(static_cast<int>(fd));
        execve(program, const_cast<char *const *>(argv), const_cast<char *const *>(kEnvironment));
        failure = errno;
    }
    int fd = report >= 0 ? 3 : reportFd;
    ssize_t ignored = write(fd, &failure, sizeof failure);
    (void)ignored;
    _exit(127);
}

void recordStatus(int status, ChildResult *result)
{
    if (WIFEXITED(status)) {
        result->end = CHILD_EXITED;
        result->exitCode = WEXITSTATUS(status);
    } else {
        result->end = CHILD_SIGNALED;
        result->termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
}

// True once the child has exited, without reaping it: while it is a zombie
// its pid, and so its group's id, cannot be reused.
bool hasExited(pid_t pid)
{
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0)
        if (errno != EINTR)
            return true;  // nothing to wait for: treat as gone
    return info.si_pid == pid;
}

void reap(pid_t pid, ChildResult *result, bool keepStatus)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return;
    if (keepStatus)
        recordStatus(status, result);
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0)
        return static_cast<int>(fd);
#endif
    (void)pid;
    return -1;
}

// Reads both streams until the child has exited and both pipes are at
// their end.  Returns false when the deadline came first, or the pipes could
// not be watched.  *reaped tells whether the child was reaped (its status
// then in *result); if not, it may still run.
bool watchChild(pid_t pid, Stream *streams, long long deadline, size_t limit, char *chunk,
                ChildResult *result, bool *reaped)
{
    int pidFd = openPidFd(pid);
    bool exited = false;
    bool finished = false;
    while (true) {
        if (!exited && hasExited(pid)) {
            // Whatever the child left in its group goes with it; then the
            // pipes reach their end.
            kill(-pid, SIGKILL);
            reap(pid, result, true);
            exited = true;
            closeQuietly(&pidFd);
        }
        if (exited && streams[0].fd < 0 && streams[1].fd < 0) {
            finished = true;
            break;
        }
        long long now = monotonicMs();
        if (now >= deadline)
            break;
        pollfd fds[3];
        nfds_t count = 0;
        for (int i = 0; i < 2; i++)
            if (streams[i].fd >= 0)
                fds[count++] = {streams[i].fd, POLLIN, 0};
        if (pidFd >= 0)
            fds[count++] = {pidFd, POLLIN, 0};
        long long wait = deadline - now;
        if (!exited && pidFd < 0 && wait > kExitPollMs)
            wait = kExitPollMs;
        if (poll(fds, count, static_cast<int>(wait)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++)
            drainStream(&streams[i], limit, chunk);
    }
    closeQuietly(&pidFd);
    *reaped = exited;
    return finished;
}

}  // namespace

void freeChildResult(ChildResult *result)
{
    free(result->out.data);
    free(result->err.data);
    result->out.data = nullptr;
    result->err.data = nullptr;
    result->out.length = 0;
    result->err.length = 0;
}

bool runChild(const char *program, const char *const *argv, int timeoutMs, size_t outputLimit,
              ChildResult *result)
{
    memset(result, 0, sizeof *result);
    result->end = CHILD_NOT_STARTED;
    char *chunk = static_cast<char *>(malloc(kReadChunk));
    if (chunk == nullptr || !startOutput(&result->out) || !startOutput(&result->err)) {
        free(chunk);
        result->startErrno = ENOMEM;
        return false;
    }
    if (program == nullptr || program[0] != '/' || argv == nullptr || argv[0] == nullptr ||
        timeoutMs < 1) {
        free(chunk);
        result->startErrno = EINVAL;
        return false;
    }
    size_t limit = outputLimit == 0 ? CHILD_OUTPUT_LIMIT : outputLimit;
    long highestFd = sysconf(_SC_OPEN_MAX);
    if (highestFd < 0 || highestFd > kHighestDescriptorBound)
        highestFd = kHighestDescriptorBound;

    long long start = monotonicMs();
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, reportPipe[2] = {-1, -1};
    int *fds[] = {&outPipe[0], &outPipe[1],    &errPipe[0],
                  &errPipe[1], &reportPipe[0], &reportPipe[1]};
    pid_t pid = -1;
    if (pipe2(outPipe, O_CLOEXEC) == 0 && pipe2(errPipe, O_CLOEXEC) == 0 &&
        pipe2(reportPipe, O_CLOEXEC) == 0) {
        pid = fork();
        if (pid == 0)
            becomeProgram(program, argv, outPipe[1], errPipe[1], reportPipe[1], highestFd);
    }
    if (pid < 0) {
        result->startErrno = errno;
        for (int *fd : fds)
            closeQuietly(fd);
        free(chunk);
        return false;
    }
    closeQuietly(&outPipe[1]);
    closeQuietly(&errPipe[1]);
    closeQuietly(&reportPipe[1]);
    // Both sides set the group, so that it exists whichever runs first.
    setpgid(pid, pid);

    // The report pipe closes on a successful exec and carries errno
    // otherwise.  Exec of a local program does not block for long.
    int execErrno = 0;
    ssize_t got;
    do
        got = read(reportPipe[0], &execErrno, sizeof execErrno);
    while (got < 0 && errno == EINTR);
    closeQuietly(&reportPipe[0]);
    if (got == static_cast<ssize_t>(sizeof execErrno)) {
        reap(pid, result, false);
        result->end = CHILD_NOT_STARTED;
        result->startErrno = execErrno != 0 ? execErrno : ENOEXEC;
        for (int *fd : fds)
            closeQuietly(fd);
        free(chunk);
        return false;
    }

    fcntl(outPipe[0], F_SETFL, fcntl(outPipe[0], F_GETFL) | O_NONBLOCK);
    fcntl(errPipe[0], F_SETFL, fcntl(errPipe[0], F_GETFL) | O_NONBLOCK);
    Stream streams[2] = {{outPipe[0], &result->out, 1}, {errPipe[0], &result->err, 1}};
    bool reaped = false;
    bool finished = watchChild(pid, streams, start + timeoutMs, limit, chunk, result, &reaped);
    if (!finished) {
        // The deadline: the whole group goes (the child is still unreaped, so
        // its group's id is still its own), then what is left in the pipes
        // is read.  After a reaped child only what held its pipes was left,
        // and that was killed with its group already.
        if (!reaped) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            reap(pid, result, false);
        }
        for (Stream &stream : streams)
            drainStream(&stream, limit, chunk);
        result->end = CHILD_TIMED_OUT;
        result->exitCode = 0;
        result->termSignal = 0;
    }
    free(chunk);
    closeQuietly(&streams[0].fd);
    closeQuietly(&streams[1].fd);
    result->elapsedMs = monotonicMs() - start;
    return finished;
}

bool findSystemProgram(const char *name, char *out, size_t room)
{
    if (name == nullptr || name[0] == 0 || strchr(name, '/') != nullptr)
        return false;
    const char *folder = SYSTEM_PROGRAM_PATH;
    while (*folder != 0) {
        const char *end = strchr(folder, ':');
        size_t length = end != nullptr ? static_cast<size_t>(end - folder) : strlen(folder);
        int written = snprintf(out, room, "%.*s/%s", static_cast<int>(length), folder, name);
        struct stat info {};
        if (written > 0 && static_cast<size_t>(written) < room && stat(out, &info) == 0 &&
            S_ISREG(info.st_mode) && access(out, X_OK) == 0)
            return true;
        folder += length;
        if (*folder == ':')
            folder++;
    }
    if (room > 0)
        out[0] = 0;
    return false;
}

const char *iscsiadmPath()
{
    static char path[64];
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (!findSystemProgram("iscsiadm", path, sizeof path))
            path[0] = 0;
    }
    return path[0] != 0 ? path : nullptr;
}
