// What every resource of a device shares: the link back to its device, pins held by the device's
// worker, and IDirect3DResource9 (device, private data, priority, type).
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "d3d9.h"
#include "win32/com_object.h"

namespace d3d9 {

class Device;

// Resources keep a weak link to their device: they may outlive it (the app releases the device
// first), and the device must not be kept alive by its own resources.
struct DeviceLink {
  Device* device = nullptr;
};

// The device's side of a resource's life (device.cpp): default-pool bookkeeping and waiting for
// the worker before the application touches resource memory.
void NoteDefaultPoolResource(Device* device, int delta);
void FinishDeviceWork(Device* device);

// A resource the device's worker still needs. Pins are taken and dropped on the application's
// thread only; a resource released by the application while pinned is deleted at its last unpin,
// so the reference counts the application sees are those of a synchronous device.
class Pinned {
 public:
  virtual void Pin() = 0;
  virtual void Unpin() = 0;

 protected:
  ~Pinned() = default;
};

IDirect3DDevice9* DeviceInterface(Device* device);

// What every object a device makes shares: the link to the device, and pins. An object the
// application releases while the worker still needs it is deleted at its last unpin.
template <class I>
class DeviceObject : public ComObject<I>, public Pinned {
 public:
  void Pin() override { ++pins_; }
  void Unpin() override {
    if (--pins_ == 0 && zombie_) delete this;
  }

 protected:
  explicit DeviceObject(std::shared_ptr<DeviceLink> link) : link_(std::move(link)) {}
  void LastReleased() override {
    if (pins_ > 0)
      zombie_ = true;
    else
      delete this;
  }
  // IDirect3D*9::GetDevice.
  HRESULT DeviceOf(IDirect3DDevice9** ppDevice) const {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    if (!link_ || !link_->device) {
      *ppDevice = nullptr;
      return D3DERR_INVALIDCALL;
    }
    IDirect3DDevice9* device = DeviceInterface(link_->device);
    device->AddRef();
    *ppDevice = device;
    return D3D_OK;
  }
  // Waits for the device's worker before the application touches this object's memory.
  void FinishDeviceWork() const {
    if (link_ && link_->device) d3d9::FinishDeviceWork(link_->device);
  }

  int pins_ = 0;
  bool zombie_ = false;
  std::shared_ptr<DeviceLink> link_;
};

// Shared implementation of IDirect3DResource9 for the resource interfaces.
template <class I>
class Resource : public DeviceObject<I> {
 public:
  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** ppDevice) override {
    return this->DeviceOf(ppDevice);
  }
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, const void* data, DWORD size,
                                           DWORD flags) override;
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, void* data, DWORD* size) override;
  HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID guid) override;
  DWORD STDMETHODCALLTYPE SetPriority(DWORD p) override {
    DWORD old = priority_;
    priority_ = p;
    return old;
  }
  DWORD STDMETHODCALLTYPE GetPriority() override { return priority_; }
  void STDMETHODCALLTYPE PreLoad() override {}
  D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return type_; }

  D3DPOOL Pool() const { return pool_; }
  DWORD Usage() const { return usage_; }

 protected:
  Resource(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, D3DPOOL pool, DWORD usage,
           bool countAsDefaultPool)
      : DeviceObject<I>(std::move(link)), type_(type), pool_(pool), usage_(usage) {
    if (countAsDefaultPool && pool == D3DPOOL_DEFAULT && this->link_ && this->link_->device) {
      counted_ = true;
      NoteDefaultPoolResource(this->link_->device, +1);
    }
  }
  ~Resource() override {
    for (auto& e : private_)
      if (e.unknown) e.unknown->Release();
    if (counted_ && this->link_ && this->link_->device)
      NoteDefaultPoolResource(this->link_->device, -1);
  }

  D3DRESOURCETYPE type_;
  D3DPOOL pool_;
  DWORD usage_;
  DWORD priority_ = 0;
  bool counted_ = false;
  struct PrivateEntry {
    GUID guid;
    std::vector<uint8_t> data;
    IUnknown* unknown = nullptr;
  };
  std::vector<PrivateEntry> private_;
};

template <class I>
HRESULT Resource<I>::SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) {
  if (!data && size) return D3DERR_INVALIDCALL;
  FreePrivateData(guid);
  PrivateEntry e{guid, {}, nullptr};
  if (flags & D3DSPD_IUNKNOWN) {
    if (size != sizeof(IUnknown*)) return D3DERR_INVALIDCALL;
    std::memcpy(&e.unknown, data, sizeof(IUnknown*));
    if (e.unknown) e.unknown->AddRef();
  } else {
    e.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  }
  private_.push_back(std::move(e));
  return D3D_OK;
}

template <class I>
HRESULT Resource<I>::GetPrivateData(REFGUID guid, void* data, DWORD* size) {
  if (!size) return D3DERR_INVALIDCALL;
  for (auto& e : private_) {
    if (e.guid != guid) continue;
    DWORD need =
        e.unknown ? static_cast<DWORD>(sizeof(IUnknown*)) : static_cast<DWORD>(e.data.size());
    if (!data || *size < need) {
      *size = need;
      return D3DERR_MOREDATA;
    }
    if (e.unknown) {
      e.unknown->AddRef();
      std::memcpy(data, &e.unknown, sizeof(IUnknown*));
    } else if (need) {
      std::memcpy(data, e.data.data(), need);
    }
    *size = need;
    return D3D_OK;
  }
  return D3DERR_NOTFOUND;
}

template <class I>
HRESULT Resource<I>::FreePrivateData(REFGUID guid) {
  for (auto it = private_.begin(); it != private_.end(); ++it) {
    if (it->guid != guid) continue;
    if (it->unknown) it->unknown->Release();
    private_.erase(it);
    return D3D_OK;
  }
  return D3DERR_NOTFOUND;
}

}  // namespace d3d9
