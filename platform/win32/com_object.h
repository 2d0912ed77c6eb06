// The implementation side of COM for the platform's objects: reference counting and
// QueryInterface, shared by every interface the platform implements.
#pragma once

#include "unknwn.h"

// Reference-counting base for our COM objects: the object deletes itself when the count reaches
// zero, so a leaked reference shows under LeakSanitizer. Interfaces derive from IUnknown; an
// implementation derives from ComObject<Interface> and answers QueryInterface for its own IIDs.
template <class Interface>
class ComObject : public Interface {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) LastReleased();
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || IsOwnInterface(riid)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG RefCount() const { return refs_; }

 protected:
  ComObject() = default;
  // Implementations list the IIDs they answer to (besides IUnknown).
  virtual bool IsOwnInterface(REFIID) const { return false; }
  // The count reached zero. An object still in use elsewhere (a pending draw) may outlive it.
  virtual void LastReleased() { delete this; }

 private:
  ULONG refs_ = 1;
};
