// Particle emitters: the update at the start of every frame and the point-sprite pass.
#include "engine/scene/particle_pass.h"

#include <algorithm>
#include <cmath>

#include "engine/core/engine_state.h"
#include "engine/scene/scene_values.h"
#include "engine/twod/texture.h"
#include "runtime/random.h"

namespace {

constexpr int32_t kRandomTop = 100000;
constexpr DWORD kParticleFvf = D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE;
constexpr int32_t kHighestFrame = 30;  // FrameTextures holds frames 0..30

struct ParticleVertex {
  float x, y, z;
  float size;
  D3DCOLOR colour;
};
constexpr UINT kParticleStride = sizeof(ParticleVertex);
static_assert(kParticleStride == 20);

int32_t DrawRandom() {
  return RandomInteger(0, kRandomTop);
}

// The animation step of one particle. Widened so an index written by the application near the
// int32 limit cannot overflow.
int32_t NextFrame(int32_t index, int32_t lastFrame) {
  const int64_t next = static_cast<int64_t>(index) + 1;
  if (next > lastFrame) return 0;
  if (next < 0) return lastFrame;
  return static_cast<int32_t>(next);
}

void AgeParticles(ParticleEmitter& emitter, float dt) {
  const double clock = emitter.Clock;
  const bool animated = AnyBitSet(emitter.AnimationRate);
  const double frameLength = animated ? 60.0 / static_cast<double>(emitter.AnimationRate) : 0.0;
  // Frames beyond the last texture slot would index past FrameTextures.
  const int32_t lastFrame = std::clamp(emitter.LastFrame, 0, kHighestFrame);
  ObjectList<Particle>& particles = emitter.Particles;
  particles.Reset();
  while (Particle* p = particles.Next()) {
    if (p->Lifetime <= clock - p->BirthTime) {
      particles.Remove();
      continue;
    }
    for (int c = 0; c < 3; ++c) {
      if (emitter.ApplyGravity != 0) p->Velocity[c] += emitter.Gravity[c] * dt;
      if (emitter.PullToTarget != 0) {
        p->Velocity[c] += (emitter.TargetVelocity[c] - p->Velocity[c]) * dt;
      }
      p->Position[c] += p->Velocity[c] * dt;
    }
    ++emitter.LiveCount;
    if (animated) {
      p->FrameTimer += static_cast<double>(dt) * 60.0;
      if (frameLength < p->FrameTimer) {
        p->FrameIndex = NextFrame(p->FrameIndex, lastFrame);
        p->FrameTimer = 0.0;
      }
    }
  }
}

// Random draws in a fixed order: the direction's two, lifetime, size (with a range), red, green,
// blue, so a seeded generator reproduces a run.
void SpawnParticle(ParticleEmitter& emitter) {
  ObjectList<Particle>& particles = emitter.Particles;
  if (particles.Count() != 0) particles.Last();
  Particle* p = particles.Add();
  ++emitter.LiveCount;

  for (int c = 0; c < 3; ++c) p->Velocity[c] = emitter.StartVelocity[c];
  if (emitter.VelocitySpread != 0.0f) {
    float direction[3];
    RandomUnitVector(direction);
    for (int c = 0; c < 3; ++c) p->Velocity[c] += direction[c] * emitter.VelocitySpread;
  }
  p->BirthTime = emitter.Clock;
  const double lifeMin = emitter.LifeMin;
  p->Lifetime =
      lifeMin + (static_cast<double>(emitter.LifeMax) - lifeMin) * DrawRandom() / kRandomTop;
  for (int c = 0; c < 3; ++c) p->Position[c] = emitter.Origin[c];
  if (AnyBitSet(emitter.SizeMax)) {
    const double sizeMin = emitter.SizeMin;
    p->Size = static_cast<float>(sizeMin + (static_cast<double>(emitter.SizeMax) - sizeMin) *
                                               DrawRandom() / kRandomTop);
  } else {
    p->Size = emitter.SizeMin;
  }
  int32_t channel[3];
  for (int c = 0; c < 3; ++c) {
    const int32_t low = emitter.ColourMin[c];
    const int32_t high = emitter.ColourMax[c];
    channel[c] = low + (high - low) * DrawRandom() / kRandomTop;
  }
  // Alpha 0: additive blending ignores it.
  p->Colour = ComposeColour(0, channel[0], channel[1], channel[2]);
}

void Burst(ParticleEmitter& emitter) {
  if (!(emitter.BurstInterval < emitter.Clock - emitter.LastBurst)) return;
  emitter.LastBurst = emitter.Clock;
  // Once the emitter is full no further particle of this burst can be added, so the loop ends
  // there rather than counting out a huge BurstSize.
  for (int32_t k = 0; k < emitter.BurstSize && emitter.LiveCount < emitter.MaxParticles; ++k) {
    SpawnParticle(emitter);
  }
}

void SetSpriteStates(IDirect3DDevice9* device) {
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_POINTSCALEENABLE, TRUE);
  // Scale factors (0, 0, 1): a point is viewport height x size / eye distance pixels wide.
  device->SetRenderState(D3DRS_POINTSIZE_MIN, FloatState(1.0f));
  device->SetRenderState(D3DRS_POINTSCALE_A, FloatState(0.0f));
  device->SetRenderState(D3DRS_POINTSCALE_B, FloatState(0.0f));
  device->SetRenderState(D3DRS_POINTSCALE_C, FloatState(1.0f));
}

int DrawEmitter(ParticleEmitter& emitter) {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return 0;
  SetSpriteStates(device);
  IDirect3DVertexBuffer9* buffer = emitter.VertexBuffer;
  if (buffer == nullptr) return 0;

  // MaxParticles promises the buffer's size; the buffer's own description is what bounds the
  // writes, so an emitter that promises more than it holds cannot write past it.
  D3DVERTEXBUFFER_DESC description{};
  if (FAILED(buffer->GetDesc(&description))) return 0;
  const int64_t capacity = description.Size / kParticleStride;
  const int64_t drawn = std::min<int64_t>(emitter.Particles.Count(), capacity);
  const int64_t locked = std::max(std::clamp<int64_t>(emitter.MaxParticles, 0, capacity), drawn);

  void* data = nullptr;
  if (FAILED(
          buffer->Lock(0, static_cast<UINT>(locked * kParticleStride), &data, D3DLOCK_DISCARD)) ||
      data == nullptr) {
    return 0;
  }
  auto* vertex = static_cast<ParticleVertex*>(data);
  ObjectList<Particle>& particles = emitter.Particles;
  particles.Reset();
  for (int64_t i = 0; i < drawn; ++i) {
    const Particle* p = particles.Next();
    vertex[i] = ParticleVertex{p->Position[0], p->Position[1], p->Position[2], p->Size, p->Colour};
  }
  buffer->Unlock();

  device->SetStreamSource(0, buffer, 0, kParticleStride);
  device->SetFVF(kParticleFvf);
  device->SetTransform(D3DTS_WORLD, &emitter.World);
  const bool animated = AnyBitSet(emitter.AnimationRate);
  // Each particle shows its own frame; neighbours on the same frame share one draw, which
  // keeps the order of the blends and costs one call per run instead of one per particle.
  particles.Reset();
  IDirect3DTexture9* runTexture = nullptr;
  int64_t runStart = 0;
  for (int64_t i = 0; i <= drawn; ++i) {
    IDirect3DTexture9* texture = nullptr;
    if (i < drawn) {
      const Particle* p = particles.Next();
      texture = animated ? emitter.FrameTextures[std::clamp(p->FrameIndex, 0, kHighestFrame)]
                         : emitter.BaseTexture;
      if (i > runStart && texture == runTexture) continue;
    }
    if (i > runStart) {
      device->SetTexture(0, runTexture);
      device->DrawPrimitive(D3DPT_POINTLIST, static_cast<UINT>(runStart),
                            static_cast<UINT>(i - runStart));
    }
    runTexture = texture;
    runStart = i;
  }

  device->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);
  device->SetRenderState(D3DRS_POINTSCALEENABLE, FALSE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  return static_cast<int>(drawn);
}

}  // namespace

void UpdateParticleEmitters() {
  ObjectList<ParticleEmitter>& emitters = Engine.ParticleEmitterList;
  const float dt = Engine.FrameTime;
  emitters.Reset();
  while (ParticleEmitter* emitter = emitters.Next()) {
    emitter->Clock += dt;
    emitter->LiveCount = 0;
  }
  emitters.Reset();
  while (ParticleEmitter* emitter = emitters.Next()) AgeParticles(*emitter, dt);
  // Bursts come last, so the limit counts the particles that survived this update.
  emitters.Reset();
  while (ParticleEmitter* emitter = emitters.Next()) Burst(*emitter);
}

void DrawParticleEmitters() {
  ObjectList<ParticleEmitter>& emitters = Engine.ParticleEmitterList;
  emitters.Reset();
  while (ParticleEmitter* emitter = emitters.Next()) DrawEmitter(*emitter);
}

int DrawParticleEmitter(ParticleEmitter* emitter) {
  if (!Engine.ParticleEmitterList.Contains(emitter)) return 0;
  return DrawEmitter(*emitter);
}

float* RandomUnitVector(float* out) {
  if (out == nullptr) return nullptr;
  const double z = RandomInteger(0, kRandomTop) * 2.0 / kRandomTop - 1.0;
  const float r = static_cast<float>(std::sqrt(1.0 - z * z));
  const float angle = static_cast<float>(RandomInteger(0, kRandomTop) *
                                             static_cast<double>(6.2831855f) / kRandomTop -
                                         static_cast<double>(3.1415927f));
  out[0] = std::cos(angle) * r;
  out[1] = std::sin(angle) * r;
  out[2] = static_cast<float>(z);
  return out;
}
