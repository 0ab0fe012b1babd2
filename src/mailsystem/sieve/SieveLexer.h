// The tokens of a Sieve script (RFC 5228, section 8.1): identifiers, tags, numbers, quoted and
// multi-line strings and punctuation, with comments set aside as they are passed.
#pragma once

#include "mailsystem/sieve/SieveScript.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mail::sieve {

enum class TokenKind {
    Identifier, // in lower case
    Tag,        // the name after ':', in lower case
    Number,
    String, // quoted (escapes undone) or multi-line (dot-stuffing undone)
    LeftBracket,
    RightBracket,
    LeftParen,
    RightParen,
    LeftBrace,
    RightBrace,
    Comma,
    Semicolon,
    End
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text; // Identifier, Tag, String
    uint64_t number = 0;
    int line = 0;
};

class Lexer {
public:
    // Comments passed are appended to `comments`, which must outlive the lexer.
    Lexer(std::string_view text, std::vector<Comment>& comments)
        : m_text(text), m_comments(comments) {}

    // The next token; End at the end of the text. False, with the fault, when the text holds
    // something that is no token (an unterminated string or comment, a stray character).
    bool Next(Token& token, ParseError& error);

private:
    bool SkipSpaceAndComments(ParseError& error);
    bool QuotedString(Token& token, ParseError& error);
    bool MultiLine(Token& token, ParseError& error);
    bool NumberToken(Token& token, ParseError& error);
    char Peek(size_t ahead = 0) const {
        return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0';
    }
    bool AtEnd() const { return m_pos >= m_text.size(); }

    std::string_view m_text;
    std::vector<Comment>& m_comments;
    size_t m_pos = 0;
    int m_line = 1;
};

} // namespace mail::sieve
