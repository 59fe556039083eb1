// A recording stand-in for the platform operations of atom_platform.h,
// linked in their place: each call is logged with its arguments, and the
// results come from a script the test sets.
#ifndef ATOMMARKER_TESTS_RECORDING_PLATFORM_H
#define ATOMMARKER_TESTS_RECORDING_PLATFORM_H

#include <cstddef>
#include <string>
#include <vector>

#include "atommarker/atom_platform.h"

struct PlatformScript {
    ATOM findResult;          // GlobalFindAtomA
    ATOM addResult;           // GlobalAddAtomA
    DWORD lastError;          // GetLastError
    const char *messageText;  // FormatMessageA; nullptr: the platform has none
};

struct RecordedCall {
    std::string call;    // e.g. "GlobalFindAtomA(marker)"
    size_t outputBytes;  // bytes the run had written by then
};

// Starts a recording: clears the log, sets the script, and has every call
// note how much of `output` has been written (output may be nullptr).
void startRecording(const PlatformScript &script, const std::string *output);

// The calls since startRecording, in order.
const std::vector<RecordedCall> &recordedCalls();

// Message texts FormatMessageA handed out and LocalFree has not released.
int unreleasedMessageTexts();

// Called at the start of LocalFree (after it is logged), for tests that
// act while the run is between two lines; nullptr for none.
void setLocalFreeHook(void (*hook)());

#endif  // ATOMMARKER_TESTS_RECORDING_PLATFORM_H
