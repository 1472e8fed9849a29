// make perf: whole frames through the frame entry, one line per case, for
// example (the last wrapped here):
//
//   copy 8-bit 3840x2160: 24.3 ms (23.0-25.1)
//   linear 8-bit horizontal 3840x2160: 79.0 ms (76.1-85.3), 12.0x copy (11.2-13.1), 3.1x floor (2.9-3.4)
//   force-lines 8-bit 1920x1080: 282 ms (270-300), 11.1 M stamps, floor 45.0 ms (44.1-47.2),
//       6.3x floor (5.9-6.8)
//
// Every case is measured in rounds (five unless --rounds says otherwise). A
// round times the case's references and then the case, back to back in this
// process, and a ratio is the median of the rounds' ratios: the drift of a
// shared machine (its speed can change by half within a minute) mostly
// touches both sides of a round alike. A time is the median of the rounds,
// each the mean wall time of as many frames as last at least a tenth of a
// second (--min-time; at least one frame). The lowest and highest round are
// in brackets.
//
// The references:
// - copy: a plain copy of a frame of the same depth and size through the same
//   views, pixel by pixel;
// - floor of a linear or mask case: every row copied and its brightness keys
//   computed once, what any pass must do;
// - floor of a stream case: the frame's stamps (its count printed before it)
//   replayed from a list, each pixel read, blended with its segment's colour
//   and weight and written back, onto the output as it is before drawing: the
//   blends alone, without finding the pixels or weighing them. The list is
//   recorded from the frame's drawn segments and checked, once and untimed,
//   to give the drawn frame bit for bit, and the drawn frame composited to be
//   the one the frame entry renders; a mismatch ends the run with an error.
//
// Stream cases run on the built-in test picture and, marked "photo", on the
// photo-like picture. --filter TEXT runs only the cases whose names contain
// it or match it as a regular expression.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <regex>
#include <string>

#include "bench/frame/perf_cases.h"

namespace {

struct Options {
    lumatrail::perf::RoundOptions rounds;
    std::string filter;
};

const char* const USAGE =
    "usage: lumatrail_perf [--rounds N] [--min-time SECONDS] [--filter TEXT]\n"
    "  --rounds N          paired rounds per case (default 5)\n"
    "  --min-time SECONDS  least time of one measurement (default 0.1)\n"
    "  --filter TEXT       only the cases whose names contain it or match it as a regex\n";

// Parses the options; exits with the usage on a wrong one.
Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--rounds" && has_value) {
            o.rounds.rounds = std::atoi(argv[++i]);
        } else if (arg == "--min-time" && has_value) {
            o.rounds.min_seconds = std::atof(argv[++i]);
        } else if (arg == "--filter" && has_value) {
            o.filter = argv[++i];
        } else {
            std::fputs(USAGE, arg == "--help" ? stdout : stderr);
            std::exit(arg == "--help" ? 0 : 2);
        }
    }
    if (o.rounds.rounds < 1 || !(o.rounds.min_seconds >= 0.0)) {
        std::fputs(USAGE, stderr);
        std::exit(2);
    }
    return o;
}

bool selected(const std::string& name, const std::string& filter) {
    if (filter.empty() || name.find(filter) != std::string::npos) return true;
    try {
        return std::regex_search(name, std::regex(filter));
    } catch (const std::regex_error&) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lumatrail::perf;
    const Options options = parse_options(argc, argv);
    for (const Case& c : all_cases()) {
        if (!selected(c.name, options.filter)) continue;
        try {
            const std::string line = measure_case(c.name, c.prepare(), options.rounds);
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", c.name.c_str(), e.what());
            return 1;
        }
    }
    return 0;
}
