#include "tools/lumatrail/no_op_warnings.h"

#include <algorithm>

#include "offline/param_values.h"

namespace lumatrail::tools {
namespace {

bool holds_other_than(const offline::OfflineHost& host, const std::string& name, double value) {
    const offline::OfflineParam& p = host.params[std::size_t(offline::find_parameter(host, name))];
    return std::any_of(p.keys.begin(), p.keys.end(),
                       [&](const offline::ParamKey& k) { return k.value != value; });
}

}  // namespace

std::vector<std::string> no_op_warnings(const offline::OfflineHost& host, const RenderOptions& r) {
    std::vector<std::string> warnings;
    const bool mask_mode = holds_other_than(host, "Mask Mode", 1.0);
    const bool show_mask = holds_other_than(host, "Show Mask", 0.0);
    if (!r.job.mask.empty() && !mask_mode && !show_mask)
        warnings.push_back(
            "--mask is not used while Mask Mode is \"Off - Full Frame Sort\" and Show Mask is off "
            "(set mask-mode=sort-inside-mask or stretch-from-mask)");
    if (r.job.mask.empty() && (mask_mode || show_mask))
        warnings.push_back("no --mask was given, so Mask Mode and Show Mask have no mask layer to use");
    if (r.size_given && !r.job.input.empty())
        warnings.push_back("--size is for the test card; the input \"" + r.job.input +
                           "\" keeps its own size");
    if (r.card_given && !r.job.input.empty())
        warnings.push_back("--card chooses the built-in picture; the input \"" + r.job.input +
                           "\" is rendered instead");
    if (r.time && (r.frame || r.range || r.job.frames.size() > 1 || r.job.rate))
        warnings.push_back(
            "--time is not used when frames are given; each frame's time is its number over the frame rate");
    return warnings;
}

}  // namespace lumatrail::tools
