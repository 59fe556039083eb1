#include "nodequery/node_query.h"

#include <cstring>

#include "common/iscsi_service.h"
#include "common/node_name.h"
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
        WCHAR16 nodeName[NODE_NAME_CHARS];
        status = queryNodeName(nodeName);
        if (status == ISDSC_SUCCESS)
            reportPrintf("%ws\n", nodeName);
    }
    if (status != ISDSC_SUCCESS) {
        printFailure("Error getting information: %ws\n", status);
        return 1;
    }
    return 0;
}
