// Paired rounds for make perf: every case is measured in rounds, each round
// timing the case's references (a copy, a floor) and then the case itself,
// back to back in this process, so that a ratio compares measurements taken
// within a second of each other. The line of a case gives the median of the
// rounds with their lowest and highest value beside it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace lumatrail::perf {

// One thing timed: run is timed; reset, when present, restores the state run
// starts from before every repetition and is not timed.
struct Work {
    std::function<void()> run;
    std::function<void()> reset;
};

// A measurement taken before the case in every round.
struct Reference {
    std::string label;  // "copy", "floor"
    Work work;
    bool show_time = false;  // also print "label T ms (lo-hi)" before the ratio
};

// A case ready to measure: its pictures made and its checks passed.
struct PreparedCase {
    Work work;
    std::vector<Reference> references;
    std::string note;  // printed after the case's time, e.g. "11.1 M stamps"
};

// A case by name; prepare makes its pictures only when the case is run.
struct Case {
    std::string name;
    std::function<PreparedCase()> prepare;
};

struct RoundOptions {
    int rounds = 5;
    // Each measurement is the mean of as many repetitions as last at least
    // this long (at least one; under twice as long unless one lasts longer).
    double min_seconds = 0.1;
};

// Measures the case in rounds and returns its line, e.g.
// "linear 8-bit horizontal 3840x2160: 79.0 ms (76.1-85.3), 12.0x copy (11.2-13.1)".
std::string measure_case(const std::string& name, const PreparedCase& prepared, const RoundOptions& options);

}  // namespace lumatrail::perf
