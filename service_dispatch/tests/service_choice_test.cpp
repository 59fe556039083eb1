// The choice of a service and the forwarding of every operation to it, over
// recording tables of our own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/iscsi_service.h"
#include "common/status_text.h"
#include "service_dispatch/dispatch_testing.h"
#include "service_dispatch/service_choice.h"

namespace {

// Each fake service answers availability with its own status and counts
// the questions.
ISDSC_STATUS gAvailability[3];
int gAvailabilityAsked[3];
std::vector<std::string> gCalls;

template <int N>
ISDSC_STATUS availabilityOf()
{
    gAvailabilityAsked[N]++;
    return gAvailability[N];
}

ISDSC_STATUS version(ISCSI_VERSION_INFO *info)
{
    gCalls.push_back("version");
    info->MajorVersion = 7;
    return 0;
}
ISDSC_STATUS nodeName(WCHAR16 *name)
{
    gCalls.push_back("node name");
    name[0] = u'n';
    name[1] = 0;
    return 0;
}
ISDSC_STATUS initiators(ULONG *size, WCHAR16 *)
{
    gCalls.push_back("initiators " + std::to_string(*size));
    return 11;
}
ISDSC_STATUS addPortal(WCHAR16 *instance, ULONG port, ISCSI_LOGIN_OPTIONS *options,
                       ISCSI_SECURITY_FLAGS flags, ISCSI_TARGET_PORTALW *portal)
{
    gCalls.push_back("add " + std::to_string(instance != nullptr) + " " + std::to_string(port) +
                     " " + std::to_string(options != nullptr) + " " + std::to_string(flags) + " " +
                     std::to_string(portal->Socket));
    return 12;
}
ISDSC_STATUS removePortal(WCHAR16 *, ULONG port, ISCSI_TARGET_PORTALW *portal)
{
    gCalls.push_back("remove portal " + std::to_string(port) + " " +
                     std::to_string(portal->Socket));
    return 13;
}
ISDSC_STATUS targets(BOOLEAN force, ULONG *size, WCHAR16 *)
{
    gCalls.push_back("targets " + std::to_string(force) + " " + std::to_string(*size));
    return 14;
}
ISDSC_STATUS information(WCHAR16 *target, WCHAR16 *mechanism, TARGET_INFORMATION_CLASS infoClass,
                         ULONG *size, PVOID buffer)
{
    gCalls.push_back("information " + std::string(1, static_cast<char>(target[0])) + " " +
                     std::to_string(mechanism != nullptr) + " " + std::to_string(infoClass) + " " +
                     std::to_string(*size) + " " + std::to_string(buffer != nullptr));
    return 15;
}
ISDSC_STATUS login(WCHAR16 *, BOOLEAN informational, WCHAR16 *, ULONG port, ISCSI_TARGET_PORTALW *,
                   ISCSI_SECURITY_FLAGS flags, ISCSI_TARGET_MAPPINGW *, ISCSI_LOGIN_OPTIONS *,
                   ULONG keySize, CHAR *, BOOLEAN persistent, ISCSI_UNIQUE_SESSION_ID *session,
                   ISCSI_UNIQUE_CONNECTION_ID *connection)
{
    gCalls.push_back("login " + std::to_string(informational) + " " + std::to_string(port) + " " +
                     std::to_string(flags) + " " + std::to_string(keySize) + " " +
                     std::to_string(persistent) + " " +
                     std::to_string(session != nullptr && connection != nullptr));
    return 16;
}
ISDSC_STATUS removeLogin(WCHAR16 *, ULONG port, WCHAR16 *target, ISCSI_TARGET_PORTALW *)
{
    gCalls.push_back("remove login " + std::to_string(port) + " " +
                     std::string(1, static_cast<char>(target[0])));
    return 17;
}
ULONG messages(ULONG code, ULONG, WCHAR16 *buffer, ULONG room)
{
    if (code != 0xEFFF0999u || room < 3)
        return 0;
    buffer[0] = u'o';
    buffer[1] = u'k';
    buffer[2] = 0;
    return 2;
}

const IscsiServiceTable kFirst = {"first",     availabilityOf<0>, version, nodeName,    initiators,
                                  addPortal,   removePortal,      targets, information, login,
                                  removeLogin, messages};
const IscsiServiceTable kSecond = {"second",    availabilityOf<1>, version, nodeName,    initiators,
                                   addPortal,   removePortal,      targets, information, login,
                                   removeLogin, messages};
const IscsiServiceTable kLast = {"last",      availabilityOf<2>, version, nodeName,    initiators,
                                 addPortal,   removePortal,      targets, information, login,
                                 removeLogin, messages};
const IscsiServiceTable *const kTables[] = {&kFirst, &kSecond, &kLast};

struct ChoiceCase {
    const char *what;
    ISDSC_STATUS availability[3];
    const char *named;
    const IscsiServiceTable *chosen;
    ISDSC_STATUS refusal;
    int asked[3];  // availability questions per table
};

TEST(ServiceChoice, ByNameOrTheFirstThatCanWork)
{
    const ChoiceCase cases[] = {
        {"all can work: the first", {0, 0, 0}, nullptr, &kFirst, 0, {1, 0, 0}},
        {"an empty name is no name", {0, 0, 0}, "", &kFirst, 0, {1, 0, 0}},
        {"the first cannot: the next", {0xEFFF0901u, 0, 0}, nullptr, &kSecond, 0, {1, 1, 0}},
        {"none can: the last, with its reason",
         {0xEFFF0901u, 0xEFFF0902u, 0xEFFF0903u},
         nullptr,
         &kLast,
         0xEFFF0903u,
         {1, 1, 1}},
        {"named and able", {0, 0, 0}, "second", &kSecond, 0, {0, 1, 0}},
        {"named but unable: its reason, no other service",
         {0, 0xEFFF0902u, 0},
         "second",
         &kSecond,
         0xEFFF0902u,
         {0, 1, 0}},
        {"a name no service has",
         {0, 0, 0},
         "Second",
         nullptr,
         DISPATCH_UNKNOWN_SERVICE,
         {0, 0, 0}},
    };
    for (const ChoiceCase &c : cases) {
        SCOPED_TRACE(c.what);
        memcpy(gAvailability, c.availability, sizeof gAvailability);
        memset(gAvailabilityAsked, 0, sizeof gAvailabilityAsked);
        ServiceChoice choice = chooseService(kTables, 3, c.named);
        EXPECT_EQ(choice.table, c.chosen);
        EXPECT_EQ(choice.refusal, c.refusal);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(gAvailabilityAsked[i], c.asked[i]) << "table " << i;
    }
}

TEST(ServiceChoice, TheBuildsRegistryHoldsNamedServices)
{
    ASSERT_GT(kServiceRegistryCount, 0u);
    for (size_t i = 0; i < kServiceRegistryCount; i++) {
        ASSERT_NE(kServiceRegistry[i], nullptr);
        EXPECT_GT(strlen(kServiceRegistry[i]->name), 0u);
        for (size_t j = 0; j < i; j++)
            EXPECT_STRNE(kServiceRegistry[i]->name, kServiceRegistry[j]->name);
    }
}

std::string narrow(const WCHAR16 *text)
{
    std::string out;
    for (; *text != 0; text++)
        out.push_back(static_cast<char>(*text));
    return out;
}

TEST(Dispatch, EveryOperationReachesTheChosenServiceWithItsArguments)
{
    setProcessServiceChoice({&kSecond, 0});
    gCalls.clear();
    ISCSI_VERSION_INFO info = {0, 0, 0};
    EXPECT_EQ(GetIScsiVersionInformation(&info), 0u);
    EXPECT_EQ(info.MajorVersion, 7u);
    WCHAR16 name[MAX_ISCSI_NAME_LEN + 1];
    EXPECT_EQ(GetIScsiInitiatorNodeNameW(name), 0u);
    EXPECT_EQ(narrow(name), "n");
    WCHAR16 list[4096];
    ULONG size = 4096;
    EXPECT_EQ(ReportIScsiInitiatorListW(&size, list), 11u);
    ISCSI_TARGET_PORTALW portal;
    memset(&portal, 0, sizeof portal);
    portal.Socket = 3260;
    WCHAR16 instance[] = u"Root\\x";
    ISCSI_LOGIN_OPTIONS options;
    memset(&options, 0, sizeof options);
    EXPECT_EQ(AddIScsiSendTargetPortalW(instance, 5, &options, 9, &portal), 12u);
    EXPECT_EQ(RemoveIScsiSendTargetPortalW(instance, 6, &portal), 13u);
    EXPECT_EQ(ReportIScsiTargetsW(1, &size, list), 14u);
    WCHAR16 target[] = u"t";
    ULONG bytes = 0;
    EXPECT_EQ(GetIScsiTargetInformationW(target, nullptr, PortalGroups, &bytes, nullptr), 15u);
    ISCSI_UNIQUE_SESSION_ID session;
    ISCSI_UNIQUE_CONNECTION_ID connection;
    EXPECT_EQ(LoginIScsiTargetW(target, 0, instance, 4, &portal, 0, nullptr, &options, 0, nullptr,
                                1, &session, &connection),
              16u);
    EXPECT_EQ(RemoveIScsiPersistentTargetW(instance, 8, target, &portal), 17u);
    const std::vector<std::string> expected = {
        "version",
        "node name",
        "initiators 4096",
        "add 1 5 1 9 3260",
        "remove portal 6 3260",
        "targets 1 4096",
        "information t 0 3 0 0",
        "login 0 4 0 0 1 1",
        "remove login 8 t",
    };
    EXPECT_EQ(gCalls, expected);
}

TEST(Dispatch, AServiceThatCannotWorkAnswersEveryOperationWithItsReason)
{
    setProcessServiceChoice({&kLast, 0xEFFF0999u});
    gCalls.clear();
    ISCSI_VERSION_INFO info;
    EXPECT_EQ(GetIScsiVersionInformation(&info), 0xEFFF0999u);
    WCHAR16 name[MAX_ISCSI_NAME_LEN + 1];
    EXPECT_EQ(GetIScsiInitiatorNodeNameW(name), 0xEFFF0999u);
    ULONG size = 4096;
    WCHAR16 list[4096];
    EXPECT_EQ(ReportIScsiTargetsW(1, &size, list), 0xEFFF0999u);
    EXPECT_TRUE(gCalls.empty());
    // The reason's text comes from the service that cannot work.
    WCHAR16 text[STATUS_TEXT_CHARS];
    EXPECT_EQ(narrow(formatStatus(text, STATUS_TEXT_CHARS, 0xEFFF0999u)), "ok");
}

TEST(Dispatch, ANameNoServiceHasFailsWithTheDispatchersOwnText)
{
    setProcessServiceChoice({nullptr, DISPATCH_UNKNOWN_SERVICE});
    ISCSI_VERSION_INFO info;
    EXPECT_EQ(GetIScsiVersionInformation(&info), DISPATCH_UNKNOWN_SERVICE);
    WCHAR16 text[STATUS_TEXT_CHARS];
    EXPECT_EQ(narrow(formatStatus(text, STATUS_TEXT_CHARS, DISPATCH_UNKNOWN_SERVICE)),
              "The variable ISCSI_TOOLS_SERVICE names no initiator service of this build. ");
    EXPECT_EQ(narrow(formatStatus(text, STATUS_TEXT_CHARS, 0xEFFF0999u)), "Status: 0xefff0999");
}

}  // namespace
