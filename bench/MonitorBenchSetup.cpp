// The mail system of the monitoring benchmarks.
#include "MonitorBenchSetup.h"

#include "core/Clock.h"
#include "core/Settings.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"
#include "users/CUserList.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace bench {
namespace {

constexpr int kProbeLead = 5; // minutes between a probe's start and its reminder

std::string Folder(int mailbox) {
    char name[16];
    std::snprintf(name, sizeof name, "mbox%05d", mailbox);
    return name;
}
std::string ProbeFolder(int probe) {
    char name[16];
    std::snprintf(name, sizeof name, "probe%03d", probe);
    return name;
}

std::string Utc(int64_t t) {
    const time_t x = time_t(t);
    struct tm tm;
    gmtime_r(&x, &tm);
    char buffer[24];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &tm);
    return buffer;
}

void WriteProbe(const fs::path& folder, int probe, const std::vector<int>& offsets) {
    fs::create_directories(folder);
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane bench//EN\r\n";
    for (int offset : offsets) {
        const int64_t start = int64_t(kStart) + offset + 60 + kProbeLead * 60;
        text += "BEGIN:VEVENT\r\nUID:probe" + std::to_string(probe) + "-" + std::to_string(offset) +
                "\r\nSUMMARY:" + ProbeSubject(probe, offset) + "\r\nDTSTART:" + Utc(start) +
                "\r\nDTEND:" + Utc(start + 1800) +
                "\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT" + std::to_string(kProbeLead) +
                "M\r\nEND:VALARM\r\nEND:VEVENT\r\n";
    }
    const std::string path = (folder / "calendar.ics").string();
    std::ifstream in(path);
    const std::string old((std::istreambuf_iterator<char>(in)), {});
    // Written only when it differs, so that a file read before keeps its cached reading.
    if (old != text + "END:VCALENDAR\r\n")
        std::ofstream(path) << text << "END:VCALENDAR\r\n";
}

} // namespace

std::string Number(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "%05d", i);
    return text;
}

bool IsProbeUser(int user) {
    return user % 100 == 50 && user / 100 < kProbes;
}

std::string MailboxOf(int user) {
    return "/o=Bench/cn=user" + Number(user);
}

std::string ProbeSubject(int probe, int offset) {
    return "Probe " + std::to_string(probe) + " at " + std::to_string(offset);
}

fs::path Prepare(const std::string& name, int users,
                 const std::function<std::vector<int>(int probe)>& probeOffsets) {
    const fs::path data = fs::path(ORVANE_BENCH_DATA_DIR);
    const fs::path generated = data / "m1000" / "mailboxes";
    if (!fs::exists(generated / "MANIFEST")) {
        std::cerr << "Generating " << kMailboxes << " mailboxes into " << generated << " ...\n";
        const std::string command = "python3 '" ORVANE_SHARED_BENCH_DIR "/gen.py' --out '" +
                                    generated.string() + "' --mailboxes " +
                                    std::to_string(kMailboxes) + " >/dev/null";
        if (std::system(command.c_str()) != 0) {
            std::cerr << "gen.py failed\n";
            std::exit(1);
        }
    }
    const fs::path root = data / name;
    fs::create_directories(root / "mailboxes");
    fs::create_directories(root / "outbox");
    for (int m = 0; m < kMailboxes; ++m) {
        const fs::path link = root / "mailboxes" / Folder(m);
        if (!fs::exists(link))
            fs::create_directory_symlink(generated / Folder(m), link);
    }
    for (int p = 0; p < kProbes; ++p)
        WriteProbe(root / "mailboxes" / ProbeFolder(p), p, probeOffsets(p));

    std::vector<mail::AddressEntry> entries;
    for (int u = 0; u < users; ++u) {
        const std::string folder = IsProbeUser(u) ? ProbeFolder(u / 100) : Folder(u % kMailboxes);
        entries.push_back(
            {"Bench User " + Number(u), MailboxOf(u), "/o=Bench/cn=MAIL1", folder, ""});
        entries.push_back({"Bench User " + Number(u) + " (Pager)", "/o=Bench/cn=pager" + Number(u),
                           "", "", "user" + Number(u) + "@pager.bench.example"});
    }
    std::ofstream(root / mail::kAddressListFileName)
        << mail::FormatAddressList(entries, "monitoring benchmark");
    return root;
}

void UseProfile(const fs::path& root) {
    const fs::path config = root / "config";
    fs::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    mail::Profiles profiles;
    mail::Profile profile;
    profile.name = "Bench";
    profile.mailSystem = root.string();
    profiles.Set(profile);
    profiles.SetDefault("Bench");
    std::string error;
    if (!profiles.Save(error)) {
        std::cerr << error << "\n";
        std::exit(1);
    }
    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Bench");
}

void AddUsers(CUserList& list, int users) {
    for (int u = 0; u < users; ++u) {
        UserlistStru* user = list.CreateUser();
        user->DisplayName = "Bench User " + Number(u);
        user->MailboxName = MailboxOf(u);
        user->Server = "/o=Bench/cn=MAIL1";
        user->PagerName = "Bench User " + Number(u) + " (Pager)";
        user->ScanInterval = 60;
        user->PageOnlyOOF = 0;
    }
}

double RealNow() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double ClockOffset() {
    for (;;) {
        const double before = std::floor(RealNow());
        const int32_t now = Clock::Now().GetTime();
        if (std::floor(RealNow()) == before)
            return double(now) - before;
    }
}

std::map<std::string, double> ProbePagesSent(const fs::path& outbox, int& others) {
    std::map<std::string, double> sent;
    others = 0;
    for (const auto& entry : fs::directory_iterator(outbox)) {
        if (entry.path().extension() != ".eml")
            continue;
        std::ifstream in(entry.path());
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        const size_t body = text.find("\r\n\r\n");
        const size_t probe = text.find("Probe ", body == std::string::npos ? 0 : body);
        if (probe == std::string::npos) {
            ++others;
            continue;
        }
        std::string subject = text.substr(probe);
        while (!subject.empty() && (subject.back() == '\n' || subject.back() == '\r'))
            subject.pop_back();
        struct stat st;
        if (stat(entry.path().c_str(), &st) == 0)
            sent[subject] = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
    }
    return sent;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[i];
}

std::string Summary(const std::vector<double>& seconds) {
    if (seconds.empty())
        return "none";
    char text[160];
    std::snprintf(text, sizeof text, "%zu pages: p50 %.3f s, p99 %.3f s, max %.3f s",
                  seconds.size(), Percentile(seconds, 0.5), Percentile(seconds, 0.99),
                  *std::max_element(seconds.begin(), seconds.end()));
    return text;
}

} // namespace bench
