// Families and series of the monitor's measurements, checked as they are declared.
#include "app/metrics/Metrics.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace metrics {
namespace {

bool NameChar(char c, bool first, bool colon) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    return letter || (colon && c == ':') || (!first && digit);
}

bool IsName(const std::string& name, bool colon) {
    if (name.empty())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (!NameChar(name[i], i == 0, colon))
            return false;
    }
    return true;
}

const char* TypeName(Type type) {
    switch (type) {
    case Type::Counter:
        return "counter";
    case Type::Gauge:
        return "gauge";
    case Type::Histogram:
        return "histogram";
    }
    return "?";
}

} // namespace

namespace detail {

void Violation(const std::string& what) {
    std::fprintf(stderr, "orvane: metrics declared wrongly: %s\n", what.c_str());
    std::abort();
}

} // namespace detail

bool IsMetricName(const std::string& name) {
    return IsName(name, true);
}

bool IsLabelName(const std::string& name) {
    return IsName(name, false) && name.rfind("__", 0) != 0;
}

Family::Family(Type type, std::string name, std::string help, std::vector<std::string> labelNames,
               std::vector<double> bounds)
    : m_type(type), m_name(std::move(name)), m_help(std::move(help)),
      m_labelNames(std::move(labelNames)), m_bounds(std::move(bounds)) {
    if (!IsMetricName(m_name))
        detail::Violation("\"" + m_name + "\" is not a metric name");
    for (size_t i = 0; i < m_labelNames.size(); ++i) {
        const std::string& label = m_labelNames[i];
        if (!IsLabelName(label))
            detail::Violation(m_name + ": \"" + label + "\" is not a label name");
        if (m_type == Type::Histogram && label == "le")
            detail::Violation(m_name + ": \"le\" is the histogram's own label");
        for (size_t j = 0; j < i; ++j) {
            if (m_labelNames[j] == label)
                detail::Violation(m_name + ": the label \"" + label + "\" is named twice");
        }
    }
    if (m_type != Type::Histogram && !m_bounds.empty())
        detail::Violation(m_name + ": only a histogram has bucket bounds");
    if (m_type == Type::Histogram) {
        if (m_bounds.empty())
            detail::Violation(m_name + ": a histogram needs at least one bucket bound");
        for (size_t i = 0; i < m_bounds.size(); ++i) {
            if (!std::isfinite(m_bounds[i]) || (i > 0 && !(m_bounds[i - 1] < m_bounds[i])))
                detail::Violation(m_name + ": bucket bounds must be finite and strictly ascending");
        }
    }
}

detail::Series& Family::NewSeries(Type type, std::vector<std::string> labelValues) {
    if (type != m_type)
        detail::Violation(m_name + " is a " + TypeName(m_type) + ", not a " + TypeName(type));
    if (labelValues.size() != m_labelNames.size())
        detail::Violation(m_name + ": " + std::to_string(m_labelNames.size()) +
                          " label values are needed, not " + std::to_string(labelValues.size()));
    for (const detail::Series& series : m_series) {
        if (series.labelValues == labelValues)
            detail::Violation(m_name + ": a series with these label values exists already");
    }
    detail::Series& series = m_series.emplace_back();
    series.labelValues = std::move(labelValues);
    if (m_type == Type::Histogram)
        series.buckets.assign(m_bounds.size() + 1, 0);
    return series;
}

Counter Family::NewCounter(std::vector<std::string> labelValues) {
    return Counter(&NewSeries(Type::Counter, std::move(labelValues)));
}

Gauge Family::NewGauge(std::vector<std::string> labelValues) {
    return Gauge(&NewSeries(Type::Gauge, std::move(labelValues)));
}

Histogram Family::NewHistogram(std::vector<std::string> labelValues) {
    detail::Series& series = NewSeries(Type::Histogram, std::move(labelValues));
    return Histogram(&series, m_bounds.data(), static_cast<uint32_t>(m_bounds.size()));
}

Family& Registry::Add(Type type, std::string name, std::string help,
                      std::vector<std::string> labelNames, std::vector<double> bounds) {
    for (const auto& family : m_families) {
        if (family->Name() == name)
            detail::Violation("the metric " + name + " is declared twice");
    }
    m_families.push_back(std::make_unique<Family>(type, std::move(name), std::move(help),
                                                  std::move(labelNames), std::move(bounds)));
    return *m_families.back();
}

Counter Registry::AddCounter(std::string name, std::string help) {
    return Add(Type::Counter, std::move(name), std::move(help)).NewCounter();
}

Gauge Registry::AddGauge(std::string name, std::string help) {
    return Add(Type::Gauge, std::move(name), std::move(help)).NewGauge();
}

Histogram Registry::AddHistogram(std::string name, std::string help, std::vector<double> bounds) {
    return Add(Type::Histogram, std::move(name), std::move(help), {}, std::move(bounds))
        .NewHistogram();
}

} // namespace metrics
