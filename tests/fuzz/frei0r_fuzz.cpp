// The frei0r filter through its entry points, as a frei0r host calls them:
// an instance for a small frame, parameters set to any double (NaN, +-Inf,
// far out of range), any string or a bad index, then f0r_update at any time
// on any pixels. A double or boolean parameter reads back finite.
extern "C" {
#include <frei0r.h>
}

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"

namespace {

void set_one(f0r_instance_t instance, int count, FuzzedDataProvider& in) {
    const int index = in.ConsumeIntegralInRange<int>(-1, count);
    f0r_param_info_t info{};
    if (index >= 0 && index < count) f0r_get_param_info(&info, index);
    if (index >= 0 && index < count && info.type == F0R_PARAM_STRING) {
        const std::string text = in.ConsumeRandomLengthString(40);
        const char* value = text.c_str();
        f0r_set_param_value(instance, &value, index);
        const char* back = nullptr;
        f0r_get_param_value(instance, &back, index);
        lumatrail::fuzz::require(back != nullptr, "a choice reads back as null");
        return;
    }
    double value = lumatrail::fuzz::next_double(in);
    f0r_set_param_value(instance, &value, index);
    if (index < 0 || index >= count) return;
    double back = std::numeric_limits<double>::quiet_NaN();
    f0r_get_param_value(instance, &back, index);
    lumatrail::fuzz::require(std::isfinite(back),
                             std::string("parameter ") + info.name + " reads back not finite");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return f0r_init() == 1 ? 0 : 1; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned width = in.ConsumeIntegralInRange<unsigned>(1, 12);
    const unsigned height = in.ConsumeIntegralInRange<unsigned>(1, 12);
    f0r_plugin_info_t plugin{};
    f0r_get_plugin_info(&plugin);
    const f0r_instance_t instance = f0r_construct(width, height);
    lumatrail::fuzz::require(instance != nullptr, "no instance for a small frame");
    const int settings = in.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < settings; ++i) set_one(instance, plugin.num_params, in);
    const double time = lumatrail::fuzz::next_double(in);
    std::vector<std::uint32_t> pixels(std::size_t(width) * height), out(pixels.size());
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();
    for (std::size_t i = 0; i < bytes.size() / 4 && i < pixels.size(); ++i)
        pixels[i] = std::uint32_t(bytes[4 * i]) | std::uint32_t(bytes[4 * i + 1]) << 8 |
                    std::uint32_t(bytes[4 * i + 2]) << 16 | std::uint32_t(bytes[4 * i + 3]) << 24;
    f0r_update(instance, time, pixels.data(), out.data());
    f0r_destruct(instance);
    return 0;
}
