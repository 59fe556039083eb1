#include "service_libiscsi/discovery_answer.h"

#include <cstdlib>
#include <cstring>

#include <iscsi/iscsi.h>

#include "service_support/iscsi_names.h"
#include "service_support/text_conversion.h"

namespace {

// libiscsi hands its lists (of targets, and of a target's portals) over
// newest first; this gives one back in the order the target sent it.
// Returns a heap array of count entries (null when count is 0 or no memory
// is left).
template <typename Entry>
Entry **inAnswerOrder(Entry *first, size_t *count)
{
    *count = 0;
    for (Entry *at = first; at != nullptr; at = at->next)
        (*count)++;
    if (*count == 0)
        return nullptr;
    Entry **ordered = static_cast<Entry **>(calloc(*count, sizeof(Entry *)));
    size_t slot = *count;
    for (Entry *at = first; ordered != nullptr && at != nullptr; at = at->next)
        ordered[--slot] = at;
    return ordered;
}

// Takes one target of the answer into out.  False when the list is full or
// out of memory.
bool takeTarget(const struct iscsi_discovery_address *target, ULONG ordinal,
                const PortalEndpoint &portal, DiscoveryList *out)
{
    DiscoveryRecord record;
    memset(&record, 0, sizeof record);
    memcpy(record.target, target->target_name, strlen(target->target_name) + 1);
    record.targetOrdinal = ordinal;
    size_t count = 0;
    struct iscsi_target_portal **portals = inAnswerOrder(target->portals, &count);
    if (count > 0 && portals == nullptr)
        return false;
    bool anyPortal = false;
    for (size_t i = 0; i < count; i++) {
        if (portals[i]->portal == nullptr ||
            !parseTargetAddress(portals[i]->portal, record.address, sizeof record.address,
                                &record.socket, &record.tag))
            continue;
        if (!appendDiscoveryRecord(out, record)) {
            free(portals);
            return false;
        }
        anyPortal = true;
    }
    free(portals);
    if (anyPortal)
        return true;
    // No usable TargetAddress: the target answers at the portal asked.
    memcpy(record.address, portal.address, sizeof record.address);
    record.socket = portal.port;
    record.tag = DEFAULT_PORTAL_GROUP_TAG;
    return appendDiscoveryRecord(out, record);
}

}  // namespace

bool takeSendTargetsAnswer(struct iscsi_discovery_address *answer, const PortalEndpoint &portal,
                           DiscoveryList *out)
{
    size_t count = 0;
    struct iscsi_discovery_address **targets = inAnswerOrder(answer, &count);
    if (count > 0 && targets == nullptr)
        return false;
    bool taken = true;
    ULONG ordinal = 0;
    for (size_t i = 0; i < count && taken; i++) {
        const char *name = targets[i]->target_name;
        if (name != nullptr && isAcceptableTargetName(name))
            taken = takeTarget(targets[i], ordinal++, portal, out);
    }
    free(targets);
    return taken;
}
