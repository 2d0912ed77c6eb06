// An effect from its source: the HLSL front end parses it with the effect extras kept; the global
// parameters become the value store, sampler_state blocks and passes become state assignments,
// and every shader a pass compiles is compiled once, its constant table telling which registers
// each parameter reaches. Also D3DXCreateEffect and D3DXCreateEffectFromFileA.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <tuple>

#include "d3dx9/effect.h"
#include "d3dx9/shader_ast.h"
#include "d3dx9/shader_compiler.h"
#include "d3dx9/shader_lexer.h"
#include "d3dx9.h"

namespace vexa::fx {

namespace {

using shader::Base;
using shader::CompileError;
using shader::N;
using shader::Node;
using shader::Type;

constexpr size_t kMaxParams = size_t(1) << 16;  // parameter nodes, members and elements included
constexpr size_t kMaxWords = size_t(1) << 22;   // the value store
constexpr size_t kMaxShaders = 256;             // distinct compiled entry points
constexpr size_t kMaxFolded = size_t(1) << 16;  // scalars of one literal value

std::string Quote(std::string_view s) {
  return "'" + std::string(s.substr(0, 256)) + "'";
}

[[noreturn]] void FailAt(int line, int col, const char* code, const std::string& text) {
  throw CompileError{line, col, code, text};
}
[[noreturn]] void Fail(const Node* n, const char* code, const std::string& text) {
  FailAt(n ? n->line : 0, n ? n->col : 0, code, text);
}

// "memory(L,C): " becomes "origin(L,C): " at the start of each line.
std::string Renamed(const std::string& messages, const std::string& origin) {
  if (origin == "memory") return messages;
  std::string out;
  size_t at = 0;
  while (at < messages.size()) {
    size_t end = messages.find('\n', at);
    end = end == std::string::npos ? messages.size() : end + 1;
    std::string_view line(messages.data() + at, end - at);
    if (line.substr(0, 7) == "memory(") {
      out += origin;
      out += line.substr(6);
    } else {
      out += line;
    }
    at = end;
  }
  return out;
}

std::string Format(const CompileError& e) {
  char head[64] = "";
  if (e.line > 0) std::snprintf(head, sizeof head, "memory(%d,%d): ", e.line, e.col);
  return std::string(head) + "error " + e.code + ": " + e.text + "\n";
}

Scalar ScalarOf(Base b) {
  return b == Base::kBool ? Scalar::kBool : b == Base::kInt ? Scalar::kInt : Scalar::kFloat;
}

double Converted(double v, Base b) {
  if (b == Base::kBool) return v != 0 ? 1 : 0;
  if (b == Base::kInt) return std::isfinite(v) ? std::trunc(v) : 0;
  return double(float(v));
}

bool OpOf(std::string_view s, Expr::Op* op) {
  static const std::pair<const char*, Expr::Op> ops[] = {
      {"+", Expr::kAdd},  {"-", Expr::kSub}, {"*", Expr::kMul}, {"/", Expr::kDiv},
      {"%", Expr::kMod},  {"|", Expr::kOr},  {"&", Expr::kAnd}, {"^", Expr::kXor},
      {"<<", Expr::kShl}, {">>", Expr::kShr}};
  for (auto& [name, o] : ops)
    if (s == name) return *op = o, true;
  return false;
}

size_t Components(const Type& t) {
  return size_t(t.dim) * (t.rows ? t.rows : 1);
}

}  // namespace

class Builder {
 public:
  explicit Builder(Effect* fx) : fx_(*fx) {}

  std::string warnings;
  std::string failure;  // compiler messages of a shader that did not compile

  void Run() {
    std::vector<shader::Define> defines;
    for (const auto& m : fx_.macros_) {
      defines.push_back(shader::Define{m.first, m.second});
      macros_.push_back(shader::MacroDefinition{m.first, m.second});
    }
    if (fx_.source_.size() > shader::kMaxSourceBytes) FailAt(1, 1, "X3000", "source is too large");
    std::vector<shader::Token> toks = shader::Lex(fx_.source_, defines);
    shader::Parse(toks, &unit_, /*effect=*/true);
    Globals();
    Techniques();
    std::set<std::string_view> seen;  // overloads are one function
    for (const shader::Function& f : unit_.funcs) {
      if (!f.body || !seen.insert(f.name).second) continue;
      auto g = std::make_unique<Function>();
      g->name = std::string(f.name);
      fx_.functions_.push_back(std::move(g));
    }
    for (const auto& p : fx_.params_) fx_.Register(p.get());
    for (const auto& t : fx_.techniques_) {
      fx_.handles_[t.get()] = Effect::HandleKind::kTechnique;
      for (const auto& a : t->annotations) fx_.Register(a.get());
      for (const auto& p : t->passes) {
        fx_.handles_[p.get()] = Effect::HandleKind::kPass;
        for (const auto& a : p->annotations) fx_.Register(a.get());
      }
    }
    for (const auto& f : fx_.functions_) fx_.handles_[f.get()] = Effect::HandleKind::kFunction;
  }

 private:
  Effect& fx_;
  shader::Unit unit_;
  std::vector<shader::MacroDefinition> macros_;
  std::map<std::string_view, Param*> names_;  // top-level parameters
  std::map<std::tuple<bool, std::string, std::string>, int> shader_index_;
  size_t made_ = 0;

  // --- parameters ------------------------------------------------------------------------------

  void Globals() {
    std::vector<std::pair<Param*, const shader::EffectGlobal*>> samplers, shaders;
    for (const shader::EffectGlobal& g : unit_.effect_globals) {
      const Node* d = g.decl;
      if (d->is_static) continue;  // statics live inside the shaders only
      if (names_.count(d->text)) Fail(d, "X3003", Quote(d->text) + ": redefinition");
      const uint8_t packing = d->packing ? d->packing : DefaultPacking();
      std::unique_ptr<Param> p;
      if (g.object == shader::EffectGlobal::kString) {
        p = String(d->text, g.str, d);
        p->semantic = std::string(d->semantic);
      } else if (g.object != shader::EffectGlobal::kNone) {
        p = ShaderParam(d->text, d->semantic, d->type.array,
                        g.object == shader::EffectGlobal::kVertexShader, nullptr, d);
        const size_t n = p->items.empty() ? 1 : p->items.size();
        if (!g.shaders.empty() && g.shaders.size() != n)
          Fail(d, "X3017",
               Quote(d->text) + " takes " + std::to_string(n) + " shaders, not " +
                   std::to_string(g.shaders.size()));
        if (!g.shaders.empty()) shaders.emplace_back(p.get(), &g);
      } else {
        p = Make(d->text, d->semantic, d->type, packing, g.type_name, nullptr, d);
      }
      p->top = int(fx_.params_.size());
      p->annotations = Annotations(g.annotations);
      if (!d->kids.empty() && d->kids[0]) {
        if (!p->Numeric())
          Fail(d->kids[0], "X3000",
               Quote(d->text) + ": only numeric parameters take initial values");
        std::vector<double> v;
        Fold(d->kids[0], &v);
        Initialise(p.get(), v, d->kids[0]);
      }
      if (g.has_sampler_state) samplers.emplace_back(p.get(), &g);
      names_[d->text] = p.get();
      fx_.params_.push_back(std::move(p));
    }
    // Shaders are compiled once every parameter exists, for their constant tables to name them.
    for (auto& [p, g] : shaders) {
      for (size_t i = 0; i < g->shaders.size(); ++i) {
        const shader::EffectValue& v = g->shaders[i];
        const Param* leaf = p->items.empty() ? p : p->items[i].get();
        ShaderValue sv;
        if (!IsNull(v)) {
          if (v.kind != shader::EffectValue::kCompile)
            FailAt(v.line, v.col, "X3000",
                   Quote(p->name) + " takes 'compile <profile> <entry>(...)' or NULL");
          sv = CompileShader(v, p->type == D3DXPT_VERTEXSHADER);
        }
        fx_.shader_values_[size_t(leaf->shader)] = std::move(sv);
      }
    }
    // sampler_state blocks may name textures declared after them.
    for (auto& [p, g] : samplers) {
      std::vector<Assignment>& block = fx_.samplers_[size_t(p->sampler)];
      for (const shader::StateAssignment& st : g->states) {
        StateName sn;
        if (!FindSamplerState(st.name, &sn))
          FailAt(st.line, st.col, "X3000", Quote(st.name) + ": unknown sampler state");
        if (st.index >= 0)
          FailAt(st.line, st.col, "X3000", Quote(st.name) + ": sampler states take no index");
        Assignment a;
        a.kind = sn.kind;
        a.state = sn.state;
        a.value_kind = sn.value;
        if (a.kind == Assignment::kTexture) {
          a.object = ObjectRef(st, /*texture=*/true, &a.reads);
        } else {
          Value(st, &a);
        }
        block.push_back(std::move(a));
      }
    }
  }

  std::unique_ptr<Param> String(std::string_view name, std::string_view literal, const Node* at) {
    if (++made_ > kMaxParams) Fail(at, "X3000", "the effect has too many parameters");
    auto p = std::make_unique<Param>();
    p->name = std::string(name);
    p->root = p.get();
    p->cls = D3DXPC_OBJECT;
    p->type = D3DXPT_STRING;
    if (literal.size() >= 2) p->str = std::string(literal.substr(1, literal.size() - 2));
    p->bytes = sizeof(LPCSTR);
    return p;
  }

  std::unique_ptr<Param> ShaderParam(std::string_view name, std::string_view semantic,
                                     UINT elements, bool vertex, Param* root, const Node* at) {
    if (++made_ > kMaxParams) Fail(at, "X3000", "the effect has too many parameters");
    auto p = std::make_unique<Param>();
    p->name = std::string(name);
    p->semantic = std::string(semantic);
    p->root = root ? root : p.get();
    p->cls = D3DXPC_OBJECT;
    p->type = vertex ? D3DXPT_VERTEXSHADER : D3DXPT_PIXELSHADER;
    p->elements = elements;
    for (UINT i = 0; i < elements; ++i) {
      p->items.push_back(ShaderParam(name, semantic, 0, vertex, p->root, at));
      p->bytes += p->items.back()->bytes;
    }
    if (!elements) {
      p->shader = int(fx_.shader_values_.size());
      fx_.shader_values_.emplace_back();
      p->bytes = sizeof(void*);
    }
    return p;
  }

  uint8_t DefaultPacking() const {
    return (fx_.flags_ & D3DXSHADER_PACKMATRIX_ROWMAJOR) ? shader::kRowMajor : shader::kColumnMajor;
  }

  std::unique_ptr<Param> Make(std::string_view name, std::string_view semantic, const Type& t,
                              uint8_t packing, std::string_view type_name, Param* root,
                              const Node* at) {
    if (++made_ > kMaxParams) Fail(at, "X3000", "the effect has too many parameters");
    auto p = std::make_unique<Param>();
    p->name = std::string(name);
    p->semantic = std::string(semantic);
    p->root = root ? root : p.get();
    const Type e = t.Element();
    switch (e.base) {
      case Base::kBool:
      case Base::kInt:
      case Base::kFloat:
        p->type = e.base == Base::kBool  ? D3DXPT_BOOL
                  : e.base == Base::kInt ? D3DXPT_INT
                                         : D3DXPT_FLOAT;
        p->scalar = ScalarOf(e.base);
        p->rows = e.rows ? e.rows : 1;
        p->columns = e.dim;
        p->cls = e.rows
                     ? (packing == shader::kRowMajor ? D3DXPC_MATRIX_ROWS : D3DXPC_MATRIX_COLUMNS)
                 : e.dim == 1 ? D3DXPC_SCALAR
                              : D3DXPC_VECTOR;
        break;
      case Base::kStruct:
        p->cls = D3DXPC_STRUCT;
        p->type = D3DXPT_VOID;
        break;
      case Base::kTexture: {
        p->cls = D3DXPC_OBJECT;
        p->type = type_name == "texture1D"     ? D3DXPT_TEXTURE1D
                  : type_name == "texture2D"   ? D3DXPT_TEXTURE2D
                  : type_name == "texture3D"   ? D3DXPT_TEXTURE3D
                  : type_name == "textureCUBE" ? D3DXPT_TEXTURECUBE
                                               : D3DXPT_TEXTURE;
        break;
      }
      case Base::kSampler: {
        static const D3DXPARAMETER_TYPE kinds[] = {D3DXPT_SAMPLER, D3DXPT_SAMPLER1D,
                                                   D3DXPT_SAMPLER2D, D3DXPT_SAMPLER3D,
                                                   D3DXPT_SAMPLERCUBE};
        p->cls = D3DXPC_OBJECT;
        p->type = kinds[e.sampler < 5 ? e.sampler : 0];
        break;
      }
      default:
        Fail(at, "X3000", Quote(name) + ": parameters cannot be void");
    }
    p->offset = fx_.values_.size();
    if (t.IsArray()) {
      p->elements = t.array;
      for (UINT i = 0; i < p->elements; ++i) {
        p->items.push_back(Make(name, semantic, e, packing, type_name, p->root, at));
        p->words += p->items.back()->words;
        p->bytes += p->items.back()->bytes;
      }
      p->texture = p->items[0]->texture;
      p->sampler = p->items[0]->sampler;
      if (p->cls == D3DXPC_STRUCT) p->columns = UINT(p->items[0]->words);
      return p;
    }
    if (e.base == Base::kStruct) {
      if (e.strct < 0 || size_t(e.strct) >= unit_.structs.size())
        Fail(at, "X3000", Quote(name) + ": unknown structure");
      for (const shader::Member& m : unit_.structs[size_t(e.strct)].members) {
        const Base mb = m.type.Element().base;
        if (mb == Base::kTexture || mb == Base::kSampler)
          Fail(at, "X3000", Quote(name) + ": structures of textures or samplers are not supported");
        p->members.push_back(
            Make(m.name, m.semantic, m.type, m.packing ? m.packing : packing, "", p->root, at));
        p->words += p->members.back()->words;
        p->bytes += p->members.back()->bytes;
      }
      p->columns = UINT(p->words);
      return p;
    }
    if (p->Numeric()) {
      p->words = size_t(p->rows) * p->columns;
      p->bytes = UINT(p->words * 4);
      if (fx_.values_.size() + p->words > kMaxWords)
        Fail(at, "X3000", "the effect's parameters are too large");
      fx_.values_.resize(fx_.values_.size() + p->words);
    } else if (p->IsTexture()) {
      p->texture = int(fx_.textures_.size());
      fx_.textures_.push_back(nullptr);
      p->bytes = sizeof(void*);
    } else {
      p->sampler = int(fx_.samplers_.size());
      fx_.samplers_.emplace_back();
      p->bytes = sizeof(void*);
    }
    return p;
  }

  std::vector<std::unique_ptr<Param>> Annotations(const std::vector<shader::Annotation>& list) {
    std::vector<std::unique_ptr<Param>> out;
    for (const shader::Annotation& a : list) {
      if (++made_ > kMaxParams)
        FailAt(a.line, a.col, "X3000", "the effect has too many annotations");
      std::unique_ptr<Param> p;
      if (a.is_string) {
        p = std::make_unique<Param>();
        p->name = std::string(a.name);
        p->root = p.get();
        p->cls = D3DXPC_OBJECT;
        p->type = D3DXPT_STRING;
        std::string_view s = a.str;
        if (s.size() >= 2) s = s.substr(1, s.size() - 2);
        p->str = std::string(s);
        p->bytes = sizeof(LPCSTR);
      } else {
        --made_;
        p = Make(a.name, "", a.type, DefaultPacking(), "", nullptr, a.value);
        std::vector<double> v;
        Fold(a.value, &v);
        Initialise(p.get(), v, a.value);
      }
      p->flags |= D3DX_PARAMETER_ANNOTATION;
      out.push_back(std::move(p));
    }
    return out;
  }

  // Stores literal numbers into a parameter: one for every scalar, or one for all of them.
  void Initialise(Param* p, const std::vector<double>& v, const Node* at) {
    if (v.size() != p->words && v.size() != 1)
      Fail(at, "X3017",
           Quote(p->name) + ": the initial value has " + std::to_string(v.size()) +
               " scalars where " + std::to_string(p->words) + " are needed");
    size_t i = 0;
    ForEachWord(*p, [&](size_t w, Scalar s) {
      fx_.values_[w] = DoubleToWord(v[v.size() == 1 ? 0 : i], s);
      ++i;
    });
  }

  // A literal value as its scalars: numbers, constructors, initialiser lists, casts, arithmetic.
  void Fold(const Node* n, std::vector<double>* out) {
    if (!n) FailAt(0, 0, "X3000", "syntax error: missing value");
    switch (n->kind) {
      case N::kIntLit:
      case N::kBoolLit:
        out->push_back(double(n->ival));
        break;
      case N::kFloatLit:
        out->push_back(n->fval);
        break;
      case N::kUnary: {
        std::vector<double> v;
        Fold(n->kids[0], &v);
        for (double x : v)
          out->push_back(n->text == "-"   ? -x
                         : n->text == "!" ? double(x == 0)
                         : n->text == "~" ? double(~ToInteger(x))
                                          : x);
        break;
      }
      case N::kBinary: {
        Expr::Op op;
        if (!OpOf(n->text, &op)) Fail(n, "X3000", "expected a literal value");
        std::vector<double> a, b;
        Fold(n->kids[0], &a);
        Fold(n->kids[1], &b);
        if (a.size() != b.size() && a.size() != 1 && b.size() != 1)
          Fail(n, "X3020", "operands of different sizes");
        const size_t size = a.size() > b.size() ? a.size() : b.size();
        for (size_t i = 0; i < size; ++i)
          out->push_back(Arithmetic(op, a[a.size() == 1 ? 0 : i], b[b.size() == 1 ? 0 : i]));
        break;
      }
      case N::kCtor:
      case N::kCast: {
        std::vector<double> v;
        for (const Node* k : n->kids) Fold(k, &v);
        const size_t want = Components(n->type);
        if (n->type.IsArray() || !n->type.IsNumeric() ||
            (v.size() != want && v.size() != 1 && !(n->kind == N::kCast && v.size() > want)))
          Fail(n, "X3014", "incorrect number of arguments to " + shader::TypeName(n->type));
        for (size_t i = 0; i < want; ++i)
          out->push_back(Converted(v[v.size() == 1 ? 0 : i], n->type.base));
        break;
      }
      case N::kInitList:
        for (const Node* k : n->kids) Fold(k, out);
        break;
      default:
        Fail(n, "X3000", "expected a literal value");
    }
    if (out->size() > kMaxFolded) Fail(n, "X3000", "the value is too large");
  }

  // --- state values ------------------------------------------------------------------------------

  Param* Global(std::string_view name) const {
    auto it = names_.find(name);
    return it == names_.end() ? nullptr : it->second;
  }

  // The parameter an expression names: a, a.member, a[constant], and their combinations.
  Param* ParamOf(const Node* n) {
    if (n->kind == N::kIdent) return Global(n->text);
    if (n->kind == N::kMember) {
      Param* base = ParamOf(n->kids[0]);
      if (!base || base->cls != D3DXPC_STRUCT || !base->items.empty()) return nullptr;
      for (const auto& m : base->members)
        if (m->name == n->text) return m.get();
      Fail(n, "X3018", "invalid subscript " + Quote(n->text));
    }
    if (n->kind == N::kIndex) {
      Param* base = ParamOf(n->kids[0]);
      if (!base || base->items.empty()) return nullptr;
      std::vector<double> v;
      Fold(n->kids[1], &v);
      if (v.size() != 1 || v[0] < 0 || v[0] >= double(base->items.size()) ||
          v[0] != std::trunc(v[0]))
        Fail(n, "X3504", "array index out of bounds");
      return base->items[size_t(v[0])].get();
    }
    return nullptr;
  }

  // A state's value as an expression over literals, the state's keywords and parameters.
  Expr Build(const Node* n, ValueKind kind, std::vector<const Param*>* reads) {
    Expr e;
    switch (n->kind) {
      case N::kIntLit:
      case N::kBoolLit:
        e.value = {double(n->ival)};
        return e;
      case N::kFloatLit:
        e.value = {n->fval};
        return e;
      case N::kIdent: {
        DWORD word;
        if (FindKeyword(kind, n->text, &word)) {
          e.value = {double(word)};
          return e;
        }
        [[fallthrough]];
      }
      case N::kMember:
      case N::kIndex: {
        const Param* p = ParamOf(n);
        if (!p) {
          if (n->kind == N::kIdent) Fail(n, "X3004", "undeclared identifier " + Quote(n->text));
          Fail(n, "X3000", "only parameters can be indexed or have members in a state");
        }
        if (!p->Numeric() || p->cls == D3DXPC_STRUCT)
          Fail(n, "X3000", Quote(p->name) + " is not a number, vector or matrix");
        e.op = Expr::kParam;
        e.param = p;
        e.size = p->words;
        reads->push_back(p->root);
        return e;
      }
      case N::kUnary: {
        Expr k = Build(n->kids[0], kind, reads);
        if (n->text == "+") return k;
        e.op = n->text == "-" ? Expr::kNeg : n->text == "!" ? Expr::kNot : Expr::kBitNot;
        e.size = k.size;
        e.kids.push_back(std::move(k));
        return e;
      }
      case N::kBinary: {
        Expr::Op op;
        if (!OpOf(n->text, &op))
          Fail(n, "X3000", "operator " + Quote(n->text) + " is not supported in a state");
        Expr a = Build(n->kids[0], kind, reads), b = Build(n->kids[1], kind, reads);
        if (a.size != b.size && a.size != 1 && b.size != 1)
          Fail(n, "X3020", "operands of different sizes");
        e.op = op;
        e.size = a.size > b.size ? a.size : b.size;
        e.kids.push_back(std::move(a));
        e.kids.push_back(std::move(b));
        return e;
      }
      case N::kCtor:
      case N::kCast:
      case N::kInitList: {
        Expr list;
        list.op = Expr::kList;
        list.size = 0;
        for (const Node* k : n->kids) {
          list.kids.push_back(Build(k, kind, reads));
          list.size += list.kids.back().size;
        }
        if (n->kind == N::kInitList) return list;
        const size_t want = Components(n->type);
        if (n->type.IsArray() || !n->type.IsNumeric() || (list.size != want && list.size != 1))
          Fail(n, "X3014", "incorrect number of arguments to " + shader::TypeName(n->type));
        e.op = Expr::kCast;
        e.cast = ScalarOf(n->type.base);
        e.size = want;
        e.kids.push_back(std::move(list));
        return e;
      }
      default:
        Fail(n, "X3000", "this expression is not supported in a state");
    }
  }

  // Folds a value without parameters to its scalars now; checks the size the state takes.
  void Value(const shader::StateAssignment& st, Assignment* a) {
    const shader::EffectValue& v = st.value;
    if (v.kind == shader::EffectValue::kCompile)
      FailAt(v.line, v.col, "X3000", Quote(st.name) + " does not take a shader");
    if (v.kind == shader::EffectValue::kRef) {
      const Param* p = Global(v.name);
      if (!p || !p->Numeric() || p->cls == D3DXPC_STRUCT)
        FailAt(v.line, v.col, "X3004", "undeclared identifier " + Quote(v.name));
      a->expr.op = Expr::kParam;
      a->expr.param = p;
      a->expr.size = p->words;
      a->reads.push_back(p);
    } else {
      a->expr = Build(v.expr, a->value_kind, &a->reads);
    }
    const size_t size = a->expr.size;
    const bool numbers = a->kind == Assignment::kTransform || a->kind == Assignment::kLight ||
                         a->kind == Assignment::kMaterial;
    if (a->kind == Assignment::kTransform) {
      if (size != 16)
        FailAt(v.line, v.col, "X3017", Quote(st.name) + " takes a 4x4 matrix (16 values)");
    } else if (numbers) {
      if (!MemberTakes(a->kind, a->state, size))
        FailAt(v.line, v.col, "X3017",
               Quote(st.name) + " does not take " + std::to_string(size) + " values");
    } else if (size != 1 && !(a->value_kind == ValueKind::kColor && (size == 3 || size == 4))) {
      FailAt(v.line, v.col, "X3017",
             Quote(st.name) + " takes one value, not " + std::to_string(size));
    }
    a->dynamic = !a->reads.empty();
    if (!a->dynamic && !numbers) {
      std::vector<double> numbers(size);
      for (size_t i = 0; i < size; ++i) numbers[i] = Evaluate(a->expr, i, fx_.values_);
      StateDword(a->value_kind, numbers, &a->constant);
    }
  }

  static bool IsNull(const shader::EffectValue& v) {
    if (v.kind != shader::EffectValue::kExpr || !v.expr) return false;
    const Node* n = v.expr;
    return (n->kind == N::kIdent && (n->text == "NULL" || n->text == "null")) ||
           (n->kind == N::kIntLit && n->ival == 0);
  }

  // A texture or sampler parameter named by <name>, (name), name or name[i]; null for NULL
  // (textures only).
  const Param* ObjectRef(const shader::StateAssignment& st, bool texture,
                         std::vector<const Param*>* reads) {
    const shader::EffectValue& v = st.value;
    const Param* p = nullptr;
    if (texture && IsNull(v)) return nullptr;
    if (v.kind == shader::EffectValue::kRef)
      p = Global(v.name);
    else if (v.kind == shader::EffectValue::kExpr && v.expr &&
             (v.expr->kind == N::kIdent || v.expr->kind == N::kIndex))
      p = ParamOf(v.expr);
    const char* what = texture ? "a texture" : "a sampler";
    if (!p || (texture ? !p->IsTexture() : !p->IsSampler()) || !p->items.empty())
      FailAt(v.line, v.col, "X3000", Quote(st.name) + " takes " + std::string(what) + " parameter");
    reads->push_back(p->root);
    return p;
  }

  // --- techniques --------------------------------------------------------------------------------

  void Techniques() {
    for (const shader::TechniqueDef& td : unit_.techniques) {
      auto t = std::make_unique<Technique>();
      t->name = std::string(td.name);
      t->annotations = Annotations(td.annotations);
      for (const shader::PassDef& pd : td.passes) {
        auto pass = std::make_unique<Pass>();
        pass->name = std::string(pd.name);
        pass->annotations = Annotations(pd.annotations);
        for (const shader::StateAssignment& st : pd.states) pass->states.push_back(State(st));
        t->passes.push_back(std::move(pass));
      }
      Used(t.get());
      fx_.techniques_.push_back(std::move(t));
    }
  }

  Assignment State(const shader::StateAssignment& st) {
    StateName sn;
    if (!FindPassState(st.name, &sn))
      FailAt(st.line, st.col, "X3000", Quote(st.name) + ": unknown state");
    Assignment a;
    a.kind = sn.kind;
    a.state = sn.state;
    a.value_kind = sn.value;
    const int index = st.index < 0 ? 0 : st.index;
    int limit = 0;  // the largest index the state takes
    switch (a.kind) {
      case Assignment::kStage:
        limit = 7;
        break;
      case Assignment::kSampler:
      case Assignment::kTexture:
      case Assignment::kSamplerParam:
        limit = 15;
        break;
      case Assignment::kTransform:
        limit = a.state == D3DTS_WORLD ? 255 : a.state == D3DTS_TEXTURE0 ? 7 : 0;
        break;
      case Assignment::kLight:
      case Assignment::kLightEnable:
        limit = 255;
        break;
      default:
        break;
    }
    if (index > limit)
      FailAt(st.line, st.col, "X3000",
             Quote(st.name) + ": index " + std::to_string(index) + " is out of range");
    a.index = DWORD(index);
    switch (a.kind) {
      case Assignment::kTexture:
        a.object = ObjectRef(st, true, &a.reads);
        break;
      case Assignment::kSamplerParam:
        a.object = ObjectRef(st, false, &a.reads);
        break;
      case Assignment::kVertexShader:
      case Assignment::kPixelShader:
        ShaderState(st, &a);
        break;
      case Assignment::kTransform:
        a.state += a.index;
        Value(st, &a);
        break;
      default:
        Value(st, &a);
        break;
    }
    return a;
  }

  // VertexShader = compile ..., NULL, or a shader parameter: <name>, (name), name, name[i], where
  // an index that reads parameters chooses when the pass is applied.
  void ShaderState(const shader::StateAssignment& st, Assignment* a) {
    const shader::EffectValue& v = st.value;
    const bool vertex = a->kind == Assignment::kVertexShader;
    const D3DXPARAMETER_TYPE type = vertex ? D3DXPT_VERTEXSHADER : D3DXPT_PIXELSHADER;
    a->dynamic = true;
    if (IsNull(v)) return;
    if (v.kind == shader::EffectValue::kCompile) {
      a->shader_value = int(fx_.shader_values_.size());
      fx_.shader_values_.push_back(CompileShader(v, vertex));
      const auto& reads = fx_.shader_values_.back().reads;
      a->reads.insert(a->reads.end(), reads.begin(), reads.end());
      return;
    }
    const Param* p = nullptr;
    const Node* n = v.kind == shader::EffectValue::kExpr ? v.expr : nullptr;
    if (v.kind == shader::EffectValue::kRef) {
      p = Global(v.name);
    } else if (n && n->kind == N::kIdent) {
      p = Global(n->text);
    } else if (n && n->kind == N::kIndex && n->kids[0]->kind == N::kIdent) {
      const Param* array = Global(n->kids[0]->text);
      if (array && array->type == type && !array->items.empty()) {
        std::vector<const Param*> reads;
        Expr index = Build(n->kids[1], ValueKind::kDword, &reads);
        if (index.size != 1) Fail(n, "X3000", "a shader array takes one index");
        if (reads.empty()) {
          const double i = Evaluate(index, 0, fx_.values_);
          if (!(i >= 0 && i < double(array->items.size())))
            Fail(n, "X3504", "array index out of bounds");
          p = array->items[size_t(i)].get();
        } else {
          a->choices = array;
          a->expr = std::move(index);
          a->reads = std::move(reads);
          for (const auto& e : array->items) {
            const auto& r = fx_.shader_values_[size_t(e->shader)].reads;
            a->reads.insert(a->reads.end(), r.begin(), r.end());
          }
          return;
        }
      }
    }
    if (!p || p->type != type || !p->items.empty())
      FailAt(v.line, v.col, "X3000",
             Quote(st.name) + " takes 'compile <profile> <entry>(...)', NULL or a " +
                 (vertex ? "vertex" : "pixel") + " shader parameter");
    a->shader_value = p->shader;
    const auto& reads = fx_.shader_values_[size_t(p->shader)].reads;
    a->reads.insert(a->reads.end(), reads.begin(), reads.end());
  }

  ShaderValue CompileShader(const shader::EffectValue& v, bool vertex) {
    ShaderValue out;
    const std::string_view prefix = vertex ? "vs_" : "ps_";
    if (v.profile.substr(0, 3) != prefix)
      FailAt(v.line, v.col, "X3000",
             Quote(v.profile) + " is not a " + (vertex ? "vertex" : "pixel") + " shader profile");
    const shader::Function* f = nullptr;
    for (const shader::Function& g : unit_.funcs)
      if (g.name == v.name && g.body && !f) f = &g;
    if (!f) FailAt(v.line, v.col, "X3501", Quote(v.name) + ": entrypoint not found");
    std::vector<const shader::Param*> uniforms;
    for (const shader::Param& p : f->params)
      if (p.is_uniform) uniforms.push_back(&p);
    if (uniforms.size() != v.args.size())
      FailAt(v.line, v.col, "X3013",
             Quote(v.name) + " takes " + std::to_string(uniforms.size()) + " uniform arguments; " +
                 std::to_string(v.args.size()) + " given");
    std::vector<fx::Shader::Arg> args;
    for (size_t i = 0; i < uniforms.size(); ++i) {
      const Type& t = uniforms[i]->type;
      if (!t.IsNumeric())
        FailAt(uniforms[i]->line, uniforms[i]->col, "X3000",
               Quote(uniforms[i]->name) +
                   ": uniform arguments of entry points must be scalars, vectors or matrices");
      Expr e = Build(v.args[i], ValueKind::kDword, &out.reads);
      if (e.size != Components(t) && e.size != 1)
        Fail(v.args[i], "X3017",
             "argument " + std::to_string(i + 1) + " of " + Quote(v.name) + " needs " +
                 std::to_string(Components(t)) + " values");
      out.args.push_back(std::move(e));
      args.push_back(fx::Shader::Arg{ScalarOf(t.base), UINT(t.rows ? t.rows : 1), UINT(t.dim)});
    }
    const auto key = std::make_tuple(vertex, std::string(v.profile), std::string(v.name));
    auto it = shader_index_.find(key);
    if (it != shader_index_.end()) {
      out.shader = it->second;
      return out;
    }
    if (fx_.shaders_.size() >= kMaxShaders)
      FailAt(v.line, v.col, "X3000", "the effect compiles too many shaders");
    const DWORD compile_flags =
        fx_.flags_ & ~DWORD(D3DXFX_NOT_CLONEABLE | D3DXFX_LARGEADDRESSAWARE);
    shader::CompileOutput compiled =
        shader::Compile(fx_.source_, v.name, v.profile, macros_, compile_flags);
    if (!compiled.ok) {
      // Errors without a position are placed at the compile expression.
      char head[64];
      std::snprintf(head, sizeof head, "memory(%d,%d): ", v.line, v.col);
      size_t at = 0;
      while (at < compiled.messages.size()) {
        size_t end = compiled.messages.find('\n', at);
        end = end == std::string::npos ? compiled.messages.size() : end + 1;
        const std::string_view line(compiled.messages.data() + at, end - at);
        if (line.substr(0, 6) == "error " || line.substr(0, 8) == "warning ") failure += head;
        failure += line;
        at = end;
      }
      if (failure.empty() || failure.back() != '\n') failure += "\n";
      throw CompileError{};
    }
    warnings += compiled.messages;
    fx::Shader s;
    s.vertex = vertex;
    s.profile = std::string(v.profile);
    s.entry = std::string(v.name);
    s.code.assign(compiled.code.begin(), compiled.code.end());
    s.args = std::move(args);
    Bind(&s, uniforms);
    out.shader = int(fx_.shaders_.size());
    shader_index_[key] = out.shader;
    fx_.shaders_.push_back(std::move(s));
    return out;
  }

  // The registers each parameter (and each uniform argument of the entry) reaches, from the
  // shader's constant table.
  void Bind(fx::Shader* s, const std::vector<const shader::Param*>& uniforms) {
    ID3DXConstantTable* table = nullptr;
    if (FAILED(D3DXGetShaderConstantTable(s->code.data(), &table)) || !table) return;
    D3DXCONSTANTTABLE_DESC td = {};
    table->GetDesc(&td);
    for (UINT i = 0; i < td.Constants; ++i) {
      D3DXHANDLE h = table->GetConstant(nullptr, i);
      D3DXCONSTANT_DESC d;
      UINT n = 1;
      if (!h || FAILED(table->GetConstantDesc(h, &d, &n)) || !d.Name) continue;
      const std::string_view name(d.Name);
      if (name.size() > 1 && name[0] == '$') {
        for (size_t k = 0; k < uniforms.size(); ++k) {
          if (uniforms[k]->name != name.substr(1) || d.RegisterSet == D3DXRS_SAMPLER ||
              d.RegisterCount == 0)
            continue;
          Binding b;
          b.arg = int(k);
          b.scalar = s->args[k].scalar;
          b.set = d.RegisterSet;
          b.reg = d.RegisterIndex;
          b.count = d.RegisterCount;
          b.rows = s->args[k].rows;
          b.columns = s->args[k].columns;
          b.by_columns = d.Class == D3DXPC_MATRIX_COLUMNS;
          s->bindings.push_back(b);
        }
        continue;
      }
      if (const Param* p = Global(name)) BindParam(s, table, h, d, p);
    }
    table->Release();
  }

  void BindParam(fx::Shader* s, ID3DXConstantTable* table, D3DXHANDLE h, const D3DXCONSTANT_DESC& d,
                 const Param* p) {
    if (d.RegisterCount == 0) return;
    if (d.RegisterSet == D3DXRS_SAMPLER) {
      if (!p->IsSampler()) return;
      if (p->items.empty()) {
        s->samplers.push_back(SamplerBinding{p, d.RegisterIndex});
        return;
      }
      for (UINT k = 0; k < p->items.size(); ++k) {
        D3DXCONSTANT_DESC e;
        UINT n = 1;
        D3DXHANDLE hk = table->GetConstantElement(h, k);
        if (hk && SUCCEEDED(table->GetConstantDesc(hk, &e, &n)) && e.RegisterCount)
          s->samplers.push_back(SamplerBinding{p->items[k].get(), e.RegisterIndex});
      }
      return;
    }
    if (!p->Numeric()) return;
    if (p->cls == D3DXPC_STRUCT) {
      const bool array = !p->items.empty();
      const size_t parts = array ? p->items.size() : p->members.size();
      for (UINT k = 0; k < parts; ++k) {
        D3DXCONSTANT_DESC e;
        UINT n = 1;
        D3DXHANDLE hk = array ? table->GetConstantElement(h, k) : table->GetConstant(h, k);
        if (hk && SUCCEEDED(table->GetConstantDesc(hk, &e, &n)))
          BindParam(s, table, hk, e, array ? p->items[k].get() : p->members[k].get());
      }
      return;
    }
    Binding b;
    b.root = p->root;
    b.offset = p->offset;
    b.scalar = p->scalar;
    b.set = d.RegisterSet;
    b.reg = d.RegisterIndex;
    b.count = d.RegisterCount;
    b.rows = p->rows;
    b.columns = p->columns;
    b.by_columns = d.Class == D3DXPC_MATRIX_COLUMNS;
    b.elements = p->elements ? p->elements : 1;
    s->bindings.push_back(b);
  }

  // The top-level parameters a technique's passes read.
  void Used(Technique* t) {
    std::set<const Param*> used;
    auto block = [&](const Param* sampler) {
      used.insert(sampler->root);
      if (sampler->sampler < 0) return;
      for (const Assignment& b : fx_.samplers_[size_t(sampler->sampler)])
        used.insert(b.reads.begin(), b.reads.end());
    };
    for (const auto& pass : t->passes) {
      for (const Assignment& a : pass->states) {
        used.insert(a.reads.begin(), a.reads.end());
        if (a.kind == Assignment::kSamplerParam && a.object) block(a.object);
        std::vector<int> values;  // the shader values the assignment may set
        if (a.choices) {
          for (const auto& e : a.choices->items) values.push_back(e->shader);
          used.insert(a.choices->root);
        } else if (a.shader_value >= 0) {
          values.push_back(a.shader_value);
        }
        for (int value : values) {
          const int shader = fx_.shader_values_[size_t(value)].shader;
          if (shader < 0) continue;
          const fx::Shader& s = fx_.shaders_[size_t(shader)];
          for (const Binding& b : s.bindings)
            if (b.root) used.insert(b.root);
          for (const SamplerBinding& b : s.samplers) block(b.sampler);
        }
      }
    }
    t->used.assign(used.begin(), used.end());
  }
};

bool Effect::Build(std::string source, std::vector<std::pair<std::string, std::string>> macros,
                   DWORD flags, const std::string& origin, std::string* messages) {
  source_ = std::move(source);
  macros_ = std::move(macros);
  flags_ = flags;
  Builder b(this);
  try {
    b.Run();
  } catch (const CompileError& e) {
    *messages = Renamed(b.warnings + (b.failure.empty() ? Format(e) : b.failure), origin);
    return false;
  }
  *messages = Renamed(b.warnings, origin);
  dirty_.assign(params_.size(), false);
  current_ = techniques_.empty() ? nullptr : techniques_[0].get();
  CreateShaders();
  return true;
}

}  // namespace vexa::fx

namespace {

HRESULT Create(LPDIRECT3DDEVICE9 device, std::string source, const D3DXMACRO* defines, DWORD flags,
               const std::string& origin, LPD3DXEFFECT* out, LPD3DXBUFFER* errors) {
  std::string messages;
  vexa::fx::Effect* fx = nullptr;
  HRESULT hr = D3D_OK;
  try {
    std::vector<std::pair<std::string, std::string>> macros;
    // A list ended by a NULL name; a NULL definition is an empty one.
    for (const D3DXMACRO* m = defines; m && m->Name && macros.size() < 4096; ++m)
      macros.emplace_back(m->Name, m->Definition ? m->Definition : "");
    uint32_t magic = 0;
    if (source.size() >= 4) std::memcpy(&magic, source.data(), 4);
    // Sources are often given with their terminating zero counted.
    while (magic != 0xFEFF0901u && !source.empty() && source.back() == '\0') source.pop_back();
    fx = new vexa::fx::Effect(device);
    if (magic == 0xFEFF0901u) {
      // Effects compiled ahead of time are not read here: only source.
      messages = origin + "(1,1): error X3000: compiled effects are not supported; pass source\n";
      hr = D3DXERR_INVALIDDATA;
    } else if (!fx->Build(std::move(source), std::move(macros), flags, origin, &messages)) {
      hr = E_FAIL;
    }
  } catch (const std::bad_alloc&) {
    messages.clear();
    hr = E_OUTOFMEMORY;
  }
  if (errors && !messages.empty()) {
    // The text is handed out zero-terminated.
    if (SUCCEEDED(D3DXCreateBuffer(DWORD(messages.size() + 1), errors)))
      std::memcpy((*errors)->GetBufferPointer(), messages.c_str(), messages.size() + 1);
  }
  if (FAILED(hr)) {
    if (fx) fx->Release();
    return hr;
  }
  *out = fx;
  return D3D_OK;
}

}  // namespace

HRESULT WINAPI D3DXCreateEffect(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData, UINT SrcDataLen,
                                const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude, DWORD Flags,
                                LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect,
                                LPD3DXBUFFER* ppCompilationErrors) {
  if (ppCompilationErrors) *ppCompilationErrors = nullptr;
  if (ppEffect) *ppEffect = nullptr;
  if (!pDevice || !pSrcData || !SrcDataLen || !ppEffect || pPool) return D3DERR_INVALIDCALL;
  std::string source;
  try {
    source.assign(static_cast<const char*>(pSrcData), SrcDataLen);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return Create(pDevice, std::move(source), pDefines, Flags, "memory", ppEffect,
                ppCompilationErrors);
}

HRESULT WINAPI D3DXCreateEffectFromFileA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile,
                                         const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude,
                                         DWORD Flags, LPD3DXEFFECTPOOL pPool,
                                         LPD3DXEFFECT* ppEffect,
                                         LPD3DXBUFFER* ppCompilationErrors) {
  if (ppCompilationErrors) *ppCompilationErrors = nullptr;
  if (ppEffect) *ppEffect = nullptr;
  if (!pDevice || !pSrcFile || !ppEffect || pPool) return D3DERR_INVALIDCALL;
  std::string source;
  try {
    FILE* f = std::fopen(pSrcFile, "rb");
    bool ok = f != nullptr;
    if (f) {
      char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        source.append(buf, n);
        // One byte over the compiler's limit is enough for it to refuse the source.
        if (source.size() > vexa::shader::kMaxSourceBytes) break;
      }
      ok = !std::ferror(f);
      std::fclose(f);
    }
    if (!ok) {
      const std::string msg =
          "error X1507: failed to open source file: '" + std::string(pSrcFile) + "'\n";
      if (ppCompilationErrors &&
          SUCCEEDED(D3DXCreateBuffer(DWORD(msg.size() + 1), ppCompilationErrors)))
        std::memcpy((*ppCompilationErrors)->GetBufferPointer(), msg.c_str(), msg.size() + 1);
      return E_FAIL;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return Create(pDevice, std::move(source), pDefines, Flags, pSrcFile, ppEffect,
                ppCompilationErrors);
}
