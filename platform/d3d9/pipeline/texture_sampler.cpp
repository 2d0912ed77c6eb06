// Sampling. Bilinear weights are quantised to 1/256, so sampling at a texel centre returns that
// texel exactly even when the coordinate carries rounding noise.
#include "d3d9/pipeline/texture_sampler.h"

#include <cmath>

#include "d3d9/d3d9_texture.h"

namespace d3d9 {

namespace {

uint32_t Bilinear(const SamplerView& view, const TextureUnit& unit, float u, float v, DWORD au,
                  DWORD av, bool linear) {
  float fu = u * static_cast<float>(view.width);
  float fv = v * static_cast<float>(view.height);
  // Absurd or undefined coordinates sample somewhere harmless instead of overflowing.
  if (!(std::fabs(fu) < 1e7f)) fu = 0.f;
  if (!(std::fabs(fv) < 1e7f)) fv = 0.f;
  if (!linear)
    return Load(view, unit.border, Address(FloorToInt(fu), view.width, au),
                Address(FloorToInt(fv), view.height, av));
  fu -= 0.5f;
  fv -= 0.5f;
  int x0 = FloorToInt(fu), y0 = FloorToInt(fv);
  // The fractions lie in [0, 1): rounding by adding a half is exact enough and cheap.
  int wx = static_cast<int>((fu - static_cast<float>(x0)) * 256.f + 0.5f);
  int wy = static_cast<int>((fv - static_cast<float>(y0)) * 256.f + 0.5f);
  if (wx >= 256) {
    ++x0;
    wx = 0;
  }
  if (wy >= 256) {
    ++y0;
    wy = 0;
  }
  if (wx <= 0) wx = 0;
  if (wy <= 0) wy = 0;
  if (wx == 0 && wy == 0)
    return Load(view, unit.border, Address(x0, view.width, au), Address(y0, view.height, av));
  int xa = Address(x0, view.width, au), xb = Address(x0 + 1, view.width, au);
  int ya = Address(y0, view.height, av), yb = Address(y0 + 1, view.height, av);
  uint32_t c00 = Load(view, unit.border, xa, ya), c10 = Load(view, unit.border, xb, ya);
  uint32_t c01 = Load(view, unit.border, xa, yb), c11 = Load(view, unit.border, xb, yb);
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    int top =
        static_cast<int>((c00 >> s) & 255) * (256 - wx) + static_cast<int>((c10 >> s) & 255) * wx;
    int bot =
        static_cast<int>((c01 >> s) & 255) * (256 - wx) + static_cast<int>((c11 >> s) & 255) * wx;
    out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << s;
  }
  return out;
}

uint32_t Mix(uint32_t a, uint32_t b, int w) {
  if (w <= 0) return a;
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    const int ca = static_cast<int>((a >> s) & 255), cb = static_cast<int>((b >> s) & 255);
    out |= static_cast<uint32_t>((ca * (256 - w) + cb * w + 128) >> 8) << s;
  }
  return out;
}

}  // namespace

SamplerView ViewOf(const TextureImage* texture, int face, int level) {
  const SurfaceStore& l = texture->Level(face, static_cast<UINT>(level))->store;
  return SamplerView{l.bits.data(),
                     l.pitch,
                     static_cast<int>(l.width),
                     static_cast<int>(l.height),
                     l.format,
                     l.format == D3DFMT_A8R8G8B8 || l.format == D3DFMT_X8R8G8B8,
                     l.format == D3DFMT_X8R8G8B8};
}

namespace {

// Bilinear's arithmetic for 32-bit ARGB texels under WRAP on power-of-two sizes or CLAMP, with
// the address mode decided once per sample rather than per texel.
template <bool Wrap>
__attribute__((always_inline)) inline uint32_t FastSample(const SamplerView& view, float u, float v,
                                                          bool linear) {
  float fu = u * static_cast<float>(view.width);
  float fv = v * static_cast<float>(view.height);
  if (!(std::fabs(fu) < 1e7f)) fu = 0.f;
  if (!(std::fabs(fv) < 1e7f)) fv = 0.f;
  const int w = view.width, h = view.height;
  auto addr = [](int i, int n) {
    if (Wrap) return i & (n - 1);
    return i < 0 ? 0 : (i >= n ? n - 1 : i);
  };
  const uint32_t alpha = view.xrgb ? 0xFF000000u : 0u;
  auto load = [&](int x, int y) {
    uint32_t c;
    std::memcpy(&c, view.bits + static_cast<size_t>(y) * view.pitch + static_cast<size_t>(x) * 4,
                4);
    return c | alpha;
  };
  if (!linear) return load(addr(FloorToInt(fu), w), addr(FloorToInt(fv), h));
  fu -= 0.5f;
  fv -= 0.5f;
  int x0 = FloorToInt(fu), y0 = FloorToInt(fv);
  int wx = static_cast<int>((fu - static_cast<float>(x0)) * 256.f + 0.5f);
  int wy = static_cast<int>((fv - static_cast<float>(y0)) * 256.f + 0.5f);
  if (wx >= 256) {
    ++x0;
    wx = 0;
  }
  if (wy >= 256) {
    ++y0;
    wy = 0;
  }
  if (wx <= 0) wx = 0;
  if (wy <= 0) wy = 0;
  const int xa = addr(x0, w), ya = addr(y0, h);
  if (wx == 0 && wy == 0) return load(xa, ya);
  const int xb = addr(x0 + 1, w), yb = addr(y0 + 1, h);
  const uint32_t c00 = load(xa, ya), c10 = load(xb, ya), c01 = load(xa, yb), c11 = load(xb, yb);
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    const int top =
        static_cast<int>((c00 >> s) & 255) * (256 - wx) + static_cast<int>((c10 >> s) & 255) * wx;
    const int bot =
        static_cast<int>((c01 >> s) & 255) * (256 - wx) + static_cast<int>((c11 >> s) & 255) * wx;
    out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << s;
  }
  return out;
}

bool PowerOfTwo(int n) {
  return n > 0 && (n & (n - 1)) == 0;
}

}  // namespace

uint32_t Sample2D(const TextureUnit& unit, float u, float v) {
  const SamplerView& view = unit.view;
  const bool blended = unit.level2 >= 0;
  if (unit.shortcut && view.argb32 && unit.addressU == unit.addressV &&
      (!blended || unit.view2.argb32)) {
    if (unit.addressU == D3DTADDRESS_CLAMP) {
      const uint32_t c = FastSample<false>(view, u, v, unit.linear);
      return blended ? Mix(c, FastSample<false>(unit.view2, u, v, unit.linear), unit.blend2) : c;
    }
    if (unit.addressU == D3DTADDRESS_WRAP && PowerOfTwo(view.width) && PowerOfTwo(view.height) &&
        (!blended || (PowerOfTwo(unit.view2.width) && PowerOfTwo(unit.view2.height)))) {
      const uint32_t c = FastSample<true>(view, u, v, unit.linear);
      return blended ? Mix(c, FastSample<true>(unit.view2, u, v, unit.linear), unit.blend2) : c;
    }
  }
  const uint32_t c = Bilinear(unit.view, unit, u, v, unit.addressU, unit.addressV, unit.linear);
  if (unit.level2 < 0) return c;
  return Mix(c, Bilinear(unit.view2, unit, u, v, unit.addressU, unit.addressV, unit.linear),
             unit.blend2);
}

uint32_t SampleCube(const TextureUnit& unit, float x, float y, float z) {
  // The face of the major axis, and the coordinates on it (Direct3D's cube-map layout).
  const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
  int face;
  float sc, tc, ma;
  if (ax >= ay && ax >= az) {
    face = x >= 0.f ? 0 : 1;
    ma = ax;
    sc = x >= 0.f ? -z : z;
    tc = -y;
  } else if (ay >= az) {
    face = y >= 0.f ? 2 : 3;
    ma = ay;
    sc = x;
    tc = y >= 0.f ? z : -z;
  } else {
    face = z >= 0.f ? 4 : 5;
    ma = az;
    sc = z >= 0.f ? x : -x;
    tc = -y;
  }
  if (!(ma > 0.f)) return Sample2D(unit, 0.5f, 0.5f);
  const float u = 0.5f * (sc / ma + 1.f), v = 0.5f * (tc / ma + 1.f);
  // Faces meet at their edges: coordinates clamp to the face.
  const SamplerView view = ViewOf(unit.texture, face, unit.level);
  const uint32_t c = Bilinear(view, unit, u, v, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP, unit.linear);
  if (unit.level2 < 0) return c;
  const SamplerView view2 = ViewOf(unit.texture, face, unit.level2);
  return Mix(c, Bilinear(view2, unit, u, v, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP, unit.linear),
             unit.blend2);
}

}  // namespace d3d9
