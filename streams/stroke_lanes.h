// The lane kernels of stroke drawing: which columns of a row a segment can
// reach at all, the weights of a run of those columns four or eight pixels at
// a time, and the stamps of four neighbouring pixels at once. Every lane
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

// The most columns of one run, and the most runs weighed together.
inline constexpr std::int32_t WEIGHT_RUN = 32;
inline constexpr std::int32_t RUN_BATCH = 16;

// Columns [first, first + count) of row py, whose centre is at
// full-resolution y; `stamped` has a bit per column, set where the pixel is
// stamped: its size is above 0 and its colour alpha times its weight is not
// at most 0.
struct RowRun {
    float y;
    std::int32_t py, first, count;
    std::uint32_t stamped;
};

// Weighs runs[0 .. count): the weights of run r go to weights[r * WEIGHT_RUN
// ...], and its stamped bits are set.
using RowWeights = void (*)(const SegmentRows& segment, RowRun* runs, std::int32_t count, float* weights);

// Four lanes at a time: the SSE2 baseline of every x86-64 machine.
void row_weights_four(const SegmentRows& segment, RowRun* runs, std::int32_t count, float* weights);

// Eight lanes at a time; only where eight_lanes_available().
void row_weights_eight(const SegmentRows& segment, RowRun* runs, std::int32_t count, float* weights);

// Whether this processor runs row_weights_eight (AVX2).
bool eight_lanes_available();

// Stamps the pixels of the four from `first` on whose bit is set in `bits`
// (bit 0 is `first`) with their weights, each as `stamp` does; the others
// keep their bits. All four pixels must exist.
template <class Pixel>
void stamp_four(std::uint8_t* first, const float* weights, std::uint32_t bits, const Pixel& colour,
                float colour_alpha);

}  // namespace lumatrail
