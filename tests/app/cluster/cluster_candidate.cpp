// A candidate in a process of its own, for the tests and the benchmark that stop or kill it.
//
// It steps an election every STEP-MS (100 unless given) and, while it leads, claims and records
// one page per step, printing a line per event on standard output:
//   ROLE ACTIVE|STANDBY|NO CLUSTER  the role after a step, when it changed
//   GAP <ms> LEADS 0|1              a step came over 900 ms later than due (the process was
//                                   stopped): whether it judged itself leader before asking
//   CLAIMED <page> <revision> / REFUSED <page> <outcome>
// Usage: cluster_candidate URL NAME [TTL-SECONDS [STEP-MS [CA-FILE]]]
#include "app/cluster/PageClaims.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

const char* OutcomeName(cluster::PageClaims::Outcome outcome) {
    using Outcome = cluster::PageClaims::Outcome;
    switch (outcome) {
    case Outcome::Claimed:
        return "claimed";
    case Outcome::NotLeader:
        return "not-leader";
    case Outcome::ClaimedBefore:
        return "claimed-before";
    case Outcome::Recorded:
        return "recorded";
    case Outcome::Failed:
        return "failed";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: cluster_candidate URL NAME [TTL-SECONDS [STEP-MS [CA-FILE]]]\n");
        return 2;
    }
    cluster::ClientConfig config;
    std::string error;
    if (!cluster::ParseClusterUrl(argv[1], config.url, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const std::string name = argv[2];
    const int64_t ttl = argc > 3 ? std::atoll(argv[3]) : 3;
    const int64_t stepMs = argc > 4 ? std::atoll(argv[4]) : 100;
    if (argc > 5)
        config.caFile = argv[5];
    setvbuf(stdout, nullptr, _IOLBF, 0);

    cluster::EtcdClient client(config);
    cluster::Election election(client, config.url.LeaderKey(),
                               {name, ttl, 1000, cluster::BootMilliseconds});
    cluster::PageClaims claims(client, config.url.PagesRoot());
    int64_t last = cluster::BootMilliseconds();
    cluster::Role role = cluster::Role::NoCluster;
    bool first = true;
    for (long page = 0;; ++page) {
        const int64_t now = cluster::BootMilliseconds();
        if (now - last > stepMs + 900)
            std::printf("GAP %lld LEADS %d\n", static_cast<long long>(now - last),
                        election.IsLeader() ? 1 : 0);
        last = now;
        const cluster::Role stepped = election.Step();
        if (first || stepped != role)
            std::printf("ROLE %s\n", cluster::RoleName(stepped));
        role = stepped;
        first = false;
        if (election.IsLeader()) {
            const std::string key = name + "-" + std::to_string(page);
            const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
            const auto result = claims.Claim(election, key, wallMs);
            if (result.outcome == cluster::PageClaims::Outcome::Claimed) {
                claims.Record(key, "sent");
                std::printf("CLAIMED %s %lld\n", key.c_str(),
                            static_cast<long long>(result.claim.revision));
            } else {
                std::printf("REFUSED %s %s\n", key.c_str(), OutcomeName(result.outcome));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
}
