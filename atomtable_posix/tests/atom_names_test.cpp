// How the table reads names: lengths, integer atoms, case folding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "atomtable_posix/atom_names.h"

namespace {

std::string repeat(const std::string &piece, size_t times)
{
    std::string text;
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

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
        {"#65537", ATOM_NAME_INTEGER, 1},  // counted in 16 bits
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
        // The limit counts 16-bit characters, not bytes.
        {repeat("\xc3\xa9", 255), ATOM_NAME_STRING, 0},  // 510 bytes
        {repeat("\xc3\xa9", 256), ATOM_NAME_INVALID, 0},
        {repeat("\xe4\xb8\xad", 255), ATOM_NAME_STRING, 0},  // 765 bytes
        {repeat("\xe4\xb8\xad", 255) + "a", ATOM_NAME_INVALID, 0},
        {repeat("\xf0\x9f\x98\x80", 127) + "a", ATOM_NAME_STRING, 0},  // two each
        {repeat("\xf0\x9f\x98\x80", 128), ATOM_NAME_INVALID, 0},
        {std::string(255, '\xff'), ATOM_NAME_STRING, 0},  // a stray byte is one
        {std::string(256, '\xff'), ATOM_NAME_INVALID, 0},
        {"#1\xd9\xa3", ATOM_NAME_STRING, 0},  // an Arabic digit
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE("name \"" + c.name.substr(0, 20) + "\" of " + std::to_string(c.name.size()) +
                     " bytes");
        AtomNameReading reading = readAtomName(c.name.c_str());
        EXPECT_EQ(c.kind, reading.kind);
        if (c.kind == ATOM_NAME_INTEGER)
            EXPECT_EQ(c.integerAtom, reading.integerAtom);
        if (c.kind == ATOM_NAME_STRING)
            EXPECT_EQ(c.name.size(), reading.length);
    }
}

TEST(AtomNames, ComparesWithoutRegardToCase)
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
        {"a@[", "A`{", false},  // neighbours of the letters
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", true},
        {"\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89", true},  // é É
        {"\xc3\xbf", "\xc5\xb8", true},                    // ÿ Ÿ
        {"\xc5\xa1", "\xc5\xa0", true},                    // š Š
        {"\xd0\xb4\xd0\xb0", "\xd0\x94\xd0\x90", true},    // да ДА
        {"\xe1\xbe\x80", "\xe1\xbe\x88", true},            // ᾀ and its title form
        {"\xe2\xb1\xa5", "\xc8\xba", true},                // ⱥ Ⱥ: 3 and 2 bytes
        {"\xc3\x9f", "\xe1\xba\x9e", false},               // ß ẞ: no pair
        {"\xc2\xb5", "\xce\x9c", false},                   // micro sign, Mu
        {"\xc4\xb1", "I", false},                          // dotless i
        {"\xc5\xbf", "S", false},                          // long s
        {"k", "\xe2\x84\xaa", false},                      // Kelvin sign
        {"\xf0\x90\x90\xa8", "\xf0\x90\x90\x80", false},   // beyond 16 bits
        {"\xe9", "\xc9", false},                           // stray bytes as they are
        {"\xe9", "\xe9", true},
        {"\xc1\x81", "A", false},     // over-long "A"
        {"\xc3", "\xc3\xa9", false},  // cut sequence
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.left) + " / " + c.right);
        EXPECT_EQ(c.equal, atomNamesEqual(c.left, strlen(c.left), c.right, strlen(c.right)));
        EXPECT_EQ(c.equal, atomNamesEqual(c.right, strlen(c.right), c.left, strlen(c.left)));
    }
}

}  // namespace
