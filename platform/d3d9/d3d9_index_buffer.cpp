// Index buffers.
#include "d3d9/d3d9_index_buffer.h"

namespace d3d9 {

IndexBuffer::IndexBuffer(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage, UINT size,
                         D3DFORMAT f)
    : Buffer(std::move(link), D3DRTYPE_INDEXBUFFER, pool, usage, size), format(f) {}

bool IndexBuffer::IsOwnInterface(REFIID riid) const {
  return riid == IID_IDirect3DIndexBuffer9 || riid == IID_IDirect3DResource9;
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  d->Format = format;
  d->Type = D3DRTYPE_INDEXBUFFER;
  d->Usage = usage_;
  d->Pool = pool_;
  d->Size = static_cast<UINT>(data.size());
  return D3D_OK;
}

IndexBuffer* AsIndexBuffer(IDirect3DIndexBuffer9* b) {
  return dynamic_cast<IndexBuffer*>(b);
}

}  // namespace d3d9
