// The stream phase: launching lines or particles from the emitters, moving
// them through the force field in fixed steps of 1/60 s, and drawing each
// step. Positions are full-resolution pixels, times seconds. Nothing is
// carried between frames: a particle's state at a frame follows from the
// seed, its slot index, the life cycle, the emitters and the frame time.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/effect_math.h"
#include "engine/image_view.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"
#include "streams/stream_geometry.h"

namespace lumatrail {

inline constexpr float STREAM_STEP = 1.0f / 60.0f;
inline constexpr std::uint32_t MAX_LINES = 6000;
inline constexpr float MAX_STREAM_SPEED = 8000.0f;

// Per-frame constants of the simulation.
struct SimulationConstants {
    float life;               // a particle's life cycle, 0.05 .. 12 s
    float speed;              // launch speed, 0 .. 4000
    float speed1;             // launch speed, at least 1
    float trail;              // trail length, 0 .. 12 s
    float damping;            // drag rate, 0 .. 20 per second
    float full_step_damping;  // expf(-damping * STREAM_STEP)
    double time;              // the frame's time
    Vec2 wind;                // the wind's acceleration
    Vec2 noise_offset;        // where the seed moves the noise field
};

SimulationConstants simulation_constants(const RenderSettings& settings);

// The acceleration at full-resolution p at absolute time t: wind, the
// attractor at the centre, the repeller, and a noise field of nested sines.
// The wind and the noise offset come from the frame's constants.
Vec2 stream_force(const RenderSettings& settings, const SimulationConstants& k, Vec2 p, Vec2 centre,
                  Vec2 repeller, double t);

// The same, for one call.
inline Vec2 stream_force(const RenderSettings& settings, Vec2 p, Vec2 centre, Vec2 repeller, double t) {
    return stream_force(settings, simulation_constants(settings), p, centre, repeller, t);
}

// How one stream starts on this frame.
struct StreamLaunch {
    bool visible = true;           // false: a particle not yet born (pre-roll off)
    std::uint32_t emitter = 0;     // index into the emitter list
    float age = 0.0f;              // how long the stream is simulated, seconds
    double time_base = 0.0;        // absolute time of the stream's start
    std::uint32_t angle_hash = 0;  // the hash that sets the launch angle
};

// Number of streams for E emitters.
std::uint32_t stream_count(const RenderSettings& settings, std::uint32_t emitters);

// Line i of n: its emitter spread evenly over the list, its seeded duration.
StreamLaunch line_launch(const RenderSettings& settings, const SimulationConstants& k, std::uint32_t i,
                         std::uint32_t n, std::uint32_t emitters);

// The life of a particle slot with this phase that is current at the time:
// its cycle number k, its birth (time - life < birth <= time) and its age.
struct ParticleCycle {
    double cycle;
    double birth;
    float age;
};
ParticleCycle particle_cycle(double time, float phase, float life);

// Particle slot i: its current life cycle at the frame's time.
StreamLaunch particle_launch(const RenderSettings& settings, const SimulationConstants& k, std::uint32_t i,
                             std::uint32_t emitters);

// One drawn piece of a step: from p0 at time t0 to p1 at t1 (seconds since
// the stream's start).
struct StreamSegment {
    Vec2 p0, p1;
    float t0, t1;
};

// The step loop of one stream (semi-implicit Euler, the last step shortened
// to end at the age), calling draw(StreamSegment) for every step that is
// drawn. Returns the final position.
template <class DrawSegment>
Vec2 simulate_stream(const RenderSettings& s, const SimulationConstants& k, const StreamGeometry& g, Vec2 p,
                     Vec2 v, float age, double time_base, float tail_start, bool particle,
                     DrawSegment&& draw) {
    const std::int32_t steps = std::int32_t(std::ceil(age / STREAM_STEP));
    float t_prev = 0.0f;
    for (std::int32_t step = 1; step <= steps; ++step) {
        const float t_k = std::min(float(step) * STREAM_STEP, age);
        const Vec2 f = stream_force(s, k, p, g.centre, g.repeller, double(t_prev) + time_base);
        const float dt = t_k - t_prev;
        // Only a full step may use the per-frame factor: dt differs from
        // STREAM_STEP in its last bits at most steps.
        const float damp = dt == STREAM_STEP ? k.full_step_damping : std::exp(-k.damping * dt);
        v = {(v.x + f.x * dt) * damp, (v.y + f.y * dt) * damp};
        const float speed = length(v);
        if (speed > MAX_STREAM_SPEED) {
            const float cap = MAX_STREAM_SPEED / speed;
            v = {v.x * cap, v.y * cap};
        }
        const Vec2 p_new{p.x + v.x * dt, p.y + v.y * dt};
        if (!(tail_start >= t_k) && !(particle && k.trail <= 0.0f)) {
            Vec2 p0 = p;
            float t0 = t_prev;
            if (tail_start > t_prev) {
                const float frac = (tail_start - t_prev) / std::max(dt, 0.00001f);
                p0 = {p.x + frac * (p_new.x - p.x), p.y + frac * (p_new.y - p.y)};
                t0 = tail_start;
            }
            draw(StreamSegment{p0, p_new, t0, t_k});
        }
        p = p_new;
        t_prev = t_k;
    }
    return p;
}

// One segment as the stream phase hands it to the strokes
// (draw_stream_segment's arguments besides the output, clip and scales).
template <class Pixel>
struct DrawnSegment {
    Vec2 p0, p1;
    float size0, size1;
    Pixel colour;
    float alpha0, alpha1;
};

// Launches, simulates and draws every stream of the frame in index order,
// polling before every 16th stream. Returns the number of segments drawn
// (head dots included). With `drawn`, every segment is also appended to it
// in drawing order, for the benchmarks that replay a frame's stamps.
template <class Pixel>
std::uint64_t run_stream_phase(const ImageView& output, const StreamGeometry& geometry,
                               const RenderSettings& settings, const EmitterCell<Pixel>* emitters,
                               std::uint32_t emitter_count, AbortPoll poll, void* poll_data,
                               std::vector<DrawnSegment<Pixel>>* drawn = nullptr);

}  // namespace lumatrail
