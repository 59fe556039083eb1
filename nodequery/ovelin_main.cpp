// ovelin: prints the initiator node name, or with "-v" the service version.
#include "nodequery/node_query.h"

int main(int argc, char **argv)
{
    return runNodeQuery(argc, argv);
}
