// ID3DXAnimationController: named outputs (frame matrices or separate scale, rotation and
// translation), registered animation sets, tracks that play them, keyed track and priority-blend
// events, and the blend that AdvanceTime writes into the outputs.
#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "win32/com_object.h"
#include "d3dx9anim.h"

const IID IID_ID3DXAnimationController = {
    0xac8948ec, 0xf86d, 0x43e2, {0x96, 0xde, 0x31, 0xfc, 0x35, 0xf9, 0x6d, 0x9e}};

namespace {

// Tracks are made up front; a controller with more than this is a caller's mistake.
constexpr UINT kMaxTracks = 0x10000;
// Callbacks one track may fire in one AdvanceTime, so a set with a tiny period cannot stall it.
constexpr int kMaxCallbacksPerAdvance = 256;

struct Output {
  std::string name;
  D3DXMATRIX* matrix;
  D3DXVECTOR3* scale;
  D3DXQUATERNION* rotation;
  D3DXVECTOR3* translation;
};

struct Track {
  ID3DXAnimationSet* set = nullptr;
  D3DXTRACK_DESC desc{D3DXPRIORITY_LOW, 1.0f, 1.0f, 0.0, TRUE};
  // The output of each animation of the set (-1: none), for a set of `boundAnimations`
  // animations and the outputs as they were at `boundVersion`.
  std::vector<int> binding;
  UINT boundAnimations = 0;
  unsigned boundVersion = 0;
  bool bound = false;
};

struct Event {
  D3DXEVENTHANDLE handle;
  D3DXEVENT_DESC desc;
  bool started = false;
  float from = 0.0f;  // the value when a gradual event started
};

// One priority's blend for one output.
struct Blend {
  D3DXVECTOR3 scale;
  D3DXQUATERNION rotation;
  D3DXVECTOR3 translation;
  float weight;
  bool used;
};

float Ease(D3DXTRANSITION_TYPE transition, double progress) {
  const double x = std::clamp(progress, 0.0, 1.0);
  return static_cast<float>(transition == D3DXTRANSITION_EASEINEASEOUT ? x * x * (3.0 - 2.0 * x)
                                                                       : x);
}

class AnimationController final : public ComObject<ID3DXAnimationController> {
 public:
  AnimationController(UINT maxOutputs, UINT maxSets, UINT maxTracks, UINT maxEvents)
      : maxOutputs_(maxOutputs), maxSets_(maxSets), maxEvents_(maxEvents), tracks_(maxTracks) {}

  ~AnimationController() override {
    for (Track& t : tracks_) SafeRelease(t.set);
    for (ID3DXAnimationSet*& s : sets_) SafeRelease(s);
  }

  UINT STDMETHODCALLTYPE GetMaxNumAnimationOutputs() override { return maxOutputs_; }
  UINT STDMETHODCALLTYPE GetMaxNumAnimationSets() override { return maxSets_; }
  UINT STDMETHODCALLTYPE GetMaxNumTracks() override { return UINT(tracks_.size()); }
  UINT STDMETHODCALLTYPE GetMaxNumEvents() override { return maxEvents_; }

  // A name registered again takes the new destinations.
  HRESULT STDMETHODCALLTYPE RegisterAnimationOutput(LPCSTR pName, D3DXMATRIX* pMatrix,
                                                    D3DXVECTOR3* pScale, D3DXQUATERNION* pRotation,
                                                    D3DXVECTOR3* pTranslation) override {
    if (!pName) return D3DERR_INVALIDCALL;
    try {
      const auto found = outputIndex_.find(pName);
      if (found != outputIndex_.end()) {
        outputs_[found->second] = Output{pName, pMatrix, pScale, pRotation, pTranslation};
      } else {
        if (outputs_.size() >= maxOutputs_) return D3DERR_INVALIDCALL;
        outputs_.push_back(Output{pName, pMatrix, pScale, pRotation, pTranslation});
        outputIndex_.emplace(pName, int(outputs_.size() - 1));
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    ++outputsVersion_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE RegisterAnimationSet(LPD3DXANIMATIONSET pAnimSet) override {
    if (!pAnimSet || sets_.size() >= maxSets_ ||
        std::find(sets_.begin(), sets_.end(), pAnimSet) != sets_.end())
      return D3DERR_INVALIDCALL;
    try {
      sets_.push_back(pAnimSet);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    pAnimSet->AddRef();
    return D3D_OK;
  }

  // Tracks that play the set are left without one.
  HRESULT STDMETHODCALLTYPE UnregisterAnimationSet(LPD3DXANIMATIONSET pAnimSet) override {
    const auto it = std::find(sets_.begin(), sets_.end(), pAnimSet);
    if (!pAnimSet || it == sets_.end()) return D3DERR_INVALIDCALL;
    sets_.erase(it);
    for (Track& t : tracks_)
      if (t.set == pAnimSet) SetTrackAnimationSet(UINT(&t - tracks_.data()), nullptr);
    pAnimSet->Release();
    return D3D_OK;
  }

  UINT STDMETHODCALLTYPE GetNumAnimationSets() override { return UINT(sets_.size()); }

  HRESULT STDMETHODCALLTYPE GetAnimationSet(UINT Index,
                                            LPD3DXANIMATIONSET* ppAnimationSet) override {
    if (!ppAnimationSet) return D3DERR_INVALIDCALL;
    *ppAnimationSet = nullptr;
    if (Index >= sets_.size()) return D3DERR_INVALIDCALL;
    sets_[Index]->AddRef();
    *ppAnimationSet = sets_[Index];
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetAnimationSetByName(LPCSTR szName,
                                                  LPD3DXANIMATIONSET* ppAnimationSet) override {
    if (!ppAnimationSet) return D3DERR_INVALIDCALL;
    *ppAnimationSet = nullptr;
    if (!szName) return D3DERR_INVALIDCALL;
    for (ID3DXAnimationSet* s : sets_) {
      const char* name = s->GetName();
      if (name && std::string_view(name) == szName) {
        s->AddRef();
        *ppAnimationSet = s;
        return D3D_OK;
      }
    }
    return D3DERR_NOTFOUND;
  }

  HRESULT STDMETHODCALLTYPE AdvanceTime(DOUBLE TimeDelta,
                                        LPD3DXANIMATIONCALLBACKHANDLER pCallbackHandler) override;

  // Pending events keep their distance from now: their start times move with the clock.
  HRESULT STDMETHODCALLTYPE ResetTime() override {
    for (Event& e : events_) e.desc.StartTime -= time_;
    time_ = 0.0;
    return D3D_OK;
  }
  DOUBLE STDMETHODCALLTYPE GetTime() override { return time_; }

  HRESULT STDMETHODCALLTYPE SetTrackAnimationSet(UINT Track, LPD3DXANIMATIONSET pAnimSet) override {
    if (Track >= tracks_.size()) return D3DERR_INVALIDCALL;
    ::Track& t = tracks_[Track];
    if (pAnimSet) pAnimSet->AddRef();
    SafeRelease(t.set);
    t.set = pAnimSet;
    t.bound = false;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTrackAnimationSet(UINT Track,
                                                 LPD3DXANIMATIONSET* ppAnimSet) override {
    if (!ppAnimSet) return D3DERR_INVALIDCALL;
    *ppAnimSet = nullptr;
    if (Track >= tracks_.size()) return D3DERR_INVALIDCALL;
    if (tracks_[Track].set) tracks_[Track].set->AddRef();
    *ppAnimSet = tracks_[Track].set;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetTrackPriority(UINT Track, D3DXPRIORITY_TYPE Priority) override {
    if (Track >= tracks_.size() || (Priority != D3DXPRIORITY_LOW && Priority != D3DXPRIORITY_HIGH))
      return D3DERR_INVALIDCALL;
    tracks_[Track].desc.Priority = Priority;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTrackSpeed(UINT Track, FLOAT Speed) override {
    if (Track >= tracks_.size() || !std::isfinite(Speed)) return D3DERR_INVALIDCALL;
    tracks_[Track].desc.Speed = Speed;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTrackWeight(UINT Track, FLOAT Weight) override {
    if (Track >= tracks_.size() || !std::isfinite(Weight)) return D3DERR_INVALIDCALL;
    tracks_[Track].desc.Weight = Weight;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTrackPosition(UINT Track, DOUBLE Position) override {
    if (Track >= tracks_.size() || !std::isfinite(Position)) return D3DERR_INVALIDCALL;
    tracks_[Track].desc.Position = Position;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTrackEnable(UINT Track, BOOL Enable) override {
    if (Track >= tracks_.size()) return D3DERR_INVALIDCALL;
    tracks_[Track].desc.Enable = Enable ? TRUE : FALSE;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTrackDesc(UINT Track, LPD3DXTRACK_DESC pDesc) override {
    if (Track >= tracks_.size() || !pDesc ||
        (pDesc->Priority != D3DXPRIORITY_LOW && pDesc->Priority != D3DXPRIORITY_HIGH) ||
        !std::isfinite(pDesc->Weight) || !std::isfinite(pDesc->Speed) ||
        !std::isfinite(pDesc->Position))
      return D3DERR_INVALIDCALL;
    tracks_[Track].desc = *pDesc;
    tracks_[Track].desc.Enable = pDesc->Enable ? TRUE : FALSE;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTrackDesc(UINT Track, LPD3DXTRACK_DESC pDesc) override {
    if (Track >= tracks_.size() || !pDesc) return D3DERR_INVALIDCALL;
    *pDesc = tracks_[Track].desc;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetPriorityBlend(FLOAT BlendWeight) override {
    if (!std::isfinite(BlendWeight)) return D3DERR_INVALIDCALL;
    priorityBlend_ = BlendWeight;
    return D3D_OK;
  }
  FLOAT STDMETHODCALLTYPE GetPriorityBlend() override { return priorityBlend_; }

  D3DXEVENTHANDLE STDMETHODCALLTYPE KeyTrackSpeed(UINT Track, FLOAT NewSpeed, DOUBLE StartTime,
                                                  DOUBLE Duration,
                                                  D3DXTRANSITION_TYPE Transition) override {
    if (Track >= tracks_.size() || !std::isfinite(NewSpeed)) return 0;
    D3DXEVENT_DESC d{};
    d.Type = D3DXEVENT_TRACKSPEED;
    d.Track = Track;
    d.Speed = NewSpeed;
    return Key(d, StartTime, Duration, Transition);
  }
  D3DXEVENTHANDLE STDMETHODCALLTYPE KeyTrackWeight(UINT Track, FLOAT NewWeight, DOUBLE StartTime,
                                                   DOUBLE Duration,
                                                   D3DXTRANSITION_TYPE Transition) override {
    if (Track >= tracks_.size() || !std::isfinite(NewWeight)) return 0;
    D3DXEVENT_DESC d{};
    d.Type = D3DXEVENT_TRACKWEIGHT;
    d.Track = Track;
    d.Weight = NewWeight;
    return Key(d, StartTime, Duration, Transition);
  }
  D3DXEVENTHANDLE STDMETHODCALLTYPE KeyTrackPosition(UINT Track, DOUBLE NewPosition,
                                                     DOUBLE StartTime) override {
    if (Track >= tracks_.size() || !std::isfinite(NewPosition)) return 0;
    D3DXEVENT_DESC d{};
    d.Type = D3DXEVENT_TRACKPOSITION;
    d.Track = Track;
    d.Position = NewPosition;
    return Key(d, StartTime, 0.0, D3DXTRANSITION_LINEAR);
  }
  D3DXEVENTHANDLE STDMETHODCALLTYPE KeyTrackEnable(UINT Track, BOOL NewEnable,
                                                   DOUBLE StartTime) override {
    if (Track >= tracks_.size()) return 0;
    D3DXEVENT_DESC d{};
    d.Type = D3DXEVENT_TRACKENABLE;
    d.Track = Track;
    d.Enable = NewEnable ? TRUE : FALSE;
    return Key(d, StartTime, 0.0, D3DXTRANSITION_LINEAR);
  }
  D3DXEVENTHANDLE STDMETHODCALLTYPE KeyPriorityBlend(FLOAT NewBlendWeight, DOUBLE StartTime,
                                                     DOUBLE Duration,
                                                     D3DXTRANSITION_TYPE Transition) override {
    if (!std::isfinite(NewBlendWeight)) return 0;
    D3DXEVENT_DESC d{};
    d.Type = D3DXEVENT_PRIORITYBLEND;
    d.Weight = NewBlendWeight;
    return Key(d, StartTime, Duration, Transition);
  }

  HRESULT STDMETHODCALLTYPE UnkeyEvent(D3DXEVENTHANDLE hEvent) override {
    const auto it = FindEvent(hEvent);
    if (it == events_.end()) return D3DERR_INVALIDCALL;
    events_.erase(it);
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE UnkeyAllTrackEvents(UINT Track) override {
    if (Track >= tracks_.size()) return D3DERR_INVALIDCALL;
    std::erase_if(events_, [&](const Event& e) {
      return e.desc.Type != D3DXEVENT_PRIORITYBLEND && e.desc.Track == Track;
    });
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE UnkeyAllPriorityBlends() override {
    std::erase_if(events_, [](const Event& e) { return e.desc.Type == D3DXEVENT_PRIORITYBLEND; });
    return D3D_OK;
  }

  D3DXEVENTHANDLE STDMETHODCALLTYPE GetCurrentTrackEvent(UINT Track,
                                                         D3DXEVENT_TYPE EventType) override {
    for (const Event& e : events_)
      if (e.started && e.desc.Type == EventType && EventType != D3DXEVENT_PRIORITYBLEND &&
          e.desc.Track == Track)
        return e.handle;
    return 0;
  }
  D3DXEVENTHANDLE STDMETHODCALLTYPE GetCurrentPriorityBlend() override {
    for (const Event& e : events_)
      if (e.started && e.desc.Type == D3DXEVENT_PRIORITYBLEND) return e.handle;
    return 0;
  }
  // Events not yet started, in the order they start; hEvent 0 asks for the first.
  D3DXEVENTHANDLE STDMETHODCALLTYPE GetUpcomingTrackEvent(UINT Track,
                                                          D3DXEVENTHANDLE hEvent) override {
    return Upcoming(hEvent, [&](const Event& e) {
      return e.desc.Type != D3DXEVENT_PRIORITYBLEND && e.desc.Track == Track;
    });
  }
  D3DXEVENTHANDLE STDMETHODCALLTYPE GetUpcomingPriorityBlend(D3DXEVENTHANDLE hEvent) override {
    return Upcoming(hEvent, [](const Event& e) { return e.desc.Type == D3DXEVENT_PRIORITYBLEND; });
  }
  HRESULT STDMETHODCALLTYPE ValidateEvent(D3DXEVENTHANDLE hEvent) override {
    return FindEvent(hEvent) != events_.end() ? D3D_OK : D3DERR_INVALIDCALL;
  }
  HRESULT STDMETHODCALLTYPE GetEventDesc(D3DXEVENTHANDLE hEvent, LPD3DXEVENT_DESC pDesc) override {
    const auto it = FindEvent(hEvent);
    if (!pDesc || it == events_.end()) return D3DERR_INVALIDCALL;
    *pDesc = it->desc;
    return D3D_OK;
  }

  // The clone shares the animation sets and output destinations; tracks past MaxNumTracks are
  // left behind.
  HRESULT STDMETHODCALLTYPE CloneAnimationController(
      UINT MaxNumAnimationOutputs, UINT MaxNumAnimationSets, UINT MaxNumTracks, UINT MaxNumEvents,
      LPD3DXANIMATIONCONTROLLER* ppAnimController) override {
    if (!ppAnimController) return D3DERR_INVALIDCALL;
    *ppAnimController = nullptr;
    if (MaxNumAnimationOutputs < outputs_.size() || MaxNumAnimationSets < sets_.size() ||
        MaxNumEvents < events_.size() || MaxNumTracks > kMaxTracks)
      return D3DERR_INVALIDCALL;
    AnimationController* clone = nullptr;
    try {
      clone = new AnimationController(MaxNumAnimationOutputs, MaxNumAnimationSets, MaxNumTracks,
                                      MaxNumEvents);
      clone->outputs_ = outputs_;
      clone->outputIndex_ = outputIndex_;
      clone->events_ = events_;
    } catch (const std::bad_alloc&) {
      delete clone;
      return E_OUTOFMEMORY;
    }
    clone->sets_ = sets_;
    for (ID3DXAnimationSet* s : clone->sets_) s->AddRef();
    for (size_t i = 0; i < std::min(tracks_.size(), clone->tracks_.size()); ++i) {
      clone->tracks_[i].desc = tracks_[i].desc;
      clone->SetTrackAnimationSet(UINT(i), tracks_[i].set);
    }
    std::erase_if(clone->events_, [&](const Event& e) {
      return e.desc.Type != D3DXEVENT_PRIORITYBLEND && e.desc.Track >= clone->tracks_.size();
    });
    clone->nextHandle_ = nextHandle_;
    clone->time_ = time_;
    clone->priorityBlend_ = priorityBlend_;
    *ppAnimController = clone;
    return D3D_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_ID3DXAnimationController; }

 private:
  D3DXEVENTHANDLE Key(D3DXEVENT_DESC desc, double start, double duration,
                      D3DXTRANSITION_TYPE transition) {
    if (!std::isfinite(start) || !std::isfinite(duration) || duration < 0.0 ||
        (transition != D3DXTRANSITION_LINEAR && transition != D3DXTRANSITION_EASEINEASEOUT) ||
        events_.size() >= maxEvents_)
      return 0;
    desc.StartTime = start;
    desc.Duration = duration;
    desc.Transition = transition;
    Event e;
    e.handle = nextHandle_;
    e.desc = desc;
    try {
      // Kept in the order they start; equal start times in the order they were keyed.
      const auto at =
          std::upper_bound(events_.begin(), events_.end(), start,
                           [](double t, const Event& other) { return t < other.desc.StartTime; });
      events_.insert(at, e);
    } catch (const std::bad_alloc&) {
      return 0;
    }
    if (++nextHandle_ == 0) nextHandle_ = 1;
    return e.handle;
  }

  std::vector<Event>::iterator FindEvent(D3DXEVENTHANDLE h) {
    return std::find_if(events_.begin(), events_.end(),
                        [&](const Event& e) { return h != 0 && e.handle == h; });
  }

  template <class Pred>
  D3DXEVENTHANDLE Upcoming(D3DXEVENTHANDLE after, Pred pred) {
    auto it = events_.begin();
    if (after) {
      it = FindEvent(after);
      if (it == events_.end()) return 0;
      ++it;
    }
    for (; it != events_.end(); ++it)
      if (!it->started && pred(*it)) return it->handle;
    return 0;
  }

  float* EventTarget(const D3DXEVENT_DESC& d) {
    switch (d.Type) {
      case D3DXEVENT_TRACKSPEED:
        return &tracks_[d.Track].desc.Speed;
      case D3DXEVENT_TRACKWEIGHT:
        return &tracks_[d.Track].desc.Weight;
      case D3DXEVENT_PRIORITYBLEND:
        return &priorityBlend_;
      default:
        return nullptr;
    }
  }

  // Applies the events whose time has come; a gradual event that starts ends any earlier one of
  // the same kind still running.
  void RunEvents() {
    for (size_t i = 0; i < events_.size();) {
      Event& e = events_[i];
      if (time_ < e.desc.StartTime) break;  // sorted: the rest start later
      const D3DXEVENT_DESC& d = e.desc;
      if (d.Type == D3DXEVENT_TRACKPOSITION) {
        tracks_[d.Track].desc.Position = d.Position;
        events_.erase(events_.begin() + i);
        continue;
      }
      if (d.Type == D3DXEVENT_TRACKENABLE) {
        tracks_[d.Track].desc.Enable = d.Enable;
        events_.erase(events_.begin() + i);
        continue;
      }
      float* target = EventTarget(d);
      if (!e.started) {
        e.started = true;
        e.from = *target;
        const auto same = [&](const Event& o) {
          return &o != &e && o.started && o.desc.Type == d.Type &&
                 (d.Type == D3DXEVENT_PRIORITYBLEND || o.desc.Track == d.Track);
        };
        const auto earlier = std::find_if(events_.begin(), events_.begin() + i, same);
        if (earlier != events_.begin() + i) {
          events_.erase(earlier);
          --i;
          continue;  // revisit this event at its new index
        }
      }
      const float to = d.Type == D3DXEVENT_TRACKSPEED ? d.Speed : d.Weight;
      const double progress = d.Duration > 0.0 ? (time_ - d.StartTime) / d.Duration : 1.0;
      if (progress >= 1.0) {
        *target = to;
        events_.erase(events_.begin() + i);
        continue;
      }
      *target = e.from + (to - e.from) * Ease(d.Transition, progress);
      ++i;
    }
  }

  void Bind(Track& t) {
    const UINT n = t.set->GetNumAnimations();
    if (t.bound && t.boundAnimations == n && t.boundVersion == outputsVersion_) return;
    try {
      t.binding.assign(n, -1);
    } catch (const std::bad_alloc&) {
      t.binding.clear();
      t.bound = false;
      return;
    }
    for (UINT i = 0; i < n; ++i) {
      LPCSTR name = nullptr;
      if (FAILED(t.set->GetAnimationNameByIndex(i, &name)) || !name) continue;
      const auto found = outputIndex_.find(name);
      if (found != outputIndex_.end()) t.binding[i] = found->second;
    }
    t.bound = true;
    t.boundAnimations = n;
    t.boundVersion = outputsVersion_;
  }

  void FireCallbacks(UINT track, double from, double to, ID3DXAnimationCallbackHandler* handler) {
    // The handler may change the track; the set stays alive until the search is done.
    ID3DXAnimationSet* set = tracks_[track].set;
    set->AddRef();
    const bool forward = to > from;
    DWORD flags = D3DXCALLBACK_SEARCH_EXCLUDING_INITIAL_POSITION;
    if (!forward) flags |= D3DXCALLBACK_SEARCH_BEHIND_INITIAL_POSITION;
    double at = from;
    for (int n = 0; n < kMaxCallbacksPerAdvance; ++n) {
      double next = 0.0;
      void* data = nullptr;
      if (FAILED(set->GetCallback(at, flags, &next, &data))) break;
      if (forward ? (next > to || next <= at) : (next < to || next >= at)) break;
      handler->HandleCallback(track, data);
      at = next;
    }
    set->Release();
  }

  void Evaluate();

  UINT maxOutputs_, maxSets_, maxEvents_;
  std::vector<Output> outputs_;
  std::unordered_map<std::string, int> outputIndex_;
  unsigned outputsVersion_ = 0;
  std::vector<ID3DXAnimationSet*> sets_;
  std::vector<Track> tracks_;
  std::vector<Event> events_;
  D3DXEVENTHANDLE nextHandle_ = 1;
  double time_ = 0.0;
  float priorityBlend_ = 0.0f;
  std::vector<Blend> blends_;  // two per output: low, high
};

HRESULT AnimationController::AdvanceTime(DOUBLE TimeDelta,
                                         LPD3DXANIMATIONCALLBACKHANDLER pCallbackHandler) {
  if (!std::isfinite(TimeDelta)) return D3DERR_INVALIDCALL;
  time_ += TimeDelta;
  RunEvents();
  for (UINT i = 0; i < tracks_.size(); ++i) {
    D3DXTRACK_DESC& d = tracks_[i].desc;
    if (!d.Enable) continue;
    const double from = d.Position;
    d.Position += TimeDelta * d.Speed;
    if (pCallbackHandler && tracks_[i].set && d.Position != from)
      FireCallbacks(i, from, d.Position, pCallbackHandler);
  }
  Evaluate();
  return D3D_OK;
}

void AnimationController::Evaluate() {
  try {
    blends_.resize(outputs_.size() * 2);
  } catch (const std::bad_alloc&) {
    return;
  }
  for (Blend& b : blends_) b.used = false;
  for (Track& t : tracks_) {
    const D3DXTRACK_DESC& d = t.desc;
    if (!d.Enable || !t.set || d.Weight == 0.0f) continue;
    Bind(t);
    if (!t.bound) continue;
    const double position = t.set->GetPeriodicPosition(d.Position);
    const float w = d.Weight;
    for (UINT a = 0; a < t.binding.size(); ++a) {
      const int o = t.binding[a];
      if (o < 0) continue;
      D3DXVECTOR3 s, tr;
      D3DXQUATERNION r;
      if (FAILED(t.set->GetSRT(position, a, &s, &r, &tr))) continue;
      Blend& b = blends_[size_t(o) * 2 + (d.Priority == D3DXPRIORITY_HIGH ? 1 : 0)];
      if (!b.used) {
        b = Blend{s * w, r, tr * w, w, true};
        continue;
      }
      b.scale += s * w;
      b.translation += tr * w;
      // Each further track turns the blend towards its rotation by its share of the weight, so
      // two tracks end up at the slerp that their weights divide.
      const float total = b.weight + w;
      if (total != 0.0f) D3DXQuaternionSlerp(&b.rotation, &b.rotation, &r, w / total);
      b.weight = total;
    }
  }
  for (size_t o = 0; o < outputs_.size(); ++o) {
    const Blend& low = blends_[o * 2];
    const Blend& high = blends_[o * 2 + 1];
    if (!low.used && !high.used) continue;
    Blend result = high.used ? high : low;
    if (low.used && high.used) {
      const float p = priorityBlend_;
      result.scale = high.scale + (low.scale - high.scale) * p;
      result.translation = high.translation + (low.translation - high.translation) * p;
      D3DXQuaternionSlerp(&result.rotation, &high.rotation, &low.rotation, p);
    }
    const Output& out = outputs_[o];
    if (out.scale) *out.scale = result.scale;
    if (out.rotation) *out.rotation = result.rotation;
    if (out.translation) *out.translation = result.translation;
    if (out.matrix) {
      // Scale, then rotate, then translate: the rotation's rows scaled, the translation below.
      D3DXMATRIX& m = *out.matrix;
      D3DXMatrixRotationQuaternion(&m, &result.rotation);
      for (int c = 0; c < 3; ++c) {
        m.m[0][c] *= result.scale.x;
        m.m[1][c] *= result.scale.y;
        m.m[2][c] *= result.scale.z;
      }
      m._41 = result.translation.x;
      m._42 = result.translation.y;
      m._43 = result.translation.z;
    }
  }
}

}  // namespace

HRESULT WINAPI D3DXCreateAnimationController(UINT MaxNumMatrices, UINT MaxNumAnimationSets,
                                             UINT MaxNumTracks, UINT MaxNumEvents,
                                             LPD3DXANIMATIONCONTROLLER* ppAnimController) {
  if (!ppAnimController) return D3DERR_INVALIDCALL;
  *ppAnimController = nullptr;
  if (MaxNumTracks > kMaxTracks) return D3DERR_INVALIDCALL;
  try {
    *ppAnimController =
        new AnimationController(MaxNumMatrices, MaxNumAnimationSets, MaxNumTracks, MaxNumEvents);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}
