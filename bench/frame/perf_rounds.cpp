#include "bench/frame/perf_rounds.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace lumatrail::perf {
namespace {

// Seconds one repetition of the work takes, its reset excluded.
double once(const Work& work) {
    if (work.reset) work.reset();
    const auto start = std::chrono::steady_clock::now();
    work.run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double mean_seconds(const Work& work, int repetitions) {
    double total = 0.0;
    for (int i = 0; i < repetitions; ++i) total += once(work);
    return total / repetitions;
}

// Repetitions per measurement, from the faster of two runs (the first also
// warms the caches and maps the pages).
int repetitions_for(const Work& work, double min_seconds) {
    const double seconds = std::min(once(work), once(work));
    if (!(seconds > 0.0)) return 1;
    return int(std::clamp(std::ceil(min_seconds / seconds), 1.0, 1.0e6));
}

struct Spread {
    double median, lo, hi;
};

Spread spread_of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size(), half = n / 2;
    const double median = n % 2 ? values[half] : (values[half - 1] + values[half]) / 2.0;
    return {median, values.front(), values.back()};
}

template <class... Values>
std::string printed(const char* pattern, Values... values) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// "79.0 ms (76.1-85.3)": one decimal below 100 ms.
std::string milliseconds(const std::vector<double>& seconds) {
    const Spread s = spread_of(seconds);
    const int d = s.median * 1000.0 < 99.95 ? 1 : 0;
    return printed("%.*f ms (%.*f-%.*f)", d, s.median * 1000.0, d, s.lo * 1000.0, d, s.hi * 1000.0);
}

// "12.0x label (11.2-13.1)": the spread of the per-round ratios.
std::string ratio(const std::vector<double>& cases, const std::vector<double>& references,
                  const std::string& label) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < cases.size(); ++i) ratios.push_back(cases[i] / references[i]);
    const Spread s = spread_of(ratios);
    return printed("%.1fx %s (%.1f-%.1f)", s.median, label.c_str(), s.lo, s.hi);
}

}  // namespace

std::string measure_case(const std::string& name, const PreparedCase& prepared, const RoundOptions& options) {
    const std::size_t n = prepared.references.size();
    std::vector<int> repetitions;
    for (const Reference& r : prepared.references)
        repetitions.push_back(repetitions_for(r.work, options.min_seconds));
    repetitions.push_back(repetitions_for(prepared.work, options.min_seconds));

    // times[i][round]: the references in order, the case last.
    std::vector<std::vector<double>> times(n + 1);
    for (int round = 0; round < std::max(options.rounds, 1); ++round) {
        for (std::size_t i = 0; i < n; ++i)
            times[i].push_back(mean_seconds(prepared.references[i].work, repetitions[i]));
        times[n].push_back(mean_seconds(prepared.work, repetitions[n]));
    }

    std::string line = name + ": " + milliseconds(times[n]);
    if (!prepared.note.empty()) line += ", " + prepared.note;
    for (std::size_t i = 0; i < n; ++i) {
        const Reference& r = prepared.references[i];
        if (r.show_time) line += ", " + r.label + " " + milliseconds(times[i]);
        line += ", " + ratio(times[n], times[i], r.label);
    }
    return line;
}

}  // namespace lumatrail::perf
