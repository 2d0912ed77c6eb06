// Output merging: alpha test, stencil test and operations, depth test and write, fog, alpha
// blending and the masked write into the render target.
#pragma once

#include <algorithm>
#include <cstring>

#include "d3d9/pixel_format.h"
#include "d3d9/pipeline/pipeline_state.h"

namespace d3d9 {

inline bool Compare(DWORD func, uint32_t a, uint32_t b) {
  switch (func) {
    case D3DCMP_NEVER:
      return false;
    case D3DCMP_LESS:
      return a < b;
    case D3DCMP_EQUAL:
      return a == b;
    case D3DCMP_LESSEQUAL:
      return a <= b;
    case D3DCMP_GREATER:
      return a > b;
    case D3DCMP_NOTEQUAL:
      return a != b;
    case D3DCMP_GREATEREQUAL:
      return a >= b;
    default:
      return true;
  }
}

// How a depth-stencil format stores a pixel.
enum class DepthStore {
  None,
  D16,   // 16-bit depth
  D24,   // depth in the high 24 bits of a 32-bit word, stencil (or nothing) in the low 8
  D32,   // 32-bit integer depth
  D32F,  // 32-bit float depth (non-negative floats compare like their bits)
};

// A depth-stencil pixel being tested: where it is, the new depth and what is stored.
struct DepthAccess {
  uint8_t* at = nullptr;
  uint32_t value = 0;
  uint32_t stored = 0;
};

struct StencilSide {
  DWORD func = D3DCMP_ALWAYS;
  DWORD fail = D3DSTENCILOP_KEEP, zfail = D3DSTENCILOP_KEEP, pass = D3DSTENCILOP_KEEP;
};

class OutputMerger {
 public:
  // `fast`: whole 2 x 2 quads may be tested and written four pixels at a time.
  void Configure(const DeviceState& s, bool vertexFog, bool fast);

  // The drawable rectangle: viewport, scissor and the depth buffer's size.
  int ClipX0() const { return clipX0_; }
  int ClipY0() const { return clipY0_; }
  int ClipX1() const { return clipX1_; }
  int ClipY1() const { return clipY1_; }
  bool DepthTesting() const { return zTest_; }
  bool Stencil() const { return stencil_; }
  bool Fog() const { return fog_; }
  // Whether fog needs each fragment's distance from the eye (pixel fog on w).
  bool FogOnEye() const { return fog_ && tableFog_ != 0 && fogOnW_; }
  bool FogFromVertices() const { return fog_ && tableFog_ == 0; }
  void SetFogOnW(bool w) { fogOnW_ = w; }

  // Removes lanes that fail the depth test before they are shaded, when nothing else depends on
  // them (no stencil). Returns false, doing nothing, when the depth test must wait for Merge.
  bool EarlyDepth(FragmentBatch& b) const;
  // Tests and writes the live lanes of a shaded batch. `depthDone`: EarlyDepth already tested.
  void Merge(FragmentBatch& b, bool depthDone) const;

  // --- Per-pixel steps, shared with the fast paths ---
  bool AlphaTest(uint32_t colour) const {
    return !alphaTest_ || Compare(alphaFunc_, colour >> 24, static_cast<uint32_t>(alphaRef_));
  }
  __attribute__((always_inline)) bool DepthTest(int x, int y, float z, DepthAccess* d) const {
    if (!zTest_) return true;
    Locate(x, y, z, d);
    return Compare(zFunc_, d->value, d->stored);
  }
  void DepthWrite(const DepthAccess& d) const {
    if (zWrite_) StoreDepth(d);
  }
  void WriteColour(int x, int y, uint32_t src) const;
  // A pixel shader's unclamped colour into a floating-point target, blended in floating point.
  void WriteColourFloat(int x, int y, const float src[4]) const;
  // Pixel shaders of model 3 do their own fog.
  void DisableFog() {
    fog_ = false;
    ChooseBlendKind();
  }

  bool AlphaTesting() const { return alphaTest_; }
  DWORD AlphaFunc() const { return alphaFunc_; }
  uint32_t AlphaRef() const { return static_cast<uint32_t>(alphaRef_); }

  enum class Blend { General, None, SrcAlpha, Add };  // Add: ONE, ONE, ADD
  Blend BlendKind() const { return blendKind_; }
  // The shortcut the state allows (General when fog or a write mask is involved).
  void ChooseBlendKind();
  bool Target32() const { return color32_; }
  D3DFORMAT TargetFormat() const { return colorFormat_; }
  uint8_t* TargetRow(int y) const { return color_ + static_cast<size_t>(y) * colorPitch_; }

 private:
  void Locate(int x, int y, float z, DepthAccess* d) const;
  uint8_t* DepthAt16(int x, int y) const {
    return depth_ + static_cast<size_t>(y) * depthPitch_ + static_cast<size_t>(x) * 2;
  }
  void StoreDepth(const DepthAccess& d) const;
  uint32_t Stencil(const DepthAccess& d) const;
  void StoreStencil(const DepthAccess& d, uint32_t value) const;
  uint32_t StencilOp(DWORD op, uint32_t s) const;
  uint32_t ApplyFog(uint32_t colour, float factor) const;

  // Target.
  uint8_t* color_ = nullptr;
  int colorPitch_ = 0;
  D3DFORMAT colorFormat_ = D3DFMT_UNKNOWN;
  bool color32_ = false;  // A8R8G8B8 / X8R8G8B8
  bool colorFloat_ = false;
  uint8_t* depth_ = nullptr;
  int depthPitch_ = 0;
  DepthStore depthStore_ = DepthStore::None;
  int clipX0_ = 0, clipY0_ = 0, clipX1_ = 0, clipY1_ = 0;
  // Depth.
  bool zTest_ = false, zWrite_ = false;
  DWORD zFunc_ = D3DCMP_LESSEQUAL;
  // Stencil.
  bool stencil_ = false;
  bool twoSided_ = false;
  uint32_t stencilMax_ = 0;  // (1 << bits) - 1
  uint32_t stencilRef_ = 0, stencilMask_ = 0, stencilWriteMask_ = 0;
  StencilSide front_, back_;
  // Alpha test.
  bool alphaTest_ = false;
  DWORD alphaFunc_ = D3DCMP_ALWAYS;
  int alphaRef_ = 0;
  // Fog.
  bool fog_ = false;
  DWORD tableFog_ = 0;  // D3DFOG_* of pixel fog, 0 for vertex fog
  bool fogOnW_ = false;
  uint32_t fogColour_ = 0;
  float fogStart_ = 0, fogEnd_ = 1, fogDensity_ = 1;
  // Blending.
  bool blend_ = false;
  DWORD srcBlend_ = D3DBLEND_ONE, dstBlend_ = D3DBLEND_ZERO, blendOp_ = D3DBLENDOP_ADD;
  bool separateAlpha_ = false;
  DWORD srcBlendAlpha_ = D3DBLEND_ONE, dstBlendAlpha_ = D3DBLEND_ZERO,
        blendOpAlpha_ = D3DBLENDOP_ADD;
  uint32_t blendFactor_ = 0xFFFFFFFF;
  uint32_t writeMask_ = 0xFFFFFFFF;  // per-byte mask of the ARGB value
  Blend blendKind_ = Blend::General;
  bool quadWrites_ = true;
};

// The depth value a format stores for z in 0..1.
inline uint32_t QuantizeDepth(float z, DepthStore store) {
  z = z < 0.f ? 0.f : (z > 1.f ? 1.f : z);
  if (!(z == z)) z = 0.f;
  switch (store) {
    case DepthStore::D16:
      return static_cast<uint32_t>(z * 65535.f + 0.5f);
    case DepthStore::D24:
      return static_cast<uint32_t>(static_cast<double>(z) * 16777215.0 + 0.5);
    case DepthStore::D32F: {
      uint32_t bits;
      std::memcpy(&bits, &z, 4);
      return bits;
    }
    default:
      return static_cast<uint32_t>(static_cast<double>(z) * 4294967295.0 + 0.5);
  }
}

// How `format` stores depth and how many stencil bits it has.
DepthStore DepthStoreOf(D3DFORMAT format, int* stencilBits);

}  // namespace d3d9
