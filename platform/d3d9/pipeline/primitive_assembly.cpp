// Assembly, clipping and the viewport transform.
#include "d3d9/pipeline/primitive_assembly.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/pipeline/texture_sampler.h"

namespace d3d9 {

namespace {

constexpr float kGuardBand = 16.f;  // clip-space guard band, in viewport half-widths

inline RVertex Lerp(const RVertex& a, const RVertex& b, float t) {
  RVertex r;
  r.x = a.x + (b.x - a.x) * t;
  r.y = a.y + (b.y - a.y) * t;
  r.z = a.z + (b.z - a.z) * t;
  r.w = a.w + (b.w - a.w) * t;
  for (int i = 0; i < kAttrCount; ++i) r.attr[i] = a.attr[i] + (b.attr[i] - a.attr[i]) * t;
  r.psize = a.psize;
  return r;
}

// The inverse of a 4 x 4 matrix by cofactors; false when it is singular.
bool Invert(const D3DMATRIX& m, float out[4][4]) {
  const float* a = &m._11;
  float inv[16];
  inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
           a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
  inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] -
           a[8] * a[7] * a[14] - a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
  inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
           a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
  inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] -
            a[8] * a[6] * a[13] - a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
  inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] -
           a[9] * a[3] * a[14] - a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
  inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
           a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
  inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
           a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
  inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
            a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
  inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
           a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
  inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
           a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
  inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
            a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
  inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
            a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
  inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
           a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
  inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
           a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
  inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
            a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
  inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
            a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
  const float det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
  if (det == 0.f || !std::isfinite(det)) return false;
  for (int i = 0; i < 16; ++i) out[i / 4][i % 4] = inv[i] / det;
  return true;
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

}  // namespace

void PrimitiveAssembler::Configure(const DeviceState& s, int stages, bool shaderPlanes) {
  viewport_ = s.viewport;
  pretransformed_ = s.layout.pretransformed;
  pointSprites_ = s.rs[D3DRS_POINTSPRITEENABLE] != 0;
  stages_ = stages;
  planes_ = 6;
  const DWORD enabled = s.rs[D3DRS_CLIPPING] ? s.rs[D3DRS_CLIPPLANEENABLE] & 0x3F : 0;
  if (enabled && shaderPlanes && !pretransformed_) {
    for (int i = 0; i < 6; ++i)
      if (enabled & (1u << i)) std::memcpy(userPlanes_[planes_++ - 6], s.clipPlanes[i], 16);
  } else if (enabled && !pretransformed_) {
    // The planes are given in world space; a world point is a clip-space point times the
    // inverse of view x projection, so the plane in clip space is that inverse times the plane.
    float inv[4][4];
    if (Invert(Multiply(s.view, s.proj), inv)) {
      for (int i = 0; i < 6; ++i) {
        if (!(enabled & (1u << i))) continue;
        float* q = userPlanes_[planes_ - 6];
        for (int r = 0; r < 4; ++r)
          q[r] = inv[r][0] * s.clipPlanes[i][0] + inv[r][1] * s.clipPlanes[i][1] +
                 inv[r][2] * s.clipPlanes[i][2] + inv[r][3] * s.clipPlanes[i][3];
        ++planes_;
      }
    }
  }
}

void PrimitiveAssembler::ToScreen(RVertex* v) const {
  const float rhw = 1.f / v->w;
  const float hw = static_cast<float>(viewport_.Width) * 0.5f;
  const float hh = static_cast<float>(viewport_.Height) * 0.5f;
  v->x = static_cast<float>(viewport_.X) + (1.f + v->x * rhw) * hw;
  v->y = static_cast<float>(viewport_.Y) + (1.f - v->y * rhw) * hh;
  v->z = viewport_.MinZ + v->z * rhw * (viewport_.MaxZ - viewport_.MinZ);
  v->w = rhw;
}

// Signed distances to the clip planes: near (z >= 0), far (z <= w), a guard band on x and y, then
// the user's planes.
float PrimitiveAssembler::Distance(const RVertex& v, int plane) const {
  switch (plane) {
    case 0:
      return v.z;
    case 1:
      return v.w - v.z;
    case 2:
      return kGuardBand * v.w + v.x;
    case 3:
      return kGuardBand * v.w - v.x;
    case 4:
      return kGuardBand * v.w + v.y;
    case 5:
      return kGuardBand * v.w - v.y;
    default: {
      const float* q = userPlanes_[plane - 6];
      return q[0] * v.x + q[1] * v.y + q[2] * v.z + q[3] * v.w;
    }
  }
}

// Distance for the six fixed planes, written out: a loop over the switch costs an indirect jump
// per plane.
int PrimitiveAssembler::OutCode(const RVertex& v) const {
  const float g = kGuardBand * v.w;
  int code = 0;
  code |= !(v.z >= 0.f) ? 1 : 0;
  code |= !(v.w - v.z >= 0.f) ? 2 : 0;
  code |= !(g + v.x >= 0.f) ? 4 : 0;
  code |= !(g - v.x >= 0.f) ? 8 : 0;
  code |= !(g + v.y >= 0.f) ? 16 : 0;
  code |= !(g - v.y >= 0.f) ? 32 : 0;
  for (int p = 6; p < planes_; ++p) code |= !(Distance(v, p) >= 0.f) ? 1 << p : 0;
  return code;
}

void PrimitiveAssembler::Draw(D3DPRIMITIVETYPE type, UINT prims, RVertex* v, UINT count,
                              const void* indices, bool i32, UINT minIndex, Rasterizer& raster) {
  auto index = [&](UINT i) -> int64_t {
    if (!indices) return i;
    int64_t k =
        i32 ? static_cast<const uint32_t*>(indices)[i] : static_cast<const uint16_t*>(indices)[i];
    k -= minIndex;
    return (k < 0 || k >= count) ? -1 : k;
  };
  switch (type) {
    case D3DPT_TRIANGLELIST:
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      for (UINT p = 0; p < prims; ++p) {
        int64_t i0, i1, i2;
        if (type == D3DPT_TRIANGLELIST) {
          i0 = index(3 * p);
          i1 = index(3 * p + 1);
          i2 = index(3 * p + 2);
        } else if (type == D3DPT_TRIANGLESTRIP) {
          // Odd triangles of a strip are turned round so every triangle keeps the first winding.
          i0 = index(p + (p & 1));
          i1 = index(p + 1 - (p & 1));
          i2 = index(p + 2);
        } else {
          i0 = index(0);
          i1 = index(p + 1);
          i2 = index(p + 2);
        }
        if (i0 < 0 || i1 < 0 || i2 < 0) continue;
        Triangle(v[i0], v[i1], v[i2], raster);
      }
      break;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP:
      for (UINT p = 0; p < prims; ++p) {
        const int64_t i0 = type == D3DPT_LINELIST ? index(2 * p) : index(p);
        const int64_t i1 = type == D3DPT_LINELIST ? index(2 * p + 1) : index(p + 1);
        if (i0 < 0 || i1 < 0) continue;
        const bool last = type == D3DPT_LINELIST || p + 1 == prims;
        Line(v[i0], v[i1], last && raster.Setup().lastPixel, raster);
      }
      break;
    case D3DPT_POINTLIST:
      for (UINT p = 0; p < prims; ++p) {
        const int64_t i0 = index(p);
        if (i0 >= 0) Point(v[i0], raster);
      }
      break;
    default:
      break;
  }
}

void PrimitiveAssembler::Triangle(const RVertex& a, const RVertex& b, const RVertex& c,
                                  Rasterizer& raster) {
  if (pretransformed_) {
    raster.Triangle(a, b, c);
    return;
  }
  const int ca = OutCode(a), cb = OutCode(b), cc = OutCode(c);
  if (ca & cb & cc) return;  // wholly outside one plane
  if ((ca | cb | cc) == 0) {
    RVertex s[3] = {a, b, c};
    for (auto& sv : s) ToScreen(&sv);
    raster.Triangle(s[0], s[1], s[2]);
    return;
  }
  // Sutherland-Hodgman against the planes the triangle crosses.
  constexpr int kMax = 3 + 12;
  RVertex bufA[kMax], bufB[kMax];
  RVertex* in = bufA;
  RVertex* out = bufB;
  int n = 3;
  in[0] = a;
  in[1] = b;
  in[2] = c;
  const int crossed = ca | cb | cc;
  for (int p = 0; p < planes_ && n >= 3; ++p) {
    if (!(crossed & (1 << p))) continue;
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const RVertex& u = in[i];
      const RVertex& w = in[(i + 1) % n];
      const float du = Distance(u, p), dw = Distance(w, p);
      const bool uin = du >= 0.f, win = dw >= 0.f;
      if (uin && m < kMax) out[m++] = u;
      if (uin != win && m < kMax) out[m++] = Lerp(u, w, du / (du - dw));
    }
    std::swap(in, out);
    n = m;
  }
  if (n < 3) return;
  for (int i = 0; i < n; ++i) {
    if (!(in[i].w > 0.f)) return;
    ToScreen(&in[i]);
  }
  for (int i = 1; i + 1 < n; ++i) raster.Triangle(in[0], in[i], in[i + 1]);
}

void PrimitiveAssembler::Line(const RVertex& a0, const RVertex& b0, bool last, Rasterizer& raster) {
  RVertex a = a0, b = b0;
  if (!pretransformed_) {
    for (int pl = 0; pl < planes_; ++pl) {
      const float da = Distance(a, pl), db = Distance(b, pl);
      if (da < 0 && db < 0) return;
      if (da < 0)
        a = Lerp(a, b, da / (da - db));
      else if (db < 0)
        b = Lerp(a, b, da / (da - db));
    }
    if (!(a.w > 0.f) || !(b.w > 0.f)) return;
    ToScreen(&a);
    ToScreen(&b);
  }
  raster.Line(a, b, last);
}

void PrimitiveAssembler::Point(const RVertex& v0, Rasterizer& raster) {
  RVertex v = v0;
  if (!pretransformed_) {
    if (OutCode(v) & ~0x3C) return;  // outside near, far or a user plane
    if (!(v.w > 0.f)) return;
    ToScreen(&v);
  }
  if (!pointSprites_ && !(v.psize > 1.f)) {
    raster.Point(v);
    return;
  }
  // A square of the point's size around its centre, drawn as two triangles; point sprites
  // spread every stage's coordinates from (0, 0) at the top left to (1, 1).
  const float h = std::max(v.psize, 1.f) * 0.5f;
  RVertex q[4] = {v, v, v, v};
  const float xs[4] = {v.x - h, v.x + h, v.x - h, v.x + h};
  const float ys[4] = {v.y - h, v.y - h, v.y + h, v.y + h};
  for (int i = 0; i < 4; ++i) {
    q[i].x = xs[i];
    q[i].y = ys[i];
    if (pointSprites_)
      for (int s = 0; s < stages_; ++s) {
        float* t = &q[i].attr[kAttrTex + 4 * s];
        t[0] = static_cast<float>(i & 1);
        t[1] = static_cast<float>(i >> 1);
        t[2] = 0.f;
        t[3] = 1.f;
      }
  }
  raster.Triangle(q[0], q[1], q[2], false);
  raster.Triangle(q[2], q[1], q[3], false);
}

}  // namespace d3d9
