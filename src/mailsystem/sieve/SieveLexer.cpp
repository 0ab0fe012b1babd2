// The tokenizer of Sieve scripts.
#include "mailsystem/sieve/SieveLexer.h"

namespace mail::sieve {
namespace {

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool StartsIdentifier(char c) {
    return IsAlpha(c) || c == '_';
}
bool InIdentifier(char c) {
    return IsAlpha(c) || IsDigit(c) || c == '_';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// How a byte that starts no token is named in a fault.
std::string Shown(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x21 && u < 0x7f)
        return std::string("\"") + c + "\"";
    static const char* const kHex = "0123456789ABCDEF";
    return std::string("byte 0x") + kHex[u >> 4] + kHex[u & 15];
}

} // namespace

bool Lexer::SkipSpaceAndComments(ParseError& error) {
    while (!AtEnd()) {
        const char c = Peek();
        if (c == '\n') {
            ++m_line;
            ++m_pos;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++m_pos;
        } else if (c == '#') {
            Comment comment{m_line, m_line, true, {}};
            const size_t start = m_pos + 1;
            while (!AtEnd() && Peek() != '\n')
                ++m_pos;
            std::string_view body = m_text.substr(start, m_pos - start);
            if (!body.empty() && body.back() == '\r')
                body.remove_suffix(1);
            comment.text = std::string(body);
            m_comments.push_back(std::move(comment));
        } else if (c == '/' && Peek(1) == '*') {
            Comment comment{m_line, m_line, false, {}};
            const size_t start = m_pos + 2;
            const size_t end = m_text.find("*/", start);
            if (end == std::string_view::npos) {
                error = {m_line, "a comment begun with \"/*\" is never closed with \"*/\""};
                return false;
            }
            for (size_t i = m_pos; i < end; ++i) {
                if (m_text[i] == '\n')
                    ++m_line;
            }
            comment.endLine = m_line;
            comment.text = std::string(m_text.substr(start, end - start));
            m_comments.push_back(std::move(comment));
            m_pos = end + 2;
        } else {
            break;
        }
    }
    return true;
}

bool Lexer::QuotedString(Token& token, ParseError& error) {
    const int startLine = m_line;
    ++m_pos; // the opening quote
    std::string value;
    while (true) {
        if (AtEnd()) {
            error = {startLine, "a string begun on line " + std::to_string(startLine) +
                                    " is never closed with a quote"};
            return false;
        }
        char c = Peek();
        ++m_pos;
        if (c == '"')
            break;
        if (c == '\\') {
            if (AtEnd())
                continue; // reported as unterminated above
            c = Peek();
            ++m_pos;
        }
        if (c == '\n')
            ++m_line;
        value += c;
    }
    token = {TokenKind::String, std::move(value), 0, startLine};
    return true;
}

// "text:" has been seen at m_pos. The lines that follow up to a line holding a lone "." are the
// string; a line that starts with "." loses that dot.
bool Lexer::MultiLine(Token& token, ParseError& error) {
    const int startLine = m_line;
    m_pos += 5;
    while (Peek() == ' ' || Peek() == '\t')
        ++m_pos;
    if (Peek() == '#') {
        while (!AtEnd() && Peek() != '\n')
            ++m_pos;
    } else if (Peek() == '\r' && Peek(1) == '\n') {
        ++m_pos;
    } else if (Peek() != '\n') {
        error = {startLine, "\"text:\" must end its line (only blanks or a # comment may follow)"};
        return false;
    }
    if (AtEnd()) {
        error = {startLine, "the multi-line string begun on line " + std::to_string(startLine) +
                                " never ends with a line holding only \".\""};
        return false;
    }
    ++m_pos; // the line break
    ++m_line;
    std::string value;
    while (true) {
        if (AtEnd()) {
            error = {startLine, "the multi-line string begun on line " +
                                    std::to_string(startLine) +
                                    " never ends with a line holding only \".\""};
            return false;
        }
        size_t end = m_text.find('\n', m_pos);
        const bool lastLine = end == std::string_view::npos;
        if (lastLine)
            end = m_text.size();
        std::string_view line = m_text.substr(m_pos, end - m_pos);
        std::string_view content = line;
        if (!content.empty() && content.back() == '\r')
            content.remove_suffix(1);
        m_pos = lastLine ? end : end + 1;
        if (content == ".") {
            if (!lastLine)
                ++m_line;
            break;
        }
        if (!content.empty() && content.front() == '.')
            line.remove_prefix(1);
        value.append(line);
        if (!lastLine) {
            value += '\n';
            ++m_line;
        }
    }
    token = {TokenKind::String, std::move(value), 0, startLine};
    return true;
}

bool Lexer::NumberToken(Token& token, ParseError& error) {
    // Numbers beyond this are refused rather than wrapped: no real script needs them.
    constexpr uint64_t kLimit = uint64_t(1) << 62;
    uint64_t value = 0;
    while (IsDigit(Peek())) {
        value = value * 10 + static_cast<uint64_t>(Peek() - '0');
        ++m_pos;
        if (value > kLimit) {
            error = {m_line, "a number is too large"};
            return false;
        }
    }
    uint64_t scale = 1;
    switch (Lower(Peek())) {
    case 'k':
        scale = uint64_t(1) << 10;
        break;
    case 'm':
        scale = uint64_t(1) << 20;
        break;
    case 'g':
        scale = uint64_t(1) << 30;
        break;
    default:
        break;
    }
    if (scale != 1) {
        ++m_pos;
        if (value > kLimit / scale) {
            error = {m_line, "a number is too large"};
            return false;
        }
        value *= scale;
    }
    token = {TokenKind::Number, {}, value, m_line};
    return true;
}

bool Lexer::Next(Token& token, ParseError& error) {
    if (!SkipSpaceAndComments(error))
        return false;
    token = {TokenKind::End, {}, 0, m_line};
    if (AtEnd())
        return true;
    const char c = Peek();
    if (c == '"')
        return QuotedString(token, error);
    if (IsDigit(c))
        return NumberToken(token, error);
    if (StartsIdentifier(c)) {
        if (Lower(c) == 't' && Lower(Peek(1)) == 'e' && Lower(Peek(2)) == 'x' &&
            Lower(Peek(3)) == 't' && Peek(4) == ':')
            return MultiLine(token, error);
        std::string name;
        while (InIdentifier(Peek())) {
            name += Lower(Peek());
            ++m_pos;
        }
        token = {TokenKind::Identifier, std::move(name), 0, m_line};
        return true;
    }
    if (c == ':') {
        ++m_pos;
        if (!StartsIdentifier(Peek())) {
            error = {m_line, "\":\" must begin a tag such as :is"};
            return false;
        }
        std::string name;
        while (InIdentifier(Peek())) {
            name += Lower(Peek());
            ++m_pos;
        }
        token = {TokenKind::Tag, std::move(name), 0, m_line};
        return true;
    }
    TokenKind kind;
    switch (c) {
    case '[':
        kind = TokenKind::LeftBracket;
        break;
    case ']':
        kind = TokenKind::RightBracket;
        break;
    case '(':
        kind = TokenKind::LeftParen;
        break;
    case ')':
        kind = TokenKind::RightParen;
        break;
    case '{':
        kind = TokenKind::LeftBrace;
        break;
    case '}':
        kind = TokenKind::RightBrace;
        break;
    case ',':
        kind = TokenKind::Comma;
        break;
    case ';':
        kind = TokenKind::Semicolon;
        break;
    default:
        error = {m_line, "unexpected " + Shown(c)};
        return false;
    }
    ++m_pos;
    token.kind = kind;
    return true;
}

} // namespace mail::sieve
