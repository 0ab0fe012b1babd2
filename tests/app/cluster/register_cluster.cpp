// Gives the test program its three-member etcd cluster (plain http, no authentication).
//
// Started before the first test and stopped after the last.
#include "support/EtcdTestCluster.h"

#include <gtest/gtest.h>

namespace {

[[maybe_unused]] testing::Environment* const cluster =
    testing::AddGlobalTestEnvironment(new testing_support::EtcdClusterEnvironment({}));

} // namespace
