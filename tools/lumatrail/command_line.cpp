#include "tools/lumatrail/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <thread>

#include "offline/param_values.h"
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
// value, and refused with `expected` otherwise. CLI11 puts the option's name
// before the message ("--jobs: ..."), which explain() turns into
// "--jobs takes EXPECTED, not "TEXT"".
template <class Parse>
CLI::Validator accepts(Parse parse, const std::string& expected) {
    return CLI::Validator(
        [parse, expected](std::string& text) {
            return parse(text) ? std::string() : expected + ", not \"" + offline::excerpt(text) + "\"";
        },
        "", "");
}

// One of the words given.
CLI::Validator one_of(std::vector<std::string> words, const std::string& expected) {
    return accepts(
        [words](const std::string& text) { return std::count(words.begin(), words.end(), text) > 0; },
        expected);
}

// A whole number from `low` to `high`.
std::optional<std::int64_t> whole_number_in(const std::string& text, std::int64_t low, std::int64_t high) {
    const auto n = whole_number(text);
    return n && *n >= low && *n <= high ? n : std::nullopt;
}

CLI::Validator whole_number_from(std::int64_t low, std::int64_t high) {
    return accepts([=](const std::string& text) { return whole_number_in(text, low, high); },
                   "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
}

// A number of seconds no further from 0 than a million.
std::optional<double> parse_seconds(const std::string& text) {
    double seconds = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !(std::abs(seconds) <= 1.0e6))
        return std::nullopt;
    return seconds;
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

constexpr const char* COMMAND_NAMES = "render, demo, params, presets, about, version, colorspaces, help";

// Every command, as declared.
struct Commands {
    CLI::App* render;
    CLI::App* demo;
    CLI::App* params;
    CLI::App* presets;
    CLI::App* about;
    CLI::App* version;
    CLI::App* colorspaces;
    CLI::App* help;
    std::vector<CLI::App*> all() const {
        return {render, demo, params, presets, about, version, colorspaces, help};
    }
};

// The first word of CLI11's "The following arguments were not expected: X Y".
std::string first_unexpected(const CLI::ExtrasError& e) {
    const std::string text = e.what();
    const std::size_t colon = text.rfind(": ");
    const std::string words = colon == std::string::npos ? text : text.substr(colon + 2);
    return words.substr(0, words.find(' '));
}

// An argument no option or command takes.
[[noreturn]] void explain_extra(const CLI::ExtrasError& e, const CLI::App& app, const CLI::App* render) {
    const std::string first = first_unexpected(e);
    if (!first.empty() && first[0] == '-') usage_error("unknown option \"" + first + "\"");
    if (!render->parsed() && app.get_subcommands().empty())
        usage_error("unknown command \"" + first + "\" (commands: " + COMMAND_NAMES + ")");
    if (render->parsed())
        usage_error("more than one input: \"" + render->get_option("INPUT")->as<std::string>() + "\" and \"" +
                    first + "\"");
    usage_error("unexpected argument \"" + first + "\"");
}

// The option's name CLI11 puts before its message: "--jobs: ...".
std::pair<std::string, std::string> named_message(const CLI::Error& e) {
    const std::string message = e.what();
    const std::size_t colon = message.find(": ");
    if (colon == std::string::npos) return {"", message};
    return {message.substr(0, colon), message.substr(colon + 2)};
}

// A flag given a value it cannot take.
std::string explain_flag_value(const std::string& text, const std::string& name) {
    const std::string prefix = "Could not convert: ";
    const std::size_t equals = text.find(" = ");
    if (!text.starts_with(prefix) || equals == std::string::npos)
        return (name.empty() ? std::string("a switch") : name) + " takes no value";
    return text.substr(prefix.size(), equals - prefix.size()) + " takes no value (or true or false), not \"" +
           offline::excerpt(text.substr(equals + 3)) + "\"";
}

// CLI11's error, said the way the rest of the program says things.
[[noreturn]] void explain(const CLI::ParseError& e, const CLI::App& app, const CLI::App* render) {
    if (const auto* extra = dynamic_cast<const CLI::ExtrasError*>(&e)) explain_extra(*extra, app, render);
    const auto [name, message] = named_message(e);
    // Every validator is one of accepts(): "--jobs: a whole number from 1 to 1024, not "abc"".
    if (dynamic_cast<const CLI::ValidationError*>(&e) && !name.empty())
        usage_error(name + " takes " + message);
    // "--set: 1 required NAME=VALUE missing": the option's value was left out.
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && !name.empty() &&
        message.find("missing") != std::string::npos)
        usage_error(name + " needs a value");
    // "--frame excludes --frames"
    if (dynamic_cast<const CLI::ExcludesError*>(&e)) {
        const std::string text = e.what();
        const std::size_t at = text.find(" excludes ");
        if (at != std::string::npos)
            usage_error(text.substr(0, at) + " and " + text.substr(at + 10) + " cannot be given together");
    }
    // A flag given a value: "Could not convert: --quiet = maybe", "--quiet: too many inputs for a flag".
    if (dynamic_cast<const CLI::ConversionError*>(&e)) usage_error(explain_flag_value(e.what(), name));
    usage_error("the arguments cannot be read: " + offline::excerpt(e.what(), 120));
}

// The render command's options whose values are checked as text, kept as
// typed until the command is known, and the options whose presence matters.
struct RenderTexts {
    std::string fps, frames, shard, downsample, depth, size, card, time, frame, jobs, quality;
    bool no_audio = false;
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
    render
        ->add_option("--preset", r.presets,
                     "parameter values and keyframes from a JSON file, or by name a built-in preset where no "
                     "file has that name (see lumatrail presets; repeatable)")
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    render
        ->add_option("--save-preset", r.save_preset,
                     "write the parameters (after --preset and --set) as JSON")
        ->type_name("FILE");
    render->add_option("--time", t.time, "the still's time in seconds (default 0)")
        ->type_name("SECONDS")
        ->check(accepts(parse_seconds, "a number of seconds from -1000000 to 1000000"));
    render
        ->add_option("--fps", t.fps,
                     "frame rate: 24, 23.976, 29.97, 30000/1001 (default: a movie's own rate; 24 for a "
                     "sequence; a still needs it for --frame and --frames)")
        ->type_name("RATE")
        ->check(accepts(
            [](const std::string& text) { return parse_frame_rate(text); },
            "a rate above 0 and up to 1000, with at most 9 decimals, such as 24, 29.97 or 30000/1001"));
    CLI::Option* frame = render->add_option("--frame", t.frame, "render frame N (time = N / fps)")
                             ->type_name("N")
                             ->check(accepts(whole_number, "a whole frame number, such as 12 or -3"));
    CLI::Option* range = render->add_option("--frames", t.frames, "render frames A to B, inclusive")
                             ->type_name("A-B")
                             ->check(accepts([](const std::string& text) { return parse_frame_range(text); },
                                             "A-B with A <= B, for example 1-48"));
    frame->excludes(range);
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
        ->check(one_of({"8", "16", "32"}, "8, 16 or 32 (bits per channel)"));
    render
        ->add_option("--card", t.card,
                     "the built-in picture without INPUT: the test card or the photo (default test)")
        ->type_name("test|photo")
        ->check(one_of({"test", "photo"}, "test or photo"));
    render->add_option("--size", t.size, "size of the built-in picture (default 960x540)")
        ->type_name("WxH")
        ->check(accepts([](const std::string& text) { return parse_size(text); },
                        "WIDTHxHEIGHT with sides from 1 to 65536, for example 1920x1080"));
}

// How to render and write: threads, messages, colour spaces, movie encoding.
void declare_how_to_render(CLI::App* render, RenderOptions& r, RenderTexts& t) {
    render->add_option("-j,--jobs", t.jobs, "frames rendered at once (default: all cores)")
        ->type_name("N")
        ->check(whole_number_from(1, 1024));
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
        ->check(whole_number_from(1, 100));
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

void finish_render_options(const RenderTexts& t, RenderOptions& r) {
    if (r.job.output.empty() && r.save_preset.empty()) usage_error("render needs -o OUTPUT");
    for (const std::string* path : {&r.job.input, &r.job.mask, &r.job.output}) check_pattern(*path);
    if (!t.time.empty()) r.time = parse_seconds(t.time);
    r.job.presets = r.presets;
    if (!t.quality.empty()) r.job.quality = int(*whole_number(t.quality));
    if (!t.jobs.empty()) r.job.jobs = unsigned(*whole_number(t.jobs));
    r.job.audio = !t.no_audio;
    if (!t.frame.empty()) r.frame = whole_number(t.frame);
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

// params' flags, one at most: each prints one file instead of the table.
void declare_params_formats(CLI::App& params, ParamsFormat& format) {
    const struct {
        const char* flag;
        ParamsFormat format;
        const char* what;
    } formats[] = {
        {"--markdown", ParamsFormat::Markdown,
         "the controls reference in Markdown: every control with its values and what it does "
         "(docs/controls.md)"},
        {"--frei0r", ParamsFormat::Frei0r,
         "the frei0r parameters in Markdown: position, name, default and values (the README's table)"},
        {"--kdenlive", ParamsFormat::Kdenlive,
         "Kdenlive's description of the frei0r filter (tools/frei0r/kdenlive/frei0r_lumatrail.xml)"},
        {"--shotcut-meta", ParamsFormat::ShotcutMeta,
         "Shotcut's filter metadata for the frei0r filter (tools/frei0r/shotcut/lumatrail/meta.qml)"},
        {"--shotcut-ui", ParamsFormat::ShotcutUi,
         "Shotcut's filter panel for the frei0r filter (tools/frei0r/shotcut/lumatrail/ui.qml)"},
    };
    for (const auto& f : formats)
        params.add_flag_callback(
            f.flag,
            [&format, chosen = f.format] {
                if (format != ParamsFormat::Table && format != chosen)
                    usage_error(
                        "params prints one file at a time: give one of --markdown, --frei0r, "
                        "--kdenlive, --shotcut-meta and --shotcut-ui");
                format = chosen;
            },
            f.what);
    params.footer(
        "Each flag prints one file on standard output; `make docs` writes them all. The editors' files name "
        "every control by its UI name, the frei0r parameter the filter takes.");
}

// The commands and the options outside them.
Commands declare_commands(CLI::App& app, CommandLine& c, bool& version, std::string& topic) {
    app.set_help_flag("-h,--help", "print this help");
    app.add_option("--plugin", c.plugin, "the effect's module (default: the one beside lumatrail)")
        ->type_name("PATH");
    app.add_flag("--version", version, "print the version and the effect's identity");
    app.require_subcommand(0, 1);
    Commands k{};
    k.render = app.add_subcommand("render", "render a still, a sequence or a movie")->fallthrough();
    k.render->footer(FOOTER);
    k.demo = app.add_subcommand("demo", "render the built-in test card in every mode");
    k.demo->add_option("--out-dir", c.demo_dir, "the folder for the pictures (default: demo)")
        ->type_name("DIR");
    k.params = app.add_subcommand("params", "the parameter table, as the effect declares it");
    declare_params_formats(*k.params, c.params_format);
    k.presets = app.add_subcommand("presets", "the built-in presets (--preset NAME), one per line");
    k.about = app.add_subcommand("about", "the About text and the effect's identity");
    k.version = app.add_subcommand("version", "the version and the effect's identity");
    k.colorspaces = app.add_subcommand("colorspaces",
                                       "the colour spaces --input-colorspace and --output-colorspace know");
    k.help = app.add_subcommand("help", "print this help, or with a command that command's help");
    k.help->add_option("COMMAND", topic, "the command to explain");
    return k;
}

// A command's help, its usage line with the program's name: "Usage: lumatrail render ...".
std::string command_help(const CLI::App* command) {
    std::string text = command->help();
    const std::string usage = "Usage: " + command->get_name() + " ";
    if (const std::size_t at = text.find(usage); at != std::string::npos) text.insert(at + 7, "lumatrail ");
    return text;
}

// The help of the command named `topic`; the whole help without one.
std::string help_for(const Commands& k, const std::string& topic, const std::string& full_help) {
    if (topic.empty()) return full_help;
    for (CLI::App* command : k.all())
        if (command->get_name() == topic) return command_help(command);
    usage_error("there is no command \"" + offline::excerpt(topic) +
                "\" to help with (commands: " + COMMAND_NAMES + ")");
}

// The command that was given, once parsing is done.
CommandName command_given(const Commands& k, bool version) {
    return version || k.version->parsed() ? CommandName::Version
           : k.about->parsed()            ? CommandName::About
           : k.params->parsed()           ? CommandName::Params
           : k.presets->parsed()          ? CommandName::Presets
           : k.colorspaces->parsed()      ? CommandName::Colorspaces
           : k.demo->parsed()             ? CommandName::Demo
                                          : CommandName::Render;
}

// The help of the command whose --help was given.
std::string help_asked(const Commands& k, const std::string& full_help) {
    for (CLI::App* command : k.all())
        if (command->parsed()) return command_help(command);
    return full_help;
}

// Parses; false when --help was given.
bool parse(CLI::App& app, const std::vector<std::string>& args, const CLI::App* render) {
    std::vector<const char*> argv{"lumatrail"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    try {
        app.parse(int(argv.size()), argv.data());
        return true;
    } catch (const CLI::CallForHelp&) {
        return false;
    } catch (const CLI::ParseError& e) {
        explain(e, app, render);
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
    c.render.job.jobs = std::max(1u, std::thread::hardware_concurrency());
    CLI::App app{DESCRIPTION, "lumatrail"};
    bool version = false;
    std::string topic;
    const Commands commands = declare_commands(app, c, version, topic);
    RenderTexts texts;
    declare_what_to_render(commands.render, c.render, texts);
    declare_how_to_render(commands.render, c.render, texts);

    // Made before parsing: afterwards the app's help is that of the command given.
    const std::string full_help = app.help() + "\n" + command_help(commands.render);
    if (!parse(app, args, commands.render)) {
        c.command = CommandName::Help;
        c.help = help_asked(commands, full_help);
        return c;
    }
    if (commands.help->parsed() || (app.get_subcommands().empty() && !version)) {
        if (app.get_subcommands().empty() && args.empty()) usage_error("no command given");
        c.command = CommandName::Help;
        c.help = help_for(commands, topic, full_help);
        return c;
    }
    c.command = command_given(commands, version);
    if (c.command == CommandName::Render) finish_render_options(texts, c.render);
    return c;
}

}  // namespace lumatrail::tools
