// Reading ManageSieve answers and writing command strings.
#include "mailsystem/sieve/ManageSieveAnswer.h"

namespace mail::sieve {
namespace {

constexpr size_t kMaxQuoted = 1024; // quoted strings in commands; longer ones go as literals

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if ((a[i] | 0x20) != (b[i] | 0x20))
            return false;
    }
    return true;
}

bool IsAtomChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7f && c != '"' && c != '{' && c != '(' && c != ')';
}

std::string Readable(std::string_view text) {
    std::string out;
    for (char c : text)
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    return out;
}

// A cursor over the buffer that reports running out of bytes apart from malformed input.
class Cursor {
public:
    Cursor(std::string_view buffer, const AnswerLimits& limits)
        : m_buffer(buffer), m_limits(limits) {}

    AnswerState state = AnswerState::Complete;
    std::string error;
    size_t pos = 0;

    bool Ok() const { return state == AnswerState::Complete; }
    bool AtEnd() const { return pos >= m_buffer.size(); }
    char Peek() const { return m_buffer[pos]; }

    bool NeedMore() {
        // Bytes of one line beyond the bound will never make a line.
        if (m_buffer.size() - m_lineStart > m_limits.maxLineBytes + m_literalBytes)
            return Bad("a line is longer than " + std::to_string(m_limits.maxLineBytes) +
                       " bytes");
        state = AnswerState::Incomplete;
        return false;
    }
    bool Bad(std::string what) {
        state = AnswerState::Malformed;
        error = std::move(what);
        return false;
    }
    void StartLine() {
        m_lineStart = pos;
        m_literalBytes = 0;
    }

    // A line break: CRLF or LF.
    bool LineEnd() {
        if (AtEnd())
            return NeedMore();
        if (Peek() == '\r') {
            if (pos + 1 >= m_buffer.size())
                return NeedMore();
            if (m_buffer[pos + 1] != '\n')
                return Bad("a line ends in a lone carriage return");
            pos += 2;
            return true;
        }
        if (Peek() == '\n') {
            ++pos;
            return true;
        }
        return Bad("unexpected \"" + Readable(m_buffer.substr(pos, 1)) + "\" before the end of "
                                                                          "a line");
    }

    bool Atom(std::string& out) {
        const size_t start = pos;
        while (!AtEnd() && IsAtomChar(Peek()))
            ++pos;
        if (AtEnd())
            return NeedMore();
        if (pos == start)
            return Bad("expected a word");
        out.assign(m_buffer.substr(start, pos - start));
        return true;
    }

    bool Quoted(std::string& out) {
        ++pos; // the opening quote
        out.clear();
        while (true) {
            if (AtEnd())
                return NeedMore();
            const char c = Peek();
            ++pos;
            if (c == '"')
                return true;
            if (c == '\r' || c == '\n')
                return Bad("a quoted string holds a line break");
            if (c == '\\') {
                if (AtEnd())
                    return NeedMore();
                const char next = Peek();
                if (next != '"' && next != '\\')
                    return Bad("a quoted string holds the escape \"\\" +
                               Readable(std::string_view(&next, 1)) + "\"");
                out += next;
                ++pos;
                continue;
            }
            out += c;
        }
    }

    // "{" number ["+"] "}" CRLF and that many bytes.
    bool Literal(std::string& out) {
        ++pos; // "{"
        size_t length = 0;
        const size_t start = pos;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
            length = length * 10 + static_cast<size_t>(Peek() - '0');
            ++pos;
            if (length > m_limits.maxLiteral)
                return Bad("a literal is longer than " + std::to_string(m_limits.maxLiteral) +
                           " bytes");
        }
        if (AtEnd())
            return NeedMore();
        if (pos == start)
            return Bad("a literal has no length");
        if (Peek() == '+') {
            ++pos;
            if (AtEnd())
                return NeedMore();
        }
        if (Peek() != '}')
            return Bad("a literal's length is not closed with \"}\"");
        ++pos;
        if (!LineEnd())
            return false;
        if (m_buffer.size() - pos < length) {
            m_literalBytes += length;
            return NeedMore();
        }
        out.assign(m_buffer.substr(pos, length));
        pos += length;
        m_literalBytes += length;
        return true;
    }

    bool String(Word& word) {
        word.atom = false;
        if (AtEnd())
            return NeedMore();
        if (Peek() == '"')
            return Quoted(word.text);
        if (Peek() == '{')
            return Literal(word.text);
        return Bad("expected a string");
    }

    bool AnyWord(Word& word) {
        if (AtEnd())
            return NeedMore();
        if (Peek() == '"' || Peek() == '{')
            return String(word);
        word.atom = true;
        return Atom(word.text);
    }

    // A blank, then what follows; false without a blank (the caller looks for the line's end).
    bool Blank() {
        if (!AtEnd() && Peek() == ' ') {
            ++pos;
            return true;
        }
        return false;
    }

private:
    std::string_view m_buffer;
    const AnswerLimits& m_limits;
    size_t m_lineStart = 0;
    size_t m_literalBytes = 0; // literal bytes inside the current line, outside the line bound
};

bool StatusLine(Cursor& in, const std::string& status, Answer& out) {
    out.status = EqualNoCase(status, "OK")   ? Answer::Status::Ok
                 : EqualNoCase(status, "NO") ? Answer::Status::No
                                             : Answer::Status::Bye;
    if (!in.Blank())
        return in.LineEnd();
    if (in.AtEnd())
        return in.NeedMore();
    if (in.Peek() == '(') {
        ++in.pos;
        std::string code;
        if (!in.Atom(code))
            return false;
        for (char& c : code) {
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
        out.code = Readable(code);
        while (in.Blank()) {
            Word word;
            if (!in.AnyWord(word))
                return false;
            out.codeArguments.push_back(std::move(word));
        }
        if (in.AtEnd())
            return in.NeedMore();
        if (in.Peek() != ')')
            return in.Bad("a response code is not closed with \")\"");
        ++in.pos;
        if (!in.Blank())
            return in.LineEnd();
    }
    Word text;
    if (!in.String(text))
        return false;
    out.text = Readable(text.text);
    return in.LineEnd();
}

} // namespace

AnswerState ReadAnswer(std::string_view buffer, const AnswerLimits& limits, Answer& out,
                       size_t& consumed, std::string& error) {
    out = Answer{};
    Cursor in(buffer, limits);
    while (true) {
        in.StartLine();
        if (in.AtEnd()) {
            in.NeedMore();
            break;
        }
        Word first;
        if (!in.AnyWord(first))
            break;
        if (first.atom && (EqualNoCase(first.text, "OK") || EqualNoCase(first.text, "NO") ||
                           EqualNoCase(first.text, "BYE"))) {
            if (StatusLine(in, first.text, out))
                consumed = in.pos;
            break;
        }
        if (first.atom) {
            in.Bad("a line begins with \"" + Readable(first.text.substr(0, 20)) +
                   "\" where a string, OK, NO or BYE should be");
            break;
        }
        if (out.lines.size() >= limits.maxLines) {
            in.Bad("the answer has more than " + std::to_string(limits.maxLines) + " lines");
            break;
        }
        std::vector<Word> line{std::move(first)};
        bool ok = true;
        while (ok && in.Blank()) {
            Word word;
            ok = in.AnyWord(word);
            if (ok)
                line.push_back(std::move(word));
        }
        if (!ok || !in.LineEnd())
            break;
        out.lines.push_back(std::move(line));
    }
    if (in.state == AnswerState::Malformed)
        error = in.error;
    return in.state;
}

std::string CommandString(std::string_view text) {
    bool plain = text.size() <= kMaxQuoted;
    for (char c : text)
        plain = plain && c != '"' && c != '\\' && c != '\r' && c != '\n' && c != '\0';
    if (plain)
        return "\"" + std::string(text) + "\"";
    return "{" + std::to_string(text.size()) + "+}\r\n" + std::string(text);
}

} // namespace mail::sieve
