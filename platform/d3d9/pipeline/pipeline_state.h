// What the stages of the pipeline share: the device state that commands set, the layout of vertex
// data, transformed vertices and the fragments the rasteriser hands on.
#pragma once

#include <cstdint>
#include <vector>

#include "d3d9.h"

namespace d3d9 {

class Surface;
class VertexBuffer;
class IndexBuffer;
class VertexDeclaration;
template <class I>
class Shader;
using VertexShader = Shader<IDirect3DVertexShader9>;
using PixelShader = Shader<IDirect3DPixelShader9>;

constexpr int kMaxStages = 8;     // fixed-function texture stages
constexpr int kMaxSamplers = 16;  // pixel-shader samplers
// Texture and sampler-state slots: the pixel samplers, then the displacement-map sampler and the
// four vertex-texture samplers (D3DDMAPSAMPLER .. D3DVERTEXTEXTURESAMPLER3).
constexpr int kSamplerSlots = kMaxSamplers + 5;
constexpr int kVertexSamplerSlot = kMaxSamplers + 1;
// The slot of a sampler number of the interface, -1 for none.
inline int SamplerSlot(DWORD sampler) {
  if (sampler < kMaxSamplers) return static_cast<int>(sampler);
  if (sampler >= D3DDMAPSAMPLER && sampler <= D3DVERTEXTEXTURESAMPLER3)
    return kMaxSamplers + static_cast<int>(sampler - D3DDMAPSAMPLER);
  return -1;
}
constexpr int kMaxStreams = 16;
constexpr int kVertexFloatConstants = 256;
constexpr int kPixelFloatConstants = 224;
constexpr int kIntConstants = 16;
constexpr int kBoolConstants = 16;

// Shader constant registers as SetVertexShaderConstant* and SetPixelShaderConstant* leave them.
struct ShaderRegisters {
  float vsF[kVertexFloatConstants][4] = {};
  INT vsI[kIntConstants][4] = {};
  BOOL vsB[kBoolConstants] = {};
  float psF[kPixelFloatConstants][4] = {};
  INT psI[kIntConstants][4] = {};
  BOOL psB[kBoolConstants] = {};
};

struct StreamBinding {
  VertexBuffer* buffer = nullptr;
  UINT offset = 0;
  UINT stride = 0;
  UINT freq = 1;
};

struct LightSlot {
  D3DLIGHT9 light;
  bool enabled;
};

// Where one vertex element lives and how it is stored. stream < 0: the vertex has no such
// element.
struct ElementRef {
  int8_t stream = -1;
  uint8_t type = 0;  // D3DDECLTYPE
  uint16_t offset = 0;
  bool present() const { return stream >= 0; }
};

// The layout of vertex data, from an FVF code or a vertex declaration, indexed by what the fixed
// function pipeline reads.
struct VertexLayout {
  bool valid = false;
  bool pretransformed = false;  // XYZRHW or POSITIONT: screen positions, no transform or lighting
  DWORD fvf = 0;                // the FVF code, 0 for a declaration
  ElementRef position, blendWeight, blendIndices, normal, psize, diffuse, specular;
  ElementRef tex[8];
  int texCount = 0;        // coordinate sets present: the highest set plus one
  uint16_t streams = 0;    // streams read
  UINT need[kMaxStreams];  // bytes of one vertex read from each stream
  // The FVF's vertex size in stream 0 (0 for a declaration).
  UINT stride = 0;
  // Every element by its usage and usage index, for vertex shaders.
  struct Semantic {
    uint8_t usage = 0;
    uint8_t index = 0;
    ElementRef ref;
  };
  Semantic semantics[MAXD3DDECLLENGTH];
  uint8_t semanticCount = 0;
  ElementRef Find(int usage, int index) const {
    for (int i = 0; i < semanticCount; ++i)
      if (semantics[i].usage == usage && semantics[i].index == index) return semantics[i].ref;
    return ElementRef{};
  }

  static VertexLayout FromFvf(DWORD fvf);
  static VertexLayout FromElements(const D3DVERTEXELEMENT9* elements, size_t count);
};

// Number of floats an element of type `type` gives, 0 for an unknown type.
int ElementComponents(uint8_t type);
// Bytes an element of type `type` takes, 0 for an unknown type.
UINT ElementSize(uint8_t type);
// Reads an element as four floats; missing components are 0, 0, 0, 1.
void ReadElement(uint8_t type, const uint8_t* p, float out[4]);

// The pipeline state. The device keeps two: the one the application sets and reads back, and the
// one its worker draws with, which follows the first through the command stream.
struct DeviceState {
  DWORD rs[256];
  DWORD tss[kMaxStages][33];
  DWORD samp[kSamplerSlots][14];
  D3DMATRIX world, view, proj;
  D3DMATRIX texTransform[kMaxStages];
  D3DVIEWPORT9 viewport{};
  D3DMATERIAL9 material{};
  std::vector<LightSlot> lights;
  float clipPlanes[6][4] = {};
  RECT scissor{};
  IDirect3DBaseTexture9* textures[kSamplerSlots] = {};
  StreamBinding streams[kMaxStreams];
  IndexBuffer* indices = nullptr;
  DWORD fvf = 0;
  VertexDeclaration* declaration = nullptr;
  VertexLayout layout;  // of the declaration when one is set, else of the FVF
  Surface* renderTarget = nullptr;
  Surface* depthStencil = nullptr;
  VertexShader* vertexShader = nullptr;
  PixelShader* pixelShader = nullptr;
  ShaderRegisters constants;
};

// --- Vertices after vertex processing ------------------------------------------------------------
// Clip-space position (x, y, z, w), or screen position with w = 1 / rhw once mapped to the
// viewport; then the attributes the rasteriser interpolates: ten four-component varyings and the
// fog factor. Fixed function fills varying 0 with the diffuse colour, 1 with the specular colour
// and 2 + s with stage s's coordinates, which is also where pixel shaders find their colour and
// texture-coordinate inputs.
constexpr int kVaryings = 10;
constexpr int kAttrDiffuse = 0;          // r, g, b, a in 0..255 (fixed function), 0..1 (shaders)
constexpr int kAttrSpecular = 4;         // r, g, b, a, the same
constexpr int kAttrTex = 8;              // per texture stage: u, v, w, q
constexpr int kAttrFog = 4 * kVaryings;  // vertex fog factor, 1 = no fog
constexpr int kTexSlots = kMaxStages;
constexpr int kAttrCount = kAttrFog + 1;
static_assert(kAttrTex + 4 * kTexSlots == kAttrFog);

struct RVertex {
  float x, y, z, w;
  float attr[kAttrCount];
  float psize;  // point size in pixels
};

// --- Fragments ----------------------------------------------------------------------------------
// Up to kBatchLanes fragments of one primitive, in the order the rasteriser found them. Triangles
// come in 2 x 2 quads (lanes 4q .. 4q + 3: top left, top right, bottom left, bottom right), with
// lanes outside the primitive present but not covered, so that neighbours can be differenced.
constexpr int kBatchQuads = 16;
constexpr int kBatchLanes = 4 * kBatchQuads;

struct FragmentBatch {
  int lanes = 0;
  bool quads = true;        // false: lanes are single pixels (lines and points)
  bool backFacing = false;  // the primitive is counter-clockwise on screen
  uint64_t live = 0;        // lanes still to be written
  int16_t x[kBatchLanes];
  int16_t y[kBatchLanes];
  float z[kBatchLanes];    // depth in 0..1
  float eye[kBatchLanes];  // distance from the eye along the view direction (for pixel fog)
  // Interpolated attributes, one row per attribute; only the rows the draw needs are written.
  float attr[kAttrCount][kBatchLanes];
  uint32_t colour[kBatchLanes];  // the pixel stage's result, A8R8G8B8
  // A pixel shader's result before it is clamped and rounded (r, g, b, a rows), which
  // floating-point targets store; valid when floatColour is set.
  bool floatColour = false;
  float colourF[4][kBatchLanes];
};

}  // namespace d3d9
