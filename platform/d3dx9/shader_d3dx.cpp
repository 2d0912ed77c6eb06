// D3DXCompileShader, D3DXCompileShaderFromFileA, D3DXCreateTextureShader, ID3DXTextureShader,
// D3DXFillTextureTX.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "win32/com_object.h"
#include "d3d9.h"
#include "d3d9/pixel_format.h"
#include "d3dx9/shader_bytecode.h"
#include "d3dx9/shader_compiler.h"
#include "d3dx9/shader_lexer.h"
#include "d3dx9/shader_vm.h"
#include "d3dx9core.h"
#include "d3dx9shader.h"

const IID IID_ID3DXConstantTable = {
    0xab3c758f, 0x093e, 0x4356, {0xb7, 0x62, 0x4d, 0xb1, 0x8f, 0x1b, 0x3a, 0x01}};
const IID IID_ID3DXTextureShader = {
    0x3e3d67f8, 0xaa7a, 0x405d, {0xa8, 0x57, 0xba, 0x01, 0xd4, 0x75, 0x84, 0x26}};

namespace {

using vexa::shader::Program;

HRESULT MakeBuffer(const void* data, size_t size, LPD3DXBUFFER* out) {
  *out = nullptr;
  LPD3DXBUFFER buf = nullptr;
  HRESULT hr = D3DXCreateBuffer(DWORD(size), &buf);
  if (FAILED(hr)) return hr;
  if (size) std::memcpy(buf->GetBufferPointer(), data, size);
  *out = buf;
  return S_OK;
}

class TextureShader final : public ComObject<ID3DXTextureShader> {
 public:
  TextureShader(Program program, std::vector<uint32_t> code, std::vector<float> defaults)
      : program_(std::move(program)),
        code_(std::move(code)),
        defaults_(defaults),
        globals_(std::move(defaults)) {}

  const Program& program() const { return program_; }
  const std::vector<float>& globals() const { return globals_; }

  HRESULT STDMETHODCALLTYPE GetFunction(LPD3DXBUFFER* pp) override {
    if (!pp) return D3DERR_INVALIDCALL;
    return MakeBuffer(code_.data(), code_.size() * 4, pp);
  }
  HRESULT STDMETHODCALLTYPE GetConstantBuffer(LPD3DXBUFFER* pp) override {
    if (!pp) return D3DERR_INVALIDCALL;
    return MakeBuffer(globals_.data(), globals_.size() * 4, pp);
  }
  HRESULT STDMETHODCALLTYPE GetDesc(D3DXCONSTANTTABLE_DESC* desc) override {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Creator = "Vexa tx_1_0 texture-shader compiler";
    desc->Version = D3DXTX_VERSION(1, 0);
    desc->Constants = UINT(program_.uniforms.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConstantDesc(D3DXHANDLE h, D3DXCONSTANT_DESC* desc,
                                            UINT* count) override {
    const Program::Uniform* u = Find(h);
    if (!u) return D3DERR_INVALIDCALL;
    if (count && !desc) {
      *count = 1;
      return S_OK;
    }
    if (!desc || (count && *count < 1)) return D3DERR_INVALIDCALL;
    if (count) *count = 1;
    std::memset(desc, 0, sizeof *desc);
    desc->Name = u->name.c_str();
    desc->RegisterSet = D3DXRS_FLOAT4;
    desc->RegisterIndex = u->reg;
    desc->RegisterCount = 1;
    desc->Class = u->dim == 1 ? D3DXPC_SCALAR : D3DXPC_VECTOR;
    desc->Type = u->base == 1 ? D3DXPT_BOOL : u->base == 2 ? D3DXPT_INT : D3DXPT_FLOAT;
    desc->Rows = 1;
    desc->Columns = u->dim;
    desc->Elements = 1;
    desc->Bytes = 4u * u->dim;
    desc->DefaultValue = &defaults_[size_t(u->reg) * 4];
    return S_OK;
  }
  D3DXHANDLE STDMETHODCALLTYPE GetConstant(D3DXHANDLE parent, UINT index) override {
    if (parent || index >= program_.uniforms.size()) return nullptr;  // no structures
    return program_.uniforms[index].name.c_str();
  }
  D3DXHANDLE STDMETHODCALLTYPE GetConstantByName(D3DXHANDLE parent, LPCSTR name) override {
    if (parent || !name) return nullptr;
    const Program::Uniform* u = Find(name);
    return u ? u->name.c_str() : nullptr;
  }
  D3DXHANDLE STDMETHODCALLTYPE GetConstantElement(D3DXHANDLE h, UINT index) override {
    const Program::Uniform* u = Find(h);
    return u && index == 0 ? u->name.c_str() : nullptr;  // no arrays: element 0 is the constant
  }
  HRESULT STDMETHODCALLTYPE SetDefaults() override {
    globals_ = defaults_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(D3DXHANDLE h, LPCVOID data, UINT bytes) override {
    const Program::Uniform* u = Find(h);
    if (!u || !data || bytes % 4 != 0 || bytes / 4 > u->dim) return D3DERR_INVALIDCALL;
    // The bytes are in the constant's own type: BOOL and INT as 32-bit integers.
    float v[4];
    for (UINT i = 0; i < bytes / 4; ++i) {
      if (u->base == 3) {
        std::memcpy(&v[i], static_cast<const BYTE*>(data) + 4 * i, 4);
      } else {
        INT n;
        std::memcpy(&n, static_cast<const BYTE*>(data) + 4 * i, 4);
        v[i] = float(n);
      }
    }
    return Put(u, v, bytes / 4);
  }
  HRESULT STDMETHODCALLTYPE SetBool(D3DXHANDLE h, BOOL b) override {
    return SetBoolArray(h, &b, 1);
  }
  HRESULT STDMETHODCALLTYPE SetBoolArray(D3DXHANDLE h, const BOOL* pb, UINT count) override {
    if (!pb) return D3DERR_INVALIDCALL;
    float v[4];
    for (UINT i = 0; i < count && i < 4; ++i) v[i] = pb[i] ? 1.f : 0.f;
    return Put(Find(h), v, count);
  }
  HRESULT STDMETHODCALLTYPE SetInt(D3DXHANDLE h, INT n) override { return SetIntArray(h, &n, 1); }
  HRESULT STDMETHODCALLTYPE SetIntArray(D3DXHANDLE h, const INT* pn, UINT count) override {
    if (!pn) return D3DERR_INVALIDCALL;
    float v[4];
    for (UINT i = 0; i < count && i < 4; ++i) v[i] = float(pn[i]);
    return Put(Find(h), v, count);
  }
  HRESULT STDMETHODCALLTYPE SetFloat(D3DXHANDLE h, FLOAT f) override {
    return SetFloatArray(h, &f, 1);
  }
  HRESULT STDMETHODCALLTYPE SetFloatArray(D3DXHANDLE h, const FLOAT* pf, UINT count) override {
    if (!pf) return D3DERR_INVALIDCALL;
    float v[4];
    for (UINT i = 0; i < count && i < 4; ++i) v[i] = pf[i];
    return Put(Find(h), v, count);
  }
  HRESULT STDMETHODCALLTYPE SetVector(D3DXHANDLE h, const D3DXVECTOR4* pv) override {
    return SetVectorArray(h, pv, 1);
  }
  HRESULT STDMETHODCALLTYPE SetVectorArray(D3DXHANDLE h, const D3DXVECTOR4* pv,
                                           UINT count) override {
    const Program::Uniform* u = Find(h);
    if (!pv || !u || count < 1) return D3DERR_INVALIDCALL;
    // D3DXVECTOR4 is four floats; read them without needing its definition.
    float v[4];
    std::memcpy(v, static_cast<const void*>(pv), sizeof v);
    return Put(u, v, u->dim);
  }
  // There are no matrix constants.
  HRESULT STDMETHODCALLTYPE SetMatrix(D3DXHANDLE, const D3DXMATRIX*) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE SetMatrixArray(D3DXHANDLE, const D3DXMATRIX*, UINT) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE SetMatrixPointerArray(D3DXHANDLE, const D3DXMATRIX**, UINT) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE SetMatrixTranspose(D3DXHANDLE, const D3DXMATRIX*) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE SetMatrixTransposeArray(D3DXHANDLE, const D3DXMATRIX*, UINT) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE SetMatrixTransposePointerArray(D3DXHANDLE, const D3DXMATRIX**,
                                                           UINT) override {
    return D3DERR_INVALIDCALL;
  }

 private:
  // A handle is a name pointer this object gave out, or a constant's name.
  const Program::Uniform* Find(D3DXHANDLE h) const {
    if (!h) return nullptr;
    for (const Program::Uniform& u : program_.uniforms)
      if (h == u.name.c_str()) return &u;
    for (const Program::Uniform& u : program_.uniforms)
      if (u.name == h) return &u;
    return nullptr;
  }
  // Stores `count` values (at most the constant's components) in the constant's own type.
  HRESULT Put(const Program::Uniform* u, const float* v, UINT count) {
    if (!u || count < 1 || count > u->dim) return D3DERR_INVALIDCALL;
    for (UINT i = 0; i < count; ++i) {
      float x = v[i];
      if (u->base == 1) x = x != 0.f ? 1.f : 0.f;
      if (u->base == 2) x = std::isfinite(x) ? std::trunc(x) : 0.f;
      globals_[size_t(u->reg) * 4 + i] = x;
    }
    return S_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_ID3DXTextureShader; }

 private:
  Program program_;
  std::vector<uint32_t> code_;
  std::vector<float> defaults_;
  std::vector<float> globals_;
};

// Channel value as the fill stores it: clamped to [0, 1] (NaN as 0), times 255, plus 0.5,
// truncated.
inline uint32_t Channel(float v) {
  v = v > 0.f ? (v < 1.f ? v : 1.f) : 0.f;
  return uint32_t(v * 255.f + 0.5f);
}

}  // namespace

namespace {

// Shared by the in-memory and the file variants; `origin` replaces "memory" in messages.
HRESULT CompileShader(std::string_view src, const D3DXMACRO* pDefines, LPCSTR pFunctionName,
                      LPCSTR pProfile, DWORD Flags, const std::string& origin,
                      LPD3DXBUFFER* ppShader, LPD3DXBUFFER* ppErrorMsgs,
                      LPD3DXCONSTANTTABLE* ppConstantTable) {
  vexa::shader::CompileOutput out;
  try {
    // Macros come as a list ended by a NULL name; a NULL definition is an empty one.
    std::vector<vexa::shader::MacroDefinition> macros;
    for (const D3DXMACRO* m = pDefines; m && m->Name && macros.size() < 4096; ++m)
      macros.push_back({m->Name, m->Definition ? m->Definition : ""});
    out = vexa::shader::Compile(src, pFunctionName, pProfile, macros, Flags);
    if (origin != "memory") {
      std::string renamed;
      size_t at = 0;
      for (;;) {
        const size_t m = out.messages.find("memory(", at);
        if (m == std::string::npos || (m != 0 && out.messages[m - 1] != '\n')) {
          renamed += out.messages.substr(at);
          break;
        }
        renamed += out.messages.substr(at, m - at) + origin;
        at = m + 6;
      }
      out.messages = renamed;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (ppErrorMsgs && !out.messages.empty()) {
    // The text is handed out zero-terminated.
    HRESULT hr = MakeBuffer(out.messages.c_str(), out.messages.size() + 1, ppErrorMsgs);
    if (FAILED(hr)) return hr;
  }
  if (!out.ok) return E_FAIL;
  if (ppShader) {
    HRESULT hr = MakeBuffer(out.code.data(), out.code.size() * 4, ppShader);
    if (FAILED(hr)) {
      if (ppErrorMsgs) SafeRelease(*ppErrorMsgs);
      return hr;
    }
  }
  if (ppConstantTable && std::string_view(pProfile) != "tx_1_0") {
    HRESULT hr = D3DXGetShaderConstantTableEx(reinterpret_cast<const DWORD*>(out.code.data()),
                                              Flags, ppConstantTable);
    if (FAILED(hr)) {
      if (ppShader) SafeRelease(*ppShader);
      if (ppErrorMsgs) SafeRelease(*ppErrorMsgs);
      return hr;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT WINAPI D3DXCompileShader(LPCSTR pSrcData, UINT SrcDataLen, const D3DXMACRO* pDefines,
                                 LPD3DXINCLUDE pInclude, LPCSTR pFunctionName, LPCSTR pProfile,
                                 DWORD Flags, LPD3DXBUFFER* ppShader, LPD3DXBUFFER* ppErrorMsgs,
                                 LPD3DXCONSTANTTABLE* ppConstantTable) {
  if (ppShader) *ppShader = nullptr;
  if (ppErrorMsgs) *ppErrorMsgs = nullptr;
  if (ppConstantTable) *ppConstantTable = nullptr;
  if ((!pSrcData && SrcDataLen) || !pFunctionName || !pProfile) return D3DERR_INVALIDCALL;
  return CompileShader(std::string_view(pSrcData ? pSrcData : "", SrcDataLen), pDefines,
                       pFunctionName, pProfile, Flags, "memory", ppShader, ppErrorMsgs,
                       ppConstantTable);
}

HRESULT WINAPI D3DXCompileShaderFromFileA(LPCSTR pSrcFile, const D3DXMACRO* pDefines,
                                          LPD3DXINCLUDE pInclude, LPCSTR pFunctionName,
                                          LPCSTR pProfile, DWORD Flags, LPD3DXBUFFER* ppShader,
                                          LPD3DXBUFFER* ppErrorMsgs,
                                          LPD3DXCONSTANTTABLE* ppConstantTable) {
  if (ppShader) *ppShader = nullptr;
  if (ppErrorMsgs) *ppErrorMsgs = nullptr;
  if (ppConstantTable) *ppConstantTable = nullptr;
  if (!pSrcFile || !pFunctionName || !pProfile) return D3DERR_INVALIDCALL;
  std::string src;
  try {
    FILE* f = std::fopen(pSrcFile, "rb");
    bool ok = f != nullptr;
    if (f) {
      char buf[65536];
      size_t n;
      while (ok && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        src.append(buf, n);
        // One byte over the compiler's limit is enough for it to refuse the source.
        if (src.size() > vexa::shader::kMaxSourceBytes) break;
      }
      ok = !std::ferror(f);
      std::fclose(f);
    }
    if (!ok) {
      const std::string msg =
          "error X1507: failed to open source file: '" + std::string(pSrcFile) + "'\n";
      if (ppErrorMsgs) MakeBuffer(msg.c_str(), msg.size() + 1, ppErrorMsgs);
      return E_FAIL;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return CompileShader(src, pDefines, pFunctionName, pProfile, Flags, pSrcFile, ppShader,
                       ppErrorMsgs, ppConstantTable);
}

HRESULT WINAPI D3DXCreateTextureShader(const DWORD* pFunction,
                                       LPD3DXTEXTURESHADER* ppTextureShader) {
  if (!ppTextureShader) return D3DERR_INVALIDCALL;
  *ppTextureShader = nullptr;
  if (!pFunction) return D3DERR_INVALIDCALL;
  const size_t size = vexa::shader::ClaimedSize(pFunction);
  if (size == 0) return D3DERR_INVALIDCALL;
  try {
    Program program;
    std::string why;
    if (!vexa::shader::Decode(pFunction, size, &program, &why)) return D3DERR_INVALIDCALL;
    vexa::shader::Machine machine(program);
    if (!machine.Init()) return D3DERR_INVALIDCALL;
    std::vector<uint32_t> code(pFunction, pFunction + size / 4);
    *ppTextureShader = new TextureShader(std::move(program), std::move(code), machine.Globals());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT WINAPI D3DXFillTextureTX(LPDIRECT3DTEXTURE9 pTexture, LPD3DXTEXTURESHADER pTextureShader) {
  if (!pTexture || !pTextureShader) return D3DERR_INVALIDCALL;
  auto* shader = dynamic_cast<TextureShader*>(pTextureShader);
  if (!shader) return D3DERR_INVALIDCALL;
  const DWORD levels = pTexture->GetLevelCount();
  std::vector<D3DSURFACE_DESC> descs(levels);
  for (DWORD l = 0; l < levels; ++l) {
    if (FAILED(pTexture->GetLevelDesc(l, &descs[l]))) return D3DERR_INVALIDCALL;
    if (!FormatIsColour(descs[l].Format) || FormatBytesPerPixel(descs[l].Format) == 0)
      return D3DERR_INVALIDCALL;
  }
  // Every level is evaluated before any is written, so a shader that runs out of its loop
  // budget leaves the texture as it was.
  std::vector<std::vector<uint32_t>> texels(levels);
  try {
    vexa::shader::Machine machine(shader->program());
    machine.SetGlobals(shader->globals());
    int64_t budget = vexa::shader::kFillBudget;
    for (DWORD l = 0; l < levels; ++l) {
      const UINT w = descs[l].Width, h = descs[l].Height;
      texels[l].resize(size_t(w) * h);
      const float sx = 1.f / float(w), sy = 1.f / float(h);
      uint32_t* out = texels[l].data();
      for (UINT y = 0; y < h; ++y) {
        const float py = (float(y) + 0.5f) / float(h);
        for (UINT x = 0; x < w; ++x) {
          float c[4];
          if (!machine.Texel((float(x) + 0.5f) / float(w), py, sx, sy, c, &budget))
            return D3DERR_INVALIDCALL;
          *out++ =
              (Channel(c[3]) << 24) | (Channel(c[0]) << 16) | (Channel(c[1]) << 8) | Channel(c[2]);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (DWORD l = 0; l < levels; ++l) {
    D3DLOCKED_RECT lr;
    HRESULT hr = pTexture->LockRect(l, &lr, nullptr, 0);
    if (FAILED(hr)) return hr;
    const D3DFORMAT fmt = descs[l].Format;
    const UINT w = descs[l].Width, h = descs[l].Height, bpp = FormatBytesPerPixel(fmt);
    const uint32_t* src = texels[l].data();
    for (UINT y = 0; y < h; ++y) {
      uint8_t* row = static_cast<uint8_t*>(lr.pBits) + size_t(y) * size_t(lr.Pitch);
      if (fmt == D3DFMT_A8R8G8B8 || fmt == D3DFMT_X8R8G8B8) {
        std::memcpy(row, src, size_t(w) * 4);
      } else {
        for (UINT x = 0; x < w; ++x) WritePixelArgb(fmt, row + size_t(x) * bpp, src[x]);
      }
      src += w;
    }
    pTexture->UnlockRect(l);
  }
  return S_OK;
}
