#include "streams/stream_simulation.h"

#include <algorithm>
#include <bit>

#include "streams/stroke_drawing.h"

namespace lumatrail {

SimulationConstants simulation_constants(const RenderSettings& s) {
    SimulationConstants k;
    k.life = s.lifespan;
    k.speed = s.launch_speed;
    k.speed1 = std::max(k.speed, 1.0f);
    k.trail = s.trail_length;
    k.damping = s.drag;
    k.full_step_damping = std::exp(-k.damping * STREAM_STEP);
    k.time = s.time_seconds;
    const float theta = s.wind_direction * DEGREES_TO_RADIANS;
    k.wind = {std::cos(theta) * s.wind_strength, std::sin(theta) * s.wind_strength};
    const std::uint32_t seed = std::uint32_t(s.random_seed);
    k.noise_offset = {hash_unit(hash32(seed + 991u)) * 20.0f, hash_unit(hash32(seed + 992u)) * 20.0f};
    return k;
}

Vec2 stream_force(const RenderSettings& s, const SimulationConstants& k, Vec2 p, Vec2 centre, Vec2 repeller,
                  double t) {
    const Vec2 wind = k.wind;
    const float radius = s.force_radius;

    const Vec2 dc{centre.x - p.x, centre.y - p.y};
    const float lc = length(dc);
    const float pull = (1.0f - smoothstep(lc / radius)) * s.attractor_strength / std::max(lc, 8.0f);
    const Vec2 dr{repeller.x - p.x, repeller.y - p.y};
    const float lr = length(dr);
    const float push = (1.0f - smoothstep(lr / radius)) * (-s.repeller_strength) / std::max(lr, 8.0f);

    const Vec2 f{(wind.x + dc.x * pull) + dr.x * push, (wind.y + dc.y * pull) + dr.y * push};
    if (s.random_force == 0.0f) return f;

    const float scale = s.random_scale;
    const float m = float(std::fmod(double(s.random_evolution) * t, 4096.0));
    const float ox = k.noise_offset.x + p.x / scale;
    const float oy = k.noise_offset.y + p.y / scale;
    const float nx = std::sin(std::sin(0.83f * ox + m) + 1.73f * oy + 0.71f * m);
    const float ny = std::cos(std::cos(1.11f * oy - 0.63f * m) + 1.37f * ox - m);
    return {f.x + nx * s.random_force, f.y + ny * s.random_force};
}

std::uint32_t stream_count(const RenderSettings& s, std::uint32_t emitters) {
    if (s.render_mode == Particles) return std::uint32_t(s.particle_count);
    return std::min(emitters, MAX_LINES);
}

namespace {

std::uint32_t stream_hash(const RenderSettings& s, std::uint32_t i) {
    return hash32(std::uint32_t(s.random_seed) ^ i);
}

}  // namespace

StreamLaunch line_launch(const RenderSettings& s, const SimulationConstants& k, std::uint32_t i,
                         std::uint32_t n, std::uint32_t emitters) {
    const std::uint32_t h = stream_hash(s, i);
    const float base = std::max(std::min(s.streak_length / k.speed1, 12.0f), 0.001f);
    StreamLaunch l;
    l.age = (1.0f - hash_unit(hash32(h + 381u)) * s.length_variation) * base;
    l.emitter = std::uint32_t((std::uint64_t(emitters) * i) / n);
    l.angle_hash = h;
    l.time_base = k.time;
    return l;
}

ParticleCycle particle_cycle(double time, float phase, float life) {
    ParticleCycle c;
    c.cycle = std::floor((time + double(phase)) / double(life));
    c.birth = c.cycle * double(life) - double(phase);
    c.age = float(time - c.birth);
    return c;
}

StreamLaunch particle_launch(const RenderSettings& s, const SimulationConstants& k, std::uint32_t i,
                             std::uint32_t emitters) {
    const std::uint32_t h = stream_hash(s, i);
    const float phase = hash_unit(hash32(h + 381u)) * k.life;
    const ParticleCycle c = particle_cycle(k.time, phase, k.life);
    StreamLaunch l;
    if (!s.preroll_particles && c.birth < 0.0) {
        l.visible = false;
        return l;
    }
    l.age = c.age;
    const double birth = c.birth;
    // The cycle number's low 32 bits; cycles beyond the 64-bit range (absurd
    // times) saturate instead of being undefined.
    const double cycle = std::clamp(c.cycle, -9.2e18, 9.2e18);
    const std::uint32_t cycle_bits = std::uint32_t(std::uint64_t(std::int64_t(cycle)));
    const std::uint32_t h2 = hash32(h ^ hash32(cycle_bits));
    std::uint32_t e = hash32(h2 + 13u);
    if (e >= emitters) e %= emitters;
    l.emitter = e;
    l.angle_hash = h2;
    l.time_base = birth;
    return l;
}

namespace {

// A stroke's size and opacity factor at one end of a segment.
struct StrokeEnd {
    float size, fade;
};

}  // namespace

template <class Pixel>
std::uint64_t run_stream_phase(const ImageView& output, const StreamGeometry& g, const RenderSettings& s,
                               const EmitterCell<Pixel>* emitters, std::uint32_t emitter_count,
                               AbortPoll poll, void* poll_data, std::vector<DrawnSegment<Pixel>>* drawn) {
    std::uint64_t segments = 0;
    const SimulationConstants k = simulation_constants(s);
    const StrokeStyle style = stroke_style(s);
    const bool particle = s.render_mode == Particles;
    const std::uint32_t n = stream_count(s, emitter_count);
    const StrokeLanes lanes = widest_stroke_lanes();

    for (std::uint32_t i = 0; i < n; ++i) {
        if (i % 16 == 0) poll_if_present(poll, poll_data);
        const StreamLaunch launch =
            particle ? particle_launch(s, k, i, emitter_count) : line_launch(s, k, i, n, emitter_count);
        if (!launch.visible) continue;
        const EmitterCell<Pixel>& emitter = emitters[launch.emitter];
        const Vec2 start{emitter.x, emitter.y};
        const Vec2 dir =
            rotate_by_launch_angle(launch_direction(s, g, start), s.launch_spread, launch.angle_hash);
        const Vec2 v{dir.x * k.speed, dir.y * k.speed};
        const float tail_start = particle ? std::max(launch.age - k.trail, 0.0f) : 0.0f;
        const float opacity = stream_opacity(s, emitter.weight, particle, launch.age, k.life);
        const float life_norm = particle ? k.life : launch.age;

        auto stroke = [&](const DrawnSegment<Pixel>& d) {
            draw_stream_segment_in_lanes(lanes, output, g.clip, d.p0, d.p1, d.size0, d.size1, d.colour,
                                         d.alpha0, d.alpha1, g.sx, g.sy);
            if (drawn) drawn->push_back(d);
            ++segments;
        };
        // A stroke's size and fade at time t of its stream. Each segment
        // starts at the time the one before it ended: those values are kept.
        auto style_at = [&](float t) {
            const float u = t / life_norm;
            return StrokeEnd{segment_size(style, u),
                             particle ? trail_fade_in(style, tail_start, t) : line_tip_fade(style, u)};
        };
        StrokeEnd last_end{};
        std::uint32_t last_end_time = 0;
        bool have_last_end = false;
        auto draw = [&](const StreamSegment& seg) {
            const bool continues = have_last_end && std::bit_cast<std::uint32_t>(seg.t0) == last_end_time;
            const StrokeEnd start = continues ? last_end : style_at(seg.t0);
            const StrokeEnd end = style_at(seg.t1);
            stroke({seg.p0, seg.p1, start.size, end.size, emitter.colour, opacity * start.fade,
                    opacity * end.fade});
            last_end = end;
            last_end_time = std::bit_cast<std::uint32_t>(seg.t1);
            have_last_end = true;
        };
        const Vec2 head =
            simulate_stream(s, k, g, start, v, launch.age, launch.time_base, tail_start, particle, draw);
        if (particle) {
            const float size = segment_size(style, launch.age / k.life);
            stroke({head, head, size, size, emitter.colour, opacity, opacity});
        }
    }
    return segments;
}

#define LUMATRAIL_INSTANTIATE(Pixel) \
    template std::uint64_t run_stream_phase<Pixel>( \
        const ImageView&, const StreamGeometry&, const RenderSettings&, const EmitterCell<Pixel>*, \
        std::uint32_t, AbortPoll, void*, std::vector<DrawnSegment<Pixel>>*);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_INSTANTIATE)
#undef LUMATRAIL_INSTANTIATE

}  // namespace lumatrail
