// The answers of a ManageSieve server (RFC 5804) read from bytes: data lines of atoms, quoted
// strings and literals, ended by an OK, NO or BYE line with its response code and text; and the
// strings of commands written for it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mail::sieve {

struct Word {
    bool atom = false; // an atom (ACTIVE, OK) rather than a quoted string or a literal
    std::string text;
};

struct Answer {
    enum class Status { Ok, No, Bye };
    std::vector<std::vector<Word>> lines; // the data lines before the status line
    Status status = Status::Ok;
    std::string code;          // the response code in upper case ("NONEXISTENT",
                               // "QUOTA/MAXSIZE", "TRYLATER"); empty: none
    std::vector<Word> codeArguments;  // what follows the code inside its parentheses
    std::string text;          // the human-readable text; control characters made blanks
};

enum class AnswerState {
    Incomplete, // more bytes are needed
    Complete,   // `consumed` bytes at the start of the buffer make the answer
    Malformed   // `error` says what cannot be read
};

// Bounds of one answer. A literal longer than maxLiteral, more than maxLines data lines or a
// line of more than maxLineBytes outside literals is Malformed, however many bytes follow.
struct AnswerLimits {
    size_t maxLiteral = size_t(4) << 20;
    size_t maxLines = 100000;
    size_t maxLineBytes = 64 * 1024;
};

// Reads one answer from the start of `buffer`. Lines may end in CRLF or LF alone.
AnswerState ReadAnswer(std::string_view buffer, const AnswerLimits& limits, Answer& out,
                       size_t& consumed, std::string& error);

// A string as a command argument: quoted when it is short and holds no quote, backslash or line
// break, else a non-synchronising literal "{n+}\r\n...".
std::string CommandString(std::string_view text);

} // namespace mail::sieve
