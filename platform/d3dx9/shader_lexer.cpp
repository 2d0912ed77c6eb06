// HLSL lexer: identifiers, numbers with suffixes and exponents, strings, every operator, comments.
#include "d3dx9/shader_lexer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace vexa::shader {

namespace {

bool IsIdentStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Longest first, so "<<=" wins over "<<" and "<".
const char* const kPuncts[] = {
    "<<=", ">>=", "++", "--", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<", ">>", "<=",
    ">=",  "==",  "!=", "&&", "||", "::", "+",  "-",  "*",  "/",  "%",  "<",  ">",  "=",  "!",
    "~",   "&",   "|",  "^",  "?",  ":",  ";",  ",",  ".",  "(",  ")",  "{",  "}",  "[",  "]"};

[[noreturn]] void Fail(int line, int col, const std::string& text) {
  throw CompileError{line, col, "X3000", text};
}

}  // namespace

namespace {

// Scans text into tokens. For the main source it also runs the directives and expands macros;
// macro bodies are scanned as they are and expanded where they are used.
class Scanner {
 public:
  std::unordered_map<std::string_view, std::vector<Token>> macros;
  std::vector<Token> out;

  void Push(const Token& t, int depth) {
    if (t.kind == Tok::kIdent) {
      auto it = macros.find(t.text);
      if (it != macros.end() &&
          std::find(active_.begin(), active_.end(), t.text) == active_.end()) {
        if (depth >= 32) Fail(t.line, t.col, "macro expansion is nested too deeply");
        active_.push_back(t.text);
        const std::vector<Token> body = it->second;
        for (Token b : body) {
          b.line = t.line;
          b.col = t.col;
          Push(b, depth + 1);
        }
        active_.pop_back();
        return;
      }
    }
    if (out.size() >= kMaxTokens) Fail(t.line, t.col, "source has too many tokens");
    out.push_back(t);
  }

  void Scan(std::string_view src, bool main, std::vector<Token>* raw);

 private:
  std::vector<std::string_view> active_;
  void Directive(std::string_view text, int line, int col);
  // #ifdef / #ifndef nesting: whether each level's current branch is taken, and whether an
  // #else was seen.
  struct Cond {
    bool taken;
    bool parent;
    bool seen_else;
    int line, col;
  };
  std::vector<Cond> conds_;
  bool Active() const { return conds_.empty() || (conds_.back().taken && conds_.back().parent); }
};

void Scanner::Directive(std::string_view text, int line, int col) {
  size_t p = 1;  // past '#'
  auto blanks = [&] {
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
  };
  auto ident = [&]() -> std::string_view {
    size_t s = p;
    while (p < text.size() && (IsIdentStart(text[p]) || (p > s && IsDigit(text[p])))) ++p;
    return text.substr(s, p - s);
  };
  blanks();
  std::string_view name = ident();
  if (name == "ifdef" || name == "ifndef") {
    blanks();
    std::string_view macro = ident();
    if (macro.empty()) Fail(line, col, "#" + std::string(name) + " needs a macro name");
    if (conds_.size() >= 64) Fail(line, col, "conditional directives nested too deeply");
    const bool defined = macros.count(macro) != 0;
    conds_.push_back(Cond{name == "ifdef" ? defined : !defined, Active(), false, line, col});
    return;
  }
  if (name == "else" || name == "endif") {
    if (conds_.empty()) Fail(line, col, "#" + std::string(name) + " without #ifdef");
    if (name == "endif") {
      conds_.pop_back();
    } else {
      if (conds_.back().seen_else) Fail(line, col, "#else after #else");
      conds_.back().seen_else = true;
      conds_.back().taken = !conds_.back().taken;
    }
    return;
  }
  if (!Active()) return;  // other directives of a branch not taken are skipped
  if (name == "if" || name == "elif")
    Fail(line, col, "#" + std::string(name) + " is not supported (use #ifdef / #ifndef)");
  if (name == "pragma" || name.empty()) return;
  if (name == "define" || name == "undef") {
    blanks();
    std::string_view macro = ident();
    if (macro.empty()) Fail(line, col, "#" + std::string(name) + " needs a macro name");
    if (name == "undef") {
      macros.erase(macro);
      return;
    }
    if (p < text.size() && text[p] == '(')
      Fail(line, col, "function-like macros are not supported");
    std::vector<Token> body;
    try {
      Scan(text.substr(p), false, &body);
    } catch (CompileError& e) {
      e.line = line;  // report problems in the body at the directive
      e.col = col;
      throw;
    }
    macros[macro] = std::move(body);
    return;
  }
  Fail(line, col, "preprocessor directive '#" + std::string(name) + "' is not supported");
}

void Scanner::Scan(std::string_view src, bool main, std::vector<Token>* raw) {
  auto emit = [&](const Token& t) {
    if (main && !Active()) return;
    if (main) {
      Push(t, 0);
    } else {
      if (raw->size() >= kMaxTokens) Fail(t.line, t.col, "source has too many tokens");
      raw->push_back(t);
    }
  };
  size_t i = 0;
  int line = 1, col = 1;
  bool line_start = true;  // only blanks so far on this line
  auto advance = [&](size_t n) {
    for (size_t k = 0; k < n && i < src.size(); ++k, ++i) {
      if (src[i] == '\n') {
        ++line;
        col = 1;
        line_start = true;
      } else {
        ++col;
      }
    }
  };
  while (i < src.size()) {
    char c = src[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
      advance(1);
      continue;
    }
    if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
      while (i < src.size() && src[i] != '\n') advance(1);
      continue;
    }
    if (c == '/' && i + 1 < src.size() && src[i + 1] == '*') {
      int l0 = line, c0 = col;
      advance(2);
      while (i < src.size() && !(src[i] == '*' && i + 1 < src.size() && src[i + 1] == '/'))
        advance(1);
      if (i >= src.size()) Fail(l0, c0, "unterminated comment");
      advance(2);
      continue;
    }
    if (c == '#' && line_start && main) {
      // The directive runs to the end of the line (no continuation lines).
      size_t j = i;
      while (j < src.size() && src[j] != '\n') ++j;
      const int l0 = line, c0 = col;
      std::string_view view = src.substr(i, j - i);
      Directive(view, l0, c0);
      advance(j - i);
      continue;
    }
    if (c == '#') Fail(line, col, "unexpected character '#'");
    line_start = false;
    Token t;
    t.line = line;
    t.col = col;
    size_t start = i;
    if (IsIdentStart(c)) {
      size_t j = i;
      while (j < src.size() && (IsIdentStart(src[j]) || IsDigit(src[j]))) ++j;
      t.kind = Tok::kIdent;
      t.text = src.substr(start, j - start);
      advance(j - i);
      emit(t);
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < src.size() && IsDigit(src[i + 1]))) {
      size_t j = i;
      bool is_float = false;
      if (c == '0' && j + 1 < src.size() && (src[j + 1] == 'x' || src[j + 1] == 'X')) {
        j += 2;
        size_t digits = j;
        uint64_t v = 0;
        while (j < src.size() && IsHex(src[j])) {
          char h = src[j];
          int d = IsDigit(h) ? h - '0' : (h | 0x20) - 'a' + 10;
          v = (v << 4) | uint64_t(d);
          if (v > 0xFFFFFFFFull) Fail(line, col, "integer constant is too large");
          ++j;
        }
        if (j == digits) Fail(line, col, "bad hexadecimal constant");
        t.ival = int64_t(v);
      } else {
        while (j < src.size() && IsDigit(src[j])) ++j;
        if (j < src.size() && src[j] == '.') {
          is_float = true;
          ++j;
          while (j < src.size() && IsDigit(src[j])) ++j;
        }
        if (j < src.size() && (src[j] == 'e' || src[j] == 'E')) {
          size_t k = j + 1;
          if (k < src.size() && (src[k] == '+' || src[k] == '-')) ++k;
          if (k < src.size() && IsDigit(src[k])) {
            is_float = true;
            j = k;
            while (j < src.size() && IsDigit(src[j])) ++j;
          } else {
            Fail(line, col, "bad exponent in floating-point constant");
          }
        }
        std::string digits(src.substr(start, j - start));
        if (is_float) {
          t.fval = std::strtod(digits.c_str(), nullptr);
        } else {
          // Leading zero means octal, as in C.
          bool octal = digits.size() > 1 && digits[0] == '0';
          uint64_t v = 0;
          for (char d : digits) {
            if (octal && d > '7') Fail(line, col, "bad octal constant");
            v = v * (octal ? 8 : 10) + uint64_t(d - '0');
            if (v > 0xFFFFFFFFull) Fail(line, col, "integer constant is too large");
          }
          t.ival = int64_t(v);
        }
      }
      // Suffixes: f/h/l on floats (and on integers, making them floats), u/l on integers.
      if (j < src.size()) {
        char s = src[j];
        if (s == 'f' || s == 'F' || s == 'h' || s == 'H') {
          if (!is_float) t.fval = double(t.ival);
          is_float = true;
          ++j;
        } else if (s == 'l' || s == 'L') {
          ++j;
        } else if (!is_float && (s == 'u' || s == 'U')) {
          ++j;
          if (j < src.size() && (src[j] == 'l' || src[j] == 'L')) ++j;
        }
      }
      if (j < src.size() && (IsIdentStart(src[j]) || IsDigit(src[j])))
        Fail(line, col, "bad suffix on numeric constant");
      t.kind = is_float ? Tok::kFloat : Tok::kInt;
      if (is_float && !(std::fabs(t.fval) <= 3.4028234663852886e38))
        Fail(line, col, "floating-point constant is out of range");
      t.text = src.substr(start, j - start);
      advance(j - i);
      emit(t);
      continue;
    }
    if (c == '"') {  // string literal, on one line, with \" and \\ escapes
      size_t j = i + 1;
      while (j < src.size() && src[j] != '"' && src[j] != '\n')
        j += (src[j] == '\\' && j + 1 < src.size() && src[j + 1] != '\n') ? 2 : 1;
      if (j >= src.size() || src[j] != '"') Fail(line, col, "unterminated string");
      t.kind = Tok::kString;
      t.text = src.substr(start, j + 1 - start);
      advance(j + 1 - i);
      emit(t);
      continue;
    }
    bool matched = false;
    for (const char* p : kPuncts) {
      std::string_view ps(p);
      if (src.substr(i, ps.size()) == ps) {
        t.kind = Tok::kPunct;
        t.text = src.substr(i, ps.size());
        advance(ps.size());
        emit(t);
        matched = true;
        break;
      }
    }
    if (!matched) {
      unsigned char u = static_cast<unsigned char>(c);
      char buf[64];
      if (u >= 32 && u < 127)
        std::snprintf(buf, sizeof buf, "unexpected character '%c'", c);
      else
        std::snprintf(buf, sizeof buf, "unexpected character 0x%02X", u);
      Fail(line, col, buf);
    }
  }
  if (main && !conds_.empty()) Fail(conds_.back().line, conds_.back().col, "#ifdef without #endif");
  if (main) {
    Token end;
    end.kind = Tok::kEnd;
    end.line = line;
    end.col = col;
    out.push_back(end);
  }
}

}  // namespace

std::vector<Token> Lex(std::string_view src, const std::vector<Define>& defines) {
  Scanner scanner;
  for (const Define& d : defines) {
    if (d.name.empty() || !IsIdentStart(d.name[0])) continue;
    std::vector<Token> body;
    scanner.Scan(d.body, false, &body);
    scanner.macros[d.name] = std::move(body);
  }
  scanner.Scan(src, true, nullptr);
  return std::move(scanner.out);
}

}  // namespace vexa::shader
