// Sieve tests judged for a message arriving at a known instant: true, false, or "depends on the
// message" for tests that read its headers, envelope, size or body.
#pragma once

#include "mailsystem/sieve/SieveDates.h"
#include "mailsystem/sieve/SieveScript.h"

#include <cstdint>
#include <string>

namespace mail::sieve {

// Kleene's three values: Maybe is a test whose outcome depends on the message.
enum class Truth { False, True, Maybe };

Truth And(Truth a, Truth b);
Truth Or(Truth a, Truth b);
Truth Not(Truth a);

struct TestContext {
    int64_t now = 0;       // seconds since 1970: when the message arrives
    Zone serverZone;       // the zone of dates that name none
    bool variables = false; // the script requires "variables" or "encoded-character": a key
                            // with "${" is only known when the message is
};

struct Judgement {
    Truth truth = Truth::Maybe;
    // When False: why, in words that follow "because" ("it reads \"if false\" on line 4").
    std::string why;
    // A date test holds now on the way to this truth (the rule is bounded by dates).
    bool dated = false;
};

// Judges a test. False, with the fault, when the test is malformed in a way its server would
// have refused (a date test without its date part, an unknown date part or zone).
bool JudgeTest(const Test& test, const TestContext& context, Judgement& out, ParseError& fault);

} // namespace mail::sieve
