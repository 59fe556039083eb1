#include "service_dispatch/service_choice.h"

#include <cstdlib>
#include <cstring>

#include "common/message_lookup.h"
#include "service_dispatch/dispatch_testing.h"

namespace {

const MessageTableEntry kDispatchMessages[] = {
    {DISPATCH_UNKNOWN_SERVICE,
     "The variable ISCSI_TOOLS_SERVICE names no initiator service of this build.\r\n"},
};

ServiceChoice gChoice = {nullptr, 0};
bool gChosen = false;

}  // namespace

ServiceChoice chooseService(const IscsiServiceTable *const *tables, size_t count, const char *named)
{
    ServiceChoice choice = {nullptr, DISPATCH_UNKNOWN_SERVICE};
    if (named != nullptr && named[0] != 0) {
        for (size_t i = 0; i < count && choice.table == nullptr; i++)
            if (strcmp(tables[i]->name, named) == 0)
                choice = {tables[i], tables[i]->availability()};
        return choice;
    }
    for (size_t i = 0; i < count; i++) {
        ISDSC_STATUS refusal = tables[i]->availability();
        // The last service answers even when it cannot work, with its reason.
        if (refusal == ISDSC_SUCCESS || i + 1 == count)
            return {tables[i], refusal};
    }
    return choice;
}

const ServiceChoice &processServiceChoice()
{
    if (!gChosen) {
        gChoice =
            chooseService(kServiceRegistry, kServiceRegistryCount, getenv(SERVICE_CHOICE_VARIABLE));
        gChosen = true;
    }
    return gChoice;
}

ULONG lookupDispatchMessage(ULONG code, WCHAR16 *buffer, ULONG room)
{
    return lookupMessageTable(kDispatchMessages,
                              sizeof kDispatchMessages / sizeof kDispatchMessages[0], code, buffer,
                              room);
}

// For tests (dispatch_testing.h).
void setProcessServiceChoice(const ServiceChoice &choice)
{
    gChoice = choice;
    gChosen = true;
}
