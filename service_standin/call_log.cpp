#include "service_standin/call_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "service_standin/standin_state.h"

namespace {

void put(LogLine *line, const char *bytes, size_t length)
{
    // Keep room for "..." and the terminator.
    const size_t usable = LOG_LINE_ROOM - 4;
    if (line->cut)
        return;
    if (line->length + length > usable) {
        length = usable - line->length;
        line->cut = true;
    }
    memcpy(line->text + line->length, bytes, length);
    line->length += length;
    if (line->cut) {
        memcpy(line->text + line->length, "...", 3);
        line->length += 3;
    }
    line->text[line->length] = 0;
}

bool printable(unsigned long ch)
{
    return ch >= 0x20 && ch <= 0x7E && ch != '"';
}

}  // namespace

void logStart(LogLine *line, const char *operation)
{
    line->length = 0;
    line->cut = false;
    line->text[0] = 0;
    logText(line, operation);
}

void logText(LogLine *line, const char *text)
{
    put(line, text, strlen(text));
}

void logFormat(LogLine *line, const char *format, ...)
{
    char piece[256];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(piece, sizeof piece, format, arguments);
    va_end(arguments);
    if (length > 0)
        put(line, piece,
            static_cast<size_t>(length) < sizeof piece ? static_cast<size_t>(length)
                                                       : sizeof piece - 1);
}

namespace {

// The characters of a wide text up to its terminator or `limit`, quoted.
void putWideQuoted(LogLine *line, const WCHAR16 *text, size_t limit)
{
    put(line, "\"", 1);
    for (size_t i = 0; i < limit && text[i] != 0 && !line->cut; i++) {
        if (printable(text[i])) {
            char ch = static_cast<char>(text[i]);
            put(line, &ch, 1);
        } else {
            logFormat(line, "\\u{%04x}", static_cast<unsigned>(text[i]));
        }
    }
    put(line, "\"", 1);
}

}  // namespace

void logWide(LogLine *line, const char *name, const WCHAR16 *text)
{
    logFormat(line, " %s=", name);
    if (text == nullptr) {
        logText(line, "(none)");
        return;
    }
    putWideQuoted(line, text, static_cast<size_t>(-1));
}

void logBytes(LogLine *line, const char *name, const unsigned char *bytes, size_t length)
{
    logFormat(line, " %s=", name);
    if (bytes == nullptr) {
        logText(line, "(none)");
        return;
    }
    put(line, "\"", 1);
    for (size_t i = 0; i < length && !line->cut; i++)
        if (printable(bytes[i]))
            put(line, reinterpret_cast<const char *>(bytes + i), 1);
        else
            logFormat(line, "\\x{%02x}", static_cast<unsigned>(bytes[i]));
    put(line, "\"", 1);
}

void logOut(LogLine *line, const char *name, const void *pointer)
{
    logFormat(line, " %s=%s", name, pointer == nullptr ? "(none)" : "out");
}

namespace {

// A fixed text field of a portal record: the text, then "+unterminated" when
// it fills the field, or "+tail" when characters after its terminator are
// not 0.
void putPortalField(LogLine *line, const char *name, const WCHAR16 *field, size_t size)
{
    logFormat(line, "%s=", name);
    putWideQuoted(line, field, size);
    size_t length = 0;
    while (length < size && field[length] != 0)
        length++;
    if (length == size) {
        logText(line, "+unterminated");
        return;
    }
    for (size_t i = length + 1; i < size; i++) {
        if (field[i] != 0) {
            logText(line, "+tail");
            return;
        }
    }
}

}  // namespace

void logPortal(LogLine *line, const char *name, const ISCSI_TARGET_PORTALW *portal)
{
    logFormat(line, " %s=", name);
    if (portal == nullptr) {
        logText(line, "(none)");
        return;
    }
    logText(line, "(");
    putPortalField(line, "symbolic", portal->SymbolicName, MAX_ISCSI_PORTAL_NAME_LEN);
    logText(line, " ");
    putPortalField(line, "address", portal->Address, MAX_ISCSI_PORTAL_ADDRESS_LEN);
    logFormat(line, " socket=%u)", static_cast<unsigned>(portal->Socket));
}

void logLoginOptions(LogLine *line, const char *name, const ISCSI_LOGIN_OPTIONS *options)
{
    logFormat(line, " %s=", name);
    if (options == nullptr) {
        logText(line, "(none)");
        return;
    }
    logFormat(line, "(version=%lu info=0x%lx flags=0x%lx auth=%lu header=%lu data=%lu",
              static_cast<unsigned long>(options->Version),
              static_cast<unsigned long>(options->InformationSpecified),
              static_cast<unsigned long>(options->LoginFlags),
              static_cast<unsigned long>(options->AuthType),
              static_cast<unsigned long>(options->HeaderDigest),
              static_cast<unsigned long>(options->DataDigest));
    logFormat(line, " maxconn=%lu wait=%lu retain=%lu",
              static_cast<unsigned long>(options->MaximumConnections),
              static_cast<unsigned long>(options->DefaultTime2Wait),
              static_cast<unsigned long>(options->DefaultTime2Retain));
    logFormat(line, " userlen=%lu", static_cast<unsigned long>(options->UsernameLength));
    logBytes(line, "username", options->Username, options->UsernameLength);
    logFormat(line, " passlen=%lu", static_cast<unsigned long>(options->PasswordLength));
    logBytes(line, "password", options->Password, options->PasswordLength);
    logText(line, ")");
}

void logFinish(LogLine *line, ULONG status, const ULONG *returnedSize)
{
    // Statuses as scenarios write them: small codes in decimal, the
    // service's own (0xEFFF....) and other large ones in hexadecimal.
    char statusText[16];
    snprintf(statusText, sizeof statusText, status < 0x10000u ? "%lu" : "0x%lx",
             static_cast<unsigned long>(status));
    char suffix[64];
    int length = returnedSize != nullptr
                     ? snprintf(suffix, sizeof suffix, " -> %s size=%lu\n", statusText,
                                static_cast<unsigned long>(*returnedSize))
                     : snprintf(suffix, sizeof suffix, " -> %s\n", statusText);
    size_t bytes = static_cast<size_t>(length);
    // The end of the line always goes in, even after a cut.
    if (line->length + bytes + 1 > LOG_LINE_ROOM)
        line->length = LOG_LINE_ROOM - bytes - 1;
    memcpy(line->text + line->length, suffix, bytes + 1);
    line->length += bytes;
    appendCallLog(line->text, line->length);
}
