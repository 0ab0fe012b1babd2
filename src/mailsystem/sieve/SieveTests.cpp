// Judging Sieve tests for a message arriving now: the constant and logical tests, the date tests
// of RFC 5260 on the current date, and "depends on the message" for everything that reads it.
#include "mailsystem/sieve/SieveTests.h"

namespace mail::sieve {

Truth And(Truth a, Truth b) {
    if (a == Truth::False || b == Truth::False)
        return Truth::False;
    if (a == Truth::True && b == Truth::True)
        return Truth::True;
    return Truth::Maybe;
}

Truth Or(Truth a, Truth b) {
    if (a == Truth::True || b == Truth::True)
        return Truth::True;
    if (a == Truth::False && b == Truth::False)
        return Truth::False;
    return Truth::Maybe;
}

Truth Not(Truth a) {
    if (a == Truth::Maybe)
        return a;
    return a == Truth::True ? Truth::False : Truth::True;
}

namespace {

constexpr size_t kShownLength = 120; // of a test quoted in an explanation

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += (static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
    }
    return out + "\"";
}

// The test as a script would write it, shortened to a readable length.
std::string Render(const Test& test) {
    std::string text = test.name;
    for (const Argument& a : test.arguments) {
        text += ' ';
        if (a.kind == Argument::Kind::Tag) {
            text += ":" + a.tag;
        } else if (a.kind == Argument::Kind::Number) {
            text += std::to_string(a.number);
        } else if (!a.list) {
            text += Quoted(a.strings.front());
        } else {
            text += '[';
            for (size_t i = 0; i < a.strings.size(); ++i)
                text += (i ? ", " : "") + Quoted(a.strings[i]);
            text += ']';
        }
    }
    if (!test.tests.empty()) {
        text += test.testList ? " (" : " ";
        for (size_t i = 0; i < test.tests.size(); ++i)
            text += (i ? ", " : "") + Render(test.tests[i]);
        if (test.testList)
            text += ')';
    }
    if (text.size() > kShownLength)
        text = text.substr(0, kShownLength - 3) + "...";
    return text;
}

std::string Where(const Test& test) {
    return "the test " + Render(test) + " on line " + std::to_string(test.line);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// The arguments of a date test, read by RFC 5260's grammar with RFC 5231's relational match
// types and RFC 5260's :index.
struct DateArguments {
    Matcher matcher;
    bool regex = false;    // :regex: not judged here
    bool zoneGiven = false; // :zone
    bool originalZone = false;
    std::string zone;
    std::vector<const Argument*> positional; // strings after the tags
};

bool ReadDateArguments(const Test& test, DateArguments& out, ParseError& fault) {
    const std::vector<Argument>& args = test.arguments;
    for (size_t i = 0; i < args.size(); ++i) {
        const Argument& a = args[i];
        if (a.kind == Argument::Kind::Number) {
            fault = {a.line, "\"" + test.name + "\" takes no number here"};
            return false;
        }
        if (a.kind == Argument::Kind::Strings) {
            out.positional.push_back(&a);
            continue;
        }
        const std::string& tag = a.tag;
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size() || args[i + 1].kind != Argument::Kind::Strings ||
                args[i + 1].strings.size() != 1) {
                fault = {a.line, "\":" + tag + "\" of \"" + test.name + "\" needs a string"};
                return false;
            }
            into = args[++i].strings.front();
            return true;
        };
        if (tag == "zone") {
            out.zoneGiven = true;
            if (!value(out.zone))
                return false;
        } else if (tag == "originalzone") {
            out.originalZone = true;
        } else if (tag == "comparator") {
            std::string name;
            if (!value(name))
                return false;
            out.matcher.comparator = ComparatorNamed(name);
        } else if (tag == "is") {
            out.matcher.type = Matcher::Type::Is;
        } else if (tag == "contains") {
            out.matcher.type = Matcher::Type::Contains;
        } else if (tag == "matches") {
            out.matcher.type = Matcher::Type::Matches;
        } else if (tag == "regex") {
            out.regex = true;
        } else if (tag == "value" || tag == "count") {
            out.matcher.type = tag == "value" ? Matcher::Type::Value : Matcher::Type::Count;
            if (!value(out.matcher.relation))
                return false;
            if (!IsRelation(out.matcher.relation)) {
                fault = {a.line, "\"" + out.matcher.relation + "\" is no relation (gt, ge, lt, "
                                                               "le, eq or ne)"};
                return false;
            }
        } else if (tag == "index") {
            if (i + 1 >= args.size() || args[i + 1].kind != Argument::Kind::Number) {
                fault = {a.line, "\":index\" needs a number"};
                return false;
            }
            ++i;
        } else if (tag != "last") {
            fault = {a.line, "\"" + test.name + "\" has no tag \":" + tag + "\""};
            return false;
        }
    }
    return true;
}

// Whether the date part of `now` seen with `offset` matches any key.
bool DateHolds(const DateArguments& d, const std::string& part, const Argument& keys, int64_t now,
               int offset, const Zone& keyZone) {
    if (d.matcher.type == Matcher::Type::Count) {
        Matcher numeric = d.matcher;
        numeric.type = Matcher::Type::Value;
        if (numeric.comparator == Matcher::Comparator::AsciiCasemap)
            numeric.comparator = Matcher::Comparator::AsciiNumeric;
        for (const std::string& key : keys.strings) {
            if (Matches(numeric, "1", key))
                return true;
        }
        return false;
    }
    const std::string value = DatePart(part, now, offset);
    for (const std::string& key : keys.strings) {
        // A date-time in a key is an instant: compared as one, whatever zone it is written in.
        int64_t instant = 0;
        if (d.matcher.type == Matcher::Type::Value && EqualNoCase(part, "iso8601") &&
            ReadDateTime(key, keyZone, instant)) {
            if (Satisfies(d.matcher.relation, now < instant ? -1 : (now > instant ? 1 : 0)))
                return true;
        } else if (Matches(d.matcher, value, key)) {
            return true;
        }
    }
    return false;
}

bool HasVariable(const Argument& keys) {
    for (const std::string& key : keys.strings) {
        if (key.find("${") != std::string::npos)
            return true;
    }
    return false;
}

// currentdate and date (on a header that a message arriving now dates now).
bool JudgeDate(const Test& test, const TestContext& context, Judgement& out, ParseError& fault) {
    const bool current = test.name == "currentdate";
    DateArguments d;
    if (!ReadDateArguments(test, d, fault))
        return false;
    const size_t wanted = current ? 2 : 3;
    if (d.positional.size() != wanted) {
        fault = {test.line, "\"" + test.name + "\" needs " +
                                (current ? "a date part and keys" : "a header, a date part and keys")};
        return false;
    }
    const Argument& partArgument = *d.positional[wanted - 2];
    const Argument& keys = *d.positional[wanted - 1];
    if (partArgument.strings.size() != 1 || !IsDatePart(partArgument.strings.front())) {
        fault = {partArgument.line, "\"" + (partArgument.strings.empty() ? std::string()
                                                                          : partArgument.strings.front()) +
                                        "\" is no date part"};
        return false;
    }
    const std::string& part = partArgument.strings.front();
    Zone zone = context.serverZone;
    if (d.zoneGiven && !Zone::FromArgument(d.zone, zone)) {
        fault = {test.line, "\"" + d.zone + "\" is no time zone"};
        return false;
    }
    out.truth = Truth::Maybe;
    if (!current) {
        // The message's Date and Received headers date a message arriving now; any other
        // header is the message's own.
        const Argument& header = *d.positional[0];
        if (header.strings.size() != 1)
            return true;
        const std::string& name = header.strings.front();
        if (!EqualNoCase(name, "date") && !EqualNoCase(name, "received") &&
            !EqualNoCase(name, "resent-date"))
            return true;
    }
    if (d.regex || d.matcher.comparator == Matcher::Comparator::Unknown ||
        (context.variables && HasVariable(keys)))
        return true;
    bool holds = false;
    if (!current && d.originalZone && !d.zoneGiven) {
        // The sender's zone is the message's: the test is known only when every zone agrees.
        int agreeing = 0, tried = 0;
        for (int quarter = -48; quarter <= 56; ++quarter, ++tried)
            agreeing += DateHolds(d, part, keys, context.now, quarter * 900,
                                 Zone::Fixed(quarter * 900))
                            ? 1
                            : 0;
        if (agreeing != 0 && agreeing != tried)
            return true;
        holds = agreeing != 0;
    } else {
        holds = DateHolds(d, part, keys, context.now, zone.OffsetAt(context.now), zone);
    }
    out.truth = holds ? Truth::True : Truth::False;
    out.dated = holds;
    if (!holds)
        out.why = Where(test) + " does not hold now (" +
                  DatePart("iso8601", context.now, zone.OffsetAt(context.now)) + ")";
    return true;
}

bool Judge(const Test& test, const TestContext& context, Judgement& out, ParseError& fault,
           int depth) {
    out = Judgement{};
    if (depth > kMaxNesting) {
        fault = {test.line, "tests are nested too deep"};
        return false;
    }
    const std::string& name = test.name;
    if (name == "true" || name == "false") {
        out.truth = name == "true" ? Truth::True : Truth::False;
        if (out.truth == Truth::False)
            out.why = "it is switched off with \"false\" on line " + std::to_string(test.line);
        return true;
    }
    if (name == "not") {
        if (test.tests.size() != 1 || test.testList) {
            fault = {test.line, "\"not\" needs exactly one test"};
            return false;
        }
        Judgement inner;
        if (!Judge(test.tests.front(), context, inner, fault, depth + 1))
            return false;
        out.truth = Not(inner.truth);
        if (out.truth == Truth::False)
            out.why = test.tests.front().name == "true"
                          ? "it is switched off with \"not true\" on line " +
                                std::to_string(test.line)
                          : Where(test) + " does not hold now";
        return true;
    }
    if (name == "allof" || name == "anyof") {
        if (test.tests.empty()) {
            fault = {test.line, "\"" + name + "\" needs a list of tests"};
            return false;
        }
        const bool all = name == "allof";
        out.truth = all ? Truth::True : Truth::False;
        std::string firstWhy;
        bool anyDated = false;
        for (const Test& inner : test.tests) {
            Judgement j;
            if (!Judge(inner, context, j, fault, depth + 1))
                return false;
            out.truth = all ? And(out.truth, j.truth) : Or(out.truth, j.truth);
            if (j.truth == Truth::False && firstWhy.empty())
                firstWhy = j.why;
            anyDated = anyDated || j.dated;
        }
        if (out.truth == Truth::False)
            out.why = firstWhy;
        out.dated = out.truth != Truth::False && anyDated;
        return true;
    }
    if (name == "currentdate" || name == "date")
        return JudgeDate(test, context, out, fault);
    // header, address, envelope, exists, size, body, hasflag, string, environment, duplicate,
    // spamtest and every other test read the message or the delivery: the message decides.
    out.truth = Truth::Maybe;
    return true;
}

} // namespace

bool JudgeTest(const Test& test, const TestContext& context, Judgement& out, ParseError& fault) {
    return Judge(test, context, out, fault, 0);
}

} // namespace mail::sieve
