// "orvane scan": shows administrators what Orvane will page for a mailbox.
#include "app/cli/CliScan.h"

#include "core/Clock.h"
#include "core/Settings.h"
#include "mailsystem/caldav/CalDavStore.h"
#include "outlook/COutlook.h"
#include "paging/EventLog.h"

#include <ostream>

namespace cli {
namespace {

// Prints every event of the run on standard error while it lives.
class EventsToStream {
public:
    explicit EventsToStream(std::ostream& err)
        : m_previous(EventLog::SetObserver([&err](const EventLog::Entry& entry) {
              err << "orvane:";
              for (const CString& s : entry.strings)
                  err << ' ' << s;
              err << '\n';
          })) {}
    ~EventsToStream() { EventLog::SetObserver(m_previous); }
    EventsToStream(const EventsToStream&) = delete;
    EventsToStream& operator=(const EventsToStream&) = delete;

private:
    std::function<void(const EventLog::Entry&)> m_previous;
};

// Prints on standard error which calendar collections a calendar server's profile read.
class CollectionsToStream {
public:
    explicit CollectionsToStream(std::ostream& err)
        : m_previous(mail::caldav::SetNoticeObserver(
              [&err](const std::string& line) { err << "orvane: " << line << '\n'; })) {}
    ~CollectionsToStream() { mail::caldav::SetNoticeObserver(m_previous); }
    CollectionsToStream(const CollectionsToStream&) = delete;
    CollectionsToStream& operator=(const CollectionsToStream&) = delete;

private:
    mail::caldav::NoticeObserver m_previous;
};

int RunScan(const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionValue> values;
    Args positional;
    if (!ParseOptions(args, 0, {"profile", "at"}, values, positional, err))
        return 2;
    if (positional.size() != 1 || positional[0].empty()) {
        err << "orvane: scan takes one mailbox name (as stored in Users.dat); see orvane --help\n";
        return 2;
    }
    if (values[1].present) {
        CTime at;
        if (!ParseLocalTime(values[1].value, at)) {
            err << "orvane: --at takes a local time as \"YYYY-MM-DD HH:MM:SS\", not \""
                << EscapeField(values[1].value) << "\"\n";
            return 2;
        }
        // Stands there: the answer is the one for that moment, however long the scan takes.
        Clock::Freeze(at);
    }
    const CString profile = values[0].present ? values[0].value : Settings::ProfileName();

    EventsToStream events(err);
    CollectionsToStream collections(err);
    CRemList reminders;
    int status = 0;
    try {
        COutlook outlook(profile);
        outlook.GetUserReminders("EX:" + positional[0], reminders, &status);
    } catch (const COleDispatchException& e) {
        err << "orvane: " << WithDescription("The scan was interrupted by an Outlook failure.", e)
            << "\n";
        status = 0;
    } catch (const COleException& e) {
        err << "orvane: " << WithSystemText("The scan was interrupted by an Outlook failure.", e)
            << "\n";
        status = 0;
    }
    reminders.SortList();
    for (const auto& r : reminders.GetRecords())
        out << r->PageTime.Format("%m/%d/%y %H:%M:%S") << '\t' << EscapeField(r->Text) << '\n';
    out << (status ? "status: succeeded\n" : "status: failed\n");
    return status ? 0 : 1;
}

} // namespace

const Command kScanCommand = {
    "scan",
    "  scan MAILBOX [--profile NAME] [--at \"YYYY-MM-DD HH:MM:SS\"]\n"
    "      Scans one mailbox (as stored in Users.dat, without \"EX:\") as the monitor does and\n"
    "      prints each pending reminder: its page time (\"%m/%d/%y %H:%M:%S\"), a tab and the\n"
    "      page text; then \"status: succeeded\" or \"status: failed\". The profile defaults\n"
    "      to the \"ProfileName\" setting (empty: the default profile); --at scans as at\n"
    "      that local time, on a clock that stands still there. Exits 0 when the scan\n"
    "      succeeded; failures go to stderr, and so do the collections read when the profile\n"
    "      names a calendar server.\n",
    RunScan,
};

} // namespace cli
