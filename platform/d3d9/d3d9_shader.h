// IDirect3DVertexShader9 and IDirect3DPixelShader9: the validated token stream and the program the
// pipeline runs, shared by both with the worker (programs are immutable).
#pragma once

#include <vector>

#include "d3d9/device_child.h"
#include "shader/shader_executor.h"

namespace d3d9 {

template <class I>
class Shader final : public DeviceObject<I> {
 public:
  // Reads and validates the tokens (which end with the end token); null for a stream it refuses
  // or one of the other shader type. `why` names the defect.
  static Shader* Create(std::shared_ptr<DeviceLink> link, const DWORD* tokens, std::string* why);

  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** ppDevice) override {
    return this->DeviceOf(ppDevice);
  }
  HRESULT STDMETHODCALLTYPE GetFunction(void* pData, UINT* pSizeOfData) override;

  const vexa::ShaderProgram& Program() const { return program_; }
  // Major version: 2 or 3.
  int Major() const { return static_cast<int>((program_.version() >> 8) & 0xFF); }

 protected:
  bool IsOwnInterface(REFIID riid) const override;

 private:
  explicit Shader(std::shared_ptr<DeviceLink> link) : DeviceObject<I>(std::move(link)) {}
  vexa::ShaderProgram program_;
  std::vector<DWORD> tokens_;
};

using VertexShader = Shader<IDirect3DVertexShader9>;
using PixelShader = Shader<IDirect3DPixelShader9>;

VertexShader* AsVertexShader(IDirect3DVertexShader9* s);
PixelShader* AsPixelShader(IDirect3DPixelShader9* s);

}  // namespace d3d9
