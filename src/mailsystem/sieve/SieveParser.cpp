// RFC 5228's grammar over the tokens: commands, arguments, tests, test lists and blocks.
#include "mailsystem/sieve/SieveLexer.h"
#include "mailsystem/sieve/SieveScript.h"

namespace mail::sieve {
namespace {

const char* Named(TokenKind kind) {
    switch (kind) {
    case TokenKind::Identifier:
        return "a name";
    case TokenKind::Tag:
        return "a tag";
    case TokenKind::Number:
        return "a number";
    case TokenKind::String:
        return "a string";
    case TokenKind::LeftBracket:
        return "\"[\"";
    case TokenKind::RightBracket:
        return "\"]\"";
    case TokenKind::LeftParen:
        return "\"(\"";
    case TokenKind::RightParen:
        return "\")\"";
    case TokenKind::LeftBrace:
        return "\"{\"";
    case TokenKind::RightBrace:
        return "\"}\"";
    case TokenKind::Comma:
        return "\",\"";
    case TokenKind::Semicolon:
        return "\";\"";
    case TokenKind::End:
        return "the end of the script";
    }
    return "?";
}

class Parser {
public:
    Parser(std::string_view text, Script& script) : m_lexer(text, script.comments) {}

    bool Run(std::vector<Command>& commands, ParseError& error) {
        if (!Advance(error) || !Commands(commands, 0, error))
            return false;
        if (m_token.kind != TokenKind::End) {
            error = {m_token.line, "unexpected " + std::string(Named(m_token.kind)) +
                                       " where a command should begin"};
            return false;
        }
        return true;
    }

private:
    bool Advance(ParseError& error) { return m_lexer.Next(m_token, error); }

    bool Expect(TokenKind kind, const char* where, ParseError& error) {
        if (m_token.kind == kind)
            return Advance(error);
        error = {m_token.line, std::string("expected ") + Named(kind) + " " + where + ", found " +
                                   Named(m_token.kind)};
        return false;
    }

    bool TooDeep(int depth, ParseError& error) {
        if (depth <= kMaxNesting)
            return false;
        error = {m_token.line,
                 "blocks and tests are nested more than " + std::to_string(kMaxNesting) + " deep"};
        return true;
    }

    // commands = *command, up to "}" or the end.
    bool Commands(std::vector<Command>& commands, int depth, ParseError& error) {
        while (m_token.kind == TokenKind::Identifier) {
            Command command;
            if (!OneCommand(command, depth, error))
                return false;
            commands.push_back(std::move(command));
        }
        return true;
    }

    bool OneCommand(Command& command, int depth, ParseError& error) {
        if (TooDeep(depth + 1, error))
            return false;
        command.name = m_token.text;
        command.line = m_token.line;
        if (!Advance(error) ||
            !Arguments(command.arguments, command.tests, command.testList, depth, error))
            return false;
        command.endLine = m_token.line;
        if (m_token.kind == TokenKind::Semicolon)
            return Advance(error);
        if (m_token.kind != TokenKind::LeftBrace) {
            error = {m_token.line, "the command \"" + command.name +
                                       "\" must end with \";\" or a block, found " +
                                       Named(m_token.kind)};
            return false;
        }
        command.hasBlock = true;
        if (!Advance(error) || !Commands(command.block, depth + 1, error))
            return false;
        command.endLine = m_token.line;
        if (m_token.kind != TokenKind::RightBrace) {
            error = {m_token.line, "the block of \"" + command.name + "\" begun on line " +
                                       std::to_string(command.line) +
                                       " is not closed: found " + Named(m_token.kind) +
                                       " where \"}\" or a command should be"};
            return false;
        }
        return Advance(error);
    }

    // arguments = *argument [test / test-list]
    bool Arguments(std::vector<Argument>& arguments, std::vector<Test>& tests, bool& testList,
                   int depth, ParseError& error) {
        while (true) {
            Argument argument;
            argument.line = m_token.line;
            switch (m_token.kind) {
            case TokenKind::String:
                argument.kind = Argument::Kind::Strings;
                argument.strings.push_back(std::move(m_token.text));
                if (!Advance(error))
                    return false;
                break;
            case TokenKind::Number:
                argument.kind = Argument::Kind::Number;
                argument.number = m_token.number;
                if (!Advance(error))
                    return false;
                break;
            case TokenKind::Tag:
                argument.kind = Argument::Kind::Tag;
                argument.tag = std::move(m_token.text);
                if (!Advance(error))
                    return false;
                break;
            case TokenKind::LeftBracket:
                argument.kind = Argument::Kind::Strings;
                argument.list = true;
                if (!StringList(argument.strings, error))
                    return false;
                break;
            case TokenKind::Identifier: {
                Test test;
                if (!OneTest(test, depth + 1, error))
                    return false;
                tests.push_back(std::move(test));
                return true;
            }
            case TokenKind::LeftParen:
                testList = true;
                return TestList(tests, depth + 1, error);
            default:
                return true;
            }
            arguments.push_back(std::move(argument));
        }
    }

    // string-list = "[" string *("," string) "]"
    bool StringList(std::vector<std::string>& strings, ParseError& error) {
        const int line = m_token.line;
        if (!Advance(error))
            return false;
        while (true) {
            if (m_token.kind != TokenKind::String) {
                error = {m_token.line, "the list begun on line " + std::to_string(line) +
                                           " holds " + Named(m_token.kind) +
                                           " where a string should be"};
                return false;
            }
            strings.push_back(std::move(m_token.text));
            if (!Advance(error))
                return false;
            if (m_token.kind == TokenKind::RightBracket)
                return Advance(error);
            if (!Expect(TokenKind::Comma, "between the strings of a list", error))
                return false;
        }
    }

    // test = identifier arguments
    bool OneTest(Test& test, int depth, ParseError& error) {
        if (TooDeep(depth, error))
            return false;
        if (m_token.kind != TokenKind::Identifier) {
            error = {m_token.line,
                     std::string("expected a test, found ") + Named(m_token.kind)};
            return false;
        }
        test.name = m_token.text;
        test.line = m_token.line;
        return Advance(error) &&
               Arguments(test.arguments, test.tests, test.testList, depth, error);
    }

    // test-list = "(" test *("," test) ")"
    bool TestList(std::vector<Test>& tests, int depth, ParseError& error) {
        if (!Advance(error))
            return false;
        while (true) {
            Test test;
            if (!OneTest(test, depth, error))
                return false;
            tests.push_back(std::move(test));
            if (m_token.kind == TokenKind::RightParen)
                return Advance(error);
            if (!Expect(TokenKind::Comma, "between the tests of a list", error))
                return false;
        }
    }

    Lexer m_lexer;
    Token m_token;
};

} // namespace

bool ParseScript(std::string_view text, Script& out, ParseError& error) {
    out = Script{};
    if (text.size() > kMaxScriptBytes) {
        error = {1, "the script is larger than " + std::to_string(kMaxScriptBytes >> 20) + " MiB"};
        return false;
    }
    Parser parser(text, out);
    if (!parser.Run(out.commands, error)) {
        out = Script{};
        return false;
    }
    return true;
}

} // namespace mail::sieve
