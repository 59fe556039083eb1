#include "service_libiscsi/tests/target_daemons.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

long long nowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool programExists(const char *name)
{
    const char *path = getenv("PATH");
    char candidate[1024];
    // PATH first, then the system folders a root shell would have.
    char folders[2048];
    snprintf(folders, sizeof folders, "%s:/usr/sbin:/sbin",
             path != nullptr ? path : "/usr/bin:/bin");
    for (char *folder = strtok(folders, ":"); folder != nullptr; folder = strtok(nullptr, ":")) {
        snprintf(candidate, sizeof candidate, "%s/%s", folder, name);
        if (access(candidate, X_OK) == 0)
            return true;
    }
    return false;
}

pid_t spawnLogged(const char *const argv[], const char *outputPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const char *log = outputPath != nullptr ? outputPath : "/dev/null";
    posix_spawn_file_actions_addopen(&actions, 1, log, O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int result =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

bool portAccepts(const char *address, int port)
{
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    char service[16];
    snprintf(service, sizeof service, "%d", port);
    struct addrinfo *found = nullptr;
    if (getaddrinfo(address, service, &hints, &found) != 0)
        return false;
    int fd = socket(found->ai_family, SOCK_STREAM, 0);
    bool ok = fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) == 0;
    if (fd >= 0)
        close(fd);
    freeaddrinfo(found);
    return ok;
}

bool waitForPort(pid_t pid, const char *address, int port, int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        if (portAccepts(address, port))
            return true;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return false;
        usleep(20000);
    }
    return false;
}

void killAndReap(pid_t pid, int timeoutMs)
{
    if (pid <= 0)
        return;
    long long deadline = nowMs() + timeoutMs;
    int status;
    while (nowMs() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

bool writeFile(const char *path, const char *text)
{
    FILE *file = fopen(path, "w");
    if (file == nullptr)
        return false;
    bool ok = fputs(text, file) >= 0;
    return fclose(file) == 0 && ok;
}

bool makeBackingFile(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    bool ok = ftruncate(fd, 1 << 20) == 0;
    close(fd);
    return ok;
}

int tgtadm(TargetDaemon *d, const char *const extra[])
{
    char control[16];
    snprintf(control, sizeof control, "%d", d->controlPort);
    const char *argv[32] = {"tgtadm", "-C", control, "--lld", "iscsi"};
    int at = 5;
    for (int i = 0; extra[i] != nullptr && at < 31; i++)
        argv[at++] = extra[i];
    argv[at] = nullptr;
    char log[300];
    snprintf(log, sizeof log, "%s/tgtadm.log", d->directory);
    return runBounded(argv, 10000, log);
}

}  // namespace

int freeLoopbackPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    struct sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    int port = -1;
    if (bind(fd, reinterpret_cast<struct sockaddr *>(&where), sizeof where) == 0 &&
        getsockname(fd, reinterpret_cast<struct sockaddr *>(&where), &length) == 0)
        port = ntohs(where.sin_port);
    close(fd);
    return port;
}

int waitForChild(pid_t pid, int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (nowMs() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(5000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runBounded(const char *const argv[], int timeoutMs, const char *outputPath)
{
    pid_t pid = spawnLogged(argv, outputPath);
    return pid < 0 ? -1 : waitForChild(pid, timeoutMs);
}

bool makeScratchDirectory(char *out, size_t room)
{
    const char *base = getenv("TMPDIR");
    snprintf(out, room, "%s/service-linux-XXXXXX", base != nullptr && base[0] ? base : "/tmp");
    return mkdtemp(out) != nullptr;
}

void removeTree(const char *path)
{
    if (path == nullptr || path[0] == 0)
        return;
    const char *argv[] = {"rm", "-rf", path, nullptr};
    runBounded(argv, 10000, nullptr);
}

bool addTgtTarget(TargetDaemon *d, int tid, const TgtTarget &target)
{
    char tidText[16];
    snprintf(tidText, sizeof tidText, "%d", tid);
    char backing[400];
    snprintf(backing, sizeof backing, "%s/disk%d.img", d->directory, tid);
    if (!makeBackingFile(backing))
        return false;
    const char *newTarget[] = {"--op",  "new", "--mode",    "target", "--tid",
                               tidText, "-T",  target.name, nullptr};
    const char *newUnit[] = {"--op",  "new", "--mode", "logicalunit", "--tid", tidText,
                             "--lun", "1",   "-b",     backing,       nullptr};
    const char *bind[] = {"--op",  "bind", "--mode", "target", "--tid",
                          tidText, "-I",   "ALL",    nullptr};
    if (tgtadm(d, newTarget) != 0 || tgtadm(d, newUnit) != 0 || tgtadm(d, bind) != 0)
        return false;
    if (target.chapUser != nullptr) {
        const char *account[] = {"--op",   "new",           "--mode",     "account",
                                 "--user", target.chapUser, "--password", target.chapSecret,
                                 nullptr};
        const char *bindAccount[] = {"--op",  "bind",   "--mode",        "account", "--tid",
                                     tidText, "--user", target.chapUser, nullptr};
        if (tgtadm(d, account) != 0 || tgtadm(d, bindAccount) != 0)
            return false;
    }
    return true;
}

bool removeTgtTarget(TargetDaemon *d, int tid)
{
    char tidText[16];
    snprintf(tidText, sizeof tidText, "%d", tid);
    const char *remove[] = {"--op", "delete", "--mode", "target", "--tid", tidText, nullptr};
    return tgtadm(d, remove) == 0;
}

bool startTgtd(TargetDaemon *d, const TgtTarget *targets, int count)
{
    return startTgtdOn(d, "127.0.0.1", targets, count);
}

bool startTgtdOn(TargetDaemon *d, const char *address, const TgtTarget *targets, int count)
{
    memset(d, 0, sizeof *d);
    d->pid = -1;
    if (!programExists("tgtd") || !programExists("tgtadm")) {
        snprintf(d->why, sizeof d->why, "tgtd is not installed (Debian package tgt)");
        return false;
    }
    if (geteuid() != 0) {
        snprintf(d->why, sizeof d->why, "tgtd needs root");
        return false;
    }
    if (!makeScratchDirectory(d->directory, sizeof d->directory)) {
        snprintf(d->why, sizeof d->why, "no scratch directory");
        return false;
    }
    char log[300];
    snprintf(log, sizeof log, "%s/tgtd.log", d->directory);
    // The control port only names tgtd's management socket (0 to 32767); a
    // number that another tgtd holds makes this one exit, and the next try
    // takes other numbers.
    for (int attempt = 0; attempt < 4 && d->pid < 0; attempt++) {
        d->port = freeLoopbackPort();
        d->controlPort = 1000 + (d->port + attempt * 7919) % 31000;
        char portal[64];
        bool bracket = strchr(address, ':') != nullptr;
        snprintf(portal, sizeof portal, bracket ? "portal=[%s]:%d" : "portal=%s:%d", address,
                 d->port);
        char control[16];
        snprintf(control, sizeof control, "%d", d->controlPort);
        const char *argv[] = {"tgtd", "-f", "-C", control, "--iscsi", portal, nullptr};
        d->pid = spawnLogged(argv, log);
        if (d->pid > 0 && !waitForPort(d->pid, address, d->port, 10000)) {
            kill(d->pid, SIGKILL);
            killAndReap(d->pid, 5000);
            d->pid = -1;
        }
    }
    if (d->pid < 0) {
        snprintf(d->why, sizeof d->why, "tgtd did not start listening (see %s)", log);
        stopTgtd(d);
        return false;
    }
    // The management socket comes up with the portal; give tgtadm a few tries.
    const char *show[] = {"--op", "show", "--mode", "target", nullptr};
    long long deadline = nowMs() + 5000;
    while (tgtadm(d, show) != 0 && nowMs() < deadline)
        usleep(20000);
    for (int i = 0; i < count; i++) {
        if (!addTgtTarget(d, i + 1, targets[i])) {
            snprintf(d->why, sizeof d->why, "tgtadm could not create target %s", targets[i].name);
            stopTgtd(d);
            return false;
        }
    }
    return true;
}

int tgtSessionCount(TargetDaemon *d, int tid)
{
    (void)tid;
    char output[300];
    snprintf(output, sizeof output, "%s/show.txt", d->directory);
    unlink(output);
    char control[16];
    snprintf(control, sizeof control, "%d", d->controlPort);
    const char *argv[] = {"tgtadm", "-C",   control,  "--lld",  "iscsi",
                          "--op",   "show", "--mode", "target", nullptr};
    if (runBounded(argv, 10000, output) != 0)
        return -1;
    FILE *file = fopen(output, "r");
    if (file == nullptr)
        return -1;
    char line[512];
    int currentTid = 0;
    int sessions = 0;
    while (fgets(line, sizeof line, file) != nullptr) {
        int parsed;
        if (sscanf(line, "Target %d:", &parsed) == 1)
            currentTid = parsed;
        else if (currentTid == tid && strstr(line, "I_T nexus:") != nullptr)
            sessions++;
    }
    fclose(file);
    return sessions;
}

void stopTgtd(TargetDaemon *d)
{
    // tgtd ignores SIGTERM while it has targets.
    if (d->pid > 0) {
        kill(d->pid, SIGKILL);
        killAndReap(d->pid, 5000);
        d->pid = -1;
    }
    if (d->controlPort > 0) {
        char path[128];
        snprintf(path, sizeof path, "/var/run/tgtd/socket.%d", d->controlPort);
        unlink(path);
        snprintf(path, sizeof path, "/var/run/tgtd/socket.%d.lock", d->controlPort);
        unlink(path);
    }
    removeTree(d->directory);
    d->directory[0] = 0;
}

bool startIstgt(TargetDaemon *d)
{
    memset(d, 0, sizeof *d);
    d->pid = -1;
    if (!programExists("istgt")) {
        snprintf(d->why, sizeof d->why, "istgt is not installed (Debian package istgt)");
        return false;
    }
    if (!makeScratchDirectory(d->directory, sizeof d->directory)) {
        snprintf(d->why, sizeof d->why, "no scratch directory");
        return false;
    }
    d->port = freeLoopbackPort();
    d->secondPort = freeLoopbackPort();
    while (d->secondPort == d->port)
        d->secondPort = freeLoopbackPort();
    char path[400];
    snprintf(path, sizeof path, "%s/disk1.img", d->directory);
    if (!makeBackingFile(path)) {
        snprintf(d->why, sizeof d->why, "no backing file");
        return false;
    }
    char authPath[400];
    snprintf(authPath, sizeof authPath, "%s/auth.conf", d->directory);
    writeFile(authPath, "[AuthGroup1]\n  Comment \"none\"\n");
    char config[4096];
    snprintf(config, sizeof config,
             "[Global]\n"
             "  NodeBase \"iqn.2026-01.test.istgt\"\n"
             "  PidFile %s/istgt.pid\n"
             "  AuthFile %s\n"
             "  MediaDirectory %s\n"
             "  LogFacility \"local7\"\n"
             "  Timeout 30\n"
             "  NopInInterval 20\n"
             "  DiscoveryAuthMethod Auto\n"
             "  MaxSessions 16\n"
             "  MaxConnections 4\n"
             "[UnitControl]\n"
             "  AuthMethod Auto\n"
             "[PortalGroup1]\n"
             "  Portal DA1 127.0.0.1:%d\n"
             "[PortalGroup2]\n"
             "  Portal DA2 127.0.0.1:%d\n"
             "  Portal DA3 127.0.0.2:%d\n"
             "[InitiatorGroup1]\n"
             "  InitiatorName \"ALL\"\n"
             "  Netmask 127.0.0.0/8\n"
             "[LogicalUnit1]\n"
             "  TargetName disk1\n"
             "  Mapping PortalGroup1 InitiatorGroup1\n"
             "  Mapping PortalGroup2 InitiatorGroup1\n"
             "  AuthMethod Auto\n"
             "  UseDigest Auto\n"
             "  UnitType Disk\n"
             "  LUN0 Storage %s Auto\n",
             d->directory, authPath, d->directory, d->port, d->secondPort, d->secondPort, path);
    char configPath[400];
    snprintf(configPath, sizeof configPath, "%s/istgt.conf", d->directory);
    if (!writeFile(configPath, config)) {
        snprintf(d->why, sizeof d->why, "no configuration file");
        return false;
    }
    char log[400];
    snprintf(log, sizeof log, "%s/istgt.log", d->directory);
    const char *argv[] = {"istgt", "-c", configPath, "-D", nullptr};
    d->pid = spawnLogged(argv, log);
    if (d->pid < 0 || !waitForPort(d->pid, "127.0.0.1", d->port, 10000) ||
        !waitForPort(d->pid, "127.0.0.2", d->secondPort, 5000)) {
        snprintf(d->why, sizeof d->why, "istgt did not start listening (see %s)", log);
        stopIstgt(d);
        return false;
    }
    return true;
}

void stopIstgt(TargetDaemon *d)
{
    if (d->pid > 0) {
        kill(d->pid, SIGTERM);
        killAndReap(d->pid, 3000);
        d->pid = -1;
    }
    removeTree(d->directory);
    d->directory[0] = 0;
}

int startSilentListener(int *port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    struct sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    if (bind(fd, reinterpret_cast<struct sockaddr *>(&where), sizeof where) != 0 ||
        listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<struct sockaddr *>(&where), &length) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(where.sin_port);
    return fd;
}

pid_t startResponder(const char *reply, size_t length, int *port)
{
    int listener = startSilentListener(port);
    if (listener < 0)
        return -1;
    char copy[512];
    if (length > sizeof copy)
        length = sizeof copy;
    memcpy(copy, reply, length);
    pid_t pid = fork();
    if (pid != 0) {
        close(listener);
        return pid;
    }
    alarm(20);
    for (;;) {
        int connection = accept(listener, nullptr, nullptr);
        if (connection < 0)
            _exit(0);
        char request[1024];
        ssize_t got = read(connection, request, sizeof request);
        (void)got;
        ssize_t sent = write(connection, copy, length);
        (void)sent;
        usleep(50000);
        close(connection);
    }
}

void stopResponder(pid_t pid)
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        killAndReap(pid, 5000);
    }
}
