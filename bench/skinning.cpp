// Software skinning: ID3DXSkinInfo::UpdateSkinnedMesh on a 5,000-vertex mesh (position, normal,
// texture coordinates) with four bones on every vertex out of 32, as an animated character's
// frame needs it; once with the inverse transposes computed inside, once with them given.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "d3dx9.h"

namespace {

constexpr DWORD kVertices = 5000;
constexpr DWORD kBones = 32;
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

struct Vertex {
  float x, y, z, nx, ny, nz, u, v;
};

struct Rig {
  ID3DXSkinInfo* skin = nullptr;
  std::vector<D3DXMATRIX> bones, inverseTransposes;
  std::vector<Vertex> src, dst;

  Rig() : bones(kBones), inverseTransposes(kBones), src(kVertices), dst(kVertices) {
    if (FAILED(D3DXCreateSkinInfoFVF(kVertices, kFvf, kBones, &skin))) return;
    // Vertex v hangs on bones v, v + 8, v + 16 and v + 24 (mod 32), weighted 0.4 to 0.1.
    const float weights[4] = {0.4f, 0.3f, 0.2f, 0.1f};
    for (DWORD b = 0; b < kBones; ++b) {
      std::vector<DWORD> vertices;
      std::vector<float> w;
      for (DWORD v = 0; v < kVertices; ++v)
        for (DWORD k = 0; k < 4; ++k)
          if ((v + 8 * k) % kBones == b) {
            vertices.push_back(v);
            w.push_back(weights[k]);
          }
      skin->SetBoneInfluence(b, DWORD(vertices.size()), vertices.data(), w.data());
      D3DXMATRIX r, s, t;
      D3DXMatrixRotationYawPitchRoll(&r, 0.1f * b, 0.05f * b, 0.02f * b);
      D3DXMatrixScaling(&s, 1.0f + 0.01f * b, 1.0f, 1.0f - 0.01f * b);
      D3DXMatrixTranslation(&t, 0.1f * b, 0.2f, -0.1f * b);
      bones[b] = s * r * t;
      D3DXMatrixInverse(&inverseTransposes[b], nullptr, &bones[b]);
      D3DXMatrixTranspose(&inverseTransposes[b], &inverseTransposes[b]);
    }
    for (DWORD v = 0; v < kVertices; ++v) {
      const float a = 0.01f * float(v);
      src[v] = Vertex{std::cos(a), 0.001f * float(v), std::sin(a), std::cos(a),
                      0.0f,        std::sin(a),       0.5f,        0.5f};
    }
  }
  ~Rig() { SafeRelease(skin); }
};

void BM_UpdateSkinnedMesh5000x4(benchmark::State& state) {
  Rig rig;
  if (!rig.skin) {
    state.SkipWithError("D3DXCreateSkinInfoFVF failed");
    return;
  }
  const D3DXMATRIX* inverseTransposes = state.range(0) ? rig.inverseTransposes.data() : nullptr;
  for (auto _ : state) {
    rig.skin->UpdateSkinnedMesh(rig.bones.data(), inverseTransposes, rig.src.data(),
                                rig.dst.data());
    benchmark::DoNotOptimize(rig.dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kVertices);
}
BENCHMARK(BM_UpdateSkinnedMesh5000x4)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
