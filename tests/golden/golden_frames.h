// The golden frame set: a broad, fixed list of small frames rendered through
// the effect's entry point by the offline host, and the SHA-256 digest of
// each frame's raw output rows. The committed digest table is the contract
// for every look of the effect: a change that alters one frame by one bit
// shows up as a named frame whose digest differs.
//
// Frames name their parameters by UI name, as a project stores them, so the
// set depends on nothing but the effect's host interface.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/host_contract.h"
#include "offline/offline_host.h"
#include "offline/offline_world.h"

namespace lumatrail::golden {

enum class Picture { TestCard, Photo };

struct GoldenFrame {
    std::string name;  // unique in the set
    Picture picture;
    PF_PixelFormat format;
    std::vector<std::pair<std::string, double>> values;  // UI name, host value
    std::vector<std::pair<std::string, std::vector<offline::ParamKey>>> keys;
    double seconds;
    PF_RationalScale downsample_x, downsample_y;
    bool with_mask;
    bool plain_command;  // command 11 instead of smart pre-render and render
    bool nan_alpha;      // float only: a block of input pixels holds NaN alpha
};

// The whole set, in a fixed order.
std::vector<GoldenFrame> golden_frames();

// Full-resolution sizes of the two pictures and of the mask (stretched over
// either picture).
inline constexpr std::int32_t CARD_WIDTH = 72, CARD_HEIGHT = 40;
inline constexpr std::int32_t PHOTO_WIDTH = 64, PHOTO_HEIGHT = 48;
inline constexpr std::int32_t MASK_WIDTH = 40, MASK_HEIGHT = 30;

// A rendered frame: its output world's raw rows (top to bottom, no padding)
// and their size.
struct RenderedFrame {
    std::vector<std::uint8_t> pixels;
    std::int32_t width = 0, height = 0;
};

// Renders one frame with a fresh offline host. Throws std::runtime_error
// naming the frame when parameter setup or the render fails.
RenderedFrame render_golden_frame(PF_EffectMainFunc effect_main, const GoldenFrame& frame);

// The digest table: frame name to 64 hexadecimal digits. Lines are
// "NAME DIGEST"; blank lines and lines starting with '#' are ignored. Throws
// std::runtime_error when the file cannot be read or a line is malformed.
std::map<std::string, std::string> read_digest_table(const std::filesystem::path& path);

// Writes the table in the set's order, with a header saying how to regenerate it.
void write_digest_table(const std::filesystem::path& path,
                        const std::vector<std::pair<std::string, std::string>>& digests);

}  // namespace lumatrail::golden
