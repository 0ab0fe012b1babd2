// Time from the leader's death to the first page claimed by the new leader, over a real etcd.
//
// A three-member etcd on loopback. The leader is a candidate process that steps once a second, as a
// monitor's timer does, claiming a page at every step; the standby steps once a second in this
// process. Each round kills the leader (SIGKILL) at a random moment of its second and measures
// until the standby's first successful claim: what a page due during the switch waits at most,
// before the mail system. Figures, not a test: run it and read the output.
// Usage: cluster_failover_bench [--kills N] [--ttl SECONDS]
#include "ClusterTestSupport.h"
#include "app/cluster/PageClaims.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <signal.h>
#include <thread>

using namespace cluster;
using SteadyClock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    int kills = 20;
    int64_t ttl = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--kills") == 0)
            kills = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--ttl") == 0)
            ttl = std::atoll(argv[i + 1]);
    }
    testing_support::EtcdTestCluster etcd({});
    if (!etcd.Started()) {
        std::fprintf(stderr, "the etcd cluster did not start\n");
        return 1;
    }
    ClientConfig config;
    std::string error;
    if (!ParseClusterUrl(etcd.Url("bench"), config.url, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::string root = config.url.KeyRoot();
    EtcdClient client(config);
    std::mt19937 random(std::random_device{}());
    std::vector<long> takeovers;
    std::printf("lease TTL %lld s, margin 1 s, steps of 1 s; %d kills\n",
                static_cast<long long>(ttl), kills);
    for (int round = 1; round <= kills; ++round) {
        client.Delete(Op::DeletePrefix(root));
        cluster_test::CandidateProcess leader(
            ORVANE_CLUSTER_CANDIDATE,
            {etcd.Url("bench"), "leader-" + std::to_string(round), std::to_string(ttl), "1000"});
        if (!leader.WaitForLine("CLAIMED", std::chrono::seconds(15))) {
            std::fprintf(stderr, "round %d: the leader did not lead\n", round);
            return 1;
        }
        Election standby(client, config.url.LeaderKey(), {"standby", ttl, 1000, BootMilliseconds});
        PageClaims claims(client, config.url.PagesRoot());
        standby.Step();
        // Somewhere in the leader's second, and in the standby's.
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1000));
        leader.Signal(SIGKILL);
        const auto killed = SteadyClock::now();
        auto tick = killed + std::chrono::milliseconds(random() % 1000);
        long waited = -1;
        for (int step = 0; step < 60 && waited < 0; ++step) {
            std::this_thread::sleep_until(tick);
            tick += std::chrono::seconds(1);
            standby.Step();
            if (claims.Claim(standby, "page-" + std::to_string(round), 0).outcome ==
                PageClaims::Outcome::Claimed)
                waited = cluster_test::ElapsedMs(killed);
        }
        standby.Resign();
        if (waited < 0) {
            std::fprintf(stderr, "round %d: the standby never took over\n", round);
            return 1;
        }
        std::printf("kill %2d: first page claimed by the new leader after %ld ms\n", round, waited);
        takeovers.push_back(waited);
    }
    std::sort(takeovers.begin(), takeovers.end());
    const size_t n = takeovers.size();
    const long median = n % 2 ? takeovers[n / 2] : (takeovers[n / 2 - 1] + takeovers[n / 2]) / 2;
    std::printf("lease TTL %lld s: median %ld ms, worst %ld ms, best %ld ms over %zu kills\n",
                static_cast<long long>(ttl), median, takeovers.back(), takeovers.front(), n);
    return 0;
}
