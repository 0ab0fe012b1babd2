// The monitor's own measurements: counters, gauges and histograms whose series are made once, so
// that counting on the tick's path is a plain add on storage made for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A registry holds families (a metric name with its HELP text, type and label names); a family
// holds series (one set of label values each). Series are made when the monitor starts, with
// their label values fixed, and handed out as handles: an update through a handle touches only
// that series' numbers, with no lookup by name, no allocation and no lock.
//
// One thread: the registry, its handles and the exposition (MetricsText.h) are used on the
// monitor's thread only, where the event loop runs ticks and scrapes one after the other, so a
// scrape never waits for a tick nor a tick for a scrape.
//
// Declaring a family or series against the rules of the text format (names, label names, bucket
// bounds, one value per label, no two series with the same values) is a programming error: it
// ends the program at once with the reason on standard error, at start-up, where every test
// meets it.
namespace metrics {

enum class Type { Counter, Gauge, Histogram };

namespace detail {

// One series' numbers. Which fields mean what depends on the family's type.
struct Series {
    std::vector<std::string> labelValues; // one per label name of the family, in order
    uint64_t count = 0;                   // counter: its value; histogram: observations
    double value = 0;                     // gauge: its value; histogram: sum of observations
    // Histogram: observations per bucket, not cumulative; one more than the bounds, the last
    // counting those above every bound (+Inf). Never resized after the series is made.
    std::vector<uint64_t> buckets;
};

[[noreturn]] void Violation(const std::string& what);

} // namespace detail

class Family;

// A handle is a pointer to its series: copy it freely; it stays valid while its registry lives.
// A default-made handle belongs to no series and must be assigned before use.
class Counter {
public:
    Counter() = default;
    void Inc() const { ++m_series->count; }
    void Add(uint64_t n) const { m_series->count += n; }
    uint64_t Value() const { return m_series->count; }

private:
    friend class Family;
    explicit Counter(detail::Series* series) : m_series(series) {}
    detail::Series* m_series = nullptr;
};

class Gauge {
public:
    Gauge() = default;
    void Set(double value) const { m_series->value = value; }
    void Add(double delta) const { m_series->value += delta; }
    double Value() const { return m_series->value; }

private:
    friend class Family;
    explicit Gauge(detail::Series* series) : m_series(series) {}
    detail::Series* m_series = nullptr;
};

class Histogram {
public:
    Histogram() = default;
    // Counts `value` in the first bucket whose upper bound it does not exceed (bounds are
    // inclusive, as "le" says), or above every bound. NaN counts above every bound and makes the
    // sum NaN from then on, as in Prometheus's own clients; callers observe durations, which
    // are never NaN. A negative value counts in the first bucket and lowers the sum.
    void Observe(double value) const {
        uint32_t i = 0;
        while (i < m_boundCount && !(value <= m_bounds[i]))
            ++i;
        ++m_buckets[i];
        m_series->value += value;
        ++m_series->count;
    }
    uint64_t Count() const { return m_series->count; }
    double Sum() const { return m_series->value; }

private:
    friend class Family;
    Histogram(detail::Series* series, const double* bounds, uint32_t boundCount)
        : m_series(series), m_buckets(series->buckets.data()), m_bounds(bounds),
          m_boundCount(boundCount) {}
    detail::Series* m_series = nullptr;
    uint64_t* m_buckets = nullptr;
    const double* m_bounds = nullptr; // the family's, ascending
    uint32_t m_boundCount = 0;
};

class Family {
public:
    Family(Type type, std::string name, std::string help, std::vector<std::string> labelNames,
           std::vector<double> bounds);
    Family(const Family&) = delete;
    Family& operator=(const Family&) = delete;

    // A new series with one value per label name, in the order of the names. The family's type
    // must match. Values may be any text (escaped when written).
    Counter NewCounter(std::vector<std::string> labelValues = {});
    Gauge NewGauge(std::vector<std::string> labelValues = {});
    Histogram NewHistogram(std::vector<std::string> labelValues = {});

    Type GetType() const { return m_type; }
    const std::string& Name() const { return m_name; }
    const std::string& Help() const { return m_help; }
    const std::vector<std::string>& LabelNames() const { return m_labelNames; }
    // Histogram: the buckets' upper bounds, ascending and finite; +Inf is implied.
    const std::vector<double>& Bounds() const { return m_bounds; }
    // In the order they were made; a deque, so that a new series moves none of the others.
    const std::deque<detail::Series>& AllSeries() const { return m_series; }

private:
    detail::Series& NewSeries(Type type, std::vector<std::string> labelValues);

    Type m_type;
    std::string m_name;
    std::string m_help;
    std::vector<std::string> m_labelNames;
    std::vector<double> m_bounds;
    std::deque<detail::Series> m_series;
};

class Registry {
public:
    Registry() = default;
    Registry(const Registry&) = delete; // handles point into it
    Registry& operator=(const Registry&) = delete;

    // Declares a family; its name must be new. `bounds` only for a histogram (strictly
    // ascending, finite, at least one). Families are written in the order they were declared.
    Family& Add(Type type, std::string name, std::string help,
                std::vector<std::string> labelNames = {}, std::vector<double> bounds = {});
    // A family of one series without labels, and that series.
    Counter AddCounter(std::string name, std::string help);
    Gauge AddGauge(std::string name, std::string help);
    Histogram AddHistogram(std::string name, std::string help, std::vector<double> bounds);

    // Called just before each exposition, on the registry's thread, to set the gauges that cost
    // less to work out when scraped (every few seconds) than to keep up at every tick.
    void SetCollectHook(std::function<void()> hook) { m_collect = std::move(hook); }
    void Collect() const {
        if (m_collect)
            m_collect();
    }

    const std::vector<std::unique_ptr<Family>>& Families() const { return m_families; }

private:
    std::vector<std::unique_ptr<Family>> m_families;
    std::function<void()> m_collect;
};

// Whether `name` may name a metric: [a-zA-Z_:][a-zA-Z0-9_:]*.
bool IsMetricName(const std::string& name);
// Whether `name` may name a label: [a-zA-Z_][a-zA-Z0-9_]*, not starting with "__".
bool IsLabelName(const std::string& name);

} // namespace metrics
