// ID3DXBuffer: a reference-counted, zero-filled block of bytes.
#include <new>
#include <vector>

#include "win32/com_object.h"
#include "d3dx9core.h"

const IID IID_ID3DXBuffer = {
    0x8ba5fb08, 0x5195, 0x40e2, {0xac, 0x58, 0x0d, 0x98, 0x9c, 0x3a, 0x01, 0x02}};

namespace {

class Buffer final : public ComObject<ID3DXBuffer> {
 public:
  explicit Buffer(DWORD size) : bytes_(size, 0) {}
  LPVOID STDMETHODCALLTYPE GetBufferPointer() override {
    return bytes_.empty() ? nullptr : bytes_.data();
  }
  DWORD STDMETHODCALLTYPE GetBufferSize() override { return (DWORD)bytes_.size(); }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_ID3DXBuffer; }

 private:
  std::vector<BYTE> bytes_;
};

}  // namespace

HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer) {
  if (!ppBuffer) return E_POINTER;
  *ppBuffer = nullptr;
  Buffer* buffer = nullptr;
  try {
    buffer = new Buffer(NumBytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *ppBuffer = buffer;
  return S_OK;
}
