// The platform operations tessmark reaches: the global atom table, the last
// error code, the system's message texts and the library loader.
//
// On Windows they are the system's own (<windows.h>, kernel32).  Elsewhere
// this header declares them with the platform's names, types and values, and
// a library of ours provides them: atomtable_posix for the tool, a recording
// stand-in for the tests of the run routine.
//
// Contracts every implementation keeps (as the platform does):
//   - An atom is a 16-bit value; 0 means "no atom" in every result.
//   - A refusing call returns 0 and leaves its reason for GetLastError.
//   - FormatMessageA with FORMAT_MESSAGE_ALLOCATE_BUFFER stores a pointer to
//     a text it allocated at the address passed as lpBuffer; the caller owns
//     that text and releases it with LocalFree.
#ifndef ATOMMARKER_ATOM_PLATFORM_H
#define ATOMMARKER_ATOM_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdarg>
#include <cstdint>

typedef uint16_t ATOM;
typedef uint32_t DWORD;
typedef void *HMODULE;
typedef void *HLOCAL;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef const void *LPCVOID;
#define WINAPI

#define MAXINTATOM 0xC000u

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_GEN_FAILURE 31u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_MR_MID_NOT_FOUND 317u
#define ERROR_TIMEOUT 1460u
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815u

extern "C" {

// Loads a library by name.  Returns its handle, 0 on failure.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);

// The atom that carries lpString, or 0 (with the reason for GetLastError:
// ERROR_FILE_NOT_FOUND when no such name is in the table).
ATOM WINAPI GlobalFindAtomA(LPCSTR lpString);

// Adds lpString, or takes one more reference to it when the table holds the
// name already.  Returns the atom, or 0 when the table refuses the name.
ATOM WINAPI GlobalAddAtomA(LPCSTR lpString);

// Releases one reference to nAtom; the name goes with the last one.
// Returns 0 on success, nAtom when there is no such atom.
ATOM WINAPI GlobalDeleteAtom(ATOM nAtom);

// The last error code that an operation of this thread left.
DWORD WINAPI GetLastError(void);

// The text of message dwMessageId.  Returns the characters stored before
// the terminating NUL, 0 on failure (reason for GetLastError).
DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments);

// Releases memory that the platform allocated (a FormatMessageA text).
// Returns 0 on success, hMem on failure.
HLOCAL WINAPI LocalFree(HLOCAL hMem);

}  // extern "C"
#endif  // _WIN32

#endif  // ATOMMARKER_ATOM_PLATFORM_H
