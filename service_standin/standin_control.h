// Control of the scripted initiator service stand-in, for tests that run it
// in the same process.
//
// A program that is not a test never calls these: on its first service call
// the stand-in reads the scenario file named by ISCSI_STANDIN_SCENARIO (no
// variable: every call fails with 1722) and appends its call log to the file
// named by ISCSI_STANDIN_LOG.  Once a test has called standinLoadScenario or
// standinReset, the environment is no longer looked at.
//
// The scenario format and the call log are described in
// service_standin/README.md.
#ifndef SERVICE_STANDIN_STANDIN_CONTROL_H
#define SERVICE_STANDIN_STANDIN_CONTROL_H

#include <cstddef>

// Replaces the scenario with the one in `text` (the contents of a scenario
// file, ended by a 0 byte) and empties the call log.  Returns true when the
// text is a valid scenario.  Otherwise returns false, writes "line N: what"
// into error[room] (cut to fit, always terminated when room > 0; error may be
// null) and leaves the stand-in without a scenario (every call gets 1722).
bool standinLoadScenario(const char *text, char *error, size_t room);

// Drops the scenario (every call gets 1722) and empties the call log.
void standinReset();

// The call log since the last load or reset: one line per call, each ended by
// "\n"; "" when there was no call.  Owned by the stand-in, valid until the
// next call of any stand-in or service operation.
const char *standinCallLog();

#endif  // SERVICE_STANDIN_STANDIN_CONTROL_H
