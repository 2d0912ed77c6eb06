// The executor's internal program: operations over structure-of-arrays register channels.
//
// Every register component is a channel of kShaderLanes floats in one register file; an
// operation names its channels by index, with swizzles and register kinds resolved when the
// tokens are translated. Kernels process all lanes of a channel at once. Execution walks the
// operation array: each kernel returns the next operation (null at the end), so control flow is
// ordinary kernels that move the lane mask and the position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "shader/shader_executor.h"
#include "shader/shader_reader.h"

namespace vexa::sm {

constexpr int kLanes = kShaderLanes;
constexpr size_t kChannelBytes = sizeof(float) * kLanes;

// Register file layout, in channels.
constexpr uint16_t kBatchChannels =
    uint16_t((sizeof(VertexBatch) > sizeof(PixelBatch) ? sizeof(VertexBatch) : sizeof(PixelBatch)) /
             kChannelBytes);
constexpr uint16_t kTempBase = kBatchChannels;         // r0.x ...
constexpr uint16_t kAddrBase = kTempBase + 32 * 4;     // a0 (int bits)
constexpr uint16_t kPredBase = kAddrBase + 4;          // p0 (1.0 / 0.0)
constexpr uint16_t kZeroChannel = kPredBase + 4;       // always 0
constexpr uint16_t kOneChannel = kZeroChannel + 1;     // always 1
constexpr uint16_t kScratchBase = kOneChannel + 1;     // see below
constexpr uint16_t kScratchTexel = kScratchBase;       // 4: sampled colour
constexpr uint16_t kScratchCoord = kScratchBase + 4;   // 4: modified / projected coordinates
constexpr uint16_t kScratchSource = kScratchBase + 8;  // 16: relatively addressed sources
constexpr uint16_t kScratchDest = kScratchBase + 24;   // 4: results that overlap their sources
constexpr uint16_t kConstBase = kScratchBase + 32;     // broadcast constants
constexpr uint16_t kMaxConstChannels = 256 * 4;
constexpr uint16_t kChannels = kConstBase + kMaxConstChannels;

constexpr int kMaxFrames = 256;

inline float* Channel(float* regs, uint16_t c) {
  return regs + size_t(c) * kLanes;
}

struct Op;
struct State;
using Kernel = const Op* (*)(const Op* op, State& st);

struct Op {
  Kernel fn = nullptr;      // all lanes active
  Kernel masked = nullptr;  // some lanes inactive
  Kernel body = nullptr;    // what a wrapper (masked, predicated) runs
  uint16_t d[4] = {};       // destination channels, in order
  uint8_t dc[4] = {};       // the component each destination channel is
  uint16_t s[4][4] = {};    // sources: per destination (component-wise) or per component
  uint32_t mod[4][2] = {};  // per source: AND then XOR of the float bits (abs, negate)
  uint16_t pred[4] = {};    // predicated: p0 channel per destination
  uint8_t n = 0;            // destination channels
  uint8_t sub = 0;          // comparison (D3DSPC_*), sampling mode, ...
  uint8_t flags = 0;
  uint8_t comps = 0;  // texture reads: colour channels the destinations take
  bool pred_not = false;
  int32_t a = 0;  // jump target, sampler, register offset ...
  int32_t b = 0;
  int32_t c = 0;
  uint32_t next_ctrl = 0;  // the next control operation, where a run with no lanes resumes
};

// Op::flags
constexpr uint8_t kOpSat = 1;
constexpr uint8_t kOpProject = 2;  // texld: divide by w
constexpr uint8_t kOpKill = 4;     // texkill: sources only, the lane mask is its output

struct Frame {
  uint8_t kind = 0;  // kFrameIf, kFrameLoop, kFrameCall
  uint32_t entry = 0;
  uint32_t cond = 0;
  uint32_t exited = 0;
  int count = 0;
  int step = 0;
  int saved_aL = 0;
  const Op* top = nullptr;
  int enclosing = -1;  // innermost loop or call frame around this one
};
constexpr uint8_t kFrameIf = 0;
constexpr uint8_t kFrameLoop = 1;
constexpr uint8_t kFrameCall = 2;

struct State {
  float* R = nullptr;
  const Op* ops = nullptr;
  uint32_t mask = kAllShaderLanes;
  bool full = true;
  bool failed = false;
  uint32_t killed = 0;
  int64_t budget = 0;
  int aL = 0;
  const float (*fconst)[4] = nullptr;  // 256 registers, definitions applied
  const INT (*iconst)[4] = nullptr;    // 16
  const BOOL* bconst = nullptr;        // 16
  ShaderSampler* sampler = nullptr;
  ShaderType stage = ShaderType::kVertex;
  int depth = 0;
  int loop = -1;      // innermost loop or call frame
  SampleRequest req;  // reused by every texture read: building one per read costs a memset
  Frame frames[kMaxFrames];

  void SetMask(uint32_t m) {
    mask = m & kAllShaderLanes;
    full = mask == kAllShaderLanes;
  }
};

// Kernels with SIMD bodies, one table per instruction set.
enum KernelId : uint16_t {
  // component-wise: destination j from sources [i][j]
  kKMov,
  kKAdd,
  kKSub,
  kKMul,
  kKMad,
  kKMin,
  kKMax,
  kKSlt,
  kKSge,
  kKFrc,
  kKAbs,
  kKSgn,
  kKLrp,
  kKCmp,
  kKDsx,
  kKDsy,
  kKSetp,
  kKMova,
  // scalar: one value from sources [i][0], written to every destination
  kKRcp,
  kKRsq,
  kKExp,
  kKLog,
  kKPow,
  kKDp2add,
  kKDp3,
  kKDp4,
  // vector: sources [i][component]
  kKNrm,
  kKCrs,
  kKSincos,
  kKLit,
  kKDst,
  kKTex,
  kKTexkill,
  kKGatherConstA0,
  kKGatherConstAL,
  kKGatherRegAL,
  kKScatterRegAL,
  kKCount
};

// [kernel][variant]: variant bit 0 applies source modifiers, bit 1 saturates.
struct KernelTable {
  Kernel k[kKCount][4];
  // Component-wise kernels (kKMov .. kKMova) unrolled for 1 .. 4 channels: [kernel][n -
  // 1][variant]; null where there is none (setp).
  const Kernel (*cw)[kKMova + 1][4][4];
  // nrm unrolled for 1 .. 4 destinations, each reading its own channel from s[1][j]:
  // [n - 1][variant].
  const Kernel (*nrm)[4][4];
  // add d.xyz followed by nrm e.xyz of exactly d.xyz, as one kernel on all lanes:
  // [add variant][nrm variant]. It runs both operations (the add's op, then the next) and keeps
  // the sum in registers; masked runs take the two operations one by one.
  const Kernel (*add_nrm3)[4][4];
};
const KernelTable& GenericKernels();
const KernelTable& Avx2Kernels();
bool HaveAvx2();

struct Compiled {
  ShaderType type = ShaderType::kVertex;
  DWORD version = 0;
  size_t dwords = 0;
  std::vector<ShaderSemantic> inputs;
  std::vector<ShaderSemantic> outputs;
  std::vector<ShaderSamplerUse> samplers;
  std::vector<ShaderFloatDef> float_defs;
  std::vector<ShaderIntDef> int_defs;
  std::vector<ShaderBoolDef> bool_defs;
  bool uses_position = false;
  bool uses_face = false;
  bool writes_depth = false;
  bool may_kill = false;
  ShaderCodePath path = ShaderCodePath::kGeneric;
  int fused = 0;  // see ShaderProgram::fused_operations
  std::vector<Op> ops;
  // Constant registers read directly, and the first of their four broadcast channels.
  std::vector<std::pair<uint16_t, uint16_t>> const_channels;
  uint32_t sampler_types[16] = {};  // D3DSTT_* per sampler, 0 when undeclared
};

// Translates validated code into operations using `kernels`.
bool Translate(const Code& code, const KernelTable& kernels, Compiled* out, std::string* why);

// Control-flow and wrapper kernels (instruction-set independent).
const Op* RunMasked(const Op* op, State& st);
const Op* RunPredicated(const Op* op, State& st);

}  // namespace vexa::sm
