// The shadow-mapped mesh pass, run instead of the mesh pass while ShadowMapping is set, and the
// effect-parameter operations it uses.
#pragma once

#include <cstdint>

#include "engine/scene/scene_records.h"

// Draws every Mesh twice through ShadowEffect: from the first light into ShadowMapTexture
// ("RenderShadow"), then from the camera into the frame ("RenderScene"). The frame's scene stays
// open around it. Without a light, a shadow map, or a depth surface the map fits, the meshes
// are drawn by the plain mesh pass instead.
void DrawMeshesShadowMapped();

// Each returns 1 when done, 0 when the effect handle is not in EffectList (nothing is set) or an
// argument is missing; SetEffectTechnique also returns 0 when the effect refuses the technique,
// and SetEffectTexture when the texture record is not in TextureList.
int32_t SetEffectTechnique(Effect* effect, const char* technique);
int32_t SetEffectMatrix(Effect* effect, const char* parameter, const D3DMATRIX* matrix);
int32_t SetEffectVector3(Effect* effect, const char* parameter, const float* vector);
int32_t SetEffectVector4(Effect* effect, const char* parameter, const float* vector);
int32_t SetEffectTexture(Effect* effect, const char* parameter, Texture* texture);

// The light's D3DLIGHT9 position or direction, or null when the record is not in LightList.
// Both leave LightList's cursor on the record found.
D3DVECTOR* LightPosition(Light* light);
D3DVECTOR* LightDirection(Light* light);

// The HLSL source of the engine's shadow-map effect, with the techniques "RenderShadow" and
// "RenderScene". Besides the pass's parameters it reads "g_mView" (the camera's view, to light
// in view space) and "g_vShadowTexel" (one texel of the map in texture coordinates), which the
// pass also sets.
const char* ShadowEffectSource();
