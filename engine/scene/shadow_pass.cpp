#include "engine/scene/shadow_pass.h"

#include "engine/core/engine_state.h"
#include "engine/core/frame.h"
#include "engine/scene/mesh_pass.h"

namespace {

// The walk the effect operations share: from the start of the list, comparing addresses.
template <class Record>
bool Listed(ObjectList<Record>& list, const Record* record) {
  if (record == nullptr) return false;
  list.Reset();
  while (Record* next = list.Next()) {
    if (next == record) return true;
  }
  return false;
}

ID3DXEffect* ListedEffect(Effect* effect) {
  return Listed(Engine.EffectList, effect) ? effect->D3DEffect : nullptr;
}

// The map is drawn with the device's depth-stencil surface, so it must fit inside it.
bool ShadowMapFits(IDirect3DDevice9* device, IDirect3DTexture9* map) {
  D3DSURFACE_DESC mapDesc;
  if (FAILED(map->GetLevelDesc(0, &mapDesc))) return false;
  IDirect3DSurface9* depth = nullptr;
  if (FAILED(device->GetDepthStencilSurface(&depth)) || depth == nullptr) return false;
  D3DSURFACE_DESC depthDesc;
  const bool fits = SUCCEEDED(depth->GetDesc(&depthDesc)) && mapDesc.Width <= depthDesc.Width &&
                    mapDesc.Height <= depthDesc.Height;
  depth->Release();
  return fits;
}

void SetWorldView(const D3DMATRIX& world, const D3DMATRIX& view) {
  D3DXMATRIX worldView;
  D3DXMatrixMultiply(&worldView, reinterpret_cast<const D3DXMATRIX*>(&world),
                     reinterpret_cast<const D3DXMATRIX*>(&view));
  SetEffectMatrix(Engine.ShadowEffect, "g_mWorldView", &worldView);
}

// Draws the mesh through ShadowEffect and gives it its own effect back.
void DrawThroughShadowEffect(Mesh& mesh) {
  Effect* own = mesh.MeshEffect;
  mesh.MeshEffect = Engine.ShadowEffect;
  DrawListedMesh(mesh);
  mesh.MeshEffect = own;
}

void RenderShadowMap(IDirect3DDevice9* device, Light& light) {
  IDirect3DSurface9* mapSurface = nullptr;
  Engine.ShadowMapTexture->GetSurfaceLevel(0, &mapSurface);
  device->SetRenderTarget(0, mapSurface);
  if (mapSurface != nullptr) mapSurface->Release();  // the device holds it while bound
  SetEffectTechnique(Engine.ShadowEffect, "RenderShadow");
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
  device->BeginScene();
  Engine.CurrentEffect = Engine.ShadowEffect;

  const D3DXVECTOR3 eye(light.D3DLight.Position.x, light.D3DLight.Position.y,
                        light.D3DLight.Position.z);
  const D3DXVECTOR3 at(light.Target[0], light.Target[1], light.Target[2]);
  const D3DXVECTOR3 up(0.0f, 1.0f, -1.0f);
  D3DXMatrixLookAtLH(reinterpret_cast<D3DXMATRIX*>(&light.ShadowView), &eye, &at, &up);
  D3DXMatrixPerspectiveFovLH(reinterpret_cast<D3DXMATRIX*>(&light.ShadowProjection), 1.04718f, 1.0f,
                             1.0f, light.D3DLight.Range);
  SetEffectMatrix(Engine.ShadowEffect, "g_mProj", &light.ShadowProjection);

  ObjectList<Mesh>& meshes = Engine.MeshList;
  meshes.Reset();
  while (Mesh* mesh = meshes.Next()) {
    SetWorldView(mesh->World, light.ShadowView);
    DrawThroughShadowEffect(*mesh);
  }
  device->EndScene();
}

void RenderScene(IDirect3DDevice9* device, const D3DMATRIX& view, const D3DMATRIX& projection) {
  device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  SetEffectTechnique(Engine.ShadowEffect, "RenderScene");
  device->BeginScene();

  Light* light = Engine.LightList.First();
  SetEffectVector3(Engine.ShadowEffect, "g_vLightPos", &LightPosition(light)->x);
  SetEffectVector3(Engine.ShadowEffect, "g_vLightDir", &LightDirection(light)->x);
  D3DXMATRIX toLight;
  D3DXMatrixInverse(&toLight, nullptr, reinterpret_cast<const D3DXMATRIX*>(&view));
  D3DXMatrixMultiply(&toLight, &toLight, reinterpret_cast<const D3DXMATRIX*>(&light->ShadowView));
  D3DXMatrixMultiply(&toLight, &toLight,
                     reinterpret_cast<const D3DXMATRIX*>(&light->ShadowProjection));
  SetEffectMatrix(Engine.ShadowEffect, "g_mViewToLightProj", &toLight);
  SetEffectMatrix(Engine.ShadowEffect, "g_mView", &view);
  D3DSURFACE_DESC mapDesc;
  if (SUCCEEDED(Engine.ShadowMapTexture->GetLevelDesc(0, &mapDesc))) {
    const float texel[4] = {1.0f / static_cast<float>(mapDesc.Width),
                            1.0f / static_cast<float>(mapDesc.Height), 0.0f, 0.0f};
    SetEffectVector4(Engine.ShadowEffect, "g_vShadowTexel", texel);
  }
  if (ID3DXEffect* effect = ListedEffect(Engine.CurrentEffect))
    effect->SetTexture("g_txShadow", Engine.ShadowMapTexture);

  ObjectList<Mesh>& meshes = Engine.MeshList;
  meshes.Reset();
  while (Mesh* mesh = meshes.Next()) {
    SetWorldView(mesh->World, view);
    SetEffectMatrix(Engine.ShadowEffect, "g_mProj", &projection);
    const MaterialRef* ref = mesh->MaterialRefs.Current();
    if (ref != nullptr && ref->TextureHandle != nullptr) {
      SetEffectTexture(Engine.ShadowEffect, "g_txScene", ref->TextureHandle);
      SetEffectVector4(Engine.ShadowEffect, "g_vMaterial", &ref->TextureHandle->Material.Diffuse.r);
    } else {
      SetEffectVector4(Engine.ShadowEffect, "g_vMaterial", &mesh->OwnMaterial.Diffuse.r);
      SetEffectTexture(Engine.ShadowEffect, "g_txScene", Engine.DefaultSceneTexture);
    }
    DrawThroughShadowEffect(*mesh);
  }
  device->EndScene();
}

}  // namespace

void DrawMeshesShadowMapped() {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return;
  // Without a light there is nothing to cast shadows from, and a map larger than the depth
  // surface cannot be drawn with it: the meshes are drawn by the plain pass instead.
  Light* light = Engine.LightList.First();
  if (light == nullptr || Engine.ShadowMapTexture == nullptr ||
      !ShadowMapFits(device, Engine.ShadowMapTexture)) {
    DrawMeshes();
    return;
  }

  D3DMATRIX view, projection;
  device->GetTransform(D3DTS_VIEW, &view);
  device->GetTransform(D3DTS_PROJECTION, &projection);
  IDirect3DSurface9* frameTarget = nullptr;
  device->GetRenderTarget(0, &frameTarget);

  // The frame's scene is open around this pass; each phase gets a scene of its own, and the
  // frame's is opened again for the passes that follow.
  device->EndScene();
  RenderShadowMap(device, *light);
  device->SetRenderTarget(0, frameTarget);
  if (frameTarget != nullptr) frameTarget->Release();
  ReportFramePass("DrawMeshesShadowMapped:scene");
  RenderScene(device, view, projection);
  device->BeginScene();
}

int32_t SetEffectTechnique(Effect* effect, const char* technique) {
  ID3DXEffect* fx = ListedEffect(effect);
  if (fx == nullptr || technique == nullptr) return 0;
  return SUCCEEDED(fx->SetTechnique(technique)) ? 1 : 0;
}

int32_t SetEffectMatrix(Effect* effect, const char* parameter, const D3DMATRIX* matrix) {
  if (matrix == nullptr || parameter == nullptr) return 0;
  ID3DXEffect* fx = ListedEffect(effect);
  if (fx == nullptr) return 0;
  fx->SetMatrix(parameter, reinterpret_cast<const D3DXMATRIX*>(matrix));
  return 1;
}

int32_t SetEffectVector3(Effect* effect, const char* parameter, const float* vector) {
  ID3DXEffect* fx = ListedEffect(effect);
  if (fx == nullptr || parameter == nullptr || vector == nullptr) return 0;
  fx->SetValue(parameter, vector, 12);
  return 1;
}

int32_t SetEffectVector4(Effect* effect, const char* parameter, const float* vector) {
  ID3DXEffect* fx = ListedEffect(effect);
  if (fx == nullptr || parameter == nullptr || vector == nullptr) return 0;
  fx->SetValue(parameter, vector, 16);
  return 1;
}

int32_t SetEffectTexture(Effect* effect, const char* parameter, Texture* texture) {
  ID3DXEffect* fx = ListedEffect(effect);
  if (fx == nullptr || parameter == nullptr || !Listed(Engine.TextureList, texture)) return 0;
  fx->SetTexture(parameter, texture->D3DTexture);
  return 1;
}

D3DVECTOR* LightPosition(Light* light) {
  return Listed(Engine.LightList, light) ? &light->D3DLight.Position : nullptr;
}

D3DVECTOR* LightDirection(Light* light) {
  return Listed(Engine.LightList, light) ? &light->D3DLight.Direction : nullptr;
}

const char* ShadowEffectSource() {
  // Depth is stored as 1 / (distance along the light's axis): nearer is larger, so the map's
  // black clear stands for "nothing in the way". A receiver is lit where no stored occluder is
  // nearer than its own distance less a bias that grows with the distance (a texel covers more
  // ground further away).
  return R"hlsl(
float4x4 g_mWorldView;
float4x4 g_mProj;
float4x4 g_mViewToLightProj;
float4x4 g_mView;
float3 g_vLightPos;
float3 g_vLightDir = {0, -1, 0};
float4 g_vMaterial = {1, 1, 1, 1};
float4 g_vShadowTexel = {0.001953125, 0.001953125, 0, 0};
texture g_txScene;
texture g_txShadow;

sampler2D SceneSampler = sampler_state {
  Texture = <g_txScene>;
  MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
  AddressU = Wrap; AddressV = Wrap;
};
sampler2D ShadowSampler = sampler_state {
  Texture = <g_txShadow>;
  MinFilter = Point; MagFilter = Point; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};

static const float kAmbient = 0.3;
static const float kBias = 0.015;
static const float kConeOuter = 0.866;  // cos 30: the edge of the light's 60-degree frustum
static const float kConeInner = 0.927;  // cos 22

void VSShadow(float4 position : POSITION, out float4 oPosition : POSITION,
              out float oDistance : TEXCOORD0) {
  oPosition = mul(mul(position, g_mWorldView), g_mProj);
  oDistance = oPosition.w;
}

float4 PSShadow(float distance : TEXCOORD0) : COLOR {
  return float4(1 / distance, 0, 0, 1);
}

struct SceneVertex {
  float4 position : POSITION;
  float2 uv : TEXCOORD0;
  float3 toLight : TEXCOORD1;
  float3 normal : TEXCOORD2;
  float4 lightClip : TEXCOORD3;
  float3 lightDir : TEXCOORD4;
  float3 toEye : TEXCOORD5;
};

SceneVertex VSScene(float4 position : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
  SceneVertex o;
  float4 p = mul(position, g_mWorldView);
  o.position = mul(p, g_mProj);
  o.uv = uv;
  o.toLight = mul(float4(g_vLightPos, 1), g_mView).xyz - p.xyz;
  o.normal = mul(normal, (float3x3)g_mWorldView);
  o.lightClip = mul(p, g_mViewToLightProj);
  o.lightDir = mul(g_vLightDir, (float3x3)g_mView);
  o.toEye = -p.xyz;
  return o;
}

float Lit(float4 lightClip) {
  float w = max(lightClip.w, 0.0001);
  float2 uv = lightClip.xy / w * float2(0.5, -0.5) + 0.5;
  float2 h = 0.5 * g_vShadowTexel.xy;
  float limit = 1 / (w * (1 - kBias));
  float lit = step(tex2D(ShadowSampler, uv + float2(-h.x, -h.y)).r, limit) +
              step(tex2D(ShadowSampler, uv + float2(h.x, -h.y)).r, limit) +
              step(tex2D(ShadowSampler, uv + float2(-h.x, h.y)).r, limit) +
              step(tex2D(ShadowSampler, uv + float2(h.x, h.y)).r, limit);
  // Outside the map nothing was drawn from the light: lit, and the cone decides.
  float inside = step(0, uv.x) * step(uv.x, 1) * step(0, uv.y) * step(uv.y, 1) *
                 step(0, lightClip.w);
  return lerp(1, lit * 0.25, inside);
}

float4 PSScene(float2 uv : TEXCOORD0, float3 toLight : TEXCOORD1, float3 normal : TEXCOORD2,
               float4 lightClip : TEXCOORD3, float3 lightDir : TEXCOORD4,
               float3 toEye : TEXCOORD5) : COLOR {
  float3 n = normalize(normal);
  float3 l = normalize(toLight);
  float cone = smoothstep(kConeOuter, kConeInner, dot(-l, normalize(lightDir)));
  float light = cone * Lit(lightClip);
  float diffuse = saturate(dot(n, l)) * light;
  float3 h = normalize(l + normalize(toEye));
  float specular = pow(saturate(dot(n, h)), 24) * 0.25 * light * step(0, dot(n, l));
  float4 base = g_vMaterial * tex2D(SceneSampler, uv);
  return float4(base.rgb * (kAmbient + (1 - kAmbient) * diffuse) + specular, base.a);
}

technique RenderShadow {
  pass P0 {
    VertexShader = compile vs_3_0 VSShadow();
    PixelShader = compile ps_3_0 PSShadow();
    ZEnable = TRUE;
    ZWriteEnable = TRUE;
    AlphaBlendEnable = FALSE;
    CullMode = NONE;
  }
}

technique RenderScene {
  pass P0 {
    VertexShader = compile vs_3_0 VSScene();
    PixelShader = compile ps_3_0 PSScene();
    ZEnable = TRUE;
    ZWriteEnable = TRUE;
    AlphaBlendEnable = FALSE;
  }
}
)hlsl";
}
