#include "service_libiscsi/iscsi_exchange.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iscsi/iscsi.h>

#include "service_libiscsi/discovery_answer.h"
#include "service_libiscsi/failure_mapping.h"
#include "service_libiscsi/service_status.h"
#include "service_libiscsi/service_testing.h"
#include "service_support/step_time.h"

namespace {

// The logout after a discovery and the logouts at exit are courtesies: they
// never hold the caller longer than this.
const int kLogoutLimitMs = 2000;

// The sessions logged out together at exit (closeAllSessions).  Each batch
// costs one round trip more; a larger one holds more memory at the peak.
#define LOGOUT_BATCH 16

// While a host name is being looked up, the poll loop looks at the lookup
// this often.
const int kLookupPollMs = 10;

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
    pid_t owner;  // a forked child inherits the table, not the sessions
};

OpenSession *gSessions = nullptr;
size_t gSessionCount = 0;
size_t gSessionCapacity = 0;
bool gExitHandlerRegistered = false;
ULONG gLoginCount = 0;

// The random part of this process's ISIDs and the process that drew it.
ULONG gIsidRandom = 0;
pid_t gIsidRandomOwner = 0;

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
// A numeric address with its port: at most "[" + 45 characters of IPv6 + a
// zone ("%" and an interface name or number) + "]:65535".  Every exchange
// carries these, the logouts at exit too, one for each open session.
#define ENDPOINT_TEXT_BYTES 96
struct ResolvedEndpoints {
    char text[MAX_ENDPOINTS][ENDPOINT_TEXT_BYTES];
    int count;
};

struct LookupRequest {
    char name[PORTAL_ADDRESS_BYTES];
    struct addrinfo hints;
    struct gaicb request;
};

// One exchange with a portal, driven step by step by runExchanges: a
// discovery (name lookup, connect, login, SendTargets, logout), a login of a
// normal session (name lookup, connect, login) or the logout of an open
// session.
struct Exchange {
    // What to do; set before the first step.
    const PortalEndpoint *portal;
    const char *initiatorName;
    const char *targetName;  // null: a discovery session
    const ChapCredentials *chap;
    bool headerDigest;
    DiscoveryList *discovery;  // a discovery's answer goes here
    long long lastDeadline;    // no step runs past it (LLONG_MAX: none)
    // Progress.
    ExchangeStep step;
    bool finished;
    long long deadline;     // of the running step; the addresses of a
                            // portal share the connect step's
    LookupRequest *lookup;  // while a host name is looked up
    ResolvedEndpoints endpoints;
    int nextEndpoint;
    ULONG loginNumber;
    iscsi_context *context;
    ContextState *state;
    ISDSC_STATUS status;  // 0 or the failure that ended the exchange
};

// Takes up to MAX_ENDPOINTS addresses of a lookup's answer, in its order.
ISDSC_STATUS numericEndpoints(const struct addrinfo *found, USHORT port, ResolvedEndpoints *out)
{
    out->count = 0;
    int result = 0;
    for (const struct addrinfo *at = found; at != nullptr && out->count < MAX_ENDPOINTS;
         at = at->ai_next) {
        char host[NI_MAXHOST];
        result =
            getnameinfo(at->ai_addr, at->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
        if (result == 0 &&
            formatEndpoint(host, port, out->text[out->count], sizeof out->text[out->count]))
            out->count++;
    }
    if (out->count > 0)
        return ISDSC_SUCCESS;
    return result != 0 ? failureStatus(STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, result, nullptr)
                       : ISDSC_ERROR_INVALID_PARAMETER;
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

// Copies a SendTargets answer, bounded, into the state's discovery list.  The
// answer belongs to libiscsi and is freed when this returns.
void discoveryFinished(iscsi_context *, int status, void *commandData, void *privateData)
{
    ContextState *state = static_cast<ContextState *>(privateData);
    state->textDone = true;
    state->textStatus = status;
    if (status != SCSI_STATUS_GOOD || state->discovery == nullptr)
        return;
    if (!takeSendTargetsAnswer(static_cast<struct iscsi_discovery_address *>(commandData),
                               *state->discoveryPortal, state->discovery))
        state->discoveryFailed = true;
}

ISDSC_STATUS takeLoginNumber(ULONG *number)
{
    if (gLoginCount >= 0xFFFF)
        return SERVICE_TOO_MANY_LOGINS;
    *number = ++gLoginCount;
    return ISDSC_SUCCESS;
}

// The random part of this process's ISIDs, drawn once per process: a forked
// child draws its own.
ULONG isidRandomBits()
{
    pid_t self = getpid();
    if (gIsidRandomOwner != self) {
        ULONG drawn = 0;
        if (getrandom(&drawn, sizeof drawn, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof drawn))
            drawn = static_cast<ULONG>(realtimeNs()) ^ static_cast<ULONG>(self) * 2654435761u;
        gIsidRandom = drawn;
        gIsidRandomOwner = self;
    }
    return gIsidRandom;
}

unsigned long long isidOfLogin(ULONG loginNumber)
{
    return buildIsid(static_cast<unsigned long>(getpid()), isidRandomBits(), loginNumber);
}

// Creates a configured context; null when out of memory or refused.
iscsi_context *createContext(const Exchange &exchange)
{
    iscsi_context *created = iscsi_create_context(exchange.initiatorName);
    if (created == nullptr)
        return nullptr;
    unsigned long long isid = isidOfLogin(exchange.loginNumber);
    // A session stays open until the process ends: what libiscsi would keep
    // of its freed buffers for reuse would stay with it, for every target.
    iscsi_set_cache_allocations(created, 0);
    iscsi_set_noautoreconnect(created, 1);
    iscsi_set_reconnect_max_retries(created, 0);
    iscsi_set_isid_random(created, static_cast<uint32_t>((isid >> 16) & 0xFFFFFF),
                          static_cast<uint32_t>(isid & 0xFFFF));
    iscsi_set_header_digest(created, exchange.headerDigest ? ISCSI_HEADER_DIGEST_CRC32C
                                                           : ISCSI_HEADER_DIGEST_NONE);
    const char *targetName = exchange.targetName;
    bool configured =
        iscsi_set_session_type(created, targetName == nullptr ? ISCSI_SESSION_DISCOVERY
                                                              : ISCSI_SESSION_NORMAL) == 0;
    if (configured && targetName != nullptr)
        configured = iscsi_set_targetname(created, targetName) == 0;
    if (configured && exchange.chap->enabled)
        configured = iscsi_set_initiator_username_pwd(created, exchange.chap->username,
                                                      exchange.chap->password) == 0;
    if (!configured) {
        iscsi_destroy_context(created);
        return nullptr;
    }
    return created;
}

int logoutLimitMs()
{
    int limit = stepTimeoutMs();
    return limit < kLogoutLimitMs ? limit : kLogoutLimitMs;
}

long long earlier(long long one, long long other)
{
    return one < other ? one : other;
}

// The deadline of a step that begins now.
long long stepDeadline(const Exchange *exchange)
{
    return earlier(monotonicMs() + stepTimeoutMs(), exchange->lastDeadline);
}

void dropContext(Exchange *exchange)
{
    if (exchange->context != nullptr)
        iscsi_destroy_context(exchange->context);
    free(exchange->state);
    exchange->context = nullptr;
    exchange->state = nullptr;
}

void finish(Exchange *exchange, ISDSC_STATUS status)
{
    exchange->status = status;
    exchange->finished = true;
    if (exchange->state != nullptr)
        exchange->state->discovery = nullptr;  // a late answer has nowhere to go
}

// Connects to the portal's next address; finishes with `failure`, the last
// attempt's status, when none is left or the connect step's time is up.
void connectNext(Exchange *exchange, ISDSC_STATUS failure)
{
    ResolvedEndpoints &endpoints = exchange->endpoints;
    while (exchange->nextEndpoint < endpoints.count &&
           (exchange->nextEndpoint == 0 || monotonicMs() < exchange->deadline)) {
        const char *endpoint = endpoints.text[exchange->nextEndpoint++];
        iscsi_context *created = createContext(*exchange);
        ContextState *state = static_cast<ContextState *>(calloc(1, sizeof(ContextState)));
        if (created == nullptr || state == nullptr) {
            if (created != nullptr)
                iscsi_destroy_context(created);
            free(state);
            finish(exchange, ISDSC_ERROR_NOT_ENOUGH_MEMORY);
            return;
        }
        if (iscsi_connect_async(created, endpoint, connectFinished, state) == 0) {
            exchange->context = created;
            exchange->state = state;
            return;
        }
        failure = failureStatus(STEP_CONNECT, FAILURE_LIBRARY, 0, iscsi_get_error(created));
        iscsi_destroy_context(created);
        free(state);
    }
    finish(exchange, failure);
}

void startConnect(Exchange *exchange)
{
    ISDSC_STATUS status = takeLoginNumber(&exchange->loginNumber);
    if (status != ISDSC_SUCCESS) {
        finish(exchange, status);
        return;
    }
    exchange->step = STEP_CONNECT;
    exchange->deadline = stepDeadline(exchange);
    exchange->nextEndpoint = 0;
    connectNext(exchange, SERVICE_CONNECTION_FAILED);
}

// Begins an exchange: a numeric address needs no lookup; a host name is
// looked up asynchronously, and the poll loop watches the lookup.
void startExchange(Exchange *exchange)
{
    exchange->step = STEP_NAME_LOOKUP;
    exchange->deadline = stepDeadline(exchange);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    // "[address]" as a user may write an IPv6 address.
    char name[PORTAL_ADDRESS_BYTES];
    const char *address = exchange->portal->address;
    size_t length = strlen(address);
    if (length >= 2 && address[0] == '[' && address[length - 1] == ']') {
        memcpy(name, address + 1, length - 2);
        name[length - 2] = 0;
    } else {
        memcpy(name, address, length + 1);
    }
    struct addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) == 0) {
        ISDSC_STATUS status = numericEndpoints(found, exchange->portal->port, &exchange->endpoints);
        freeaddrinfo(found);
        if (status == ISDSC_SUCCESS)
            startConnect(exchange);
        else
            finish(exchange, status);
        return;
    }
    LookupRequest *lookup = static_cast<LookupRequest *>(calloc(1, sizeof(LookupRequest)));
    if (lookup == nullptr) {
        finish(exchange, ISDSC_ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    memcpy(lookup->name, name, sizeof lookup->name);
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->hints.ai_flags = AI_ADDRCONFIG;
    lookup->request.ar_name = lookup->name;
    lookup->request.ar_request = &lookup->hints;
    struct gaicb *list[1] = {&lookup->request};
    int result = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
    if (result != 0) {
        free(lookup);
        finish(exchange, failureStatus(STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, result, nullptr));
        return;
    }
    exchange->lookup = lookup;
}

// Looks at a running lookup: connects when it is done, gives up when its
// time is up.
void checkLookup(Exchange *exchange, long long now)
{
    struct gaicb *request = &exchange->lookup->request;
    int result = gai_error(request);
    if (result == EAI_INPROGRESS && now < exchange->deadline)
        return;
    if (result == EAI_INPROGRESS) {
        if (gai_cancel(request) != EAI_NOTCANCELED) {
            if (gai_error(request) == 0)
                freeaddrinfo(request->ar_result);
            free(exchange->lookup);
        }  // else the resolver still owns the request
        exchange->lookup = nullptr;
        finish(exchange, SERVICE_NAME_LOOKUP_TIMEOUT);
        return;
    }
    ISDSC_STATUS status;
    if (result == 0) {
        status = numericEndpoints(request->ar_result, exchange->portal->port, &exchange->endpoints);
        freeaddrinfo(request->ar_result);
    } else {
        status = failureStatus(STEP_NAME_LOOKUP, FAILURE_NAME_LOOKUP, result, nullptr);
    }
    free(exchange->lookup);
    exchange->lookup = nullptr;
    if (status == ISDSC_SUCCESS)
        startConnect(exchange);
    else
        finish(exchange, status);
}

void startLogin(Exchange *exchange)
{
    exchange->step = STEP_LOGIN;
    exchange->deadline = stepDeadline(exchange);
    if (iscsi_login_async(exchange->context, loginFinished, exchange->state) != 0)
        finish(exchange,
               failureStatus(STEP_LOGIN, FAILURE_LIBRARY, 0, iscsi_get_error(exchange->context)));
}

void startSendTargets(Exchange *exchange)
{
    exchange->step = STEP_TEXT;
    exchange->deadline = stepDeadline(exchange);
    exchange->state->discovery = exchange->discovery;
    exchange->state->discoveryPortal = exchange->portal;
    if (iscsi_discovery_async(exchange->context, discoveryFinished, exchange->state) != 0)
        finish(exchange,
               failureStatus(STEP_TEXT, FAILURE_LIBRARY, 0, iscsi_get_error(exchange->context)));
}

// A logout changes nothing of the exchange's status; one that fails or
// hangs just ends it.
void startLogout(Exchange *exchange)
{
    exchange->step = STEP_LOGOUT;
    exchange->deadline = earlier(monotonicMs() + logoutLimitMs(), exchange->lastDeadline);
    exchange->state->logoutDone = false;
    if (iscsi_logout_async(exchange->context, logoutFinished, exchange->state) != 0)
        exchange->finished = true;
}

// The running step failed: its deadline passed, or the socket or libiscsi
// failed.  A failed connection to one address tries the next.
void stepFailed(Exchange *exchange, ISDSC_STATUS status)
{
    if (exchange->step == STEP_LOGOUT) {
        exchange->finished = true;
    } else if (exchange->step == STEP_CONNECT) {
        dropContext(exchange);
        connectNext(exchange, status);
    } else {
        finish(exchange, status);
    }
}

// After libiscsi serviced the context: moves on when the running step is done.
void advance(Exchange *exchange)
{
    const ContextState *state = exchange->state;
    const char *error = iscsi_get_error(exchange->context);
    switch (exchange->step) {
    case STEP_NAME_LOOKUP:
        break;
    case STEP_CONNECT:
        if (state->connectDone && state->connectStatus != SCSI_STATUS_GOOD)
            stepFailed(exchange, failureStatus(STEP_CONNECT, FAILURE_LIBRARY, 0, error));
        else if (state->connectDone)
            startLogin(exchange);
        break;
    case STEP_LOGIN:
        if (state->loginDone && state->loginStatus != SCSI_STATUS_GOOD)
            finish(exchange, failureStatus(STEP_LOGIN, FAILURE_LIBRARY, 0, error));
        else if (state->loginDone && exchange->targetName != nullptr)
            finish(exchange, ISDSC_SUCCESS);  // the session stays open
        else if (state->loginDone)
            startSendTargets(exchange);
        break;
    case STEP_TEXT:
        if (state->textDone && state->textStatus != SCSI_STATUS_GOOD) {
            finish(exchange, SERVICE_DISCOVERY_FAILED);
        } else if (state->textDone && state->discoveryFailed) {
            finish(exchange, ISDSC_ERROR_NOT_ENOUGH_MEMORY);
        } else if (state->textDone) {
            exchange->state->discovery = nullptr;
            startLogout(exchange);  // the answer is in
        }
        break;
    case STEP_LOGOUT:
        if (state->logoutDone)
            exchange->finished = true;
        break;
    }
}

// Finishes every exchange that has not finished, with status.
void abandonAll(Exchange *exchanges, size_t count, ISDSC_STATUS status)
{
    for (size_t i = 0; i < count; i++)
        if (!exchanges[i].finished && exchanges[i].step == STEP_LOGOUT)
            exchanges[i].finished = true;
        else if (!exchanges[i].finished)
            finish(&exchanges[i], status);
}

// Drives every exchange on one poll loop until each has finished.  Each
// step fails when its deadline passes; libiscsi never reconnects on its own.
// Contexts stay with the exchanges for the caller to keep or destroy.
void runExchanges(Exchange *exchanges, size_t count)
{
    struct pollfd *watched = static_cast<struct pollfd *>(calloc(count + 1, sizeof *watched));
    size_t *owners = static_cast<size_t *>(calloc(count + 1, sizeof *owners));
    if (watched == nullptr || owners == nullptr)
        abandonAll(exchanges, count, ISDSC_ERROR_NOT_ENOUGH_MEMORY);
    for (bool running = watched != nullptr && owners != nullptr; running;) {
        long long now = monotonicMs();
        for (size_t i = 0; i < count; i++) {
            Exchange *exchange = &exchanges[i];
            if (!exchange->finished && exchange->step == STEP_NAME_LOOKUP)
                checkLookup(exchange, now);
            else if (!exchange->finished && now >= exchange->deadline)
                stepFailed(exchange, failureStatus(exchange->step, FAILURE_TIMEOUT, 0, nullptr));
        }
        size_t pending = 0;
        bool lookingUp = false;
        bool moved = false;  // a step ended without the poll: look again at once
        long long wake = LLONG_MAX;
        for (size_t i = 0; i < count; i++) {
            Exchange *exchange = &exchanges[i];
            if (exchange->finished)
                continue;
            wake = earlier(wake, exchange->deadline);
            if (exchange->step == STEP_NAME_LOOKUP) {
                lookingUp = true;
                continue;
            }
            int fd = iscsi_get_fd(exchange->context);
            if (fd < 0) {
                stepFailed(exchange, failureStatus(exchange->step, FAILURE_ERRNO, 0, nullptr));
                moved = true;
                continue;
            }
            watched[pending].fd = fd;
            watched[pending].events = static_cast<short>(iscsi_which_events(exchange->context));
            watched[pending].revents = 0;
            owners[pending++] = i;
        }
        if (pending == 0 && !lookingUp && !moved)
            break;
        long long left = wake - now;
        int timeout = left <= 0 ? 0 : left > 1000 ? 1000 : static_cast<int>(left);
        if (lookingUp && timeout > kLookupPollMs)
            timeout = kLookupPollMs;
        int ready = poll(watched, pending, moved ? 0 : timeout);
        if (ready < 0 && errno != EINTR) {
            int error = errno;
            for (size_t k = 0; k < pending; k++) {
                Exchange *exchange = &exchanges[owners[k]];
                stepFailed(exchange, failureStatus(exchange->step, FAILURE_ERRNO, error, nullptr));
            }
        }
        for (size_t k = 0; ready > 0 && k < pending; k++) {
            Exchange *exchange = &exchanges[owners[k]];
            short events = watched[k].revents;
            if (events == 0)
                continue;
            // While the TCP connection is being made, a socket error is read
            // here, so that the status tells refusal, unreachability and the
            // like apart.
            int error = 0;
            socklen_t length = sizeof error;
            if (exchange->step == STEP_CONNECT &&
                getsockopt(watched[k].fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0)
                stepFailed(exchange, failureStatus(STEP_CONNECT, FAILURE_ERRNO, error, nullptr));
            else if (iscsi_service(exchange->context, events) < 0)
                stepFailed(exchange, failureStatus(exchange->step, FAILURE_LIBRARY, 0,
                                                   iscsi_get_error(exchange->context)));
            else
                advance(exchange);
        }
    }
    free(watched);
    free(owners);
}

// Runs the discoveries of requests together, no step past lastDeadline.
void runDiscoveries(DiscoveryRequest *requests, size_t count, long long lastDeadline)
{
    Exchange *exchanges = static_cast<Exchange *>(calloc(count + 1, sizeof(Exchange)));
    for (size_t i = 0; i < count; i++) {
        requests[i].status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
        if (exchanges == nullptr)
            continue;
        Exchange *exchange = &exchanges[i];
        exchange->portal = &requests[i].portal;
        exchange->initiatorName = requests[i].initiatorName;
        exchange->chap = &requests[i].chap;
        exchange->discovery = &requests[i].found;
        exchange->lastDeadline = lastDeadline;
        startExchange(exchange);
    }
    if (exchanges == nullptr)
        return;
    runExchanges(exchanges, count);
    for (size_t i = 0; i < count; i++) {
        dropContext(&exchanges[i]);
        requests[i].status = exchanges[i].status;
        if (requests[i].status != ISDSC_SUCCESS)
            freeDiscoveryList(&requests[i].found);
    }
    free(exchanges);
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

unsigned long long buildIsid(unsigned long processId, ULONG randomBits, ULONG loginNumber)
{
    // Type "random" (0x80); its 24-bit field holds two random bits above the
    // process id (at most 22 bits), which no live process of the same PID
    // namespace shares; the qualifier is the login's number, unique in the
    // process, mixed with 16 random bits, which tell apart processes of
    // other namespaces (containers) that have the same id.
    unsigned long long field = (static_cast<unsigned long long>((randomBits >> 16) & 0x3u) << 22) |
                               (processId & 0x3FFFFFul);
    unsigned long long qualifier = (loginNumber ^ randomBits) & 0xFFFFu;
    return (0x80ull << 40) | (field << 16) | qualifier;
}

ISDSC_STATUS discoverTargets(const PortalEndpoint &portal, const char *initiatorName,
                             const ChapCredentials &chap, DiscoveryList *out)
{
    DiscoveryRequest *request =
        static_cast<DiscoveryRequest *>(calloc(1, sizeof(DiscoveryRequest)));
    if (request == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    request->portal = portal;
    request->initiatorName = initiatorName;
    request->chap = chap;
    runDiscoveries(request, 1, LLONG_MAX);
    *out = request->found;
    ISDSC_STATUS status = request->status;
    memset(request, 0, sizeof *request);  // the secret goes with it
    free(request);
    return status;
}

void discoverTargetsTogether(DiscoveryRequest *requests, size_t count)
{
    runDiscoveries(requests, count, monotonicMs() + stepTimeoutMs());
}

ISDSC_STATUS openSession(const PortalEndpoint &portal, const char *initiatorName,
                         const char *targetName, const ChapCredentials &chap, bool headerDigest,
                         SessionIdentity *identity)
{
    Exchange *exchange = static_cast<Exchange *>(calloc(1, sizeof(Exchange)));
    if (exchange == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    exchange->portal = &portal;
    exchange->initiatorName = initiatorName;
    exchange->targetName = targetName;
    exchange->chap = &chap;
    exchange->headerDigest = headerDigest;
    exchange->lastDeadline = LLONG_MAX;
    startExchange(exchange);
    runExchanges(exchange, 1);
    ISDSC_STATUS status = exchange->status;
    if (status == ISDSC_SUCCESS && !keepSession(exchange->context, exchange->state))
        status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    if (status == ISDSC_SUCCESS) {
        // The login's number is in the ISID; the login time tells apart
        // sessions of an earlier process that had the same ISID.
        unsigned long long isid = isidOfLogin(exchange->loginNumber);
        unsigned long long stamp = static_cast<unsigned long long>(realtimeNs());
        identity->session.AdapterUnique = isid;
        identity->session.AdapterSpecific = stamp;
        identity->connection.AdapterUnique = isid | (1ull << 48);
        identity->connection.AdapterSpecific = stamp;
    } else {
        dropContext(exchange);
    }
    free(exchange);
    return status;
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
    // Logged out LOGOUT_BATCH at a time, all under the bound of one logout;
    // each batch's sessions are freed before the next starts, so that the
    // logouts' own memory (the exchanges, libiscsi's PDUs) reuses theirs and
    // the process's peak does not grow with the number of sessions at exit.
    // A session whose batch gets no time left is closed without a logout.
    Exchange logouts[LOGOUT_BATCH];
    long long lastDeadline = monotonicMs() + logoutLimitMs();
    for (size_t first = 0; first < count; first += LOGOUT_BATCH) {
        size_t batch = count - first < LOGOUT_BATCH ? count - first : LOGOUT_BATCH;
        memset(logouts, 0, sizeof logouts);
        for (size_t i = 0; i < batch; i++) {
            logouts[i].context = gSessions[first + i].context;
            logouts[i].state = gSessions[first + i].state;
            logouts[i].lastDeadline = lastDeadline;
            startLogout(&logouts[i]);
        }
        runExchanges(logouts, batch);
        for (size_t i = 0; i < batch; i++) {
            iscsi_destroy_context(gSessions[first + i].context);
            free(gSessions[first + i].state);
        }
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
