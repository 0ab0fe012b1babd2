// "orvane profile set --calendars ...": the CalDAV server a profile reads calendars from.
#include "app/cli/CliProfileCalendars.h"

#include "app/cli/CliProfileDirectory.h"
#include "app/cli/CliSecrets.h"
#include "core/Text.h"

#include <ostream>

namespace cli {

bool TakeCalendarOptions(Args& args, CalendarOptions& options, std::ostream& err) {
    return TakePrefixedOptions(args, "--calendar",
                               {
                                   {"calendars", &options.url},
                                   {"calendar-user", &options.user},
                                   {"calendar-password-file", &options.passwordFile},
                                   {"calendar-password", &options.password},
                               },
                               err);
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
    if (options.passwordFile.present && options.password.present) {
        err << "orvane: give either --calendar-password or --calendar-password-file\n";
        return 2;
    }
    if (options.passwordFile.present &&
        !ReadPasswordFile(options.passwordFile.value, calendars.password, err))
        return 1;
    if (options.password.present &&
        !TakeSecretOption("calendar-password", options.password.value, false,
                          "calendar-password-file", calendars.password, err))
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
