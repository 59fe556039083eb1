// The outputs recorded from the real iscsiadm (recorded/, see its README.md)
// as the tests read them.
#ifndef SERVICE_OPENISCSI_TESTS_RECORDED_FILES_H
#define SERVICE_OPENISCSI_TESTS_RECORDED_FILES_H

#include <string>

// The folder of the recordings.
extern const std::string kRecorded;

// The bytes of recorded/<name>; fails the test when it is missing.
std::string recorded(const std::string &name);

// The exit code written in recorded/<name>.cmd ("exit: N"); -1, failing the
// test, when there is none.
int recordedExitCode(const std::string &name);

#endif  // SERVICE_OPENISCSI_TESTS_RECORDED_FILES_H
