// The texture stages, as Direct3D 9's fixed-function pixel pipeline defines them.
#include "d3d9/pipeline/colour_math.h"
#include "d3d9/pipeline/pixel_processing.h"

#include <algorithm>
#include <cmath>

#include "d3d9/d3d9_texture.h"
#include "d3d9/pipeline/pipeline.h"

namespace d3d9 {

int ActiveStages(const DeviceState& s) {
  int n = 0;
  while (n < kMaxStages && s.tss[n][D3DTSS_COLOROP] != D3DTOP_DISABLE) ++n;
  return n;
}

void PixelProcessor::Configure(const DeviceState& s, bool fast) {
  fast_ = fast;
  stageCount_ = ActiveStages(s);
  readsSpecular_ = s.rs[D3DRS_SPECULARENABLE] != 0;
  for (int i = 0; i < stageCount_; ++i) {
    const DWORD* t = s.tss[i];
    StageState& st = stages_[i];
    st.colorOp = t[D3DTSS_COLOROP];
    st.colorArg0 = t[D3DTSS_COLORARG0];
    st.colorArg1 = t[D3DTSS_COLORARG1];
    st.colorArg2 = t[D3DTSS_COLORARG2];
    st.alphaOp = t[D3DTSS_ALPHAOP];
    st.alphaArg0 = t[D3DTSS_ALPHAARG0];
    st.alphaArg1 = t[D3DTSS_ALPHAARG1];
    st.alphaArg2 = t[D3DTSS_ALPHAARG2];
    st.resultArg = t[D3DTSS_RESULTARG];
    st.constant = t[D3DTSS_CONSTANT];
    st.projected = (t[D3DTSS_TEXTURETRANSFORMFLAGS] & D3DTTFF_PROJECTED) != 0;
    for (DWORD arg :
         {st.colorArg0, st.colorArg1, st.colorArg2, st.alphaArg0, st.alphaArg1, st.alphaArg2})
      readsSpecular_ |= (arg & D3DTA_SELECTMASK) == D3DTA_SPECULAR;
    TextureUnit& u = st.unit;
    u = TextureUnit{};
    u.shortcut = fast_;
    u.texture = s.textures[i] ? AsTextureImage(s.textures[i]) : nullptr;
    if (u.texture && u.texture->levels.empty()) u.texture = nullptr;
    const DWORD* sm = s.samp[i];
    u.addressU = sm[D3DSAMP_ADDRESSU];
    u.addressV = sm[D3DSAMP_ADDRESSV];
    u.border = sm[D3DSAMP_BORDERCOLOR];
    u.magFilter = sm[D3DSAMP_MAGFILTER];
    u.minFilter = sm[D3DSAMP_MINFILTER];
    u.mipFilter = sm[D3DSAMP_MIPFILTER];
    u.maxMipLevel = sm[D3DSAMP_MAXMIPLEVEL];
    std::memcpy(&u.mipBias, &sm[D3DSAMP_MIPMAPLODBIAS], 4);
    if (!std::isfinite(u.mipBias)) u.mipBias = 0.f;
    if (u.texture) {
      u.cube = u.texture->IsCube();
      u.view = ViewOf(u.texture, 0, 0);
      u.linear = u.magFilter >= D3DTEXF_LINEAR;
    }
  }
  tfactor_ = s.rs[D3DRS_TEXTUREFACTOR];
  specularAdd_ = s.rs[D3DRS_SPECULARENABLE] != 0;

  shade_ = ShadeKind::General;
  auto plain = [](DWORD arg) {
    return arg == D3DTA_TEXTURE || arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT;
  };
  auto isTex = [](DWORD arg) { return arg == D3DTA_TEXTURE; };
  auto isDiff = [](DWORD arg) { return arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT; };
  // Both shortcuts add the specular colour afterwards when it is switched on, as the stages do.
  if (stageCount_ == 0) {
    shade_ = ShadeKind::Diffuse;
  } else if (stageCount_ == 1 && stages_[0].unit.texture && !stages_[0].unit.cube &&
             !stages_[0].projected && stages_[0].resultArg != D3DTA_TEMP) {
    const StageState& st = stages_[0];
    bool colourOk = st.colorOp == D3DTOP_MODULATE && plain(st.colorArg1) && plain(st.colorArg2) &&
                    isTex(st.colorArg1) != isTex(st.colorArg2);
    int alpha = -1;
    if (st.alphaOp == D3DTOP_MODULATE && plain(st.alphaArg1) && plain(st.alphaArg2) &&
        isTex(st.alphaArg1) != isTex(st.alphaArg2))
      alpha = 0;
    else if ((st.alphaOp == D3DTOP_SELECTARG1 && isTex(st.alphaArg1)) ||
             (st.alphaOp == D3DTOP_SELECTARG2 && isTex(st.alphaArg2)))
      alpha = 1;
    else if ((st.alphaOp == D3DTOP_SELECTARG1 && isDiff(st.alphaArg1)) ||
             (st.alphaOp == D3DTOP_SELECTARG2 && isDiff(st.alphaArg2)) ||
             st.alphaOp == D3DTOP_DISABLE)
      alpha = 2;
    if (colourOk && alpha >= 0) {
      shade_ = ShadeKind::TextureModulate;
      shadeAlpha_ = alpha;
    }
  }
}

// Screen positions in x and y; texture coordinates from the vertices.
void PixelProcessor::ChooseLevels(const float* x, const float* y, const RVertex* const* v) {
  const float ex1 = x[1] - x[0], ey1 = y[1] - y[0], ex2 = x[2] - x[0], ey2 = y[2] - y[0];
  const float det = ex1 * ey2 - ex2 * ey1;
  for (int s = 0; s < stageCount_; ++s) {
    TextureUnit& u = stages_[s].unit;
    if (!u.texture) continue;
    const UINT count = u.texture->LevelCount();
    // One level and the same kind of filter either way (every sprite): the footprint decides
    // nothing, so the derivatives are not worth computing.
    if (count == 1 && (u.minFilter >= D3DTEXF_LINEAR) == (u.magFilter >= D3DTEXF_LINEAR) && fast_) {
      u.linear = u.magFilter >= D3DTEXF_LINEAR;
      u.level = 0;
      u.level2 = -1;
      u.view = ViewOf(u.texture, 0, 0);
      continue;
    }
    const SurfaceStore& l0 = u.texture->Level(0, 0)->store;
    const int t = kAttrTex + 4 * s;
    float rho = 1.f;
    if (det != 0.f) {
      // Coordinates at the three corners, divided as sampling divides them.
      float cu[3], cv[3];
      for (int i = 0; i < 3; ++i) {
        const float* a = &v[i]->attr[t];
        float q = 1.f;
        if (stages_[s].projected && a[3] != 0.f) q = a[3];
        if (u.cube) {
          // A rough footprint on the face: the coordinates over the largest component.
          const float m = std::max({std::fabs(a[0]), std::fabs(a[1]), std::fabs(a[2]), 1e-20f});
          cu[i] = 0.5f * (a[0] + a[2]) / m;
          cv[i] = 0.5f * a[1] / m;
        } else {
          cu[i] = a[0] / q;
          cv[i] = a[1] / q;
        }
      }
      const float du1 = (cu[1] - cu[0]) * static_cast<float>(l0.width);
      const float du2 = (cu[2] - cu[0]) * static_cast<float>(l0.width);
      const float dv1 = (cv[1] - cv[0]) * static_cast<float>(l0.height);
      const float dv2 = (cv[2] - cv[0]) * static_cast<float>(l0.height);
      const float dudx = (du1 * ey2 - du2 * ey1) / det, dudy = (du2 * ex1 - du1 * ex2) / det;
      const float dvdx = (dv1 * ey2 - dv2 * ey1) / det, dvdy = (dv2 * ex1 - dv1 * ex2) / det;
      rho = std::max(std::sqrt(dudx * dudx + dvdx * dvdx), std::sqrt(dudy * dudy + dvdy * dvdy));
      if (!std::isfinite(rho)) rho = 1.f;
    }
    float lod = std::log2(std::max(rho, 1e-20f)) + u.mipBias;
    // Within a small tolerance of 1:1 the texture is magnified.
    const bool minify = u.mipBias == 0.f ? rho > 1.001f : lod > 0.0014419f;  // log2(1.001)
    u.linear = (minify ? u.minFilter : u.magFilter) >= D3DTEXF_LINEAR;
    const int base = static_cast<int>(std::min<UINT>(u.maxMipLevel, count - 1));
    u.level = base;
    u.level2 = -1;
    if (minify && u.mipFilter != D3DTEXF_NONE && count > 1) {
      lod = std::min(lod, static_cast<float>(count - 1));
      if (u.mipFilter == D3DTEXF_POINT) {
        u.level =
            std::clamp(static_cast<int>(std::floor(lod + 0.5f)), base, static_cast<int>(count - 1));
      } else {
        const int lower = static_cast<int>(std::floor(lod));
        u.level = std::clamp(lower, base, static_cast<int>(count - 1));
        const int w = static_cast<int>((lod - static_cast<float>(lower)) * 256.f + 0.5f);
        if (u.level == lower && lower + 1 < static_cast<int>(count) && w > 0) {
          u.level2 = lower + 1;
          u.blend2 = std::min(w, 256);
        }
      }
    }
    u.view = ViewOf(u.texture, 0, u.level);
    if (u.level2 >= 0) u.view2 = ViewOf(u.texture, 0, u.level2);
  }
}

uint32_t PixelProcessor::SampleStage(const StageState& st, const float* t) const {
  const TextureUnit& u = st.unit;
  if (u.cube) return SampleCube(u, t[0], t[1], t[2]);
  if (st.projected) {
    const float q = t[3] != 0.f ? t[3] : 1.f;
    return Sample2D(u, t[0] / q, t[1] / q);
  }
  return Sample2D(u, t[0], t[1]);
}

uint32_t PixelProcessor::ShadeOne(const Fragment& f) const {
  if (shade_ != ShadeKind::General) {
    C4 c{f.diffuse[0], f.diffuse[1], f.diffuse[2], f.diffuse[3]};
    if (shade_ == ShadeKind::TextureModulate) {
      const StageState& st = stages_[0];
      C4 t = Unpack(f.presampled ? f.texel[0] : Sample2D(st.unit, f.tex[0][0], f.tex[0][1]));
      int a = shadeAlpha_ == 0 ? Mul255(t.a, c.a) : (shadeAlpha_ == 1 ? t.a : c.a);
      c = C4{Mul255(t.r, c.r), Mul255(t.g, c.g), Mul255(t.b, c.b), a};
    }
    if (specularAdd_) {
      c.r = std::min(255, c.r + f.specular[0]);
      c.g = std::min(255, c.g + f.specular[1]);
      c.b = std::min(255, c.b + f.specular[2]);
    }
    return Pack(c);
  }
  const C4 diffuse{f.diffuse[0], f.diffuse[1], f.diffuse[2], f.diffuse[3]};
  const C4 specularColour{f.specular[0], f.specular[1], f.specular[2], f.specular[3]};
  const C4 tf = Unpack(tfactor_);
  C4 cur = diffuse;
  C4 temp{0, 0, 0, 0};
  for (int s = 0; s < stageCount_; ++s) {
    const StageState& st = stages_[s];
    C4 tex{255, 255, 255, 255};
    if (st.unit.texture) tex = Unpack(f.presampled ? f.texel[s] : SampleStage(st, f.tex[s]));
    const C4 constant = Unpack(st.constant);
    auto arg = [&](DWORD sel) {
      C4 r;
      switch (sel & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE:
          r = diffuse;
          break;
        case D3DTA_CURRENT:
          r = cur;
          break;
        case D3DTA_TEXTURE:
          r = tex;
          break;
        case D3DTA_TFACTOR:
          r = tf;
          break;
        case D3DTA_SPECULAR:
          r = specularColour;
          break;
        case D3DTA_TEMP:
          r = temp;
          break;
        case D3DTA_CONSTANT:
          r = constant;
          break;
        default:
          r = C4{0, 0, 0, 0};
      }
      if (sel & D3DTA_ALPHAREPLICATE) r.r = r.g = r.b = r.a;
      if (sel & D3DTA_COMPLEMENT) r = C4{255 - r.r, 255 - r.g, 255 - r.b, 255 - r.a};
      return r;
    };
    // One channel of an operation.
    auto op = [&](DWORD o, int a1, int a2, int a0, const C4& x1, bool alphaChannel) -> int {
      switch (o) {
        case D3DTOP_SELECTARG1:
          return a1;
        case D3DTOP_SELECTARG2:
          return a2;
        case D3DTOP_MODULATE:
          return Mul255(a1, a2);
        case D3DTOP_MODULATE2X:
          return std::min(255, 2 * Mul255(a1, a2));
        case D3DTOP_MODULATE4X:
          return std::min(255, 4 * Mul255(a1, a2));
        case D3DTOP_ADD:
          return std::min(255, a1 + a2);
        case D3DTOP_ADDSIGNED:
          return Clamp255(a1 + a2 - 128);
        case D3DTOP_ADDSIGNED2X:
          return Clamp255(2 * (a1 + a2 - 128));
        case D3DTOP_SUBTRACT:
          return std::max(0, a1 - a2);
        case D3DTOP_ADDSMOOTH:
          return std::min(255, a1 + a2 - Mul255(a1, a2));
        case D3DTOP_BLENDDIFFUSEALPHA:
          return (a1 * diffuse.a + a2 * (255 - diffuse.a) + 127) / 255;
        case D3DTOP_BLENDTEXTUREALPHA:
          return (a1 * tex.a + a2 * (255 - tex.a) + 127) / 255;
        case D3DTOP_BLENDFACTORALPHA:
          return (a1 * tf.a + a2 * (255 - tf.a) + 127) / 255;
        case D3DTOP_BLENDCURRENTALPHA:
          return (a1 * cur.a + a2 * (255 - cur.a) + 127) / 255;
        case D3DTOP_BLENDTEXTUREALPHAPM:
          return std::min(255, a1 + Mul255(a2, 255 - tex.a));
        case D3DTOP_MODULATEALPHA_ADDCOLOR:
          return alphaChannel ? a1 : std::min(255, a1 + Mul255(x1.a, a2));
        case D3DTOP_MODULATECOLOR_ADDALPHA:
          return alphaChannel ? a1 : std::min(255, Mul255(a1, a2) + x1.a);
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
          return alphaChannel ? a1 : std::min(255, a1 + Mul255(255 - x1.a, a2));
        case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
          return alphaChannel ? a1 : std::min(255, Mul255(255 - a1, a2) + x1.a);
        case D3DTOP_MULTIPLYADD:
          return std::min(255, a0 + Mul255(a1, a2));
        case D3DTOP_LERP:
          return (a0 * a1 + (255 - a0) * a2 + 127) / 255;
        default:
          return a1;
      }
    };
    const C4 c1 = arg(st.colorArg1), c2 = arg(st.colorArg2);
    C4 c0{0, 0, 0, 0};
    if (st.colorOp == D3DTOP_MULTIPLYADD || st.colorOp == D3DTOP_LERP) c0 = arg(st.colorArg0);
    C4 next;
    if (st.colorOp == D3DTOP_DOTPRODUCT3) {
      // 4 * ((r1 - .5)(r2 - .5) + ...), replicated into every channel, alpha included.
      int dot = ((2 * c1.r - 255) * (2 * c2.r - 255) + (2 * c1.g - 255) * (2 * c2.g - 255) +
                 (2 * c1.b - 255) * (2 * c2.b - 255)) /
                255;
      int d = Clamp255(dot);
      next = C4{d, d, d, d};
    } else {
      next.r = op(st.colorOp, c1.r, c2.r, c0.r, c1, false);
      next.g = op(st.colorOp, c1.g, c2.g, c0.g, c1, false);
      next.b = op(st.colorOp, c1.b, c2.b, c0.b, c1, false);
      if (st.alphaOp == D3DTOP_DISABLE) {
        next.a = cur.a;
      } else {
        C4 a1 = arg(st.alphaArg1), a2 = arg(st.alphaArg2), a0{0, 0, 0, 0};
        if (st.alphaOp == D3DTOP_MULTIPLYADD || st.alphaOp == D3DTOP_LERP) a0 = arg(st.alphaArg0);
        next.a = op(st.alphaOp, a1.a, a2.a, a0.a, a1, true);
      }
    }
    if (st.resultArg == D3DTA_TEMP)
      temp = next;
    else
      cur = next;
  }
  if (specularAdd_) {
    cur.r = std::min(255, cur.r + specularColour.r);
    cur.g = std::min(255, cur.g + specularColour.g);
    cur.b = std::min(255, cur.b + specularColour.b);
  }
  return Pack(cur);
}

namespace {

// The specular sum after the stages: colour channels saturate, alpha is kept.
inline void AddSpecular(const FragmentBatch& b, int lane, C4* c) {
  c->r = std::min(255, c->r + ChannelOf(b.attr[kAttrSpecular][lane]));
  c->g = std::min(255, c->g + ChannelOf(b.attr[kAttrSpecular + 1][lane]));
  c->b = std::min(255, c->b + ChannelOf(b.attr[kAttrSpecular + 2][lane]));
}

}  // namespace

void PixelProcessor::Shade(FragmentBatch& b) const {
  // The shortcuts run over the batch directly, with the same arithmetic as ShadeOne.
  if (shade_ == ShadeKind::Diffuse) {
    for (uint64_t live = b.live; live;) {
      const int lane = __builtin_ctzll(live);
      live &= live - 1;
      C4 c{ChannelOf(b.attr[kAttrDiffuse][lane]), ChannelOf(b.attr[kAttrDiffuse + 1][lane]),
           ChannelOf(b.attr[kAttrDiffuse + 2][lane]), ChannelOf(b.attr[kAttrDiffuse + 3][lane])};
      if (specularAdd_) AddSpecular(b, lane, &c);
      b.colour[lane] = Pack(c);
    }
    return;
  }
  if (shade_ == ShadeKind::TextureModulate) {
    const TextureUnit& unit = stages_[0].unit;
    const float* u = b.attr[kAttrTex];
    const float* v = b.attr[kAttrTex + 1];
    // Texels eight lanes at a time where the texture allows, the rest one by one.
    alignas(32) uint32_t texels[kBatchLanes];
    uint32_t groups = 0;
    for (int g = 0; g + 8 <= b.lanes; g += 8)
      if (((b.live >> g) & 0xFFu) && Sample2DEight(unit, u + g, v + g, texels + g))
        groups |= 1u << (g / 8);
    for (uint64_t live = b.live; live;) {
      const int lane = __builtin_ctzll(live);
      live &= live - 1;
      const C4 c{ChannelOf(b.attr[kAttrDiffuse][lane]), ChannelOf(b.attr[kAttrDiffuse + 1][lane]),
                 ChannelOf(b.attr[kAttrDiffuse + 2][lane]),
                 ChannelOf(b.attr[kAttrDiffuse + 3][lane])};
      const C4 t =
          Unpack((groups >> (lane / 8)) & 1u ? texels[lane] : Sample2D(unit, u[lane], v[lane]));
      const int a = shadeAlpha_ == 0 ? Mul255(t.a, c.a) : (shadeAlpha_ == 1 ? t.a : c.a);
      C4 out{Mul255(t.r, c.r), Mul255(t.g, c.g), Mul255(t.b, c.b), a};
      if (specularAdd_) AddSpecular(b, lane, &out);
      b.colour[lane] = Pack(out);
    }
    return;
  }
  Fragment f;
  f.presampled = false;
  for (int i = 0; i < 4; ++i) f.specular[i] = 0;
  const int slots = stageCount_;
  for (uint64_t live = b.live; live;) {
    const int lane = __builtin_ctzll(live);
    live &= live - 1;
    for (int c = 0; c < 4; ++c) f.diffuse[c] = ChannelOf(b.attr[kAttrDiffuse + c][lane]);
    if (readsSpecular_)
      for (int c = 0; c < 4; ++c) f.specular[c] = ChannelOf(b.attr[kAttrSpecular + c][lane]);
    for (int s = 0; s < slots; ++s)
      for (int k = 0, n = CoordinateComponents(s); k < n; ++k)
        f.tex[s][k] = b.attr[kAttrTex + 4 * s + k][lane];
    b.colour[lane] = ShadeOne(f);
  }
}

int PixelProcessor::CoordinateComponents(int stage) const {
  const StageState& st = stages_[stage];
  if (!st.unit.texture) return 0;
  if (st.projected) return 4;
  return st.unit.cube ? 3 : 2;
}

}  // namespace d3d9
