// lumatrail_golden TABLE SHEET_DIR
//
// Renders the golden frame set, rewrites the digest table and, for every
// frame whose digest is new or changed, draws the frame into a contact sheet
// (SHEET_DIR/changed.png, listed tile by tile in SHEET_DIR/changed.txt), so
// that a reviewer sees what changed before the table is committed.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "host/host_contract.h"
#include "tests/golden/golden_frames.h"
#include "tests/support/sha256.h"

namespace {

using namespace lumatrail;
using golden::GoldenFrame;
using golden::RenderedFrame;

constexpr int TILE_SCALE = 2;  // frames are small; each pixel becomes 2x2
constexpr int GAP = 4;
constexpr int COLUMNS = 6;

// One channel of a rendered pixel as a display value in 0..1.
float channel_value(PF_PixelFormat format, const std::uint8_t* at) {
    switch (format) {
    case PF_PixelFormat_ARGB64: {
        std::uint16_t v;
        std::memcpy(&v, at, sizeof v);
        return float(v) / 32768.0f;
    }
    case PF_PixelFormat_ARGB128: {
        float v;
        std::memcpy(&v, at, sizeof v);
        return v == v ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
    }
    default: return float(*at) / 255.0f;
    }
}

// Premultiplied frames over a grey checkerboard, so that transparency shows.
void draw_tile(std::vector<std::uint8_t>& sheet, int sheet_width, int left, int top, const GoldenFrame& frame,
               const RenderedFrame& r) {
    const std::size_t pixel = offline::pixel_size(frame.format), channel = pixel / 4;
    for (int y = 0; y < r.height * TILE_SCALE; ++y)
        for (int x = 0; x < r.width * TILE_SCALE; ++x) {
            const std::uint8_t* p =
                r.pixels.data() +
                (std::size_t(y / TILE_SCALE) * std::size_t(r.width) + std::size_t(x / TILE_SCALE)) * pixel;
            const float alpha = channel_value(frame.format, p);
            const float checker = ((x / 8 + y / 8) % 2) ? 0.6f : 0.4f;
            std::uint8_t* out =
                sheet.data() + (std::size_t(top + y) * std::size_t(sheet_width) + std::size_t(left + x)) * 3;
            for (int c = 0; c < 3; ++c) {
                const float v =
                    channel_value(frame.format, p + channel * std::size_t(c + 1)) + (1.0f - alpha) * checker;
                out[c] = std::uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
            }
        }
}

void write_contact_sheet(const std::filesystem::path& dir, const std::vector<const GoldenFrame*>& frames,
                         const std::vector<const RenderedFrame*>& renders) {
    std::filesystem::create_directories(dir);
    std::ofstream list(dir / "changed.txt", std::ios::trunc);
    if (frames.empty()) {
        std::filesystem::remove(dir / "changed.png");
        list << "no frame changed\n";
        return;
    }
    int cell_w = 0, cell_h = 0;
    for (const RenderedFrame* r : renders) {
        cell_w = std::max(cell_w, r->width * TILE_SCALE + GAP);
        cell_h = std::max(cell_h, r->height * TILE_SCALE + GAP);
    }
    const int columns = std::min<int>(COLUMNS, int(frames.size()));
    const int rows = (int(frames.size()) + columns - 1) / columns;
    const int width = columns * cell_w + GAP, height = rows * cell_h + GAP;
    std::vector<std::uint8_t> sheet(std::size_t(width) * std::size_t(height) * 3, 32);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const int column = int(i) % columns, row = int(i) / columns;
        draw_tile(sheet, width, GAP + column * cell_w, GAP + row * cell_h, *frames[i], *renders[i]);
        list << "row " << row + 1 << " column " << column + 1 << ": " << frames[i]->name << '\n';
    }
    const std::string path = (dir / "changed.png").string();
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, OIIO::ImageSpec(width, height, 3, OIIO::TypeDesc::UINT8)) ||
        !out->write_image(OIIO::TypeDesc::UINT8, sheet.data()) || !out->close())
        throw std::runtime_error("cannot write the contact sheet " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lumatrail_golden TABLE SHEET_DIR\n");
        return 2;
    }
    try {
        const std::filesystem::path table_path = argv[1];
        std::map<std::string, std::string> old_table;
        if (std::filesystem::exists(table_path)) old_table = golden::read_digest_table(table_path);

        const std::vector<GoldenFrame> frames = golden::golden_frames();
        std::vector<RenderedFrame> renders(frames.size());
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t i; (i = next++) < frames.size();)
                renders[i] = golden::render_golden_frame(EffectMain, frames[i]);
        };
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t)
            workers.emplace_back(work);
        for (std::thread& w : workers) w.join();

        std::vector<std::pair<std::string, std::string>> digests;
        std::vector<const GoldenFrame*> changed;
        std::vector<const RenderedFrame*> changed_renders;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::string digest = testing::sha256_hex(renders[i].pixels);
            digests.emplace_back(frames[i].name, digest);
            const auto old = old_table.find(frames[i].name);
            if (old == old_table.end() || old->second != digest) {
                changed.push_back(&frames[i]);
                changed_renders.push_back(&renders[i]);
                std::printf("%s %s\n", old == old_table.end() ? "new    " : "changed",
                            frames[i].name.c_str());
            }
        }
        for (const auto& [name, digest] : old_table)
            if (std::none_of(frames.begin(), frames.end(),
                             [&](const GoldenFrame& f) { return f.name == name; }))
                std::printf("removed %s\n", name.c_str());
        golden::write_digest_table(table_path, digests);
        write_contact_sheet(argv[2], changed, changed_renders);
        std::printf("%zu frames, %zu new or changed; table %s; contact sheet in %s\n", frames.size(),
                    changed.size(), table_path.string().c_str(), argv[2]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumatrail_golden: %s\n", e.what());
        return 1;
    }
}
