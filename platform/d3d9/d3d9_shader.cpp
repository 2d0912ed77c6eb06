// Shader objects.
#include "d3d9/d3d9_shader.h"

#include <cstring>
#include <type_traits>

namespace d3d9 {

namespace {

// Direct3D takes shaders without a length: the reader stops at the end token, and a stream
// that has none within this many DWORDs is refused.
constexpr size_t kMaxShaderDwords = size_t{1} << 20;

}  // namespace

template <class I>
Shader<I>* Shader<I>::Create(std::shared_ptr<DeviceLink> link, const DWORD* tokens,
                             std::string* why) {
  vexa::ShaderProgram program;
  if (!vexa::CreateShaderProgram(tokens, kMaxShaderDwords, &program, why)) return nullptr;
  constexpr vexa::ShaderType wanted = std::is_same_v<I, IDirect3DVertexShader9>
                                          ? vexa::ShaderType::kVertex
                                          : vexa::ShaderType::kPixel;
  if (program.type() != wanted) {
    if (why) *why = "the tokens are a shader of the other type";
    return nullptr;
  }
  auto* shader = new Shader(std::move(link));
  shader->tokens_.assign(tokens, tokens + program.dwords());
  shader->program_ = std::move(program);
  return shader;
}

template <class I>
HRESULT Shader<I>::GetFunction(void* data, UINT* size) {
  if (!size) return D3DERR_INVALIDCALL;
  const UINT bytes = static_cast<UINT>(tokens_.size() * sizeof(DWORD));
  if (!data) {
    *size = bytes;
    return D3D_OK;
  }
  if (*size < bytes) return D3DERR_INVALIDCALL;
  std::memcpy(data, tokens_.data(), bytes);
  *size = bytes;
  return D3D_OK;
}

template <class I>
bool Shader<I>::IsOwnInterface(REFIID riid) const {
  if constexpr (std::is_same_v<I, IDirect3DVertexShader9>) {
    return riid == IID_IDirect3DVertexShader9;
  } else {
    return riid == IID_IDirect3DPixelShader9;
  }
}

template class Shader<IDirect3DVertexShader9>;
template class Shader<IDirect3DPixelShader9>;

VertexShader* AsVertexShader(IDirect3DVertexShader9* s) {
  return dynamic_cast<VertexShader*>(s);
}
PixelShader* AsPixelShader(IDirect3DPixelShader9* s) {
  return dynamic_cast<PixelShader*>(s);
}

}  // namespace d3d9
