// A device for effect tests and the effect fuzzer: it keeps the render, texture-stage and sampler
// states, textures, transforms, shaders and shader constants set on it (and answers their Get
// calls from them), logs each of those calls in order, and creates stand-in shader objects. It
// can be told to refuse shaders. Every other method fails, as in shader_test::FakeDevice.
#pragma once

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "shader_fake_device.h"

namespace effect_test {

// Live stand-in objects, to find leaks.
struct Live {
  static inline int shaders = 0;
  static inline int textures = 0;
};

template <class Interface>
class StubShader final : public Interface {
 public:
  StubShader(IDirect3DDevice9* device, const DWORD* code) : device_(device) {
    ++Live::shaders;
    for (const DWORD* p = code; p && *p != 0x0000FFFF && code_.size() < (1u << 20); ++p)
      code_.push_back(*p);
    code_.push_back(0x0000FFFF);
  }
  const DWORD* code() const { return code_.data(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      --Live::shaders;
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** out) override {
    if (!out) return D3DERR_INVALIDCALL;
    *out = device_;
    device_->AddRef();
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFunction(void* data, UINT* size) override {
    if (!size) return D3DERR_INVALIDCALL;
    if (data) std::memcpy(data, code_.data(), code_.size() * 4);
    *size = UINT(code_.size() * 4);
    return D3D_OK;
  }

 private:
  ULONG refs_ = 1;
  IDirect3DDevice9* device_;
  std::vector<DWORD> code_;
};

// A texture that is only a name and a reference count.
class StubTexture final : public IDirect3DBaseTexture9 {
 public:
  explicit StubTexture(std::string name) : name(std::move(name)) { ++Live::textures; }
  const std::string name;
  ULONG Refs() const { return refs_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      --Live::textures;
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9**) override { return D3DERR_INVALIDCALL; }
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, const void*, DWORD, DWORD) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, void*, DWORD*) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID) override { return D3DERR_INVALIDCALL; }
  DWORD STDMETHODCALLTYPE SetPriority(DWORD) override { return 0; }
  DWORD STDMETHODCALLTYPE GetPriority() override { return 0; }
  void STDMETHODCALLTYPE PreLoad() override {}
  D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_TEXTURE; }
  DWORD STDMETHODCALLTYPE SetLOD(DWORD) override { return 0; }
  DWORD STDMETHODCALLTYPE GetLOD() override { return 0; }
  DWORD STDMETHODCALLTYPE GetLevelCount() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetAutoGenFilterType(D3DTEXTUREFILTERTYPE) override {
    return D3DERR_INVALIDCALL;
  }
  D3DTEXTUREFILTERTYPE STDMETHODCALLTYPE GetAutoGenFilterType() override { return D3DTEXF_NONE; }
  void STDMETHODCALLTYPE GenerateMipSubLevels() override {}

 private:
  ULONG refs_ = 1;
};

using StubVertexShader = StubShader<IDirect3DVertexShader9>;
using StubPixelShader = StubShader<IDirect3DPixelShader9>;

inline std::string Dword(DWORD v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u", v);
  return buf;
}

class SpyDevice : public shader_test::FakeDevice {
 public:
  // "RS <state>=<value>", "TSS <stage> <type>=<value>", "SAMP <sampler> <type>=<value>",
  // "TEX <stage>=<texture name or null>", "XF <state>", "LIGHT <index>", "LE <index>=<on>",
  // "MAT", "VS <set|null>", "PS <set|null>",
  // "VSF <start>+<count>", "PSF ...", "VSI", "PSI", "VSB", "PSB" in the same form.
  std::vector<std::string> log;
  std::map<DWORD, DWORD> render;
  std::map<std::pair<DWORD, DWORD>, DWORD> stage, sampler;
  std::map<DWORD, IDirect3DBaseTexture9*> textures;
  std::map<DWORD, D3DMATRIX> transforms;
  std::map<DWORD, D3DLIGHT9> lights;  // GetLight fails for a light never set, as in Direct3D
  std::map<DWORD, BOOL> lightEnables;
  D3DMATERIAL9 material = {};
  IDirect3DVertexShader9* vs = nullptr;
  IDirect3DPixelShader9* ps = nullptr;
  bool refuseShaders = false;
  int shadersCreated = 0;

  SpyDevice() = default;
  SpyDevice(const SpyDevice&) = delete;
  SpyDevice& operator=(const SpyDevice&) = delete;
  ~SpyDevice() {
    for (auto& t : textures)
      if (t.second) t.second->Release();
    if (vs) vs->Release();
    if (ps) ps->Release();
  }

  // The device's own reference count.
  ULONG Refs() {
    AddRef();
    return Release();
  }

  HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE s, DWORD v) override {
    log.push_back("RS " + Dword(s) + "=" + Dword(v));
    render[s] = v;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE s, DWORD* v) override {
    if (!v) return D3DERR_INVALIDCALL;
    *v = render.count(s) ? render[s] : 0;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD i, D3DTEXTURESTAGESTATETYPE t,
                                                 DWORD v) override {
    log.push_back("TSS " + Dword(i) + " " + Dword(t) + "=" + Dword(v));
    stage[{i, t}] = v;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD i, D3DTEXTURESTAGESTATETYPE t,
                                                 DWORD* v) override {
    if (!v) return D3DERR_INVALIDCALL;
    *v = stage.count({i, t}) ? stage[{i, t}] : 0;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD i, D3DSAMPLERSTATETYPE t, DWORD v) override {
    log.push_back("SAMP " + Dword(i) + " " + Dword(t) + "=" + Dword(v));
    sampler[{i, t}] = v;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD i, D3DSAMPLERSTATETYPE t, DWORD* v) override {
    if (!v) return D3DERR_INVALIDCALL;
    *v = sampler.count({i, t}) ? sampler[{i, t}] : 0;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTexture(DWORD i, IDirect3DBaseTexture9* t) override {
    log.push_back("TEX " + Dword(i) + "=" +
                  (t ? static_cast<StubTexture*>(t)->name : std::string("null")));
    if (t) t->AddRef();
    IDirect3DBaseTexture9*& slot = textures[i];
    if (slot) slot->Release();
    slot = t;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTexture(DWORD i, IDirect3DBaseTexture9** t) override {
    if (!t) return D3DERR_INVALIDCALL;
    *t = textures.count(i) ? textures[i] : nullptr;
    if (*t) (*t)->AddRef();
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* m) override {
    if (!m) return D3DERR_INVALIDCALL;
    log.push_back("XF " + Dword(s));
    transforms[s] = *m;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE s, D3DMATRIX* m) override {
    if (!m) return D3DERR_INVALIDCALL;
    if (transforms.count(s)) {
      *m = transforms[s];
    } else {
      *m = D3DMATRIX{};
      m->_11 = m->_22 = m->_33 = m->_44 = 1;
    }
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLight(DWORD i, const D3DLIGHT9* l) override {
    if (!l) return D3DERR_INVALIDCALL;
    log.push_back("LIGHT " + Dword(i));
    lights[i] = *l;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLight(DWORD i, D3DLIGHT9* l) override {
    if (!l || !lights.count(i)) return D3DERR_INVALIDCALL;
    *l = lights[i];
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE LightEnable(DWORD i, BOOL on) override {
    log.push_back("LE " + Dword(i) + "=" + Dword(DWORD(on)));
    lightEnables[i] = on;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD i, BOOL* on) override {
    if (!on || !lightEnables.count(i)) return D3DERR_INVALIDCALL;
    *on = lightEnables[i];
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9* m) override {
    if (!m) return D3DERR_INVALIDCALL;
    log.push_back("MAT");
    material = *m;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9* m) override {
    if (!m) return D3DERR_INVALIDCALL;
    *m = material;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateVertexShader(const DWORD* code,
                                               IDirect3DVertexShader9** out) override {
    if (out) *out = nullptr;
    if (!code || !out || refuseShaders) return D3DERR_INVALIDCALL;
    *out = new StubVertexShader(this, code);
    ++shadersCreated;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE CreatePixelShader(const DWORD* code,
                                              IDirect3DPixelShader9** out) override {
    if (out) *out = nullptr;
    if (!code || !out || refuseShaders) return D3DERR_INVALIDCALL;
    *out = new StubPixelShader(this, code);
    ++shadersCreated;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9* s) override {
    log.push_back(std::string("VS ") + (s ? "set" : "null"));
    if (s) s->AddRef();
    if (vs) vs->Release();
    vs = s;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9** s) override {
    if (!s) return D3DERR_INVALIDCALL;
    *s = vs;
    if (vs) vs->AddRef();
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9* s) override {
    log.push_back(std::string("PS ") + (s ? "set" : "null"));
    if (s) s->AddRef();
    if (ps) ps->Release();
    ps = s;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9** s) override {
    if (!s) return D3DERR_INVALIDCALL;
    *s = ps;
    if (ps) ps->AddRef();
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT s, const float* d, UINT n) override {
    log.push_back("VSF " + Dword(s) + "+" + Dword(n));
    return FakeDevice::SetVertexShaderConstantF(s, d, n);
  }
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantF(UINT s, const float* d, UINT n) override {
    log.push_back("PSF " + Dword(s) + "+" + Dword(n));
    return FakeDevice::SetPixelShaderConstantF(s, d, n);
  }
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantI(UINT s, const int* d, UINT n) override {
    log.push_back("VSI " + Dword(s) + "+" + Dword(n));
    return FakeDevice::SetVertexShaderConstantI(s, d, n);
  }
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantI(UINT s, const int* d, UINT n) override {
    log.push_back("PSI " + Dword(s) + "+" + Dword(n));
    return FakeDevice::SetPixelShaderConstantI(s, d, n);
  }
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantB(UINT s, const BOOL* d, UINT n) override {
    log.push_back("VSB " + Dword(s) + "+" + Dword(n));
    return FakeDevice::SetVertexShaderConstantB(s, d, n);
  }
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantB(UINT s, const BOOL* d, UINT n) override {
    log.push_back("PSB " + Dword(s) + "+" + Dword(n));
    return FakeDevice::SetPixelShaderConstantB(s, d, n);
  }
  HRESULT STDMETHODCALLTYPE GetVertexShaderConstantI(UINT s, int* d, UINT n) override {
    if (!d || s >= 16 || n > 16 - s) return D3DERR_INVALIDCALL;
    std::memcpy(d, vi[s], n * 16);
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelShaderConstantI(UINT s, int* d, UINT n) override {
    if (!d || s >= 16 || n > 16 - s) return D3DERR_INVALIDCALL;
    std::memcpy(d, pi[s], n * 16);
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVertexShaderConstantB(UINT s, BOOL* d, UINT n) override {
    if (!d || s >= 16 || n > 16 - s) return D3DERR_INVALIDCALL;
    std::memcpy(d, vb + s, n * 4);
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelShaderConstantB(UINT s, BOOL* d, UINT n) override {
    if (!d || s >= 16 || n > 16 - s) return D3DERR_INVALIDCALL;
    std::memcpy(d, pb + s, n * 4);
    return D3D_OK;
  }
};

}  // namespace effect_test
