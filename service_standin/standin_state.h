// The stand-in's process-wide state: the scenario in force and the call log.
// Internal to the stand-in.
#ifndef SERVICE_STANDIN_STANDIN_STATE_H
#define SERVICE_STANDIN_STANDIN_STATE_H

#include <cstddef>

#include "service_standin/scenario.h"

// The scenario in force.  On the first use in a process that has not been
// given one through standin_control.h, loads the file named by
// ISCSI_STANDIN_SCENARIO; a file that cannot be read or parsed ends the
// process with exit code STANDIN_SCENARIO_EXIT after a line on stderr, so
// that a broken test setup never passes for a service failure.
Scenario *currentScenario();

#define STANDIN_SCENARIO_EXIT 120

// The next unused answer scripted for `operation`, or null when the scenario
// scripts no more calls of it.  Does not mark the answer used.
ScriptedAnswer *nextAnswer(StandinOperation operation);

// Appends `length` bytes (whole lines) to the call log.
void appendCallLog(const char *text, size_t length);

#endif  // SERVICE_STANDIN_STANDIN_STATE_H
