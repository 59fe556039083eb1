// SQLite as Debian builds it sets up full-text search (FTS3/4 and FTS5),
// R-trees, two introspection tables (dbstat, sqlite_stmt) and the JSON
// tables on every connection it opens, and the JSON and date functions once
// per process: registering their functions and modules is a large part of
// opening a connection, and their code a quarter of the tools.  The store
// uses none of them.  So the static SQLite is linked with the calls of those
// set-up routines renamed to the functions below (cmake/ToolsLinkage.cmake),
// which register nothing; the extensions' code is then not linked at all.  A
// statement that used one would fail with "no such module" or "no such
// function".
#include <sqlite3.h>

#define WITHOUT_EXTENSION(name)                                                                    \
    extern "C" int tools_sqlite_without_##name(sqlite3 *)                                          \
    {                                                                                              \
        return SQLITE_OK;                                                                          \
    }

// Process-wide registrations of built-in functions.
#define WITHOUT_FUNCTIONS(name)                                                                    \
    extern "C" void tools_sqlite_without_##name()                                                  \
    {                                                                                              \
    }

// The list of cmake/ToolsLinkage.cmake (TOOLS_SQLITE_WITHOUT).
WITHOUT_EXTENSION(sqlite3Fts3Init)
WITHOUT_EXTENSION(sqlite3Fts5Init)
WITHOUT_EXTENSION(sqlite3RtreeInit)
WITHOUT_EXTENSION(sqlite3DbstatRegister)
WITHOUT_EXTENSION(sqlite3StmtVtabInit)
WITHOUT_EXTENSION(sqlite3JsonTableFunctions)
WITHOUT_FUNCTIONS(sqlite3RegisterJsonFunctions)
WITHOUT_FUNCTIONS(sqlite3RegisterDateTimeFunctions)
