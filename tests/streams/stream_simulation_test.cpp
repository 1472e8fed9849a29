// Stream timing, forces and the step loop.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/settings_fill.h"
#include "streams/stream_simulation.h"

namespace lumatrail {
namespace {

TEST(ParticleTiming, WorkedExample) {
    // Lifespan 2.5 s, frame time 10 s, a slot with phase 0.7 s.
    const ParticleCycle c = particle_cycle(10.0, 0.7f, 2.5f);
    EXPECT_EQ(c.cycle, 4.0);
    EXPECT_NEAR(c.birth, 9.3, 1e-6);
    EXPECT_EQ(c.age, 0.7f);
    EXPECT_NEAR(c.age / 2.5f, 0.28f, 1e-6f);

    RenderSettings s = DEFAULT_SETTINGS;
    s.render_mode = Particles;
    s.time_seconds = 10.0;
    const SimulationConstants k = simulation_constants(s);
    const StreamGeometry g;
    std::vector<StreamSegment> segments;
    const float tail_start = std::max(c.age - k.trail, 0.0f);  // trail 1.2 s: drawn whole
    simulate_stream(s, k, g, {100, 100}, {260, 0}, c.age, c.birth, tail_start, true,
                    [&](const StreamSegment& seg) { segments.push_back(seg); });
    ASSERT_EQ(segments.size(), 42u);
    EXPECT_EQ(segments.front().t0, 0.0f);
    EXPECT_EQ(segments.back().t1, c.age);
    EXPECT_LT(segments.back().t1 - segments.back().t0, STREAM_STEP);  // the last step is short
    for (std::size_t i = 1; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].t0, segments[i - 1].t1);
        EXPECT_EQ(segments[i].p0.x, segments[i - 1].p1.x);
    }
}

TEST(ParticleTiming, TrailCutStartsMidStep) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.drag = 0.0f;
    const SimulationConstants k = simulation_constants(s);
    std::vector<StreamSegment> segments;
    simulate_stream(s, k, StreamGeometry{}, {0, 0}, {60, 0}, 1.0f, 0.0, 0.5f + STREAM_STEP / 2, true,
                    [&](const StreamSegment& seg) { segments.push_back(seg); });
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.front().t0, 0.5f + STREAM_STEP / 2);
    EXPECT_NEAR(segments.front().p0.x, 60.0f * (0.5f + STREAM_STEP / 2), 1e-3f);  // moved along the step
    EXPECT_EQ(segments.back().t1, 1.0f);
}

TEST(ParticleTiming, PreRollMattersOnlyDuringTheFirstLife) {
    RenderSettings on = DEFAULT_SETTINGS, off = DEFAULT_SETTINGS;
    on.render_mode = off.render_mode = Particles;
    off.preroll_particles = false;
    std::uint32_t visible_on = 0, visible_off = 0, zero_phase = 0;
    for (std::uint32_t i = 0; i < 1500; ++i) {
        const StreamLaunch a = particle_launch(on, simulation_constants(on), i, 100);
        const StreamLaunch b = particle_launch(off, simulation_constants(off), i, 100);
        visible_on += a.visible;
        visible_off += b.visible;
        zero_phase += a.age == 0.0f;
        EXPECT_GE(a.age, 0.0f);
        EXPECT_LT(a.age, 2.5f);
    }
    EXPECT_EQ(visible_on, 1500u);
    EXPECT_EQ(visible_off, zero_phase);  // at time 0 only slots with phase 0

    on.time_seconds = off.time_seconds = 2.6;  // later than a life cycle
    for (std::uint32_t i = 0; i < 1500; ++i) {
        const StreamLaunch a = particle_launch(on, simulation_constants(on), i, 100);
        const StreamLaunch b = particle_launch(off, simulation_constants(off), i, 100);
        ASSERT_TRUE(b.visible);
        EXPECT_EQ(a.emitter, b.emitter);
        EXPECT_EQ(a.age, b.age);
        EXPECT_EQ(a.angle_hash, b.angle_hash);
    }
}

TEST(StreamCount, CapsAndEmitterSpreadForLines) {
    RenderSettings s = DEFAULT_SETTINGS;
    EXPECT_EQ(stream_count(s, 10000), 6000u);
    EXPECT_EQ(stream_count(s, 17), 17u);
    const SimulationConstants k = simulation_constants(s);
    EXPECT_EQ(line_launch(s, k, 5999, 6000, 10000).emitter, 9998u);  // (E * i) / 6000
    EXPECT_EQ(line_launch(s, k, 3000, 6000, 10000).emitter, 5000u);
    EXPECT_EQ(line_launch(s, k, 16, 17, 17).emitter, 16u);
}

TEST(StreamCount, LineDurationFollowsStreakLengthAndSpeed) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.length_variation = 0.0f;
    const SimulationConstants k = simulation_constants(s);
    EXPECT_EQ(line_launch(s, k, 3, 10, 10).age, 640.0f / 260.0f);
    s.launch_speed = 0.0f;  // streak_length / 1, capped at 12 s
    EXPECT_EQ(line_launch(s, simulation_constants(s), 3, 10, 10).age, 12.0f);
}

TEST(Forces, DragBounds) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.drag = 0.0f;
    EXPECT_EQ(simulation_constants(s).full_step_damping, 1.0f);
    s.drag = 20.0f;
    EXPECT_NEAR(simulation_constants(s).full_step_damping, 0.7165f, 1e-4f);
}

TEST(Forces, PointForcesVanishAtTheirPointAndBeyondTheRadius) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.attractor_strength = 1000.0f;
    s.repeller_strength = 700.0f;
    s.force_radius = 100.0f;
    const Vec2 c{50, 50}, q{50, 50};
    const Vec2 at_point = stream_force(s, c, c, q, 0.0);
    EXPECT_EQ(at_point.x, 0.0f);
    EXPECT_EQ(at_point.y, 0.0f);
    const Vec2 far = stream_force(s, {200, 50}, c, q, 0.0);
    EXPECT_EQ(far.x, 0.0f);
    // Inside the radius the attractor pulls toward the centre (stronger than the repeller here).
    EXPECT_LT(stream_force(s, {80, 50}, c, q, 0.0).x, 0.0f);
}

TEST(Forces, WindBlowsDownwardAtNinetyDegrees) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.wind_strength = 100.0f;
    s.wind_direction = 90.0f;
    const Vec2 f = stream_force(s, {0, 0}, {500, 500}, {900, 900}, 0.0);
    EXPECT_NEAR(f.x, 0.0f, 1e-3f);
    EXPECT_EQ(f.y, 100.0f);
}

TEST(Forces, NoiseDependsOnTimeOnlyWhenOn) {
    RenderSettings s = DEFAULT_SETTINGS;
    const Vec2 c{500, 500};
    EXPECT_EQ(stream_force(s, {10, 20}, c, c, 0.0).x, stream_force(s, {10, 20}, c, c, 7.0).x);
    s.random_force = 300.0f;
    const Vec2 a = stream_force(s, {10, 20}, c, c, 0.0), b = stream_force(s, {10, 20}, c, c, 7.0);
    EXPECT_TRUE(a.x != b.x || a.y != b.y);
    EXPECT_LE(std::fabs(a.x), 300.0f);
    const Vec2 again = stream_force(s, {10, 20}, c, c, 0.0);
    EXPECT_EQ(again.x, a.x);  // the same seed gives the same field
}

TEST(StepLoop, SpeedIsCapped) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.wind_strength = 4000.0f;
    s.drag = 0.0f;
    const SimulationConstants k = simulation_constants(s);
    Vec2 last{};
    std::int32_t n = 0;
    simulate_stream(s, k, StreamGeometry{}, {0, 0}, {7990, 0}, 0.5f, 0.0, 0.0f, false,
                    [&](const StreamSegment& seg) {
                        const float step_speed = (seg.p1.x - seg.p0.x) / (seg.t1 - seg.t0);
                        EXPECT_LE(step_speed, 8000.0f * 1.001f);
                        last = seg.p1;
                        ++n;
                    });
    EXPECT_EQ(n, 30);
    EXPECT_NEAR(last.x, 4000.0f, 4.0f);
}

}  // namespace
}  // namespace lumatrail
