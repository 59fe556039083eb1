// libiscsi looks up the "address:port" text it is given to connect with
// getaddrinfo and no hints, which asks the kernel for every address the host
// has (to leave out address families it has none of), some twenty
// microseconds each time.  The service hands libiscsi numeric addresses only
// (getnameinfo's NI_NUMERICHOST text), and a run connects to the same few of
// them once for every target.  So the static libiscsi is linked with its two
// calls renamed to the functions below (cmake/ToolsLinkage.cmake):
//   - a numeric address is answered as getaddrinfo answers it with
//     AI_NUMERICHOST for a stream socket: its one address, with no look at
//     the host's own addresses (libiscsi takes the first entry of a list,
//     and connects over TCP);
//   - the first answer for a text is kept for the process, and every call
//     gets a copy of it.  A lookup that fails is not kept.
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>

#include "service_libiscsi/libiscsi_lookups_kept.h"

namespace {

const size_t kKeptLookups = 8;
const size_t kKeptNodeBytes = 128;

struct KeptLookup {
    bool used;
    char node[kKeptNodeBytes];
    struct addrinfo *answer;  // as getaddrinfo gave it
};

KeptLookup gKept[kKeptLookups];

// The kept answer for node; null when there is none.
const struct addrinfo *keptAnswer(const char *node)
{
    for (const KeptLookup &kept : gKept)
        if (kept.used && strcmp(kept.node, node) == 0)
            return kept.answer;
    return nullptr;
}

// Keeps answer for node when a slot is free; false when it is not kept.
bool keep(const char *node, struct addrinfo *answer)
{
    if (strlen(node) >= kKeptNodeBytes)
        return false;
    for (KeptLookup &kept : gKept) {
        if (!kept.used) {
            kept.used = true;
            memcpy(kept.node, node, strlen(node) + 1);
            kept.answer = answer;
            return true;
        }
    }
    return false;
}

// A copy of list, each entry in a block of its own with its address behind
// it; null when out of memory.
struct addrinfo *copyAnswer(const struct addrinfo *list)
{
    struct addrinfo *first = nullptr;
    struct addrinfo **link = &first;
    for (const struct addrinfo *at = list; at != nullptr; at = at->ai_next) {
        struct addrinfo *entry =
            static_cast<struct addrinfo *>(malloc(sizeof(struct addrinfo) + at->ai_addrlen));
        if (entry == nullptr) {
            tools_iscsi_freeaddrinfo(first);
            return nullptr;
        }
        *entry = *at;
        entry->ai_next = nullptr;
        entry->ai_canonname = at->ai_canonname != nullptr ? strdup(at->ai_canonname) : nullptr;
        entry->ai_addr = reinterpret_cast<struct sockaddr *>(entry + 1);
        memcpy(entry->ai_addr, at->ai_addr, at->ai_addrlen);
        *link = entry;
        link = &entry->ai_next;
    }
    return first;
}

}  // namespace

extern "C" int tools_iscsi_getaddrinfo(const char *node, const char *service,
                                       const struct addrinfo *hints, struct addrinfo **res)
{
    // Only the call libiscsi makes is kept: a node, no service, no hints.
    bool keepable = node != nullptr && service == nullptr && hints == nullptr;
    const struct addrinfo *kept = keepable ? keptAnswer(node) : nullptr;
    struct addrinfo *answer = nullptr;
    if (kept == nullptr && keepable) {
        struct addrinfo numeric;
        memset(&numeric, 0, sizeof numeric);
        numeric.ai_flags = AI_NUMERICHOST;
        numeric.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(node, nullptr, &numeric, &answer) == 0)
            kept = answer;
    }
    if (kept == nullptr) {
        int result = getaddrinfo(node, service, hints, &answer);
        if (result != 0)
            return result;
        kept = answer;
    }
    *res = copyAnswer(kept);
    if (answer != nullptr && !(keepable && keep(node, answer)))
        freeaddrinfo(answer);
    return *res != nullptr ? 0 : EAI_MEMORY;
}

extern "C" void tools_iscsi_freeaddrinfo(struct addrinfo *res)
{
    while (res != nullptr) {
        struct addrinfo *next = res->ai_next;
        free(res->ai_canonname);
        free(res);
        res = next;
    }
}
