// COM's base interface and the declaration macros used by the DirectX headers.
#pragma once

#include "windef.h"

#define interface struct
#define PURE = 0
#define THIS_
#define THIS void
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define DECLARE_INTERFACE(iface) struct iface
#define DECLARE_INTERFACE_(iface, base) struct iface : public base

extern const IID IID_IUnknown;

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  virtual ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

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

template <class T>
inline void SafeRelease(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}
