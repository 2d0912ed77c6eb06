// Lights: directional, point and spot lights on the device's free light indices. Every operation
// first finds the light in LightList and does nothing (result 0) when it is not there; a setting
// the device refuses leaves the light as it was.
//
// A device reset sets every listed light again as its record holds it, enabled (the engine's
// reset path does so for all lights): disable a light again after a reset.
#pragma once

#include <cstdint>

#include "engine/scene/scene_records.h"

// A new, enabled light of type 1 (point), 2 (spot) or 3 (directional) on the lowest light index
// that no listed light uses, below the device's MaxActiveLights. It starts at the origin, aimed
// along +z, white diffuse light, unlimited range with constant attenuation 1, and for spot lights
// a cone of 30 degrees inside 45. 0 for another type, without a device or without a free index.
Light* CreateLight(int32_t type);
// Moves the light, keeping the point it is aimed at (directional lights have no position but
// keep it for aiming). 0 when it would land on that point.
int PositionLight(Light* light, float x, float y, float z);
// Aims the light at a point: its direction runs from its position to the point. 0 when the point
// is the light's position.
int AimLight(Light* light, float x, float y, float z);
// Diffuse, specular and ambient colours as 0xAARRGGBB.
int SetLightColour(Light* light, uint32_t diffuse, uint32_t specular, uint32_t ambient);
// Range (more than 0, at most the square root of the largest float) and the three attenuation
// factors (0 or more, not all 0) of point and spot lights.
int SetLightRange(Light* light, float range, float constant, float linear, float quadratic);
// The cone of a spot light in degrees (0 <= inner <= outer <= 180) and its falloff between them.
// 0 for a light that is not a spot light.
int SetLightCone(Light* light, float innerDegrees, float outerDegrees, float falloff);
// Switches the light on (non-zero) or off.
int EnableLight(Light* light, int32_t enabled);
// Switches the light off and removes it from LightList, freeing its index. 1, or 0 for a light
// that is not listed.
int ReleaseLight(Light* light);
