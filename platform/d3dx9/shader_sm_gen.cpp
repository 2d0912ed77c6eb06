// HLSL to shader model 2 / 3 instructions. Values are trees of leaves (scalars and vectors in
// virtual temporaries, constant registers, inputs, or compile-time constants); helper functions
// are expanded inline; loops whose trip count folds to a constant are unrolled; in shader model
// 2 every branch is flattened into selects under a predicate, in shader model 3 branches and the
// remaining loops become if / rep blocks.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "d3dx9/shader_sm.h"
#include "d3dx9shader.h"

namespace vexa::shader::sm {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kMaxIr = 1 << 18;          // instructions over a whole compile
constexpr int kMaxUnroll = 1024;            // iterations of one unrolled loop
constexpr size_t kMaxUnrollGrowth = 16384;  // instructions one unrolled loop may add
constexpr size_t kMaxUnrollGrowthSm3 = 480;
constexpr int kMaxInlines = 1 << 14;
constexpr size_t kMaxEmittedTotal = size_t(1) << 22;

inline int SwzComp(uint8_t swz, int i) {
  return (swz >> (2 * i)) & 3;
}
inline uint8_t MakeSwz(const int c[4]) {
  return uint8_t(c[0] | (c[1] << 2) | (c[2] << 4) | (c[3] << 6));
}
inline uint8_t Rep(int c) {
  return uint8_t(c * 0x55);
}

Type Vec(Base b, int n) {
  return Type{b, uint8_t(n)};
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 32);
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != y) return false;
  }
  return true;
}

// A semantic split into usage and index: "TEXCOORD3" -> (TEXCOORD, 3).
enum ExtraUsage : int { kUsageVPos = 100, kUsageVFace = 101 };
bool ParseSemantic(std::string_view s, int* usage, int* index) {
  size_t digits = s.size();
  while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9') --digits;
  std::string_view name = s.substr(0, digits);
  int idx = 0;
  if (digits < s.size()) {
    if (s.size() - digits > 2) return false;
    for (size_t i = digits; i < s.size(); ++i) idx = idx * 10 + (s[i] - '0');
  }
  static const std::pair<const char*, int> names[] = {{"POSITION", D3DDECLUSAGE_POSITION},
                                                      {"BLENDWEIGHT", D3DDECLUSAGE_BLENDWEIGHT},
                                                      {"BLENDINDICES", D3DDECLUSAGE_BLENDINDICES},
                                                      {"NORMAL", D3DDECLUSAGE_NORMAL},
                                                      {"PSIZE", D3DDECLUSAGE_PSIZE},
                                                      {"TEXCOORD", D3DDECLUSAGE_TEXCOORD},
                                                      {"TANGENT", D3DDECLUSAGE_TANGENT},
                                                      {"BINORMAL", D3DDECLUSAGE_BINORMAL},
                                                      {"TESSFACTOR", D3DDECLUSAGE_TESSFACTOR},
                                                      {"POSITIONT", D3DDECLUSAGE_POSITIONT},
                                                      {"COLOR", D3DDECLUSAGE_COLOR},
                                                      {"FOG", D3DDECLUSAGE_FOG},
                                                      {"DEPTH", D3DDECLUSAGE_DEPTH},
                                                      {"SAMPLE", D3DDECLUSAGE_SAMPLE},
                                                      {"SV_POSITION", D3DDECLUSAGE_POSITION},
                                                      {"SV_TARGET", D3DDECLUSAGE_COLOR},
                                                      {"SV_DEPTH", D3DDECLUSAGE_DEPTH},
                                                      {"VPOS", kUsageVPos},
                                                      {"VFACE", kUsageVFace}};
  for (auto& [n, u] : names) {
    if (IEquals(name, n)) {
      if (idx > 15) return false;
      *usage = u;
      *index = idx;
      return true;
    }
  }
  return false;
}

// --- values ------------------------------------------------------------------------------------

struct Val {
  Type t;
  Opnd o;
  bool konst = false;
  float k[4] = {0, 0, 0, 0};
  std::vector<Val> parts;  // matrix rows (columns when `cols`), struct members, array elements
  bool cols = false;
  int sampler = -1;  // sampler values: the s register
  int var = -1;      // sampler values: the uniform it came from
  int cbase = -1;    // uniform arrays: register of element 0
  int stride = 0;    //   registers per element
};

Val Konst(Base b, int n, const float* v) {
  Val r;
  r.t = Vec(b, n);
  r.konst = true;
  for (int i = 0; i < 4; ++i) r.k[i] = v[std::min(i, n - 1)];
  return r;
}
Val Konst1(Base b, float v) {
  return Konst(b, 1, &v);
}

struct Leaf {
  Base base = Base::kFloat;
  uint8_t dim = 1;
  bool konst = true;
  float k[4] = {0, 0, 0, 0};
  Opnd cur;
  uint32_t home = kNone;
  int region = 0;  // dynamic-region depth where declared
  int pdepth = 0;  // predicate depth where declared
};

struct Var {
  std::string_view name;
  Type t;
  bool is_const = false;
  bool uniform = false;  // read-only value in uval (uniforms, samplers)
  bool is_static_global = false;
  size_t first = 0;
  Val uval;
};

struct Uniform {
  const Node* decl = nullptr;  // global, or null for an entry parameter
  std::string name;
  Type t;
  uint8_t packing = kColumnMajor;
  bool used = false;
  bool sampler = false;
  int reg = -1;
  int count = 0;
  std::vector<float> defaults;
  uint8_t sampler_kind = 0;  // what texture functions used it as (SamplerKind)
};

struct Loop {
  bool dynamic = false;
  int cond_base = 0;
  size_t brk = kNone, cnt = kNone;  // flag leaves
  bool stop = false;                // an unconditional break ended the unrolling
};

struct Frame {
  const Function* f = nullptr;
  size_t ret = kNone;  // first leaf of the return value
  size_t ret_flag = kNone;
  int cond_base = 0;
  size_t loop_base = 0;
  size_t scope_base = 0;
};

struct UnrollLimit {};  // thrown when an unrolled loop grows too large

}  // namespace

namespace {

class Gen {
 public:
  Gen(Unit& u, const Target& t, DWORD flags, std::string& warnings, Program* out)
      : u_(u), tg_(t), flags_(flags), warnings_(warnings), out_(out) {
    pred_ = Konst1(Base::kFloat, 1.f);
  }

  void Run(std::string_view entry);

 private:
  Unit& u_;
  const Target tg_;
  const DWORD flags_;
  std::string& warnings_;
  Program* out_;
  uint32_t vregs_ = 0;
  std::vector<Leaf> leaves_;
  std::vector<std::vector<Var>> scopes_;
  std::vector<Uniform> uniforms_;
  std::unordered_map<std::string_view, const Function*> funcs_;
  std::vector<Loop> loops_;
  std::vector<Frame> frames_;
  std::vector<bool> creg_used_;
  std::vector<bool> sreg_used_;
  int region_ = 0;      // nesting of shader model 3 if / rep blocks
  int cond_depth_ = 0;  // nesting of conditions that are not known at compile time
  Val pred_;            // shader model 2: the lanes the current statements apply to
  int pdepth_ = 0;
  bool dead_ = false;    // the rest of the block cannot run
  bool exited_ = false;  // a break, continue or return may have run under a condition
  int inlines_ = 0;
  size_t unroll_limit_ = SIZE_MAX;
  const Node* at_ = nullptr;  // position for errors without a node
  int defi_reg_ = -1;
  bool ps() const { return !tg_.vs; }
  bool sm3() const { return tg_.major >= 3; }

  // --- diagnostics ---------------------------------------------------------------------------
  [[noreturn]] void Fail(const Node* n, const char* code, const std::string& text) {
    if (!n) n = at_;
    throw CompileError{n ? n->line : 0, n ? n->col : 0, code, text};
  }
  [[noreturn]] void FailAt(int line, int col, const char* code, const std::string& text) {
    throw CompileError{line, col, code, text};
  }
  void Warn(const Node* n, const char* code, const char* text) {
    if (!n) n = at_;
    char buf[200];
    std::snprintf(buf, sizeof buf, "memory(%d,%d): warning %s: %s\n", n ? n->line : 0,
                  n ? n->col : 0, code, text);
    if (warnings_.size() < 64 * 1024 && warnings_.find(buf) == std::string::npos) warnings_ += buf;
  }
  [[noreturn]] void NotInProfile(const Node* n, const std::string& what) {
    Fail(n, "X4532", "cannot map expression to " + tg_.name + " instruction set: " + what);
  }

  // --- emission ------------------------------------------------------------------------------
  uint32_t NewVreg() {
    if (vregs_ >= (1u << 24)) Fail(nullptr, "X3507", "shader is too complex");
    return vregs_++;
  }
  static Opnd VT(uint32_t r, uint8_t swz = kIdentity) {
    Opnd o;
    o.type = kVTemp;
    o.index = r;
    o.swz = swz;
    return o;
  }
  static Opnd Reg(uint8_t type, uint32_t index, uint8_t swz = kIdentity) {
    Opnd o;
    o.type = type;
    o.index = index;
    o.swz = swz;
    return o;
  }

  static bool OpndEq(const Opnd& a, const Opnd& b) {
    return a.type == b.type && a.index == b.index && a.swz == b.swz && a.mod == b.mod &&
           a.rel == b.rel && a.rel_type == b.rel_type && a.rel_comp == b.rel_comp;
  }

  // Common subexpressions: pure instructions over values that never change (not variables).
  std::unordered_map<std::string, uint32_t> cse_;
  std::vector<bool> is_home_;
  uint32_t NewHome() {
    const uint32_t r = NewVreg();
    if (is_home_.size() <= r) is_home_.resize(size_t(r) + 1024, false);
    is_home_[r] = true;
    return r;
  }
  bool IsHome(uint32_t r) const { return r < is_home_.size() && is_home_[r]; }
  bool CseKey(const Ins& in, std::string* key) const {
    key->clear();
    key->push_back(char(in.op & 0xFF));
    key->push_back(char(in.op >> 8));
    key->push_back(char(in.ctrl));
    key->push_back(char(in.mask | (in.sat ? 16 : 0)));
    for (int i = 0; i < in.nsrc; ++i) {
      const Opnd& s = in.src[i];
      if (s.rel || (s.type == kVTemp && IsHome(s.index))) return false;
      key->push_back(char(s.type));
      key->append(reinterpret_cast<const char*>(&s.index), 4);
      key->push_back(char(s.swz));
      key->push_back(char(s.mod));
    }
    return true;
  }
  // Pushes `in` (writing a fresh vreg) unless the same computation already exists.
  uint32_t PushValue(Ins in) {
    std::string key;
    if (CseKey(in, &key)) {
      auto it = cse_.find(key);
      if (it != cse_.end()) return it->second;
      Push(in);
      cse_[key] = in.dst.index;
      return in.dst.index;
    }
    Push(in);
    return in.dst.index;
  }

  static uint8_t ReadMask(const Ins& in, int i) {
    switch (in.op) {
      case D3DSIO_DP3:
      case D3DSIO_NRM:
        return 7;
      case D3DSIO_DP4:
        return 15;
      case D3DSIO_DP2ADD:
        return i == 2 ? 1 : 3;
      case D3DSIO_RCP:
      case D3DSIO_RSQ:
      case D3DSIO_EXP:
      case D3DSIO_LOG:
      case D3DSIO_POW:
      case D3DSIO_SINCOS:
      case D3DSIO_IFC:
      case D3DSIO_BREAKC:
      case D3DSIO_MOVA:
        return 1;
      default:
        return in.mask;
    }
  }

  // Moves a source into a fresh temporary (all components it is read in).
  Opnd CopyToTemp(const Opnd& src, uint8_t mask, int depth) {
    const uint32_t t = NewVreg();
    Ins mov;
    mov.op = D3DSIO_MOV;
    mov.has_dst = true;
    mov.dst = VT(t);
    mov.mask = mask;
    mov.nsrc = 1;
    mov.src[0] = src;
    Push(mov, depth + 1);
    // Read the copy as the instruction read the original: components outside the mask repeat
    // the first one (replicate swizzles stay replicate).
    int low = 0;
    while (low < 3 && !(mask >> low & 1)) ++low;
    int sw[4];
    for (int c = 0; c < 4; ++c) sw[c] = (mask >> c & 1) ? c : low;
    return VT(t, MakeSwz(sw));
  }

  // ps_2_0 allows only these source swizzles.
  static bool Ps20Swizzle(uint8_t swz, uint8_t need, uint8_t* out) {
    static const uint8_t allowed[] = {0xE4, 0x00, 0x55, 0xAA, 0xFF, 0xC9, 0xD2, 0x1B};
    for (uint8_t a : allowed) {
      bool ok = true;
      for (int c = 0; c < 4 && ok; ++c)
        if ((need >> c & 1) && SwzComp(a, c) != SwzComp(swz, c)) ok = false;
      if (ok) return *out = a, true;
    }
    return false;
  }

  void Legalize(Ins& in, int depth) {
    if (depth > 4) return;
    const bool sm2_sincos = in.op == D3DSIO_SINCOS && !sm3();
    const bool tex = in.op == D3DSIO_TEX || in.op == D3DSIO_TEXLDL || in.op == D3DSIO_TEXLDD;
    // Read ports: one constant register, one input register, one texture coordinate register.
    for (uint8_t file : {uint8_t(D3DSPR_CONST), uint8_t(D3DSPR_INPUT), uint8_t(D3DSPR_TEXTURE)}) {
      int64_t first = -1;
      for (int i = 0; i < in.nsrc; ++i) {
        Opnd& s = in.src[i];
        if (s.type != file || (sm2_sincos && i > 0)) continue;
        if (file == D3DSPR_TEXTURE && tg_.vs) continue;  // a0 is not a read port
        const int64_t key = int64_t(s.index) | (s.rel ? (int64_t(1) << 40) : 0);
        if (first < 0) {
          first = key;
        } else if (key != first) {
          s = CopyToTemp(s, tex ? 0xF : ReadMask(in, i), depth);
        }
      }
    }
    if (tg_.vs || sm3()) return;
    // ps_2_0: texture coordinates come straight from a t# or r# register.
    if (in.op == D3DSIO_TEX) {
      Opnd& c = in.src[0];
      if ((c.type != kVTemp && c.type != D3DSPR_TEXTURE) || c.swz != kIdentity || c.mod) {
        c = CopyToTemp(c, 0xF, depth);
      }
      return;
    }
    for (int i = 0; i < in.nsrc; ++i) {
      Opnd& s = in.src[i];
      if (sm2_sincos && i > 0) continue;
      const uint8_t need = ReadMask(in, i);
      if (s.swz == Rep(s.swz & 3)) continue;  // replicate swizzles are always legal
      uint8_t fixed;
      if (Ps20Swizzle(s.swz, need, &fixed)) {
        s.swz = fixed;
        continue;
      }
      // Build the operand component by component with replicate swizzles.
      const uint32_t t = NewVreg();
      for (int c = 0; c < 4; ++c) {
        if (!(need >> c & 1)) continue;
        Ins mov;
        mov.op = D3DSIO_MOV;
        mov.has_dst = true;
        mov.dst = VT(t);
        mov.mask = uint8_t(1 << c);
        mov.nsrc = 1;
        mov.src[0] = s;
        mov.src[0].swz = Rep(SwzComp(s.swz, c));
        Push(mov, depth + 1);
      }
      s = VT(t);
    }
  }

  // Instructions emitted over the whole compile, those of abandoned unrolling attempts included:
  // bounds the compile time of sources built to defeat the loop handling.
  size_t emitted_ = 0;

  void Push(Ins in, int depth = 0) {
    if (out_->code.size() >= kMaxIr || ++emitted_ > kMaxEmittedTotal)
      Fail(nullptr, "X3507", "shader is too complex");
    if (out_->code.size() >= unroll_limit_) throw UnrollLimit{};
    Legalize(in, depth);
    out_->code.push_back(in);
  }

  // --- literal constants ---------------------------------------------------------------------
  uint32_t FreeConstRegister() {
    for (size_t r = 0; r < creg_used_.size(); ++r) {
      if (!creg_used_[r]) {
        creg_used_[r] = true;
        return uint32_t(r);
      }
    }
    Fail(nullptr, "X5609",
         "the literal constants do not fit in " + tg_.name + "'s " + std::to_string(tg_.consts) +
             " constant registers");
  }

  static uint32_t BitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
  }

  // An operand reading vals[0..n-1] from def'd registers.
  Opnd Literal(const float* vals, int n) {
    uint32_t want[4];
    int distinct = 0;
    for (int c = 0; c < n; ++c) {
      const uint32_t b = BitsOf(vals[c]);
      bool seen = false;
      for (int j = 0; j < distinct; ++j) seen |= want[j] == b;
      if (!seen) want[distinct++] = b;
    }
    LiteralReg* pick = nullptr;
    for (LiteralReg& l : out_->literals) {
      int missing = 0;
      for (int j = 0; j < distinct; ++j) {
        bool have = false;
        for (int c = 0; c < l.used; ++c) have |= BitsOf(l.v[c]) == want[j];
        missing += !have;
      }
      if (missing <= 4 - l.used) {
        pick = &l;
        break;
      }
    }
    if (!pick) {
      LiteralReg l;
      l.reg = FreeConstRegister();
      out_->literals.push_back(l);
      pick = &out_->literals.back();
    }
    int sw[4];
    for (int c = 0; c < 4; ++c) {
      const uint32_t b = BitsOf(vals[std::min(c, n - 1)]);
      int found = -1;
      for (int j = 0; j < pick->used; ++j)
        if (BitsOf(pick->v[j]) == b) found = j;
      if (found < 0) {
        found = pick->used++;
        std::memcpy(&pick->v[found], &b, 4);
      }
      sw[c] = found;
    }
    return Reg(D3DSPR_CONST, pick->reg, MakeSwz(sw));
  }

  // A register holding exactly these four values, in order (sincos constants).
  Opnd LiteralVector(const float v[4]) {
    for (const LiteralReg& l : out_->literals)
      if (l.used == 4 && std::memcmp(l.v, v, 16) == 0) return Reg(D3DSPR_CONST, l.reg);
    LiteralReg l;
    l.reg = FreeConstRegister();
    std::memcpy(l.v, v, 16);
    l.used = 4;
    out_->literals.push_back(l);
    return Reg(D3DSPR_CONST, l.reg);
  }

  // --- operands from values ------------------------------------------------------------------
  // The operand reading components 0..n-1 of a scalar or vector value (scalars broadcast).
  Opnd Use(const Val& v, int n) {
    const int d = v.t.dim;
    if (v.konst) {
      float vals[4];
      for (int c = 0; c < n; ++c) vals[c] = v.k[d == 1 ? 0 : std::min(c, d - 1)];
      return Literal(vals, n);
    }
    Opnd o = v.o;
    int sw[4];
    const int last = std::max(1, std::min(n, d)) - 1;
    for (int c = 0; c < 4; ++c) sw[c] = SwzComp(v.o.swz, d == 1 ? 0 : std::min(c, last));
    o.swz = MakeSwz(sw);
    return o;
  }
  // Component c of a value, replicated.
  Opnd Use1(const Val& v, int c) {
    c = std::min(c, int(v.t.dim) - 1);
    if (v.konst) return Literal(&v.k[c], 1);
    Opnd o = v.o;
    o.swz = Rep(SwzComp(v.o.swz, c));
    return o;
  }

  // --- folding -------------------------------------------------------------------------------
  static float Eval(uint16_t op, float a, float b, float c) {
    switch (op) {
      case D3DSIO_MOV:
        return a;
      case D3DSIO_ADD:
        return a + b;
      case D3DSIO_MUL:
        return a * b;
      case D3DSIO_MAD:
        return a * b + c;
      case D3DSIO_MIN:
        return a < b ? a : b;
      case D3DSIO_MAX:
        return a > b ? a : b;
      case D3DSIO_SLT:
        return a < b ? 1.f : 0.f;
      case D3DSIO_SGE:
        return a >= b ? 1.f : 0.f;
      case D3DSIO_CMP:
        return a >= 0.f ? b : c;
      case D3DSIO_LRP:
        return a * (b - c) + c;
      case D3DSIO_FRC:
        return a - std::floor(a);
      case D3DSIO_RCP:
        return 1.f / a;
      case D3DSIO_RSQ:
        return 1.f / std::sqrt(std::fabs(a));
      case D3DSIO_EXP:
        return std::exp2(a);
      case D3DSIO_LOG:
        return std::log2(std::fabs(a));
      case D3DSIO_POW:
        return std::pow(std::fabs(a), b);
      case D3DSIO_ABS:
        return std::fabs(a);
      default:
        return 0.f;
    }
  }
  static float Sat(float x) { return x > 0.f ? (x < 1.f ? x : 1.f) : 0.f; }

  // --- instruction builders ------------------------------------------------------------------
  // A component-wise instruction over n components; constant inputs fold.
  Val Cw(uint16_t op, Base rb, int n, std::initializer_list<Val> srcs, bool sat = false) {
    bool all = true;
    for (const Val& s : srcs) all &= s.konst;
    const Val* v[3] = {nullptr, nullptr, nullptr};
    int i = 0;
    for (const Val& s : srcs) v[i++] = &s;
    if (all) {
      float r[4];
      for (int c = 0; c < n; ++c) {
        float a = v[0]->k[std::min(c, v[0]->t.dim - 1)];
        float b = v[1] ? v[1]->k[std::min(c, v[1]->t.dim - 1)] : 0.f;
        float x = v[2] ? v[2]->k[std::min(c, v[2]->t.dim - 1)] : 0.f;
        r[c] = Eval(op, a, b, x);
        if (sat) r[c] = Sat(r[c]);
      }
      return Konst(rb, n, r);
    }
    // x + 0, x * 1, 0 * x + y, x * 1 + y: no instruction needed.
    auto is = [&](const Val* x, float k) {
      if (!x || !x->konst) return false;
      for (int c = 0; c < n; ++c)
        if (x->k[std::min(c, x->t.dim - 1)] != k || std::signbit(x->k[std::min(c, x->t.dim - 1)]))
          return false;
      return true;
    };
    auto same = [&](const Val& x) {
      Val r = x.t.dim == 1 && n > 1 ? Broadcast(x, n) : x;
      r.t = Vec(rb, n);
      return sat ? Cw(D3DSIO_MOV, rb, n, {r}, true) : r;
    };
    if (op == D3DSIO_ADD && is(v[1], 0.f)) return same(*v[0]);
    if (op == D3DSIO_ADD && is(v[0], 0.f)) return same(*v[1]);
    if (op == D3DSIO_MUL && is(v[1], 1.f)) return same(*v[0]);
    if (op == D3DSIO_MUL && is(v[0], 1.f)) return same(*v[1]);
    // Products with a zero factor are zero (as the HLSL compiler folds them).
    auto zero = [&]() {
      const float z[4] = {0.f, 0.f, 0.f, 0.f};
      return Konst(rb, n, z);
    };
    if (op == D3DSIO_MUL && (is(v[0], 0.f) || is(v[1], 0.f))) return zero();
    if (op == D3DSIO_MAD && (is(v[0], 0.f) || is(v[1], 0.f))) return same(*v[2]);
    if (op == D3DSIO_MAD && is(v[2], 0.f)) return Cw(D3DSIO_MUL, rb, n, {*v[0], *v[1]}, sat);
    if (op == D3DSIO_MAD && is(v[1], 1.f)) return Cw(D3DSIO_ADD, rb, n, {*v[0], *v[2]}, sat);
    if (op == D3DSIO_MAD && is(v[0], 1.f)) return Cw(D3DSIO_ADD, rb, n, {*v[1], *v[2]}, sat);
    if (op == D3DSIO_MOV && !sat && !v[0]->o.mod) return same(*v[0]);
    Ins in;
    in.op = op;
    in.has_dst = true;
    in.dst = VT(NewVreg());
    in.mask = uint8_t((1 << n) - 1);
    in.sat = sat;
    in.nsrc = uint8_t(srcs.size());
    for (int j = 0; j < in.nsrc; ++j) in.src[j] = Use(*v[j], n);
    Val r;
    r.t = Vec(rb, n);
    r.o = VT(PushValue(in));
    return r;
  }

  // A scalar instruction (rcp, rsq, exp, log, pow) applied to each component.
  Val PerComp(uint16_t op, int n, const Val& a, const Val* b = nullptr) {
    if (a.konst && (!b || b->konst)) {
      float r[4];
      for (int c = 0; c < n; ++c)
        r[c] =
            Eval(op, a.k[std::min(c, a.t.dim - 1)], b ? b->k[std::min(c, b->t.dim - 1)] : 0.f, 0);
      return Konst(Base::kFloat, n, r);
    }
    const uint32_t d = NewVreg();
    // Components reading the same source component share one instruction.
    uint8_t done = 0;
    for (int c = 0; c < n; ++c) {
      if (done >> c & 1) continue;
      const Opnd sa = Use1(a, c);
      const Opnd sb = b ? Use1(*b, c) : Opnd();
      uint8_t mask = 0;
      for (int c2 = c; c2 < n; ++c2) {
        const Opnd ta = Use1(a, c2);
        const Opnd tb = b ? Use1(*b, c2) : Opnd();
        if (OpndEq(ta, sa) && (!b || OpndEq(tb, sb))) mask |= uint8_t(1 << c2);
      }
      done |= mask;
      Ins in;
      in.op = op;
      in.has_dst = true;
      in.dst = VT(d);
      in.mask = mask;
      in.nsrc = b ? 2 : 1;
      in.src[0] = sa;
      if (b) in.src[1] = sb;
      if (c == 0 && mask == (1 << n) - 1) {  // one instruction: may be shared
        Val r;
        r.t = Vec(Base::kFloat, n);
        r.o = VT(PushValue(in));
        return r;
      }
      Push(in);
    }
    Val r;
    r.t = Vec(Base::kFloat, n);
    r.o = VT(d);
    return r;
  }

  Val Neg(Val v) {
    if (!v.parts.empty()) {
      for (Val& p : v.parts) p = Neg(p);
      return v;
    }
    if (v.konst) {
      for (float& k : v.k) k = -k;
      return v;
    }
    static const uint8_t flip[] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 11, 13};
    v.o.mod = flip[v.o.mod < 14 ? v.o.mod : 0];
    if (v.t.base == Base::kBool) v.t.base = Base::kInt;
    return v;
  }

  Val Abs(const Val& v) {
    if (v.konst) {
      Val r = v;
      for (float& k : r.k) k = std::fabs(k);
      return r;
    }
    if (sm3()) {
      Val r = v;
      r.o.mod = 11;
      return r;
    }
    return Cw(D3DSIO_ABS, v.t.base, v.t.dim, {v});
  }

  Val Add(const Val& a, const Val& b, int n) { return Cw(D3DSIO_ADD, Base::kFloat, n, {a, b}); }
  Val Sub(const Val& a, const Val& b, int n) {
    return Cw(D3DSIO_ADD, Base::kFloat, n, {a, Neg(b)});
  }
  Val Mul(const Val& a, const Val& b, int n) { return Cw(D3DSIO_MUL, Base::kFloat, n, {a, b}); }
  Val Mad(const Val& a, const Val& b, const Val& c, int n) {
    return Cw(D3DSIO_MAD, Base::kFloat, n, {a, b, c});
  }
  Val F(float x) { return Konst1(Base::kFloat, x); }

  Val Frc(const Val& v, int n) {
    if (v.konst || !(tg_.vs && tg_.major == 2)) return Cw(D3DSIO_FRC, Base::kFloat, n, {v});
    // vs_2_0's frc writes .y or .xy only.
    const uint32_t d = NewVreg();
    for (int c = 0; c < n; c += 2) {
      const int m = std::min(2, n - c);
      const uint32_t t = NewVreg();
      Ins in;
      in.op = D3DSIO_FRC;
      in.has_dst = true;
      in.dst = VT(t);
      in.mask = m == 2 ? 3 : 2;
      in.nsrc = 1;
      const Opnd base = Use(v, n);
      int sw[4];
      for (int k = 0; k < 4; ++k)
        sw[k] = SwzComp(base.swz, m == 2 ? std::min(c + std::min(k, 1), n - 1) : c);
      in.src[0] = base;
      in.src[0].swz = MakeSwz(sw);
      Push(in);
      Ins mov;
      mov.op = D3DSIO_MOV;
      mov.has_dst = true;
      mov.dst = VT(d);
      mov.mask = uint8_t(((1 << m) - 1) << c);
      mov.nsrc = 1;
      int ms[4];
      for (int k = 0; k < 4; ++k) ms[k] = m == 2 ? std::clamp(k - c, 0, 1) : 1;
      mov.src[0] = VT(t, MakeSwz(ms));
      Push(mov);
    }
    Val r;
    r.t = Vec(Base::kFloat, n);
    r.o = VT(d);
    return r;
  }

  // Dot product of the first n components.
  Val Dot(const Val& a, const Val& b, int n) {
    if (n == 1) return Mul(a, b, 1);
    if (a.konst && b.konst) {
      float s = 0;
      for (int c = 0; c < n; ++c)
        s += a.k[std::min(c, a.t.dim - 1)] * b.k[std::min(c, b.t.dim - 1)];
      return F(s);
    }
    const uint32_t d = NewVreg();
    Ins in;
    in.has_dst = true;
    in.dst = VT(d);
    in.mask = 1;
    if (n == 2) {
      if (ps()) {
        in.op = D3DSIO_DP2ADD;
        in.nsrc = 3;
        in.src[0] = Use(a, 2);
        in.src[1] = Use(b, 2);
        in.src[2] = Use(F(0), 1);
        Push(in);
      } else {
        Val x = Mul(Swizzle1(a, 0), Swizzle1(b, 0), 1);
        return Mad(Swizzle1(a, 1), Swizzle1(b, 1), x, 1);
      }
    } else {
      in.op = n == 3 ? D3DSIO_DP3 : D3DSIO_DP4;
      in.nsrc = 2;
      in.src[0] = Use(a, n);
      in.src[1] = Use(b, n);
      Push(in);
    }
    Val r;
    r.t = Vec(Base::kFloat, 1);
    r.o = VT(d);
    return r;
  }

  // c ? x : y, per component, for c of 0 / 1 values.
  Val Select(const Val& c, const Val& x, const Val& y, int n, Base base = Base::kFloat) {
    if (c.konst) {
      bool same = true;
      for (int i = 1; i < n; ++i) same &= (c.k[std::min(i, c.t.dim - 1)] != 0) == (c.k[0] != 0);
      if (same) {
        Val r = c.k[0] != 0 ? x : y;
        return Conv(r, Vec(base, n), nullptr, false);
      }
    }
    if (ps()) return Cw(D3DSIO_CMP, base, n, {Neg(c), y, x});
    return Cw(D3DSIO_LRP, base, n, {c, x, y});
  }

  // Comparison results as 0 / 1.
  Val Compare(std::string_view op, const Val& a, const Val& b, int n) {
    if (a.konst && b.konst) {
      float r[4];
      for (int c = 0; c < n; ++c) {
        const float x = a.k[std::min(c, a.t.dim - 1)], y = b.k[std::min(c, b.t.dim - 1)];
        const bool v = op == "<"    ? x < y
                       : op == ">"  ? x > y
                       : op == "<=" ? x <= y
                       : op == ">=" ? x >= y
                       : op == "==" ? x == y
                                    : x != y;
        r[c] = v ? 1.f : 0.f;
      }
      return Konst(Base::kBool, n, r);
    }
    Val r;
    if (tg_.vs) {
      if (op == "<")
        r = Cw(D3DSIO_SLT, Base::kBool, n, {a, b});
      else if (op == ">")
        r = Cw(D3DSIO_SLT, Base::kBool, n, {b, a});
      else if (op == ">=")
        r = Cw(D3DSIO_SGE, Base::kBool, n, {a, b});
      else if (op == "<=")
        r = Cw(D3DSIO_SGE, Base::kBool, n, {b, a});
      else if (op == "==")
        r = Cw(D3DSIO_MUL, Base::kBool, n,
               {Cw(D3DSIO_SGE, Base::kBool, n, {a, b}), Cw(D3DSIO_SGE, Base::kBool, n, {b, a})});
      else
        r = Cw(D3DSIO_ADD, Base::kBool, n,
               {Cw(D3DSIO_SLT, Base::kBool, n, {a, b}), Cw(D3DSIO_SLT, Base::kBool, n, {b, a})});
      return r;
    }
    // Pixel shaders: cmp on a difference.
    const Val one = F(1), zero = F(0);
    if (op == "<" || op == ">=") {
      const Val d = Sub(a, b, n);
      return Cw(D3DSIO_CMP, Base::kBool, n, {d, op == "<" ? zero : one, op == "<" ? one : zero});
    }
    if (op == ">" || op == "<=") {
      const Val d = Sub(b, a, n);
      return Cw(D3DSIO_CMP, Base::kBool, n, {d, op == ">" ? zero : one, op == ">" ? one : zero});
    }
    const Val d = Abs(Sub(a, b, n));
    return Cw(D3DSIO_CMP, Base::kBool, n,
              {Neg(d), op == "==" ? one : zero, op == "==" ? zero : one});
  }

  Val ToBool(const Val& v) {
    if (v.t.base == Base::kBool) return v;
    Val r = Compare("!=", v, F(0), v.t.dim);
    r.t.base = Base::kBool;
    return r;
  }

  // Truncation toward zero, as float-to-int conversions do.
  Val Trunc(const Val& v) {
    const int n = v.t.dim;
    if (v.konst) {
      Val r = v;
      for (float& k : r.k) k = std::trunc(k);
      r.t.base = Base::kInt;
      return r;
    }
    const Val a = Abs(v);
    const Val fl = Sub(a, Frc(a, n), n);  // floor(|v|)
    Val r;
    if (ps()) {
      r = Cw(D3DSIO_CMP, Base::kInt, n, {v, fl, Neg(fl)});
    } else {
      const Val s = Cw(D3DSIO_SGE, Base::kFloat, n, {v, F(0)});  // 1 or 0
      const Val sign = Mad(s, F(2), F(-1), n);
      r = Mul(fl, sign, n);
    }
    r.t.base = Base::kInt;
    return r;
  }

  Val Swizzle1(const Val& v, int c) {
    Val r = v;
    r.t.dim = 1;
    if (v.konst) {
      const float x = v.k[std::min(c, v.t.dim - 1)];
      for (float& k : r.k) k = x;
      return r;
    }
    r.o.swz = Rep(SwzComp(v.o.swz, std::min(c, v.t.dim - 1)));
    return r;
  }

  // A vector from scalar values.
  Val Gather(Base base, const std::vector<Val>& comps) {
    const int n = int(comps.size());
    bool all = true;
    for (const Val& c : comps) all &= c.konst;
    if (all) {
      float k[4];
      for (int i = 0; i < n; ++i) k[i] = comps[i].k[0];
      return Konst(base, n, k);
    }
    // One register read through a swizzle needs no instruction.
    bool same = true;
    for (const Val& c : comps) {
      if (c.konst || c.o.type != comps[0].o.type || c.o.index != comps[0].o.index ||
          c.o.mod != comps[0].o.mod || c.o.rel != comps[0].o.rel || comps[0].konst)
        same = false;
    }
    if (same) {
      Val r;
      r.t = Vec(base, n);
      r.o = comps[0].o;
      int sw[4];
      for (int i = 0; i < 4; ++i) sw[i] = SwzComp(comps[std::min(i, n - 1)].o.swz, 0);
      r.o.swz = MakeSwz(sw);
      return r;
    }
    const uint32_t d = NewVreg();
    uint8_t done = 0;
    for (int i = 0; i < n; ++i) {
      if (done >> i & 1) continue;
      uint8_t mask = 0;
      int sw[4] = {0, 0, 0, 0};
      if (comps[i].konst) {
        float vals[4] = {0, 0, 0, 0};
        for (int j = i; j < n; ++j) {
          if (!comps[j].konst) continue;
          mask |= uint8_t(1 << j);
          vals[j] = comps[j].k[0];
        }
        for (int j = 0; j < 4; ++j)
          if (!(mask >> j & 1)) vals[j] = comps[i].k[0];
        Ins mov;
        mov.op = D3DSIO_MOV;
        mov.has_dst = true;
        mov.dst = VT(d);
        mov.mask = mask;
        mov.nsrc = 1;
        mov.src[0] = Literal(vals, 4);
        Push(mov);
      } else {
        const Opnd& o = comps[i].o;
        for (int j = i; j < n; ++j) {
          const Opnd& p = comps[j].o;
          if (comps[j].konst || p.type != o.type || p.index != o.index || p.mod != o.mod ||
              p.rel != o.rel)
            continue;
          mask |= uint8_t(1 << j);
          sw[j] = SwzComp(p.swz, 0);
        }
        for (int j = 0; j < 4; ++j)
          if (!(mask >> j & 1)) sw[j] = SwzComp(o.swz, 0);
        Ins mov;
        mov.op = D3DSIO_MOV;
        mov.has_dst = true;
        mov.dst = VT(d);
        mov.mask = mask;
        mov.nsrc = 1;
        mov.src[0] = o;
        mov.src[0].swz = MakeSwz(sw);
        Push(mov);
      }
      done |= mask;
    }
    Val r;
    r.t = Vec(base, n);
    r.o = VT(d);
    return r;
  }

  // The scalar components of a numeric value (matrices row by row).
  void Components(const Val& v, std::vector<Val>* out) {
    if (v.t.base == Base::kStruct || v.t.IsArray()) {
      for (const Val& p : v.parts) Components(p, out);
      return;
    }
    if (v.t.IsMatrix()) {
      const Val rows = RowsOf(v);
      for (const Val& p : rows.parts) Components(p, out);
      return;
    }
    for (int c = 0; c < v.t.dim; ++c) out->push_back(Swizzle1(v, c));
  }

  // Matrices by rows or by columns.
  Val RowsOf(const Val& m) {
    if (!m.cols) return m;
    Val r;
    r.t = m.t;
    for (int i = 0; i < m.t.rows; ++i) {
      std::vector<Val> comps;
      for (int j = 0; j < m.t.dim; ++j) comps.push_back(Swizzle1(m.parts[j], i));
      r.parts.push_back(Gather(m.t.base, comps));
    }
    return r;
  }
  Val ColsOf(const Val& m) {
    if (m.cols) return m;
    Val r;
    r.t = m.t;
    r.cols = true;
    for (int j = 0; j < m.t.dim; ++j) {
      std::vector<Val> comps;
      for (int i = 0; i < m.t.rows; ++i) comps.push_back(Swizzle1(m.parts[i], j));
      r.parts.push_back(Gather(m.t.base, comps));
    }
    return r;
  }

  // --- conversions -----------------------------------------------------------------------------
  static Val Broadcast(Val v, int n) {
    if (v.konst) {
      for (int i = 1; i < 4; ++i) v.k[i] = v.k[0];
    } else {
      v.o.swz = Rep(SwzComp(v.o.swz, 0));
    }
    v.t.dim = uint8_t(n);
    return v;
  }

  Val ConvBase(Val v, Base b) {
    if (v.t.base == b) return v;
    if (!v.parts.empty()) {
      for (Val& p : v.parts) p = ConvBase(p, b);
      v.t.base = b;
      return v;
    }
    if (b == Base::kFloat || (b == Base::kInt && v.t.base == Base::kBool)) {
      v.t.base = b;
      return v;
    }
    if (b == Base::kInt) return Trunc(v);
    return ToBool(v);
  }

  [[noreturn]] void BadConversion(const Type& from, const Type& to, const Node* at, bool implicit) {
    Fail(at, "X3017",
         std::string("cannot ") + (implicit ? "implicitly " : "") + "convert from '" +
             TypeName(from) + "' to '" + TypeName(to) + "'");
  }

  Val Conv(const Val& v, Type to, const Node* at, bool implicit) {
    const Type from = v.t;
    if (from == to) return v;
    if (from.base == Base::kVoid)
      Fail(at, "X3017", "cannot convert from 'void' to '" + TypeName(to) + "'");
    if (!from.IsNumeric() || !to.IsNumeric()) {
      if (from.base == Base::kSampler && to.base == Base::kSampler && from.array == to.array &&
          (from.sampler == to.sampler || from.sampler == 0 || to.sampler == 0)) {
        Val r = v;
        r.t = to;
        return r;
      }
      if (from.base == to.base && from.strct == to.strct && from.array == to.array &&
          from.rows == to.rows && from.dim == to.dim)
        return v;
      BadConversion(from, to, at, implicit);
    }
    if (to.rows) {
      Val r;
      r.t = to;
      if (from.rows) {
        if (from.rows < to.rows || from.dim < to.dim) BadConversion(from, to, at, implicit);
        if (implicit) Warn(at, "X3206", "implicit truncation of vector type");
        if (!v.cols) {
          for (int i = 0; i < to.rows; ++i) {
            Val p = v.parts[i];
            p.t.dim = to.dim;
            r.parts.push_back(ConvBase(p, to.base));
          }
        } else {
          r.cols = true;
          for (int j = 0; j < to.dim; ++j) {
            Val p = v.parts[j];
            p.t.dim = to.rows;
            r.parts.push_back(ConvBase(p, to.base));
          }
        }
        return r;
      }
      if (from.dim == 1) {
        const Val s = Broadcast(ConvBase(v, to.base), to.dim);
        for (int i = 0; i < to.rows; ++i) r.parts.push_back(s);
        return r;
      }
      if (!implicit && from.dim == to.rows * to.dim) {
        std::vector<Val> comps;
        Components(ConvBase(v, to.base), &comps);
        for (int i = 0; i < to.rows; ++i)
          r.parts.push_back(Gather(to.base, std::vector<Val>(comps.begin() + i * to.dim,
                                                             comps.begin() + (i + 1) * to.dim)));
        return r;
      }
      BadConversion(from, to, at, implicit);
    }
    if (from.rows) {
      std::vector<Val> comps;
      Components(v, &comps);
      if (to.dim == 1 || (!implicit && size_t(to.dim) <= comps.size()) ||
          (from.rows == 1 && to.dim <= from.dim)) {
        if (to.dim > 1 && implicit) Warn(at, "X3206", "implicit truncation of vector type");
        comps.resize(to.dim);
        return ConvBase(Gather(from.base, comps), to.base);
      }
      BadConversion(from, to, at, implicit);
    }
    Val r = v;
    if (from.dim != to.dim) {
      if (from.dim == 1) {
        r = Broadcast(r, to.dim);
      } else if (from.dim > to.dim) {
        if (implicit) Warn(at, "X3206", "implicit truncation of vector type");
        r.t.dim = to.dim;
      } else {
        BadConversion(from, to, at, implicit);
      }
    }
    return ConvBase(r, to.base);
  }

  // --- variables ---------------------------------------------------------------------------------
  int LeafCount(const Type& t) const {
    if (t.IsArray()) return t.array * LeafCount(t.Element());
    if (t.base == Base::kStruct) {
      int n = 0;
      for (const Member& m : u_.structs[size_t(t.strct)].members) n += LeafCount(m.type);
      return n;
    }
    if (t.IsMatrix()) return t.rows;
    if (t.IsNumeric()) return 1;
    return 0;
  }

  void ShapeLeaves(const Type& t, size_t& i) {
    if (t.IsArray()) {
      for (int e = 0; e < t.array; ++e) ShapeLeaves(t.Element(), i);
      return;
    }
    if (t.base == Base::kStruct) {
      for (const Member& m : u_.structs[size_t(t.strct)].members) ShapeLeaves(m.type, i);
      return;
    }
    const int n = t.IsMatrix() ? t.rows : 1;
    for (int r = 0; r < n; ++r) {
      Leaf& L = leaves_[i++];
      L.base = t.base;
      L.dim = t.dim;
    }
  }

  size_t NewLeaves(const Type& t, const Node* at) {
    const size_t first = leaves_.size();
    const size_t n = size_t(LeafCount(t));
    if (first + n > (size_t(1) << 20)) Fail(at, "X3507", "shader is too complex");
    Leaf proto;
    proto.region = region_;
    proto.pdepth = pdepth_;
    leaves_.resize(first + n, proto);
    size_t i = first;
    ShapeLeaves(t, i);
    return first;
  }

  static Val LeafVal(const Leaf& L) {
    Val v;
    v.t = Vec(L.base, L.dim);
    if (L.konst) {
      v.konst = true;
      std::memcpy(v.k, L.k, sizeof v.k);
    } else {
      v.o = L.cur;
    }
    return v;
  }

  Val ReadLeaves(const Type& t, size_t& i) {
    Val r;
    r.t = t;
    if (t.IsArray()) {
      for (int e = 0; e < t.array; ++e) r.parts.push_back(ReadLeaves(t.Element(), i));
      return r;
    }
    if (t.base == Base::kStruct) {
      for (const Member& m : u_.structs[size_t(t.strct)].members)
        r.parts.push_back(ReadLeaves(m.type, i));
      return r;
    }
    if (t.IsMatrix()) {
      for (int row = 0; row < t.rows; ++row) r.parts.push_back(LeafVal(leaves_[i++]));
      return r;
    }
    return LeafVal(leaves_[i++]);
  }

  static bool InHome(const Leaf& L) {
    return !L.konst && L.home != kNone && L.cur.type == kVTemp && L.cur.index == L.home &&
           L.cur.swz == kIdentity && L.cur.mod == 0 && !L.cur.rel;
  }

  void Materialize(size_t li) {
    if (InHome(leaves_[li])) return;
    if (leaves_[li].home == kNone) leaves_[li].home = NewHome();
    const Val cur = LeafVal(leaves_[li]);
    const int dim = leaves_[li].dim;
    Ins mov;
    mov.op = D3DSIO_MOV;
    mov.has_dst = true;
    mov.dst = VT(leaves_[li].home);
    mov.mask = uint8_t((1 << dim) - 1);
    mov.nsrc = 1;
    mov.src[0] = Use(cur, dim);
    Push(mov);
    leaves_[li].cur = VT(leaves_[li].home);
    leaves_[li].konst = false;
  }

  // Writes value components 0..n-1 into components comps[] of a leaf.
  void AssignLeaf(size_t li, Val v, const uint8_t* comps, int n) {
    const Leaf L = leaves_[li];
    v = ConvBase(v, L.base);
    bool whole = n == L.dim;
    for (int i = 0; i < n; ++i) whole &= comps[i] == i;
    const bool outside = L.region < region_;
    const bool predicated = !pred_.konst && L.pdepth < pdepth_;
    if (!outside && !predicated && v.konst && (whole || L.konst)) {
      Leaf& w = leaves_[li];
      if (whole) {
        for (int c = 0; c < 4; ++c) w.k[c] = v.k[std::min(c, v.t.dim - 1)];
      } else {
        for (int i = 0; i < n; ++i) w.k[comps[i]] = v.k[std::min(i, v.t.dim - 1)];
      }
      w.konst = true;
      return;
    }
    // A whole, unconditional write of a value that never changes (an input, a uniform, a
    // computed temporary) just names it; the variable gets its own register when written again.
    if (whole && !outside && !predicated && !v.konst && v.o.mod == 0 && !v.o.rel &&
        (v.o.type != kVTemp || !IsHome(v.o.index)) && v.t.dim == L.dim) {
      leaves_[li].cur = v.o;
      leaves_[li].konst = false;
      return;
    }
    if (predicated) {
      std::vector<Val> old;
      const Val cur = LeafVal(L);
      for (int i = 0; i < n; ++i) old.push_back(Swizzle1(cur, comps[i]));
      v = Select(pred_, Conv(v, Vec(L.base, n), nullptr, false), Gather(L.base, old), n, L.base);
    }
    if (!whole) {
      Materialize(li);
    } else if (leaves_[li].home == kNone) {
      leaves_[li].home = NewHome();
    }
    const Opnd src = Use(v, n);
    int sw[4] = {0, 0, 0, 0};
    uint8_t mask = 0;
    for (int i = 0; i < n; ++i) {
      mask |= uint8_t(1 << comps[i]);
      sw[comps[i]] = SwzComp(src.swz, i);
    }
    for (int c = 0; c < 4; ++c)
      if (!(mask >> c & 1)) sw[c] = sw[comps[0]];
    Ins mov;
    mov.op = D3DSIO_MOV;
    mov.has_dst = true;
    mov.dst = VT(leaves_[li].home);
    mov.mask = mask;
    mov.nsrc = 1;
    mov.src[0] = src;
    mov.src[0].swz = MakeSwz(sw);
    Push(mov);
    leaves_[li].cur = VT(leaves_[li].home);
    leaves_[li].konst = false;
  }

  void WriteLeaves(const Type& t, size_t& i, const Val& v) {
    if (t.IsArray() || t.base == Base::kStruct) {
      for (const Val& p : v.parts) WriteLeaves(p.t, i, p);
      return;
    }
    static const uint8_t id[4] = {0, 1, 2, 3};
    if (t.IsMatrix()) {
      const Val rows = RowsOf(v);
      for (const Val& p : rows.parts) AssignLeaf(i++, p, id, t.dim);
      return;
    }
    AssignLeaf(i++, v, id, t.dim);
  }

  void Declare(Var v, const Node* at) {
    for (const Var& o : scopes_.back())
      if (o.name == v.name) Fail(at, "X3003", "'" + std::string(v.name) + "': redefinition");
    scopes_.back().push_back(std::move(v));
  }
  Var* Lookup(std::string_view name) {
    for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
      for (auto v = s->rbegin(); v != s->rend(); ++v)
        if (v->name == name) return &*v;
    return nullptr;
  }

  // An assignable part of a variable: whole leaves, or components of one leaf.
  struct LVal {
    Type t;
    size_t first = 0;
    bool sub = false;
    uint8_t comps[4] = {0, 1, 2, 3};
    int ncomp = 0;
  };

  size_t LeafOffset(const Type& t, int member) const {  // leaves before struct member
    size_t off = 0;
    const auto& ms = u_.structs[size_t(t.strct)].members;
    for (int i = 0; i < member; ++i) off += size_t(LeafCount(ms[size_t(i)].type));
    return off;
  }

  int ConstIndex(Node* e) {
    const Val i = Expr(e);
    if (!i.t.IsPlain() || i.t.dim != 1)
      Fail(e, "X3120", "invalid type for index - index must be a scalar");
    if (!i.konst)
      Fail(e, "X3500", "array reference cannot be used as an l-value; not natively addressable");
    return int(std::trunc(i.k[0]));
  }

  LVal LValueOf(Node* n) {
    if (n->kind == N::kIdent) {
      Var* v = Lookup(n->text);
      if (!v) Fail(n, "X3004", "undeclared identifier '" + std::string(n->text) + "'");
      if (v->is_const || v->uniform) Fail(n, "X3025", "l-value specifies const object");
      LVal lv;
      lv.t = v->t;
      lv.first = v->first;
      lv.ncomp = v->t.IsPlain() ? v->t.dim : 0;
      return lv;
    }
    if (n->kind == N::kMember || n->kind == N::kIndex) {
      LVal b = LValueOf(n->kids[0]);
      LVal r;
      if (n->kind == N::kIndex && b.t.IsArray() && !b.sub) {
        const int i = ConstIndex(n->kids[1]);
        if (i < 0 || i >= b.t.array) Fail(n, "X3504", "array index out of bounds");
        r.t = b.t.Element();
        r.first = b.first + size_t(i) * size_t(LeafCount(r.t));
        r.ncomp = r.t.IsPlain() ? r.t.dim : 0;
        return r;
      }
      if (n->kind == N::kMember && b.t.base == Base::kStruct && !b.t.IsArray()) {
        const auto& ms = u_.structs[size_t(b.t.strct)].members;
        for (size_t m = 0; m < ms.size(); ++m) {
          if (ms[m].name != n->text) continue;
          r.t = ms[m].type;
          r.first = b.first + LeafOffset(b.t, int(m));
          r.ncomp = r.t.IsPlain() ? r.t.dim : 0;
          return r;
        }
        Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
      }
      if (b.t.IsMatrix() && !b.sub) {
        if (n->kind == N::kIndex) {
          const int i = ConstIndex(n->kids[1]);
          if (i < 0 || i >= b.t.rows) Fail(n, "X3504", "array index out of bounds");
          r.t = Vec(b.t.base, b.t.dim);
          r.first = b.first + size_t(i);
          r.ncomp = b.t.dim;
          return r;
        }
        std::vector<std::pair<int, int>> el;
        if (!MatrixSwizzle(n->text, b.t, &el))
          Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
        for (size_t i = 1; i < el.size(); ++i)
          if (el[i].first != el[0].first)
            Fail(n, "X3000", "assignment to matrix elements of several rows is not supported");
        r.t = Vec(b.t.base, int(el.size()));
        r.first = b.first + size_t(el[0].first);
        r.sub = true;
        r.ncomp = int(el.size());
        for (size_t i = 0; i < el.size(); ++i) r.comps[i] = uint8_t(el[i].second);
        return r;
      }
      if (b.t.IsPlain()) {
        int idx[4];
        int len;
        if (n->kind == N::kIndex) {
          const int i = ConstIndex(n->kids[1]);
          if (i < 0 || i >= b.t.dim) Fail(n, "X3504", "array index out of bounds");
          idx[0] = i;
          len = 1;
        } else {
          len = ParseSwizzle(n->text, b.t.dim, idx);
          if (!len) Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
        }
        r = b;
        r.sub = true;
        r.t.dim = uint8_t(len);
        r.ncomp = len;
        for (int i = 0; i < len; ++i) {
          for (int j = 0; j < i; ++j)
            if (idx[j] == idx[i])
              Fail(n, "X3018", "'" + std::string(n->text) + "': repeated component in an l-value");
          r.comps[i] = b.comps[idx[i]];
        }
        return r;
      }
      Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
    }
    Fail(n, "X3025", "expression is not an l-value");
  }

  Val ReadLVal(const LVal& lv) {
    size_t i = lv.first;
    if (!lv.sub) return ReadLeaves(lv.t, i);
    const Val whole = LeafVal(leaves_[lv.first]);
    std::vector<Val> comps;
    for (int c = 0; c < lv.ncomp; ++c) comps.push_back(Swizzle1(whole, lv.comps[c]));
    if (whole.konst || lv.ncomp == 1) {
      if (lv.ncomp == 1) return comps[0];
    }
    Val r = whole;
    r.t.dim = uint8_t(lv.ncomp);
    if (whole.konst) {
      for (int c = 0; c < 4; ++c) r.k[c] = whole.k[lv.comps[std::min(c, lv.ncomp - 1)]];
      return r;
    }
    int sw[4];
    for (int c = 0; c < 4; ++c) sw[c] = SwzComp(whole.o.swz, lv.comps[std::min(c, lv.ncomp - 1)]);
    r.o.swz = MakeSwz(sw);
    return r;
  }

  void Store(const LVal& lv, const Val& v, const Node* at) {
    const Val c = Conv(v, lv.t, at, true);
    if (lv.sub) {
      AssignLeaf(lv.first, c, lv.comps, lv.ncomp);
      return;
    }
    size_t i = lv.first;
    WriteLeaves(lv.t, i, c);
  }

  static int ParseSwizzle(std::string_view s, int dim, int idx[4]) {
    if (s.empty() || s.size() > 4) return 0;
    const char* sets[2] = {"xyzw", "rgba"};
    for (const char* set : sets) {
      bool ok = true;
      for (size_t i = 0; i < s.size() && ok; ++i) {
        const char* f = s[i] ? std::strchr(set, s[i]) : nullptr;
        if (!f) {
          ok = false;
          break;
        }
        idx[i] = int(f - set);
        if (idx[i] >= dim) ok = false;
      }
      if (ok) return int(s.size());
    }
    return 0;
  }

  // _m00_m11 (zero-based) or _11_22 (one-based) element lists.
  static bool MatrixSwizzle(std::string_view s, const Type& t,
                            std::vector<std::pair<int, int>>* out) {
    size_t i = 0;
    while (i < s.size()) {
      if (s[i] != '_' || out->size() >= 4) return false;
      ++i;
      int base = 1;
      if (i < s.size() && s[i] == 'm') {
        base = 0;
        ++i;
      }
      if (i + 2 > s.size()) return false;
      const int r = s[i] - '0' - base, c = s[i + 1] - '0' - base;
      if (r < 0 || c < 0 || r >= t.rows || c >= t.dim) return false;
      out->push_back({r, c});
      i += 2;
    }
    return !out->empty();
  }

  // --- expressions -------------------------------------------------------------------------------
  Val Expr(Node* n) {
    const Node* saved = at_;
    at_ = n;
    Val r = ExprInner(n);
    at_ = saved;
    return r;
  }

  Val ExprInner(Node* n) {
    switch (n->kind) {
      case N::kIntLit:
        return Konst1(Base::kInt, float(n->ival));
      case N::kFloatLit:
        return Konst1(Base::kFloat, float(n->fval));
      case N::kBoolLit:
        return Konst1(Base::kBool, n->ival ? 1.f : 0.f);
      case N::kIdent: {
        Var* v = Lookup(n->text);
        if (!v) Fail(n, "X3004", "undeclared identifier '" + std::string(n->text) + "'");
        if (v->uniform) {
          if (v->t.base == Base::kTexture)
            Fail(n, "X3000", "'" + std::string(n->text) + "': textures are read through samplers");
          return v->uval;
        }
        size_t i = v->first;
        return ReadLeaves(v->t, i);
      }
      case N::kMember:
        return MemberAccess(n);
      case N::kIndex:
        return Index(n);
      case N::kUnary:
        return Unary(n);
      case N::kBinary: {
        Val a = Expr(n->kids[0]);
        Val b = Expr(n->kids[1]);
        return BinaryOp(n->text, a, b, n);
      }
      case N::kAssign: {
        LVal lv = LValueOf(n->kids[0]);
        Val v = Expr(n->kids[1]);
        if (n->text != "=") v = BinaryOp(n->text.substr(0, n->text.size() - 1), ReadLVal(lv), v, n);
        Store(lv, v, n);
        return ReadLVal(lv);
      }
      case N::kPreInc:
      case N::kPreDec:
      case N::kPostInc:
      case N::kPostDec: {
        LVal lv = LValueOf(n->kids[0]);
        if (!lv.t.IsNumeric() || lv.t.base == Base::kBool)
          Fail(n, "X3020", "cannot increment or decrement this type");
        const bool post = n->kind == N::kPostInc || n->kind == N::kPostDec;
        const bool inc = n->kind == N::kPreInc || n->kind == N::kPostInc;
        Val old = ReadLVal(lv);
        if (post && !old.konst && old.parts.empty())
          old = Cw(D3DSIO_MOV, old.t.base, old.t.dim, {old});
        Store(lv, BinaryOp(inc ? "+" : "-", ReadLVal(lv), Konst1(lv.t.base, 1.f), n), n);
        return post ? old : ReadLVal(lv);
      }
      case N::kTernary: {
        if (ps() && n->kids[0]->kind == N::kBinary &&
            (n->kids[0]->text == "<" || n->kids[0]->text == ">" || n->kids[0]->text == "<=" ||
             n->kids[0]->text == ">=")) {
          Val a = Expr(n->kids[0]->kids[0]);
          Val b = Expr(n->kids[0]->kids[1]);
          Val x = Expr(n->kids[1]);
          Val y = Expr(n->kids[2]);
          if (a.t.IsPlain() && b.t.IsPlain() && x.t.IsPlain() && y.t.IsPlain() &&
              !(a.konst && b.konst)) {
            const int dim = Unify({&a, &b, &x, &y}, n);
            const Base base = (x.t.base == Base::kBool && y.t.base == Base::kBool)
                                  ? Base::kBool
                                  : Arith(x.t.base, y.t.base);
            auto widen = [&](const Val& v, Base bb) {
              return Conv(v.t.dim == 1 ? Broadcast(v, dim) : v, Vec(bb, dim), n, true);
            };
            a = widen(a, Base::kFloat);
            b = widen(b, Base::kFloat);
            x = widen(x, base);
            y = widen(y, base);
            const std::string_view cmp = n->kids[0]->text;
            // cmp d, s, p, q: s >= 0 ? p : q
            const Val d = (cmp == ">=" || cmp == "<") ? Sub(a, b, dim) : Sub(b, a, dim);
            const bool take_x = cmp == ">=" || cmp == "<=";
            return Cw(D3DSIO_CMP, base, dim, {d, take_x ? x : y, take_x ? y : x});
          }
          return Select(ToBool(Compare(n->kids[0]->text, a, b, Unify({&a, &b}, n))), x, y,
                        Unify({&x, &y}, n));
        }
        Val c = Expr(n->kids[0]);
        Val x = Expr(n->kids[1]);
        Val y = Expr(n->kids[2]);
        if (!c.t.IsPlain()) Fail(n, "X3020", "conditional must be a scalar or vector");
        if (x.t.IsMatrix() || y.t.IsMatrix() || !x.t.IsNumeric() || !y.t.IsNumeric()) {
          if (!c.konst) Fail(n, "X3020", "only numeric scalars and vectors can be selected");
          return c.k[0] != 0 ? x : Conv(y, x.t, n, true);
        }
        const int dim = Unify({&c, &x, &y}, n);
        const Base base = (x.t.base == Base::kBool && y.t.base == Base::kBool)
                              ? Base::kBool
                              : Arith(x.t.base, y.t.base);
        c = ToBool(Conv(c.t.dim == 1 ? Broadcast(c, dim) : c, Vec(c.t.base, dim), n, true));
        x = Conv(x.t.dim == 1 ? Broadcast(x, dim) : x, Vec(base, dim), n, true);
        y = Conv(y.t.dim == 1 ? Broadcast(y, dim) : y, Vec(base, dim), n, true);
        return Select(c, x, y, dim, base);
      }
      case N::kComma:
        Expr(n->kids[0]);
        return Expr(n->kids[1]);
      case N::kCast: {
        Val v = Expr(n->kids[0]);
        return Conv(v, n->type, n, false);
      }
      case N::kCtor:
        return Constructor(n);
      case N::kCall:
        return Call(n);
      case N::kInitList:
        Fail(n, "X3000", "initializer lists are allowed in declarations only");
      default:
        Fail(n, "X3000", "syntax error: unexpected statement");
    }
  }

  static Base Arith(Base a, Base b) {
    if (a == Base::kFloat || b == Base::kFloat) return Base::kFloat;
    return Base::kInt;
  }

  int Unify(std::initializer_list<const Val*> vs, const Node* at) {
    int dim = 0;
    bool warn = false;
    for (const Val* v : vs) {
      if (!v->t.IsPlain()) Fail(at, "X3020", "type mismatch: '" + TypeName(v->t) + "'");
      if (v->t.dim == 1) continue;
      if (dim && dim != v->t.dim) warn = true;
      dim = dim ? std::min<int>(dim, v->t.dim) : v->t.dim;
    }
    if (warn) Warn(at, "X3206", "implicit truncation of vector type");
    return dim ? dim : 1;
  }

  Val MemberAccess(Node* n) {
    Val b = Expr(n->kids[0]);
    if (b.t.base == Base::kStruct && !b.t.IsArray()) {
      const auto& ms = u_.structs[size_t(b.t.strct)].members;
      for (size_t m = 0; m < ms.size(); ++m)
        if (ms[m].name == n->text) return b.parts[m];
      Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
    }
    if (b.t.IsMatrix()) {
      std::vector<std::pair<int, int>> el;
      if (!MatrixSwizzle(n->text, b.t, &el))
        Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
      std::vector<Val> comps;
      for (auto [r, c] : el)
        comps.push_back(b.cols ? Swizzle1(b.parts[size_t(c)], r) : Swizzle1(b.parts[size_t(r)], c));
      return Gather(b.t.base, comps);
    }
    if (b.t.IsPlain()) {
      int idx[4];
      const int len = ParseSwizzle(n->text, b.t.dim, idx);
      if (!len) Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
      Val r = b;
      r.t.dim = uint8_t(len);
      if (b.konst) {
        for (int i = 0; i < 4; ++i) r.k[i] = b.k[std::min(idx[std::min(i, len - 1)], b.t.dim - 1)];
      } else {
        int sw[4];
        for (int i = 0; i < 4; ++i) sw[i] = SwzComp(b.o.swz, idx[std::min(i, len - 1)]);
        r.o.swz = MakeSwz(sw);
      }
      return r;
    }
    Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
  }

  // Replaces the constant registers of a uniform array element by temporaries.
  Val Remap(Val v, int base, const std::vector<uint32_t>& temps) {
    if (!v.parts.empty()) {
      for (Val& p : v.parts) p = Remap(p, base, temps);
      return v;
    }
    if (!v.konst && v.o.type == D3DSPR_CONST) v.o = VT(temps[v.o.index - uint32_t(base)], v.o.swz);
    return v;
  }

  Val Index(Node* n) {
    Val b = Expr(n->kids[0]);
    Val idx = Expr(n->kids[1]);
    if (!idx.t.IsPlain() || idx.t.dim != 1)
      Fail(n->kids[1], "X3120", "invalid type for index - index must be a scalar");
    if (b.t.IsArray()) {
      if (idx.konst) {
        const int i = int(std::trunc(idx.k[0]));
        if (i < 0 || i >= b.t.array) Fail(n, "X3504", "array index out of bounds");
        return b.parts[size_t(i)];
      }
      if (b.t.base == Base::kSampler)
        Fail(n, "X3512", "sampler array index must be a literal expression");
      if (!tg_.vs || b.cbase < 0)
        Fail(n, "X3512",
             "array index must be a literal expression in " + tg_.name +
                 " (only uniform arrays of vertex shaders are addressable)");
      // c[a0.x + base]: copy the element out at once, since a0 is shared.
      const Val scaled = b.stride == 1 ? idx : Mul(idx, F(float(b.stride)), 1);
      Ins mova;
      mova.op = D3DSIO_MOVA;
      mova.has_dst = true;
      mova.dst = Reg(D3DSPR_ADDR, 0);
      mova.mask = 1;
      mova.nsrc = 1;
      mova.src[0] = Use1(scaled, 0);
      Push(mova);
      std::vector<uint32_t> temps;
      for (int k = 0; k < b.stride; ++k) {
        const uint32_t t = NewVreg();
        Ins mov;
        mov.op = D3DSIO_MOV;
        mov.has_dst = true;
        mov.dst = VT(t);
        mov.nsrc = 1;
        mov.src[0] = Reg(D3DSPR_CONST, uint32_t(b.cbase + k));
        mov.src[0].rel = true;
        mov.src[0].rel_type = D3DSPR_ADDR;
        Push(mov);
        temps.push_back(t);
      }
      return Remap(b.parts[0], b.cbase, temps);
    }
    if (!idx.konst) Fail(n, "X3512", "index must be a literal expression here");
    const int i = int(std::trunc(idx.k[0]));
    if (b.t.IsMatrix()) {
      if (i < 0 || i >= b.t.rows) Fail(n, "X3504", "array index out of bounds");
      if (!b.cols) return b.parts[size_t(i)];
      std::vector<Val> comps;
      for (const Val& col : b.parts) comps.push_back(Swizzle1(col, i));
      return Gather(b.t.base, comps);
    }
    if (b.t.IsPlain()) {
      if (i < 0 || i >= b.t.dim) Fail(n, "X3504", "array index out of bounds");
      return Swizzle1(b, i);
    }
    Fail(n, "X3121",
         "array, matrix, vector, or indexable object type expected in index expression");
  }

  Val Unary(Node* n) {
    Val a = Expr(n->kids[0]);
    const std::string_view op = n->text;
    if (!a.t.IsNumeric()) Fail(n, "X3022", "scalar, vector, or matrix expected");
    if (op == "~") Fail(n, "X3535", "bitwise operations are not supported in " + tg_.name);
    if (op == "+") return a;
    if (op == "-") {
      if (a.t.base == Base::kBool) a = ConvBase(a, Base::kInt);
      return Neg(a);
    }
    // !
    if (a.t.IsMatrix()) Fail(n, "X3022", "'!' applies to scalars and vectors");
    const Val b = ToBool(a);
    Val r = Cw(D3DSIO_ADD, Base::kBool, b.t.dim, {Neg(b), F(1)});
    r.t.base = Base::kBool;
    return r;
  }

  Val BinaryOp(std::string_view op, Val a, Val b, const Node* n) {
    // Dividing by a scalar takes one reciprocal, whatever the width.
    if ((op == "/") && b.t.IsPlain() && b.t.dim == 1 && a.t.IsPlain() && !b.konst &&
        Arith(a.t.base, b.t.base) == Base::kFloat) {
      const Val inv = PerComp(D3DSIO_RCP, 1, Conv(b, Vec(Base::kFloat, 1), n, false));
      return BinaryOp("*", a, inv, n);
    }
    if (op == "&" || op == "|" || op == "^" || op == "<<" || op == ">>")
      Fail(n, "X3535", "bitwise operations are not supported in " + tg_.name);
    if (!a.t.IsNumeric() || !b.t.IsNumeric())
      Fail(n, "X3020", "type mismatch between '" + TypeName(a.t) + "' and '" + TypeName(b.t) + "'");
    if (a.t.IsMatrix() || b.t.IsMatrix()) return MatrixOp(op, a, b, n);
    const int dim = Unify({&a, &b}, n);
    auto prep = [&](Base base) {
      a = Conv(a.t.dim == 1 ? Broadcast(a, dim) : a, Vec(base, dim), n, false);
      b = Conv(b.t.dim == 1 ? Broadcast(b, dim) : b, Vec(base, dim), n, false);
    };
    if (op == "&&" || op == "||") {
      prep(Base::kBool);
      Val r = Cw(op == "&&" ? D3DSIO_MUL : D3DSIO_MAX, Base::kBool, dim, {a, b});
      return r;
    }
    if (op == "<" || op == ">" || op == "<=" || op == ">=" || op == "==" || op == "!=") {
      prep(Arith(a.t.base, b.t.base));
      return Compare(op, a, b, dim);
    }
    const Base base = Arith(a.t.base, b.t.base);
    prep(base);
    Val r;
    if (op == "+") {
      r = Add(a, b, dim);
    } else if (op == "-") {
      r = Sub(a, b, dim);
    } else if (op == "*") {
      r = Mul(a, b, dim);
    } else if (op == "/") {
      r = Mul(a, PerComp(D3DSIO_RCP, dim, b), dim);
      if (base == Base::kInt) r = Trunc(r);
    } else if (op == "%") {
      if (base == Base::kInt) {
        const Val q = Trunc(Mul(a, PerComp(D3DSIO_RCP, dim, b), dim));
        r = Sub(a, Mul(b, q, dim), dim);
      } else {
        r = Fmod(a, b, dim);
      }
    } else {
      Fail(n, "X3000", "unknown operator '" + std::string(op) + "'");
    }
    r.t.base = base;
    return r;
  }

  Val MatrixOp(std::string_view op, Val a, Val b, const Node* n) {
    if (op != "+" && op != "-" && op != "*" && op != "/" && op != "%")
      Fail(n, "X3020", "operator '" + std::string(op) + "' does not apply to matrices");
    const Val& m = a.t.IsMatrix() ? a : b;
    Val r;
    r.t = m.t;
    r.t.base = Arith(a.t.base, b.t.base);
    if (a.t.IsMatrix() && b.t.IsMatrix()) {
      if (a.t.rows != b.t.rows || a.t.dim != b.t.dim)
        Fail(n, "X3020",
             "type mismatch between '" + TypeName(a.t) + "' and '" + TypeName(b.t) + "'");
      const Val bb = a.cols ? ColsOf(b) : RowsOf(b);
      r.cols = a.cols;
      for (size_t i = 0; i < a.parts.size(); ++i)
        r.parts.push_back(BinaryOp(op, a.parts[i], bb.parts[i], n));
      return r;
    }
    const Val& s = a.t.IsMatrix() ? b : a;
    if (s.t.dim != 1)
      Fail(n, "X3020", "type mismatch between '" + TypeName(a.t) + "' and '" + TypeName(b.t) + "'");
    r.cols = m.cols;
    for (const Val& p : m.parts)
      r.parts.push_back(a.t.IsMatrix() ? BinaryOp(op, p, s, n) : BinaryOp(op, s, p, n));
    return r;
  }

  Val Fmod(const Val& a, const Val& b, int n) {
    // a - b * trunc(a / b), with the sign of a.
    const Val q = Mul(a, PerComp(D3DSIO_RCP, n, b), n);
    const Val f = Frc(Abs(q), n);
    Val sf;
    if (ps()) {
      sf = Cw(D3DSIO_CMP, Base::kFloat, n, {q, f, Neg(f)});
    } else {
      const Val s = Cw(D3DSIO_SGE, Base::kFloat, n, {q, F(0)});
      sf = Mul(f, Mad(s, F(2), F(-1), n), n);
    }
    return Mul(sf, b, n);
  }

  // float4(a, b.xy, c), float3x3(...): components in order.
  Val Constructor(Node* n) {
    const Type t = n->type;
    if (!t.IsNumeric()) Fail(n, "X3000", "'" + TypeName(t) + "' cannot be constructed");
    std::vector<Val> args;
    for (Node* k : n->kids) args.push_back(Expr(k));
    if (args.size() == 1 && args[0].t.IsNumeric() &&
        (args[0].t.dim == 1 && !args[0].t.IsMatrix() ? true : args[0].t.IsMatrix() && t.IsMatrix()))
      return Conv(args[0], t, n, false);
    std::vector<Val> comps;
    for (const Val& a : args) {
      if (!a.t.IsNumeric())
        Fail(n, "X3014", "incorrect number of arguments to numeric-type constructor");
      Components(a, &comps);
      if (comps.size() > 16) break;
    }
    const size_t want = size_t(t.dim) * (t.rows ? t.rows : 1);
    if (comps.size() != want)
      Fail(n, "X3014", "incorrect number of arguments to numeric-type constructor");
    for (Val& c : comps) c = ConvBase(c, t.base);
    if (!t.rows) return Gather(t.base, comps);
    Val r;
    r.t = t;
    for (int i = 0; i < t.rows; ++i)
      r.parts.push_back(Gather(
          t.base, std::vector<Val>(comps.begin() + i * t.dim, comps.begin() + (i + 1) * t.dim)));
    return r;
  }

  // The value of a declaration's initialiser: an expression or a { } list.
  void Flatten(Node* init, std::vector<Val>* out) {
    if (init->kind == N::kInitList) {
      for (Node* k : init->kids) Flatten(k, out);
      return;
    }
    Val v = Expr(init);
    if (v.t.base == Base::kSampler || v.t.base == Base::kTexture)
      Fail(init, "X3000", "objects cannot appear in initializer lists");
    Components(v, out);
  }
  Val Build(const Type& t, const std::vector<Val>& comps, size_t& at, const Node* n) {
    Val r;
    r.t = t;
    if (t.IsArray()) {
      for (int e = 0; e < t.array; ++e) r.parts.push_back(Build(t.Element(), comps, at, n));
      return r;
    }
    if (t.base == Base::kStruct) {
      for (const Member& m : u_.structs[size_t(t.strct)].members)
        r.parts.push_back(Build(m.type, comps, at, n));
      return r;
    }
    if (!t.IsNumeric()) Fail(n, "X3000", "'" + TypeName(t) + "' cannot be initialized with a list");
    const int rows = t.rows ? t.rows : 1;
    std::vector<Val> row;
    for (int i = 0; i < rows; ++i) {
      row.clear();
      for (int c = 0; c < t.dim; ++c) {
        if (at >= comps.size())
          Fail(n, "X3017", "initializer does not match the type '" + TypeName(t) + "'");
        row.push_back(ConvBase(comps[at++], t.base));
      }
      if (!t.rows) return Gather(t.base, row);
      r.parts.push_back(Gather(t.base, row));
    }
    return r;
  }
  Val Initial(const Type& t, Node* init, const Node* at) {
    if (init->kind != N::kInitList) return Conv(Expr(init), t, init, true);
    std::vector<Val> comps;
    Flatten(init, &comps);
    size_t used = 0;
    const Val v = Build(t, comps, used, at);
    if (used != comps.size())
      Fail(init, "X3017", "initializer does not match the type '" + TypeName(t) + "'");
    return v;
  }

  // --- calls
  // ---------------------------------------------------------------------------------------
  [[noreturn]] void NoMatch(const Node* n, size_t count, bool intrinsic) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "no matching %zu parameter %s", count,
                  intrinsic ? "intrinsic function" : "function");
    Fail(n, "X3013", "'" + std::string(n->text) + "': " + buf);
  }

  Val Call(Node* n) {
    auto it = funcs_.find(n->text);
    if (it != funcs_.end()) return Inline(*it->second, n);
    return Intrinsic(n);
  }

  static bool HasReturnNotLast(const Node* body) {
    // A return anywhere but as the last statement of the body needs a flag to skip what follows.
    std::vector<const Node*> stack;
    for (const Node* k : body->kids)
      if (k) stack.push_back(k);
    const Node* last = body->kids.empty() ? nullptr : body->kids.back();
    while (!stack.empty()) {
      const Node* s = stack.back();
      stack.pop_back();
      if (s->kind == N::kReturn && s != last) return true;
      for (const Node* k : s->kids)
        if (k) stack.push_back(k);
    }
    return false;
  }

  Val Inline(const Function& f, Node* n) {
    if (!f.body)
      Fail(n, "X3000", "'" + std::string(f.name) + "': function is declared but not defined");
    if (n->kids.size() != f.params.size()) NoMatch(n, n->kids.size(), false);
    for (const Frame& fr : frames_)
      if (fr.f == &f)
        Fail(n, "X3500", "'" + std::string(f.name) + "': recursive functions are not allowed");
    if (++inlines_ > kMaxInlines) Fail(n, "X3507", "shader is too complex");
    if (frames_.size() >= 64) Fail(n, "X3507", "function calls are nested too deeply");
    Frame fr;
    fr.f = &f;
    fr.cond_base = cond_depth_;
    fr.loop_base = loops_.size();
    if (f.ret.base != Base::kVoid) {
      if (f.ret.base == Base::kSampler || f.ret.base == Base::kTexture)
        Fail(n, "X3000", "functions cannot return objects");
      fr.ret = NewLeaves(f.ret, n);
    }
    std::vector<Var> params;
    std::vector<std::pair<LVal, Var>> copy_back;
    for (size_t i = 0; i < f.params.size(); ++i) {
      const Param& p = f.params[i];
      Var v;
      v.name = p.name;
      v.t = p.type;
      if (p.type.base == Base::kSampler) {
        Val s = Expr(n->kids[i]);
        if (s.t.base != Base::kSampler) NoMatch(n, n->kids.size(), false);
        v.uniform = true;
        v.uval = Conv(s, p.type, n->kids[i], true);
        params.push_back(v);
        continue;
      }
      if (p.type.base == Base::kTexture) Fail(n, "X3000", "texture parameters are not supported");
      LVal lv;
      if (p.qual != Qual::kIn) lv = LValueOf(n->kids[i]);
      Val arg;
      if (p.qual != Qual::kOut) {
        arg = Expr(n->kids[i]);
        if (arg.t.base == Base::kVoid) NoMatch(n, n->kids.size(), false);
        arg = Conv(arg, p.type, n->kids[i], true);
      }
      v.first = NewLeaves(p.type, n);
      if (p.qual != Qual::kOut) {
        size_t li = v.first;
        WriteLeaves(p.type, li, arg);
      }
      if (p.qual != Qual::kIn) copy_back.push_back({lv, v});
      params.push_back(v);
    }
    if (f.ret.base != Base::kVoid && !AlwaysReturns(f.body))
      Fail(n, "X3080", "'" + std::string(f.name) + "': function must return a value");
    if (HasReturnNotLast(f.body)) {
      fr.ret_flag = NewLeaves(Vec(Base::kBool, 1), n);
    }
    // The body sees the globals and its parameters only.
    std::vector<std::vector<Var>> saved(scopes_.begin() + 1, scopes_.end());
    scopes_.resize(1);
    scopes_.emplace_back();
    for (Var& v : params) {
      for (const Var& o : scopes_.back())
        if (o.name == v.name)
          FailAt(f.line, f.col, "X3003", "'" + std::string(v.name) + "': redefinition");
      scopes_.back().push_back(v);
    }
    fr.scope_base = scopes_.size();
    frames_.push_back(fr);
    const bool dead = dead_, exited = exited_, returned = returned_;
    dead_ = exited_ = returned_ = false;
    Stmt(f.body);
    dead_ = dead;
    exited_ = exited;
    returned_ = returned;
    frames_.pop_back();
    scopes_.resize(1);
    scopes_.insert(scopes_.end(), saved.begin(), saved.end());
    for (auto& [lv, v] : copy_back) {
      size_t li = v.first;
      Store(lv, ReadLeaves(v.t, li), n);
    }
    if (f.ret.base == Base::kVoid) {
      Val r;
      r.t = Type{Base::kVoid, 1};
      return r;
    }
    size_t li = fr.ret;
    return ReadLeaves(f.ret, li);
  }

  static bool AlwaysReturns(const Node* n) {
    if (!n) return false;
    switch (n->kind) {
      case N::kReturn:
        return true;
      case N::kBlock:
        for (const Node* k : n->kids)
          if (AlwaysReturns(k)) return true;
        return false;
      case N::kIf:
        return n->kids.size() == 3 && AlwaysReturns(n->kids[1]) && AlwaysReturns(n->kids[2]);
      case N::kDoWhile:
        return AlwaysReturns(n->kids[0]);
      default:
        return false;
    }
  }

  // --- intrinsics ------------------------------------------------------------------------------
  Val Floats(const Val& v, int dim, const Node* n) {
    if (!v.t.IsPlain())
      Fail(n, "X3013",
           "'" + std::string(n->text) + "': no matching intrinsic overload for '" + TypeName(v.t) +
               "'");
    return Conv(v.t.dim == 1 ? Broadcast(v, dim) : v, Vec(Base::kFloat, dim), n, false);
  }

  Val Length(const Val& v, int n) {
    const Val d = Dot(v, v, n);
    return PerComp(D3DSIO_RCP, 1, PerComp(D3DSIO_RSQ, 1, d));
  }

  Val Normalize(const Val& v, int n) {
    if (n == 3 && !v.konst) {
      const uint32_t d = NewVreg();
      Ins in;
      in.op = D3DSIO_NRM;
      in.has_dst = true;
      in.dst = VT(d);
      in.mask = 7;
      in.nsrc = 1;
      in.src[0] = Use(v, 3);
      Push(in);
      Val r;
      r.t = Vec(Base::kFloat, 3);
      r.o = VT(d);
      return r;
    }
    const Val inv = PerComp(D3DSIO_RSQ, 1, Dot(v, v, n));
    return Mul(v, inv, n);
  }

  Val SinCos(const Val& x, int n, bool want_sin) {
    if (x.konst) {
      float r[4];
      for (int c = 0; c < n; ++c) {
        const float a = x.k[std::min(c, x.t.dim - 1)];
        r[c] = want_sin ? std::sin(a) : std::cos(a);
      }
      return Konst(Base::kFloat, n, r);
    }
    // sincos takes [-pi, pi]: frac(x / 2pi + 0.5) * 2pi - pi.
    const Val t = Frc(Mad(x, F(0.15915494f), F(0.5f), n), n);
    const Val a = Mad(t, F(6.28318548f), F(-3.14159274f), n);
    const uint32_t d = NewVreg();
    for (int c = 0; c < n; ++c) {
      // One sincos gives both: sin and cos of the same value share it.
      Ins in;
      in.op = D3DSIO_SINCOS;
      in.has_dst = true;
      in.dst = VT(NewVreg());
      in.mask = 3;
      in.src[0] = Use1(a, c);
      if (sm3()) {
        in.nsrc = 1;
      } else {
        static const float k1[4] = {D3DSINCOSCONST1};
        static const float k2[4] = {D3DSINCOSCONST2};
        in.nsrc = 3;
        in.src[1] = LiteralVector(k1);
        in.src[2] = LiteralVector(k2);
      }
      const uint32_t s = PushValue(in);
      Ins mov;
      mov.op = D3DSIO_MOV;
      mov.has_dst = true;
      mov.dst = VT(d);
      mov.mask = uint8_t(1 << c);
      mov.nsrc = 1;
      mov.src[0] = VT(s, Rep(want_sin ? 1 : 0));
      Push(mov);
    }
    Val r;
    r.t = Vec(Base::kFloat, n);
    r.o = VT(d);
    return r;
  }

  void Texkill(const Val& v) {
    const uint32_t t = NewVreg();
    Ins mov;
    mov.op = D3DSIO_MOV;
    mov.has_dst = true;
    mov.dst = VT(t);
    mov.mask = 0xF;
    mov.nsrc = 1;
    mov.src[0] = Use(v, 4);
    Push(mov);
    Ins k;
    k.op = D3DSIO_TEXKILL;
    k.has_dst = true;
    k.dst = VT(t);
    k.mask = 0xF;
    Push(k);
  }

  // mul(a, b) in each of its forms.
  Val MulIntrinsic(Val a, Val b, const Node* n) {
    if (!a.t.IsNumeric() || !b.t.IsNumeric()) NoMatch(n, 2, true);
    if (a.t.base != Base::kFloat) a = ConvBase(a, Base::kFloat);
    if (b.t.base != Base::kFloat) b = ConvBase(b, Base::kFloat);
    const bool am = a.t.IsMatrix(), bm = b.t.IsMatrix();
    if ((!am && a.t.dim == 1) || (!bm && b.t.dim == 1)) {
      if (am || bm) return MatrixOp("*", a, b, n);
      const int dim = Unify({&a, &b}, n);
      return Mul(a.t.dim == 1 ? Broadcast(a, dim) : a, b.t.dim == 1 ? Broadcast(b, dim) : b, dim);
    }
    if (!am && !bm) {  // vector . vector
      const int dim = Unify({&a, &b}, n);
      return Dot(a, b, dim);
    }
    if (!am && bm) {  // row vector times matrix: float[C]
      int k = std::min<int>(a.t.dim, b.t.rows);
      if (a.t.dim != b.t.rows) Warn(n, "X3206", "implicit truncation of vector type");
      const int cols = b.t.dim;
      if (b.cols) {
        std::vector<Val> comps;
        for (int j = 0; j < cols; ++j) comps.push_back(Dot(a, b.parts[size_t(j)], k));
        return Gather(Base::kFloat, comps);
      }
      Val acc = Mul(Swizzle1(a, 0), b.parts[0], cols);
      for (int i = 1; i < k; ++i) acc = Mad(Swizzle1(a, i), b.parts[size_t(i)], acc, cols);
      return acc;
    }
    if (am && !bm) {  // matrix times column vector: float[R]
      int k = std::min<int>(b.t.dim, a.t.dim);
      if (b.t.dim != a.t.dim) Warn(n, "X3206", "implicit truncation of vector type");
      const int rows = a.t.rows;
      if (!a.cols) {
        std::vector<Val> comps;
        for (int i = 0; i < rows; ++i) comps.push_back(Dot(a.parts[size_t(i)], b, k));
        return Gather(Base::kFloat, comps);
      }
      Val acc = Mul(Swizzle1(b, 0), a.parts[0], rows);
      for (int j = 1; j < k; ++j) acc = Mad(Swizzle1(b, j), a.parts[size_t(j)], acc, rows);
      return acc;
    }
    // matrix times matrix
    if (a.t.dim != b.t.rows) Fail(n, "X3020", "matrix dimensions do not match for mul");
    Val r;
    r.t = Type{Base::kFloat, b.t.dim, a.t.rows};
    if (b.cols) {  // result by columns: A times each column of B
      r.cols = true;
      for (int j = 0; j < b.t.dim; ++j) {
        Val col = b.parts[size_t(j)];
        r.parts.push_back(MulIntrinsic(a, col, n));
      }
      return r;
    }
    const Val ar = RowsOf(a);
    for (int i = 0; i < a.t.rows; ++i) r.parts.push_back(MulIntrinsic(ar.parts[size_t(i)], b, n));
    return r;
  }

  // tex1D ... texCUBEgrad.
  Val Texture(Node* n, int dims, SamplerKind kind, char variant) {
    const size_t want = variant == 'g' ? 4 : 2;
    if (n->kids.size() != want && !(variant == 0 && n->kids.size() == 4))
      NoMatch(n, n->kids.size(), true);
    if (variant == 0 && n->kids.size() == 4) variant = 'g';
    Val s = Expr(n->kids[0]);
    if (s.t.base != Base::kSampler || s.t.IsArray() || s.sampler < 0)
      NoMatch(n, n->kids.size(), true);
    const SamplerKind declared = SamplerKind(s.t.sampler);
    const bool flat = kind == SamplerKind::k1D || kind == SamplerKind::k2D;
    const bool declared_flat = declared == SamplerKind::k1D || declared == SamplerKind::k2D;
    if (declared != SamplerKind::kGeneric && !(flat && declared_flat) && declared != kind)
      Fail(n, "X3013",
           "'" + std::string(n->text) + "': no matching intrinsic for '" + TypeName(s.t) + "'");
    if (s.var >= 0) {
      Uniform& u = uniforms_[size_t(s.var)];
      const uint8_t k = uint8_t(flat ? SamplerKind::k2D : kind);
      if (u.sampler_kind && u.sampler_kind != k)
        Fail(n, "X4530", "sampler '" + u.name + "' is used as different texture types");
      u.sampler_kind = k;
    }
    uint16_t op = D3DSIO_TEX;
    uint8_t ctrl = 0;
    const char* need = nullptr;
    if (tg_.vs) {
      if (!sm3()) NotInProfile(n, "texture reads need vs_3_0");
      if (variant != 'l')
        NotInProfile(n, "vertex shaders read textures with an explicit level (tex2Dlod)");
      op = D3DSIO_TEXLDL;
    } else if (variant == 'l') {
      if (!sm3()) need = "tex*lod";
      op = D3DSIO_TEXLDL;
    } else if (variant == 'g') {
      if (!sm3()) need = "tex*grad";
      op = D3DSIO_TEXLDD;
    } else if (variant == 'p') {
      ctrl = D3DSI_TEXLD_PROJECT >> 16;
    } else if (variant == 'b') {
      ctrl = D3DSI_TEXLD_BIAS >> 16;
    }
    if (need) NotInProfile(n, std::string(need) + " needs ps_3_0");
    const int cdim = (variant == 'p' || variant == 'l' || variant == 'b') ? 4 : dims;
    const Val c = Floats(Expr(n->kids[1]), cdim, n);
    const uint32_t d = NewVreg();
    Ins in;
    in.op = op;
    in.ctrl = ctrl;
    in.has_dst = true;
    in.dst = VT(d);
    in.mask = 0xF;
    in.nsrc = 2;
    in.src[0] = Use(c, cdim);
    if (!c.konst && c.t.dim < 4) {  // components past the coordinates are not read
      int sw[4];
      for (int i = 0; i < 4; ++i) sw[i] = i < c.t.dim ? SwzComp(c.o.swz, i) : i;
      in.src[0].swz = MakeSwz(sw);
    }
    in.src[1] = Reg(D3DSPR_SAMPLER, uint32_t(s.sampler));
    if (op == D3DSIO_TEXLDD) {
      in.nsrc = 4;
      in.src[2] = Use(Floats(Expr(n->kids[2]), dims, n), dims);
      in.src[3] = Use(Floats(Expr(n->kids[3]), dims, n), dims);
    }
    Push(in);
    Val r;
    r.t = Vec(Base::kFloat, 4);
    r.o = VT(d);
    return r;
  }

  Val Intrinsic(Node* n) {
    const std::string_view name = n->text;
    // Texture reads.
    static const std::pair<const char*, std::pair<int, SamplerKind>> families[] = {
        {"tex1D", {1, SamplerKind::k1D}},
        {"tex2D", {2, SamplerKind::k2D}},
        {"tex3D", {3, SamplerKind::k3D}},
        {"texCUBE", {3, SamplerKind::kCube}}};
    for (auto& [fam, info] : families) {
      const std::string_view f(fam);
      if (name.substr(0, f.size()) != f) continue;
      const std::string_view rest = name.substr(f.size());
      char variant;
      if (rest.empty())
        variant = 0;
      else if (rest == "proj")
        variant = 'p';
      else if (rest == "lod")
        variant = 'l';
      else if (rest == "bias")
        variant = 'b';
      else if (rest == "grad")
        variant = 'g';
      else
        continue;
      if (Lookup(name)) Fail(n, "X3000", "'" + std::string(name) + "' is not a function");
      return Texture(n, info.first, info.second, variant);
    }
    struct Entry {
      const char* name;
      int args;
    };
    static const Entry table[] = {
        {"abs", 1},     {"sin", 1},       {"cos", 1},        {"tan", 1},        {"sqrt", 1},
        {"rsqrt", 1},   {"pow", 2},       {"exp", 1},        {"exp2", 1},       {"log", 1},
        {"log2", 1},    {"log10", 1},     {"floor", 1},      {"ceil", 1},       {"frac", 1},
        {"fmod", 2},    {"min", 2},       {"max", 2},        {"clamp", 3},      {"saturate", 1},
        {"lerp", 3},    {"step", 2},      {"smoothstep", 3}, {"sign", 1},       {"trunc", 1},
        {"round", 1},   {"mad", 3},       {"length", 1},     {"distance", 2},   {"dot", 2},
        {"cross", 2},   {"normalize", 1}, {"reflect", 2},    {"any", 1},        {"all", 1},
        {"degrees", 1}, {"radians", 1},   {"mul", 2},        {"transpose", 1},  {"clip", 1},
        {"ddx", 1},     {"ddy", 1},       {"sincos", 3},     {"faceforward", 3}};
    const Entry* e = nullptr;
    for (const Entry& t : table)
      if (name == t.name) e = &t;
    if (!e) Fail(n, "X3004", "undeclared identifier '" + std::string(name) + "'");
    if (Lookup(name)) Fail(n, "X3000", "'" + std::string(name) + "' is not a function");
    if (int(n->kids.size()) != e->args) NoMatch(n, n->kids.size(), true);
    if (name == "sincos") {
      Val x = Expr(n->kids[0]);
      LVal ls = LValueOf(n->kids[1]);
      LVal lc = LValueOf(n->kids[2]);
      const int dim = x.t.IsPlain() ? x.t.dim : 1;
      x = Floats(x, dim, n);
      Store(ls, SinCos(x, dim, true), n);
      Store(lc, SinCos(x, dim, false), n);
      Val r;
      r.t = Type{Base::kVoid, 1};
      return r;
    }
    std::vector<Val> a;
    for (Node* k : n->kids) {
      Val v = Expr(k);
      if (!v.t.IsNumeric()) NoMatch(n, n->kids.size(), true);
      a.push_back(v);
    }
    if (name == "mul") return MulIntrinsic(a[0], a[1], n);
    if (name == "transpose") {
      if (!a[0].t.IsMatrix()) NoMatch(n, 1, true);
      Val r = a[0];
      r.t.rows = a[0].t.dim;
      r.t.dim = a[0].t.rows;
      r.cols = !a[0].cols;
      return r;
    }
    for (const Val& v : a)
      if (v.t.IsMatrix())
        Fail(n, "X3013",
             "'" + std::string(name) + "': matrices are not supported by this intrinsic");
    if (name == "clip") {
      if (tg_.vs) NotInProfile(n, "clip is a pixel shader function");
      const int dim = a[0].t.dim;
      Val x = Floats(a[0], dim, n);
      if (dim == 4) {  // texkill tests x, y and z
        std::vector<Val> c = {Swizzle1(x, 0), Swizzle1(x, 1),
                              Cw(D3DSIO_MIN, Base::kFloat, 1, {Swizzle1(x, 2), Swizzle1(x, 3)})};
        x = Gather(Base::kFloat, c);
      }
      if (!pred_.konst) x = Select(pred_, x, F(0), x.t.dim);
      Texkill(x);
      Val r;
      r.t = Type{Base::kVoid, 1};
      return r;
    }
    if (name == "ddx" || name == "ddy") {
      if (tg_.vs || !sm3()) NotInProfile(n, std::string(name) + " needs ps_3_0");
      const Val x = Floats(a[0], a[0].t.dim, n);
      if (x.konst) return Konst1(Base::kFloat, 0.f);
      return Cw(name == "ddx" ? D3DSIO_DSX : D3DSIO_DSY, Base::kFloat, x.t.dim, {x});
    }
    if (name == "length" || name == "normalize" || name == "any" || name == "all") {
      const int dim = a[0].t.dim;
      if (name == "any" || name == "all") {
        const Val b = ToBool(a[0]);
        Val r = b.t.dim == 1 ? b : Swizzle1(b, 0);
        for (int c = 1; c < dim; ++c)
          r = Cw(name == "any" ? D3DSIO_MAX : D3DSIO_MUL, Base::kBool, 1, {r, Swizzle1(b, c)});
        r.t.base = Base::kBool;
        return r;
      }
      const Val x = Floats(a[0], dim, n);
      return name == "length" ? Length(x, dim) : Normalize(x, dim);
    }
    if (name == "dot" || name == "distance") {
      const int dim = Unify({&a[0], &a[1]}, n);
      const Val x = Floats(a[0], dim, n), y = Floats(a[1], dim, n);
      if (name == "dot") return Dot(x, y, dim);
      return Length(Sub(x, y, dim), dim);
    }
    if (name == "cross") {
      const Val x = Floats(a[0], 3, n), y = Floats(a[1], 3, n);
      if (a[0].t.dim < 3 && a[0].t.dim != 1) NoMatch(n, 2, true);
      // x.yzx * y.zxy - x.zxy * y.yzx
      auto sw = [&](const Val& v, int i, int j, int k) {
        return Gather(Base::kFloat, {Swizzle1(v, i), Swizzle1(v, j), Swizzle1(v, k)});
      };
      const Val t = Mul(sw(x, 1, 2, 0), sw(y, 2, 0, 1), 3);
      return Mad(Neg(sw(x, 2, 0, 1)), sw(y, 1, 2, 0), t, 3);
    }
    if (name == "reflect") {  // i - 2 dot(i, n) n
      const int dim = Unify({&a[0], &a[1]}, n);
      const Val i = Floats(a[0], dim, n), nn = Floats(a[1], dim, n);
      const Val d = Dot(i, nn, dim);
      return Mad(nn, Mul(d, F(-2), 1), i, dim);
    }
    if (name == "faceforward") {  // -n * sign(dot(i, ng))
      const int dim = Unify({&a[0], &a[1], &a[2]}, n);
      const Val nn = Floats(a[0], dim, n), i = Floats(a[1], dim, n), ng = Floats(a[2], dim, n);
      const Val d = Dot(i, ng, dim);
      return Select(Compare("<", d, F(0), 1), nn, Neg(nn), dim);
    }
    // Component-wise.
    int dim = 1;
    for (const Val& v : a) dim = std::max<int>(dim, v.t.dim);
    if (a.size() == 2) dim = Unify({&a[0], &a[1]}, n);
    if (a.size() == 3) dim = Unify({&a[0], &a[1], &a[2]}, n);
    if (name == "min" || name == "max" || name == "clamp" || name == "abs") {
      Base base = Base::kInt;
      for (const Val& v : a)
        if (v.t.base == Base::kFloat) base = Base::kFloat;
      std::vector<Val> c;
      for (const Val& v : a)
        c.push_back(Conv(v.t.dim == 1 ? Broadcast(v, dim) : v, Vec(base, dim), n, false));
      Val r;
      if (name == "abs")
        r = Abs(c[0]);
      else if (name == "min")
        r = Cw(D3DSIO_MIN, base, dim, {c[0], c[1]});
      else if (name == "max")
        r = Cw(D3DSIO_MAX, base, dim, {c[0], c[1]});
      else
        r = Cw(D3DSIO_MIN, base, dim, {Cw(D3DSIO_MAX, base, dim, {c[0], c[1]}), c[2]});
      r.t.base = base;
      return r;
    }
    std::vector<Val> f;
    for (const Val& v : a) f.push_back(Floats(v, dim, n));
    const Val& x = f[0];
    if (name == "saturate") return Cw(D3DSIO_MOV, Base::kFloat, dim, {x}, true);
    if (name == "sqrt") return PerComp(D3DSIO_RCP, dim, PerComp(D3DSIO_RSQ, dim, x));
    if (name == "rsqrt") return PerComp(D3DSIO_RSQ, dim, x);
    if (name == "exp2") return PerComp(D3DSIO_EXP, dim, x);
    if (name == "exp") return PerComp(D3DSIO_EXP, dim, Mul(x, F(1.44269504f), dim));
    if (name == "log2") return PerComp(D3DSIO_LOG, dim, x);
    if (name == "log") return Mul(PerComp(D3DSIO_LOG, dim, x), F(0.693147182f), dim);
    if (name == "log10") return Mul(PerComp(D3DSIO_LOG, dim, x), F(0.301029996f), dim);
    if (name == "pow") return PerComp(D3DSIO_POW, dim, x, &f[1]);
    if (name == "frac") return Frc(x, dim);
    if (name == "floor") return Sub(x, Frc(x, dim), dim);
    if (name == "ceil") return Add(x, Frc(Neg(x), dim), dim);
    if (name == "round") {
      const Val h = Add(x, F(0.5f), dim);
      return Sub(h, Frc(h, dim), dim);
    }
    if (name == "trunc") {
      Val r = Trunc(x);
      r.t.base = Base::kFloat;
      return r;
    }
    if (name == "sin" || name == "cos") return SinCos(x, dim, name == "sin");
    if (name == "tan")
      return Mul(SinCos(x, dim, true), PerComp(D3DSIO_RCP, dim, SinCos(x, dim, false)), dim);
    if (name == "fmod") return Fmod(x, f[1], dim);
    if (name == "lerp") return Cw(D3DSIO_LRP, Base::kFloat, dim, {f[2], f[1], x});
    if (name == "mad") return Mad(x, f[1], f[2], dim);
    if (name == "degrees") return Mul(x, F(57.2957795f), dim);
    if (name == "radians") return Mul(x, F(0.0174532925f), dim);
    if (name == "step") {  // y >= x ? 1 : 0
      Val r = Compare(">=", f[1], x, dim);
      r.t.base = Base::kFloat;
      return r;
    }
    if (name == "sign") {
      Val r = Sub(Compare(">", x, F(0), dim), Compare("<", x, F(0), dim), dim);
      r.t.base = Base::kInt;
      return r;
    }
    if (name == "smoothstep") {  // t = saturate((x - a) / (b - a)); t * t * (3 - 2t)
      const Val span = PerComp(D3DSIO_RCP, dim, Sub(f[1], x, dim));
      const Val t = Cw(D3DSIO_MUL, Base::kFloat, dim, {Sub(f[2], x, dim), span}, true);
      return Mul(Mul(t, t, dim), Mad(t, F(-2), F(3), dim), dim);
    }
    Fail(n, "X3004", "undeclared identifier '" + std::string(name) + "'");
  }

  // --- statements ------------------------------------------------------------------------------
  bool returned_ = false;  // dead_ because of a return (not a break or continue)

  void Scoped(Node* n) {
    scopes_.emplace_back();
    Stmt(n);
    scopes_.pop_back();
  }

  void Stmt(Node* n) {
    const Node* saved = at_;
    at_ = n;
    StmtInner(n);
    at_ = saved;
  }

  void Block(const std::vector<Node*>& stmts, size_t from) {
    for (size_t i = from; i < stmts.size(); ++i) {
      if (dead_) return;
      if (exited_) {
        Guarded(stmts, i);
        return;
      }
      Stmt(stmts[i]);
    }
  }

  // Flags of exits that may have run under a condition and that the rest must respect.
  Val ExitFlags() {
    const Frame& fr = frames_.back();
    std::vector<size_t> flags;
    bool dynamic_loop = false;
    for (size_t l = fr.loop_base; l < loops_.size(); ++l) dynamic_loop |= loops_[l].dynamic;
    if (loops_.size() > fr.loop_base) {
      const Loop& lp = loops_.back();
      if (lp.cnt != kNone) flags.push_back(lp.cnt);
      if (!lp.dynamic && lp.brk != kNone) flags.push_back(lp.brk);
    }
    if (fr.ret_flag != kNone && !dynamic_loop) flags.push_back(fr.ret_flag);
    Val any = F(0);
    for (size_t f : flags) {
      const Val v = LeafVal(leaves_[f]);
      any = any.konst && any.k[0] == 0 ? v : Cw(D3DSIO_MAX, Base::kFloat, 1, {any, v});
    }
    return any;
  }

  // The statements from `from` on run only where no flag is set.
  void Guarded(const std::vector<Node*>& stmts, size_t from) {
    const Val any = ExitFlags();
    exited_ = false;
    if (any.konst) {
      if (any.k[0] == 0) Block(stmts, from);
      exited_ = true;
      return;
    }
    ++cond_depth_;
    if (sm3()) {
      std::vector<Node*> rest(stmts.begin() + long(from), stmts.end());
      MaterializeAssigned(rest);
      EmitIfc(D3DSPC_EQ, any, F(0));
      ++region_;
      Block(stmts, from);
      --region_;
      EmitFlow(D3DSIO_ENDIF);
    } else {
      const Val saved = pred_;
      pred_ = Mul(pred_, Cw(D3DSIO_ADD, Base::kFloat, 1, {Neg(any), F(1)}), 1);
      ++pdepth_;
      Block(stmts, from);
      --pdepth_;
      pred_ = saved;
    }
    --cond_depth_;
    exited_ = true;
  }

  void EmitFlow(uint16_t op) {
    cse_.clear();
    Ins in;
    in.op = op;
    Push(in);
  }
  void EmitIfc(uint8_t cmp, const Val& a, const Val& b, uint16_t op = D3DSIO_IFC) {
    Ins in;
    in.op = op;
    in.ctrl = cmp;
    in.nsrc = 2;
    in.src[0] = Use1(a, 0);
    in.src[1] = Use1(b, 0);
    Push(in);
    cse_.clear();
  }

  // Names assigned anywhere in `nodes`; calls to user functions may also assign globals.
  void CollectAssigned(const Node* n, std::unordered_set<std::string_view>* names, bool* calls) {
    if (!n) return;
    auto base = [](const Node* e) {
      while (e && (e->kind == N::kMember || e->kind == N::kIndex)) e = e->kids[0];
      return e && e->kind == N::kIdent ? e->text : std::string_view();
    };
    switch (n->kind) {
      case N::kAssign:
      case N::kPreInc:
      case N::kPreDec:
      case N::kPostInc:
      case N::kPostDec:
        names->insert(base(n->kids[0]));
        break;
      case N::kCall: {
        auto it = funcs_.find(n->text);
        if (it != funcs_.end()) {
          *calls = true;
          const Function& f = *it->second;
          for (size_t i = 0; i < f.params.size() && i < n->kids.size(); ++i)
            if (f.params[i].qual != Qual::kIn) names->insert(base(n->kids[i]));
        } else if (n->text == "sincos" && n->kids.size() == 3) {
          names->insert(base(n->kids[1]));
          names->insert(base(n->kids[2]));
        }
        break;
      }
      default:
        break;
    }
    for (const Node* k : n->kids) CollectAssigned(k, names, calls);
  }

  // Before code that runs on some lanes only (an if block, a rep loop), every variable it may
  // assign must live in its register with its current value.
  void MaterializeAssigned(const std::vector<Node*>& nodes) {
    std::unordered_set<std::string_view> names;
    bool calls = false;
    for (const Node* n : nodes) CollectAssigned(n, &names, &calls);
    for (auto& scope : scopes_) {
      for (Var& v : scope) {
        if (v.uniform) continue;
        if (!names.count(v.name) && !(calls && v.is_static_global)) continue;
        const size_t count = size_t(LeafCount(v.t));
        for (size_t i = 0; i < count; ++i) Materialize(v.first + i);
      }
    }
    for (const Frame& fr : frames_) {
      if (fr.ret != kNone) {
        const size_t count = size_t(LeafCount(fr.f->ret));
        for (size_t i = 0; i < count; ++i) Materialize(fr.ret + i);
      }
      if (fr.ret_flag != kNone) Materialize(fr.ret_flag);
    }
    for (const Loop& lp : loops_) {
      if (lp.brk != kNone) Materialize(lp.brk);
      if (lp.cnt != kNone) Materialize(lp.cnt);
    }
  }

  Val Condition(Node* e) {
    Val c = Expr(e);
    if (!c.t.IsPlain() || c.t.dim != 1)
      Fail(e, "X3019", "conditional expression must evaluate to a scalar");
    return c;
  }

  // Emits ifc (or breakc) testing `e`, comparing its operands directly when it is a comparison.
  void BranchOn(Node* e, uint16_t op, bool negate) {
    static const std::pair<const char*, uint8_t> cmps[] = {{"<", D3DSPC_LT},  {">", D3DSPC_GT},
                                                           {"<=", D3DSPC_LE}, {">=", D3DSPC_GE},
                                                           {"==", D3DSPC_EQ}, {"!=", D3DSPC_NE}};
    static const uint8_t inverse[] = {0,         D3DSPC_LE, D3DSPC_NE, D3DSPC_LT,
                                      D3DSPC_GE, D3DSPC_EQ, D3DSPC_GT};
    if (e->kind == N::kBinary) {
      for (auto& [op_text, cmp] : cmps) {
        if (e->text != op_text) continue;
        Val a = Expr(e->kids[0]);
        Val b = Expr(e->kids[1]);
        if (a.t.IsPlain() && b.t.IsPlain() && a.t.dim == 1 && b.t.dim == 1) {
          EmitIfc(negate ? inverse[cmp] : cmp, a, b, op);
          return;
        }
        const Val c = BinaryOp(e->text, a, b, e);
        if (c.t.dim != 1) Fail(e, "X3019", "conditional expression must evaluate to a scalar");
        EmitIfc(negate ? D3DSPC_EQ : D3DSPC_NE, c, F(0), op);
        return;
      }
    }
    const Val c = Condition(e);
    EmitIfc(negate ? D3DSPC_EQ : D3DSPC_NE, c, F(0), op);
  }

  static bool IsComparison(const Node* e) {
    return e->kind == N::kBinary && (e->text == "<" || e->text == ">" || e->text == "<=" ||
                                     e->text == ">=" || e->text == "==" || e->text == "!=");
  }

  void If(Node* n) {
    Node* then = n->kids[1];
    Node* other = n->kids.size() == 3 ? n->kids[2] : nullptr;
    // A condition known at compile time selects its branch.
    const size_t mark = out_->code.size();
    const uint32_t vmark = vregs_;
    Val c = Condition(n->kids[0]);
    if (c.konst) {
      if (c.k[0] != 0)
        Scoped(then);
      else if (other)
        Scoped(other);
      return;
    }
    if (sm3()) {
      // A comparison without side effects is evaluated again as a branch on its operands.
      std::unordered_set<std::string_view> assigned;
      bool calls = false;
      CollectAssigned(n->kids[0], &assigned, &calls);
      const bool direct = IsComparison(n->kids[0]) && assigned.empty() && !calls;
      if (direct) {
        out_->code.resize(mark);
        vregs_ = vmark;
        cse_.clear();  // it may name the registers just given back
      }
      MaterializeAssigned({then, other});
      if (direct)
        BranchOn(n->kids[0], D3DSIO_IFC, false);
      else
        EmitIfc(D3DSPC_NE, c, F(0));
      ++region_;
      ++cond_depth_;
      Scoped(then);
      const bool dead_then = dead_;
      dead_ = false;
      bool dead_else = false;
      if (other) {
        EmitFlow(D3DSIO_ELSE);
        Scoped(other);
        dead_else = dead_;
        dead_ = false;
      }
      --cond_depth_;
      --region_;
      EmitFlow(D3DSIO_ENDIF);
      dead_ = dead_then && dead_else;
      return;
    }
    const Val cb = ToBool(c);
    const Val saved = pred_;
    ++cond_depth_;
    ++pdepth_;
    pred_ = Mul(saved, cb, 1);
    Scoped(then);
    const bool dead_then = dead_;
    dead_ = false;
    bool dead_else = false;
    if (other) {
      pred_ = Mul(saved, Cw(D3DSIO_ADD, Base::kFloat, 1, {Neg(cb), F(1)}), 1);
      Scoped(other);
      dead_else = dead_;
      dead_ = false;
    }
    pred_ = saved;
    --pdepth_;
    --cond_depth_;
    dead_ = dead_then && dead_else;
  }

  // Whether `body` contains a break or continue of this loop (not of a nested one).
  static bool HasExit(const Node* n, N kind) {
    if (!n) return false;
    if (n->kind == kind) return true;
    if (n->kind == N::kFor || n->kind == N::kWhile || n->kind == N::kDoWhile) return false;
    for (const Node* k : n->kids)
      if (HasExit(k, kind)) return true;
    return false;
  }

  struct Snapshot {
    size_t code;
    uint32_t vregs;
    std::vector<Leaf> leaves;
    size_t warnings;
    size_t scopes, loops, frames;
    bool dead, exited, returned;
    int region, cond_depth, pdepth;
    Val pred;
  };
  Snapshot Take() {
    return Snapshot{out_->code.size(), vregs_,        leaves_,        warnings_.size(),
                    scopes_.size(),    loops_.size(), frames_.size(), dead_,
                    exited_,           returned_,     region_,        cond_depth_,
                    pdepth_,           pred_};
  }
  void Restore(const Snapshot& s) {
    cse_.clear();
    out_->code.resize(s.code);
    vregs_ = s.vregs;
    leaves_ = s.leaves;
    warnings_.resize(s.warnings);
    scopes_.resize(s.scopes);
    loops_.resize(s.loops);
    frames_.resize(s.frames);
    dead_ = s.dead;
    exited_ = s.exited;
    returned_ = s.returned;
    region_ = s.region;
    cond_depth_ = s.cond_depth;
    pdepth_ = s.pdepth;
    pred_ = s.pred;
  }

  int RepRegister() {
    if (defi_reg_ < 0) {
      defi_reg_ = 0;
      out_->int_defs.push_back({0u, 255});
    }
    return defi_reg_;
  }

  void LoopBody(Node* body) {
    scopes_.emplace_back();
    if (body->kind == N::kBlock)
      Block(body->kids, 0);
    else
      Stmt(body);
    scopes_.pop_back();
  }

  // One loop statement: unrolled when its trip count folds to a constant, else a rep block
  // (shader model 3) or an error (shader model 2).
  void LoopStmt(Node* n) {
    const bool is_for = n->kind == N::kFor;
    const bool is_do = n->kind == N::kDoWhile;
    Node* cond = is_for ? n->kids[1] : is_do ? n->kids[1] : n->kids[0];
    Node* step = is_for ? n->kids[2] : nullptr;
    Node* body = is_for ? n->kids[3] : is_do ? n->kids[0] : n->kids[1];
    scopes_.emplace_back();
    if (is_for) Stmt(n->kids[0]);
    // A counter declared by the for statement is not seen after the loop, so its step can run
    // on every iteration whatever the body did.
    const bool scoped_counter = is_for && n->kids[0]->kind == N::kDeclGroup;
    Loop lp;
    if (HasExit(body, N::kBreak)) lp.brk = NewLeaves(Vec(Base::kBool, 1), n);
    if (HasExit(body, N::kContinue)) lp.cnt = NewLeaves(Vec(Base::kBool, 1), n);
    const Snapshot snap = Take();
    const size_t outer_limit = unroll_limit_;
    // Shader model 3 keeps long loops as rep blocks rather than fill its 512 slots.
    const size_t growth = sm3() ? kMaxUnrollGrowthSm3 : kMaxUnrollGrowth;
    unroll_limit_ = std::min(outer_limit, out_->code.size() + growth);
    bool unrolled = false;
    const char* why = "the loop does not appear to terminate in a timely manner";
    try {
      unrolled = Unroll(n, cond, step, body, lp, scoped_counter, &why);
    } catch (const UnrollLimit&) {
      if (outer_limit != SIZE_MAX && out_->code.size() >= outer_limit) {
        unroll_limit_ = outer_limit;
        throw;
      }
      why = "the unrolled loop is too long";
    }
    unroll_limit_ = outer_limit;
    if (!unrolled) {
      Restore(snap);
      if (!sm3())
        Fail(n, "X3511",
             std::string("unable to unroll loop: ") + why + " (" + tg_.name +
                 " has no dynamic loops)");
      DynamicLoop(n, cond, step, body, lp, is_do);
    }
    scopes_.pop_back();
  }

  bool Unroll(Node* n, Node* cond, Node* step, Node* body, Loop lp, bool scoped_counter,
              const char** why) {
    lp.cond_base = cond_depth_;
    loops_.push_back(lp);
    const bool is_do = n->kind == N::kDoWhile;
    bool any_exit = false;  // an exit flag may be set
    for (int iter = 0;; ++iter) {
      if (iter >= kMaxUnroll) {
        loops_.pop_back();
        *why = "the loop runs more than 1024 iterations";
        return false;
      }
      if (cond && !(is_do && iter == 0)) {
        const Val c = Condition(cond);
        if (!c.konst) {
          loops_.pop_back();
          *why = "its condition is not known at compile time";
          return false;
        }
        if (c.k[0] == 0) break;
      }
      // The body (and, for counters seen after the loop, the step) respects earlier exits.
      exited_ = any_exit;
      dead_ = false;
      if (any_exit) {
        std::vector<Node*> rest = {body};
        if (step && !scoped_counter) rest.push_back(step);
        Guarded(rest, 0);
      } else {
        LoopBody(body);
        if (step && !scoped_counter && !dead_) Expr(step);
      }
      const bool stop = loops_.back().stop || returned_;
      any_exit |= exited_;
      exited_ = false;
      if (stop) break;
      dead_ = false;
      if (loops_.back().cnt != kNone) {
        static const uint8_t x[1] = {0};
        AssignLeaf(loops_.back().cnt, F(0), x, 1);
      }
      if (step && scoped_counter) Expr(step);
      if (is_do) {
        const Val c = Condition(cond);
        if (!c.konst) {
          loops_.pop_back();
          *why = "its condition is not known at compile time";
          return false;
        }
        if (c.k[0] == 0) break;
      }
    }
    loops_.pop_back();
    dead_ = returned_;
    exited_ = any_exit && !dead_;
    return true;
  }

  void DynamicLoop(Node* n, Node* cond, Node* step, Node* body, Loop lp, bool is_do) {
    std::vector<Node*> parts = {body};
    if (cond) parts.push_back(cond);
    if (step) parts.push_back(step);
    MaterializeAssigned(parts);
    if (lp.brk != kNone) Materialize(lp.brk);
    if (lp.cnt != kNone) Materialize(lp.cnt);
    Ins rep;
    rep.op = D3DSIO_REP;
    rep.nsrc = 1;
    rep.src[0] = Reg(D3DSPR_CONSTINT, uint32_t(RepRegister()));
    cse_.clear();
    Push(rep);
    ++region_;
    ++cond_depth_;
    lp.dynamic = true;
    lp.cond_base = cond_depth_;
    loops_.push_back(lp);
    if (cond && !is_do) BranchOn(cond, D3DSIO_BREAKC, true);
    dead_ = exited_ = false;
    LoopBody(body);
    dead_ = exited_ = false;
    if (lp.cnt != kNone) {
      static const uint8_t x[1] = {0};
      AssignLeaf(lp.cnt, F(0), x, 1);
    }
    if (step) Expr(step);
    if (cond && is_do) BranchOn(cond, D3DSIO_BREAKC, true);
    loops_.pop_back();
    --cond_depth_;
    --region_;
    EmitFlow(D3DSIO_ENDREP);
    // A return inside left through break: the code after the loop must skip those lanes, and an
    // enclosing rep must be left as well.
    const Frame& fr = frames_.back();
    if (fr.ret_flag != kNone && !leaves_[fr.ret_flag].konst) {
      exited_ = true;
      for (size_t l = fr.loop_base; l < loops_.size(); ++l) {
        if (!loops_[l].dynamic) continue;
        EmitIfc(D3DSPC_NE, LeafVal(leaves_[fr.ret_flag]), F(0));
        EmitFlow(D3DSIO_BREAK);
        EmitFlow(D3DSIO_ENDIF);
        break;
      }
    }
    (void)n;
  }

  void SetFlag(size_t leaf) {
    static const uint8_t x[1] = {0};
    AssignLeaf(leaf, Konst1(Base::kBool, 1.f), x, 1);
  }

  void StmtInner(Node* n) {
    switch (n->kind) {
      case N::kBlock:
        scopes_.emplace_back();
        Block(n->kids, 0);
        scopes_.pop_back();
        return;
      case N::kDeclGroup:
        for (Node* d : n->kids) {
          if (d->type.base == Base::kSampler || d->type.base == Base::kTexture)
            Fail(d, "X3000", "local variables cannot be samplers or textures");
          if (d->is_const && d->kids.empty())
            Fail(d, "X3012", "'" + std::string(d->text) + "': missing initial value");
          Var v;
          v.name = d->text;
          v.t = d->type;
          v.is_const = d->is_const;
          Val init;
          if (!d->kids.empty()) init = Initial(d->type, d->kids[0], d);
          v.first = NewLeaves(d->type, d);
          if (!d->kids.empty()) {
            size_t li = v.first;
            WriteLeaves(d->type, li, init);
          }
          Declare(v, d);
        }
        return;
      case N::kExprStmt:
        Expr(n->kids[0]);
        return;
      case N::kIf:
        If(n);
        return;
      case N::kFor:
      case N::kWhile:
      case N::kDoWhile:
        LoopStmt(n);
        return;
      case N::kBreak:
      case N::kContinue: {
        const Frame& fr = frames_.back();
        if (loops_.size() <= fr.loop_base)
          Fail(n, "X3000",
               std::string(n->kind == N::kBreak ? "break" : "continue") + " must be inside a loop");
        Loop& lp = loops_.back();
        const bool conditional = cond_depth_ > lp.cond_base;
        if (n->kind == N::kBreak) {
          if (lp.dynamic) {
            EmitFlow(D3DSIO_BREAK);
            if (!conditional) dead_ = true;
          } else if (!conditional) {
            lp.stop = true;
            dead_ = true;
          } else {
            SetFlag(lp.brk);
            exited_ = true;
          }
        } else {
          if (!conditional) {
            dead_ = true;
          } else {
            SetFlag(lp.cnt);
            exited_ = true;
          }
        }
        return;
      }
      case N::kReturn: {
        Frame& fr = frames_.back();
        const bool is_void = fr.f->ret.base == Base::kVoid;
        if (is_void && !n->kids.empty()) Fail(n, "X3079", "void functions cannot return a value");
        if (!is_void && n->kids.empty()) Fail(n, "X3080", "function must return a value");
        if (!is_void) {
          const Val v = Conv(Expr(n->kids[0]), fr.f->ret, n, true);
          size_t li = fr.ret;
          WriteLeaves(fr.f->ret, li, v);
        }
        bool in_dynamic = false;
        for (size_t l = fr.loop_base; l < loops_.size(); ++l) in_dynamic |= loops_[l].dynamic;
        const bool conditional = cond_depth_ > fr.cond_base;
        if (fr.ret_flag != kNone && (conditional || in_dynamic)) SetFlag(fr.ret_flag);
        if (in_dynamic) EmitFlow(D3DSIO_BREAK);
        if (!conditional) {
          dead_ = true;
          returned_ = true;
        } else {
          exited_ = true;
        }
        return;
      }
      case N::kDiscard: {
        if (tg_.vs) NotInProfile(n, "discard is a pixel shader statement");
        Texkill(pred_.konst ? F(-1) : Neg(pred_));
        return;
      }
      case N::kEmpty:
        return;
      default:
        Expr(n);
        return;
    }
  }

  // --- uniforms
  // ------------------------------------------------------------------------------------
  uint8_t DefaultPacking() const {
    return (flags_ & D3DXSHADER_PACKMATRIX_ROWMAJOR) ? kRowMajor : kColumnMajor;
  }

  int RegCount(const Type& t, uint8_t packing) const {
    if (t.IsArray()) return t.array * RegCount(t.Element(), packing);
    if (t.base == Base::kStruct) {
      int n = 0;
      for (const Member& m : u_.structs[size_t(t.strct)].members)
        n += RegCount(m.type, m.packing ? m.packing : packing);
      return n;
    }
    if (t.IsMatrix()) return packing == kRowMajor ? t.rows : t.dim;
    if (t.base == Base::kTexture) return 0;
    return 1;
  }

  bool HasSampler(const Type& t) const {
    if (t.base == Base::kSampler) return true;
    if (t.base == Base::kStruct)
      for (const Member& m : u_.structs[size_t(t.strct)].members)
        if (HasSampler(m.type)) return true;
    return false;
  }

  Val UniformVal(const Type& t, uint8_t packing, int& reg, int var) {
    Val r;
    r.t = t;
    if (t.IsArray()) {
      const Type e = t.Element();
      if (e.base != Base::kSampler) {
        r.cbase = reg;
        r.stride = RegCount(e, packing);
      }
      for (int i = 0; i < t.array; ++i) r.parts.push_back(UniformVal(e, packing, reg, var));
      return r;
    }
    if (t.base == Base::kStruct) {
      for (const Member& m : u_.structs[size_t(t.strct)].members)
        r.parts.push_back(UniformVal(m.type, m.packing ? m.packing : packing, reg, var));
      return r;
    }
    if (t.base == Base::kSampler) {
      r.sampler = reg++;
      r.var = var;
      return r;
    }
    if (t.IsMatrix()) {
      if (packing == kRowMajor) {
        for (int i = 0; i < t.rows; ++i) {
          Val p;
          p.t = Vec(t.base, t.dim);
          p.o = Reg(D3DSPR_CONST, uint32_t(reg++));
          r.parts.push_back(p);
        }
      } else {
        r.cols = true;
        for (int j = 0; j < t.dim; ++j) {
          Val p;
          p.t = Vec(t.base, t.rows);
          p.o = Reg(D3DSPR_CONST, uint32_t(reg++));
          r.parts.push_back(p);
        }
      }
      return r;
    }
    r.o = Reg(D3DSPR_CONST, uint32_t(reg++));
    return r;
  }

  // Initial values of a uniform, register by register.
  void Defaults(const Val& v, const Type& t, uint8_t packing, std::vector<float>* out,
                const Node* at) {
    if (t.IsArray() || t.base == Base::kStruct) {
      for (size_t i = 0; i < v.parts.size(); ++i) {
        Type pt = v.parts[i].t;
        uint8_t pk = packing;
        if (t.base == Base::kStruct && !t.IsArray()) {
          const Member& m = u_.structs[size_t(t.strct)].members[i];
          pt = m.type;
          if (m.packing) pk = m.packing;
        }
        Defaults(v.parts[i], pt, pk, out, at);
      }
      return;
    }
    if (t.IsMatrix()) {
      const Val rows = RowsOf(v);
      for (const Val& p : rows.parts)
        if (!p.konst) Fail(at, "X3000", "initial values of uniforms must be literal expressions");
      if (packing == kRowMajor) {
        for (int i = 0; i < t.rows; ++i)
          for (int c = 0; c < 4; ++c) out->push_back(c < t.dim ? rows.parts[size_t(i)].k[c] : 0.f);
      } else {
        for (int j = 0; j < t.dim; ++j)
          for (int c = 0; c < 4; ++c) out->push_back(c < t.rows ? rows.parts[size_t(c)].k[j] : 0.f);
      }
      return;
    }
    if (!v.konst) Fail(at, "X3000", "initial values of uniforms must be literal expressions");
    for (int c = 0; c < 4; ++c) out->push_back(c < t.dim ? v.k[c] : 0.f);
  }

  CtabType CtabTypeOf(const Type& t, uint8_t packing) const {
    CtabType ct;
    ct.elements = uint16_t(t.array ? t.array : 1);
    const Type e = t.Element();
    if (e.base == Base::kStruct) {
      ct.cls = D3DXPC_STRUCT;
      ct.type = D3DXPT_VOID;
      int comps = 0;
      for (const Member& m : u_.structs[size_t(e.strct)].members) {
        CtabType mt = CtabTypeOf(m.type, m.packing ? m.packing : packing);
        comps += mt.rows * mt.columns * mt.elements;
        ct.member_names.push_back(std::string(m.name));
        ct.member_types.push_back(mt);
      }
      ct.rows = 1;
      ct.columns = uint16_t(comps);
      return ct;
    }
    if (e.base == Base::kSampler) {
      static const uint16_t kinds[] = {D3DXPT_SAMPLER, D3DXPT_SAMPLER1D, D3DXPT_SAMPLER2D,
                                       D3DXPT_SAMPLER3D, D3DXPT_SAMPLERCUBE};
      ct.cls = D3DXPC_OBJECT;
      ct.type = kinds[e.sampler < 5 ? e.sampler : 0];
      return ct;
    }
    ct.type = e.base == Base::kFloat ? D3DXPT_FLOAT
              : e.base == Base::kInt ? D3DXPT_INT
                                     : D3DXPT_BOOL;
    if (e.IsMatrix()) {
      ct.cls = packing == kRowMajor ? D3DXPC_MATRIX_ROWS : D3DXPC_MATRIX_COLUMNS;
      ct.rows = e.rows;
      ct.columns = e.dim;
    } else {
      ct.cls = e.dim == 1 ? D3DXPC_SCALAR : D3DXPC_VECTOR;
      ct.columns = e.dim;
    }
    return ct;
  }

  static bool ParseBinding(std::string_view r, char* cls, int* index) {
    if (r.size() < 2) return false;
    char c = r[0];
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
    int v = 0;
    for (size_t i = 1; i < r.size(); ++i) {
      if (r[i] < '0' || r[i] > '9' || i > 5) return false;
      v = v * 10 + (r[i] - '0');
    }
    *cls = c;
    *index = v;
    return true;
  }

  void CollectUniforms(const Function& entry) {
    std::unordered_set<std::string_view> names;
    std::vector<const Function*> todo = {&entry};
    std::unordered_set<const Function*> seen;
    std::vector<const Node*> stack;
    while (!todo.empty()) {
      const Function* f = todo.back();
      todo.pop_back();
      if (!f->body || !seen.insert(f).second) continue;
      stack.assign(1, f->body);
      while (!stack.empty()) {
        const Node* s = stack.back();
        stack.pop_back();
        if (s->kind == N::kIdent) names.insert(s->text);
        if (s->kind == N::kCall) {
          auto it = funcs_.find(s->text);
          if (it != funcs_.end()) todo.push_back(it->second);
        }
        for (const Node* k : s->kids)
          if (k) stack.push_back(k);
      }
    }
    // Static initialisers run in the entry too.
    for (const Node* g : u_.globals)
      if (g->is_static)
        for (const Node* k : g->kids) {
          stack.assign(1, k);
          while (!stack.empty()) {
            const Node* s = stack.back();
            stack.pop_back();
            if (s->kind == N::kIdent) names.insert(s->text);
            for (const Node* kk : s->kids)
              if (kk) stack.push_back(kk);
          }
        }
    for (const Node* g : u_.globals) {
      if (g->is_static || g->type.base == Base::kTexture) continue;
      Uniform u;
      u.decl = g;
      u.name = std::string(g->text);
      u.t = g->type;
      u.packing = g->packing ? g->packing : DefaultPacking();
      u.used = names.count(g->text) > 0;
      u.sampler = g->type.Element().base == Base::kSampler;
      if (!u.sampler && HasSampler(g->type))
        Fail(g, "X3000", "structures holding samplers are not supported");
      uniforms_.push_back(u);
    }
    for (const Param& p : entry.params) {
      if (!p.is_uniform) continue;
      if (p.type.base == Base::kTexture)
        FailAt(p.line, p.col, "X3000", "texture parameters are not supported");
      Uniform u;
      u.name = "$" + std::string(p.name);
      u.t = p.type;
      u.packing = p.packing ? p.packing : DefaultPacking();
      u.used = true;
      u.sampler = p.type.Element().base == Base::kSampler;
      uniforms_.push_back(u);
    }
    // Registers: explicit bindings first, then the rest in declaration order.
    const int sampler_limit = tg_.vs ? 4 : 16;
    for (Uniform& u : uniforms_) {
      u.count = RegCount(u.t, u.packing);
      if (!u.used || !u.decl || u.decl->reg.empty()) continue;
      char cls;
      int index;
      if (!ParseBinding(u.decl->reg, &cls, &index) ||
          (cls != 'c' && cls != 's' && cls != 'b' && cls != 'i'))
        Fail(u.decl, "X3530", "invalid register binding '" + std::string(u.decl->reg) + "'");
      if (cls == 'b' || cls == 'i')
        Fail(u.decl, "X3530", "binding '" + u.name + "' to " + cls + " registers is not supported");
      if ((cls == 's') != u.sampler)
        Fail(u.decl, "X3530",
             "'" + u.name + "' cannot be bound to register '" + std::string(u.decl->reg) + "'");
      std::vector<bool>& used = u.sampler ? sreg_used_ : creg_used_;
      const int limit = u.sampler ? sampler_limit : tg_.consts;
      if (index + u.count > limit)
        Fail(u.decl, "X4505",
             "register '" + std::string(u.decl->reg) + "' is out of range for " + tg_.name);
      for (int r = index; r < index + u.count; ++r) {
        if (used[size_t(r)])
          Fail(u.decl, "X4500",
               "overlapping register semantics: '" + std::string(u.decl->reg) + "'");
        used[size_t(r)] = true;
      }
      u.reg = index;
    }
    for (Uniform& u : uniforms_) {
      if (!u.used || u.reg >= 0 || u.count == 0) continue;
      std::vector<bool>& used = u.sampler ? sreg_used_ : creg_used_;
      const int limit = u.sampler ? sampler_limit : tg_.consts;
      for (int start = 0; start + u.count <= limit && u.reg < 0; ++start) {
        bool free = true;
        for (int r = start; r < start + u.count && free; ++r) free = !used[size_t(r)];
        if (free) u.reg = start;
      }
      if (u.reg < 0) {
        if (u.decl)
          Fail(u.decl, "X4505",
               "'" + u.name + "' does not fit in the " +
                   (u.sampler ? std::string("samplers") : std::string("constant registers")) +
                   " of " + tg_.name);
        Fail(nullptr, "X4505", "'" + u.name + "' does not fit in the registers of " + tg_.name);
      }
      for (int r = u.reg; r < u.reg + u.count; ++r) used[size_t(r)] = true;
    }
  }

  // --- entry inputs and outputs ------------------------------------------------------------------
  struct Output {
    size_t leaf;
    uint8_t type;
    uint32_t reg;
    uint8_t mask;
    bool pad;  // colour outputs are written whole
  };
  std::vector<Output> outputs_;
  std::vector<std::pair<int, int>> input_semantics_, output_semantics_;
  int next_input_ = 0, next_output_ = 0;

  void BindLeaf(size_t li, int usage, int index, bool input, std::string_view sem, int line,
                int col) {
    const int dim = leaves_[li].dim;
    auto bad = [&](const char* what) {
      FailAt(
          line, col, "X4502",
          std::string("invalid ") + tg_.name + " " + what + " semantic '" + std::string(sem) + "'");
    };
    std::vector<std::pair<int, int>>& seen = input ? input_semantics_ : output_semantics_;
    for (auto& s : seen)
      if (s.first == usage && s.second == index)
        FailAt(line, col, "X4502",
               std::string("duplicate ") + (input ? "input" : "output") + " semantic '" +
                   std::string(sem) + "'");
    seen.push_back({usage, index});
    if (input) {
      Leaf& L = leaves_[li];
      Decl d;
      if (tg_.vs) {
        if (usage >= kUsageVPos) bad("input");
        if (next_input_ >= 16) FailAt(line, col, "X4502", "too many vertex shader inputs");
        d = Decl{D3DSPR_INPUT, uint32_t(next_input_++), 0xF, uint8_t(usage), uint8_t(index)};
      } else if (sm3()) {
        if (usage == kUsageVPos) {
          if (dim > 2) FailAt(line, col, "X4502", "VPOS is a float2");
          d = Decl{D3DSPR_MISCTYPE, D3DSMO_POSITION, 0x3, 0, 0};
        } else if (usage == kUsageVFace) {
          if (dim != 1) FailAt(line, col, "X4502", "VFACE is a float");
          d = Decl{D3DSPR_MISCTYPE, D3DSMO_FACE, 0x1, 0, 0};
        } else {
          if (usage == D3DDECLUSAGE_POSITION || usage == D3DDECLUSAGE_POSITIONT) bad("input");
          if (next_input_ >= 10) FailAt(line, col, "X4502", "too many pixel shader inputs");
          d = Decl{D3DSPR_INPUT, uint32_t(next_input_++), uint8_t((1 << dim) - 1), uint8_t(usage),
                   uint8_t(index)};
        }
      } else {
        if (usage == D3DDECLUSAGE_COLOR && index < 2)
          d = Decl{D3DSPR_INPUT, uint32_t(index), uint8_t((1 << dim) - 1), 0, 0};
        else if (usage == D3DDECLUSAGE_TEXCOORD && index < 8)
          d = Decl{D3DSPR_TEXTURE, uint32_t(index), uint8_t((1 << dim) - 1), 0, 0};
        else
          bad("input");
      }
      out_->decls.push_back(d);
      L.cur = Reg(d.type, d.index);
      if (d.type == D3DSPR_MISCTYPE && d.index == D3DSMO_FACE) L.cur.swz = 0;
      L.konst = false;
      L.home = kNone;
      return;
    }
    Output o{li, 0, 0, uint8_t((1 << dim) - 1), false};
    if (tg_.vs && !sm3()) {
      if (usage == D3DDECLUSAGE_POSITION && index == 0) {
        if (dim != 4) FailAt(line, col, "X4541", "vertex shader POSITION must be a float4");
        o.type = D3DSPR_RASTOUT;
        o.reg = D3DSRO_POSITION;
      } else if (usage == D3DDECLUSAGE_COLOR && index < 2) {
        o.type = D3DSPR_ATTROUT;
        o.reg = uint32_t(index);
      } else if (usage == D3DDECLUSAGE_TEXCOORD && index < 8) {
        o.type = D3DSPR_TEXCRDOUT;
        o.reg = uint32_t(index);
      } else if ((usage == D3DDECLUSAGE_FOG || usage == D3DDECLUSAGE_PSIZE) && index == 0) {
        o.type = D3DSPR_RASTOUT;
        o.reg = usage == D3DDECLUSAGE_FOG ? D3DSRO_FOG : D3DSRO_POINT_SIZE;
        o.mask = 1;
      } else {
        bad("output");
      }
    } else if (tg_.vs) {
      if (usage >= kUsageVPos) bad("output");
      if (usage == D3DDECLUSAGE_POSITION && index == 0 && dim != 4)
        FailAt(line, col, "X4541", "vertex shader POSITION must be a float4");
      if (next_output_ >= 12) FailAt(line, col, "X4502", "too many vertex shader outputs");
      o.type = D3DSPR_OUTPUT;
      o.reg = uint32_t(next_output_++);
      if (usage == D3DDECLUSAGE_FOG || usage == D3DDECLUSAGE_PSIZE) o.mask = 1;
      out_->decls.push_back(Decl{D3DSPR_OUTPUT, o.reg, o.mask, uint8_t(usage), uint8_t(index)});
    } else {
      if (usage == D3DDECLUSAGE_COLOR && index < 4) {
        o.type = D3DSPR_COLOROUT;
        o.reg = uint32_t(index);
        o.mask = 0xF;
        o.pad = true;
      } else if (usage == D3DDECLUSAGE_DEPTH && index == 0) {
        if (dim != 1) FailAt(line, col, "X4502", "DEPTH is a float");
        o.type = D3DSPR_DEPTHOUT;
        o.mask = 1;
      } else {
        bad("output");
      }
    }
    outputs_.push_back(o);
  }

  // Binds every leaf of a parameter or return value to the registers of its semantics.
  void Bind(const Type& t, std::string_view sem, int& extra, size_t& li, bool input, bool output,
            std::string_view name, int line, int col) {
    if (t.IsArray()) {
      for (int e = 0; e < t.array; ++e)
        Bind(t.Element(), sem, extra, li, input, output, name, line, col);
      return;
    }
    if (t.base == Base::kStruct) {
      for (const Member& m : u_.structs[size_t(t.strct)].members) {
        if (m.semantic.empty())
          FailAt(m.line, m.col, "X3502",
                 "'" + std::string(name) + "': " + (input ? "input" : "output") + " member '" +
                     std::string(m.name) + "' missing semantics");
        int e = 0;
        Bind(m.type, m.semantic, e, li, input, output, m.name, m.line, m.col);
      }
      return;
    }
    if (!t.IsNumeric())
      FailAt(line, col, "X3502",
             "'" + std::string(name) + "': only numeric values can have semantics");
    if (sem.empty())
      FailAt(line, col, "X3502",
             "'" + std::string(name) + "': " + (input ? "input" : "output") +
                 " parameter missing semantics");
    int usage, index;
    if (!ParseSemantic(sem, &usage, &index))
      FailAt(line, col, "X4502", "invalid semantic '" + std::string(sem) + "'");
    const int rows = t.IsMatrix() ? t.rows : 1;
    for (int r = 0; r < rows; ++r) {
      if (index + extra > 15) FailAt(line, col, "X4502", "semantic index out of range");
      if (input) BindLeaf(li, usage, index + extra, true, sem, line, col);
      if (output) BindLeaf(li, usage, index + extra, false, sem, line, col);
      ++extra;
      ++li;
    }
  }

  void WriteOutputs() {
    for (const Output& o : outputs_) {
      Val v = LeafVal(leaves_[o.leaf]);
      Ins mov;
      mov.op = D3DSIO_MOV;
      mov.has_dst = true;
      mov.dst = Reg(o.type, o.reg);
      mov.mask = o.mask;
      mov.nsrc = 1;
      if (o.pad && v.t.dim < 4) {
        std::vector<Val> comps;
        for (int c = 0; c < 4; ++c) comps.push_back(c < v.t.dim ? Swizzle1(v, c) : F(0));
        v = Gather(Base::kFloat, comps);
      }
      mov.src[0] = o.mask == 1 ? Use1(v, 0) : Use(v, 4);
      Push(mov);
    }
  }

  void Entry(const Function& f) {
    const Node at = [&] {
      Node n;
      n.line = f.line;
      n.col = f.col;
      return n;
    }();
    at_ = &at;
    const std::string name(f.name);
    if (f.ret.base == Base::kSampler || f.ret.base == Base::kTexture)
      Fail(&at, "X3503", "'" + name + "': entrypoint cannot return objects");
    Frame fr;
    fr.f = &f;
    if (f.ret.base != Base::kVoid) {
      if (!AlwaysReturns(f.body))
        Fail(&at, "X3080", "'" + name + "': function must return a value");
      fr.ret = NewLeaves(f.ret, &at);
      size_t li = fr.ret;
      int extra = 0;
      if (f.ret.base != Base::kStruct && f.ret_semantic.empty())
        Fail(&at, "X3503", "'" + name + "': function return value missing semantics");
      Bind(f.ret, f.ret_semantic, extra, li, false, true, f.name, f.line, f.col);
    }
    std::vector<Var> params;
    for (const Param& p : f.params) {
      Var v;
      v.name = p.name;
      v.t = p.type;
      if (p.is_uniform) {
        for (size_t i = 0; i < uniforms_.size(); ++i) {
          const Uniform& u = uniforms_[i];
          if (u.decl || u.name != "$" + std::string(p.name)) continue;
          int reg = u.reg;
          v.uniform = true;
          v.uval = UniformVal(u.t, u.packing, reg, int(i));
        }
        params.push_back(v);
        continue;
      }
      if (p.type.base == Base::kSampler || p.type.base == Base::kTexture)
        FailAt(p.line, p.col, "X3502", "'" + std::string(p.name) + "': objects must be uniform");
      v.first = NewLeaves(p.type, &at);
      size_t li = v.first;
      int extra = 0;
      Bind(p.type, p.semantic, extra, li, p.qual != Qual::kOut, p.qual != Qual::kIn, p.name, p.line,
           p.col);
      params.push_back(v);
    }
    bool position = false, color = false;
    for (auto& s : output_semantics_) {
      position |= s.first == D3DDECLUSAGE_POSITION && s.second == 0;
      color |= s.first == D3DDECLUSAGE_COLOR && s.second == 0;
    }
    if (tg_.vs && !position)
      Fail(&at, "X4541", "'" + name + "': vertex shader must write POSITION");
    if (!tg_.vs && !color) Fail(&at, "X4541", "'" + name + "': pixel shader must write COLOR0");
    if (HasReturnNotLast(f.body)) fr.ret_flag = NewLeaves(Vec(Base::kBool, 1), &at);
    scopes_.emplace_back();
    for (Var& v : params) Declare(v, &at);
    frames_.push_back(fr);
    Stmt(f.body);
    frames_.pop_back();
    scopes_.pop_back();
    WriteOutputs();
    at_ = nullptr;
  }

 public:
  void Generate(std::string_view entry) {
    for (const Function& f : u_.funcs) {
      auto it = funcs_.find(f.name);
      if (it == funcs_.end() || (!it->second->body && f.body))
        funcs_[f.name] = &f;
      else if (f.body && it->second->body)
        FailAt(f.line, f.col, "X3003",
               "'" + std::string(f.name) + "': function already has a body");
    }
    auto it = funcs_.find(entry);
    if (it == funcs_.end() || !it->second->body)
      throw CompileError{0, 0, "X3501", "'" + std::string(entry) + "': entrypoint not found"};
    const Function& ef = *it->second;
    creg_used_.assign(size_t(tg_.consts), false);
    sreg_used_.assign(16, false);
    scopes_.emplace_back();
    CollectUniforms(ef);
    // Globals: uniforms as register values, statics as variables initialised here.
    Frame top;
    top.f = &ef;
    frames_.push_back(top);
    for (Node* g : u_.globals) {
      at_ = g;
      Var v;
      v.name = g->text;
      v.t = g->type;
      if (!g->is_static) {
        v.uniform = true;
        for (size_t i = 0; i < uniforms_.size(); ++i) {
          Uniform& u = uniforms_[i];
          if (u.decl != g) continue;
          int reg = u.reg < 0 ? 0 : u.reg;
          v.uval = UniformVal(u.t, u.packing, reg, int(i));
          if (u.used && !g->kids.empty()) {
            const Val init = Initial(g->type, g->kids[0], g);
            Defaults(init, g->type, u.packing, &u.defaults, g);
          }
        }
        Declare(v, g);
        continue;
      }
      if (g->type.base == Base::kSampler || g->type.base == Base::kTexture)
        Fail(g, "X3000", "static samplers and textures are not supported");
      v.is_const = g->is_const;
      v.is_static_global = true;
      Val init;
      if (!g->kids.empty()) init = Initial(g->type, g->kids[0], g);
      v.first = NewLeaves(g->type, g);
      if (!g->kids.empty()) {
        size_t li = v.first;
        WriteLeaves(g->type, li, init);
      } else if (g->is_const) {
        Fail(g, "X3012", "'" + std::string(g->text) + "': missing initial value");
      }
      Declare(v, g);
    }
    frames_.pop_back();
    at_ = nullptr;
    Entry(ef);
    // Declarations of samplers, and the constant table.
    for (const Uniform& u : uniforms_) {
      if (!u.used || u.reg < 0) continue;
      CtabConstant c;
      c.name = u.name;
      c.regset = u.sampler ? D3DXRS_SAMPLER : D3DXRS_FLOAT4;
      c.index = uint16_t(u.reg);
      c.count = uint16_t(u.count);
      c.type = CtabTypeOf(u.t, u.packing);
      c.defaults = u.defaults;
      out_->constants.push_back(c);
      if (!u.sampler) continue;
      const SamplerKind kind =
          u.sampler_kind ? SamplerKind(u.sampler_kind) : SamplerKind(u.t.Element().sampler);
      const uint32_t type = kind == SamplerKind::kCube ? D3DSTT_CUBE
                            : kind == SamplerKind::k3D ? D3DSTT_VOLUME
                                                       : D3DSTT_2D;
      for (int r = 0; r < u.count; ++r)
        out_->decls.push_back(Decl{D3DSPR_SAMPLER, uint32_t(u.reg + r), 0xF, 0, 0, type});
    }
    out_->vregs = vregs_;
  }
};

}  // namespace

bool TargetOf(std::string_view profile, Target* out) {
  Target t;
  if (profile == "vs_2_0") {
    t = Target{true, 2, 0, "vs_2_0", 12, 256, 256, 0};
  } else if (profile == "vs_3_0") {
    t = Target{true, 3, 0, "vs_3_0", 32, 256, 512, 0};
  } else if (profile == "ps_2_0") {
    t = Target{false, 2, 0, "ps_2_0", 12, 32, 64, 32};
  } else if (profile == "ps_3_0") {
    t = Target{false, 3, 0, "ps_3_0", 32, 224, 512, 0};
  } else {
    return false;
  }
  *out = t;
  return true;
}

void Generate(Unit& unit, std::string_view entry, const Target& target, DWORD flags,
              std::string& warnings, Program* out) {
  out->target = target;
  out->flags = flags;
  Gen gen(unit, target, flags, warnings, out);
  gen.Generate(entry);
}

}  // namespace vexa::shader::sm
