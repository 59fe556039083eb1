// The login-options rendering over arbitrary records and user-name bytes,
// and the CHAP user name made from an arbitrary target name.
//
// Input: the record's bytes, a control byte, a prefix ended by a 0 byte,
// then the user name's bytes (which also serve as the target name, two bytes
// a character).  printLoginOptions' whole output is compared with a
// rendering of the same record written here from the documented formats;
// chapUserName's result is checked to be a cut of whole UTF-8 characters
// that fits its room.  Findings: any memory or undefined-behaviour fault and
// any difference.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "fuzz/report_capture.h"
#include "targetlogin/targetlogin.h"

namespace {

const size_t kMaxUserName = 16 * 1024;
const size_t kOutputRoom = 1 << 20;
char gExpected[kOutputRoom];
char gActual[kOutputRoom];
size_t gExpectedLength;

[[noreturn]] void finding(const char *what)
{
    fprintf(stderr, "login options fuzz: %s\n", what);
    abort();
}

void expect(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int n =
        vsnprintf(gExpected + gExpectedLength, kOutputRoom - gExpectedLength, format, arguments);
    va_end(arguments);
    if (n > 0)
        gExpectedLength += static_cast<size_t>(n);
    if (gExpectedLength >= kOutputRoom)
        finding("model output too large");
}

void expectDump(const unsigned char *bytes, ULONG count)
{
    for (ULONG start = 0; start < count; start += 16) {
        expect("%s", "                          ");
        for (ULONG column = 0; column < 16; column++)
            if (start + column < count)
                expect("%02x ", bytes[start + column]);
            else
                expect("   ");
        expect("    ");
        for (ULONG column = 0; column < 16 && start + column < count; column++) {
            unsigned char byte = bytes[start + column];
            expect("%c", byte >= 0x21 && byte <= 0x7E ? byte : '.');
        }
        expect("\n");
    }
}

void expectDigest(const char *prefix, const char *label, ULONG code)
{
    expect("%s%s: ", prefix, label);
    if (code == 0)
        expect("None\n");
    else if (code == 1)
        expect("CRC-32C\n");
}

void expectLoginOptions(const char *prefix, const ISCSI_LOGIN_OPTIONS &options)
{
    ULONG mask = options.InformationSpecified;
    ULONG authType;
    ULONG headerDigest;
    ULONG dataDigest;
    memcpy(&authType, &options.AuthType, sizeof authType);
    memcpy(&headerDigest, &options.HeaderDigest, sizeof headerDigest);
    memcpy(&dataDigest, &options.DataDigest, sizeof dataDigest);

    expect("%sVersion              : %d\n", prefix, static_cast<int>(options.Version));
    expect("%sInformation Specified: 0x%x\n", prefix, mask);
    if (mask & 0x1)
        expectDigest(prefix, "Header Digest        ", headerDigest);
    if (mask & 0x2)
        expectDigest(prefix, "Data Digest          ", dataDigest);
    if (mask & 0x4)
        expect("%sMaximum Connections  : %d\n", prefix,
               static_cast<int>(options.MaximumConnections));
    if (mask & 0x8)
        expect("%sDefault Time 2 Wait  : %d\n", prefix, static_cast<int>(options.DefaultTime2Wait));
    if (mask & 0x10)
        expect("%sDefault Time 2 Retain: %d\n", prefix,
               static_cast<int>(options.DefaultTime2Retain));
    expect("%sLogin Flags          : 0x%x\n", prefix, options.LoginFlags);
    if (options.LoginFlags & 0x1)
        expect("%s                       Require IPsec\n", prefix);
    if (options.LoginFlags & 0x2)
        expect("%s                       Multipath Enabled\n", prefix);
    if (mask & 0x80) {
        expect("%sAuthentication Type  : ", prefix);
        if (authType == 0)
            expect("None\n");
        else if (authType == 1)
            expect("CHAP\n");
        else if (authType == 2)
            expect("Mutual CHAP\n");
        else
            expect("Unknown - %d\n", static_cast<int>(authType));
    }
    if (mask & 0x20) {
        expect("%sUsername             : \n", prefix);
        if (options.Username != nullptr)
            expectDump(options.Username, options.UsernameLength);
    }
    if (mask & 0x40)
        expect("%sPassword             : <is established>\n", prefix);
}

// Length of the UTF-8 sequence that starts with lead, 0 for a byte that
// cannot start one.
size_t utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

void checkChapUserName(const unsigned char *bytes, size_t count, ULONG room)
{
    size_t chars = count / 2 < 1024 ? count / 2 : 1024;
    WCHAR16 name[1025];
    bool ascii = true;
    for (size_t i = 0; i < chars; i++) {
        name[i] = static_cast<WCHAR16>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (name[i] == 0)
            break;
        ascii = ascii && name[i] < 0x80;
    }
    name[chars] = 0;
    size_t length = 0;
    while (name[length] != 0)
        length++;

    // Exactly `room` bytes, so that a write past them is seen.
    char *out = static_cast<char *>(malloc(room > 0 ? room : 1));
    if (out == nullptr)
        return;
    ULONG written = chapUserName(name, out, room);
    if (room == 0) {
        if (written != 0)
            finding("chapUserName wrote into no room");
        free(out);
        return;
    }
    if (written >= room || out[written] != 0)
        finding("chapUserName's text does not fit its room");
    for (ULONG i = 0; i < written;) {
        size_t sequence = utf8SequenceLength(static_cast<unsigned char>(out[i]));
        if (sequence == 0 || i + sequence > written)
            finding("chapUserName cut a character or wrote no UTF-8");
        for (size_t k = 1; k < sequence; k++)
            if ((static_cast<unsigned char>(out[i + k]) & 0xC0) != 0x80)
                finding("chapUserName wrote no UTF-8");
        i += static_cast<ULONG>(sequence);
    }
    if (ascii) {
        size_t expected = length < room - 1 ? length : room - 1;
        if (written != expected)
            finding("chapUserName's length for an ASCII name");
        for (size_t i = 0; i < expected; i++)
            if (out[i] != static_cast<char>(name[i]))
                finding("chapUserName changed an ASCII name");
    }
    free(out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    captureReportOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    captureReportOutput();
    FuzzInput input;
    startFuzzInput(&input, data, size);

    ISCSI_LOGIN_OPTIONS options;
    takeFuzzBytes(&input, &options, sizeof options);
    uint8_t control = takeFuzzByte(&input);
    char prefix[33];
    size_t prefixLength = 0;
    while (prefixLength < 32 && fuzzBytesLeft(&input) > 0) {
        char ch = static_cast<char>(takeFuzzByte(&input));
        if (ch == 0)
            break;
        prefix[prefixLength++] = ch;
    }
    prefix[prefixLength] = 0;

    size_t nameBytes = fuzzBytesLeft(&input) < kMaxUserName ? fuzzBytesLeft(&input) : kMaxUserName;
    // The user name in a block of its own exact size.
    unsigned char *name = static_cast<unsigned char *>(malloc(nameBytes > 0 ? nameBytes : 1));
    if (name == nullptr)
        return 0;
    takeFuzzBytes(&input, name, nameBytes);
    options.Password = nullptr;  // never read: no pointer to give it
    if ((control & 0x01) != 0) {
        options.Username = nullptr;  // any length: the label, no rows
    } else {
        options.Username = name;
        if (options.UsernameLength > nameBytes)
            options.UsernameLength = static_cast<ULONG>(nameBytes);
    }

    takeReportOutput(nullptr, 0);
    printLoginOptions(prefix, &options);
    size_t actual = takeReportOutput(gActual, kOutputRoom);
    gExpectedLength = 0;
    expectLoginOptions(prefix, options);
    if (actual != gExpectedLength || memcmp(gActual, gExpected, gExpectedLength) != 0)
        finding("printLoginOptions differs from the documented rendering");

    if (options.Username != nullptr) {
        dumpBytes(prefix, name, options.UsernameLength);
        takeReportOutput(nullptr, 0);
    }

    checkChapUserName(name, nameBytes, control >> 1);
    free(name);
    return 0;
}
