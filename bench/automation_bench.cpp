// Reading a mailbox of 2,000 appointments (40% recurring) through the automation layer: Find and
// FindNext over seven days, each item read as the scan reads it.
#include "core/Clock.h"
#include "mailsystem/MailSystem.h"
#include "outlook/automation/ComRuntime.h"
#include "outlook/automation/OleDate.h"
#include "outlook/automation/OutlookObjects.h"
#include "outlook/automation/OutlookServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace outlook_id;

constexpr int64_t kNow = 1773493540; // 14 March 2026 13:05:40 UTC, the generator's reference day
constexpr const char* kMailbox = "mbox00000";

// One generated mail system with one mailbox, made once per run with the shared generator.
class GeneratedMailSystem {
public:
    static GeneratedMailSystem& Get() {
        static GeneratedMailSystem instance;
        return instance;
    }
    const std::string& Error() const { return m_error; }
    const std::string& Directory() const { return m_path; }

private:
    GeneratedMailSystem() : m_path(m_dir.path().toStdString()) {
        const std::string gen = ORVANE_BENCH_GENERATOR;
        const std::string command =
            "python3 '" + gen + "' --out '" + m_path +
            "/generated' --mailboxes 1 --events 2000 --recurring 0.40 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            m_error = "cannot run " + gen;
            return;
        }
        QDir root(m_dir.path());
        root.mkpath("mailboxes");
        root.mkpath("outbox");
        if (!root.rename(QString("generated/") + kMailbox, QString("mailboxes/") + kMailbox)) {
            m_error = "cannot move the generated mailbox";
            return;
        }
        QFile list(m_dir.filePath("address-list.txt"));
        if (!list.open(QIODevice::WriteOnly) ||
            list.write(QByteArray("Display-Name: Bench User\nAddress: ") + kMailbox +
                       "\nHome-Store: /o=Bench/cn=Store1\nMailbox: " + kMailbox + "\n") < 0)
            m_error = "cannot write the address list";
        // The store reads a file written within the last two seconds again at every use.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    }

public:
    std::string CalendarFile() const { return m_path + "/mailboxes/" + kMailbox + "/calendar.ics"; }

private:
    QTemporaryDir m_dir;
    std::string m_path;
    std::string m_error;
};

// A store that hands out a fixed week of appointments: the layer's own cost, without the store's.
class FixedStore : public mail::MailSystem {
public:
    std::vector<mail::AddressEntry> list;
    std::vector<mail::Appointment> week;
    const std::string& Directory() const override { return m_directory; }
    bool AddressList(std::vector<mail::AddressEntry>& entries, std::string&) override {
        entries = list;
        return true;
    }
    bool FindByDisplayName(const std::string&, std::vector<mail::AddressEntry>& found,
                           std::string&) override {
        found = list;
        return true;
    }
    bool FindByAddress(const std::string&, std::vector<mail::AddressEntry>& found,
                       std::string&) override {
        found = list;
        return true;
    }
    std::string MailboxDirectory(const mail::AddressEntry&) const override { return m_directory; }
    mail::OutOfOffice ReadOutOfOffice(const mail::AddressEntry&, mail::OutOfOfficeNote&) override {
        return mail::OutOfOffice::Missing;
    }
    bool FindAppointments(const mail::AddressEntry&, int64_t, int64_t,
                          std::vector<mail::Appointment>& out, std::string&) override {
        out = week;
        return true;
    }
    bool FindTasks(const mail::AddressEntry&, std::vector<mail::Task>& out, std::string&) override {
        out.clear();
        return true;
    }
    std::string OutboxDirectory() const override { return m_directory; }

private:
    std::string m_directory = "/fixed";
};

// The program's zone and clock, and Logon served from `store`.
struct Environment {
    std::shared_ptr<mail::MailSystem> store;
    automation::ScopedMailSystemOpener opener{[this](const std::string&, std::string& error) {
        if (!store)
            error = "no store";
        return store;
    }};
    Environment() {
        setenv("TZ", "America/New_York", 1);
        tzset();
        Clock::Freeze(CTime(int32_t(kNow)));
        CoInitialize();
    }
    ~Environment() {
        CoUninitialize();
        Clock::Reset();
    }
};

std::shared_ptr<mail::MailSystem> OpenGenerated(benchmark::State& state) {
    GeneratedMailSystem& generated = GeneratedMailSystem::Get();
    if (!generated.Error().empty()) {
        state.SkipWithError(generated.Error().c_str());
        return nullptr;
    }
    std::string error;
    auto store = mail::MailSystem::Open(generated.Directory(), error);
    if (!store)
        state.SkipWithError(error.c_str());
    return store;
}

struct Session {
    _Application app;
    _NameSpace ns;
    Session() {
        app.CreateDispatch("Outlook.Application");
        ns.AttachDispatch(app.GetNamespace("MAPI"));
        ns.Logon(COleVariant(""), COleVariant(""), COleVariant(true), COleVariant(true));
    }
    ~Session() { ns.Logoff(); }
};

// Every value the scan reads of an appointment, the dates through a DOS date and time.
int64_t ReadItem(LPDISPATCH dispatch) {
    _AppointmentItem item(dispatch);
    int64_t sum = item.GetReminderSet();
    sum += int64_t(item.GetSubject().size() + item.GetLocation().size());
    for (DATE date : {item.GetStart(), item.GetEnd()}) {
        WORD d = 0, t = 0;
        if (VariantTimeToDosDateTime(date, &d, &t))
            sum += DosDateTimeToCTime(d, t).value_or(CTime()).GetTime();
    }
    sum += item.GetReminderMinutesBeforeStart();
    if (item.GetIsRecurring()) {
        RecurrencePattern p(item.GetRecurrencePattern());
        sum += p.GetRecurrenceType() + p.GetInterval() + p.GetInstance() + p.GetDayOfWeekMask() +
               p.GetDayOfMonth() + p.GetMonthOfYear();
    }
    return sum;
}

// Opens the mailbox's Calendar and reads the seven days from now; the number of items.
int ReadWeek(_NameSpace& ns) {
    Recipient recipient(ns.CreateRecipient((std::string("EX:") + kMailbox).c_str()));
    if (!recipient.Resolve())
        return -1;
    MAPIFolder calendar(ns.GetSharedDefaultFolder(recipient.m_lpDispatch, olFolderCalendar));
    _Items items(calendar.GetItems());
    items.Sort("[Start]", COleVariant(false));
    items.SetIncludeRecurrences(true);
    const CTime now = Clock::Now();
    const CString filter = now.Format("[Start] >= '%x %I:%M%p' AND ") +
                           (now + timespans::kWeek).Format("[Start] <= '%x %I:%M%p'");
    int count = 0;
    int64_t sum = 0;
    for (LPDISPATCH item = items.Find(filter.c_str()); item; item = items.FindNext()) {
        sum += ReadItem(item);
        ++count;
    }
    benchmark::DoNotOptimize(sum);
    return count;
}

enum class Mode { OpenSession, NewSession, ChangedFile };

void Run(benchmark::State& state, Environment& env, Mode mode) {
    int items = 0;
    try {
        std::unique_ptr<Session> open =
            mode == Mode::NewSession ? nullptr : std::make_unique<Session>();
        for (auto _ : state) {
            if (mode == Mode::NewSession) {
                // A new Logon opens the mail system afresh, as each scan pass does.
                env.store = OpenGenerated(state);
                Session session;
                items = ReadWeek(session.ns);
            } else {
                // A new modification time makes the store read and walk the whole file again.
                if (mode == Mode::ChangedFile &&
                    utimensat(AT_FDCWD, GeneratedMailSystem::Get().CalendarFile().c_str(), nullptr,
                              0) != 0)
                    state.SkipWithError("cannot touch the calendar");
                items = ReadWeek(open->ns);
            }
        }
    } catch (const COleDispatchException& e) {
        state.SkipWithError(("dispatch error: " + e.m_strDescription).c_str());
    } catch (const COleException&) {
        state.SkipWithError("call error");
    }
    state.counters["items"] = items;
    state.SetItemsProcessed(state.iterations() * int64_t(items));
}

// A session open throughout, the calendar unchanged: the store answers from what it kept.
void BM_FindWeek_Unchanged(benchmark::State& state) {
    Environment env;
    env.store = OpenGenerated(state);
    if (!env.store)
        return;
    Run(state, env, Mode::OpenSession);
}
BENCHMARK(BM_FindWeek_Unchanged)->Unit(benchmark::kMillisecond);

// A new session (application, logon, mail system, recipient, folder) for every week read.
void BM_FindWeek_NewSession(benchmark::State& state) {
    Environment env;
    if (!OpenGenerated(state))
        return;
    Run(state, env, Mode::NewSession);
}
BENCHMARK(BM_FindWeek_NewSession)->Unit(benchmark::kMillisecond);

// The calendar changed before every read: parsing and walking included.
void BM_FindWeek_ChangedFile(benchmark::State& state) {
    Environment env;
    env.store = OpenGenerated(state);
    if (!env.store)
        return;
    Run(state, env, Mode::ChangedFile);
}
BENCHMARK(BM_FindWeek_ChangedFile)->Unit(benchmark::kMillisecond);

// The same week handed out from memory: what the automation layer itself costs.
void BM_FindWeek_LayerOnly(benchmark::State& state) {
    Environment env;
    std::shared_ptr<mail::MailSystem> generated = OpenGenerated(state);
    if (!generated)
        return;
    auto fixed = std::make_shared<FixedStore>();
    std::string error;
    if (!generated->AddressList(fixed->list, error) ||
        !generated->FindAppointments(fixed->list.at(0), kNow - 60, kNow + 7 * 86400 + 60,
                                     fixed->week, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    env.store = fixed;
    Run(state, env, Mode::OpenSession);
}
BENCHMARK(BM_FindWeek_LayerOnly)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
