// Helpers for the tests of the atom table and of tessmark across processes:
// a private table per test, and runs of the real tessmark executable.
#ifndef ATOMTABLE_POSIX_TESTS_ATOM_TEST_SUPPORT_H
#define ATOMTABLE_POSIX_TESTS_ATOM_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "atomtable_posix/atom_table_store.h"

struct ProcessResult {
    bool finished;       // false: killed when its time was up
    int exitCode;        // when finished
    std::string output;  // standard output, whole
    std::string errors;  // standard error, whole
};

// Runs tessmark with `arguments` (after the program name) in the test's
// environment; kills it by its pid after timeoutMilliseconds.
ProcessResult runTessmark(const std::vector<std::string> &arguments,
                          int timeoutMilliseconds = 10000);

// The reference count of a string atom as the shared layout holds it, 0
// when no name carries the atom.  Requires the table's lock.
uint32_t atomReferences(const AtomTableShared *table, ATOM atom);

// Every test gets a table of its own: TESSMARK_ATOM_TABLE names it while
// the test runs (inherited by the processes it starts), and the table is
// removed at the end.
class PrivateAtomTableTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string tableName;  // with its leading "/"
};

#endif  // ATOMTABLE_POSIX_TESTS_ATOM_TEST_SUPPORT_H
