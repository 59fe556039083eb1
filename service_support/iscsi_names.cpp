#include "service_support/iscsi_names.h"

#include <cctype>
#include <cstring>

#include "common/iscsi_service.h"
#include "service_support/text_conversion.h"

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

bool isAcceptableTargetName(const char *name)
{
    size_t length = strlen(name);
    return length > 0 && length <= MAX_ISCSI_NAME_LEN && isReadableText(name);
}
