// What counting costs on the monitor's tick: a counter add, a gauge set and a histogram observe
// (with the allocations each makes, which must be none), and a whole scrape of the monitor's
// metrics for comparison.
#include "app/metrics/MetricsText.h"
#include "app/monitor/MonitorMetrics.h"
#include "paging/CRemList.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_allocations{0};

// Allocations per iteration of the timed loop, as a counter beside the time.
class CountAllocations {
public:
    explicit CountAllocations(benchmark::State& state) : m_state(state), m_before(g_allocations) {}
    ~CountAllocations() {
        m_state.counters["allocs_per_op"] = benchmark::Counter(
            static_cast<double>(g_allocations - m_before), benchmark::Counter::kAvgIterations);
    }

private:
    benchmark::State& m_state;
    long m_before;
};

void BM_CounterInc(benchmark::State& state) {
    CMonitorMetrics metrics("bench", false);
    CountAllocations count(state);
    for (auto _ : state) {
        metrics.pagesSent.Inc();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CounterInc);

void BM_GaugeSet(benchmark::State& state) {
    CMonitorMetrics metrics("bench", false);
    CountAllocations count(state);
    double value = 0;
    for (auto _ : state) {
        metrics.lastTickTimestamp.Set(value += 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GaugeSet);

// Tick durations as a monitor of 32,000 users sees them (sub-millisecond to a few hundred
// milliseconds), cycling so that every bucket is reached.
void BM_HistogramObserve(benchmark::State& state) {
    CMonitorMetrics metrics("bench", false);
    const double values[] = {0.0004, 0.0009, 0.003, 0.02, 0.09, 0.3, 4, 20};
    size_t i = 0;
    CountAllocations count(state);
    for (auto _ : state) {
        metrics.tickDuration.Observe(values[i++ & 7]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_HistogramObserve);

// A page as the paging pass counts it: the outcome's counter and the delay's histogram.
void BM_CountPage(benchmark::State& state) {
    CMonitorMetrics metrics("bench", false);
    CountAllocations count(state);
    double delay = 0;
    for (auto _ : state) {
        metrics.CountPage(PageOutcome::Sent, delay += 0.001);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CountPage);

// What a scrape costs the monitor's thread between two ticks.
void BM_ScrapeText(benchmark::State& state) {
    CMonitorMetrics metrics("bench", true);
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text;
        metrics.Registry().Collect();
        metrics::text::Write(metrics.Registry(), text);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ScrapeText)->Unit(benchmark::kMicrosecond);

} // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

BENCHMARK_MAIN();
