// The device's shader calls: creating shaders, binding them and their constant registers.
#include <cstdio>
#include <cstring>

#include "d3d9/d3d9_shader.h"
#include "d3d9/device.h"

namespace d3d9 {

namespace {

// The register file a constant call addresses, and its size.
struct ConstantTarget {
  void* registers;
  UINT count;
  size_t bytes;  // per register
};

ConstantTarget TargetOf(ShaderRegisters& r, ConstantFile file) {
  switch (file) {
    case ConstantFile::kVertexF:
      return {r.vsF, kVertexFloatConstants, sizeof(r.vsF[0])};
    case ConstantFile::kVertexI:
      return {r.vsI, kIntConstants, sizeof(r.vsI[0])};
    case ConstantFile::kVertexB:
      return {r.vsB, kBoolConstants, sizeof(r.vsB[0])};
    case ConstantFile::kPixelF:
      return {r.psF, kPixelFloatConstants, sizeof(r.psF[0])};
    case ConstantFile::kPixelI:
      return {r.psI, kIntConstants, sizeof(r.psI[0])};
    case ConstantFile::kPixelB:
      break;
  }
  return {r.psB, kBoolConstants, sizeof(r.psB[0])};
}

bool InRange(UINT start, UINT count, UINT size) {
  return start <= size && count <= size - start;
}

}  // namespace

void WriteConstants(ShaderRegisters& r, ConstantFile file, UINT start, UINT count,
                    const void* data) {
  const ConstantTarget t = TargetOf(r, file);
  if (!InRange(start, count, t.count) || count == 0) return;
  std::memcpy(static_cast<uint8_t*>(t.registers) + start * t.bytes, data, count * t.bytes);
}

HRESULT Device::SetConstants(ConstantFile file, UINT start, const void* data, UINT count) {
  const ConstantTarget t = TargetOf(api_.constants, file);
  if (!data || !InRange(start, count, t.count)) return D3DERR_INVALIDCALL;
  if (count == 0) return D3D_OK;
  WriteConstants(api_.constants, file, start, count, data);
  auto* c = Record<CmdConstants>(kOpShaderConstants, count * t.bytes);
  *c = CmdConstants{file, start, count};
  std::memcpy(reinterpret_cast<uint8_t*>(c + 1), data, count * t.bytes);
  return D3D_OK;
}

HRESULT Device::GetConstants(ConstantFile file, UINT start, void* data, UINT count) {
  const ConstantTarget t = TargetOf(api_.constants, file);
  if (!data || !InRange(start, count, t.count)) return D3DERR_INVALIDCALL;
  std::memcpy(data, static_cast<const uint8_t*>(t.registers) + start * t.bytes, count * t.bytes);
  return D3D_OK;
}

namespace {

VertexShader* AsShader(IDirect3DVertexShader9* s) {
  return AsVertexShader(s);
}
PixelShader* AsShader(IDirect3DPixelShader9* s) {
  return AsPixelShader(s);
}

}  // namespace

template <class I>
HRESULT Device::CreateShader(const char* call, const DWORD* tokens, I** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!tokens) return D3DERR_INVALIDCALL;
  std::string why;
  Shader<I>* s = Shader<I>::Create(link_, tokens, &why);
  if (!s) {
    std::fprintf(stderr, "Direct3D9: %s refused the shader: %s\n", call, why.c_str());
    return D3DERR_INVALIDCALL;
  }
  *out = s;
  return D3D_OK;
}

template <class I>
HRESULT Device::BindShader(I* shader, Shader<I>*& bound, uint32_t op) {
  Shader<I>* s = nullptr;
  if (shader) {
    s = AsShader(shader);
    if (!s) return D3DERR_INVALIDCALL;
  }
  if (s == bound) return D3D_OK;
  if (s) {
    s->AddRef();
    s->Pin();
  }
  SafeRelease(bound);
  bound = s;
  Record<CmdBind>(op)->object = s;
  return D3D_OK;
}

template <class I>
HRESULT Device::GetShader(Shader<I>* bound, I** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = bound;
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT Device::CreateVertexShader(const DWORD* tokens, IDirect3DVertexShader9** out) {
  return CreateShader("CreateVertexShader", tokens, out);
}
HRESULT Device::CreatePixelShader(const DWORD* tokens, IDirect3DPixelShader9** out) {
  return CreateShader("CreatePixelShader", tokens, out);
}
HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader) {
  return BindShader(shader, api_.vertexShader, kOpVertexShader);
}
HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) {
  return BindShader(shader, api_.pixelShader, kOpPixelShader);
}
HRESULT Device::GetVertexShader(IDirect3DVertexShader9** out) {
  return GetShader(api_.vertexShader, out);
}
HRESULT Device::GetPixelShader(IDirect3DPixelShader9** out) {
  return GetShader(api_.pixelShader, out);
}

HRESULT Device::SetVertexShaderConstantF(UINT start, const float* data, UINT count) {
  return SetConstants(ConstantFile::kVertexF, start, data, count);
}
HRESULT Device::GetVertexShaderConstantF(UINT start, float* data, UINT count) {
  return GetConstants(ConstantFile::kVertexF, start, data, count);
}
HRESULT Device::SetVertexShaderConstantI(UINT start, const int* data, UINT count) {
  return SetConstants(ConstantFile::kVertexI, start, data, count);
}
HRESULT Device::GetVertexShaderConstantI(UINT start, int* data, UINT count) {
  return GetConstants(ConstantFile::kVertexI, start, data, count);
}
HRESULT Device::SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) {
  return SetConstants(ConstantFile::kVertexB, start, data, count);
}
HRESULT Device::GetVertexShaderConstantB(UINT start, BOOL* data, UINT count) {
  return GetConstants(ConstantFile::kVertexB, start, data, count);
}
HRESULT Device::SetPixelShaderConstantF(UINT start, const float* data, UINT count) {
  return SetConstants(ConstantFile::kPixelF, start, data, count);
}
HRESULT Device::GetPixelShaderConstantF(UINT start, float* data, UINT count) {
  return GetConstants(ConstantFile::kPixelF, start, data, count);
}
HRESULT Device::SetPixelShaderConstantI(UINT start, const int* data, UINT count) {
  return SetConstants(ConstantFile::kPixelI, start, data, count);
}
HRESULT Device::GetPixelShaderConstantI(UINT start, int* data, UINT count) {
  return GetConstants(ConstantFile::kPixelI, start, data, count);
}
HRESULT Device::SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) {
  return SetConstants(ConstantFile::kPixelB, start, data, count);
}
HRESULT Device::GetPixelShaderConstantB(UINT start, BOOL* data, UINT count) {
  return GetConstants(ConstantFile::kPixelB, start, data, count);
}

}  // namespace d3d9
