// The lumatrail command line: every command and option declared once, with
// its help text, its type, its range and its error message, parsed into
// plain records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/render_job.h"

namespace lumatrail::tools {

enum class CommandName { Render, Demo, Params, Presets, About, Version, Colorspaces, Help };

// What `lumatrail params` prints: the table, the controls reference, or one of
// the editors' description files.
enum class ParamsFormat { Table, Markdown, Frei0r, Kdenlive, ShotcutMeta, ShotcutUi };

// What `render` was asked for, before the frames are worked out.
struct RenderOptions {
    RenderJob job;
    std::vector<std::string> settings, presets;  // --set NAME=VALUE, --preset FILE, in order
    std::string save_preset;
    std::optional<std::int64_t> frame;                           // --frame N
    std::optional<std::pair<std::int64_t, std::int64_t>> range;  // --frames A-B
    std::optional<std::pair<std::int64_t, std::int64_t>> shard;  // --shard K/N
    std::optional<FrameRate> rate;                               // --fps
    std::optional<double> time;                                  // --time SECONDS
    bool size_given = false;                                     // --size
    bool card_given = false;                                     // --card
    bool skip_existing = false;
    bool stats = false;
};

struct CommandLine {
    std::string plugin;  // the module to load
    CommandName command = CommandName::Help;
    RenderOptions render;
    std::string demo_dir = "demo";
    ParamsFormat params_format = ParamsFormat::Table;
    std::string help;  // for CommandName::Help: the text to print
};

// Parses the arguments after the program's name. Throws ToolError(EXIT_USAGE)
// saying what is wrong; --help, -h and `help` give CommandName::Help with the
// whole help, `COMMAND --help` and `help COMMAND` with that command's.
CommandLine parse_command_line(const std::vector<std::string>& args);

// "1-48", "-10--1": a frame range; empty when the text is none.
std::optional<std::pair<std::int64_t, std::int64_t>> parse_frame_range(const std::string& text);

// "1920x1080": a size of sides 1 to 65536; empty when the text is none.
std::optional<std::pair<std::int32_t, std::int32_t>> parse_size(const std::string& text);

}  // namespace lumatrail::tools
