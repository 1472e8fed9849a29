// What every renderer is handed besides the views, the settings and the mask:
// the frame's area, resolution factors and abort poll, in one FrameContext.
#pragma once

#include <cstdint>

namespace lumatrail {

// A rectangle in layer coordinates at render resolution; right and bottom are
// exclusive.
struct RenderArea {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The area's size, without overflow for any corners; 0 or less when empty.
inline std::int64_t area_width(const RenderArea& a) { return std::int64_t(a.right) - a.left; }
inline std::int64_t area_height(const RenderArea& a) { return std::int64_t(a.bottom) - a.top; }

// The smallest resolution factor a renderer works with.
inline constexpr float MIN_SCALE = 0.0001f;

// Called at fixed points of a render; raises (and so ends the render) when the
// user has cancelled. May be absent.
using AbortPoll = void (*)(void* user_data);

inline void poll_if_present(AbortPoll poll, void* user_data) {
    if (poll) poll(user_data);
}

// One frame's render as the frame entry hands it to either renderer. The
// renderers and the frame entry all take (input, output, settings, frame,
// mask) in that order: the pictures first, as every pass reads the input and
// writes the output, then what they are drawn with. The mask is not part of
// the record: the frame entry takes the mask layer as found and builds from
// it, once per frame, the sampler the renderers take.
struct FrameContext {
    RenderArea area;                       // the area to render
    float scale_x = 1.0f, scale_y = 1.0f;  // render resolution over full resolution, across and down
    AbortPoll poll = nullptr;              // may be absent
    void* poll_data = nullptr;             // handed to poll
};

inline void poll_if_present(const FrameContext& frame) { poll_if_present(frame.poll, frame.poll_data); }

}  // namespace lumatrail
