// Fixed-function vertex processing, in camera space as Direct3D 9 describes it: positions by
// world x view x projection, normals by the inverse transpose of world x view, lights moved into
// camera space once per change, colours clamped to 0..1 before they are interpolated.
#include "d3d9/pipeline/vertex_processing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/pipeline/pipeline.h"

namespace d3d9 {

namespace {

float Bits(DWORD d) {
  float f;
  std::memcpy(&f, &d, 4);
  return f;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += a.m[i][k] * b.m[k][j];
      r.m[i][j] = s;
    }
  return r;
}

// Inverse transpose of the upper 3 x 3 of `m` (the cofactor matrix over the determinant). A
// singular matrix gives its cofactors unscaled, which keeps normal directions where they exist.
void NormalMatrix(const D3DMATRIX& m, float out[3][3]) {
  const float a = m._11, b = m._12, c = m._13;
  const float d = m._21, e = m._22, f = m._23;
  const float g = m._31, h = m._32, i = m._33;
  const float cof[3][3] = {{e * i - f * h, f * g - d * i, d * h - e * g},
                           {c * h - b * i, a * i - c * g, b * g - a * h},
                           {b * f - c * e, c * d - a * f, a * e - b * d}};
  float det = a * cof[0][0] + b * cof[0][1] + c * cof[0][2];
  const float s = (det != 0.f && std::isfinite(det)) ? 1.f / det : 1.f;
  // Row-vector convention: n' = n * M^-T, and (M^-1)^T is the cofactor matrix over det.
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) out[r][k] = cof[r][k] * s;
}

void TransformPoint(const D3DMATRIX& m, float x, float y, float z, float out[4]) {
  out[0] = x * m._11 + y * m._21 + z * m._31 + m._41;
  out[1] = x * m._12 + y * m._22 + z * m._32 + m._42;
  out[2] = x * m._13 + y * m._23 + z * m._33 + m._43;
  out[3] = x * m._14 + y * m._24 + z * m._34 + m._44;
}

void Normalize(float v[3]) {
  const float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (l > 0.f) {
    v[0] /= l;
    v[1] /= l;
    v[2] /= l;
  }
}

float Dot(const float a[3], const float b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

float Clamp01(float v) {
  return v > 0.f ? (v < 1.f ? v : 1.f) : 0.f;  // also maps NaN to 0
}

void ColourFromBytes(const uint8_t* p, float out[4]) {
  out[0] = p[2];
  out[1] = p[1];
  out[2] = p[0];
  out[3] = p[3];
}

// A vertex colour element as 0..255 floats (D3DCOLOR bytes exactly as stored).
void ReadColour(const ElementRef& e, const VertexSource& src, UINT i, float out[4]) {
  const uint8_t* p = src.base[e.stream] + static_cast<size_t>(i) * src.stride[e.stream] + e.offset;
  if (e.type == D3DDECLTYPE_D3DCOLOR) {
    ColourFromBytes(p, out);
    return;
  }
  ReadElement(e.type, p, out);
  for (int k = 0; k < 4; ++k) out[k] = std::nearbyint(Clamp01(out[k]) * 255.f);
}

void Read(const ElementRef& e, const VertexSource& src, UINT i, float out[4]) {
  ReadElement(e.type, src.base[e.stream] + static_cast<size_t>(i) * src.stride[e.stream] + e.offset,
              out);
}

}  // namespace

void VertexProcessor::Configure(const DeviceState& s, int stages, bool fast) {
  fast_ = fast;
  layout_ = s.layout;
  pretransformed_ = layout_.pretransformed;
  wv_ = Multiply(s.world, s.view);
  wvp_ = Multiply(wv_, s.proj);
  NormalMatrix(wv_, normal_);
  const DWORD* rs = s.rs;
  lighting_ = rs[D3DRS_LIGHTING] != 0 && !pretransformed_;
  normalize_ = rs[D3DRS_NORMALIZENORMALS] != 0;
  specularOn_ = rs[D3DRS_SPECULARENABLE] != 0;
  localViewer_ = rs[D3DRS_LOCALVIEWER] != 0;
  colorVertex_ = rs[D3DRS_COLORVERTEX] != 0;
  diffuseSource_ = rs[D3DRS_DIFFUSEMATERIALSOURCE];
  specularSource_ = rs[D3DRS_SPECULARMATERIALSOURCE];
  ambientSource_ = rs[D3DRS_AMBIENTMATERIALSOURCE];
  emissiveSource_ = rs[D3DRS_EMISSIVEMATERIALSOURCE];
  material_ = s.material;
  const DWORD ga = rs[D3DRS_AMBIENT];
  globalAmbient_[0] = ((ga >> 16) & 255) / 255.f;
  globalAmbient_[1] = ((ga >> 8) & 255) / 255.f;
  globalAmbient_[2] = (ga & 255) / 255.f;

  lights_.clear();
  if (lighting_) {
    for (const LightSlot& slot : s.lights) {
      if (!slot.enabled) continue;
      const D3DLIGHT9& l = slot.light;
      Light c{};
      c.type = l.Type;
      c.diffuse[0] = l.Diffuse.r, c.diffuse[1] = l.Diffuse.g, c.diffuse[2] = l.Diffuse.b;
      c.specular[0] = l.Specular.r, c.specular[1] = l.Specular.g, c.specular[2] = l.Specular.b;
      c.ambient[0] = l.Ambient.r, c.ambient[1] = l.Ambient.g, c.ambient[2] = l.Ambient.b;
      float p[4];
      TransformPoint(s.view, l.Position.x, l.Position.y, l.Position.z, p);
      std::memcpy(c.position, p, sizeof(c.position));
      // Directions are rotated by the view (a direction has no translation).
      c.direction[0] =
          l.Direction.x * s.view._11 + l.Direction.y * s.view._21 + l.Direction.z * s.view._31;
      c.direction[1] =
          l.Direction.x * s.view._12 + l.Direction.y * s.view._22 + l.Direction.z * s.view._32;
      c.direction[2] =
          l.Direction.x * s.view._13 + l.Direction.y * s.view._23 + l.Direction.z * s.view._33;
      Normalize(c.direction);
      c.range = l.Range;
      c.falloff = l.Falloff;
      c.att0 = l.Attenuation0;
      c.att1 = l.Attenuation1;
      c.att2 = l.Attenuation2;
      c.cosTheta = std::cos(l.Theta * 0.5f);
      c.cosPhi = std::cos(l.Phi * 0.5f);
      lights_.push_back(c);
      if (lights_.size() == 8) break;  // MaxActiveLights
    }
  }

  fogMode_ = 0;
  fogFromSpecular_ = false;
  if (rs[D3DRS_FOGENABLE] && rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE) {
    if (rs[D3DRS_FOGVERTEXMODE] != D3DFOG_NONE && !pretransformed_)
      fogMode_ = static_cast<int>(rs[D3DRS_FOGVERTEXMODE]);
    else
      fogFromSpecular_ = true;  // the fog factor is the specular colour's alpha
  }
  rangeFog_ = rs[D3DRS_RANGEFOGENABLE] != 0;
  fogStart_ = Bits(rs[D3DRS_FOGSTART]);
  fogEnd_ = Bits(rs[D3DRS_FOGEND]);
  fogDensity_ = Bits(rs[D3DRS_FOGDENSITY]);

  pointSize_ = Bits(rs[D3DRS_POINTSIZE]);
  pointMin_ = Bits(rs[D3DRS_POINTSIZE_MIN]);
  pointMax_ = std::min(Bits(rs[D3DRS_POINTSIZE_MAX]), kMaxPointSize);
  pointScale_ = rs[D3DRS_POINTSCALEENABLE] != 0 && !pretransformed_;
  scaleA_ = Bits(rs[D3DRS_POINTSCALE_A]);
  scaleB_ = Bits(rs[D3DRS_POINTSCALE_B]);
  scaleC_ = Bits(rs[D3DRS_POINTSCALE_C]);
  viewportHeight_ = static_cast<float>(s.viewport.Height);

  stages_ = stages;
  bool passThrough = true;
  for (int st = 0; st < stages; ++st) {
    StageCoordinates& c = coords_[st];
    const DWORD index = s.tss[st][D3DTSS_TEXCOORDINDEX];
    c.set = index & 0xFFFF;
    c.generate = index & 0xFFFF0000u;
    const DWORD flags = s.tss[st][D3DTSS_TEXTURETRANSFORMFLAGS];
    c.count = (flags & 0xFF) <= D3DTTFF_COUNT4 ? flags & 0xFF : 0;
    c.projected = (flags & D3DTTFF_PROJECTED) != 0;
    // Transforms apply to vertices this stage transforms; pre-transformed vertices keep their
    // coordinates (PROJECTED still divides them).
    if (pretransformed_) c.count = 0;
    texMatrix_[st] = s.texTransform[st];
    passThrough &= c.generate == 0 && c.count == 0 && !c.projected && c.set == 0;
  }
  // Position, optional diffuse and one two-component set in stream 0, neither lit nor fogged:
  // the format of every sprite and glyph.
  const VertexLayout& l = layout_;
  spriteFormat_ = l.fvf != 0 && !pretransformed_ && !lighting_ && fogMode_ == 0 &&
                  !fogFromSpecular_ && l.psize.stream < 0 && l.specular.stream < 0 &&
                  l.normal.stream < 0 && l.blendWeight.stream < 0 && l.texCount == 1 &&
                  l.tex[0].type == D3DDECLTYPE_FLOAT2 && l.position.type == D3DDECLTYPE_FLOAT3 &&
                  stages <= 1 && passThrough;
}

void VertexProcessor::Process(const VertexSource& src, UINT count, bool points, RVertex* out) {
  if (out != plainFor_) {
    plain_ = 0;
    plainFor_ = out;
  }
  if (spriteFormat_ && !points) {
    ProcessSpriteFormat(src, count, out);
    return;
  }
  plain_ = 0;  // the general decode may leave anything in those fields
  ProcessGeneral(src, count, points, out);
}

// The same values as the general decode without its per-field decisions.
void VertexProcessor::ProcessSpriteFormat(const VertexSource& src, UINT count, RVertex* out) {
  const D3DMATRIX& m = wvp_;
  const uint8_t* p = src.base[0];
  const UINT stride = src.stride[0];
  const int diffuse = layout_.diffuse.stream >= 0 ? layout_.diffuse.offset : -1;
  const int tex = layout_.tex[0].offset;
  const size_t plain = fast_ ? plain_ : 0;
  for (UINT i = 0; i < count; ++i, p += stride) {
    RVertex& v = out[i];
    float pos[3];
    std::memcpy(pos, p, 12);
    const float x = pos[0], y = pos[1], z = pos[2];
    v.x = x * m._11 + y * m._21 + z * m._31 + m._41;
    v.y = x * m._12 + y * m._22 + z * m._32 + m._42;
    v.z = x * m._13 + y * m._23 + z * m._33 + m._43;
    v.w = x * m._14 + y * m._24 + z * m._34 + m._44;
    if (diffuse >= 0) {
      ColourFromBytes(p + diffuse, &v.attr[kAttrDiffuse]);
    } else {
      for (int k = 0; k < 4; ++k) v.attr[kAttrDiffuse + k] = 255.f;
    }
    std::memcpy(&v.attr[kAttrTex], p + tex, 8);
    if (i >= plain) {
      for (int k = kAttrSpecular; k < kAttrSpecular + 4; ++k) v.attr[k] = 0.f;
      v.attr[kAttrTex + 2] = 0.f;
      v.attr[kAttrTex + 3] = 1.f;
      for (int k = kAttrTex + 4; k < kAttrFog; ++k) v.attr[k] = 0.f;
      v.attr[kAttrFog] = 1.f;
      v.psize = 1.f;
    }
  }
  plain_ = std::max<size_t>(plain, count);
}

void VertexProcessor::ProcessGeneral(const VertexSource& src, UINT count, bool points,
                                     RVertex* out) {
  const VertexLayout& l = layout_;
  bool needEye = lighting_ || fogMode_ != 0 || pointScale_;
  bool needNormal = lighting_;
  for (int st = 0; st < stages_; ++st) {
    needEye |= coords_[st].generate != 0;
    needNormal |=
        coords_[st].generate != 0 && coords_[st].generate != D3DTSS_TCI_CAMERASPACEPOSITION;
  }
  for (UINT i = 0; i < count; ++i) {
    RVertex& v = out[i];
    float pos[4];
    Read(l.position, src, i, pos);
    float eye[4] = {0.f, 0.f, 0.f, 1.f};
    if (pretransformed_) {
      v.x = pos[0];
      v.y = pos[1];
      v.z = pos[2];
      v.w = pos[3];  // screen-space vertices carry rhw in w
    } else {
      float clip[4];
      // XYZW positions carry their own w; XYZ positions have w = 1.
      if (l.position.type == D3DDECLTYPE_FLOAT4 && pos[3] != 1.f) {
        const D3DMATRIX& m = wvp_;
        clip[0] = pos[0] * m._11 + pos[1] * m._21 + pos[2] * m._31 + pos[3] * m._41;
        clip[1] = pos[0] * m._12 + pos[1] * m._22 + pos[2] * m._32 + pos[3] * m._42;
        clip[2] = pos[0] * m._13 + pos[1] * m._23 + pos[2] * m._33 + pos[3] * m._43;
        clip[3] = pos[0] * m._14 + pos[1] * m._24 + pos[2] * m._34 + pos[3] * m._44;
      } else {
        TransformPoint(wvp_, pos[0], pos[1], pos[2], clip);
      }
      v.x = clip[0];
      v.y = clip[1];
      v.z = clip[2];
      v.w = clip[3];
      if (needEye) TransformPoint(wv_, pos[0], pos[1], pos[2], eye);
    }
    float normal[3] = {0.f, 0.f, 0.f};
    if (needNormal && l.normal.present()) {
      float n[4];
      Read(l.normal, src, i, n);
      for (int k = 0; k < 3; ++k)
        normal[k] = n[0] * normal_[0][k] + n[1] * normal_[1][k] + n[2] * normal_[2][k];
      if (normalize_) Normalize(normal);
    }

    // Colours.
    float vd[4] = {255.f, 255.f, 255.f, 255.f}, vs[4] = {0.f, 0.f, 0.f, 0.f};
    if (l.diffuse.present()) ReadColour(l.diffuse, src, i, vd);
    if (l.specular.present()) ReadColour(l.specular, src, i, vs);
    if (lighting_) {
      const Colour cd{vd[0] / 255.f, vd[1] / 255.f, vd[2] / 255.f, vd[3] / 255.f};
      const Colour cs{vs[0] / 255.f, vs[1] / 255.f, vs[2] / 255.f, vs[3] / 255.f};
      float d[4], sp[4];
      LightVertex(eye, normal, l.diffuse.present() ? &cd : nullptr,
                  l.specular.present() ? &cs : nullptr, d, sp);
      // Lit colours leave the stage clamped and in whole steps of the 8-bit colour they become.
      for (int k = 0; k < 4; ++k) {
        v.attr[kAttrDiffuse + k] = std::nearbyint(Clamp01(d[k]) * 255.f);
        v.attr[kAttrSpecular + k] = std::nearbyint(Clamp01(sp[k]) * 255.f);
      }
    } else {
      for (int k = 0; k < 4; ++k) {
        v.attr[kAttrDiffuse + k] = vd[k];
        v.attr[kAttrSpecular + k] = vs[k];
      }
    }

    // Fog factor: 1 is no fog.
    float fog = 1.f;
    if (fogMode_ != 0) {
      const float d = rangeFog_ ? std::sqrt(eye[0] * eye[0] + eye[1] * eye[1] + eye[2] * eye[2])
                                : std::fabs(eye[2]);
      fog = FogFactor(fogMode_, d, fogStart_, fogEnd_, fogDensity_);
    } else if (fogFromSpecular_) {
      fog = v.attr[kAttrSpecular + 3] / 255.f;
    }
    v.attr[kAttrFog] = fog;

    // Texture coordinates, per stage.
    for (int st = 0; st < stages_; ++st) {
      const StageCoordinates& c = coords_[st];
      float t[4] = {0.f, 0.f, 0.f, 1.f};
      int dims = 2;
      if (c.generate == 0 || pretransformed_) {
        if (c.set < 8 && l.tex[c.set].present()) {
          Read(l.tex[c.set], src, i, t);
          dims = ElementComponents(l.tex[c.set].type);
        }
      } else {
        dims = 3;
        float e[3] = {eye[0], eye[1], eye[2]};
        switch (c.generate) {
          case D3DTSS_TCI_CAMERASPACENORMAL:
            std::memcpy(t, normal, sizeof(normal));
            break;
          case D3DTSS_TCI_CAMERASPACEPOSITION:
            std::memcpy(t, e, sizeof(e));
            break;
          case D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR:
          case D3DTSS_TCI_SPHEREMAP: {
            // E points from the vertex towards the eye; R = 2 (E . N) N - E.
            float toEye[3] = {0.f, 0.f, -1.f};
            if (localViewer_) {
              toEye[0] = -e[0], toEye[1] = -e[1], toEye[2] = -e[2];
              Normalize(toEye);
            }
            const float en = Dot(toEye, normal);
            float r[3];
            for (int k = 0; k < 3; ++k) r[k] = 2.f * en * normal[k] - toEye[k];
            if (c.generate == D3DTSS_TCI_SPHEREMAP) {
              const float m =
                  2.f * std::sqrt(r[0] * r[0] + r[1] * r[1] + (r[2] + 1.f) * (r[2] + 1.f));
              t[0] = m > 0.f ? r[0] / m + 0.5f : 0.5f;
              t[1] = m > 0.f ? r[1] / m + 0.5f : 0.5f;
              t[2] = 0.f;
              dims = 2;
            } else {
              std::memcpy(t, r, sizeof(r));
            }
            break;
          }
          default:
            break;
        }
      }
      if (c.count != 0) {
        // The coordinates extend with 1 after their last component and 0 beyond, so that a 2D
        // coordinate is translated by the matrix's third row.
        float in[4] = {t[0], dims >= 2 ? t[1] : 1.f, dims >= 3 ? t[2] : (dims == 2 ? 1.f : 0.f),
                       dims >= 4 ? t[3] : (dims == 3 ? 1.f : 0.f)};
        const D3DMATRIX& m = texMatrix_[st];
        float r[4];
        for (int k = 0; k < 4; ++k)
          r[k] = in[0] * m.m[0][k] + in[1] * m.m[1][k] + in[2] * m.m[2][k] + in[3] * m.m[3][k];
        for (int k = 0; k < 4; ++k) t[k] = k < static_cast<int>(c.count) ? r[k] : 0.f;
        if (c.projected) {
          // The last of the components produced divides the others.
          t[3] = r[c.count - 1];
        }
      } else if (c.projected) {
        t[3] = t[std::max(dims, 1) - 1];
      }
      std::memcpy(&v.attr[kAttrTex + 4 * st], t, sizeof(t));
    }

    float size = pointSize_;
    if (points) {
      if (l.psize.present()) {
        float ps[4];
        Read(l.psize, src, i, ps);
        size = ps[0];
      }
      if (pointScale_) {
        const float de = std::sqrt(eye[0] * eye[0] + eye[1] * eye[1] + eye[2] * eye[2]);
        const float q = scaleA_ + scaleB_ * de + scaleC_ * de * de;
        size = q > 0.f ? viewportHeight_ * size * std::sqrt(1.f / q) : pointMax_;
      }
      if (!(size >= pointMin_)) size = pointMin_;  // also NaN
      if (size > pointMax_) size = pointMax_;
    }
    v.psize = size;
  }
}

void VertexProcessor::LightVertex(const float p[3], const float n[3], const Colour* vd,
                                  const Colour* vs, float diffuse[4], float specular[4]) const {
  auto source = [&](DWORD s, const D3DCOLORVALUE& m) {
    if (colorVertex_) {
      if (s == D3DMCS_COLOR1 && vd) return *vd;
      if (s == D3DMCS_COLOR2 && vs) return *vs;
    }
    return Colour{m.r, m.g, m.b, m.a};
  };
  const Colour md = source(diffuseSource_, material_.Diffuse);
  const Colour ms = source(specularSource_, material_.Specular);
  const Colour ma = source(ambientSource_, material_.Ambient);
  const Colour me = source(emissiveSource_, material_.Emissive);

  float ambient[3] = {globalAmbient_[0], globalAmbient_[1], globalAmbient_[2]};
  float diff[3] = {0.f, 0.f, 0.f}, specSum[3] = {0.f, 0.f, 0.f};
  float toEye[3] = {0.f, 0.f, -1.f};
  if (localViewer_ && specularOn_) {
    toEye[0] = -p[0], toEye[1] = -p[1], toEye[2] = -p[2];
    Normalize(toEye);
  }
  for (const Light& l : lights_) {
    float dir[3];  // from the vertex towards the light
    float atten = 1.f, spot = 1.f;
    if (l.type == D3DLIGHT_DIRECTIONAL) {
      dir[0] = -l.direction[0], dir[1] = -l.direction[1], dir[2] = -l.direction[2];
    } else {
      dir[0] = l.position[0] - p[0];
      dir[1] = l.position[1] - p[1];
      dir[2] = l.position[2] - p[2];
      const float d = std::sqrt(Dot(dir, dir));
      if (d > l.range) continue;
      if (d > 0.f) dir[0] /= d, dir[1] /= d, dir[2] /= d;
      const float q = l.att0 + l.att1 * d + l.att2 * d * d;
      atten = q > 0.f ? 1.f / q : 1.f;
      if (l.type == D3DLIGHT_SPOT) {
        const float rho = -Dot(l.direction, dir);  // cosine between the spot's axis and the ray
        if (rho > l.cosTheta) {
          spot = 1.f;
        } else if (rho <= l.cosPhi) {
          spot = 0.f;
        } else {
          const float t = (rho - l.cosPhi) / (l.cosTheta - l.cosPhi);
          spot = l.falloff == 1.f ? t : std::pow(t, l.falloff);
        }
      }
    }
    const float k = atten * spot;
    for (int c = 0; c < 3; ++c) ambient[c] += l.ambient[c] * k;
    const float ndotl = Dot(n, dir);
    if (ndotl <= 0.f || k == 0.f) continue;
    for (int c = 0; c < 3; ++c) diff[c] += l.diffuse[c] * ndotl * k;
    if (specularOn_) {
      float h[3] = {dir[0] + toEye[0], dir[1] + toEye[1], dir[2] + toEye[2]};
      Normalize(h);
      const float ndoth = Dot(n, h);
      if (ndoth > 0.f) {
        const float s = std::pow(ndoth, material_.Power) * k;
        for (int c = 0; c < 3; ++c) specSum[c] += l.specular[c] * s;
      }
    }
  }
  diffuse[0] = me.r + ma.r * ambient[0] + md.r * diff[0];
  diffuse[1] = me.g + ma.g * ambient[1] + md.g * diff[1];
  diffuse[2] = me.b + ma.b * ambient[2] + md.b * diff[2];
  diffuse[3] = md.a;
  if (specularOn_) {
    specular[0] = ms.r * specSum[0];
    specular[1] = ms.g * specSum[1];
    specular[2] = ms.b * specSum[2];
    specular[3] = ms.a;
  } else {
    specular[0] = specular[1] = specular[2] = 0.f;
    specular[3] = vs ? vs->a : 0.f;
  }
}

float FogFactor(int mode, float d, float start, float end, float density) {
  float f = 1.f;
  switch (mode) {
    case D3DFOG_LINEAR:
      f = end != start ? (end - d) / (end - start) : (d < end ? 1.f : 0.f);
      break;
    case D3DFOG_EXP:
      f = std::exp(-d * density);
      break;
    case D3DFOG_EXP2: {
      const float x = d * density;
      f = std::exp(-x * x);
      break;
    }
    default:
      break;
  }
  return Clamp01(f);
}

}  // namespace d3d9
