// The port-text reader and the command-line grammar, checked on the
// ConnectOptions they produce.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "targetlogin/targetlogin.h"

namespace {

// Byte-for-byte widening, as the tool widens its arguments.
std::u16string widen(const char *text)
{
    std::u16string wide;
    for (const char *at = text; *at != 0; at++)
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(*at)));
    return wide;
}

struct PortCase {
    const char16_t *text;
    int32_t expected;
};

const PortCase kPortCases[] = {
    {u"3260", 3260},
    {u"0xCBC", 3260},
    {u"0XcBc", 3260},
    {u"0x", 0},      // too short for the hexadecimal form: decimal 0
    {u"0x12G4", 0},  // any non-digit makes the hexadecimal value 0
    {u"0x 1", 0},
    {u"abc", 0},
    {u"", 0},
    {u"70000", 70000},   // no range test here
    {u"3260abc", 3260},  // decimal stops at the first non-digit
    {u" \t3260", 3260},  // leading blanks skipped
    {u" 0x10", 0},       // a blank in front makes it decimal
    {u"+12", 12},
    {u"-1", -1},
    {u"99999999999", 2147483647},
    {u"-99999999999", -2147483647 - 1},
    {u"0xFFFF", 65535},
    {u"0xFFFFFFFF", -1},
    {u"0x100000CBC", 3260},  // beyond eight digits only the low 32 bits remain
};

TEST(ParsePortText, TableOfPortTexts)
{
    for (size_t i = 0; i < sizeof kPortCases / sizeof kPortCases[0]; i++)
        EXPECT_EQ(parsePortText(kPortCases[i].text), kPortCases[i].expected) << "case " << i;
}

struct ExpectedPortal {
    const char *address;
    const char *portText;
    ULONG initiatorPort;
};

struct GrammarCase {
    const char *name;
    std::vector<const char *> arguments;  // after the program name
    CommandLineResult result;
    std::vector<ExpectedPortal> portals;
    int secretArgument;  // index into arguments of the CHAP secret, -1: absent
    bool loginAll;
};

const ULONG kAny = ISCSI_ANY_INITIATOR_PORT;
const std::string k63(63, 'a');
const std::string k64(64, 'a');

const std::vector<GrammarCase> &grammarCases()
{
    static const std::vector<GrammarCase> cases = {
        {"-a alone", {"-a"}, COMMAND_LINE_ACCEPTED, {}, -1, true},
        {"eight addresses",
         {"h1", "h2", "h3", "h4", "h5", "h6", "h7", "h8"},
         COMMAND_LINE_ACCEPTED,
         {{"h1", "3260", kAny},
          {"h2", "3260", kAny},
          {"h3", "3260", kAny},
          {"h4", "3260", kAny},
          {"h5", "3260", kAny},
          {"h6", "3260", kAny},
          {"h7", "3260", kAny},
          {"h8", "3260", kAny}},
         -1,
         false},
        {"a ninth address is refused",
         {"h1", "h2", "h3", "h4", "h5", "h6", "h7", "h8", "h9"},
         COMMAND_LINE_REFUSED,
         {},
         -1,
         false},
        {"-p and -s before any address are passed over with their values",
         {"-p", "3261", "-s", "5", "A"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", kAny}},
         -1,
         false},
        {"-p between two addresses belongs to the first",
         {"A", "-p", "3261", "B"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3261", kAny}, {"B", "3260", kAny}},
         -1,
         false},
        {"-p after the second address belongs to it",
         {"A", "B", "-p", "3261"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", kAny}, {"B", "3261", kAny}},
         -1,
         false},
        {"switches differing in case or unknown are addresses",
         {"-P", "-x", "-A"},
         COMMAND_LINE_ACCEPTED,
         {{"-P", "3260", kAny}, {"-x", "3260", kAny}, {"-A", "3260", kAny}},
         -1,
         false},
        {"a switch's value is never a switch",
         {"A", "-p", "-a", "-t", "-p"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "-a", kAny}},
         4,
         false},
        {"-s minus one",
         {"A", "-s", "-1"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", 0xFFFFFFFFu}},
         -1,
         false},
        {"-s without digits",
         {"A", "-s", "abc"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", 0}},
         -1,
         false},
        {"-s with blanks, sign and trailing text",
         {"A", "-s", "  +7x"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", 7}},
         -1,
         false},
        {"-s clamped to the signed 32-bit range",
         {"A", "-s", "99999999999", "B", "-s", "-99999999999"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", 0x7FFFFFFFu}, {"B", "3260", 0x80000000u}},
         -1,
         false},
        {"later values replace earlier ones",
         {"A", "-p", "1", "-s", "3", "-t", "x", "-p", "2", "-s", "4", "-t", "y"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "2", 4}},
         12,
         false},
        {"-t as the last argument leaves no secret",
         {"A", "-t", "s", "-t"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", kAny}},
         -1,
         false},
        {"-t with an empty secret",
         {"A", "-t", ""},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", kAny}},
         2,
         false},
        {"-h consumes its value",
         {"A", "-h", "B", "C"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", kAny}, {"C", "3260", kAny}},
         -1,
         false},
        {"-h as the last argument ends the command line",
         {"A", "-h"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", kAny}},
         -1,
         false},
        {"an address of 63 bytes and a port text of 63 bytes",
         {k63.c_str(), "-p", k63.c_str()},
         COMMAND_LINE_ACCEPTED,
         {{k63.c_str(), k63.c_str(), kAny}},
         -1,
         false},
        {"an address of 64 bytes is refused",
         {"A", k64.c_str()},
         COMMAND_LINE_REFUSED,
         {},
         -1,
         false},
        {"a port text of 64 bytes is refused",
         {"A", "-p", k64.c_str()},
         COMMAND_LINE_REFUSED,
         {},
         -1,
         false},
        {"a long -p value with no address is passed over",
         {"-p", k64.c_str(), "A"},
         COMMAND_LINE_ACCEPTED,
         {{"A", "3260", kAny}},
         -1,
         false},
        {"-p without a value after an address is refused",
         {"A", "-p"},
         COMMAND_LINE_REFUSED,
         {},
         -1,
         false},
        {"-s without a value after an address is refused",
         {"A", "-s"},
         COMMAND_LINE_REFUSED,
         {},
         -1,
         false},
        {"-p alone is passed over", {"-p"}, COMMAND_LINE_ACCEPTED, {}, -1, false},
        {"-s without a value after -a is passed over",
         {"-a", "-s"},
         COMMAND_LINE_ACCEPTED,
         {},
         -1,
         true},
        {"-s without a value after a secret is passed over",
         {"-t", "x", "-s"},
         COMMAND_LINE_ACCEPTED,
         {},
         1,
         false},
        {"bytes above 0x7F widen to the same values",
         {"\xC3\xA9-\xFF"},
         COMMAND_LINE_ACCEPTED,
         {{"\xC3\xA9-\xFF", "3260", kAny}},
         -1,
         false},
    };
    return cases;
}

TEST(CommandLine, GrammarIntoConnectOptions)
{
    for (const GrammarCase &c : grammarCases()) {
        SCOPED_TRACE(c.name);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>("targetlogin"));
        for (const char *argument : c.arguments)
            argv.push_back(const_cast<char *>(argument));

        static ConnectOptions options;
        resetConnectOptions(&options);
        CommandLineResult result =
            readCommandLine(static_cast<int>(argv.size()), argv.data(), &options);
        ASSERT_EQ(result, c.result);
        if (result != COMMAND_LINE_ACCEPTED)
            continue;

        ASSERT_EQ(options.portalCount, static_cast<int32_t>(c.portals.size()));
        for (size_t i = 0; i < MAX_COMMAND_LINE_PORTALS; i++) {
            const PortalArgument &portal = options.portals[i];
            if (i < c.portals.size()) {
                ASSERT_NE(portal.address, nullptr) << "entry " << i;
                EXPECT_EQ(std::u16string(portal.address), widen(c.portals[i].address))
                    << "entry " << i;
                EXPECT_EQ(std::u16string(portal.portText), widen(c.portals[i].portText))
                    << "entry " << i;
                EXPECT_EQ(portal.initiatorPort, c.portals[i].initiatorPort) << "entry " << i;
            } else {
                // Unused entries keep their initial values.
                EXPECT_EQ(portal.address, nullptr) << "entry " << i;
                EXPECT_EQ(std::u16string(portal.portText), u"3260") << "entry " << i;
                EXPECT_EQ(portal.initiatorPort, kAny) << "entry " << i;
            }
            EXPECT_EQ(portal.addStatus, 0u);
        }
        // The secret is the argument itself, neither widened nor copied.
        if (c.secretArgument < 0)
            EXPECT_EQ(options.chapSecret, nullptr);
        else
            EXPECT_EQ(options.chapSecret, argv[static_cast<size_t>(c.secretArgument) + 1]);
        EXPECT_EQ(options.loginAllPortals, c.loginAll);
        EXPECT_EQ(options.initiatorInstance, nullptr);
        EXPECT_FALSE(options.anyPortalAdded);
        EXPECT_FALSE(options.anyLoginSucceeded);
    }
}

}  // namespace
