#include "common/node_name.h"

ISDSC_STATUS queryNodeName(WCHAR16 (&nodeName)[NODE_NAME_CHARS])
{
    ISDSC_STATUS status = GetIScsiInitiatorNodeNameW(nodeName);
    if (status == ISDSC_SUCCESS)
        nodeName[MAX_ISCSI_NAME_LEN] = 0;
    return status;
}
