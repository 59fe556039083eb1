// Name rules of the atom table: lengths, integer atoms, case folding.
#include "atomtable_posix/atom_names.h"

#include <cstdint>
#include <cstring>

#include "atomtable_posix/atom_name_case.h"

namespace {

// A byte outside any well-formed UTF-8 sequence reads as this plus the
// byte: a lone surrogate, which well-formed UTF-8 never yields, so it
// equals nothing but the same byte.
const uint32_t kStrayByte = 0xDC00u;

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0u) == 0x80u;
}

// Reads one character of text[length] at *at and moves *at past it.
uint32_t nextCharacter(const char *text, size_t length, size_t *at)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    unsigned char lead = bytes[*at];
    size_t extra = lead < 0x80u                     ? 0
                   : lead >= 0xC2u && lead <= 0xDFu ? 1
                   : lead >= 0xE0u && lead <= 0xEFu ? 2
                   : lead >= 0xF0u && lead <= 0xF4u ? 3
                                                    : 4;
    if (extra == 0 || extra == 4) {
        ++*at;
        return extra == 0 ? lead : kStrayByte + lead;
    }
    uint32_t character = lead & (0x7Fu >> (extra + 1));
    for (size_t i = 1; i <= extra; ++i) {
        if (*at + i >= length || !isContinuation(bytes[*at + i])) {
            ++*at;
            return kStrayByte + lead;
        }
        character = (character << 6) | (bytes[*at + i] & 0x3Fu);
    }
    // Over-long forms, surrogates and values past 0x10FFFF are not UTF-8.
    const uint32_t smallest[] = {0, 0x80u, 0x800u, 0x10000u};
    if (character < smallest[extra] || (character >= 0xD800u && character <= 0xDFFFu) ||
        character > 0x10FFFFu) {
        ++*at;
        return kStrayByte + lead;
    }
    *at += extra + 1;
    return character;
}

// The character the comparison uses: the capital of a small letter that
// has one, anything else as it is.
uint32_t foldCase(uint32_t character)
{
    if (character >= 'a' && character <= 'z')
        return character - ('a' - 'A');
    if (character < 0x80u || character > 0xFFFFu)
        return character;
    unsigned low = 0;
    unsigned high = kAtomCaseRunCount;
    while (low < high) {
        unsigned middle = (low + high) / 2;
        const AtomCaseRun &run = kAtomCaseRuns[middle];
        if (character < run.first) {
            high = middle;
        } else if (character > run.last) {
            low = middle + 1;
        } else {
            return (character - run.first) % run.step == 0
                       ? static_cast<uint32_t>(static_cast<int32_t>(character) + run.delta)
                       : character;
        }
    }
    return character;
}

// The 16-bit characters that name[length] takes.
size_t characterCount(const char *name, size_t length)
{
    size_t count = 0;
    for (size_t at = 0; at < length;)
        count += nextCharacter(name, length, &at) > 0xFFFFu ? 2 : 1;
    return count;
}

}  // namespace

AtomNameReading readAtomName(const char *name)
{
    AtomNameReading reading = {ATOM_NAME_INVALID, 0, 0};
    size_t length = strnlen(name, ATOM_NAME_MAX_BYTES + 1);
    if (length == 0 || length > ATOM_NAME_MAX_BYTES ||
        characterCount(name, length) > ATOM_NAME_MAX_CHARS)
        return reading;
    bool integerForm = name[0] == '#' && length > 1;
    for (size_t i = 1; integerForm && i < length; ++i)
        integerForm = isAsciiDigit(name[i]);
    if (!integerForm) {
        reading.kind = ATOM_NAME_STRING;
        reading.length = length;
        return reading;
    }
    // The platform accumulates into 16 bits: "#65537" is the atom 1.
    unsigned value = 0;
    for (size_t i = 1; i < length; ++i)
        value = (value * 10u + static_cast<unsigned>(name[i] - '0')) & 0xFFFFu;
    if (value != 0 && value < MAXINTATOM) {
        reading.kind = ATOM_NAME_INTEGER;
        reading.integerAtom = static_cast<ATOM>(value);
    }
    return reading;
}

bool atomNamesEqual(const char *left, size_t leftLength, const char *right, size_t rightLength)
{
    size_t leftAt = 0;
    size_t rightAt = 0;
    while (leftAt < leftLength && rightAt < rightLength)
        if (foldCase(nextCharacter(left, leftLength, &leftAt)) !=
            foldCase(nextCharacter(right, rightLength, &rightAt)))
            return false;
    return leftAt == leftLength && rightAt == rightLength;
}
