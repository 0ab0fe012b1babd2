// One page through the paging pass, the Simple MAPI library and each transport: to the outbox,
// and to a scripted web service on loopback (http_script_server.py, started as the tests start
// it) in each format. The figure is what one page costs the one-second tick; goal: a page to a
// web service on loopback in under 50 ms, most of which is the Python server's own time.
#include "core/CTime.h"
#include "paging/CMAPI.h"
#include "paging/CRemList.h"
#include "paging/EventLog.h"
#include "support/HttpTestServer.h"
#include "support/MailFixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>

namespace {

// The configuration, the mail system and the web service, made once for all benchmarks.
struct Setup {
    QTemporaryDir home;
    std::unique_ptr<testing_support::MailFixture> mail;
    std::unique_ptr<testing_support::HttpScriptServer> web;

    Setup() {
        setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
        QDir().mkpath(home.path() + "/config");
        EventLog::SetSystemLogEnabled(false);
        mail = std::make_unique<testing_support::MailFixture>();
        mail->Add({"Ann Archer (Pager)", "/o=Quorvik/cn=aarcher-pager", "", "", "ann-pager"});
        mail->Add({"Ann Archer (Mail)", "/o=Quorvik/cn=aarcher-mail", "", "",
                   "5550101@pager.example.org"});
        web = std::make_unique<testing_support::HttpScriptServer>();
        CMAPI::KeepLibraryResident(true); // as the monitor does
    }
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

// range(0): 0 the outbox, 1 json, 2 ntfy, 3 gotify (the profile's token).
void BM_OnePage(benchmark::State& state) {
    Setup& s = Shared();
    if (!s.web->Started()) {
        state.SkipWithError("the scripted HTTP server did not start");
        return;
    }
    const int kind = static_cast<int>(state.range(0));
    const mail::WebFormat formats[] = {mail::WebFormat::Json, mail::WebFormat::Json,
                                       mail::WebFormat::Ntfy, mail::WebFormat::Gotify};
    s.mail->UseProfile("Bench", kind == 0 ? mail::TransportConfig{}
                                          : testing_support::WebTransport(
                                                s.web->Url(), formats[kind], "tk_bench"));
    const CString mailbox = "/o=Quorvik/cn=aarcher";
    const CString pager = kind == 0 ? "Ann Archer (Mail)" : "Ann Archer (Pager)";
    const CString name = "Ann Archer";
    CTime now(2026, 3, 2, 9, 0, 0);
    CTime lastCheck;
    int64_t pages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CRemList list;
        list.AddReminder(now + CTimeSpan(60), CTime(0), CTime(0), "02:00-03:00 Budget review");
        state.ResumeTiming();
        const int sent =
            list.PageReminders(now, PagingUser{mailbox, pager, lastCheck, nullptr, &name});
        if (sent != 1) {
            state.SkipWithError("a page was not sent");
            break;
        }
        pages += sent;
        lastCheck = now;
        now += CTimeSpan(1);
    }
    state.counters["pages"] = static_cast<double>(pages);
    s.web->Reset();
}
BENCHMARK(BM_OnePage)
    ->ArgName("outbox0_json1_ntfy2_gotify3")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
