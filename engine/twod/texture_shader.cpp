#include "engine/twod/texture_shader.h"

#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"

namespace {
constexpr const char* kEntryPoint = "Testout";
constexpr const char* kProfile = "tx_1_0";
constexpr DWORD kCompileFlags = D3DXSHADER_ENABLE_BACKWARDS_COMPATIBILITY;
}  // namespace

TextureShader* CreateTextureShader(const std::string& source) {
  TextureShader* shader = Engine.TextureShaderList.Add();
  ID3DXBuffer* code = nullptr;
  ID3DXBuffer* messages = nullptr;
  HRESULT hr = D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, nullptr,
                                 kEntryPoint, kProfile, kCompileFlags, &code, &messages, nullptr);
  if (FAILED(hr) || code == nullptr) {
    Engine.LastError = kEngineTextureShader;
    if (messages != nullptr) {
      // The messages are a zero-terminated text; read no further than the buffer holds.
      const char* text = static_cast<const char*>(messages->GetBufferPointer());
      size_t length = strnlen(text, messages->GetBufferSize());
      Engine.LastErrorText.assign(text, length > 0 ? length - 1 : 0);
    } else {
      Engine.LastErrorText = "Can't create the Texturshader";
    }
    Engine.TextureShaderList.Remove();
    SafeRelease(code);
    SafeRelease(messages);
    return nullptr;
  }
  hr = D3DXCreateTextureShader(static_cast<const DWORD*>(code->GetBufferPointer()),
                               &shader->D3DTextureShader);
  SafeRelease(code);
  SafeRelease(messages);
  if (FAILED(hr) || shader->D3DTextureShader == nullptr) {
    shader->D3DTextureShader = nullptr;
    Engine.LastError = kEngineTextureShader;
    Engine.LastErrorText = "Error during D3DXCreateTextureShader";
    Engine.TextureShaderList.Remove();
    return nullptr;
  }
  return shader;
}

int FillTextureWithShader(TextureShader* shaderHandle, Texture* textureHandle) {
  TextureShader* shader = FindRecord(Engine.TextureShaderList, shaderHandle);
  if (shader == nullptr) return 0;
  Texture* texture = FindRecord(Engine.TextureList, textureHandle);
  if (texture == nullptr || texture->D3DTexture == nullptr) return 0;
  return SUCCEEDED(D3DXFillTextureTX(texture->D3DTexture, shader->D3DTextureShader)) ? 1 : 0;
}
