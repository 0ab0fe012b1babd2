// Sieve scripts: the same script read twice alike, a comment line in front moving a fault by
// exactly one line, and every script that reads decided without a crash, an "out" always naming
// the rule that decided. The same bytes as a ManageSieve answer: read without a crash, and a
// complete answer cut by one byte asking for more.
#include "FuzzCheck.h"
#include "mailsystem/sieve/ManageSieveAnswer.h"
#include "mailsystem/sieve/SieveScript.h"
#include "mailsystem/sieve/VacationCheck.h"

using namespace mail::sieve;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Script script;
    ParseError error;
    const bool read = ParseScript(text, script, error);
    Script again;
    ParseError againError;
    FUZZ_CHECK(ParseScript(text, again, againError) == read, "the same script read twice differs");
    FUZZ_CHECK(again.commands.size() == script.commands.size() &&
                   again.comments.size() == script.comments.size() &&
                   againError.line == error.line && againError.what == error.what,
               "the same script read twice differs");
    Script shifted;
    ParseError shiftedError;
    FUZZ_CHECK(ParseScript("# written by a test\n" + text, shifted, shiftedError) == read,
               "a comment line in front changed whether the script reads");
    if (!read) {
        FUZZ_CHECK(error.line >= 1 && !error.what.empty(), "a fault without a line or words");
        FUZZ_CHECK(shiftedError.line == error.line + 1, "a comment line in front moved the fault "
                                                        "by other than one line");
    } else {
        FUZZ_CHECK(shifted.comments.size() == script.comments.size() + 1,
                   "a comment line in front was not kept as one");
        Situation situation;
        situation.now = 1798113600; // 24 December 2026, 12:00 UTC
        situation.serverZone = Zone::Fixed(3600);
        // Includes get the script itself under another name, or nothing.
        situation.source = [&text](const std::string& name, bool global) {
            Fetched fetched;
            if (global)
                fetched.status = Fetched::Status::Unavailable;
            else if (name.size() % 2 == 0)
                fetched = {Fetched::Status::Found, text, {}};
            return fetched;
        };
        Verdict verdict;
        ScriptFault fault;
        if (DecideVacation("fuzz", text, situation, verdict, fault)) {
            FUZZ_CHECK(!verdict.reason.empty() && !verdict.script.empty(),
                       "a decision without its reason or script");
            FUZZ_CHECK(!verdict.out || verdict.line >= 1, "\"out\" without the rule's line");
        } else {
            FUZZ_CHECK(!FaultSentence(fault).empty(), "a fault without words");
        }
    }

    Answer answer;
    size_t consumed = 0;
    std::string why;
    if (ReadAnswer(text, {}, answer, consumed, why) == AnswerState::Complete) {
        FUZZ_CHECK(consumed >= 1 && consumed <= text.size(), "an answer longer than its bytes");
        Answer cut;
        size_t cutConsumed = 0;
        FUZZ_CHECK(ReadAnswer(std::string_view(text).substr(0, consumed - 1), {}, cut,
                              cutConsumed, why) == AnswerState::Incomplete,
                   "an answer cut short did not ask for more");
    }
    return 0;
}
