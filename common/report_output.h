// Standard output of the iSCSI tools.
//
// Every report and failure line goes through reportPrintf, so the bytes are
// the same on every platform: wide text is written as UTF-8, 64-bit values in
// full, 8-bit text byte for byte.  Output is flushed at the end of each line
// so that a reader on a pipe sees every line as soon as it is complete.
#ifndef COMMON_REPORT_OUTPUT_H
#define COMMON_REPORT_OUTPUT_H

// 8-bit printf-style format, conversions as in text_format.h.  Returns the
// bytes written, or -1 when the format is not supported or the write fails.
// (No format attribute: the compiler does not know %ws and %I64x.)
int reportPrintf(const char *format, ...);

#endif  // COMMON_REPORT_OUTPUT_H
