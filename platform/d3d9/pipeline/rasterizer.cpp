// Triangle set-up and scan conversion, lines and points.
#include "d3d9/pipeline/rasterizer.h"

#include <algorithm>
#include <cmath>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "d3d9/pipeline/texture_sampler.h"

namespace d3d9 {

int64_t Snap(float v) {
  if (!(v > -kMaxCoord)) v = -kMaxCoord;  // also NaN
  if (v > kMaxCoord) v = kMaxCoord;
#if defined(__x86_64__)
  // lrint without the library call: the conversion rounds to nearest, ties to even.
  return static_cast<int64_t>(_mm_cvtss_si64(_mm_set_ss(v * static_cast<float>(kSub))));
#else
  return static_cast<int64_t>(std::lrint(v * static_cast<float>(kSub)));
#endif
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

bool HasAvx() {
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
}

// A quad's interpolated attributes two at a time: `planes` holds, per pair, the base, x step and
// y step of both (the first attribute's in the low four floats). The same operations in the same
// order as the four-lane loop, so the values are the same.
__attribute__((target("avx"))) void InterpolatePairs(const float* planes, int pairs,
                                                     float* const* rows, int lane0, __m128 rx,
                                                     __m128 ry, __m128 wcorr) {
  const __m256 rx2 = _mm256_set_m128(rx, rx), ry2 = _mm256_set_m128(ry, ry),
               w2 = _mm256_set_m128(wcorr, wcorr);
  for (int j = 0; j < pairs; ++j, planes += 24) {
    const __m256 v = _mm256_mul_ps(
        _mm256_add_ps(
            _mm256_add_ps(_mm256_load_ps(planes), _mm256_mul_ps(_mm256_load_ps(planes + 8), rx2)),
            _mm256_mul_ps(_mm256_load_ps(planes + 16), ry2)),
        w2);
    _mm_storeu_ps(rows[2 * j] + lane0, _mm256_castps256_ps128(v));
    _mm_storeu_ps(rows[2 * j + 1] + lane0, _mm256_extractf128_ps(v, 1));
  }
}

}  // namespace
#endif

void Rasterizer::FlushBatch() {
  if (batch_.live) sink_->Flush(batch_);
  batch_.lanes = 0;
  batch_.live = 0;
}

void Rasterizer::Triangle(const RVertex& a0, const RVertex& b0, const RVertex& c0, bool cull) {
  const RasterSetup& p = setup_;
  int64_t ax = Snap(a0.x), ay = Snap(a0.y), bx = Snap(b0.x), by = Snap(b0.y), cx = Snap(c0.x),
          cy = Snap(c0.y);
  int64_t area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
  if (area == 0) return;
  // With y pointing down, a positive area is a clockwise triangle on screen.
  if (cull && p.cullMode == D3DCULL_CW && area > 0) return;
  if (cull && p.cullMode == D3DCULL_CCW && area < 0) return;
  const bool backFacing = area < 0;
  const RVertex* a = &a0;
  const RVertex* b = &b0;
  const RVertex* c = &c0;
  if (area < 0) {
    std::swap(b, c);
    std::swap(bx, cx);
    std::swap(by, cy);
    area = -area;
  }
  if (p.fillMode != D3DFILL_SOLID && cull) {
    if (p.fillMode == D3DFILL_WIREFRAME) {
      Line(*a, *b, false);
      Line(*b, *c, false);
      Line(*c, *a, false);
    } else {
      Point(*a);
      Point(*b);
      Point(*c);
    }
    return;
  }
  const int64_t minX = std::max<int64_t>(CeilSub(std::min({ax, bx, cx})), p.clipX0);
  const int64_t maxX = std::min<int64_t>(FloorSub(std::max({ax, bx, cx})), p.clipX1 - 1);
  const int64_t minY = std::max<int64_t>(CeilSub(std::min({ay, by, cy})), p.clipY0);
  const int64_t maxY = std::min<int64_t>(FloorSub(std::max({ay, by, cy})), p.clipY1 - 1);
  if (minX > maxX || minY > maxY) return;
  // A box wholly within the other thread's stripes is its alone: no set-up here.
  if (!OwnsRow(p.stripe, minY) && (((minY >> kStripeShift) + 1) << kStripeShift) > maxY) return;

  // Edge functions; a pixel on an edge belongs to the triangle only for top and left edges.
  struct Edge {
    int64_t dx, dy, bias;
    int64_t ox, oy;
  } e[3] = {
      {bx - ax, by - ay, 0, ax, ay}, {cx - bx, cy - by, 0, bx, by}, {ax - cx, ay - cy, 0, cx, cy}};
  for (auto& ed : e) {
    const bool topLeft = (ed.dy == 0 && ed.dx > 0) || ed.dy < 0;
    ed.bias = topLeft ? 0 : -1;
  }

  {
    const float xs[3] = {a->x, b->x, c->x}, ys[3] = {a->y, b->y, c->y};
    const RVertex* vs[3] = {a, b, c};
    sink_->BeginTriangle(xs, ys, vs);
  }

  // Attribute planes on the snapped positions.
  const float fx0 = static_cast<float>(ax) / kSub, fy0 = static_cast<float>(ay) / kSub;
  const float ex1 = static_cast<float>(bx - ax) / kSub, ey1 = static_cast<float>(by - ay) / kSub;
  const float ex2 = static_cast<float>(cx - ax) / kSub, ey2 = static_cast<float>(cy - ay) / kSub;
  const float inv = 1.f / (ex1 * ey2 - ex2 * ey1);
  const bool persp = !(a->w == b->w && b->w == c->w);
  auto plane = [&](float va, float vb, float vc, float* ddx, float* ddy) {
    const float d1 = vb - va, d2 = vc - va;
    *ddx = (d1 * ey2 - d2 * ey1) * inv;
    *ddy = (d2 * ex1 - d1 * ex2) * inv;
  };

  // Constant attributes are filled in, the others interpolated. Flat shading takes the colours
  // of the triangle's first vertex.
  const RVertex& flatSrc = a0;
  int attrs[kAttrCount], consts[kAttrCount];
  float constValue[kAttrCount];
  int nattr = 0, nconst = 0;
  auto colourGroup = [&](int first) {
    bool same = true;
    for (int i = 0; i < 4; ++i)
      same &= a->attr[first + i] == b->attr[first + i] && a->attr[first + i] == c->attr[first + i];
    if (p.flatShade || same) {
      const RVertex& s = p.flatShade ? flatSrc : *a;
      for (int i = 0; i < 4; ++i) {
        consts[nconst] = first + i;
        constValue[nconst++] = s.attr[first + i];
      }
    } else {
      for (int i = 0; i < 4; ++i) attrs[nattr++] = first + i;
    }
  };
  if (p.diffuse) colourGroup(kAttrDiffuse);
  if (p.specular) colourGroup(kAttrSpecular);
  if (p.fog) {
    if (a->attr[kAttrFog] == b->attr[kAttrFog] && a->attr[kAttrFog] == c->attr[kAttrFog]) {
      consts[nconst] = kAttrFog;
      constValue[nconst++] = a->attr[kAttrFog];
    } else {
      attrs[nattr++] = kAttrFog;
    }
  }
  for (int s = 0; s < kTexSlots; ++s)
    if (p.texSlots & (1u << s)) {
      const int n = p.texComponents[s] ? p.texComponents[s] : 4;
      for (int k = 0; k < n; ++k) attrs[nattr++] = kAttrTex + 4 * s + k;
    }

  float base[kAttrCount], ddx[kAttrCount], ddy[kAttrCount];
  float qBase = 1.f, qdx = 0.f, qdy = 0.f;
  if (persp) plane(a->w, b->w, c->w, &qdx, &qdy), qBase = a->w;
  // Broadcast once per triangle rather than once per quad.
  __m128 baseV[kAttrCount], ddxV[kAttrCount], ddyV[kAttrCount];
  float* rows[kAttrCount];
  for (int k = 0; k < nattr; ++k) {
    const int i = attrs[k];
    if (persp) {
      plane(a->attr[i] * a->w, b->attr[i] * b->w, c->attr[i] * c->w, &ddx[k], &ddy[k]);
      base[k] = a->attr[i] * a->w;
    } else {
      plane(a->attr[i], b->attr[i], c->attr[i], &ddx[k], &ddy[k]);
      base[k] = a->attr[i];
    }
    baseV[k] = _mm_set1_ps(base[k]);
    ddxV[k] = _mm_set1_ps(ddx[k]);
    ddyV[k] = _mm_set1_ps(ddy[k]);
    rows[k] = batch_.attr[i];
  }
  // Pairs of attributes for the AVX loop; an odd one left over goes four lanes at a time.
  int pairs = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  alignas(32) float pairPlanes[kAttrCount / 2][3][8];
  if (HasAvx()) {
    pairs = nattr / 2;
    for (int j = 0; j < pairs; ++j)
      for (int h = 0; h < 2; ++h) {
        const int k = 2 * j + h;
        for (int l = 0; l < 4; ++l) {
          pairPlanes[j][0][4 * h + l] = base[k];
          pairPlanes[j][1][4 * h + l] = ddx[k];
          pairPlanes[j][2][4 * h + l] = ddy[k];
        }
      }
  }
#endif
  float zdx, zdy;
  plane(a->z, b->z, c->z, &zdx, &zdy);
  const float flatEye = a->w != 0.f ? 1.f / a->w : 0.f;

  if (batch_.lanes && (!batch_.quads || batch_.backFacing != backFacing)) FlushBatch();
  batch_.quads = true;
  batch_.backFacing = backFacing;
  FragmentBatch& bt = batch_;
  const __m128 fx0V = _mm_set1_ps(fx0), fy0V = _mm_set1_ps(fy0);
  const int64_t qx0 = minX & ~int64_t{1}, qy0 = minY & ~int64_t{1};
  // Edge values step by -dy per pixel along a row: the first quad of a row pair's span is
  // evaluated, the others stepped, exactly (integers).
  const int64_t s0 = -e[0].dy * kSub, s1 = -e[1].dy * kSub, s2 = -e[2].dy * kSub;
  const int64_t step[3] = {s0, s1, s2};
  // The spans below multiply by these rather than divide; they are widened by a pixel anyway.
  double invStep[3];
  for (int k = 0; k < 3; ++k) invStep[k] = step[k] ? 1.0 / static_cast<double>(step[k]) : 0.0;
  for (int64_t y = qy0; y <= maxY; y += 2) {
    if (!OwnsRow(p.stripe, y)) continue;
    int64_t w[2][3];
    for (int r = 0; r < 2; ++r) {
      const int64_t sy = (y + r) << kSubBits, sx = qx0 << kSubBits;
      for (int k = 0; k < 3; ++k)
        w[r][k] = e[k].dx * (sy - e[k].oy) - e[k].dy * (sx - e[k].ox) + e[k].bias;
    }
    const bool row0 = y >= minY, row1 = y + 1 <= maxY;
    // The columns where each row may be inside all three edges, widened by a pixel against
    // rounding; the coverage tests below stay exact, so quads outside are only skipped work.
    int64_t spanLo = maxX + 1, spanHi = minX - 1;
    for (int r = 0; r < 2; ++r) {
      if (!(r == 0 ? row0 : row1)) continue;
      double lo = static_cast<double>(minX), hi = static_cast<double>(maxX);
      for (int k = 0; k < 3; ++k) {
        const double at = static_cast<double>(w[r][k]);
        if (step[k] > 0)
          lo = std::max(lo, static_cast<double>(qx0) + std::floor(-at * invStep[k]) - 1.0);
        else if (step[k] < 0)
          hi = std::min(hi, static_cast<double>(qx0) + std::ceil(at * -invStep[k]) + 1.0);
        else if (w[r][k] < 0)
          hi = lo - 1.0;
      }
      if (lo > hi) continue;
      spanLo = std::min(spanLo, static_cast<int64_t>(lo));
      spanHi = std::max(spanHi, static_cast<int64_t>(hi));
    }
    if (spanLo > spanHi) continue;
    const int64_t xStart = spanLo & ~int64_t{1}, xEnd = spanHi;
    int64_t t0 = w[0][0] + s0 * (xStart - qx0), t1 = w[0][1] + s1 * (xStart - qx0),
            t2 = w[0][2] + s2 * (xStart - qx0);
    int64_t u0 = w[1][0] + s0 * (xStart - qx0), u1 = w[1][1] + s1 * (xStart - qx0),
            u2 = w[1][2] + s2 * (xStart - qx0);
    for (int64_t x = xStart; x <= xEnd; x += 2) {
      const bool col0 = x >= minX, col1 = x + 1 <= maxX;
      unsigned mask = 0;
      if (row0 && col0 && (t0 | t1 | t2) >= 0) mask |= 1;
      if (row0 && col1 && ((t0 + s0) | (t1 + s1) | (t2 + s2)) >= 0) mask |= 2;
      if (row1 && col0 && (u0 | u1 | u2) >= 0) mask |= 4;
      if (row1 && col1 && ((u0 + s0) | (u1 + s1) | (u2 + s2)) >= 0) mask |= 8;
      t0 += 2 * s0;
      t1 += 2 * s1;
      t2 += 2 * s2;
      u0 += 2 * s0;
      u1 += 2 * s1;
      u2 += 2 * s2;
      if (!mask) continue;
      const int lane0 = bt.lanes;
      for (int i = 0; i < 4; ++i) {
        bt.x[lane0 + i] = static_cast<int16_t>(x + (i & 1));
        bt.y[lane0 + i] = static_cast<int16_t>(y + (i >> 1));
      }
      // The quad's four lanes at once (uncovered ones too: they are not live, and helper lanes
      // need them), with the same operations in the same order as one lane at a time.
      const float left = static_cast<float>(x), top = static_cast<float>(y);
      const __m128 rx =
          _mm_sub_ps(_mm_add_ps(_mm_set1_ps(left), _mm_setr_ps(0.f, 1.f, 0.f, 1.f)), fx0V);
      const __m128 ry =
          _mm_sub_ps(_mm_add_ps(_mm_set1_ps(top), _mm_setr_ps(0.f, 0.f, 1.f, 1.f)), fy0V);
      auto planeAt = [&](float b0, float dx, float dy) {
        return _mm_add_ps(_mm_add_ps(_mm_set1_ps(b0), _mm_mul_ps(_mm_set1_ps(dx), rx)),
                          _mm_mul_ps(_mm_set1_ps(dy), ry));
      };
      _mm_storeu_ps(&bt.z[lane0], planeAt(a->z, zdx, zdy));
      __m128 wcorr = _mm_set1_ps(1.f);
      if (persp) wcorr = _mm_div_ps(wcorr, planeAt(qBase, qdx, qdy));
      _mm_storeu_ps(&bt.eye[lane0], persp ? wcorr : _mm_set1_ps(flatEye));
#if defined(__x86_64__) && defined(__GNUC__)
      if (pairs) InterpolatePairs(&pairPlanes[0][0][0], pairs, rows, lane0, rx, ry, wcorr);
#endif
      for (int k = 2 * pairs; k < nattr; ++k)
        _mm_storeu_ps(rows[k] + lane0,
                      _mm_mul_ps(_mm_add_ps(_mm_add_ps(baseV[k], _mm_mul_ps(ddxV[k], rx)),
                                            _mm_mul_ps(ddyV[k], ry)),
                                 wcorr));
      for (int k = 0; k < nconst; ++k)
        _mm_storeu_ps(&bt.attr[consts[k]][lane0], _mm_set1_ps(constValue[k]));
      bt.live |= static_cast<uint64_t>(mask) << lane0;
      bt.lanes += 4;
      if (bt.lanes == kBatchLanes) FlushBatch();
    }
  }
  FlushBatch();
}

// One pixel of a line: its fragment takes the attributes at `t` along the line, interpolated in
// screen space.
void Rasterizer::Pixel(const RVertex& a, const RVertex& b, float t, int x, int y) {
  if (!OwnsRow(setup_.stripe, y)) return;
  if (batch_.lanes && batch_.quads) FlushBatch();
  batch_.quads = false;
  batch_.backFacing = false;
  const int lane = batch_.lanes;
  batch_.x[lane] = static_cast<int16_t>(x);
  batch_.y[lane] = static_cast<int16_t>(y);
  batch_.z[lane] = a.z + (b.z - a.z) * t;
  const float w = a.w + (b.w - a.w) * t;
  batch_.eye[lane] = w != 0.f ? 1.f / w : 0.f;
  for (int k = 0; k < kAttrCount; ++k)
    batch_.attr[k][lane] = a.attr[k] + (b.attr[k] - a.attr[k]) * t;
  batch_.live |= uint64_t{1} << lane;
  if (++batch_.lanes == kBatchLanes) FlushBatch();
}

void Rasterizer::Line(const RVertex& a, const RVertex& b, bool last) {
  const RasterSetup& p = setup_;
  const float dx = b.x - a.x, dy = b.y - a.y;
  const bool xMajor = std::fabs(dx) >= std::fabs(dy);
  const float start = std::clamp(xMajor ? a.x : a.y, -kMaxCoord, kMaxCoord);
  const float end = std::clamp(xMajor ? b.x : b.y, -kMaxCoord, kMaxCoord);
  if (!(start == start) || !(end == end)) return;  // NaN
  const int i0 = FloorToInt(start + 0.5f), i1 = FloorToInt(end + 0.5f);
  const int step = i1 >= i0 ? 1 : -1;
  const int count = std::abs(i1 - i0) + (last ? 1 : 0);
  if (count == 0) return;
  const float len = end - start;
  for (int k = 0; k < count; ++k) {
    const int i = i0 + k * step;
    float t = len != 0.f ? (static_cast<float>(i) - start) / len : 0.f;
    t = std::clamp(t, 0.f, 1.f);
    const float minor = xMajor ? a.y + dy * t : a.x + dx * t;
    const int j = FloorToInt(minor + 0.5f);
    const int x = xMajor ? i : j, y = xMajor ? j : i;
    if (x < p.clipX0 || x >= p.clipX1 || y < p.clipY0 || y >= p.clipY1) continue;
    Pixel(a, b, t, x, y);
  }
  FlushBatch();
}

void Rasterizer::Point(const RVertex& v) {
  const RasterSetup& p = setup_;
  const int x = FloorToInt(v.x + 0.5f), y = FloorToInt(v.y + 0.5f);
  if (x < p.clipX0 || x >= p.clipX1 || y < p.clipY0 || y >= p.clipY1) return;
  Pixel(v, v, 0.f, x, y);
  FlushBatch();
}

}  // namespace d3d9
