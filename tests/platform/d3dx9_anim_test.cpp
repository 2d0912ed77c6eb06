// Keyframed animation sets (sampling, playback folding, editing, callbacks), the animation
// controller (outputs written by AdvanceTime, looping and clamping, tracks blended by weight and
// priority, speed, keyed events, callback handlers, clones, reference counts) and the frame
// helpers that tie frames to it.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "d3dx9.h"
#include "xfile_test_support.h"

namespace {

const float kHalf = std::sqrt(0.5f);

D3DXQUATERNION AboutZ(float degrees) {
  const float a = D3DXToRadian(degrees) / 2;
  return D3DXQUATERNION(0, 0, std::sin(a), std::cos(a));
}

void ExpectNear(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

// Same rotation: q and -q both count.
void ExpectRotation(const D3DXQUATERNION& a, const D3DXQUATERNION& b, float eps = 1e-5f) {
  EXPECT_NEAR(std::fabs(D3DXQuaternionDot(&a, &b)), 1.0f, eps)
      << a.x << " " << a.y << " " << a.z << " " << a.w;
}

// "Bone", over ten ticks at ten ticks a second: translation (0,0,0) -> (4,0,0), a quarter turn
// about z, scale x 1 -> 3.
ID3DXKeyframedAnimationSet* MakeSet(const char* name, D3DXPLAYBACK_TYPE playback,
                                    UINT capacity = 4) {
  ID3DXKeyframedAnimationSet* set = nullptr;
  EXPECT_EQ(D3DXCreateKeyframedAnimationSet(name, 10.0, playback, capacity, 0, nullptr, &set),
            D3D_OK);
  const D3DXKEY_VECTOR3 scale[] = {{0, D3DXVECTOR3(1, 1, 1)}, {10, D3DXVECTOR3(3, 1, 1)}};
  const D3DXKEY_QUATERNION rotation[] = {{0, AboutZ(0)}, {10, AboutZ(90)}};
  // Given out of order on purpose: the set sorts them.
  const D3DXKEY_VECTOR3 translation[] = {{10, D3DXVECTOR3(4, 0, 0)}, {0, D3DXVECTOR3(0, 0, 0)}};
  DWORD index = 9;
  EXPECT_EQ(set->RegisterAnimationSRTKeys("Bone", 2, 2, 2, scale, rotation, translation, &index),
            D3D_OK);
  EXPECT_EQ(index, 0u);
  return set;
}

// Only a translation, fixed at `x`, and a fixed rotation about z.
ID3DXKeyframedAnimationSet* MakeHold(const char* name, float x, float degrees) {
  ID3DXKeyframedAnimationSet* set = nullptr;
  EXPECT_EQ(D3DXCreateKeyframedAnimationSet(name, 10.0, D3DXPLAY_LOOP, 1, 0, nullptr, &set),
            D3D_OK);
  const D3DXKEY_QUATERNION rotation[] = {{0, AboutZ(degrees)}};
  const D3DXKEY_VECTOR3 translation[] = {{0, D3DXVECTOR3(x, 0, 0)}, {10, D3DXVECTOR3(x, 0, 0)}};
  EXPECT_EQ(set->RegisterAnimationSRTKeys("Bone", 0, 1, 2, nullptr, rotation, translation, nullptr),
            D3D_OK);
  return set;
}

struct SRT {
  D3DXVECTOR3 s, t;
  D3DXQUATERNION r;
};

SRT Sample(ID3DXAnimationSet* set, double position, UINT animation = 0) {
  SRT out{};
  EXPECT_EQ(set->GetSRT(set->GetPeriodicPosition(position), animation, &out.s, &out.r, &out.t),
            D3D_OK);
  return out;
}

TEST(KeyframedAnimationSet, InterpolatesVectorsLinearlyAndRotationsBySlerp) {
  ID3DXKeyframedAnimationSet* set = MakeSet("Walk", D3DXPLAY_ONCE);
  ExpectNear(Sample(set, 0.25).t, D3DXVECTOR3(1, 0, 0));
  ExpectNear(Sample(set, 0.5).t, D3DXVECTOR3(2, 0, 0));
  ExpectNear(Sample(set, 0.5).s, D3DXVECTOR3(2, 1, 1));
  ExpectRotation(Sample(set, 0.5).r, AboutZ(45));
  ExpectRotation(Sample(set, 0.25).r, AboutZ(22.5f));
  // Before the first key and after the last, the nearest key holds.
  SRT before{};
  ASSERT_EQ(set->GetSRT(-3.0, 0, &before.s, &before.r, &before.t), D3D_OK);
  ExpectNear(before.t, D3DXVECTOR3(0, 0, 0));
  ExpectNear(Sample(set, 7.0).t, D3DXVECTOR3(4, 0, 0));
  ExpectRotation(Sample(set, 7.0).r, AboutZ(90));

  // Without keys of a kind: unit scale, no rotation, no translation.
  const D3DXKEY_VECTOR3 only[] = {{5, D3DXVECTOR3(0, 7, 0)}};
  ASSERT_EQ(set->RegisterAnimationSRTKeys("Arm", 0, 0, 1, nullptr, nullptr, only, nullptr), D3D_OK);
  const SRT arm = Sample(set, 0.3, 1);
  ExpectNear(arm.s, D3DXVECTOR3(1, 1, 1));
  ExpectRotation(arm.r, D3DXQUATERNION(0, 0, 0, 1));
  ExpectNear(arm.t, D3DXVECTOR3(0, 7, 0));

  SRT x{};
  EXPECT_EQ(set->GetSRT(0.1, 2, &x.s, &x.r, &x.t), D3DERR_INVALIDCALL);
  EXPECT_EQ(set->GetSRT(0.1, 0, nullptr, &x.r, &x.t), D3DERR_INVALIDCALL);
  EXPECT_EQ(set->Release(), 0u);
}

TEST(KeyframedAnimationSet, PlaybackFoldsPositionsIntoThePeriod) {
  ID3DXKeyframedAnimationSet* loop = MakeSet("Loop", D3DXPLAY_LOOP);
  ID3DXKeyframedAnimationSet* once = MakeSet("Once", D3DXPLAY_ONCE);
  ID3DXKeyframedAnimationSet* pingpong = MakeSet("PingPong", D3DXPLAY_PINGPONG);
  EXPECT_DOUBLE_EQ(loop->GetPeriod(), 1.0);
  EXPECT_NEAR(loop->GetPeriodicPosition(1.25), 0.25, 1e-12);
  EXPECT_NEAR(loop->GetPeriodicPosition(-0.25), 0.75, 1e-12);
  EXPECT_NEAR(loop->GetPeriodicPosition(7.5), 0.5, 1e-12);
  EXPECT_DOUBLE_EQ(once->GetPeriodicPosition(1.5), 1.0);
  EXPECT_DOUBLE_EQ(once->GetPeriodicPosition(-1.0), 0.0);
  EXPECT_DOUBLE_EQ(once->GetPeriodicPosition(0.4), 0.4);
  EXPECT_NEAR(pingpong->GetPeriodicPosition(1.25), 0.75, 1e-12);
  EXPECT_NEAR(pingpong->GetPeriodicPosition(2.25), 0.25, 1e-12);
  EXPECT_NEAR(pingpong->GetPeriodicPosition(-0.25), 0.25, 1e-12);
  EXPECT_EQ(loop->GetPeriodicPosition(NAN), 0.0);
  EXPECT_EQ(loop->GetPlaybackType(), D3DXPLAY_LOOP);
  EXPECT_EQ(pingpong->GetSourceTicksPerSecond(), 10.0);

  ID3DXKeyframedAnimationSet* empty = nullptr;
  ASSERT_EQ(D3DXCreateKeyframedAnimationSet(nullptr, 30, D3DXPLAY_LOOP, 1, 0, nullptr, &empty),
            D3D_OK);
  EXPECT_EQ(empty->GetPeriod(), 0.0);
  EXPECT_EQ(empty->GetPeriodicPosition(3.0), 0.0);
  EXPECT_STREQ(empty->GetName(), "");
  for (auto* s : {loop, once, pingpong, empty}) EXPECT_EQ(s->Release(), 0u);

  ID3DXKeyframedAnimationSet* bad = reinterpret_cast<ID3DXKeyframedAnimationSet*>(1);
  EXPECT_EQ(D3DXCreateKeyframedAnimationSet("x", 0.0, D3DXPLAY_LOOP, 1, 0, nullptr, &bad),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(bad, nullptr);
  EXPECT_EQ(D3DXCreateKeyframedAnimationSet("x", 30, D3DXPLAYBACK_TYPE(5), 1, 0, nullptr, &bad),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateKeyframedAnimationSet("x", 30, D3DXPLAY_LOOP, 1, 2, nullptr, &bad),
            D3DERR_INVALIDCALL);
}

TEST(KeyframedAnimationSet, NamesKeysAndEditsWithinItsLimits) {
  ID3DXKeyframedAnimationSet* set = MakeSet("Walk", D3DXPLAY_LOOP, 2);
  EXPECT_STREQ(set->GetName(), "Walk");
  const D3DXKEY_VECTOR3 t[] = {{0, D3DXVECTOR3(1, 2, 3)}};
  EXPECT_EQ(set->RegisterAnimationSRTKeys("Bone", 0, 0, 1, nullptr, nullptr, t, nullptr),
            D3DERR_INVALIDCALL)
      << "names are unique";
  EXPECT_EQ(set->RegisterAnimationSRTKeys("Tail", 0, 0, 1, nullptr, nullptr, t, nullptr), D3D_OK);
  EXPECT_EQ(set->RegisterAnimationSRTKeys("Ear", 0, 0, 1, nullptr, nullptr, t, nullptr),
            D3DERR_INVALIDCALL)
      << "beyond the capacity it was made with";
  EXPECT_EQ(set->RegisterAnimationSRTKeys("Ear", 0, 0, 1, nullptr, nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  ASSERT_EQ(set->GetNumAnimations(), 2u);
  LPCSTR name = nullptr;
  ASSERT_EQ(set->GetAnimationNameByIndex(1, &name), D3D_OK);
  EXPECT_STREQ(name, "Tail");
  EXPECT_EQ(set->GetAnimationNameByIndex(2, &name), D3DERR_INVALIDCALL);
  UINT index = 9;
  ASSERT_EQ(set->GetAnimationIndexByName("Tail", &index), D3D_OK);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(set->GetAnimationIndexByName("Nose", &index), D3DERR_INVALIDCALL);

  ASSERT_EQ(set->GetNumTranslationKeys(0), 2u);
  D3DXKEY_VECTOR3 keys[2];
  ASSERT_EQ(set->GetTranslationKeys(0, keys), D3D_OK);
  EXPECT_EQ(keys[0].Time, 0.0f);
  EXPECT_EQ(keys[1].Value.x, 4.0f);
  // Moving the first key past the second keeps the keys in time order.
  D3DXKEY_VECTOR3 moved = {20, D3DXVECTOR3(8, 0, 0)};
  ASSERT_EQ(set->SetTranslationKey(0, 0, &moved), D3D_OK);
  ASSERT_EQ(set->GetTranslationKey(0, 1, &keys[0]), D3D_OK);
  EXPECT_EQ(keys[0].Time, 20.0f);
  EXPECT_DOUBLE_EQ(set->GetPeriod(), 2.0);
  EXPECT_EQ(set->GetTranslationKey(0, 2, &keys[0]), D3DERR_INVALIDCALL);
  D3DXKEY_QUATERNION q;
  ASSERT_EQ(set->GetRotationKey(0, 1, &q), D3D_OK);
  ExpectRotation(q.Value, AboutZ(90));
  ASSERT_EQ(set->UnregisterRotationKey(0, 0), D3D_OK);
  EXPECT_EQ(set->GetNumRotationKeys(0), 1u);
  EXPECT_EQ(set->UnregisterScaleKey(0, 5), D3DERR_INVALIDCALL);
  ASSERT_EQ(set->UnregisterScaleKey(0, 1), D3D_OK);
  EXPECT_EQ(set->GetNumScaleKeys(0), 1u);
  EXPECT_EQ(set->GetNumScaleKeys(9), 0u);

  ASSERT_EQ(set->UnregisterAnimation(0), D3D_OK);
  ASSERT_EQ(set->GetAnimationIndexByName("Tail", &index), D3D_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(set->UnregisterAnimation(1), D3DERR_INVALIDCALL);
  EXPECT_DOUBLE_EQ(set->GetPeriod(), 0.0) << "only Tail's key at 0 is left";
  ID3DXBuffer* packed = reinterpret_cast<ID3DXBuffer*>(1);
  EXPECT_EQ(set->Compress(0, 0.5f, nullptr, &packed), E_NOTIMPL);
  EXPECT_EQ(packed, nullptr);

  ID3DXAnimationSet* base = nullptr;
  ASSERT_EQ(set->QueryInterface(IID_ID3DXAnimationSet, reinterpret_cast<void**>(&base)), D3D_OK);
  EXPECT_EQ(base->Release(), 1u);
  EXPECT_EQ(set->Release(), 0u);
}

TEST(KeyframedAnimationSet, CallbacksAreFoundAheadAndBehindAcrossPeriods) {
  int first = 1, second = 2;
  const D3DXKEY_CALLBACK keys[] = {{8, &second}, {2, &first}};
  const auto make = [&](D3DXPLAYBACK_TYPE playback) {
    ID3DXKeyframedAnimationSet* set = nullptr;
    EXPECT_EQ(D3DXCreateKeyframedAnimationSet("C", 10, playback, 1, 2, keys, &set), D3D_OK);
    const D3DXKEY_VECTOR3 t[] = {{0, D3DXVECTOR3(0, 0, 0)}, {10, D3DXVECTOR3(1, 0, 0)}};
    set->RegisterAnimationSRTKeys("A", 0, 0, 2, nullptr, nullptr, t, nullptr);
    return set;
  };
  ID3DXKeyframedAnimationSet* loop = make(D3DXPLAY_LOOP);
  ASSERT_EQ(loop->GetNumCallbackKeys(), 2u);
  D3DXKEY_CALLBACK k;
  ASSERT_EQ(loop->GetCallbackKey(0, &k), D3D_OK);
  EXPECT_EQ(k.pCallbackData, &first) << "kept in time order";
  double at = 0;
  void* data = nullptr;
  ASSERT_EQ(loop->GetCallback(0.5, 0, &at, &data), D3D_OK);
  EXPECT_NEAR(at, 0.8, 1e-6);
  EXPECT_EQ(data, &second);
  ASSERT_EQ(loop->GetCallback(0.9, 0, &at, &data), D3D_OK);
  EXPECT_NEAR(at, 1.2, 1e-6);
  EXPECT_EQ(data, &first);
  ASSERT_EQ(loop->GetCallback(1.2, 0, &at, &data), D3D_OK);
  EXPECT_NEAR(at, 1.2, 1e-6) << "the starting position counts unless excluded";
  ASSERT_EQ(loop->GetCallback(1.2, D3DXCALLBACK_SEARCH_EXCLUDING_INITIAL_POSITION, &at, &data),
            D3D_OK);
  EXPECT_NEAR(at, 1.8, 1e-6);
  ASSERT_EQ(loop->GetCallback(0.5, D3DXCALLBACK_SEARCH_BEHIND_INITIAL_POSITION, &at, &data),
            D3D_OK);
  EXPECT_NEAR(at, 0.2, 1e-6);
  ASSERT_EQ(loop->GetCallback(0.1, D3DXCALLBACK_SEARCH_BEHIND_INITIAL_POSITION, &at, &data),
            D3D_OK);
  EXPECT_NEAR(at, -0.2, 1e-6);

  ID3DXKeyframedAnimationSet* once = make(D3DXPLAY_ONCE);
  EXPECT_EQ(once->GetCallback(0.9, 0, &at, &data), D3DERR_NOTFOUND);
  ID3DXKeyframedAnimationSet* pingpong = make(D3DXPLAY_PINGPONG);
  ASSERT_EQ(pingpong->GetCallback(1.0, 0, &at, &data), D3D_OK);
  EXPECT_NEAR(at, 1.2, 1e-6);  // the key at 0.8 on the way back
  EXPECT_EQ(data, &second);
  for (auto* s : {loop, once, pingpong}) EXPECT_EQ(s->Release(), 0u);
}

// --- The controller ----------------------------------------------------------------------------

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(D3DXCreateAnimationController(4, 4, 2, 8, &ac_), D3D_OK);
    D3DXMatrixIdentity(&matrix_);
    ASSERT_EQ(ac_->RegisterAnimationOutput("Bone", &matrix_, &scale_, &rotation_, &translation_),
              D3D_OK);
  }
  void TearDown() override {
    if (ac_) {
      EXPECT_EQ(ac_->Release(), 0u);
    }
  }

  // Registers the set, puts it on the track and drops the caller's reference.
  void Play(UINT track, ID3DXAnimationSet* set) {
    ASSERT_EQ(ac_->RegisterAnimationSet(set), D3D_OK);
    ASSERT_EQ(ac_->SetTrackAnimationSet(track, set), D3D_OK);
    set->Release();
  }

  ID3DXAnimationController* ac_ = nullptr;
  D3DXMATRIX matrix_;
  D3DXVECTOR3 scale_{}, translation_{};
  D3DXQUATERNION rotation_{};
};

TEST_F(ControllerTest, AdvanceTimeWritesSampledOutputsLoopingOrClamping) {
  Play(0, MakeSet("Loop", D3DXPLAY_LOOP));
  ASSERT_EQ(ac_->AdvanceTime(0.25, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(1, 0, 0));
  ASSERT_EQ(ac_->AdvanceTime(0.25, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(2, 0, 0));
  ExpectNear(scale_, D3DXVECTOR3(2, 1, 1));
  ExpectRotation(rotation_, AboutZ(45));
  // The matrix is scale, then rotation, then translation.
  EXPECT_NEAR(matrix_._11, 2 * kHalf, 1e-5f);
  EXPECT_NEAR(matrix_._12, 2 * kHalf, 1e-5f);
  EXPECT_NEAR(matrix_._21, -kHalf, 1e-5f);
  EXPECT_NEAR(matrix_._41, 2.0f, 1e-5f);
  EXPECT_EQ(matrix_._44, 1.0f);
  EXPECT_DOUBLE_EQ(ac_->GetTime(), 0.5);

  // Past the end a looping set starts again.
  ASSERT_EQ(ac_->AdvanceTime(0.75, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(1, 0, 0));

  ID3DXKeyframedAnimationSet* once = MakeSet("Once", D3DXPLAY_ONCE);
  Play(0, once);
  ASSERT_EQ(ac_->SetTrackPosition(0, 0.0), D3D_OK);
  ASSERT_EQ(ac_->AdvanceTime(1.5, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(4, 0, 0));
  ASSERT_EQ(ac_->AdvanceTime(10.0, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(4, 0, 0));

  // Twice the speed: half a second of time is a whole second of the track.
  ASSERT_EQ(ac_->SetTrackAnimationSet(0, nullptr), D3D_OK);
  Play(1, MakeSet("Fast", D3DXPLAY_LOOP));
  ASSERT_EQ(ac_->SetTrackPosition(1, 0.0), D3D_OK);  // it ran on without a set until now
  ASSERT_EQ(ac_->SetTrackSpeed(1, 2.0f), D3D_OK);
  ASSERT_EQ(ac_->AdvanceTime(0.125, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(1, 0, 0));
  D3DXTRACK_DESC desc;
  ASSERT_EQ(ac_->GetTrackDesc(1, &desc), D3D_OK);
  EXPECT_DOUBLE_EQ(desc.Position, 0.25);

  // A disabled track neither moves nor writes.
  ASSERT_EQ(ac_->SetTrackEnable(1, FALSE), D3D_OK);
  translation_ = D3DXVECTOR3(-1, -1, -1);
  ASSERT_EQ(ac_->AdvanceTime(0.1, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(-1, -1, -1));
  ASSERT_EQ(ac_->GetTrackDesc(1, &desc), D3D_OK);
  EXPECT_DOUBLE_EQ(desc.Position, 0.25);
  EXPECT_EQ(ac_->AdvanceTime(INFINITY, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(ControllerTest, TracksBlendByWeightWithinAndAcrossPriorities) {
  Play(0, MakeSet("Walk", D3DXPLAY_LOOP));  // at 0.5: x = 2, 45 degrees
  Play(1, MakeHold("Hold", 10, 90));
  ASSERT_EQ(ac_->SetTrackWeight(0, 0.25f), D3D_OK);
  ASSERT_EQ(ac_->SetTrackWeight(1, 0.75f), D3D_OK);
  ASSERT_EQ(ac_->AdvanceTime(0.5, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(0.25f * 2 + 0.75f * 10, 0, 0));
  ExpectRotation(rotation_, AboutZ(45 + 0.75f * 45));  // slerp by the second track's share
  ExpectNear(scale_, D3DXVECTOR3(0.25f * 2 + 0.75f, 1, 1));

  // Apart in priority: the high track alone, the low one alone, or mixed by the blend weight.
  ASSERT_EQ(ac_->SetTrackWeight(0, 1.0f), D3D_OK);
  ASSERT_EQ(ac_->SetTrackWeight(1, 1.0f), D3D_OK);
  ASSERT_EQ(ac_->SetTrackPriority(1, D3DXPRIORITY_HIGH), D3D_OK);
  ASSERT_EQ(ac_->AdvanceTime(0.0, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(10, 0, 0));
  ASSERT_EQ(ac_->SetPriorityBlend(1.0f), D3D_OK);
  ASSERT_EQ(ac_->AdvanceTime(0.0, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(2, 0, 0));
  ASSERT_EQ(ac_->SetPriorityBlend(0.5f), D3D_OK);
  EXPECT_EQ(ac_->GetPriorityBlend(), 0.5f);
  ASSERT_EQ(ac_->AdvanceTime(0.0, nullptr), D3D_OK);
  ExpectNear(translation_, D3DXVECTOR3(6, 0, 0));
  ExpectRotation(rotation_, AboutZ(67.5f));
  EXPECT_EQ(ac_->SetTrackPriority(1, D3DXPRIORITY_TYPE(7)), D3DERR_INVALIDCALL);
  EXPECT_EQ(ac_->SetPriorityBlend(NAN), D3DERR_INVALIDCALL);
}

TEST_F(ControllerTest, OutputsSetsAndTracksKeepTheirLimitsAndReferences) {
  EXPECT_EQ(ac_->GetMaxNumAnimationOutputs(), 4u);
  EXPECT_EQ(ac_->GetMaxNumAnimationSets(), 4u);
  EXPECT_EQ(ac_->GetMaxNumTracks(), 2u);
  EXPECT_EQ(ac_->GetMaxNumEvents(), 8u);
  D3DXTRACK_DESC desc;
  ASSERT_EQ(ac_->GetTrackDesc(1, &desc), D3D_OK);
  EXPECT_EQ(desc.Priority, D3DXPRIORITY_LOW);
  EXPECT_EQ(desc.Weight, 1.0f);
  EXPECT_EQ(desc.Speed, 1.0f);
  EXPECT_EQ(desc.Position, 0.0);
  EXPECT_EQ(desc.Enable, TRUE);
  D3DXMATRIX spare[4];
  EXPECT_EQ(ac_->RegisterAnimationOutput(nullptr, &spare[0], nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ac_->RegisterAnimationOutput(("Extra" + std::to_string(i)).c_str(), &spare[i],
                                           nullptr, nullptr, nullptr),
              D3D_OK);
  EXPECT_EQ(ac_->RegisterAnimationOutput("OneTooMany", &spare[3], nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  // Registering a name again moves the output; only the new matrix is written.
  D3DXMATRIX moved;
  D3DXMatrixIdentity(&moved);
  ASSERT_EQ(ac_->RegisterAnimationOutput("Bone", &moved, nullptr, nullptr, nullptr), D3D_OK);

  ID3DXKeyframedAnimationSet* set = MakeSet("Walk", D3DXPLAY_LOOP);
  ASSERT_EQ(ac_->RegisterAnimationSet(set), D3D_OK);
  EXPECT_EQ(ac_->RegisterAnimationSet(set), D3DERR_INVALIDCALL);
  EXPECT_EQ(ac_->RegisterAnimationSet(nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(ac_->SetTrackAnimationSet(0, set), D3D_OK);
  EXPECT_EQ(ac_->SetTrackAnimationSet(2, set), D3DERR_INVALIDCALL);
  EXPECT_EQ(set->AddRef(), 4u) << "ours, the registration's, the track's and this one";
  set->Release();
  translation_ = D3DXVECTOR3(-1, 0, 0);
  ASSERT_EQ(ac_->AdvanceTime(0.5, nullptr), D3D_OK);
  EXPECT_NEAR(moved._41, 2.0f, 1e-5f);
  EXPECT_EQ(translation_.x, -1.0f);

  ID3DXAnimationSet* got = nullptr;
  ASSERT_EQ(ac_->GetAnimationSetByName("Walk", &got), D3D_OK);
  EXPECT_EQ(got, static_cast<ID3DXAnimationSet*>(set));
  got->Release();
  EXPECT_EQ(ac_->GetAnimationSetByName("Run", &got), D3DERR_NOTFOUND);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(ac_->GetAnimationSet(1, &got), D3DERR_INVALIDCALL);
  ASSERT_EQ(ac_->GetAnimationSet(0, &got), D3D_OK);
  got->Release();

  desc = {D3DXPRIORITY_HIGH, 0.5f, -1.0f, 3.0, FALSE};
  ASSERT_EQ(ac_->SetTrackDesc(1, &desc), D3D_OK);
  D3DXTRACK_DESC back;
  ASSERT_EQ(ac_->GetTrackDesc(1, &back), D3D_OK);
  EXPECT_EQ(back.Speed, -1.0f);
  EXPECT_EQ(back.Position, 3.0);
  EXPECT_EQ(back.Enable, FALSE);
  desc.Speed = NAN;
  EXPECT_EQ(ac_->SetTrackDesc(1, &desc), D3DERR_INVALIDCALL);
  EXPECT_EQ(ac_->GetTrackDesc(5, &back), D3DERR_INVALIDCALL);
  EXPECT_EQ(ac_->SetTrackWeight(0, INFINITY), D3DERR_INVALIDCALL);

  // Unregistering takes the set off the tracks and gives back both references.
  ASSERT_EQ(ac_->UnregisterAnimationSet(set), D3D_OK);
  EXPECT_EQ(ac_->UnregisterAnimationSet(set), D3DERR_INVALIDCALL);
  ASSERT_EQ(ac_->GetTrackAnimationSet(0, &got), D3D_OK);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(ac_->GetNumAnimationSets(), 0u);
  EXPECT_EQ(set->Release(), 0u);
  const D3DXEVENTHANDLE pending = ac_->KeyTrackSpeed(0, 2.0f, 2.0, 0.0, D3DXTRANSITION_LINEAR);
  ASSERT_EQ(ac_->ResetTime(), D3D_OK);
  EXPECT_EQ(ac_->GetTime(), 0.0);
  D3DXEVENT_DESC event;
  ASSERT_EQ(ac_->GetEventDesc(pending, &event), D3D_OK);
  EXPECT_DOUBLE_EQ(event.StartTime, 1.5) << "still 1.5 s away after the clock went back to 0";

  ID3DXAnimationController* none = reinterpret_cast<ID3DXAnimationController*>(1);
  EXPECT_EQ(D3DXCreateAnimationController(1, 1, 0x100000, 1, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(D3DXCreateAnimationController(1, 1, 1, 1, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(ControllerTest, KeyedEventsChangeTracksAtTheirTimes) {
  Play(0, MakeHold("A", 0, 0));
  Play(1, MakeHold("B", 8, 0));
  ASSERT_EQ(ac_->SetTrackWeight(0, 0.0f), D3D_OK);
  // Cross-fade over one second from t = 1: weights move linearly.
  const D3DXEVENTHANDLE up = ac_->KeyTrackWeight(0, 1.0f, 1.0, 1.0, D3DXTRANSITION_LINEAR);
  const D3DXEVENTHANDLE down = ac_->KeyTrackWeight(1, 0.0f, 1.0, 1.0, D3DXTRANSITION_LINEAR);
  const D3DXEVENTHANDLE off = ac_->KeyTrackEnable(1, FALSE, 3.0);
  const D3DXEVENTHANDLE jump = ac_->KeyTrackPosition(0, 0.75, 0.5);
  const D3DXEVENTHANDLE blend = ac_->KeyPriorityBlend(1.0f, 0.0, 4.0, D3DXTRANSITION_EASEINEASEOUT);
  for (D3DXEVENTHANDLE h : {up, down, off, jump, blend}) EXPECT_NE(h, 0u);
  EXPECT_EQ(ac_->GetUpcomingTrackEvent(0, 0), jump) << "the earliest first";
  EXPECT_EQ(ac_->GetUpcomingTrackEvent(0, jump), up);
  EXPECT_EQ(ac_->GetUpcomingTrackEvent(1, 0), down);
  EXPECT_EQ(ac_->GetUpcomingTrackEvent(1, down), off);
  EXPECT_EQ(ac_->GetUpcomingTrackEvent(1, off), 0u);
  D3DXEVENT_DESC d;
  ASSERT_EQ(ac_->GetEventDesc(up, &d), D3D_OK);
  EXPECT_EQ(d.Type, D3DXEVENT_TRACKWEIGHT);
  EXPECT_EQ(d.Track, 0u);
  EXPECT_EQ(d.StartTime, 1.0);
  EXPECT_EQ(d.Weight, 1.0f);

  ASSERT_EQ(ac_->AdvanceTime(0.5, nullptr), D3D_OK);
  D3DXTRACK_DESC t;
  ac_->GetTrackDesc(0, &t);
  EXPECT_DOUBLE_EQ(t.Position, 1.25) << "set to 0.75 at t = 0.5, then advanced by 0.5";
  EXPECT_EQ(ac_->ValidateEvent(jump), D3DERR_INVALIDCALL) << "done and gone";
  EXPECT_EQ(ac_->GetCurrentPriorityBlend(), blend);

  ASSERT_EQ(ac_->AdvanceTime(1.0, nullptr), D3D_OK);  // t = 1.5: halfway through the fade
  ac_->GetTrackDesc(0, &t);
  EXPECT_NEAR(t.Weight, 0.5f, 1e-6f);
  EXPECT_EQ(ac_->GetCurrentTrackEvent(0, D3DXEVENT_TRACKWEIGHT), up);
  EXPECT_EQ(ac_->GetCurrentTrackEvent(0, D3DXEVENT_TRACKSPEED), 0u);
  ExpectNear(translation_, D3DXVECTOR3(4, 0, 0));
  // Ease in and out: at three eighths of the way, smoothstep(0.375).
  EXPECT_NEAR(ac_->GetPriorityBlend(), 0.375f * 0.375f * (3 - 2 * 0.375f), 1e-6f);

  ASSERT_EQ(ac_->AdvanceTime(1.0, nullptr), D3D_OK);  // t = 2.5
  ac_->GetTrackDesc(1, &t);
  EXPECT_EQ(t.Weight, 0.0f);
  EXPECT_EQ(t.Enable, TRUE);
  EXPECT_EQ(ac_->ValidateEvent(up), D3DERR_INVALIDCALL);
  ASSERT_EQ(ac_->AdvanceTime(1.0, nullptr), D3D_OK);  // t = 3.5
  ac_->GetTrackDesc(1, &t);
  EXPECT_EQ(t.Enable, FALSE);

  // Unkeying, and the limits on keys.
  const D3DXEVENTHANDLE later = ac_->KeyTrackSpeed(0, 3.0f, 10.0, 0.0, D3DXTRANSITION_LINEAR);
  ASSERT_NE(later, 0u);
  EXPECT_EQ(ac_->ValidateEvent(later), D3D_OK);
  EXPECT_EQ(ac_->UnkeyEvent(later), D3D_OK);
  EXPECT_EQ(ac_->UnkeyEvent(later), D3DERR_INVALIDCALL);
  EXPECT_EQ(ac_->KeyTrackSpeed(0, 3.0f, 10.0, -1.0, D3DXTRANSITION_LINEAR), 0u);
  EXPECT_EQ(ac_->KeyTrackSpeed(0, 3.0f, 10.0, 1.0, D3DXTRANSITION_TYPE(9)), 0u);
  EXPECT_EQ(ac_->KeyTrackEnable(2, TRUE, 1.0), 0u);
  for (int i = 0; i < 8; ++i) ac_->KeyTrackSpeed(1, 1.0f, 20.0 + i, 1.0, D3DXTRANSITION_LINEAR);
  EXPECT_EQ(ac_->KeyTrackSpeed(1, 1.0f, 40.0, 1.0, D3DXTRANSITION_LINEAR), 0u) << "eight at most";
  EXPECT_EQ(ac_->UnkeyAllTrackEvents(1), D3D_OK);
  EXPECT_EQ(ac_->GetUpcomingTrackEvent(1, 0), 0u);
  EXPECT_EQ(ac_->UnkeyAllPriorityBlends(), D3D_OK);
  EXPECT_EQ(ac_->GetCurrentPriorityBlend(), 0u);
}

class RecordingHandler : public ID3DXAnimationCallbackHandler {
 public:
  HRESULT STDMETHODCALLTYPE HandleCallback(UINT Track, LPVOID pCallbackData) override {
    calls.emplace_back(Track, *static_cast<int*>(pCallbackData));
    return S_OK;
  }
  std::vector<std::pair<UINT, int>> calls;
};

TEST_F(ControllerTest, CallbackKeysReachAHandlerInOrder) {
  int first = 1, second = 2;
  const D3DXKEY_CALLBACK keys[] = {{2, &first}, {8, &second}};
  ID3DXKeyframedAnimationSet* set = nullptr;
  ASSERT_EQ(D3DXCreateKeyframedAnimationSet("C", 10, D3DXPLAY_LOOP, 1, 2, keys, &set), D3D_OK);
  const D3DXKEY_VECTOR3 t[] = {{0, D3DXVECTOR3(0, 0, 0)}, {10, D3DXVECTOR3(1, 0, 0)}};
  set->RegisterAnimationSRTKeys("Bone", 0, 0, 2, nullptr, nullptr, t, nullptr);
  Play(1, set);
  RecordingHandler handler;
  ASSERT_EQ(ac_->AdvanceTime(0.1, &handler), D3D_OK);
  EXPECT_TRUE(handler.calls.empty());
  ASSERT_EQ(ac_->AdvanceTime(0.9, nullptr), D3D_OK);  // passes both keys with nobody to tell
  EXPECT_TRUE(handler.calls.empty());
  ASSERT_EQ(ac_->AdvanceTime(1.0, &handler), D3D_OK);  // 1.0 -> 2.0: 1.2 and 1.8
  EXPECT_EQ(handler.calls, (std::vector<std::pair<UINT, int>>{{1, 1}, {1, 2}}));
  handler.calls.clear();
  ASSERT_EQ(ac_->AdvanceTime(2.1, &handler), D3D_OK);  // 2.0 -> 4.1: four keys
  EXPECT_EQ(handler.calls.size(), 4u);
}

TEST_F(ControllerTest, ClonesShareSetsAndOutputsButNotTime) {
  ID3DXKeyframedAnimationSet* set = MakeSet("Walk", D3DXPLAY_LOOP);
  set->AddRef();
  Play(0, set);
  ASSERT_EQ(ac_->SetTrackSpeed(0, 0.5f), D3D_OK);
  ASSERT_EQ(ac_->AdvanceTime(0.5, nullptr), D3D_OK);
  ID3DXAnimationController* clone = nullptr;
  EXPECT_EQ(ac_->CloneAnimationController(0, 4, 2, 8, &clone), D3DERR_INVALIDCALL);
  ASSERT_EQ(ac_->CloneAnimationController(8, 8, 4, 16, &clone), D3D_OK);
  EXPECT_EQ(clone->GetMaxNumTracks(), 4u);
  EXPECT_EQ(clone->GetNumAnimationSets(), 1u);
  EXPECT_DOUBLE_EQ(clone->GetTime(), 0.5);
  D3DXTRACK_DESC d;
  ASSERT_EQ(clone->GetTrackDesc(0, &d), D3D_OK);
  EXPECT_EQ(d.Speed, 0.5f);
  ASSERT_EQ(clone->AdvanceTime(1.0, nullptr), D3D_OK);  // its track: 0.25 -> 0.75
  ExpectNear(translation_, D3DXVECTOR3(3, 0, 0));
  EXPECT_DOUBLE_EQ(ac_->GetTime(), 0.5);
  EXPECT_EQ(clone->Release(), 0u);
  EXPECT_EQ(ac_->Release(), 0u);
  ac_ = nullptr;
  EXPECT_EQ(set->Release(), 0u);
}

// --- Frame helpers -------------------------------------------------------------------------------

TEST(FrameHelpers, FindAppendCountRegisterAndDestroy) {
  xfile_test::CountingAllocator alloc;
  auto frame = [&](const char* name) {
    D3DXFRAME* f = nullptr;
    alloc.CreateFrame(name, &f);
    D3DXMatrixIdentity(&f->TransformationMatrix);
    return f;
  };
  D3DXFRAME* root = frame("Root");
  D3DXFRAME* arm = frame("Arm");
  D3DXFRAME* hand = frame("Hand");
  D3DXFRAME* leg = frame("Leg");
  D3DXFRAME* unnamed = frame(nullptr);
  D3DXFRAME* twin = frame("Hand");
  ASSERT_EQ(D3DXFrameAppendChild(root, arm), D3D_OK);
  ASSERT_EQ(D3DXFrameAppendChild(arm, hand), D3D_OK);
  ASSERT_EQ(D3DXFrameAppendChild(root, leg), D3D_OK);
  ASSERT_EQ(D3DXFrameAppendChild(leg, twin), D3D_OK);
  ASSERT_EQ(D3DXFrameAppendChild(leg, unnamed), D3D_OK);
  EXPECT_EQ(root->pFrameFirstChild, arm);
  EXPECT_EQ(arm->pFrameSibling, leg) << "appended after the existing children";
  EXPECT_EQ(D3DXFrameAppendChild(root, leg), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXFrameAppendChild(root, root), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXFrameAppendChild(nullptr, leg), D3DERR_INVALIDCALL);

  EXPECT_EQ(D3DXFrameFind(root, "Hand"), hand) << "depth first: Arm's child before Leg's";
  EXPECT_EQ(D3DXFrameFind(leg, "Hand"), twin);
  EXPECT_EQ(D3DXFrameFind(root, nullptr), unnamed);
  EXPECT_EQ(D3DXFrameFind(root, "Tail"), nullptr);
  EXPECT_EQ(D3DXFrameFind(nullptr, "Root"), nullptr);
  EXPECT_EQ(D3DXFrameNumNamedMatrices(root), 5u);
  EXPECT_EQ(D3DXFrameNumNamedMatrices(nullptr), 0u);

  D3DXVECTOR3 centre(9, 9, 9);
  float radius = 9;
  ASSERT_EQ(D3DXFrameCalculateBoundingSphere(root, &centre, &radius), D3D_OK);
  EXPECT_EQ(radius, 0.0f) << "no meshes";
  EXPECT_EQ(centre, D3DXVECTOR3(0, 0, 0));

  // Registered frame matrices are what the controller animates.
  ID3DXAnimationController* ac = nullptr;
  ASSERT_EQ(D3DXCreateAnimationController(D3DXFrameNumNamedMatrices(root), 1, 1, 0, &ac), D3D_OK);
  ASSERT_EQ(D3DXFrameRegisterNamedMatrices(root, ac), D3D_OK);
  ID3DXKeyframedAnimationSet* set = nullptr;
  ASSERT_EQ(D3DXCreateKeyframedAnimationSet("Wave", 1, D3DXPLAY_LOOP, 1, 0, nullptr, &set), D3D_OK);
  const D3DXKEY_VECTOR3 t[] = {{0, D3DXVECTOR3(0, 0, 0)}, {2, D3DXVECTOR3(0, 6, 0)}};
  ASSERT_EQ(set->RegisterAnimationSRTKeys("Arm", 0, 0, 2, nullptr, nullptr, t, nullptr), D3D_OK);
  ASSERT_EQ(ac->RegisterAnimationSet(set), D3D_OK);
  ASSERT_EQ(ac->SetTrackAnimationSet(0, set), D3D_OK);
  set->Release();
  ASSERT_EQ(ac->AdvanceTime(0.5, nullptr), D3D_OK);
  EXPECT_NEAR(arm->TransformationMatrix._42, 1.5f, 1e-6f);
  EXPECT_TRUE(D3DXMatrixIsIdentity(&hand->TransformationMatrix));
  EXPECT_EQ(D3DXFrameRegisterNamedMatrices(root, nullptr), D3DERR_INVALIDCALL);
  ac->Release();

  EXPECT_EQ(alloc.liveFrames, 6);
  EXPECT_EQ(D3DXFrameDestroy(root, &alloc), D3D_OK);
  EXPECT_EQ(alloc.liveFrames, 0);
  EXPECT_EQ(D3DXFrameDestroy(nullptr, &alloc), D3DERR_INVALIDCALL);
}

}  // namespace
