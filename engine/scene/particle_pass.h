// The particle emitter passes of the frame.
#pragma once

// Ages, moves, expires and spawns the particles of every emitter; runs even on a lost device.
void UpdateParticleEmitters();
// Draws every emitter's particles as point sprites inside the scene.
void DrawParticleEmitters();
