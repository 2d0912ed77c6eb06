// Decoding and validation of shader model 2 and 3 token streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shader/shader_executor.h"

namespace vexa::sm {

constexpr uint8_t kIdentitySwizzle = 0xE4;  // x y z w, two bits each
constexpr size_t kMaxInstructions = 32768;  // per token stream
constexpr int kMaxFlowDepth = 32;           // nested if / loop / rep blocks
constexpr int kMaxLoopDepth = 4;
constexpr int kMaxCallDepth = 4;

inline int SwizzleComponent(uint8_t swizzle, int i) {
  return (swizzle >> (2 * i)) & 3;
}

// One parameter token, decoded.
struct Param {
  uint8_t type = 0;  // D3DSPR_*
  uint16_t index = 0;
  uint8_t swizzle = kIdentitySwizzle;  // sources
  uint8_t mask = 0xF;                  // destinations: bit 0 = x
  uint8_t mod = 0;                     // sources: D3DSPSM_* >> 24; destinations: D3DSPDM_* >> 20
  bool relative = false;               // indexed by rel_type.rel_component
  uint8_t rel_type = 0;                // D3DSPR_ADDR (a0) or D3DSPR_LOOP (aL)
  uint8_t rel_component = 0;
};

// A declaration: dcl of an input, an output (vs_3_0), a sampler or a ps_3_0 misc register.
struct Declaration {
  uint8_t type = 0;  // register type
  uint16_t index = 0;
  uint8_t mask = 0xF;
  uint8_t usage = 0;
  uint8_t usage_index = 0;
  uint32_t texture_type = 0;  // samplers: D3DSTT_*
};

struct Instruction {
  uint16_t op = 0;      // D3DSIO_*
  uint8_t control = 0;  // bits 16-23 of the instruction token
  bool predicated = false;
  uint8_t nsrc = 0;
  bool has_dst = false;
  Param dst;
  Param pred;  // the predicate when `predicated`
  Param src[4];
  uint32_t offset = 0;  // DWORD offset of the instruction token
};

struct Code {
  ShaderType type = ShaderType::kVertex;
  DWORD version = 0;
  int major = 0;
  int minor = 0;
  size_t dwords = 0;  // up to and including the end token
  std::vector<Declaration> decls;
  std::vector<ShaderFloatDef> float_defs;
  std::vector<ShaderIntDef> int_defs;
  std::vector<ShaderBoolDef> bool_defs;
  std::vector<Instruction> code;  // executable instructions in order (no dcl, def, comments)
  int temps = 0;                  // highest temporary register used + 1
};

// Register limits of a shader model.
struct Limits {
  int temps, consts, inputs, samplers, outputs;
};
Limits LimitsOf(ShaderType type, int major, int minor);

// Validates every field of `tokens` (never reading past `max_dwords`) and decodes them. On a
// defect returns false with a message naming the DWORD offset.
bool ReadCode(const DWORD* tokens, size_t max_dwords, Code* out, std::string* why);

// Walks the instruction stream of a shader model 2 or 3 shader only as far as needed to find a
// comment block whose first DWORD is `fourcc`; returns its data (after the FOURCC) and size in
// DWORDs, or null. Reads at most `max_dwords`.
const DWORD* FindComment(const DWORD* tokens, size_t max_dwords, DWORD fourcc, size_t* dwords);

// The number of DWORDs up to and including the end token, or 0 when there is none within
// `max_dwords` or the stream is not walkable.
size_t CodeSize(const DWORD* tokens, size_t max_dwords);

}  // namespace vexa::sm
