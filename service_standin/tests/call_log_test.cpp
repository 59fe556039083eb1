// The call log: every argument of every call, in the documented form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/iscsi_service.h"
#include "service_standin/standin_control.h"

namespace {

ISCSI_TARGET_PORTALW portalOf(const char16_t *address, USHORT socket)
{
    ISCSI_TARGET_PORTALW portal;
    memset(&portal, 0, sizeof portal);
    for (size_t i = 0; address[i] != 0; i++)
        portal.Address[i] = address[i];
    portal.Socket = socket;
    return portal;
}

void load(const char *scenario)
{
    char error[256];
    ASSERT_TRUE(standinLoadScenario(scenario, error, sizeof error)) << error;
}

TEST(StandinCallLog, RegistrationAndRemoval)
{
    load("AddIScsiSendTargetPortalW 0xEFFF0100\n");
    WCHAR16 instance[] = u"Root\\ISCSIPRT\\0000_0";
    ISCSI_TARGET_PORTALW portal = portalOf(u"192.0.2.1", 3260);
    ISCSI_LOGIN_OPTIONS options;
    memset(&options, 0, sizeof options);
    options.InformationSpecified = 0xE0;
    options.LoginFlags = 2;
    options.AuthType = ISCSI_CHAP_AUTH_TYPE;
    char secret[] = "se\"cr\x01t";
    options.Password = reinterpret_cast<UCHAR *>(secret);
    options.PasswordLength = 7;
    EXPECT_EQ(0xEFFF0100u, AddIScsiSendTargetPortalW(instance, 0xFFFFFFFF, &options, 0, &portal));
    EXPECT_EQ(1722u, RemoveIScsiSendTargetPortalW(nullptr, 5, &portal));
    EXPECT_STREQ(
        "AddIScsiSendTargetPortalW instance=\"Root\\ISCSIPRT\\0000_0\" port=0xffffffff "
        "options=(version=0 info=0xe0 flags=0x2 auth=1 header=0 data=0 maxconn=0 wait=0 "
        "retain=0 userlen=0 username=(none) passlen=7 password=\"se\\x{22}cr\\x{01}t\") "
        "security=0x0 portal=(symbolic=\"\" address=\"192.0.2.1\" socket=3260) -> 0xefff0100\n"
        "RemoveIScsiSendTargetPortalW instance=(none) port=0x5 "
        "portal=(symbolic=\"\" address=\"192.0.2.1\" socket=3260) -> 1722\n",
        standinCallLog());
}

TEST(StandinCallLog, PortalFieldsShowWhatIsBeyondTheText)
{
    standinReset();
    ISCSI_TARGET_PORTALW portal = portalOf(u"a\u00e9", 1);
    portal.Address[10] = u'x';  // after the terminator
    for (size_t i = 0; i < MAX_ISCSI_PORTAL_NAME_LEN; i++)
        portal.SymbolicName[i] = u's';
    RemoveIScsiSendTargetPortalW(nullptr, 0, &portal);
    std::string expected =
        "RemoveIScsiSendTargetPortalW instance=(none) port=0x0 portal=(symbolic=\"" +
        std::string(256, 's') + "\"+unterminated address=\"a\\u{00e9}\"+tail socket=1) -> 1722\n";
    EXPECT_EQ(expected, standinCallLog());
}

TEST(StandinCallLog, SizedQueriesAndLogins)
{
    load("GetIScsiTargetInformationW 0 u32 0\n"
         "LoginIScsiTargetW 0 session=1,2 connection=3,4\n");
    WCHAR16 target[] = u"iqn.t";
    WCHAR16 mechanism[] = u"SendTargets:*x";
    ULONG size = 0;
    GetIScsiTargetInformationW(target, nullptr, ProtocolType, &size, nullptr);
    unsigned char data[4];
    GetIScsiTargetInformationW(target, mechanism, ProtocolType, &size, data);
    GetIScsiTargetInformationW(target, mechanism, PersistentTargetMappings, nullptr, nullptr);

    ISCSI_TARGET_PORTALW portal = portalOf(u"192.0.2.1", 3260);
    ISCSI_LOGIN_OPTIONS options;
    memset(&options, 0, sizeof options);
    options.InformationSpecified = 0xE0;
    options.LoginFlags = 2;
    options.AuthType = ISCSI_CHAP_AUTH_TYPE;
    unsigned char user[] = "iqn.t";
    options.Username = user;
    options.UsernameLength = 5;
    options.Password = user;
    options.PasswordLength = 0;
    ISCSI_UNIQUE_SESSION_ID session;
    ISCSI_UNIQUE_CONNECTION_ID connection;
    LoginIScsiTargetW(target, 0, nullptr, 0xFFFFFFFF, &portal, 0, nullptr, &options, 0, nullptr, 1,
                      &session, &connection);
    RemoveIScsiPersistentTargetW(nullptr, 0xFFFFFFFF, target, &portal);

    EXPECT_STREQ(
        "GetIScsiTargetInformationW target=\"iqn.t\" mechanism=(none) class=ProtocolType size=0 "
        "buffer=(none) -> 122 size=4\n"
        "GetIScsiTargetInformationW target=\"iqn.t\" mechanism=\"SendTargets:*x\" "
        "class=ProtocolType size=4 buffer=out -> 0 size=4\n"
        "GetIScsiTargetInformationW target=\"iqn.t\" mechanism=\"SendTargets:*x\" "
        "class=PersistentTargetMappings "
        "size=(none) buffer=(none) -> 87\n"
        "LoginIScsiTargetW target=\"iqn.t\" informational=0 instance=(none) port=0xffffffff "
        "portal=(symbolic=\"\" address=\"192.0.2.1\" socket=3260) security=0x0 mappings=(none) "
        "options=(version=0 info=0xe0 flags=0x2 auth=1 header=0 data=0 maxconn=0 wait=0 "
        "retain=0 userlen=5 username=\"iqn.t\" passlen=0 password=\"\") keysize=0 key=(none) "
        "persistent=1 session=out connection=out -> 0\n"
        "RemoveIScsiPersistentTargetW instance=(none) port=0xffffffff target=\"iqn.t\" "
        "portal=(symbolic=\"\" address=\"192.0.2.1\" socket=3260) -> 1722\n",
        standinCallLog());
}

TEST(StandinCallLog, ResetEmptiesTheLog)
{
    standinReset();
    ISCSI_VERSION_INFO version;
    GetIScsiVersionInformation(&version);
    GetIScsiVersionInformation(nullptr);
    EXPECT_STREQ("GetIScsiVersionInformation info=out -> 1722\n"
                 "GetIScsiVersionInformation info=(none) -> 87\n",
                 standinCallLog());
    standinReset();
    EXPECT_STREQ("", standinCallLog());
}

}  // namespace
