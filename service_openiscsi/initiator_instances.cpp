#include "service_openiscsi/initiator_instances.h"

#include <cstdio>
#include <cstring>

#include "service_openiscsi/iscsiadm_lists.h"
#include "service_openiscsi/iscsiadm_run.h"
#include "service_openiscsi/openiscsi_status.h"
#include "service_support/text_conversion.h"

namespace {

const size_t kMaxIfaces = 256;

bool usableIfaceName(const char *name)
{
    size_t length = strlen(name);
    if (length == 0 || length >= OPENISCSI_IFACE_BYTES)
        return false;
    for (const char *c = name; *c != 0; c++) {
        bool plain =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (!plain && strchr("._:-", *c) == nullptr)
            return false;
    }
    return true;
}

}  // namespace

bool appendInstance(Answer *answer, const char *iface)
{
    char text[sizeof INSTANCE_PREFIX + OPENISCSI_IFACE_BYTES];
    snprintf(text, sizeof text, "%s%s", INSTANCE_PREFIX, iface);
    return appendWideText(answer, text);
}

ISDSC_STATUS buildInstanceList(Answer *answer)
{
    IscsiadmCommand command;
    buildIfaceList(&command);
    ChildResult run;
    ISDSC_STATUS status = runIscsiadm(command, 0, &run);
    static IfaceEntry entries[kMaxIfaces];
    ListSummary summary = {0, 0, false};
    if (status == ISDSC_SUCCESS)
        parseIfaceList(run.out.data, run.out.length, entries, kMaxIfaces, &summary);
    releaseRun(&run);
    if (status != ISDSC_SUCCESS)
        return status;
    bool ok = true;
    for (size_t i = 0; i < summary.count && ok; i++)
        if (strcmp(entries[i].name, DEFAULT_IFACE) != 0 && usableIfaceName(entries[i].name))
            ok = appendInstance(answer, entries[i].name);
    // iscsiadm always has its default iface, whether it lists it or not.
    ok = ok && appendInstance(answer, DEFAULT_IFACE) && appendWideText(answer, "");
    return ok ? ISDSC_SUCCESS : ISDSC_ERROR_NOT_ENOUGH_MEMORY;
}

ISDSC_STATUS ifaceOfInstance(const WCHAR16 *instance, char *iface, size_t room)
{
    iface[0] = 0;
    if (instance == nullptr)
        return ISDSC_SUCCESS;
    char text[MAX_ISCSI_PORTAL_ADDRESS_LEN * 3];
    if (!convertWideToUtf8(instance, MAX_ISCSI_PORTAL_ADDRESS_LEN, text, sizeof text))
        return ISDSC_ERROR_INVALID_PARAMETER;
    size_t prefix = strlen(INSTANCE_PREFIX);
    if (strncmp(text, INSTANCE_PREFIX, prefix) != 0 || !usableIfaceName(text + prefix) ||
        strlen(text + prefix) >= room)
        return OPENISCSI_INSTANCE_NOT_FOUND;
    strcpy(iface, text + prefix);
    return ISDSC_SUCCESS;
}
