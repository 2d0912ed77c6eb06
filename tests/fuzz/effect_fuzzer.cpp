// libFuzzer target for D3DX effects: the input is effect source, built against a device that
// records every call. A failed build must leave a message ending in a newline and no effect; an
// effect that builds has every parameter set and read, every technique run pass by pass with
// changes committed inside the passes, the device lost and reset, and a clone made. Nothing may
// outlive the effect: its references to the device, textures and shaders all come back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../support/effect_spy_device.h"
#include "d3dx9.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Sets and reads back one parameter and what hangs below it, bounded in count and depth.
void Exercise(ID3DXEffect* fx, D3DXHANDLE h, IDirect3DBaseTexture9* tex, int depth, int* budget) {
  if (!h || depth > 4 || --*budget < 0) return;
  D3DXPARAMETER_DESC d;
  Check(SUCCEEDED(fx->GetParameterDesc(h, &d)));
  Check(d.Name != nullptr);
  static float numbers[4096];
  static unsigned char bytes[1 << 16];
  for (size_t i = 0; i < 4096; ++i) numbers[i] = float(i % 7) - 3.5f;
  const UINT scalars = d.Bytes / 4 < 4096 ? d.Bytes / 4 : 4096;
  fx->SetFloatArray(h, numbers, scalars);
  fx->GetFloatArray(h, numbers, scalars);
  fx->SetIntArray(h, reinterpret_cast<const INT*>(numbers), scalars / 2);
  if (d.Type >= D3DXPT_TEXTURE && d.Type <= D3DXPT_TEXTURECUBE) {
    fx->SetTexture(h, tex);
    IDirect3DBaseTexture9* got = nullptr;
    if (SUCCEEDED(fx->GetTexture(h, &got)) && got) got->Release();
  } else if (d.Bytes <= sizeof bytes) {
    if (SUCCEEDED(fx->GetValue(h, bytes, sizeof bytes)) && d.Type != D3DXPT_STRING)
      Check(SUCCEEDED(fx->SetValue(h, bytes, d.Bytes)));
  }
  const D3DXVECTOR4 v(1, 2, 3, 4);
  D3DXMATRIX m;
  for (int i = 0; i < 16; ++i) (&m._11)[i] = float(i);
  fx->SetVector(h, &v);
  fx->SetMatrix(h, &m);
  fx->SetMatrixTransposeArray(h, &m, 1);
  fx->SetFloat(h, 0.5f);
  fx->SetBool(h, TRUE);
  LPCSTR s = nullptr;
  if (SUCCEEDED(fx->GetString(h, &s))) Check(s != nullptr);
  for (UINT i = 0; i < d.Annotations; ++i)
    Exercise(fx, fx->GetAnnotation(h, i), tex, depth + 1, budget);
  for (UINT i = 0; i < d.Elements && i < 8; ++i)
    Exercise(fx, fx->GetParameterElement(h, i), tex, depth + 1, budget);
  for (UINT i = 0; i < d.StructMembers && !d.Elements; ++i)
    Exercise(fx, fx->GetParameter(h, i), tex, depth + 1, budget);
}

void Run(ID3DXEffect* fx, IDirect3DBaseTexture9* tex, const std::string& name) {
  D3DXEFFECT_DESC desc;
  Check(SUCCEEDED(fx->GetDesc(&desc)));
  int budget = 256;
  for (UINT i = 0; i < desc.Parameters; ++i)
    Exercise(fx, fx->GetParameter(nullptr, i), tex, 0, &budget);
  // Whatever the input says, looked up as names.
  fx->GetParameterByName(nullptr, name.c_str());
  fx->GetParameterBySemantic(nullptr, name.c_str());
  fx->GetTechniqueByName(name.c_str());
  fx->GetAnnotationByName(name.c_str(), name.c_str());
  fx->SetFloat(name.c_str(), 1);
  for (UINT t = 0; t < desc.Techniques && t < 8; ++t) {
    D3DXHANDLE th = fx->GetTechnique(t);
    Check(th != nullptr);
    Check(SUCCEEDED(fx->SetTechnique(th)));
    fx->ValidateTechnique(th);
    D3DXTECHNIQUE_DESC td;
    Check(SUCCEEDED(fx->GetTechniqueDesc(th, &td)));
    for (UINT p = 0; p < td.Passes && p < 8; ++p) {
      D3DXPASS_DESC pd;
      Check(SUCCEEDED(fx->GetPassDesc(fx->GetPass(th, p), &pd)));
    }
    UINT passes = 0;
    const DWORD flags = t % 2 ? D3DXFX_DONOTSAVESHADERSTATE : 0;
    Check(SUCCEEDED(fx->Begin(&passes, flags)));
    Check(passes == td.Passes);
    for (UINT p = 0; p < passes && p < 8; ++p) {
      if (FAILED(fx->BeginPass(p))) continue;
      if (desc.Parameters) {
        int b = 16;
        Exercise(fx, fx->GetParameter(nullptr, p % desc.Parameters), tex, 0, &b);
      }
      fx->CommitChanges();
      Check(SUCCEEDED(fx->EndPass()));
    }
    Check(SUCCEEDED(fx->End()));
  }
  D3DXHANDLE next = nullptr;
  Check(SUCCEEDED(fx->FindNextValidTechnique(nullptr, &next)));
  if (desc.Techniques) {
    Check(SUCCEEDED(fx->Begin(nullptr, 0)));
    fx->BeginPass(0);
  }
  Check(SUCCEEDED(fx->OnLostDevice()));
  Check(SUCCEEDED(fx->OnResetDevice()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  {
    effect_test::SpyDevice dev;
    auto* tex = new effect_test::StubTexture("t");
    ID3DXEffect* fx = nullptr;
    ID3DXBuffer* errors = nullptr;
    const DWORD flags = size % 3 == 0 ? D3DXSHADER_PACKMATRIX_ROWMAJOR : 0;
    const HRESULT hr =
        D3DXCreateEffect(&dev, data, UINT(size), nullptr, nullptr, flags, nullptr, &fx, &errors);
    if (errors) {
      const char* text = static_cast<const char*>(errors->GetBufferPointer());
      const size_t n = errors->GetBufferSize();
      Check(n >= 2 && text[n - 1] == '\0' && text[n - 2] == '\n');
      errors->Release();
    }
    if (FAILED(hr)) {
      Check(fx == nullptr && (errors != nullptr || hr == E_OUTOFMEMORY));
    } else {
      Check(fx != nullptr);
      const std::string name(reinterpret_cast<const char*>(data), size < 40 ? size : 40);
      Run(fx, tex, name);
      ID3DXEffect* clone = nullptr;
      if (SUCCEEDED(fx->CloneEffect(&dev, &clone))) Check(clone->Release() == 0);
      Check(fx->Release() == 0);
    }
    Check(dev.Refs() == 1);
    tex->Release();  // the device may still hold it from a pass
  }
  // The device let go of whatever it still held when it went.
  Check(effect_test::Live::shaders == 0);
  Check(effect_test::Live::textures == 0);
  return 0;
}
