// libFuzzer target for vertex and pixel shaders: the HLSL compiler's vs_2_0, vs_3_0, ps_2_0 and
// ps_3_0 profiles, the shader token validator, the executor and the constant table reader.
// The first byte chooses: 0 .. 3, HLSL source for one of the four profiles, whose output must
// always pass the validator, run, and carry a readable constant table; anything else, a token
// stream (the remaining bytes as DWORDs) for the validator, the executor, the CTAB reader and
// D3DX's other inspection functions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../platform/d3dx9/shader_compiler.h"
#include "../../platform/shader/shader_executor.h"
#include "../support/shader_test_sampler.h"
#include "d3dx9shader.h"

namespace {

void Run(const vexa::ShaderProgram& p) {
  static vexa::ShaderExecutor exec;
  static shader_test::Texture tex = shader_test::Texture::Make(4, 4, [](int x, int y, float* c) {
    c[0] = float(x), c[1] = float(y), c[2] = 0.5f, c[3] = 1;
  });
  static shader_test::Sampler sampler;
  for (auto& s : sampler.slots) s.texture = &tex;
  float f[256][4];
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 4; ++c) f[i][c] = float((i * 7 + c) % 13) - 6;
  INT in[16][4];
  for (int i = 0; i < 16; ++i) in[i][0] = i % 5, in[i][1] = 0, in[i][2] = 1, in[i][3] = 0;
  BOOL b[16];
  for (int i = 0; i < 16; ++i) b[i] = i & 1;
  vexa::ShaderConstants k;
  k.f = &f[0][0];
  k.f_count = 256;
  k.i = &in[0][0];
  k.b = b;
  exec.SetBudget(1 << 14);  // every input stays fast, even a loop that never ends
  exec.Bind(p, k, &sampler);
  for (int l = 0; l < vexa::kShaderLanes; ++l) {
    for (int r = 0; r < vexa::kPixelInputSlots; ++r)
      for (int c = 0; c < 4; ++c)
        exec.pixels().input[r].c[c].v[l] = float(l * (r + 1) + c) * 0.25f - 2;
  }
  if (p.type() == vexa::ShaderType::kVertex) {
    for (int l = 0; l < vexa::kShaderLanes; ++l)
      for (int r = 0; r < vexa::kVertexInputRegisters; ++r)
        for (int c = 0; c < 4; ++c) exec.vertices().input[r].c[c].v[l] = float(l - r + c) * 0.5f;
    exec.RunVertices(vexa::kShaderLanes);
    exec.RunVertices(3);
  } else {
    exec.RunPixels(0xBEEF);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const profiles[] = {"vs_2_0", "vs_3_0", "ps_2_0", "ps_3_0"};
  if (data[0] < 4) {
    std::string_view src(reinterpret_cast<const char*>(data + 1), size - 1);
    vexa::shader::CompileOutput out = vexa::shader::Compile(src, "main", profiles[data[0]]);
    if (!out.ok) {
      if (out.messages.empty() || out.messages.back() != '\n') std::abort();
      return 0;
    }
    // The compiler's output is always valid shader code with a constant table.
    std::vector<DWORD> code(out.code.begin(), out.code.end());
    vexa::ShaderProgram p;
    std::string why;
    if (!vexa::CreateShaderProgram(code.data(), code.size(), &p, &why)) std::abort();
    ID3DXConstantTable* table = nullptr;
    if (FAILED(D3DXGetShaderConstantTable(code.data(), &table)) || !table) std::abort();
    table->Release();
    Run(p);
    return 0;
  }
  std::vector<DWORD> code((size - 1) / 4);
  if (!code.empty()) std::memcpy(code.data(), data + 1, code.size() * 4);
  vexa::ShaderProgram p;
  std::string why;
  if (!vexa::CreateShaderProgram(code.data(), code.size(), &p, &why)) return 0;
  Run(p);
  // D3DX's inspection functions take a pointer only and trust it to be whole shader code, which
  // the validator has just established; the CTAB comment inside may still be anything.
  if (D3DXGetShaderVersion(code.data()) != p.version()) std::abort();
  if (D3DXGetShaderSize(code.data()) != p.dwords() * 4) std::abort();
  ID3DXConstantTable* table = nullptr;
  if (SUCCEEDED(D3DXGetShaderConstantTable(code.data(), &table)) && table) {
    D3DXCONSTANTTABLE_DESC d;
    table->GetDesc(&d);
    for (UINT i = 0; i < d.Constants && i < 64; ++i) {
      D3DXHANDLE h = table->GetConstant(nullptr, i);
      D3DXCONSTANT_DESC cd;
      UINT n = 1;
      table->GetConstantDesc(h, &cd, &n);
      D3DXHANDLE e = table->GetConstantElement(h, 0);
      table->GetConstant(e, 0);
      table->GetSamplerIndex(h);
    }
    table->Release();
  }
  UINT count = 0;
  D3DXSEMANTIC sem[MAXD3DDECLLENGTH];
  if (D3DXGetShaderInputSemantics(code.data(), nullptr, &count) == D3D_OK &&
      count <= MAXD3DDECLLENGTH)
    D3DXGetShaderInputSemantics(code.data(), sem, &count);
  return 0;
}
