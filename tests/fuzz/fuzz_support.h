// What the fuzz targets share: an offline host holding the effect's
// parameters, scratch files for code that reads paths, and the check that
// stops a run when a property fails.
#pragma once

#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>

#include "host/host_contract.h"
#include "offline/offline_host.h"

namespace lumatrail::fuzz {

// Fills `host` with the effect's own parameter list and defaults.
inline void load_effect_parameters(offline::OfflineHost& host) {
    if (offline::load_parameters(host, EffectMain) != PF_Err_NONE) {
        std::fputs("parameter setup failed\n", stderr);
        std::abort();
    }
}

// A file name of this process in $TMPDIR (ctest gives each target its own).
inline std::string scratch_path(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    const std::filesystem::path folder = dir && *dir ? dir : "/tmp";
    return (folder / ("lumatrail_fuzz_" + std::to_string(getpid()) + "_" + name)).string();
}

// Writes the bytes to `path`, replacing what was there.
inline void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

// Stops the run with `what` when a property does not hold: libFuzzer keeps
// the input that broke it.
inline void require(bool holds, const std::string& what) {
    if (!holds) {
        std::fprintf(stderr, "property failed: %s\n", what.c_str());
        std::abort();
    }
}

// A double from the input: half the time one of the values hosts and
// callers get wrong (NaN, +-Inf, signed zero, huge, subnormal).
inline double next_double(FuzzedDataProvider& in) {
    constexpr double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   0.0,
                                   -0.0,
                                   0.5,
                                   1.0,
                                   -1.0,
                                   1e300,
                                   std::numeric_limits<double>::denorm_min()};
    if (in.ConsumeBool()) return specials[in.ConsumeIntegralInRange<std::size_t>(0, std::size(specials) - 1)];
    return in.ConsumeFloatingPoint<double>();
}

}  // namespace lumatrail::fuzz
