// Particle emitters made through the engine's operations: the buffer and defaults, every setting
// and what it refuses, handles that are not the engine's, particles that reach the screen,
// release with live particles, device resets and shutdown.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/engine_fixture.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::EngineTest;
using engine_test::LookAlongZ;
using engine_test::ReadBackBuffer;

ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

UINT BufferBytes(const ParticleEmitter* emitter) {
  D3DVERTEXBUFFER_DESC description{};
  if (emitter->VertexBuffer == nullptr || FAILED(emitter->VertexBuffer->GetDesc(&description))) {
    return 0;
  }
  return description.Size;
}

class ParticleEmitterCreateTest : public EngineTest {
 protected:
  // A white emitter at (0, 0, 10) before the eye that bursts `count` particles of size 1 at once.
  static ParticleEmitter* Visible(int32_t count) {
    ParticleEmitter* emitter = CreateParticleEmitter(count);
    EXPECT_NE(emitter, nullptr);
    if (emitter == nullptr) return nullptr;
    EXPECT_EQ(SetParticleEmitterRate(emitter, count, 0.0f), 1);
    EXPECT_EQ(SetParticleEmitterLife(emitter, 100.0f, 100.0f), 1);
    EXPECT_EQ(PositionParticleEmitter(emitter, 0, 0, 10), 1);
    Texture* white = CreateTexture(4, 4, 0xFFFFFFFF);
    EXPECT_EQ(SetParticleEmitterTexture(emitter, white), 1);
    return emitter;
  }
};

TEST_F(ParticleEmitterCreateTest, CreationMakesThePointSpriteBufferAndRefusesBadCounts) {
  const int32_t errorBefore = Engine.LastError;
  for (int32_t bad : {0, -1, kMaxEmitterParticles + 1}) {
    EXPECT_EQ(CreateParticleEmitter(bad), nullptr) << bad;
  }
  EXPECT_EQ(Engine.ParticleEmitterList.Count(), 0);
  EXPECT_EQ(Engine.LastError, errorBefore);

  ParticleEmitter* emitter = CreateParticleEmitter(50);
  ASSERT_NE(emitter, nullptr);
  EXPECT_TRUE(Engine.ParticleEmitterList.Contains(emitter));
  D3DVERTEXBUFFER_DESC description{};
  ASSERT_EQ(emitter->VertexBuffer->GetDesc(&description), D3D_OK);
  EXPECT_EQ(description.Size, 50u * 20u);
  EXPECT_EQ(description.FVF, static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE));
  EXPECT_EQ(description.Pool, D3DPOOL_DEFAULT);
  EXPECT_NE(description.Usage & D3DUSAGE_DYNAMIC, 0u);
  EXPECT_EQ(emitter->MaxParticles, 50);
  EXPECT_EQ(emitter->World._11, 1.0f);
  EXPECT_EQ(emitter->World._44, 1.0f);
  // Nothing is emitted until a burst size is given.
  Engine.FrameTime = 0.1f;
  for (int i = 0; i < 5; ++i) UpdateParticleEmitters();
  EXPECT_EQ(emitter->Particles.Count(), 0);
}

TEST_F(ParticleEmitterCreateTest, SettingsReachTheRecordAndRefusedOnesChangeNothing) {
  ParticleEmitter* e = CreateParticleEmitter(10);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(SetParticleEmitterRate(e, 3, 0.25f), 1);
  EXPECT_EQ(SetParticleEmitterLife(e, 0.5f, 2.0f), 1);
  EXPECT_EQ(SetParticleEmitterSize(e, 0.25f, 4.0f), 1);
  EXPECT_EQ(SetParticleEmitterColours(e, 0xFF102030, 0x00405060), 1);
  EXPECT_EQ(SetParticleEmitterVelocity(e, 1, 2, 3, 0.5f), 1);
  EXPECT_EQ(SetParticleEmitterGravity(e, 0, -9.8f, 0), 1);
  EXPECT_EQ(SetParticleEmitterPull(e, 0, 0, 0, 1), 1);
  EXPECT_EQ(SetParticleEmitterOrigin(e, 4, 5, 6), 1);
  EXPECT_EQ(PositionParticleEmitter(e, 7, 8, 9), 1);
  EXPECT_EQ(SetParticleEmitterAnimation(e, 12.0f, 30), 1);
  // What the settings turn into: colour bytes from 0x00RRGGBB, switches from the values.
  EXPECT_EQ(e->ColourMin[0], 0x10);
  EXPECT_EQ(e->ColourMin[2], 0x30);
  EXPECT_EQ(e->ColourMax[1], 0x50);
  EXPECT_EQ(e->ApplyGravity, 1);
  // A pull towards rest is a pull: the flag, not the target, switches it.
  EXPECT_EQ(e->PullToTarget, 1);
  EXPECT_EQ(e->World._41, 7.0f);
  EXPECT_EQ(e->Origin[0], 4.0f);
  EXPECT_EQ(SetParticleEmitterGravity(e, 0, 0, 0), 1);
  EXPECT_EQ(e->ApplyGravity, 0);

  // Refused settings: the record stays byte for byte as it was.
  ParticleEmitter before;
  std::memcpy(static_cast<void*>(&before), e, sizeof(before));
  const float nan = std::nanf("");
  const float inf = INFINITY;
  EXPECT_EQ(SetParticleEmitterRate(e, -1, 0.1f), 0);
  EXPECT_EQ(SetParticleEmitterRate(e, 1, -0.1f), 0);
  EXPECT_EQ(SetParticleEmitterRate(e, 1, nan), 0);
  EXPECT_EQ(SetParticleEmitterLife(e, 2.0f, 1.0f), 0);
  EXPECT_EQ(SetParticleEmitterLife(e, -1.0f, 1.0f), 0);
  EXPECT_EQ(SetParticleEmitterLife(e, 1.0f, inf), 0);
  EXPECT_EQ(SetParticleEmitterSize(e, 2.0f, 1.0f), 0);
  EXPECT_EQ(SetParticleEmitterSize(e, -1.0f, 0.0f), 0);
  EXPECT_EQ(SetParticleEmitterVelocity(e, nan, 0, 0, 0), 0);
  EXPECT_EQ(SetParticleEmitterVelocity(e, 0, 0, 0, -1), 0);
  EXPECT_EQ(SetParticleEmitterGravity(e, 0, inf, 0), 0);
  EXPECT_EQ(SetParticleEmitterPull(e, 0, 0, nan, 1), 0);
  EXPECT_EQ(SetParticleEmitterOrigin(e, inf, 0, 0), 0);
  EXPECT_EQ(PositionParticleEmitter(e, 0, nan, 0), 0);
  EXPECT_EQ(SetParticleEmitterAnimation(e, -1.0f, 3), 0);
  EXPECT_EQ(SetParticleEmitterAnimation(e, 1.0f, 31), 0);
  EXPECT_EQ(SetParticleEmitterAnimation(e, 1.0f, -1), 0);
  EXPECT_EQ(SetParticleEmitterFrame(e, 31, nullptr), 0);
  EXPECT_EQ(SetParticleEmitterFrame(e, -1, nullptr), 0);
  Texture foreign{};
  EXPECT_EQ(SetParticleEmitterTexture(e, &foreign), 0);
  EXPECT_EQ(SetParticleEmitterFrame(e, 0, &foreign), 0);
  EXPECT_EQ(std::memcmp(static_cast<void*>(&before), e, sizeof(before)), 0);
  std::memset(static_cast<void*>(&before), 0, sizeof(before));

  // A size range of 0 is the pass's fixed size, below the minimum or not.
  EXPECT_EQ(SetParticleEmitterSize(e, 3.0f, 0.0f), 1);
  EXPECT_EQ(e->SizeMax, 0.0f);
  EXPECT_FALSE(std::signbit(e->SizeMax));
  EXPECT_EQ(SetParticleEmitterSize(e, 3.0f, -0.0f), 1);
  EXPECT_FALSE(std::signbit(e->SizeMax));
}

TEST_F(ParticleEmitterCreateTest, HandlesThatAreNotListedAreRefused) {
  ParticleEmitter* kept = CreateParticleEmitter(4);
  ParticleEmitter* gone = CreateParticleEmitter(4);
  ASSERT_NE(kept, nullptr);
  ASSERT_NE(gone, nullptr);
  ASSERT_EQ(ReleaseParticleEmitter(gone), 1);
  ParticleEmitter foreign{};
  for (ParticleEmitter* handle : {gone, &foreign, static_cast<ParticleEmitter*>(nullptr)}) {
    EXPECT_EQ(SetParticleEmitterRate(handle, 1, 0), 0);
    EXPECT_EQ(SetParticleEmitterLife(handle, 1, 1), 0);
    EXPECT_EQ(SetParticleEmitterSize(handle, 1, 1), 0);
    EXPECT_EQ(SetParticleEmitterColours(handle, 0, 0), 0);
    EXPECT_EQ(SetParticleEmitterVelocity(handle, 0, 0, 0, 0), 0);
    EXPECT_EQ(SetParticleEmitterGravity(handle, 0, 0, 0), 0);
    EXPECT_EQ(SetParticleEmitterPull(handle, 0, 0, 0, 0), 0);
    EXPECT_EQ(SetParticleEmitterOrigin(handle, 0, 0, 0), 0);
    EXPECT_EQ(PositionParticleEmitter(handle, 0, 0, 0), 0);
    EXPECT_EQ(SetParticleEmitterTexture(handle, nullptr), 0);
    EXPECT_EQ(SetParticleEmitterFrame(handle, 0, nullptr), 0);
    EXPECT_EQ(SetParticleEmitterAnimation(handle, 0, 0), 0);
    EXPECT_EQ(ReleaseParticleEmitter(handle), 0);
  }
  EXPECT_EQ(foreign.BurstSize, 0);
  EXPECT_EQ(Engine.ParticleEmitterList.Count(), 1);
  EXPECT_TRUE(Engine.ParticleEmitterList.Contains(kept));
}

TEST_F(ParticleEmitterCreateTest, EmittedParticlesFollowTheSettingsAndReachTheScreen) {
  LookAlongZ();
  ParticleEmitter* emitter = Visible(6);
  ASSERT_NE(emitter, nullptr);
  ASSERT_EQ(SetParticleEmitterColours(emitter, 0x00200000, 0x00400000), 1);
  ASSERT_EQ(SetParticleEmitterSize(emitter, 1.0f, 2.0f), 1);
  ASSERT_EQ(SetParticleEmitterVelocity(emitter, 0, 0, 0, 0), 1);
  Engine.FrameTime = 0.016f;
  Engine.ClearColour = 0xFF000000;
  RenderWorld();
  ASSERT_EQ(emitter->Particles.Count(), 6);
  emitter->Particles.ForEach([](Particle& p) {
    EXPECT_GE(p.Size, 1.0f);
    EXPECT_LE(p.Size, 2.0f);
    const uint32_t red = (p.Colour >> 16) & 0xFF;
    EXPECT_GE(red, 0x20u);
    EXPECT_LE(red, 0x40u);
    EXPECT_EQ(p.Colour & 0xFFFF, 0u);
  });
  // Six additive sprites on one spot: red, and nothing else, at the centre.
  const BackBufferImage image = ReadBackBuffer();
  const uint32_t centre = image.At(320, 320);
  EXPECT_GE((centre >> 16) & 0xFF, 6u * 0x20u);
  EXPECT_EQ(centre & 0xFFFF, 0u);
  EXPECT_EQ(image.At(5, 5), 0u);
  Flip();
}

TEST_F(ParticleEmitterCreateTest, PicturesAreHeldByTheEmitterItself) {
  ParticleEmitter* emitter = CreateParticleEmitter(4);
  Texture* picture = CreateTexture(4, 4, 0xFF00FF00);
  ASSERT_NE(emitter, nullptr);
  ASSERT_NE(picture, nullptr);
  IDirect3DTexture9* d3d = picture->D3DTexture;
  const ULONG alone = References(d3d);
  ASSERT_EQ(SetParticleEmitterTexture(emitter, picture), 1);
  ASSERT_EQ(SetParticleEmitterFrame(emitter, 30, picture), 1);
  EXPECT_EQ(emitter->BaseTexture, d3d);
  EXPECT_EQ(emitter->FrameTextures[30], d3d);
  EXPECT_EQ(References(d3d), alone + 2);
  // Setting it again does not pile up references; null lets go.
  ASSERT_EQ(SetParticleEmitterTexture(emitter, picture), 1);
  EXPECT_EQ(References(d3d), alone + 2);
  ASSERT_EQ(SetParticleEmitterFrame(emitter, 30, nullptr), 1);
  EXPECT_EQ(emitter->FrameTextures[30], nullptr);
  EXPECT_EQ(References(d3d), alone + 1);
  ASSERT_EQ(ReleaseParticleEmitter(emitter), 1);
  EXPECT_EQ(References(d3d), alone);
}

TEST_F(ParticleEmitterCreateTest, ReleaseWithLiveParticlesBetweenFrames) {
  LookAlongZ();
  ParticleEmitter* first = Visible(20);
  ParticleEmitter* last = Visible(20);
  ASSERT_NE(last, nullptr);
  Engine.FrameTime = 0.016f;
  RenderWorld();
  ASSERT_EQ(last->Particles.Count(), 20);
  // The draw just recorded still needs the buffer, and the device still has it bound.
  ASSERT_EQ(ReleaseParticleEmitter(last), 1);
  EXPECT_EQ(Engine.ParticleEmitterList.Count(), 1);
  EXPECT_EQ(ReleaseParticleEmitter(last), 0);
  Flip();
  // Nothing of the released emitter is left to block a reset.
  ASSERT_EQ(ResetDevice(5), 0);
  ASSERT_EQ(Engine.PresentResult, 0);
  LookAlongZ();
  RenderWorld();
  EXPECT_EQ(first->Particles.Count(), 20);
  EXPECT_NE(ReadBackBuffer().At(320, 320), 0u);
  Flip();
}

TEST_F(ParticleEmitterCreateTest, BuffersAreReleasedForAResetAndMadeAgain) {
  LookAlongZ();
  ParticleEmitter* emitter = Visible(8);
  ParticleEmitter* other = CreateParticleEmitter(3);
  ASSERT_NE(other, nullptr);
  Engine.FrameTime = 0.016f;
  RenderWorld();
  Flip();
  // A default-pool buffer alive across Reset would make it fail.
  ASSERT_EQ(ResetDevice(5), 0);
  ASSERT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(BufferBytes(emitter), 8u * 20u);
  EXPECT_EQ(BufferBytes(other), 3u * 20u);
  LookAlongZ();
  RenderWorld();
  EXPECT_NE(ReadBackBuffer().At(320, 320), 0u);
  Flip();

  // A lost device: the buffers go at the failed reset, an emitter released meanwhile stays gone,
  // and the others come back with the reset that succeeds.
  AutomationLoseDevice(Engine.Device);
  Flip();
  ASSERT_NE(Engine.PresentResult, 0);
  EXPECT_EQ(emitter->VertexBuffer, nullptr);
  EXPECT_EQ(ReleaseParticleEmitter(other), 1);
  AutomationMakeDeviceResettable(Engine.Device);
  Flip();
  ASSERT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(BufferBytes(emitter), 8u * 20u);
  EXPECT_EQ(Engine.ParticleEmitterList.Count(), 1);
  LookAlongZ();
  RenderWorld();
  EXPECT_NE(ReadBackBuffer().At(320, 320), 0u);
  Flip();
}

TEST_F(ParticleEmitterCreateTest, ShutdownReleasesEveryBufferAndPicture) {
  ParticleEmitter* emitter = Visible(5);
  ASSERT_NE(emitter, nullptr);
  IDirect3DVertexBuffer9* buffer = emitter->VertexBuffer;
  IDirect3DTexture9* picture = emitter->BaseTexture;
  buffer->AddRef();
  picture->AddRef();
  Engine.FrameTime = 0.016f;
  UpdateParticleEmitters();
  EngineShutdown();
  // Only the test's own references are left.
  EXPECT_EQ(buffer->Release(), 0u);
  EXPECT_EQ(picture->Release(), 0u);
  EXPECT_EQ(Engine.ParticleEmitterList.Count(), 0);
}

}  // namespace
