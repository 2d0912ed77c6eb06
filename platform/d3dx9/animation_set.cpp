// ID3DXKeyframedAnimationSet: named animations of scale, rotation and translation keys in source
// ticks, sampled at a position in seconds (linear for vectors, slerp for rotations), the set's
// playback type folding track positions into its period, and callback keys.
#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "win32/com_object.h"
#include "d3dx9anim.h"

const IID IID_ID3DXAnimationSet = {
    0x698cfb3f, 0x9289, 0x4d95, {0x9a, 0x57, 0x33, 0xa9, 0x4b, 0x5a, 0x65, 0xf9}};
const IID IID_ID3DXKeyframedAnimationSet = {
    0xfa4e8e3a, 0x9786, 0x407d, {0x8b, 0x4c, 0x59, 0x95, 0x89, 0x37, 0x64, 0xaf}};

namespace {

struct AnimationKeys {
  std::string name;
  std::vector<D3DXKEY_VECTOR3> scale;
  std::vector<D3DXKEY_QUATERNION> rotation;
  std::vector<D3DXKEY_VECTOR3> translation;
};

template <class Key>
void SortKeys(std::vector<Key>* keys) {
  std::stable_sort(keys->begin(), keys->end(),
                   [](const Key& a, const Key& b) { return a.Time < b.Time; });
}

// The keys around `ticks` and how far between them it lies; false when there are no keys.
template <class Key>
bool Bracket(const std::vector<Key>& keys, double ticks, const Key** a, const Key** b, float* f) {
  if (keys.empty()) return false;
  if (!(ticks > keys.front().Time)) {  // also NaN
    *a = *b = &keys.front();
    *f = 0.0f;
    return true;
  }
  if (ticks >= keys.back().Time) {
    *a = *b = &keys.back();
    *f = 0.0f;
    return true;
  }
  const auto next = std::upper_bound(keys.begin(), keys.end(), ticks,
                                     [](double t, const Key& k) { return t < k.Time; });
  *b = &*next;
  *a = &*(next - 1);
  *f = static_cast<float>((ticks - (*a)->Time) / ((*b)->Time - (*a)->Time));
  return true;
}

D3DXVECTOR3 SampleVector(const std::vector<D3DXKEY_VECTOR3>& keys, double ticks,
                         const D3DXVECTOR3& none) {
  const D3DXKEY_VECTOR3 *a, *b;
  float f;
  if (!Bracket(keys, ticks, &a, &b, &f)) return none;
  return a->Value + (b->Value - a->Value) * f;
}

D3DXQUATERNION SampleRotation(const std::vector<D3DXKEY_QUATERNION>& keys, double ticks) {
  const D3DXKEY_QUATERNION *a, *b;
  float f;
  if (!Bracket(keys, ticks, &a, &b, &f)) return D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f);
  if (a == b) return a->Value;
  D3DXQUATERNION q;
  D3DXQuaternionSlerp(&q, &a->Value, &b->Value, f);
  return q;
}

class KeyframedAnimationSet final : public ComObject<ID3DXKeyframedAnimationSet> {
 public:
  KeyframedAnimationSet(std::string name, double ticksPerSecond, D3DXPLAYBACK_TYPE playback,
                        UINT capacity)
      : name_(std::move(name)),
        ticksPerSecond_(ticksPerSecond),
        playback_(playback),
        capacity_(capacity) {}

  void SetCallbacks(const D3DXKEY_CALLBACK* keys, UINT count) {
    callbacks_.assign(keys, keys + count);
    SortKeys(&callbacks_);
  }

  // --- ID3DXAnimationSet ---

  LPCSTR STDMETHODCALLTYPE GetName() override { return name_.c_str(); }
  DOUBLE STDMETHODCALLTYPE GetPeriod() override { return periodTicks_ / ticksPerSecond_; }

  DOUBLE STDMETHODCALLTYPE GetPeriodicPosition(DOUBLE Position) override {
    const double period = GetPeriod();
    if (!(period > 0.0) || !std::isfinite(Position)) return 0.0;
    switch (playback_) {
      case D3DXPLAY_ONCE:
        return std::clamp(Position, 0.0, period);
      case D3DXPLAY_PINGPONG: {
        double p = std::fmod(Position, 2.0 * period);
        if (p < 0.0) p += 2.0 * period;
        return p > period ? 2.0 * period - p : p;
      }
      default: {
        double p = std::fmod(Position, period);
        if (p < 0.0) p += period;
        return p;
      }
    }
  }

  UINT STDMETHODCALLTYPE GetNumAnimations() override {
    return static_cast<UINT>(animations_.size());
  }

  HRESULT STDMETHODCALLTYPE GetAnimationNameByIndex(UINT Index, LPCSTR* ppName) override {
    if (!ppName) return D3DERR_INVALIDCALL;
    if (Index >= animations_.size()) {
      *ppName = nullptr;
      return D3DERR_INVALIDCALL;
    }
    *ppName = animations_[Index].name.c_str();
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetAnimationIndexByName(LPCSTR pName, UINT* pIndex) override {
    if (!pName || !pIndex) return D3DERR_INVALIDCALL;
    for (size_t i = 0; i < animations_.size(); ++i)
      if (animations_[i].name == pName) {
        *pIndex = static_cast<UINT>(i);
        return D3D_OK;
      }
    return D3DERR_INVALIDCALL;
  }

  HRESULT STDMETHODCALLTYPE GetSRT(DOUBLE PeriodicPosition, UINT Animation, D3DXVECTOR3* pScale,
                                   D3DXQUATERNION* pRotation, D3DXVECTOR3* pTranslation) override {
    if (Animation >= animations_.size() || !pScale || !pRotation || !pTranslation)
      return D3DERR_INVALIDCALL;
    const AnimationKeys& a = animations_[Animation];
    const double ticks = PeriodicPosition * ticksPerSecond_;
    *pScale = SampleVector(a.scale, ticks, D3DXVECTOR3(1.0f, 1.0f, 1.0f));
    *pRotation = SampleRotation(a.rotation, ticks);
    *pTranslation = SampleVector(a.translation, ticks, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    return D3D_OK;
  }

  // The nearest callback key ahead of Position (behind it with
  // D3DXCALLBACK_SEARCH_BEHIND_INITIAL_POSITION), as a position on the same unfolded time line:
  // looping repeats the keys every period, ping-pong plays them forwards and then backwards.
  HRESULT STDMETHODCALLTYPE GetCallback(DOUBLE Position, DWORD Flags, DOUBLE* pCallbackPosition,
                                        LPVOID* ppCallbackData) override;

  // --- ID3DXKeyframedAnimationSet ---

  D3DXPLAYBACK_TYPE STDMETHODCALLTYPE GetPlaybackType() override { return playback_; }
  DOUBLE STDMETHODCALLTYPE GetSourceTicksPerSecond() override { return ticksPerSecond_; }

  UINT STDMETHODCALLTYPE GetNumScaleKeys(UINT Animation) override {
    return Animation < animations_.size() ? UINT(animations_[Animation].scale.size()) : 0;
  }
  HRESULT STDMETHODCALLTYPE GetScaleKeys(UINT Animation, LPD3DXKEY_VECTOR3 pScaleKeys) override {
    return CopyKeys(Animation, &AnimationKeys::scale, pScaleKeys);
  }
  HRESULT STDMETHODCALLTYPE GetScaleKey(UINT Animation, UINT Key,
                                        LPD3DXKEY_VECTOR3 pScaleKey) override {
    return GetKey(Animation, Key, &AnimationKeys::scale, pScaleKey);
  }
  HRESULT STDMETHODCALLTYPE SetScaleKey(UINT Animation, UINT Key,
                                        LPD3DXKEY_VECTOR3 pScaleKey) override {
    return SetKey(Animation, Key, &AnimationKeys::scale, pScaleKey);
  }

  UINT STDMETHODCALLTYPE GetNumRotationKeys(UINT Animation) override {
    return Animation < animations_.size() ? UINT(animations_[Animation].rotation.size()) : 0;
  }
  HRESULT STDMETHODCALLTYPE GetRotationKeys(UINT Animation,
                                            LPD3DXKEY_QUATERNION pRotationKeys) override {
    return CopyKeys(Animation, &AnimationKeys::rotation, pRotationKeys);
  }
  HRESULT STDMETHODCALLTYPE GetRotationKey(UINT Animation, UINT Key,
                                           LPD3DXKEY_QUATERNION pRotationKey) override {
    return GetKey(Animation, Key, &AnimationKeys::rotation, pRotationKey);
  }
  HRESULT STDMETHODCALLTYPE SetRotationKey(UINT Animation, UINT Key,
                                           LPD3DXKEY_QUATERNION pRotationKey) override {
    return SetKey(Animation, Key, &AnimationKeys::rotation, pRotationKey);
  }

  UINT STDMETHODCALLTYPE GetNumTranslationKeys(UINT Animation) override {
    return Animation < animations_.size() ? UINT(animations_[Animation].translation.size()) : 0;
  }
  HRESULT STDMETHODCALLTYPE GetTranslationKeys(UINT Animation,
                                               LPD3DXKEY_VECTOR3 pTranslationKeys) override {
    return CopyKeys(Animation, &AnimationKeys::translation, pTranslationKeys);
  }
  HRESULT STDMETHODCALLTYPE GetTranslationKey(UINT Animation, UINT Key,
                                              LPD3DXKEY_VECTOR3 pTranslationKey) override {
    return GetKey(Animation, Key, &AnimationKeys::translation, pTranslationKey);
  }
  HRESULT STDMETHODCALLTYPE SetTranslationKey(UINT Animation, UINT Key,
                                              LPD3DXKEY_VECTOR3 pTranslationKey) override {
    return SetKey(Animation, Key, &AnimationKeys::translation, pTranslationKey);
  }

  UINT STDMETHODCALLTYPE GetNumCallbackKeys() override { return UINT(callbacks_.size()); }
  HRESULT STDMETHODCALLTYPE GetCallbackKeys(LPD3DXKEY_CALLBACK pCallbackKeys) override {
    if (!pCallbackKeys) return D3DERR_INVALIDCALL;
    std::copy(callbacks_.begin(), callbacks_.end(), pCallbackKeys);
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCallbackKey(UINT Key, LPD3DXKEY_CALLBACK pCallbackKey) override {
    if (Key >= callbacks_.size() || !pCallbackKey) return D3DERR_INVALIDCALL;
    *pCallbackKey = callbacks_[Key];
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetCallbackKey(UINT Key, LPD3DXKEY_CALLBACK pCallbackKey) override {
    if (Key >= callbacks_.size() || !pCallbackKey || !std::isfinite(pCallbackKey->Time))
      return D3DERR_INVALIDCALL;
    callbacks_[Key] = *pCallbackKey;
    SortKeys(&callbacks_);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE UnregisterScaleKey(UINT Animation, UINT Key) override {
    return RemoveKey(Animation, Key, &AnimationKeys::scale);
  }
  HRESULT STDMETHODCALLTYPE UnregisterRotationKey(UINT Animation, UINT Key) override {
    return RemoveKey(Animation, Key, &AnimationKeys::rotation);
  }
  HRESULT STDMETHODCALLTYPE UnregisterTranslationKey(UINT Animation, UINT Key) override {
    return RemoveKey(Animation, Key, &AnimationKeys::translation);
  }

  // Keys may come in any order; they are kept sorted by time. Names are unique within a set.
  HRESULT STDMETHODCALLTYPE RegisterAnimationSRTKeys(LPCSTR pName, UINT NumScaleKeys,
                                                     UINT NumRotationKeys, UINT NumTranslationKeys,
                                                     const D3DXKEY_VECTOR3* pScaleKeys,
                                                     const D3DXKEY_QUATERNION* pRotationKeys,
                                                     const D3DXKEY_VECTOR3* pTranslationKeys,
                                                     DWORD* pAnimationIndex) override {
    if (!pName || animations_.size() >= capacity_ || (NumScaleKeys && !pScaleKeys) ||
        (NumRotationKeys && !pRotationKeys) || (NumTranslationKeys && !pTranslationKeys))
      return D3DERR_INVALIDCALL;
    for (const AnimationKeys& a : animations_)
      if (a.name == pName) return D3DERR_INVALIDCALL;
    auto finite = [](const auto& k) { return std::isfinite(k.Time); };
    if (!std::all_of(pScaleKeys, pScaleKeys + NumScaleKeys, finite) ||
        !std::all_of(pRotationKeys, pRotationKeys + NumRotationKeys, finite) ||
        !std::all_of(pTranslationKeys, pTranslationKeys + NumTranslationKeys, finite))
      return D3DERR_INVALIDCALL;
    try {
      AnimationKeys a;
      a.name = pName;
      a.scale.assign(pScaleKeys, pScaleKeys + NumScaleKeys);
      a.rotation.assign(pRotationKeys, pRotationKeys + NumRotationKeys);
      a.translation.assign(pTranslationKeys, pTranslationKeys + NumTranslationKeys);
      SortKeys(&a.scale);
      SortKeys(&a.rotation);
      SortKeys(&a.translation);
      animations_.push_back(std::move(a));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    UpdatePeriod();
    if (pAnimationIndex) *pAnimationIndex = DWORD(animations_.size() - 1);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE Compress(DWORD, FLOAT, LPD3DXFRAME,
                                     LPD3DXBUFFER* ppCompressedData) override {
    if (ppCompressedData) *ppCompressedData = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE UnregisterAnimation(UINT Index) override {
    if (Index >= animations_.size()) return D3DERR_INVALIDCALL;
    animations_.erase(animations_.begin() + Index);
    UpdatePeriod();
    return D3D_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override {
    return riid == IID_ID3DXAnimationSet || riid == IID_ID3DXKeyframedAnimationSet;
  }

 private:
  template <class Key>
  HRESULT CopyKeys(UINT animation, std::vector<Key> AnimationKeys::*keys, Key* out) {
    if (animation >= animations_.size() || !out) return D3DERR_INVALIDCALL;
    const std::vector<Key>& k = animations_[animation].*keys;
    std::copy(k.begin(), k.end(), out);
    return D3D_OK;
  }
  template <class Key>
  HRESULT GetKey(UINT animation, UINT key, std::vector<Key> AnimationKeys::*keys, Key* out) {
    if (animation >= animations_.size() || !out) return D3DERR_INVALIDCALL;
    const std::vector<Key>& k = animations_[animation].*keys;
    if (key >= k.size()) return D3DERR_INVALIDCALL;
    *out = k[key];
    return D3D_OK;
  }
  template <class Key>
  HRESULT SetKey(UINT animation, UINT key, std::vector<Key> AnimationKeys::*keys, const Key* in) {
    if (animation >= animations_.size() || !in || !std::isfinite(in->Time))
      return D3DERR_INVALIDCALL;
    std::vector<Key>& k = animations_[animation].*keys;
    if (key >= k.size()) return D3DERR_INVALIDCALL;
    k[key] = *in;
    SortKeys(&k);
    UpdatePeriod();
    return D3D_OK;
  }
  template <class Key>
  HRESULT RemoveKey(UINT animation, UINT key, std::vector<Key> AnimationKeys::*keys) {
    if (animation >= animations_.size()) return D3DERR_INVALIDCALL;
    std::vector<Key>& k = animations_[animation].*keys;
    if (key >= k.size()) return D3DERR_INVALIDCALL;
    k.erase(k.begin() + key);
    UpdatePeriod();
    return D3D_OK;
  }

  void UpdatePeriod() {
    double last = 0.0;
    for (const AnimationKeys& a : animations_) {
      if (!a.scale.empty()) last = std::max(last, double(a.scale.back().Time));
      if (!a.rotation.empty()) last = std::max(last, double(a.rotation.back().Time));
      if (!a.translation.empty()) last = std::max(last, double(a.translation.back().Time));
    }
    periodTicks_ = last;
  }

  std::string name_;
  double ticksPerSecond_;
  D3DXPLAYBACK_TYPE playback_;
  UINT capacity_;
  std::vector<AnimationKeys> animations_;
  std::vector<D3DXKEY_CALLBACK> callbacks_;
  double periodTicks_ = 0.0;
};

HRESULT KeyframedAnimationSet::GetCallback(DOUBLE Position, DWORD Flags, DOUBLE* pCallbackPosition,
                                           LPVOID* ppCallbackData) {
  if (callbacks_.empty() || !std::isfinite(Position)) return D3DERR_NOTFOUND;
  const bool behind = (Flags & D3DXCALLBACK_SEARCH_BEHIND_INITIAL_POSITION) != 0;
  const bool exclusive = (Flags & D3DXCALLBACK_SEARCH_EXCLUDING_INITIAL_POSITION) != 0;
  const double period = GetPeriod();
  // The keys' places within one cycle of the unfolded time line, and the cycle's length.
  double cycle = 0.0;
  const bool repeats = period > 0.0 && playback_ != D3DXPLAY_ONCE;
  std::vector<std::pair<double, LPVOID>> places;
  try {
    for (const D3DXKEY_CALLBACK& k : callbacks_) {
      const double t = k.Time / ticksPerSecond_;
      if (!repeats) {
        places.emplace_back(t, k.pCallbackData);
      } else if (playback_ == D3DXPLAY_PINGPONG) {
        const double c = std::clamp(t, 0.0, period);
        places.emplace_back(c, k.pCallbackData);
        if (c > 0.0 && c < period) places.emplace_back(2.0 * period - c, k.pCallbackData);
      } else {
        double c = std::fmod(t, period);
        if (c < 0.0) c += period;
        places.emplace_back(c, k.pCallbackData);
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::stable_sort(places.begin(), places.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  if (repeats) cycle = playback_ == D3DXPLAY_PINGPONG ? 2.0 * period : period;

  auto accept = [&](double at) {
    if (behind) return exclusive ? at < Position : at <= Position;
    return exclusive ? at > Position : at >= Position;
  };
  const double base = repeats ? std::floor(Position / cycle) * cycle : 0.0;
  // The cycle Position is in and the next one along the search (the previous one behind).
  const int cycles = repeats ? 2 : 1;
  for (int c = 0; c < cycles; ++c) {
    const double origin = base + (behind ? -c : c) * cycle;
    if (!behind) {
      for (const auto& [at, data] : places)
        if (accept(origin + at)) {
          if (pCallbackPosition) *pCallbackPosition = origin + at;
          if (ppCallbackData) *ppCallbackData = data;
          return D3D_OK;
        }
    } else {
      for (auto it = places.rbegin(); it != places.rend(); ++it)
        if (accept(origin + it->first)) {
          if (pCallbackPosition) *pCallbackPosition = origin + it->first;
          if (ppCallbackData) *ppCallbackData = it->second;
          return D3D_OK;
        }
    }
  }
  return D3DERR_NOTFOUND;
}

}  // namespace

HRESULT WINAPI D3DXCreateKeyframedAnimationSet(LPCSTR pName, DOUBLE TicksPerSecond,
                                               D3DXPLAYBACK_TYPE Playback, UINT NumAnimations,
                                               UINT NumCallbackKeys,
                                               const D3DXKEY_CALLBACK* pCallbackKeys,
                                               LPD3DXKEYFRAMEDANIMATIONSET* ppAnimationSet) {
  if (!ppAnimationSet) return D3DERR_INVALIDCALL;
  *ppAnimationSet = nullptr;
  if (!(TicksPerSecond > 0.0) || !std::isfinite(TicksPerSecond) ||
      (Playback != D3DXPLAY_LOOP && Playback != D3DXPLAY_ONCE && Playback != D3DXPLAY_PINGPONG) ||
      (NumCallbackKeys && !pCallbackKeys))
    return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < NumCallbackKeys; ++i)
    if (!std::isfinite(pCallbackKeys[i].Time)) return D3DERR_INVALIDCALL;
  KeyframedAnimationSet* set = nullptr;
  try {
    set = new KeyframedAnimationSet(pName ? pName : "", TicksPerSecond, Playback, NumAnimations);
    set->SetCallbacks(pCallbackKeys, NumCallbackKeys);
  } catch (const std::bad_alloc&) {
    delete set;
    return E_OUTOFMEMORY;
  }
  *ppAnimationSet = set;
  return D3D_OK;
}
