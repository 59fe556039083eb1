// The stand-in's scripted answers: what a scenario file says, parsed.
//
// Internal to the stand-in.  One process-wide Scenario holds every scripted
// answer in file order; each operation takes the first answer of its own that
// is not used up yet.
#ifndef SERVICE_STANDIN_SCENARIO_H
#define SERVICE_STANDIN_SCENARIO_H

#include <cstddef>

#include "common/iscsi_service.h"

enum StandinOperation {
    OP_VERSION,
    OP_NODE_NAME,
    OP_INITIATOR_LIST,
    OP_ADD_PORTAL,
    OP_REMOVE_PORTAL,
    OP_TARGET_LIST,
    OP_TARGET_INFO,
    OP_LOGIN,
    OP_REMOVE_PERSISTENT,
    OP_COUNT
};

// The status of every call that no answer scripts, unless "default" says
// otherwise: the RPC server is unavailable, as from a host whose service is
// not running.
#define STANDIN_DEFAULT_STATUS 1722u

#define STANDIN_MAX_ANSWERS 2048
#define STANDIN_MAX_POINTERS 512

// Where a login-options pointer written into the caller's buffer points.
enum PointerTarget {
    POINTER_INSIDE,  // at `target` bytes into the data, as copied for the caller
    POINTER_OUTSIDE  // at bytes of the stand-in's own, outside the returned data
};

// A pointer field inside an answer's data, set when the data is copied.
struct PointerFixup {
    size_t at;      // offset of the pointer field in the data
    size_t target;  // POINTER_INSIDE: offset in the data it points to
    PointerTarget kind;
};

struct ScriptedAnswer {
    StandinOperation operation;
    ULONG status;
    int line;  // line of the scenario that scripted it
    bool used;
    size_t dataStart;  // bytes in Scenario::pool
    size_t dataLength;
    bool hasNeed;  // need=: size answered with 122
    ULONG need;
    bool hasSize;  // size=: size answered with success
    ULONG size;
    bool once;           // a target-information answer for one call only
    unsigned char fill;  // fills the caller's room after the data
    ISCSI_UNIQUE_SESSION_ID session;
    ISCSI_UNIQUE_CONNECTION_ID connection;
    size_t fixupStart;  // in Scenario::fixups
    size_t fixupCount;
};

struct Scenario {
    ScriptedAnswer answers[STANDIN_MAX_ANSWERS];
    size_t answerCount;
    PointerFixup fixups[STANDIN_MAX_POINTERS];
    size_t fixupCount;
    ULONG defaultStatus[OP_COUNT];
    unsigned char *pool;  // malloc'd, grows; data of all answers
    size_t poolLength;
    size_t poolRoom;
};

// The platform name of an operation, as in scenarios and the call log.
const char *operationName(StandinOperation operation);

// Empties `scenario` (keeping its pool allocation) and sets every default
// status to STANDIN_DEFAULT_STATUS.
void clearScenario(Scenario *scenario);

// Parses a scenario text into `scenario` (cleared first).  Returns true on
// success; otherwise writes "line N: what" into error[room] (terminated when
// room > 0) and leaves `scenario` cleared.
bool parseScenario(const char *text, Scenario *scenario, char *error, size_t room);

// The data bytes of an answer.
const unsigned char *answerData(const Scenario *scenario, const ScriptedAnswer *answer);

#endif  // SERVICE_STANDIN_SCENARIO_H
