// Particle emitters: the update (clock, expiry, motion, animation, bursts and their random
// draws), the point-sprite pass, and the runtime's random generator they draw from.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::BoundTexture;
using engine_test::EngineTest;
using engine_test::FloatBits;
using engine_test::LookAlongZ;
using engine_test::PassLog;
using engine_test::ReadBackBuffer;
using engine_test::RenderState;

constexpr DWORD kParticleFvf = D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE;

struct ParticleVertex {
  float x, y, z, size;
  D3DCOLOR colour;
};
static_assert(sizeof(ParticleVertex) == 20);

class ParticleTest : public EngineTest {
 protected:
  // An emitter that bursts `burstSize` particles whenever `interval` has passed, each living
  // `life` seconds, with a dynamic vertex buffer of `bufferVertices` vertices (none for 0).
  static ParticleEmitter* AddEmitter(int32_t maxParticles, int32_t burstSize, float interval,
                                     float life, UINT bufferVertices) {
    ParticleEmitterList().Last();
    ParticleEmitter* emitter = ParticleEmitterList().Add();
    D3DXMatrixIdentity(reinterpret_cast<D3DXMATRIX*>(&emitter->World));
    emitter->MaxParticles = maxParticles;
    emitter->BurstSize = burstSize;
    emitter->BurstInterval = interval;
    emitter->LifeMin = emitter->LifeMax = life;
    emitter->SizeMin = 1.0f;
    if (bufferVertices > 0) {
      EXPECT_EQ(Engine.Device->CreateVertexBuffer(
                    bufferVertices * 20, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kParticleFvf,
                    D3DPOOL_DEFAULT, &emitter->VertexBuffer, nullptr),
                D3D_OK);
    }
    return emitter;
  }
  static ObjectList<ParticleEmitter>& ParticleEmitterList() { return Engine.ParticleEmitterList; }

  // A particle placed by hand, as an application's own operation would, living long enough for
  // any test.
  static Particle* AddParticle(ParticleEmitter* emitter, float x, float y, float z, float size,
                               D3DCOLOR colour, int32_t frame = 0) {
    emitter->Particles.Last();
    Particle* p = emitter->Particles.Add();
    p->Position[0] = x;
    p->Position[1] = y;
    p->Position[2] = z;
    p->Size = size;
    p->Colour = colour;
    p->Lifetime = 1.0e9;
    p->FrameIndex = frame;
    return p;
  }

  static void Updates(int n) {
    for (int i = 0; i < n; ++i) UpdateParticleEmitters();
  }
};

// --- Update --------------------------------------------------------------------------------------

TEST_F(ParticleTest, FirstBurstFiresOnlyOnceTheIntervalIsExceeded) {
  ParticleEmitter* emitter = AddEmitter(10, 1, 0.5f, 100.0f, 0);
  ASSERT_EQ(Engine.FrameTime, 0.016f);
  Updates(31);
  EXPECT_EQ(emitter->Particles.Count(), 0);
  EXPECT_EQ(emitter->LastBurst, 0.0f);
  EXPECT_LT(emitter->Clock, 0.5f);
  Updates(1);  // the 32nd: 0.512 > 0.5
  ASSERT_EQ(emitter->Particles.Count(), 1);
  EXPECT_NEAR(emitter->LastBurst, 0.512f, 1e-5f);
  EXPECT_EQ(emitter->LastBurst, emitter->Clock);
  EXPECT_EQ(emitter->Particles.First()->BirthTime, static_cast<double>(emitter->Clock));
  EXPECT_EQ(emitter->LiveCount, 1);

  // An interval exactly equal to the time passed does not fire: quarter seconds are exact.
  ParticleEmitter* tied = AddEmitter(10, 1, 0.5f, 100.0f, 0);
  Engine.FrameTime = 0.25f;
  Updates(2);
  EXPECT_EQ(tied->Clock, 0.5f);
  EXPECT_EQ(tied->Particles.Count(), 0);
  Updates(1);
  EXPECT_EQ(tied->Particles.Count(), 1);
  EXPECT_EQ(tied->LastBurst, 0.75f);
}

TEST_F(ParticleTest, BurstsStopAtMaxParticles) {
  ParticleEmitter* emitter = AddEmitter(25, 10, 0.0f, 100.0f, 0);
  std::vector<int> counts;
  for (int i = 0; i < 4; ++i) {
    UpdateParticleEmitters();
    counts.push_back(emitter->LiveCount);
    EXPECT_EQ(emitter->Particles.Count(), emitter->LiveCount);
  }
  EXPECT_EQ(counts, (std::vector<int>{10, 20, 25, 25}));

  // A burst size near the int32 limit ends as soon as the emitter is full.
  ParticleEmitter* huge = AddEmitter(3, 0x7FFFFFFF, 0.0f, 100.0f, 0);
  UpdateParticleEmitters();
  EXPECT_EQ(huge->Particles.Count(), 3);
}

TEST_F(ParticleTest, ParticleExpiresAtTheUpdateItsAgeReachesItsLifetime) {
  Engine.FrameTime = 0.25f;
  ParticleEmitter* emitter = AddEmitter(1, 1, 0.1f, 1.0f, 0);
  UpdateParticleEmitters();  // born at 0.25
  ASSERT_EQ(emitter->Particles.Count(), 1);
  EXPECT_EQ(emitter->Particles.First()->Lifetime, 1.0);
  Updates(3);  // clock 1.0: age 0.75
  EXPECT_EQ(emitter->Particles.First()->BirthTime, 0.25);
  UpdateParticleEmitters();  // clock 1.25: age exactly 1.0, removed; the burst replaces it
  ASSERT_EQ(emitter->Particles.Count(), 1);
  EXPECT_EQ(emitter->Particles.First()->BirthTime, 1.25);
  EXPECT_EQ(emitter->LiveCount, 1);

  // Expiry runs in double precision: a float difference would round this age up to the
  // lifetime and remove the particle one update early.
  // Born a hair after the current clock, a quarter second before the next update's clock.
  Particle* p = emitter->Particles.First();
  p->BirthTime = static_cast<double>(emitter->Clock) + 1.0e-9;
  p->Lifetime = 0.25;
  emitter->BurstInterval = 1.0e9f;
  UpdateParticleEmitters();
  EXPECT_EQ(emitter->Particles.Count(), 1);
}

TEST_F(ParticleTest, GravityThenPullThenMotion) {
  Engine.FrameTime = 0.5f;
  ParticleEmitter* emitter = AddEmitter(1, 1, 0.1f, 100.0f, 0);
  emitter->Origin[0] = 3.0f;
  emitter->StartVelocity[0] = 2.0f;
  UpdateParticleEmitters();  // born this update at the origin, not yet moved
  Particle* p = emitter->Particles.First();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Position[0], 3.0f);
  EXPECT_EQ(p->Velocity[0], 2.0f);

  // Without gravity or pull the particle coasts.
  UpdateParticleEmitters();
  EXPECT_EQ(p->Position[0], 4.0f);
  EXPECT_EQ(p->Velocity[1], 0.0f);

  // Gravity first (vy -2), then the pull halves the way to the target (vy -1), then the move.
  emitter->ApplyGravity = 1;
  emitter->PullToTarget = 1;
  emitter->Gravity[1] = -4.0f;
  emitter->TargetVelocity[0] = 2.0f;
  UpdateParticleEmitters();
  EXPECT_EQ(p->Velocity[1], -1.0f);
  EXPECT_EQ(p->Position[1], -0.5f);
  EXPECT_EQ(p->Position[0], 5.0f);
}

TEST_F(ParticleTest, AnimationFrameAdvancesEveryThirdUpdateAndWraps) {
  ParticleEmitter* emitter = AddEmitter(1, 1, 0.0f, 100.0f, 0);
  emitter->AnimationRate = 30.0f;
  emitter->LastFrame = 2;
  UpdateParticleEmitters();  // born with frame 0
  Particle* p = emitter->Particles.First();
  ASSERT_NE(p, nullptr);
  std::vector<int> frames;
  for (int i = 0; i < 9; ++i) {
    UpdateParticleEmitters();
    frames.push_back(p->FrameIndex);
  }
  EXPECT_EQ(frames, (std::vector<int>{0, 0, 1, 1, 1, 2, 2, 2, 0}));
  EXPECT_EQ(p->FrameTimer, 0.0);  // reset by the advance
  UpdateParticleEmitters();
  EXPECT_NEAR(p->FrameTimer, 0.96, 1e-6);

  // Without a rate nothing animates.
  emitter->AnimationRate = 0.0f;
  Updates(10);
  EXPECT_EQ(p->FrameIndex, 0);
  EXPECT_NEAR(p->FrameTimer, 0.96, 1e-6);
}

TEST_F(ParticleTest, FramesStayWithinTheTextureSlots) {
  ParticleEmitter* emitter = AddEmitter(1, 0, 1.0e9f, 100.0f, 0);
  emitter->AnimationRate = 600.0f;  // a frame every update
  emitter->LastFrame = 45;          // beyond the 31 slots: the animation stops at frame 30
  Particle* p = AddParticle(emitter, 0, 0, 0, 1, 0);
  p->FrameIndex = 29;
  UpdateParticleEmitters();
  EXPECT_EQ(p->FrameIndex, 30);
  UpdateParticleEmitters();
  EXPECT_EQ(p->FrameIndex, 0);
  // An index the application set beyond the int32 range's end wraps without overflowing.
  p->FrameIndex = 0x7FFFFFFF;
  UpdateParticleEmitters();
  EXPECT_EQ(p->FrameIndex, 0);
}

TEST_F(ParticleTest, EmptyRangesGiveFixedSizeColourAndVelocity) {
  ParticleEmitter* emitter = AddEmitter(20, 20, 0.0f, 100.0f, 0);
  emitter->SizeMin = 4.0f;
  emitter->SizeMax = 0.0f;
  emitter->ColourMin[0] = emitter->ColourMax[0] = 10;
  emitter->ColourMin[1] = emitter->ColourMax[1] = 20;
  emitter->ColourMin[2] = emitter->ColourMax[2] = 30;
  emitter->StartVelocity[2] = 1.5f;
  UpdateParticleEmitters();
  ASSERT_EQ(emitter->Particles.Count(), 20);
  emitter->Particles.ForEach([](Particle& p) {
    EXPECT_EQ(p.Size, 4.0f);
    EXPECT_EQ(p.Colour, 0x000A141Eu);
    EXPECT_EQ(p.Velocity[0], 0.0f);
    EXPECT_EQ(p.Velocity[1], 0.0f);
    EXPECT_EQ(p.Velocity[2], 1.5f);
    EXPECT_EQ(p.FrameIndex, 0);
  });
}

TEST_F(ParticleTest, RangesAreDrawnInclusivelyAndSpreadIsAUnitDirection) {
  ParticleEmitter* emitter = AddEmitter(400, 400, 0.0f, 100.0f, 0);
  emitter->LifeMin = 1.0f;
  emitter->LifeMax = 3.0f;
  emitter->SizeMin = 2.0f;
  emitter->SizeMax = 6.0f;
  emitter->ColourMin[0] = 100;
  emitter->ColourMax[0] = 102;
  emitter->ColourMax[1] = 255;
  emitter->VelocitySpread = 2.0f;
  emitter->StartVelocity[0] = 10.0f;
  SeedRandom(5);
  UpdateParticleEmitters();
  std::set<int> reds;
  emitter->Particles.ForEach([&](Particle& p) {
    EXPECT_GE(p.Lifetime, 1.0);
    EXPECT_LE(p.Lifetime, 3.0);
    EXPECT_GE(p.Size, 2.0f);
    EXPECT_LE(p.Size, 6.0f);
    EXPECT_EQ(p.Colour >> 24, 0u);
    reds.insert(static_cast<int>((p.Colour >> 16) & 0xFF));
    const float dx = p.Velocity[0] - 10.0f, dy = p.Velocity[1], dz = p.Velocity[2];
    EXPECT_NEAR(std::sqrt(dx * dx + dy * dy + dz * dz), 2.0f, 1e-4f);
  });
  // 100 + 2 R div 100000: 101 from R = 50000 on, 102 only at R = 100000 itself.
  EXPECT_TRUE(reds.count(100) && reds.count(101));
  EXPECT_TRUE(reds.size() <= 3 && *reds.rbegin() <= 102);
}

// The draws of one particle, in order: the direction's two, lifetime, size, red, green, blue.
TEST_F(ParticleTest, RandomDrawsComeInTheirFixedOrder) {
  ParticleEmitter* emitter = AddEmitter(1, 1, 0.0f, 0.0f, 0);
  emitter->LifeMin = 0.0f;
  emitter->LifeMax = 100000.0f;
  emitter->SizeMin = 0.0f;
  emitter->SizeMax = 100000.0f;
  emitter->ColourMax[0] = emitter->ColourMax[1] = emitter->ColourMax[2] = 100;
  emitter->VelocitySpread = 1.0f;

  SeedRandom(1234);
  int32_t draws[7];
  for (int32_t& r : draws) r = RandomInteger(0, 100000);
  SeedRandom(1234);
  UpdateParticleEmitters();
  const Particle* p = emitter->Particles.First();
  ASSERT_NE(p, nullptr);
  EXPECT_FLOAT_EQ(p->Velocity[2], static_cast<float>(draws[0] * 2.0 / 100000.0 - 1.0));
  EXPECT_EQ(p->Lifetime, static_cast<double>(draws[2]));
  EXPECT_EQ(p->Size, static_cast<float>(draws[3]));
  EXPECT_EQ(static_cast<int>((p->Colour >> 16) & 0xFF), 100 * draws[4] / 100000);
  EXPECT_EQ(static_cast<int>((p->Colour >> 8) & 0xFF), 100 * draws[5] / 100000);
  EXPECT_EQ(static_cast<int>(p->Colour & 0xFF), 100 * draws[6] / 100000);
  // The azimuth is the second draw.
  const float angle = std::atan2(p->Velocity[1], p->Velocity[0]);
  EXPECT_NEAR(angle, draws[1] * 6.2831855 / 100000.0 - 3.1415927, 1e-4);

  // Without spread and without a size range those draws are skipped: the lifetime takes the
  // first.
  emitter->VelocitySpread = 0.0f;
  emitter->SizeMax = 0.0f;
  emitter->Particles.Clear();
  SeedRandom(99);
  const int32_t first = RandomInteger(0, 100000);
  const int32_t second = RandomInteger(0, 100000);
  SeedRandom(99);
  UpdateParticleEmitters();
  p = emitter->Particles.First();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Lifetime, static_cast<double>(first));
  EXPECT_EQ(static_cast<int>((p->Colour >> 16) & 0xFF), 100 * second / 100000);
}

TEST_F(ParticleTest, SeededRunsRepeat) {
  auto run = [](uint64_t seed) {
    Engine.ParticleEmitterList.Clear();
    ParticleEmitter* emitter = AddEmitter(50, 50, 0.0f, 5.0f, 0);
    emitter->LifeMax = 10.0f;
    emitter->VelocitySpread = 3.0f;
    emitter->ColourMax[1] = 255;
    SeedRandom(seed);
    UpdateParticleEmitters();
    std::vector<double> values;
    emitter->Particles.ForEach([&](Particle& p) {
      values.insert(values.end(), {p.Velocity[0], p.Velocity[1], p.Velocity[2], p.Lifetime,
                                   static_cast<double>(p.Colour)});
    });
    return values;
  };
  const std::vector<double> a = run(7);
  EXPECT_EQ(a.size(), 250u);
  EXPECT_EQ(run(7), a);
  EXPECT_NE(run(8), a);
}

TEST_F(ParticleTest, ParticlesAgeWhileTheDeviceIsLost) {
  ParticleEmitter* emitter = AddEmitter(10, 2, 0.0f, 100.0f, 16);
  AutomationLoseDevice(Engine.Device);
  RenderWorld();
  Flip();  // Present fails: the loss is now known
  ASSERT_NE(Engine.PresentResult, 0);
  const float clock = emitter->Clock;
  const int count = emitter->Particles.Count();
  PassLog::Start();
  RenderWorld();
  RenderWorld();
  EXPECT_EQ(PassLog::passes,
            (std::vector<std::string>{"UpdateParticleEmitters", "UpdateParticleEmitters"}));
  EXPECT_GT(emitter->Clock, clock);
  EXPECT_EQ(emitter->Particles.Count(), count + 4);
}

// --- Random numbers ------------------------------------------------------------------------------

TEST(RuntimeRandom, IntegersCoverTheInclusiveRangeInEitherOrder) {
  SeedRandom(3);
  std::set<int32_t> seen;
  for (int i = 0; i < 2000; ++i) seen.insert(RandomInteger(-2, 1));
  EXPECT_EQ(seen, (std::set<int32_t>{-2, -1, 0, 1}));
  seen.clear();
  for (int i = 0; i < 2000; ++i) seen.insert(RandomInteger(1, -2));
  EXPECT_EQ(seen, (std::set<int32_t>{-2, -1, 0, 1}));
  EXPECT_EQ(RandomInteger(5, 5), 5);
  const int32_t wide = RandomInteger(INT32_MIN, INT32_MAX);
  EXPECT_GE(wide, INT32_MIN);
  // Both ends of the particle range are reachable; the mean sits in the middle.
  double sum = 0;
  for (int i = 0; i < 100000; ++i) {
    const int32_t r = RandomInteger(0, 100000);
    ASSERT_TRUE(r >= 0 && r <= 100000);
    sum += r;
  }
  EXPECT_NEAR(sum / 100000, 50000, 500);
}

TEST(RuntimeRandom, UnitVectorsAreUnitAndSpreadOverTheSphere) {
  SeedRandom(11);
  double meanZ = 0, meanX = 0;
  for (int i = 0; i < 5000; ++i) {
    float v[3] = {9, 9, 9};
    ASSERT_EQ(RandomUnitVector(v), v);
    EXPECT_NEAR(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 1.0f, 1e-5f);
    meanZ += v[2];
    meanX += v[0];
  }
  EXPECT_NEAR(meanZ / 5000, 0.0, 0.05);
  EXPECT_NEAR(meanX / 5000, 0.0, 0.05);
  EXPECT_EQ(RandomUnitVector(nullptr), nullptr);
}

// --- Drawing -------------------------------------------------------------------------------------

// A vertex buffer that records how it is locked, describing itself with a chosen size. The device
// draws only from its own buffers, so this one serves the lock protocol alone.
class RecordingBuffer : public IDirect3DVertexBuffer9 {
 public:
  explicit RecordingBuffer(UINT size) : memory_(size), size_(size) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9**) override { return D3DERR_INVALIDCALL; }
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, const void*, DWORD, DWORD) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, void*, DWORD*) override {
    return D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID) override { return D3DERR_INVALIDCALL; }
  DWORD STDMETHODCALLTYPE SetPriority(DWORD) override { return 0; }
  DWORD STDMETHODCALLTYPE GetPriority() override { return 0; }
  void STDMETHODCALLTYPE PreLoad() override {}
  D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
  HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override {
    locks.push_back({offset, size, flags});
    if (failLocks || offset + size > size_) return D3DERR_INVALIDCALL;
    *data = memory_.data() + offset;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE Unlock() override {
    ++unlocks;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* desc) override {
    *desc = D3DVERTEXBUFFER_DESC{
        D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT, size_,
        kParticleFvf};
    return D3D_OK;
  }

  struct LockCall {
    UINT offset, size;
    DWORD flags;
  };
  std::vector<LockCall> locks;
  int unlocks = 0;
  bool failLocks = false;
  const ParticleVertex* Vertices() const {
    return reinterpret_cast<const ParticleVertex*>(memory_.data());
  }

 private:
  std::vector<uint8_t> memory_;
  UINT size_;
  ULONG references_ = 1;
};

using ParticleDrawTest = ParticleTest;

// Takes a recording buffer out of its emitter when the test ends, however it ends, so the
// engine's shutdown never releases it.
struct BufferLoan {
  ParticleEmitter* emitter;
  ~BufferLoan() { emitter->VertexBuffer = nullptr; }
};

TEST_F(ParticleDrawTest, EmptyEmitterLocksOnceDrawsNothingAndRestores) {
  RecordingBuffer buffer(25 * 20);
  ParticleEmitter* emitter = AddEmitter(25, 0, 1.0e9f, 100.0f, 0);
  emitter->VertexBuffer = &buffer;
  const BufferLoan loan{emitter};
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  EXPECT_EQ(DrawParticleEmitter(emitter), 0);
  Engine.Device->EndScene();
  ASSERT_EQ(buffer.locks.size(), 1u);
  EXPECT_EQ(buffer.locks[0].offset, 0u);
  EXPECT_EQ(buffer.locks[0].size, 25u * 20u);
  EXPECT_EQ(buffer.locks[0].flags, static_cast<DWORD>(D3DLOCK_DISCARD));
  EXPECT_EQ(buffer.unlocks, 1);
  EXPECT_EQ(RenderState(D3DRS_POINTSPRITEENABLE), 0u);
  EXPECT_EQ(RenderState(D3DRS_LIGHTING), 1u);
}

TEST_F(ParticleDrawTest, WritesNoMoreThanTheBufferHolds) {
  // MaxParticles promises 100 vertices; the buffer holds 4. Six particles are live.
  RecordingBuffer small(4 * 20);
  ParticleEmitter* emitter = AddEmitter(100, 0, 1.0e9f, 100.0f, 0);
  emitter->VertexBuffer = &small;
  const BufferLoan loan{emitter};
  for (int i = 0; i < 6; ++i) AddParticle(emitter, static_cast<float>(i), 0, 5, 2, 0x00102030);
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  EXPECT_EQ(DrawParticleEmitter(emitter), 4);
  Engine.Device->EndScene();
  ASSERT_EQ(small.locks.size(), 1u);
  EXPECT_EQ(small.locks[0].size, 4u * 20u);
  EXPECT_EQ(small.Vertices()[3].x, 3.0f);

  // More particles than MaxParticles (the application lowered it): the lock covers them all.
  RecordingBuffer roomy(10 * 20);
  emitter->VertexBuffer = &roomy;
  emitter->MaxParticles = 2;
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  EXPECT_EQ(DrawParticleEmitter(emitter), 6);
  Engine.Device->EndScene();
  ASSERT_EQ(roomy.locks.size(), 1u);
  EXPECT_EQ(roomy.locks[0].size, 6u * 20u);
}

TEST_F(ParticleDrawTest, WithoutABufferOrALockTheEmitterIsSkipped) {
  ParticleEmitter* emitter = AddEmitter(4, 0, 1.0e9f, 100.0f, 0);
  AddParticle(emitter, 0, 0, 5, 1, 0x00FFFFFF);
  const BufferLoan loan{emitter};
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  EXPECT_EQ(DrawParticleEmitter(emitter), 0);
  // Skipped after the states were set, before the restore.
  EXPECT_EQ(RenderState(D3DRS_POINTSPRITEENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), 1u);

  RecordingBuffer failing(4 * 20);
  failing.failLocks = true;
  emitter->VertexBuffer = &failing;
  EXPECT_EQ(DrawParticleEmitter(emitter), 0);
  EXPECT_EQ(failing.unlocks, 0);

  // A record that is not in the list is not touched at all.
  Engine.Device->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);
  ParticleEmitter stranger{};
  EXPECT_EQ(DrawParticleEmitter(&stranger), 0);
  EXPECT_EQ(DrawParticleEmitter(nullptr), 0);
  EXPECT_EQ(RenderState(D3DRS_POINTSPRITEENABLE), 0u);
  Engine.Device->EndScene();
}

TEST_F(ParticleDrawTest, VerticesFollowTheParticleList) {
  ParticleEmitter* emitter = AddEmitter(8, 0, 1.0e9f, 100.0f, 8);
  AddParticle(emitter, 1, 2, 3, 4, 0x00112233);
  AddParticle(emitter, -1, -2, -3, 0.5f, 0x00445566);
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  EXPECT_EQ(DrawParticleEmitter(emitter), 2);
  Engine.Device->EndScene();
  void* data = nullptr;
  ASSERT_EQ(emitter->VertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  const auto* v = static_cast<const ParticleVertex*>(data);
  EXPECT_EQ(v[0].x, 1.0f);
  EXPECT_EQ(v[0].z, 3.0f);
  EXPECT_EQ(v[0].size, 4.0f);
  EXPECT_EQ(v[0].colour, 0x00112233u);
  EXPECT_EQ(v[1].y, -2.0f);
  EXPECT_EQ(v[1].size, 0.5f);
  EXPECT_EQ(v[1].colour, 0x00445566u);
  emitter->VertexBuffer->Unlock();
  DWORD fvf = 0;
  Engine.Device->GetFVF(&fvf);
  EXPECT_EQ(fvf, kParticleFvf);
  IDirect3DVertexBuffer9* stream = nullptr;
  UINT offset = 1, stride = 0;
  Engine.Device->GetStreamSource(0, &stream, &offset, &stride);
  EXPECT_EQ(stream, emitter->VertexBuffer);
  EXPECT_EQ(stride, 20u);
  if (stream != nullptr) stream->Release();
}

// Width in pixels of the run of `value` through (x, y) along the row.
int RunWidth(const BackBufferImage& image, int x, int y, uint32_t value) {
  if (image.At(x, y) != value) return 0;
  int left = x, right = x;
  while (image.At(left - 1, y) == value) --left;
  while (image.At(right + 1, y) == value) ++right;
  return right - left + 1;
}

// Sprites are viewport height x size / eye distance pixels wide, centred where the points
// project, and their colours add onto what is there.
double SpriteWidth(float size, float x, float y, float z) {
  return 640.0 * size / std::sqrt(x * x + y * y + z * z);
}

TEST_F(ParticleDrawTest, ParticlesAreAdditivePointSpritesScaledByDistance) {
  LookAlongZ();
  Engine.ClearColour = 0xFF400000;
  ParticleEmitter* emitter = AddEmitter(8, 0, 1.0e9f, 100.0f, 8);
  emitter->BaseTexture = engine_test::MakeSolidTexture(Engine.Device, 0xFFFFFFFF);
  AddParticle(emitter, -4, 0, 10, 1, 0x00004000);  // lands at x = 192
  AddParticle(emitter, 8, 0, 20, 1, 0x00000080);   // lands at x = 448
  // Two on top of each other at the centre add up.
  AddParticle(emitter, 0, 4, 10, 0.5f, 0x00003000);
  AddParticle(emitter, 0, 4, 10, 0.5f, 0x00003000);
  // The world transform of the emitter places them all: 40 units down and back up again.
  emitter->World._42 = -4.0f;
  for (int i = 0; i < 4; ++i) {
    Particle* p = emitter->Particles.Select(i);
    p->Position[1] += 4.0f;
  }
  RenderWorld();
  const BackBufferImage image = ReadBackBuffer();
  EXPECT_EQ(image.At(192, 320), 0x404000u);
  EXPECT_NEAR(RunWidth(image, 192, 320, 0x404000u), SpriteWidth(1, -4, 0, 10), 1);
  EXPECT_EQ(image.At(448, 320), 0x400080u);
  EXPECT_NEAR(RunWidth(image, 448, 320, 0x400080u), SpriteWidth(1, 8, 0, 20), 1);
  EXPECT_EQ(image.At(320, 192), 0x406000u);
  EXPECT_NEAR(RunWidth(image, 320, 192, 0x406000u), SpriteWidth(0.5f, 0, 4, 10), 1);
  EXPECT_EQ(image.At(20, 20), 0x400000u);
  Flip();

  // What the pass leaves behind.
  EXPECT_EQ(RenderState(D3DRS_POINTSPRITEENABLE), 0u);
  EXPECT_EQ(RenderState(D3DRS_POINTSCALEENABLE), 0u);
  EXPECT_EQ(RenderState(D3DRS_ZWRITEENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), 0u);
  EXPECT_EQ(RenderState(D3DRS_LIGHTING), 1u);
  EXPECT_EQ(RenderState(D3DRS_SRCBLEND), static_cast<DWORD>(D3DBLEND_ONE));
  EXPECT_EQ(RenderState(D3DRS_DESTBLEND), static_cast<DWORD>(D3DBLEND_ONE));
  EXPECT_EQ(RenderState(D3DRS_POINTSIZE_MIN), FloatBits(1.0f));
  EXPECT_EQ(RenderState(D3DRS_POINTSCALE_A), FloatBits(0.0f));
  EXPECT_EQ(RenderState(D3DRS_POINTSCALE_C), FloatBits(1.0f));
  EXPECT_EQ(BoundTexture(0), emitter->BaseTexture);
}

TEST_F(ParticleDrawTest, EachParticleShowsItsOwnFrame) {
  LookAlongZ();
  ParticleEmitter* emitter = AddEmitter(8, 0, 1.0e9f, 100.0f, 8);
  emitter->AnimationRate = 1.0f;  // an animated emitter; a frame lasts a minute
  emitter->LastFrame = 30;
  const D3DCOLOR colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
  const int frames[3] = {0, 7, 30};
  for (int i = 0; i < 3; ++i) {
    emitter->FrameTextures[frames[i]] = engine_test::MakeSolidTexture(Engine.Device, colours[i]);
    AddParticle(emitter, static_cast<float>(i * 4 - 4), 0, 10, 0.5f, 0x00FFFFFF, frames[i]);
  }
  // An index the application put out of range shows the last slot instead of reading past it.
  AddParticle(emitter, 0, 4, 10, 0.5f, 0x00FFFFFF, 31);
  RenderWorld();
  const BackBufferImage image = ReadBackBuffer();
  EXPECT_EQ(image.At(192, 320), 0xFF0000u);
  EXPECT_EQ(image.At(320, 320), 0x00FF00u);
  EXPECT_EQ(image.At(448, 320), 0x0000FFu);
  EXPECT_EQ(image.At(320, 192), 0x0000FFu);
  Flip();
}

}  // namespace
