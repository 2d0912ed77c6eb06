// 3D benchmarks, headless at 640 x 640: a lit, textured scene of 64 spheres (32 x 16 segments)
// under three lights against the same spheres unlit; 10,000 point sprites of 8 pixels against
// 10,000 textured quads of the same size; and a stencil pass (two-sided stencil volumes, then a
// full-screen quad tested against them). Each iteration runs to completion on the device's worker.
//
// Then the engine's scene passes on the engine's own device: the particle update and draw (20
// emitters of 500 particles), the mesh pass over 500 meshes with culling on and off, 100 primitive
// buffers and 10,000 queued screen primitives.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "automation.h"
#include "d3d9.h"
#include "engine/vexa.h"
#include "tests/support/headless_device.h"

namespace {

constexpr UINT kSize = 640;

DWORD Dword(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

struct Rig {
  test_support::HeadlessDevice headless;
  IDirect3DDevice9* device = nullptr;
  Rig() {
    if (headless.Open(kSize, kSize)) device = headless.device;
  }
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

IDirect3DTexture9* CheckerTexture(IDirect3DDevice9* d, UINT side) {
  IDirect3DTexture9* t = nullptr;
  if (FAILED(d->CreateTexture(side, side, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr)))
    return nullptr;
  D3DLOCKED_RECT lr;
  t->LockRect(0, &lr, nullptr, 0);
  for (UINT y = 0; y < side; ++y)
    for (UINT x = 0; x < side; ++x)
      reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] =
          ((x / 4 + y / 4) & 1) ? 0xC0E0A060u : 0xFF4080C0u;
  t->UnlockRect(0);
  return t;
}

// --- Spheres -------------------------------------------------------------------------------------

struct SphereVertex {
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kSphereFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct Spheres {
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
  UINT vertices = 0, triangles = 0;

  // A unit sphere of `slices` x `stacks` segments.
  bool Make(IDirect3DDevice9* d, int slices, int stacks) {
    std::vector<SphereVertex> v;
    std::vector<uint16_t> idx;
    for (int j = 0; j <= stacks; ++j)
      for (int i = 0; i <= slices; ++i) {
        const float phi = 3.14159265f * j / stacks, theta = 6.2831853f * i / slices;
        const float x = std::sin(phi) * std::cos(theta), y = std::cos(phi),
                    z = std::sin(phi) * std::sin(theta);
        v.push_back({x, y, z, x, y, z, 0xFFFFFFFF, static_cast<float>(i) / slices,
                     static_cast<float>(j) / stacks});
      }
    for (int j = 0; j < stacks; ++j)
      for (int i = 0; i < slices; ++i) {
        const uint16_t a = static_cast<uint16_t>(j * (slices + 1) + i);
        const uint16_t b = static_cast<uint16_t>(a + slices + 1);
        idx.insert(idx.end(), {a, static_cast<uint16_t>(a + 1), b, b, static_cast<uint16_t>(a + 1),
                               static_cast<uint16_t>(b + 1)});
      }
    vertices = static_cast<UINT>(v.size());
    triangles = static_cast<UINT>(idx.size() / 3);
    if (FAILED(d->CreateVertexBuffer(vertices * sizeof(SphereVertex), 0, kSphereFvf,
                                     D3DPOOL_MANAGED, &vb, nullptr)) ||
        FAILED(d->CreateIndexBuffer(static_cast<UINT>(idx.size() * 2), 0, D3DFMT_INDEX16,
                                    D3DPOOL_MANAGED, &ib, nullptr)))
      return false;
    void* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, v.data(), v.size() * sizeof(SphereVertex));
    vb->Unlock();
    ib->Lock(0, 0, &p, 0);
    std::memcpy(p, idx.data(), idx.size() * 2);
    ib->Unlock();
    return true;
  }
  ~Spheres() {
    if (vb) vb->Release();
    if (ib) ib->Release();
  }
};

void SetCamera(IDirect3DDevice9* d) {
  D3DMATRIX view{}, proj{};
  view._11 = view._22 = view._33 = view._44 = 1;
  view._43 = 10;  // the scene 10 units in front of the eye
  const float n = 1, f = 100, h = 1.f / std::tan(0.5f);
  proj._11 = proj._22 = h;
  proj._33 = f / (f - n);
  proj._34 = 1;
  proj._43 = -n * f / (f - n);
  d->SetTransform(D3DTS_VIEW, &view);
  d->SetTransform(D3DTS_PROJECTION, &proj);
}

// 64 spheres on an 8 x 8 grid filling the view.
void DrawSpheres(IDirect3DDevice9* d, const Spheres& s) {
  d->SetStreamSource(0, s.vb, 0, sizeof(SphereVertex));
  d->SetIndices(s.ib);
  d->SetFVF(kSphereFvf);
  for (int gy = 0; gy < 8; ++gy)
    for (int gx = 0; gx < 8; ++gx) {
      D3DMATRIX world{};
      world._11 = world._22 = world._33 = 0.6f;
      world._44 = 1;
      world._41 = (gx - 3.5f) * 1.3f;
      world._42 = (gy - 3.5f) * 1.3f;
      d->SetTransform(D3DTS_WORLD, &world);
      d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, s.vertices, 0, s.triangles);
    }
}

void SphereScene(benchmark::State& state, bool lit) {
  IDirect3DDevice9* d = TheRig().device;
  if (!d) return state.SkipWithError("no device");
  Spheres spheres;
  if (!spheres.Make(d, 32, 16)) return state.SkipWithError("no buffers");
  IDirect3DTexture9* tex = CheckerTexture(d, 64);
  SetCamera(d);
  d->SetRenderState(D3DRS_LIGHTING, lit ? TRUE : FALSE);
  d->SetRenderState(D3DRS_SPECULARENABLE, lit ? TRUE : FALSE);
  d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  D3DMATERIAL9 m{};
  m.Diffuse = {1, 1, 1, 1};
  m.Ambient = {0.2f, 0.2f, 0.2f, 1};
  m.Specular = {1, 1, 1, 1};
  m.Power = 20;
  d->SetMaterial(&m);
  const D3DLIGHTTYPE types[3] = {D3DLIGHT_DIRECTIONAL, D3DLIGHT_POINT, D3DLIGHT_SPOT};
  for (DWORD i = 0; i < 3; ++i) {
    D3DLIGHT9 l{};
    l.Type = types[i];
    l.Diffuse = {0.5f, 0.5f, 0.5f, 1};
    l.Specular = {0.5f, 0.5f, 0.5f, 1};
    l.Direction = {0.3f, -0.5f, 1};
    l.Position = {3.f * (static_cast<float>(i) - 1), 3, -4};
    l.Range = 100;
    l.Attenuation0 = 1;
    l.Theta = 0.5f;
    l.Phi = 1.f;
    l.Falloff = 1;
    d->SetLight(i, &l);
    d->LightEnable(i, lit ? TRUE : FALSE);
  }
  d->SetTexture(0, tex);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  for (auto _ : state) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.f, 0);
    d->BeginScene();
    DrawSpheres(d, spheres);
    d->EndScene();
    AutomationFinishDevice(d);
  }
  state.counters["triangles/s"] =
      benchmark::Counter(64.0 * spheres.triangles * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  d->SetTexture(0, nullptr);
  d->SetStreamSource(0, nullptr, 0, 0);
  d->SetIndices(nullptr);
  for (DWORD i = 0; i < 3; ++i) d->LightEnable(i, FALSE);
  if (tex) tex->Release();
}

void BM_SpheresLitTextured(benchmark::State& state) {
  SphereScene(state, true);
}
BENCHMARK(BM_SpheresLitTextured)->Unit(benchmark::kMillisecond);

void BM_SpheresUnlitTextured(benchmark::State& state) {
  SphereScene(state, false);
}
BENCHMARK(BM_SpheresUnlitTextured)->Unit(benchmark::kMillisecond);

// --- Point sprites against quads ----------------------------------------------------------------

struct PointVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
};
struct QuadVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};

void ParticleStates(IDirect3DDevice9* d, IDirect3DTexture9* tex) {
  d->SetTexture(0, tex);
  d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
}

std::vector<PointVertex> Points() {
  std::vector<PointVertex> p(10000);
  std::mt19937 rng(9);
  for (auto& v : p)
    v = {static_cast<float>(rng() % (kSize - 16) + 8) + (rng() % 100) / 100.f,
         static_cast<float>(rng() % (kSize - 16) + 8) + (rng() % 100) / 100.f, 0.5f, 1,
         static_cast<D3DCOLOR>(rng() | 0x80000000u)};
  return p;
}

void BM_PointSprites10000(benchmark::State& state) {
  IDirect3DDevice9* d = TheRig().device;
  if (!d) return state.SkipWithError("no device");
  IDirect3DTexture9* tex = CheckerTexture(d, 16);
  const std::vector<PointVertex> points = Points();
  ParticleStates(d, tex);
  d->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
  d->SetRenderState(D3DRS_POINTSIZE, Dword(8.f));
  for (auto _ : state) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.f, 0);
    d->BeginScene();
    d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    d->DrawPrimitiveUP(D3DPT_POINTLIST, static_cast<UINT>(points.size()), points.data(),
                       sizeof(PointVertex));
    d->EndScene();
    AutomationFinishDevice(d);
  }
  state.counters["sprites/s"] = benchmark::Counter(
      10000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  d->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);
  d->SetRenderState(D3DRS_POINTSIZE, Dword(1.f));
  d->SetTexture(0, nullptr);
  if (tex) tex->Release();
}
BENCHMARK(BM_PointSprites10000)->Unit(benchmark::kMillisecond);

void BM_QuadSprites10000(benchmark::State& state) {
  IDirect3DDevice9* d = TheRig().device;
  if (!d) return state.SkipWithError("no device");
  IDirect3DTexture9* tex = CheckerTexture(d, 16);
  const std::vector<PointVertex> points = Points();
  std::vector<QuadVertex> quads;
  quads.reserve(points.size() * 6);
  for (const PointVertex& p : points) {
    const float x0 = p.x - 4, y0 = p.y - 4, x1 = p.x + 4, y1 = p.y + 4;
    const QuadVertex a{x0, y0, 0.5f, 1, p.colour, 0, 0}, b{x1, y0, 0.5f, 1, p.colour, 1, 0},
        c{x0, y1, 0.5f, 1, p.colour, 0, 1}, e{x1, y1, 0.5f, 1, p.colour, 1, 1};
    quads.insert(quads.end(), {a, b, c, c, b, e});
  }
  ParticleStates(d, tex);
  for (auto _ : state) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.f, 0);
    d->BeginScene();
    d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(points.size() * 2), quads.data(),
                       sizeof(QuadVertex));
    d->EndScene();
    AutomationFinishDevice(d);
  }
  state.counters["sprites/s"] = benchmark::Counter(
      10000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  d->SetTexture(0, nullptr);
  if (tex) tex->Release();
}
BENCHMARK(BM_QuadSprites10000)->Unit(benchmark::kMillisecond);

// --- Stencil ------------------------------------------------------------------------------------

// The spheres as two-sided stencil volumes (front faces increment, back faces decrement, colour
// writes off), then one full-screen quad drawn where the count is not zero.
void BM_StencilVolumesAndMask(benchmark::State& state) {
  IDirect3DDevice9* d = TheRig().device;
  if (!d) return state.SkipWithError("no device");
  Spheres spheres;
  if (!spheres.Make(d, 32, 16)) return state.SkipWithError("no buffers");
  IDirect3DSurface9* depth = nullptr;
  if (FAILED(d->CreateDepthStencilSurface(kSize, kSize, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                          &depth, nullptr)))
    return state.SkipWithError("no stencil");
  IDirect3DSurface9* oldDepth = nullptr;
  d->GetDepthStencilSurface(&oldDepth);
  d->SetDepthStencilSurface(depth);
  SetCamera(d);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  const float side = static_cast<float>(kSize);
  QuadVertex screen[4] = {{0, 0, 0.5f, 1, 0x80FF0000, 0, 0},
                          {side, 0, 0.5f, 1, 0x80FF0000, 0, 0},
                          {0, side, 0.5f, 1, 0x80FF0000, 0, 0},
                          {side, side, 0.5f, 1, 0x80FF0000, 0, 0}};
  for (auto _ : state) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF000000, 1.f, 0);
    d->BeginScene();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    d->SetRenderState(D3DRS_TWOSIDEDSTENCILMODE, TRUE);
    d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    d->SetRenderState(D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS);
    d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    d->SetRenderState(D3DRS_CCW_STENCILPASS, D3DSTENCILOP_DECR);
    DrawSpheres(d, spheres);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetRenderState(D3DRS_TWOSIDEDSTENCILMODE, FALSE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_STENCILREF, 0);
    d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_NOTEQUAL);
    d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, screen, sizeof(QuadVertex));
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->EndScene();
    AutomationFinishDevice(d);
  }
  d->SetStreamSource(0, nullptr, 0, 0);
  d->SetIndices(nullptr);
  d->SetDepthStencilSurface(oldDepth);
  if (oldDepth) oldDepth->Release();
  depth->Release();
}
BENCHMARK(BM_StencilVolumesAndMask)->Unit(benchmark::kMillisecond);

// --- Engine scene passes ------------------------------------------------------------------------

// The engine opened once, as the demo opens it, looking along +z with a 90 degree view.
bool EngineOpen() {
  static const bool open = [] {
    AutomationUseHeadless();
    if (OpenScreen(0, 0, kSize, kSize, "scene passes", 0x00C80001) != 1) return false;
    D3DXMATRIX view, projection;
    D3DXMatrixIdentity(&view);
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 2, 1.0f, 1.0f, 100.0f);
    Engine.Device->SetTransform(D3DTS_VIEW, &view);
    Engine.Device->SetTransform(D3DTS_PROJECTION, &projection);
    return true;
  }();
  return open;
}

void ClearSceneLists() {
  Engine.ParticleEmitterList.ForEach([](ParticleEmitter& e) {
    SafeRelease(e.VertexBuffer);
    SafeRelease(e.BaseTexture);
  });
  Engine.ParticleEmitterList.Clear();
  Engine.MeshList.ForEach([](Mesh& m) { SafeRelease(m.D3DMesh); });
  Engine.MeshList.Clear();
  Engine.PrimitiveBufferList.ForEach([](PrimitiveBuffer& b) { SafeRelease(b.VertexBuffer); });
  Engine.PrimitiveBufferList.Clear();
  Engine.ScreenPrimitiveQueue.Clear();
  Engine.FrustumCulling = 0;
}

// 20 emitters of 500 particles each in front of the eye. With `churn` the particles live 0.2 to
// 1 s and bursts of 100 every 0.05 s replace them; otherwise they live for ever.
void MakeEmitters(bool churn) {
  ClearSceneLists();
  SeedRandom(1);
  for (int i = 0; i < 20; ++i) {
    ParticleEmitter* e = Engine.ParticleEmitterList.Add();
    D3DXMatrixIdentity(reinterpret_cast<D3DXMATRIX*>(&e->World));
    e->MaxParticles = 500;
    e->BurstSize = churn ? 100 : 500;
    e->BurstInterval = churn ? 0.05f : 0.0f;
    e->LifeMin = churn ? 0.2f : 1.0e9f;
    e->LifeMax = churn ? 1.0f : 1.0e9f;
    e->SizeMin = 0.1f;
    e->SizeMax = 0.3f;
    e->ColourMax[0] = e->ColourMax[1] = e->ColourMax[2] = 64;
    e->Origin[0] = static_cast<float>(i % 5) * 4.0f - 8.0f;
    e->Origin[1] = static_cast<float>(i / 5) * 4.0f - 6.0f;
    e->Origin[2] = 20.0f;
    e->VelocitySpread = 1.0f;
    e->ApplyGravity = 1;
    e->Gravity[1] = -0.1f;
    e->PullToTarget = 1;
    e->AnimationRate = 10.0f;
    e->LastFrame = 3;
    Engine.Device->CreateVertexBuffer(500 * 20, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                      D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE, D3DPOOL_DEFAULT,
                                      &e->VertexBuffer, nullptr);
    e->BaseTexture = CheckerTexture(Engine.Device, 8);
    for (int f = 0; f <= 3; ++f) e->FrameTextures[f] = e->BaseTexture;
  }
  Engine.FrameTime = 0.016f;
  for (int i = 0; i < (churn ? 100 : 1); ++i) UpdateParticleEmitters();
}

int LiveParticles() {
  int live = 0;
  Engine.ParticleEmitterList.ForEach([&](ParticleEmitter& e) { live += e.Particles.Count(); });
  return live;
}

void ParticleUpdate(benchmark::State& state, bool churn) {
  if (!EngineOpen()) return state.SkipWithError("no engine");
  MakeEmitters(churn);
  for (auto _ : state) UpdateParticleEmitters();
  state.counters["particles"] = LiveParticles();
  state.counters["particles/s"] = benchmark::Counter(
      LiveParticles() * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  Engine.ParticleEmitterList.ForEach([](ParticleEmitter& e) {
    for (IDirect3DTexture9*& f : e.FrameTextures) f = nullptr;
  });
  ClearSceneLists();
}

void BM_ParticleUpdate20x500(benchmark::State& state) {
  ParticleUpdate(state, false);
}
BENCHMARK(BM_ParticleUpdate20x500)->Unit(benchmark::kMicrosecond);

void BM_ParticleUpdateChurn20x500(benchmark::State& state) {
  ParticleUpdate(state, true);
}
BENCHMARK(BM_ParticleUpdateChurn20x500)->Unit(benchmark::kMicrosecond);

// 10,000 point sprites, one draw call each, additive. Argument 1: to completion on the device's
// worker (wall time); 0: the pass's own calls, the worker catching up off the clock.
void BM_ParticleDraw20x500(benchmark::State& state) {
  if (!EngineOpen()) return state.SkipWithError("no engine");
  MakeEmitters(false);
  const bool toCompletion = state.range(0) != 0;
  IDirect3DDevice9* d = Engine.Device;
  for (auto _ : state) {
    state.PauseTiming();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.f, 0);
    d->BeginScene();
    AutomationFinishDevice(d);
    state.ResumeTiming();
    DrawParticleEmitters();
    if (toCompletion) AutomationFinishDevice(d);
    state.PauseTiming();
    d->EndScene();
    AutomationFinishDevice(d);
    state.ResumeTiming();
  }
  state.counters["sprites/s"] = benchmark::Counter(
      LiveParticles() * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  Engine.ParticleEmitterList.ForEach([](ParticleEmitter& e) {
    for (IDirect3DTexture9*& f : e.FrameTextures) f = nullptr;
  });
  ClearSceneLists();
}
BENCHMARK(BM_ParticleDraw20x500)->Arg(0)->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParticleDraw20x500)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// 500 spheres of radius 0.5 (12 x 8 segments) with sphere bounds: `inside` of them spread over
// the view 10 to 40 units ahead, the rest as far behind the eye.
void MakeMeshes(int inside) {
  ClearSceneLists();
  ID3DXMesh* sphere = nullptr;
  D3DXCreateSphere(Engine.Device, 0.5f, 12, 8, &sphere, nullptr);
  std::mt19937 rng(3);
  for (int i = 0; i < 500; ++i) {
    Mesh* m = Engine.MeshList.Add();
    m->D3DMesh = sphere;
    sphere->AddRef();
    const float z = 10.0f + static_cast<float>(rng() % 3000) / 100.0f;
    const float x = (static_cast<float>(rng() % 1600) / 1000.0f - 0.8f) * z;
    const float y = (static_cast<float>(rng() % 1600) / 1000.0f - 0.8f) * z;
    D3DXMatrixTranslation(reinterpret_cast<D3DXMATRIX*>(&m->World), x, y, i < inside ? z : -z);
    m->BoundsKind = 1;
    m->SphereRadius = 0.5f;
    m->OwnMaterial.Emissive = {0.5f, 0.7f, 0.9f, 1.0f};
  }
  sphere->Release();
}

// The mesh pass over the list. With `toCompletion` the clock runs until the device's worker has
// drawn everything (wall time); otherwise it covers the pass's own calls only, and the worker
// catches up off the clock. The clear and the planes, once per frame, are off the clock.
void MeshPass(benchmark::State& state, int inside, bool culling, bool toCompletion) {
  if (!EngineOpen()) return state.SkipWithError("no engine");
  MakeMeshes(inside);
  Engine.FrustumCulling = culling ? 1 : 0;
  IDirect3DDevice9* d = Engine.Device;
  for (auto _ : state) {
    state.PauseTiming();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.f, 0);
    if (culling) UpdateFrustumPlanes();
    d->BeginScene();
    AutomationFinishDevice(d);
    state.ResumeTiming();
    DrawMeshes();
    if (toCompletion) AutomationFinishDevice(d);
    state.PauseTiming();
    d->EndScene();
    AutomationFinishDevice(d);
    state.ResumeTiming();
  }
  // Time per mesh of the list, whatever became of it.
  state.counters["per mesh"] = benchmark::Counter(
      500, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  ClearSceneLists();
}

// Half the meshes behind the eye: the device clips them (off) or the pass culls them (on).
void BM_Meshes500HalfOutsideCullingOff(benchmark::State& state) {
  MeshPass(state, 250, false, true);
}
BENCHMARK(BM_Meshes500HalfOutsideCullingOff)->UseRealTime()->Unit(benchmark::kMillisecond);
void BM_Meshes500HalfOutsideCullingOn(benchmark::State& state) {
  MeshPass(state, 250, true, true);
}
BENCHMARK(BM_Meshes500HalfOutsideCullingOn)->UseRealTime()->Unit(benchmark::kMillisecond);
// One culled mesh against one drawn mesh: all outside with culling on; all inside, as submitted
// and to completion.
// A culled mesh makes no device call, so the pass runs back to back without a scene.
void BM_Meshes500AllCulled(benchmark::State& state) {
  if (!EngineOpen()) return state.SkipWithError("no engine");
  MakeMeshes(0);
  Engine.FrustumCulling = 1;
  UpdateFrustumPlanes();
  for (auto _ : state) DrawMeshes();
  state.counters["per mesh"] = benchmark::Counter(
      500, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  ClearSceneLists();
}
BENCHMARK(BM_Meshes500AllCulled)->Unit(benchmark::kMicrosecond);
void BM_Meshes500AllDrawnSubmitted(benchmark::State& state) {
  MeshPass(state, 500, true, false);
}
BENCHMARK(BM_Meshes500AllDrawnSubmitted)->Iterations(60)->Unit(benchmark::kMicrosecond);
void BM_Meshes500AllDrawn(benchmark::State& state) {
  MeshPass(state, 500, true, true);
}
BENCHMARK(BM_Meshes500AllDrawn)->UseRealTime()->Unit(benchmark::kMillisecond);

// 100 buffers of 64 coloured lines each across the view (about 200 pixels long). Argument as for
// the particle draw.
void BM_PrimitiveBuffers100(benchmark::State& state) {
  if (!EngineOpen()) return state.SkipWithError("no engine");
  ClearSceneLists();
  struct LineVertex {
    float x, y, z;
    D3DCOLOR colour;
  };
  std::mt19937 rng(5);
  auto coordinate = [&] { return static_cast<float>(rng() % 2000) / 100.0f - 10.0f; };
  for (int i = 0; i < 100; ++i) {
    PrimitiveBuffer* b = Engine.PrimitiveBufferList.Add();
    D3DXMatrixTranslation(reinterpret_cast<D3DXMATRIX*>(&b->World), 0, 0, 15);
    b->PrimitiveType = D3DPT_LINELIST;
    b->PrimitiveCount = 64;
    Engine.Device->CreateVertexBuffer(128 * sizeof(LineVertex), D3DUSAGE_WRITEONLY,
                                      D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED,
                                      &b->VertexBuffer, nullptr);
    void* data = nullptr;
    b->VertexBuffer->Lock(0, 0, &data, 0);
    auto* v = static_cast<LineVertex*>(data);
    for (int k = 0; k < 128; ++k)
      v[k] = {coordinate(), coordinate(), 0, static_cast<D3DCOLOR>(rng() | 0xFF000000u)};
    b->VertexBuffer->Unlock();
  }
  const bool toCompletion = state.range(0) != 0;
  IDirect3DDevice9* d = Engine.Device;
  for (auto _ : state) {
    state.PauseTiming();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.f, 0);
    d->BeginScene();
    AutomationFinishDevice(d);
    state.ResumeTiming();
    DrawPrimitiveBuffers();
    if (toCompletion) AutomationFinishDevice(d);
    state.PauseTiming();
    d->EndScene();
    AutomationFinishDevice(d);
    state.ResumeTiming();
  }
  state.counters["lines/s"] = benchmark::Counter(6400.0 * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
  ClearSceneLists();
}
BENCHMARK(BM_PrimitiveBuffers100)->Arg(0)->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrimitiveBuffers100)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// 10,000 queued pixels, lines (up to 100 pixels), circles (radius up to 50), filled circles
// (radius up to 20) and rectangle outlines in equal shares; the argument is how many of them are
// filled rectangles instead, each of which unlocks the back buffer for the device's fill.
void BM_ScreenPrimitives10000(benchmark::State& state) {
  if (!EngineOpen()) return state.SkipWithError("no engine");
  ClearSceneLists();
  const int fills = static_cast<int>(state.range(0));
  std::vector<ScreenPrimitive> commands;
  std::mt19937 rng(7);
  for (int i = 0; i < 10000; ++i) {
    const int32_t x = static_cast<int32_t>(rng() % kSize), y = static_cast<int32_t>(rng() % kSize);
    const int32_t kind = fills > 0 && i % (10000 / fills) == 0 ? 5 : i % 5;
    int32_t x2 = x + static_cast<int32_t>(rng() % 101) - 50;
    int32_t y2 = y + static_cast<int32_t>(rng() % 101) - 50;
    if (kind == 2) x2 = static_cast<int32_t>(rng() % 51);
    if (kind == 3) x2 = static_cast<int32_t>(rng() % 21);
    if (kind == 5) {
      x2 = std::min<int32_t>(x + 40, kSize);
      y2 = std::min<int32_t>(y + 40, kSize);
    }
    commands.push_back({x, y, x2, y2, kind, static_cast<D3DCOLOR>(rng() | 0xFF000000u)});
  }
  IDirect3DDevice9* d = Engine.Device;
  for (auto _ : state) {
    state.PauseTiming();
    for (const ScreenPrimitive& c : commands) *Engine.ScreenPrimitiveQueue.Add() = c;
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.f, 0);
    AutomationFinishDevice(d);
    state.ResumeTiming();
    d->BeginScene();
    DrawScreenPrimitives();
    d->EndScene();
    AutomationFinishDevice(d);
  }
  state.counters["primitives/s"] = benchmark::Counter(
      10000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  ClearSceneLists();
}
BENCHMARK(BM_ScreenPrimitives10000)->Arg(0)->Arg(100)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
