// How the store keeps a row's login settings (all but the CHAP secret, which
// has a column of its own): one blob, the nine numbers of LoginSettings in
// their declared order, four bytes each, least significant byte first, then
// the CHAP user name's bytes (0 to 255).  One column in place of ten keeps
// the store's schema and statements short: SQLite compiles both anew in
// every process.
#ifndef SERVICE_LIBISCSI_STORED_LOGIN_H
#define SERVICE_LIBISCSI_STORED_LOGIN_H

#include <cstddef>

#include "service_support/login_settings.h"

#define STORED_LOGIN_NUMBER_BYTES 36
#define STORED_LOGIN_MAX_BYTES (STORED_LOGIN_NUMBER_BYTES + LOGIN_SECRET_BYTES)

// Writes login's blob (its secret left out) to out; returns its length.
size_t encodeStoredLogin(const LoginSettings &login, unsigned char (&out)[STORED_LOGIN_MAX_BYTES]);

// Fills the numbers and the user name of *login from blob[size] (the secret
// is left as it is); false, with *login unchanged, when the blob is not one
// that encodeStoredLogin writes.
bool decodeStoredLogin(const void *blob, size_t size, LoginSettings *login);

#endif  // SERVICE_LIBISCSI_STORED_LOGIN_H
