// ovelin: the initiator node name of this host, or with "-v" the version of
// the initiator service, on one line of standard output.
#ifndef NODEQUERY_NODE_QUERY_H
#define NODEQUERY_NODE_QUERY_H

// The whole run: argc and argv as main receives them (argv[0] the program).
// Only argv[1] is looked at: exactly "-v" asks for the version, anything
// else (or nothing) for the node name.  Makes exactly one service call and
// prints its answer, or "Error getting information: " and the status text.
// Returns the exit code: 0 after a success, 1 after a failed call.
int runNodeQuery(int argc, char **argv);

#endif  // NODEQUERY_NODE_QUERY_H
