// The recording stand-in of the platform operations.
#include "atommarker/tests/recording_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

PlatformScript script;
const std::string *observedOutput = nullptr;
std::vector<RecordedCall> calls;
char *handedOutText = nullptr;
int unreleased = 0;
void (*localFreeHook)() = nullptr;
char libraryHandle;

void record(const std::string &call)
{
    calls.push_back({call, observedOutput != nullptr ? observedOutput->size() : 0});
}

std::string hex(unsigned long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

}  // namespace

void startRecording(const PlatformScript &newScript, const std::string *output)
{
    script = newScript;
    observedOutput = output;
    calls.clear();
    handedOutText = nullptr;
    unreleased = 0;
}

const std::vector<RecordedCall> &recordedCalls()
{
    return calls;
}

int unreleasedMessageTexts()
{
    return unreleased;
}

void setLocalFreeHook(void (*hook)())
{
    localFreeHook = hook;
}

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    record(std::string("LoadLibraryA(") + lpLibFileName + ")");
    return &libraryHandle;
}

ATOM WINAPI GlobalFindAtomA(LPCSTR lpString)
{
    record(std::string("GlobalFindAtomA(") + lpString + ")");
    return script.findResult;
}

ATOM WINAPI GlobalAddAtomA(LPCSTR lpString)
{
    record(std::string("GlobalAddAtomA(") + lpString + ")");
    return script.addResult;
}

ATOM WINAPI GlobalDeleteAtom(ATOM nAtom)
{
    record("GlobalDeleteAtom(" + std::to_string(nAtom) + ")");
    return 0;
}

DWORD WINAPI GetLastError(void)
{
    record("GetLastError()");
    return script.lastError;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments)
{
    record("FormatMessageA(" + hex(dwFlags) + ", " + (lpSource ? "source" : "null") + ", " +
           std::to_string(dwMessageId) + ", " + std::to_string(dwLanguageId) + ", " +
           (lpBuffer ? "buffer" : "null") + ", " + std::to_string(nSize) + ", " +
           (Arguments ? "arguments" : "null") + ")");
    if (script.messageText == nullptr || lpBuffer == nullptr)
        return 0;
    size_t length = strlen(script.messageText);
    handedOutText = static_cast<char *>(std::malloc(length + 1));
    memcpy(handedOutText, script.messageText, length + 1);
    *reinterpret_cast<char **>(lpBuffer) = handedOutText;
    ++unreleased;
    return static_cast<DWORD>(length);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    bool ours = hMem != nullptr && hMem == handedOutText;
    record(std::string("LocalFree(") + (ours ? "message text" : "other") + ")");
    if (localFreeHook != nullptr)
        localFreeHook();
    if (ours) {
        std::free(hMem);
        handedOutText = nullptr;
        --unreleased;
    }
    return nullptr;
}

}  // extern "C"
