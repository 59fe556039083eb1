// The platform operations of atom_platform.h over the shared-memory table.
#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "atommarker/atom_platform.h"
#include "atomtable_posix/atom_names.h"
#include "atomtable_posix/atom_table_store.h"
#include "atomtable_posix/system_message_texts.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// Stands for every library that LoadLibraryA is asked for.
char loadedLibrary;

const DWORD kLanguageEnglish = 0x09;

void setLastError(DWORD code)
{
    lastError = code;
}

// The platform's MAKEINTATOM form: a "pointer" below 0x10000 is the
// integer atom itself.
bool isIntegerAtomPointer(LPCSTR text)
{
    return reinterpret_cast<uintptr_t>(text) < 0x10000u;
}

ATOM integerAtomOfPointer(LPCSTR text)
{
    ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(text));
    if (atom >= MAXINTATOM) {
        setLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return atom;
}

// The atom found (adding == false) or added for a string name; 0 with the
// last error set on failure.
ATOM lookUpStringAtom(const AtomNameReading &reading, LPCSTR name, bool adding)
{
    AtomTableShared *table = nullptr;
    DWORD result = mapAtomTable(&table);
    if (result == 0)
        result = lockAtomTable(table);
    if (result != 0) {
        setLastError(result);
        return 0;
    }
    ATOM atom = 0;
    if (adding) {
        result = addStringAtom(table, name, reading.length, &atom);
    } else {
        atom = findStringAtom(table, name, reading.length);
        result = atom != 0 ? 0 : ERROR_FILE_NOT_FOUND;
    }
    unlockAtomTable(table);
    if (result != 0) {
        setLastError(result);
        return 0;
    }
    return atom;
}

ATOM findOrAdd(LPCSTR name, bool adding)
{
    if (isIntegerAtomPointer(name))
        return integerAtomOfPointer(name);
    AtomNameReading reading = readAtomName(name);
    switch (reading.kind) {
    case ATOM_NAME_INTEGER:
        return reading.integerAtom;
    case ATOM_NAME_STRING:
        return lookUpStringAtom(reading, name, adding);
    case ATOM_NAME_INVALID:
        break;
    }
    setLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

// Line breaks become blanks under FORMAT_MESSAGE_MAX_WIDTH_MASK.
size_t renderMessage(const char *stored, bool oneLine, char *out)
{
    size_t length = 0;
    for (const char *p = stored; *p != '\0'; ++p) {
        if (oneLine && p[0] == '\r' && p[1] == '\n') {
            ++p;
            if (out != nullptr)
                out[length] = ' ';
        } else if (out != nullptr) {
            out[length] = *p;
        }
        ++length;
    }
    if (out != nullptr)
        out[length] = '\0';
    return length;
}

}  // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (lpLibFileName == nullptr) {
        setLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &loadedLibrary;
}

ATOM WINAPI GlobalFindAtomA(LPCSTR lpString)
{
    return findOrAdd(lpString, false);
}

ATOM WINAPI GlobalAddAtomA(LPCSTR lpString)
{
    return findOrAdd(lpString, true);
}

ATOM WINAPI GlobalDeleteAtom(ATOM nAtom)
{
    if (nAtom < MAXINTATOM)
        return 0;  // integer atoms are not stored
    AtomTableShared *table = nullptr;
    DWORD result = mapAtomTable(&table);
    if (result == 0) {
        result = lockAtomTable(table);
        if (result == 0) {
            result = releaseStringAtom(table, nAtom);
            unlockAtomTable(table);
        }
    }
    if (result != 0) {
        setLastError(result);
        return nAtom;
    }
    return 0;
}

DWORD WINAPI GetLastError(void)
{
    return lastError;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments)
{
    (void)lpSource;   // only system texts, which take no source
    (void)Arguments;  // no system text here has inserts
    bool allocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (allocate && lpBuffer != nullptr)
        *reinterpret_cast<char **>(lpBuffer) = nullptr;
    DWORD width = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (lpBuffer == nullptr || (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
        (dwFlags & FORMAT_MESSAGE_FROM_STRING) != 0 ||
        (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK)) {
        setLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD primaryLanguage = dwLanguageId & 0x3FFu;
    if (primaryLanguage != 0 && primaryLanguage != kLanguageEnglish) {
        setLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char *stored = systemMessageText(dwMessageId);
    if (stored == nullptr) {
        setLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    bool oneLine = width == FORMAT_MESSAGE_MAX_WIDTH_MASK;
    size_t length = renderMessage(stored, oneLine, nullptr);
    char *text = lpBuffer;
    if (allocate) {
        size_t room = length + 1 > nSize ? length + 1 : nSize;
        text = static_cast<char *>(std::malloc(room));
        if (text == nullptr) {
            setLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<char **>(lpBuffer) = text;
    } else if (nSize < length + 1) {
        setLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    renderMessage(stored, oneLine, text);
    return static_cast<DWORD>(length);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}

}  // extern "C"
