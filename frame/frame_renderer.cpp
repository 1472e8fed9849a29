#include "frame/frame_renderer.h"

#include <stdexcept>

#include "engine/linear_pass.h"
#include "streams/stream_renderer.h"

namespace lumatrail {

Renderer renderer_for(const RenderSettings& s) {
    const bool along_lines = s.direction == Horizontal || s.direction == Vertical;
    return s.show_mask || (s.render_mode == ClassicLines && along_lines) ? Renderer::LinearPass
                                                                         : Renderer::Streams;
}

namespace {

template <class Pixel>
void render_frame_at(const ImageView& input, const ImageView& output, const RenderSettings& settings,
                     const FrameContext& frame, const MaskSource& mask) {
    const std::int64_t width = area_width(frame.area), height = area_height(frame.area);
    if (width <= 0 || height <= 0) return;
    if (width > MAX_CANVAS_SIDE || height > MAX_CANVAS_SIDE || width * height > MAX_CANVAS_PIXELS)
        throw std::runtime_error(CANVAS_LIMIT_MESSAGE);

    const RenderSettings s = normalised_settings(settings);
    MaskSampler sampler = make_mask_sampler(mask, s);
    place_pixel_centres(sampler, frame.area);
    if (renderer_for(s) == Renderer::LinearPass)
        linear_stretch_pass<Pixel>(input, output, s, frame, sampler);
    else
        render_streams<Pixel>(input, output, s, frame, sampler);
}

}  // namespace

void render_frame(PixelDepth depth, const ImageView& input, const ImageView& output,
                  const RenderSettings& settings, const FrameContext& frame, const MaskSource& mask) {
    with_pixel_type(
        depth, [&](auto pixel) { render_frame_at<decltype(pixel)>(input, output, settings, frame, mask); });
}

}  // namespace lumatrail
