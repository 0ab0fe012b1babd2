// A mail system whose calendars come from a CalDAV server, the rest from its directory.
#include "mailsystem/ProfileMailSystem.h"

#include "core/Credentials.h"
#include "mailsystem/WrappedMailSystem.h"
#include "mailsystem/caldav/CalDavStore.h"

#include <algorithm>
#include <map>

namespace mail {
namespace {

class CalendarServerMailSystem final : public WrappedMailSystem {
public:
    CalendarServerMailSystem(std::shared_ptr<MailSystem> directory, CalendarServerConfig server,
                             dav::Limits limits)
        : WrappedMailSystem(std::move(directory)),
          m_server(std::move(server)), m_account{m_server.user, m_server.password},
          m_limits(std::move(limits)) {}

    bool FindAppointments(const AddressEntry& mailbox, int64_t from, int64_t to,
                          std::vector<Appointment>& out, std::string& error) override {
        out.clear();
        // As the directory does: ranges far beyond any calendar are cut, so that margins added
        // to them cannot overflow.
        constexpr int64_t kFarthest = int64_t(1) << 40;
        from = std::max(from, -kFarthest);
        to = std::min(to, kFarthest);
        caldav::Home* home = Read(mailbox, error);
        if (!home)
            return false;
        if (from > to)
            return true;
        return caldav::FindAppointments(*home, from, to, out, error);
    }

    void ReadAhead(const AddressEntry& mailbox, int64_t, int64_t) override {
        if (mailbox.mailbox.empty())
            return;
        const std::string url = CalendarHomeUrl(m_server.urlTemplate, mailbox.mailbox);
        if (!url.empty())
            caldav::ReadHomeAhead(url, m_account, m_limits);
    }

    bool FindTasks(const AddressEntry& mailbox, std::vector<Task>& out,
                   std::string& error) override {
        out.clear();
        caldav::Home* home = Read(mailbox, error);
        return home && caldav::FindTasks(*home, out, error);
    }

private:
    struct Reading {
        std::shared_ptr<caldav::Home> home; // null: the reading failed with `error`
        std::string error;
    };

    // The mailbox's calendar home, read once in this session for both the calendar and the
    // task search; null with `error` when it cannot be read.
    caldav::Home* Read(const AddressEntry& mailbox, std::string& error) {
        if (mailbox.mailbox.empty()) {
            error = mailbox.displayName + " has no mailbox, so it has no calendars.";
            return nullptr;
        }
        const std::string url = CalendarHomeUrl(m_server.urlTemplate, mailbox.mailbox);
        if (url.empty()) {
            error = "The mailbox \"" + mailbox.mailbox + "\" cannot name a calendar home.";
            return nullptr;
        }
        if (auto found = m_read.find(url); found != m_read.end()) {
            if (!found->second.home)
                error = found->second.error;
            return found->second.home.get();
        }
        const std::string origin = dav::Origin(url);
        if (auto down = m_unreachable.find(origin); down != m_unreachable.end()) {
            error = "The calendar server could not be read at " + url +
                    ": it was not reached for an earlier mailbox of this pass (" + down->second +
                    "); it is tried again at the next pass.";
            return nullptr;
        }
        caldav::ReadResult result = caldav::ReadHome(url, m_account, m_limits);
        if (!result.home) {
            if (result.unreachable)
                m_unreachable[origin] = result.cause;
            m_read[url] = Reading{nullptr, result.error};
            error = result.error;
            return nullptr;
        }
        Reading& reading = m_read[url];
        reading = Reading{std::move(result.home), {}};
        return reading.home.get();
    }

    CalendarServerConfig m_server;
    dav::Account m_account;
    dav::Limits m_limits;
    std::map<std::string, Reading> m_read;            // this session's readings, by home URL
    std::map<std::string, std::string> m_unreachable; // servers not reached: origin -> cause
};

} // namespace

std::shared_ptr<MailSystem> WithCalendarServer(std::shared_ptr<MailSystem> directory,
                                               const CalendarServerConfig& server,
                                               const dav::Limits& limits) {
    return std::make_shared<CalendarServerMailSystem>(std::move(directory), server, limits);
}

std::shared_ptr<MailSystem> OpenWithCalendarServer(const Profile& profile, std::string& error) {
    std::shared_ptr<MailSystem> directory = MailSystem::OpenWithoutCalendarServer(profile, error);
    if (!directory || !profile.calendars.Used())
        return directory;
    const std::string problem = CheckCalendarServer(profile.calendars);
    if (!problem.empty()) {
        error = "The calendar server of the profile \"" + profile.name +
                "\" cannot be used: " + problem;
        return nullptr;
    }
    // Read at every session (a scan pass): a credential of the service manager changes with the
    // unit.
    CalendarServerConfig server = profile.calendars;
    std::string why;
    if (!credentials::Resolve(profile.calendars.password, server.password, why)) {
        error = "The calendar server of the profile \"" + profile.name +
                "\" cannot be used: its password is not available. " + why;
        return nullptr;
    }
    return WithCalendarServer(std::move(directory), server, dav::CurrentLimits());
}

} // namespace mail
