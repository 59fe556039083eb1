// The initiator node name the service generates once when the host has
// none of its own.
#ifndef SERVICE_LIBISCSI_NODE_IDENTITY_H
#define SERVICE_LIBISCSI_NODE_IDENTITY_H

#include <cstddef>

// Writes a fresh IQN, "iqn.yyyy-mm.invalid.iscsi-tools:host-<16 hex>", into
// out[room] (room of at least 224), with the current month and random digits.
void generateInitiatorName(char *out, size_t room);

#endif  // SERVICE_LIBISCSI_NODE_IDENTITY_H
