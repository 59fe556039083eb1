#include "service_libiscsi/node_identity.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/random.h>
#include <unistd.h>

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
