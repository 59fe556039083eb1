#include "fuzz/report_capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

int gCaptureFile = -1;

}  // namespace

void captureReportOutput()
{
    if (gCaptureFile >= 0)
        return;
    fflush(stdout);
    gCaptureFile = memfd_create("report-output", 0);
    if (gCaptureFile < 0 || dup2(gCaptureFile, STDOUT_FILENO) < 0) {
        perror("captureReportOutput");
        abort();
    }
}

size_t takeReportOutput(char *out, size_t room)
{
    fflush(stdout);
    off_t end = lseek(gCaptureFile, 0, SEEK_CUR);
    size_t written = end > 0 ? static_cast<size_t>(end) : 0;
    size_t wanted = written < room ? written : room;
    size_t got = 0;
    while (got < wanted) {
        ssize_t n = pread(gCaptureFile, out + got, wanted - got, static_cast<off_t>(got));
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (getenv("FUZZ_SHOW_OUTPUT") != nullptr) {
        char chunk[4096];
        for (off_t at = 0; at < end;) {
            ssize_t n = pread(gCaptureFile, chunk, sizeof chunk, at);
            if (n <= 0)
                break;
            fwrite(chunk, 1, static_cast<size_t>(n), stderr);
            at += n;
        }
    }
    if (ftruncate(gCaptureFile, 0) != 0 || lseek(gCaptureFile, 0, SEEK_SET) != 0) {
        perror("takeReportOutput");
        abort();
    }
    return written;
}
