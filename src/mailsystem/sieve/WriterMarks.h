// What the web mail front ends that write Sieve scripts leave in them: the names of their rules,
// and the traces of a vacation they switched off by leaving its rule out or commenting it out.
// Only explanations come from here; whether a vacation runs is always read from the Sieve itself.
#pragma once

#include "mailsystem/sieve/SieveScript.h"

#include <string>

namespace mail::sieve {

struct RuleMark {
    std::string name;   // the rule's name as the front end shows it; empty: none given
    std::string writer; // "Roundcube", "Horde Ingo", "Nextcloud Mail", "SnappyMail/RainLoop",
                        // "SOGo"; empty: not recognised
};

// The mark of the top-level command `index` of the script called `scriptName`:
// - Roundcube: a "# rule:[NAME]" comment before the rule;
// - Horde Ingo: a "# Vacation" comment before it;
// - Nextcloud Mail: the rule between two "### Nextcloud Mail: Vacation Responder ###" lines;
// - SnappyMail and RainLoop: the rule inside a "BEGIN:FILTER:ID" ... "END:FILTER" block, named
//   by the filter's base64 header when it can be read, else by its ID;
// - SOGo: any rule of the script named "sogo".
RuleMark MarkOf(const Script& script, size_t index, const std::string& scriptName);

// A vacation a front end switched off by leaving its rule out or commenting it out.
struct SwitchedOff {
    std::string writer; // as in RuleMark
    std::string words;  // "Nextcloud Mail's vacation responder is switched off"; empty: none
};
SwitchedOff SwitchedOffVacation(const Script& script, const std::string& scriptName);

} // namespace mail::sieve
