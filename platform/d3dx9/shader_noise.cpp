// Perlin gradient noise with a fixed permutation, so every fill of a shader gives equal texels.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "d3dx9/shader_vm.h"

namespace vexa::shader {

namespace {

struct Permutation {
  uint8_t p[512];
  Permutation() {
    uint8_t base[256];
    for (int i = 0; i < 256; ++i) base[i] = uint8_t(i);
    // Fisher-Yates with a fixed xorshift sequence.
    uint32_t s = 0x9E3779B9u;
    for (int i = 255; i > 0; --i) {
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      std::swap(base[i], base[s % uint32_t(i + 1)]);
    }
    for (int i = 0; i < 512; ++i) p[i] = base[i & 255];
  }
};

const uint8_t* Perm() {
  static const Permutation table;
  return table.p;
}

inline float Fade(float t) {
  return t * t * t * (t * (t * 6.f - 15.f) + 10.f);
}
inline float Mix(float a, float b, float t) {
  return a + t * (b - a);
}

// Lattice cell of x, kept in range for huge or non-finite inputs.
inline int Cell(float x, float* frac) {
  if (!std::isfinite(x)) {
    *frac = 0;
    return 0;
  }
  float f = std::floor(x);
  *frac = x - f;
  double wrapped = std::fmod(double(f), 256.0);
  if (wrapped < 0) wrapped += 256.0;
  return int(wrapped) & 255;
}

inline float Grad1(int h, float x) {
  float g = 1.f + float(h & 7);  // 1..8
  return ((h & 8) ? -g : g) * x / 8.f;
}
inline float Grad2(int h, float x, float y) {
  switch (h & 7) {
    case 0:
      return x + y;
    case 1:
      return -x + y;
    case 2:
      return x - y;
    case 3:
      return -x - y;
    case 4:
      return x;
    case 5:
      return -x;
    case 6:
      return y;
    default:
      return -y;
  }
}
inline float Grad3(int h, float x, float y, float z) {
  h &= 15;
  float u = h < 8 ? x : y;
  float v = h < 4 ? y : (h == 12 || h == 14) ? x : z;
  return ((h & 1) ? -u : u) + ((h & 2) ? -v : v);
}

inline float Clamp1(float v) {
  return v < -1.f ? -1.f : v > 1.f ? 1.f : v;
}

}  // namespace

float Noise1(float x) {
  const uint8_t* p = Perm();
  float fx;
  int X = Cell(x, &fx);
  float u = Fade(fx);
  // The largest 1D value is 0.5 (slope 1 at both ends meeting half way): scale to [-1, 1].
  return Clamp1(2.f * Mix(Grad1(p[X], fx), Grad1(p[X + 1], fx - 1.f), u));
}

float Noise2(float x, float y) {
  const uint8_t* p = Perm();
  float fx, fy;
  int X = Cell(x, &fx), Y = Cell(y, &fy);
  float u = Fade(fx), v = Fade(fy);
  int aa = p[p[X] + Y], ab = p[p[X] + Y + 1], ba = p[p[X + 1] + Y], bb = p[p[X + 1] + Y + 1];
  float r = Mix(Mix(Grad2(aa, fx, fy), Grad2(ba, fx - 1.f, fy), u),
                Mix(Grad2(ab, fx, fy - 1.f), Grad2(bb, fx - 1.f, fy - 1.f), u), v);
  return Clamp1(r);
}

float Noise3(float x, float y, float z) {
  const uint8_t* p = Perm();
  float fx, fy, fz;
  int X = Cell(x, &fx), Y = Cell(y, &fy), Z = Cell(z, &fz);
  float u = Fade(fx), v = Fade(fy), w = Fade(fz);
  int A = p[X] + Y, AA = p[A] + Z, AB = p[A + 1] + Z;
  int B = p[X + 1] + Y, BA = p[B] + Z, BB = p[B + 1] + Z;
  float r = Mix(
      Mix(Mix(Grad3(p[AA], fx, fy, fz), Grad3(p[BA], fx - 1, fy, fz), u),
          Mix(Grad3(p[AB], fx, fy - 1, fz), Grad3(p[BB], fx - 1, fy - 1, fz), u), v),
      Mix(Mix(Grad3(p[AA + 1], fx, fy, fz - 1), Grad3(p[BA + 1], fx - 1, fy, fz - 1), u),
          Mix(Grad3(p[AB + 1], fx, fy - 1, fz - 1), Grad3(p[BB + 1], fx - 1, fy - 1, fz - 1), u),
          v),
      w);
  return Clamp1(r);
}

}  // namespace vexa::shader
