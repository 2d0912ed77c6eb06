#include "engine/scene/light.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"

namespace {

// The engine's degree conversion, as the mesh pass uses it.
constexpr float kDegreesToRadians = 0.017453f;
// Indices looked at for a free one, whatever the device reports.
constexpr DWORD kMostLightIndices = 4096;

bool Finite3(float x, float y, float z) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

D3DCOLORVALUE ColourValue(uint32_t argb) {
  return D3DCOLORVALUE{static_cast<float>((argb >> 16) & 0xFF) / 255.0f,
                       static_cast<float>((argb >> 8) & 0xFF) / 255.0f,
                       static_cast<float>(argb & 0xFF) / 255.0f,
                       static_cast<float>(argb >> 24) / 255.0f};
}

// Direction from the light's position to its target; false when they coincide.
bool DirectionTo(const D3DVECTOR& from, const float target[3], D3DVECTOR* direction) {
  D3DXVECTOR3 d(target[0] - from.x, target[1] - from.y, target[2] - from.z);
  const float length = D3DXVec3Length(&d);
  if (!(length > 0.0f) || !std::isfinite(length)) return false;
  *direction = D3DVECTOR{d.x / length, d.y / length, d.z / length};
  return true;
}

// Hands the changed light to the device; the record takes it only when the device accepts it.
int Apply(Light* light, const D3DLIGHT9& changed) {
  if (Engine.Device == nullptr ||
      FAILED(Engine.Device->SetLight(static_cast<DWORD>(light->LightIndex), &changed))) {
    return 0;
  }
  light->D3DLight = changed;
  return 1;
}

Light* Find(Light* handle) {
  return FindRecord(Engine.LightList, handle);
}

}  // namespace

Light* CreateLight(int32_t type) {
  if (type < D3DLIGHT_POINT || type > D3DLIGHT_DIRECTIONAL || Engine.Device == nullptr) {
    return nullptr;
  }
  D3DCAPS9 caps{};
  if (FAILED(Engine.Device->GetDeviceCaps(&caps))) return nullptr;
  const DWORD indices =
      caps.MaxActiveLights < kMostLightIndices ? caps.MaxActiveLights : kMostLightIndices;
  std::vector<bool> used(indices, false);
  Engine.LightList.ForEach([&used](Light& light) {
    if (light.LightIndex >= 0 && static_cast<size_t>(light.LightIndex) < used.size()) {
      used[static_cast<size_t>(light.LightIndex)] = true;
    }
  });
  DWORD index = 0;
  while (index < indices && used[index]) ++index;
  if (index == indices) return nullptr;

  D3DLIGHT9 d3dLight{};
  d3dLight.Type = static_cast<D3DLIGHTTYPE>(type);
  d3dLight.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  d3dLight.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
  d3dLight.Range = std::sqrt(FLT_MAX);
  d3dLight.Attenuation0 = 1.0f;
  d3dLight.Falloff = 1.0f;
  d3dLight.Theta = 30.0f * kDegreesToRadians;
  d3dLight.Phi = 45.0f * kDegreesToRadians;
  if (FAILED(Engine.Device->SetLight(index, &d3dLight)) ||
      FAILED(Engine.Device->LightEnable(index, TRUE))) {
    return nullptr;
  }
  Engine.LightList.Last();
  Light* light = Engine.LightList.Add();
  light->D3DLight = d3dLight;
  light->LightIndex = static_cast<int32_t>(index);
  light->Target[2] = 1.0f;
  return light;
}

int PositionLight(Light* handle, float x, float y, float z) {
  Light* light = Find(handle);
  if (light == nullptr || !Finite3(x, y, z)) return 0;
  D3DLIGHT9 changed = light->D3DLight;
  changed.Position = D3DVECTOR{x, y, z};
  if (!DirectionTo(changed.Position, light->Target, &changed.Direction)) return 0;
  return Apply(light, changed);
}

int AimLight(Light* handle, float x, float y, float z) {
  Light* light = Find(handle);
  if (light == nullptr || !Finite3(x, y, z)) return 0;
  const float target[3] = {x, y, z};
  D3DLIGHT9 changed = light->D3DLight;
  if (!DirectionTo(changed.Position, target, &changed.Direction)) return 0;
  if (Apply(light, changed) == 0) return 0;
  light->Target[0] = x;
  light->Target[1] = y;
  light->Target[2] = z;
  return 1;
}

int SetLightColour(Light* handle, uint32_t diffuse, uint32_t specular, uint32_t ambient) {
  Light* light = Find(handle);
  if (light == nullptr) return 0;
  D3DLIGHT9 changed = light->D3DLight;
  changed.Diffuse = ColourValue(diffuse);
  changed.Specular = ColourValue(specular);
  changed.Ambient = ColourValue(ambient);
  return Apply(light, changed);
}

int SetLightRange(Light* handle, float range, float constant, float linear, float quadratic) {
  Light* light = Find(handle);
  if (light == nullptr || !std::isfinite(range) || !(range > 0.0f) || range > std::sqrt(FLT_MAX) ||
      !Finite3(constant, linear, quadratic)) {
    return 0;
  }
  D3DLIGHT9 changed = light->D3DLight;
  changed.Range = range;
  changed.Attenuation0 = constant;
  changed.Attenuation1 = linear;
  changed.Attenuation2 = quadratic;
  // Directional lights ignore these fields, so the device would not judge them.
  if (constant < 0.0f || linear < 0.0f || quadratic < 0.0f ||
      (constant == 0.0f && linear == 0.0f && quadratic == 0.0f)) {
    return 0;
  }
  return Apply(light, changed);
}

int SetLightCone(Light* handle, float innerDegrees, float outerDegrees, float falloff) {
  Light* light = Find(handle);
  if (light == nullptr || light->D3DLight.Type != D3DLIGHT_SPOT ||
      !Finite3(innerDegrees, outerDegrees, falloff) || innerDegrees < 0.0f ||
      outerDegrees < innerDegrees || outerDegrees > 180.0f) {
    return 0;
  }
  D3DLIGHT9 changed = light->D3DLight;
  changed.Theta = innerDegrees * kDegreesToRadians;
  changed.Phi = outerDegrees * kDegreesToRadians;
  changed.Falloff = falloff;
  return Apply(light, changed);
}

int EnableLight(Light* handle, int32_t enabled) {
  Light* light = Find(handle);
  if (light == nullptr || Engine.Device == nullptr) return 0;
  return SUCCEEDED(Engine.Device->LightEnable(static_cast<DWORD>(light->LightIndex),
                                              enabled != 0 ? TRUE : FALSE))
             ? 1
             : 0;
}

int ReleaseLight(Light* handle) {
  Light* light = Find(handle);
  if (light == nullptr) return 0;
  const int32_t index = light->LightIndex;
  Engine.LightList.Remove();
  // A light placed in the list by other code may share the index; it keeps shining.
  bool shared = false;
  Engine.LightList.ForEach(
      [&shared, index](Light& other) { shared = shared || other.LightIndex == index; });
  if (Engine.Device != nullptr && index >= 0 && !shared) {
    Engine.Device->LightEnable(static_cast<DWORD>(index), FALSE);
  }
  return 1;
}
