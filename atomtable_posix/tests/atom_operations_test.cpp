// The seven operations over a private table, in one process: what each
// returns and which error code it leaves, step after step.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "atommarker/atom_platform.h"
#include "atomtable_posix/atom_table_store.h"
#include "atomtable_posix/system_message_texts.h"
#include "atomtable_posix/tests/atom_test_support.h"

namespace {

// GlobalDeleteAtom of an atom no name carries leaves ERROR_INVALID_HANDLE:
// set before each step, it shows whether the step left a code of its own.
const DWORD kUntouched = ERROR_INVALID_HANDLE;
const ATOM kNeverUsed = 0xFFFF;

void setSentinelError()
{
    ASSERT_EQ(kNeverUsed, GlobalDeleteAtom(kNeverUsed));
    ASSERT_EQ(kUntouched, GetLastError());
}

enum Operation {
    FIND,
    ADD,
    DELETE
};

struct Step {
    Operation operation;
    std::string name;  // FIND, ADD
    ATOM atom;         // DELETE
    ATOM result;
    DWORD error;  // left for GetLastError
};

const std::string kLongest(255, 'n');
const std::string kTooLong(256, 'n');
const std::string kLongestUpper(255, 'N');

// 255 characters of two bytes each.
std::string accented(size_t characters)
{
    std::string text;
    for (size_t i = 0; i < characters; ++i)
        text += "\xc3\xa9";
    return text;
}
const std::string kLongestAccented = accented(255);

class AtomOperationsTest : public PrivateAtomTableTest {};

TEST_F(AtomOperationsTest, FindAddDeleteAndTheirErrorCodes)
{
    const Step steps[] = {
        {FIND, "marker", 0, 0, ERROR_FILE_NOT_FOUND},
        {ADD, "marker", 0, 0xC000, kUntouched},
        {FIND, "MARKER", 0, 0xC000, kUntouched},
        {ADD, "Marker", 0, 0xC000, kUntouched},  // second reference
        {ADD, "other", 0, 0xC001, kUntouched},
        {DELETE, "", 0xC000, 0, kUntouched},
        {FIND, "marker", 0, 0xC000, kUntouched},  // one reference left
        {DELETE, "", 0xC000, 0, kUntouched},
        {FIND, "marker", 0, 0, ERROR_FILE_NOT_FOUND},
        {DELETE, "", 0xC000, 0xC000, ERROR_INVALID_HANDLE},
        {ADD, "again", 0, 0xC000, kUntouched},  // lowest free atom
        {FIND, "other", 0, 0xC001, kUntouched},
        {FIND, "", 0, 0, ERROR_INVALID_PARAMETER},
        {ADD, "", 0, 0, ERROR_INVALID_PARAMETER},
        {ADD, kLongest, 0, 0xC002, kUntouched},
        {FIND, kLongestUpper, 0, 0xC002, kUntouched},
        {FIND, kTooLong, 0, 0, ERROR_INVALID_PARAMETER},
        {ADD, kTooLong, 0, 0, ERROR_INVALID_PARAMETER},
        // Integer atoms are found without being added.
        {FIND, "#1", 0, 1, kUntouched},
        {ADD, "#1", 0, 1, kUntouched},
        {FIND, "#49151", 0, 0xBFFF, kUntouched},
        {FIND, "#0012", 0, 12, kUntouched},
        {FIND, "#65537", 0, 1, kUntouched},
        {FIND, "#0", 0, 0, ERROR_INVALID_PARAMETER},
        {ADD, "#0", 0, 0, ERROR_INVALID_PARAMETER},
        {FIND, "#49152", 0, 0, ERROR_INVALID_PARAMETER},
        {ADD, "#49152", 0, 0, ERROR_INVALID_PARAMETER},
        {ADD, "#65536", 0, 0, ERROR_INVALID_PARAMETER},
        {DELETE, "", 5, 0, kUntouched},
        // Not of the integer form: string atoms.
        {FIND, "#abc", 0, 0, ERROR_FILE_NOT_FOUND},
        {ADD, "#abc", 0, 0xC003, kUntouched},
        {ADD, "#12abc", 0, 0xC004, kUntouched},
        {ADD, "#", 0, 0xC005, kUntouched},
        {ADD, "#12 ", 0, 0xC006, kUntouched},
        {FIND, "#ABC", 0, 0xC003, kUntouched},
        // Letters beyond ASCII fold too; the limit counts characters.
        {ADD, "\xc3\xa9t\xc3\xa9", 0, 0xC007, kUntouched},
        {FIND, "\xc3\x89T\xc3\x89", 0, 0xC007, kUntouched},
        {ADD, kLongestAccented, 0, 0xC008, kUntouched},
        {FIND, kLongestAccented, 0, 0xC008, kUntouched},
        {ADD, kLongestAccented + "e", 0, 0, ERROR_INVALID_PARAMETER},
    };
    int number = 0;
    for (const Step &step : steps) {
        SCOPED_TRACE("step " + std::to_string(++number) + ": " + step.name.substr(0, 16));
        setSentinelError();
        ATOM result = 0;
        switch (step.operation) {
        case FIND:
            result = GlobalFindAtomA(step.name.c_str());
            break;
        case ADD:
            result = GlobalAddAtomA(step.name.c_str());
            break;
        case DELETE:
            result = GlobalDeleteAtom(step.atom);
            break;
        }
        EXPECT_EQ(step.result, result);
        EXPECT_EQ(step.error, GetLastError());
    }
}

// The platform's MAKEINTATOM form: a value below 0x10000 in place of the
// pointer is the integer atom itself.
TEST_F(AtomOperationsTest, IntegerAtomInPlaceOfTheName)
{
    setSentinelError();
    EXPECT_EQ(5, GlobalFindAtomA(reinterpret_cast<LPCSTR>(uintptr_t{5})));
    EXPECT_EQ(0xBFFF, GlobalAddAtomA(reinterpret_cast<LPCSTR>(uintptr_t{0xBFFF})));
    EXPECT_EQ(kUntouched, GetLastError());
    EXPECT_EQ(0, GlobalAddAtomA(reinterpret_cast<LPCSTR>(uintptr_t{0xC000})));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(AtomOperationsTest, FullTableRefusesWithNotEnoughMemory)
{
    char name[32];
    for (unsigned i = 0; i < ATOM_TABLE_SLOTS; ++i) {
        std::snprintf(name, sizeof name, "fill-%u", i);
        ATOM atom = GlobalAddAtomA(name);
        ASSERT_EQ(ATOM_TABLE_FIRST_STRING_ATOM + i, atom) << name;
    }
    EXPECT_EQ(0xFFFF, GlobalFindAtomA("FILL-16383"));
    EXPECT_EQ(0, GlobalAddAtomA("one-too-many"));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    EXPECT_EQ(0xC000, GlobalAddAtomA("fill-0")) << "a name already there takes a reference";
    EXPECT_EQ(0, GlobalDeleteAtom(0xD000));
    EXPECT_EQ(0xD000, GlobalAddAtomA("one-too-many")) << "the freed atom is used again";
}

TEST(AtomMessages, SystemTextsForTheCodesTheTableLeaves)
{
    // Every code the atom operations leave has a stored text, handed out
    // whole.  (The wording itself is checked once, for 87, below.)
    const DWORD codes[] = {
        ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,    ERROR_NOT_ENOUGH_MEMORY,
        ERROR_INVALID_DATA,   ERROR_GEN_FAILURE,   ERROR_INVALID_PARAMETER, ERROR_TIMEOUT,
    };
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        const char *stored = systemMessageText(code);
        ASSERT_NE(nullptr, stored);
        char *text = nullptr;
        DWORD length =
            FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        ASSERT_NE(nullptr, text);
        EXPECT_STREQ(stored, text);
        EXPECT_EQ(strlen(stored), length);
        EXPECT_EQ(nullptr, LocalFree(text));
    }
}

TEST(AtomMessages, LookupVariantsAndFailures)
{
    const DWORD system = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD allocate = system | FORMAT_MESSAGE_ALLOCATE_BUFFER;

    char *text = reinterpret_cast<char *>(&text);  // must be cleared on failure
    EXPECT_EQ(
        0u, FormatMessageA(allocate, nullptr, 4242, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr));
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(ERROR_MR_MID_NOT_FOUND, GetLastError());

    EXPECT_EQ(0u, FormatMessageA(allocate, nullptr, 87, 0x0407, reinterpret_cast<LPSTR>(&text), 0,
                                 nullptr));
    EXPECT_EQ(ERROR_RESOURCE_LANG_NOT_FOUND, GetLastError());

    EXPECT_EQ(28u, FormatMessageA(allocate | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 87, 0x0409,
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr));
    EXPECT_STREQ("The parameter is incorrect. ", text);
    LocalFree(text);

    char fits[30];
    EXPECT_EQ(29u, FormatMessageA(system, nullptr, 87, 0, fits, sizeof fits, nullptr));
    EXPECT_STREQ("The parameter is incorrect.\r\n", fits);
    char tooSmall[29];
    EXPECT_EQ(0u, FormatMessageA(system, nullptr, 87, 0, tooSmall, sizeof tooSmall, nullptr));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());

    EXPECT_EQ(0u,
              FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "text", 0, 0, fits, sizeof fits, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(AtomLibraryLoader, HandsOutAHandle)
{
    EXPECT_NE(nullptr, LoadLibraryA("user32.dll"));
}

TEST(AtomTableName, ChosenByTheEnvironmentOrTheUser)
{
    struct {
        const char *setting;  // nullptr: unset
        DWORD result;
        std::string name;
    } cases[] = {
        {nullptr, 0, "/tessmark-atoms-" + std::to_string(geteuid())},
        {"", 0, "/tessmark-atoms-" + std::to_string(geteuid())},
        {"/my-table", 0, "/my-table"},
        {"my-table", 0, "/my-table"},
        {"/my/table", ERROR_INVALID_PARAMETER, ""},
        {"/", ERROR_INVALID_PARAMETER, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setting ? c.setting : "(unset)");
        if (c.setting != nullptr)
            setenv(ATOM_TABLE_ENVIRONMENT, c.setting, 1);
        else
            unsetenv(ATOM_TABLE_ENVIRONMENT);
        char name[ATOM_TABLE_NAME_ROOM];
        DWORD result = resolveAtomTableName(name, sizeof name);
        EXPECT_EQ(c.result, result);
        if (result == 0)
            EXPECT_EQ(c.name, name);
    }
    std::string tooLong(ATOM_TABLE_NAME_ROOM, 'x');
    setenv(ATOM_TABLE_ENVIRONMENT, tooLong.c_str(), 1);
    char name[ATOM_TABLE_NAME_ROOM];
    EXPECT_EQ(ERROR_INVALID_PARAMETER, resolveAtomTableName(name, sizeof name));
    unsetenv(ATOM_TABLE_ENVIRONMENT);
}

}  // namespace
