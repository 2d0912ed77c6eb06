// Recursive-descent HLSL parser with bounded nesting, node count and tree depth.
#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "d3dx9/shader_ast.h"

namespace vexa::shader {

std::string TypeName(Type t) {
  std::string s;
  switch (t.base) {
    case Base::kFloat:
      s = "float";
      break;
    case Base::kInt:
      s = "int";
      break;
    case Base::kBool:
      s = "bool";
      break;
    case Base::kVoid:
      s = "void";
      break;
    case Base::kTexture:
      s = "texture";
      break;
    case Base::kStruct:
      s = "struct";
      break;
    case Base::kSampler: {
      static const char* const kinds[] = {"sampler", "sampler1D", "sampler2D", "sampler3D",
                                          "samplerCUBE"};
      s = kinds[t.sampler < 5 ? t.sampler : 0];
      break;
    }
  }
  if (t.base == Base::kBool || t.base == Base::kInt || t.base == Base::kFloat) {
    if (t.rows) {
      s += char('0' + t.rows);
      s += 'x';
      s += char('0' + t.dim);
    } else if (t.dim > 1) {
      s += char('0' + t.dim);
    }
  }
  if (t.array) s += "[" + std::to_string(t.array) + "]";
  return s;
}

namespace {

class Parser {
 public:
  Parser(const std::vector<Token>& toks, Unit* unit, bool effect)
      : t_(toks), u_(unit), effect_(effect) {}

  void Run() {
    while (Peek().kind != Tok::kEnd) TopLevel();
  }

 private:
  const std::vector<Token>& t_;
  Unit* u_;
  const bool effect_;
  size_t p_ = 0;
  int nesting_ = 0;
  std::unordered_map<std::string_view, Type> typedefs_;

  struct Guard {
    Parser* p;
    explicit Guard(Parser* parser) : p(parser) {
      if (++p->nesting_ > kMaxNesting) p->ErrorAt(p->Peek(), "X3000", "nesting is too deep");
    }
    ~Guard() { --p->nesting_; }
  };

  const Token& Peek(size_t k = 0) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
  const Token& Next() {
    const Token& tk = t_[p_];
    if (p_ + 1 < t_.size()) ++p_;
    return tk;
  }
  bool IsP(std::string_view s, size_t k = 0) const {
    return Peek(k).kind == Tok::kPunct && Peek(k).text == s;
  }
  bool IsId(std::string_view s, size_t k = 0) const {
    return Peek(k).kind == Tok::kIdent && Peek(k).text == s;
  }
  bool AcceptP(std::string_view s) {
    if (!IsP(s)) return false;
    Next();
    return true;
  }

  [[noreturn]] void ErrorAt(const Token& tk, const char* code, const std::string& text) {
    throw CompileError{tk.line, tk.col, code, text};
  }
  [[noreturn]] void Unexpected() {
    const Token& tk = Peek();
    if (tk.kind == Tok::kEnd) ErrorAt(tk, "X3000", "syntax error: unexpected end of file");
    ErrorAt(tk, "X3000", "syntax error: unexpected token '" + std::string(tk.text) + "'");
  }
  void ExpectP(std::string_view s) {
    if (!AcceptP(s)) Unexpected();
  }
  std::string_view ExpectIdent() {
    if (Peek().kind != Tok::kIdent || IsKeyword(Peek().text)) Unexpected();
    return Next().text;
  }

  static bool IsKeyword(std::string_view s) {
    static const char* const kw[] = {
        "if",       "else",      "for",         "while",     "do",           "break",
        "continue", "return",    "discard",     "static",    "const",        "uniform",
        "extern",   "in",        "out",         "inout",     "true",         "false",
        "struct",   "typedef",   "void",        "inline",    "switch",       "case",
        "default",  "shared",    "volatile",    "row_major", "column_major", "sampler_state",
        "register", "technique", "technique10", "pass",      "compile",      "packoffset"};
    for (const char* k : kw)
      if (s == k) return true;
    return false;
  }

  Node* Make(N kind, const Token& at) {
    if (u_->nodes.size() >= kMaxNodes) ErrorAt(at, "X3000", "source is too complex");
    Node& n = u_->nodes.emplace_back();
    n.kind = kind;
    n.line = at.line;
    n.col = at.col;
    return &n;
  }
  Node* Add(Node* parent, Node* kid) {
    parent->kids.push_back(kid);
    if (kid && kid->depth + 1 > parent->depth) {
      parent->depth = uint16_t(kid->depth + 1);
      if (parent->depth > kMaxTreeDepth)
        throw CompileError{parent->line, parent->col, "X3000", "expression is too complex"};
    }
    return parent;
  }

  // --- types ---------------------------------------------------------------------------------

  // A type name at token k, without consuming it; *ntok receives its length in tokens.
  bool TypeAt(size_t k, Type* out, size_t* ntok = nullptr) const {
    const Token& tk = Peek(k);
    if (tk.kind != Tok::kIdent) return false;
    size_t used = 1;
    std::string_view s = tk.text;
    Type t;
    auto done = [&](Type r) {
      *out = r;
      if (ntok) *ntok = used;
      return true;
    };
    if (s == "void") return done(Type{Base::kVoid, 1});
    if (s == "matrix" || s == "vector") {
      t = s == "matrix" ? Type{Base::kFloat, 4, 4} : Type{Base::kFloat, 4};
      // matrix<float, 4, 4>, vector<float, 3>
      if (Peek(k + 1).kind == Tok::kPunct && Peek(k + 1).text == "<") {
        Type elem;
        if (!TypeAt(k + 2, &elem) || !elem.IsPlain() || elem.dim != 1) return false;
        size_t at = k + 3;
        int dims[2] = {0, 0};
        const int want = s == "matrix" ? 2 : 1;
        for (int i = 0; i < want; ++i) {
          if (!(Peek(at).kind == Tok::kPunct && Peek(at).text == ",")) return false;
          const Token& n = Peek(at + 1);
          if (n.kind != Tok::kInt || n.ival < 1 || n.ival > 4) return false;
          dims[i] = int(n.ival);
          at += 2;
        }
        if (!(Peek(at).kind == Tok::kPunct && Peek(at).text == ">")) return false;
        used = at + 1 - k;
        t.base = elem.base;
        if (want == 2) {
          t.rows = uint8_t(dims[0]);
          t.dim = uint8_t(dims[1]);
        } else {
          t.dim = uint8_t(dims[0]);
        }
      }
      return done(t);
    }
    static const std::pair<const char*, SamplerKind> samplers[] = {
        {"sampler", SamplerKind::kGeneric},  {"sampler1D", SamplerKind::k1D},
        {"sampler2D", SamplerKind::k2D},     {"sampler3D", SamplerKind::k3D},
        {"samplerCUBE", SamplerKind::kCube}, {"sampler_state", SamplerKind::kGeneric}};
    for (auto& [name, kind] : samplers) {
      if (s == name && s != "sampler_state") {
        t.base = Base::kSampler;
        t.sampler = uint8_t(kind);
        return done(t);
      }
    }
    if (s == "texture" || s == "texture1D" || s == "texture2D" || s == "texture3D" ||
        s == "textureCUBE" || s == "Texture")
      return done(Type{Base::kTexture, 1});
    static const std::pair<const char*, Base> bases[] = {
        {"float", Base::kFloat}, {"half", Base::kFloat}, {"double", Base::kFloat},
        {"int", Base::kInt},     {"uint", Base::kInt},   {"dword", Base::kInt},
        {"bool", Base::kBool}};
    for (auto& [name, base] : bases) {
      std::string_view n(name);
      if (s.substr(0, n.size()) != n) continue;
      std::string_view rest = s.substr(n.size());
      if (rest.empty()) return done(Type{base, 1});
      if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '4')
        return done(Type{base, uint8_t(rest[0] - '0')});
      if (rest.size() == 3 && rest[0] >= '1' && rest[0] <= '4' && rest[1] == 'x' &&
          rest[2] >= '1' && rest[2] <= '4')
        return done(Type{base, uint8_t(rest[2] - '0'), uint8_t(rest[0] - '0')});
    }
    for (size_t i = 0; i < u_->structs.size(); ++i) {
      if (u_->structs[i].name == s) {
        t.base = Base::kStruct;
        t.strct = int16_t(i);
        return done(t);
      }
    }
    auto it = typedefs_.find(s);
    if (it != typedefs_.end()) return done(it->second);
    return false;
  }
  Type ParseType() {
    Type t;
    size_t n = 0;
    if (!TypeAt(0, &t, &n)) Unexpected();
    for (size_t i = 0; i < n; ++i) Next();
    return t;
  }
  bool AtType() const {
    Type t;
    return TypeAt(0, &t);
  }

  // [N] after a declarator: a constant integer expression.
  Type ArraySuffix(Type t) {
    if (!IsP("[")) return t;
    const Token& at = Peek();
    if (t.array) ErrorAt(at, "X3000", "arrays of arrays are not supported");
    Next();
    Node* e = Expression();
    ExpectP("]");
    int64_t n = 0;
    if (!ConstInt(e, &n))
      ErrorAt(at, "X3058", "array dimensions must be literal scalar expressions");
    if (n < 1 || n > kMaxArray) ErrorAt(at, "X3059", "array dimension is out of range");
    t.array = uint16_t(n);
    if (IsP("[")) ErrorAt(Peek(), "X3000", "arrays of arrays are not supported");
    return t;
  }
  static bool ConstInt(const Node* e, int64_t* out) {
    if (e->kind == N::kIntLit) return *out = e->ival, true;
    if (e->kind == N::kUnary && e->text == "-") {
      if (!ConstInt(e->kids[0], out)) return false;
      *out = -*out;
      return true;
    }
    if (e->kind == N::kBinary) {
      int64_t a, b;
      if (!ConstInt(e->kids[0], &a) || !ConstInt(e->kids[1], &b)) return false;
      if (a < -(1 << 24) || a > (1 << 24) || b < -(1 << 24) || b > (1 << 24)) return false;
      if (e->text == "+") return *out = a + b, true;
      if (e->text == "-") return *out = a - b, true;
      if (e->text == "*") return *out = a * b, true;
      if (e->text == "/" && b != 0) return *out = a / b, true;
    }
    return false;
  }

  // Skips statement attributes such as [unroll], [loop], [unroll(4)].
  void SkipAttributes() {
    while (IsP("[") && Peek(1).kind == Tok::kIdent) {
      Next();
      Next();
      if (AcceptP("(")) {
        while (!IsP(")") && Peek().kind != Tok::kEnd) Next();
        ExpectP(")");
      }
      ExpectP("]");
    }
  }

  // Skips a balanced { ... } block (sampler states, techniques).
  void SkipBraces() {
    const Token& open = Peek();
    ExpectP("{");
    int depth = 1;
    while (depth > 0) {
      if (Peek().kind == Tok::kEnd) ErrorAt(open, "X3000", "syntax error: unexpected end of file");
      if (IsP("{")) ++depth;
      if (IsP("}")) --depth;
      Next();
    }
  }
  // Annotations: < type name = value; ... >, skipped.
  void SkipAnnotations() {
    if (!IsP("<")) return;
    const Token& open = Next();
    while (!IsP(">")) {
      if (Peek().kind == Tok::kEnd) ErrorAt(open, "X3000", "syntax error: unexpected end of file");
      Next();
    }
    Next();
  }

  // ": SEMANTIC", ": register(c4)" and ": register(vs_3_0, c4)" after a declarator.
  void Bindings(Node* d, std::string_view* semantic) {
    while (IsP(":")) {
      Next();
      if (IsId("register")) {
        const Token& at = Next();
        ExpectP("(");
        std::string_view reg = ExpectIdent();
        if (AcceptP(",")) reg = ExpectIdent();  // a profile first: the binding applies to all
        if (IsP("[")) ErrorAt(Peek(), "X3000", "register subcomponents are not supported");
        ExpectP(")");
        if (!d) ErrorAt(at, "X3000", "register bindings are allowed on globals only");
        d->reg = reg;
      } else if (IsId("packoffset")) {
        ErrorAt(Peek(), "X3000", "packoffset is not supported in shader model 2 or 3");
      } else {
        std::string_view s = ExpectIdent();
        if (semantic) *semantic = s;
        if (d) d->semantic = s;
      }
    }
  }

  // Modifiers before a declaration.
  struct Mods {
    bool is_static = false, is_const = false, uniform = false;
    uint8_t packing = 0;
  };
  Mods Modifiers() {
    Mods m;
    for (;;) {
      if (IsId("static"))
        m.is_static = true;
      else if (IsId("const"))
        m.is_const = true;
      else if (IsId("uniform") || IsId("extern"))
        m.uniform = true;
      else if (IsId("row_major"))
        m.packing = kRowMajor;
      else if (IsId("column_major"))
        m.packing = kColumnMajor;
      else if (!IsId("inline") && !IsId("shared") && !IsId("volatile"))
        break;
      Next();
    }
    return m;
  }

  void StructDecl() {
    const Token& at = Next();  // struct
    StructDef def;
    def.line = at.line;
    def.col = at.col;
    def.name = ExpectIdent();
    for (const StructDef& s : u_->structs)
      if (s.name == def.name) ErrorAt(at, "X3003", "'" + std::string(def.name) + "': redefinition");
    ExpectP("{");
    while (!AcceptP("}")) {
      if (Peek().kind == Tok::kEnd) Unexpected();
      Mods m = Modifiers();
      if (m.is_static || m.uniform)
        ErrorAt(Peek(), "X3000", "struct members cannot be static or uniform");
      Type type = ParseType();
      if (type.base == Base::kVoid) ErrorAt(Peek(), "X3000", "struct members cannot be void");
      for (;;) {
        Member mem;
        mem.line = Peek().line;
        mem.col = Peek().col;
        mem.name = ExpectIdent();
        mem.type = ArraySuffix(type);
        mem.packing = m.packing;
        Bindings(nullptr, &mem.semantic);
        for (const Member& o : def.members)
          if (o.name == mem.name)
            throw CompileError{mem.line, mem.col, "X3003",
                               "'" + std::string(mem.name) + "': redefinition"};
        if (def.members.size() >= 1024) ErrorAt(at, "X3000", "struct has too many members");
        def.members.push_back(mem);
        if (!AcceptP(",")) break;
      }
      ExpectP(";");
    }
    if (def.members.empty()) ErrorAt(at, "X3000", "structs need at least one member");
    u_->structs.push_back(def);
  }

  void TopLevel() {
    if (AcceptP(";")) return;
    const Token& start = Peek();
    if (effect_ && IsId("technique10"))
      ErrorAt(start, "X3000", "technique10 blocks are not supported; use technique");
    if (effect_ && IsId("technique")) {
      Technique();
      return;
    }
    if (IsId("technique") || IsId("technique10")) {
      Next();
      if (Peek().kind == Tok::kIdent) Next();
      SkipAnnotations();
      SkipBraces();
      return;
    }
    if ((IsId("string") || IsShaderType(0)) && Peek(1).kind == Tok::kIdent) {
      ObjectGlobal();
      return;
    }
    if (IsId("typedef")) {
      Next();
      Modifiers();
      Type type = ParseType();
      std::string_view name = ExpectIdent();
      type = ArraySuffix(type);
      typedefs_[name] = type;
      ExpectP(";");
      return;
    }
    if (IsId("struct") && Peek(1).kind == Tok::kIdent && IsP("{", 2)) {
      StructDecl();
      if (AcceptP(";")) return;
      // struct S { ... } variable;
      Mods none;
      Type t{Base::kStruct, 1};
      t.strct = int16_t(u_->structs.size() - 1);
      Globals(start, t, none, u_->structs.back().name);
      return;
    }
    Mods m = Modifiers();
    if (m.is_static && m.uniform)
      ErrorAt(start, "X3000", "'static' and 'uniform' cannot be combined");
    const Token& type_tok = Peek();
    Type type = ParseType();
    const Token& name_tok = Peek();
    std::string_view name = ExpectIdent();
    if (IsP("(")) {
      Function f;
      f.name = name;
      f.ret = type;
      f.line = name_tok.line;
      f.col = name_tok.col;
      ParseFunction(&f);
      u_->funcs.push_back(std::move(f));
      return;
    }
    if (type.base == Base::kVoid) ErrorAt(type_tok, "X3000", "variables cannot be of type void");
    p_ = size_t(&name_tok - t_.data());  // back to the first declarator
    Globals(start, type, m, type_tok.text);
  }

  bool IsShaderType(size_t k) const {
    return IsId("VertexShader", k) || IsId("PixelShader", k) || IsId("vertexshader", k) ||
           IsId("pixelshader", k);
  }

  // string name = "..."; and VertexShader / PixelShader name[N] = compile ... (or a { } list of
  // them): effect objects, which shaders never see.
  void ObjectGlobal() {
    const Token& type_tok = Next();
    const EffectGlobal::Object object = type_tok.text == "string" ? EffectGlobal::kString
                                        : type_tok.text[0] == 'V' || type_tok.text[0] == 'v'
                                            ? EffectGlobal::kVertexShader
                                            : EffectGlobal::kPixelShader;
    const Token& name_tok = Peek();
    Node* d = Make(N::kVarDecl, name_tok);
    d->text = ExpectIdent();
    if (object != EffectGlobal::kString) d->type = ArraySuffix(d->type);
    Bindings(d, nullptr);
    EffectGlobal* fx = nullptr;
    if (effect_) {
      fx = &u_->effect_globals.emplace_back();
      fx->decl = d;
      fx->type_name = type_tok.text;
      fx->object = object;
      Annotations(&fx->annotations);
    } else {
      SkipAnnotations();
    }
    if (AcceptP("=")) {
      if (object == EffectGlobal::kString) {
        if (Peek().kind != Tok::kString) Unexpected();
        const Token& str = Next();
        if (fx) fx->str = str.text;
      } else if (AcceptP("{")) {
        for (;;) {
          EffectValue v = StateValue();
          if (fx) fx->shaders.push_back(std::move(v));
          if (!AcceptP(",")) break;
          if (fx && fx->shaders.size() > 4096) ErrorAt(Peek(), "X3000", "too many shaders");
        }
        ExpectP("}");
      } else {
        EffectValue v = StateValue();
        if (fx) fx->shaders.push_back(std::move(v));
      }
    }
    ExpectP(";");
  }

  // One or more global declarators of `type`, up to the ';'.
  void Globals(const Token& start, Type type, const Mods& m, std::string_view type_name) {
    (void)start;
    for (;;) {
      const Token& name_tok = Peek();
      Node* d = Make(N::kVarDecl, name_tok);
      d->text = ExpectIdent();
      d->type = ArraySuffix(type);
      d->is_const = m.is_const || m.uniform || !m.is_static;  // uniforms are read-only
      d->is_static = m.is_static;
      d->is_uniform = !m.is_static;
      d->packing = m.packing;
      Bindings(d, nullptr);
      EffectGlobal* fx = nullptr;
      if (effect_) {
        fx = &u_->effect_globals.emplace_back();
        fx->decl = d;
        fx->type_name = type_name;
        Annotations(&fx->annotations);
      } else {
        SkipAnnotations();
      }
      if (AcceptP("=")) {
        if (IsId("sampler_state")) {
          const Token& at = Next();
          if (fx) {
            if (d->type.base != Base::kSampler || d->type.IsArray())
              ErrorAt(at, "X3000", "sampler_state initialises single samplers only");
            fx->has_sampler_state = true;
            States(&fx->states);
          } else {
            SkipBraces();
          }
        } else if (IsId("compile")) {
          ErrorAt(Peek(), "X3000", "compile expressions belong to effects");
        } else {
          Add(d, Initializer());
        }
      }
      u_->globals.push_back(d);
      if (!AcceptP(",")) break;
    }
    ExpectP(";");
  }

  // --- effects -------------------------------------------------------------------------------

  // < type name = value; ... >
  void Annotations(std::vector<Annotation>* out) {
    if (!AcceptP("<")) return;
    while (!AcceptP(">")) {
      Annotation a;
      a.line = Peek().line;
      a.col = Peek().col;
      if (IsId("string")) {
        Next();
        a.is_string = true;
      } else {
        a.type = ParseType();
        if (!a.type.IsNumeric() || a.type.IsArray())
          ErrorAt(Peek(), "X3000", "annotations hold strings, scalars, vectors and matrices only");
      }
      a.name = ExpectIdent();
      ExpectP("=");
      if (a.is_string) {
        if (Peek().kind != Tok::kString) Unexpected();
        a.str = Next().text;
      } else {
        a.value = Initializer();
      }
      ExpectP(";");
      if (out->size() >= 4096) ErrorAt(Peek(), "X3000", "too many annotations");
      out->push_back(a);
    }
  }

  // { Name = value; Name[index] = value; ... }
  void States(std::vector<StateAssignment>* out) {
    ExpectP("{");
    while (!AcceptP("}")) {
      StateAssignment st;
      const Token& at = Peek();
      if (at.kind != Tok::kIdent) Unexpected();
      st.line = at.line;
      st.col = at.col;
      st.name = Next().text;
      if (AcceptP("[")) {
        const Token& it = Peek();
        Node* e = Expression();
        ExpectP("]");
        int64_t n = 0;
        if (!ConstInt(e, &n)) ErrorAt(it, "X3000", "state indices must be literal integers");
        if (n < 0 || n > 255) ErrorAt(it, "X3000", "state index is out of range");
        st.index = int(n);
      }
      ExpectP("=");
      st.value = StateValue();
      ExpectP(";");
      if (out->size() >= 4096) ErrorAt(at, "X3000", "too many state assignments");
      out->push_back(std::move(st));
    }
  }

  EffectValue StateValue() {
    EffectValue v;
    const Token& at = Peek();
    v.line = at.line;
    v.col = at.col;
    if (IsId("asm")) ErrorAt(at, "X3000", "assembly shaders are not supported; use compile");
    if (IsId("compile")) {
      Next();
      v.kind = EffectValue::kCompile;
      if (Peek().kind != Tok::kIdent) Unexpected();
      v.profile = Next().text;
      v.name = ExpectIdent();
      ExpectP("(");
      if (!AcceptP(")")) {
        for (;;) {
          v.args.push_back(Assignment());
          if (v.args.size() > 256) ErrorAt(at, "X3000", "too many arguments");
          if (AcceptP(")")) break;
          ExpectP(",");
        }
      }
      return v;
    }
    if (AcceptP("<")) {
      v.kind = EffectValue::kRef;
      v.name = ExpectIdent();
      ExpectP(">");
      return v;
    }
    // A lone word is a value keyword even where it spells a type ("ColorArg1 = Texture;").
    if (at.kind == Tok::kIdent && IsP(";", 1) && !IsId("true") && !IsId("false")) {
      Node* n = Make(N::kIdent, at);
      n->text = Next().text;
      v.expr = n;
      return v;
    }
    v.expr = Initializer();
    return v;
  }

  void Technique() {
    const Token& at = Next();  // technique
    TechniqueDef t;
    t.line = at.line;
    t.col = at.col;
    if (Peek().kind == Tok::kIdent) t.name = ExpectIdent();
    Annotations(&t.annotations);
    ExpectP("{");
    while (!AcceptP("}")) {
      if (!IsId("pass")) Unexpected();
      const Token& pt = Next();
      PassDef p;
      p.line = pt.line;
      p.col = pt.col;
      if (Peek().kind == Tok::kIdent) p.name = ExpectIdent();
      Annotations(&p.annotations);
      States(&p.states);
      if (t.passes.size() >= 1024) ErrorAt(pt, "X3000", "too many passes");
      t.passes.push_back(std::move(p));
    }
    if (u_->techniques.size() >= 1024) ErrorAt(at, "X3000", "too many techniques");
    u_->techniques.push_back(std::move(t));
  }

  Node* Initializer() {
    if (!IsP("{")) return Assignment();
    Guard g(this);
    const Token& at = Next();
    Node* list = Make(N::kInitList, at);
    while (!IsP("}")) {
      Add(list, Initializer());
      if (!AcceptP(",")) break;
    }
    ExpectP("}");
    if (list->kids.empty()) ErrorAt(at, "X3000", "syntax error: empty initializer list");
    return list;
  }

  void ParseFunction(Function* f) {
    ExpectP("(");
    if (IsId("void") && IsP(")", 1)) Next();
    if (!IsP(")")) {
      for (;;) {
        Param p;
        for (;;) {
          if (IsId("in"))
            Next();
          else if (IsId("out"))
            Next(), p.qual = Qual::kOut;
          else if (IsId("inout"))
            Next(), p.qual = Qual::kInOut;
          else if (IsId("uniform"))
            Next(), p.is_uniform = true;
          else if (IsId("const") || IsId("centroid") || IsId("linear") || IsId("nointerpolation"))
            Next();
          else if (IsId("row_major"))
            Next(), p.packing = kRowMajor;
          else if (IsId("column_major"))
            Next(), p.packing = kColumnMajor;
          else
            break;
        }
        if (p.is_uniform && p.qual != Qual::kIn)
          ErrorAt(Peek(), "X3000", "uniform parameters cannot be out or inout");
        p.line = Peek().line;
        p.col = Peek().col;
        p.type = ParseType();
        if (p.type.base == Base::kVoid) ErrorAt(Peek(), "X3000", "parameters cannot be void");
        p.name = ExpectIdent();
        p.type = ArraySuffix(p.type);
        Bindings(nullptr, &p.semantic);
        if (IsP("=") || IsP("[")) Unexpected();
        if (f->params.size() >= 256) Unexpected();
        f->params.push_back(p);
        if (!AcceptP(",")) break;
      }
    }
    ExpectP(")");
    if (AcceptP(":")) f->ret_semantic = ExpectIdent();
    if (AcceptP(";")) return;  // prototype
    if (!IsP("{")) Unexpected();
    f->body = Statement();
  }

  Node* Statement() {
    Guard g(this);
    SkipAttributes();
    const Token& at = Peek();
    if (IsP("{")) {
      Next();
      Node* b = Make(N::kBlock, at);
      while (!IsP("}")) {
        if (Peek().kind == Tok::kEnd) Unexpected();
        Add(b, Statement());
      }
      Next();
      return b;
    }
    if (AcceptP(";")) return Make(N::kEmpty, at);
    if (Peek().kind == Tok::kIdent) {
      std::string_view w = at.text;
      if (w == "if") {
        Next();
        Node* n = Make(N::kIf, at);
        ExpectP("(");
        Add(n, Expression());
        ExpectP(")");
        Add(n, Statement());
        if (IsId("else")) {
          Next();
          Add(n, Statement());
        }
        return n;
      }
      if (w == "while") {
        Next();
        Node* n = Make(N::kWhile, at);
        ExpectP("(");
        Add(n, Expression());
        ExpectP(")");
        Add(n, Statement());
        return n;
      }
      if (w == "do") {
        Next();
        Node* n = Make(N::kDoWhile, at);
        Add(n, Statement());
        if (!IsId("while")) Unexpected();
        Next();
        ExpectP("(");
        Add(n, Expression());
        ExpectP(")");
        ExpectP(";");
        return n;
      }
      if (w == "for") {
        Next();
        Node* n = Make(N::kFor, at);
        ExpectP("(");
        if (IsP(";")) {
          Add(n, Make(N::kEmpty, Next()));
        } else {
          Add(n, SimpleStatement());
        }
        Add(n, IsP(";") ? nullptr : Expression());
        ExpectP(";");
        Add(n, IsP(")") ? nullptr : Expression());
        ExpectP(")");
        Add(n, Statement());
        return n;
      }
      if (w == "break" || w == "continue" || w == "discard") {
        Next();
        ExpectP(";");
        return Make(w == "break" ? N::kBreak : w == "continue" ? N::kContinue : N::kDiscard, at);
      }
      if (w == "return") {
        Next();
        Node* n = Make(N::kReturn, at);
        if (!IsP(";")) Add(n, Expression());
        ExpectP(";");
        return n;
      }
      if (w == "switch") ErrorAt(at, "X3000", "switch statements are not supported");
      if (w == "else") Unexpected();
      if (w == "struct" || w == "typedef")
        ErrorAt(at, "X3000", "types must be declared outside functions");
    }
    return SimpleStatement();
  }

  // A declaration or an expression, ending with ';' (consumed).
  Node* SimpleStatement() {
    const Token& at = Peek();
    bool is_const = false, is_static = false;
    uint8_t packing = 0;
    for (;;) {
      if (IsId("const"))
        is_const = true;
      else if (IsId("static"))
        is_static = true;
      else if (IsId("row_major"))
        packing = kRowMajor;
      else if (IsId("column_major"))
        packing = kColumnMajor;
      else if (IsId("uniform") || IsId("extern"))
        ErrorAt(Peek(), "X3000", "local variables cannot be uniform");
      else
        break;
      Next();
    }
    size_t ntok = 0;
    Type probe;
    const bool decl =
        TypeAt(0, &probe, &ntok) && Peek(ntok).kind == Tok::kIdent && !IsKeyword(Peek(ntok).text);
    if (is_const || is_static || packing || decl) {
      Type type = ParseType();
      if (type.base == Base::kVoid) ErrorAt(at, "X3000", "variables cannot be of type void");
      Node* group = Make(N::kDeclGroup, at);
      for (;;) {
        const Token& nt = Peek();
        Node* d = Make(N::kVarDecl, nt);
        d->text = ExpectIdent();
        d->type = ArraySuffix(type);
        d->is_const = is_const;
        d->is_static = is_static;
        d->packing = packing;
        if (IsP(":")) ErrorAt(Peek(), "X3000", "local variables cannot have semantics");
        if (AcceptP("=")) Add(d, Initializer());
        Add(group, d);
        if (!AcceptP(",")) break;
      }
      ExpectP(";");
      return group;
    }
    Node* n = Make(N::kExprStmt, at);
    Add(n, Expression());
    ExpectP(";");
    return n;
  }

  Node* Expression() {
    Node* e = Assignment();
    while (IsP(",")) {
      const Token& at = Next();
      Node* c = Make(N::kComma, at);
      Add(c, e);
      Add(c, Assignment());
      e = c;
    }
    return e;
  }

  static bool IsAssignOp(const Token& tk) {
    if (tk.kind != Tok::kPunct) return false;
    static const char* const ops[] = {
        "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="};
    for (const char* o : ops)
      if (tk.text == o) return true;
    return false;
  }

  Node* Assignment() {
    Guard g(this);
    Node* lhs = Conditional();
    if (IsAssignOp(Peek())) {
      const Token& at = Next();
      Node* n = Make(N::kAssign, at);
      n->text = at.text;
      Add(n, lhs);
      Add(n, Assignment());
      return n;
    }
    return lhs;
  }

  Node* Conditional() {
    Node* c = Binary(0);
    if (IsP("?")) {
      const Token& at = Next();
      Node* n = Make(N::kTernary, at);
      Add(n, c);
      Add(n, Assignment());
      ExpectP(":");
      Add(n, Assignment());
      return n;
    }
    return c;
  }

  static int Precedence(const Token& tk) {
    if (tk.kind != Tok::kPunct) return -1;
    static const std::pair<const char*, int> table[] = {
        {"||", 0}, {"&&", 1}, {"|", 2}, {"^", 3},  {"&", 4},  {"==", 5},
        {"!=", 5}, {"<", 6},  {">", 6}, {"<=", 6}, {">=", 6}, {"<<", 7},
        {">>", 7}, {"+", 8},  {"-", 8}, {"*", 9},  {"/", 9},  {"%", 9}};
    for (auto& [op, prec] : table)
      if (tk.text == op) return prec;
    return -1;
  }

  // Precedence climbing: left-associative binary operators.
  Node* Binary(int min_prec) { return BinaryRest(Unary(), min_prec); }
  Node* BinaryRest(Node* lhs, int min_prec) {
    for (;;) {
      int prec = Precedence(Peek());
      if (prec < min_prec) return lhs;
      const Token& at = Next();
      Node* rhs = Unary();
      while (Precedence(Peek()) > prec) {
        Guard g(this);
        rhs = BinaryRest(rhs, Precedence(Peek()));
      }
      Node* n = Make(N::kBinary, at);
      n->text = at.text;
      Add(n, lhs);
      Add(n, rhs);
      lhs = n;
    }
  }

  Node* Unary() {
    Guard g(this);
    const Token& at = Peek();
    if (IsP("-") || IsP("+") || IsP("!") || IsP("~")) {
      Next();
      Node* n = Make(N::kUnary, at);
      n->text = at.text;
      Add(n, Unary());
      return n;
    }
    if (IsP("++") || IsP("--")) {
      Next();
      Node* n = Make(at.text == "++" ? N::kPreInc : N::kPreDec, at);
      Add(n, Unary());
      return n;
    }
    // Cast: '(' type [dims] ')' unary
    Type t;
    size_t ntok = 0;
    if (IsP("(") && TypeAt(1, &t, &ntok) && (IsP(")", 1 + ntok) || IsP("[", 1 + ntok))) {
      Next();
      t = ParseType();
      t = ArraySuffix(t);
      if (t.base == Base::kVoid) ErrorAt(at, "X3000", "cannot cast to void");
      ExpectP(")");
      Node* n = Make(N::kCast, at);
      n->type = t;
      Add(n, Unary());
      return n;
    }
    return Postfix(Primary());
  }

  Node* Postfix(Node* e) {
    for (;;) {
      const Token& at = Peek();
      if (IsP(".")) {
        Next();
        Node* n = Make(N::kMember, at);
        if (Peek().kind != Tok::kIdent) Unexpected();
        n->text = Next().text;
        Add(n, e);
        e = n;
      } else if (IsP("++") || IsP("--")) {
        Next();
        Node* n = Make(at.text == "++" ? N::kPostInc : N::kPostDec, at);
        Add(n, e);
        e = n;
      } else if (IsP("[")) {
        Next();
        Node* n = Make(N::kIndex, at);
        Add(n, e);
        Add(n, Expression());
        ExpectP("]");
        e = n;
      } else {
        return e;
      }
    }
  }

  Node* Primary() {
    const Token& at = Peek();
    if (at.kind == Tok::kInt) {
      Next();
      Node* n = Make(N::kIntLit, at);
      n->ival = at.ival;
      return n;
    }
    if (at.kind == Tok::kFloat) {
      Next();
      Node* n = Make(N::kFloatLit, at);
      n->fval = at.fval;
      return n;
    }
    if (IsP("(")) {
      Next();
      Node* e = Expression();
      ExpectP(")");
      return e;
    }
    if (at.kind == Tok::kIdent) {
      if (at.text == "true" || at.text == "false") {
        Next();
        Node* n = Make(N::kBoolLit, at);
        n->ival = at.text == "true";
        return n;
      }
      Type t;
      size_t ntok = 0;
      if (TypeAt(0, &t, &ntok)) {
        if (t.base == Base::kVoid) Unexpected();
        if (!IsP("(", ntok)) Unexpected();
        for (size_t i = 0; i < ntok; ++i) Next();
        Node* n = Make(N::kCtor, at);
        n->type = t;
        Arguments(n);
        return n;
      }
      if (IsKeyword(at.text)) Unexpected();
      Next();
      if (IsP("(")) {
        Node* n = Make(N::kCall, at);
        n->text = at.text;
        Arguments(n);
        return n;
      }
      Node* n = Make(N::kIdent, at);
      n->text = at.text;
      return n;
    }
    Unexpected();
  }

  void Arguments(Node* n) {
    ExpectP("(");
    if (AcceptP(")")) return;
    for (;;) {
      Add(n, Assignment());
      if (AcceptP(")")) return;
      ExpectP(",");
    }
  }
};

}  // namespace

void Parse(const std::vector<Token>& toks, Unit* unit, bool effect) {
  Parser(toks, unit, effect).Run();
}

}  // namespace vexa::shader
