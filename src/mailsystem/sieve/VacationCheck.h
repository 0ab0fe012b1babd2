// Whether a user's Sieve scripts would answer a message arriving now with a vacation reply
// (RFC 5230): the user is out of office when they would.
#pragma once

#include "mailsystem/sieve/SieveDates.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace mail::sieve {

// A script an `include` (RFC 6609) names, as its server supplies it.
struct Fetched {
    enum class Status {
        Found,       // `text` holds the script
        Missing,     // the server has no such script
        Unavailable, // it cannot be read from here (global scripts, over ManageSieve)
        Failed       // reading it failed: `error` is a sentence naming the server and cause
    };
    Status status = Status::Missing;
    std::string text;
    std::string error;
};

// Supplies the scripts that includes name: a personal script, or with `global` one of the
// server's global scripts. Called at most once per script and decision.
using ScriptSource = std::function<Fetched(const std::string& name, bool global)>;

struct Situation {
    int64_t now = 0;     // seconds since 1970: the instant a message arrives
    Zone serverZone;     // where dates that name no zone are read (the mail server's zone)
    ScriptSource source; // null: every include is Unavailable
};

// What decided, for the window's "Office Flag" and for `orvane out-of-office`.
struct Verdict {
    bool out = false;
    std::string script; // the script whose rule decided, else the active script; empty: none
    int line = 0;       // the first line of the rule that decided; 0: no rule decided
    std::string rule;   // the rule's name as its front end shows it; empty: none
    std::string writer; // the front end that wrote the rule ("Roundcube"), when recognised
    std::string reason; // the decision as one sentence, such as: The vacation rule "Away"
                        // (Roundcube, line 3) of the script "roundcube" answers every message
                        // arriving now, within its dates.
};

// The script or include that kept the decision from being made.
struct ScriptFault {
    std::string script; // the script at fault
    int line = 0;       // its line
    std::string what;   // in words, starting in lower case
    bool damaged = true; // no Sieve script (else: one that cannot be followed, such as a
                         // missing include, or `error` of a failed fetch)
    std::string fetchError; // a failed fetch: the source's sentence, used as it stands
};

// A fault as one sentence: `The Sieve script "x" is damaged on line 7: ...` or `The Sieve
// script "x" cannot be followed on line 3: it includes "y", which the server does not have.`
// `owner` follows the script's name (" of alice on sieve://host:4190").
std::string FaultSentence(const ScriptFault& fault, const std::string& owner = {});

// Decides for the active script `name` with the text `text`: the user is out when a vacation
// action can run for a message arriving at situation.now (for every such message, or for some
// when it depends on the message). False, with the fault, when the script or a script it
// includes cannot be read or followed; never a guess.
bool DecideVacation(const std::string& name, std::string_view text, const Situation& situation,
                    Verdict& verdict, ScriptFault& fault);

// The verdict when the user has no active script: in the office.
Verdict NoActiveScript();

} // namespace mail::sieve
