// Recursive-descent HLSL parser with bounded nesting, node count and tree depth.
#include <algorithm>
#include <cstdio>

#include "d3dx9/shader_ast.h"

namespace vexa::shader {

std::string TypeName(Type t) {
  const char* b = t.base == Base::kFloat  ? "float"
                  : t.base == Base::kInt  ? "int"
                  : t.base == Base::kBool ? "bool"
                                          : "void";
  std::string s = b;
  if (t.base != Base::kVoid && t.dim > 1) s += char('0' + t.dim);
  return s;
}

namespace {

class Parser {
 public:
  Parser(const std::vector<Token>& toks, Unit* unit) : t_(toks), u_(unit) {}

  void Run() {
    while (Peek().kind != Tok::kEnd) TopLevel();
  }

 private:
  const std::vector<Token>& t_;
  Unit* u_;
  size_t p_ = 0;
  int nesting_ = 0;

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
    static const char* const kw[] = {"if",    "else",     "for",    "while",   "do",
                                     "break", "continue", "return", "discard", "static",
                                     "const", "uniform",  "extern", "in",      "out",
                                     "inout", "true",     "false",  "struct",  "typedef",
                                     "void",  "inline",   "switch", "case",    "default"};
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

  // Type names: void, bool, int, uint, dword, half, float, double, with 1..4 suffixes.
  bool TypeAt(size_t k, Type* out, bool* matrix = nullptr) const {
    const Token& tk = Peek(k);
    if (tk.kind != Tok::kIdent) return false;
    std::string_view s = tk.text;
    if (s == "void") return *out = Type{Base::kVoid, 1}, true;
    static const std::pair<const char*, Base> bases[] = {
        {"float", Base::kFloat}, {"half", Base::kFloat}, {"double", Base::kFloat},
        {"int", Base::kInt},     {"uint", Base::kInt},   {"dword", Base::kInt},
        {"bool", Base::kBool}};
    for (auto& [name, base] : bases) {
      std::string_view n(name);
      if (s.substr(0, n.size()) != n) continue;
      std::string_view rest = s.substr(n.size());
      if (rest.empty()) return *out = Type{base, 1}, true;
      if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '4')
        return *out = Type{base, uint8_t(rest[0] - '0')}, true;
      if (rest.size() == 3 && rest[0] >= '1' && rest[0] <= '4' && rest[1] == 'x' &&
          rest[2] >= '1' && rest[2] <= '4') {
        if (matrix) *matrix = true;
        return true;
      }
    }
    return false;
  }
  Type ParseType() {
    Type t;
    bool matrix = false;
    if (!TypeAt(0, &t, &matrix)) Unexpected();
    if (matrix) ErrorAt(Peek(), "X3000", "matrix types are not supported by tx_1_0");
    Next();
    return t;
  }
  bool AtType() const {
    Type t;
    return TypeAt(0, &t);
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

  void TopLevel() {
    if (AcceptP(";")) return;
    const Token& start = Peek();
    if (IsId("struct") || IsId("typedef")) ErrorAt(start, "X3000", "structures are not supported");
    bool is_static = false, is_const = false, uniform = false;
    for (;;) {
      if (IsId("static"))
        is_static = true;
      else if (IsId("const"))
        is_const = true;
      else if (IsId("uniform") || IsId("extern"))
        uniform = true;
      else if (!IsId("inline"))
        break;
      Next();
    }
    if (is_static && uniform) ErrorAt(start, "X3000", "'static' and 'uniform' cannot be combined");
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
    for (;;) {
      Node* d = Make(N::kVarDecl, name_tok);
      d->text = name;
      d->type = type;
      d->is_const = is_const || uniform || !is_static;  // uniforms are read-only
      d->is_static = is_static;
      if (IsP("[")) ErrorAt(Peek(), "X3000", "arrays are not supported");
      if (AcceptP(":")) ExpectIdent();  // register or semantic annotations are ignored
      if (AcceptP("=")) Add(d, Assignment());
      u_->globals.push_back(d);
      if (!AcceptP(",")) break;
      name = ExpectIdent();
    }
    ExpectP(";");
  }

  void ParseFunction(Function* f) {
    ExpectP("(");
    if (IsId("void") && IsP(")", 1)) Next();
    if (!IsP(")")) {
      for (;;) {
        Param p;
        if (IsId("in"))
          Next();
        else if (IsId("out"))
          Next(), p.qual = Qual::kOut;
        else if (IsId("inout"))
          Next(), p.qual = Qual::kInOut;
        else if (IsId("uniform"))
          ErrorAt(Peek(), "X3000", "uniform parameters are not supported");
        if (IsId("const")) Next();
        p.line = Peek().line;
        p.col = Peek().col;
        p.type = ParseType();
        if (p.type.base == Base::kVoid) ErrorAt(Peek(), "X3000", "parameters cannot be void");
        p.name = ExpectIdent();
        if (AcceptP(":")) p.semantic = ExpectIdent();
        if (IsP("=") || IsP("[")) Unexpected();
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
    }
    return SimpleStatement();
  }

  // A declaration or an expression, ending with ';' (consumed).
  Node* SimpleStatement() {
    const Token& at = Peek();
    bool is_const = false, is_static = false;
    while (IsId("const") || IsId("static")) {
      if (IsId("const"))
        is_const = true;
      else
        is_static = true;
      Next();
    }
    if (is_const || is_static || (AtType() && Peek(1).kind == Tok::kIdent)) {
      Type type = ParseType();
      if (type.base == Base::kVoid) ErrorAt(at, "X3000", "variables cannot be of type void");
      Node* group = Make(N::kDeclGroup, at);
      for (;;) {
        const Token& nt = Peek();
        Node* d = Make(N::kVarDecl, nt);
        d->text = ExpectIdent();
        d->type = type;
        d->is_const = is_const;
        d->is_static = is_static;
        if (IsP("[")) ErrorAt(Peek(), "X3000", "arrays are not supported");
        if (AcceptP("=")) Add(d, Assignment());
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
    // Cast: '(' type ')' unary
    Type t;
    if (IsP("(") && TypeAt(1, &t) && IsP(")", 2)) {
      Next();
      t = ParseType();
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
      bool matrix = false;
      if (TypeAt(0, &t, &matrix)) {
        if (matrix) ErrorAt(at, "X3000", "matrix types are not supported by tx_1_0");
        if (t.base == Base::kVoid) Unexpected();
        Next();
        if (!IsP("(")) Unexpected();
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

void Parse(const std::vector<Token>& toks, Unit* unit) {
  Parser(toks, unit).Run();
}

}  // namespace vexa::shader
