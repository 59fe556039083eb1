// The whole targetlogin run over a fuzz-driven service: start-up report,
// registration, target list, every target's report and its login pass.
//
// Input: one byte that picks the command line, then the service's answers
// (fuzz_service.h).  Findings: any memory or undefined-behaviour fault, a
// leak, a broken service contract, an exit code outside 0..2, or a usage
// exit without the usage text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_service.h"
#include "fuzz/report_capture.h"
#include "targetlogin/targetlogin.h"

namespace {

struct CommandLine {
    int argc;
    const char *argv[8];
};

// Addresses from the documentation range; the service is the fuzzer, so
// nothing is ever sent anywhere.
const CommandLine kCommandLines[] = {
    {2, {"targetlogin", "192.0.2.1"}},
    {3, {"targetlogin", "192.0.2.1", "-a"}},
    {5, {"targetlogin", "192.0.2.1", "-t", "chap-secret", "-a"}},
    {6, {"targetlogin", "192.0.2.1", "-p", "0xCBC", "192.0.2.2", "-a"}},
    {5, {"targetlogin", "192.0.2.1", "-s", "3", "-a"}},
    {4, {"targetlogin", "192.0.2.1", "-t", "chap-secret"}},
    {1, {"targetlogin"}},
    {2, {"targetlogin", "-a"}},
};
const size_t kCommandLineCount = sizeof kCommandLines / sizeof kCommandLines[0];

char gOutput[1 << 16];

[[noreturn]] void finding(const char *what)
{
    fprintf(stderr, "target report fuzz: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    captureReportOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    captureReportOutput();
    if (size == 0)
        return 0;
    const CommandLine &chosen = kCommandLines[data[0] % kCommandLineCount];
    // runTargetLogin takes writable arguments, as main receives them.
    char storage[8][32];
    char *argv[9] = {};
    for (int i = 0; i < chosen.argc; i++) {
        snprintf(storage[i], sizeof storage[i], "%s", chosen.argv[i]);
        argv[i] = storage[i];
    }

    startFuzzService(data + 1, size - 1);
    int exitCode = runTargetLogin(chosen.argc, argv);
    size_t written = takeReportOutput(gOutput, sizeof gOutput - 1);
    gOutput[written < sizeof gOutput - 1 ? written : sizeof gOutput - 1] = 0;

    if (exitCode != EXIT_DONE && exitCode != EXIT_FAILED && exitCode != EXIT_USAGE)
        finding("exit code outside 0..2");
    if (exitCode == EXIT_USAGE && written < sizeof gOutput - 1 &&
        strstr(gOutput, "\nusage: ") == nullptr)
        finding("usage exit without the usage text");
    return 0;
}
