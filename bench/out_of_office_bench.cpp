// The out-of-office round over 1,000 users whose states are Sieve vacation rules on one loopback
// Dovecot (started as the tests start it, with STARTTLS), read through the real pass (Extended
// MAPI and the out-of-office check) at one-second ticks of the program's own timer, with the rest
// of each second used as the monitor uses it. For each way of running: the round's length, its
// ticks, the longest out-of-office pass in a tick and between ticks, and the ManageSieve requests
// and connections per user; and the whole round in one call, for comparison. A small program,
// not a Google Benchmark: a round takes half a minute.
//
// Usage: out_of_office_bench [--users N] [--clear]   (--clear: without STARTTLS)
#include "app/monitor/SecondTimer.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/sieve/SieveOutOfOffice.h"
#include "paging/EventLog.h"
#include "support/DovecotTestServer.h"
#include "support/SieveScripts.h"
#include "users/CUserList.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;
using namespace testing_support::sieve_scripts;

const char* const kStore = "/o=Bench/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";

std::string Login(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "u%04d", i);
    return name;
}

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Run {
    const char* name;
    const char* limit; // "ScanMillisecondsPerTick"
    bool betweenTicks; // further passes in the rest of each second
};

struct Result {
    double seconds = 0;
    int ticks = 0;
    double longestTickMs = 0, longestBetweenMs = 0;
    size_t betweenPasses = 0;
    long requests = 0, connections = 0;
    int out = 0;
};

Result RunRound(CUserList& users, const Run& run) {
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                 run.limit);
    for (auto& user : users.Users())
        user->OOFFlag = 0;
    users.NextOOFCheck = CTime(0);
    mail::sieve::SieveOutOfOfficeReader::CloseAll();
    const auto before = mail::sieve::SieveOutOfOfficeReader::TotalStats();

    Result result;
    Steady::time_point begin{};
    bool started = false;
    const auto ended = [&] {
        if (started && !users.OOFRoundWaiting()) {
            result.seconds = std::chrono::duration<double>(Steady::now() - begin).count();
            QCoreApplication::quit();
            return true;
        }
        return false;
    };
    CSecondTimer timer(
        [&] {
            if (result.seconds > 0)
                return;
            const auto start = Steady::now();
            if (!started)
                begin = start;
            started = true;
            users.UpdateOOFFlags();
            result.longestTickMs = std::max(result.longestTickMs, Ms(Steady::now() - start));
            ++result.ticks;
            ended();
        },
        [&](int msToNextTick) {
            if (!run.betweenTicks || !users.OOFRoundWaiting() ||
                msToNextTick < Settings::ScanMillisecondsPerTick() + 50)
                return false;
            const auto start = Steady::now();
            users.UpdateOOFFlags();
            result.longestBetweenMs = std::max(result.longestBetweenMs, Ms(Steady::now() - start));
            ++result.betweenPasses;
            return !ended();
        });
    timer.Start(1000);
    QCoreApplication::exec();
    timer.Stop();

    const auto after = mail::sieve::SieveOutOfOfficeReader::TotalStats();
    result.requests = after.requests - before.requests;
    result.connections = after.connections - before.connections;
    for (const auto& user : users.Users())
        result.out += user->OOFFlag != 0;
    return result;
}

} // namespace

int main(int argc, char** argv) {
    int count = 1000;
    bool clear = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--users") == 0 && i + 1 < argc)
            count = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--clear") == 0)
            clear = true;
    }
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
    setenv("TZ", "UTC", 1);
    EventLog::SetSystemLogEnabled(false);
    QCoreApplication app(argc, argv);
    size_t events = 0;
    std::string firstEvent;
    EventLog::SetObserver([&](const EventLog::Entry& entry) {
        if (events++ == 0 && !entry.strings.empty())
            firstEvent = entry.strings.front();
    });

    // Dovecot with the users, a quarter each: Roundcube on, Nextcloud Mail switched off, SOGo
    // on, no script at all.
    std::vector<std::string> logins;
    for (int i = 0; i < count; ++i)
        logins.push_back(Login(i));
    std::cerr << "Starting Dovecot with " << count << " users ...\n";
    testing_support::DovecotTestServer server(logins);
    if (!server.Started()) {
        std::cerr << "Dovecot did not start:\n" << server.Log() << "\n";
        return 1;
    }
    setenv("ORVANE_SIEVE_CA_FILE", server.CaFile().c_str(), 1);
    for (int i = 0; i < count; ++i) {
        const char* script = i % 4 == 0 ? kRoundcube : i % 4 == 1 ? kNextcloudOff : kSogo;
        if (i % 4 == 3)
            continue;
        const char* name = i % 4 == 0 ? "roundcube" : i % 4 == 1 ? "nextcloud" : "sogo";
        server.PutScript(logins[size_t(i)], name, script);
        server.Activate(logins[size_t(i)], name);
    }

    // The mail system (its address list only) and the default profile naming the server.
    const std::string mailSystem = (home.path() + "/mail").toStdString();
    std::filesystem::create_directories(mailSystem);
    {
        std::ofstream list(mailSystem + "/address-list.txt");
        for (int i = 0; i < count; ++i)
            list << "Display-Name: User " << Login(i) << "\nAddress: /o=Bench/cn=" << Login(i)
                 << "\nHome-Store: " << kStore << "\nMailbox: " << Login(i) << "\n\n";
    }
    mail::Profiles profiles;
    mail::Profile profile{"Bench", mailSystem, {}, {}};
    profile.outOfOffice = {server.Url(),
                           testing_support::DovecotTestServer::kMaster,
                           testing_support::DovecotTestServer::kMasterPassword,
                           !clear,
                           "",
                           "UTC"};
    profiles.Set(profile);
    std::string error;
    if (!profiles.Save(error)) {
        std::cerr << error << "\n";
        return 1;
    }

    CUserList users;
    for (int i = 0; i < count; ++i) {
        UserlistStru* user = users.CreateUser();
        user->DisplayName = "User " + Login(i);
        user->MailboxName = "/o=Bench/cn=" + Login(i);
        user->Server = kStore;
        user->PageOnlyOOF = 1;
    }
    // Christmas Eve, within every vacation of the scripts; the clock runs on from there.
    Clock::StartAt(CTime(2026, 12, 24, 12, 0, 0));

    const Run runs[] = {
        {"100 ms a pass, passes between ticks (the monitor)", "100", true},
        {"the whole round in one tick", "1000000000", false},
    };
    std::printf("%d users on one Dovecot (%s), %s\n\n", count, server.Url().c_str(),
                clear ? "in the clear" : "STARTTLS");
    std::printf("%-52s %9s %6s %12s %15s %13s %12s %5s\n", "run", "round s", "ticks",
                "longest tick", "longest between", "requests/user", "connections", "out");
    for (const Run& run : runs) {
        const Result r = RunRound(users, run);
        std::printf("%-52s %9.1f %6d %9.0f ms %12.0f ms %13.2f %12ld %5d\n", run.name, r.seconds,
                    r.ticks, r.longestTickMs, r.longestBetweenMs, double(r.requests) / count,
                    r.connections, r.out);
        std::fflush(stdout);
    }
    std::printf("\nevents: %zu%s%s\n", events, events ? ", the first: " : "", firstEvent.c_str());
    mail::sieve::SieveOutOfOfficeReader::CloseAll();
    return 0;
}
