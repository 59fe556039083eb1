#include "common/status_text.h"

#include "common/message_lookup.h"
#include "common/report_output.h"
#include "common/wide_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The platform's lookup writes into a fixed room, whatever the caller's count.
const ULONG kLookupRoom = 255;

ULONG lookupStatusText(ISDSC_STATUS status, WCHAR16 *buffer)
{
#ifdef _WIN32
    // From the discovery library's table first, then the system's; no line
    // breaks of its own, the stored ones ignored (width mask 0xFF).
    const DWORD flags =
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    return FormatMessageW(flags, GetModuleHandleW(L"iscsidsc.dll"), status, 0,
                          reinterpret_cast<LPWSTR>(buffer), kLookupRoom, nullptr);
#else
    ULONG stored = lookupServiceMessage(status, 0, buffer, kLookupRoom);
    if (stored == 0)
        stored = lookupSystemMessage(status, 0, buffer, kLookupRoom);
    return stored;
#endif
}

}  // namespace

WCHAR16 *formatStatus(WCHAR16 *buffer, ULONG count, ISDSC_STATUS status)
{
    if (lookupStatusText(status, buffer) == 0)
        printBounded(buffer, count, u"Status: 0x%x", status);
    return buffer;
}

void printFailure(const char *format, ISDSC_STATUS status)
{
    WCHAR16 statusText[STATUS_TEXT_CHARS];
    reportPrintf(format, formatStatus(statusText, STATUS_TEXT_CHARS, status));
}
