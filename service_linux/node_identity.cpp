#include "service_linux/node_identity.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/random.h>
#include <unistd.h>

namespace {

bool allHex(const char *text, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (!isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return text[count] == 0;
}

}  // namespace

bool isValidIscsiName(const char *name)
{
    size_t length = strlen(name);
    if (length == 0 || length > 223)
        return false;
    for (size_t i = 0; i < length; i++) {
        unsigned char ch = static_cast<unsigned char>(name[i]);
        if (!isalnum(ch) && ch != '.' && ch != '-' && ch != ':')
            return false;
    }
    if (strncmp(name, "eui.", 4) == 0)
        return allHex(name + 4, 16);
    if (strncmp(name, "naa.", 4) == 0)
        return allHex(name + 4, 16) || allHex(name + 4, 32);
    if (strncmp(name, "iqn.", 4) != 0 || length < 12)
        return false;
    const char *date = name + 4;  // yyyy-mm.
    for (int i = 0; i < 7; i++)
        if (i == 4 ? date[i] != '-' : !isdigit(static_cast<unsigned char>(date[i])))
            return false;
    return date[7] == '.' && date[8] != 0;
}

NameFileResult readInitiatorNameFile(const char *path, char *out, size_t room)
{
    FILE *file = fopen(path, "r");
    if (file == nullptr)
        return NAME_FILE_ABSENT;
    char line[1024];
    NameFileResult result = NAME_FILE_ABSENT;
    static const char kKey[] = "InitiatorName=";
    while (fgets(line, sizeof line, file) != nullptr) {
        const char *at = line;
        while (*at == ' ' || *at == '\t')
            at++;
        if (*at == '#' || strncmp(at, kKey, sizeof kKey - 1) != 0)
            continue;
        at += sizeof kKey - 1;
        while (*at == ' ' || *at == '\t')
            at++;
        size_t length = strlen(at);
        while (length > 0 && isspace(static_cast<unsigned char>(at[length - 1])))
            length--;
        result = NAME_FILE_INVALID;
        if (length + 1 <= room && length < sizeof line) {
            memcpy(out, at, length);
            out[length] = 0;
            if (isValidIscsiName(out))
                result = NAME_FILE_FOUND;
            else
                out[0] = 0;
        }
        break;
    }
    fclose(file);
    return result;
}

void generateInitiatorName(char *out, size_t room)
{
    unsigned char random[8] = {0};
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // No entropy source: time and process id still make the name unlikely
        // to repeat.
        unsigned long long mix = static_cast<unsigned long long>(time(nullptr)) * 1000003ull ^
                                 static_cast<unsigned long long>(getpid());
        memcpy(random, &mix, sizeof random);
    }
    char host[64] = "host";
    char raw[256];
    if (gethostname(raw, sizeof raw) == 0) {
        raw[sizeof raw - 1] = 0;
        size_t used = 0;
        for (size_t i = 0; raw[i] != 0 && used + 1 < sizeof host; i++) {
            unsigned char ch = static_cast<unsigned char>(raw[i]);
            if (isalnum(ch) || ch == '-' || ch == '.')
                host[used++] = static_cast<char>(tolower(ch));
        }
        if (used > 0)
            host[used] = 0;
    }
    time_t now = time(nullptr);
    struct tm parts;
    gmtime_r(&now, &parts);
    snprintf(out, room, "iqn.%04d-%02d.invalid.iscsi-tools:%s-%02x%02x%02x%02x%02x%02x%02x%02x",
             parts.tm_year + 1900, parts.tm_mon + 1, host, random[0], random[1], random[2],
             random[3], random[4], random[5], random[6], random[7]);
}
