// Syntax tree of a texture-shader source, built by the parser and read by the code generator.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "shader_lexer.h"

namespace vexa::shader {

enum class Base : uint8_t { kVoid, kBool, kInt, kFloat };

struct Type {
  Base base = Base::kVoid;
  uint8_t dim = 1;  // 1..4 components
  bool operator==(const Type&) const = default;
};

std::string TypeName(Type t);

enum class N : uint8_t {
  // expressions
  kIntLit,
  kFloatLit,
  kBoolLit,
  kIdent,
  kUnary,
  kBinary,
  kAssign,
  kTernary,
  kCall,
  kCtor,
  kCast,
  kMember,
  kPreInc,
  kPreDec,
  kPostInc,
  kPostDec,
  kComma,
  kIndex,
  // statements
  kBlock,
  kDeclGroup,
  kVarDecl,
  kExprStmt,
  kIf,
  kFor,
  kWhile,
  kDoWhile,
  kBreak,
  kContinue,
  kReturn,
  kEmpty,
  kDiscard
};

struct Node {
  N kind = N::kEmpty;
  int line = 0;
  int col = 0;
  std::string_view text;  // operator, identifier, member or callee name
  Type type;              // casts, constructors, declarations
  int64_t ival = 0;
  double fval = 0;
  bool is_const = false;
  bool is_static = false;
  uint16_t depth = 1;
  std::vector<Node*> kids;  // may hold nullptr for omitted parts (for-loop clauses)
};

enum class Qual : uint8_t { kIn, kOut, kInOut };

struct Param {
  std::string_view name;
  Type type;
  std::string_view semantic;
  Qual qual = Qual::kIn;
  int line = 0;
  int col = 0;
};

struct Function {
  std::string_view name;
  Type ret;
  std::string_view ret_semantic;
  std::vector<Param> params;
  Node* body = nullptr;  // nullptr: a prototype only
  int line = 0;
  int col = 0;
};

struct Unit {
  std::deque<Node> nodes;  // arena: stable addresses, no recursive destruction
  std::vector<Function> funcs;
  std::vector<Node*> globals;  // kVarDecl nodes in source order
};

constexpr int kMaxNesting = 256;
constexpr size_t kMaxNodes = 200000;
constexpr int kMaxTreeDepth = 512;

// Parses the tokens into `unit`. Throws CompileError.
void Parse(const std::vector<Token>& toks, Unit* unit);

}  // namespace vexa::shader
