// Opening the user list dialog over a global address list of 10,000 entries with 1,000 users, to
// a shown and painted dialog; and its parts: the address-list read and the properties dialog.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"
#include "users/DlgUserList.h"
#include "users/DlgUserProps.h"
#include "users/GlobalAddressList.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr int kEntries = 10000; // half of them users' mailboxes, half their pagers
constexpr int kUsers = 1000;

std::string Address(int person) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=person" + std::to_string(person);
}

// A mail system of kEntries entries made the default profile, and kUsers users of it (one in
// ten not in the address list any more, shown by their mailbox names).
struct Setup {
    QTemporaryDir dir;
    CUserList users;

    bool Make() {
        const std::string mail = dir.path().toStdString() + "/mail";
        QDir().mkpath(QString::fromStdString(mail + "/mailboxes"));
        std::vector<mail::AddressEntry> entries;
        for (int p = 0; p < kEntries / 2; ++p) {
            const std::string name = "Person " + std::to_string((p * 7919) % (kEntries / 2));
            const std::string store = "/o=Quorvik/ou=Site/cn=Configuration/cn=Servers/cn=MAIL" +
                                      std::to_string(p % 8) + "/cn=Microsoft Private MDB";
            entries.push_back({name, Address(p), store, "person" + std::to_string(p), ""});
            entries.push_back({name + " (Pager)", Address(p) + "-pager", "", "",
                               std::to_string(5550000 + p) + "@pager.example.org"});
        }
        std::ofstream(mail + "/address-list.txt") << mail::FormatAddressList(entries, "Benchmark");
        mail::Profiles profiles;
        profiles.Set({"Bench", mail, {}, {}});
        profiles.SetDefault("Bench");
        std::string error;
        if (!profiles.Save(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        for (int i = 0; i < kUsers; ++i) {
            UserlistStru* u = users.CreateUser();
            const int p = i * (kEntries / 2 / kUsers);
            u->MailboxName = i % 10 == 9 ? "/o=Gone/cn=user" + std::to_string(i) : Address(p);
            u->DisplayName = "Person";
            u->PagerName = "Person " + std::to_string(p) + " (Pager)";
        }
        return true;
    }
};

Setup* g_setup = nullptr;

void BM_ReadGlobalAddressList(benchmark::State& state) {
    for (auto _ : state) {
        GALNameList names;
        GALEntryList entries;
        if (!GetGALContents(names, entries).Complete() || entries.size() != kEntries)
            state.SkipWithError("the address list was not read whole");
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_ReadGlobalAddressList)->Unit(benchmark::kMillisecond);

void BM_OpenUserList(benchmark::State& state) {
    for (auto _ : state) {
        DlgUserList dialog(&g_setup->users);
        dialog.show(); // reads the address list and fills the list box
        QApplication::processEvents();
        dialog.repaint();
        if (dialog.Entries().size() != kEntries)
            state.SkipWithError("the address list was not read whole");
        dialog.reject();
    }
}
BENCHMARK(BM_OpenUserList)->Unit(benchmark::kMillisecond);

void BM_OpenUserProperties(benchmark::State& state) {
    GALNameList names;
    GALEntryList entries;
    GetGALContents(names, entries);
    UserlistStru* user = g_setup->users.Users().front().get();
    for (auto _ : state) {
        DlgUserProps dialog(user, names, entries);
        dialog.show(); // fills and preselects both combo boxes
        QApplication::processEvents();
        dialog.repaint();
        dialog.reject();
    }
}
BENCHMARK(BM_OpenUserProperties)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    Setup setup;
    if (!setup.Make())
        return 1;
    g_setup = &setup;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
