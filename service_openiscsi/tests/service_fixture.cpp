#include "service_openiscsi/tests/service_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <sys/stat.h>

#include "service_openiscsi/openiscsi_testing.h"

namespace {

std::deque<ScriptStep> gScript;
std::vector<std::string> gCalls;

char *heapCopy(const std::string &text)
{
    char *copy = static_cast<char *>(malloc(text.size() + 1));
    memcpy(copy, text.data(), text.size());
    copy[text.size()] = 0;
    return copy;
}

bool standIn(const char *const *argv, int timeoutMs, size_t outputLimit, ChildResult *result)
{
    (void)timeoutMs;
    std::string call;
    for (size_t i = 0; argv[i] != nullptr; i++)
        call += (i > 0 ? " " : "") + std::string(argv[i]);
    memset(result, 0, sizeof *result);
    ScriptStep step = {"", 99, "", "", CHILD_EXITED};
    if (!gScript.empty() && gScript.front().call == call) {
        step = gScript.front();
        gScript.pop_front();
        gCalls.push_back(call);
    } else {
        gCalls.push_back("UNEXPECTED " + call);
    }
    size_t limit = outputLimit == 0 ? CHILD_OUTPUT_LIMIT : outputLimit;
    if (step.out.size() > limit) {
        step.out.resize(limit);
        result->out.truncated = true;
    }
    result->end = step.end;
    result->exitCode = step.exitCode;
    result->out.data = heapCopy(step.out);
    result->out.length = step.out.size();
    result->err.data = heapCopy(step.err);
    result->err.length = step.err.size();
    return step.end == CHILD_EXITED;
}

void makeFolders(const std::string &path)
{
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

}  // namespace

ScriptStep fromRecording(const std::string &call, const std::string &name)
{
    return {call, recordedExitCode(name), recorded(name + ".stdout"), recorded(name + ".stderr"),
            CHILD_EXITED};
}

ScriptStep answer(const std::string &call, int exitCode, const std::string &out,
                  const std::string &err)
{
    return {call, exitCode, out, err, CHILD_EXITED};
}

ScriptStep timedOut(const std::string &call)
{
    return {call, 0, "", "", CHILD_TIMED_OUT};
}

std::string nodePrintout(const NodeValues &node, const std::string &password)
{
    bool found = !node.discoveryAddress.empty();
    std::map<std::string, std::string> values = {
        {"node.name", node.target},
        {"node.tpgt", std::to_string(node.tag)},
        {"node.startup", node.startup},
        {"iface.iscsi_ifacename", node.iface},
        {"node.discovery_address", found ? node.discoveryAddress : "<empty>"},
        {"node.discovery_port", std::to_string(found ? node.discoveryPort : 0)},
        {"node.discovery_type", found ? "send_targets" : "static"},
        {"node.session.auth.authmethod", node.authMethod},
        {"node.session.auth.username", node.username.empty() ? "<empty>" : node.username},
        {"node.session.auth.password", !password.empty()  ? password
                                       : node.passwordSet ? "********"
                                                          : "<empty>"},
        {"node.conn[0].address", node.address},
        {"node.conn[0].port", std::to_string(node.port)},
    };
    std::string text = recorded("kernel/node-show.stdout");
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        size_t separator = line.find(" = ");
        if (separator != std::string::npos && values.count(line.substr(0, separator)) > 0)
            line = line.substr(0, separator) + " = " + values[line.substr(0, separator)];
        out += line + "\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

void OpeniscsiService::SetUp()
{
    char pattern[] = "/tmp/openiscsi-service-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root = pattern;
    gScript.clear();
    gCalls.clear();
    setHostRootForTests(root.c_str());
    setIscsiadmRunnerForTests(standIn);
    forgetServiceStateForTests();
    hostFile("/etc/iscsi/initiatorname.iscsi",
             "## a comment\nInitiatorName=iqn.2024-01.test.unit:initiator\n");
    hostFile("/proc/sys/kernel/random/boot_id", "0123abcd-4567-89ef-0011-223344556677\n");
    makeFolders(root + "/sys/class/iscsi_session");
    makeFolders(root + "/sys/class/iscsi_connection");
    iscsidListens(true);
}

void OpeniscsiService::TearDown()
{
    setIscsiadmRunnerForTests(nullptr);
    setHostRootForTests(nullptr);
    forgetServiceStateForTests();
    std::string command = "rm -rf '" + root + "'";
    EXPECT_EQ(0, system(command.c_str()));
}

void OpeniscsiService::script(const std::vector<ScriptStep> &steps)
{
    gScript.assign(steps.begin(), steps.end());
    gCalls.clear();
}

std::vector<std::string> OpeniscsiService::calls() const
{
    return gCalls;
}

void OpeniscsiService::expectCalls(const std::vector<std::string> &expected)
{
    EXPECT_EQ(expected, gCalls);
    EXPECT_TRUE(gScript.empty()) << gScript.size() << " scripted calls not made, first "
                                 << (gScript.empty() ? "" : gScript.front().call);
}

void OpeniscsiService::hostFile(const std::string &path, const std::string &text)
{
    std::string full = root + path;
    makeFolders(full.substr(0, full.rfind('/')));
    FILE *file = fopen(full.c_str(), "wb");
    ASSERT_NE(nullptr, file) << full;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

void OpeniscsiService::removeHostFile(const std::string &path)
{
    std::string full = root + path;
    remove(full.c_str());
}

void OpeniscsiService::kernelSession(unsigned sid, const std::string &target,
                                     const std::string &address, unsigned port,
                                     const std::string &iface, const std::string &alias)
{
    std::string session = "/sys/class/iscsi_session/session" + std::to_string(sid);
    hostFile(session + "/targetname", target + "\n");
    hostFile(session + "/ifacename", iface + "\n");
    if (!alias.empty())
        hostFile(session + "/targetalias", alias + "\n");
    std::string connection = "/sys/class/iscsi_connection/connection" + std::to_string(sid) + ":0";
    hostFile(connection + "/persistent_address", address + "\n");
    hostFile(connection + "/persistent_port", std::to_string(port) + "\n");
}

void OpeniscsiService::iscsidListens(bool listening)
{
    std::string text =
        "Num       RefCount Protocol Flags    Type St Inode Path\n"
        "0000000000000000: 00000002 00000000 00000000 0001 03 71 @ISCSIADM_ABSTRACT_NAMESPACE\n"
        "0000000000000000: 00000002 00000000 00010000 0001 01 72 /run/other.sock\n";
    if (listening)
        text += "00000000fca0b63e: 00000002 00000000 00010000 0001 01    84 "
                "@ISCSIADM_ABSTRACT_NAMESPACE\n";
    hostFile("/proc/net/unix", text);
}

std::u16string wide(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

std::string narrow(const WCHAR16 *text)
{
    std::string out;
    for (; *text != 0; text++)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

ISCSI_TARGET_PORTALW portalRecord(const std::string &address, USHORT socket)
{
    ISCSI_TARGET_PORTALW portal;
    memset(&portal, 0, sizeof portal);
    for (size_t i = 0; i < address.size() && i < MAX_ISCSI_PORTAL_ADDRESS_LEN - 1; i++)
        portal.Address[i] = static_cast<WCHAR16>(static_cast<unsigned char>(address[i]));
    portal.Socket = socket;
    return portal;
}

std::vector<std::string> multiString(const WCHAR16 *list, ULONG characters)
{
    std::vector<std::string> texts;
    ULONG at = 0;
    while (at < characters && list[at] != 0) {
        std::string text = narrow(list + at);
        at += static_cast<ULONG>(text.size()) + 1;
        texts.push_back(text);
    }
    return texts;
}
