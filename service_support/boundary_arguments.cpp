#include "service_support/boundary_arguments.h"

#include <cstring>

#include "service_support/text_conversion.h"

ISDSC_STATUS readTargetNameArgument(const WCHAR16 *name, char *out, size_t room)
{
    if (name == nullptr || !convertWideToUtf8(name, MAX_ISCSI_NAME_LEN + 1, out, room) ||
        out[0] == 0)
        return ISDSC_ERROR_INVALID_PARAMETER;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS readPortalArgument(const ISCSI_TARGET_PORTALW *portal, PortalEndpoint *endpoint)
{
    memset(endpoint, 0, sizeof *endpoint);
    if (portal == nullptr || portal->Socket == 0 ||
        !convertWideToUtf8(portal->Address, MAX_ISCSI_PORTAL_ADDRESS_LEN, endpoint->address,
                           sizeof endpoint->address) ||
        endpoint->address[0] == 0)
        return ISDSC_ERROR_INVALID_PARAMETER;
    endpoint->port = portal->Socket;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS readTargetQuery(const WCHAR16 *target, const WCHAR16 *mechanism,
                             TARGET_INFORMATION_CLASS infoClass, const ULONG *bufferSize,
                             TargetQuery *query)
{
    memset(query, 0, sizeof *query);
    if (bufferSize == nullptr || infoClass < ProtocolType || infoClass > LoginOptions)
        return ISDSC_ERROR_INVALID_PARAMETER;
    ISDSC_STATUS status = readTargetNameArgument(target, query->target, sizeof query->target);
    if (status != ISDSC_SUCCESS)
        return status;
    query->hasMechanism = mechanism != nullptr;
    if (query->hasMechanism && !convertWideToUtf8(mechanism, sizeof query->mechanism / 3,
                                                  query->mechanism, sizeof query->mechanism))
        return ISDSC_ERROR_INVALID_PARAMETER;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS deliverList(const Answer &list, ULONG *bufferSize, WCHAR16 *buffer)
{
    ULONG needed = list.size / ULONG{sizeof(WCHAR16)};
    ISDSC_STATUS status = ISDSC_SUCCESS;
    if (buffer == nullptr || *bufferSize < needed)
        status = ISDSC_ERROR_INSUFFICIENT_BUFFER;
    else
        memcpy(buffer, list.bytes, list.size);
    *bufferSize = needed;
    return status;
}

ISDSC_STATUS deliverTargetInformation(TARGET_INFORMATION_CLASS infoClass, const Answer &answer,
                                      ULONG *bufferSize, void *buffer)
{
    if (answer.size == 0) {
        *bufferSize = 0;
        return ISDSC_SUCCESS;
    }
    return infoClass == LoginOptions ? deliverLoginOptions(answer, bufferSize, buffer)
                                     : deliverAnswer(answer, bufferSize, buffer);
}
