// The system's English texts for the error codes the atom operations leave.
#ifndef ATOMTABLE_POSIX_SYSTEM_MESSAGE_TEXTS_H
#define ATOMTABLE_POSIX_SYSTEM_MESSAGE_TEXTS_H

#include "atommarker/atom_platform.h"

// The text of `code` as the platform stores it, ending in "\r\n"; nullptr
// when there is none.  The text is static: never released.
const char *systemMessageText(DWORD code);

#endif  // ATOMTABLE_POSIX_SYSTEM_MESSAGE_TEXTS_H
