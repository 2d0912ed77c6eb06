// Shader token validation: every field of every token is checked against the shader model before
// anything is translated, and nothing past max_dwords is ever read.
#include "shader/shader_reader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vexa::sm {

namespace {

// Shader models an opcode exists in.
enum Model : uint8_t {
  kV2 = 1,   // vs_2_0
  kVX = 2,   // vs_2_x
  kV3 = 4,   // vs_3_0
  kP2 = 8,   // ps_2_0
  kPX = 16,  // ps_2_x
  kP3 = 32,  // ps_3_0
  kVS = kV2 | kVX | kV3,
  kPS = kP2 | kPX | kP3,
  kAll = kVS | kPS,
  kVXUp = kVX | kV3,
  kPXUp = kPX | kP3,
};

enum OpFlag : uint8_t {
  kFlow = 1,      // flow control: no destination, no predication
  kScalar = 2,    // every source needs a replicate swizzle
  kSampling = 4,  // source 1 is a sampler
  kVariable = 8,  // source count depends on the version (sgn, sincos)
};

struct OpInfo {
  uint16_t op;
  const char* name;
  uint8_t dst;
  uint8_t src;
  uint8_t models;
  uint8_t flags;
};

const OpInfo kOps[] = {
    {D3DSIO_NOP, "nop", 0, 0, kAll, 0},
    {D3DSIO_MOV, "mov", 1, 1, kAll, 0},
    {D3DSIO_ADD, "add", 1, 2, kAll, 0},
    {D3DSIO_SUB, "sub", 1, 2, kAll, 0},
    {D3DSIO_MAD, "mad", 1, 3, kAll, 0},
    {D3DSIO_MUL, "mul", 1, 2, kAll, 0},
    {D3DSIO_RCP, "rcp", 1, 1, kAll, kScalar},
    {D3DSIO_RSQ, "rsq", 1, 1, kAll, kScalar},
    {D3DSIO_DP3, "dp3", 1, 2, kAll, 0},
    {D3DSIO_DP4, "dp4", 1, 2, kAll, 0},
    {D3DSIO_MIN, "min", 1, 2, kAll, 0},
    {D3DSIO_MAX, "max", 1, 2, kAll, 0},
    {D3DSIO_SLT, "slt", 1, 2, kVS, 0},
    {D3DSIO_SGE, "sge", 1, 2, kVS, 0},
    {D3DSIO_EXP, "exp", 1, 1, kAll, kScalar},
    {D3DSIO_LOG, "log", 1, 1, kAll, kScalar},
    {D3DSIO_LIT, "lit", 1, 1, kVS, 0},
    {D3DSIO_DST, "dst", 1, 2, kVS, 0},
    {D3DSIO_LRP, "lrp", 1, 3, kAll, 0},
    {D3DSIO_FRC, "frc", 1, 1, kAll, 0},
    {D3DSIO_M4x4, "m4x4", 1, 2, kAll, 0},
    {D3DSIO_M4x3, "m4x3", 1, 2, kAll, 0},
    {D3DSIO_M3x4, "m3x4", 1, 2, kAll, 0},
    {D3DSIO_M3x3, "m3x3", 1, 2, kAll, 0},
    {D3DSIO_M3x2, "m3x2", 1, 2, kAll, 0},
    {D3DSIO_CALL, "call", 0, 1, kVS | kPXUp, kFlow},
    {D3DSIO_CALLNZ, "callnz", 0, 2, kVS | kPXUp, kFlow},
    {D3DSIO_LOOP, "loop", 0, 2, kVS | kP3, kFlow},
    {D3DSIO_RET, "ret", 0, 0, kVS | kPXUp, kFlow},
    {D3DSIO_ENDLOOP, "endloop", 0, 0, kVS | kP3, kFlow},
    {D3DSIO_LABEL, "label", 0, 1, kVS | kPXUp, kFlow},
    {D3DSIO_POW, "pow", 1, 2, kAll, kScalar},
    {D3DSIO_CRS, "crs", 1, 2, kAll, 0},
    {D3DSIO_SGN, "sgn", 1, 3, kVS, kVariable},
    {D3DSIO_ABS, "abs", 1, 1, kAll, 0},
    {D3DSIO_NRM, "nrm", 1, 1, kAll, 0},
    {D3DSIO_SINCOS, "sincos", 1, 3, kAll, kVariable},
    {D3DSIO_REP, "rep", 0, 1, kVS | kPXUp, kFlow},
    {D3DSIO_ENDREP, "endrep", 0, 0, kVS | kPXUp, kFlow},
    {D3DSIO_IF, "if", 0, 1, kVS | kPXUp, kFlow},
    {D3DSIO_IFC, "ifc", 0, 2, kVXUp | kPXUp, kFlow},
    {D3DSIO_ELSE, "else", 0, 0, kVS | kPXUp, kFlow},
    {D3DSIO_ENDIF, "endif", 0, 0, kVS | kPXUp, kFlow},
    {D3DSIO_BREAK, "break", 0, 0, kVXUp | kPXUp, kFlow},
    {D3DSIO_BREAKC, "breakc", 0, 2, kVXUp | kPXUp, kFlow},
    {D3DSIO_MOVA, "mova", 1, 1, kVS, 0},
    {D3DSIO_TEXKILL, "texkill", 1, 0, kPS, 0},
    {D3DSIO_TEX, "texld", 1, 2, kPS, kSampling},
    {D3DSIO_EXPP, "expp", 1, 1, kVS, kScalar},
    {D3DSIO_LOGP, "logp", 1, 1, kVS, kScalar},
    {D3DSIO_CMP, "cmp", 1, 3, kPS, 0},
    {D3DSIO_DP2ADD, "dp2add", 1, 3, kPS, 0},
    {D3DSIO_DSX, "dsx", 1, 1, kPXUp, 0},
    {D3DSIO_DSY, "dsy", 1, 1, kPXUp, 0},
    {D3DSIO_TEXLDD, "texldd", 1, 4, kPXUp, kSampling},
    {D3DSIO_SETP, "setp", 1, 2, kVXUp | kPXUp, 0},
    {D3DSIO_TEXLDL, "texldl", 1, 2, kV3 | kP3, kSampling},
    {D3DSIO_BREAKP, "breakp", 0, 1, kVXUp | kPXUp, kFlow},
};

const OpInfo* FindOp(uint16_t op) {
  for (const OpInfo& o : kOps)
    if (o.op == op) return &o;
  return nullptr;
}

const char* RegName(uint8_t type, ShaderType stage) {
  switch (type) {
    case D3DSPR_TEMP:
      return "r";
    case D3DSPR_INPUT:
      return "v";
    case D3DSPR_CONST:
      return "c";
    case D3DSPR_ADDR:
      return stage == ShaderType::kVertex ? "a" : "t";
    case D3DSPR_RASTOUT:
      return "oRast";
    case D3DSPR_ATTROUT:
      return "oD";
    case D3DSPR_OUTPUT:
      return "o";
    case D3DSPR_CONSTINT:
      return "i";
    case D3DSPR_COLOROUT:
      return "oC";
    case D3DSPR_DEPTHOUT:
      return "oDepth";
    case D3DSPR_SAMPLER:
      return "s";
    case D3DSPR_CONSTBOOL:
      return "b";
    case D3DSPR_LOOP:
      return "aL";
    case D3DSPR_MISCTYPE:
      return "misc";
    case D3DSPR_LABEL:
      return "l";
    case D3DSPR_PREDICATE:
      return "p";
    default:
      return "?";
  }
}

class Reader {
 public:
  Reader(const DWORD* t, size_t n, Code* code, std::string* why)
      : t_(t), n_(n), c_(code), why_(why) {}

  bool Run();

 private:
  const DWORD* t_;
  size_t n_;
  Code* c_;
  std::string* why_;
  size_t pos_ = 0;
  Limits lim_{};
  uint8_t model_ = 0;
  bool vs_ = true;

  // Flow-control structure.
  enum Block : uint8_t { kIf, kElse, kLoop, kRep };
  std::vector<Block> blocks_;
  int loop_depth_ = 0;
  int aL_depth_ = 0;         // loop (not rep) blocks around the current instruction
  bool in_sub_ = false;      // inside a subroutine body (after its label)
  bool after_ret_ = false;   // main or a subroutine ended; only label may follow
  bool any_code_ = false;    // an executable instruction was seen (declarations must precede)
  std::vector<int> labels_;  // defined labels (indices)
  struct Call {
    int from;  // -1: main
    int to;
    uint32_t offset;
  };
  std::vector<Call> calls_;
  int current_label_ = -1;

  bool Fail(size_t at, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  bool Is(uint8_t models) const { return (model_ & models) != 0; }
  bool Sm3() const { return c_->major == 3; }

  bool ReadToken(DWORD* out) {
    if (pos_ >= n_) return false;
    *out = t_[pos_++];
    return true;
  }

  static uint8_t TypeOf(DWORD tok) {
    return uint8_t(((tok & D3DSP_REGTYPE_MASK) >> D3DSP_REGTYPE_SHIFT) |
                   ((tok & D3DSP_REGTYPE_MASK2) >> D3DSP_REGTYPE_SHIFT2));
  }

  bool DecodeParam(DWORD tok, size_t at, bool dst, Param* p, size_t* remaining);
  bool CheckSource(const Param& p, size_t at, const OpInfo& info, int i);
  bool CheckDest(const Param& p, size_t at, const OpInfo& info);
  bool CheckRegister(const Param& p, size_t at, bool dst);
  bool ReadDeclaration(DWORD inst, size_t at, size_t len);
  bool Definition(uint16_t op, size_t at, size_t len);
  bool Flow(const Instruction& in, size_t at);
  bool Finish();
  bool Declared(uint8_t type, uint16_t index, uint8_t mask) const;
};

bool Reader::Fail(size_t at, const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  char head[48];
  std::snprintf(head, sizeof head, "dword %zu: ", at);
  *why_ = std::string(head) + buf;
  return false;
}

bool Reader::DecodeParam(DWORD tok, size_t at, bool dst, Param* p, size_t* remaining) {
  if (!(tok & 0x80000000u)) return Fail(at, "parameter token without bit 31");
  p->type = TypeOf(tok);
  p->index = uint16_t(tok & D3DSP_REGNUM_MASK);
  if (tok & 0x0000C000u) return Fail(at, "reserved bits 14-15 of a parameter are set");
  p->relative = (tok & D3DSHADER_ADDRESSMODE_MASK) != 0;
  if (dst) {
    p->mask = uint8_t((tok >> 16) & 0xF);
    p->mod = uint8_t((tok & D3DSP_DSTMOD_MASK) >> D3DSP_DSTMOD_SHIFT);
    if (tok & D3DSP_DSTSHIFT_MASK) return Fail(at, "destination shift is not allowed");
    if (p->mod & 0x8) return Fail(at, "unknown destination modifier");
    if (p->mask == 0) return Fail(at, "empty write mask");
  } else {
    p->swizzle = uint8_t((tok & D3DSP_SWIZZLE_MASK) >> D3DSP_SWIZZLE_SHIFT);
    p->mod = uint8_t((tok & D3DSP_SRCMOD_MASK) >> D3DSP_SRCMOD_SHIFT);
    if (p->mod > 13) return Fail(at, "unknown source modifier");
  }
  if (p->relative) {
    if (*remaining == 0) return Fail(at, "relative address token missing");
    DWORD rel;
    const size_t rat = pos_;
    if (!ReadToken(&rel)) return Fail(rat, "truncated relative address");
    --*remaining;
    if (!(rel & 0x80000000u)) return Fail(rat, "relative address token without bit 31");
    p->rel_type = TypeOf(rel);
    if ((rel & D3DSP_REGNUM_MASK) != 0) return Fail(rat, "relative address register must be 0");
    if (p->rel_type != D3DSPR_ADDR && p->rel_type != D3DSPR_LOOP)
      return Fail(rat, "relative addressing needs a0 or aL");
    if (p->rel_type == D3DSPR_ADDR && !vs_) return Fail(rat, "a0 exists only in vertex shaders");
    const uint8_t sw = uint8_t((rel & D3DSP_SWIZZLE_MASK) >> D3DSP_SWIZZLE_SHIFT);
    p->rel_component = uint8_t(sw & 3);
    if (sw != uint8_t(p->rel_component * 0x55))
      return Fail(rat, "relative address needs a replicate swizzle");
    if (rel & (D3DSP_SRCMOD_MASK | 0x0000E000u))
      return Fail(rat, "modifiers on a relative address token");
    if (p->rel_type == D3DSPR_LOOP && p->rel_component != 0)
      return Fail(rat, "aL has one component");
    if (p->rel_type == D3DSPR_ADDR && c_->major < 3 && p->rel_component != 0)
      return Fail(rat, "vs_2 relative addressing uses a0.x");
    if (p->rel_type == D3DSPR_LOOP && aL_depth_ == 0)
      return Fail(rat, "aL used outside a loop block");
  }
  return true;
}

// The register exists in this model (range and direction).
bool Reader::CheckRegister(const Param& p, size_t at, bool dst) {
  const char* name = RegName(p.type, c_->type);
  auto range = [&](int count) {
    if (int(p.index) >= count)
      return Fail(at, "register %s%u is out of range (%d available)", name, p.index, count);
    return true;
  };
  switch (p.type) {
    case D3DSPR_TEMP:
      if (!range(lim_.temps)) return false;
      c_->temps = std::max(c_->temps, int(p.index) + 1);
      return true;
    case D3DSPR_INPUT:
      if (dst) return Fail(at, "input registers are read-only");
      return range(lim_.inputs);
    case D3DSPR_CONST:
      if (dst) return Fail(at, "constant registers are read-only");
      return range(lim_.consts);
    case D3DSPR_ADDR:  // a0 in vertex shaders, t# in pixel shaders
      if (vs_) return range(1);
      if (Sm3()) return Fail(at, "ps_3_0 has no t# registers");
      if (dst) return Fail(at, "texture coordinate registers are read-only");
      return range(8);
    case D3DSPR_RASTOUT:
      if (!vs_ || Sm3() || !dst) return Fail(at, "rasteriser output register misused");
      return range(3);
    case D3DSPR_ATTROUT:
      if (!vs_ || Sm3() || !dst) return Fail(at, "colour output register misused");
      return range(2);
    case D3DSPR_OUTPUT:
      if (!vs_ || !dst) return Fail(at, "output register misused");
      return range(Sm3() ? 12 : 8);
    case D3DSPR_COLOROUT:
      if (vs_ || !dst) return Fail(at, "colour output register misused");
      return range(4);
    case D3DSPR_DEPTHOUT:
      if (vs_ || !dst) return Fail(at, "depth output register misused");
      return range(1);
    case D3DSPR_CONSTINT:
      if (dst) return Fail(at, "integer constants are read-only");
      return range(16);
    case D3DSPR_CONSTBOOL:
      if (dst) return Fail(at, "boolean constants are read-only");
      return range(16);
    case D3DSPR_SAMPLER:
      if (dst) return Fail(at, "samplers are read-only");
      return range(lim_.samplers);
    case D3DSPR_LOOP:
      if (dst) return Fail(at, "aL is read-only");
      return range(1);
    case D3DSPR_MISCTYPE:
      if (vs_ || !Sm3() || dst) return Fail(at, "misc register misused");
      return range(2);
    case D3DSPR_LABEL:
      return range(2048);
    case D3DSPR_PREDICATE:
      if (!Is(kVXUp | kPXUp)) return Fail(at, "no predicate register in this model");
      return range(1);
    default:
      return Fail(at, "unknown register type %u", p.type);
  }
}

// Whether `mask` of the register is declared; mask 0 asks for any component.
bool Reader::Declared(uint8_t type, uint16_t index, uint8_t mask) const {
  uint8_t have = 0;
  bool any = false;
  for (const Declaration& d : c_->decls)
    if (d.type == type && d.index == index) have |= d.mask, any = true;
  return mask == 0 ? any : (have & mask) == mask;
}

bool Reader::CheckSource(const Param& p, size_t at, const OpInfo& info, int i) {
  if (!CheckRegister(p, at, false)) return false;
  // Modifiers of shader models 2 and 3: negate; abs in 3.0; not on predicates.
  switch (p.mod) {
    case 0:
    case 1:
      break;
    case 11:
    case 12:
      if (!Sm3()) return Fail(at, "abs modifier needs shader model 3");
      break;
    case 13:
      if (p.type != D3DSPR_PREDICATE) return Fail(at, "'!' applies only to p0");
      break;
    default:
      return Fail(at, "source modifier %u is not allowed in shader model 2 or 3", p.mod);
  }
  if (p.mod == 1 || p.mod == 11 || p.mod == 12) {
    if (p.type == D3DSPR_SAMPLER || p.type == D3DSPR_LABEL || p.type == D3DSPR_CONSTBOOL ||
        p.type == D3DSPR_CONSTINT || p.type == D3DSPR_LOOP || p.type == D3DSPR_PREDICATE)
      return Fail(at, "modifier on a register that takes none");
  }
  if (p.relative) {
    const bool ok = (p.type == D3DSPR_CONST && (vs_ || Sm3())) ||
                    (p.type == D3DSPR_INPUT && Sm3() && p.rel_type == D3DSPR_LOOP);
    if (!ok) return Fail(at, "relative addressing is not allowed here");
    if (!vs_ && p.rel_type != D3DSPR_LOOP) return Fail(at, "pixel shaders index with aL only");
  }
  const uint16_t op = info.op;
  // Registers that are operands of specific instructions only.
  const bool flow_operand = p.type == D3DSPR_CONSTINT || p.type == D3DSPR_CONSTBOOL ||
                            p.type == D3DSPR_LABEL || p.type == D3DSPR_LOOP ||
                            p.type == D3DSPR_SAMPLER;
  if (flow_operand || p.type == D3DSPR_PREDICATE || (vs_ && p.type == D3DSPR_ADDR)) {
    bool ok = false;
    switch (op) {
      case D3DSIO_LOOP:
        ok = (i == 0 && p.type == D3DSPR_LOOP) || (i == 1 && p.type == D3DSPR_CONSTINT);
        break;
      case D3DSIO_REP:
        ok = p.type == D3DSPR_CONSTINT;
        break;
      case D3DSIO_IF:
        ok = p.type == D3DSPR_CONSTBOOL || p.type == D3DSPR_PREDICATE;
        break;
      case D3DSIO_CALL:
      case D3DSIO_LABEL:
        ok = p.type == D3DSPR_LABEL;
        break;
      case D3DSIO_CALLNZ:
        ok = (i == 0 && p.type == D3DSPR_LABEL) ||
             (i == 1 && (p.type == D3DSPR_CONSTBOOL || p.type == D3DSPR_PREDICATE));
        break;
      case D3DSIO_BREAKP:
        ok = p.type == D3DSPR_PREDICATE;
        break;
      default:
        ok = (info.flags & kSampling) && i == 1 && p.type == D3DSPR_SAMPLER;
        break;
    }
    if (!ok)
      return Fail(at, "register %s%u cannot be an operand of %s", RegName(p.type, c_->type),
                  p.index, info.name);
  } else if (op == D3DSIO_LOOP || op == D3DSIO_REP || op == D3DSIO_CALL || op == D3DSIO_LABEL ||
             op == D3DSIO_BREAKP || (op == D3DSIO_IF) || (op == D3DSIO_CALLNZ) ||
             ((info.flags & kSampling) && i == 1)) {
    return Fail(at, "wrong register type for %s", info.name);
  }
  // Inputs, samplers and misc registers must be declared.
  // Inputs must be declared; texture reads may read components beyond the declared ones.
  if ((p.type == D3DSPR_INPUT || (!vs_ && p.type == D3DSPR_ADDR) || p.type == D3DSPR_MISCTYPE) &&
      !p.relative && !Declared(p.type, p.index, 0))
    return Fail(at, "%s%u is read but not declared", RegName(p.type, c_->type), p.index);
  if (p.type == D3DSPR_SAMPLER && !Declared(D3DSPR_SAMPLER, p.index, 0xF))
    return Fail(at, "sampler s%u is not declared", p.index);
  const bool replicate = p.swizzle == uint8_t((p.swizzle & 3) * 0x55);
  if ((info.flags & kScalar) && !replicate)
    return Fail(at, "%s needs a replicate swizzle", info.name);
  if ((op == D3DSIO_IF || op == D3DSIO_CALLNZ || op == D3DSIO_BREAKP || op == D3DSIO_IFC ||
       op == D3DSIO_BREAKC) &&
      !replicate && p.type != D3DSPR_CONSTBOOL && p.type != D3DSPR_LABEL)
    return Fail(at, "%s needs a replicate swizzle", info.name);
  if (op == D3DSIO_DP2ADD && i == 2 && !replicate)
    return Fail(at, "dp2add needs a replicate swizzle on its third source");
  if (op == D3DSIO_SINCOS && i == 0 && !replicate)
    return Fail(at, "sincos needs a replicate swizzle");
  if (op == D3DSIO_SINCOS && i > 0 && p.type != D3DSPR_CONST)
    return Fail(at, "sincos takes its constants from c registers");
  return true;
}

bool Reader::CheckDest(const Param& p, size_t at, const OpInfo& info) {
  const uint16_t op = info.op;
  if (op == D3DSIO_TEXKILL) {  // a destination token that is only read
    if (p.type != D3DSPR_TEMP && p.type != D3DSPR_ADDR && p.type != D3DSPR_INPUT)
      return Fail(at, "texkill tests a temporary or texture coordinate register");
    if (p.mod || p.relative) return Fail(at, "modifier on texkill");
    if (!CheckRegister(p, at, false)) return false;
    if (p.type != D3DSPR_TEMP && !Declared(p.type, p.index, 0))
      return Fail(at, "texkill reads an undeclared register");
    return true;
  }
  if (!CheckRegister(p, at, true)) return false;
  if (op == D3DSIO_MOVA) {
    if (p.type != D3DSPR_ADDR) return Fail(at, "mova writes a0");
    if (!Sm3() && p.mask != 1) return Fail(at, "vs_2 mova writes a0.x");
  } else if (vs_ && p.type == D3DSPR_ADDR) {
    return Fail(at, "a0 is written by mova only");
  }
  if (op == D3DSIO_SETP) {
    if (p.type != D3DSPR_PREDICATE) return Fail(at, "setp writes p0");
  } else if (p.type == D3DSPR_PREDICATE) {
    return Fail(at, "p0 is written by setp only");
  }
  const bool output = p.type != D3DSPR_TEMP && p.type != D3DSPR_ADDR && p.type != D3DSPR_PREDICATE;
  if (!output && p.type != D3DSPR_TEMP && op != D3DSIO_MOVA && op != D3DSIO_SETP)
    return Fail(at, "bad destination register");
  if ((p.mod & 1) && (p.type == D3DSPR_ADDR || p.type == D3DSPR_PREDICATE))
    return Fail(at, "saturate on a0 or p0");
  if (p.mod & 4) return Fail(at, "centroid is allowed on declarations only");
  if (p.relative && !(vs_ && Sm3() && p.type == D3DSPR_OUTPUT && p.rel_type == D3DSPR_LOOP))
    return Fail(at, "relative addressing of this destination is not allowed");
  if (vs_ && Sm3() && p.type == D3DSPR_OUTPUT && !p.relative &&
      !Declared(D3DSPR_OUTPUT, p.index, p.mask))
    return Fail(at, "o%u is written outside its declared components", p.index);
  if (!vs_ && c_->major == 2 && c_->minor == 0 && (info.flags & kSampling) && p.type != D3DSPR_TEMP)
    return Fail(at, "ps_2_0 texture reads write a temporary register");
  if (op == D3DSIO_SINCOS && (p.mask & ~3u)) return Fail(at, "sincos writes .x, .y or .xy");
  if (op == D3DSIO_CRS && (p.mask & 8)) return Fail(at, "crs cannot write .w");
  if (p.type == D3DSPR_DEPTHOUT && p.mask != 0xF && p.mask != 1)
    return Fail(at, "oDepth takes a full or .x write mask");
  return true;
}

bool Reader::ReadDeclaration(DWORD inst, size_t at, size_t len) {
  if (len != 2) return Fail(at, "dcl has length %zu, not 2", len);
  if (inst & 0x00FF0000u) return Fail(at, "dcl with opcode controls set");
  if (any_code_) return Fail(at, "declarations must precede instructions");
  DWORD usage_tok, dst_tok;
  if (!ReadToken(&usage_tok) || !ReadToken(&dst_tok)) return Fail(at, "truncated dcl");
  if (!(usage_tok & 0x80000000u)) return Fail(at + 1, "dcl usage token without bit 31");
  Declaration d;
  Param p;
  size_t none = 0;
  if (!DecodeParam(dst_tok, at + 2, true, &p, &none)) return false;
  if (p.relative) return Fail(at + 2, "relative addressing in a declaration");
  d.type = p.type;
  d.index = p.index;
  d.mask = p.mask;
  if (p.mod & 1) return Fail(at + 2, "saturate on a declaration");
  if (p.type == D3DSPR_SAMPLER) {
    if (usage_tok & 0x07FFFFFFu) return Fail(at + 1, "reserved bits set in a sampler dcl");
    d.texture_type = usage_tok & D3DSP_TEXTURETYPE_MASK;
    if (d.texture_type != D3DSTT_2D && d.texture_type != D3DSTT_CUBE &&
        d.texture_type != D3DSTT_VOLUME)
      return Fail(at + 1, "unknown sampler texture type");
    if (vs_ && !Sm3()) return Fail(at + 2, "vs_2 has no samplers");
    if (p.mask != 0xF) return Fail(at + 2, "sampler declared with a write mask");
    if (p.mod) return Fail(at + 2, "modifier on a sampler declaration");
  } else {
    if (usage_tok & 0x7FF0FFF0u) return Fail(at + 1, "reserved bits set in a dcl usage token");
    d.usage = uint8_t(usage_tok & D3DSP_DCL_USAGE_MASK);
    d.usage_index = uint8_t((usage_tok & D3DSP_DCL_USAGEINDEX_MASK) >> D3DSP_DCL_USAGEINDEX_SHIFT);
    if (d.usage > D3DDECLUSAGE_SAMPLE) return Fail(at + 1, "unknown usage %u", d.usage);
    bool ok = false;
    if (vs_) {
      ok = p.type == D3DSPR_INPUT || (Sm3() && p.type == D3DSPR_OUTPUT);
    } else if (Sm3()) {
      ok = p.type == D3DSPR_INPUT || p.type == D3DSPR_MISCTYPE;
      if (p.type == D3DSPR_INPUT && (d.usage == D3DDECLUSAGE_POSITIONT))
        return Fail(at + 1, "ps_3_0 inputs cannot be POSITIONT");
    } else {
      ok = p.type == D3DSPR_INPUT || p.type == D3DSPR_ADDR;
      // ps_2 registers have fixed meanings: t# texture coordinates, v# colours.
      d.usage = p.type == D3DSPR_INPUT ? D3DDECLUSAGE_COLOR : D3DDECLUSAGE_TEXCOORD;
      d.usage_index = uint8_t(p.index);
    }
    if (!ok) return Fail(at + 2, "this register cannot be declared here");
    if (p.mod & 1) return Fail(at + 2, "saturate on a declaration");
  }
  if (!CheckRegister(p, at + 2, p.type == D3DSPR_OUTPUT)) return false;
  for (const Declaration& o : c_->decls) {
    if (o.type == d.type && o.index == d.index && (o.mask & d.mask))
      return Fail(at, "register declared twice");
    if (d.type != D3DSPR_SAMPLER && d.type != D3DSPR_MISCTYPE && o.type == d.type &&
        o.usage == d.usage && o.usage_index == d.usage_index && (vs_ || Sm3()) &&
        d.type != D3DSPR_ADDR)
      return Fail(at, "semantic declared twice");
  }
  c_->decls.push_back(d);
  return true;
}

bool Reader::Definition(uint16_t op, size_t at, size_t len) {
  const size_t want = op == D3DSIO_DEFB ? 2 : 5;
  if (len != want) return Fail(at, "definition has length %zu, not %zu", len, want);
  if (any_code_) return Fail(at, "definitions must precede instructions");
  DWORD dst_tok;
  if (!ReadToken(&dst_tok)) return Fail(at, "truncated definition");
  Param p;
  size_t none = 0;
  if (!DecodeParam(dst_tok, at + 1, true, &p, &none)) return false;
  const uint8_t want_type = op == D3DSIO_DEF    ? D3DSPR_CONST
                            : op == D3DSIO_DEFI ? D3DSPR_CONSTINT
                                                : D3DSPR_CONSTBOOL;
  if (p.type != want_type || p.relative || p.mod || p.mask != 0xF)
    return Fail(at + 1, "bad definition register");
  if (!vs_ && c_->major == 2 && c_->minor == 0 && op != D3DSIO_DEF)
    return Fail(at, "ps_2_0 has no integer or boolean constants");
  if (!CheckRegister(p, at + 1, false)) return false;
  DWORD v[4] = {};
  for (size_t i = 0; i + 1 < want; ++i)
    if (!ReadToken(&v[i])) return Fail(at, "truncated definition");
  if (op == D3DSIO_DEF) {
    ShaderFloatDef d;
    d.reg = p.index;
    std::memcpy(d.v, v, sizeof d.v);
    for (const ShaderFloatDef& o : c_->float_defs)
      if (o.reg == d.reg) return Fail(at, "c%u defined twice", d.reg);
    c_->float_defs.push_back(d);
  } else if (op == D3DSIO_DEFI) {
    ShaderIntDef d;
    d.reg = p.index;
    for (int i = 0; i < 4; ++i) d.v[i] = INT(v[i]);
    for (const ShaderIntDef& o : c_->int_defs)
      if (o.reg == d.reg) return Fail(at, "i%u defined twice", d.reg);
    c_->int_defs.push_back(d);
  } else {
    ShaderBoolDef d;
    d.reg = p.index;
    if (v[0] > 1) return Fail(at + 2, "boolean constant is neither 0 nor 1");
    d.v = BOOL(v[0]);
    for (const ShaderBoolDef& o : c_->bool_defs)
      if (o.reg == d.reg) return Fail(at, "b%u defined twice", d.reg);
    c_->bool_defs.push_back(d);
  }
  return true;
}

bool Reader::Flow(const Instruction& in, size_t at) {
  auto need_loop = [&]() {
    for (Block b : blocks_)
      if (b == kLoop || b == kRep) return true;
    return false;
  };
  switch (in.op) {
    case D3DSIO_IF:
    case D3DSIO_IFC:
      if (blocks_.size() >= kMaxFlowDepth) return Fail(at, "flow control nested too deeply");
      blocks_.push_back(kIf);
      return true;
    case D3DSIO_ELSE:
      if (blocks_.empty() || blocks_.back() != kIf) return Fail(at, "else without if");
      blocks_.back() = kElse;
      return true;
    case D3DSIO_ENDIF:
      if (blocks_.empty() || (blocks_.back() != kIf && blocks_.back() != kElse))
        return Fail(at, "endif without if");
      blocks_.pop_back();
      return true;
    case D3DSIO_LOOP:
    case D3DSIO_REP:
      if (blocks_.size() >= kMaxFlowDepth || loop_depth_ >= kMaxLoopDepth)
        return Fail(at, "loops nested too deeply");
      blocks_.push_back(in.op == D3DSIO_LOOP ? kLoop : kRep);
      ++loop_depth_;
      if (in.op == D3DSIO_LOOP) ++aL_depth_;
      return true;
    case D3DSIO_ENDLOOP:
    case D3DSIO_ENDREP: {
      const Block want = in.op == D3DSIO_ENDLOOP ? kLoop : kRep;
      if (blocks_.empty() || blocks_.back() != want)
        return Fail(at, "%s without its loop", in.op == D3DSIO_ENDLOOP ? "endloop" : "endrep");
      blocks_.pop_back();
      --loop_depth_;
      if (want == kLoop) --aL_depth_;
      return true;
    }
    case D3DSIO_BREAK:
    case D3DSIO_BREAKC:
    case D3DSIO_BREAKP:
      if (!need_loop()) return Fail(at, "break outside a loop");
      return true;
    case D3DSIO_LABEL: {
      if (!blocks_.empty()) return Fail(at, "label inside a flow-control block");
      if (any_code_ && !after_ret_) return Fail(at, "label must follow a ret");
      const int l = in.src[0].index;
      if (std::find(labels_.begin(), labels_.end(), l) != labels_.end())
        return Fail(at, "label l%d defined twice", l);
      labels_.push_back(l);
      current_label_ = l;
      in_sub_ = true;
      after_ret_ = false;
      return true;
    }
    case D3DSIO_RET:
      if (!blocks_.empty()) return Fail(at, "ret inside a flow-control block");
      after_ret_ = true;
      return true;
    case D3DSIO_CALL:
    case D3DSIO_CALLNZ:
      calls_.push_back(Call{in_sub_ ? current_label_ : -1, in.src[0].index, uint32_t(at)});
      return true;
    default:
      return true;
  }
}

bool Reader::Finish() {
  if (!blocks_.empty()) return Fail(c_->dwords - 1, "flow-control block not closed");
  if (in_sub_ && !after_ret_) return Fail(c_->dwords - 1, "subroutine without ret");
  // Every call reaches a label, and the call graph has no cycles and is at most
  // kMaxCallDepth deep.
  for (const Call& k : calls_)
    if (std::find(labels_.begin(), labels_.end(), k.to) == labels_.end())
      return Fail(k.offset, "call of undefined label l%d", k.to);
  std::vector<std::pair<int, int>> stack;  // (label, depth)
  std::vector<int> roots;
  for (const Call& k : calls_)
    if (k.from == -1) roots.push_back(k.to);
  size_t steps = 0;
  for (int r : roots) {
    stack.assign(1, {r, 1});
    while (!stack.empty()) {
      auto [l, depth] = stack.back();
      stack.pop_back();
      if (depth > kMaxCallDepth) return Fail(0, "subroutine calls nested too deeply or recursive");
      if (++steps > 100000) return Fail(0, "call graph too large");
      for (const Call& k : calls_)
        if (k.from == l) stack.push_back({k.to, depth + 1});
    }
  }
  // vs_2 output registers are written, not declared: list them for the device.
  return true;
}

bool Reader::Run() {
  if (!t_ || n_ == 0) return Fail(0, "no tokens");
  const DWORD version = t_[0];
  pos_ = 1;
  const DWORD kind = version >> 16;
  if (kind != 0xFFFE && kind != 0xFFFF) return Fail(0, "not a shader version token");
  c_->version = version;
  c_->type = kind == 0xFFFE ? ShaderType::kVertex : ShaderType::kPixel;
  vs_ = c_->type == ShaderType::kVertex;
  c_->major = int((version >> 8) & 0xFF);
  c_->minor = int(version & 0xFF);
  if (c_->major == 2 && c_->minor == 0)
    model_ = vs_ ? kV2 : kP2;
  else if (c_->major == 2 && c_->minor == 1)
    model_ = vs_ ? kVX : kPX;
  else if (c_->major == 3 && c_->minor == 0)
    model_ = vs_ ? kV3 : kP3;
  else
    return Fail(0, "shader model %d.%d is not supported (2.0, 2.x and 3.0 are)", c_->major,
                c_->minor);
  lim_ = LimitsOf(c_->type, c_->major, c_->minor);
  for (;;) {
    const size_t at = pos_;
    DWORD tok;
    if (!ReadToken(&tok)) return Fail(at, "no end token within %zu dwords", n_);
    if (tok == D3DPS_END()) break;
    const uint16_t op = uint16_t(tok & D3DSI_OPCODE_MASK);
    if (op == D3DSIO_COMMENT) {
      if (tok & 0x80000000u) return Fail(at, "comment token with bit 31 set");
      const size_t size = (tok & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
      if (size > n_ - pos_) return Fail(at, "comment of %zu dwords runs past the end", size);
      pos_ += size;
      continue;
    }
    if (tok & 0xA0000000u) return Fail(at, "reserved bits of an instruction token are set");
    if (tok & D3DSI_COISSUE) return Fail(at, "co-issue exists only in ps_1_x");
    const size_t len = (tok & D3DSI_INSTLENGTH_MASK) >> D3DSI_INSTLENGTH_SHIFT;
    if (len > n_ - pos_) return Fail(at, "instruction runs past the end");
    if (c_->code.size() + c_->decls.size() >= kMaxInstructions)
      return Fail(at, "too many instructions");
    if (op == D3DSIO_DCL) {
      if (!ReadDeclaration(tok, at, len)) return false;
      continue;
    }
    if (op == D3DSIO_DEF || op == D3DSIO_DEFI || op == D3DSIO_DEFB) {
      if (tok & 0x10FF0000u) return Fail(at, "definition with opcode controls set");
      if (!Definition(op, at, len)) return false;
      continue;
    }
    const OpInfo* info = FindOp(op);
    if (!info) return Fail(at, "unknown opcode %u", op);
    if (!Is(info->models)) return Fail(at, "%s is not available in this shader model", info->name);
    if (after_ret_ && op != D3DSIO_LABEL) return Fail(at, "instruction after ret");
    Instruction in;
    in.op = op;
    in.offset = uint32_t(at);
    in.control = uint8_t((tok & D3DSP_OPCODESPECIFICCONTROL_MASK) >> 16);
    in.predicated = (tok & D3DSHADER_INSTRUCTION_PREDICATED) != 0;
    int nsrc = info->src;
    if (info->flags & kVariable) nsrc = Sm3() ? 1 : 3;
    const int ndst = info->dst;
    const size_t want = size_t(ndst + nsrc + (in.predicated ? 1 : 0));
    if (in.predicated) {
      if ((info->flags & kFlow) || !Is(kVXUp | kPXUp))
        return Fail(at, "%s cannot be predicated here", info->name);
    }
    // Controls: comparisons for ifc/breakc/setp, projection or bias for texld.
    if (op == D3DSIO_IFC || op == D3DSIO_BREAKC || op == D3DSIO_SETP) {
      if (in.control < D3DSPC_GT || in.control > D3DSPC_LE)
        return Fail(at, "bad comparison %u", in.control);
    } else if (op == D3DSIO_TEX) {
      if (in.control > 2) return Fail(at, "bad texld controls");
    } else if (in.control) {
      return Fail(at, "opcode controls set on %s", info->name);
    }
    size_t remaining = len;
    if (len < want) return Fail(at, "%s has length %zu, needs %zu", info->name, len, want);
    if (ndst) {
      DWORD d = 0;
      if (!ReadToken(&d)) return Fail(at, "truncated instruction");
      --remaining;
      if (!DecodeParam(d, at + 1, true, &in.dst, &remaining)) return false;
      in.has_dst = true;
    }
    if (in.predicated) {
      DWORD pt;
      const size_t pat = pos_;
      if (!ReadToken(&pt) || remaining == 0) return Fail(pat, "predicate token missing");
      --remaining;
      if (!DecodeParam(pt, pat, false, &in.pred, &remaining)) return false;
      if (in.pred.type != D3DSPR_PREDICATE || in.pred.index != 0 || in.pred.relative ||
          (in.pred.mod != 0 && in.pred.mod != 13))
        return Fail(pat, "bad predicate token");
    }
    in.nsrc = uint8_t(nsrc);
    for (int i = 0; i < nsrc; ++i) {
      DWORD s;
      const size_t sat = pos_;
      if (remaining == 0 || !ReadToken(&s)) return Fail(sat, "%s is missing a source", info->name);
      --remaining;
      if (!DecodeParam(s, sat, false, &in.src[i], &remaining)) return false;
    }
    if (remaining != 0) return Fail(at, "%s has %zu extra dwords", info->name, remaining);
    // Flow structure first, so aL checks of the sources see the loop they are in.
    if (in.has_dst && !CheckDest(in.dst, at + 1, *info)) return false;
    if (in.predicated && !CheckRegister(in.pred, at, false)) return false;
    for (int i = 0; i < nsrc; ++i)
      if (!CheckSource(in.src[i], in.offset, *info, i)) return false;
    if (op == D3DSIO_LOOP && in.src[0].index != 0) return Fail(at, "loop counts with aL");
    if (op == D3DSIO_IF && in.src[0].type == D3DSPR_PREDICATE && in.src[0].mod != 0 &&
        in.src[0].mod != 13)
      return Fail(at, "bad predicate modifier");
    // Matrix macros read consecutive registers after source 1.
    if (op >= D3DSIO_M4x4 && op <= D3DSIO_M3x2) {
      const int rows = op == D3DSIO_M4x4   ? 4
                       : op == D3DSIO_M4x3 ? 3
                       : op == D3DSIO_M3x4 ? 4
                       : op == D3DSIO_M3x3 ? 3
                                           : 2;
      const Param& m = in.src[1];
      const int count = m.type == D3DSPR_CONST  ? lim_.consts
                        : m.type == D3DSPR_TEMP ? lim_.temps
                                                : 0;
      if (count == 0) return Fail(at, "matrix operand must be a c# or r# register");
      if (int(m.index) + rows > count) return Fail(at, "matrix runs past the last register");
      if (m.type == D3DSPR_TEMP) c_->temps = std::max(c_->temps, int(m.index) + rows);
      const uint8_t allowed = uint8_t((1 << rows) - 1);
      if (in.dst.mask & ~allowed) return Fail(at, "write mask exceeds the matrix rows");
    }
    if (op == D3DSIO_LOOP || op == D3DSIO_ENDLOOP || op == D3DSIO_REP || op == D3DSIO_ENDREP ||
        op == D3DSIO_IF || op == D3DSIO_IFC || op == D3DSIO_ELSE || op == D3DSIO_ENDIF ||
        op == D3DSIO_BREAK || op == D3DSIO_BREAKC || op == D3DSIO_BREAKP || op == D3DSIO_LABEL ||
        op == D3DSIO_RET || op == D3DSIO_CALL || op == D3DSIO_CALLNZ) {
      if (!Flow(in, at)) return false;
    }
    if (op != D3DSIO_LABEL) any_code_ = true;
    c_->code.push_back(in);
  }
  c_->dwords = pos_;
  return Finish();
}

}  // namespace

Limits LimitsOf(ShaderType type, int major, int minor) {
  if (type == ShaderType::kVertex) {
    if (major == 3) return Limits{32, 256, 16, 4, 12};
    return Limits{minor == 0 ? 12 : 32, 256, 16, 0, 13};
  }
  if (major == 3) return Limits{32, 224, 10, 16, 4};
  return Limits{minor == 0 ? 12 : 32, 32, 2, 16, 4};
}

bool ReadCode(const DWORD* tokens, size_t max_dwords, Code* out, std::string* why) {
  Code code;
  std::string reason;
  Reader reader(tokens, max_dwords, &code, &reason);
  if (!reader.Run()) {
    if (why) *why = reason;
    return false;
  }
  *out = std::move(code);
  return true;
}

// Shared walker of SM2/3 streams: calls `visit(at, token)` for each instruction or comment token
// until the end token. Returns the end token's offset + 1, or 0.
template <class Visit>
static size_t Walk(const DWORD* t, size_t n, Visit visit) {
  if (!t || n == 0 || (t[0] >> 16) < 0xFFFE) return 0;
  if (((t[0] >> 8) & 0xFF) < 2) return 0;  // lengths are encoded from shader model 2 on
  size_t pos = 1;
  while (pos < n) {
    const DWORD tok = t[pos];
    if (tok == D3DPS_END()) return pos + 1;
    size_t len;
    if ((tok & D3DSI_OPCODE_MASK) == D3DSIO_COMMENT)
      len = (tok & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
    else
      len = (tok & D3DSI_INSTLENGTH_MASK) >> D3DSI_INSTLENGTH_SHIFT;
    if (len > n - pos - 1) return 0;
    if (!visit(pos, tok, len)) return 0;
    pos += 1 + len;
  }
  return 0;
}

const DWORD* FindComment(const DWORD* tokens, size_t max_dwords, DWORD fourcc, size_t* dwords) {
  const DWORD* found = nullptr;
  size_t size = 0;
  Walk(tokens, max_dwords, [&](size_t at, DWORD tok, size_t len) {
    if ((tok & D3DSI_OPCODE_MASK) == D3DSIO_COMMENT && len >= 1 && tokens[at + 1] == fourcc &&
        !found) {
      found = tokens + at + 2;
      size = len - 1;
    }
    return true;
  });
  if (found && dwords) *dwords = size;
  return found;
}

size_t CodeSize(const DWORD* tokens, size_t max_dwords) {
  return Walk(tokens, max_dwords, [](size_t, DWORD, size_t) { return true; });
}

}  // namespace vexa::sm
