// The protocol floor of a targetlogin run, for the benchmark only (never
// installed): one SendTargets discovery on a portal, then a login and a
// logout of every target it names, through the first portal the answer gives
// for that target.  Nothing is remembered and nothing is printed; a run
// costs what the network exchanges, process start and libiscsi cost.
//   floor ADDRESS:PORT
// Exit code 0 when every step succeeded, 1 otherwise (with the step on
// standard error), 2 for a wrong command line.
#include <iscsi/iscsi.h>

#include <cstdio>
#include <cstring>

namespace {

const char INITIATOR_NAME[] = "iqn.2026-01.test.bench:floor";
const size_t PORTAL_BYTES = 256;

// Reports a failed step of the run; returns 1, the exit code.
int failStep(const char *step, struct iscsi_context *context)
{
    std::fprintf(stderr, "floor: %s failed: %s\n", step,
                 context != nullptr ? iscsi_get_error(context) : "no memory");
    return 1;
}

// A SendTargets portal reads "address:port,group"; connecting wants the part
// before the group.  Returns false when the text does not fit.
bool portalWithoutGroup(const char *text, char (&portal)[PORTAL_BYTES])
{
    size_t length = strcspn(text, ",");
    if (length == 0 || length >= PORTAL_BYTES)
        return false;
    memcpy(portal, text, length);
    portal[length] = '\0';
    return true;
}

// Connects and logs in to one target, then logs out.  Returns 0 or 1.
int loginAndLogout(const char *target, const char *portal)
{
    struct iscsi_context *context = iscsi_create_context(INITIATOR_NAME);
    if (context == nullptr)
        return failStep("context", nullptr);
    int code = 0;
    if (iscsi_set_targetname(context, target) != 0 ||
        iscsi_set_session_type(context, ISCSI_SESSION_NORMAL) != 0)
        code = failStep("session set-up", context);
    else if (iscsi_connect_sync(context, portal) != 0)
        code = failStep("connect", context);
    else if (iscsi_login_sync(context) != 0)
        code = failStep("login", context);
    else if (iscsi_logout_sync(context) != 0)
        code = failStep("logout", context);
    iscsi_destroy_context(context);
    return code;
}

// Logs in and out of every target of a discovery answer; returns 0 or 1.
int visitTargets(const struct iscsi_discovery_address *targets, const char *discoveryPortal)
{
    for (const struct iscsi_discovery_address *target = targets; target != nullptr;
         target = target->next) {
        char portal[PORTAL_BYTES];
        const char *where = discoveryPortal;
        if (target->portals != nullptr && portalWithoutGroup(target->portals->portal, portal))
            where = portal;
        if (loginAndLogout(target->target_name, where) != 0)
            return 1;
    }
    return 0;
}

}  // namespace

// libiscsi's transport set-up refers to its iSER transport, whose code needs
// the RDMA libraries, which come only as shared libraries.  The floor speaks
// TCP alone: this definition keeps the iSER code and those libraries out of
// the static link (a request for iSER fails).
extern "C" int iscsi_init_iser_transport(struct iscsi_context *)
{
    return -1;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: floor ADDRESS:PORT\n");
        return 2;
    }
    const char *discoveryPortal = argv[1];
    struct iscsi_context *context = iscsi_create_context(INITIATOR_NAME);
    if (context == nullptr)
        return failStep("context", nullptr);
    int code = 0;
    struct iscsi_discovery_address *targets = nullptr;
    if (iscsi_set_session_type(context, ISCSI_SESSION_DISCOVERY) != 0)
        code = failStep("session set-up", context);
    else if (iscsi_connect_sync(context, discoveryPortal) != 0)
        code = failStep("discovery connect", context);
    else if (iscsi_login_sync(context) != 0)
        code = failStep("discovery login", context);
    else if ((targets = iscsi_discovery_sync(context)) == nullptr)
        code = failStep("SendTargets", context);
    else if (iscsi_logout_sync(context) != 0)
        code = failStep("discovery logout", context);
    // The answer belongs to the discovery context: it is freed before it.
    if (code == 0)
        code = visitTargets(targets, discoveryPortal);
    if (targets != nullptr)
        iscsi_free_discovery_data(context, targets);
    iscsi_destroy_context(context);
    return code;
}
