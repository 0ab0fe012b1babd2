// An in-memory mail system for tests of the automation layer, and a session fixture over it.
#pragma once

#include "core/CTime.h"
#include "mailsystem/MailSystem.h"
#include "outlook/automation/ComRuntime.h"
#include "outlook/automation/OutlookServer.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace outlook_test {

// Holds items as the store would return them (occurrences already expanded); FindAppointments
// gives those whose start lies in the range and records the ranges asked for.
class FakeMailSystem : public mail::MailSystem {
public:
    struct Mailbox {
        std::vector<mail::Appointment> appointments; // in start order
        std::vector<mail::Task> tasks;
        std::string calendarError; // non-empty: FindAppointments fails with it
        std::string tasksError;
    };

    std::vector<mail::AddressEntry> addressList;
    std::string addressListError;
    std::map<std::string, Mailbox> mailboxes; // by the entry's mailbox folder
    struct Range {
        int64_t from, to;
    };
    std::vector<Range> requested;

    // Adds an entry with a mailbox folder of the same name as its address.
    Mailbox& AddUser(const std::string& displayName, const std::string& address) {
        addressList.push_back(
            mail::AddressEntry{displayName, address, "/o=Org/cn=Store1", address, ""});
        return mailboxes[address];
    }

    const std::string& Directory() const override { return m_directory; }
    bool AddressList(std::vector<mail::AddressEntry>& entries, std::string& error) override {
        if (!addressListError.empty()) {
            error = addressListError;
            return false;
        }
        entries = addressList;
        return true;
    }
    bool FindByDisplayName(const std::string& name, std::vector<mail::AddressEntry>& out,
                           std::string& error) override {
        return Select(&mail::AddressEntry::displayName, name, out, error);
    }
    bool FindByAddress(const std::string& address, std::vector<mail::AddressEntry>& out,
                       std::string& error) override {
        return Select(&mail::AddressEntry::address, address, out, error);
    }
    std::string MailboxDirectory(const mail::AddressEntry& entry) const override {
        return entry.mailbox.empty() ? std::string() : "/fake/" + entry.mailbox;
    }
    mail::OutOfOffice ReadOutOfOffice(const mail::AddressEntry&, mail::OutOfOfficeNote&) override {
        return mail::OutOfOffice::Missing;
    }
    bool FindAppointments(const mail::AddressEntry& entry, int64_t from, int64_t to,
                          std::vector<mail::Appointment>& out, std::string& error) override {
        requested.push_back(Range{from, to});
        const Mailbox& box = mailboxes.at(entry.mailbox);
        if (!box.calendarError.empty()) {
            error = box.calendarError;
            return false;
        }
        out.clear();
        for (const auto& a : box.appointments)
            if (a.start >= from && a.start <= to)
                out.push_back(a);
        return true;
    }
    bool FindTasks(const mail::AddressEntry& entry, std::vector<mail::Task>& out,
                   std::string& error) override {
        const Mailbox& box = mailboxes.at(entry.mailbox);
        if (!box.tasksError.empty()) {
            error = box.tasksError;
            return false;
        }
        out = box.tasks;
        return true;
    }
    std::string OutboxDirectory() const override { return "/fake/outbox"; }

private:
    bool Select(std::string mail::AddressEntry::*field, const std::string& value,
                std::vector<mail::AddressEntry>& out, std::string& error) {
        out.clear();
        if (!addressListError.empty()) {
            error = addressListError;
            return false;
        }
        for (const auto& e : addressList)
            if (e.*field == value)
                out.push_back(e);
        return true;
    }

    std::string m_directory = "/fake";
};

// Local time as seconds since 1970.
inline int64_t Local(int year, int month, int day, int hour, int minute, int second = 0) {
    return CTime(year, month, day, hour, minute, second).GetTime();
}

inline mail::Appointment Appointment(const std::string& subject, int64_t start, int minutes = 60,
                                     int lead = 15) {
    mail::Appointment a;
    a.subject = subject;
    a.start = start;
    a.end = start + minutes * 60;
    a.reminderSet = lead >= 0;
    a.reminderMinutesBeforeStart = lead >= 0 ? lead : 0;
    return a;
}

// Every test runs initialised, with profile "Test" (also the default) opening `store`, and ends
// with exactly the objects alive and the invalid releases it began with.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_live = automation::LiveObjects();
        m_invalid = automation::InvalidReleases();
        ASSERT_EQ(CoInitialize(), S_OK);
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(automation::LiveObjects(), m_live)
            << "an object was leaked or released too early";
        EXPECT_EQ(automation::InvalidReleases(), m_invalid) << "an object was released twice";
    }

    std::shared_ptr<FakeMailSystem> store = std::make_shared<FakeMailSystem>();
    automation::ScopedMailSystemOpener opener{
        [this](const std::string& profile,
               std::string& error) -> std::shared_ptr<mail::MailSystem> {
            if (profile.empty() || profile == "Test")
                return store;
            error = "The mail profile \"" + profile + "\" does not exist.";
            return nullptr;
        }};

private:
    std::size_t m_live = 0, m_invalid = 0;
};

} // namespace outlook_test
