#include "tests/golden/golden_frames.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "offline/offline_frame.h"
#include "offline/test_card.h"

namespace lumatrail::golden {
namespace {

using Values = std::vector<std::pair<std::string, double>>;
using Keys = std::vector<std::pair<std::string, std::vector<offline::ParamKey>>>;

// One look: the settings of a frame, rendered on both pictures at every depth.
struct Look {
    std::string name;
    Values values;
    bool with_mask = false;
    double seconds = 1.0;
    PF_RationalScale downsample_x{1, 1}, downsample_y{1, 1};
    Keys keys = {};
    bool plain_command = false;
    bool nan_alpha = false;  // float only: a block of input pixels whose alpha is NaN
};

// Slow launches, few particles and every force, so that streams stay on the
// small pictures, render quickly and go through each force's arithmetic.
Values streams(Values v) {
    const Values base = {{"Launch Speed (px/sec)", 45}, {"Particle Count", 250},
                         {"Random Force", 200},         {"Wind Strength", 60},
                         {"Wind Direction (deg)", 30},  {"Growth Curve", 1.5},
                         {"End Size (%)", 30},          {"Drag", 0.4},
                         {"Launch Spread (deg)", 30},   {"Emitter Spacing (px)", 8},
                         {"Random Scale (px)", 40}};
    v.insert(v.begin(), base.begin(), base.end());
    return v;
}

// Popups are one-based. Direction: 1 Horizontal, 2 Vertical, 3 Radial Out,
// 4 Radial In. Mask Mode: 1 Off, 2 Sort Inside Mask, 3 Stretch From Mask.
// Mask Channel: 1 Alpha, 2 Luminance. Render Mode: 1 Classic Lines, 2 Force
// Lines, 3 Particles. Composite: 1 Over Original, 2 Streams Only. Sweep
// Mode: 1 Off, 2 Pass Through, 3 Build Up, 4 Clear Away. Sweep Direction:
// 1 Left to Right, 2 Right to Left, 3 Top to Bottom, 4 Bottom to Top.
std::vector<Look> looks() {
    std::vector<Look> all = {
        // The linear stretch pass.
        {"classic-horizontal", {{"Direction", 1}, {"Streak Length (px)", 24}}},
        {"classic-horizontal-reversed",
         {{"Direction", 1},
          {"Reverse Direction", 1},
          {"Streak Length (px)", 24},
          {"Length Variation (%)", 80}}},
        {"classic-vertical", {{"Direction", 2}, {"Streak Length (px)", 16}}},
        {"classic-vertical-reversed",
         {{"Direction", 2},
          {"Reverse Direction", 1},
          {"Streak Length (px)", 20},
          {"Lower Brightness (%)", 30},
          {"Upper Brightness (%)", 90}}},
        {"classic-window-swapped",
         {{"Lower Brightness (%)", 70}, {"Upper Brightness (%)", 20}, {"Streak Length (px)", 30}}},
        {"classic-no-variation",
         {{"Length Variation (%)", 0}, {"Streak Length (px)", 8}, {"Random Seed", 7}}},
        {"classic-bright-window", {{"Lower Brightness (%)", 75}, {"Upper Brightness (%)", 1600}}},
        {"classic-amount-preserve-alpha",
         {{"Amount (%)", 55}, {"Preserve Input Alpha", 1}, {"Streak Length (px)", 40}}},

        // Classic Lines along rays: the stream renderer.
        {"classic-radial-out", streams({{"Direction", 3}})},
        {"classic-radial-in", streams({{"Direction", 4}, {"Center X (%)", 30}})},
        {"classic-radial-out-reversed",
         streams({{"Direction", 3}, {"Reverse Direction", 1}, {"Launch Spread (deg)", 90}})},
        {"classic-radial-streams-only", streams({{"Direction", 3}, {"Composite", 2}, {"Center Y (%)", -50}})},

        {"force-lines-horizontal",
         streams(
             {{"Render Mode", 2}, {"Direction", 1}, {"Attractor Strength", 300}, {"Force Radius (px)", 40}})},
        {"force-lines-vertical", streams({{"Render Mode", 2}, {"Direction", 2}, {"Wind Strength", 150}})},
        {"force-lines-radial-out",
         streams({{"Render Mode", 2}, {"Direction", 3}, {"Repeller Strength", 400}, {"Repeller X (%)", 70}})},
        {"force-lines-radial-in", streams({{"Render Mode", 2}, {"Direction", 4}, {"Stream Size (px)", 6}})},
        {"force-lines-reversed", streams({{"Render Mode", 2}, {"Direction", 1}, {"Reverse Direction", 1}})},

        {"particles-horizontal", streams({{"Render Mode", 3}, {"Direction", 1}})},
        {"particles-vertical", streams({{"Render Mode", 3}, {"Direction", 2}, {"Random Evolution", 2}})},
        {"particles-radial-out", streams({{"Render Mode", 3}, {"Direction", 3}, {"Repeller Strength", 300}})},
        {"particles-radial-in", streams({{"Render Mode", 3}, {"Direction", 4}, {"Attractor Strength", 500}})},
        {"particles-reversed", streams({{"Render Mode", 3}, {"Direction", 1}, {"Reverse Direction", 1}})},
        {"particles-streams-only", streams({{"Render Mode", 3},
                                            {"Composite", 2},
                                            {"Birth Size (%)", 200},
                                            {"End Size (%)", 50},
                                            {"Growth Curve", 3},
                                            {"Stream Opacity (%)", 60}})},

        // Mask modes with each channel, plain and inverted.
        {"sort-inside-mask-alpha", {{"Mask Mode", 2}, {"Streak Length (px)", 30}}, true},
        {"sort-inside-mask-alpha-inverted",
         {{"Mask Mode", 2}, {"Invert Mask", 1}, {"Streak Length (px)", 30}},
         true},
        {"sort-inside-mask-luminance", {{"Mask Mode", 2}, {"Mask Channel", 2}, {"Direction", 2}}, true},
        {"sort-inside-mask-luminance-inverted",
         {{"Mask Mode", 2}, {"Mask Channel", 2}, {"Invert Mask", 1}, {"Mask Threshold (%)", 40}},
         true},
        {"sort-inside-mask-full-threshold", {{"Mask Mode", 2}, {"Mask Threshold (%)", 100}}, true},
        {"stretch-from-mask-alpha", {{"Mask Mode", 3}, {"Streak Length (px)", 20}}, true},
        {"stretch-from-mask-alpha-inverted",
         {{"Mask Mode", 3}, {"Invert Mask", 1}, {"Streak Length (px)", 20}},
         true},
        {"stretch-from-mask-luminance",
         {{"Mask Mode", 3}, {"Mask Channel", 2}, {"Streak Length (px)", 26}},
         true},
        {"stretch-from-mask-luminance-inverted",
         {{"Mask Mode", 3},
          {"Mask Channel", 2},
          {"Invert Mask", 1},
          {"Mask Threshold (%)", 50},
          {"Amount (%)", 80}},
         true},
        {"stretch-from-mask-vertical-reversed",
         {{"Mask Mode", 3}, {"Direction", 2}, {"Reverse Direction", 1}, {"Stretch Tip Feather (%)", 60}},
         true},
        {"stretch-from-mask-hard-tip",
         {{"Mask Mode", 3}, {"Mask Threshold (%)", 60}, {"Stretch Tip Feather (%)", 0}},
         true},
        {"show-mask-alpha", {{"Show Mask", 1}, {"Mask Mode", 2}}, true},
        {"show-mask-luminance-inverted", {{"Show Mask", 1}, {"Mask Channel", 2}, {"Invert Mask", 1}}, true},
        {"show-mask-over-particles",
         streams({{"Show Mask", 1}, {"Render Mode", 3}, {"Mask Threshold (%)", 30}}), true},
        {"force-lines-stretch-from-mask", streams({{"Render Mode", 2}, {"Mask Mode", 3}}), true},
        {"particles-sort-inside-mask", streams({{"Render Mode", 3}, {"Mask Mode", 2}, {"Mask Channel", 2}}),
         true},
        {"classic-radial-stretch-from-mask",
         streams({{"Direction", 3}, {"Mask Mode", 3}, {"Invert Mask", 1}}), true},
        {"sort-inside-mask-without-layer", {{"Mask Mode", 2}}, false},

        // The sweep band.
        {"sweep-pass-through-20", {{"Sweep Mode", 2}, {"Sweep Position (%)", 20}}},
        {"sweep-pass-through-50-top-to-bottom",
         {{"Sweep Mode", 2}, {"Sweep Direction", 3}, {"Band Width (%)", 50}, {"Direction", 2}}},
        {"sweep-pass-through-90-right-to-left",
         {{"Sweep Mode", 2}, {"Sweep Direction", 2}, {"Sweep Position (%)", 90}, {"Edge Feather (%)", 100}}},
        {"sweep-build-up-30-bottom-to-top",
         {{"Sweep Mode", 3}, {"Sweep Direction", 4}, {"Sweep Position (%)", 30}}},
        {"sweep-build-up-75", {{"Sweep Mode", 3}, {"Sweep Position (%)", 75}, {"Band Width (%)", 10}}},
        {"sweep-clear-away-40", {{"Sweep Mode", 4}, {"Sweep Position (%)", 40}}},
        {"sweep-hard-edge", {{"Sweep Mode", 2}, {"Edge Feather (%)", 0}, {"Band Width (%)", 40}}},
        {"sweep-force-lines", streams({{"Render Mode", 2}, {"Sweep Mode", 2}, {"Sweep Position (%)", 45}})},
        {"sweep-particles-build-up",
         streams({{"Render Mode", 3}, {"Sweep Mode", 3}, {"Sweep Direction", 3}})},
    };

    // Times and keyframes: pre-roll at the start, particle slots reborn over
    // several cycles, and parameters animated by keys.
    Look preroll{"particles-preroll-at-0", streams({{"Render Mode", 3}}), false, 0.0};
    Look no_preroll{"particles-without-preroll-at-0.4",
                    streams({{"Render Mode", 3}, {"Pre-roll Particles", 0}}), false, 0.4};
    Look cycles{"particles-cycles-at-7.3", streams({{"Render Mode", 3}, {"Lifespan (sec)", 1.5}}), false,
                7.3};
    Look lines_start{"force-lines-at-0", streams({{"Render Mode", 2}}), false, 0.0};
    Look keyed_sweep{"keyframed-sweep-position", {{"Sweep Mode", 2}}, false, 0.75};
    keyed_sweep.keys = {{"Sweep Position (%)", {{0.0, 0.0}, {2.0, 100.0}}}};
    Look keyed_lines{"keyframed-direction-and-length", {}, false, 1.25};
    keyed_lines.keys = {{"Direction", {{0.0, 1.0}, {1.0, 2.0}}},
                        {"Streak Length (px)", {{0.0, 4.0}, {2.0, 60.0}}}};
    for (Look look : {preroll, no_preroll, cycles, lines_start, keyed_sweep, keyed_lines})
        all.push_back(look);

    // Reduced resolution: half, and uneven factors in x and y.
    auto at = [&](std::string name, const Look& base, PF_RationalScale x, PF_RationalScale y) {
        Look look = base;
        look.name = std::move(name);
        look.downsample_x = x;
        look.downsample_y = y;
        all.push_back(look);
    };
    auto named = [&](std::string_view name) {
        for (const Look& l : all)
            if (l.name == name) return l;
        throw std::logic_error("no look named " + std::string(name));
    };
    at("classic-horizontal-half", named("classic-horizontal"), {1, 2}, {1, 2});
    at("classic-vertical-half", named("classic-vertical-reversed"), {1, 2}, {1, 2});
    at("stretch-from-mask-half", named("stretch-from-mask-luminance"), {1, 2}, {1, 2});
    at("force-lines-half", named("force-lines-horizontal"), {1, 2}, {1, 2});
    at("particles-half", named("particles-radial-out"), {1, 2}, {1, 2});
    at("classic-horizontal-uneven", named("classic-horizontal-reversed"), {1, 2}, {1, 3});
    at("force-lines-uneven", named("force-lines-radial-in"), {1, 3}, {1, 2});
    at("particles-uneven", named("particles-vertical"), {1, 2}, {1, 4});

    // The plain render command (8 and 16 bits only).
    for (const char* name : {"classic-horizontal", "sort-inside-mask-alpha", "particles-half"}) {
        Look look = named(name);
        look.name += "-plain";
        look.plain_command = true;
        all.push_back(look);
    }

    // Pixels whose alpha is NaN (float only) never emit: with the whole
    // brightness window open they would otherwise be as good as any emitter
    // and paint NaN strokes over the frame.
    Look nan_alpha{"force-lines-nan-alpha", streams({{"Render Mode", 2}, {"Lower Brightness (%)", 0}})};
    nan_alpha.nan_alpha = true;
    all.push_back(nan_alpha);
    return all;
}

// Gives the pixels of a block near the picture's top left corner NaN alpha,
// keeping their colour.
void give_nan_alpha(offline::OfflineWorld& picture) {
    auto* row0 = static_cast<std::uint8_t*>(picture.world.data);
    for (std::int32_t y = 4; y < 20; ++y)
        for (std::int32_t x = 6; x < 22; ++x) {
            auto* p = reinterpret_cast<PF_PixelFloat*>(row0 + std::ptrdiff_t(y) * picture.world.rowbytes) + x;
            p->alpha = std::numeric_limits<float>::quiet_NaN();
        }
}

void write_frame_values(offline::OfflineHost& host, const GoldenFrame& frame) {
    for (const auto& [name, value] : frame.values) offline::set_param_value(host, name, value);
    for (const auto& [name, keys] : frame.keys) {
        const std::int32_t index = offline::find_param(host, name);
        if (index < 0) throw std::runtime_error(frame.name + ": no parameter named " + name);
        offline::set_param_keys(host, index, keys);
    }
}

}  // namespace

std::vector<GoldenFrame> golden_frames() {
    std::vector<GoldenFrame> set;
    for (const Look& look : looks())
        for (const Picture picture : {Picture::TestCard, Picture::Photo})
            for (const offline::NamedDepth& depth : offline::WORLD_DEPTHS) {
                if (look.plain_command && depth.format == PF_PixelFormat_ARGB128) continue;
                if (look.nan_alpha && depth.format != PF_PixelFormat_ARGB128) continue;
                GoldenFrame f;
                f.name = std::string(picture == Picture::TestCard ? "card-" : "photo-") + look.name + "-" +
                         depth.name;
                f.picture = picture;
                f.format = depth.format;
                f.values = look.values;
                f.keys = look.keys;
                f.seconds = look.seconds;
                f.downsample_x = look.downsample_x;
                f.downsample_y = look.downsample_y;
                f.with_mask = look.with_mask;
                f.plain_command = look.plain_command;
                f.nan_alpha = look.nan_alpha;
                set.push_back(std::move(f));
            }
    return set;
}

RenderedFrame render_golden_frame(PF_EffectMainFunc effect_main, const GoldenFrame& frame) {
    offline::OfflineHost host;
    if (const PF_Err err = offline::load_parameters(host, effect_main))
        throw std::runtime_error(frame.name + ": parameter setup returned " + std::to_string(err));
    write_frame_values(host, frame);

    const bool card = frame.picture == Picture::TestCard;
    offline::OfflineLayer input;
    input.pixels = card ? offline::test_card(CARD_WIDTH, CARD_HEIGHT, frame.format)
                        : offline::test_photo(PHOTO_WIDTH, PHOTO_HEIGHT, frame.format);
    if (frame.nan_alpha) give_nan_alpha(input.pixels);
    offline::OfflineLayer mask;
    mask.pixels = offline::test_mask(MASK_WIDTH, MASK_HEIGHT, frame.format);

    offline::FrameRequest request;
    request.time = offline::host_time(frame.seconds);
    request.input = &input;
    if (frame.with_mask) request.mask = &mask;
    request.downsample_x = frame.downsample_x;
    request.downsample_y = frame.downsample_y;
    const offline::FrameResult result = frame.plain_command
                                            ? offline::request_frame_plain(host, effect_main, request)
                                            : offline::request_frame(host, effect_main, request);
    if (result.pre_render != PF_Err_NONE || result.render != PF_Err_NONE)
        throw std::runtime_error(frame.name + ": the render returned " + std::to_string(result.pre_render) +
                                 " and " + std::to_string(result.render) +
                                 (result.message.empty() ? "" : ": " + result.message));

    const offline::OfflineWorld& out = result.output;
    RenderedFrame rendered;
    rendered.width = out.world.width;
    rendered.height = out.world.height;
    rendered.pixels = offline::packed_pixels(out);
    return rendered;
}

std::map<std::string, std::string> read_digest_table(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file) throw std::runtime_error("cannot read the digest table " + path.string());
    std::map<std::string, std::string> table;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, digest, extra;
        fields >> name >> digest;
        if (digest.size() != 64 || (fields >> extra) ||
            digest.find_first_not_of("0123456789abcdef") != std::string::npos ||
            !table.emplace(name, digest).second)
            throw std::runtime_error(path.string() + ":" + std::to_string(number) +
                                     ": expected a new frame name and 64 hexadecimal digits");
    }
    return table;
}

void write_digest_table(const std::filesystem::path& path,
                        const std::vector<std::pair<std::string, std::string>>& digests) {
    std::ofstream file(path, std::ios::trunc);
    file << "# SHA-256 of each golden frame's raw output rows (tests/golden/golden_frames.cpp).\n"
            "# Regenerate with `make golden` only for an intended change of a look, and say in the\n"
            "# commit message which look changed and why.\n";
    for (const auto& [name, digest] : digests) file << name << ' ' << digest << '\n';
    file.close();
    if (!file) throw std::runtime_error("cannot write the digest table " + path.string());
}

}  // namespace lumatrail::golden
