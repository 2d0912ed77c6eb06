// Shader executor benchmarks, without a device: a lit, textured, shadow-mapped pixel shader over
// 640 x 640 pixels (per-pixel diffuse and specular lighting from one light, one bilinear texture
// read, a 2 x 2 percentage-closer shadow test of four point reads) with the tests' CPU sampler,
// and a vertex shader transforming and lighting 100 000 vertices. Arguments: the profile (0: ps_3_0
// / vs_3_0, 1: ps_2_0 / vs_2_0), the code path (0: AVX2 + FMA when present, 1: SSE2), and for
// pixels whether texture reads go to the sampler (0) or to none at all (1), which leaves the
// executor's own cost.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "d3dx9core.h"
#include "d3dx9math.h"
#include "d3dx9shader.h"
#include "tests/support/shader_fake_device.h"
#include "tests/support/shader_test_sampler.h"
#include "tests/support/lit_shadowed_shader.h"

namespace {

const char kVertexShader[] =
    "float4x4 WorldViewProj; float4x3 World; float3 LightDir; float4 LightColor; float4 Ambient;\n"
    "struct VSOut { float4 pos : POSITION; float4 colour : COLOR0; float2 uv : TEXCOORD0; };\n"
    "VSOut main(float4 pos : POSITION, float3 n : NORMAL, float2 uv : TEXCOORD0) {\n"
    "  VSOut o;\n"
    "  o.pos = mul(pos, WorldViewProj);\n"
    "  float3 wn = normalize(mul(n, (float3x3)World));\n"
    "  o.colour = Ambient + LightColor * saturate(dot(wn, -LightDir));\n"
    "  o.uv = uv;\n"
    "  return o;\n"
    "}\n";

struct Compiled {
  std::vector<DWORD> code;
  ID3DXConstantTable* table = nullptr;
  ~Compiled() { SafeRelease(table); }
};

bool Compile(const char* src, const char* profile, Compiled* out) {
  ID3DXBuffer* shader = nullptr;
  if (FAILED(D3DXCompileShader(src, UINT(std::strlen(src)), nullptr, nullptr, "main", profile, 0,
                               &shader, nullptr, &out->table)))
    return false;
  const DWORD* t = static_cast<const DWORD*>(shader->GetBufferPointer());
  out->code.assign(t, t + shader->GetBufferSize() / 4);
  shader->Release();
  return true;
}

constexpr int kSize = 640;

void BM_PixelShaderLitShadowed640(benchmark::State& state) {
  const char* profile = state.range(0) ? "ps_2_0" : "ps_3_0";
  const auto path = state.range(1) ? vexa::ShaderCodePath::kGeneric : vexa::ShaderCodePath::kBest;
  Compiled c;
  vexa::ShaderProgram program;
  std::string why;
  if (!Compile(test_support::kLitShadowedPixelShader, profile, &c) ||
      !vexa::CreateShaderProgram(c.code.data(), c.code.size(), &program, &why, path))
    return state.SkipWithError("compile failed");
  shader_test::FakeDevice device;
  c.table->SetDefaults(&device);
  const D3DXVECTOR4 light(200, 500, -300, 0), eye(320, 200, -600, 0), colour(1, 0.9f, 0.8f, 1);
  c.table->SetVector(&device, "LightPos", &light);
  c.table->SetVector(&device, "EyePos", &eye);
  c.table->SetVector(&device, "LightColor", &colour);
  c.table->SetFloat(&device, "ShadowTexel", 1.f / 512);
  const shader_test::Texture diffuse =
      shader_test::Texture::Make(256, 256, [](int x, int y, float* p) {
        p[0] = float(x) / 255;
        p[1] = float(y) / 255;
        p[2] = float((x ^ y) & 8) / 8;
        p[3] = 1;
      });
  const shader_test::Texture shadow =
      shader_test::Texture::Make(512, 512, [](int x, int y, float* p) {
        p[0] = p[1] = p[2] = p[3] = 0.3f + 0.4f * float((x * 13 + y * 7) % 64) / 63;
      });
  shader_test::Sampler sampler;
  sampler.slots[0] = {&diffuse, shader_test::Filter::kLinear, shader_test::Address::kWrap};
  sampler.slots[1] = {&shadow, shader_test::Filter::kPoint, shader_test::Address::kClamp};
  vexa::ShaderExecutor exec;
  vexa::ShaderConstants k;
  k.f = &device.pf[0][0];
  k.f_count = 224;
  exec.Bind(program, k, state.range(2) ? nullptr : &sampler);
  vexa::PixelBatch& b = exec.pixels();
  // Attributes as the rasteriser would interpolate them: planes in x and y.
  const float uvx = 1.f / 160, uvy = 1.f / 200;
  double sum = 0;
  for (auto _ : state) {
    for (int y = 0; y < kSize; y += 2) {
      for (int x = 0; x < kSize; x += 8) {
        for (int l = 0; l < vexa::kShaderLanes; ++l) {
          const float px = float(x + (l >> 2) * 2 + (l & 1)), py = float(y + ((l >> 1) & 1));
          b.input[0].c[0].v[l] = px * uvx;
          b.input[0].c[1].v[l] = py * uvy;
          b.input[1].c[0].v[l] = px;
          b.input[1].c[1].v[l] = 0.25f * py;
          b.input[1].c[2].v[l] = 0.1f * (px + py);
          b.input[2].c[0].v[l] = (px - 320) * (1.f / 640);
          b.input[2].c[1].v[l] = 1;
          b.input[2].c[2].v[l] = (py - 320) * (1.f / 800);
          b.input[3].c[0].v[l] = px * (1.f / 640);
          b.input[3].c[1].v[l] = py * (1.f / 640);
          b.input[3].c[2].v[l] = 0.3f + 0.4f * (px + py) * (1.f / 1280);
          b.input[3].c[3].v[l] = 1;
        }
        exec.RunPixels(vexa::kAllShaderLanes);
        sum += b.color[0].c[0].v[0] + b.color[0].c[1].v[15];
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  state.counters["pixels/s"] = benchmark::Counter(
      double(kSize) * kSize * double(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(std::string(profile) +
                 (program.code_path() == vexa::ShaderCodePath::kBest ? " avx2+fma" : " sse2") +
                 (state.range(2) ? " no sampler" : ""));
}
BENCHMARK(BM_PixelShaderLitShadowed640)
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1, 0})
    ->Args({0, 0, 1})
    ->Unit(benchmark::kMillisecond);

void BM_VertexShaderTransformLight100k(benchmark::State& state) {
  const char* profile = state.range(0) ? "vs_2_0" : "vs_3_0";
  const auto path = state.range(1) ? vexa::ShaderCodePath::kGeneric : vexa::ShaderCodePath::kBest;
  Compiled c;
  vexa::ShaderProgram program;
  std::string why;
  if (!Compile(kVertexShader, profile, &c) ||
      !vexa::CreateShaderProgram(c.code.data(), c.code.size(), &program, &why, path))
    return state.SkipWithError("compile failed");
  shader_test::FakeDevice device;
  D3DXMATRIX wvp, world;
  for (int i = 0; i < 16; ++i) {
    (&wvp._11)[i] = float((i * 7) % 5) * 0.3f - 0.4f;
    (&world._11)[i] = i % 5 == 0 ? 1.f : 0.1f * float(i % 3);
  }
  const D3DXVECTOR4 dir(0.3f, -0.8f, 0.5f, 0), colour(1, 1, 0.9f, 1), ambient(0.1f, 0.1f, 0.1f, 0);
  c.table->SetMatrix(&device, "WorldViewProj", &wvp);
  c.table->SetMatrix(&device, "World", &world);
  c.table->SetVector(&device, "LightDir", &dir);
  c.table->SetVector(&device, "LightColor", &colour);
  c.table->SetVector(&device, "Ambient", &ambient);
  constexpr int kVertices = 100000;
  struct Vertex {
    float pos[3], n[3], uv[2];
  };
  struct Out {
    float pos[4], colour[4], uv[2];
  };
  std::vector<Vertex> in(kVertices);
  std::vector<Out> out(kVertices);
  for (int i = 0; i < kVertices; ++i) {
    const float t = float(i) * 0.001f;
    in[size_t(i)] = {{std::sin(t), std::cos(t), t}, {std::cos(t), 0.5f, std::sin(t)}, {t, 1 - t}};
  }
  vexa::ShaderExecutor exec;
  vexa::ShaderConstants k;
  k.f = &device.vf[0][0];
  k.f_count = 256;
  exec.Bind(program, k, nullptr);
  vexa::VertexBatch& b = exec.vertices();
  int reg_pos = 0, reg_n = 1, reg_uv = 2;
  for (const vexa::ShaderSemantic& s : program.inputs()) {
    if (s.usage == D3DDECLUSAGE_POSITION) reg_pos = s.slot;
    if (s.usage == D3DDECLUSAGE_NORMAL) reg_n = s.slot;
    if (s.usage == D3DDECLUSAGE_TEXCOORD) reg_uv = s.slot;
  }
  int slot_pos = 0, slot_colour = 1, slot_uv = 2;
  for (const vexa::ShaderSemantic& s : program.outputs()) {
    if (s.usage == D3DDECLUSAGE_POSITION) slot_pos = s.slot;
    if (s.usage == D3DDECLUSAGE_COLOR) slot_colour = s.slot;
    if (s.usage == D3DDECLUSAGE_TEXCOORD) slot_uv = s.slot;
  }
  for (auto _ : state) {
    for (int base = 0; base < kVertices; base += vexa::kShaderLanes) {
      const int n = std::min(vexa::kShaderLanes, kVertices - base);
      for (int l = 0; l < n; ++l) {
        const Vertex& v = in[size_t(base + l)];
        for (int c = 0; c < 3; ++c) b.input[reg_pos].c[c].v[l] = v.pos[c];
        b.input[reg_pos].c[3].v[l] = 1;
        for (int c = 0; c < 3; ++c) b.input[reg_n].c[c].v[l] = v.n[c];
        for (int c = 0; c < 2; ++c) b.input[reg_uv].c[c].v[l] = v.uv[c];
      }
      exec.RunVertices(n);
      for (int l = 0; l < n; ++l) {
        Out& o = out[size_t(base + l)];
        for (int c = 0; c < 4; ++c) {
          o.pos[c] = b.output[slot_pos].c[c].v[l];
          o.colour[c] = b.output[slot_colour].c[c].v[l];
        }
        o.uv[0] = b.output[slot_uv].c[0].v[l];
        o.uv[1] = b.output[slot_uv].c[1].v[l];
      }
    }
  }
  benchmark::DoNotOptimize(out.data());
  state.counters["vertices/s"] = benchmark::Counter(double(kVertices) * double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
  state.SetLabel(std::string(profile) +
                 (program.code_path() == vexa::ShaderCodePath::kBest ? " avx2+fma" : " sse2"));
}
BENCHMARK(BM_VertexShaderTransformLight100k)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
