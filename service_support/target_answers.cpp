#include "service_support/target_answers.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "service_support/text_conversion.h"

void freeAnswer(Answer *answer)
{
    free(answer->bytes);
    answer->bytes = nullptr;
    answer->size = 0;
    answer->capacity = 0;
}

bool appendBytes(Answer *answer, const void *data, ULONG count)
{
    if (count > 0x7FFFFFFFu - answer->size)
        return false;
    ULONG needed = answer->size + count;
    if (needed > answer->capacity) {
        ULONG capacity = answer->capacity == 0 ? 256 : answer->capacity;
        while (capacity < needed)
            capacity = capacity > 0x3FFFFFFFu ? needed : capacity * 2;
        unsigned char *grown = static_cast<unsigned char *>(realloc(answer->bytes, capacity));
        if (grown == nullptr)
            return false;
        answer->bytes = grown;
        answer->capacity = capacity;
    }
    if (data != nullptr)
        memcpy(answer->bytes + answer->size, data, count);
    else
        memset(answer->bytes + answer->size, 0, count);
    answer->size = needed;
    return true;
}

bool appendWideText(Answer *answer, const char *text)
{
    size_t length = utf8WideCharacters(text);
    if (length == 0 && text[0] != 0)
        return false;
    if (length > 0x3FFFFFF0u)
        return false;
    ULONG start = answer->size;
    ULONG bytes = static_cast<ULONG>((length + 1) * sizeof(WCHAR16));
    if (!appendBytes(answer, nullptr, bytes))
        return false;
    WCHAR16 *converted = static_cast<WCHAR16 *>(malloc(bytes));
    if (converted == nullptr || !convertUtf8ToWide(text, converted, length + 1)) {
        free(converted);
        answer->size = start;
        return false;
    }
    memcpy(answer->bytes + start, converted, bytes);
    free(converted);
    return true;
}

bool appendUlong(Answer *answer, ULONG value)
{
    return appendBytes(answer, &value, sizeof value);
}

bool buildPortalGroups(const DiscoveryList &records, Answer *answer)
{
    // The tags in order of first appearance.
    ULONG *tags = static_cast<ULONG *>(calloc(records.count + 1, sizeof(ULONG)));
    if (tags == nullptr)
        return false;
    ULONG groups = 0;
    for (size_t i = 0; i < records.count; i++) {
        bool seen = false;
        for (ULONG g = 0; g < groups && !seen; g++)
            seen = tags[g] == records.records[i].tag;
        if (!seen)
            tags[groups++] = records.records[i].tag;
    }
    // Groups in ascending order of their tags.
    for (ULONG g = 1; g < groups; g++) {
        ULONG tag = tags[g];
        ULONG at = g;
        for (; at > 0 && tags[at - 1] > tag; at--)
            tags[at] = tags[at - 1];
        tags[at] = tag;
    }
    bool ok = appendUlong(answer, groups);
    for (ULONG g = 0; g < groups && ok; g++) {
        ULONG count = 0;
        for (size_t i = 0; i < records.count; i++)
            count += records.records[i].tag == tags[g] ? 1u : 0u;
        ULONG groupStart = answer->size;
        ok = appendUlong(answer, count);
        for (size_t i = 0; i < records.count && ok; i++) {
            if (records.records[i].tag != tags[g])
                continue;
            ISCSI_TARGET_PORTALW portal;
            memset(&portal, 0, sizeof portal);
            ok = convertUtf8ToWide(records.records[i].address, portal.Address,
                                   MAX_ISCSI_PORTAL_ADDRESS_LEN);
            portal.Socket = records.records[i].socket;
            if (ok)
                ok = appendBytes(answer, &portal, sizeof portal);
        }
        if (ok)
            ok = appendBytes(
                answer, nullptr,
                static_cast<ULONG>(portalGroupStride(count) - (answer->size - groupStart)));
    }
    free(tags);
    return ok;
}

bool buildLoginOptions(const LoginSettings &settings, Answer *answer)
{
    ISCSI_LOGIN_OPTIONS record;
    memset(&record, 0, sizeof record);
    record.Version = settings.version;
    record.InformationSpecified = settings.informationSpecified;
    record.LoginFlags = settings.loginFlags;
    // Stored codes go back as their 32 bits, named by the enumeration or not
    // (a cast of an unnamed code to the enumeration is undefined).
    memcpy(&record.AuthType, &settings.authType, sizeof record.AuthType);
    memcpy(&record.HeaderDigest, &settings.headerDigest, sizeof record.HeaderDigest);
    memcpy(&record.DataDigest, &settings.dataDigest, sizeof record.DataDigest);
    record.MaximumConnections = settings.maximumConnections;
    record.DefaultTime2Wait = settings.defaultTime2Wait;
    record.DefaultTime2Retain = settings.defaultTime2Retain;
    record.UsernameLength = settings.usernameLength;
    record.PasswordLength = 0;
    return appendBytes(answer, &record, sizeof record) &&
           appendBytes(answer, settings.username, settings.usernameLength);
}

ISDSC_STATUS deliverAnswer(const Answer &answer, ULONG *bufferSize, void *buffer)
{
    if (buffer == nullptr || *bufferSize < answer.size) {
        *bufferSize = answer.size;
        return ISDSC_ERROR_INSUFFICIENT_BUFFER;
    }
    if (answer.size > 0)
        memcpy(buffer, answer.bytes, answer.size);
    *bufferSize = answer.size;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS deliverLoginOptions(const Answer &answer, ULONG *bufferSize, void *buffer)
{
    ISDSC_STATUS status = deliverAnswer(answer, bufferSize, buffer);
    if (status != ISDSC_SUCCESS)
        return status;
    // The caller's buffer need not be aligned for the record: copy bytes.
    unsigned char *bytes = static_cast<unsigned char *>(buffer);
    ULONG length;
    memcpy(&length, bytes + offsetof(ISCSI_LOGIN_OPTIONS, UsernameLength), sizeof length);
    if (length > 0) {
        UCHAR *username = bytes + sizeof(ISCSI_LOGIN_OPTIONS);
        memcpy(bytes + offsetof(ISCSI_LOGIN_OPTIONS, Username), &username, sizeof username);
    }
    return ISDSC_SUCCESS;
}
