// The plan stage of a render: everything that can be known to fail is found
// here, from names and headers, before a pixel is read or a buffer allocated.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>

#include "frame/frame_renderer.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media/movie_writer.h"
#include "tools/lumatrail/render_plan.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;

std::string in_quotes(const std::string& path) { return "\"" + path + "\""; }

// The folder a file goes into must exist and take new files: a file is
// created and removed there to know.
void check_folder_writable(const std::string& shown, const std::string& first) {
    std::error_code ec;
    const fs::path folder = fs::path(first).has_parent_path() ? fs::path(first).parent_path() : ".";
    if (!fs::is_directory(folder, ec))
        throw ToolError(EXIT_OUTPUT, "the output folder " + in_quotes(folder.string()) + " does not exist");
    std::string probe = (folder / ".lumatrail-write-check-XXXXXX").string();
    const int fd = mkstemp(probe.data());
    if (fd < 0)
        throw ToolError(EXIT_OUTPUT, "cannot write " + in_quotes(shown) +
                                         ": files cannot be created in the folder " +
                                         in_quotes(folder.string()) + " (" + std::strerror(errno) + ")");
    close(fd);
    std::remove(probe.c_str());
}

// An unknown extension, a folder given as the output, a missing or read-only
// folder.
void check_output(const RenderJob& job, const RenderPlan& plan) {
    const std::string first = frame_path(job.output, job.frames.front());
    std::error_code ec;
    if (fs::is_directory(first, ec))
        throw ToolError(EXIT_OUTPUT, "the output " + in_quotes(first) +
                                         " is a folder; -o takes a file name such as " +
                                         in_quotes((fs::path(first) / "out.png").string()));
    if (plan.output != MediaKind::Movie && !can_write(first))
        throw ToolError(EXIT_OUTPUT, "cannot write " + in_quotes(first) +
                                         ": no image format is known for its extension (try .png, "
                                         ".tif, .exr, .jpg or .dpx, or .mov, .mp4 or .mkv for a movie)");
    check_folder_writable(plan.output == MediaKind::Sequence ? job.output : first, first);
}

// Every file of `pattern` that the job's frames read (one for a still or a
// movie).
std::vector<std::string> files_read(const std::string& pattern, MediaKind kind,
                                    const std::vector<std::int64_t>& frames) {
    if (kind == MediaKind::None) return {};
    if (kind != MediaKind::Sequence) return {pattern};
    std::vector<std::string> files;
    files.reserve(frames.size());
    for (std::int64_t f : frames) files.push_back(frame_path(pattern, f));
    return files;
}

void check_inputs_exist(const std::vector<std::string>& files) {
    std::error_code ec;
    for (const std::string& file : files)
        if (!fs::exists(file, ec)) throw ToolError(EXIT_INPUT, "no such file: " + in_quotes(file));
}

using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> file_id(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) return std::nullopt;
    return FileId{s.st_dev, s.st_ino};
}

// An output that is one of the files the job reads, by whatever spelling,
// pattern or link, would destroy it: refused before any work. Files that do
// not exist yet cannot be inputs, so only existing outputs are compared, by
// device and inode.
void check_not_overwriting(const RenderJob& job, const RenderPlan& plan,
                           const std::vector<std::string>& inputs) {
    std::map<FileId, std::string> read;
    for (const std::string& file : inputs)
        if (const auto id = file_id(file)) read.emplace(*id, file);
    for (const std::string& file : files_read(job.output, plan.output, job.frames)) {
        const auto id = file_id(file);
        const auto same = id ? read.find(*id) : read.end();
        if (same != read.end())
            usage_error(
                "the output " + in_quotes(file) + " is the file " + in_quotes(same->second) +
                " that this render reads; writing it would destroy it, so choose another output name");
    }
}

MediaInfo input_info(const RenderJob& job, const RenderPlan& plan) {
    if (plan.input != MediaKind::None) return probe_input(job.input, plan.input, job.frames.front());
    MediaInfo card;
    card.width = job.card_width, card.height = job.card_height;
    card.depth = job.depth.value_or(PF_PixelFormat_ARGB32);
    return card;
}

// A movie's codec, quality and size, checked at the size it renders at.
void check_movie_output(const RenderJob& job, const RenderPlan& plan) {
    MovieSettings settings;
    settings.width = offline::at_resolution(plan.input_info.width, offline::factor(job.downsample_x));
    settings.height = offline::at_resolution(plan.input_info.height, offline::factor(job.downsample_y));
    settings.depth = job.depth.value_or(plan.input_info.depth);
    settings.rate = job.rate.value_or(FrameRate{});
    settings.codec = job.codec;
    settings.quality = job.quality;
    for (const std::string& warning : check_movie_settings(job.output, settings))
        std::fprintf(stderr, "lumatrail: warning: %s\n", warning.c_str());
}

// The most frames one run renders: a day of film at 24 frames a second is
// about two million; longer runs are split with --frames or --shard.
constexpr std::size_t MAX_FRAMES_PER_RUN = 10'000'000;

using FrameRange = std::pair<std::int64_t, std::int64_t>;

// A movie's own count of frames is past what one run renders, or past what
// the host's time holds at its rate: a damaged index claims that, not a real
// movie, so it is the file that is refused, by name (--frames still picks a
// part of it).
void check_movie_length(const RenderOptions& r, const MediaInfo& info) {
    const bool too_many = std::uint64_t(info.frames) > MAX_FRAMES_PER_RUN;
    if (!too_many && (!r.rate || info.frames - 1 <= last_frame_at(*r.rate))) return;
    const std::string limit =
        too_many ? "one run renders (" + std::to_string(MAX_FRAMES_PER_RUN) + ")" : "the host's time holds";
    const std::string at_rate = r.rate ? " at " + to_string(*r.rate) + " frames a second" : "";
    throw ToolError(EXIT_INPUT, in_quotes(r.job.input) + " says it holds " + std::to_string(info.frames) +
                                    " frames" + at_rate + ", more than " + limit +
                                    "; its index may be damaged (--frames renders a part of it)");
}

// A movie input: its frames, and its own rate unless --fps gave one.
void plan_movie_frames(RenderOptions& r, std::optional<FrameRange>& range) {
    const MediaInfo info = probe_input(r.job.input, MediaKind::Movie, 0);
    if (!r.rate) r.rate = info.rate;
    if (!range) {
        check_movie_length(r, info);
        range = {0, info.frames - 1};
    }
    if (range->first < 0 || range->second >= info.frames)
        usage_error(in_quotes(r.job.input) + " has frames 0-" + std::to_string(info.frames - 1) + ", not " +
                    std::to_string(range->first) + "-" + std::to_string(range->second));
}

// A sequence without --frames: every frame on disk, which must be unbroken.
FrameRange found_frames(const RenderOptions& r) {
    const std::string& pattern = r.job.input;
    const std::vector<std::int64_t> found = frames_on_disk(pattern);
    if (found.empty()) throw ToolError(EXIT_INPUT, "no file fits the pattern " + in_quotes(pattern));
    for (std::size_t i = 1; i < found.size(); ++i)
        if (found[i] != found[i - 1] + 1)
            throw ToolError(EXIT_INPUT, in_quotes(frame_path(pattern, found[i - 1] + 1)) +
                                            " is missing from frames " + std::to_string(found.front()) + "-" +
                                            std::to_string(found.back()) + " of " + in_quotes(pattern) +
                                            " (render the parts with --frames)");
    if (!r.job.quiet)
        std::printf("found frames %lld-%lld of %s%s\n", static_cast<long long>(found.front()),
                    static_cast<long long>(found.back()), pattern.c_str(),
                    r.rate ? "" : " (at 24 frames a second; --fps sets the rate)");
    return {found.front(), found.back()};
}

// The range's frames that fall in this shard.
std::vector<std::int64_t> frames_of(const RenderOptions& r, FrameRange range) {
    const std::int64_t last = last_frame_at(*r.rate);
    for (const std::int64_t f : {range.first, range.second})
        if (f > last || f < -last)
            usage_error("frame " + std::to_string(f) + " is beyond what the host's time holds at " +
                        to_string(*r.rate) + " frames a second (frames -" + std::to_string(last) + " to " +
                        std::to_string(last) + ")");
    const auto [k, n] = r.shard.value_or(FrameRange{1, 1});
    // Counted before the list is made: a shard holds about (last - first) / n frames.
    const bool too_many = (range.second - range.first) / n > std::int64_t(MAX_FRAMES_PER_RUN);
    std::vector<std::int64_t> frames;
    if (!too_many) frames = shard_frames(range.first, range.second, k, n, MAX_FRAMES_PER_RUN);
    if (too_many || frames.size() > MAX_FRAMES_PER_RUN)
        usage_error("more than " + std::to_string(MAX_FRAMES_PER_RUN) +
                    " frames in one run; render the range in parts with --frames or --shard");
    return frames;
}

// --skip-existing keeps only the frames whose files are not whole images: a
// file cut short or left empty by an earlier run is rendered again.
void skip_whole_files(RenderOptions& r) {
    RenderJob& job = r.job;
    const std::size_t before = job.frames.size();
    std::vector<std::int64_t> kept;
    for (const std::int64_t f : job.frames) {
        const std::string file = frame_path(job.output, f);
        std::error_code ec;
        if (!fs::exists(file, ec)) {
            kept.push_back(f);
        } else if (!is_whole_image(file)) {
            std::fprintf(stderr, "lumatrail: warning: %s is not a whole image; rendering it again\n",
                         in_quotes(file).c_str());
            kept.push_back(f);
        }
    }
    job.frames = std::move(kept);
    if (!job.quiet && before != job.frames.size())
        std::printf("skipping %zu of %zu frames whose files exist\n", before - job.frames.size(), before);
}

}  // namespace

void plan_frames(RenderOptions& r) {
    RenderJob& job = r.job;
    const MediaKind input = input_kind(job.input), output = output_kind(job.output);
    std::optional<FrameRange> range = r.range;
    if (r.frame) range = {*r.frame, *r.frame};
    if (input == MediaKind::Movie) plan_movie_frames(r, range);
    if (input == MediaKind::Sequence && !range) range = found_frames(r);
    if (range && !r.rate) {
        if (input != MediaKind::Sequence)
            usage_error(
                "--frame and --frames need --fps, unless the input is a movie or an image sequence "
                "(which give the rate)");
        r.rate = FrameRate{24, 1};
    }
    if (r.shard && !range) usage_error("--shard needs several frames: --frames, a pattern or a movie");
    if (output == MediaKind::Movie && r.shard)
        usage_error(
            "--shard cannot write a movie: a movie is one file written in frame order by one run; "
            "render the shards to an image sequence (out.####.png) and join them afterwards");
    if (output == MediaKind::Movie && r.skip_existing)
        usage_error("--skip-existing resumes image sequences; a movie is written whole, so render it again");
    job.rate = r.rate;
    job.frames = range ? frames_of(r, *range) : std::vector<std::int64_t>{0};
    if (r.skip_existing) skip_whole_files(r);
}

MemoryBudget::MemoryBudget(std::uint64_t available)
    : bytes(available), said(size_text(available) + " is available") {}

MemoryBudget memory_budget(std::uint64_t available, ProcessLimit address_space, ProcessLimit data) {
    MemoryBudget budget(available);
    const struct {
        ProcessLimit limit;
        const char* name;
    } limits[] = {{address_space, "the address-space limit (ulimit -v)"},
                  {data, "the data-size limit (ulimit -d)"}};
    for (const auto& [limit, name] : limits) {
        if (limit.limit == UINT64_MAX) continue;
        const std::uint64_t room = limit.limit > limit.used ? limit.limit - limit.used : 0;
        if (room < budget.bytes)
            budget = MemoryBudget(
                room, std::string(name) + " of " + size_text(limit.limit) + " leaves " + size_text(room));
    }
    return budget;
}

namespace {

// A limit of the process, and a figure of /proc/self/status ("VmSize") in bytes.
std::uint64_t limit_of(int resource) {
    rlimit r{};
    if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return std::uint64_t(r.rlim_cur);
}

std::uint64_t status_bytes(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    unsigned long long kib = 0;
    if (f) {
        char line[256];
        const std::size_t n = std::strlen(field);
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
                std::sscanf(line + n + 1, "%llu", &kib);
                break;
            }
        std::fclose(f);
    }
    return std::uint64_t(kib) * 1024u;
}

// The memory a render takes: the size frames render at, what every frame
// shares and what each frame being rendered takes.
struct FrameMemory {
    std::int64_t width, height;
    std::uint64_t shared, per_frame;
};

FrameMemory frame_memory(const RenderPlan& plan, const RenderJob& job) {
    const std::int64_t width = plan.input_info.width, height = plan.input_info.height;
    // The size the host renders at.
    const std::int64_t w = offline::at_resolution(std::int32_t(width), offline::factor(job.downsample_x));
    const std::int64_t h = offline::at_resolution(std::int32_t(height), offline::factor(job.downsample_y));
    // Every picture as a world and once more as the file's decoded buffer;
    // per frame the output world, the written file's buffer, the layer at
    // render resolution and the effect's float working images.
    const PF_PixelFormat depth = plan.input_info.depth;
    const std::uint64_t pixel = job.depth == PF_PixelFormat_ARGB128 || depth == PF_PixelFormat_ARGB128 ? 16
                                : job.depth == PF_PixelFormat_ARGB64 || depth == PF_PixelFormat_ARGB64 ? 8
                                                                                                       : 4;
    const std::uint64_t inputs =
        2 * pixel * (std::uint64_t(width * height) + std::uint64_t(plan.mask_width * plan.mask_height));
    const bool per_frame_inputs = plan.input == MediaKind::Sequence || plan.input == MediaKind::Movie ||
                                  plan.mask == MediaKind::Sequence || plan.mask == MediaKind::Movie;
    const std::uint64_t per_frame = std::uint64_t(w * h) * (3 * pixel + 16) + (per_frame_inputs ? inputs : 0);
    return {w, h, per_frame_inputs ? 0 : inputs, per_frame};
}

}  // namespace

MemoryBudget memory_budget() {
    return memory_budget(available_memory(), {limit_of(RLIMIT_AS), status_bytes("VmSize")},
                         {limit_of(RLIMIT_DATA), status_bytes("VmData")});
}

unsigned check_frame_fits(const RenderPlan& plan, const RenderJob& job, const MemoryBudget& budget,
                          const std::string& what) {
    const FrameMemory m = frame_memory(plan, job);
    if (m.width > MAX_CANVAS_SIDE || m.height > MAX_CANVAS_SIDE || m.width * m.height > MAX_CANVAS_PIXELS)
        throw ToolError(EXIT_EFFECT, std::string("Lumatrail: ") + CANVAS_LIMIT_MESSAGE + " (" + what +
                                         " renders at " + std::to_string(m.width) + "x" +
                                         std::to_string(m.height) + ")");
    const std::uint64_t available = budget.bytes;
    if (m.shared + m.per_frame > available)
        throw ToolError(EXIT_INPUT, what + " is " + std::to_string(plan.input_info.width) + "x" +
                                        std::to_string(plan.input_info.height) +
                                        ": reading and rendering it takes about " +
                                        size_text(m.shared + m.per_frame) + " of memory, and " + budget.said);
    const std::uint64_t fit = (available - m.shared) / std::max<std::uint64_t>(m.per_frame, 1);
    return unsigned(std::clamp<std::uint64_t>(fit, 1, std::max(job.jobs, 1u)));
}

ToolError out_of_memory(const RenderPlan& plan, std::optional<std::int64_t> frame) {
    return ToolError(EXIT_INPUT, (frame ? "frame " + std::to_string(*frame) + ": " : std::string()) +
                                     "out of memory rendering " + std::to_string(plan.render_width) + "x" +
                                     std::to_string(plan.render_height) + " frames (" +
                                     std::to_string(plan.threads) +
                                     " at once): they were estimated to take " +
                                     size_text(plan.memory_needed) + " of memory, and " + plan.budget.said);
}

RenderPlan plan_render(const RenderJob& job, const MemoryBudget& available) {
    if (job.frames.empty()) throw ToolError(EXIT_USAGE, "there is no frame to render");
    RenderPlan plan;
    plan.input = input_kind(job.input);
    plan.mask = input_kind(job.mask);
    plan.output = output_kind(job.output);
    if (job.frames.size() > 1 && plan.output == MediaKind::Still)
        usage_error(
            "several frames need an output pattern such as out.####.png or a movie such as out.mov, not " +
            in_quotes(job.output));
    const std::vector<std::string> inputs = files_read(job.input, plan.input, job.frames);
    const std::vector<std::string> masks = files_read(job.mask, plan.mask, job.frames);
    std::vector<std::string> read = inputs;
    read.insert(read.end(), masks.begin(), masks.end());
    read.insert(read.end(), job.presets.begin(), job.presets.end());
    check_not_overwriting(job, plan, read);
    check_output(job, plan);
    check_inputs_exist(inputs);
    check_inputs_exist(masks);

    // The sizes from the files' headers: nothing is read or allocated for a
    // frame the effect would refuse or the memory cannot hold.
    plan.input_info = input_info(job, plan);
    if (plan.mask != MediaKind::None) {
        const MediaInfo mask = probe_input(job.mask, plan.mask, job.frames.front());
        plan.mask_width = mask.width, plan.mask_height = mask.height;
    } else if (job.mask == "builtin") {
        plan.mask_width = plan.input_info.width, plan.mask_height = plan.input_info.height;
    }
    const std::string what = plan.input != MediaKind::None       ? in_quotes(inputs.front())
                             : job.card == BuiltinPicture::Photo ? "the built-in photo"
                                                                 : "the test card";
    plan.threads = check_frame_fits(plan, job, available, what);
    const FrameMemory memory = frame_memory(plan, job);
    plan.render_width = memory.width, plan.render_height = memory.height;
    plan.memory_needed = memory.shared + memory.per_frame * plan.threads;
    plan.budget = available;
    if (plan.output == MediaKind::Movie) check_movie_output(job, plan);
    return plan;
}

}  // namespace lumatrail::tools
