// The Sieve tokenizer and parser: what each piece of RFC 5228's grammar reads as, and which line
// and fault a damaged script is refused with.
#include "mailsystem/sieve/SieveScript.h"

#include <gtest/gtest.h>

namespace {

using namespace mail::sieve;

// The script's commands, tests and arguments in a compact form, so that a row can state the
// whole shape it reads as: name@line(args)[tests]{block}.
std::string Shape(const Argument& a) {
    switch (a.kind) {
    case Argument::Kind::Tag:
        return ":" + a.tag;
    case Argument::Kind::Number:
        return std::to_string(a.number);
    case Argument::Kind::Strings: {
        std::string text = a.list ? "[" : "";
        for (size_t i = 0; i < a.strings.size(); ++i)
            text += (i ? "," : "") + ("<" + a.strings[i] + ">");
        return text + (a.list ? "]" : "");
    }
    }
    return "?";
}

std::string Shape(const Test& t) {
    std::string text = t.name + "@" + std::to_string(t.line);
    for (const Argument& a : t.arguments)
        text += " " + Shape(a);
    if (!t.tests.empty()) {
        text += t.testList ? " (" : " ";
        for (size_t i = 0; i < t.tests.size(); ++i)
            text += (i ? ", " : "") + Shape(t.tests[i]);
        text += t.testList ? ")" : "";
    }
    return text;
}

std::string Shape(const std::vector<Command>& commands) {
    std::string text;
    for (const Command& c : commands) {
        text += c.name + "@" + std::to_string(c.line);
        for (const Argument& a : c.arguments)
            text += " " + Shape(a);
        for (const Test& t : c.tests)
            text += (c.testList ? " (" : " ") + Shape(t) + (c.testList ? ")" : "");
        if (c.hasBlock)
            text += " {" + Shape(c.block) + "}";
        text += ";";
    }
    return text;
}

struct ReadRow {
    const char* what;
    const char* script;
    const char* shape;
};

TEST(SieveParserTest, EachPieceOfTheGrammarReadsAsItsShape) {
    const ReadRow rows[] = {
        {"empty", "", ""},
        {"only comments", "# one\n/* two\n three */\n", ""},
        {"a command", "keep;", "keep@1;"},
        {"case of names and tags", "Require [\"Vacation\"]; VACATION :Days 3 \"x\";",
         "require@1 [<Vacation>];vacation@1 :days 3 <x>;"},
        {"numbers with quantifiers", "a 1K 2m 3G 0 17;",
         "a@1 1024 2097152 3221225472 0 17;"},
        {"escapes in quoted strings", "a \"q\\\"b\\\\c\\d\";", "a@1 <q\"b\\cd>;"},
        {"a string over two lines", "a \"x\ny\";\nb;", "a@1 <x\ny>;b@3;"},
        {"string lists", "a [\"x\", \"y\",\"z\"] [\"one\"];", "a@1 [<x>,<y>,<z>] [<one>];"},
        {"multi-line with dot-stuffing and CRLF",
         "a text:\r\nline one\r\n..dotted\r\n.\r\n;", "a@1 <line one\r\n.dotted\r\n>;"},
        {"multi-line with a comment after text:", "a text: # note\nbody\n.\n;\nb;",
         "a@1 <body\n>;b@5;"},
        {"an empty multi-line string", "a text:\r\n.\r\n;", "a@1 <>;"},
        {"a command's test without parentheses", "keep\ndiscard;", "keep@1 discard@2;"},
        {"a test and a block", "if true { keep; }", "if@1 true@1 {keep@1;};"},
        {"test lists nest",
         "if allof (not exists \"x\", anyof (false, header :is \"a\" \"b\")) {}",
         "if@1 allof@1 (not@1 exists@1 <x>, anyof@1 (false@1, header@1 :is <a> <b>)) {};"},
        {"elsif and else",
         "if false {\n} elsif true {\n  stop;\n} else {\n}\n",
         "if@1 false@1 {};elsif@2 true@2 {stop@3;};else@4 {};"},
        {"a hash comment inside a test (Roundcube's switched-off rule)",
         "if false # allof (currentdate :value \"ge\" \"date\" \"2026-01-01\")\n{\n\tvacation \"x\";\n}",
         "if@1 false@1 {vacation@3 <x>;};"},
        {"a bracketed comment between arguments", "a /* c */ \"x\" /* d\n*/ :t;",
         "a@1 <x> :t;"},
        {"underscores and digits in names", "x_1 :tag_2;", "x_1@1 :tag_2;"},
    };
    for (const ReadRow& row : rows) {
        Script script;
        ParseError error;
        ASSERT_TRUE(ParseScript(row.script, script, error))
            << row.what << ": line " << error.line << ": " << error.what;
        EXPECT_EQ(Shape(script.commands), row.shape) << row.what;
    }
}

TEST(SieveParserTest, CommentsAreKeptWithTheirLinesAndText) {
    Script script;
    ParseError error;
    ASSERT_TRUE(ParseScript("# rule:[Away]\r\nif true /* in\nside */ {\n}\n# end", script, error));
    ASSERT_EQ(script.comments.size(), 3u);
    EXPECT_TRUE(script.comments[0].hash);
    EXPECT_EQ(script.comments[0].text, " rule:[Away]"); // the CR of CRLF is not part of it
    EXPECT_EQ(script.comments[0].line, 1);
    EXPECT_FALSE(script.comments[1].hash);
    EXPECT_EQ(script.comments[1].text, " in\nside ");
    EXPECT_EQ(script.comments[1].line, 2);
    EXPECT_EQ(script.comments[1].endLine, 3);
    EXPECT_EQ(script.comments[2].line, 5);
    ASSERT_EQ(script.commands.size(), 1u);
    EXPECT_EQ(script.commands[0].line, 2);
    EXPECT_EQ(script.commands[0].endLine, 4);
}

struct DamagedRow {
    const char* what;
    const char* script;
    int line;
    const char* fault; // a part of the fault's words
};

TEST(SieveParserTest, DamagedScriptsAreRefusedWithTheLineAndTheFault) {
    const DamagedRow rows[] = {
        {"unterminated string", "keep;\nvacation \"away\n\n", 2, "never closed with a quote"},
        {"unterminated comment", "keep;\n/* note\nmore", 2, "never closed"},
        {"multi-line without its end", "a text:\nx\n..\n", 1, "holding only \".\""},
        {"text: with more on its line", "a text: x\n.\n;", 1, "must end its line"},
        {"missing semicolon", "keep;\ndiscard", 2, "\"discard\" must end with \";\" or a block"},
        {"block not closed", "if true {\n keep;\n", 3, "begun on line 1 is not closed"},
        {"stray closing brace", "keep;\n}\n", 2, "where a command should begin"},
        {"stray character", "keep;\n  @x;", 2, "unexpected \"@\""},
        {"control byte", "keep;\x01", 1, "byte 0x01"},
        {"list not closed", "a [\"x\" \"y\"];", 1, "between the strings of a list"},
        {"number in a list", "a [\"x\", 3];", 1, "where a string should be"},
        {"empty test list", "if allof () {}", 1, "expected a test"},
        {"test list without comma", "if anyof (true; false) {}", 1, "between the tests"},
        {"lone colon", "a : x;", 1, "must begin a tag"},
        {"number too large", "a 99999999999999999999;", 1, "too large"},
        {"quantified number too large", "a 9999999999999G;", 1, "too large"},
    };
    for (const DamagedRow& row : rows) {
        Script script;
        ParseError error;
        EXPECT_FALSE(ParseScript(row.script, script, error)) << row.what;
        EXPECT_EQ(error.line, row.line) << row.what << ": " << error.what;
        EXPECT_NE(error.what.find(row.fault), std::string::npos) << row.what << ": " << error.what;
        EXPECT_TRUE(script.commands.empty()) << row.what;
    }
}

TEST(SieveParserTest, NestingAndSizeAreBounded) {
    // Just within the bound, and one past it, for blocks and for tests.
    for (const bool tests : {false, true}) {
        for (const int depth : {kMaxNesting - 1, kMaxNesting + 1}) {
            std::string text;
            if (tests) {
                text = "if ";
                for (int i = 0; i < depth; ++i)
                    text += "not ";
                text += "true {}";
            } else {
                for (int i = 0; i < depth; ++i)
                    text += "if true {";
                text += std::string(static_cast<size_t>(depth), '}');
            }
            Script script;
            ParseError error;
            EXPECT_EQ(ParseScript(text, script, error), depth < kMaxNesting)
                << (tests ? "tests " : "blocks ") << depth << ": " << error.what;
        }
    }
    Script script;
    ParseError error;
    const std::string large = "# " + std::string(kMaxScriptBytes, 'x');
    EXPECT_FALSE(ParseScript(large, script, error));
    EXPECT_NE(error.what.find("larger than 1 MiB"), std::string::npos) << error.what;
}

} // namespace
