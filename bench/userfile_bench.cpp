// Loading and saving a Users.dat of 32,000 users, and the code search on a full list.
#include "core/WorkingDirectory.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int kUsers = 32000;

void Fill(CUserList& list) {
    for (int i = 1; i <= kUsers; ++i) {
        UserlistStru* u = list.CreateNoCodeUser();
        u->Code = static_cast<int16_t>(i);
        const std::string n = std::to_string(i);
        u->DisplayName = "User number " + n;
        u->MailboxName = "/o=Quorvik/ou=Site/cn=Recipients/cn=user" + n;
        u->Server = "/o=Quorvik/ou=Site/cn=Configuration/cn=Servers/cn=MAIL" +
                    std::to_string(i % 8) + "/cn=Microsoft Private MDB";
        u->PagerName = "Pager of user " + n;
    }
}

// Runs in a directory of its own, holding a saved list of kUsers users.
struct Directory {
    QTemporaryDir dir;
    Directory() {
        WorkingDirectory::Set(dir.path().toStdString());
        CUserList list;
        Fill(list);
        list.SaveUsers();
    }
};

void BM_LoadUsers(benchmark::State& state) {
    Directory d;
    for (auto _ : state) {
        CUserList list;
        list.LoadUsers();
        if (list.GetCount() != kUsers)
            state.SkipWithError("wrong number of users loaded");
        benchmark::DoNotOptimize(list.GetCount());
    }
    state.SetItemsProcessed(state.iterations() * kUsers);
}
BENCHMARK(BM_LoadUsers)->Unit(benchmark::kMillisecond);

void BM_SaveUsers(benchmark::State& state) {
    Directory d;
    CUserList list;
    Fill(list);
    for (auto _ : state) {
        if (list.SaveUsers() != UserFileSave::Saved)
            state.SkipWithError("save failed");
    }
    state.SetItemsProcessed(state.iterations() * kUsers);
}
BENCHMARK(BM_SaveUsers)->Unit(benchmark::kMillisecond);

void BM_EncodeDecode(benchmark::State& state) {
    CUserList list;
    Fill(list);
    for (auto _ : state) {
        const std::string bytes = UserFile::Encode(list);
        CUserList back;
        UserFile::Decode(bytes, back);
        benchmark::DoNotOptimize(back.GetCount());
    }
    state.SetItemsProcessed(state.iterations() * kUsers);
}
BENCHMARK(BM_EncodeDecode)->Unit(benchmark::kMillisecond);

// The worst code search: 31,999 codes in use and the free one just below where it starts.
void BM_CreateUserInAFullList(benchmark::State& state) {
    CUserList list;
    Fill(list);
    list.DeleteUser(list.Users().front().get()); // frees code 1, NextCode becomes 1
    for (auto _ : state) {
        list.NextCode = 2;
        UserlistStru* u = list.CreateUser();
        benchmark::DoNotOptimize(u);
        list.DeleteUser(u);
    }
}
BENCHMARK(BM_CreateUserInAFullList)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
