// The device's command stream: what the application's thread records and the worker replays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "d3d9.h"

namespace d3d9 {

class Surface;
class Texture;

enum CommandOp : uint32_t {
  kOpRenderState,
  kOpStageState,
  kOpSamplerState,
  kOpTransform,
  kOpViewport,
  kOpScissor,
  kOpMaterial,
  kOpLight,
  kOpLightEnable,
  kOpClipPlane,
  kOpTexture,
  kOpFvf,
  kOpDeclaration,
  kOpStream,
  kOpIndices,
  kOpRenderTarget,
  kOpDepthStencil,
  kOpDraw,
  kOpClear,
  kOpStretchRect,
  kOpColorFill,
  kOpPresentCopy,
  kOpFastPaths,
  kOpVertexShader,
  kOpPixelShader,
  kOpShaderConstants,
};

// Every command starts with its header; `size` covers the header, the payload and what follows
// it, rounded up to 8 bytes.
struct CmdHeader {
  uint32_t op;
  uint32_t size;
};

constexpr size_t CommandSize(size_t payload) {
  return sizeof(CmdHeader) + ((payload + 7) & ~size_t{7});
}

// Big enough that a demo frame (a few thousand sprite quads) takes a handful of chunks, so the
// worker is woken a few times per frame, not per draw.
constexpr size_t kChunkBytes = 256 * 1024;

struct CmdState {
  DWORD a, b, c;  // render state (index, value); stage or sampler state (unit, type, value)
};

struct CmdTransform {
  DWORD state;
  D3DMATRIX m;
};

struct CmdViewport {
  D3DVIEWPORT9 vp;
};

struct CmdRect {
  RECT r;
};

struct CmdMaterial {
  D3DMATERIAL9 m;
};

struct CmdLight {
  DWORD index;
  D3DLIGHT9 light;
  BOOL enable;
};

struct CmdClipPlane {
  DWORD index;
  float plane[4];
};

// Binds an object (or nothing); the pin taken when recording passes to the worker's binding.
struct CmdBind {
  DWORD slot;
  void* object;
  UINT offset;
  UINT stride;
  DWORD value;  // FVF
};

// A draw. User-pointer draws carry their vertices (and indices) after the payload; buffer draws
// read every bound stream from vertex `firstVertex` on, and the bound indices at `indexOffset`.
struct CmdDraw {
  D3DPRIMITIVETYPE type;
  UINT prims;
  UINT stride;  // user-pointer data
  UINT vertexCount;
  UINT minIndex;
  uint32_t vertexBytes;  // user-pointer data: vertex bytes carried
  uint32_t indexBytes;   // user-pointer data: index bytes carried
  uint32_t firstVertex;  // buffer draws: BaseVertexIndex + MinVertexIndex
  uint32_t indexOffset;  // buffers are at most 256 MB
  bool user;
  bool indexed;
  bool i32;
};

// Shader constants: `count` registers from `start` follow, 16 bytes each (4 for booleans).
enum class ConstantFile : uint32_t { kVertexF, kVertexI, kVertexB, kPixelF, kPixelI, kPixelB };
struct CmdConstants {
  ConstantFile file;
  UINT start;
  UINT count;
};
struct ShaderRegisters;
// Copies registers into a file; ignores a range outside it.
void WriteConstants(ShaderRegisters& r, ConstantFile file, UINT start, UINT count,
                    const void* data);

struct CmdClear {
  DWORD count;  // rectangles that follow
  DWORD flags;
  D3DCOLOR color;
  float z;
  DWORD stencil;
};

struct CmdStretch {
  Surface* src;
  Surface* dst;
  RECT sr, dr;
  D3DTEXTUREFILTERTYPE filter;
};

struct CmdFill {
  Surface* surface;
  RECT r;
  D3DCOLOR color;
};

// The frame is written into the automation copy and, when its format is 32-bit XRGB, straight
// into the window's surface (whose memory stays put until the application's thread next asks
// SDL for it, which it does only after this command has run).
struct CmdPresent {
  Surface* source;  // the back buffer
  RECT sr, dr;
  int width, height;
  uint8_t* windowPixels;
  int windowPitch;
};

}  // namespace d3d9
