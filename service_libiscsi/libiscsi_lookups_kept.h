// libiscsi's address lookups, kept for the process (libiscsi_lookups_kept.cpp;
// the static libiscsi calls these in place of getaddrinfo and freeaddrinfo).
#ifndef SERVICE_LIBISCSI_LIBISCSI_LOOKUPS_KEPT_H
#define SERVICE_LIBISCSI_LIBISCSI_LOOKUPS_KEPT_H

struct addrinfo;

// getaddrinfo, with the answer for a node looked up without service and hints
// kept for the process; the list it gives is freed with
// tools_iscsi_freeaddrinfo.
extern "C" int tools_iscsi_getaddrinfo(const char *node, const char *service,
                                       const struct addrinfo *hints, struct addrinfo **res);
extern "C" void tools_iscsi_freeaddrinfo(struct addrinfo *res);

#endif  // SERVICE_LIBISCSI_LIBISCSI_LOOKUPS_KEPT_H
