// Rasterisation: triangles with the top-left fill rule on a 1/256-pixel grid, lines and points,
// pixel centres at integer coordinates, attributes interpolated perspective-correctly. Fragments
// leave in batches, triangles' in 2 x 2 quads.
#pragma once

#include "d3d9/pipeline/pipeline_state.h"

namespace d3d9 {

// Where fragments go: the pixel and output stages behind the rasteriser.
class FragmentSink {
 public:
  // A triangle is about to send fragments: its screen corners and vertices (for texture levels).
  virtual void BeginTriangle(const float* x, const float* y, const RVertex* const* v) = 0;
  // A batch of fragments, its live lanes those inside the primitive.
  virtual void Flush(FragmentBatch& batch) = 0;

 protected:
  ~FragmentSink() = default;
};

// Two threads share a draw's pixels by rows, in alternate stripes of 16 (a multiple of the 2 x 2
// quad): each rasteriser keeps the rows of its stripe parity, or every row with -1.
constexpr int kStripeShift = 4;
inline bool OwnsRow(int stripe, int64_t y) {
  return stripe < 0 || ((y >> kStripeShift) & 1) == stripe;
}

struct RasterSetup {
  int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;
  int stripe = -1;  // the rows this rasteriser draws (see OwnsRow)
  DWORD cullMode = D3DCULL_CCW;
  DWORD fillMode = D3DFILL_SOLID;
  bool flatShade = false;
  bool lastPixel = true;                  // lines draw their last pixel
  bool diffuse = true;                    // interpolate the diffuse colour
  bool specular = false;                  // the specular colour
  bool fog = false;                       // the vertex fog factor
  bool eye = false;                       // each fragment's eye distance
  uint8_t texSlots = 0;                   // texture coordinate slots, one bit per stage
  uint8_t texComponents[kTexSlots] = {};  // coordinates of each slot read (2 to 4)
  // Lanes of a quad outside the primitive get attributes too (pixel shaders difference them).
  bool helperLanes = false;
};

class Rasterizer {
 public:
  void Configure(const RasterSetup& setup, FragmentSink* sink) {
    setup_ = setup;
    sink_ = sink;
  }
  const RasterSetup& Setup() const { return setup_; }

  // Screen-space vertices. `cull` false for primitives that have no facing (point sprites).
  void Triangle(const RVertex& a, const RVertex& b, const RVertex& c, bool cull = true);
  // A line between screen-space vertices; `last` draws its last pixel.
  void Line(const RVertex& a, const RVertex& b, bool last);
  // A one-pixel point at a screen-space vertex.
  void Point(const RVertex& v);

 private:
  void Pixel(const RVertex& a, const RVertex& b, float t, int x, int y);
  void FlushBatch();

  RasterSetup setup_;
  FragmentSink* sink_ = nullptr;
  FragmentBatch batch_;
};

// Screen coordinates are clamped to this range before they are snapped.
constexpr float kMaxCoord = 131072.f;
constexpr int kSubBits = 8;
constexpr int kSub = 1 << kSubBits;

// A coordinate on the 1/256-pixel grid, rounded to nearest with ties to even.
int64_t Snap(float v);
inline int64_t CeilSub(int64_t v) {
  return (v + kSub - 1) >> kSubBits;
}
inline int64_t FloorSub(int64_t v) {
  return v >> kSubBits;
}

}  // namespace d3d9
