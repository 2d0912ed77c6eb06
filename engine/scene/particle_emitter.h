// Particle emitters: creation with a point-sprite vertex buffer, every setting the particle pass
// reads, placement and release. Every operation first finds the emitter in ParticleEmitterList
// and does nothing (result 0) when it is not there; a refused setting leaves the emitter as it
// was.
#pragma once

#include <cstdint>

#include "engine/scene/particle_pass.h"
#include "engine/scene/scene_records.h"
#include "engine/twod/twod_records.h"

// The most live particles one emitter may hold.
constexpr int32_t kMaxEmitterParticles = 1 << 20;
// Animation frames 0 .. kLastParticleFrame have a texture slot each.
constexpr int32_t kLastParticleFrame = 30;

// A new emitter for up to `maxParticles` (1 .. kMaxEmitterParticles) live particles, with a
// dynamic default-pool vertex buffer of as many point-sprite vertices (position, size, colour).
// It stands at the origin and emits nothing until SetParticleEmitterRate gives it a burst size.
// Defaults: lifetime 1 s, size 1, white particles, no velocity, gravity or pull. 0 for a count out
// of range or without a device; 0 and LastError 20 when the vertex buffer cannot be made.
ParticleEmitter* CreateParticleEmitter(int32_t maxParticles);

// `burstSize` (0 or more) particles whenever more than `intervalSeconds` (0 or more) have passed
// since the last burst, as long as the emitter holds fewer than its maximum.
int SetParticleEmitterRate(ParticleEmitter* emitter, int32_t burstSize, float intervalSeconds);
// Each particle lives a random time in minSeconds .. maxSeconds (0 <= min <= max).
int SetParticleEmitterLife(ParticleEmitter* emitter, float minSeconds, float maxSeconds);
// Each particle gets a random size in minSize .. maxSize (0 <= min <= max); a maximum of 0 gives
// every particle minSize.
int SetParticleEmitterSize(ParticleEmitter* emitter, float minSize, float maxSize);
// Each particle's red, green and blue lie between those of the two 0x00RRGGBB colours (alpha is
// ignored: particles are drawn additively). Always 1 for a listed emitter.
int SetParticleEmitterColours(ParticleEmitter* emitter, uint32_t firstColour,
                              uint32_t secondColour);
// Starting velocity in units per second, plus a random direction of length `spread` (0 or more).
int SetParticleEmitterVelocity(ParticleEmitter* emitter, float x, float y, float z, float spread);
// Acceleration added to every particle's velocity each second; (0, 0, 0) switches it off.
int SetParticleEmitterGravity(ParticleEmitter* emitter, float x, float y, float z);
// While `enabled` is non-zero each particle's velocity is drawn towards (x, y, z): by the
// difference times the frame time, every frame.
int SetParticleEmitterPull(ParticleEmitter* emitter, float x, float y, float z, int32_t enabled);
// Where new particles appear, in the emitter's own space; particles already out stay put.
int SetParticleEmitterOrigin(ParticleEmitter* emitter, float x, float y, float z);
// Moves the emitter and every particle it holds: the translation of its world transform.
int PositionParticleEmitter(ParticleEmitter* emitter, float x, float y, float z);
// The picture of particles while the emitter is not animated; null removes it. The emitter
// keeps its own reference to the picture. 0 for a texture that is not in TextureList.
int SetParticleEmitterTexture(ParticleEmitter* emitter, Texture* texture);
// The picture of animation frame `frame` (0 .. kLastParticleFrame); null removes it. 0 for a
// frame out of range or a texture that is not in TextureList.
int SetParticleEmitterFrame(ParticleEmitter* emitter, int32_t frame, Texture* texture);
// Animates every particle through frames 0 .. lastFrame (0 .. kLastParticleFrame), starting over
// after the last, at `framesPerSecond` (0 or more; 0 stops the animation and draws the emitter's
// texture instead).
int SetParticleEmitterAnimation(ParticleEmitter* emitter, float framesPerSecond, int32_t lastFrame);

// Releases the emitter's buffer and pictures and removes it, with its live particles, from
// ParticleEmitterList. 1, or 0 for an emitter that is not listed.
int ReleaseParticleEmitter(ParticleEmitter* emitter);

// Around a device reset: the default-pool vertex buffers would make Reset fail, so they are
// released before it and made again (at their old sizes) once the device is usable.
void ReleaseParticleEmitterBuffers();
void RestoreParticleEmitterBuffers();
// Forgets the buffers waiting to be made again (the engine is shutting down).
void DiscardParticleEmitterState();
