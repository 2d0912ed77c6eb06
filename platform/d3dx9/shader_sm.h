// Vertex and pixel shader code generation for shader models 2 and 3: the intermediate form the
// generator produces (Direct3D 9 instructions over virtual temporaries) and the final passes that
// turn it into a token stream with its constant table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "d3d9types.h"
#include "d3dx9/shader_ast.h"

namespace vexa::shader::sm {

constexpr uint8_t kVTemp = 0xFF;  // register file of virtual temporaries
constexpr uint8_t kIdentity = 0xE4;

struct Target {
  bool vs = true;
  int major = 2;
  int minor = 0;
  std::string name;  // "vs_2_0" ...
  int temps = 12;
  int consts = 256;
  int slots = 256;                          // instruction slots (ps_2_0: arithmetic)
  int texture_slots = 0;                    // ps_2_0: texture instructions
  bool flow() const { return major >= 3; }  // dynamic branches and loops
};
bool TargetOf(std::string_view profile, Target* out);

// A register operand: a source (swizzle, modifier, relative address) or a destination.
struct Opnd {
  uint8_t type = kVTemp;  // D3DSPR_* or kVTemp
  uint32_t index = 0;
  uint8_t swz = kIdentity;
  uint8_t mod = 0;  // D3DSPSM_* >> 24
  bool rel = false;
  uint8_t rel_type = 0;
  uint8_t rel_comp = 0;
};

struct Ins {
  uint16_t op = 0;
  uint8_t ctrl = 0;  // comparison or texld controls
  bool has_dst = false;
  bool sat = false;
  uint8_t mask = 0xF;
  Opnd dst;
  uint8_t nsrc = 0;
  Opnd src[4];
};

// One dcl instruction.
struct Decl {
  uint8_t type = 0;
  uint32_t index = 0;
  uint8_t mask = 0xF;
  uint8_t usage = 0;
  uint8_t usage_index = 0;
  uint32_t texture_type = 0;  // samplers
};

struct LiteralReg {
  uint32_t reg = 0;
  float v[4] = {};
  int used = 0;  // components filled
};

// Constant-table type information (D3DXSHADER_TYPEINFO).
struct CtabType {
  uint16_t cls = 0;   // D3DXPARAMETER_CLASS
  uint16_t type = 0;  // D3DXPARAMETER_TYPE
  uint16_t rows = 1;
  uint16_t columns = 1;
  uint16_t elements = 1;
  std::vector<std::string> member_names;  // struct members, with their types below
  std::vector<CtabType> member_types;
};

struct CtabConstant {
  std::string name;
  uint16_t regset = 0;  // D3DXREGISTER_SET
  uint16_t index = 0;
  uint16_t count = 0;
  CtabType type;
  std::vector<float> defaults;  // count * 4 values when the constant has an initialiser
};

struct Program {
  Target target;
  DWORD flags = 0;
  std::vector<Ins> code;
  std::vector<Decl> decls;
  std::vector<LiteralReg> literals;
  std::vector<std::pair<uint32_t, int>> int_defs;  // i# register, loop count
  std::vector<CtabConstant> constants;
  uint32_t vregs = 0;
};

// Generates the program of `entry` (throws CompileError).
void Generate(Unit& unit, std::string_view entry, const Target& target, DWORD flags,
              std::string& warnings, Program* out);

// Optimises, allocates registers, checks the model's limits and encodes (throws CompileError).
std::vector<uint32_t> Finish(Program& program);

}  // namespace vexa::shader::sm
