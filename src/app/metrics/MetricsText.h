// Prometheus's text exposition format, version 0.0.4: what a scrape of the monitor answers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace metrics {

class Registry;

namespace text {

// The Content-Type of the exposition.
inline constexpr const char* kContentType = "text/plain; version=0.0.4";

// Appends every family of `registry` in declaration order: "# HELP" and "# TYPE" lines, then
// its series in the order they were made, one line each ("name{label=\"value\"} number"). A
// histogram's series gives its buckets cumulatively ("name_bucket{...,le=\"0.5\"}"), ending
// with le="+Inf", then "name_sum" and "name_count". A family without series yet gives its HELP
// and TYPE lines alone. Every line ends with "\n". Does not run the registry's collect hook.
void Write(const Registry& registry, std::string& out);

// A label value between its quotes: backslash, double quote and line feed escaped as \\, \" and
// \n; every other byte as it is (the format is UTF-8).
void AppendLabelValue(std::string_view value, std::string& out);
// A HELP text: backslash and line feed escaped as \\ and \n.
void AppendHelp(std::string_view help, std::string& out);
// A sample value as Prometheus reads it: a whole number below 2^53 in magnitude as an integer
// ("42", "1780000000"), any other finite number in the shortest form that reads back exactly
// ("0.005", "1.5e-07"), and "+Inf", "-Inf", "NaN".
void AppendNumber(double value, std::string& out);
void AppendNumber(uint64_t value, std::string& out);

} // namespace text
} // namespace metrics
