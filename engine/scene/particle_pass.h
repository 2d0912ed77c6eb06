// The particle emitter passes of the frame.
#pragma once

#include <cstdint>

#include "engine/scene/scene_records.h"

// Ages, moves, expires and spawns the particles of every emitter; runs even on a lost device.
void UpdateParticleEmitters();
// Draws every emitter's particles as point sprites inside the scene.
void DrawParticleEmitters();
// Draws one emitter as the pass does: additive, distance-scaled point sprites, one draw per
// particle. Returns the number of particles drawn; 0 for an emitter that is not in
// ParticleEmitterList, one without a vertex buffer, or one whose buffer cannot be locked. At most
// as many particles are drawn as the emitter's vertex buffer holds.
int DrawParticleEmitter(ParticleEmitter* emitter);
// Fills `out` (three floats) with a random direction, uniform over the unit sphere, and returns
// it; null stays null.
float* RandomUnitVector(float* out);
