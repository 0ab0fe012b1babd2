// A Sieve script (RFC 5228) as read: commands with their arguments, tests and blocks, and the
// comments between them, each with the line it starts on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mail::sieve {

struct Argument {
    enum class Kind { Strings, Number, Tag };
    Kind kind = Kind::Strings;
    std::vector<std::string> strings; // Strings: one for a single string, any number for a list
    bool list = false;                // Strings: written in brackets
    uint64_t number = 0;              // Number: with its K, M or G quantifier applied
    std::string tag;                  // Tag: the name after ':', in lower case
    int line = 0;
};

// A test: `name arguments [test / (test, ...)]`.
struct Test {
    std::string name; // in lower case
    std::vector<Argument> arguments;
    std::vector<Test> tests; // what allof/anyof list, what not negates
    bool testList = false;   // `tests` was written in parentheses
    int line = 0;
};

// A command: `name arguments [test / (test, ...)] (";" / block)`.
struct Command {
    std::string name; // in lower case
    std::vector<Argument> arguments;
    std::vector<Test> tests; // the test of if and elsif
    bool testList = false;
    bool hasBlock = false;
    std::vector<Command> block;
    int line = 0;
    int endLine = 0; // the line of its ";" or closing "}"
};

struct Comment {
    int line = 0;    // where it starts
    int endLine = 0; // where it ends (a bracketed comment may span lines)
    bool hash = false;  // "# ..." to the end of the line, else "/* ... */"
    std::string text;   // without the "#" or the "/*" and "*/"
};

struct Script {
    std::vector<Command> commands;
    std::vector<Comment> comments; // in the order they appear
};

struct ParseError {
    int line = 0;
    std::string what; // starts in lower case: "unterminated string begun on line 3"
};

// Bounds that keep a hostile script from costing more than a large real one.
inline constexpr size_t kMaxScriptBytes = size_t(1) << 20; // Dovecot's default maximum size
inline constexpr int kMaxNesting = 64;                       // blocks and tests inside each other

// Reads a script. Line breaks are LF or CRLF. False, with the line and the fault in `error`, when
// the text is no script under RFC 5228's grammar or exceeds the bounds above.
bool ParseScript(std::string_view text, Script& out, ParseError& error);

} // namespace mail::sieve
