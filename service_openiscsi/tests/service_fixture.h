// What the tests of the open-iscsi service's operations share: a recording
// stand-in for iscsiadm that answers from a script (often with outputs
// recorded from the real iscsiadm), and a host folder of their own (sysfs,
// procfs, the initiator name file) in the place of the host's.
#ifndef SERVICE_OPENISCSI_TESTS_SERVICE_FIXTURE_H
#define SERVICE_OPENISCSI_TESTS_SERVICE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/iscsi_service.h"
#include "common/iscsi_service_table.h"
#include "service_openiscsi/child_runner.h"
#include "service_openiscsi/tests/recorded_files.h"

extern const IscsiServiceTable openiscsiServiceTable;

// One answer of the stand-in: the call it expects (its words joined by
// blanks) and what iscsiadm does.
struct ScriptStep {
    std::string call;
    int exitCode;
    std::string out;
    std::string err;
    ChildEnd end;
};

// A step that answers as recorded/<name> (.stdout, .stderr, exit code of
// .cmd); call is the vector our service is to give.
ScriptStep fromRecording(const std::string &call, const std::string &name);
ScriptStep answer(const std::string &call, int exitCode, const std::string &out = "",
                  const std::string &err = "");
ScriptStep timedOut(const std::string &call);

// A node record printout as iscsiadm prints it (recorded/kernel/node-show
// with these values).  tag -1 makes a record without a tag.
struct NodeValues {
    std::string target;
    std::string address = "127.0.0.1";
    unsigned port = 3260;
    long tag = 1;
    std::string startup = "manual";
    std::string authMethod = "None";
    std::string username = "";
    bool passwordSet = false;
    std::string iface = "default";
    std::string discoveryAddress = "127.0.0.1";
    unsigned discoveryPort = 3260;
};
std::string nodePrintout(const NodeValues &node, const std::string &password = "");

class OpeniscsiService : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The calls the stand-in is to get, in order, and its answers.
    void script(const std::vector<ScriptStep> &steps);
    // The calls it got, each as its words joined by blanks; one it did not
    // expect shows as "UNEXPECTED <call>".
    std::vector<std::string> calls() const;
    // Expects every scripted step to have been called, and nothing else.
    void expectCalls(const std::vector<std::string> &expected);

    // Writes a file below the host folder (path absolute, as on the host).
    void hostFile(const std::string &path, const std::string &text);
    void removeHostFile(const std::string &path);
    // A kernel session in sysfs: sessionSID with its connection SID:0.
    void kernelSession(unsigned sid, const std::string &target, const std::string &address,
                       unsigned port, const std::string &iface = "default",
                       const std::string &alias = "");
    // Whether iscsid listens on its socket (/proc/net/unix).
    void iscsidListens(bool listening);

    std::string root;
};

// Wide-text helpers.
std::u16string wide(const std::string &text);
std::string narrow(const WCHAR16 *text);
ISCSI_TARGET_PORTALW portalRecord(const std::string &address, USHORT socket);
// The texts of a multi-string of `characters` characters.
std::vector<std::string> multiString(const WCHAR16 *list, ULONG characters);

#endif  // SERVICE_OPENISCSI_TESTS_SERVICE_FIXTURE_H
