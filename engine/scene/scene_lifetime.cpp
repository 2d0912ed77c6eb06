#include "engine/scene/scene_lifetime.h"

#include "engine/scene/animated_mesh.h"
#include "engine/scene/particle_emitter.h"
#include "engine/scene/static_mesh.h"

void DiscardSceneRecords() {
  DiscardAnimatedMeshes();
  DiscardMeshState();
  DiscardParticleEmitterState();
}

void ReleaseSceneDeviceResources() {
  ReleaseParticleEmitterBuffers();
}

void RestoreSceneDeviceResources() {
  RestoreParticleEmitterBuffers();
}
