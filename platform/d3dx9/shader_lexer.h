// Tokens of HLSL source.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::shader {

enum class Tok : uint8_t { kIdent, kInt, kFloat, kPunct, kString, kEnd };

struct Token {
  Tok kind = Tok::kEnd;
  std::string_view text;  // points into the source (strings: with their quotes)
  int line = 1;
  int col = 1;
  int64_t ival = 0;
  double fval = 0;
};

// A compile error (or limit) at a source position; the message text excludes the location.
struct CompileError {
  int line = 0;  // 0: no position
  int col = 0;
  std::string code;  // "X3000"
  std::string text;
};

constexpr size_t kMaxSourceBytes = 1 << 20;
constexpr size_t kMaxTokens = 200000;

// An object-like macro given to the compiler; the strings must outlive the tokens.
struct Define {
  std::string_view name;
  std::string_view body;
};

// Splits src into tokens, ending with one kEnd token. Object-like macros (#define, #undef, and
// `defines`) are expanded; #ifdef, #ifndef, #else and #endif select lines; #pragma lines are
// ignored; other directives are refused. Throws
// CompileError on a bad character, an unterminated comment or too many tokens.
std::vector<Token> Lex(std::string_view src, const std::vector<Define>& defines = {});

}  // namespace vexa::shader
