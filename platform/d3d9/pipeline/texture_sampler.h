// Texture sampling for the pixel stage: addressing, point and bilinear filtering, mip levels
// (nearest or blended) and cube faces.
#pragma once

#include <cstdint>
#include <cstring>

#include "d3d9/pixel_format.h"
#include "d3d9/pipeline/pipeline_state.h"

namespace d3d9 {

class TextureImage;

// One mip level as sampling reads it.
struct SamplerView {
  const uint8_t* bits = nullptr;
  int pitch = 0;
  int width = 0;
  int height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  bool argb32 = false;  // A8R8G8B8 or X8R8G8B8: read directly
  bool xrgb = false;
};

// A texture bound to a stage with its sampler state, and the levels chosen for the primitive
// being drawn.
struct TextureUnit {
  TextureImage* texture = nullptr;
  bool cube = false;
  DWORD addressU = D3DTADDRESS_WRAP, addressV = D3DTADDRESS_WRAP;
  D3DCOLOR border = 0;
  DWORD magFilter = D3DTEXF_POINT, minFilter = D3DTEXF_POINT, mipFilter = D3DTEXF_NONE;
  DWORD maxMipLevel = 0;
  float mipBias = 0.f;
  // For the current primitive.
  int level = 0;    // first level sampled
  int level2 = -1;  // second level blended in (linear mip filter), -1 for none
  int blend2 = 0;   // weight of the second level, 0..256
  bool linear = false;
  bool shortcut = true;  // Sample2D may read 32-bit texels directly (off with the fast paths)
  SamplerView view;      // level `level` of face 0 (2D textures)
  SamplerView view2;     // level `level2` of face 0
};

// The view of one level of one face.
SamplerView ViewOf(const TextureImage* texture, int face, int level);

// A 2D sample at normalised coordinates (u, v) as A8R8G8B8.
uint32_t Sample2D(const TextureUnit& unit, float u, float v);
// How Sample2D reads a unit's 32-bit texels directly: 0 not at all, 1 clamped, 2 wrapped.
int DirectReads(const TextureUnit& unit);
// Sample2D for eight lanes at once (AVX2), where the unit is read directly and the processor
// allows; false, with nothing written, otherwise.
bool Sample2DEight(const TextureUnit& unit, const float* u, const float* v, uint32_t* out);
// A cube sample in the direction (x, y, z).
uint32_t SampleCube(const TextureUnit& unit, float x, float y, float z);

// --- Helpers shared with the fast paths ---------------------------------------------------------

inline int FloorToInt(float f) {
  if (!(f > -1e8f)) return -100000000;  // also catches NaN
  if (f > 1e8f) return 100000000;
  int i = static_cast<int>(f);
  return static_cast<float>(i) > f ? i - 1 : i;
}

__attribute__((always_inline)) inline int Address(int i, int n, DWORD mode) {
  switch (mode) {
    case D3DTADDRESS_CLAMP:
      return i < 0 ? 0 : (i >= n ? n - 1 : i);
    case D3DTADDRESS_MIRROR: {
      int p = i % (2 * n);
      if (p < 0) p += 2 * n;
      return p < n ? p : 2 * n - 1 - p;
    }
    case D3DTADDRESS_BORDER:
      return (i < 0 || i >= n) ? -1 : i;
    case D3DTADDRESS_MIRRORONCE: {
      int a = i < 0 ? -i - 1 : i;
      return a >= n ? n - 1 : a;
    }
    default: {  // WRAP
      int p = i % n;
      return p < 0 ? p + n : p;
    }
  }
}

// A texel at addressed coordinates (-1 for the border).
__attribute__((always_inline)) inline uint32_t Load(const SamplerView& v, D3DCOLOR border, int x,
                                                    int y) {
  if (x < 0 || y < 0) return border;
  const uint8_t* p = v.bits + static_cast<size_t>(y) * v.pitch;
  if (v.argb32) {
    uint32_t c;
    std::memcpy(&c, p + static_cast<size_t>(x) * 4, 4);
    return v.xrgb ? (c | 0xFF000000u) : c;
  }
  return ReadPixelArgb(v.format, p + static_cast<size_t>(x) * FormatBytesPerPixel(v.format));
}

__attribute__((always_inline)) inline uint32_t Fetch(const TextureUnit& unit, int x, int y) {
  const SamplerView& v = unit.view;
  return Load(v, unit.border, Address(x, v.width, unit.addressU),
              Address(y, v.height, unit.addressV));
}

}  // namespace d3d9
