// The real tessmark executable over a private atom table: a scenario of
// runs, each a process of its own, with whole outputs and exit codes.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "atomtable_posix/tests/atom_test_support.h"

namespace {

struct ToolRun {
    std::vector<std::string> arguments;
    std::string output;
    int exitCode;
};

const std::string kUsage = "Usage: tessmark operation uniqueid\n"
                           "\n"
                           "  operation      add     add a global atom\n"
                           "                 delete  delete a global atom\n"
                           "                 find    find a global atom\n"
                           "  uniqueid       a uniqueid to use for the global atom\n";
const std::string kRefusedAsInvalid = "The parameter is incorrect.\r\n\nNew Atom: 0\n";
const std::string kLongest(255, 'm');
const std::string kLongestUpper(255, 'M');
const std::string kTooLong(256, 'm');

void runScenario(const std::vector<ToolRun> &runs)
{
    int number = 0;
    for (const ToolRun &run : runs) {
        std::string shown;
        for (const std::string &argument : run.arguments)
            shown += " " + argument.substr(0, 12);
        SCOPED_TRACE("run " + std::to_string(++number) + ":" + shown);
        ProcessResult result = runTessmark(run.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(run.output, result.output);
        EXPECT_EQ(run.exitCode, result.exitCode);
        EXPECT_EQ("", result.errors) << "nothing goes to standard error";
    }
}

class TessmarkEndToEndTest : public PrivateAtomTableTest {};

TEST_F(TessmarkEndToEndTest, MarkerAddedByOneRunIsSeenByTheNext)
{
    runScenario({
        {{"find", "marker-one"}, "Atom not found for: marker-one\n", 3},
        {{"delete", "marker-one"}, "Atom not found for: marker-one\n", 3},
        {{"add", "marker-one"}, "New Atom: 49152\n", 0},
        {{"find", "marker-one"}, "Found Atom: 49152\n", 0},
        {{"find", "MARKER-ONE"}, "Found Atom: 49152\n", 0},
        {{"add", "Marker-One"}, "Atom already exists for: Marker-One\n", 2},
        {{"add", "marker-two"}, "New Atom: 49153\n", 0},
        {{"delete", "marker-one"}, "Deleted Atom: 49152\n", 0},
        {{"find", "marker-one"}, "Atom not found for: marker-one\n", 3},
        {{"find", "marker-two"}, "Found Atom: 49153\n", 0},
        {{"add", "marker three"}, "New Atom: 49152\n", 0},
    });
}

TEST_F(TessmarkEndToEndTest, NameLengthsAndRefusals)
{
    runScenario({
        {{"add", ""}, kRefusedAsInvalid, 0},
        {{"find", ""}, "Atom not found for: \n", 3},
        {{"add", kLongest}, "New Atom: 49152\n", 0},
        {{"find", kLongestUpper}, "Found Atom: 49152\n", 0},
        {{"add", kTooLong}, kRefusedAsInvalid, 0},
        {{"find", kTooLong}, "Atom not found for: " + kTooLong + "\n", 3},
        {{"delete", kLongest}, "Deleted Atom: 49152\n", 0},
        {{"find", kLongest}, "Atom not found for: " + kLongest + "\n", 3},
    });
}

TEST_F(TessmarkEndToEndTest, IntegerAtoms)
{
    runScenario({
        {{"find", "#100"}, "Found Atom: 100\n", 0},
        {{"add", "#100"}, "Atom already exists for: #100\n", 2},
        {{"delete", "#100"}, "Deleted Atom: 100\n", 0},
        {{"find", "#100"}, "Found Atom: 100\n", 0},
        {{"find", "#49151"}, "Found Atom: 49151\n", 0},
        {{"find", "#0012"}, "Found Atom: 12\n", 0},
        {{"find", "#0"}, "Atom not found for: #0\n", 3},
        {{"add", "#0"}, kRefusedAsInvalid, 0},
        {{"add", "#49152"}, kRefusedAsInvalid, 0},
        {{"find", "#12abc"}, "Atom not found for: #12abc\n", 3},
        {{"add", "#12abc"}, "New Atom: 49152\n", 0},
        {{"find", "#12ABC"}, "Found Atom: 49152\n", 0},
    });
}

TEST_F(TessmarkEndToEndTest, CommandLinesThatAreNotOperations)
{
    runScenario({
        {{}, "Invalid syntax.\n" + kUsage, 1},
        {{"add"}, "Invalid syntax.\n" + kUsage, 1},
        {{"add", "marker", "extra"}, "Invalid syntax.\n" + kUsage, 1},
        {{"Add", "marker"}, "Invalid operation specified: Add\n" + kUsage, 1},
        {{"adds", "marker"}, "Invalid operation specified: adds\n" + kUsage, 1},
        {{"find", "marker"}, "Atom not found for: marker\n", 3},  // nothing was added
    });
}

TEST_F(TessmarkEndToEndTest, EnvironmentChoosesTheTable)
{
    runScenario({{{"add", "chosen"}, "New Atom: 49152\n", 0}});
    std::string other = tableName + "-other";
    setenv("TESSMARK_ATOM_TABLE", other.c_str(), 1);
    runScenario({
        {{"find", "chosen"}, "Atom not found for: chosen\n", 3},
        {{"add", "elsewhere"}, "New Atom: 49152\n", 0},
    });
    shm_unlink(other.c_str());
    setenv("TESSMARK_ATOM_TABLE", tableName.c_str(), 1);
    runScenario({{{"find", "chosen"}, "Found Atom: 49152\n", 0}});
}

}  // namespace
