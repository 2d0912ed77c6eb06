// Vertex and pixel shaders of shader models 2 and 3 on the CPU: the device's side of shaders.
//
// CreateShaderProgram validates an untrusted Direct3D 9 token stream and translates it into a
// program that runs over kShaderLanes lanes at once (vertices, or four 2 x 2 pixel quads), in
// structure-of-arrays registers, with AVX2 + FMA code paths chosen at run time. A ShaderProgram
// is immutable and may be shared between threads; a ShaderExecutor holds the registers of one
// thread's runs.
//
// Vertex runs:
//   executor.Bind(program, constants, sampler);       // once per draw, or when constants change
//   for each group of up to 16 vertices:
//     fill executor.vertices().input[r] for every declared input register r (program.inputs())
//     executor.RunVertices(count);
//     read executor.vertices().output[slot] for every output (program.outputs()).
// Pixel runs: lanes 4q .. 4q + 3 are quad q's top-left, top-right, bottom-left and bottom-right
// pixels. Fill pixels().input[slot] (interpolated, by program.inputs()), position (vPos: the
// pixel's integer x and y) and face (vFace: > 0 front, < 0 back) for all 16 lanes, helper pixels
// included, then RunPixels(coverage) and read pixels().color[n] / depth for the covered lanes that
// were not killed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "d3d9types.h"
#include "windef.h"

namespace vexa {

constexpr int kShaderLanes = 16;
constexpr uint32_t kAllShaderLanes = 0xFFFFu;

// One value per lane.
struct alignas(64) ShaderLanes {
  float v[kShaderLanes];
};
// A four-component register over all lanes, component-major: c[0] is x (or r) of every lane.
struct ShaderVec4 {
  ShaderLanes c[4];
};

enum class ShaderType : uint8_t { kVertex, kPixel };

// Register files the executor's batches use.
constexpr int kVertexInputRegisters = 16;  // v0 .. v15
constexpr int kVertexOutputSlots = 13;     // see ShaderProgram::outputs()
constexpr int kPixelInputSlots = 10;       // see ShaderProgram::inputs()
constexpr int kPixelColorOutputs = 4;      // oC0 .. oC3

// Fixed output slots of vs_2_0 (vs_3_0 uses slot n for o#n).
constexpr int kVs2SlotPosition = 0;
constexpr int kVs2SlotColor0 = 1;     // oD0, oD1
constexpr int kVs2SlotTexcoord0 = 3;  // oT0 .. oT7
constexpr int kVs2SlotFog = 11;
constexpr int kVs2SlotPointSize = 12;
// Input slots of ps_2_0 (ps_3_0 uses slot n for v#n).
constexpr int kPs2SlotTexcoord0 = 0;  // t0 .. t7
constexpr int kPs2SlotColor0 = 8;     // v0, v1

struct VertexBatch {
  ShaderVec4 input[kVertexInputRegisters];
  ShaderVec4 output[kVertexOutputSlots];
};

struct PixelBatch {
  ShaderVec4 input[kPixelInputSlots];
  ShaderLanes position[2];  // vPos.x, vPos.y
  ShaderLanes face;         // vFace
  ShaderVec4 color[kPixelColorOutputs];
  ShaderLanes depth;  // oDepth, when the program writes it
};

// An input or output with its declared meaning.
struct ShaderSemantic {
  BYTE usage = 0;        // D3DDECLUSAGE
  BYTE usage_index = 0;  // 0 .. 15
  BYTE slot = 0;         // register (vertex inputs) or slot of the batch
  BYTE mask = 0;         // components declared, bit 0 = x
};

struct ShaderSamplerUse {
  BYTE index = 0;  // s#; vertex texture samplers are 0 .. 3 (D3DVERTEXTEXTURESAMPLER0 + n)
  D3DSAMPLER_TEXTURE_TYPE type = D3DSTT_2D;
};

struct ShaderFloatDef {
  UINT reg = 0;
  float v[4] = {};
};
struct ShaderIntDef {
  UINT reg = 0;
  INT v[4] = {};
};
struct ShaderBoolDef {
  UINT reg = 0;
  BOOL v = FALSE;
};

// How a texture read asks for its level of detail.
enum class SampleMode : uint8_t {
  kImplicit,  // from the quad: derivatives of (u, v, w) between neighbouring lanes
  kBias,      // implicit, plus lod[lane]
  kLod,       // lod[lane] is the level
  kGrad,      // ddx/ddy hold the derivatives
};

struct SampleRequest {
  int sampler = 0;  // s#
  D3DSAMPLER_TEXTURE_TYPE type = D3DSTT_2D;
  SampleMode mode = SampleMode::kImplicit;
  ShaderType stage = ShaderType::kPixel;
  const float* u = nullptr;  // kShaderLanes coordinates each (w: cube, volume)
  const float* v = nullptr;
  const float* w = nullptr;
  const float* lod = nullptr;  // kBias and kLod
  const float* ddx[3] = {};    // kGrad
  const float* ddy[3] = {};
  uint32_t active = kAllShaderLanes;  // lanes whose colour is used
  uint8_t components = 0xF;           // colour channels used (bit 0 red ... bit 3 alpha)
};

// Texture reads, implemented by the device. One call covers all lanes; `rgba` receives
// 4 x kShaderLanes floats: the red of every lane, then green, blue, alpha. Channels outside
// `components` are not read by the program and may be left unwritten.
class ShaderSampler {
 public:
  virtual void Sample(const SampleRequest& request, float* rgba) = 0;

 protected:
  ~ShaderSampler() = default;
};

// Which compiled code path a program uses.
enum class ShaderCodePath : uint8_t {
  kBest,     // AVX2 + FMA when the processor has them
  kGeneric,  // baseline x86-64 (SSE2)
};

namespace sm {
struct Compiled;
}

class ShaderProgram {
 public:
  ShaderProgram();
  ~ShaderProgram();
  ShaderProgram(const ShaderProgram&);
  ShaderProgram& operator=(const ShaderProgram&);

  bool valid() const { return compiled_ != nullptr; }
  ShaderType type() const;
  DWORD version() const;  // the version token, e.g. 0xFFFE0300
  size_t dwords() const;  // length of the token stream, end token included

  // Vertex programs: one entry per declared input register (slot = v#). Pixel programs: one per
  // declared input (slot into PixelBatch::input); vPos and vFace are not listed here.
  const std::vector<ShaderSemantic>& inputs() const;
  // Vertex programs: one per output (slot into VertexBatch::output; a vs_3_0 register may carry
  // several semantics on different components). Pixel programs: COLORn (slot n) and DEPTH.
  const std::vector<ShaderSemantic>& outputs() const;
  const std::vector<ShaderSamplerUse>& samplers() const;
  const std::vector<ShaderFloatDef>& float_defs() const;
  const std::vector<ShaderIntDef>& int_defs() const;
  const std::vector<ShaderBoolDef>& bool_defs() const;
  bool uses_position() const;  // ps_3_0 reads vPos
  bool uses_face() const;      // ps_3_0 reads vFace
  bool writes_depth() const;
  bool may_kill() const;
  ShaderCodePath code_path() const;  // the path actually taken
  // Operations that run fused with the one before them when all lanes are active.
  int fused_operations() const;
  const sm::Compiled* compiled() const { return compiled_.get(); }

 private:
  friend bool CreateShaderProgram(const DWORD*, size_t, ShaderProgram*, std::string*,
                                  ShaderCodePath);
  std::shared_ptr<const sm::Compiled> compiled_;
};

// Validates `tokens` (at most `maxDwords` DWORDs are read; the stream must end with the end token
// within them) and translates them. On failure *out is left invalid and *why names the first
// defect with its DWORD offset.
bool CreateShaderProgram(const DWORD* tokens, size_t maxDwords, ShaderProgram* out,
                         std::string* why, ShaderCodePath path = ShaderCodePath::kBest);

// Constants as the device keeps them. Missing arrays read as zero; float constants beyond
// f_count read as zero. The program's def/defi/defb values take precedence.
struct ShaderConstants {
  const float* f = nullptr;  // float4 registers
  UINT f_count = 0;
  const INT* i = nullptr;   // 16 int4 registers
  const BOOL* b = nullptr;  // 16 bools
};

class ShaderExecutor {
 public:
  ShaderExecutor();
  ~ShaderExecutor();
  ShaderExecutor(const ShaderExecutor&) = delete;
  ShaderExecutor& operator=(const ShaderExecutor&) = delete;

  // Binds a valid program, copies its constants, and keeps `sampler` (which may be null when the
  // program samples nothing; reads then return zero) for the runs that follow. The program must
  // outlive the runs.
  void Bind(const ShaderProgram& program, const ShaderConstants& constants, ShaderSampler* sampler);

  // The batch registers, inside the executor; valid for the executor's lifetime.
  VertexBatch& vertices();
  PixelBatch& pixels();

  // Runs the bound vertex program on lanes [0, count) (count 1 .. 16). False when no vertex
  // program is bound or the run used up its instruction budget (the outputs are then undefined).
  bool RunVertices(int count);
  // Runs the bound pixel program on all 16 lanes. `coverage` has a bit per lane for pixels that
  // are really drawn (the others only help derivatives). Returns the covered lanes that survive
  // texkill; a run that used up its budget returns 0 (every pixel discarded).
  uint32_t RunPixels(uint32_t coverage);

  // Instructions one run may execute (loops count their bodies once per iteration).
  void SetBudget(int64_t instructions);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vexa
