// D3DX 9 frame hierarchies and animation: D3DXFRAME and mesh containers built through the
// application's ID3DXAllocateHierarchy, the frame helpers, hierarchies from .x files, keyframed
// animation sets and the animation controller that blends them into frame matrices.
#pragma once

#include "d3dx9mesh.h"

#ifndef DOUBLE_DEFINED
#define DOUBLE_DEFINED
typedef double DOUBLE;
#endif

extern const IID IID_ID3DXAnimationSet;
extern const IID IID_ID3DXKeyframedAnimationSet;
extern const IID IID_ID3DXAnimationController;

typedef struct ID3DXAllocateHierarchy* LPD3DXALLOCATEHIERARCHY;
typedef struct ID3DXLoadUserData* LPD3DXLOADUSERDATA;
typedef struct ID3DXAnimationSet* LPD3DXANIMATIONSET;
typedef struct ID3DXKeyframedAnimationSet* LPD3DXKEYFRAMEDANIMATIONSET;
typedef struct ID3DXAnimationController* LPD3DXANIMATIONCONTROLLER;
typedef struct ID3DXAnimationCallbackHandler* LPD3DXANIMATIONCALLBACKHANDLER;
// The .x file object interface (d3dx9xof.h); only named here, for ID3DXLoadUserData.
struct ID3DXFileData;
typedef ID3DXFileData* LPD3DXFILEDATA;
struct ID3DXPMesh;
struct ID3DXPatchMesh;

// --- Frames and mesh containers ------------------------------------------------------------------
typedef enum _D3DXMESHDATATYPE {
  D3DXMESHTYPE_MESH = 0x001,
  D3DXMESHTYPE_PMESH = 0x002,
  D3DXMESHTYPE_PATCHMESH = 0x003,
  D3DXMESHTYPE_FORCE_DWORD = 0x7fffffff
} D3DXMESHDATATYPE;

typedef struct _D3DXMESHDATA {
  D3DXMESHDATATYPE Type;
  union {
    LPD3DXMESH pMesh;
    ID3DXPMesh* pPMesh;
    ID3DXPatchMesh* pPatchMesh;
  };
} D3DXMESHDATA, *LPD3DXMESHDATA;

typedef struct _D3DXMESHCONTAINER {
  LPSTR Name;
  D3DXMESHDATA MeshData;
  LPD3DXMATERIAL pMaterials;
  LPD3DXEFFECTINSTANCE pEffects;
  DWORD NumMaterials;
  DWORD* pAdjacency;
  LPD3DXSKININFO pSkinInfo;
  struct _D3DXMESHCONTAINER* pNextMeshContainer;
} D3DXMESHCONTAINER, *LPD3DXMESHCONTAINER;

typedef struct _D3DXFRAME {
  LPSTR Name;
  D3DXMATRIX TransformationMatrix;
  LPD3DXMESHCONTAINER pMeshContainer;
  struct _D3DXFRAME* pFrameSibling;
  struct _D3DXFRAME* pFrameFirstChild;
} D3DXFRAME, *LPD3DXFRAME;

// Written by the application: D3DX asks it for every frame and mesh container, so the
// application may allocate larger records that begin with D3DXFRAME / D3DXMESHCONTAINER. The
// mesh, materials, effect instances, adjacency and skin information handed to
// CreateMeshContainer belong to the caller of the loader; the allocator copies or AddRefs what it
// keeps. Not a COM interface.
DECLARE_INTERFACE(ID3DXAllocateHierarchy) {
  STDMETHOD(CreateFrame)(LPCSTR Name, LPD3DXFRAME * ppNewFrame) PURE;
  STDMETHOD(CreateMeshContainer)
  (LPCSTR Name, const D3DXMESHDATA* pMeshData, const D3DXMATERIAL* pMaterials,
   const D3DXEFFECTINSTANCE* pEffectInstances, DWORD NumMaterials, const DWORD* pAdjacency,
   LPD3DXSKININFO pSkinInfo, LPD3DXMESHCONTAINER* ppNewMeshContainer) PURE;
  STDMETHOD(DestroyFrame)(LPD3DXFRAME pFrameToFree) PURE;
  STDMETHOD(DestroyMeshContainer)(LPD3DXMESHCONTAINER pMeshContainerToFree) PURE;

 protected:
  ~ID3DXAllocateHierarchy() = default;
};

// Application data objects of a .x file. Accepted by the loaders and never called: this D3DX
// has no ID3DXFileData to hand over.
DECLARE_INTERFACE(ID3DXLoadUserData) {
  STDMETHOD(LoadTopLevelData)(LPD3DXFILEDATA pXofChildData) PURE;
  STDMETHOD(LoadFrameChildData)(LPD3DXFRAME pFrame, LPD3DXFILEDATA pXofChildData) PURE;
  STDMETHOD(LoadMeshChildData)
  (LPD3DXMESHCONTAINER pMeshContainer, LPD3DXFILEDATA pXofChildData) PURE;

 protected:
  ~ID3DXLoadUserData() = default;
};

// --- Frame helpers -------------------------------------------------------------------------------
// Destroys the frame, its siblings and all their descendants and mesh containers through pAlloc.
HRESULT WINAPI D3DXFrameDestroy(LPD3DXFRAME pFrameRoot, LPD3DXALLOCATEHIERARCHY pAlloc);
// Appends pFrameChild at the end of pFrameParent's children.
HRESULT WINAPI D3DXFrameAppendChild(LPD3DXFRAME pFrameParent, const D3DXFRAME* pFrameChild);
// The first frame named Name, searching the frame, its descendants and then its siblings.
LPD3DXFRAME WINAPI D3DXFrameFind(const D3DXFRAME* pFrameRoot, LPCSTR Name);
// Registers the TransformationMatrix of every named frame as an animation output.
HRESULT WINAPI D3DXFrameRegisterNamedMatrices(LPD3DXFRAME pFrameRoot,
                                              LPD3DXANIMATIONCONTROLLER pAnimController);
UINT WINAPI D3DXFrameNumNamedMatrices(const D3DXFRAME* pFrameRoot);
// The sphere around the vertices of every mesh of the hierarchy, each placed by its frames'
// matrices (root first): centre at the average position, radius to the farthest vertex.
HRESULT WINAPI D3DXFrameCalculateBoundingSphere(const D3DXFRAME* pFrameRoot,
                                                LPD3DXVECTOR3 pObjectCenter, FLOAT* pObjectRadius);

// --- Hierarchies from .x files -------------------------------------------------------------------
// Frames, mesh containers (with skin information where the mesh has SkinWeights) and, when the
// file has animation sets and ppAnimController is given, an animation controller with every named
// frame registered and the first set on track 0. Several top-level frames get a root frame of
// their own. On failure everything built so far is destroyed through pAlloc.
HRESULT WINAPI D3DXLoadMeshHierarchyFromXA(LPCSTR Filename, DWORD MeshOptions,
                                           LPDIRECT3DDEVICE9 pD3DDevice,
                                           LPD3DXALLOCATEHIERARCHY pAlloc,
                                           LPD3DXLOADUSERDATA pUserDataLoader,
                                           LPD3DXFRAME* ppFrameHierarchy,
                                           LPD3DXANIMATIONCONTROLLER* ppAnimController);
HRESULT WINAPI D3DXLoadMeshHierarchyFromXInMemory(LPCVOID Memory, DWORD SizeOfMemory,
                                                  DWORD MeshOptions, LPDIRECT3DDEVICE9 pD3DDevice,
                                                  LPD3DXALLOCATEHIERARCHY pAlloc,
                                                  LPD3DXLOADUSERDATA pUserDataLoader,
                                                  LPD3DXFRAME* ppFrameHierarchy,
                                                  LPD3DXANIMATIONCONTROLLER* ppAnimController);

// --- Animation sets ------------------------------------------------------------------------------
typedef enum _D3DXPLAYBACK_TYPE {
  D3DXPLAY_LOOP = 0,
  D3DXPLAY_ONCE = 1,
  D3DXPLAY_PINGPONG = 2,
  D3DXPLAY_FORCE_DWORD = 0x7fffffff
} D3DXPLAYBACK_TYPE;

// Key times are in the set's source ticks.
typedef struct _D3DXKEY_VECTOR3 {
  FLOAT Time;
  D3DXVECTOR3 Value;
} D3DXKEY_VECTOR3, *LPD3DXKEY_VECTOR3;

typedef struct _D3DXKEY_QUATERNION {
  FLOAT Time;
  D3DXQUATERNION Value;
} D3DXKEY_QUATERNION, *LPD3DXKEY_QUATERNION;

typedef struct _D3DXKEY_CALLBACK {
  FLOAT Time;
  LPVOID pCallbackData;
} D3DXKEY_CALLBACK, *LPD3DXKEY_CALLBACK;

typedef enum _D3DXCOMPRESSION_FLAGS {
  D3DXCOMPRESS_DEFAULT = 0x00,
  D3DXCOMPRESS_FORCE_DWORD = 0x7fffffff
} D3DXCOMPRESSION_FLAGS;

typedef enum _D3DXCALLBACK_SEARCH_FLAGS {
  D3DXCALLBACK_SEARCH_EXCLUDING_INITIAL_POSITION = 0x01,
  D3DXCALLBACK_SEARCH_BEHIND_INITIAL_POSITION = 0x02,
  D3DXCALLBACK_SEARCH_FORCE_DWORD = 0x7fffffff
} D3DXCALLBACK_SEARCH_FLAGS;

// Positions are in seconds; a set maps a track position into its period by its playback type.
DECLARE_INTERFACE_(ID3DXAnimationSet, IUnknown) {
  STDMETHOD_(LPCSTR, GetName)() PURE;
  STDMETHOD_(DOUBLE, GetPeriod)() PURE;
  STDMETHOD_(DOUBLE, GetPeriodicPosition)(DOUBLE Position) PURE;
  STDMETHOD_(UINT, GetNumAnimations)() PURE;
  STDMETHOD(GetAnimationNameByIndex)(UINT Index, LPCSTR * ppName) PURE;
  STDMETHOD(GetAnimationIndexByName)(LPCSTR pName, UINT * pIndex) PURE;
  STDMETHOD(GetSRT)
  (DOUBLE PeriodicPosition, UINT Animation, D3DXVECTOR3 * pScale, D3DXQUATERNION * pRotation,
   D3DXVECTOR3 * pTranslation) PURE;
  STDMETHOD(GetCallback)
  (DOUBLE Position, DWORD Flags, DOUBLE * pCallbackPosition, LPVOID * ppCallbackData) PURE;
};

// Scale and translation keys interpolate linearly, rotation keys spherically; before the first
// key and after the last the nearest key holds. The period runs from 0 to the latest key.
DECLARE_INTERFACE_(ID3DXKeyframedAnimationSet, ID3DXAnimationSet) {
  STDMETHOD_(D3DXPLAYBACK_TYPE, GetPlaybackType)() PURE;
  STDMETHOD_(DOUBLE, GetSourceTicksPerSecond)() PURE;
  STDMETHOD_(UINT, GetNumScaleKeys)(UINT Animation) PURE;
  STDMETHOD(GetScaleKeys)(UINT Animation, LPD3DXKEY_VECTOR3 pScaleKeys) PURE;
  STDMETHOD(GetScaleKey)(UINT Animation, UINT Key, LPD3DXKEY_VECTOR3 pScaleKey) PURE;
  STDMETHOD(SetScaleKey)(UINT Animation, UINT Key, LPD3DXKEY_VECTOR3 pScaleKey) PURE;
  STDMETHOD_(UINT, GetNumRotationKeys)(UINT Animation) PURE;
  STDMETHOD(GetRotationKeys)(UINT Animation, LPD3DXKEY_QUATERNION pRotationKeys) PURE;
  STDMETHOD(GetRotationKey)(UINT Animation, UINT Key, LPD3DXKEY_QUATERNION pRotationKey) PURE;
  STDMETHOD(SetRotationKey)(UINT Animation, UINT Key, LPD3DXKEY_QUATERNION pRotationKey) PURE;
  STDMETHOD_(UINT, GetNumTranslationKeys)(UINT Animation) PURE;
  STDMETHOD(GetTranslationKeys)(UINT Animation, LPD3DXKEY_VECTOR3 pTranslationKeys) PURE;
  STDMETHOD(GetTranslationKey)(UINT Animation, UINT Key, LPD3DXKEY_VECTOR3 pTranslationKey) PURE;
  STDMETHOD(SetTranslationKey)(UINT Animation, UINT Key, LPD3DXKEY_VECTOR3 pTranslationKey) PURE;
  STDMETHOD_(UINT, GetNumCallbackKeys)() PURE;
  STDMETHOD(GetCallbackKeys)(LPD3DXKEY_CALLBACK pCallbackKeys) PURE;
  STDMETHOD(GetCallbackKey)(UINT Key, LPD3DXKEY_CALLBACK pCallbackKey) PURE;
  STDMETHOD(SetCallbackKey)(UINT Key, LPD3DXKEY_CALLBACK pCallbackKey) PURE;
  STDMETHOD(UnregisterScaleKey)(UINT Animation, UINT Key) PURE;
  STDMETHOD(UnregisterRotationKey)(UINT Animation, UINT Key) PURE;
  STDMETHOD(UnregisterTranslationKey)(UINT Animation, UINT Key) PURE;
  STDMETHOD(RegisterAnimationSRTKeys)
  (LPCSTR pName, UINT NumScaleKeys, UINT NumRotationKeys, UINT NumTranslationKeys,
   const D3DXKEY_VECTOR3* pScaleKeys, const D3DXKEY_QUATERNION* pRotationKeys,
   const D3DXKEY_VECTOR3* pTranslationKeys, DWORD* pAnimationIndex) PURE;
  // Not available here: E_NOTIMPL.
  STDMETHOD(Compress)
  (DWORD Flags, FLOAT Lossiness, LPD3DXFRAME pHierarchy, LPD3DXBUFFER * ppCompressedData) PURE;
  STDMETHOD(UnregisterAnimation)(UINT Index) PURE;
};

// NumAnimations is how many animations the set can hold; TicksPerSecond converts key times.
HRESULT WINAPI D3DXCreateKeyframedAnimationSet(LPCSTR pName, DOUBLE TicksPerSecond,
                                               D3DXPLAYBACK_TYPE Playback, UINT NumAnimations,
                                               UINT NumCallbackKeys,
                                               const D3DXKEY_CALLBACK* pCallbackKeys,
                                               LPD3DXKEYFRAMEDANIMATIONSET* ppAnimationSet);

// --- The animation controller --------------------------------------------------------------------
typedef enum _D3DXPRIORITY_TYPE {
  D3DXPRIORITY_LOW = 0,
  D3DXPRIORITY_HIGH = 1,
  D3DXPRIORITY_FORCE_DWORD = 0x7fffffff
} D3DXPRIORITY_TYPE;

typedef struct _D3DXTRACK_DESC {
  D3DXPRIORITY_TYPE Priority;
  FLOAT Weight;
  FLOAT Speed;
  DOUBLE Position;
  BOOL Enable;
} D3DXTRACK_DESC, *LPD3DXTRACK_DESC;

typedef enum _D3DXEVENT_TYPE {
  D3DXEVENT_TRACKSPEED = 0,
  D3DXEVENT_TRACKWEIGHT = 1,
  D3DXEVENT_TRACKPOSITION = 2,
  D3DXEVENT_TRACKENABLE = 3,
  D3DXEVENT_PRIORITYBLEND = 4,
  D3DXEVENT_FORCE_DWORD = 0x7fffffff
} D3DXEVENT_TYPE;

typedef enum _D3DXTRANSITION_TYPE {
  D3DXTRANSITION_LINEAR = 0x000,
  D3DXTRANSITION_EASEINEASEOUT = 0x001,
  D3DXTRANSITION_FORCE_DWORD = 0x7fffffff
} D3DXTRANSITION_TYPE;

typedef struct _D3DXEVENT_DESC {
  D3DXEVENT_TYPE Type;
  UINT Track;
  DOUBLE StartTime;
  DOUBLE Duration;
  D3DXTRANSITION_TYPE Transition;
  union {
    FLOAT Weight;
    FLOAT Speed;
    DOUBLE Position;
    BOOL Enable;
  };
} D3DXEVENT_DESC, *LPD3DXEVENT_DESC;

// 0 stands for no event (and for a key that could not be made).
typedef DWORD D3DXEVENTHANDLE;
typedef D3DXEVENTHANDLE* LPD3DXEVENTHANDLE;

DECLARE_INTERFACE(ID3DXAnimationCallbackHandler) {
  STDMETHOD(HandleCallback)(UINT Track, LPVOID pCallbackData) PURE;

 protected:
  ~ID3DXAnimationCallbackHandler() = default;
};

// AdvanceTime moves every enabled track by TimeDelta times its speed, samples each track's set
// and writes the registered outputs of the animations it finds: within a priority, scale and
// translation are the weighted sum of the tracks and rotations are blended by slerp in
// proportion to the weights; when both priorities animate an output, the priority blend weight
// mixes them (0: high priority only, 1: low priority only). Outputs no track animates keep
// their values.
DECLARE_INTERFACE_(ID3DXAnimationController, IUnknown) {
  STDMETHOD_(UINT, GetMaxNumAnimationOutputs)() PURE;
  STDMETHOD_(UINT, GetMaxNumAnimationSets)() PURE;
  STDMETHOD_(UINT, GetMaxNumTracks)() PURE;
  STDMETHOD_(UINT, GetMaxNumEvents)() PURE;
  STDMETHOD(RegisterAnimationOutput)
  (LPCSTR pName, D3DXMATRIX * pMatrix, D3DXVECTOR3 * pScale, D3DXQUATERNION * pRotation,
   D3DXVECTOR3 * pTranslation) PURE;
  STDMETHOD(RegisterAnimationSet)(LPD3DXANIMATIONSET pAnimSet) PURE;
  STDMETHOD(UnregisterAnimationSet)(LPD3DXANIMATIONSET pAnimSet) PURE;
  STDMETHOD_(UINT, GetNumAnimationSets)() PURE;
  STDMETHOD(GetAnimationSet)(UINT Index, LPD3DXANIMATIONSET * ppAnimationSet) PURE;
  STDMETHOD(GetAnimationSetByName)(LPCSTR szName, LPD3DXANIMATIONSET * ppAnimationSet) PURE;
  STDMETHOD(AdvanceTime)(DOUBLE TimeDelta, LPD3DXANIMATIONCALLBACKHANDLER pCallbackHandler) PURE;
  STDMETHOD(ResetTime)() PURE;
  STDMETHOD_(DOUBLE, GetTime)() PURE;
  STDMETHOD(SetTrackAnimationSet)(UINT Track, LPD3DXANIMATIONSET pAnimSet) PURE;
  STDMETHOD(GetTrackAnimationSet)(UINT Track, LPD3DXANIMATIONSET * ppAnimSet) PURE;
  STDMETHOD(SetTrackPriority)(UINT Track, D3DXPRIORITY_TYPE Priority) PURE;
  STDMETHOD(SetTrackSpeed)(UINT Track, FLOAT Speed) PURE;
  STDMETHOD(SetTrackWeight)(UINT Track, FLOAT Weight) PURE;
  STDMETHOD(SetTrackPosition)(UINT Track, DOUBLE Position) PURE;
  STDMETHOD(SetTrackEnable)(UINT Track, BOOL Enable) PURE;
  STDMETHOD(SetTrackDesc)(UINT Track, LPD3DXTRACK_DESC pDesc) PURE;
  STDMETHOD(GetTrackDesc)(UINT Track, LPD3DXTRACK_DESC pDesc) PURE;
  STDMETHOD(SetPriorityBlend)(FLOAT BlendWeight) PURE;
  STDMETHOD_(FLOAT, GetPriorityBlend)() PURE;
  STDMETHOD_(D3DXEVENTHANDLE, KeyTrackSpeed)
  (UINT Track, FLOAT NewSpeed, DOUBLE StartTime, DOUBLE Duration, D3DXTRANSITION_TYPE Transition)
      PURE;
  STDMETHOD_(D3DXEVENTHANDLE, KeyTrackWeight)
  (UINT Track, FLOAT NewWeight, DOUBLE StartTime, DOUBLE Duration, D3DXTRANSITION_TYPE Transition)
      PURE;
  STDMETHOD_(D3DXEVENTHANDLE, KeyTrackPosition)
  (UINT Track, DOUBLE NewPosition, DOUBLE StartTime) PURE;
  STDMETHOD_(D3DXEVENTHANDLE, KeyTrackEnable)(UINT Track, BOOL NewEnable, DOUBLE StartTime) PURE;
  STDMETHOD_(D3DXEVENTHANDLE, KeyPriorityBlend)
  (FLOAT NewBlendWeight, DOUBLE StartTime, DOUBLE Duration, D3DXTRANSITION_TYPE Transition) PURE;
  STDMETHOD(UnkeyEvent)(D3DXEVENTHANDLE hEvent) PURE;
  STDMETHOD(UnkeyAllTrackEvents)(UINT Track) PURE;
  STDMETHOD(UnkeyAllPriorityBlends)() PURE;
  STDMETHOD_(D3DXEVENTHANDLE, GetCurrentTrackEvent)(UINT Track, D3DXEVENT_TYPE EventType) PURE;
  STDMETHOD_(D3DXEVENTHANDLE, GetCurrentPriorityBlend)() PURE;
  STDMETHOD_(D3DXEVENTHANDLE, GetUpcomingTrackEvent)(UINT Track, D3DXEVENTHANDLE hEvent) PURE;
  STDMETHOD_(D3DXEVENTHANDLE, GetUpcomingPriorityBlend)(D3DXEVENTHANDLE hEvent) PURE;
  STDMETHOD(ValidateEvent)(D3DXEVENTHANDLE hEvent) PURE;
  STDMETHOD(GetEventDesc)(D3DXEVENTHANDLE hEvent, LPD3DXEVENT_DESC pDesc) PURE;
  STDMETHOD(CloneAnimationController)
  (UINT MaxNumAnimationOutputs, UINT MaxNumAnimationSets, UINT MaxNumTracks, UINT MaxNumEvents,
   LPD3DXANIMATIONCONTROLLER * ppAnimController) PURE;
};

// Tracks start enabled, with weight 1, speed 1, low priority, at position 0 and without a set.
HRESULT WINAPI D3DXCreateAnimationController(UINT MaxNumMatrices, UINT MaxNumAnimationSets,
                                             UINT MaxNumTracks, UINT MaxNumEvents,
                                             LPD3DXANIMATIONCONTROLLER* ppAnimController);
