// Effects of EffectList and the switch of shadow mapping.
#pragma once

#include <cstdint>
#include <string>

#include "engine/scene/scene_records.h"

// An effect compiled from HLSL effect source (or read from a file). 0 on failure, with LastError
// 17 and the compiler's messages in LastErrorText; nothing is added to EffectList then.
Effect* CreateEffect(const std::string& source);
Effect* CreateEffectFromFile(const std::string& path);
// Releases the effect. Meshes that use it go back to their fixed-function drawing, and
// ShadowEffect and CurrentEffect forget it. 1, or 0 for a handle not in EffectList.
int32_t ReleaseEffect(Effect* effect);
// Draws the mesh through the effect (null: the fixed-function paths again). 1, or 0 when the
// mesh or a non-null effect is not in its list.
int32_t SetMeshEffect(Mesh* mesh, Effect* effect);

// Switches shadow mapping on: the light becomes the first of LightList (the one the pass
// casts from; it should be a spot light with a range), and the engine's shadow effect, an R32F
// shadow map of size x size texels and a white default scene texture are made if missing.
// 1 on success. 0 for a light not in LightList, a size outside 1..4096 or larger than the
// depth-stencil surface (the map is drawn with it), or when a resource cannot be made
// (LastError 17 and LastErrorText say which); shadow mapping is then left as it was.
int32_t EnableShadowMapping(Light* light, int32_t size);
// Switches the shadow-mapped pass on (non-zero) or off, keeping what EnableShadowMapping made.
// Switching on returns 0 when there is no shadow map or effect (EnableShadowMapping first).
int32_t SetShadowMapping(int32_t enabled);
// Switches shadow mapping off and releases what EnableShadowMapping made.
void DisableShadowMapping();

// Around a device reset: the shadow map lives in the default pool, so it is released before
// and made again after (at the same size; dropped, with shadow mapping off, if that fails).
void ShadowMapLost();
void ShadowMapReset();
// Forgets what EnableShadowMapping made (the engine is shutting down; the records and the map
// go with the lists and the engine state).
void DiscardShadowMapping();
