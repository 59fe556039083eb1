// The run of targetlogin from its entry to its exit code: start-up report,
// command line, portal registration, target list and one report per target.
#include <cstring>

#include "common/node_name.h"
#include "common/report_output.h"
#include "common/status_text.h"
#include "common/text_format.h"
#include "common/wide_text.h"
#include "targetlogin/targetlogin.h"

ConnectOptions connectOptions;

namespace {

const WCHAR16 kDefaultPortText[] = u"3260";

const size_t kNarrowNodeNameBytes = 1024;

bool isBlank(unsigned value)
{
    return value == ' ' || (value >= '\t' && value <= '\r');
}

// Base-10 string-to-long rules on a 32-bit long: blanks, a sign, digits up to
// the first other character, clamped to the signed 32-bit range.
template <typename Char>
int32_t readDecimal(const Char *text)
{
    size_t at = 0;
    while (isBlank(static_cast<unsigned>(text[at])))
        at++;
    bool negative = false;
    if (text[at] == '+' || text[at] == '-') {
        negative = text[at] == '-';
        at++;
    }
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    while (text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        if (value > limit)
            value = limit;  // keep reading, the result stays at the bound
        at++;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

// Widens argument byte for byte into out[ARGUMENT_TEXT_CHARS]; false when it
// has more than ARGUMENT_TEXT_CHARS - 1 bytes (out is then unspecified).
bool widenArgument(const char *argument, WCHAR16 *out)
{
    size_t length = strlen(argument);
    if (length >= ARGUMENT_TEXT_CHARS)
        return false;
    for (size_t i = 0; i <= length; i++)
        out[i] = static_cast<WCHAR16>(static_cast<unsigned char>(argument[i]));
    return true;
}

void printUsage(const char *programName)
{
    reportPrintf("\nusage: %s ipaddress [-p tcpPort] [-a] ... [-t targetCHAP] [-h host_iqn_name\n",
                 programName);
    reportPrintf("       tcpPort defaults to 3260\n");
}

typedef void (*ListTextVisitor)(void *context, const WCHAR16 *text, size_t length);

// Walks a multi-string in list[SERVICE_LIST_CHARS + 1] of which the service
// says it returned `returned` characters, calling visit for each text that
// begins below that count, up to the first empty one.  A text is taken whole,
// up to its terminator, even when the count ends inside it; it is bounded by
// the 4096 characters of the buffer (the extra slot takes the terminator of
// a text that runs to its end), never by the count.
void walkMultiString(WCHAR16 *list, ULONG returned, ListTextVisitor visit, void *context)
{
    size_t limit = returned < SERVICE_LIST_CHARS ? returned : SERVICE_LIST_CHARS;
    size_t position = 0;
    while (position < limit) {
        size_t length = wideLengthBounded(list + position, SERVICE_LIST_CHARS - position);
        if (length == 0)
            break;
        list[position + length] = 0;
        visit(context, list + position, length);
        position += length + 1;
    }
}

// Keeps a copy of an initiator instance that begins with "Root\\"; called in
// list order, so the last such instance wins.
void chooseRootInstance(void *context, const WCHAR16 *text, size_t length)
{
    static const WCHAR16 kPrefix[] = u"Root\\";
    if (length < 5 || memcmp(text, kPrefix, 5 * sizeof(WCHAR16)) != 0)
        return;
    ConnectOptions *options = static_cast<ConnectOptions *>(context);
    memcpy(options->initiatorInstanceStorage, text, length * sizeof(WCHAR16));
    options->initiatorInstanceStorage[length] = 0;
    options->initiatorInstance = options->initiatorInstanceStorage;
}

void reportOneTarget(void *, const WCHAR16 *targetName, size_t)
{
    reportTarget(targetName);  // its result changes nothing of the run
}

// The start-up report: version, node name, chosen initiator instance.
void reportInitiator(ConnectOptions *options)
{
    ISCSI_VERSION_INFO version = {0, 0, 0};
    if (GetIScsiVersionInformation(&version) == ISDSC_SUCCESS)
        reportPrintf("iSCSI Initiator version %d.%d Build %d\n\n",
                     static_cast<int>(version.MajorVersion), static_cast<int>(version.MinorVersion),
                     static_cast<int>(version.BuildNumber));

    WCHAR16 nodeName[NODE_NAME_CHARS];
    ISDSC_STATUS status = queryNodeName(nodeName);
    if (status != ISDSC_SUCCESS) {
        printFailure("Error getting node name: %ws\n", status);
        return;
    }
    reportPrintf("%ws\n", nodeName);

    static WCHAR16 list[SERVICE_LIST_CHARS + 1];
    memset(list, 0, sizeof list);
    ULONG size = SERVICE_LIST_CHARS;
    status = ReportIScsiInitiatorListW(&size, list);
    if (status != ISDSC_SUCCESS) {
        printFailure("Error getting initiator list: %ws\n", status);
        return;
    }
    walkMultiString(list, size, chooseRootInstance, options);
    reportPrintf("%ws\n", options->initiatorInstance);
}

// "Running on node" line of the usage path; nothing when the name is not had.
void reportRunningNode()
{
    WCHAR16 nodeName[NODE_NAME_CHARS];
    if (queryNodeName(nodeName) != ISDSC_SUCCESS)
        return;
    char narrow[kNarrowNodeNameBytes];
    size_t at = 0;
    for (; nodeName[at] != 0 && at + 1 < sizeof narrow; at++) {
        // One byte a character; a character that has no byte shows as '?'.
        WCHAR16 ch = nodeName[at];
        narrow[at] = ch <= 0xFF ? static_cast<char>(ch) : '?';
    }
    narrow[at] = 0;
    reportPrintf("Running on node %s\n", narrow);
}

// Registers every command-line portal; false when none could be added.
bool registerPortals(ConnectOptions *options)
{
    for (int32_t i = 0; i < options->portalCount; i++) {
        PortalArgument *portal = &options->portals[i];
        portal->addStatus =
            registerPortal(portal->address, portal->portText, portal->initiatorPort);
        if (portal->addStatus != ISDSC_SUCCESS) {
            WCHAR16 statusText[STATUS_TEXT_CHARS];
            reportPrintf("Error adding target portal %ws: %ws\n", portal->address,
                         formatStatus(statusText, STATUS_TEXT_CHARS, portal->addStatus));
        } else {
            options->anyPortalAdded = true;
        }
    }
    return options->anyPortalAdded;
}

// Asks for the target list once and reports on each target; false when the
// list could not be had.
bool reportTargets()
{
    static WCHAR16 list[SERVICE_LIST_CHARS + 1];
    memset(list, 0, sizeof list);
    ULONG size = SERVICE_LIST_CHARS;
    ISDSC_STATUS status = ReportIScsiTargetsW(1, &size, list);
    if (status != ISDSC_SUCCESS) {
        printFailure("Error getting target list: %ws\n", status);
        return false;
    }
    walkMultiString(list, size, reportOneTarget, nullptr);
    return true;
}

}  // namespace

void resetConnectOptions(ConnectOptions *options)
{
    memset(options, 0, sizeof *options);
    for (PortalArgument &portal : options->portals) {
        portal.address = nullptr;
        portal.portText = kDefaultPortText;
        portal.initiatorPort = ISCSI_ANY_INITIATOR_PORT;
        portal.addStatus = ISDSC_SUCCESS;
    }
    options->portalCount = 0;
    options->chapSecret = nullptr;
    options->loginAllPortals = false;
    options->initiatorInstance = nullptr;
    options->anyPortalAdded = false;
    options->anyLoginSucceeded = false;
}

CommandLineResult readCommandLine(int argc, char **argv, ConnectOptions *options)
{
    for (int at = 1; at < argc; at++) {
        const char *argument = argv[at];
        bool hasValue = at + 1 < argc;
        PortalArgument *latest =
            options->portalCount > 0 ? &options->portals[options->portalCount - 1] : nullptr;

        if (strcmp(argument, "-p") == 0) {
            // Before any address the switch is passed over, value or not.
            // After one, a missing value would leave the default port
            // standing for a portal the user meant to name otherwise.
            if (!hasValue)
                return latest != nullptr ? COMMAND_LINE_REFUSED : COMMAND_LINE_ACCEPTED;
            const char *value = argv[++at];
            if (latest != nullptr) {
                if (!widenArgument(value, latest->portTextStorage))
                    return COMMAND_LINE_REFUSED;
                latest->portText = latest->portTextStorage;
            }
        } else if (strcmp(argument, "-s") == 0) {
            if (!hasValue)
                return latest != nullptr ? COMMAND_LINE_REFUSED : COMMAND_LINE_ACCEPTED;
            const char *value = argv[++at];
            if (latest != nullptr)
                latest->initiatorPort = static_cast<ULONG>(readDecimal(value));
        } else if (strcmp(argument, "-t") == 0) {
            options->chapSecret = hasValue ? argv[++at] : nullptr;
        } else if (strcmp(argument, "-h") == 0) {
            if (!hasValue)
                break;
            at++;  // accepted, without effect
        } else if (strcmp(argument, "-a") == 0) {
            options->loginAllPortals = true;
        } else {
            if (options->portalCount >= MAX_COMMAND_LINE_PORTALS)
                return COMMAND_LINE_REFUSED;
            PortalArgument *portal = &options->portals[options->portalCount];
            // A cut address would register a portal that nobody named.
            if (!widenArgument(argument, portal->addressStorage))
                return COMMAND_LINE_REFUSED;
            portal->address = portal->addressStorage;
            options->portalCount++;
        }
    }
    return COMMAND_LINE_ACCEPTED;
}

int32_t parsePortText(const WCHAR16 *portText)
{
    if (wideLengthBounded(portText, 3) >= 3 && portText[0] == '0' &&
        (portText[1] == 'x' || portText[1] == 'X')) {
        uint32_t value = 0;
        for (const WCHAR16 *at = portText + 2; *at != 0; at++) {
            int digit = hexDigit(*at);
            if (digit < 0)
                return 0;
            value = value * 16u + static_cast<uint32_t>(digit);
        }
        return static_cast<int32_t>(value);
    }
    return readDecimal(portText);
}

int runTargetLogin(int argc, char **argv)
{
    resetConnectOptions(&connectOptions);
    emptyPortalTable();
    const char *programName = argc > 0 ? argv[0] : nullptr;

    reportInitiator(&connectOptions);

    if (argc < 2) {
        reportRunningNode();
        printUsage(programName);
        return EXIT_USAGE;
    }
    if (readCommandLine(argc, argv, &connectOptions) != COMMAND_LINE_ACCEPTED) {
        printUsage(programName);
        return EXIT_USAGE;
    }
    if (connectOptions.portalCount > 0) {
        if (!registerPortals(&connectOptions))
            return EXIT_FAILED;
        if (!reportTargets())
            return EXIT_FAILED;
    }
    if (connectOptions.anyLoginSucceeded)
        reportPrintf("Connection complete\n");
    return EXIT_DONE;
}
