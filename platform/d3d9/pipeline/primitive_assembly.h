// Primitive assembly: vertices into triangles, lines and points by topology and indices;
// clipping in clip space (near, far, a guard band and the user's clip planes); the viewport
// transform; points widened into squares.
#pragma once

#include "d3d9/pipeline/pipeline_state.h"
#include "d3d9/pipeline/rasterizer.h"

namespace d3d9 {

class PrimitiveAssembler {
 public:
  // `stages`: texture coordinate slots point sprites spread over the square.
  // `shaderPlanes`: a vertex shader runs, and the user's clip planes are in clip space already.
  void Configure(const DeviceState& s, int stages, bool shaderPlanes);
  // Assembles `prims` primitives from the transformed vertices [0, count) and hands them to the
  // rasteriser. Indices (if any) are relative to `minIndex`; an index outside the vertices drops
  // its primitive.
  void Draw(D3DPRIMITIVETYPE type, UINT prims, RVertex* v, UINT count, const void* indices,
            bool i32, UINT minIndex, Rasterizer& raster);
  // Clip space to the viewport (w becomes 1 / w).
  void ToScreen(RVertex* v) const;
  bool Pretransformed() const { return pretransformed_; }

 private:
  void Triangle(const RVertex& a, const RVertex& b, const RVertex& c, Rasterizer& raster);
  void Line(const RVertex& a, const RVertex& b, bool last, Rasterizer& raster);
  void Point(const RVertex& v, Rasterizer& raster);
  int OutCode(const RVertex& v) const;
  float Distance(const RVertex& v, int plane) const;

  D3DVIEWPORT9 viewport_{};
  bool pretransformed_ = false;
  bool pointSprites_ = false;
  int stages_ = 0;
  int planes_ = 6;               // near, far, four guard-band planes, then the user's
  float userPlanes_[6][4] = {};  // in clip space
};

}  // namespace d3d9
