// The pipeline's surface operations: render-target binding, clears, StretchRect, ColorFill and
// the copy of the back buffer into the presented frame.
#include <algorithm>
#include <cmath>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "d3d9/d3d9_surface.h"
#include "d3d9/pipeline/pipeline.h"

namespace d3d9 {

void Pipeline::RenderTarget(Surface* rt) {
  Drop(ex_.renderTarget);
  ex_.renderTarget = rt;
  ex_.viewport = {0, 0, rt->store.width, rt->store.height, 0.f, 1.f};
  ex_.scissor = {0, 0, static_cast<LONG>(rt->store.width), static_cast<LONG>(rt->store.height)};
  dirty_ |= kVertex | kAssembly | kMerge | kRaster;
}

// Clears the rectangles (or the whole viewport), each clipped to the viewport.
void Pipeline::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                     DWORD stencil) {
  SurfaceStore& rt = ex_.renderTarget->store;
  const LONG vx0 = static_cast<LONG>(ex_.viewport.X), vy0 = static_cast<LONG>(ex_.viewport.Y);
  const LONG vx1 =
      std::min<LONG>(vx0 + static_cast<LONG>(ex_.viewport.Width), static_cast<LONG>(rt.width));
  const LONG vy1 =
      std::min<LONG>(vy0 + static_cast<LONG>(ex_.viewport.Height), static_cast<LONG>(rt.height));
  D3DRECT whole{vx0, vy0, vx1, vy1};
  if (count == 0) {
    rects = &whole;
    count = 1;
  }
  uint8_t cpx[16] = {};
  WritePixelArgb(rt.format, cpx, color);
  uint32_t c32;
  std::memcpy(&c32, cpx, 4);
  SurfaceStore* ds = ex_.depthStencil ? &ex_.depthStencil->store : nullptr;
  int stencilBits = 0;
  const DepthStore store = ds ? DepthStoreOf(ds->format, &stencilBits) : DepthStore::None;
  const uint32_t stencilMax = stencilBits ? (1u << stencilBits) - 1 : 0;
  const uint32_t dval = QuantizeDepth(z, store);
  for (DWORD i = 0; i < count; ++i) {
    const LONG x0 = std::max(rects[i].x1, vx0), y0 = std::max(rects[i].y1, vy0);
    const LONG x1 = std::min(rects[i].x2, vx1), y1 = std::min(rects[i].y2, vy1);
    if (x0 >= x1 || y0 >= y1) continue;
    const size_t w = static_cast<size_t>(x1 - x0);
    // The first row of a rectangle is filled pixel by pixel and copied to the others: the
    // library copy is several times faster than the element loop.
    if (flags & D3DCLEAR_TARGET) {
      const uint8_t* first = rt.Row(y0) + static_cast<size_t>(x0) * rt.bpp;
      for (LONG y = y0; y < y1; ++y) {
        uint8_t* row = rt.Row(y) + static_cast<size_t>(x0) * rt.bpp;
        if (y > y0)
          std::memcpy(row, first, w * rt.bpp);
        else if (rt.bpp == 4)
          std::fill_n(reinterpret_cast<uint32_t*>(row), w, c32);
        else
          for (size_t x = 0; x < w; ++x) std::memcpy(row + x * rt.bpp, cpx, rt.bpp);
      }
    }
    if (ds && (flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) {
      const LONG dx1 = std::min<LONG>(x1, static_cast<LONG>(ds->width));
      const LONG dy1 = std::min<LONG>(y1, static_cast<LONG>(ds->height));
      if (x0 >= dx1) continue;
      const size_t dw = static_cast<size_t>(dx1 - x0);
      for (LONG y = y0; y < dy1; ++y) {
        uint8_t* row = ds->Row(y) + static_cast<size_t>(x0) * ds->bpp;
        if (ds->bpp == 2) {
          if (!(flags & D3DCLEAR_ZBUFFER)) break;
          if (y > y0)
            std::memcpy(row, ds->Row(y0) + static_cast<size_t>(x0) * 2, dw * 2);
          else
            std::fill_n(reinterpret_cast<uint16_t*>(row), dw, static_cast<uint16_t>(dval));
          continue;
        }
        auto* p = reinterpret_cast<uint32_t*>(row);
        for (size_t x = 0; x < dw; ++x) {
          uint32_t v = p[x];
          if (flags & D3DCLEAR_ZBUFFER)
            v = store == DepthStore::D24 ? ((dval << 8) | (v & 0xFF)) : dval;
          if ((flags & D3DCLEAR_STENCIL) && stencilMax)
            v = (v & ~stencilMax) | (stencil & stencilMax);
          p[x] = v;
        }
      }
    }
  }
}

void Pipeline::StretchRect(Surface* src, const RECT& sr, Surface* dst, const RECT& dr,
                           D3DTEXTUREFILTERTYPE filter) {
  const SurfaceStore& s = src->store;
  SurfaceStore& d = dst->store;
  const int sw = sr.right - sr.left, sh = sr.bottom - sr.top;
  const int dw = dr.right - dr.left, dh = dr.bottom - dr.top;
  if (filter == D3DTEXF_LINEAR && (sw != dw || sh != dh)) {
    // Bilinear, sampling the source at the destination pixel centres, clamped to the rectangle.
    for (int y = 0; y < dh; ++y) {
      float fy =
          (static_cast<float>(y) + 0.5f) * static_cast<float>(sh) / static_cast<float>(dh) - 0.5f;
      fy = std::clamp(fy, 0.f, static_cast<float>(sh - 1));
      const int y0 = static_cast<int>(fy), y1 = std::min(sh - 1, y0 + 1);
      const int wy = static_cast<int>(std::lround((fy - static_cast<float>(y0)) * 256.f));
      uint8_t* drow = d.Row(dr.top + y);
      for (int x = 0; x < dw; ++x) {
        float fx =
            (static_cast<float>(x) + 0.5f) * static_cast<float>(sw) / static_cast<float>(dw) - 0.5f;
        fx = std::clamp(fx, 0.f, static_cast<float>(sw - 1));
        const int x0 = static_cast<int>(fx), x1 = std::min(sw - 1, x0 + 1);
        const int wx = static_cast<int>(std::lround((fx - static_cast<float>(x0)) * 256.f));
        const uint32_t c00 = ReadPixelArgb(s.format, s.Row(sr.top + y0) + (sr.left + x0) * s.bpp);
        const uint32_t c10 = ReadPixelArgb(s.format, s.Row(sr.top + y0) + (sr.left + x1) * s.bpp);
        const uint32_t c01 = ReadPixelArgb(s.format, s.Row(sr.top + y1) + (sr.left + x0) * s.bpp);
        const uint32_t c11 = ReadPixelArgb(s.format, s.Row(sr.top + y1) + (sr.left + x1) * s.bpp);
        uint32_t out = 0;
        for (int c = 0; c < 32; c += 8) {
          const int top = static_cast<int>((c00 >> c) & 255) * (256 - wx) +
                          static_cast<int>((c10 >> c) & 255) * wx;
          const int bot = static_cast<int>((c01 >> c) & 255) * (256 - wx) +
                          static_cast<int>((c11 >> c) & 255) * wx;
          out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << c;
        }
        WritePixelArgb(d.format, drow + (dr.left + x) * d.bpp, out);
      }
    }
    return;
  }
  // Point sampling: destination pixel x takes source column floor((x + 0.5) * sw / dw), computed
  // exactly in integers so the fast and general paths agree.
  stretchCols_.resize(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x)
    stretchCols_[x] = static_cast<uint32_t>(
        sr.left + static_cast<int>((static_cast<int64_t>(2 * x + 1) * sw) / (2 * dw)));
  // 32-bit ARGB and XRGB copy each other as words; an X format on either side makes alpha opaque,
  // exactly as reading and writing through the format would.
  auto argb32 = [](D3DFORMAT f) { return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8; };
  const bool words = argb32(s.format) && argb32(d.format) && fast_;
  const uint32_t orMask =
      (s.format == D3DFMT_X8R8G8B8 || d.format == D3DFMT_X8R8G8B8) ? 0xFF000000u : 0u;
  const bool same = (s.format == d.format || words) && fast_;
  int lastSy = -1;
  for (int y = 0; y < dh; ++y) {
    const int sy = sr.top + static_cast<int>((static_cast<int64_t>(2 * y + 1) * sh) / (2 * dh));
    uint8_t* drow = d.Row(dr.top + y) + static_cast<size_t>(dr.left) * d.bpp;
    if (same && sy == lastSy) {
      // Rows that repeat a source row copy the previous destination row.
      std::memcpy(drow, d.Row(dr.top + y - 1) + static_cast<size_t>(dr.left) * d.bpp,
                  static_cast<size_t>(dw) * d.bpp);
      continue;
    }
    lastSy = sy;
    const uint8_t* srow = s.Row(sy);
    if (same && d.bpp == 4) {
      auto* out = reinterpret_cast<uint32_t*>(drow);
      const auto* in = reinterpret_cast<const uint32_t*>(srow);
      for (int x = 0; x < dw; ++x) out[x] = in[stretchCols_[x]] | orMask;
    } else if (same) {
      for (int x = 0; x < dw; ++x)
        std::memcpy(drow + static_cast<size_t>(x) * d.bpp, srow + stretchCols_[x] * s.bpp, d.bpp);
    } else {
      for (int x = 0; x < dw; ++x)
        WritePixelArgb(d.format, drow + static_cast<size_t>(x) * d.bpp,
                       ReadPixelArgb(s.format, srow + stretchCols_[x] * s.bpp));
    }
  }
}

void Pipeline::ColorFill(Surface* s, const RECT& r, D3DCOLOR color) {
  uint8_t px[16];
  WritePixelArgb(s->store.format, px, color);
  for (LONG y = r.top; y < r.bottom; ++y) {
    uint8_t* row = s->store.Row(y) + static_cast<size_t>(r.left) * s->store.bpp;
    if (s->store.bpp == 4) {
      uint32_t v;
      std::memcpy(&v, px, 4);
      std::fill_n(reinterpret_cast<uint32_t*>(row), r.right - r.left, v);
    } else {
      for (LONG x = r.left; x < r.right; ++x, row += s->store.bpp)
        std::memcpy(row, px, s->store.bpp);
    }
  }
}

// Converts the back buffer into the frame as the window shows it (opaque ARGB): straight into the
// window's surface when it has that format, otherwise into the pipeline's frame copy.
void Pipeline::PresentCopy(const CmdPresent& c) {
  const SurfaceStore& bb = c.source->store;
  const RECT &sr = c.sr, &dr = c.dr;
  const int fw = c.width, fh = c.height;
  const int sw = sr.right - sr.left, sh = sr.bottom - sr.top;
  const int dw = dr.right - dr.left, dh = dr.bottom - dr.top;
  frameWidth_ = fw;
  frameHeight_ = fh;
  if (!c.windowPixels) frame_.resize(static_cast<size_t>(fw) * fh);
  const bool identity = sw == dw && sh == dh && bb.format == D3DFMT_X8R8G8B8;
  const int xs = std::max<LONG>(0, dr.left), xe = std::min<LONG>(fw, dr.right);
  for (int y = 0; y < fh; ++y) {
    uint32_t* out =
        c.windowPixels
            ? reinterpret_cast<uint32_t*>(c.windowPixels + static_cast<size_t>(y) * c.windowPitch)
            : frame_.data() + static_cast<size_t>(y) * fw;
    const bool inside = dw > 0 && dh > 0 && y >= dr.top && y < dr.bottom && xs < xe;
    // Outside the destination rectangle the frame is black.
    if (!inside || xs > 0) std::fill(out, out + (inside ? xs : fw), 0xFF000000u);
    if (inside && xe < fw) std::fill(out + xe, out + fw, 0xFF000000u);
    if (!inside) continue;
    const int sy = sr.top + static_cast<int>((static_cast<int64_t>(y - dr.top) * sh) / dh);
    const uint8_t* row = bb.Row(sy);
    if (identity) {
      const uint8_t* in = row + static_cast<size_t>(sr.left + (xs - dr.left)) * 4;
      int x = xs;
#if defined(__x86_64__)
      // Four pixels at a time; the element loop is not vectorised at -O2.
      const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
      for (; x + 4 <= xe; x += 4, in += 16)
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + x),
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), opaque));
#endif
      for (; x < xe; ++x, in += 4) {
        uint32_t v;
        std::memcpy(&v, in, 4);
        out[x] = v | 0xFF000000u;
      }
    } else {
      for (int x = xs; x < xe; ++x) {
        const int sx = sr.left + static_cast<int>((static_cast<int64_t>(x - dr.left) * sw) / dw);
        out[x] = ReadPixelArgb(bb.format, row + static_cast<size_t>(sx) * bb.bpp) | 0xFF000000u;
      }
    }
  }
}

}  // namespace d3d9
