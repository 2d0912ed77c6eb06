// Syntax tree of an HLSL source, built by the parser and read by the code generators (texture
// shaders, vertex and pixel shaders).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "shader_lexer.h"

namespace vexa::shader {

enum class Base : uint8_t { kVoid, kBool, kInt, kFloat, kSampler, kStruct, kTexture };

enum class SamplerKind : uint8_t { kGeneric, k1D, k2D, k3D, kCube };

struct Type {
  Base base = Base::kVoid;
  uint8_t dim = 1;      // 1..4 components; the columns of a matrix
  uint8_t rows = 0;     // matrices: 1..4 rows; 0 for scalars and vectors
  uint8_t sampler = 0;  // kSampler: SamplerKind
  int16_t strct = -1;   // kStruct: index into Unit::structs
  uint16_t array = 0;   // elements of an array; 0 when not an array
  bool operator==(const Type&) const = default;

  bool IsArray() const { return array != 0; }
  bool IsNumeric() const {
    return array == 0 && (base == Base::kBool || base == Base::kInt || base == Base::kFloat);
  }
  bool IsMatrix() const { return IsNumeric() && rows != 0; }
  // A scalar or vector of bool, int or float: all the texture-shader language has.
  bool IsPlain() const { return IsNumeric() && rows == 0; }
  Type Element() const {
    Type t = *this;
    t.array = 0;
    return t;
  }
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
  kDiscard,
  // initialiser lists: { a, b, ... }
  kInitList
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
  bool is_uniform = false;    // declared uniform or extern
  uint8_t packing = 0;        // matrices: kRowMajor or kColumnMajor when declared
  std::string_view semantic;  // declarations: ": NAME"
  std::string_view reg;       // declarations: the register of ": register(c4)"
  uint16_t depth = 1;
  std::vector<Node*> kids;  // may hold nullptr for omitted parts (for-loop clauses)
};

constexpr uint8_t kRowMajor = 1;
constexpr uint8_t kColumnMajor = 2;

enum class Qual : uint8_t { kIn, kOut, kInOut };

struct Param {
  std::string_view name;
  Type type;
  std::string_view semantic;
  Qual qual = Qual::kIn;
  bool is_uniform = false;
  uint8_t packing = 0;
  int line = 0;
  int col = 0;
};

struct Member {
  std::string_view name;
  Type type;
  std::string_view semantic;
  uint8_t packing = 0;
  int line = 0;
  int col = 0;
};

struct StructDef {
  std::string_view name;
  std::vector<Member> members;
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

// --- Effects ----------------------------------------------------------------------------------
// What an effect adds around the shader code: annotations, sampler_state blocks and techniques.
// The parser keeps them only when asked to (ID3DXEffect); compiling a shader skips them.

// The right-hand side of a state assignment.
struct EffectValue {
  enum Kind : uint8_t { kExpr, kRef, kCompile } kind = kExpr;
  Node* expr = nullptr;      // kExpr: an expression or an initialiser list
  std::string_view name;     // kRef: the parameter of <name>; kCompile: the entry function
  std::string_view profile;  // kCompile
  std::vector<Node*> args;   // kCompile: the arguments given to the entry's uniform parameters
  int line = 0;
  int col = 0;
};

// < type name = value; >. String values keep their quotes in `str`.
struct Annotation {
  std::string_view name;
  Type type;
  bool is_string = false;
  std::string_view str;
  Node* value = nullptr;
  int line = 0;
  int col = 0;
};

// Name = value; or Name[index] = value;
struct StateAssignment {
  std::string_view name;
  int index = -1;
  EffectValue value;
  int line = 0;
  int col = 0;
};

// A global's effect-level extras (one per global declarator when they are kept).
struct EffectGlobal {
  const Node* decl = nullptr;
  std::string_view type_name;  // as written: "texture2D", "sampler2D", ...
  std::vector<Annotation> annotations;
  bool has_sampler_state = false;
  std::vector<StateAssignment> states;  // sampler_state { ... }
  // Strings and shaders exist in effects only: such globals are never in Unit::globals (their
  // decl has type void, with the array size of a shader array).
  enum Object : uint8_t { kNone, kString, kVertexShader, kPixelShader } object = kNone;
  std::string_view str;              // kString: the initial literal with its quotes, if any
  std::vector<EffectValue> shaders;  // shaders: the value of each element, if initialised
};

struct PassDef {
  std::string_view name;
  std::vector<Annotation> annotations;
  std::vector<StateAssignment> states;
  int line = 0;
  int col = 0;
};

struct TechniqueDef {
  std::string_view name;
  std::vector<Annotation> annotations;
  std::vector<PassDef> passes;
  int line = 0;
  int col = 0;
};

struct Unit {
  std::deque<Node> nodes;  // arena: stable addresses, no recursive destruction
  std::vector<Function> funcs;
  std::vector<Node*> globals;  // kVarDecl nodes in source order
  std::vector<StructDef> structs;
  // Kept only by an effect parse.
  std::vector<EffectGlobal> effect_globals;
  std::vector<TechniqueDef> techniques;
};

constexpr int kMaxNesting = 256;
constexpr int kMaxArray = 65536;  // elements of one array
constexpr size_t kMaxNodes = 200000;
constexpr int kMaxTreeDepth = 512;

// Parses the tokens into `unit`; `effect` keeps annotations, sampler states and techniques, which
// are otherwise skipped. Throws CompileError.
void Parse(const std::vector<Token>& toks, Unit* unit, bool effect = false);

}  // namespace vexa::shader
