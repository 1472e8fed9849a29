#include "tools/lumatrail/command_line.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <thread>

#include "offline/plugin_module.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

constexpr const char* DESCRIPTION =
    "lumatrail renders images, image sequences and movies with the Lumatrail effect, driving the "
    "effect's module exactly as a host does.";

constexpr const char* FOOTER = R"(
INPUT is an image (PNG, JPEG, TIFF, OpenEXR, DPX, ...), a sequence pattern or a
movie; without one, a built-in picture is used: the test card, or with --card
photo a photo-like picture (sky, sun, building, textured ground). In a pattern
the frame number goes into the last run of # in the file name (shot.####.exr),
or into its one %d or %04d (shot.%04d.exr); a negative frame keeps its sign
before the padding (shot.-0007.exr). A pattern or a movie without --frames
renders every frame found, at a movie's own rate (--fps for a pattern: 24 by
default). OUTPUT is written by its extension; several frames need a pattern or
a movie (.mov, .mp4, .m4v, .mkv, .webm, .avi), which gets the sound of a movie
input unless --no-audio.

Examples:
  lumatrail render photo.png -o sorted.png --set "Streak Length (px)=300"
  lumatrail render -o card.exr --depth 32 --set direction=radial-out
  lumatrail render --card photo --size 480x270 -o photo.png --set lower-brightness=60
  lumatrail render shot.####.exr -o out.####.exr --fps 24 --frames 1-48 --preset look.json
  lumatrail render clip.mp4 -o out.####.png --frames 0-99
  lumatrail render clip.mov -o streaks.mov --set render-mode=particles
  lumatrail render shot.####.png -o streaks.mp4 --fps 24 --quality 80
  lumatrail render plate.png --mask matte.png --set mask-mode=stretch-from-mask -o streaks.png

Exit codes: 0 done, 2 bad arguments or preset, 3 unreadable input (or too large
for memory), 4 output not writable, 5 the effect reported an error, 130
cancelled by Ctrl-C (SIGINT), 143 cancelled by SIGTERM.
)";

// A validator from a parser: the text is accepted when the parser gives a
// value, and refused with `expected` otherwise.
template <class Parse>
CLI::Validator accepts(Parse parse, const std::string& expected) {
    return CLI::Validator(
        [parse, expected](std::string& text) {
            return parse(text) ? std::string() : expected + ", not \"" + text + "\"";
        },
        "", "");
}

std::optional<std::pair<std::int64_t, std::int64_t>> parse_pair(const std::string& text, char separator) {
    const std::size_t at = text.find(separator, 1);
    if (at == std::string::npos) return std::nullopt;
    const auto a = whole_number(std::string_view(text).substr(0, at));
    const auto b = whole_number(std::string_view(text).substr(at + 1));
    if (!a || !b) return std::nullopt;
    return std::pair{*a, *b};
}

std::optional<std::pair<std::int64_t, std::int64_t>> parse_shard(const std::string& text) {
    const auto shard = parse_pair(text, '/');
    if (!shard || shard->second < 1 || shard->first < 1 || shard->first > shard->second) return std::nullopt;
    return shard;
}

std::optional<std::pair<std::int32_t, std::int32_t>> parse_downsample(const std::string& text) {
    const std::size_t comma = text.find(',');
    const auto x = whole_number(std::string_view(text).substr(0, comma));
    const auto y = comma == std::string::npos ? x : whole_number(std::string_view(text).substr(comma + 1));
    if (!x || !y || *x < 1 || *y < 1 || *x > 65536 || *y > 65536) return std::nullopt;
    return std::pair{std::int32_t(*x), std::int32_t(*y)};
}

PF_PixelFormat pixel_format_of_bits(const std::string& bits) {
    return bits == "8"    ? PF_PixelFormat_ARGB32
           : bits == "16" ? PF_PixelFormat_ARGB64
                          : PF_PixelFormat_ARGB128;
}

// CLI11's error, said the way the rest of the program says things.
[[noreturn]] void explain(const CLI::ParseError& e, const CLI::App& app, const CLI::App* render) {
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
        // "The following arguments were not expected: X Y"
        const std::string text = e.what();
        const std::size_t colon = text.rfind(": ");
        std::string first = colon == std::string::npos ? text : text.substr(colon + 2);
        first = first.substr(0, first.find(' '));
        if (!first.empty() && first[0] == '-') usage_error("unknown option \"" + first + "\"");
        if (!render->parsed() && app.get_subcommands().empty())
            usage_error("unknown command \"" + first +
                        "\" (commands: render, demo, params, about, version, colorspaces, help)");
        if (render->parsed())
            usage_error("more than one input: \"" + render->get_option("INPUT")->as<std::string>() +
                        "\" and \"" + first + "\"");
        usage_error("unexpected argument \"" + first + "\"");
    }
    std::string message = e.what();
    // "--set: 1 required NAME=VALUE missing" says that the option's value was left out.
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && message.find("missing") != std::string::npos) {
        const std::size_t colon = message.find(':');
        if (colon != std::string::npos) message = message.substr(0, colon) + " needs a value";
    }
    usage_error(message);
}

// The render command's text options, kept as typed until the command is
// known, and the options whose presence matters.
struct RenderTexts {
    std::string fps, frames, shard, downsample, depth, size, card;
    int quality = 0;
    bool no_audio = false;
    double seconds = 0.0;
    std::int64_t frame_number = 0;
    CLI::Option* time = nullptr;
    CLI::Option* frame = nullptr;
};

// What to render: the files, the parameters, the frames and the picture.
void declare_what_to_render(CLI::App* render, RenderOptions& r, RenderTexts& t) {
    // An option given twice takes its last value, as options always have here.
    render->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    render->add_option("INPUT", r.job.input, "the image, sequence pattern or movie (default: the test card)");
    render->add_option("-o,--out", r.job.output, "the output image, pattern or movie")->type_name("PATH");
    render->add_option("--mask", r.job.mask, "the Mask Layer: an image, a pattern, or \"builtin\"")
        ->type_name("PATH");
    render
        ->add_option("--set", r.settings,
                     "a parameter by UI name or slug (repeatable); popups by choice text or number, "
                     "checkboxes on/off")
        ->type_name("NAME=VALUE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    render->add_option("--preset", r.presets, "parameter values and keyframes from JSON (repeatable)")
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    render
        ->add_option("--save-preset", r.save_preset,
                     "write the parameters (after --preset and --set) as JSON")
        ->type_name("FILE");
    t.time = render->add_option("--time", t.seconds, "the still's time in seconds (default 0)")
                 ->type_name("SECONDS")
                 ->check(CLI::Range(-1.0e6, 1.0e6));
    render
        ->add_option("--fps", t.fps,
                     "frame rate: 24, 23.976, 29.97, 30000/1001 (default: a movie's own rate; 24 for a "
                     "sequence; a still needs it for --frame and --frames)")
        ->type_name("RATE")
        ->check(accepts([](const std::string& text) { return parse_frame_rate(text); },
                        "a rate above 0 and up to 1000, such as 24, 29.97 or 30000/1001"));
    t.frame =
        render->add_option("--frame", t.frame_number, "render frame N (time = N / fps)")->type_name("N");
    CLI::Option* range = render->add_option("--frames", t.frames, "render frames A to B, inclusive")
                             ->type_name("A-B")
                             ->check(accepts([](const std::string& text) { return parse_frame_range(text); },
                                             "A-B with A <= B, for example 1-48"));
    t.frame->excludes(range);
    render->add_option("--shard", t.shard, "render only the frames f with f mod N = K-1")
        ->type_name("K/N")
        ->check(accepts([](const std::string& text) { return parse_shard(text); },
                        "K/N with 1 <= K <= N, for example 2/8"));
    render
        ->add_option("--downsample", t.downsample,
                     "render at 1/N resolution (or 1/X by 1/Y), as the host does")
        ->type_name("N|X,Y")
        ->check(accepts([](const std::string& text) { return parse_downsample(text); },
                        "N or X,Y from 1 to 65536"));
    render->add_option("--depth", t.depth, "world depth (default: the input's)")
        ->type_name("8|16|32")
        ->check(CLI::IsMember({"8", "16", "32"}));
    render
        ->add_option("--card", t.card,
                     "the built-in picture without INPUT: the test card or the photo (default test)")
        ->type_name("test|photo")
        ->check(CLI::IsMember({"test", "photo"}));
    render->add_option("--size", t.size, "size of the built-in picture (default 960x540)")
        ->type_name("WxH")
        ->check(accepts([](const std::string& text) { return parse_size(text); },
                        "WIDTHxHEIGHT with sides from 1 to 65536, for example 1920x1080"));
}

// How to render and write: threads, messages, colour spaces, movie encoding.
void declare_how_to_render(CLI::App* render, RenderOptions& r, RenderTexts& t) {
    render->add_option("-j,--jobs", r.job.jobs, "frames rendered at once (default: all cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    CLI::Option* progress =
        render->add_flag("--progress", r.job.progress, "show the progress bar even when not on a terminal");
    CLI::Option* quiet = render->add_flag("--quiet", r.job.quiet, "print nothing but warnings and errors");
    progress->excludes(quiet);
    render->add_flag("--skip-existing", r.skip_existing,
                     "render only the frames whose output file is not a whole image (to resume a run)");
    render
        ->add_option("--input-colorspace", r.job.input_colorspace,
                     "convert what is read from this colour space to linear (see lumatrail colorspaces)")
        ->type_name("NAME");
    render
        ->add_option("--output-colorspace", r.job.output_colorspace,
                     "convert what is written from linear to this colour space")
        ->type_name("NAME");
    render
        ->add_option(
            "--codec", r.job.codec,
            "a movie output's codec: h264, h265, prores, prores4444, dnxhr, ffv1, vp9 or mjpeg "
            "(default: ProRes 422 HQ in .mov, H.264 in .mp4, FFV1 in .mkv, VP9 in .webm, MJPEG in .avi)")
        ->type_name("NAME");
    render
        ->add_option("--quality", t.quality,
                     "a movie output's quality from 1 (smallest) to 100 (best); "
                     "default: the codec's own")
        ->type_name("1-100")
        ->check(CLI::Range(1, 100));
    render->add_flag("--no-audio", t.no_audio,
                     "leave out the sound of a movie input (copied into a movie output)");
    render->add_flag("--stats", r.stats,
                     "print on stderr the time each frame spent reading, rendering and writing, the totals, "
                     "the wall time and the start-up");
}

// The render options from their texts, once parsing has checked them.
// A file pattern whose frame place cannot be told (two places, or a %%) is
// refused with the options, before anything is read.
void check_pattern(const std::string& path) {
    try {
        find_frame_slot(path);
    } catch (const std::invalid_argument& e) {
        usage_error(e.what());
    }
}

void finish_render_options(CLI::App* render, const RenderTexts& t, RenderOptions& r) {
    if (r.job.output.empty() && r.save_preset.empty()) usage_error("render needs -o OUTPUT");
    for (const std::string* path : {&r.job.input, &r.job.mask, &r.job.output}) check_pattern(*path);
    if (t.time->count()) r.time = t.seconds;
    r.job.presets = r.presets;
    if (render->get_option("--quality")->count()) r.job.quality = t.quality;
    r.job.audio = !t.no_audio;
    if (t.frame->count()) r.frame = t.frame_number;
    if (!t.fps.empty()) r.rate = parse_frame_rate(t.fps);
    if (!t.frames.empty()) r.range = parse_frame_range(t.frames);
    if (!t.shard.empty()) r.shard = parse_shard(t.shard);
    if (!t.depth.empty()) r.job.depth = pixel_format_of_bits(t.depth);
    if (!t.downsample.empty()) {
        const auto [x, y] = *parse_downsample(t.downsample);
        r.job.downsample_x = {1, std::uint32_t(x)};
        r.job.downsample_y = {1, std::uint32_t(y)};
    }
    if (!t.size.empty()) {
        std::tie(r.job.card_width, r.job.card_height) = *parse_size(t.size);
        r.size_given = true;
    }
    if (!t.card.empty()) {
        r.job.card = t.card == "photo" ? BuiltinPicture::Photo : BuiltinPicture::TestCard;
        r.card_given = true;
    }
}

}  // namespace

std::optional<std::pair<std::int64_t, std::int64_t>> parse_frame_range(const std::string& text) {
    const auto range = parse_pair(text, '-');
    if (!range || range->second < range->first) return std::nullopt;
    return range;
}

std::optional<std::pair<std::int32_t, std::int32_t>> parse_size(const std::string& text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return std::nullopt;
    const auto w = whole_number(std::string_view(text).substr(0, x));
    const auto h = whole_number(std::string_view(text).substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > 65536 || *h > 65536) return std::nullopt;
    return std::pair{std::int32_t(*w), std::int32_t(*h)};
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine c;
    c.plugin = offline::default_module_path();
    RenderOptions& r = c.render;
    r.job.jobs = std::max(1u, std::thread::hardware_concurrency());

    CLI::App app{DESCRIPTION, "lumatrail"};
    app.set_help_flag("-h,--help", "print this help");
    app.add_option("--plugin", c.plugin, "the effect's module (default: the one beside lumatrail)")
        ->type_name("PATH");
    bool version = false;
    app.add_flag("--version", version, "print the version and the effect's identity");
    app.require_subcommand(0, 1);

    CLI::App* render = app.add_subcommand("render", "render a still, a sequence or a movie")->fallthrough();
    render->footer(FOOTER);
    CLI::App* demo = app.add_subcommand("demo", "render the built-in test card in every mode");
    demo->add_option("--out-dir", c.demo_dir, "the folder for the pictures (default: demo)")
        ->type_name("DIR");
    CLI::App* params = app.add_subcommand("params", "the parameter table, as the effect declares it");
    params->add_flag("--markdown", c.params_markdown,
                     "the controls reference in Markdown: every control with its values and what it does "
                     "(docs/controls.md)");
    CLI::App* about = app.add_subcommand("about", "the About text and the effect's identity");
    CLI::App* version_command = app.add_subcommand("version", "the version and the effect's identity");
    CLI::App* colorspaces = app.add_subcommand(
        "colorspaces", "the colour spaces --input-colorspace and --output-colorspace know");
    CLI::App* help = app.add_subcommand("help", "print this help");

    RenderTexts texts;
    declare_what_to_render(render, r, texts);
    declare_how_to_render(render, r, texts);

    // Made before parsing: afterwards the app's help is that of the command given.
    const std::string full_help = app.help() + "\n" + render->help();
    std::vector<const char*> argv{"lumatrail"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    try {
        app.parse(int(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        c.command = CommandName::Help;
        c.help = render->parsed() ? render->help() : full_help;
        return c;
    } catch (const CLI::ParseError& e) {
        explain(e, app, render);
    }

    if (help->parsed() || (app.get_subcommands().empty() && !version)) {
        if (app.get_subcommands().empty() && args.empty()) usage_error("no command given");
        c.command = CommandName::Help;
        c.help = full_help;
        return c;
    }
    c.command = version || version_command->parsed() ? CommandName::Version
                : about->parsed()                    ? CommandName::About
                : params->parsed()                   ? CommandName::Params
                : colorspaces->parsed()              ? CommandName::Colorspaces
                : demo->parsed()                     ? CommandName::Demo
                                                     : CommandName::Render;
    if (c.command != CommandName::Render) return c;

    finish_render_options(render, texts, r);
    return c;
}

}  // namespace lumatrail::tools
