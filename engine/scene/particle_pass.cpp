#include "engine/scene/particle_pass.h"

#include "engine/core/engine_state.h"

// Serves ParticleEmitterList (update); the simulation comes with the particle emitters.
void UpdateParticleEmitters() {
  Engine.ParticleEmitterList.Reset();
  while (Engine.ParticleEmitterList.Next() != nullptr) {
  }
}

// Serves ParticleEmitterList (drawing); point sprites come with the particle emitters.
void DrawParticleEmitters() {
  Engine.ParticleEmitterList.Reset();
  while (Engine.ParticleEmitterList.Next() != nullptr) {
  }
}
