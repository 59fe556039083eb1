// The scenario reader's pieces, shared by its source files.  Internal to the
// stand-in: scenario.h is the reader's interface.
#ifndef SERVICE_STANDIN_SCENARIO_READER_H
#define SERVICE_STANDIN_SCENARIO_READER_H

#include <cstddef>

#include "service_standin/scenario.h"

namespace standin {

// One token of a line: a bare word or the inside of a quoted text.
struct Token {
    const char *text;
    size_t length;
    bool quoted;
};

#define MAX_TOKENS 256

struct Parser {
    Scenario *scenario;
    int line;
    char *error;
    size_t room;
    bool failed;
    ScriptedAnswer *answer;  // the answer that continuation lines add to
    bool fillGiven;          // fill= of the open answer
    bool identifiersGiven;   // session= or connection= of the open answer
    // An open "group N": portals still to come, its size and padding wanted.
    ULONG groupPortals;
    ULONG groupRemaining;
    bool groupPad;
};

// Records the first failure as "line N: what" (later ones are dropped).
void fail(Parser *parser, const char *format, ...);

bool tokenIs(const Token &token, const char *word);

// Splits one line (without its line end) into tokens[MAX_TOKENS]: blanks
// separate, "#" outside a quoted text starts a comment, a bare token may hold
// a quoted part (key="a b").  Returns the count, or -1 after a failure.
int tokenize(Parser *parser, const char *line, size_t length, Token *tokens);

// Reads a whole number no larger than limit: decimal, or hexadecimal after
// 0x; a leading minus gives the two's complement within limit.
bool readNumber(Parser *parser, const char *text, size_t length, unsigned long long limit,
                unsigned long long *value);
bool tokenNumber(Parser *parser, const Token &token, unsigned long long limit,
                 unsigned long long *value);
// True for a bare token that begins like a number.
bool tokenLooksNumeric(const Token &token);
// Splits key=value; a quoted value (key="a b") loses its quotes.
bool splitKeyValue(const Token &token, Token *key, Token *value);

// Decodes \x{HH} or \u{H...} at text[*at] (the backslash); false when there
// is no escape there, so that the backslash is literal.
bool readEscape(const char *text, size_t length, size_t *at, char *kind, unsigned long *value);

// Reads the data items tokens[at..count) into the open answer.
bool parseItems(Parser *parser, const Token *tokens, int count, int at);

}  // namespace standin

#endif  // SERVICE_STANDIN_SCENARIO_READER_H
