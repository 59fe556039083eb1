// A fuzz-driven initiator service: the nine operations of
// common/iscsi_service.h and lookupServiceMessage, each call answered with
// the status, sizes and bytes that the next bytes of the fuzz input choose.
//
// It behaves as a careless but not malicious service would: it writes all of
// the room a caller gives it (the caller's own buffer, never more), may claim
// sizes that do not match what it wrote, may leave texts unterminated and
// may point the login options' user name anywhere.  It also checks the
// callers' side of each contract and aborts, so that the fuzzer reports it,
// when a caller breaks one:
//   - every text argument is terminated and readable, every record whole;
//   - a login-options record's user name and password are readable for
//     their lengths;
//   - the second target-information call of a pair gives exactly the size
//     that the first one asked for.
#ifndef FUZZ_FUZZ_SERVICE_H
#define FUZZ_FUZZ_SERVICE_H

#include <cstddef>
#include <cstdint>

// Starts answering from data[size]; the bytes must outlive the run.  Forgets
// everything of the previous run.
void startFuzzService(const uint8_t *data, size_t size);

// Calls the service answered since startFuzzService.
size_t fuzzServiceCalls();

#endif  // FUZZ_FUZZ_SERVICE_H
