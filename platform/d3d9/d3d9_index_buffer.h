// IDirect3DIndexBuffer9.
#pragma once

#include "d3d9/d3d9_buffer.h"

namespace d3d9 {

class IndexBuffer final : public Buffer<IDirect3DIndexBuffer9> {
 public:
  IndexBuffer(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage, UINT size,
              D3DFORMAT format);
  HRESULT STDMETHODCALLTYPE GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;

  const D3DFORMAT format;  // D3DFMT_INDEX16 or D3DFMT_INDEX32
  bool Is32() const { return format == D3DFMT_INDEX32; }

 protected:
  bool IsOwnInterface(REFIID riid) const override;
};

IndexBuffer* AsIndexBuffer(IDirect3DIndexBuffer9* b);

}  // namespace d3d9
