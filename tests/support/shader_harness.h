// Compiles HLSL through D3DX, sets constants through the constant table (into a recording fake
// device), and runs the result on the shader executor, lane by lane, by semantic.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9math.h"
#include "d3dx9shader.h"
#include "../../platform/shader/shader_executor.h"
#include "support/shader_disasm.h"
#include "support/shader_fake_device.h"
#include "support/shader_test_sampler.h"

namespace shader_test {

using Vec4 = std::array<float, 4>;

class Harness {
 public:
  std::string messages;
  std::vector<DWORD> code;
  vexa::ShaderProgram program;
  FakeDevice device;
  ID3DXConstantTable* table = nullptr;
  vexa::ShaderExecutor exec;
  Sampler sampler;

  Harness() = default;
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;
  ~Harness() { SafeRelease(table); }

  ::testing::AssertionResult Compile(const std::string& src, const char* profile,
                                     const char* entry = "main", DWORD flags = 0,
                                     vexa::ShaderCodePath path = vexa::ShaderCodePath::kBest) {
    SafeRelease(table);
    code.clear();
    messages.clear();
    ID3DXBuffer* shader = nullptr;
    ID3DXBuffer* errors = nullptr;
    const HRESULT hr = D3DXCompileShader(src.data(), UINT(src.size()), nullptr, nullptr, entry,
                                         profile, flags, &shader, &errors, &table);
    if (errors) {
      messages = static_cast<const char*>(errors->GetBufferPointer());
      errors->Release();
    }
    if (FAILED(hr) || !shader)
      return ::testing::AssertionFailure() << "compile failed: " << messages;
    const DWORD* t = static_cast<const DWORD*>(shader->GetBufferPointer());
    code.assign(t, t + shader->GetBufferSize() / 4);
    shader->Release();
    if (!table) return ::testing::AssertionFailure() << "no constant table";
    std::string why;
    if (!vexa::CreateShaderProgram(code.data(), code.size(), &program, &why, path))
      return ::testing::AssertionFailure()
             << "executor refused the compiler's output: " << why << "\n"
             << shader_disasm::Disassemble(code);
    if (FAILED(table->SetDefaults(&device)))
      return ::testing::AssertionFailure() << "SetDefaults failed";
    return ::testing::AssertionSuccess();
  }

  bool vs() const { return program.type() == vexa::ShaderType::kVertex; }
  std::string Listing() const { return shader_disasm::Disassemble(code); }

  void SetFloat(const char* name, float v) {
    ASSERT_EQ(table->SetFloat(&device, name, v), D3D_OK) << name;
  }
  void SetVector(const char* name, float x, float y, float z = 0, float w = 0) {
    const D3DXVECTOR4 v(x, y, z, w);
    ASSERT_EQ(table->SetVector(&device, name, &v), D3D_OK) << name;
  }
  void SetMatrix(const char* name, const D3DXMATRIX& m) {
    ASSERT_EQ(table->SetMatrix(&device, name, &m), D3D_OK) << name;
  }
  void SetFloats(const char* name, const std::vector<float>& v) {
    ASSERT_EQ(table->SetFloatArray(&device, name, v.data(), UINT(v.size())), D3D_OK) << name;
  }

  // Inputs by semantic: the same value for every lane, or one lane.
  vexa::ShaderVec4* InputRegister(BYTE usage, BYTE index) {
    for (const vexa::ShaderSemantic& s : program.inputs())
      if (s.usage == usage && s.usage_index == index)
        return vs() ? &exec.vertices().input[s.slot] : &exec.pixels().input[s.slot];
    return nullptr;
  }
  void Input(BYTE usage, BYTE index, int lane, const Vec4& v) {
    vexa::ShaderVec4* r = InputRegister(usage, index);
    ASSERT_NE(r, nullptr) << "no input with usage " << int(usage) << " index " << int(index);
    for (int c = 0; c < 4; ++c) r->c[c].v[lane] = v[size_t(c)];
  }
  void InputAll(BYTE usage, BYTE index, const Vec4& v) {
    for (int l = 0; l < vexa::kShaderLanes; ++l) Input(usage, index, l, v);
  }

  void Bind() {
    vexa::ShaderConstants k;
    if (vs()) {
      k.f = &device.vf[0][0];
      k.f_count = 256;
      k.i = &device.vi[0][0];
      k.b = device.vb;
    } else {
      k.f = &device.pf[0][0];
      k.f_count = 224;
      k.i = &device.pi[0][0];
      k.b = device.pb;
    }
    exec.Bind(program, k, &sampler);
  }
  bool RunVertices(int count = vexa::kShaderLanes) {
    Bind();
    return exec.RunVertices(count);
  }
  uint32_t RunPixels(uint32_t coverage = vexa::kAllShaderLanes) {
    Bind();
    return exec.RunPixels(coverage);
  }

  // A vertex output by semantic (components the program does not write read as NaN).
  Vec4 Output(BYTE usage, BYTE index, int lane = 0) {
    Vec4 r = {NAN, NAN, NAN, NAN};
    bool found = false;
    for (const vexa::ShaderSemantic& s : program.outputs()) {
      if (s.usage != usage || s.usage_index != index) continue;
      found = true;
      for (int c = 0; c < 4; ++c) {
        if (!(s.mask >> c & 1)) continue;
        r[size_t(c)] = vs() ? exec.vertices().output[s.slot].c[c].v[lane]
                            : exec.pixels().color[s.slot].c[c].v[lane];
      }
    }
    EXPECT_TRUE(found) << "no output with usage " << int(usage) << " index " << int(index);
    return r;
  }
  Vec4 Color(int lane = 0, int target = 0) {
    Vec4 r;
    for (int c = 0; c < 4; ++c) r[size_t(c)] = exec.pixels().color[target].c[c].v[lane];
    return r;
  }
};

inline void ExpectNear(const Vec4& got, const Vec4& want, float tol = 1e-5f,
                       const char* what = "") {
  for (size_t i = 0; i < 4; ++i)
    EXPECT_NEAR(got[i], want[i], tol * std::max(1.f, std::fabs(want[i])))
        << what << " component " << i;
}

}  // namespace shader_test
