// What vertex and index buffers share: bytes in memory, locks that wait for the device's worker.
#pragma once

#include <cstdint>
#include <vector>

#include "d3d9/device_child.h"

namespace d3d9 {

template <class I>
class Buffer : public Resource<I> {
 public:
  // A lock waits for the draws already recorded, so D3DLOCK_DISCARD and NOOVERWRITE need no
  // renaming: the memory is never in use by a pending draw once the lock returns.
  HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** out, DWORD) override {
    if (!out) return D3DERR_INVALIDCALL;
    if (offset > data.size() || (size && size > data.size() - offset)) {
      *out = nullptr;
      return D3DERR_INVALIDCALL;
    }
    this->FinishDeviceWork();
    ++lockCount;
    *out = data.data() + offset;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE Unlock() override {
    if (lockCount == 0) return D3DERR_INVALIDCALL;
    --lockCount;
    return D3D_OK;
  }

  std::vector<uint8_t> data;
  int lockCount = 0;

 protected:
  Buffer(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, D3DPOOL pool, DWORD usage,
         UINT size)
      : Resource<I>(std::move(link), type, pool, usage, true), data(size) {}
};

}  // namespace d3d9
