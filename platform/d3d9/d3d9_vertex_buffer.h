// IDirect3DVertexBuffer9.
#pragma once

#include "d3d9/d3d9_buffer.h"

namespace d3d9 {

class VertexBuffer final : public Buffer<IDirect3DVertexBuffer9> {
 public:
  VertexBuffer(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage, UINT size, DWORD fvf);
  HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

  const DWORD fvf;

 protected:
  bool IsOwnInterface(REFIID riid) const override;
};

VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* b);

}  // namespace d3d9
