// How the table reads names: lengths, integer atoms, case folding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "atomtable_posix/atom_names.h"

namespace {

struct NameCase {
    std::string name;
    AtomNameKind kind;
    unsigned integerAtom;
};

TEST(AtomNames, ReadsNamesAsThePlatformDoes)
{
    const NameCase cases[] = {
        {"", ATOM_NAME_INVALID, 0},
        {"marker", ATOM_NAME_STRING, 0},
        {std::string(255, 'a'), ATOM_NAME_STRING, 0},
        {std::string(256, 'a'), ATOM_NAME_INVALID, 0},
        {"#1", ATOM_NAME_INTEGER, 1},
        {"#49151", ATOM_NAME_INTEGER, 0xBFFF},
        {"#0012", ATOM_NAME_INTEGER, 12},
        {"#0", ATOM_NAME_INVALID, 0},
        {"#000", ATOM_NAME_INVALID, 0},
        {"#49152", ATOM_NAME_INVALID, 0},
        {"#65535", ATOM_NAME_INVALID, 0},
        {"#65536", ATOM_NAME_INVALID, 0},
        {"#65537", ATOM_NAME_INTEGER, 1},       // counted in 16 bits
        {"#99999", ATOM_NAME_INTEGER, 34463},
        {"#" + std::string(253, '0') + "7", ATOM_NAME_INTEGER, 7},  // 255 bytes
        {"#" + std::string(254, '0') + "7", ATOM_NAME_INVALID, 0},  // 256 bytes
        {"#", ATOM_NAME_STRING, 0},
        {"#abc", ATOM_NAME_STRING, 0},
        {"#12abc", ATOM_NAME_STRING, 0},
        {"#12 ", ATOM_NAME_STRING, 0},
        {"# 12", ATOM_NAME_STRING, 0},
        {"#+1", ATOM_NAME_STRING, 0},
        {"#-1", ATOM_NAME_STRING, 0},
        {"12", ATOM_NAME_STRING, 0},
        {"##12", ATOM_NAME_STRING, 0},
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE("name \"" + c.name.substr(0, 20) + "\" of " + std::to_string(c.name.size()) + " bytes");
        AtomNameReading reading = readAtomName(c.name.c_str());
        EXPECT_EQ(c.kind, reading.kind);
        if (c.kind == ATOM_NAME_INTEGER) {
            EXPECT_EQ(c.integerAtom, reading.integerAtom);
        }
        if (c.kind == ATOM_NAME_STRING) {
            EXPECT_EQ(c.name.size(), reading.length);
        }
    }
}

TEST(AtomNames, ComparesWithoutRegardToAsciiCase)
{
    struct {
        const char *left;
        const char *right;
        bool equal;
    } cases[] = {
        {"marker", "marker", true},
        {"Marker-1", "mARKER-1", true},
        {"marker", "markers", false},
        {"marker", "market", false},
        {"a@[", "A`{", false},                   // neighbours of the letters
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", true},
        {"\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89", false},  // ASCII only
        {"\xe9", "\xc9", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.left) + " / " + c.right);
        EXPECT_EQ(c.equal, atomNamesEqual(c.left, std::strlen(c.left), c.right, std::strlen(c.right)));
    }
}

}  // namespace
