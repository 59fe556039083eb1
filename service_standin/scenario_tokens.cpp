// Tokens and numbers of scenario lines.
#include "service_standin/scenario_reader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/text_format.h"

namespace standin {

void fail(Parser *parser, const char *format, ...)
{
    if (parser->failed)
        return;
    parser->failed = true;
    if (parser->error == nullptr || parser->room == 0)
        return;
    int used = snprintf(parser->error, parser->room, "line %d: ", parser->line);
    if (used < 0 || static_cast<size_t>(used) >= parser->room)
        return;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(parser->error + used, parser->room - static_cast<size_t>(used), format, arguments);
    va_end(arguments);
}

bool tokenIs(const Token &token, const char *word)
{
    return !token.quoted && strlen(word) == token.length &&
           memcmp(token.text, word, token.length) == 0;
}

namespace {

bool isBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r';
}

}  // namespace

// Splits one line (without its line end) into tokens.  "#" outside a quoted
// text starts a comment.  A bare token may hold a quoted part with blanks
// (key="a b").  Returns the count, or -1 after a failure.
int tokenize(Parser *parser, const char *line, size_t length, Token *tokens)
{
    int count = 0;
    size_t at = 0;
    while (at < length) {
        char ch = line[at];
        if (isBlank(ch)) {
            at++;
            continue;
        }
        if (ch == '#')
            break;
        if (count == MAX_TOKENS) {
            fail(parser, "more than %d tokens on one line", MAX_TOKENS);
            return -1;
        }
        Token &token = tokens[count++];
        size_t end = at;
        bool quoted = ch == '"';
        while (end < length && !isBlank(line[end]) && line[end] != '#') {
            if (line[end] == '"') {
                size_t close = end + 1;
                while (close < length && line[close] != '"')
                    close++;
                if (close == length) {
                    fail(parser, "quoted text without its closing quote");
                    return -1;
                }
                end = close;
                if (quoted && end + 1 < length && !isBlank(line[end + 1]) && line[end + 1] != '#') {
                    fail(parser, "a blank must follow a quoted text");
                    return -1;
                }
            }
            end++;
        }
        if (quoted)
            token = {line + at + 1, end - at - 2, true};
        else
            token = {line + at, end - at, false};
        at = end;
    }
    return count;
}

// Reads a number: decimal, or hexadecimal after 0x; a leading minus gives the
// two's complement.  Fails unless the whole text is the number.
bool readNumber(Parser *parser, const char *text, size_t length, unsigned long long limit,
                unsigned long long *value)
{
    bool negative = length > 0 && text[0] == '-';
    size_t at = negative ? 1 : 0;
    unsigned base = 10;
    if (length >= at + 2 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    if (at == length) {
        fail(parser, "'%.*s' is not a number", static_cast<int>(length), text);
        return false;
    }
    unsigned long long result = 0;
    for (; at < length; at++) {
        int digitValue = hexDigit(static_cast<unsigned char>(text[at]));
        if (digitValue < 0 || static_cast<unsigned>(digitValue) >= base) {
            fail(parser, "'%.*s' is not a number", static_cast<int>(length), text);
            return false;
        }
        unsigned digit = static_cast<unsigned>(digitValue);
        if (result > (~0ull - digit) / base) {
            fail(parser, "'%.*s' is too large", static_cast<int>(length), text);
            return false;
        }
        result = result * base + digit;
    }
    if (negative) {
        if (result > limit / 2 + 1) {
            fail(parser, "'%.*s' is too small", static_cast<int>(length), text);
            return false;
        }
        result = (limit - result + 1) & limit;
    } else if (result > limit) {
        fail(parser, "'%.*s' is too large", static_cast<int>(length), text);
        return false;
    }
    *value = result;
    return true;
}

bool tokenNumber(Parser *parser, const Token &token, unsigned long long limit,
                 unsigned long long *value)
{
    if (token.quoted) {
        fail(parser, "a number was expected, not a quoted text");
        return false;
    }
    return readNumber(parser, token.text, token.length, limit, value);
}

bool tokenLooksNumeric(const Token &token)
{
    if (token.quoted || token.length == 0)
        return false;
    char ch = token.text[token.length > 1 && token.text[0] == '-' ? 1 : 0];
    return ch >= '0' && ch <= '9';
}

bool splitKeyValue(const Token &token, Token *key, Token *value)
{
    const char *equals =
        token.quoted ? nullptr : static_cast<const char *>(memchr(token.text, '=', token.length));
    if (equals == nullptr)
        return false;
    size_t keyLength = static_cast<size_t>(equals - token.text);
    *key = {token.text, keyLength, false};
    *value = {equals + 1, token.length - keyLength - 1, false};
    if (value->length >= 2 && value->text[0] == '"' && value->text[value->length - 1] == '"')
        *value = {value->text + 1, value->length - 2, true};
    return true;
}

bool readEscape(const char *text, size_t length, size_t *at, char *kind, unsigned long *value)
{
    size_t i = *at;
    if (i + 3 >= length || (text[i + 1] != 'x' && text[i + 1] != 'u') || text[i + 2] != '{')
        return false;
    unsigned long result = 0;
    size_t digits = 0;
    size_t j = i + 3;
    for (; j < length && text[j] != '}'; j++, digits++) {
        int digit = hexDigit(static_cast<unsigned char>(text[j]));
        if (digit < 0)
            return false;
        result = result * 16 + static_cast<unsigned long>(digit);
        if (digits > 6)
            return false;
    }
    if (j == length || digits == 0)
        return false;
    if (text[i + 1] == 'x' && result > 0xFF)
        return false;
    if (text[i + 1] == 'u' && result > 0x10FFFF)
        return false;
    *kind = text[i + 1];
    *value = result;
    *at = j + 1;
    return true;
}

}  // namespace standin
