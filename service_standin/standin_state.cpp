// The scenario in force, how a run gets it, and the call log.
#include "service_standin/standin_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service_standin/standin_control.h"

namespace {

Scenario gScenario;
bool gReady;  // a scenario (or none) has been chosen

char *gLog;  // malloc'd, terminated
size_t gLogLength;
size_t gLogRoom;
FILE *gLogFile;  // ISCSI_STANDIN_LOG, opened on the first line
bool gLogFileTried;

void emptyLog()
{
    gLogLength = 0;
    if (gLog != nullptr)
        gLog[0] = 0;
}

[[noreturn]] void scenarioFailure(const char *path, const char *what)
{
    fprintf(stderr, "iscsi service stand-in: scenario %s: %s\n", path, what);
    fflush(stderr);
    exit(STANDIN_SCENARIO_EXIT);
}

// Reads the whole file at `path` into a malloc'd, terminated text.
char *readFile(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    size_t length = 0;
    size_t room = 4096;
    char *text = static_cast<char *>(malloc(room));
    while (text != nullptr) {
        if (length + 1 >= room) {
            room *= 2;
            char *grown = static_cast<char *>(realloc(text, room));
            if (grown == nullptr) {
                free(text);
                text = nullptr;
                break;
            }
            text = grown;
        }
        size_t got = fread(text + length, 1, room - length - 1, file);
        length += got;
        if (got == 0)
            break;
    }
    bool failed = ferror(file) != 0;
    fclose(file);
    if (text == nullptr || failed) {
        free(text);
        return nullptr;
    }
    text[length] = 0;
    if (strlen(text) != length) {
        free(text);
        return nullptr;
    }
    return text;
}

void loadFromEnvironment()
{
    gReady = true;
    const char *path = getenv("ISCSI_STANDIN_SCENARIO");
    if (path == nullptr || path[0] == 0)
        return;
    char *text = readFile(path);
    if (text == nullptr)
        scenarioFailure(path, "cannot be read (or holds a 0 byte)");
    char error[512];
    bool parsed = parseScenario(text, &gScenario, error, sizeof error);
    free(text);
    if (!parsed)
        scenarioFailure(path, error);
}

}  // namespace

Scenario *currentScenario()
{
    if (!gReady) {
        clearScenario(&gScenario);
        loadFromEnvironment();
    }
    return &gScenario;
}

ScriptedAnswer *nextAnswer(StandinOperation operation)
{
    Scenario *scenario = currentScenario();
    for (size_t i = 0; i < scenario->answerCount; i++) {
        ScriptedAnswer *answer = &scenario->answers[i];
        if (answer->operation == operation && !answer->used)
            return answer;
    }
    return nullptr;
}

void appendCallLog(const char *text, size_t length)
{
    if (gLogLength + length + 1 > gLogRoom) {
        size_t room = gLogRoom == 0 ? 4096 : gLogRoom;
        while (room < gLogLength + length + 1)
            room *= 2;
        char *grown = static_cast<char *>(realloc(gLog, room));
        if (grown != nullptr) {
            gLog = grown;
            gLogRoom = room;
        }
    }
    if (gLogLength + length + 1 <= gLogRoom) {
        memcpy(gLog + gLogLength, text, length);
        gLogLength += length;
        gLog[gLogLength] = 0;
    }

    if (!gLogFileTried) {
        gLogFileTried = true;
        const char *path = getenv("ISCSI_STANDIN_LOG");
        if (path != nullptr && path[0] != 0) {
            gLogFile = fopen(path, "wb");
            if (gLogFile == nullptr)
                scenarioFailure(path, "the call log cannot be written");
        }
    }
    if (gLogFile != nullptr) {
        // Line by line, so that the log is whole however the process ends.
        fwrite(text, 1, length, gLogFile);
        fflush(gLogFile);
    }
}

bool standinLoadScenario(const char *text, char *error, size_t room)
{
    gReady = true;
    emptyLog();
    return parseScenario(text, &gScenario, error, room);
}

void standinReset()
{
    gReady = true;
    clearScenario(&gScenario);
    emptyLog();
}

const char *standinCallLog()
{
    return gLog == nullptr ? "" : gLog;
}
