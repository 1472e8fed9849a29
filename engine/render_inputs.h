// What every renderer is handed besides the views and the settings: the area
// to render and the abort poll.
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

}  // namespace lumatrail
