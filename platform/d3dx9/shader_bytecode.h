// The compiled form of a tx_1_0 texture shader: a register machine over float4 registers.
//
// Layout, in little-endian DWORDs:
//   header (kHeaderDwords): magic, version, total DWORD count, register count, constant count,
//     init instruction count, main instruction count, POSITION register, PSIZE register,
//     result register, global register count, uniform-table DWORD count
//   constants: 4 DWORDs (float bits) each
//   instructions: 4 DWORDs each, the init section first, then the main section
//   uniform table: per uniform global, its register, type (base | components << 8), name
//     length, and the name's bytes zero-padded to whole DWORDs
// Instruction fields:
//   dword0: op (bits 0-7) | write mask (8-11) | aux (12-15) | dst register (16-31)
//   dword1: src0 (0-15) | src1 (16-31)
//   dword2: src2 (0-15) | swizzle0 (16-23) | swizzle1 (24-31)
//   dword3: swizzle2 (0-7) | zero (8-15) | jump target (16-31)
// A source below kConstFlag names a register; with kConstFlag set, a constant. Component-wise
// operations compute dst[c] = f(src0[swz0[c]], src1[swz1[c]], ...) for each c in the write mask;
// reductions (dot, length, distance, noise, any, all) read components 0..aux-1 through the
// swizzles and write the scalar result to every masked component.
//
// The init section runs once when the shader is created (global initialisers); the main section
// runs once per texel with registers [0, globals) restored to their values after init.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa::shader {

constexpr uint32_t kMagic = 0x53545856u;  // "VXTS"
constexpr uint32_t kVersion = ('T' << 24) | ('X' << 16) | 0x0100;
constexpr uint32_t kHeaderDwords = 12;
constexpr uint32_t kMaxUniforms = 1024;
constexpr uint32_t kMaxUniformName = 255;
constexpr uint32_t kNoRegister = 0xFFFFFFFFu;
constexpr uint32_t kMaxRegisters = 4096;
constexpr uint32_t kMaxConstants = 4096;
constexpr uint32_t kMaxInstructions = 65535;
constexpr uint16_t kConstFlag = 0x8000;
constexpr uint8_t kIdentitySwizzle = 0xE4;  // x y z w

// Loop budgets (instructions charged on backward jumps, see d3dx9shader.h).
constexpr int64_t kTexelBudget = int64_t(1) << 20;
constexpr int64_t kFillBudget = int64_t(1) << 30;

enum Op : uint8_t {
  // component-wise, one source
  kMov,
  kNeg,
  kAbs,
  kSin,
  kCos,
  kTan,
  kAsin,
  kAcos,
  kAtan,
  kSqrt,
  kRsqrt,
  kExp,
  kExp2,
  kLog,
  kLog2,
  kFloor,
  kCeil,
  kFrac,
  kTrunc,
  kRound,
  kSat,
  kSign,
  kNot,
  kBool,
  kBnot,
  // component-wise, two sources
  kAdd,
  kSub,
  kMul,
  kDiv,
  kFmod,
  kIdiv,
  kImod,
  kAtan2,
  kPow,
  kMin,
  kMax,
  kStep,
  kLt,
  kLe,
  kEq,
  kNe,
  kAnd,
  kOr,
  kBand,
  kBor,
  kBxor,
  kShl,
  kShr,
  // component-wise, three sources
  kClamp,
  kLerp,
  kSstep,
  kSel,
  kMad,
  // reductions over aux components
  kDot,
  kLen,
  kDist,
  kNoise,
  kAny,
  kAll,
  // dst.xyz = cross(src0.xyz, src1.xyz); mask must be xyz
  kCross,
  // control: jump to target; jz/jnz test src0 component swz0[0]
  kJmp,
  kJz,
  kJnz,
  kOpCount
};

// Number of sources an opcode reads.
int OpSources(uint8_t op);

struct Instr {
  uint8_t op = kMov;
  uint8_t mask = 0;
  uint8_t aux = 0;
  uint16_t dst = 0;
  uint16_t src[3] = {0, 0, 0};
  uint8_t swz[3] = {kIdentitySwizzle, 0, 0};
  uint16_t target = 0;
};

// A program as the compiler produces it and the validator accepts it.
struct Program {
  uint32_t num_regs = 0;
  uint32_t pos_reg = kNoRegister;
  uint32_t psize_reg = kNoRegister;
  uint32_t result_reg = 0;
  uint32_t num_globals = 0;
  std::vector<float> consts;  // 4 per constant
  std::vector<Instr> init;
  std::vector<Instr> main;
  // Non-static globals, settable by name between fills.
  struct Uniform {
    std::string name;
    uint32_t reg = 0;  // below num_globals
    uint8_t base = 3;  // 1 bool, 2 int, 3 float
    uint8_t dim = 1;   // 1..4
  };
  std::vector<Uniform> uniforms;
};

// Serialises a program (the compiler's output).
std::vector<uint32_t> Encode(const Program& p);

// Checks every field of untrusted bytes and decodes them. `size` is the number of bytes
// available (the header's count must fit in it). Returns false with a reason on any defect.
bool Decode(const void* data, size_t size, Program* out, std::string* why);

// The total byte size a program claims in its header, or 0 if the header is not ours. Reads
// only the first kHeaderDwords DWORDs.
size_t ClaimedSize(const uint32_t* header);

}  // namespace vexa::shader
