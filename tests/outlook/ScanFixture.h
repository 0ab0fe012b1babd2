// A one-mailbox mail system on disk, with a default profile "Scan" for it, for scan tests.
#pragma once

#include "support/TestSupport.h"

#include <string>

namespace outlook_test {

class ScanMailSystem {
public:
    static constexpr const char* kMailbox = "/o=Quorvik/ou=Test/cn=Recipients/cn=scanned";
    static constexpr const char* kProfile = "Scan";

    // Creates the mail system and (re)writes the profile file so that "Scan" is the default.
    ScanMailSystem();
    // Puts a calendar and/or task list into the mailbox (an empty text leaves the file out).
    void SetCalendar(const std::string& ics);
    void SetTasks(const std::string& ics);
    const std::string& Directory() const { return m_dir.Path(); }

private:
    testing_support::TempDir m_dir;
    std::string m_mailbox;
};

} // namespace outlook_test
