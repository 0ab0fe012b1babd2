// The address list from a directory on a loopback slapd of 10,000 entries (5,000 people and
// their pagers): the whole read, as the address book gives it and as the user list dialog reads
// it through Extended MAPI, and the resolution of one pager name.
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressBook.h"
#include "mailsystem/ldap/LdapAddressBook.h"
#include "paging/ExtendedMapi.h"
#include "support/SlapdTestServer.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int kPeople = 5000;
constexpr size_t kEntries = 2 * kPeople;

// The server and a profile for it, made once for all benchmarks of the run.
struct Directory {
    QTemporaryDir home;
    std::unique_ptr<testing_support::SlapdTestServer> server;
    mail::LdapConfig config;

    Directory() {
        setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
        std::vector<mail::AddressEntry> entries;
        for (int i = 0; i < kPeople; ++i) {
            const std::string n = std::to_string(i);
            entries.push_back({"Person " + n, "person" + n + "@example.org",
                               "/o=Example/cn=Servers/cn=MAIL" + std::to_string(i % 8),
                               "person" + n, "person" + n + "@example.org"});
            entries.push_back({"Person " + n + " (Pager)", "55" + n + "@pager.example.org", "", "",
                               "55" + n + "@pager.example.org"});
        }
        testing_support::SlapdTestServer::Options options;
        server = std::make_unique<testing_support::SlapdTestServer>(
            options, testing_support::LdifFor(entries));
        config.url = server->Url();
        config.user = testing_support::SlapdTestServer::kReaderDn;
        config.password = testing_support::SlapdTestServer::kReaderPassword;
        config.startTls = false;

        const std::string mailSystem = (home.path() + "/mail").toStdString();
        QDir().mkpath(QString::fromStdString(mailSystem));
        mail::Profiles profiles;
        profiles.Set({"Directory", mailSystem, {}, config});
        std::string error;
        profiles.Save(error);
    }
};

Directory& Shared() {
    static Directory directory;
    return directory;
}

std::unique_ptr<mail::AddressBook> NewBook() {
    std::string error;
    return mail::NewLdapAddressBook(Shared().config, mail::LdapLimits{}, error);
}

// The whole list on a connection already open (the address book of one pass).
void BM_DirectoryAddressList(benchmark::State& state) {
    if (!Shared().server->Started())
        return state.SkipWithError("slapd did not start");
    auto book = NewBook();
    std::vector<mail::AddressEntry> entries;
    std::string error;
    for (auto _ : state) {
        if (!book->AddressList(entries, error) || entries.size() != kEntries)
            return state.SkipWithError(error.c_str());
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_DirectoryAddressList)->Unit(benchmark::kMillisecond);

// The user list dialog's read: logon, address book, GAL container, contents table, all rows.
void BM_GalReadThroughExtendedMapi(benchmark::State& state) {
    if (!Shared().server->Started())
        return state.SkipWithError("slapd did not start");
    MAPIInitialize(nullptr);
    SizedSPropTagArray(4, columns) = {
        4, {PR_ENTRYID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_EMS_AB_HOME_MDB}};
    for (auto _ : state) {
        LPMAPISESSION session = nullptr;
        LPADRBOOK book = nullptr;
        LPABCONT gal = nullptr;
        LPMAPITABLE contents = nullptr;
        ULONG type = 0, count = 0, read = 0;
        char profile[] = "Directory";
        HRESULT hr = MAPILogonEx(0, profile, nullptr, 0, &session);
        if (hr == S_OK)
            hr = session->OpenAddressBook(0, nullptr, 0, &book);
        if (hr == S_OK) {
            // The GAL: the first row of the root's hierarchy table.
            LPABCONT root = nullptr;
            LPMAPITABLE hierarchy = nullptr;
            LPSRowSet rows = nullptr;
            hr =
                book->OpenEntry(0, nullptr, nullptr, 0, &type, reinterpret_cast<LPUNKNOWN*>(&root));
            if (hr == S_OK)
                hr = root->GetHierarchyTable(CONVENIENT_DEPTH, &hierarchy);
            if (hr == S_OK)
                hr = HrQueryAllRows(hierarchy, nullptr, nullptr, nullptr, 0, &rows);
            if (hr == S_OK) {
                const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
                hr = book->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                     MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(&gal));
            }
            FreeProws(rows);
            UlRelease(hierarchy);
            UlRelease(root);
        }
        if (hr == S_OK)
            hr = gal->GetContentsTable(0, &contents);
        if (hr == S_OK)
            hr = contents->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH);
        if (hr == S_OK)
            hr = contents->GetRowCount(0, &count);
        while (hr == S_OK && count) {
            LPSRowSet rows = nullptr;
            if (contents->QueryRows(static_cast<LONG>(count), 0, &rows) != S_OK || !rows->cRows) {
                FreeProws(rows);
                break;
            }
            read += rows->cRows;
            FreeProws(rows);
        }
        UlRelease(contents);
        UlRelease(gal);
        UlRelease(book);
        if (session) {
            session->Logoff(0, 0, 0);
            UlRelease(session);
        }
        if (read != kEntries)
            return state.SkipWithError("the GAL read did not give every entry");
    }
    MAPIUninitialize();
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_GalReadThroughExtendedMapi)->Unit(benchmark::kMillisecond);

// One pager name resolved on the connection of the pass (the second page of a paging call).
void BM_PagerNameResolution(benchmark::State& state) {
    if (!Shared().server->Started())
        return state.SkipWithError("slapd did not start");
    auto book = NewBook();
    std::vector<mail::AddressEntry> found;
    std::string error;
    int i = 0;
    for (auto _ : state) {
        const std::string name = "Person " + std::to_string(i++ % kPeople) + " (Pager)";
        if (!book->FindByDisplayName(name, found, error) || found.size() != 1)
            return state.SkipWithError(error.c_str());
    }
}
BENCHMARK(BM_PagerNameResolution)->Unit(benchmark::kMicrosecond);

// One pager name with a connection of its own: connect and bind, then search (the first page
// of a paging call).
void BM_PagerNameResolutionWithConnection(benchmark::State& state) {
    if (!Shared().server->Started())
        return state.SkipWithError("slapd did not start");
    std::vector<mail::AddressEntry> found;
    std::string error;
    int i = 0;
    for (auto _ : state) {
        auto book = NewBook();
        const std::string name = "Person " + std::to_string(i++ % kPeople) + " (Pager)";
        if (!book->FindByDisplayName(name, found, error) || found.size() != 1)
            return state.SkipWithError(error.c_str());
    }
}
BENCHMARK(BM_PagerNameResolutionWithConnection)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
