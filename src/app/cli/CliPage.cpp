// "orvane page": one test page through CMAPI, with the paging pass's calls and event texts.
#include "app/cli/CliPage.h"

#include "core/Settings.h"
#include "paging/CMAPI.h"
#include "paging/EventLog.h"

#include <ostream>
#include <vector>

namespace cli {
namespace {

// Keeps the texts of the events written while it lives (they still reach the event log too).
class CollectedEvents {
public:
    CollectedEvents() {
        EventLog::SetObserver([this](const EventLog::Entry& entry) {
            if (!entry.strings.empty())
                m_texts.push_back(entry.strings.front());
        });
    }
    ~CollectedEvents() { EventLog::SetObserver(nullptr); }
    CollectedEvents(const CollectedEvents&) = delete;
    CollectedEvents& operator=(const CollectedEvents&) = delete;
    const std::vector<CString>& Texts() const { return m_texts; }

private:
    std::vector<CString> m_texts;
};

int RunPage(const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionValue> values;
    Args positional;
    if (!ParseOptions(args, 0, {"profile", "cause"}, values, positional, err))
        return 2;
    if (positional.size() != 2 || positional[0].empty()) {
        err << "orvane: page takes a pager name and a text; see orvane --help\n";
        return 2;
    }
    const CString profile = values[0].present ? values[0].value : Settings::ProfileName();

    const bool withCause = values[1].present;
    if (withCause && values[1].value != "yes" && values[1].value != "no") {
        err << "orvane: --cause takes yes or no\n";
        return 2;
    }
    int sent = 0;
    CString cause; // the mail system's words for a failure, asked for with --cause yes
    CollectedEvents events;
    {
        CMAPI mapi;
        mapi.OpenMailServer();
        mapi.OpenMailSession(profile);
        sent = mapi.SendMail(positional[0].c_str(), "", positional[1].c_str(), 1);
        if (!sent && withCause && values[1].value == "yes")
            cause = mapi.LastSendCause();
        mapi.CloseMailServer();
    }
    if (sent) {
        out << "page sent to " << EscapeField(positional[0]) << "\n";
        return 0;
    }
    bool told = false;
    for (const CString& text : events.Texts()) {
        err << "orvane: " << EscapeField(text) << "\n";
        told = told || (!cause.empty() && text.find(cause) != CString::npos);
    }
    if (!cause.empty() && !told)
        err << "orvane: cause: " << EscapeField(cause) << "\n";
    return 1;
}

} // namespace

const Command kPageCommand = {
    "page",
    "  page PAGER-NAME TEXT [--profile NAME] [--cause yes|no]\n"
    "      Sends TEXT as one test page (empty subject) to the address-list entry named\n"
    "      PAGER-NAME, exactly as the monitor pages. The profile defaults to the\n"
    "      \"ProfileName\" setting (empty: the default profile). Exits 0 when the page was\n"
    "      sent; otherwise prints the event text the monitor would log and exits 1; with\n"
    "      --cause yes also the mail system's own words for the failure (such as an SMTP\n"
    "      server's refusal of the login), which the event does not always carry.\n",
    RunPage,
};

} // namespace cli
