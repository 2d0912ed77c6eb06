// Output merging in Direct3D 9's order: alpha test, stencil and depth tests with their stencil
// operations, depth write, fog, blending and the masked write.
#include "d3d9/pipeline/colour_math.h"
#include "d3d9/pipeline/output_merger.h"

#include <cmath>

#include <emmintrin.h>

#include "d3d9/d3d9_surface.h"
#include "d3d9/pipeline/vertex_processing.h"

namespace d3d9 {

namespace {

float Bits(DWORD d) {
  float f;
  std::memcpy(&f, &d, 4);
  return f;
}

inline C4 BlendFactor(DWORD f, const C4& s, const C4& d, const C4& k) {
  switch (f) {
    case D3DBLEND_ZERO:
      return C4{0, 0, 0, 0};
    case D3DBLEND_SRCCOLOR:
      return s;
    case D3DBLEND_INVSRCCOLOR:
      return C4{255 - s.r, 255 - s.g, 255 - s.b, 255 - s.a};
    case D3DBLEND_SRCALPHA:
      return C4{s.a, s.a, s.a, s.a};
    case D3DBLEND_INVSRCALPHA:
      return C4{255 - s.a, 255 - s.a, 255 - s.a, 255 - s.a};
    case D3DBLEND_DESTALPHA:
      return C4{d.a, d.a, d.a, d.a};
    case D3DBLEND_INVDESTALPHA:
      return C4{255 - d.a, 255 - d.a, 255 - d.a, 255 - d.a};
    case D3DBLEND_DESTCOLOR:
      return d;
    case D3DBLEND_INVDESTCOLOR:
      return C4{255 - d.r, 255 - d.g, 255 - d.b, 255 - d.a};
    case D3DBLEND_SRCALPHASAT: {
      int v = std::min(s.a, 255 - d.a);
      return C4{v, v, v, 255};
    }
    case D3DBLEND_BLENDFACTOR:
      return k;
    case D3DBLEND_INVBLENDFACTOR:
      return C4{255 - k.r, 255 - k.g, 255 - k.b, 255 - k.a};
    default:  // ONE
      return C4{255, 255, 255, 255};
  }
}

inline int BlendChannel(DWORD op, int s, int fs, int d, int fd) {
  switch (op) {
    case D3DBLENDOP_SUBTRACT:
      return Clamp255((s * fs - d * fd + 127) / 255);
    case D3DBLENDOP_REVSUBTRACT:
      return Clamp255((d * fd - s * fs + 127) / 255);
    case D3DBLENDOP_MIN:
      return std::min(s, d);
    case D3DBLENDOP_MAX:
      return std::max(s, d);
    default:
      return std::min(255, (s * fs + d * fd + 127) / 255);
  }
}

}  // namespace

DepthStore DepthStoreOf(D3DFORMAT format, int* stencilBits) {
  *stencilBits = 0;
  switch (format) {
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE:
      return DepthStore::D16;
    case D3DFMT_D24S8:
      *stencilBits = 8;
      return DepthStore::D24;
    case D3DFMT_D24X4S4:
      *stencilBits = 4;
      return DepthStore::D24;
    case D3DFMT_D24X8:
      return DepthStore::D24;
    case D3DFMT_D32:
      return DepthStore::D32;
    case D3DFMT_D32F_LOCKABLE:
      return DepthStore::D32F;
    default:
      return DepthStore::None;
  }
}

void OutputMerger::Configure(const DeviceState& s, bool vertexFog, bool fast) {
  quadWrites_ = fast;
  const DWORD* rs = s.rs;
  SurfaceStore& rt = s.renderTarget->store;
  color_ = rt.bits.data();
  colorPitch_ = rt.pitch;
  colorFormat_ = rt.format;
  color32_ = rt.format == D3DFMT_A8R8G8B8 || rt.format == D3DFMT_X8R8G8B8;
  colorFloat_ = FormatIsFloat(rt.format);
  clipX0_ = static_cast<int>(s.viewport.X);
  clipY0_ = static_cast<int>(s.viewport.Y);
  clipX1_ = std::min(static_cast<int>(s.viewport.X + s.viewport.Width), static_cast<int>(rt.width));
  clipY1_ =
      std::min(static_cast<int>(s.viewport.Y + s.viewport.Height), static_cast<int>(rt.height));
  if (rs[D3DRS_SCISSORTESTENABLE]) {
    clipX0_ = std::max(clipX0_, static_cast<int>(s.scissor.left));
    clipY0_ = std::max(clipY0_, static_cast<int>(s.scissor.top));
    clipX1_ = std::min(clipX1_, static_cast<int>(s.scissor.right));
    clipY1_ = std::min(clipY1_, static_cast<int>(s.scissor.bottom));
  }
  depth_ = nullptr;
  depthStore_ = DepthStore::None;
  int stencilBits = 0;
  if (s.depthStencil) {
    SurfaceStore& ds = s.depthStencil->store;
    depthStore_ = DepthStoreOf(ds.format, &stencilBits);
    depth_ = ds.bits.data();
    depthPitch_ = ds.pitch;
    // A depth buffer smaller than the target limits drawing to its size.
    clipX1_ = std::min(clipX1_, static_cast<int>(ds.width));
    clipY1_ = std::min(clipY1_, static_cast<int>(ds.height));
  }
  zTest_ = depth_ != nullptr && rs[D3DRS_ZENABLE] != D3DZB_FALSE && depthStore_ != DepthStore::None;
  zWrite_ = zTest_ && rs[D3DRS_ZWRITEENABLE];
  zFunc_ = rs[D3DRS_ZFUNC];
  stencil_ = depth_ != nullptr && stencilBits > 0 && rs[D3DRS_STENCILENABLE] != 0;
  stencilMax_ = stencilBits ? (1u << stencilBits) - 1 : 0;
  stencilRef_ = rs[D3DRS_STENCILREF] & stencilMax_;
  stencilMask_ = rs[D3DRS_STENCILMASK] & stencilMax_;
  stencilWriteMask_ = rs[D3DRS_STENCILWRITEMASK] & stencilMax_;
  front_ = StencilSide{rs[D3DRS_STENCILFUNC], rs[D3DRS_STENCILFAIL], rs[D3DRS_STENCILZFAIL],
                       rs[D3DRS_STENCILPASS]};
  twoSided_ = rs[D3DRS_TWOSIDEDSTENCILMODE] != 0;
  back_ = twoSided_ ? StencilSide{rs[D3DRS_CCW_STENCILFUNC], rs[D3DRS_CCW_STENCILFAIL],
                                  rs[D3DRS_CCW_STENCILZFAIL], rs[D3DRS_CCW_STENCILPASS]}
                    : front_;
  alphaTest_ = rs[D3DRS_ALPHATESTENABLE] != 0;
  alphaFunc_ = rs[D3DRS_ALPHAFUNC];
  alphaRef_ = static_cast<int>(rs[D3DRS_ALPHAREF] & 0xFF);
  fog_ = rs[D3DRS_FOGENABLE] != 0;
  tableFog_ = rs[D3DRS_FOGTABLEMODE] <= D3DFOG_LINEAR ? rs[D3DRS_FOGTABLEMODE] : 0;
  // Vertex fog needs a factor from the vertices; without one nothing is fogged.
  if (fog_ && tableFog_ == 0 && !vertexFog) fog_ = false;
  fogColour_ = rs[D3DRS_FOGCOLOR];
  fogStart_ = Bits(rs[D3DRS_FOGSTART]);
  fogEnd_ = Bits(rs[D3DRS_FOGEND]);
  fogDensity_ = Bits(rs[D3DRS_FOGDENSITY]);
  blend_ = rs[D3DRS_ALPHABLENDENABLE] != 0;
  srcBlend_ = rs[D3DRS_SRCBLEND];
  dstBlend_ = rs[D3DRS_DESTBLEND];
  blendOp_ = rs[D3DRS_BLENDOP];
  separateAlpha_ = rs[D3DRS_SEPARATEALPHABLENDENABLE] != 0;
  srcBlendAlpha_ = rs[D3DRS_SRCBLENDALPHA];
  dstBlendAlpha_ = rs[D3DRS_DESTBLENDALPHA];
  blendOpAlpha_ = rs[D3DRS_BLENDOPALPHA];
  blendFactor_ = rs[D3DRS_BLENDFACTOR];
  const DWORD cw = rs[D3DRS_COLORWRITEENABLE];
  writeMask_ = ((cw & D3DCOLORWRITEENABLE_RED) ? 0x00FF0000u : 0u) |
               ((cw & D3DCOLORWRITEENABLE_GREEN) ? 0x0000FF00u : 0u) |
               ((cw & D3DCOLORWRITEENABLE_BLUE) ? 0x000000FFu : 0u) |
               ((cw & D3DCOLORWRITEENABLE_ALPHA) ? 0xFF000000u : 0u);
  ChooseBlendKind();
}

void OutputMerger::Locate(int x, int y, float z, DepthAccess* d) const {
  d->value = QuantizeDepth(z, depthStore_);
  d->at = depth_ + static_cast<size_t>(y) * depthPitch_;
  if (depthStore_ == DepthStore::D16) {
    d->at += static_cast<size_t>(x) * 2;
    uint16_t v;
    std::memcpy(&v, d->at, 2);
    d->stored = v;
  } else {
    d->at += static_cast<size_t>(x) * 4;
    uint32_t v;
    std::memcpy(&v, d->at, 4);
    d->stored = depthStore_ == DepthStore::D24 ? (v >> 8) : v;
  }
}

void OutputMerger::StoreDepth(const DepthAccess& d) const {
  if (depthStore_ == DepthStore::D16) {
    const uint16_t v = static_cast<uint16_t>(d.value);
    std::memcpy(d.at, &v, 2);
  } else if (depthStore_ == DepthStore::D24) {
    uint32_t old;
    std::memcpy(&old, d.at, 4);
    const uint32_t v = (d.value << 8) | (old & 0xFF);
    std::memcpy(d.at, &v, 4);
  } else {
    std::memcpy(d.at, &d.value, 4);
  }
}

uint32_t OutputMerger::Stencil(const DepthAccess& d) const {
  uint32_t v;
  std::memcpy(&v, d.at, 4);
  return v & stencilMax_;
}

void OutputMerger::StoreStencil(const DepthAccess& d, uint32_t value) const {
  uint32_t v;
  std::memcpy(&v, d.at, 4);
  v = (v & ~stencilWriteMask_) | (value & stencilWriteMask_);
  std::memcpy(d.at, &v, 4);
}

uint32_t OutputMerger::StencilOp(DWORD op, uint32_t s) const {
  switch (op) {
    case D3DSTENCILOP_ZERO:
      return 0;
    case D3DSTENCILOP_REPLACE:
      return stencilRef_;
    case D3DSTENCILOP_INCRSAT:
      return s < stencilMax_ ? s + 1 : stencilMax_;
    case D3DSTENCILOP_DECRSAT:
      return s > 0 ? s - 1 : 0;
    case D3DSTENCILOP_INVERT:
      return ~s & stencilMax_;
    case D3DSTENCILOP_INCR:
      return (s + 1) & stencilMax_;
    case D3DSTENCILOP_DECR:
      return (s - 1) & stencilMax_;
    default:  // KEEP
      return s;
  }
}

uint32_t OutputMerger::ApplyFog(uint32_t colour, float factor) const {
  const int f = RoundToInt(std::clamp(factor, 0.f, 1.f) * 255.f);
  if (f >= 255) return colour;
  const C4 c = Unpack(colour), g = Unpack(fogColour_);
  auto mix = [f](int cc, int gg) { return (cc * f + gg * (255 - f) + 127) / 255; };
  return Pack(C4{mix(c.r, g.r), mix(c.g, g.g), mix(c.b, g.b), c.a});
}

namespace {

// QuantizeDepth for a 16-bit buffer, four lanes at once. maxps returns its second operand for
// NaN, so NaN becomes 0 as in the one-lane version.
inline __m128i QuantizeD16x4(const float* z) {
  const __m128 c = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(z), _mm_setzero_ps()), _mm_set1_ps(1.f));
  return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c, _mm_set1_ps(65535.f)), _mm_set1_ps(0.5f)));
}

// Compare() on four lanes of values below 2^31; returns a bit per lane that passes.
inline unsigned Compare4(DWORD func, __m128i a, __m128i b) {
  __m128i pass;
  switch (func) {
    case D3DCMP_NEVER:
      return 0;
    case D3DCMP_LESS:
      pass = _mm_cmplt_epi32(a, b);
      break;
    case D3DCMP_EQUAL:
      pass = _mm_cmpeq_epi32(a, b);
      break;
    case D3DCMP_LESSEQUAL:
      pass = _mm_andnot_si128(_mm_cmpgt_epi32(a, b), _mm_set1_epi32(-1));
      break;
    case D3DCMP_GREATER:
      pass = _mm_cmpgt_epi32(a, b);
      break;
    case D3DCMP_NOTEQUAL:
      pass = _mm_andnot_si128(_mm_cmpeq_epi32(a, b), _mm_set1_epi32(-1));
      break;
    case D3DCMP_GREATEREQUAL:
      pass = _mm_andnot_si128(_mm_cmplt_epi32(a, b), _mm_set1_epi32(-1));
      break;
    default:
      return 15;
  }
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(pass)));
}

// (s * a + d * (255 - a) + 127) / 255 on every byte of four A8R8G8B8 pixels, a being the source
// pixel's alpha. The sum stays below 2^16, where (x + 1 + (x >> 8)) >> 8 equals x / 255.
inline __m128i BlendSourceAlpha4(__m128i s, __m128i d) {
  const __m128i zero = _mm_setzero_si128();
  auto half = [](__m128i s16, __m128i d16) {
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, _MM_SHUFFLE(3, 3, 3, 3)),
                                          _MM_SHUFFLE(3, 3, 3, 3));
    const __m128i x =
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(s16, a),
                                    _mm_mullo_epi16(d16, _mm_sub_epi16(_mm_set1_epi16(255), a))),
                      _mm_set1_epi16(127));
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, _mm_set1_epi16(1)), _mm_srli_epi16(x, 8)),
                          8);
  };
  return _mm_packus_epi16(half(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero)),
                          half(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero)));
}

// The covered quads of a triangle's batch: lanes 4q .. 4q + 3 at (x, y), (x + 1, y), (x, y + 1),
// (x + 1, y + 1). Returns the lanes of the quads whose four pixels are all live.
inline uint64_t WholeQuads(const FragmentBatch& b, bool allowed) {
  if (!b.quads || !allowed) return 0;
  uint64_t whole = 0;
  for (int lane = 0; lane < b.lanes; lane += 4)
    if (((b.live >> lane) & 15) == 15) whole |= uint64_t{15} << lane;
  return whole;
}

}  // namespace

bool OutputMerger::EarlyDepth(FragmentBatch& b) const {
  if (!zTest_ || stencil_) return false;
  if (depthStore_ == DepthStore::D16) {
    // The common depth buffer, without the general lookup's format switch per pixel. A whole
    // quad reads its two rows as two words and is compared four lanes at once.
    const uint64_t whole = WholeQuads(b, quadWrites_);
    for (uint64_t quads = whole; quads;) {
      const int lane = __builtin_ctzll(quads);
      quads &= ~(uint64_t{15} << lane);
      uint32_t top, bottom;
      std::memcpy(&top, DepthAt16(b.x[lane], b.y[lane]), 4);
      std::memcpy(&bottom, DepthAt16(b.x[lane], b.y[lane] + 1), 4);
      const __m128i stored =
          _mm_unpacklo_epi16(_mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(top)),
                                                _mm_cvtsi32_si128(static_cast<int>(bottom))),
                             _mm_setzero_si128());
      const unsigned pass = Compare4(zFunc_, QuantizeD16x4(&b.z[lane]), stored);
      b.live &= ~(static_cast<uint64_t>(~pass & 15u) << lane);
    }
    for (uint64_t live = b.live & ~whole; live;) {
      const int lane = __builtin_ctzll(live);
      live &= live - 1;
      uint16_t stored;
      std::memcpy(&stored, DepthAt16(b.x[lane], b.y[lane]), 2);
      if (!Compare(zFunc_, QuantizeDepth(b.z[lane], DepthStore::D16), stored))
        b.live &= ~(uint64_t{1} << lane);
    }
    return true;
  }
  for (uint64_t live = b.live; live;) {
    const int lane = __builtin_ctzll(live);
    live &= live - 1;
    DepthAccess d;
    Locate(b.x[lane], b.y[lane], b.z[lane], &d);
    if (!Compare(zFunc_, d.value, d.stored)) b.live &= ~(uint64_t{1} << lane);
  }
  return true;
}

void OutputMerger::Merge(FragmentBatch& b, bool depthDone) const {
  const bool tableFog = fog_ && tableFog_ != 0;
  uint64_t rest = b.live;
  // Whole quads with nothing left to test (depth was tested early): their depth is written
  // without being read, and their colours two pixels per store, opaque or with the two common
  // blends into a 32-bit target, or a shadow map's one float.
  const bool argb = color32_ && blendKind_ != Blend::General;
  const bool r32f =
      b.floatColour && colorFormat_ == D3DFMT_R32F && !blend_ && (writeMask_ & 0x00FF0000u);
  if ((argb || r32f) && !alphaTest_ && !stencil_ &&
      (!zTest_ || (depthDone && depthStore_ == DepthStore::D16))) {
    const uint64_t whole = WholeQuads(b, quadWrites_);
    const uint32_t opaque = colorFormat_ == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(opaque));
    for (uint64_t quads = whole; quads;) {
      const int lane = __builtin_ctzll(quads);
      quads &= ~(uint64_t{15} << lane);
      const int x = b.x[lane], y = b.y[lane];
      if (zWrite_) {
        const __m128i d = QuantizeD16x4(&b.z[lane]);
        // Values below 2^16: packing with signed saturation would clip them, so shuffle.
        const __m128i lo = _mm_shufflelo_epi16(d, _MM_SHUFFLE(3, 1, 2, 0));
        const __m128i hi = _mm_shufflelo_epi16(_mm_srli_si128(d, 8), _MM_SHUFFLE(3, 1, 2, 0));
        const uint32_t top = static_cast<uint32_t>(_mm_cvtsi128_si32(lo)),
                       bottom = static_cast<uint32_t>(_mm_cvtsi128_si32(hi));
        std::memcpy(DepthAt16(x, y), &top, 4);
        std::memcpy(DepthAt16(x, y + 1), &bottom, 4);
      }
      uint8_t* top = TargetRow(y) + static_cast<size_t>(x) * 4;
      uint8_t* bottom = TargetRow(y + 1) + static_cast<size_t>(x) * 4;
      if (r32f) {
        std::memcpy(top, &b.colourF[0][lane], 8);
        std::memcpy(bottom, &b.colourF[0][lane + 2], 8);
        continue;
      }
      __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&b.colour[lane]));
      if (blendKind_ != Blend::None) {
        const __m128i d = _mm_or_si128(
            _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top)),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom))),
            alpha);
        c = blendKind_ == Blend::Add ? _mm_adds_epu8(c, d) : BlendSourceAlpha4(c, d);
      }
      c = _mm_or_si128(c, alpha);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(top), c);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(bottom), _mm_srli_si128(c, 8));
    }
    rest &= ~whole;
  }
  for (uint64_t live = rest; live;) {
    const int lane = __builtin_ctzll(live);
    live &= live - 1;
    const int x = b.x[lane], y = b.y[lane];
    uint32_t colour = b.colour[lane];
    if (!AlphaTest(colour)) continue;
    DepthAccess d;
    if (stencil_) {
      const StencilSide& side = b.backFacing ? back_ : front_;
      Locate(x, y, b.z[lane], &d);
      const uint32_t s = Stencil(d);
      if (!Compare(side.func, stencilRef_ & stencilMask_, s & stencilMask_)) {
        StoreStencil(d, StencilOp(side.fail, s));
        continue;
      }
      if (zTest_ && !Compare(zFunc_, d.value, d.stored)) {
        StoreStencil(d, StencilOp(side.zfail, s));
        continue;
      }
      StoreStencil(d, StencilOp(side.pass, s));
      if (zWrite_) StoreDepth(d);
    } else if (zTest_ && depthDone && depthStore_ == DepthStore::D16) {
      // Tested already: only the write is left, and it need not read the old value.
      if (zWrite_) {
        const uint16_t v = static_cast<uint16_t>(QuantizeDepth(b.z[lane], DepthStore::D16));
        std::memcpy(DepthAt16(x, y), &v, 2);
      }
    } else if (zTest_) {
      Locate(x, y, b.z[lane], &d);
      if (!depthDone && !Compare(zFunc_, d.value, d.stored)) continue;
      if (zWrite_) StoreDepth(d);
    }
    if (fog_) {
      float factor;
      if (tableFog)
        factor = FogFactor(static_cast<int>(tableFog_), fogOnW_ ? b.eye[lane] : b.z[lane],
                           fogStart_, fogEnd_, fogDensity_);
      else
        factor = b.attr[kAttrFog][lane];
      colour = ApplyFog(colour, factor);
    }
    if (b.floatColour && colorFloat_) {
      const float c[4] = {b.colourF[0][lane], b.colourF[1][lane], b.colourF[2][lane],
                          b.colourF[3][lane]};
      WriteColourFloat(x, y, c);
    } else {
      WriteColour(x, y, colour);
    }
  }
}

namespace {

float BlendFactorF(DWORD f, int channel, const float* s, const float* d, const float* k) {
  switch (f) {
    case D3DBLEND_ZERO:
      return 0.f;
    case D3DBLEND_SRCCOLOR:
      return s[channel];
    case D3DBLEND_INVSRCCOLOR:
      return 1.f - s[channel];
    case D3DBLEND_SRCALPHA:
      return s[3];
    case D3DBLEND_INVSRCALPHA:
      return 1.f - s[3];
    case D3DBLEND_DESTALPHA:
      return d[3];
    case D3DBLEND_INVDESTALPHA:
      return 1.f - d[3];
    case D3DBLEND_DESTCOLOR:
      return d[channel];
    case D3DBLEND_INVDESTCOLOR:
      return 1.f - d[channel];
    case D3DBLEND_SRCALPHASAT:
      return channel == 3 ? 1.f : std::min(s[3], 1.f - d[3]);
    case D3DBLEND_BLENDFACTOR:
      return k[channel];
    case D3DBLEND_INVBLENDFACTOR:
      return 1.f - k[channel];
    default:  // ONE
      return 1.f;
  }
}

float BlendChannelF(DWORD op, float s, float fs, float d, float fd) {
  switch (op) {
    case D3DBLENDOP_SUBTRACT:
      return s * fs - d * fd;
    case D3DBLENDOP_REVSUBTRACT:
      return d * fd - s * fs;
    case D3DBLENDOP_MIN:
      return std::min(s, d);
    case D3DBLENDOP_MAX:
      return std::max(s, d);
    default:
      return s * fs + d * fd;
  }
}

}  // namespace

void OutputMerger::ChooseBlendKind() {
  blendKind_ = Blend::General;
  if (writeMask_ != 0xFFFFFFFFu || fog_) return;
  if (!blend_)
    blendKind_ = Blend::None;
  else if (srcBlend_ == D3DBLEND_SRCALPHA && dstBlend_ == D3DBLEND_INVSRCALPHA &&
           blendOp_ == D3DBLENDOP_ADD && !separateAlpha_)
    blendKind_ = Blend::SrcAlpha;
  else if (srcBlend_ == D3DBLEND_ONE && dstBlend_ == D3DBLEND_ONE && blendOp_ == D3DBLENDOP_ADD &&
           !separateAlpha_)
    blendKind_ = Blend::Add;
}

void OutputMerger::WriteColourFloat(int x, int y, const float src[4]) const {
  uint8_t* px = color_ + static_cast<size_t>(y) * colorPitch_ +
                static_cast<size_t>(x) * FormatBytesPerPixel(colorFormat_);
  if (colorFormat_ == D3DFMT_R32F && !blend_ && (writeMask_ & 0x00FF0000u)) {
    // A shadow map's one float: nothing to blend or keep, so the old value is not read.
    std::memcpy(px, src, 4);
    return;
  }
  float dst[4];
  ReadPixelFloat4(colorFormat_, px, dst);
  float out[4] = {src[0], src[1], src[2], src[3]};
  if (blend_) {
    const float k[4] = {((blendFactor_ >> 16) & 255) / 255.f, ((blendFactor_ >> 8) & 255) / 255.f,
                        (blendFactor_ & 255) / 255.f, (blendFactor_ >> 24) / 255.f};
    DWORD sbf = srcBlend_, dbf = dstBlend_;
    if (sbf == D3DBLEND_BOTHSRCALPHA) {
      sbf = D3DBLEND_SRCALPHA;
      dbf = D3DBLEND_INVSRCALPHA;
    } else if (sbf == D3DBLEND_BOTHINVSRCALPHA) {
      sbf = D3DBLEND_INVSRCALPHA;
      dbf = D3DBLEND_SRCALPHA;
    }
    for (int c = 0; c < 4; ++c) {
      const bool alpha = c == 3 && separateAlpha_;
      const DWORD fs = alpha ? srcBlendAlpha_ : sbf, fd = alpha ? dstBlendAlpha_ : dbf;
      out[c] =
          BlendChannelF(alpha ? blendOpAlpha_ : blendOp_, src[c], BlendFactorF(fs, c, src, dst, k),
                        dst[c], BlendFactorF(fd, c, src, dst, k));
    }
  }
  // The write mask's bytes, red, green, blue, alpha.
  const uint32_t shifts[4] = {16, 8, 0, 24};
  for (int c = 0; c < 4; ++c)
    if (!((writeMask_ >> shifts[c]) & 0xFF)) out[c] = dst[c];
  WritePixelFloat4(colorFormat_, px, out);
}

void OutputMerger::WriteColour(int x, int y, uint32_t src) const {
  uint8_t* px = color_ + static_cast<size_t>(y) * colorPitch_;
  if (color32_ && blendKind_ != Blend::General) {
    px += static_cast<size_t>(x) * 4;
    uint32_t result = src;
    if (blendKind_ == Blend::Add) {
      // (s * 255 + d * 255 + 127) / 255 capped at 255 is the bytes' saturating sum.
      uint32_t dst;
      std::memcpy(&dst, px, 4);
      result = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_adds_epu8(
          _mm_cvtsi32_si128(static_cast<int>(src)), _mm_cvtsi32_si128(static_cast<int>(dst)))));
    } else if (blendKind_ == Blend::SrcAlpha) {
      uint32_t dst;
      std::memcpy(&dst, px, 4);
      if (colorFormat_ == D3DFMT_X8R8G8B8) dst |= 0xFF000000u;
      int a = static_cast<int>(src >> 24), ia = 255 - a;
      result = 0;
      for (int sh = 0; sh < 32; sh += 8) {
        int sc = static_cast<int>((src >> sh) & 255), dc = static_cast<int>((dst >> sh) & 255);
        result |= static_cast<uint32_t>((sc * a + dc * ia + 127) / 255) << sh;
      }
    }
    if (colorFormat_ == D3DFMT_X8R8G8B8) result |= 0xFF000000u;
    std::memcpy(px, &result, 4);
    return;
  }
  uint32_t dst;
  if (color32_) {
    px += static_cast<size_t>(x) * 4;
    std::memcpy(&dst, px, 4);
    if (colorFormat_ == D3DFMT_X8R8G8B8) dst |= 0xFF000000u;
  } else {
    px += static_cast<size_t>(x) * FormatBytesPerPixel(colorFormat_);
    dst = ReadPixelArgb(colorFormat_, px);
  }
  uint32_t result = src;
  if (blend_) {
    C4 s = Unpack(src), d = Unpack(dst), k = Unpack(blendFactor_);
    DWORD sbf = srcBlend_, dbf = dstBlend_;
    if (sbf == D3DBLEND_BOTHSRCALPHA) {
      sbf = D3DBLEND_SRCALPHA;
      dbf = D3DBLEND_INVSRCALPHA;
    } else if (sbf == D3DBLEND_BOTHINVSRCALPHA) {
      sbf = D3DBLEND_INVSRCALPHA;
      dbf = D3DBLEND_SRCALPHA;
    }
    C4 fs = BlendFactor(sbf, s, d, k), fd = BlendFactor(dbf, s, d, k);
    C4 o;
    o.r = BlendChannel(blendOp_, s.r, fs.r, d.r, fd.r);
    o.g = BlendChannel(blendOp_, s.g, fs.g, d.g, fd.g);
    o.b = BlendChannel(blendOp_, s.b, fs.b, d.b, fd.b);
    if (separateAlpha_) {
      C4 fsa = BlendFactor(srcBlendAlpha_, s, d, k), fda = BlendFactor(dstBlendAlpha_, s, d, k);
      o.a = BlendChannel(blendOpAlpha_, s.a, fsa.a, d.a, fda.a);
    } else {
      o.a = BlendChannel(blendOp_, s.a, fs.a, d.a, fd.a);
    }
    result = Pack(o);
  }
  result = (result & writeMask_) | (dst & ~writeMask_);
  if (color32_) {
    if (colorFormat_ == D3DFMT_X8R8G8B8) result |= 0xFF000000u;
    std::memcpy(px, &result, 4);
  } else {
    WritePixelArgb(colorFormat_, px, result);
  }
}

}  // namespace d3d9
