// Real iSCSI targets on loopback for the integration tests: tgtd (one portal,
// several targets, optional CHAP) and istgt (one target behind two portal
// groups).  Every daemon runs in the foreground of a child process of the
// test, is waited for with a bound, and is stopped by its process id.
#ifndef SERVICE_LIBISCSI_TESTS_TARGET_DAEMONS_H
#define SERVICE_LIBISCSI_TESTS_TARGET_DAEMONS_H

#include <sys/types.h>

struct TargetDaemon {
    pid_t pid;
    int port;         // the first portal's TCP port on 127.0.0.1
    int secondPort;   // istgt: the port of the second portal group
    int controlPort;  // tgtd: its management channel
    char directory[256];
    char why[512];  // why the daemon could not be started
};

struct TgtTarget {
    const char *name;
    const char *chapUser;  // null: no CHAP
    const char *chapSecret;
};

// A TCP port on 127.0.0.1 that nothing listens on right now.
int freeLoopbackPort();

// Waits for the child pid with a bound on the time; kills it (SIGKILL) when
// the bound passes.  Returns its exit code, or -1 when it was killed or died
// of a signal.
int waitForChild(pid_t pid, int timeoutMs);

// Runs a program (argv[0] looked up in PATH) with a bound on its time;
// returns its exit code, or -1 when it could not run or was killed.
int runBounded(const char *const argv[], int timeoutMs, const char *outputPath);

// A private scratch directory under $TMPDIR; the path goes into out.
bool makeScratchDirectory(char *out, size_t room);
void removeTree(const char *path);

// Starts tgtd on 127.0.0.1 at a free port with the given targets, each on a
// 1 MiB backing file.  On failure d->why tells why (missing program, not root).
bool startTgtd(TargetDaemon *d, const TgtTarget *targets, int count);
// The same on another loopback address (IPv6: "::1").
bool startTgtdOn(TargetDaemon *d, const char *address, const TgtTarget *targets, int count);
// Binds one more target to a running tgtd (tid = count of earlier targets + 1).
bool addTgtTarget(TargetDaemon *d, int tid, const TgtTarget &target);
// Deletes target tid (it must hold no session).
bool removeTgtTarget(TargetDaemon *d, int tid);
// Number of I_T nexus (sessions) tgtd holds for target tid.
int tgtSessionCount(TargetDaemon *d, int tid);
void stopTgtd(TargetDaemon *d);

// Starts istgt with one target, "iqn.2026-01.test.istgt:disk1", mapped to
// portal group 1 (127.0.0.1:port) and portal group 2 (127.0.0.1:secondPort and
// 127.0.0.2:secondPort).
bool startIstgt(TargetDaemon *d);
void stopIstgt(TargetDaemon *d);

// A socket on 127.0.0.1 that listens but never accepts nor answers; returns
// its descriptor and port, or -1.
int startSilentListener(int *port);

// A child process on 127.0.0.1 that answers every connection with `reply`
// (at most 512 bytes) and closes it, for at most 20 seconds; returns its pid
// and port, or -1.  Stop it with stopResponder.
pid_t startResponder(const char *reply, size_t length, int *port);
void stopResponder(pid_t pid);

#endif  // SERVICE_LIBISCSI_TESTS_TARGET_DAEMONS_H
