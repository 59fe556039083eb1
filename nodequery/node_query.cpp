#include "nodequery/node_query.h"

#include <cstring>

#include "common/iscsi_service.h"
#include "common/report_output.h"
#include "common/status_text.h"

int runNodeQuery(int argc, char **argv)
{
    ISDSC_STATUS status;
    if (argc > 1 && strcmp(argv[1], "-v") == 0) {
        ISCSI_VERSION_INFO version = {0, 0, 0};
        status = GetIScsiVersionInformation(&version);
        if (status == ISDSC_SUCCESS)
            reportPrintf("%d.%d.%d\n", static_cast<int>(version.MajorVersion),
                         static_cast<int>(version.MinorVersion),
                         static_cast<int>(version.BuildNumber));
    } else {
        WCHAR16 nodeName[MAX_ISCSI_NAME_LEN + 1];
        status = GetIScsiInitiatorNodeNameW(nodeName);
        if (status == ISDSC_SUCCESS) {
            // A service that fills the whole buffer leaves no terminator: print
            // no further than the buffer.
            nodeName[MAX_ISCSI_NAME_LEN] = 0;
            reportPrintf("%ws\n", nodeName);
        }
    }
    if (status != ISDSC_SUCCESS) {
        WCHAR16 statusText[STATUS_TEXT_CHARS];
        reportPrintf("Error getting information: %ws\n",
                     formatStatus(statusText, STATUS_TEXT_CHARS, status));
        return 1;
    }
    return 0;
}
