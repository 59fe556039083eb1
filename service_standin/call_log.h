// The stand-in's call log: one line per service call, in a stable text form
// (README.md shows every line).  Internal to the stand-in.
#ifndef SERVICE_STANDIN_CALL_LOG_H
#define SERVICE_STANDIN_CALL_LOG_H

#include <cstddef>

#include "common/iscsi_service.h"

// A line under construction, in a fixed buffer; text that does not fit is
// cut and the line ends with "...".
#define LOG_LINE_ROOM 16384

struct LogLine {
    char text[LOG_LINE_ROOM];
    size_t length;
    bool cut;
};

void logStart(LogLine *line, const char *operation);
void logText(LogLine *line, const char *text);
void logFormat(LogLine *line, const char *format, ...);
// name="wide text" (quoted, escaped), or name=(none) for a null pointer.
void logWide(LogLine *line, const char *name, const WCHAR16 *text);
// name="bytes" for `length` 8-bit bytes, or name=(none) for a null pointer.
void logBytes(LogLine *line, const char *name, const unsigned char *bytes, size_t length);
// name=out, or name=(none) for a null pointer.
void logOut(LogLine *line, const char *name, const void *pointer);
// name=(symbolic="..." address="..." socket=N), or name=(none).
void logPortal(LogLine *line, const char *name, const ISCSI_TARGET_PORTALW *portal);
// name=(version=... password="..." ...), or name=(none).
void logLoginOptions(LogLine *line, const char *name, const ISCSI_LOGIN_OPTIONS *options);

// Ends the line with " -> STATUS" and hands it to the log (memory and, when
// ISCSI_STANDIN_LOG is set, the file).  `returnedSize` is written as
// " size=N" after the status when not null.
void logFinish(LogLine *line, ULONG status, const ULONG *returnedSize);

#endif  // SERVICE_STANDIN_CALL_LOG_H
