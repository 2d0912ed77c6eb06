// IDirect3DDevice9: scenes, clears and draws, validated and recorded for the worker.
#include <algorithm>
#include <cmath>

#include "d3d9/commands.h"
#include "d3d9/d3d9_index_buffer.h"
#include "d3d9/d3d9_vertex_buffer.h"
#include "d3d9/d3d9_shader.h"
#include "d3d9/device.h"

namespace d3d9 {

namespace {

UINT VertexCountFor(D3DPRIMITIVETYPE type, UINT prims) {
  switch (type) {
    case D3DPT_POINTLIST:
      return prims;
    case D3DPT_LINELIST:
      return prims * 2;
    case D3DPT_LINESTRIP:
      return prims + 1;
    case D3DPT_TRIANGLELIST:
      return prims * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      return prims + 2;
    default:
      return 0;
  }
}

constexpr UINT kMaxPrimitives = 0xFFFFF;

}  // namespace

// --- Scene ---------------------------------------------------------------------------------------

HRESULT Device::BeginScene() {
  if (inScene_) return D3DERR_INVALIDCALL;
  inScene_ = true;
  return D3D_OK;
}

HRESULT Device::EndScene() {
  if (!inScene_) return D3DERR_INVALIDCALL;
  inScene_ = false;
  return D3D_OK;
}

// Clears the rectangles (or the whole viewport), each clipped to the viewport.
HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                      DWORD stencil) {
  if (count > 0 && !rects) return D3DERR_INVALIDCALL;
  if (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) return D3DERR_INVALIDCALL;
  if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !api_.depthStencil)
    return D3DERR_INVALIDCALL;
  int stencilBits = 0;
  if ((flags & D3DCLEAR_STENCIL) &&
      (DepthStoreOf(api_.depthStencil->store.format, &stencilBits), stencilBits == 0))
    return D3DERR_INVALIDCALL;
  if (!std::isfinite(z) || z < 0.f || z > 1.f) return D3DERR_INVALIDCALL;
  if (count > 1u << 20) return D3DERR_INVALIDCALL;
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  NoteFastPaths();
  auto* c = Record<CmdClear>(kOpClear, count * sizeof(D3DRECT));
  *c = CmdClear{count, flags, color, z, stencil};
  if (count) std::memcpy(c + 1, rects, count * sizeof(D3DRECT));
  return D3D_OK;
}

// --- Draw entry points ---------------------------------------------------------------------------

HRESULT Device::ValidateDraw() const {
  if (!inScene_) return D3DERR_INVALIDCALL;
  const bool transformed = api_.layout.pretransformed;
  const VertexShader* vs = transformed ? nullptr : api_.vertexShader;
  // A vertex shader may take its position from any element; fixed function needs one.
  if (vs ? api_.layout.semanticCount == 0 : !api_.layout.valid) return D3DERR_INVALIDCALL;
  // Shader model 3 runs only in pairs: a vs_3_0 with a ps_3_0, and a ps_3_0 after a vs_3_0 or
  // on transformed vertices.
  const bool vs3 = vs && vs->Major() >= 3;
  const bool ps3 = api_.pixelShader && api_.pixelShader->Major() >= 3;
  if (vs3 != ps3 && !(ps3 && transformed)) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

// Every stream the vertex layout reads must hold vertices [first, first + count): each needs the
// layout's bytes of that stream, the last one no more.
HRESULT Device::ValidateStreams(int64_t first, UINT count) const {
  if (first < 0 || count == 0) return D3DERR_INVALIDCALL;
  const VertexLayout& l = api_.layout;
  for (int s = 0; s < kMaxStreams; ++s) {
    if (!(l.streams & (1u << s))) continue;
    const StreamBinding& b = api_.streams[s];
    if (!b.buffer || b.stride == 0 || b.stride < l.need[s]) return D3DERR_INVALIDCALL;
    const uint64_t begin = b.offset + static_cast<uint64_t>(first) * b.stride;
    const uint64_t end = begin + static_cast<uint64_t>(count - 1) * b.stride + l.need[s];
    if (end > b.buffer->data.size()) return D3DERR_INVALIDCALL;
  }
  return D3D_OK;
}

// Direct3D unbinds stream 0 (and, for indexed draws, the indices) after a user-pointer draw.
void Device::UnbindUserPointerStreams(bool indicesToo) {
  if (api_.streams[0].buffer) {
    api_.streams[0].buffer->Release();
    api_.streams[0] = StreamBinding{};
    *Record<CmdBind>(kOpStream) = CmdBind{0, nullptr, 0, 0, 0};
  }
  if (indicesToo && api_.indices) {
    api_.indices->Release();
    api_.indices = nullptr;
    Record<CmdBind>(kOpIndices)->object = nullptr;
  }
}

// User-pointer data is copied into the command stream; more than this in one draw is refused.
constexpr size_t kMaxUserBytes = size_t{1} << 28;

// User-pointer draws take stream 0 only: a layout that reads another stream cannot be drawn so.
HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT prims, const void* data, UINT stride) {
  if (!data || stride == 0 || prims == 0 || prims > kMaxPrimitives) return D3DERR_INVALIDCALL;
  const UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  if (api_.layout.streams != 1 || stride < api_.layout.need[0]) return D3DERR_INVALIDCALL;
  if (static_cast<uint64_t>(n) * stride > kMaxUserBytes) return D3DERR_INVALIDCALL;
  UnbindUserPointerStreams(false);
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  NoteFastPaths();
  // The last vertex needs only the layout's bytes, not a whole stride.
  const size_t bytes = static_cast<size_t>(n - 1) * stride + api_.layout.need[0];
  auto* c = Record<CmdDraw>(kOpDraw, bytes);
  *c =
      CmdDraw{type, prims, stride, n, 0, static_cast<uint32_t>(bytes), 0, 0, 0, true, false, false};
  std::memcpy(c + 1, data, bytes);
  return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT prims) {
  if (prims == 0 || prims > kMaxPrimitives) return D3DERR_INVALIDCALL;
  const UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  hr = ValidateStreams(start, n);
  if (FAILED(hr)) return hr;
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  NoteFastPaths();
  *Record<CmdDraw>(kOpDraw) = CmdDraw{type, prims, 0, n, 0, 0, 0, start, 0, false, false, false};
  return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT numVerts,
                                     UINT startIndex, UINT prims) {
  if (prims == 0 || prims > kMaxPrimitives || numVerts == 0) return D3DERR_INVALIDCALL;
  const UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  IndexBuffer* ib = api_.indices;
  if (!ib) return D3DERR_INVALIDCALL;
  const bool i32 = ib->Is32();
  const uint64_t isz = i32 ? 4 : 2;
  if ((static_cast<uint64_t>(startIndex) + n) * isz > ib->data.size()) return D3DERR_INVALIDCALL;
  const int64_t first = static_cast<int64_t>(base) + minIndex;
  if (first > 0xFFFFFFFFll) return D3DERR_INVALIDCALL;
  hr = ValidateStreams(first, numVerts);
  if (FAILED(hr)) return hr;
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  NoteFastPaths();
  *Record<CmdDraw>(kOpDraw) = CmdDraw{type,
                                      prims,
                                      0,
                                      numVerts,
                                      minIndex,
                                      0,
                                      0,
                                      static_cast<uint32_t>(first),
                                      static_cast<uint32_t>(startIndex * isz),
                                      false,
                                      true,
                                      i32};
  return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVerts,
                                       UINT prims, const void* indexData, D3DFORMAT indexFormat,
                                       const void* vertexData, UINT stride) {
  if (!indexData || !vertexData || stride == 0 || prims == 0 || prims > kMaxPrimitives ||
      numVerts == 0)
    return D3DERR_INVALIDCALL;
  if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  const UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  if (api_.layout.streams != 1 || stride < api_.layout.need[0]) return D3DERR_INVALIDCALL;
  if (static_cast<uint64_t>(numVerts) * stride + static_cast<uint64_t>(n) * 4 > kMaxUserBytes)
    return D3DERR_INVALIDCALL;
  UnbindUserPointerStreams(true);
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  NoteFastPaths();
  const bool i32 = indexFormat == D3DFMT_INDEX32;
  const size_t vbytes = static_cast<size_t>(numVerts - 1) * stride + api_.layout.need[0];
  const size_t ibytes = static_cast<size_t>(n) * (i32 ? 4 : 2);
  auto* c = Record<CmdDraw>(kOpDraw, vbytes + ibytes);
  *c = CmdDraw{type,
               prims,
               stride,
               numVerts,
               minIndex,
               static_cast<uint32_t>(vbytes),
               static_cast<uint32_t>(ibytes),
               0,
               0,
               true,
               true,
               i32};
  auto* out = reinterpret_cast<uint8_t*>(c + 1);
  std::memcpy(out, static_cast<const uint8_t*>(vertexData) + static_cast<size_t>(minIndex) * stride,
              vbytes);
  std::memcpy(out + vbytes, indexData, ibytes);
  return D3D_OK;
}

}  // namespace d3d9
