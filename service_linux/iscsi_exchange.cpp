#include "service_linux/iscsi_exchange.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iscsi/iscsi.h>

#include "service_linux/failure_mapping.h"
#include "service_linux/monotonic_clock.h"
#include "service_linux/service_status.h"
#include "service_linux/service_testing.h"

namespace {

// The logout after a discovery and the logouts at exit are courtesies: they
// never hold the caller longer than this.
const int kLogoutLimitMs = 2000;

// What libiscsi's callbacks report on one context.  Lives on the heap until
// the context is destroyed, since libiscsi may call back at any service call.
struct ContextState {
    bool connectDone;
    int connectStatus;
    bool loginDone;
    int loginStatus;
    bool textDone;
    int textStatus;
    bool logoutDone;
    DiscoveryList *discovery;
    const PortalEndpoint *discoveryPortal;
    bool discoveryFailed;
};

struct OpenSession {
    iscsi_context *context;
    ContextState *state;
    pid_t owner;   // a forked child inherits the table, not the sessions
};

OpenSession *gSessions = nullptr;
size_t gSessionCount = 0;
size_t gSessionCapacity = 0;
bool gExitHandlerRegistered = false;
ULONG gNextQualifier = 1;

long long realtimeNs()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000ll + now.tv_nsec;
}

ISDSC_STATUS failureStatus(ExchangeStep step, FailureKind kind, int code, const char *text)
{
    ExchangeFailure failure = {step, kind, code, text};
    return statusForExchangeFailure(failure);
}

// The numeric "address:port" texts that libiscsi connects to, in the order
// to try them.
#define MAX_ENDPOINTS 4
struct ResolvedEndpoints {
    char text[MAX_ENDPOINTS][PORTAL_ADDRESS_BYTES + 16];
    int count;
};

struct LookupRequest {
    char name[PORTAL_ADDRESS_BYTES];
    struct addrinfo hints;
    struct gaicb request;
};

// Takes up to MAX_ENDPOINTS addresses of a lookup's answer, in its order.
ISDSC_STATUS numericEndpoints(const struct addrinfo *found, USHORT port, ResolvedEndpoints *out)
{
    out->count = 0;
    int result = 0;
    for (const struct addrinfo *at = found; at != nullptr && out->count < MAX_ENDPOINTS;
         at = at->ai_next) {
        char host[NI_MAXHOST];
        result = getnameinfo(at->ai_addr, at->ai_addrlen, host, sizeof host, nullptr, 0,
                             NI_NUMERICHOST);
        if (result == 0 && formatEndpoint(host, port, out->text[out->count],
                                          sizeof out->text[out->count]))
            out->count++;
    }
    if (out->count > 0)
        return ISDSC_SUCCESS;
    return result != 0 ? failureStatus(STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, result, nullptr)
                       : ISDSC_ERROR_INVALID_PARAMETER;
}

// Turns the portal's address into the numeric endpoints to connect to.  A
// numeric address needs no lookup; a name is looked up asynchronously under
// the step's deadline.
ISDSC_STATUS resolvePortal(const PortalEndpoint &portal, ResolvedEndpoints *out)
{
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    // "[address]" as a user may write an IPv6 address.
    char name[PORTAL_ADDRESS_BYTES];
    size_t length = strlen(portal.address);
    if (length >= 2 && portal.address[0] == '[' && portal.address[length - 1] == ']') {
        memcpy(name, portal.address + 1, length - 2);
        name[length - 2] = 0;
    } else {
        memcpy(name, portal.address, length + 1);
    }
    struct addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) == 0) {
        ISDSC_STATUS status = numericEndpoints(found, portal.port, out);
        freeaddrinfo(found);
        return status;
    }

    LookupRequest *lookup = static_cast<LookupRequest *>(calloc(1, sizeof(LookupRequest)));
    if (lookup == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    memcpy(lookup->name, name, sizeof lookup->name);
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->hints.ai_flags = AI_ADDRCONFIG;
    lookup->request.ar_name = lookup->name;
    lookup->request.ar_request = &lookup->hints;
    struct gaicb *list[1] = {&lookup->request};
    int result = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
    if (result != 0) {
        free(lookup);
        return failureStatus(STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, result, nullptr);
    }
    long long deadline = monotonicMs() + stepTimeoutMs();
    for (;;) {
        result = gai_error(&lookup->request);
        long long left = deadline - monotonicMs();
        if (result != EAI_INPROGRESS || left <= 0)
            break;
        struct timespec wait = {static_cast<time_t>(left / 1000),
                                static_cast<long>((left % 1000) * 1000000)};
        gai_suspend(list, 1, &wait);
    }
    if (result == EAI_INPROGRESS) {
        int cancelled = gai_cancel(&lookup->request);
        if (cancelled == EAI_NOTCANCELED)
            return SERVICE_NAME_LOOKUP_TIMEOUT;  // the resolver still owns lookup
        result = gai_error(&lookup->request);
        if (result == 0)
            freeaddrinfo(lookup->request.ar_result);
        free(lookup);
        return SERVICE_NAME_LOOKUP_TIMEOUT;
    }
    ISDSC_STATUS status;
    if (result == 0) {
        status = numericEndpoints(lookup->request.ar_result, portal.port, out);
        freeaddrinfo(lookup->request.ar_result);
    } else {
        status = failureStatus(STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, result, nullptr);
    }
    free(lookup);
    return status;
}

void connectFinished(iscsi_context *, int status, void *, void *privateData)
{
    ContextState *state = static_cast<ContextState *>(privateData);
    if (!state->connectDone) {
        state->connectDone = true;
        state->connectStatus = status;
    }
}

void loginFinished(iscsi_context *, int status, void *, void *privateData)
{
    ContextState *state = static_cast<ContextState *>(privateData);
    state->loginDone = true;
    state->loginStatus = status;
}

void logoutFinished(iscsi_context *, int, void *, void *privateData)
{
    static_cast<ContextState *>(privateData)->logoutDone = true;
}

// libiscsi hands its lists over newest first; these give them back in the
// order the target sent them.  Returns a heap array of count entries (null
// when count is 0 or no memory is left).
struct iscsi_discovery_address **targetsInAnswerOrder(struct iscsi_discovery_address *first,
                                                     size_t *count)
{
    *count = 0;
    for (struct iscsi_discovery_address *at = first; at != nullptr; at = at->next)
        (*count)++;
    if (*count == 0)
        return nullptr;
    auto **ordered = static_cast<struct iscsi_discovery_address **>(
        calloc(*count, sizeof(struct iscsi_discovery_address *)));
    size_t slot = *count;
    for (struct iscsi_discovery_address *at = first; ordered != nullptr && at != nullptr;
         at = at->next)
        ordered[--slot] = at;
    return ordered;
}

struct iscsi_target_portal **portalsInAnswerOrder(struct iscsi_target_portal *first,
                                                  size_t *count)
{
    *count = 0;
    for (struct iscsi_target_portal *at = first; at != nullptr; at = at->next)
        (*count)++;
    if (*count == 0)
        return nullptr;
    auto **ordered = static_cast<struct iscsi_target_portal **>(
        calloc(*count, sizeof(struct iscsi_target_portal *)));
    size_t slot = *count;
    for (struct iscsi_target_portal *at = first; ordered != nullptr && at != nullptr;
         at = at->next)
        ordered[--slot] = at;
    return ordered;
}

// Takes one target of a SendTargets answer into the state's list.  False
// when the list is full or out of memory.
bool takeTarget(ContextState *state, const struct iscsi_discovery_address *target, ULONG ordinal)
{
    DiscoveryRecord record;
    memset(&record, 0, sizeof record);
    memcpy(record.target, target->target_name, strlen(target->target_name) + 1);
    record.targetOrdinal = ordinal;
    size_t count = 0;
    struct iscsi_target_portal **portals = portalsInAnswerOrder(target->portals, &count);
    if (count > 0 && portals == nullptr)
        return false;
    bool anyPortal = false;
    for (size_t i = 0; i < count; i++) {
        if (portals[i]->portal == nullptr ||
            !parseTargetAddress(portals[i]->portal, record.address, sizeof record.address,
                                &record.socket, &record.tag))
            continue;
        if (!appendDiscoveryRecord(state->discovery, record)) {
            free(portals);
            return false;
        }
        anyPortal = true;
    }
    free(portals);
    if (anyPortal)
        return true;
    // No usable TargetAddress: the target answers at the portal asked.
    memcpy(record.address, state->discoveryPortal->address, sizeof record.address);
    record.socket = state->discoveryPortal->port;
    record.tag = DEFAULT_PORTAL_GROUP_TAG;
    return appendDiscoveryRecord(state->discovery, record);
}

// Copies a SendTargets answer, bounded, into the state's discovery list.  The
// answer belongs to libiscsi and is freed when this returns.
void discoveryFinished(iscsi_context *, int status, void *commandData, void *privateData)
{
    ContextState *state = static_cast<ContextState *>(privateData);
    state->textDone = true;
    state->textStatus = status;
    if (status != SCSI_STATUS_GOOD)
        return;
    size_t count = 0;
    struct iscsi_discovery_address **targets = targetsInAnswerOrder(
        static_cast<struct iscsi_discovery_address *>(commandData), &count);
    if (count > 0 && targets == nullptr) {
        state->discoveryFailed = true;
        return;
    }
    ULONG ordinal = 0;
    for (size_t i = 0; i < count; i++) {
        const char *name = targets[i]->target_name;
        if (name == nullptr || name[0] == 0 || strlen(name) >= ISCSI_NAME_BYTES)
            continue;
        if (!takeTarget(state, targets[i], ordinal++)) {
            state->discoveryFailed = true;
            break;
        }
    }
    free(targets);
}

// Services context until *done turns true or the deadline passes.  While the
// TCP connection is being made, a socket error is read here, so that the
// status tells refusal, unreachability and the like apart.  Returns 0 or the
// status of the failure.
ISDSC_STATUS serviceUntil(iscsi_context *context, const bool *done, long long deadline,
                          ExchangeStep step)
{
    while (!*done) {
        long long left = deadline - monotonicMs();
        if (left <= 0)
            return failureStatus(step, FAILURE_TIMEOUT, 0, nullptr);
        struct pollfd watched;
        watched.fd = iscsi_get_fd(context);
        watched.events = static_cast<short>(iscsi_which_events(context));
        watched.revents = 0;
        if (watched.fd < 0)
            return failureStatus(step, FAILURE_ERRNO, 0, nullptr);
        int ready = poll(&watched, 1, left > 1000 ? 1000 : static_cast<int>(left));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return failureStatus(step, FAILURE_ERRNO, errno, nullptr);
        }
        if (ready == 0)
            continue;
        if (step == STEP_CONNECT) {
            int error = 0;
            socklen_t length = sizeof error;
            if (getsockopt(watched.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0)
                return failureStatus(step, FAILURE_ERRNO, error, nullptr);
        }
        if (iscsi_service(context, watched.revents) < 0)
            return failureStatus(step, FAILURE_LIBRARY, 0, iscsi_get_error(context));
    }
    return ISDSC_SUCCESS;
}

ISDSC_STATUS takeQualifier(ULONG *qualifier)
{
    if (gNextQualifier > 0xFFFF)
        return SERVICE_TOO_MANY_LOGINS;
    *qualifier = gNextQualifier++;
    return ISDSC_SUCCESS;
}

unsigned long long isidValue(ULONG qualifier)
{
    // Type "random": the 24-bit field holds the process id, which no live
    // process on the host shares, and the qualifier counts this process's
    // logins.
    unsigned long long random = static_cast<unsigned long long>(getpid()) & 0xFFFFFFull;
    return (0x80ull << 40) | (random << 16) | qualifier;
}

// Creates a configured context; null when out of memory or refused.
iscsi_context *createContext(const char *initiatorName, const char *targetName,
                             const ChapCredentials &chap, bool headerDigest, ULONG qualifier)
{
    iscsi_context *created = iscsi_create_context(initiatorName);
    if (created == nullptr)
        return nullptr;
    iscsi_set_noautoreconnect(created, 1);
    iscsi_set_reconnect_max_retries(created, 0);
    iscsi_set_isid_random(created, static_cast<uint32_t>((isidValue(qualifier) >> 16) & 0xFFFFFF),
                          qualifier);
    iscsi_set_header_digest(created, headerDigest ? ISCSI_HEADER_DIGEST_CRC32C
                                                  : ISCSI_HEADER_DIGEST_NONE);
    bool configured = iscsi_set_session_type(created, targetName == nullptr
                                                          ? ISCSI_SESSION_DISCOVERY
                                                          : ISCSI_SESSION_NORMAL) == 0;
    if (configured && targetName != nullptr)
        configured = iscsi_set_targetname(created, targetName) == 0;
    if (configured && chap.enabled)
        configured = iscsi_set_initiator_username_pwd(created, chap.username, chap.password) == 0;
    if (!configured) {
        iscsi_destroy_context(created);
        return nullptr;
    }
    return created;
}

// Creates a context for one exchange and makes its TCP connection, trying
// the portal's addresses in turn under one deadline.  On success the caller
// owns *context and *state.
ISDSC_STATUS connectContext(const PortalEndpoint &portal, const char *initiatorName,
                            const char *targetName, const ChapCredentials &chap, bool headerDigest,
                            iscsi_context **context, ContextState **state)
{
    ResolvedEndpoints *endpoints =
        static_cast<ResolvedEndpoints *>(calloc(1, sizeof(ResolvedEndpoints)));
    if (endpoints == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    ISDSC_STATUS status = resolvePortal(portal, endpoints);
    ULONG qualifier = 0;
    if (status == ISDSC_SUCCESS)
        status = takeQualifier(&qualifier);
    long long deadline = monotonicMs() + stepTimeoutMs();
    int attempts = status == ISDSC_SUCCESS ? endpoints->count : 0;
    for (int i = 0; i < attempts; i++) {
        if (i > 0 && monotonicMs() >= deadline)
            break;
        iscsi_context *created =
            createContext(initiatorName, targetName, chap, headerDigest, qualifier);
        ContextState *createdState = static_cast<ContextState *>(calloc(1, sizeof(ContextState)));
        if (created == nullptr || createdState == nullptr) {
            if (created != nullptr)
                iscsi_destroy_context(created);
            free(createdState);
            status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        if (iscsi_connect_async(created, endpoints->text[i], connectFinished, createdState) != 0) {
            status = failureStatus(STEP_CONNECT, FAILURE_LIBRARY, 0, iscsi_get_error(created));
        } else {
            status = serviceUntil(created, &createdState->connectDone, deadline, STEP_CONNECT);
            if (status == ISDSC_SUCCESS && createdState->connectStatus != SCSI_STATUS_GOOD)
                status = failureStatus(STEP_CONNECT, FAILURE_LIBRARY, 0, iscsi_get_error(created));
        }
        if (status == ISDSC_SUCCESS) {
            *context = created;
            *state = createdState;
            free(endpoints);
            return ISDSC_SUCCESS;
        }
        iscsi_destroy_context(created);
        free(createdState);
    }
    free(endpoints);
    return status;
}

ISDSC_STATUS loginContext(iscsi_context *context, ContextState *state)
{
    long long deadline = monotonicMs() + stepTimeoutMs();
    if (iscsi_login_async(context, loginFinished, state) != 0)
        return failureStatus(STEP_LOGIN, FAILURE_LIBRARY, 0, iscsi_get_error(context));
    ISDSC_STATUS status = serviceUntil(context, &state->loginDone, deadline, STEP_LOGIN);
    if (status == ISDSC_SUCCESS && state->loginStatus != SCSI_STATUS_GOOD)
        status = failureStatus(STEP_LOGIN, FAILURE_LIBRARY, 0, iscsi_get_error(context));
    return status;
}

int logoutLimitMs()
{
    int limit = stepTimeoutMs();
    return limit < kLogoutLimitMs ? limit : kLogoutLimitMs;
}

void closeAtExit()
{
    closeAllSessions();
}

bool keepSession(iscsi_context *context, ContextState *state)
{
    if (gSessionCount == gSessionCapacity) {
        size_t capacity = gSessionCapacity == 0 ? 8 : gSessionCapacity * 2;
        OpenSession *grown =
            static_cast<OpenSession *>(realloc(gSessions, capacity * sizeof(OpenSession)));
        if (grown == nullptr)
            return false;
        gSessions = grown;
        gSessionCapacity = capacity;
    }
    if (!gExitHandlerRegistered) {
        if (atexit(closeAtExit) != 0)
            return false;
        gExitHandlerRegistered = true;
    }
    gSessions[gSessionCount].context = context;
    gSessions[gSessionCount].state = state;
    gSessions[gSessionCount].owner = getpid();
    gSessionCount++;
    return true;
}

}  // namespace

int stepTimeoutMs()
{
    const char *text = getenv(STEP_TIMEOUT_VARIABLE);
    if (text != nullptr && text[0] != 0) {
        char *end = nullptr;
        long value = strtol(text, &end, 10);
        if (end != nullptr && *end == 0 && value >= 1 && value <= 600000)
            return static_cast<int>(value);
    }
    return DEFAULT_STEP_TIMEOUT_MS;
}

void freeDiscoveryList(DiscoveryList *list)
{
    free(list->records);
    list->records = nullptr;
    list->count = 0;
    list->capacity = 0;
}

bool appendDiscoveryRecord(DiscoveryList *list, const DiscoveryRecord &record)
{
    if (list->count >= MAX_DISCOVERY_RECORDS)
        return false;
    if (list->count == list->capacity) {
        size_t capacity = list->capacity == 0 ? 8 : list->capacity * 2;
        DiscoveryRecord *grown = static_cast<DiscoveryRecord *>(
            realloc(list->records, capacity * sizeof(DiscoveryRecord)));
        if (grown == nullptr)
            return false;
        list->records = grown;
        list->capacity = capacity;
    }
    list->records[list->count++] = record;
    return true;
}

ISDSC_STATUS discoverTargets(const PortalEndpoint &portal, const char *initiatorName,
                             const ChapCredentials &chap, DiscoveryList *out)
{
    iscsi_context *context = nullptr;
    ContextState *state = nullptr;
    ISDSC_STATUS status = connectContext(portal, initiatorName, nullptr, chap, false, &context,
                                         &state);
    if (status != ISDSC_SUCCESS)
        return status;
    status = loginContext(context, state);
    if (status == ISDSC_SUCCESS) {
        state->discovery = out;
        state->discoveryPortal = &portal;
        long long deadline = monotonicMs() + stepTimeoutMs();
        if (iscsi_discovery_async(context, discoveryFinished, state) != 0) {
            status = failureStatus(STEP_TEXT, FAILURE_LIBRARY, 0, iscsi_get_error(context));
        } else {
            status = serviceUntil(context, &state->textDone, deadline, STEP_TEXT);
            if (status == ISDSC_SUCCESS && state->textStatus != SCSI_STATUS_GOOD)
                status = SERVICE_DISCOVERY_FAILED;
            if (status == ISDSC_SUCCESS && state->discoveryFailed)
                status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
        }
        state->discovery = nullptr;
        if (status == ISDSC_SUCCESS) {
            // The answer is in; a logout that fails or hangs changes nothing.
            long long logoutDeadline = monotonicMs() + logoutLimitMs();
            if (iscsi_logout_async(context, logoutFinished, state) == 0)
                serviceUntil(context, &state->logoutDone, logoutDeadline, STEP_LOGOUT);
        }
    }
    iscsi_destroy_context(context);
    free(state);
    if (status != ISDSC_SUCCESS)
        freeDiscoveryList(out);
    return status;
}

ISDSC_STATUS openSession(const PortalEndpoint &portal, const char *initiatorName,
                         const char *targetName, const ChapCredentials &chap, bool headerDigest,
                         SessionIdentity *identity)
{
    iscsi_context *context = nullptr;
    ContextState *state = nullptr;
    ISDSC_STATUS status = connectContext(portal, initiatorName, targetName, chap, headerDigest,
                                         &context, &state);
    if (status != ISDSC_SUCCESS)
        return status;
    status = loginContext(context, state);
    if (status == ISDSC_SUCCESS && !keepSession(context, state))
        status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    if (status != ISDSC_SUCCESS) {
        iscsi_destroy_context(context);
        free(state);
        return status;
    }
    // The qualifier just taken is in the ISID; the login time tells apart
    // sessions of an earlier process that had the same id.
    unsigned long long isid = isidValue(gNextQualifier - 1);
    unsigned long long stamp = static_cast<unsigned long long>(realtimeNs());
    identity->session.AdapterUnique = isid;
    identity->session.AdapterSpecific = stamp;
    identity->connection.AdapterUnique = isid | (1ull << 48);
    identity->connection.AdapterSpecific = stamp;
    return ISDSC_SUCCESS;
}

void closeAllSessions()
{
    if (gSessionCount == 0)
        return;
    // Sessions inherited from a parent process stay the parent's: this
    // process only closes its copies of their sockets, without a logout.
    size_t count = 0;
    pid_t self = getpid();
    for (size_t i = 0; i < gSessionCount; i++) {
        if (gSessions[i].owner == self) {
            gSessions[count++] = gSessions[i];
        } else {
            iscsi_destroy_context(gSessions[i].context);
            free(gSessions[i].state);
        }
    }
    bool *done = static_cast<bool *>(calloc(count, sizeof(bool)));
    struct pollfd *watched = static_cast<struct pollfd *>(calloc(count, sizeof(struct pollfd)));
    if (done != nullptr && watched != nullptr) {
        for (size_t i = 0; i < count; i++) {
            gSessions[i].state->logoutDone = false;
            done[i] = iscsi_logout_async(gSessions[i].context, logoutFinished,
                                         gSessions[i].state) != 0;
        }
        long long deadline = monotonicMs() + logoutLimitMs();
        for (;;) {
            size_t pending = 0;
            for (size_t i = 0; i < count; i++) {
                if (gSessions[i].state->logoutDone)
                    done[i] = true;
                if (done[i])
                    continue;
                watched[pending].fd = iscsi_get_fd(gSessions[i].context);
                watched[pending].events =
                    static_cast<short>(iscsi_which_events(gSessions[i].context));
                watched[pending].revents = 0;
                pending++;
            }
            long long left = deadline - monotonicMs();
            if (pending == 0 || left <= 0)
                break;
            int ready = poll(watched, pending, static_cast<int>(left));
            if (ready < 0 && errno != EINTR)
                break;
            size_t slot = 0;
            for (size_t i = 0; i < count; i++) {
                if (done[i])
                    continue;
                short events = watched[slot++].revents;
                if (events != 0 && iscsi_service(gSessions[i].context, events) < 0)
                    done[i] = true;
            }
        }
    }
    free(done);
    free(watched);
    for (size_t i = 0; i < count; i++) {
        iscsi_destroy_context(gSessions[i].context);
        free(gSessions[i].state);
    }
    free(gSessions);
    gSessions = nullptr;
    gSessionCount = 0;
    gSessionCapacity = 0;
}

// For tests only (service_testing.h).

size_t openSessionCount()
{
    return gSessionCount;
}
