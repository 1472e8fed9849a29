// The lane kernels of stroke drawing: which columns of a row a segment can
// reach at all, their weights four or eight pixels at a time, and their
// stamps four or eight neighbouring pixels at once. Every lane
// computes exactly what the pixel-by-pixel statement computes for its pixel
// (plain IEEE add, multiply, divide and square root in the same order, no
// fused multiply-add, clamps that keep a NaN), so a picture is the same bits
// whichever kernel drew it.
#pragma once

#include <cstdint>

#include "engine/image_view.h"
#include "engine/render_inputs.h"
#include "streams/stream_geometry.h"

namespace lumatrail {

// A capsule's cut through any row, prepared once per segment: with X = x -
// p0.x and Y = y - p0.y, the band within `reach` of the segment's line whose
// feet fall between its ends lies within X of Y * perp_slope ± perp_half and
// Y * along_slope + [along_lo, along_hi], on rows with Y in [band_lo,
// band_hi] (for a segment along an axis, its bounding box); each end adds the
// square round its disc. The reach here is widened by far more than the float
// arithmetic of a pixel's coverage can err.
struct CapsuleCut {
    bool finite = false;  // otherwise every row is cut at the whole box
    double reach;
    double perp_slope, perp_half;
    double along_slope, along_lo, along_hi;
    double band_lo, band_hi;
};

// What every pixel of one segment shares.
struct SegmentRows {
    RenderArea box;  // the segment's bounding box cut to the clip and the view
    Vec2 p0, p1, d;
    float len2;
    bool point;  // too short for a direction: every pixel measures from p1
    float size0, size1, alpha0, alpha1;
    float sx, sy;
    float colour_alpha;  // the colour's alpha on the unit scale, clamped to 0..1
    float e, ramp;       // the edge ramp's half width and width, full-resolution pixels
    float reach;         // no pixel centre farther than this from the segment is covered
    CapsuleCut cut;
};

// The cut of the segment's capsule, from everything above it in SegmentRows.
CapsuleCut capsule_cut(const SegmentRows& segment);

// Columns [first, last) of a row.
struct ColumnRange {
    std::int32_t first = 0, last = 0;
};

// The columns of the box whose pixel centres on the row at full-resolution y
// lie in the segment's capsule cut, so that no pixel a stamp would reach is
// left out. The whole box row when the geometry is not finite.
ColumnRange covered_columns(const SegmentRows& segment, float y);

// `lanes` neighbouring columns from `column` on the row whose centre is at
// full-resolution y (four or eight, as the function weighing it); their
// weights go to weights[slot ...].
struct LaneGroup {
    float y;
    std::int32_t column, slot;
};

// Weighs groups[0 .. count): the weights of group k go to the weights array
// at its slot, and stamped[k] gets a bit per column (bit 0 its first), set
// where the pixel is stamped: its size is above 0 and its colour alpha times
// its weight is not at most 0. One flat loop over the groups of several
// rows, so that the divisions and square roots of one overlap the next's.
using GroupWeights = void (*)(const SegmentRows& segment, const LaneGroup* groups, std::int32_t count,
                              float* weights, std::uint32_t* stamped);

// Four lanes at a time: the SSE2 baseline of every x86-64 machine.
void weigh_groups_four(const SegmentRows& segment, const LaneGroup* groups, std::int32_t count,
                       float* weights, std::uint32_t* stamped);

// Eight lanes at a time; only where eight_lanes_available().
void weigh_groups_eight(const SegmentRows& segment, const LaneGroup* groups, std::int32_t count,
                        float* weights, std::uint32_t* stamped);

// Whether this processor runs weigh_groups_eight (AVX2).
bool eight_lanes_available();

// Stamps the columns of a run of `count` from `first` on whose bit is set in
// `stamped` (bit 0 is `first`) with their weights, each as `stamp` does,
// `lanes` (four or eight, as weighed) at a time; the others keep their bits.
// The `whole` columns from `first` on exist and lie inside the clip, so whole
// groups of them are read and written back; beyond, pixels go one by one.
template <class Pixel>
void stamp_columns(std::int32_t lanes, std::uint8_t* first, const float* weights, std::uint32_t stamped,
                   std::int32_t count, std::int32_t whole, const Pixel& colour, float colour_alpha);

}  // namespace lumatrail
