// "orvane profile set --calendars ...": the CalDAV server a profile reads calendars from.
#include "app/CliProfileCalendars.h"

#include "app/CliProfileDirectory.h"
#include "core/Text.h"

#include <ostream>

namespace cli {

bool TakeCalendarOptions(Args& args, CalendarOptions& options, std::ostream& err) {
    const std::pair<const char*, OptionValue CalendarOptions::*> names[] = {
        {"calendars", &CalendarOptions::url},
        {"calendar-user", &CalendarOptions::user},
        {"calendar-password-file", &CalendarOptions::passwordFile},
    };
    Args rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.rfind("--calendar", 0) != 0) {
            rest.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name =
            word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        OptionValue CalendarOptions::*member = nullptr;
        for (const auto& [known, field] : names) {
            if (name == known)
                member = field;
        }
        if (!member) {
            err << "orvane: unknown option --" << name << "\n";
            return false;
        }
        if (equals != std::string::npos) {
            options.*member = {true, word.substr(equals + 1)};
        } else if (i + 1 < args.size()) {
            options.*member = {true, args[++i]};
        } else {
            err << "orvane: option --" << name << " needs a value\n";
            return false;
        }
    }
    args = std::move(rest);
    return true;
}

int ApplyCalendarOptions(const CalendarOptions& options, mail::CalendarServerConfig& calendars,
                         std::ostream& err) {
    if (!options.Any())
        return 0;
    for (const OptionValue* value : {&options.url, &options.user}) {
        if (value->present && HasControlCharacter(value->value)) {
            err << "orvane: the --calendar options must not contain control characters\n";
            return 1;
        }
    }
    if (options.url.present) {
        const std::string url(TrimBlanks(options.url.value));
        if (url.empty())
            calendars = mail::CalendarServerConfig(); // no credentials stay behind
        else
            calendars.urlTemplate = url;
    }
    if (options.user.present) {
        calendars.user = std::string(TrimBlanks(options.user.value));
        if (calendars.user.empty())
            calendars.password.clear();
    }
    if (options.passwordFile.present &&
        !ReadPasswordFile(options.passwordFile.value, calendars.password, err))
        return 1;
    if (!calendars.Used() && (!calendars.user.empty() || !calendars.password.empty())) {
        err << "orvane: --calendar-user and --calendar-password-file apply to a calendar server; "
               "give --calendars URL too\n";
        return 1;
    }
    const std::string problem = mail::CheckCalendarServer(calendars);
    if (!problem.empty()) {
        err << "orvane: " << problem << "\n";
        return 1;
    }
    return 0;
}

} // namespace cli
