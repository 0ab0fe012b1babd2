// ManageSieve answers read from bytes: whole answers of every shape, every cut short of its end
// asking for more, damaged ones refused with the fault, and command strings.
#include "mailsystem/sieve/ManageSieveAnswer.h"

#include <gtest/gtest.h>

namespace {

using namespace mail::sieve;

// An answer in a compact form: each data line's words (atoms bare, strings in <>), then the
// status, the code with its arguments, and the text.
std::string Shape(const Answer& a) {
    std::string text;
    for (const auto& line : a.lines) {
        for (size_t i = 0; i < line.size(); ++i)
            text += (i ? " " : "") + (line[i].atom ? line[i].text : "<" + line[i].text + ">");
        text += " / ";
    }
    text += a.status == Answer::Status::Ok ? "OK" : (a.status == Answer::Status::No ? "NO" : "BYE");
    if (!a.code.empty()) {
        text += " (" + a.code;
        for (const Word& w : a.codeArguments)
            text += " " + (w.atom ? w.text : "<" + w.text + ">");
        text += ")";
    }
    return text + " [" + a.text + "]";
}

struct Row {
    const char* what;
    std::string bytes;
    const char* shape;
};

TEST(ManageSieveAnswerTest, AnswersReadWholeAndEveryPrefixAsksForMore) {
    const Row rows[] = {
        {"Dovecot's greeting",
         "\"IMPLEMENTATION\" \"Dovecot Pigeonhole\"\r\n\"SIEVE\" \"fileinto vacation\"\r\n"
         "\"SASL\" \"PLAIN\"\r\n\"STARTTLS\"\r\n\"VERSION\" \"1.0\"\r\nOK \"Dovecot ready.\"\r\n",
         "<IMPLEMENTATION> <Dovecot Pigeonhole> / <SIEVE> <fileinto vacation> / <SASL> <PLAIN> / "
         "<STARTTLS> / <VERSION> <1.0> / OK [Dovecot ready.]"},
        {"a script list", "\"roundcube\" ACTIVE\r\n\"old\"\r\n{5}\r\nx\"y z\r\nOK\r\n",
         "<roundcube> ACTIVE / <old> / <x\"y z> / OK []"},
        {"a script as a literal with CRLF inside",
         "{21}\r\nrequire \"x\";\r\nkeep;\r\n\r\nOK \"Getscript completed.\"\r\n",
         "<require \"x\";\r\nkeep;\r\n> / OK [Getscript completed.]"},
        {"a literal with a plus", "{3+}\r\nabc\r\nOK\r\n", "<abc> / OK []"},
        {"an empty literal", "{0}\r\n\r\nOK\r\n", "<> / OK []"},
        {"NO with a code", "NO (NONEXISTENT) \"Sieve script `x' not found\"\r\n",
         "NO (NONEXISTENT) [Sieve script `x' not found]"},
        {"a code with an argument",
         "NO (SASL \"aGk=\") \"Authentication failed.\"\r\n",
         "NO (SASL <aGk=>) [Authentication failed.]"},
        {"a code with a slash and in lower case", "NO (quota/maxsize) \"Too big\"\r\n",
         "NO (QUOTA/MAXSIZE) [Too big]"},
        {"BYE", "BYE \"Too many invalid MANAGESIEVE commands.\"\r\n",
         "BYE [Too many invalid MANAGESIEVE commands.]"},
        {"a text as a literal", "NO {4}\r\nwhy?\r\n", "NO [why?]"},
        {"a control character in the text", "OK \"a\tb\"\r\n", "OK [a b]"},
        {"escapes in quoted strings", "\"a\\\"b\\\\c\"\r\nok\r\n", "<a\"b\\c> / OK []"},
        {"LF alone", "\"x\"\nOK \"y\"\n", "<x> / OK [y]"},
    };
    for (const Row& row : rows) {
        Answer answer;
        size_t consumed = 0;
        std::string error;
        ASSERT_EQ(ReadAnswer(row.bytes + "NEXT", {}, answer, consumed, error),
                  AnswerState::Complete)
            << row.what << ": " << error;
        EXPECT_EQ(consumed, row.bytes.size()) << row.what;
        EXPECT_EQ(Shape(answer), row.shape) << row.what;
        // Bytes arrive in any pieces: every prefix is incomplete, never damaged.
        for (size_t n = 0; n < row.bytes.size(); ++n) {
            EXPECT_EQ(ReadAnswer(std::string_view(row.bytes).substr(0, n), {}, answer, consumed,
                                 error),
                      AnswerState::Incomplete)
                << row.what << " cut after " << n << " bytes: " << error;
        }
    }
}

TEST(ManageSieveAnswerTest, DamagedAnswersAreRefusedWithTheFault) {
    AnswerLimits small;
    small.maxLiteral = 100;
    small.maxLines = 3;
    small.maxLineBytes = 50;
    const Row rows[] = {
        {"a lone carriage return", "OK \"x\"\rY\n", "lone carriage return"},
        {"an undefined escape", "OK \"a\\nb\"\r\n", "the escape \"\\n\""},
        {"a line break in a quoted string", "\"a\nb\"\r\nOK\r\n", "holds a line break"},
        {"a literal too long", "{101}\r\n", "a literal is longer than 100 bytes"},
        {"a literal without a length", "{}\r\n", "a literal has no length"},
        {"a literal's length not closed", "{12x\r\n", "not closed with \"}\""},
        {"a code not closed", "NO (TRYLATER \"x\"\r\n", "not closed with \")\""},
        {"text that is no string", "OK done\r\n", "expected a string"},
        {"too many lines", "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\nOK\r\n", "more than 3 lines"},
        {"a line too long", "\"" + std::string(60, 'x'), "longer than 50 bytes"},
        {"garbage after a word", "\"a\"x\r\n", "before the end of a line"},
        {"an IMAP greeting", "* OK [CAPABILITY IMAP4rev1] ready\r\n",
         "a line begins with \"*\" where a string, OK, NO or BYE should be"},
    };
    for (const Row& row : rows) {
        Answer answer;
        size_t consumed = 0;
        std::string error;
        EXPECT_EQ(ReadAnswer(row.bytes, small, answer, consumed, error), AnswerState::Malformed)
            << row.what;
        EXPECT_NE(error.find(row.shape), std::string::npos) << row.what << ": " << error;
    }
}

TEST(ManageSieveAnswerTest, CommandStringsAreQuotedOrLiterals) {
    EXPECT_EQ(CommandString("roundcube"), "\"roundcube\"");
    EXPECT_EQ(CommandString(""), "\"\"");
    EXPECT_EQ(CommandString("say \"hi\""), "{8+}\r\nsay \"hi\"");
    EXPECT_EQ(CommandString("a\\b"), "{3+}\r\na\\b");
    EXPECT_EQ(CommandString("two\r\nlines"), "{10+}\r\ntwo\r\nlines");
    const std::string longName(2000, 'n');
    EXPECT_EQ(CommandString(longName), "{2000+}\r\n" + longName);
}

} // namespace
