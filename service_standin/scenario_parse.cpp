// Reading a scenario text into scripted answers (format: README.md): the
// lines, answers and their options.  Tokens and data items have files of
// their own.
#include "service_standin/scenario.h"

#include <cstring>

#include "service_standin/scenario_reader.h"

using namespace standin;

namespace {

const char *const kOperationNames[OP_COUNT] = {
    "GetIScsiVersionInformation",   "GetIScsiInitiatorNodeNameW",
    "ReportIScsiInitiatorListW",    "AddIScsiSendTargetPortalW",
    "RemoveIScsiSendTargetPortalW", "ReportIScsiTargetsW",
    "GetIScsiTargetInformationW",   "LoginIScsiTargetW",
    "RemoveIScsiPersistentTargetW",
};

bool findOperation(const Token &token, StandinOperation *operation)
{
    for (int i = 0; i < OP_COUNT; i++) {
        if (tokenIs(token, kOperationNames[i])) {
            *operation = static_cast<StandinOperation>(i);
            return true;
        }
    }
    return false;
}

bool readPair(Parser *parser, const Token &value, ULONGLONG *first, ULONGLONG *second)
{
    const char *comma = static_cast<const char *>(memchr(value.text, ',', value.length));
    if (comma == nullptr) {
        fail(parser, "identifiers are written as two numbers joined by a comma");
        return false;
    }
    unsigned long long a, b;
    size_t left = static_cast<size_t>(comma - value.text);
    if (!readNumber(parser, value.text, left, ~0ull, &a) ||
        !readNumber(parser, comma + 1, value.length - left - 1, ~0ull, &b))
        return false;
    *first = a;
    *second = b;
    return true;
}

// need= size= fill= session= connection= once, right after the status.
int parseOptions(Parser *parser, const Token *tokens, int count, int at)
{
    ScriptedAnswer *answer = parser->answer;
    for (; at < count; at++) {
        const Token &token = tokens[at];
        if (tokenIs(token, "once")) {
            answer->once = true;
            continue;
        }
        Token key, value;
        if (!splitKeyValue(token, &key, &value))
            break;
        unsigned long long number;
        if (tokenIs(key, "need") || tokenIs(key, "size")) {
            if (!tokenNumber(parser, value, 0xFFFFFFFFull, &number))
                return -1;
            if (key.text[0] == 'n') {
                answer->hasNeed = true;
                answer->need = static_cast<ULONG>(number);
            } else {
                answer->hasSize = true;
                answer->size = static_cast<ULONG>(number);
            }
        } else if (tokenIs(key, "fill")) {
            if (!tokenNumber(parser, value, 0xFF, &number))
                return -1;
            answer->fill = static_cast<unsigned char>(number);
            parser->fillGiven = true;
        } else if (tokenIs(key, "session") || tokenIs(key, "connection")) {
            parser->identifiersGiven = true;
            ISCSI_UNIQUE_SESSION_ID *identifier =
                key.text[0] == 's' ? &answer->session : &answer->connection;
            if (!readPair(parser, value, &identifier->AdapterUnique, &identifier->AdapterSpecific))
                return -1;
        } else {
            fail(parser, "unknown option '%.*s'", static_cast<int>(key.length), key.text);
            return -1;
        }
    }
    return at;
}

// The end of an answer: checks what only the whole answer shows.
void finishAnswer(Parser *parser)
{
    ScriptedAnswer *answer = parser->answer;
    if (answer == nullptr || parser->failed)
        return;
    if (parser->groupRemaining > 0) {
        fail(parser, "the group still needs %lu portal items",
             static_cast<unsigned long>(parser->groupRemaining));
        return;
    }
    // What only some operations use is a scenario writer's mistake elsewhere.
    StandinOperation operation = answer->operation;
    bool isList = operation == OP_INITIATOR_LIST || operation == OP_TARGET_LIST;
    bool writesBuffer = isList || operation == OP_TARGET_INFO || operation == OP_VERSION ||
                        operation == OP_NODE_NAME;
    const char *mistake = nullptr;
    if (!writesBuffer && (answer->dataLength > 0 || parser->fillGiven))
        mistake = "%s takes no data";
    else if (!isList && operation != OP_TARGET_INFO && (answer->hasNeed || answer->hasSize))
        mistake = "need= and size= are for lists and target information, not %s";
    else if (operation != OP_TARGET_INFO && answer->once)
        mistake = "once is for GetIScsiTargetInformationW, not %s";
    else if (operation != OP_LOGIN && parser->identifiersGiven)
        mistake = "session= and connection= are for LoginIScsiTargetW, not %s";
    else if (isList && answer->dataLength % 2 != 0)
        mistake = "%s: a list's data must be whole 16-bit characters";
    if (mistake != nullptr) {
        parser->line = answer->line;
        fail(parser, mistake, operationName(operation));
    }
    parser->answer = nullptr;
}

void parseLine(Parser *parser, const char *line, size_t length)
{
    Token tokens[MAX_TOKENS];
    int count = tokenize(parser, line, length, tokens);
    if (count <= 0)
        return;
    bool continuation = line[0] == ' ' || line[0] == '\t';
    if (continuation) {
        if (parser->answer == nullptr) {
            fail(parser, "an indented line continues the data of an answer, but none is open");
            return;
        }
        parseItems(parser, tokens, count, 0);
        return;
    }
    finishAnswer(parser);
    if (parser->failed)
        return;

    Scenario *scenario = parser->scenario;
    if (tokenIs(tokens[0], "default")) {
        unsigned long long status;
        StandinOperation operation;
        if (count == 2 && tokenNumber(parser, tokens[1], 0xFFFFFFFFull, &status)) {
            for (int i = 0; i < OP_COUNT; i++)
                scenario->defaultStatus[i] = static_cast<ULONG>(status);
        } else if (count == 3 && findOperation(tokens[1], &operation)) {
            if (tokenNumber(parser, tokens[2], 0xFFFFFFFFull, &status))
                scenario->defaultStatus[operation] = static_cast<ULONG>(status);
        } else if (!parser->failed) {
            fail(parser, "write 'default STATUS' or 'default OPERATION STATUS'");
        }
        return;
    }

    StandinOperation operation;
    if (!findOperation(tokens[0], &operation)) {
        fail(parser, "unknown operation '%.*s'", static_cast<int>(tokens[0].length),
             tokens[0].text);
        return;
    }
    if (count < 2) {
        fail(parser, "%s needs a status", kOperationNames[operation]);
        return;
    }
    unsigned long long status;
    if (!tokenNumber(parser, tokens[1], 0xFFFFFFFFull, &status))
        return;
    if (scenario->answerCount == STANDIN_MAX_ANSWERS) {
        fail(parser, "more than %d answers", STANDIN_MAX_ANSWERS);
        return;
    }
    ScriptedAnswer *answer = &scenario->answers[scenario->answerCount++];
    memset(answer, 0, sizeof *answer);
    answer->operation = operation;
    answer->status = static_cast<ULONG>(status);
    answer->line = parser->line;
    answer->dataStart = scenario->poolLength;
    answer->fixupStart = scenario->fixupCount;
    parser->answer = answer;
    parser->groupRemaining = 0;
    parser->fillGiven = false;
    parser->identifiersGiven = false;
    int at = parseOptions(parser, tokens, count, 2);
    if (at < 0)
        return;
    parseItems(parser, tokens, count, at);
}

}  // namespace

const char *operationName(StandinOperation operation)
{
    return operation >= 0 && operation < OP_COUNT ? kOperationNames[operation] : "?";
}

void clearScenario(Scenario *scenario)
{
    scenario->answerCount = 0;
    scenario->fixupCount = 0;
    scenario->poolLength = 0;
    for (int i = 0; i < OP_COUNT; i++)
        scenario->defaultStatus[i] = STANDIN_DEFAULT_STATUS;
}

bool parseScenario(const char *text, Scenario *scenario, char *error, size_t room)
{
    clearScenario(scenario);
    if (error != nullptr && room > 0)
        error[0] = 0;
    Parser parser = {};
    parser.scenario = scenario;
    parser.error = error;
    parser.room = room;
    size_t at = 0;
    while (text[at] != 0 && !parser.failed) {
        parser.line++;
        size_t end = at;
        while (text[end] != 0 && text[end] != '\n')
            end++;
        parseLine(&parser, text + at, end - at);
        at = text[end] == '\n' ? end + 1 : end;
    }
    if (!parser.failed)
        finishAnswer(&parser);
    if (parser.failed) {
        clearScenario(scenario);
        return false;
    }
    return true;
}

const unsigned char *answerData(const Scenario *scenario, const ScriptedAnswer *answer)
{
    return scenario->pool + answer->dataStart;
}
