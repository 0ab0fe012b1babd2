// Editing a user list by the words of "orvane users add|set|remove", with the rules of the user
// dialogs: for the command line and for a monitor that is handed the change.
#include "users/UserListEdit.h"

#include "core/Text.h"
#include "core/WorkingDirectory.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <cerrno>
#include <cstdlib>
#include <ostream>

namespace {

enum Option { DisplayName, Mailbox, Server, Pager, Interval, PageOnlyOOF, OptionCount };
const std::vector<std::string> kOptions = {
    "display-name", "mailbox", "server", "pager", "interval", "page-only-when-out-of-office"};

bool ParseWholeNumber(const std::string& text, long& value) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    errno = 0;
    value = std::strtol(text.c_str(), nullptr, 10);
    return errno == 0;
}

// Applies the given options to `user` with the rules of the properties dialog; false (and a
// message) when a value is refused. Nothing is changed unless every value is accepted.
bool ApplyOptions(const std::vector<options::OptionValue>& values, UserlistStru& user,
                  std::ostream& err) {
    UserlistStru edited;
    CopyUserConfiguration(edited, user);

    const struct {
        Option option;
        CString* field;
    } strings[] = {{DisplayName, &edited.DisplayName},
                   {Mailbox, &edited.MailboxName},
                   {Server, &edited.Server},
                   {Pager, &edited.PagerName}};
    for (const auto& s : strings) {
        if (!values[s.option].present)
            continue;
        const std::string& text = values[s.option].value;
        if (HasControlCharacter(text)) {
            err << "orvane: --" << kOptions[s.option] << " must not contain control characters\n";
            return false;
        }
        *s.field = text;
    }
    const CString problem = CheckUserStrings(edited);
    if (!problem.empty()) {
        err << "orvane: " << problem << "\n";
        return false;
    }

    if (values[Interval].present) {
        long minutes = 0;
        if (!ParseWholeNumber(values[Interval].value, minutes)) {
            err << "orvane: --interval takes a whole number of minutes, not \""
                << EscapeField(values[Interval].value) << "\"\n";
            return false;
        }
        if (minutes > kMaxScanInterval) {
            err << "orvane: --interval " << values[Interval].value << " is too long; at most "
                << kMaxScanInterval << " minutes can be stored\n";
            return false;
        }
        edited.ScanInterval =
            static_cast<int16_t>(minutes < kMinScanInterval ? kMinScanInterval : minutes);
    }
    if (values[PageOnlyOOF].present) {
        const std::string& v = values[PageOnlyOOF].value;
        if (v != "yes" && v != "no") {
            err << "orvane: --page-only-when-out-of-office takes yes or no\n";
            return false;
        }
        edited.PageOnlyOOF = v == "yes" ? 1 : 0;
    }

    CopyUserConfiguration(user, edited);
    return true;
}

UserlistStru* FindByCode(CUserList& list, const std::string& text, std::ostream& err) {
    long code = 0;
    if (!ParseWholeNumber(text, code) || code < 1 || code > 32767) {
        err << "orvane: \"" << EscapeField(text) << "\" is not a user code\n";
        return nullptr;
    }
    for (auto& user : list.Users()) {
        if (user->Code == code)
            return user.get();
    }
    err << "orvane: there is no user with code " << code << " in "
        << DATFileName(UserFile::kFileName) << "\n";
    return nullptr;
}

// The words of a change, checked for usage only: verb, option values, positional words.
struct ChangeWords {
    std::string verb;
    std::vector<options::OptionValue> values;
    options::Args positional;
};

int ParseChange(const options::Args& args, ChangeWords& words, std::ostream& err) {
    words.verb = args.empty() ? std::string() : args[0];
    const std::string& verb = words.verb;
    if (verb != "add" && verb != "set" && verb != "remove") {
        err << "orvane: users needs add, set or remove; see orvane --help\n";
        return 2;
    }
    if (!options::ParseOptions(args, 1, verb == "remove" ? std::vector<std::string>{} : kOptions,
                               words.values, words.positional, err))
        return 2;
    const size_t wantPositional = verb == "add" ? 0 : 1;
    if (words.positional.size() != wantPositional) {
        err << "orvane: users " << verb
            << (wantPositional ? " takes one user code" : " takes options only")
            << "; see orvane --help\n";
        return 2;
    }
    if (verb == "add") {
        for (Option required : {DisplayName, Mailbox, Server, Pager}) {
            if (!words.values[required].present) {
                err << "orvane: users add needs --" << kOptions[required] << "\n";
                return 2;
            }
        }
    }
    return 0;
}

} // namespace

int CheckUserListChange(const options::Args& args, std::ostream& err) {
    ChangeWords words;
    return ParseChange(args, words, err);
}

int ChangeUserList(CUserList& list, const options::Args& args, std::ostream& out,
                   std::ostream& err) {
    ChangeWords words;
    if (const int usage = ParseChange(args, words, err))
        return usage;
    // Edited on a copy, so that a refused value leaves the list as it was.
    CUserList edited;
    edited = list;
    UserlistStru* user = nullptr;
    if (words.verb == "add") {
        CString whyNot;
        user = edited.CreateUser(whyNot);
        if (!user) {
            err << "orvane: " << whyNot << "\n";
            return 1;
        }
        if (!ApplyOptions(words.values, *user, err))
            return 1;
    } else {
        user = FindByCode(edited, words.positional[0], err);
        if (!user)
            return 1;
        if (words.verb == "set") {
            if (!ApplyOptions(words.values, *user, err))
                return 1;
        } else {
            edited.DeleteUser(user);
            user = nullptr;
        }
    }
    if (user)
        out << (words.verb == "add" ? std::to_string(user->Code) + "\n" : std::string());
    list = edited;
    return 0;
}
