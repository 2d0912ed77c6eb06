// Shaders on the device, headless at 640 x 640: one textured, vertex-lit mesh covering the target
// drawn (a) by the fixed-function pipeline (lighting, one D3DTOP_MODULATE stage) and (b) by
// vs_3_0 / ps_3_0 shaders from D3DXCompileShader that compute the same look (per-vertex diffuse,
// per-pixel texture x interpolated colour); and (c) the lit, textured, 2 x 2 PCF shadow-mapped
// ps_3_0 shader of bench_shader on the device. Every iteration waits for the device's worker (a
// read lock of one back-buffer pixel), and CPU time is the whole process's, so the worker's
// rasterising and shading are counted. The shader draw reports its time over the fixed-function
// draw's as `x_fixed_function`.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "d3d9.h"
#include "d3dx9math.h"
#include "d3dx9shader.h"
#include "tests/support/headless_device.h"
#include "tests/support/lit_shadowed_shader.h"

namespace {

constexpr UINT kSize = 640;
constexpr int kGrid = 32;  // quads per side of the mesh

struct Vertex {
  float x, y, z;
  float nx, ny, nz;
  float u, v;
};

const char kLitVs[] =
    "float4x4 WorldViewProj; float3 LightDir; float4 Diffuse; float4 Ambient;\n"
    "struct VSOut { float4 pos : POSITION; float4 colour : COLOR0; float2 uv : TEXCOORD0; };\n"
    "VSOut main(float3 pos : POSITION, float3 n : NORMAL, float2 uv : TEXCOORD0) {\n"
    "  VSOut o;\n"
    "  o.pos = mul(float4(pos, 1), WorldViewProj);\n"
    "  o.colour = saturate(Ambient + Diffuse * saturate(dot(n, -LightDir)));\n"
    "  o.uv = uv;\n"
    "  return o;\n"
    "}\n";
const char kModulatePs[] =
    "sampler2D Tex : register(s0);\n"
    "float4 main(float4 colour : COLOR0, float2 uv : TEXCOORD0) : COLOR {\n"
    "  return tex2D(Tex, uv) * colour;\n"
    "}\n";

const char kShadowVs[] =
    "float4x4 WorldViewProj; float4x4 LightViewProj;\n"
    "struct VSOut { float4 pos : POSITION; float2 uv : TEXCOORD0; float3 wpos : TEXCOORD1;"
    " float3 n : TEXCOORD2; float4 spos : TEXCOORD3; };\n"
    "VSOut main(float3 pos : POSITION, float3 n : NORMAL, float2 uv : TEXCOORD0) {\n"
    "  VSOut o;\n"
    "  o.pos = mul(float4(pos, 1), WorldViewProj);\n"
    "  o.uv = uv;\n"
    "  o.wpos = pos * 320;\n"
    "  o.n = n;\n"
    "  o.spos = mul(float4(pos, 1), LightViewProj);\n"
    "  return o;\n"
    "}\n";

double ProcessSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// One device, mesh and textures for the whole run.
struct Rig {
  test_support::HeadlessDevice headless;
  IDirect3DDevice9* device = nullptr;
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
  IDirect3DVertexDeclaration9* decl = nullptr;
  IDirect3DTexture9* texture = nullptr;
  IDirect3DTexture9* shadow = nullptr;
  IDirect3DSurface9* back = nullptr;
  UINT vertices = 0, triangles = 0;
  double fixed_function_seconds = 0;  // CPU seconds per frame of (a), once measured

  Rig() {
    if (!headless.Open(kSize, kSize)) return;
    device = headless.device;
    // A grid over the whole target in clip space (identity transforms), normals tilted so the
    // lighting varies across it.
    std::vector<Vertex> v;
    for (int y = 0; y <= kGrid; ++y)
      for (int x = 0; x <= kGrid; ++x) {
        const float fx = float(x) / kGrid, fy = float(y) / kGrid;
        D3DXVECTOR3 n(0.6f * (fx - 0.5f), 0.6f * (fy - 0.5f), -1);
        D3DXVec3Normalize(&n, &n);
        v.push_back({fx * 2 - 1, 1 - fy * 2, 0.5f, n.x, n.y, n.z, fx * 2, fy * 2});
      }
    std::vector<WORD> idx;
    for (int y = 0; y < kGrid; ++y)
      for (int x = 0; x < kGrid; ++x) {
        const WORD a = WORD(y * (kGrid + 1) + x), b = WORD(a + 1), c = WORD(a + kGrid + 1),
                   d = WORD(c + 1);
        for (WORD i : {a, b, c, b, d, c}) idx.push_back(i);
      }
    vertices = UINT(v.size());
    triangles = UINT(idx.size() / 3);
    void* p = nullptr;
    device->CreateVertexBuffer(UINT(v.size() * sizeof(Vertex)), D3DUSAGE_WRITEONLY,
                               D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, D3DPOOL_MANAGED, &vb,
                               nullptr);
    device->CreateIndexBuffer(UINT(idx.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                              D3DPOOL_MANAGED, &ib, nullptr);
    if (!vb || !ib) {
      device = nullptr;
      return;
    }
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, v.data(), v.size() * sizeof(Vertex));
    vb->Unlock();
    ib->Lock(0, 0, &p, 0);
    std::memcpy(p, idx.data(), idx.size() * 2);
    ib->Unlock();
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END()};
    device->CreateVertexDeclaration(elements, &decl);
    texture = Texture(256, 256, [](UINT x, UINT y) {
      return 0xFF000000u | (x << 16) | (y << 8) | (((x ^ y) & 8) ? 0xFFu : 0u);
    });
    shadow = Texture(512, 512, [](UINT x, UINT y) {
      const UINT d = 77 + 102 * ((x * 13 + y * 7) % 64) / 63;  // 0.3 .. 0.7
      return 0xFF000000u | (d << 16) | (d << 8) | d;
    });
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    if (!decl || !texture || !shadow || !back) device = nullptr;
  }
  ~Rig() {
    for (IUnknown* u : std::initializer_list<IUnknown*>{vb, ib, decl, texture, shadow, back})
      if (u) u->Release();
  }

  template <class F>
  IDirect3DTexture9* Texture(UINT w, UINT h, F texel) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(device->CreateTexture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr)))
      return nullptr;
    D3DLOCKED_RECT lr;
    t->LockRect(0, &lr, nullptr, 0);
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x)
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] =
            texel(x, y);
    t->UnlockRect(0);
    return t;
  }

  // Clears, draws the mesh and waits for the worker to have run it.
  void Frame() {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.f, 0);
    device->BeginScene();
    device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    device->SetIndices(ib);
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertices, 0, triangles);
    device->EndScene();
    D3DLOCKED_RECT lr;
    RECT one = {0, 0, 1, 1};
    if (SUCCEEDED(back->LockRect(&lr, &one, D3DLOCK_READONLY))) back->UnlockRect();
  }

  // Runs frames for the benchmark; returns CPU seconds (the whole process) per frame.
  double Run(benchmark::State& state) {
    Frame();  // shaders and textures reach the worker before timing
    const std::vector<uint32_t> pixels = headless.ReadBackBuffer();
    size_t lit = 0;
    for (uint32_t p : pixels) lit += (p & 0xFFFFFF) != 0;
    if (lit < pixels.size() / 4) {
      state.SkipWithError("nothing drawn");
      return 0;
    }
    const double start = ProcessSeconds();
    for (auto _ : state) Frame();
    const double per = (ProcessSeconds() - start) / double(state.iterations());
    state.counters["pixels/s"] = benchmark::Counter(
        double(kSize) * kSize * double(state.iterations()), benchmark::Counter::kIsRate);
    return per;
  }

  void Reset() {
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetVertexDeclaration(nullptr);
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
  }
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

struct Shader {
  ID3DXBuffer* code = nullptr;
  ID3DXConstantTable* table = nullptr;
  IDirect3DVertexShader9* vs = nullptr;
  IDirect3DPixelShader9* ps = nullptr;
  ~Shader() {
    for (IUnknown* u : std::initializer_list<IUnknown*>{code, table, vs, ps})
      if (u) u->Release();
  }
  bool Compile(IDirect3DDevice9* d, const char* src, const char* profile) {
    if (FAILED(D3DXCompileShader(src, UINT(std::strlen(src)), nullptr, nullptr, "main", profile, 0,
                                 &code, nullptr, &table)))
      return false;
    const DWORD* t = static_cast<const DWORD*>(code->GetBufferPointer());
    return profile[0] == 'v' ? SUCCEEDED(d->CreateVertexShader(t, &vs))
                             : SUCCEEDED(d->CreatePixelShader(t, &ps));
  }
};

const D3DXVECTOR4 kLightDir(0.3f, -0.4f, 0.85f, 0), kDiffuse(0.9f, 0.85f, 0.8f, 1),
    kAmbient(0.1f, 0.1f, 0.15f, 0);

void BM_FixedFunctionLitTextured640(benchmark::State& state) {
  Rig& rig = TheRig();
  IDirect3DDevice9* d = rig.device;
  if (!d) return state.SkipWithError("no device");
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  d->SetTransform(D3DTS_WORLD, &identity);
  d->SetTransform(D3DTS_VIEW, &identity);
  d->SetTransform(D3DTS_PROJECTION, &identity);
  d->SetVertexDeclaration(rig.decl);
  D3DLIGHT9 light = {};
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {1, 1, 1, 1};
  light.Direction = {kLightDir.x, kLightDir.y, kLightDir.z};
  d->SetLight(0, &light);
  d->LightEnable(0, TRUE);
  D3DMATERIAL9 material = {};
  material.Diffuse = {kDiffuse.x, kDiffuse.y, kDiffuse.z, kDiffuse.w};
  material.Ambient = {1, 1, 1, 1};
  d->SetMaterial(&material);
  d->SetRenderState(D3DRS_LIGHTING, TRUE);
  d->SetRenderState(D3DRS_AMBIENT, D3DCOLOR_COLORVALUE(kAmbient.x, kAmbient.y, kAmbient.z, 0));
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetTexture(0, rig.texture);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  rig.fixed_function_seconds = rig.Run(state);
  rig.Reset();
}
BENCHMARK(BM_FixedFunctionLitTextured640)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

void BM_ShaderLitTextured640(benchmark::State& state) {
  Rig& rig = TheRig();
  IDirect3DDevice9* d = rig.device;
  if (!d) return state.SkipWithError("no device");
  Shader vs, ps;
  if (!vs.Compile(d, kLitVs, "vs_3_0") || !ps.Compile(d, kModulatePs, "ps_3_0"))
    return state.SkipWithError("compile failed");
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  vs.table->SetMatrix(d, "WorldViewProj", &identity);
  vs.table->SetVector(d, "LightDir", &kLightDir);
  vs.table->SetVector(d, "Diffuse", &kDiffuse);
  vs.table->SetVector(d, "Ambient", &kAmbient);
  d->SetVertexDeclaration(rig.decl);
  d->SetVertexShader(vs.vs);
  d->SetPixelShader(ps.ps);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetTexture(0, rig.texture);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  const double seconds = rig.Run(state);
  if (rig.fixed_function_seconds > 0)
    state.counters["x_fixed_function"] = seconds / rig.fixed_function_seconds;
  rig.Reset();
}
BENCHMARK(BM_ShaderLitTextured640)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

void BM_ShaderLitShadowed640(benchmark::State& state) {
  Rig& rig = TheRig();
  IDirect3DDevice9* d = rig.device;
  if (!d) return state.SkipWithError("no device");
  Shader vs, ps;
  if (!vs.Compile(d, kShadowVs, "vs_3_0") ||
      !ps.Compile(d, test_support::kLitShadowedPixelShader, "ps_3_0"))
    return state.SkipWithError("compile failed");
  D3DXMATRIX identity, light;
  D3DXMatrixIdentity(&identity);
  // Clip space to shadow-map coordinates: (x, y) -> ((x + 1) / 2, (1 - y) / 2), depth 0.3 .. 0.7.
  D3DXMatrixIdentity(&light);
  light._11 = 0.5f;
  light._22 = -0.5f;
  light._41 = 0.5f;
  light._42 = 0.5f;
  light._13 = 0.1f;
  light._23 = 0.1f;
  light._43 = 0.0f;
  vs.table->SetMatrix(d, "WorldViewProj", &identity);
  vs.table->SetMatrix(d, "LightViewProj", &light);
  ps.table->SetDefaults(d);
  const D3DXVECTOR4 pos(200, 500, -300, 0), eye(320, 200, -600, 0), colour(1, 0.9f, 0.8f, 1);
  ps.table->SetVector(d, "LightPos", &pos);
  ps.table->SetVector(d, "EyePos", &eye);
  ps.table->SetVector(d, "LightColor", &colour);
  ps.table->SetFloat(d, "ShadowTexel", 1.f / 512);
  d->SetVertexDeclaration(rig.decl);
  d->SetVertexShader(vs.vs);
  d->SetPixelShader(ps.ps);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetTexture(0, rig.texture);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetTexture(1, rig.shadow);
  d->SetSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  d->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  d->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  d->SetSamplerState(1, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  rig.Run(state);
  rig.Reset();
}
BENCHMARK(BM_ShaderLitShadowed640)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
