#include "engine/scene/primitive_buffer.h"

#include <cmath>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"

namespace {

constexpr DWORD kPrimitiveFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// The primitives `count` vertices make as `type`; 0 when they make none or leave some over.
int32_t PrimitivesFor(int32_t type, int32_t count) {
  switch (type) {
    case D3DPT_POINTLIST:
      return count;
    case D3DPT_LINELIST:
      return count % 2 == 0 ? count / 2 : 0;
    case D3DPT_LINESTRIP:
      return count >= 2 ? count - 1 : 0;
    case D3DPT_TRIANGLELIST:
      return count % 3 == 0 ? count / 3 : 0;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      return count >= 3 ? count - 2 : 0;
    default:
      return 0;
  }
}

bool VerticesUsable(int32_t type, const PrimitiveVertex* vertices, int32_t count) {
  if (vertices == nullptr || count < 1 || count > kMaxPrimitiveVertices ||
      PrimitivesFor(type, count) < 1) {
    return false;
  }
  for (int32_t i = 0; i < count; ++i) {
    const PrimitiveVertex& v = vertices[i];
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) return false;
  }
  return true;
}

IDirect3DVertexBuffer9* MakeBuffer(int32_t count) {
  IDirect3DVertexBuffer9* buffer = nullptr;
  if (FAILED(Engine.Device->CreateVertexBuffer(static_cast<UINT>(count) * sizeof(PrimitiveVertex),
                                               D3DUSAGE_WRITEONLY, kPrimitiveFvf, D3DPOOL_MANAGED,
                                               &buffer, nullptr))) {
    return nullptr;
  }
  return buffer;
}

bool Fill(IDirect3DVertexBuffer9* buffer, const PrimitiveVertex* vertices, int32_t count) {
  const UINT bytes = static_cast<UINT>(count) * sizeof(PrimitiveVertex);
  void* data = nullptr;
  if (FAILED(buffer->Lock(0, bytes, &data, 0)) || data == nullptr) return false;
  std::memcpy(data, vertices, bytes);
  buffer->Unlock();
  return true;
}

UINT Capacity(IDirect3DVertexBuffer9* buffer) {
  D3DVERTEXBUFFER_DESC description{};
  if (buffer == nullptr || FAILED(buffer->GetDesc(&description))) return 0;
  return description.Size;
}

void FailedBuffer() {
  Engine.LastError = kEngineObjectLoad;
  Engine.LastErrorText = "the primitive vertex buffer could not be made";
}

}  // namespace

PrimitiveBuffer* CreatePrimitiveBuffer(int32_t type, const PrimitiveVertex* vertices,
                                       int32_t count) {
  if (Engine.Device == nullptr || !VerticesUsable(type, vertices, count)) return nullptr;
  IDirect3DVertexBuffer9* buffer = MakeBuffer(count);
  if (buffer == nullptr || !Fill(buffer, vertices, count)) {
    SafeRelease(buffer);
    FailedBuffer();
    return nullptr;
  }
  Engine.PrimitiveBufferList.Last();
  PrimitiveBuffer* record = Engine.PrimitiveBufferList.Add();
  D3DXMatrixIdentity(reinterpret_cast<D3DXMATRIX*>(&record->World));
  record->VertexBuffer = buffer;
  record->PrimitiveType = type;
  record->PrimitiveCount = PrimitivesFor(type, count);
  return record;
}

int UpdatePrimitiveBuffer(PrimitiveBuffer* handle, const PrimitiveVertex* vertices, int32_t count) {
  PrimitiveBuffer* record = FindRecord(Engine.PrimitiveBufferList, handle);
  if (record == nullptr || Engine.Device == nullptr ||
      !VerticesUsable(record->PrimitiveType, vertices, count)) {
    return 0;
  }
  const UINT bytes = static_cast<UINT>(count) * sizeof(PrimitiveVertex);
  if (Capacity(record->VertexBuffer) >= bytes) {
    if (!Fill(record->VertexBuffer, vertices, count)) return 0;
  } else {
    IDirect3DVertexBuffer9* grown = MakeBuffer(count);
    if (grown == nullptr || !Fill(grown, vertices, count)) {
      SafeRelease(grown);
      FailedBuffer();
      return 0;
    }
    SafeRelease(record->VertexBuffer);
    record->VertexBuffer = grown;
  }
  record->PrimitiveCount = PrimitivesFor(record->PrimitiveType, count);
  return 1;
}

int PositionPrimitiveBuffer(PrimitiveBuffer* handle, float x, float y, float z) {
  PrimitiveBuffer* record = FindRecord(Engine.PrimitiveBufferList, handle);
  if (record == nullptr || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return 0;
  record->World._41 = x;
  record->World._42 = y;
  record->World._43 = z;
  return 1;
}

int ReleasePrimitiveBuffer(PrimitiveBuffer* handle) {
  PrimitiveBuffer* record = FindRecord(Engine.PrimitiveBufferList, handle);
  if (record == nullptr) return 0;
  SafeRelease(record->VertexBuffer);
  Engine.PrimitiveBufferList.Remove();
  return 1;
}
