// Walking a user's active script and its includes for a message arriving now: which vacation
// actions it can reach, for every message, for some, or for none, and why.
#include "mailsystem/sieve/VacationCheck.h"

#include "mailsystem/sieve/SieveScript.h"
#include "mailsystem/sieve/SieveTests.h"
#include "mailsystem/sieve/WriterMarks.h"

#include <deque>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace mail::sieve {
namespace {

// How many of the messages arriving now reach a point of a script.
enum class Reach { Never, Sometimes, Always };

Reach Meet(Reach a, Reach b) {
    return a < b ? a : b;
}

Reach FromTruth(Truth t) {
    return t == Truth::True ? Reach::Always : (t == Truth::False ? Reach::Never : Reach::Sometimes);
}

// How running a piece of a script can end, as a set: it goes on after it, it stops everything
// (`stop`), or it ends the current script and goes back to the includer (`return`).
constexpr unsigned kFall = 1, kStop = 2, kReturn = 4;

constexpr size_t kMaxIncludeDepth = 10; // Dovecot's default sieve_include_max_nesting_depth
constexpr size_t kMaxScripts = 32;      // distinct scripts one decision may read

std::string Line(int line) {
    return "line " + std::to_string(line);
}

struct Loaded {
    std::string name;
    bool global = false;
    Script script;
};

// A vacation action met on the way, with how many messages reach it.
struct Hit {
    size_t script = 0; // index into the loaded scripts
    size_t rule = 0;   // the top-level command of that script that holds it
    Reach reach = Reach::Never;
    std::string why; // Never: why no message reaches it
    bool dated = false;
};

// Where the walk is: which script and which of its top-level rules.
struct Frame {
    size_t script = 0;
    size_t rule = 0;
    TestContext context;
};

// The state of the way to a command: how many messages reach it, why none do, and whether a
// date test that holds lies on the way.
struct Way {
    Reach reach = Reach::Always;
    std::string why;
    bool dated = false;
};

class Walker {
public:
    Walker(const Situation& situation, ScriptFault& fault) : m_situation(situation), m_fault(fault) {}

    bool Run(const std::string& name, std::string_view text) {
        size_t index = 0;
        if (!Parse(name, false, text, index))
            return false;
        m_stack.push_back({false, name});
        unsigned outcomes = 0;
        return WalkScript(index, Way{}, outcomes);
    }

    Verdict Decide() const;

private:
    bool Fail(size_t script, int line, std::string what, bool damaged) {
        m_fault = {m_loaded[script].name, line, std::move(what), damaged, {}};
        return false;
    }

    bool Parse(const std::string& name, bool global, std::string_view text, size_t& index) {
        Loaded loaded{name, global, {}};
        ParseError error;
        if (!ParseScript(text, loaded.script, error)) {
            m_fault = {name, error.line, error.what, true, {}};
            return false;
        }
        m_loaded.push_back(std::move(loaded));
        index = m_loaded.size() - 1;
        m_index[{global, name}] = index;
        return true;
    }

    bool WalkScript(size_t index, const Way& way, unsigned& outcomes) {
        Frame frame;
        frame.script = index;
        frame.context.now = m_situation.now;
        frame.context.serverZone = m_situation.serverZone;
        return Block(m_loaded[index].script.commands, frame, true, way, outcomes);
    }

    bool Block(const std::vector<Command>& commands, Frame& frame, bool top, const Way& entry,
               unsigned& outcomes);
    bool Exec(const Command& c, Frame& frame, const Way& way, unsigned& o, std::string& endWhy);
    bool Chain(const std::vector<Command>& commands, size_t first, size_t last, Frame& frame,
               const Way& way, unsigned& o, std::string& endWhy);
    bool Include(const Command& c, Frame& frame, const Way& way, unsigned& o,
                 std::string& endWhy);

    const Situation& m_situation;
    ScriptFault& m_fault;
    std::deque<Loaded> m_loaded; // the active script first; stable addresses
    std::map<std::pair<bool, std::string>, size_t> m_index;
    std::vector<std::pair<bool, std::string>> m_stack; // the includes being walked
    std::set<std::pair<bool, std::string>> m_included;
    std::vector<Hit> m_hits;
    std::vector<std::string> m_notes;
    std::string m_stopWhy; // why the last `stop` met ends everything after it
};

bool Walker::Block(const std::vector<Command>& commands, Frame& frame, bool top, const Way& entry,
                   unsigned& outcomes) {
    unsigned current = kFall;
    std::string endWhy;
    for (size_t i = 0; i < commands.size(); ++i) {
        const Command& c = commands[i];
        if (top)
            frame.rule = i;
        Way here = entry;
        if (current != kFall) {
            if (current & kFall)
                here.reach = Meet(entry.reach, Reach::Sometimes);
            else if (entry.reach != Reach::Never) {
                here.reach = Reach::Never;
                here.why = endWhy;
            }
        }
        unsigned o = kFall;
        std::string why;
        if (c.name == "if") {
            size_t last = i;
            while (last + 1 < commands.size() &&
                   (commands[last + 1].name == "elsif" || commands[last + 1].name == "else")) {
                ++last;
                if (commands[last].name == "else")
                    break;
            }
            if (!Chain(commands, i, last, frame, here, o, why))
                return false;
            i = last;
        } else if (c.name == "elsif" || c.name == "else") {
            return Fail(frame.script, c.line, "\"" + c.name + "\" does not follow an \"if\"", true);
        } else if (!Exec(c, frame, here, o, why)) {
            return false;
        }
        if (current & kFall) {
            current = (current & ~kFall) | o;
            if (!(o & kFall))
                endWhy = why;
        }
    }
    outcomes = current;
    return true;
}

bool Walker::Chain(const std::vector<Command>& commands, size_t first, size_t last, Frame& frame,
                   const Way& way, unsigned& o, std::string& endWhy) {
    Truth rest = Truth::True; // no earlier branch was taken
    std::string restWhy;
    unsigned result = 0;
    for (size_t k = first; k <= last; ++k) {
        const Command& clause = commands[k];
        Judgement judged;
        judged.truth = Truth::True;
        if (clause.name != "else") {
            if (clause.tests.size() != 1 || clause.testList)
                return Fail(frame.script, clause.line, "\"" + clause.name + "\" needs one test",
                            true);
            ParseError error;
            if (!JudgeTest(clause.tests.front(), frame.context, judged, error))
                return Fail(frame.script, error.line, error.what, true);
        }
        if (!clause.hasBlock)
            return Fail(frame.script, clause.line, "\"" + clause.name + "\" needs a block", true);
        const Truth enter = And(rest, judged.truth);
        Way inside = way;
        inside.reach = Meet(way.reach, FromTruth(enter));
        inside.dated = way.dated || judged.dated;
        if (way.reach != Reach::Never && enter == Truth::False)
            inside.why = rest == Truth::False ? restWhy : judged.why;
        unsigned inner = 0;
        if (!Block(clause.block, frame, false, inside, inner))
            return false;
        if (enter != Truth::False)
            result |= inner;
        if (rest != Truth::False && judged.truth == Truth::True)
            restWhy = "the branch on " + Line(clause.line) + " is taken instead";
        rest = And(rest, Not(judged.truth));
    }
    if (rest != Truth::False)
        result |= kFall;
    o = result;
    if (!(o & kFall))
        endWhy = "every branch of the \"if\" on " + Line(commands[first].line) +
                 " ends the script before it";
    return true;
}

bool Walker::Exec(const Command& c, Frame& frame, const Way& way, unsigned& o,
                  std::string& endWhy) {
    o = kFall;
    if (c.name == "require") {
        for (const Argument& a : c.arguments) {
            for (const std::string& s : a.strings) {
                if (s == "variables" || s == "encoded-character")
                    frame.context.variables = true;
            }
        }
    } else if (c.name == "stop" || c.name == "return") {
        o = c.name == "stop" ? kStop : kReturn;
        endWhy = "the \"" + c.name + "\" on " + Line(c.line) + " of the script \"" +
                 m_loaded[frame.script].name + "\" comes first";
        if (c.name == "stop")
            m_stopWhy = endWhy;
    } else if (c.name == "vacation") {
        m_hits.push_back({frame.script, frame.rule, way.reach, way.why, way.dated});
    } else if (c.name == "include") {
        return Include(c, frame, way, o, endWhy);
    } else if (c.hasBlock) {
        // foreverypart and other blocks that run as the message decides.
        Way inside = way;
        inside.reach = Meet(way.reach, Reach::Sometimes);
        unsigned inner = 0;
        if (!Block(c.block, frame, false, inside, inner))
            return false;
        o = kFall | (inner & (kStop | kReturn));
    }
    return true;
}

bool Walker::Include(const Command& c, Frame& frame, const Way& way, unsigned& o,
                     std::string& endWhy) {
    o = kFall;
    bool global = false, once = false, optional = false;
    std::vector<std::string> names;
    for (const Argument& a : c.arguments) {
        if (a.kind == Argument::Kind::Tag) {
            if (a.tag == "global" || a.tag == "personal")
                global = a.tag == "global";
            else if (a.tag == "once")
                once = true;
            else if (a.tag == "optional")
                optional = true;
            else
                return Fail(frame.script, a.line, "\"include\" has no tag \":" + a.tag + "\"",
                            true);
        } else if (a.kind == Argument::Kind::Strings) {
            names.insert(names.end(), a.strings.begin(), a.strings.end());
        }
    }
    if (names.size() != 1)
        return Fail(frame.script, c.line, "\"include\" needs one script name", true);
    if (way.reach == Reach::Never)
        return true; // no message gets here: nothing to read
    const std::pair<bool, std::string> key{global, names.front()};
    const std::string& name = key.second;
    for (const auto& open : m_stack) {
        if (open == key)
            return Fail(frame.script, c.line,
                        "it includes \"" + name + "\", which is already being run (a loop)",
                        false);
    }
    if (once && m_included.count(key))
        return true;
    if (m_stack.size() >= kMaxIncludeDepth)
        return Fail(frame.script, c.line,
                    "includes are nested more than " + std::to_string(kMaxIncludeDepth) + " deep",
                    false);
    auto found = m_index.find(key);
    size_t index = 0;
    if (found != m_index.end()) {
        index = found->second;
    } else {
        if (m_loaded.size() >= kMaxScripts)
            return Fail(frame.script, c.line,
                        "more than " + std::to_string(kMaxScripts) + " scripts are included",
                        false);
        Fetched fetched;
        fetched.status = Fetched::Status::Unavailable;
        if (m_situation.source)
            fetched = m_situation.source(name, global);
        switch (fetched.status) {
        case Fetched::Status::Found:
            if (!Parse(name, global, fetched.text, index))
                return false;
            break;
        case Fetched::Status::Missing:
            if (optional)
                return true;
            return Fail(frame.script, c.line,
                        "it includes \"" + name + "\", which the server does not have", false);
        case Fetched::Status::Unavailable:
            m_notes.push_back("The " + std::string(global ? "global" : "personal") +
                              " script \"" + name + "\" that the script \"" +
                              m_loaded[frame.script].name + "\" includes on " + Line(c.line) +
                              " cannot be read from here and was passed over.");
            return true;
        case Fetched::Status::Failed:
            m_fault = {m_loaded[frame.script].name, c.line, "", false, fetched.error};
            return false;
        }
    }
    m_included.insert(key);
    m_stack.push_back(key);
    unsigned inner = 0;
    const bool walked = WalkScript(index, way, inner);
    m_stack.pop_back();
    if (!walked)
        return false;
    o = (inner & kStop) | ((inner & (kFall | kReturn)) ? kFall : 0);
    if (!(o & kFall))
        endWhy = m_stopWhy;
    return true;
}

Verdict Walker::Decide() const {
    Verdict v;
    const Hit* chosen = nullptr;
    for (Reach wanted : {Reach::Always, Reach::Sometimes, Reach::Never}) {
        for (const Hit& hit : m_hits) {
            if (!chosen && hit.reach == wanted)
                chosen = &hit;
        }
    }
    std::string notes;
    for (const std::string& note : m_notes)
        notes += " " + note;
    if (!chosen) {
        v.script = m_loaded.front().name;
        for (const Loaded& loaded : m_loaded) {
            const SwitchedOff off = SwitchedOffVacation(loaded.script, loaded.name);
            if (!off.words.empty()) {
                v.script = loaded.name;
                v.writer = off.writer;
                v.reason =
                    "The script \"" + loaded.name + "\" has no vacation rule: " + off.words + ".";
                v.reason += notes;
                return v;
            }
        }
        v.reason = "The script \"" + v.script + "\" has no vacation rule" +
                   (m_loaded.size() > 1 ? ", nor do the scripts it includes." : ".") + notes;
        return v;
    }
    const Loaded& loaded = m_loaded[chosen->script];
    const Command& rule = loaded.script.commands[chosen->rule];
    const RuleMark mark = MarkOf(loaded.script, chosen->rule, loaded.name);
    v.out = chosen->reach != Reach::Never;
    v.script = loaded.name;
    v.line = rule.line;
    v.rule = mark.name;
    v.writer = mark.writer;
    std::string named = "The vacation rule ";
    if (!mark.name.empty())
        named += "\"" + mark.name + "\" (" + (mark.writer.empty() ? "" : mark.writer + ", ") +
                 Line(rule.line) + ")";
    else if (!mark.writer.empty())
        named += "(" + mark.writer + ", " + Line(rule.line) + ")";
    else
        named += "on " + Line(rule.line);
    named += " of the script \"" + loaded.name + "\"";
    if (chosen->reach == Reach::Always)
        v.reason = named + " answers every message arriving now" +
                   (chosen->dated ? ", within its dates." : ".");
    else if (chosen->reach == Reach::Sometimes)
        v.reason = named + " answers messages arriving now that pass its tests" +
                   (chosen->dated ? ", within its dates." : ".");
    else
        v.reason = named + " answers no message arriving now: " + chosen->why + ".";
    v.reason += notes;
    return v;
}

} // namespace

std::string FaultSentence(const ScriptFault& fault, const std::string& owner) {
    if (!fault.fetchError.empty())
        return fault.fetchError;
    return "The Sieve script \"" + fault.script + "\"" + owner + " " +
           (fault.damaged ? "is damaged on " : "cannot be followed on ") + Line(fault.line) + ": " +
           fault.what + ".";
}

bool DecideVacation(const std::string& name, std::string_view text, const Situation& situation,
                    Verdict& verdict, ScriptFault& fault) {
    Walker walker(situation, fault);
    if (!walker.Run(name, text))
        return false;
    verdict = walker.Decide();
    return true;
}

Verdict NoActiveScript() {
    Verdict v;
    v.reason = "No Sieve script is active, so no vacation rule runs.";
    return v;
}

} // namespace mail::sieve
