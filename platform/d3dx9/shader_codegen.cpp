// Type checking and code generation: walks the syntax tree once, giving every expression a type
// and emitting register-machine instructions. Helper functions are expanded inline at each call
// (the machine has no call stack), which is also where recursion is refused.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <unordered_map>

#include "d3dx9/shader_ast.h"
#include "d3dx9/shader_bytecode.h"
#include "d3dx9/shader_compiler.h"
#include "d3dx9/shader_sm.h"

namespace vexa::shader {

namespace {

struct Operand {
  uint16_t src = 0;
  uint8_t swz = kIdentitySwizzle;
};

struct Value {
  Type t;
  Operand o;
  bool temp = false;  // a temporary the last instruction that wrote it may compute in place
};

struct LValue {
  uint16_t reg = 0;
  uint8_t comps[4] = {0, 1, 2, 3};
  Type t;
};

struct Var {
  std::string_view name;
  Type t;
  uint16_t reg = 0;
  bool is_const = false;
};

inline int SwzComp(uint8_t swz, int i) {
  return (swz >> (2 * i)) & 3;
}
inline uint8_t MakeSwz(const int c[4]) {
  return uint8_t(c[0] | (c[1] << 2) | (c[2] << 4) | (c[3] << 6));
}
inline uint8_t Broadcast(int c) {
  return uint8_t(c | (c << 2) | (c << 4) | (c << 6));
}
inline uint8_t MaskOf(int dim) {
  return uint8_t((1 << dim) - 1);
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

// Parses a swizzle; returns its length (0 if invalid).
int ParseSwizzle(std::string_view s, int dim, int idx[4]) {
  if (s.empty() || s.size() > 4) return 0;
  const char* sets[2] = {"xyzw", "rgba"};
  for (const char* set : sets) {
    bool ok = true;
    for (size_t i = 0; i < s.size() && ok; ++i) {
      const char* f = std::strchr(set, s[i]);
      if (!f || s[i] == 0) {
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

Base ArithBase(Base a, Base b) {
  if (a == Base::kFloat || b == Base::kFloat) return Base::kFloat;
  return Base::kInt;
}

bool AlwaysReturns(const Node* n) {
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

class Gen {
 public:
  Gen(Unit& u, std::string& warnings) : u_(u), warnings_(warnings) {}

  Program Run(std::string_view entry) {
    // Function table; two bodies for one name is a redefinition.
    for (const Function& f : u_.funcs) {
      auto it = funcs_.find(f.name);
      if (it == funcs_.end() || (!it->second->body && f.body)) {
        funcs_[f.name] = &f;
      } else if (f.body && it->second->body) {
        Fail(f.line, f.col, "X3003", "'" + std::string(f.name) + "': function already has a body");
      }
    }
    scopes_.emplace_back();
    // Globals first: registers [0, globals), initialised by the init section.
    code_ = &prog_.init;
    for (Node* g : u_.globals) {
      RequirePlain(g->type, g);
      if (!g->reg.empty()) Fail(g, "X3000", "register bindings are not supported by tx_1_0");
      uint16_t reg = Alloc(g);
      uint32_t mark = next_reg_;
      if (!g->kids.empty()) {
        Value v = Expr(g->kids[0]);
        Store(LValue{reg, {0, 1, 2, 3}, g->type}, v, g);
      }
      next_reg_ = mark;
      Declare(Var{g->text, g->type, reg, g->is_const}, g);
      if (!g->is_static) {
        if (prog_.uniforms.size() >= kMaxUniforms) Fail(g, "X3507", "too many uniform globals");
        if (g->text.size() > kMaxUniformName) Fail(g, "X3507", "uniform name is too long");
        prog_.uniforms.push_back(
            Program::Uniform{std::string(g->text), reg, uint8_t(g->type.base), g->type.dim});
      }
    }
    prog_.num_globals = next_reg_;
    auto it = funcs_.find(entry);
    if (it == funcs_.end() || !it->second->body)
      throw CompileError{0, 0, "X3501", "'" + std::string(entry) + "': entrypoint not found"};
    const Function& ef = *it->second;
    // Functions are checked in source order, so the first error in the text is the one
    // reported; every function but the entry goes into scratch code that is thrown away.
    for (const Function& f : u_.funcs) {
      if (!f.body || funcs_[f.name] != &f) continue;
      if (&f == &ef) {
        code_ = &prog_.main;
        CompileEntry(ef);
      } else {
        DryRun(f);
      }
    }
    prog_.num_regs = std::max<uint32_t>(high_, 1);
    return std::move(prog_);
  }

 private:
  struct Loop {
    std::vector<size_t> breaks;
    std::vector<size_t> continues;
  };
  struct Frame {
    const Function* f = nullptr;
    LValue ret;
    std::vector<size_t> returns;
    size_t loop_base = 0;
  };

  Unit& u_;
  std::string& warnings_;
  Program prog_;
  std::vector<Instr>* code_ = nullptr;
  uint32_t next_reg_ = 0;
  uint32_t high_ = 0;
  size_t emitted_ = 0;
  size_t inlines_ = 0;
  std::vector<std::vector<Var>> scopes_;
  std::unordered_map<std::string_view, const Function*> funcs_;
  std::unordered_map<uint32_t, uint16_t> const_index_;
  std::vector<Loop> loops_;
  std::vector<Frame> frames_;

  [[noreturn]] void Fail(int line, int col, const char* code, const std::string& text) {
    throw CompileError{line, col, code, text};
  }
  [[noreturn]] void Fail(const Node* n, const char* code, const std::string& text) {
    Fail(n->line, n->col, code, text);
  }
  void Warn(const Node* n, const char* code, const char* text) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "memory(%d,%d): warning %s: %s\n", n->line, n->col, code, text);
    if (warnings_.size() < 64 * 1024 && warnings_.find(buf) == std::string::npos) warnings_ += buf;
  }

  // The texture-shader language has scalars and vectors of bool, int and float only.
  void RequirePlain(Type t, int line, int col) {
    if (t.IsPlain() || t.base == Base::kVoid) return;
    Fail(line, col, "X3000", "'" + TypeName(t) + "': type is not supported by tx_1_0");
  }
  void RequirePlain(Type t, const Node* at) { RequirePlain(t, at->line, at->col); }

  uint16_t Alloc(const Node* at) {
    if (next_reg_ >= kMaxRegisters) Fail(at, "X3507", "shader needs too many registers");
    uint16_t r = uint16_t(next_reg_++);
    high_ = std::max(high_, next_reg_);
    return r;
  }

  size_t Emit(const Instr& in, const Node* at) {
    if (code_->size() >= kMaxInstructions || ++emitted_ > kMaxEmitted)
      Fail(at, "X3507", "shader is too long");
    code_->push_back(in);
    return code_->size() - 1;
  }
  size_t EmitJump(uint8_t op, const Operand* cond, const Node* at) {
    Instr in;
    in.op = op;
    in.swz[0] = 0;
    if (cond) {
      in.src[0] = cond->src;
      in.swz[0] = cond->swz;
    }
    return Emit(in, at);
  }
  void Patch(size_t at, size_t target) { (*code_)[at].target = uint16_t(target); }

  Value Const(float v, Base base, const Node* at) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    auto it = const_index_.find(bits);
    uint16_t idx;
    if (it != const_index_.end()) {
      idx = it->second;
    } else {
      if (prog_.consts.size() / 4 >= kMaxConstants) Fail(at, "X3507", "too many constants");
      idx = uint16_t(prog_.consts.size() / 4);
      prog_.consts.insert(prog_.consts.end(), {v, v, v, v});
      const_index_[bits] = idx;
    }
    return Value{Type{base, 1}, Operand{uint16_t(kConstFlag | idx), 0}};
  }

  // --- scopes ------------------------------------------------------------------------------
  void Declare(const Var& v, const Node* at) {
    for (const Var& o : scopes_.back())
      if (o.name == v.name) Fail(at, "X3003", "'" + std::string(v.name) + "': redefinition");
    scopes_.back().push_back(v);
  }
  const Var* Lookup(std::string_view name) const {
    for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
      for (auto v = s->rbegin(); v != s->rend(); ++v)
        if (v->name == name) return &*v;
    return nullptr;
  }

  // --- values ------------------------------------------------------------------------------
  Value Op(uint8_t op, Type rt, const Value* a, const Value* b, const Value* c, const Node* at,
           uint8_t aux = 0) {
    Value r{rt, Operand{Alloc(at), kIdentitySwizzle}, true};
    Instr in;
    in.op = op;
    in.mask = op == kCross ? 7 : MaskOf(rt.dim);
    in.aux = aux;
    in.dst = r.o.src;
    const Value* s[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
      in.src[i] = s[i] ? s[i]->o.src : 0;
      in.swz[i] = s[i] ? s[i]->o.swz : 0;
    }
    Emit(in, at);
    return r;
  }
  Value Op1(uint8_t op, Type rt, const Value& a, const Node* at) {
    return Op(op, rt, &a, nullptr, nullptr, at);
  }
  Value Op2(uint8_t op, Type rt, const Value& a, const Value& b, const Node* at) {
    return Op(op, rt, &a, &b, nullptr, at);
  }

  static Value Resize(Value v, int dim) {
    if (v.t.dim == 1 && dim > 1) v.o.swz = Broadcast(SwzComp(v.o.swz, 0));
    v.t.dim = uint8_t(dim);
    return v;
  }

  Value ToBase(Value v, Base b, const Node* at) {
    if (v.t.base == b) return v;
    if (v.t.base == Base::kVoid || b == Base::kVoid)
      Fail(at, "X3017",
           "cannot convert from '" + TypeName(v.t) + "' to '" + TypeName(Type{b, v.t.dim}) + "'");
    Type rt{b, v.t.dim};
    if (b == Base::kFloat || (b == Base::kInt && v.t.base == Base::kBool)) {
      v.t = rt;
      return v;
    }
    return Op1(b == Base::kInt ? kTrunc : kBool, rt, v, at);
  }

  Value Convert(Value v, Type to, const Node* at, bool implicit) {
    if (v.t.base == Base::kVoid)
      Fail(at, "X3017", "cannot convert from 'void' to '" + TypeName(to) + "'");
    if (v.t.dim != to.dim) {
      if (v.t.dim == 1) {
        v = Resize(v, to.dim);
      } else if (v.t.dim > to.dim) {
        if (implicit) Warn(at, "X3206", "implicit truncation of vector type");
        v = Resize(v, to.dim);
      } else {
        Fail(at, "X3017",
             std::string("cannot ") + (implicit ? "implicitly " : "") + "convert from '" +
                 TypeName(v.t) + "' to '" + TypeName(to) + "'");
      }
    }
    return ToBase(v, to.base, at);
  }

  void RequireValue(const Value& v, const Node* at) {
    if (v.t.base == Base::kVoid) Fail(at, "X3020", "void value used in an expression");
  }

  // Common component count of operands: scalars promote, vectors truncate to the shortest.
  int UnifyDims(std::initializer_list<const Value*> vs, const Node* at) {
    int dim = 0;
    bool warn = false;
    for (const Value* v : vs) {
      RequireValue(*v, at);
      if (v->t.dim == 1) continue;
      if (dim && dim != v->t.dim) warn = true;
      dim = dim ? std::min<int>(dim, v->t.dim) : v->t.dim;
    }
    if (warn) Warn(at, "X3206", "implicit truncation of vector type");
    return dim ? dim : 1;
  }

  // Makes the instruction that just computed temporary `v` write its result straight into
  // components `comps` of `reg` instead, saving a move. Only when every component read from
  // `v` came from that instruction, each exactly once.
  bool Retarget(const Value& v, uint16_t reg, const uint8_t* comps, int n) {
    if (!v.temp || (v.o.src & kConstFlag) || code_->empty()) return false;
    Instr& last = code_->back();
    if (last.dst != v.o.src || last.op >= kCross) return false;
    uint8_t mask = 0, used = 0;
    int sw[3][4] = {};
    for (int i = 0; i < n; ++i) {
      const int j = SwzComp(v.o.swz, i);
      if (!((last.mask >> j) & 1) || ((used >> j) & 1)) return false;
      used |= uint8_t(1 << j);
      mask |= uint8_t(1 << comps[i]);
      for (int s = 0; s < 3; ++s) sw[s][comps[i]] = SwzComp(last.swz[s], j);
    }
    if (last.op < kDot) {
      for (int s = 0; s < OpSources(last.op); ++s) last.swz[s] = MakeSwz(sw[s]);
    }
    last.dst = reg;
    last.mask = mask;
    return true;
  }

  void Store(const LValue& lv, Value v, const Node* at) {
    v = Convert(v, lv.t, at, true);
    if (Retarget(v, lv.reg, lv.comps, lv.t.dim)) return;
    Instr in;
    in.op = kMov;
    in.dst = lv.reg;
    in.src[0] = v.o.src;
    int sw[4] = {0, 0, 0, 0};
    uint8_t mask = 0;
    for (int i = 0; i < lv.t.dim; ++i) {
      mask |= uint8_t(1 << lv.comps[i]);
      sw[lv.comps[i]] = SwzComp(v.o.swz, i);
    }
    in.mask = mask;
    in.swz[0] = MakeSwz(sw);
    Emit(in, at);
  }
  static Value Read(const LValue& lv) {
    int sw[4];
    for (int i = 0; i < 4; ++i) sw[i] = lv.comps[std::min<int>(i, lv.t.dim - 1)];
    return Value{lv.t, Operand{lv.reg, MakeSwz(sw)}};
  }
  Value Copy(const Value& v, const Node* at) { return Op1(kMov, v.t, v, at); }

  LValue LValueOf(Node* n) {
    if (n->kind == N::kIdent) {
      const Var* v = Lookup(n->text);
      if (!v) Fail(n, "X3004", "undeclared identifier '" + std::string(n->text) + "'");
      if (v->is_const) Fail(n, "X3025", "l-value specifies const object");
      return LValue{v->reg, {0, 1, 2, 3}, v->t};
    }
    if (n->kind == N::kMember || n->kind == N::kIndex) {
      LValue base = LValueOf(n->kids[0]);
      int idx[4];
      int len = SwizzleOf(n, base.t.dim, idx);
      LValue r = base;
      r.t.dim = uint8_t(len);
      for (int i = 0; i < len; ++i) {
        for (int j = 0; j < i; ++j)
          if (idx[j] == idx[i])
            Fail(n, "X3018", "'" + std::string(n->text) + "': repeated component in an l-value");
        r.comps[i] = base.comps[idx[i]];
      }
      return r;
    }
    Fail(n, "X3025", "expression is not an l-value");
  }

  // Swizzle of a member access, or the constant index of v[i].
  int SwizzleOf(Node* n, int dim, int idx[4]) {
    if (n->kind == N::kIndex) {
      Node* i = n->kids[1];
      if (i->kind != N::kIntLit)
        Fail(n, "X3000", "only constant indices into vectors are supported");
      if (i->ival < 0 || i->ival >= dim) Fail(n, "X3504", "array index out of bounds");
      idx[0] = int(i->ival);
      return 1;
    }
    int len = ParseSwizzle(n->text, dim, idx);
    if (!len) Fail(n, "X3018", "invalid subscript '" + std::string(n->text) + "'");
    return len;
  }

  // --- expressions -------------------------------------------------------------------------
  Value Expr(Node* n) {
    switch (n->kind) {
      case N::kIntLit:
        return Const(float(n->ival), Base::kInt, n);
      case N::kFloatLit:
        return Const(float(n->fval), Base::kFloat, n);
      case N::kBoolLit:
        return Const(n->ival ? 1.f : 0.f, Base::kBool, n);
      case N::kIdent: {
        const Var* v = Lookup(n->text);
        if (!v) Fail(n, "X3004", "undeclared identifier '" + std::string(n->text) + "'");
        return Value{v->t, Operand{v->reg, kIdentitySwizzle}};
      }
      case N::kMember:
      case N::kIndex: {
        Value b = Expr(n->kids[0]);
        RequireValue(b, n);
        int idx[4];
        int len = SwizzleOf(n, b.t.dim, idx);
        int sw[4];
        for (int i = 0; i < 4; ++i) sw[i] = SwzComp(b.o.swz, idx[std::min(i, len - 1)]);
        return Value{Type{b.t.base, uint8_t(len)}, Operand{b.o.src, MakeSwz(sw)}};
      }
      case N::kUnary:
        return UnaryExpr(n);
      case N::kBinary: {
        Value a = Expr(n->kids[0]);
        Value b = Expr(n->kids[1]);
        return BinaryOp(n->text, a, b, n);
      }
      case N::kAssign: {
        LValue lv = LValueOf(n->kids[0]);
        Value v = Expr(n->kids[1]);
        if (n->text != "=") {
          std::string_view op = n->text.substr(0, n->text.size() - 1);
          v = BinaryOp(op, Read(lv), v, n);
        }
        Store(lv, v, n);
        return Read(lv);
      }
      case N::kPreInc:
      case N::kPreDec:
      case N::kPostInc:
      case N::kPostDec: {
        LValue lv = LValueOf(n->kids[0]);
        if (lv.t.base == Base::kBool) Fail(n, "X3020", "cannot increment or decrement a bool");
        bool post = n->kind == N::kPostInc || n->kind == N::kPostDec;
        bool inc = n->kind == N::kPreInc || n->kind == N::kPostInc;
        Value old = Read(lv);
        if (post) old = Copy(old, n);
        Value one = Resize(Const(1.f, lv.t.base, n), lv.t.dim);
        Value r = Op2(inc ? kAdd : kSub, lv.t, Read(lv), one, n);
        Store(lv, r, n);
        return post ? old : Read(lv);
      }
      case N::kTernary: {
        Value c = Expr(n->kids[0]);
        Value x = Expr(n->kids[1]);
        Value y = Expr(n->kids[2]);
        int dim = UnifyDims({&c, &x, &y}, n);
        Base base = (x.t.base == Base::kBool && y.t.base == Base::kBool)
                        ? Base::kBool
                        : ArithBase(x.t.base, y.t.base);
        Type rt{base, uint8_t(dim)};
        c = Convert(Resize(c, c.t.dim == 1 ? dim : c.t.dim), Type{Base::kBool, rt.dim}, n, true);
        x = Convert(x, rt, n, true);
        y = Convert(y, rt, n, true);
        return Op(kSel, rt, &c, &x, &y, n);
      }
      case N::kComma:
        Expr(n->kids[0]);
        return Expr(n->kids[1]);
      case N::kCast: {
        RequirePlain(n->type, n);
        Value v = Expr(n->kids[0]);
        RequireValue(v, n);
        return Convert(v, n->type, n, false);
      }
      case N::kCtor:
        RequirePlain(n->type, n);
        return Constructor(n);
      case N::kInitList:
        Fail(n, "X3000", "initializer lists are not supported by tx_1_0");
      case N::kCall:
        return Call(n);
      default:
        Fail(n, "X3000", "syntax error: unexpected statement");
    }
  }

  Value UnaryExpr(Node* n) {
    Value a = Expr(n->kids[0]);
    RequireValue(a, n);
    const std::string_view op = n->text;
    if (op == "!") {
      a = ToBase(a, Base::kBool, n);
      return Op1(kNot, a.t, a, n);
    }
    if (op == "~") {
      if (a.t.base == Base::kFloat) Fail(n, "X3082", "int or unsigned int type required");
      a = ToBase(a, Base::kInt, n);
      return Op1(kBnot, a.t, a, n);
    }
    if (a.t.base == Base::kBool) a = ToBase(a, Base::kInt, n);
    if (op == "+") return a;
    return Op1(kNeg, a.t, a, n);
  }

  Value BinaryOp(std::string_view op, Value a, Value b, const Node* n) {
    int dim = UnifyDims({&a, &b}, n);
    auto prep = [&](Base base) {
      a = Convert(Resize(a, a.t.dim == 1 ? dim : a.t.dim), Type{base, uint8_t(dim)}, n, false);
      b = Convert(Resize(b, b.t.dim == 1 ? dim : b.t.dim), Type{base, uint8_t(dim)}, n, false);
    };
    const Base arith = ArithBase(a.t.base, b.t.base);
    const Type at{arith, uint8_t(dim)};
    const Type bt{Base::kBool, uint8_t(dim)};
    if (op == "+" || op == "-" || op == "*" || op == "/" || op == "%") {
      prep(arith);
      uint8_t code = op == "+"   ? kAdd
                     : op == "-" ? kSub
                     : op == "*" ? kMul
                     : op == "/" ? (arith == Base::kInt ? kIdiv : kDiv)
                                 : (arith == Base::kInt ? kImod : kFmod);
      return Op2(code, at, a, b, n);
    }
    if (op == "<" || op == ">" || op == "<=" || op == ">=" || op == "==" || op == "!=") {
      prep(arith);
      if (op == "<") return Op2(kLt, bt, a, b, n);
      if (op == ">") return Op2(kLt, bt, b, a, n);
      if (op == "<=") return Op2(kLe, bt, a, b, n);
      if (op == ">=") return Op2(kLe, bt, b, a, n);
      return Op2(op == "==" ? kEq : kNe, bt, a, b, n);
    }
    if (op == "&&" || op == "||") {
      prep(Base::kBool);
      return Op2(op == "&&" ? kAnd : kOr, bt, a, b, n);
    }
    // Bitwise and shifts: integers only.
    if (a.t.base == Base::kFloat || b.t.base == Base::kFloat)
      Fail(n, "X3082", "int or unsigned int type required");
    prep(Base::kInt);
    uint8_t code = op == "&"    ? kBand
                   : op == "|"  ? kBor
                   : op == "^"  ? kBxor
                   : op == "<<" ? kShl
                                : kShr;
    return Op2(code, Type{Base::kInt, uint8_t(dim)}, a, b, n);
  }

  // Builds a vector from its arguments, into `dst` when given (a register no argument reads).
  Value Constructor(Node* n, const LValue* dst = nullptr) {
    const Type t = n->type;
    if (n->kids.size() == 1) {
      Value v = Expr(n->kids[0]);
      RequireValue(v, n->kids[0]);
      if (v.t.dim != 1 && v.t.dim != t.dim)
        Fail(n, "X3014", "incorrect number of arguments to numeric-type constructor");
      v = Convert(v, t, n, false);
      if (!dst) return v;
      Store(*dst, v, n);
      return Read(*dst);
    }
    // Each argument is evaluated and placed before the next, so the instruction computing it
    // can usually write its slot directly.
    Value r{t, Operand{dst ? dst->reg : Alloc(n), kIdentitySwizzle}, !dst};
    int k = 0;
    for (Node* arg : n->kids) {
      Value v = Expr(arg);
      RequireValue(v, arg);
      if (k + v.t.dim > t.dim)
        Fail(n, "X3014", "incorrect number of arguments to numeric-type constructor");
      v = ToBase(v, t.base, n);
      const uint8_t comps[4] = {uint8_t(k), uint8_t(k + 1), uint8_t(k + 2), uint8_t(k + 3)};
      if (!Retarget(v, r.o.src, comps, v.t.dim)) {
        Instr in;
        in.op = kMov;
        in.dst = r.o.src;
        in.src[0] = v.o.src;
        int sw[4] = {0, 0, 0, 0};
        uint8_t mask = 0;
        for (int i = 0; i < v.t.dim; ++i) {
          mask |= uint8_t(1 << (k + i));
          sw[k + i] = SwzComp(v.o.swz, i);
        }
        in.mask = mask;
        in.swz[0] = MakeSwz(sw);
        Emit(in, n);
      }
      k += v.t.dim;
    }
    if (k != t.dim) Fail(n, "X3014", "incorrect number of arguments to numeric-type constructor");
    return r;
  }

  // --- calls -------------------------------------------------------------------------------
  [[noreturn]] void NoMatch(const Node* n, size_t count, bool intrinsic) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "no matching %zu parameter %s", count,
                  intrinsic ? "intrinsic function" : "function");
    Fail(n, "X3013", "'" + std::string(n->text) + "': " + buf);
  }

  Value Call(Node* n) {
    // A user function of an intrinsic's name takes precedence over the intrinsic.
    auto it = funcs_.find(n->text);
    if (it != funcs_.end()) return Inline(*it->second, n);
    Value r;
    if (Intrinsic(n, &r)) return r;
    Fail(n, "X3004", "undeclared identifier '" + std::string(n->text) + "'");
  }

  bool Intrinsic(Node* n, Value* out) {
    struct Entry {
      const char* name;
      int args;
      int op;  // -1: handled specially
    };
    static const Entry table[] = {
        {"abs", 1, kAbs},     {"sin", 1, kSin},          {"cos", 1, kCos},
        {"tan", 1, kTan},     {"asin", 1, kAsin},        {"acos", 1, kAcos},
        {"atan", 1, kAtan},   {"atan2", 2, kAtan2},      {"sqrt", 1, kSqrt},
        {"rsqrt", 1, kRsqrt}, {"pow", 2, kPow},          {"exp", 1, kExp},
        {"exp2", 1, kExp2},   {"log", 1, kLog},          {"log2", 1, kLog2},
        {"floor", 1, kFloor}, {"ceil", 1, kCeil},        {"frac", 1, kFrac},
        {"fmod", 2, kFmod},   {"min", 2, kMin},          {"max", 2, kMax},
        {"clamp", 3, kClamp}, {"saturate", 1, kSat},     {"lerp", 3, kLerp},
        {"step", 2, kStep},   {"smoothstep", 3, kSstep}, {"sign", 1, kSign},
        {"trunc", 1, kTrunc}, {"round", 1, kRound},      {"mad", 3, kMad},
        {"length", 1, kLen},  {"distance", 2, kDist},    {"dot", 2, kDot},
        {"cross", 2, kCross}, {"normalize", 1, -1},      {"noise", 1, kNoise},
        {"any", 1, kAny},     {"all", 1, kAll},          {"degrees", 1, -2},
        {"radians", 1, -3},   {"log10", 1, -4}};
    const Entry* e = nullptr;
    for (const Entry& t : table)
      if (n->text == t.name) e = &t;
    if (!e) return false;
    if (Lookup(n->text)) Fail(n, "X3000", "'" + std::string(n->text) + "' is not a function");
    if (int(n->kids.size()) != e->args) NoMatch(n, n->kids.size(), true);
    std::vector<Value> a;
    for (Node* k : n->kids) {
      Value v = Expr(k);
      if (v.t.base == Base::kVoid) NoMatch(n, n->kids.size(), true);
      a.push_back(v);
    }
    const Type fs{Base::kFloat, 1};
    auto floats = [&](int dim) {
      for (Value& v : a)
        v = Convert(Resize(v, v.t.dim == 1 ? dim : v.t.dim), Type{Base::kFloat, uint8_t(dim)}, n,
                    false);
    };
    auto arith = [&](int dim) {
      Base b = Base::kInt;
      for (Value& v : a)
        if (v.t.base == Base::kFloat) b = Base::kFloat;
      for (Value& v : a)
        v = Convert(Resize(v, v.t.dim == 1 ? dim : v.t.dim), Type{b, uint8_t(dim)}, n, false);
      return b;
    };
    switch (e->op) {
      case kLen: {
        floats(a[0].t.dim);
        *out = Op(kLen, fs, &a[0], nullptr, nullptr, n, a[0].t.dim);
        return true;
      }
      case kDist:
      case kDot: {
        int dim = UnifyDims({&a[0], &a[1]}, n);
        Base b = e->op == kDist ? (floats(dim), Base::kFloat) : arith(dim);
        *out = Op(uint8_t(e->op), Type{b, 1}, &a[0], &a[1], nullptr, n, uint8_t(dim));
        return true;
      }
      case kCross: {
        for (const Value& v : a)
          if (v.t.dim != 1 && v.t.dim < 3) NoMatch(n, 2, true);
        floats(3);
        *out = Op(kCross, Type{Base::kFloat, 3}, &a[0], &a[1], nullptr, n);
        return true;
      }
      case kNoise: {
        if (a[0].t.dim > 3) NoMatch(n, 1, true);
        floats(a[0].t.dim);
        *out = Op(kNoise, fs, &a[0], nullptr, nullptr, n, a[0].t.dim);
        return true;
      }
      case kAny:
      case kAll: {
        *out = Op(uint8_t(e->op), Type{Base::kBool, 1}, &a[0], nullptr, nullptr, n, a[0].t.dim);
        return true;
      }
      case -1: {  // normalize(v) = v * rsqrt(dot(v, v))
        int dim = a[0].t.dim;
        floats(dim);
        Value d = Op(kDot, fs, &a[0], &a[0], nullptr, n, uint8_t(dim));
        Value rs = Resize(Op1(kRsqrt, fs, d, n), dim);
        *out = Op2(kMul, a[0].t, a[0], rs, n);
        return true;
      }
      case -2:
      case -3:
      case -4: {
        floats(a[0].t.dim);
        if (e->op == -4) {  // log10(x) = log2(x) * log10(2)
          Value l = Op1(kLog2, a[0].t, a[0], n);
          *out =
              Op2(kMul, a[0].t, l, Resize(Const(0.30102999566f, Base::kFloat, n), a[0].t.dim), n);
          return true;
        }
        float k = e->op == -2 ? 57.29577951f : 0.01745329252f;
        *out = Op2(kMul, a[0].t, a[0], Resize(Const(k, Base::kFloat, n), a[0].t.dim), n);
        return true;
      }
      default:
        break;
    }
    // Component-wise intrinsics.
    std::vector<const Value*> ptrs;
    for (const Value& v : a) ptrs.push_back(&v);
    int dim = e->args == 1   ? a[0].t.dim
              : e->args == 2 ? UnifyDims({&a[0], &a[1]}, n)
                             : UnifyDims({&a[0], &a[1], &a[2]}, n);
    Type rt;
    switch (e->op) {
      case kAbs:
      case kMin:
      case kMax:
      case kClamp:
      case kMad:
        rt = Type{arith(dim), uint8_t(dim)};
        break;
      case kSign:
        floats(dim);
        rt = Type{Base::kInt, uint8_t(dim)};
        break;
      default:
        floats(dim);
        rt = Type{Base::kFloat, uint8_t(dim)};
    }
    *out = Op(uint8_t(e->op), rt, &a[0], a.size() > 1 ? &a[1] : nullptr,
              a.size() > 2 ? &a[2] : nullptr, n);
    return true;
  }

  // Expands a helper function at the call site.
  Value Inline(const Function& f, Node* n) {
    if (!f.body)
      Fail(n, "X3000", "'" + std::string(f.name) + "': function is declared but not defined");
    if (n->kids.size() != f.params.size()) NoMatch(n, n->kids.size(), false);
    for (const Frame& fr : frames_)
      if (fr.f == &f)
        Fail(n, "X3500", "'" + std::string(f.name) + "': recursive functions are not allowed");
    if (++inlines_ > kMaxInlines) Fail(n, "X3507", "shader is too complex");
    if (frames_.size() >= 64) Fail(n, "X3507", "function calls are nested too deeply");
    const uint32_t mark = next_reg_;
    Frame fr;
    fr.f = &f;
    fr.loop_base = loops_.size();
    uint16_t ret_reg = 0;
    if (f.ret.base != Base::kVoid) {
      ret_reg = Alloc(n);
      fr.ret = LValue{ret_reg, {0, 1, 2, 3}, f.ret};
    }
    std::vector<Var> params;
    std::vector<std::pair<LValue, LValue>> copy_back;
    for (size_t i = 0; i < f.params.size(); ++i) {
      const Param& p = f.params[i];
      LValue pl{Alloc(n), {0, 1, 2, 3}, p.type};
      if (p.qual != Qual::kIn) copy_back.push_back({LValueOf(n->kids[i]), pl});
      if (p.qual == Qual::kOut) {
        Store(pl, Resize(Const(0, p.type.base, n), p.type.dim), n);
      } else {
        Value v = Expr(n->kids[i]);
        RequireValue(v, n->kids[i]);
        Store(pl, v, n->kids[i]);
      }
      params.push_back(Var{p.name, p.type, pl.reg, false});
    }
    Body(f, fr, params);
    for (auto& [dst, src] : copy_back) Store(dst, Read(src), n);
    next_reg_ = mark + (f.ret.base != Base::kVoid ? 1 : 0);
    if (f.ret.base == Base::kVoid) return Value{Type{Base::kVoid, 1}, Operand{}};
    return Value{f.ret, Operand{ret_reg, kIdentitySwizzle}};
  }

  // Generates a function body in a fresh scope holding only globals and the parameters.
  void Body(const Function& f, Frame& fr, const std::vector<Var>& params) {
    RequirePlain(f.ret, f.line, f.col);
    for (const Param& p : f.params) {
      RequirePlain(p.type, p.line, p.col);
      if (p.is_uniform)
        Fail(p.line, p.col, "X3000", "uniform parameters are not supported by tx_1_0");
    }
    if (f.ret.base != Base::kVoid && !AlwaysReturns(f.body))
      Fail(f.line, f.col, "X3080", "'" + std::string(f.name) + "': function must return a value");
    std::vector<std::vector<Var>> saved(scopes_.begin() + 1, scopes_.end());
    scopes_.resize(1);
    scopes_.emplace_back();
    for (const Var& v : params) {
      for (const Var& o : scopes_.back())
        if (o.name == v.name)
          Fail(f.line, f.col, "X3003", "'" + std::string(v.name) + "': redefinition");
      scopes_.back().push_back(v);
    }
    frames_.push_back(fr);
    Stmt(f.body);
    Frame done = std::move(frames_.back());
    frames_.pop_back();
    for (size_t at : done.returns) Patch(at, code_->size());
    scopes_.resize(1);
    scopes_.insert(scopes_.end(), saved.begin(), saved.end());
  }

  void DryRun(const Function& f) {
    std::vector<Instr> scratch;
    std::vector<Instr>* keep = code_;
    code_ = &scratch;
    const uint32_t mark = next_reg_;
    Frame fr;
    fr.f = &f;
    fr.loop_base = loops_.size();
    Node at;
    at.line = f.line;
    at.col = f.col;
    if (f.ret.base != Base::kVoid) fr.ret = LValue{Alloc(&at), {0, 1, 2, 3}, f.ret};
    std::vector<Var> params;
    for (const Param& p : f.params) params.push_back(Var{p.name, p.type, Alloc(&at), false});
    Body(f, fr, params);
    next_reg_ = mark;
    code_ = keep;
  }

  void CompileEntry(const Function& f) {
    Node at;
    at.line = f.line;
    at.col = f.col;
    const std::string name(f.name);
    bool color = IEquals(f.ret_semantic, "COLOR") || IEquals(f.ret_semantic, "COLOR0") ||
                 IEquals(f.ret_semantic, "SV_Target") || IEquals(f.ret_semantic, "SV_Target0");
    if (f.ret.base == Base::kVoid || (f.ret.dim != 4 && f.ret.dim != 1) || !color)
      Fail(&at, "X3503", "'" + name + "': entrypoint must return a float4 with the COLOR semantic");
    uint16_t result = Alloc(&at);
    prog_.result_reg = result;
    Frame fr;
    fr.f = &f;
    fr.ret = LValue{result, {0, 1, 2, 3}, Type{Base::kFloat, 4}};
    std::vector<Var> params;
    for (const Param& p : f.params) {
      Node pat;
      pat.line = p.line;
      pat.col = p.col;
      const std::string pn(p.name);
      if (p.qual != Qual::kIn)
        Fail(&pat, "X4502", "'" + pn + "': output parameters are not allowed");
      if (p.semantic.empty())
        Fail(&pat, "X3502", "'" + name + "': input parameter '" + pn + "' missing semantics");
      uint16_t reg = Alloc(&pat);
      uint32_t* slot = nullptr;
      if (IEquals(p.semantic, "POSITION") || IEquals(p.semantic, "POSITION0"))
        slot = &prog_.pos_reg;
      else if (IEquals(p.semantic, "PSIZE") || IEquals(p.semantic, "PSIZE0"))
        slot = &prog_.psize_reg;
      if (!slot) Fail(&pat, "X4502", "invalid input semantic '" + std::string(p.semantic) + "'");
      if (*slot != kNoRegister)
        Fail(&pat, "X4502", "duplicate input semantic '" + std::string(p.semantic) + "'");
      *slot = reg;
      params.push_back(Var{p.name, p.type, reg, false});
    }
    fr.loop_base = loops_.size();
    Body(f, fr, params);
  }

  // --- statements --------------------------------------------------------------------------
  void Scoped(Node* n) {
    scopes_.emplace_back();
    const uint32_t mark = next_reg_;
    Stmt(n);
    next_reg_ = mark;
    scopes_.pop_back();
  }

  Operand Condition(Node* e) {
    Value c = Expr(e);
    RequireValue(c, e);
    if (c.t.dim != 1) Fail(e, "X3019", "conditional expression must evaluate to a scalar");
    return c.o;
  }

  void Stmt(Node* n) {
    switch (n->kind) {
      case N::kBlock:
        scopes_.emplace_back();
        {
          const uint32_t mark = next_reg_;
          for (Node* k : n->kids) Stmt(k);
          next_reg_ = mark;
        }
        scopes_.pop_back();
        return;
      case N::kDeclGroup:
        for (Node* d : n->kids) {
          RequirePlain(d->type, d);
          if (d->is_const && d->kids.empty())
            Fail(d, "X3012", "'" + std::string(d->text) + "': missing initial value");
          uint16_t reg = Alloc(d);
          const uint32_t mark = next_reg_;
          LValue lv{reg, {0, 1, 2, 3}, d->type};
          if (!d->kids.empty())
            Store(lv, Expr(d->kids[0]), d);
          else
            Store(lv, Resize(Const(0, d->type.base, d), d->type.dim), d);
          next_reg_ = mark;
          Declare(Var{d->text, d->type, reg, d->is_const}, d);
        }
        return;
      case N::kExprStmt: {
        const uint32_t mark = next_reg_;
        Expr(n->kids[0]);
        next_reg_ = mark;
        return;
      }
      case N::kIf: {
        const uint32_t mark = next_reg_;
        Operand c = Condition(n->kids[0]);
        size_t jz = EmitJump(kJz, &c, n);
        next_reg_ = mark;
        Scoped(n->kids[1]);
        if (n->kids.size() == 3) {
          size_t jmp = EmitJump(kJmp, nullptr, n);
          Patch(jz, code_->size());
          Scoped(n->kids[2]);
          Patch(jmp, code_->size());
        } else {
          Patch(jz, code_->size());
        }
        return;
      }
      case N::kWhile: {
        const size_t top = code_->size();
        const uint32_t mark = next_reg_;
        Operand c = Condition(n->kids[0]);
        size_t jz = EmitJump(kJz, &c, n);
        next_reg_ = mark;
        loops_.emplace_back();
        Scoped(n->kids[1]);
        Patch(EmitJump(kJmp, nullptr, n), top);
        FinishLoop(top, code_->size());
        Patch(jz, code_->size());
        return;
      }
      case N::kDoWhile: {
        const size_t top = code_->size();
        loops_.emplace_back();
        Scoped(n->kids[0]);
        const size_t cont = code_->size();
        const uint32_t mark = next_reg_;
        Operand c = Condition(n->kids[1]);
        Patch(EmitJump(kJnz, &c, n), top);
        next_reg_ = mark;
        FinishLoop(cont, code_->size());
        return;
      }
      case N::kFor: {
        scopes_.emplace_back();
        const uint32_t outer = next_reg_;
        Stmt(n->kids[0]);
        const size_t top = code_->size();
        size_t jz = SIZE_MAX;
        if (n->kids[1]) {
          const uint32_t mark = next_reg_;
          Operand c = Condition(n->kids[1]);
          jz = EmitJump(kJz, &c, n);
          next_reg_ = mark;
        }
        loops_.emplace_back();
        Scoped(n->kids[3]);
        const size_t cont = code_->size();
        if (n->kids[2]) {
          const uint32_t mark = next_reg_;
          Expr(n->kids[2]);
          next_reg_ = mark;
        }
        Patch(EmitJump(kJmp, nullptr, n), top);
        FinishLoop(cont, code_->size());
        if (jz != SIZE_MAX) Patch(jz, code_->size());
        next_reg_ = outer;
        scopes_.pop_back();
        return;
      }
      case N::kBreak:
      case N::kContinue: {
        if (loops_.size() <= frames_.back().loop_base)
          Fail(n, "X3000",
               std::string(n->kind == N::kBreak ? "break" : "continue") + " must be inside a loop");
        size_t j = EmitJump(kJmp, nullptr, n);
        (n->kind == N::kBreak ? loops_.back().breaks : loops_.back().continues).push_back(j);
        return;
      }
      case N::kReturn: {
        const Function* f = frames_.back().f;
        const bool is_void = f->ret.base == Base::kVoid;
        if (is_void && !n->kids.empty()) Fail(n, "X3079", "void functions cannot return a value");
        if (!is_void && n->kids.empty()) Fail(n, "X3080", "function must return a value");
        if (!is_void) {
          const uint32_t mark = next_reg_;
          Node* e = n->kids[0];
          const LValue ret = frames_.back().ret;
          if (e->kind == N::kCtor && e->type == ret.t && e->kids.size() > 1) {
            Constructor(e, &ret);  // the return register is never read by the body
          } else {
            Value v = Expr(e);  // may expand calls, which grows frames_
            Store(ret, v, n);
          }
          next_reg_ = mark;
        }
        // A return that ends the body needs no jump.
        const Node* last = f->body->kids.empty() ? nullptr : f->body->kids.back();
        if (last != n) frames_.back().returns.push_back(EmitJump(kJmp, nullptr, n));
        return;
      }
      case N::kEmpty:
        return;
      case N::kDiscard:
        Fail(n, "X3000", "discard is not allowed in a texture shader");
      default: {
        const uint32_t mark = next_reg_;
        Expr(n);
        next_reg_ = mark;
      }
    }
  }

  void FinishLoop(size_t cont, size_t end) {
    Loop l = std::move(loops_.back());
    loops_.pop_back();
    for (size_t b : l.breaks) Patch(b, end);
    for (size_t c : l.continues) Patch(c, cont);
  }
};

std::string Format(const CompileError& e) {
  char head[64] = "";
  if (e.line > 0) std::snprintf(head, sizeof head, "memory(%d,%d): ", e.line, e.col);
  return std::string(head) + "error " + e.code + ": " + e.text + "\n";
}

}  // namespace

CompileOutput Compile(std::string_view src, std::string_view entry, std::string_view profile,
                      const std::vector<MacroDefinition>& defines, uint32_t flags) {
  CompileOutput out;
  std::string warnings;
  try {
    sm::Target target;
    const bool tx = profile == "tx_1_0";
    if (!tx && !sm::TargetOf(profile, &target))
      throw CompileError{0, 0, "X3523",
                         "'" + std::string(profile.substr(0, 64)) +
                             "': invalid target profile; tx_1_0, vs_2_0, vs_3_0, ps_2_0 and "
                             "ps_3_0 are supported"};
    if (src.size() > kMaxSourceBytes) throw CompileError{1, 1, "X3000", "source is too large"};
    std::vector<Define> macros;
    for (const MacroDefinition& d : defines) macros.push_back(Define{d.name, d.body});
    std::vector<Token> toks = Lex(src, macros);
    Unit unit;
    Parse(toks, &unit);
    if (tx) {
      Gen gen(unit, warnings);
      Program p = gen.Run(entry.substr(0, 256));
      out.code = Encode(p);
    } else {
      sm::Program p;
      sm::Generate(unit, entry.substr(0, 256), target, flags, warnings, &p);
      out.code = sm::Finish(p);
    }
    out.ok = true;
    out.messages = warnings;
  } catch (const CompileError& e) {
    out.ok = false;
    out.code.clear();
    out.messages = warnings + Format(e);
  } catch (const std::bad_alloc&) {
    out.ok = false;
    out.code.clear();
    out.messages = "error X3507: out of memory\n";
  }
  return out;
}

}  // namespace vexa::shader
