// The vacation decision on fixed instants: each front end's scripts switched on and off, date
// ranges around their edges in zones other than the server's, message-dependent tests, stop,
// nested ifs and includes; and the faults that keep a decision from being made.
#include "mailsystem/sieve/VacationCheck.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <map>

namespace {

using namespace mail::sieve;

int64_t At(const char* iso) {
    int64_t instant = 0;
    EXPECT_TRUE(ReadDateTime(iso, Zone::Fixed(0), instant)) << iso;
    return instant;
}

Zone ServerZone(const char* name) {
    Zone zone;
    EXPECT_TRUE(Zone::Named(name, zone)) << name;
    return zone;
}

// Roundcube's vacation, 24 December 2026 to 6 January 2027 in +0100, and switched off.
const char* const kRoundcube =
    "require [\"vacation\",\"date\",\"relational\"];\r\n"
    "# rule:[Christmas away]\r\n"
    "if allof (currentdate :zone \"+0100\" :value \"ge\" \"date\" \"2026-12-24\", currentdate "
    ":zone \"+0100\" :value \"le\" \"date\" \"2027-01-06\")\r\n"
    "{\r\n\tvacation :days 1 :subject \"Away\" \"Back on 7 January.\";\r\n}\r\n";
const char* const kRoundcubeOff =
    "require [\"vacation\",\"date\",\"relational\"];\r\n"
    "# rule:[Christmas away]\r\n"
    "if false # allof (currentdate :zone \"+0100\" :value \"ge\" \"date\" \"2026-12-24\")\r\n"
    "{\r\n\tvacation :days 1 :subject \"Away\" \"Back on 7 January.\";\r\n}\r\n";
// Roundcube with times: from 24 December 10:00 in +0100 (09:00 UTC).
const char* const kRoundcubeTimes =
    "require [\"vacation\",\"date\",\"relational\"];\n"
    "# rule:[Afternoon]\n"
    "if allof (currentdate :zone \"+0100\" :value \"ge\" \"iso8601\" \"2026-12-24T10:00:00\")\n"
    "{\n\tvacation \"Away from ten.\";\n}\n";
// SOGo: dates without a zone are the server's; the text is a multi-line string.
const char* const kSogo =
    "require [\"vacation\",\"date\",\"relational\"];\n"
    "if allof (currentdate :value \"ge\" \"date\" \"2026-12-24\", currentdate :value \"le\" "
    "\"date\" \"2027-01-06\") {\n"
    "vacation :days 7 :addresses [\"alice@example.com\"] :subject \"Away\" text:\n"
    "I am away.\n..\n.\n;\n}\n";
const char* const kSogoOff = "require [\"fileinto\"];\nif header :contains \"subject\" \"[spam]\" "
                             "{\n  fileinto \"Junk\";\n}\n";
// Nextcloud Mail: UTC instants; switched off it keeps only its DATA line.
const char* const kNextcloud =
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n"
    "# DATA: {\"version\":1,\"enabled\":true,\"start\":\"2026-12-24\",\"end\":\"2027-01-06\"}\n"
    "require [\"date\",\"relational\",\"vacation\"];\n"
    "if allof(currentdate :value \"ge\" \"iso8601\" \"2026-12-23T23:00:00Z\", currentdate "
    ":value \"le\" \"iso8601\" \"2027-01-06T22:59:59Z\") {\n"
    "\tvacation :days 4 :subject \"Away\" \"I am away.\";\n}\n"
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n";
const char* const kNextcloudOff =
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n"
    "# DATA: {\"version\":1,\"enabled\":false,\"start\":\"2026-12-24\",\"end\":\"2027-01-06\"}\n"
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n"
    "keep;\n";
// Horde Ingo: list mail and bulk mail get no answer.
const char* const kHorde =
    "require [\"vacation\", \"regex\", \"date\", \"relational\"];\n"
    "# Vacation\n"
    "if allof ( not exists [\"list-help\", \"list-unsubscribe\", \"list-id\"], not header "
    ":comparator \"i;ascii-casemap\" :is \"Precedence\" [\"list\", \"bulk\", \"junk\"], "
    "currentdate :value \"ge\" \"date\" \"2026-12-24\", currentdate :value \"le\" \"date\" "
    "\"2027-01-06\" ) {\n"
    "vacation :days 7 :addresses \"alice@example.com\" :subject \"Away\" \"I am away.\";\n}\n";

std::string RainLoop(bool enabled) {
    const QByteArray header =
        QByteArray(R"({"ID":"6a9f","Enabled":true,"Name":"Holiday reply"})").toBase64();
    const std::string rule = "if true\r\n{\r\n\tvacation :days 3 \"On holiday.\";\r\n}";
    return "# This is SnappyMail sieve script.\r\n# Please don't change anything here.\r\n"
           "# RAINLOOP:SIEVE\r\n\r\nrequire [\"vacation\"];\r\n\r\n/*\r\nBEGIN:FILTER:6a9f\r\n"
           "BEGIN:HEADER\r\n" +
           header.toStdString() + "\r\nEND:HEADER\r\n*/\r\n" +
           (enabled ? rule : "/* @Filter is disabled " + rule + " */") +
           "\r\n/*\r\nEND:FILTER\r\n*/\r\n\r\n";
}

struct Row {
    const char* what;
    std::string script; // the active script, named "main" unless `name` says otherwise
    const char* now;    // UTC
    const char* zone;   // the mail server's
    bool out;
    const char* reason; // a part of the reason
    int line = 0;       // the deciding rule's line, when one decided
    const char* rule = "";
    const char* writer = "";
    const char* name = "main";
};

const std::map<std::string, std::string> kIncludes = {
    {"away", "require \"vacation\";\nvacation \"Away.\";\n"},
    {"returns", "require [\"include\", \"vacation\"];\nreturn;\nvacation \"never\";\n"},
    {"stops", "stop;\n"},
    {"maybe-stops", "if header :is \"x-loop\" \"1\" { stop; }\n"},
    {"nested", "require \"include\";\ninclude \"away\";\n"},
};

TEST(VacationCheckTest, EachScriptDecidesAsItsWriterMeant) {
    const std::string christmasEve = "2026-12-24T12:00:00Z";
    const Row rows[] = {
        // Roundcube, +0100: the first day starts at 23:00 UTC, the last ends at 22:59:59 UTC.
        {"Roundcube, past", kRoundcube, "2026-06-01T12:00:00Z", "UTC", false,
         "does not hold now (2026-06-01T13:00:00+01:00)", 3, "Christmas away", "Roundcube"},
        {"Roundcube, a second before", kRoundcube, "2026-12-23T22:59:59Z", "UTC", false,
         "answers no message arriving now", 3, "Christmas away", "Roundcube"},
        {"Roundcube, the first second", kRoundcube, "2026-12-23T23:00:00Z", "UTC", true,
         "answers every message arriving now, within its dates", 3, "Christmas away",
         "Roundcube"},
        {"Roundcube, the last second", kRoundcube, "2027-01-06T22:59:59Z", "America/New_York",
         true, "within its dates", 3, "Christmas away", "Roundcube"},
        {"Roundcube, a second after", kRoundcube, "2027-01-06T23:00:00Z", "UTC", false,
         "\"le\" \"date\" \"2027-01-06\" on line 3 does not hold now", 3, "Christmas away",
         "Roundcube"},
        {"Roundcube, future", kRoundcube, "2027-03-01T00:00:00Z", "UTC", false, "does not hold",
         3, "Christmas away", "Roundcube"},
        {"Roundcube switched off", kRoundcubeOff, christmasEve.c_str(), "UTC", false,
         "switched off with \"false\" on line 3", 3, "Christmas away", "Roundcube"},
        {"Roundcube times, before", kRoundcubeTimes, "2026-12-24T08:59:59Z", "Asia/Kolkata",
         false, "does not hold", 3, "Afternoon", "Roundcube"},
        {"Roundcube times, from", kRoundcubeTimes, "2026-12-24T09:00:00Z", "Asia/Kolkata", true,
         "within its dates", 3, "Afternoon", "Roundcube"},
        // SOGo: the same dates in the server's zone, here New York (UTC-5) and Kolkata (+5:30).
        {"SOGo, New York, before", kSogo, "2026-12-24T04:59:59Z", "America/New_York", false,
         "does not hold now (2026-12-23T23:59:59-05:00)", 2, "", "SOGo", "sogo"},
        {"SOGo, New York, from", kSogo, "2026-12-24T05:00:00Z", "America/New_York", true,
         "(SOGo, line 2) of the script \"sogo\" answers every message", 2, "", "SOGo", "sogo"},
        {"SOGo, Kolkata, the same instant is past the start", kSogo, "2026-12-23T18:30:00Z",
         "Asia/Kolkata", true, "within its dates", 2, "", "SOGo", "sogo"},
        {"SOGo, Kolkata, the last day is over", kSogo, "2027-01-06T18:30:00Z", "Asia/Kolkata",
         false, "does not hold", 2, "", "SOGo", "sogo"},
        {"SOGo switched off", kSogoOff, christmasEve.c_str(), "UTC", false,
         "SOGo leaves a switched-off vacation out", 0, "", "SOGo", "sogo"},
        // Nextcloud Mail: UTC instants, whatever the server's zone.
        {"Nextcloud, before", kNextcloud, "2026-12-23T22:59:59Z", "Asia/Kolkata", false,
         "does not hold", 4, "Vacation Responder", "Nextcloud Mail"},
        {"Nextcloud, from", kNextcloud, "2026-12-23T23:00:00Z", "America/New_York", true,
         "within its dates", 4, "Vacation Responder", "Nextcloud Mail"},
        {"Nextcloud, the last second", kNextcloud, "2027-01-06T22:59:59Z", "UTC", true,
         "within its dates", 4, "Vacation Responder", "Nextcloud Mail"},
        {"Nextcloud, after", kNextcloud, "2027-01-06T23:00:00Z", "UTC", false, "does not hold",
         4, "Vacation Responder", "Nextcloud Mail"},
        {"Nextcloud switched off", kNextcloudOff, christmasEve.c_str(), "UTC", false,
         "Nextcloud Mail's vacation responder is switched off", 0, "", "Nextcloud Mail"},
        // SnappyMail and RainLoop comment a disabled filter out.
        {"RainLoop", RainLoop(true), christmasEve.c_str(), "UTC", true,
         "\"Holiday reply\" (SnappyMail/RainLoop, line 13)", 13, "Holiday reply",
         "SnappyMail/RainLoop", "rainloop.user"},
        {"RainLoop disabled", RainLoop(false), christmasEve.c_str(), "UTC", false,
         "the SnappyMail/RainLoop filter \"Holiday reply\" is disabled", 0, "",
         "SnappyMail/RainLoop", "rainloop.user"},
        // Horde: message tests around the dates: on for the messages that pass them.
        {"Horde, within", kHorde, christmasEve.c_str(), "UTC", true,
         "answers messages arriving now that pass its tests, within its dates", 3, "Vacation",
         "Horde Ingo"},
        {"Horde, after", kHorde, "2027-02-01T00:00:00Z", "UTC", false, "does not hold", 3,
         "Vacation", "Horde Ingo"},
        // The Sieve itself, as anyone may write it.
        {"unconditional", "require \"vacation\";\nvacation \"x\";", christmasEve.c_str(), "UTC",
         true, "The vacation rule on line 2 of the script \"main\" answers every message", 2},
        {"if not true", "if not true {\n vacation \"x\";\n}", christmasEve.c_str(), "UTC", false,
         "switched off with \"not true\" on line 1", 1},
        {"a sender test", "if address :is \"from\" \"boss@example.com\" { vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "answers messages arriving now that pass its tests",
         1},
        {"no vacation", "keep;", christmasEve.c_str(), "UTC", false,
         "The script \"main\" has no vacation rule."},
        {"stop before", "stop;\nvacation \"x\";", christmasEve.c_str(), "UTC", false,
         "the \"stop\" on line 1 of the script \"main\" comes first", 2},
        {"stop for some messages", "if size :over 1M { stop; }\nvacation \"x\";",
         christmasEve.c_str(), "UTC", true, "pass its tests", 2},
        {"every branch stops",
         "if header :is \"a\" \"b\" { stop; } else { stop; }\nvacation \"x\";",
         christmasEve.c_str(), "UTC", false,
         "every branch of the \"if\" on line 1 ends the script before it", 2},
        {"else after a branch that always runs",
         "if true { keep; } else { vacation \"x\"; }", christmasEve.c_str(), "UTC", false,
         "the branch on line 1 is taken instead", 1},
        {"elsif reached", "if false { keep; }\nelsif true { vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "answers every message", 1},
        {"nested false",
         "if true {\n  if currentdate :value \"lt\" \"year\" \"2020\" {\n    vacation \"x\";\n  "
         "}\n}",
         christmasEve.c_str(), "UTC", false, "\"year\" \"2020\" on line 2 does not hold", 1},
        {"anyof with one date holding",
         "if anyof (false, currentdate :is \"weekday\" \"4\") { vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "within its dates", 1},
        {"matches on the month",
         "if currentdate :matches \"date\" \"2026-12-*\" { vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "every message", 1},
        {"ascii-numeric comparator",
         "if currentdate :comparator \"i;ascii-numeric\" :value \"gt\" \"julian\" \"9999\" { "
         "vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "every message", 1},
        {"the Date header of a message arriving now",
         "if date :value \"ge\" :zone \"+0000\" \"date\" \"date\" \"2026-12-24\" { vacation "
         "\"x\"; }",
         christmasEve.c_str(), "UTC", true, "every message", 1},
        {"any other header's date depends on the message",
         "if date :value \"ge\" \"x-expires\" \"date\" \"2030-01-01\" { vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "pass its tests", 1},
        {"the sender's zone can move the date",
         "if date :originalzone :value \"ge\" \"date\" \"date\" \"2026-12-25\" { vacation "
         "\"x\"; }",
         "2026-12-24T20:00:00Z", "UTC", true, "pass its tests", 1},
        {"but not this far",
         "if date :originalzone :value \"ge\" \"date\" \"date\" \"2026-12-26\" { vacation "
         "\"x\"; }",
         "2026-12-24T20:00:00Z", "UTC", false, "does not hold", 1},
        {"a date from a variable depends on the message",
         "require [\"variables\", \"date\", \"relational\"];\nset \"d\" \"2099-01-01\";\n"
         "if currentdate :value \"ge\" \"date\" \"${d}\" { vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "pass its tests", 3},
        {"a vacation under foreverypart", "foreverypart { vacation \"x\"; }",
         christmasEve.c_str(), "UTC", true, "pass its tests", 1},
        // Includes (RFC 6609).
        {"an included vacation", "require \"include\";\ninclude :personal \"away\";",
         christmasEve.c_str(), "UTC", true,
         "The vacation rule on line 2 of the script \"away\" answers every message", 2},
        {"included twice through another", "include \"nested\";\ninclude :once \"away\";",
         christmasEve.c_str(), "UTC", true, "of the script \"away\"", 2},
        {"return ends only the included script",
         "include \"returns\";\nvacation \"mine\";", christmasEve.c_str(), "UTC", true,
         "on line 2 of the script \"main\" answers every message", 2},
        {"stop in an included script ends everything", "include \"stops\";\nvacation \"x\";",
         christmasEve.c_str(), "UTC", false, "the \"stop\" on line 1 of the script \"stops\"",
         2},
        {"an included stop for some messages", "include \"maybe-stops\";\nvacation \"x\";",
         christmasEve.c_str(), "UTC", true, "pass its tests", 2},
        {"an optional include that is missing", "include :optional \"gone\";\nkeep;",
         christmasEve.c_str(), "UTC", false, "The script \"main\" has no vacation rule."},
        {"an include no message reaches is not read",
         "if false { include \"gone\"; }\nvacation \"x\";", christmasEve.c_str(), "UTC", true,
         "every message", 2},
        {"a global include cannot be read here", "include :global \"spam\";\nkeep;",
         christmasEve.c_str(), "UTC", false,
         "The global script \"spam\" that the script \"main\" includes on line 1 cannot be "
         "read from here and was passed over."},
    };
    for (const Row& row : rows) {
        Situation situation;
        situation.now = At(row.now);
        situation.serverZone = ServerZone(row.zone);
        situation.source = [](const std::string& name, bool global) {
            Fetched fetched;
            const auto found = kIncludes.find(name);
            if (global)
                fetched.status = Fetched::Status::Unavailable;
            else if (found != kIncludes.end())
                fetched = {Fetched::Status::Found, found->second, {}};
            return fetched;
        };
        Verdict verdict;
        ScriptFault fault;
        ASSERT_TRUE(DecideVacation(row.name, row.script, situation, verdict, fault))
            << row.what << ": " << FaultSentence(fault);
        EXPECT_EQ(verdict.out, row.out) << row.what << ": " << verdict.reason;
        EXPECT_NE(verdict.reason.find(row.reason), std::string::npos)
            << row.what << ": " << verdict.reason;
        EXPECT_EQ(verdict.line, row.line) << row.what << ": " << verdict.reason;
        EXPECT_EQ(verdict.rule, row.rule) << row.what;
        EXPECT_EQ(verdict.writer, row.writer) << row.what;
    }
}

struct FaultRow {
    const char* what;
    const char* script;
    const char* sentence;
};

TEST(VacationCheckTest, ScriptsThatCannotBeReadOrFollowedFailTheCheck) {
    const std::map<std::string, std::string> scripts = {
        {"loop-a", "include \"loop-b\";"},
        {"loop-b", "include \"loop-a\";"},
        {"damaged", "keep;\n\nvacation \"x;\n"},
        {"deep", "include :once \"deep\";"},
    };
    const FaultRow rows[] = {
        {"damaged active script", "require \"vacation\";\nif true {\n  vacation \"x\";\n",
         "The Sieve script \"main\" is damaged on line 4: the block of \"if\" begun on line 2 "
         "is not closed"},
        {"damaged included script", "include \"damaged\";",
         "The Sieve script \"damaged\" is damaged on line 3: a string begun on line 3 is never "
         "closed with a quote."},
        {"missing include", "keep;\ninclude \"gone\";",
         "The Sieve script \"main\" cannot be followed on line 2: it includes \"gone\", which "
         "the server does not have."},
        {"include loop", "include \"loop-a\";", "which is already being run (a loop)"},
        {"a script that includes itself", "include \"deep\";", "a loop"},
        {"elsif without if", "keep;\nelsif true { }", "is damaged on line 2: \"elsif\" does not "
                                                     "follow an \"if\""},
        {"if without a test", "if { keep; }", "is damaged on line 1: \"if\" needs one test"},
        {"if without a block", "if true;", "\"if\" needs a block"},
        {"unknown date part", "if currentdate :is \"fortnight\" \"1\" { }",
         "\"fortnight\" is no date part"},
        {"unknown zone", "if currentdate :zone \"Mars/Olympus\" :is \"year\" \"2026\" { }",
         "\"Mars/Olympus\" is no time zone"},
        {"bad relation", "if currentdate :value \"about\" \"year\" \"2026\" { }",
         "\"about\" is no relation"},
        {"date test without keys", "if currentdate \"date\" { }",
         "\"currentdate\" needs a date part and keys"},
        {"include without a name", "include :once;", "\"include\" needs one script name"},
    };
    for (const FaultRow& row : rows) {
        Situation situation;
        situation.now = At("2026-12-24T12:00:00Z");
        situation.source = [&scripts](const std::string& name, bool) {
            Fetched fetched;
            const auto found = scripts.find(name);
            if (found != scripts.end())
                fetched = {Fetched::Status::Found, found->second, {}};
            return fetched;
        };
        Verdict verdict;
        ScriptFault fault;
        EXPECT_FALSE(DecideVacation("main", row.script, situation, verdict, fault)) << row.what;
        const std::string sentence = FaultSentence(fault, "");
        EXPECT_NE(sentence.find(row.sentence), std::string::npos) << row.what << ": " << sentence;
    }
}

TEST(VacationCheckTest, AFailedFetchIsTheSourcesSentenceAndEachScriptIsFetchedOnce) {
    std::map<std::string, int> fetches;
    Situation situation;
    situation.now = At("2026-12-24T12:00:00Z");
    situation.source = [&fetches](const std::string& name, bool) {
        ++fetches[name];
        Fetched fetched;
        if (name == "broken")
            fetched = {Fetched::Status::Failed, {}, "The Sieve server sieve://x:4190 did not answer."};
        else
            fetched = {Fetched::Status::Found, "keep;", {}};
        return fetched;
    };
    Verdict verdict;
    ScriptFault fault;
    ASSERT_TRUE(DecideVacation("main", "include \"a\"; include \"a\"; include :once \"a\";",
                               situation, verdict, fault));
    EXPECT_EQ(fetches["a"], 1);
    EXPECT_FALSE(DecideVacation("main", "include \"broken\";", situation, verdict, fault));
    EXPECT_EQ(FaultSentence(fault, " of alice"), "The Sieve server sieve://x:4190 did not answer.");
}

} // namespace
