// The cases of make perf, in the order they are printed.
#pragma once

#include <vector>

#include "bench/frame/perf_rounds.h"

namespace lumatrail::perf {

std::vector<Case> all_cases();

}  // namespace lumatrail::perf
