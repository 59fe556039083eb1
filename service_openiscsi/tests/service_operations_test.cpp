// The nine operations of the open-iscsi service over a recording stand-in
// for iscsiadm (service_fixture.h): the vector of every call, what each
// exit code becomes, and the bytes of the answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "service_openiscsi/openiscsi_status.h"
#include "service_openiscsi/openiscsi_testing.h"
#include "service_openiscsi/tests/service_fixture.h"
#include "service_support/support_status.h"

namespace {

const IscsiServiceTable &service = openiscsiServiceTable;

const char kNode[] = "iqn.2024-01.test.unit:initiator";
const char kTarget[] = "iqn.2024-01.test.rec:plain";
const char kChapTarget[] = "iqn.2024-01.test.rec:chap";
const char kP[] = "127.0.0.1:3260";
const std::u16string kDefault = u"Root\\open-iscsi\\default";

std::string nodeCall(const std::string &target, const std::string &rest,
                     const std::string &iface = " -I default")
{
    return "iscsiadm -m node -T " + target + " -p " + kP + iface + rest;
}

// The update that states CHAP with the target's name as the CHAP name, and
// with persistent node.startup automatic first.
std::string chapUpdate(const std::string &target, const std::string &secret, bool persistent)
{
    return nodeCall(target, std::string(" -o update") +
                                (persistent ? " -n node.startup -v automatic" : "") +
                                " -n node.session.auth.authmethod -v CHAP -n "
                                "node.session.auth.username -v " +
                                target + " -n node.session.auth.password -v " + secret);
}

ISCSI_LOGIN_OPTIONS chapOptions(const char *username, const char *secret)
{
    ISCSI_LOGIN_OPTIONS options;
    memset(&options, 0, sizeof options);
    options.InformationSpecified =
        ISCSI_LOGIN_OPTIONS_USERNAME | ISCSI_LOGIN_OPTIONS_PASSWORD | ISCSI_LOGIN_OPTIONS_AUTH_TYPE;
    options.LoginFlags = ISCSI_LOGIN_FLAG_MULTIPATH_ENABLED;
    options.AuthType = ISCSI_CHAP_AUTH_TYPE;
    options.Username = reinterpret_cast<UCHAR *>(const_cast<char *>(username));
    options.UsernameLength = username != nullptr ? static_cast<ULONG>(strlen(username)) : 0;
    options.Password = reinterpret_cast<UCHAR *>(const_cast<char *>(secret));
    options.PasswordLength = static_cast<ULONG>(strlen(secret));
    return options;
}

ISDSC_STATUS addPortal(const std::u16string *instance, ISCSI_LOGIN_OPTIONS *options,
                       const std::string &address = "127.0.0.1", USHORT socket = 3260)
{
    ISCSI_TARGET_PORTALW portal = portalRecord(address, socket);
    std::u16string copy = instance != nullptr ? *instance : u"";
    return service.addSendTargetPortal(instance != nullptr ? &copy[0] : nullptr,
                                       ISCSI_ANY_INITIATOR_PORT, options, 0, &portal);
}

ISDSC_STATUS login(const std::string &target, bool persistent, ISCSI_LOGIN_OPTIONS *options,
                   ISCSI_UNIQUE_SESSION_ID *session = nullptr,
                   ISCSI_UNIQUE_CONNECTION_ID *connection = nullptr,
                   const std::u16string &instance = kDefault)
{
    ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", 3260);
    std::u16string name = wide(target);
    std::u16string copy = instance;
    ISCSI_UNIQUE_SESSION_ID ignoredSession;
    ISCSI_UNIQUE_CONNECTION_ID ignoredConnection;
    return service.loginTarget(&name[0], false, &copy[0], ISCSI_ANY_INITIATOR_PORT, &portal, 0,
                               nullptr, options, 0, nullptr, persistent,
                               session != nullptr ? session : &ignoredSession,
                               connection != nullptr ? connection : &ignoredConnection);
}

ISDSC_STATUS removePersistent(const std::string &target)
{
    ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", 3260);
    std::u16string name = wide(target);
    std::u16string instance = kDefault;
    return service.removePersistentTarget(&instance[0], ISCSI_ANY_INITIATOR_PORT, &name[0],
                                          &portal);
}

// The target-information answer of one class, by the sizing rule.
struct Info {
    ISDSC_STATUS status;
    std::vector<unsigned char> bytes;
};

Info targetInfo(const std::string &target, const char *mechanism, TARGET_INFORMATION_CLASS kind)
{
    std::u16string name = wide(target);
    std::u16string mechanismText = mechanism != nullptr ? wide(mechanism) : u"";
    WCHAR16 *mechanismArgument = mechanism != nullptr ? &mechanismText[0] : nullptr;
    ULONG size = 0;
    Info info = {service.getTargetInformation(&name[0], mechanismArgument, kind, &size, nullptr),
                 {}};
    if (info.status != ISDSC_ERROR_INSUFFICIENT_BUFFER)
        return info;
    info.bytes.resize(size);
    info.status =
        service.getTargetInformation(&name[0], mechanismArgument, kind, &size, info.bytes.data());
    info.bytes.resize(size);
    return info;
}

std::vector<std::string> wideTexts(const std::vector<unsigned char> &bytes)
{
    std::vector<WCHAR16> characters(bytes.size() / 2 + 1, 0);
    memcpy(characters.data(), bytes.data(), bytes.size());
    return multiString(characters.data(), static_cast<ULONG>(bytes.size() / 2));
}

ULONG ulongAt(const std::vector<unsigned char> &bytes, size_t offset)
{
    ULONG value = 0;
    if (offset + 4 <= bytes.size())
        memcpy(&value, bytes.data() + offset, 4);
    return value;
}

// --- version, node name, initiators -----------------------------------------

TEST_F(OpeniscsiService, VersionIsIscsiadmsAskedOncePerProcess)
{
    script({fromRecording("iscsiadm --version", "kernel/version")});
    ISCSI_VERSION_INFO version = {0, 0, 0};
    ASSERT_EQ(0u, service.getVersionInformation(&version));
    EXPECT_EQ(2u, version.MajorVersion);
    EXPECT_EQ(1u, version.MinorVersion);
    EXPECT_EQ(8u, version.BuildNumber);
    ASSERT_EQ(0u, service.getVersionInformation(&version));
    expectCalls({"iscsiadm --version"});
}

TEST_F(OpeniscsiService, VersionFailures)
{
    script({answer("iscsiadm --version", 0, "open-iscsi\n")});
    ISCSI_VERSION_INFO version;
    EXPECT_EQ(OPENISCSI_OUTPUT_UNREADABLE, service.getVersionInformation(&version));
    script({timedOut("iscsiadm --version")});
    EXPECT_EQ(OPENISCSI_TOOL_TIMED_OUT, service.getVersionInformation(&version));
    expectCalls({"iscsiadm --version"});
    EXPECT_EQ(ISDSC_ERROR_INVALID_PARAMETER, service.getVersionInformation(nullptr));
}

TEST_F(OpeniscsiService, NodeNameIsTheInitiatorNameFiles)
{
    struct Case {
        const char *file;  // null: no file
        ISDSC_STATUS status;
        const char *name;
    };
    const Case cases[] = {
        {"InitiatorName=iqn.1993-08.org.debian:01:af9bdaf915a\n", 0,
         "iqn.1993-08.org.debian:01:af9bdaf915a"},
        {nullptr, OPENISCSI_NO_INITIATOR_NAME, ""},
        {"## no name yet\nGenerateName=yes\n", OPENISCSI_INITIATOR_NAME_UNUSABLE, ""},
        {"InitiatorName=\n", OPENISCSI_INITIATOR_NAME_UNUSABLE, ""},
        {"InitiatorName=iqn.2024-01.x:\xc2\x9b"
         "31m\n",
         OPENISCSI_INITIATOR_NAME_UNUSABLE, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file != nullptr ? c.file : "(no file)");
        forgetServiceStateForTests();
        if (c.file != nullptr)
            hostFile("/etc/iscsi/initiatorname.iscsi", c.file);
        else
            removeHostFile("/etc/iscsi/initiatorname.iscsi");
        WCHAR16 name[MAX_ISCSI_NAME_LEN + 1] = {0};
        EXPECT_EQ(c.status, service.getInitiatorNodeName(name));
        if (c.status == 0)
            EXPECT_EQ(c.name, narrow(name));
    }
    expectCalls({});
}

TEST_F(OpeniscsiService, InitiatorsAreOneInstancePerIfaceTheDefaultLast)
{
    std::string ifaces = recorded("kernel/iface-list.stdout") +
                         "eth1-san tcp,00:11:22:33:44:55,10.1.0.2,eth1,<empty>\n"
                         "bad/name tcp,<empty>,<empty>,<empty>,<empty>\n";
    script({answer("iscsiadm -m iface", 0, ifaces), answer("iscsiadm -m iface", 0, ifaces)});
    WCHAR16 list[4096];
    ULONG size = 4096;
    ASSERT_EQ(0u, service.reportInitiatorList(&size, list));
    EXPECT_EQ((std::vector<std::string>{"Root\\open-iscsi\\iser", "Root\\open-iscsi\\eth1-san",
                                        "Root\\open-iscsi\\default"}),
              multiString(list, size));
    ULONG needed = size;
    EXPECT_EQ(0u, list[size - 1]);
    EXPECT_EQ(0u, list[size - 2]);
    size = 10;
    EXPECT_EQ(ISDSC_ERROR_INSUFFICIENT_BUFFER, service.reportInitiatorList(&size, list));
    EXPECT_EQ(needed, size);
    expectCalls({"iscsiadm -m iface", "iscsiadm -m iface"});
}

// --- send-target portals ---------------------------------------------------

TEST_F(OpeniscsiService, AddDiscoversWithNewOnlyThroughTheInstancesIface)
{
    const std::string discover = "iscsiadm -m discoverydb -t st -p 127.0.0.1:3260";
    script({fromRecording(discover + " -I default --discover -o new", "kernel/discover-new"),
            fromRecording(discover + " --discover -o new", "kernel/discover-new-existing"),
            fromRecording("iscsiadm -m discoverydb -t st -p [::1]:3260 --discover -o new",
                          "kernel-ipv6/discover-new")});
    EXPECT_EQ(0u, addPortal(&kDefault, nullptr));
    EXPECT_EQ(0u, addPortal(nullptr, nullptr));
    // An address the command line gave in brackets.
    EXPECT_EQ(0u, addPortal(nullptr, nullptr, "[::1]"));
    expectCalls({discover + " -I default --discover -o new", discover + " --discover -o new",
                 "iscsiadm -m discoverydb -t st -p [::1]:3260 --discover -o new"});
}

TEST_F(OpeniscsiService, AddStatesDiscoveryChapAndMakesTheRecordOnlyWhenMissing)
{
    const std::string record = "iscsiadm -m discoverydb -t st -p 127.0.0.1:3260";
    const std::string chap = record +
                             " -o update -n discovery.sendtargets.auth.authmethod -v CHAP"
                             " -n discovery.sendtargets.auth.username -v " +
                             kNode + " -n discovery.sendtargets.auth.password -v secret-12345";
    const std::string discover = record + " -I default --discover -o new";
    // targetlogin's options for a portal: a secret, no name (the node's
    // name stands in).
    ISCSI_LOGIN_OPTIONS options = chapOptions(nullptr, "secret-12345");
    options.InformationSpecified = ISCSI_LOGIN_OPTIONS_AUTH_TYPE | ISCSI_LOGIN_OPTIONS_PASSWORD;

    // An existing record keeps everything but what is stated.
    script({answer(chap, 0), fromRecording(discover, "kernel/discover-chap")});
    EXPECT_EQ(0u, addPortal(&kDefault, &options));
    expectCalls({chap, discover});

    // A missing one is made, then stated; never "-o new" over one.
    script({answer(chap, 6, "", "iscsiadm: Discovery record [127.0.0.1,3260] not found.\n"),
            fromRecording(record + " -o new", "kernel/discoverydb-new"), answer(chap, 0),
            fromRecording(discover, "kernel/discover-chap")});
    EXPECT_EQ(0u, addPortal(&kDefault, &options));
    expectCalls({chap, record + " -o new", chap, discover});
}

TEST_F(OpeniscsiService, AddMakesNoRecordWhileIscsidIsUnreachable)
{
    iscsidListens(false);
    script({});
    EXPECT_EQ(OPENISCSI_DAEMON_UNREACHABLE, addPortal(&kDefault, nullptr));
    expectCalls({});
}

TEST_F(OpeniscsiService, AddFailuresKeepTheirCause)
{
    struct Case {
        ScriptStep step;
        ISDSC_STATUS status;
    };
    const std::string call =
        "iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 -I default --discover -o new";
    const Case cases[] = {
        {fromRecording(call, "kernel/discover-closed"), OPENISCSI_CONNECTION_REFUSED},
        {fromRecording(call, "kernel/discover-chap-required"), OPENISCSI_AUTHENTICATION_FAILED},
        {fromRecording(call, "kernel-noiscsid/discover-new"), OPENISCSI_DAEMON_NOT_RUNNING},
        {fromRecording(call, "host/discover-new"), OPENISCSI_TRANSPORT_NOT_FOUND},
        {timedOut(call), OPENISCSI_TOOL_TIMED_OUT},
        {answer(call, 77), OPENISCSI_UNKNOWN_EXIT_CODE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.step.err);
        script({c.step});
        EXPECT_EQ(c.status, addPortal(&kDefault, nullptr));
        expectCalls({call});
    }
}

TEST_F(OpeniscsiService, RemoveKeepsTheRecordsOfPersistentLoginsAndLiveSessions)
{
    NodeValues persistent = {kChapTarget};
    persistent.startup = "automatic";
    persistent.authMethod = "CHAP";
    persistent.username = "alice";
    persistent.passwordSet = true;
    NodeValues live = {"iqn.2024-01.test.rec:live"};
    live.tag = 2;
    NodeValues plain = {kTarget};
    NodeValues elsewhere = {"iqn.2024-01.test.rec:other"};
    elsewhere.startup = "automatic";
    elsewhere.discoveryAddress = "192.0.2.1";
    kernelSession(3, "iqn.2024-01.test.rec:live", "127.0.0.1", 3260);
    std::string all = nodePrintout(persistent) + nodePrintout(live) + nodePrintout(plain) +
                      nodePrintout(elsewhere);
    const std::string chapNode = "iscsiadm -m node -T " + std::string(kChapTarget) + " -p " + kP;
    const std::string liveNode =
        "iscsiadm -m node -T iqn.2024-01.test.rec:live -p " + std::string(kP);
    const std::vector<ScriptStep> steps = {
        answer("iscsiadm -m node -o show", 0, all),
        answer(chapNode + " -I default -S", 0, nodePrintout(persistent, "alice-secret-1")),
        fromRecording("iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 -o delete",
                      "kernel/discoverydb-delete"),
        answer("iscsiadm -m node -o new -T " + std::string(kChapTarget) + " -p " + kP +
                   ",1 -I default",
               0),
        answer(chapNode +
                   " -I default -o update -n node.startup -v automatic -n "
                   "node.session.auth.authmethod -v CHAP -n node.session.auth.username -v alice "
                   "-n node.session.auth.password -v alice-secret-1",
               0),
        answer(
            "iscsiadm -m node -o new -T iqn.2024-01.test.rec:live -p 127.0.0.1:3260,2 -I default",
            0),
        answer(liveNode + " -I default -o update -n node.startup -v manual -n "
                          "node.session.auth.authmethod -v None",
               0),
    };
    script(steps);
    ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", 3260);
    std::u16string instance = kDefault;
    EXPECT_EQ(0u, service.removeSendTargetPortal(&instance[0], ISCSI_ANY_INITIATOR_PORT, &portal));
    std::vector<std::string> expected;
    for (const ScriptStep &step : steps)
        expected.push_back(step.call);
    expectCalls(expected);
}

TEST_F(OpeniscsiService, RemoveFailures)
{
    ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", 3260);
    const std::string remove = "iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 -o delete";
    // Not there: nothing is kept, the status says so.
    script({fromRecording("iscsiadm -m node -o show", "kernel/node-none"),
            fromRecording(remove, "kernel/discoverydb-delete-missing")});
    EXPECT_EQ(OPENISCSI_PORTAL_NOT_FOUND,
              service.removeSendTargetPortal(nullptr, ISCSI_ANY_INITIATOR_PORT, &portal));
    expectCalls({"iscsiadm -m node -o show", remove});

    // A persistent login to keep, and no iscsid to make its record again
    // with: nothing is deleted.
    NodeValues persistent = {kTarget};
    persistent.startup = "automatic";
    iscsidListens(false);
    script({answer("iscsiadm -m node -o show", 0, nodePrintout(persistent))});
    EXPECT_EQ(OPENISCSI_DAEMON_UNREACHABLE,
              service.removeSendTargetPortal(nullptr, ISCSI_ANY_INITIATOR_PORT, &portal));
    expectCalls({"iscsiadm -m node -o show"});

    // The record cannot be made again: the removal says so.
    iscsidListens(true);
    script({answer("iscsiadm -m node -o show", 0, nodePrintout(persistent)), answer(remove, 0),
            answer("iscsiadm -m node -o new -T " + std::string(kTarget) + " -p " + kP +
                       ",1 -I default",
                   6)});
    EXPECT_EQ(OPENISCSI_RECORDS_NOT_KEPT,
              service.removeSendTargetPortal(nullptr, ISCSI_ANY_INITIATOR_PORT, &portal));
    EXPECT_EQ(3u, calls().size());
}

// --- target list and information -------------------------------------------

TEST_F(OpeniscsiService, ForcedListRediscoversWhatThisRunDidNotThenReadsEveryRecord)
{
    const std::string discover = "iscsiadm -m discoverydb -t st -p ";
    std::string records = nodePrintout({kTarget}) + nodePrintout({kChapTarget});
    NodeValues second = {kTarget};
    second.iface = "iser";
    records += nodePrintout(second);
    script({fromRecording(discover + "127.0.0.1:3260 -I default --discover -o new",
                          "kernel/discover-new"),
            fromRecording("iscsiadm -m discoverydb", "kernel/discoverydb-list-several"),
            fromRecording(discover + "127.0.0.1:3999 --discover -o new", "kernel/discover-closed"),
            answer(discover + "192.0.2.1:3260 --discover -o new", 0),
            answer(discover + "127.0.0.1:3270 --discover -o new", 0),
            answer("iscsiadm -m node -o show", 0, records)});
    ASSERT_EQ(0u, addPortal(&kDefault, nullptr));
    WCHAR16 list[4096];
    ULONG size = 4096;
    ASSERT_EQ(0u, service.reportTargets(true, &size, list));
    EXPECT_EQ((std::vector<std::string>{kChapTarget, kTarget}), multiString(list, size));
    // The records are read once for the run; a list without update asks
    // nothing again.
    size = 4096;
    ASSERT_EQ(0u, service.reportTargets(false, &size, list));
    EXPECT_EQ(2u, multiString(list, size).size());
    expectCalls({discover + "127.0.0.1:3260 -I default --discover -o new",
                 "iscsiadm -m discoverydb", discover + "127.0.0.1:3999 --discover -o new",
                 discover + "192.0.2.1:3260 --discover -o new",
                 discover + "127.0.0.1:3270 --discover -o new", "iscsiadm -m node -o show"});
}

TEST_F(OpeniscsiService, ListsLeaveOutNamesATargetMayNotHave)
{
    std::string records = nodePrintout({kTarget}) +
                          nodePrintout({"iqn.2024-01.test:\xc2\x9b"
                                        "2J"}) +                         // a C1 control
                          nodePrintout({"iqn.2024-01.test:\xff\xfe"}) +  // not UTF-8
                          nodePrintout({std::string(224, 'n')});         // too long
    script({fromRecording("iscsiadm -m discoverydb", "kernel/discoverydb-none"),
            answer("iscsiadm -m node -o show", 0, records)});
    WCHAR16 list[4096];
    ULONG size = 4096;
    ASSERT_EQ(0u, service.reportTargets(true, &size, list));
    EXPECT_EQ((std::vector<std::string>{kTarget}), multiString(list, size));
    // An empty list is its closing empty text; too small a buffer is 122.
    forgetServiceStateForTests();
    script({fromRecording("iscsiadm -m node -o show", "kernel/node-none")});
    size = 4096;
    ASSERT_EQ(0u, service.reportTargets(false, &size, list));
    EXPECT_EQ(1u, size);
    size = 0;
    EXPECT_EQ(ISDSC_ERROR_INSUFFICIENT_BUFFER, service.reportTargets(false, &size, list));
    EXPECT_EQ(1u, size);
}

TEST_F(OpeniscsiService, TargetInformationFromTheNodeRecords)
{
    NodeValues first = {kTarget};
    NodeValues second = {kTarget};
    second.address = "127.0.0.2";
    NodeValues third = {kTarget};
    third.address = "::1";
    third.tag = 2;
    NodeValues viaIser = {kTarget};
    viaIser.iface = "iser";
    NodeValues otherPortal = {kTarget};
    otherPortal.address = "192.0.2.9";
    otherPortal.discoveryAddress = "192.0.2.1";
    otherPortal.tag = 7;
    NodeValues chap = {kChapTarget};
    chap.authMethod = "CHAP";
    chap.username = "alice";
    chap.passwordSet = true;
    script({answer("iscsiadm -m node -o show", 0,
                   nodePrintout(first) + nodePrintout(second) + nodePrintout(third) +
                       nodePrintout(viaIser) + nodePrintout(otherPortal) + nodePrintout(chap))});
    kernelSession(4, kTarget, "127.0.0.1", 3260, "default", "Archive disks");
    const char *mechanism = "SendTargets 127.0.0.1:3260";

    Info info = targetInfo(kTarget, nullptr, DiscoveryMechanisms);
    ASSERT_EQ(0u, info.status);
    EXPECT_EQ(
        (std::vector<std::string>{"SendTargets 127.0.0.1:3260", "SendTargets 192.0.2.1:3260"}),
        wideTexts(info.bytes));
    EXPECT_EQ(0u, info.bytes[info.bytes.size() - 1]);
    EXPECT_EQ(0u, info.bytes[info.bytes.size() - 3]);  // the closing empty text

    info = targetInfo(kTarget, mechanism, ProtocolType);
    EXPECT_EQ(0u, info.status);
    EXPECT_EQ(4u, info.bytes.size());
    EXPECT_EQ(0u, ulongAt(info.bytes, 0));

    info = targetInfo(kTarget, mechanism, TargetAlias);
    EXPECT_EQ((std::vector<std::string>{"Archive disks"}), wideTexts(info.bytes));
    info = targetInfo(kChapTarget, mechanism, TargetAlias);  // no session: empty
    EXPECT_EQ(2u, info.bytes.size());

    // Two groups by tag; the portal through the other discovery record is
    // not one of them, the iser record's portal counts once.
    info = targetInfo(kTarget, mechanism, PortalGroups);
    ASSERT_EQ(0u, info.status);
    ASSERT_EQ(4u + 2060u + 1032u, info.bytes.size());
    EXPECT_EQ(2u, ulongAt(info.bytes, 0));
    EXPECT_EQ(2u, ulongAt(info.bytes, 4));
    ISCSI_TARGET_PORTALW portal;
    memcpy(&portal, info.bytes.data() + 8, sizeof portal);
    EXPECT_EQ("127.0.0.1", narrow(portal.Address));
    EXPECT_EQ(3260, portal.Socket);
    EXPECT_EQ(0u, portal.SymbolicName[0]);
    memcpy(&portal, info.bytes.data() + 8 + 1026, sizeof portal);
    EXPECT_EQ("127.0.0.2", narrow(portal.Address));
    EXPECT_EQ(1u, ulongAt(info.bytes, 4 + 2060));
    memcpy(&portal, info.bytes.data() + 4 + 2060 + 4, sizeof portal);
    EXPECT_EQ("::1", narrow(portal.Address));

    info = targetInfo(kTarget, mechanism, InitiatorName);
    EXPECT_EQ((std::vector<std::string>{"Root\\open-iscsi\\default", "Root\\open-iscsi\\iser"}),
              wideTexts(info.bytes));

    info = targetInfo(kTarget, mechanism, TargetFlags);
    EXPECT_EQ(4u, info.bytes.size());
    EXPECT_EQ(0u, ulongAt(info.bytes, 0));

    // Login options: the authentication only, never the secret.
    info = targetInfo(kTarget, mechanism, LoginOptions);
    ASSERT_EQ(sizeof(ISCSI_LOGIN_OPTIONS), info.bytes.size());
    ISCSI_LOGIN_OPTIONS options;
    memcpy(&options, info.bytes.data(), sizeof options);
    EXPECT_EQ(ISCSI_LOGIN_OPTIONS_AUTH_TYPE, options.InformationSpecified);
    EXPECT_EQ(ISCSI_NO_AUTH_TYPE, options.AuthType);
    info = targetInfo(kChapTarget, mechanism, LoginOptions);
    ASSERT_EQ(sizeof(ISCSI_LOGIN_OPTIONS) + 5, info.bytes.size());
    memcpy(&options, info.bytes.data(), sizeof options);
    EXPECT_EQ(0xE0u, options.InformationSpecified);
    EXPECT_EQ(ISCSI_CHAP_AUTH_TYPE, options.AuthType);
    EXPECT_EQ(5u, options.UsernameLength);
    EXPECT_EQ(0u, options.PasswordLength);
    EXPECT_EQ(nullptr, options.Password);
    ASSERT_NE(nullptr, options.Username);
    EXPECT_EQ(info.bytes.data() + sizeof options, options.Username);
    EXPECT_EQ(0, memcmp(options.Username, "alice", 5));

    expectCalls({"iscsiadm -m node -o show"});
}

TEST_F(OpeniscsiService, TargetInformationFailuresAndEmptyAnswers)
{
    NodeValues byHand = {"iqn.2024-01.test.rec:static"};
    byHand.discoveryAddress = "";
    byHand.tag = -1;
    script({answer("iscsiadm -m node -o show", 0, nodePrintout({kTarget}) + nodePrintout(byHand))});
    EXPECT_EQ(OPENISCSI_TARGET_NOT_FOUND,
              targetInfo("iqn.2024-01.test.rec:none", nullptr, DiscoveryMechanisms).status);
    EXPECT_EQ(OPENISCSI_MECHANISM_NOT_FOUND,
              targetInfo(kTarget, "SendTargets 127.0.0.1:3261", PortalGroups).status);
    EXPECT_EQ(SERVICE_NOT_SUPPORTED, targetInfo(kTarget, nullptr, PersistentTargetMappings).status);
    // A record made by hand was found by no discovery: an empty list,
    // answered at once with size 0.
    std::u16string name = wide("iqn.2024-01.test.rec:static");
    ULONG size = 77;
    EXPECT_EQ(0u,
              service.getTargetInformation(&name[0], nullptr, DiscoveryMechanisms, &size, nullptr));
    EXPECT_EQ(0u, size);
    // Its portal stands in group 0.
    Info groups = targetInfo("iqn.2024-01.test.rec:static", nullptr, PortalGroups);
    EXPECT_EQ(4u + 1032u, groups.bytes.size());
    // Too small a buffer for the second call is 122 again, with the size.
    name = wide(kTarget);
    size = 3;
    unsigned char small[3];
    EXPECT_EQ(ISDSC_ERROR_INSUFFICIENT_BUFFER,
              service.getTargetInformation(&name[0], nullptr, ProtocolType, &size, small));
    EXPECT_EQ(4u, size);
    expectCalls({"iscsiadm -m node -o show"});
}

// --- logins -------------------------------------------------------------------

TEST_F(OpeniscsiService, PersistentLoginIsStartupAutomaticWithItsChapInOneCall)
{
    ISCSI_LOGIN_OPTIONS options = chapOptions(kChapTarget, "secret-12345");
    const std::string update = chapUpdate(kChapTarget, "secret-12345", true);
    ISCSI_UNIQUE_SESSION_ID session = {1, 2};
    ISCSI_UNIQUE_CONNECTION_ID connection = {3, 4};
    script({answer(update, 0)});
    EXPECT_EQ(0u, login(kChapTarget, true, &options, &session, &connection));
    EXPECT_EQ(0u, session.AdapterUnique + session.AdapterSpecific + connection.AdapterUnique +
                      connection.AdapterSpecific);
    expectCalls({update});

    // Without CHAP the record keeps its own; a missing record is made first.
    const std::string startup = nodeCall(kTarget, " -o update -n node.startup -v automatic");
    script(
        {fromRecording(startup, "kernel/node-update-missing"),
         answer("iscsiadm -m node -o new -T " + std::string(kTarget) + " -p " + kP + " -I default",
                0, recorded("host/node-new.stdout")),
         answer(startup, 0)});
    EXPECT_EQ(0u, login(kTarget, true, nullptr));
    expectCalls({startup,
                 "iscsiadm -m node -o new -T " + std::string(kTarget) + " -p " + kP + " -I default",
                 startup});
    // ... but not while iscsid is away.
    iscsidListens(false);
    script({fromRecording(startup, "kernel/node-update-missing")});
    EXPECT_EQ(OPENISCSI_DAEMON_UNREACHABLE, login(kTarget, true, nullptr));
    expectCalls({startup});
}

TEST_F(OpeniscsiService, ImmediateLoginMakesAKernelSessionNamedByItsSidAndBoot)
{
    ISCSI_LOGIN_OPTIONS options = chapOptions(kChapTarget, "secret-12345");
    const std::string update = chapUpdate(kChapTarget, "secret-12345", true);
    const std::string loginCall = nodeCall(kChapTarget, " --login");
    kernelSession(2, kTarget, "127.0.0.1", 3260);
    kernelSession(3, kChapTarget, "127.0.0.1", 3260);
    kernelSession(5, kChapTarget, "127.0.0.1", 3261);  // another portal
    // The persistent login stated the CHAP settings: the login only logs in.
    script({answer(update, 0), fromRecording(loginCall, "kernel/login-chap")});
    ASSERT_EQ(0u, login(kChapTarget, true, &options));
    ISCSI_UNIQUE_SESSION_ID session = {0, 0};
    ISCSI_UNIQUE_CONNECTION_ID connection = {0, 0};
    EXPECT_EQ(0u, login(kChapTarget, false, &options, &session, &connection));
    EXPECT_EQ(0x0123abcd456789efull, session.AdapterUnique);
    EXPECT_EQ(3u, session.AdapterSpecific);
    EXPECT_EQ(0x0123abcd456789efull, connection.AdapterUnique);
    EXPECT_EQ(3ull << 32, connection.AdapterSpecific);
    expectCalls({update, loginCall});

    // Another secret is stated before the login.
    ISCSI_LOGIN_OPTIONS other = chapOptions(kChapTarget, "other-secret");
    const std::string chapOnly = chapUpdate(kChapTarget, "other-secret", false);
    script({answer(chapOnly, 0), fromRecording(loginCall, "kernel/login-chap")});
    EXPECT_EQ(0u, login(kChapTarget, false, &other));
    expectCalls({chapOnly, loginCall});
}

TEST_F(OpeniscsiService, ImmediateLoginExitCodes)
{
    const std::string loginCall = nodeCall(kTarget, " --login");
    struct Case {
        ScriptStep step;
        bool session;  // the kernel shows one afterwards
        ISDSC_STATUS status;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {fromRecording(loginCall, "kernel/login"), true, 0, {loginCall}},
        // A session that exists is the login's success.
        {fromRecording(loginCall, "kernel/login-exists"), true, 0, {loginCall}},
        {fromRecording(loginCall, "kernel/login"), false, OPENISCSI_SESSION_NOT_SEEN, {loginCall}},
        {fromRecording(loginCall, "kernel/login-bad-chap"),
         false,
         OPENISCSI_AUTHENTICATION_FAILED,
         {loginCall}},
        {fromRecording(loginCall, "kernel/login-target-gone"),
         false,
         OPENISCSI_LOGIN_REFUSED,
         {loginCall}},
        {fromRecording(loginCall, "kernel-noiscsid/login"),
         false,
         OPENISCSI_DAEMON_NOT_RUNNING,
         {loginCall}},
        // Out of time: what iscsid may still be trying is logged out.
        {timedOut(loginCall),
         false,
         OPENISCSI_TOOL_TIMED_OUT,
         {loginCall, nodeCall(kTarget, " --logout")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.step.err);
        removeHostFile("/sys/class/iscsi_session/session1/targetname");
        if (c.session)
            kernelSession(1, kTarget, "127.0.0.1", 3260);
        std::vector<ScriptStep> steps = {c.step};
        if (c.calls.size() > 1)
            steps.push_back(answer(c.calls[1], 21));
        script(steps);
        EXPECT_EQ(c.status, login(kTarget, false, nullptr));
        expectCalls(c.calls);
    }
}

TEST_F(OpeniscsiService, RemovePersistentOnlyWhereThereIsOne)
{
    NodeValues automatic = {kTarget};
    automatic.startup = "automatic";
    const std::string manual = nodeCall(kTarget, " -o update -n node.startup -v manual");
    script({answer("iscsiadm -m node -o show", 0,
                   nodePrintout(automatic) + nodePrintout({kChapTarget})),
            answer(manual, 0)});
    EXPECT_EQ(0u, removePersistent(kTarget));
    // Now manual (as noted by this process), and the other one never was.
    EXPECT_EQ(OPENISCSI_PERSISTENT_LOGIN_NOT_FOUND, removePersistent(kTarget));
    EXPECT_EQ(OPENISCSI_PERSISTENT_LOGIN_NOT_FOUND, removePersistent(kChapTarget));
    expectCalls({"iscsiadm -m node -o show", manual});
}

// --- arguments ----------------------------------------------------------------

TEST_F(OpeniscsiService, ArgumentsRefusedBeforeAnyCall)
{
    script({});
    std::u16string otherInstance = u"Root\\SoftwareInitiator\\0000_0";
    std::u16string badIface = u"Root\\open-iscsi\\../etc";
    EXPECT_EQ(OPENISCSI_INSTANCE_NOT_FOUND, addPortal(&otherInstance, nullptr));
    EXPECT_EQ(OPENISCSI_INSTANCE_NOT_FOUND, addPortal(&badIface, nullptr));
    EXPECT_EQ(OPENISCSI_ARGUMENT_REFUSED, addPortal(nullptr, nullptr, "10.0.0.1 -o delete"));
    EXPECT_EQ(ISDSC_ERROR_INVALID_PARAMETER, addPortal(nullptr, nullptr, "10.0.0.1", 0));
    EXPECT_EQ(ISDSC_ERROR_INVALID_PARAMETER, addPortal(nullptr, nullptr, ""));
    ISCSI_LOGIN_OPTIONS mutual = chapOptions(kTarget, "secret-12345");
    mutual.AuthType = ISCSI_MUTUAL_CHAP_AUTH_TYPE;
    EXPECT_EQ(SERVICE_NOT_SUPPORTED, login(kTarget, true, &mutual));
    std::string longSecret(256, 's');
    ISCSI_LOGIN_OPTIONS tooLong = chapOptions(kTarget, longSecret.c_str());
    EXPECT_EQ(SERVICE_SECRET_TOO_LONG, login(kTarget, true, &tooLong));
    ISCSI_LOGIN_OPTIONS lineBreak = chapOptions(kTarget, "x\nnode.startup = automatic");
    EXPECT_EQ(OPENISCSI_ARGUMENT_REFUSED, login(kTarget, true, &lineBreak));
    EXPECT_EQ(ISDSC_ERROR_INVALID_PARAMETER, login("", true, nullptr));
    ISCSI_TARGET_PORTALW portal = portalRecord("127.0.0.1", 3260);
    EXPECT_EQ(SERVICE_NOT_SUPPORTED,
              service.addSendTargetPortal(nullptr, ISCSI_ANY_INITIATOR_PORT, nullptr, 1, &portal));
    expectCalls({});
}

}  // namespace
