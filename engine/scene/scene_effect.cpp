#include "engine/scene/scene_effect.h"

#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/scene/shadow_pass.h"
#include "engine/twod/lookup.h"
#include "engine/twod/texture.h"

namespace {

constexpr int32_t kMaxShadowMapSize = 4096;

// What EnableShadowMapping made, so that DisableShadowMapping releases only that.
struct ShadowResources {
  Effect* effect = nullptr;
  Texture* sceneTexture = nullptr;
  UINT mapSize = 0;  // kept across a reset, while the map itself is released
};
ShadowResources shadow;

void RecordFailure(const char* what, ID3DXBuffer* messages) {
  Engine.LastError = kEngineShader;
  if (messages != nullptr && messages->GetBufferSize() > 0) {
    const char* text = static_cast<const char*>(messages->GetBufferPointer());
    Engine.LastErrorText.assign(text, strnlen(text, messages->GetBufferSize()));
    while (!Engine.LastErrorText.empty() && Engine.LastErrorText.back() == '\n')
      Engine.LastErrorText.pop_back();
  } else {
    Engine.LastErrorText = what;
  }
}

Effect* AddEffect(ID3DXEffect* d3dEffect) {
  Engine.EffectList.Last();
  Effect* effect = Engine.EffectList.Add();
  effect->D3DEffect = d3dEffect;
  return effect;
}

Effect* FinishCreate(HRESULT hr, ID3DXEffect* d3dEffect, ID3DXBuffer* messages, const char* what) {
  if (FAILED(hr) || d3dEffect == nullptr) {
    RecordFailure(what, messages);
    SafeRelease(d3dEffect);
    SafeRelease(messages);
    return nullptr;
  }
  SafeRelease(messages);
  return AddEffect(d3dEffect);
}

bool DepthSurfaceHolds(UINT size) {
  IDirect3DSurface9* depth = nullptr;
  if (FAILED(Engine.Device->GetDepthStencilSurface(&depth)) || depth == nullptr) return false;
  D3DSURFACE_DESC desc;
  const bool holds = SUCCEEDED(depth->GetDesc(&desc)) && size <= desc.Width && size <= desc.Height;
  depth->Release();
  return holds;
}

bool MakeShadowMap(UINT size) {
  return SUCCEEDED(Engine.Device->CreateTexture(size, size, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R32F,
                                                D3DPOOL_DEFAULT, &Engine.ShadowMapTexture,
                                                nullptr));
}

void RemoveTexture(Texture* texture) {
  if (FindRecord(Engine.TextureList, texture) == nullptr) return;
  SafeRelease(texture->D3DTexture);
  Engine.TextureList.Remove();
}

}  // namespace

Effect* CreateEffect(const std::string& source) {
  if (Engine.Device == nullptr) {
    RecordFailure("no device", nullptr);
    return nullptr;
  }
  ID3DXEffect* d3dEffect = nullptr;
  ID3DXBuffer* messages = nullptr;
  const HRESULT hr =
      D3DXCreateEffect(Engine.Device, source.data(), static_cast<UINT>(source.size()), nullptr,
                       nullptr, 0, nullptr, &d3dEffect, &messages);
  return FinishCreate(hr, d3dEffect, messages, "the effect could not be created");
}

Effect* CreateEffectFromFile(const std::string& path) {
  if (Engine.Device == nullptr) {
    RecordFailure("no device", nullptr);
    return nullptr;
  }
  ID3DXEffect* d3dEffect = nullptr;
  ID3DXBuffer* messages = nullptr;
  const HRESULT hr = D3DXCreateEffectFromFileA(Engine.Device, path.c_str(), nullptr, nullptr, 0,
                                               nullptr, &d3dEffect, &messages);
  return FinishCreate(hr, d3dEffect, messages, "the effect file could not be read");
}

int32_t ReleaseEffect(Effect* effect) {
  if (FindRecord(Engine.EffectList, effect) == nullptr) return 0;
  Engine.MeshList.ForEach([effect](Mesh& mesh) {
    if (mesh.MeshEffect == effect) mesh.MeshEffect = nullptr;
  });
  if (Engine.ShadowEffect == effect) {
    Engine.ShadowEffect = nullptr;
    Engine.ShadowMapping = 0;  // the pass cannot run without its effect
  }
  if (shadow.effect == effect) shadow.effect = nullptr;
  if (Engine.CurrentEffect == effect) Engine.CurrentEffect = nullptr;
  FindRecord(Engine.EffectList, effect);
  SafeRelease(effect->D3DEffect);
  Engine.EffectList.Remove();
  return 1;
}

int32_t SetMeshEffect(Mesh* mesh, Effect* effect) {
  if (FindRecord(Engine.MeshList, mesh) == nullptr) return 0;
  if (effect != nullptr && FindRecord(Engine.EffectList, effect) == nullptr) return 0;
  mesh->MeshEffect = effect;
  return 1;
}

int32_t EnableShadowMapping(Light* light, int32_t size) {
  if (Engine.Device == nullptr || !Engine.LightList.Contains(light) || size < 1 ||
      size > kMaxShadowMapSize) {
    return 0;
  }
  const UINT mapSize = static_cast<UINT>(size);
  if (!DepthSurfaceHolds(mapSize)) {
    Engine.LastError = kEngineShader;
    Engine.LastErrorText = "the shadow map is larger than the depth-stencil surface";
    return 0;
  }

  // Everything is made before anything changes, so a failure leaves the old set-up in place.
  Effect* effect = Engine.ShadowEffect;
  bool madeEffect = false;
  if (effect == nullptr) {
    effect = CreateEffect(ShadowEffectSource());
    if (effect == nullptr) return 0;
    madeEffect = true;
  }
  IDirect3DTexture9* oldMap = Engine.ShadowMapTexture;
  Engine.ShadowMapTexture = nullptr;
  if (!MakeShadowMap(mapSize)) {
    Engine.ShadowMapTexture = oldMap;
    if (madeEffect) ReleaseEffect(effect);
    Engine.LastError = kEngineShader;
    Engine.LastErrorText = "the shadow map could not be created";
    return 0;
  }
  Texture* sceneTexture = Engine.DefaultSceneTexture;
  if (sceneTexture == nullptr) {
    sceneTexture = CreateTexture(1, 1, 0xFFFFFFFF);
    if (sceneTexture == nullptr) {
      SafeRelease(Engine.ShadowMapTexture);
      Engine.ShadowMapTexture = oldMap;
      if (madeEffect) ReleaseEffect(effect);
      Engine.LastError = kEngineShader;
      Engine.LastErrorText = "the default scene texture could not be created";
      return 0;
    }
    shadow.sceneTexture = sceneTexture;
  }
  SafeRelease(oldMap);
  if (madeEffect) shadow.effect = effect;
  Engine.ShadowEffect = effect;
  Engine.DefaultSceneTexture = sceneTexture;
  shadow.mapSize = mapSize;
  Engine.LightList.MoveToFront(light);
  Engine.ShadowMapping = 1;
  return 1;
}

int32_t SetShadowMapping(int32_t enabled) {
  if (enabled == 0) {
    Engine.ShadowMapping = 0;
    return 1;
  }
  if (Engine.ShadowMapTexture == nullptr || !Engine.EffectList.Contains(Engine.ShadowEffect))
    return 0;
  Engine.ShadowMapping = 1;
  return 1;
}

void DisableShadowMapping() {
  Engine.ShadowMapping = 0;
  SafeRelease(Engine.ShadowMapTexture);
  shadow.mapSize = 0;
  if (shadow.effect != nullptr) {
    Effect* effect = shadow.effect;
    shadow.effect = nullptr;
    ReleaseEffect(effect);
  }
  Engine.ShadowEffect = nullptr;
  if (shadow.sceneTexture != nullptr) {
    if (Engine.DefaultSceneTexture == shadow.sceneTexture) Engine.DefaultSceneTexture = nullptr;
    RemoveTexture(shadow.sceneTexture);
    shadow.sceneTexture = nullptr;
  }
}

void ShadowMapLost() {
  IDirect3DTexture9* map = Engine.ShadowMapTexture;
  if (map == nullptr) return;
  // Whatever still holds the map would keep it alive through the reset, which the device then
  // refuses: the effect it was handed to, and any sampler it was left bound to.
  if (Engine.EffectList.Contains(Engine.ShadowEffect) && Engine.ShadowEffect->D3DEffect != nullptr)
    Engine.ShadowEffect->D3DEffect->SetTexture("g_txShadow", nullptr);
  if (Engine.Device != nullptr) {
    for (DWORD sampler = 0; sampler < 16; ++sampler) {
      IDirect3DBaseTexture9* bound = nullptr;
      if (SUCCEEDED(Engine.Device->GetTexture(sampler, &bound)) && bound != nullptr) {
        if (bound == map) Engine.Device->SetTexture(sampler, nullptr);
        bound->Release();
      }
    }
  }
  SafeRelease(Engine.ShadowMapTexture);
}

void ShadowMapReset() {
  if (shadow.mapSize == 0 || Engine.Device == nullptr) return;
  if (!DepthSurfaceHolds(shadow.mapSize) || !MakeShadowMap(shadow.mapSize)) {
    Engine.ShadowMapTexture = nullptr;
    Engine.ShadowMapping = 0;
    shadow.mapSize = 0;
  }
}

void DiscardShadowMapping() {
  shadow = ShadowResources{};
}
