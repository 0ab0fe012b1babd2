// The mail system of the monitoring benchmarks: 10,000 users (ten a mailbox) over the 1,000
// mailboxes of the shared generator, and probe mailboxes whose pages fall due at chosen seconds,
// so that the time from each page's due moment to its message in the outbox can be measured.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

class CUserList;

namespace bench {

// The generator's reference moment (2026-03-14 13:05:40 UTC, 09:05:40 in New York, the zone the
// benchmarks set). The generated reminders fall on whole five minutes, so none of their pages is
// due in the first 200 seconds after it.
inline constexpr int32_t kStart = 1773493540;
inline constexpr int kMailboxes = 1000;
inline constexpr int kProbes = 100;

std::string Number(int i); // "00042"
// Every hundredth user reads a probe mailbox, from the 50th on: probes spread through the list.
bool IsProbeUser(int user);
std::string MailboxOf(int user); // the user's mailbox address: "/o=Bench/cn=user00042"
// The subject of the probe appointment of `probe` whose page falls due `offset` seconds after
// kStart: "Probe 3 at 214".
std::string ProbeSubject(int probe, int offset);

// Makes (or completes) the mail system data/`name` for `users` users: the generated calendars
// (generated once, shared with the scan benchmark), probe mailbox p with one appointment per
// entry of probeOffsets(p) (seconds after kStart at which its pages fall due, even numbers), an
// address list with a mailbox entry and a pager entry for every user.
std::filesystem::path Prepare(const std::string& name, int users,
                              const std::function<std::vector<int>(int probe)>& probeOffsets);
// Makes the profile "Bench" over `root` the default and chosen one, with settings under `root`.
void UseProfile(const std::filesystem::path& root);
// Appends `users` users as Prepare addresses them: interval 60, paged always.
void AddUsers(CUserList& list, int users);

// The real time, in seconds since 1970 with its fraction.
double RealNow();
// The program's clock offset from real time after Clock::StartAt: a page due at clock second P is
// due from real time P - offset on.
double ClockOffset();
// The probe pages in the outbox: subject ("Probe 3 at 214") to the real time its message was
// written. Other messages are counted in `others`.
std::map<std::string, double> ProbePagesSent(const std::filesystem::path& outbox, int& others);

double Percentile(std::vector<double> values, double p);
// "300 pages: p50 0.012 s, p99 0.020 s, max 0.031 s", or "none".
std::string Summary(const std::vector<double>& seconds);

} // namespace bench
