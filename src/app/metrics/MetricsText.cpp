// The text exposition of a registry.
#include "app/metrics/MetricsText.h"

#include "app/metrics/Metrics.h"

#include <charconv>
#include <cmath>

namespace metrics::text {
namespace {

constexpr double kExactIntegers = 9007199254740992.0; // 2^53

const char* TypeWord(Type type) {
    switch (type) {
    case Type::Counter:
        return "counter";
    case Type::Gauge:
        return "gauge";
    case Type::Histogram:
        return "histogram";
    }
    return "untyped";
}

// The series' labels as `{a="x",b="y"` without the closing brace, so that "le" can follow;
// nothing for a family without labels.
void AppendLabels(const Family& family, const detail::Series& series, std::string& out) {
    const auto& names = family.LabelNames();
    for (size_t i = 0; i < names.size(); ++i) {
        out += i == 0 ? "{" : ",";
        out += names[i];
        out += "=\"";
        AppendLabelValue(series.labelValues[i], out);
        out += '"';
    }
}

void AppendSample(const Family& family, const detail::Series& series, const char* suffix,
                  std::string& out) {
    out += family.Name();
    out += suffix;
    AppendLabels(family, series, out);
    if (!family.LabelNames().empty())
        out += '}';
    out += ' ';
}

void AppendHistogram(const Family& family, const detail::Series& series, std::string& out) {
    const auto& bounds = family.Bounds();
    uint64_t cumulative = 0;
    for (size_t i = 0; i <= bounds.size(); ++i) {
        cumulative += series.buckets[i];
        out += family.Name();
        out += "_bucket";
        AppendLabels(family, series, out);
        out += family.LabelNames().empty() ? "{le=\"" : ",le=\"";
        if (i < bounds.size())
            AppendNumber(bounds[i], out);
        else
            out += "+Inf";
        out += "\"} ";
        AppendNumber(cumulative, out);
        out += '\n';
    }
    AppendSample(family, series, "_sum", out);
    AppendNumber(series.value, out);
    out += '\n';
    AppendSample(family, series, "_count", out);
    AppendNumber(series.count, out);
    out += '\n';
}

} // namespace

void AppendLabelValue(std::string_view value, std::string& out) {
    for (const char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
}

void AppendHelp(std::string_view help, std::string& out) {
    for (const char c : help) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
}

void AppendNumber(double value, std::string& out) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
        return;
    }
    char buffer[32];
    std::to_chars_result result;
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegers)
        result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(value));
    else
        result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendNumber(uint64_t value, std::string& out) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void Write(const Registry& registry, std::string& out) {
    for (const auto& family : registry.Families()) {
        out += "# HELP ";
        out += family->Name();
        out += ' ';
        AppendHelp(family->Help(), out);
        out += "\n# TYPE ";
        out += family->Name();
        out += ' ';
        out += TypeWord(family->GetType());
        out += '\n';
        for (const detail::Series& series : family->AllSeries()) {
            if (family->GetType() == Type::Histogram) {
                AppendHistogram(*family, series, out);
                continue;
            }
            AppendSample(*family, series, "", out);
            if (family->GetType() == Type::Counter)
                AppendNumber(series.count, out);
            else
                AppendNumber(series.value, out);
            out += '\n';
        }
    }
}

} // namespace metrics::text
