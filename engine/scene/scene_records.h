// Records of the engine's 3D lists: meshes, lights, effects, particle emitters, primitive buffers,
// animated meshes and screen primitives. Each holds what the scene passes read; the operations
// that fill these lists belong to applications beyond the demo.
#pragma once

#include <cstdint>

#include "d3d9.h"
#include "d3dx9.h"
#include "engine/core/engine_records.h"
#include "engine/core/object_list.h"

struct Texture;
struct ID3DXMesh;
struct ID3DXEffect;
struct ID3DXAnimationController;
// Frame hierarchy nodes of an animated mesh (a D3DX frame and mesh container with the engine's
// additions); their layout belongs to the animated-mesh pass.
struct AnimationFrame;
struct MeshContainer;

// The D3DX effect, mesh and animation interfaces arrive with the scene passes. Until a platform
// header declares one, no record can hold a live object of it, so there is nothing to release
// or notify; these helpers let the engine's clean-up and reset code handle both cases.
template <class Interface>
concept DeclaredInterface = requires {
  sizeof(Interface);
};

template <class Interface>
void ReleaseSceneInterface(Interface*& object) {
  if constexpr (DeclaredInterface<Interface>) {
    SafeRelease(object);
  } else {
    object = nullptr;
  }
}

template <class Interface>
void NotifySceneInterfaceLost(Interface* object) {
  if constexpr (DeclaredInterface<Interface>) {
    if (object != nullptr) object->OnLostDevice();
  }
}

template <class Interface>
void NotifySceneInterfaceReset(Interface* object) {
  if constexpr (DeclaredInterface<Interface>) {
    if (object != nullptr) object->OnResetDevice();
  }
}

// An effect of EffectList.
struct Effect {
  ID3DXEffect* D3DEffect;
};

// One entry of a mesh's material references: the texture and material of one subset.
struct MaterialRef {
  Texture* TextureHandle;
};

// A mesh of MeshList.
struct Mesh {
  ID3DXMesh* D3DMesh;       // null: never drawn
  D3DMATRIX World;          // fourth row holds the position
  float RotationAngles[3];  // yaw, pitch, roll in degrees; used when this mesh is a parent
  float OffsetAngles[3];    // yaw, pitch, roll in degrees; used when this mesh is a parent
  Mesh* Parent;
  int32_t InheritPositionOnly;
  uint8_t Hidden;      // 1: skipped
  int32_t BoundsKind;  // 1 sphere, 2 box, other: never culled
  float BoxOffset[3];
  float BoxHalfSize[3];
  float SphereOffset[3];
  float SphereRadius;
  D3DMATERIAL9 OwnMaterial;
  uint8_t NoVertexColour;
  ObjectList<MaterialRef> MaterialRefs;  // one per subset, in subset order
  D3DCOLOR BlendFactorColour;
  uint8_t MeshBlendMode;  // 0 opaque, 1 additive, 2 alpha blended, 3 additive by blend factor
  Texture* BumpTexture;
  Effect* MeshEffect;  // when set, draws the mesh instead of the fixed-function path
};

// A light of LightList.
struct Light {
  D3DLIGHT9 D3DLight;
  int32_t LightIndex;
  D3DMATRIX ShadowView;
  D3DMATRIX ShadowProjection;
  float Target[3];
};

// One particle of an emitter.
struct Particle {
  float Position[3];
  float Velocity[3];
  float Size;
  D3DCOLOR Colour;
  double BirthTime;  // emitter clock at birth
  double Lifetime;   // seconds
  int32_t FrameIndex;
  double FrameTimer;  // sixtieths of a second
};

// A particle emitter of ParticleEmitterList.
struct ParticleEmitter {
  int32_t LiveCount;
  D3DMATRIX World;
  ObjectList<Particle> Particles;  // oldest first
  float Clock;
  float LastBurst;
  IDirect3DVertexBuffer9* VertexBuffer;  // MaxParticles point-sprite vertices of 20 bytes
  IDirect3DTexture9* BaseTexture;
  IDirect3DTexture9* FrameTextures[31];
  float AnimationRate;  // frames per second; 0: no animation
  int32_t LastFrame;
  int32_t MaxParticles;
  int32_t BurstSize;
  float BurstInterval;
  float LifeMin;
  float LifeMax;
  float SizeMin;
  float SizeMax;
  uint8_t ColourMin[3];  // red, green, blue
  uint8_t ColourMax[3];
  float Origin[3];
  float StartVelocity[3];
  float Gravity[3];
  float TargetVelocity[3];
  uint8_t PullToTarget;
  uint8_t ApplyGravity;
  float VelocitySpread;
};

// A primitive buffer of PrimitiveBufferList: coloured, untextured points, lines or triangles.
struct PrimitiveBuffer {
  IDirect3DVertexBuffer9* VertexBuffer;  // 16-byte XYZ|DIFFUSE vertices; null: not drawn
  D3DMATRIX World;
  int32_t PrimitiveCount;
  int32_t PrimitiveType;  // a D3DPRIMITIVETYPE value
};

// An animated mesh of AnimatedMeshList: a frame hierarchy driven by an animation controller.
struct AnimatedMesh {
  D3DMATRIX World;
  AnimationFrame* RootFrame;
  ID3DXAnimationController* Controller;
  float TimeScale;
  MeshContainer* SkinnedContainer;
  D3DXMATRIX* BoneMatrices;  // one per bone: scratch output of the skinning
};

// A queued command of ScreenPrimitiveQueue, drawn by the CPU into the locked back buffer.
struct ScreenPrimitive {
  int32_t X1;  // first point x, or centre x
  int32_t Y1;  // first point y, or centre y
  int32_t X2;  // second point x, or radius
  int32_t Y2;
  int32_t Kind;  // 0 pixel, 1 line, 2 circle, 3 filled circle, 4 rectangle, 5 filled rectangle
  D3DCOLOR Colour;
};
