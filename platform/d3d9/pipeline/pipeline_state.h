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

constexpr int kMaxStages = 8;     // fixed-function texture stages
constexpr int kMaxSamplers = 16;  // texture slots (pixel-shader samplers)
constexpr int kMaxStreams = 16;

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
  DWORD samp[kMaxSamplers][14];
  D3DMATRIX world, view, proj;
  D3DMATRIX texTransform[kMaxStages];
  D3DVIEWPORT9 viewport{};
  D3DMATERIAL9 material{};
  std::vector<LightSlot> lights;
  float clipPlanes[6][4] = {};
  RECT scissor{};
  IDirect3DBaseTexture9* textures[kMaxSamplers] = {};
  StreamBinding streams[kMaxStreams];
  IndexBuffer* indices = nullptr;
  DWORD fvf = 0;
  VertexDeclaration* declaration = nullptr;
  VertexLayout layout;  // of the declaration when one is set, else of the FVF
  Surface* renderTarget = nullptr;
  Surface* depthStencil = nullptr;
};

// --- Vertices after vertex processing ------------------------------------------------------------
// Clip-space position (x, y, z, w), or screen position with w = 1 / rhw once mapped to the
// viewport; then the attributes the rasteriser interpolates.
constexpr int kAttrDiffuse = 0;   // r, g, b, a in 0..255
constexpr int kAttrSpecular = 4;  // r, g, b, a in 0..255
constexpr int kAttrFog = 8;       // vertex fog factor, 1 = no fog
constexpr int kAttrTex = 9;       // per texture stage: u, v, w, q
constexpr int kTexSlots = kMaxStages;
constexpr int kAttrCount = kAttrTex + 4 * kTexSlots;

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
};

}  // namespace d3d9
