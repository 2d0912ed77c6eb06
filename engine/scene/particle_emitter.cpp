#include "engine/scene/particle_emitter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"

namespace {

constexpr DWORD kParticleFvf = D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE;
constexpr UINT kParticleStride = 20;
// Direct3D 9 devices have at most this many vertex streams.
constexpr UINT kStreams = 16;

// Emitters whose buffer was released for a reset, with the buffer's size in bytes.
struct PendingBuffer {
  ParticleEmitter* emitter;
  UINT bytes;
};
std::vector<PendingBuffer> pendingBuffers;

bool Finite(float a, float b = 0.0f, float c = 0.0f, float d = 0.0f) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

IDirect3DVertexBuffer9* MakeBuffer(UINT bytes) {
  IDirect3DVertexBuffer9* buffer = nullptr;
  if (Engine.Device == nullptr ||
      FAILED(Engine.Device->CreateVertexBuffer(bytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                               kParticleFvf, D3DPOOL_DEFAULT, &buffer, nullptr))) {
    return nullptr;
  }
  return buffer;
}

// The device holds a reference to every buffer bound to a stream, as Direct3D does: a
// default-pool buffer the pass left bound would outlive its release and make Reset fail.
void Unbind(IDirect3DVertexBuffer9* buffer) {
  if (buffer == nullptr || Engine.Device == nullptr) return;
  for (UINT stream = 0; stream < kStreams; ++stream) {
    IDirect3DVertexBuffer9* bound = nullptr;
    UINT offset = 0;
    UINT stride = 0;
    if (FAILED(Engine.Device->GetStreamSource(stream, &bound, &offset, &stride))) continue;
    if (bound == buffer) Engine.Device->SetStreamSource(stream, nullptr, 0, 0);
    SafeRelease(bound);
  }
}

void ReleaseBuffer(IDirect3DVertexBuffer9*& buffer) {
  Unbind(buffer);
  SafeRelease(buffer);
}

// Replaces a held picture with `texture`'s (or none), keeping a reference of the emitter's own.
void HoldPicture(IDirect3DTexture9*& slot, const Texture* texture) {
  IDirect3DTexture9* picture = texture != nullptr ? texture->D3DTexture : nullptr;
  if (picture != nullptr) picture->AddRef();
  SafeRelease(slot);
  slot = picture;
}

ParticleEmitter* Find(ParticleEmitter* handle) {
  return FindRecord(Engine.ParticleEmitterList, handle);
}

}  // namespace

ParticleEmitter* CreateParticleEmitter(int32_t maxParticles) {
  if (maxParticles < 1 || maxParticles > kMaxEmitterParticles || Engine.Device == nullptr) {
    return nullptr;
  }
  IDirect3DVertexBuffer9* buffer = MakeBuffer(static_cast<UINT>(maxParticles) * kParticleStride);
  if (buffer == nullptr) {
    Engine.LastError = kEngineObjectLoad;
    Engine.LastErrorText = "the particle vertex buffer could not be made";
    return nullptr;
  }
  ObjectList<ParticleEmitter>& emitters = Engine.ParticleEmitterList;
  emitters.Last();
  ParticleEmitter* emitter = emitters.Add();
  D3DXMatrixIdentity(reinterpret_cast<D3DXMATRIX*>(&emitter->World));
  emitter->VertexBuffer = buffer;
  emitter->MaxParticles = maxParticles;
  emitter->LifeMin = emitter->LifeMax = 1.0f;
  emitter->SizeMin = emitter->SizeMax = 1.0f;
  for (int c = 0; c < 3; ++c) emitter->ColourMin[c] = emitter->ColourMax[c] = 255;
  return emitter;
}

int SetParticleEmitterRate(ParticleEmitter* handle, int32_t burstSize, float intervalSeconds) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || burstSize < 0 || !Finite(intervalSeconds) || intervalSeconds < 0.0f) {
    return 0;
  }
  emitter->BurstSize = burstSize;
  emitter->BurstInterval = intervalSeconds;
  return 1;
}

int SetParticleEmitterLife(ParticleEmitter* handle, float minSeconds, float maxSeconds) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || !Finite(minSeconds, maxSeconds) || minSeconds < 0.0f ||
      maxSeconds < minSeconds) {
    return 0;
  }
  emitter->LifeMin = minSeconds;
  emitter->LifeMax = maxSeconds;
  return 1;
}

int SetParticleEmitterSize(ParticleEmitter* handle, float minSize, float maxSize) {
  ParticleEmitter* emitter = Find(handle);
  // A maximum of 0 is the pass's "no range" switch, so it may lie below the minimum.
  if (emitter == nullptr || !Finite(minSize, maxSize) || minSize < 0.0f ||
      (maxSize != 0.0f && maxSize < minSize)) {
    return 0;
  }
  emitter->SizeMin = minSize;
  // -0.0 would count as a range for the pass.
  emitter->SizeMax = maxSize == 0.0f ? 0.0f : maxSize;
  return 1;
}

int SetParticleEmitterColours(ParticleEmitter* handle, uint32_t firstColour,
                              uint32_t secondColour) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr) return 0;
  for (int c = 0; c < 3; ++c) {
    const int shift = 16 - 8 * c;
    emitter->ColourMin[c] = static_cast<uint8_t>(firstColour >> shift);
    emitter->ColourMax[c] = static_cast<uint8_t>(secondColour >> shift);
  }
  return 1;
}

int SetParticleEmitterVelocity(ParticleEmitter* handle, float x, float y, float z, float spread) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || !Finite(x, y, z, spread) || spread < 0.0f) return 0;
  emitter->StartVelocity[0] = x;
  emitter->StartVelocity[1] = y;
  emitter->StartVelocity[2] = z;
  emitter->VelocitySpread = spread;
  return 1;
}

int SetParticleEmitterGravity(ParticleEmitter* handle, float x, float y, float z) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || !Finite(x, y, z)) return 0;
  emitter->Gravity[0] = x;
  emitter->Gravity[1] = y;
  emitter->Gravity[2] = z;
  emitter->ApplyGravity = (x != 0.0f || y != 0.0f || z != 0.0f) ? 1 : 0;
  return 1;
}

int SetParticleEmitterPull(ParticleEmitter* handle, float x, float y, float z, int32_t enabled) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || !Finite(x, y, z)) return 0;
  emitter->TargetVelocity[0] = x;
  emitter->TargetVelocity[1] = y;
  emitter->TargetVelocity[2] = z;
  emitter->PullToTarget = enabled != 0 ? 1 : 0;
  return 1;
}

int SetParticleEmitterOrigin(ParticleEmitter* handle, float x, float y, float z) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || !Finite(x, y, z)) return 0;
  emitter->Origin[0] = x;
  emitter->Origin[1] = y;
  emitter->Origin[2] = z;
  return 1;
}

int PositionParticleEmitter(ParticleEmitter* handle, float x, float y, float z) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || !Finite(x, y, z)) return 0;
  emitter->World._41 = x;
  emitter->World._42 = y;
  emitter->World._43 = z;
  return 1;
}

int SetParticleEmitterTexture(ParticleEmitter* handle, Texture* texture) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr) return 0;
  if (texture != nullptr && !Engine.TextureList.Contains(texture)) return 0;
  HoldPicture(emitter->BaseTexture, texture);
  return 1;
}

int SetParticleEmitterFrame(ParticleEmitter* handle, int32_t frame, Texture* texture) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || frame < 0 || frame > kLastParticleFrame) return 0;
  if (texture != nullptr && !Engine.TextureList.Contains(texture)) return 0;
  HoldPicture(emitter->FrameTextures[frame], texture);
  return 1;
}

int SetParticleEmitterAnimation(ParticleEmitter* handle, float framesPerSecond, int32_t lastFrame) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr || !Finite(framesPerSecond) || framesPerSecond < 0.0f || lastFrame < 0 ||
      lastFrame > kLastParticleFrame) {
    return 0;
  }
  // -0.0 would count as animated for the pass.
  emitter->AnimationRate = framesPerSecond == 0.0f ? 0.0f : framesPerSecond;
  emitter->LastFrame = lastFrame;
  return 1;
}

int ReleaseParticleEmitter(ParticleEmitter* handle) {
  ParticleEmitter* emitter = Find(handle);
  if (emitter == nullptr) return 0;
  ReleaseBuffer(emitter->VertexBuffer);
  SafeRelease(emitter->BaseTexture);
  for (IDirect3DTexture9*& frame : emitter->FrameTextures) SafeRelease(frame);
  std::erase_if(pendingBuffers,
                [emitter](const PendingBuffer& pending) { return pending.emitter == emitter; });
  // FindRecord left the emitter current; removing it destroys its particles with it.
  Engine.ParticleEmitterList.Remove();
  return 1;
}

void ReleaseParticleEmitterBuffers() {
  Engine.ParticleEmitterList.ForEach([](ParticleEmitter& emitter) {
    if (emitter.VertexBuffer == nullptr) return;
    D3DVERTEXBUFFER_DESC description{};
    const UINT bytes =
        SUCCEEDED(emitter.VertexBuffer->GetDesc(&description))
            ? description.Size
            : static_cast<UINT>(std::clamp(emitter.MaxParticles, 1, kMaxEmitterParticles)) *
                  kParticleStride;
    ReleaseBuffer(emitter.VertexBuffer);
    std::erase_if(pendingBuffers,
                  [&emitter](const PendingBuffer& pending) { return pending.emitter == &emitter; });
    pendingBuffers.push_back({&emitter, bytes});
  });
}

void RestoreParticleEmitterBuffers() {
  std::vector<PendingBuffer> waiting;
  for (const PendingBuffer& pending : pendingBuffers) {
    // An emitter released while the device was lost is no longer the engine's.
    if (!Engine.ParticleEmitterList.Contains(pending.emitter)) continue;
    if (pending.emitter->VertexBuffer != nullptr) continue;
    pending.emitter->VertexBuffer = MakeBuffer(pending.bytes);
    if (pending.emitter->VertexBuffer == nullptr) waiting.push_back(pending);
  }
  // A buffer that cannot be made yet is tried again after the next reset.
  pendingBuffers = std::move(waiting);
}

void DiscardParticleEmitterState() {
  pendingBuffers.clear();
  pendingBuffers.shrink_to_fit();
}
