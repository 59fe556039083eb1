// Name rules of the atom table: lengths, integer atoms, case folding.
#include "atomtable_posix/atom_names.h"

#include <cstring>

namespace {

char foldAsciiCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

AtomNameReading readAtomName(const char *name)
{
    AtomNameReading reading = {ATOM_NAME_INVALID, 0, 0};
    size_t length = strnlen(name, ATOM_NAME_MAX_BYTES + 1);
    if (length == 0 || length > ATOM_NAME_MAX_BYTES) {
        return reading;
    }
    bool integerForm = name[0] == '#' && length > 1;
    for (size_t i = 1; integerForm && i < length; ++i) {
        integerForm = isAsciiDigit(name[i]);
    }
    if (!integerForm) {
        reading.kind = ATOM_NAME_STRING;
        reading.length = length;
        return reading;
    }
    // The platform accumulates into 16 bits: "#65537" is the atom 1.
    unsigned value = 0;
    for (size_t i = 1; i < length; ++i) {
        value = (value * 10u + static_cast<unsigned>(name[i] - '0')) & 0xFFFFu;
    }
    if (value != 0 && value < MAXINTATOM) {
        reading.kind = ATOM_NAME_INTEGER;
        reading.integerAtom = static_cast<ATOM>(value);
    }
    return reading;
}

bool atomNamesEqual(const char *left, size_t leftLength, const char *right,
                    size_t rightLength)
{
    if (leftLength != rightLength) {
        return false;
    }
    for (size_t i = 0; i < leftLength; ++i) {
        if (foldAsciiCase(left[i]) != foldAsciiCase(right[i])) {
            return false;
        }
    }
    return true;
}
