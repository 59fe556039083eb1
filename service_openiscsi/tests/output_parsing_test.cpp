// The readers of iscsiadm's outputs over what the real iscsiadm printed
// (recorded/, see its README.md) and over small malformed texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "service_openiscsi/iscsiadm_lists.h"
#include "service_openiscsi/iscsiadm_records.h"
#include "service_openiscsi/session_details.h"
#include "service_openiscsi/tests/recorded_files.h"
#include "service_support/initiator_name_file.h"

namespace {

// --- --version -------------------------------------------------------------

TEST(Version, RecordedAndOtherForms)
{
    IscsiadmVersion version;
    std::string text = recorded("kernel/version.stdout");
    ASSERT_TRUE(parseVersion(text.data(), text.size(), &version));
    EXPECT_EQ(2u, version.major);
    EXPECT_EQ(1u, version.minor);
    EXPECT_EQ(8u, version.patch);
    EXPECT_STREQ("2.1.8", version.text);

    struct Case {
        const char *text;
        bool read;
        unsigned long major, minor, patch;
    };
    const Case cases[] = {
        {"iscsiadm version 2.0-874\n", true, 2, 0, 874},
        {"iscsiadm version 2.1\n", true, 2, 1, 0},
        {"iscsiadm version 2.1.9-1\n", true, 2, 1, 9},
        {"iscsiadm version 2.1.8+git\n", false, 0, 0, 0},
        {"iscsiadm version 2.1.8\r\n", true, 2, 1, 8},
        {"iscsiadm version \n", false, 0, 0, 0},
        {"iscsiadm version 2\n", false, 0, 0, 0},
        {"iscsiadm version 2..1\n", false, 0, 0, 0},
        {"iscsiadm version x.y.z\n", false, 0, 0, 0},
        {"iscsiadm version 2.1.99999999999999999999999\n", false, 0, 0, 0},
        {"version 2.1.8\n", false, 0, 0, 0},
        {"", false, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.read, parseVersion(c.text, strlen(c.text), &version));
        if (c.read) {
            EXPECT_EQ(c.major, version.major);
            EXPECT_EQ(c.minor, version.minor);
            EXPECT_EQ(c.patch, version.patch);
        }
    }
}

// --- -m node -----------------------------------------------------------------

TEST(NodeList, RecordedLists)
{
    NodeEntry nodes[8];
    ListSummary summary;
    std::string text = recorded("kernel/node-list.stdout");
    parseNodeList(text.data(), text.size(), nodes, 8, &summary);
    ASSERT_EQ(3u, summary.count);
    EXPECT_EQ(0u, summary.skipped);
    EXPECT_STREQ("127.0.0.1", nodes[0].portal.address);
    EXPECT_EQ(3260u, nodes[0].portal.port);
    EXPECT_EQ(1, nodes[0].portal.tag);
    EXPECT_STREQ("iqn.2024-01.test.rec:chap", nodes[0].target);
    EXPECT_STREQ("iqn.2024-01.test.rec:plain", nodes[2].target);

    text = recorded("kernel-ipv6/node-list.stdout");
    parseNodeList(text.data(), text.size(), nodes, 8, &summary);
    ASSERT_EQ(3u, summary.count);
    EXPECT_STREQ("::1", nodes[0].portal.address);
    EXPECT_EQ(3260u, nodes[0].portal.port);

    // A record made by hand has no tag; iscsiadm lists it as 4294967295.
    text = recorded("kernel-noiscsid/node-list.stdout");
    parseNodeList(text.data(), text.size(), nodes, 8, &summary);
    ASSERT_EQ(1u, summary.count);
    EXPECT_EQ(OPENISCSI_NO_TAG, nodes[0].portal.tag);

    text = recorded("kernel/node-none.stdout");
    parseNodeList(text.data(), text.size(), nodes, 8, &summary);
    EXPECT_EQ(0u, summary.count);
    EXPECT_EQ(0u, summary.skipped);
}

TEST(NodeList, MalformedLinesAreSkippedAndTheArrayBounded)
{
    const char *bad[] = {
        "127.0.0.1:3260 iqn.a:b",        // no tag
        "127.0.0.1,1 iqn.a:b",           // no port
        "[::1:3260,1 iqn.a:b",           // bracket not closed
        "[::1]3260,1 iqn.a:b",           // no colon after the bracket
        "127.0.0.1:99999,1 iqn.a:b",     // port too large
        "127.0.0.1:0,1 iqn.a:b",         // port zero
        "127.0.0.1:3260,70000 iqn.a:b",  // tag too large
        "127.0.0.1:3260,-2 iqn.a:b",
        "127.0.0.1:3260,1 ",  // no target
        "127.0.0.1:3260,1 iqn.a:b extra",
        "127.0.0.1:3260,1",
        "host/name:3260,1 iqn.a:b",      // not an address
        ":3260,1 iqn.a:b",               // empty address
        "127.0.0.1:3260,1 iqn.a\x01:b",  // control byte
    };
    for (const char *line : bad) {
        SCOPED_TRACE(line);
        NodeEntry node;
        ListSummary summary;
        parseNodeList(line, strlen(line), &node, 1, &summary);
        EXPECT_EQ(0u, summary.count);
        EXPECT_EQ(1u, summary.skipped);
    }

    std::string target(OPENISCSI_NAME_BYTES, 'a');  // one byte too many
    std::string line = "10.0.0.1:3260,1 " + target;
    NodeEntry node;
    ListSummary summary;
    parseNodeList(line.data(), line.size(), &node, 1, &summary);
    EXPECT_EQ(0u, summary.count);

    // A NUL inside the text is just a byte of a line, never its end.
    const char withNul[] = "10.0.0.1:3260,1 iqn.a:b\0tail\n10.0.0.2:3260,1 iqn.c:d\n";
    NodeEntry nodes[4];
    parseNodeList(withNul, sizeof withNul - 1, nodes, 4, &summary);
    EXPECT_EQ(1u, summary.count);
    EXPECT_EQ(1u, summary.skipped);
    EXPECT_STREQ("iqn.c:d", nodes[0].target);

    std::string three = recorded("kernel/node-list.stdout");
    parseNodeList(three.data(), three.size(), nodes, 2, &summary);
    EXPECT_EQ(2u, summary.count);
    EXPECT_TRUE(summary.overflow);
}

// --- -m session ----------------------------------------------------------------

TEST(SessionList, RecordedLists)
{
    SessionEntry sessions[4];
    ListSummary summary;
    std::string text = recorded("kernel/session-list.stdout");
    parseSessionList(text.data(), text.size(), sessions, 4, &summary);
    ASSERT_EQ(2u, summary.count);
    EXPECT_EQ(0u, summary.skipped);
    EXPECT_STREQ("tcp", sessions[0].transport);
    EXPECT_EQ(1u, sessions[0].sid);
    EXPECT_STREQ("127.0.0.1", sessions[0].portal.address);
    EXPECT_EQ(1, sessions[0].portal.tag);
    EXPECT_STREQ("iqn.2024-01.test.rec:plain", sessions[0].target);
    EXPECT_FALSE(sessions[0].flash);
    EXPECT_EQ(3u, sessions[1].sid);
    EXPECT_STREQ("iqn.2024-01.test.rec:chap", sessions[1].target);

    text = recorded("kernel-ipv6/session-list.stdout");
    parseSessionList(text.data(), text.size(), sessions, 4, &summary);
    ASSERT_EQ(1u, summary.count);
    EXPECT_STREQ("::1", sessions[0].portal.address);

    text = recorded("kernel/session-none.stdout");
    parseSessionList(text.data(), text.size(), sessions, 4, &summary);
    EXPECT_EQ(0u, summary.count);
}

TEST(SessionList, OtherFormsAndMalformedLines)
{
    const char text[] = "iser: [12] 10.0.0.1:3260,2 iqn.a:b (flash)\n"
                        "tcp: [13] 10.0.0.1:3260,2 iqn.a:c\n"
                        "tcp: [x] 10.0.0.1:3260,2 iqn.a:b (non-flash)\n"
                        "tcp [14] 10.0.0.1:3260,2 iqn.a:b (non-flash)\n"
                        "tcp: [15]10.0.0.1:3260,2 iqn.a:b (non-flash)\n"
                        ": [16] 10.0.0.1:3260,2 iqn.a:b (non-flash)\n"
                        "tcp: [17] 10.0.0.1:3260,2 (non-flash)\n"
                        "tcp: [99999999999] 10.0.0.1:3260,2 iqn.a:b\n";
    SessionEntry sessions[8];
    ListSummary summary;
    parseSessionList(text, sizeof text - 1, sessions, 8, &summary);
    ASSERT_EQ(2u, summary.count);
    EXPECT_EQ(6u, summary.skipped);
    EXPECT_STREQ("iser", sessions[0].transport);
    EXPECT_EQ(12u, sessions[0].sid);
    EXPECT_TRUE(sessions[0].flash);
    EXPECT_EQ(2, sessions[0].portal.tag);
    EXPECT_STREQ("iqn.a:c", sessions[1].target);
    EXPECT_FALSE(sessions[1].flash);
}

// --- -m session -P 1 / -P 3 -------------------------------------------------

TEST(SessionDetails, RecordedPrintouts)
{
    SessionDetail details[4];
    ListSummary summary;
    std::string text = recorded("kernel/session-p1.stdout");
    parseSessionDetails(text.data(), text.size(), details, 4, &summary);
    ASSERT_EQ(2u, summary.count);
    EXPECT_EQ(0u, summary.skipped);
    EXPECT_STREQ("iqn.2024-01.test.rec:plain", details[0].target);
    EXPECT_EQ(1u, details[0].sid);
    EXPECT_STREQ("127.0.0.1", details[0].currentPortal.address);
    EXPECT_EQ(3260u, details[0].persistentPortal.port);
    EXPECT_EQ(1, details[0].persistentPortal.tag);
    EXPECT_STREQ("default", details[0].ifaceName);
    EXPECT_STREQ("tcp", details[0].transport);
    EXPECT_STREQ("iqn.2024-01.test.kernel:initiator", details[0].initiatorName);
    EXPECT_STREQ("127.0.0.1", details[0].ifaceAddress);
    EXPECT_STREQ("LOGGED IN", details[0].connectionState);
    EXPECT_STREQ("LOGGED_IN", details[0].sessionState);
    EXPECT_EQ(0u, details[0].diskCount);
    EXPECT_STREQ("iqn.2024-01.test.rec:chap", details[1].target);
    EXPECT_EQ(3u, details[1].sid);

    text = recorded("kernel/session-p3.stdout");
    parseSessionDetails(text.data(), text.size(), details, 4, &summary);
    ASSERT_EQ(2u, summary.count);
    ASSERT_EQ(1u, details[0].diskCount);
    EXPECT_STREQ("sda", details[0].disks[0]);
    ASSERT_EQ(1u, details[1].diskCount);
    EXPECT_STREQ("sdb", details[1].disks[0]);

    // IPv6: the current portal and the iface address in long form.
    text = recorded("kernel-ipv6/session-p1.stdout");
    parseSessionDetails(text.data(), text.size(), details, 4, &summary);
    ASSERT_EQ(1u, summary.count);
    EXPECT_STREQ("0000:0000:0000:0000:0000:0000:0000:0001", details[0].currentPortal.address);
    EXPECT_STREQ("::1", details[0].persistentPortal.address);
    EXPECT_STREQ("0000:0000:0000:0000:0000:0000:0000:0001", details[0].ifaceAddress);
}

TEST(SessionDetails, BlocksWithoutTheirKeyLinesAreSkipped)
{
    const char text[] = "Target: iqn.a:b (non-flash)\n"
                        "\tCurrent Portal: 10.0.0.1:3260,1\n"
                        "\t\tIface Name: default\n"  // no SID
                        "\tCurrent Portal: 10.0.0.1:3260,1\n"
                        "\t\tSID: 7\n"
                        "\t\tSID: nope\n"  // unreadable line spoils the block
                        "\tCurrent Portal: bad portal\n"
                        "\t\tSID: 8\n"
                        "Target: iqn.a:c (non-flash)\n"
                        "\tCurrent Portal: 10.0.0.2:3260,1\n"
                        "\t\tSID: 9\n"
                        "\t\t\tAttached scsi disk sdc\t\tState: running\n"
                        "Target: has blank (non-flash)\n"
                        "\tCurrent Portal: 10.0.0.2:3260,1\n"
                        "\t\tSID: 10\n";
    SessionDetail details[4];
    ListSummary summary;
    parseSessionDetails(text, sizeof text - 1, details, 4, &summary);
    ASSERT_EQ(1u, summary.count);
    EXPECT_EQ(4u, summary.skipped);
    EXPECT_STREQ("iqn.a:c", details[0].target);
    EXPECT_EQ(9u, details[0].sid);
    ASSERT_EQ(1u, details[0].diskCount);
    EXPECT_STREQ("sdc", details[0].disks[0]);
}

TEST(SessionDetails, DisksBeyondTheArrayAreNotedNotKept)
{
    std::string text =
        "Target: iqn.a:b (non-flash)\n\tCurrent Portal: 10.0.0.1:3260,1\n\t\tSID: 1\n";
    for (int i = 0; i < SESSION_DISKS_MAX + 3; i++)
        text += "\t\t\tAttached scsi disk sd" + std::string(1, static_cast<char>('a' + i)) +
                "\t\tState: running\n";
    SessionDetail detail;
    ListSummary summary;
    parseSessionDetails(text.data(), text.size(), &detail, 1, &summary);
    ASSERT_EQ(1u, summary.count);
    EXPECT_EQ(static_cast<size_t>(SESSION_DISKS_MAX), detail.diskCount);
    EXPECT_TRUE(detail.moreDisks);
}

// --- -m iface ------------------------------------------------------------------

TEST(IfaceList, RecordedAndHandMade)
{
    IfaceEntry ifaces[4];
    ListSummary summary;
    std::string text = recorded("kernel/iface-list.stdout");
    parseIfaceList(text.data(), text.size(), ifaces, 4, &summary);
    ASSERT_EQ(2u, summary.count);
    EXPECT_STREQ("default", ifaces[0].name);
    EXPECT_STREQ("tcp", ifaces[0].transport);
    EXPECT_STREQ("", ifaces[0].hwaddress);
    EXPECT_STREQ("", ifaces[0].initiatorName);
    EXPECT_STREQ("iser", ifaces[1].name);
    EXPECT_STREQ("iser", ifaces[1].transport);

    const char made[] = "eth0-iface tcp,00:11:22:33:44:55,fe80::1,eth0,iqn.2024-01.x:y\n"
                        "short tcp,a,b\n"
                        "long tcp,a,b,c,d,e\n"
                        "nospace\n"
                        " tcp,<empty>,<empty>,<empty>,<empty>\n"
                        "empty <empty>,<empty>,<empty>,<empty>,<empty>\n";
    parseIfaceList(made, sizeof made - 1, ifaces, 4, &summary);
    ASSERT_EQ(1u, summary.count);
    EXPECT_EQ(5u, summary.skipped);
    EXPECT_STREQ("00:11:22:33:44:55", ifaces[0].hwaddress);
    EXPECT_STREQ("fe80::1", ifaces[0].ipaddress);
    EXPECT_STREQ("eth0", ifaces[0].netIfacename);
    EXPECT_STREQ("iqn.2024-01.x:y", ifaces[0].initiatorName);
}

// --- -m discoverydb ------------------------------------------------------------

TEST(DiscoveryList, RecordedAndMalformed)
{
    DiscoveryEntry entries[8];
    ListSummary summary;
    std::string text = recorded("kernel/discoverydb-list-several.stdout");
    parseDiscoveryList(text.data(), text.size(), entries, 8, &summary);
    ASSERT_EQ(4u, summary.count);
    EXPECT_STREQ("127.0.0.1", entries[0].portal.address);
    EXPECT_EQ(3260u, entries[0].portal.port);
    EXPECT_EQ(OPENISCSI_NO_TAG, entries[0].portal.tag);
    EXPECT_STREQ("sendtargets", entries[0].type);
    EXPECT_STREQ("192.0.2.1", entries[2].portal.address);
    EXPECT_EQ(3270u, entries[3].portal.port);

    // IPv6 without brackets: the port follows the last colon.
    text = recorded("kernel-ipv6/discoverydb-list.stdout");
    parseDiscoveryList(text.data(), text.size(), entries, 8, &summary);
    ASSERT_EQ(1u, summary.count);
    EXPECT_STREQ("::1", entries[0].portal.address);
    EXPECT_EQ(3260u, entries[0].portal.port);

    const char bad[] = "127.0.0.1 via sendtargets\n"
                       "127.0.0.1:3260 by sendtargets\n"
                       "127.0.0.1:3260 via \n"
                       "127.0.0.1:3260 via send targets\n"
                       "127.0.0.1:3260,1 via sendtargets\n";
    parseDiscoveryList(bad, sizeof bad - 1, entries, 8, &summary);
    EXPECT_EQ(0u, summary.count);
    EXPECT_EQ(5u, summary.skipped);
}

// --- record printouts ---------------------------------------------------------

TEST(NodeRecord, RecordedPrintouts)
{
    NodeRecordFields node;
    std::string text = recorded("kernel/node-show.stdout");
    size_t position = 0;
    const char *record;
    size_t length;
    ASSERT_TRUE(nextRecord(text.data(), text.size(), &position, &record, &length));
    ASSERT_TRUE(parseNodeRecord(record, length, &node));
    EXPECT_STREQ("iqn.2024-01.test.rec:plain", node.name);
    EXPECT_EQ(1, node.tag);
    EXPECT_EQ(STARTUP_MANUAL, node.startup);
    EXPECT_STREQ("default", node.ifaceName);
    EXPECT_STREQ("127.0.0.1", node.discoveryAddress);
    EXPECT_EQ(3260u, node.discoveryPort);
    EXPECT_STREQ("send_targets", node.discoveryType);
    EXPECT_STREQ("127.0.0.1", node.address);
    EXPECT_EQ(3260u, node.port);
    EXPECT_STREQ("None", node.authMethod);
    EXPECT_STREQ("", node.username);
    EXPECT_FALSE(node.passwordSet);
    EXPECT_FALSE(nextRecord(text.data(), text.size(), &position, &record, &length));

    struct Case {
        const char *file;
        NodeStartup startup;
        const char *authMethod;
        const char *username;
        bool passwordSet;
        long tag;
        const char *discoveryAddress;
    };
    const Case cases[] = {
        {"kernel/node-show-chap.stdout", STARTUP_MANUAL, "CHAP", "alice", true, 1, "127.0.0.1"},
        {"kernel/node-show-after-new.stdout", STARTUP_AUTOMATIC, "None", "", false, 1, "127.0.0.1"},
        // A discovery without "-o new" reset what the node had.
        {"kernel/node-show-after-plain.stdout", STARTUP_MANUAL, "None", "", false, 1, "127.0.0.1"},
        {"kernel/node-show-chap-after-plain.stdout", STARTUP_MANUAL, "None", "", false, 1,
         "127.0.0.1"},
        // Made by hand while iscsid was away: built-in defaults, no tag.
        {"kernel-noiscsid/node-show.stdout", STARTUP_MANUAL, "None", "", false, OPENISCSI_NO_TAG,
         ""},
        {"kernel-noiscsid/node-show-made-iscsid.stdout", STARTUP_AUTOMATIC, "None", "", false,
         OPENISCSI_NO_TAG, ""},
        {"kernel-ipv6/node-show.stdout", STARTUP_MANUAL, "None", "", false, 1, "::1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        text = recorded(c.file);
        position = 0;
        ASSERT_TRUE(nextRecord(text.data(), text.size(), &position, &record, &length));
        ASSERT_TRUE(parseNodeRecord(record, length, &node));
        EXPECT_EQ(c.startup, node.startup);
        EXPECT_STREQ(c.authMethod, node.authMethod);
        EXPECT_STREQ(c.username, node.username);
        EXPECT_EQ(c.passwordSet, node.passwordSet);
        EXPECT_EQ(c.tag, node.tag);
        EXPECT_STREQ(c.discoveryAddress, node.discoveryAddress);
    }
}

TEST(NodeRecord, SeveralRecordsAndBrokenOnes)
{
    const char text[] = "# BEGIN RECORD 2.1.8\n"
                        "node.name = iqn.a:b\n"
                        "node.tpgt = 1\n"
                        "node.startup = onboot\n"
                        "iface.iscsi_ifacename = default\n"
                        "node.conn[0].address = 10.0.0.1\n"
                        "node.conn[0].port = 3260\n"
                        "# END RECORD\n"
                        "# BEGIN RECORD 2.1.8\n"
                        "node.name = iqn.a:b\n"
                        "node.startup = sometimes\n"
                        "iface.iscsi_ifacename = eth1-iface\n"
                        "node.conn[0].address = 10.0.0.1\n"
                        "node.conn[0].port = 3260\n"
        // no END: the record ends with the text
        ;
    size_t position = 0;
    const char *record;
    size_t length;
    NodeRecordFields node;
    ASSERT_TRUE(nextRecord(text, sizeof text - 1, &position, &record, &length));
    ASSERT_TRUE(parseNodeRecord(record, length, &node));
    EXPECT_EQ(STARTUP_ONBOOT, node.startup);
    EXPECT_STREQ("default", node.ifaceName);
    ASSERT_TRUE(nextRecord(text, sizeof text - 1, &position, &record, &length));
    ASSERT_TRUE(parseNodeRecord(record, length, &node));
    EXPECT_EQ(STARTUP_UNKNOWN, node.startup);
    EXPECT_EQ(OPENISCSI_NO_TAG, node.tag);
    EXPECT_STREQ("eth1-iface", node.ifaceName);
    EXPECT_FALSE(nextRecord(text, sizeof text - 1, &position, &record, &length));

    const char *broken[] = {
        "node.tpgt = 1\nnode.conn[0].address = 10.0.0.1\nnode.conn[0].port = 3260\n",  // no name
        "node.name = <empty>\nnode.conn[0].address = 10.0.0.1\nnode.conn[0].port = 3260\n",
        "node.name = iqn.a:b\nnode.conn[0].port = 3260\n",  // no address
        "node.name = iqn.a:b\nnode.conn[0].address = 10.0.0.1\nnode.conn[0].port = 0\n",
        "node.name = iqn.a:b\nnode.conn[0].address = 10.0.0.1\nnode.conn[0].port = 3260x\n",
        "node.name=iqn.a:b\nnode.conn[0].address = 10.0.0.1\nnode.conn[0].port = 3260\n",
    };
    for (const char *bad : broken) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseNodeRecord(bad, strlen(bad), &node));
    }
}

TEST(RecordField, FoundMissingEmptyAndUnreadable)
{
    const char text[] = "a.b = value one\n"
                        "a.empty = <empty>\n"
                        "a.bad = x\x7fy\n"
                        "a.b = second\n";
    char value[16];
    EXPECT_EQ(FIELD_FOUND, findRecordField(text, sizeof text - 1, "a.b", value, sizeof value));
    EXPECT_STREQ("value one", value);
    EXPECT_EQ(FIELD_FOUND, findRecordField(text, sizeof text - 1, "a.empty", value, sizeof value));
    EXPECT_STREQ("", value);
    EXPECT_EQ(FIELD_UNREADABLE,
              findRecordField(text, sizeof text - 1, "a.bad", value, sizeof value));
    EXPECT_EQ(FIELD_MISSING, findRecordField(text, sizeof text - 1, "a", value, sizeof value));
    EXPECT_EQ(FIELD_UNREADABLE, findRecordField(text, sizeof text - 1, "a.b", value, 4));
    EXPECT_STREQ("", value);
}

TEST(DiscoveryRecord, RecordedPrintouts)
{
    struct Case {
        const char *file;
        const char *authMethod;
        const char *username;
        bool passwordSet;
    };
    const Case cases[] = {
        {"kernel/discoverydb-show.stdout", "None", "", false},
        {"kernel/discoverydb-show-chap.stdout", "CHAP", "discuser", true},
        // "-o new" over the record above reset its CHAP settings.
        {"kernel/discoverydb-show-after-new.stdout", "None", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        std::string text = recorded(c.file);
        size_t position = 0;
        const char *record;
        size_t length;
        DiscoveryRecordFields discovery;
        ASSERT_TRUE(nextRecord(text.data(), text.size(), &position, &record, &length));
        ASSERT_TRUE(parseDiscoveryRecord(record, length, &discovery));
        EXPECT_STREQ("sendtargets", discovery.type);
        EXPECT_STREQ("127.0.0.1", discovery.address);
        EXPECT_EQ(3260u, discovery.port);
        EXPECT_STREQ(c.authMethod, discovery.authMethod);
        EXPECT_STREQ(c.username, discovery.username);
        EXPECT_EQ(c.passwordSet, discovery.passwordSet);
    }
    // No record at all in the printout of a failed call.
    std::string empty = recorded("kernel/discoverydb-show-missing.stdout");
    size_t position = 0;
    const char *record;
    size_t length;
    EXPECT_FALSE(nextRecord(empty.data(), empty.size(), &position, &record, &length));
}

// --- /etc/iscsi/initiatorname.iscsi -------------------------------------------

// --- any input -------------------------------------------------------------------

// Every reader over every prefix of every recorded output: nothing read
// past the text (the sanitizers watch), every result within its array.
TEST(AnyInput, EveryPrefixOfEveryRecordedOutput)
{
    std::vector<std::string> files;
    for (const char *folder : {"kernel", "kernel-ipv6", "kernel-noiscsid", "host"}) {
        DIR *dir = opendir((kRecorded + "/" + folder).c_str());
        ASSERT_NE(nullptr, dir) << folder;
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 7 && name.compare(name.size() - 7, 7, ".stdout") == 0)
                files.push_back(std::string(folder) + "/" + name);
        }
        closedir(dir);
    }
    ASSERT_GT(files.size(), 40u);
    static NodeEntry nodes[2];
    static SessionEntry sessions[2];
    static SessionDetail details[2];
    static IfaceEntry ifaces[2];
    static DiscoveryEntry discoveries[2];
    for (const std::string &file : files) {
        std::string whole = recorded(file);
        size_t step = whole.size() > 400 ? whole.size() / 100 : 1;
        for (size_t length = 0; length <= whole.size(); length += step) {
            // A copy of exactly `length` bytes, so that a read past it is seen.
            std::vector<char> text(whole.begin(), whole.begin() + static_cast<long>(length));
            const char *data = text.data();
            ListSummary summary;
            IscsiadmVersion version;
            parseVersion(data, length, &version);
            parseNodeList(data, length, nodes, 2, &summary);
            EXPECT_LE(summary.count, 2u);
            parseSessionList(data, length, sessions, 2, &summary);
            EXPECT_LE(summary.count, 2u);
            parseSessionDetails(data, length, details, 2, &summary);
            EXPECT_LE(summary.count, 2u);
            parseIfaceList(data, length, ifaces, 2, &summary);
            EXPECT_LE(summary.count, 2u);
            parseDiscoveryList(data, length, discoveries, 2, &summary);
            EXPECT_LE(summary.count, 2u);
            size_t position = 0;
            const char *record;
            size_t recordLength;
            while (nextRecord(data, length, &position, &record, &recordLength)) {
                EXPECT_LE(record + recordLength, data + length);
                NodeRecordFields node;
                DiscoveryRecordFields discovery;
                parseNodeRecord(record, recordLength, &node);
                parseDiscoveryRecord(record, recordLength, &discovery);
            }
            char name[OPENISCSI_NAME_BYTES];
            parseInitiatorNameText(data, length, name, sizeof name);
        }
    }
}

}  // namespace
