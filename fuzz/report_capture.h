// What the code under test writes to standard output, caught in memory.
//
// The tools report on standard output; under the fuzzer that would be
// millions of lines.  Standard output goes to an anonymous memory file
// instead, and each input's share is read back (for checks) and dropped.
// With FUZZ_SHOW_OUTPUT set in the environment, each share is also copied
// to standard error.
#ifndef FUZZ_REPORT_CAPTURE_H
#define FUZZ_REPORT_CAPTURE_H

#include <cstddef>

// Points standard output at the memory file.  Call once, before any output.
// Aborts when it cannot.
void captureReportOutput();

// Flushes standard output, copies what was written since the last call into
// out[room] (cut to fit, not terminated; out may be null with room 0) and
// empties the file.  Returns the bytes written since the last call.
size_t takeReportOutput(char *out, size_t room);

#endif  // FUZZ_REPORT_CAPTURE_H
