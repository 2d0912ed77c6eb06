// Vertex buffers.
#include "d3d9/d3d9_vertex_buffer.h"

namespace d3d9 {

VertexBuffer::VertexBuffer(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage, UINT size,
                           DWORD format)
    : Buffer(std::move(link), D3DRTYPE_VERTEXBUFFER, pool, usage, size), fvf(format) {}

bool VertexBuffer::IsOwnInterface(REFIID riid) const {
  return riid == IID_IDirect3DVertexBuffer9 || riid == IID_IDirect3DResource9;
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  d->Format = D3DFMT_VERTEXDATA;
  d->Type = D3DRTYPE_VERTEXBUFFER;
  d->Usage = usage_;
  d->Pool = pool_;
  d->Size = static_cast<UINT>(data.size());
  d->FVF = fvf;
  return D3D_OK;
}

VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* b) {
  return dynamic_cast<VertexBuffer*>(b);
}

}  // namespace d3d9
