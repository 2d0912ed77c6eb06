// The tx_1_0 compiler and interpreter without a device: language features, intrinsics against
// their C++ values, error messages, and hostile sources.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "../../platform/d3dx9/shader_compiler.h"
#include "../../platform/d3dx9/shader_lexer.h"
#include "../../platform/d3dx9/shader_vm.h"

using namespace vexa::shader;

namespace {

using Vec4 = std::array<float, 4>;

// Compiles `src` with entry "main" and evaluates one texel at (x, y) with PSIZE (sx, sy).
::testing::AssertionResult Eval(const std::string& src, Vec4* out, float x = 0.25f, float y = 0.75f,
                                float sx = 1 / 64.f, float sy = 1 / 32.f,
                                std::string* messages = nullptr) {
  CompileOutput c = Compile(src, "main", "tx_1_0");
  if (messages) *messages = c.messages;
  if (!c.ok) return ::testing::AssertionFailure() << "compile failed: " << c.messages;
  Program p;
  std::string why;
  if (!Decode(c.code.data(), c.code.size() * 4, &p, &why))
    return ::testing::AssertionFailure() << "compiler output refused: " << why;
  Machine m(p);
  if (!m.Init()) return ::testing::AssertionFailure() << "init ran out of budget";
  int64_t budget = kFillBudget;
  float o[4];
  if (!m.Texel(x, y, sx, sy, o, &budget)) return ::testing::AssertionFailure() << "texel failed";
  *out = {o[0], o[1], o[2], o[3]};
  return ::testing::AssertionSuccess();
}

// Wraps statements into an entry point taking p : POSITION.
std::string Body(const std::string& stmts) {
  return "float4 main(float2 p : POSITION) : COLOR\n{\n" + stmts + "\n}\n";
}

std::string ErrorOf(const std::string& src, const char* entry = "main",
                    const char* profile = "tx_1_0") {
  CompileOutput c = Compile(src, entry, profile);
  EXPECT_FALSE(c.ok) << src;
  EXPECT_TRUE(c.code.empty());
  return c.messages;
}

// One message line: optional "memory(LINE,COL): ", then "error XNNNN: text\n".
bool IsMessageLine(const std::string& m) {
  size_t i = 0;
  auto digits = [&] {
    size_t start = i;
    while (i < m.size() && m[i] >= '0' && m[i] <= '9') ++i;
    return i > start;
  };
  auto literal = [&](const char* s) {
    size_t n = std::strlen(s);
    if (m.compare(i, n, s) != 0) return false;
    i += n;
    return true;
  };
  if (literal("memory(")) {
    if (!digits() || !literal(",") || !digits() || !literal("): ")) return false;
  }
  if (!literal("error X") || !digits() || i != m.find(':', i) || !literal(": ")) return false;
  const size_t text = i;
  const size_t nl = m.find('\n', text);
  return nl != std::string::npos && nl > text && nl + 1 == m.size() &&
         m.find("error X", text) == std::string::npos;
}

void ExpectVec(const Vec4& got, const Vec4& want, float tol = 1e-6f) {
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], tol) << "component " << i;
}

}  // namespace

// --- the demo's shader --------------------------------------------------------------------------

TEST(ShaderCompiler, DemoSourceEvaluatesItsFormula) {
  const char* lines[] = {"// Sinus/Cos Demo",
                         "// float2 a: POSITION = Texturposition, a.x and a.y ",
                         "// float4 = color (r,g,b,a)",
                         "// r = sin(length(a) * 100.0) * 0.5 + 0.5",
                         "// g=sin(a.y * 50.0)",
                         "// b=cos(a.x * 50.0)",
                         "// a=0",
                         "",
                         "float4 Testout(float2 a: POSITION ) : COLOR",
                         "  {",
                         "    return float4(sin(length(a) * 10.0) * 0.5 + 0.5, sin(a.y * 5.0), "
                         "cos(a.x * 5.0), 1);",
                         "",
                         "  };"};
  std::string src;
  for (const char* l : lines) src += std::string(l) + "\n";
  CompileOutput c = Compile(src, "Testout", "tx_1_0");
  ASSERT_TRUE(c.ok) << c.messages;
  EXPECT_EQ(c.messages, "");
  Program p;
  std::string why;
  ASSERT_TRUE(Decode(c.code.data(), c.code.size() * 4, &p, &why)) << why;
  Machine m(p);
  ASSERT_TRUE(m.Init());
  int64_t budget = kFillBudget;
  for (float x : {0.0078125f, 0.3f, 0.77f, 0.99f}) {
    for (float y : {0.0078125f, 0.5f, 0.9f}) {
      float o[4];
      ASSERT_TRUE(m.Texel(x, y, 1 / 64.f, 1 / 64.f, o, &budget));
      EXPECT_NEAR(o[0], std::sin(std::sqrt(x * x + y * y) * 10.f) * 0.5f + 0.5f, 1e-5f);
      EXPECT_NEAR(o[1], std::sin(y * 5.f), 1e-5f);
      EXPECT_NEAR(o[2], std::cos(x * 5.f), 1e-5f);
      EXPECT_EQ(o[3], 1.f);
    }
  }
}

// --- intrinsics --------------------------------------------------------------------------------

struct Unary {
  const char* name;
  float (*f)(float);
  float lo, hi;  // input range
};

TEST(ShaderIntrinsics, ComponentWiseOneArgumentMatchesCpp) {
  const Unary table[] = {
      {"abs", [](float x) { return std::fabs(x); }, -3, 3},
      {"sin", [](float x) { return std::sin(x); }, -4, 4},
      {"cos", [](float x) { return std::cos(x); }, -4, 4},
      {"tan", [](float x) { return std::tan(x); }, -1.2f, 1.2f},
      {"asin", [](float x) { return std::asin(x); }, -1, 1},
      {"acos", [](float x) { return std::acos(x); }, -1, 1},
      {"atan", [](float x) { return std::atan(x); }, -5, 5},
      {"sqrt", [](float x) { return std::sqrt(x); }, 0, 9},
      {"rsqrt", [](float x) { return 1.f / std::sqrt(x); }, 0.1f, 9},
      {"exp", [](float x) { return std::exp(x); }, -3, 3},
      {"exp2", [](float x) { return std::exp2(x); }, -3, 3},
      {"log", [](float x) { return std::log(x); }, 0.1f, 9},
      {"log2", [](float x) { return std::log2(x); }, 0.1f, 9},
      {"log10", [](float x) { return std::log10(x); }, 0.1f, 9},
      {"floor", [](float x) { return std::floor(x); }, -3, 3},
      {"ceil", [](float x) { return std::ceil(x); }, -3, 3},
      {"frac", [](float x) { return x - std::floor(x); }, -3, 3},
      {"trunc", [](float x) { return std::trunc(x); }, -3, 3},
      {"saturate", [](float x) { return std::fmin(std::fmax(x, 0.f), 1.f); }, -2, 2},
      {"sign", [](float x) { return x > 0   ? 1.f
                                    : x < 0 ? -1.f
                                            : 0.f; }, -2, 2},
      {"length", [](float x) { return std::fabs(x); }, -2, 2},
      {"radians", [](float x) { return x * 0.01745329252f; }, -180, 180},
      {"degrees", [](float x) { return x * 57.29577951f; }, -3, 3},
  };
  for (const Unary& u : table) {
    SCOPED_TRACE(u.name);
    std::string src =
        Body(std::string("return float4(") + u.name + "(p.x), " + u.name + "(p.y), 0, 1);");
    for (int i = 0; i <= 6; ++i) {
      float x = u.lo + (u.hi - u.lo) * float(i) / 6.f;
      float y = u.lo + (u.hi - u.lo) * float(6 - i) / 7.f;
      Vec4 o;
      ASSERT_TRUE(Eval(src, &o, x, y));
      float wx = u.f(x), wy = u.f(y);
      EXPECT_NEAR(o[0], wx, 2e-6f * std::fmax(1.f, std::fabs(wx))) << "x=" << x;
      EXPECT_NEAR(o[1], wy, 2e-6f * std::fmax(1.f, std::fabs(wy))) << "y=" << y;
    }
  }
}

TEST(ShaderIntrinsics, ComponentWiseSeveralArgumentsMatchCpp) {
  struct Case {
    const char* expr;
    float (*f)(float, float);
  };
  const Case table[] = {
      {"atan2(p.x, p.y)", [](float x, float y) { return std::atan2(x, y); }},
      {"pow(abs(p.x), p.y)", [](float x, float y) { return std::pow(std::fabs(x), y); }},
      {"fmod(p.x, p.y)", [](float x, float y) { return std::fmod(x, y); }},
      {"min(p.x, p.y)", [](float x, float y) { return std::fmin(x, y); }},
      {"max(p.x, p.y)", [](float x, float y) { return std::fmax(x, y); }},
      {"step(p.x, p.y)", [](float x, float y) { return y >= x ? 1.f : 0.f; }},
      {"distance(p.x, p.y)", [](float x, float y) { return std::fabs(x - y); }},
      {"clamp(p.x, -0.5, p.y)", [](float x, float y) { return std::fmin(std::fmax(x, -0.5f), y); }},
      {"lerp(p.x, p.y, 0.25)", [](float x, float y) { return x + 0.25f * (y - x); }},
      {"mad(p.x, p.y, 0.5)", [](float x, float y) { return x * y + 0.5f; }},
      {"smoothstep(-1.0, 2.0, p.x + p.y)",
       [](float x, float y) {
         float t = std::fmin(std::fmax((x + y + 1.f) / 3.f, 0.f), 1.f);
         return t * t * (3.f - 2.f * t);
       }},
  };
  const float xs[] = {-2.5f, -0.75f, 0.3f, 1.6f};
  const float ys[] = {1.5f, -0.4f, 2.25f, 0.6f};
  for (const Case& c : table) {
    SCOPED_TRACE(c.expr);
    std::string src = Body(std::string("return float4(") + c.expr + ", 0, 0, 1);");
    for (float x : xs) {
      for (float y : ys) {
        Vec4 o;
        ASSERT_TRUE(Eval(src, &o, x, y));
        float want = c.f(x, y);
        EXPECT_NEAR(o[0], want, 2e-6f * std::fmax(1.f, std::fabs(want))) << x << "," << y;
      }
    }
  }
}

TEST(ShaderIntrinsics, VectorIntrinsicsMatchCpp) {
  Vec4 o;
  const float x = 0.3f, y = -1.7f;
  ASSERT_TRUE(Eval(Body("float3 v = float3(p, 2);"
                        "return float4(length(v), dot(v, float3(1, -2, 0.5)), distance(v, 1), "
                        "length(p));"),
                   &o, x, y));
  EXPECT_NEAR(o[0], std::sqrt(x * x + y * y + 4.f), 1e-6f);
  EXPECT_NEAR(o[1], x - 2 * y + 1.f, 1e-6f);
  EXPECT_NEAR(o[2], std::sqrt((x - 1) * (x - 1) + (y - 1) * (y - 1) + 1.f), 1e-6f);
  EXPECT_NEAR(o[3], std::sqrt(x * x + y * y), 1e-6f);

  ASSERT_TRUE(Eval(Body("return float4(cross(float3(p, 1), float3(2, 3, p.x)), 1);"), &o, x, y));
  ExpectVec(o, {y * x - 1 * 3, 1 * 2 - x * x, x * 3 - y * 2, 1});

  ASSERT_TRUE(Eval(Body("return float4(normalize(float3(p, 2)), 0);"), &o, x, y));
  float len = std::sqrt(x * x + y * y + 4);
  ExpectVec(o, {x / len, y / len, 2 / len, 0}, 1e-6f);

  ASSERT_TRUE(Eval(Body("return float4(any(float3(0, p.x, 0)), all(float2(1, p.y)), "
                        "all(float2(0, 1)), any(0.0));"),
                   &o, 0.5f, 2.f));
  ExpectVec(o, {1, 1, 0, 0});
}

TEST(ShaderIntrinsics, NoiseIsBoundedSmoothAndZeroOnTheLattice) {
  // 1 to 3 dimensions through the language.
  Vec4 o;
  ASSERT_TRUE(
      Eval(Body("return float4(noise(p.x), noise(p), noise(float3(p, 3)), 0);"), &o, 2.f, 5.f));
  ExpectVec(o, {0, 0, 0, 0});
  ASSERT_TRUE(Eval(Body("return float4(noise(p.x), noise(p), noise(float3(p, 0.37)), 0);"), &o,
                   1.37f, 4.61f));
  EXPECT_FLOAT_EQ(o[0], Noise1(1.37f));
  EXPECT_FLOAT_EQ(o[1], Noise2(1.37f, 4.61f));
  EXPECT_FLOAT_EQ(o[2], Noise3(1.37f, 4.61f, 0.37f));
  // Bounded, not constant, continuous.
  float lo = 0, hi = 0;
  for (int i = 0; i < 4000; ++i) {
    float x = float(i) * 0.0137f - 20.f, y = float(i % 97) * 0.071f, z = float(i % 13) * 0.31f;
    for (float v : {Noise1(x), Noise2(x, y), Noise3(x, y, z)}) {
      ASSERT_GE(v, -1.f);
      ASSERT_LE(v, 1.f);
      lo = std::fmin(lo, v);
      hi = std::fmax(hi, v);
    }
    EXPECT_NEAR(Noise3(x, y, z), Noise3(x + 1e-4f, y, z), 2e-3f);
    EXPECT_NEAR(Noise2(x, y), Noise2(x, y + 1e-4f), 2e-3f);
  }
  EXPECT_LT(lo, -0.3f);
  EXPECT_GT(hi, 0.3f);
  // Huge and non-finite inputs stay in range.
  EXPECT_LE(std::fabs(Noise3(1e30f, -1e30f, NAN)), 1.f);
  ASSERT_FALSE(Compile(Body("return noise(float4(p, p));"), "main", "tx_1_0").ok);
}

// --- the language ------------------------------------------------------------------------------

TEST(ShaderLanguage, SwizzlesReadAndWrite) {
  Vec4 o;
  ASSERT_TRUE(Eval(Body("float4 c = 0; c.zx = float2(1, 2); c.w = 3; return c;"), &o));
  ExpectVec(o, {2, 0, 1, 3});
  ASSERT_TRUE(Eval(Body("return p.yyxx;"), &o, 0.25f, 0.75f));
  ExpectVec(o, {0.75f, 0.75f, 0.25f, 0.25f});
  ASSERT_TRUE(Eval(Body("float4 c = float4(1, 2, 3, 4); c.ra = c.bg; return c.abgr;"), &o));
  ExpectVec(o, {2, 3, 2, 3});
  ASSERT_TRUE(Eval(Body("float4 c = float4(1, 2, 3, 4); c.xy = c.yx; c.zw += 10; return c;"), &o));
  ExpectVec(o, {2, 1, 13, 14});
  ASSERT_TRUE(Eval(Body("float s = 5; float4 c = s.xxxx; c.y = p[1]; return c;"), &o));
  ExpectVec(o, {5, 0.75f, 5, 5});
  ASSERT_TRUE(Eval(Body("float3 v = float3(1, 2, 3); v.zy.x = 7; return float4(v, 0);"), &o));
  ExpectVec(o, {1, 2, 7, 0});
}

TEST(ShaderLanguage, ConstructorsPromotionAndTruncation) {
  Vec4 o;
  std::string msgs;
  ASSERT_TRUE(Eval(Body("return float4(p.yx, float2(7, 8).y, 1);"), &o));
  ExpectVec(o, {0.75f, 0.25f, 8, 1});
  ASSERT_TRUE(Eval(Body("float4 c = 0.5; return c;"), &o));
  ExpectVec(o, {0.5f, 0.5f, 0.5f, 0.5f});
  ASSERT_TRUE(Eval(Body("float3 v = 2; return float4(v * p.x + 1, (float)3);"), &o));
  ExpectVec(o, {1.5f, 1.5f, 1.5f, 3});
  ASSERT_TRUE(Eval(Body("float2 t = float4(1, 2, 3, 4); return float4(t, t + float3(10, 20, 30));"),
                   &o, 0, 0, 0, 0, &msgs));
  ExpectVec(o, {1, 2, 11, 22});
  EXPECT_NE(msgs.find("warning X3206: implicit truncation of vector type"), std::string::npos)
      << msgs;
  ASSERT_TRUE(Eval(Body("return float4(int2(2.7, -2.7), bool2(0.5, 0));"), &o));
  ExpectVec(o, {2, -2, 1, 0});
  ASSERT_TRUE(Eval(Body("return (float4)p.x;"), &o));
  ExpectVec(o, {0.25f, 0.25f, 0.25f, 0.25f});
  ASSERT_TRUE(Eval(Body("half2 h = p; return h.xyxy;"), &o));
  ExpectVec(o, {0.25f, 0.75f, 0.25f, 0.75f});
}

TEST(ShaderLanguage, LiteralsAndComments) {
  Vec4 o;
  ASSERT_TRUE(Eval(Body("/* block\n comment */ float a = 1e2; // line\n"
                        "float b = 1.5e-1f + .5 + 2. + 1.0h + 2.0L;"
                        "int c = 0x10 + 010 + 3u + 4l;"
                        "return float4(a, b, c, 16777216.0 + 1.0);"),
                   &o));
  ExpectVec(o, {100, 0.15f + 0.5f + 2 + 1 + 2, 16 + 8 + 3 + 4, 16777216.f});
}

TEST(ShaderLanguage, ObjectLikeMacros) {
  Vec4 o;
  ASSERT_TRUE(
      Eval("#pragma warning(disable: 3206)\n"
           "  #define SCALE 2.0 // comment\n"
           "#define OFFSET (SCALE + 1)\n"
           "#define EMPTY\n" +
               Body("float a = SCALE * OFFSET EMPTY;\n"
                    "#undef SCALE\n"
                    "float SCALE = 5;\n"
                    "return float4(a, SCALE, OFFSET, 0);"),
           &o));
  ExpectVec(o, {6, 5, 6, 0});
  // Predefined macros, and a use on line 3 reports the use's position.
  CompileOutput c =
      Compile(Body("return TINT;"), "main", "tx_1_0", {{"TINT", "float4(1, 0, 0, 1)"}});
  EXPECT_TRUE(c.ok) << c.messages;
  c = Compile(Body("  return BAD;"), "main", "tx_1_0", {{"BAD", "undefined_thing"}});
  EXPECT_EQ(c.messages, "memory(3,10): error X3004: undeclared identifier 'undefined_thing'\n");
}

TEST(ShaderLanguage, IntegerBoolAndBitwiseArithmetic) {
  Vec4 o;
  ASSERT_TRUE(
      Eval(Body("int a = 7; int b = 2; return float4(a / b, a % b, -7 / 2, 7.0 / 2);"), &o));
  ExpectVec(o, {3, 1, -3, 3.5f});
  ASSERT_TRUE(Eval(Body("return float4((5 & 3) + (5 | 3) * 10, 5 ^ 3, 1 << 4, -16 >> 2);"), &o));
  ExpectVec(o, {1 + 70, 6, 16, -4});
  ASSERT_TRUE(Eval(Body("int x = ~0; bool t = true; return float4(x, t + t, !t, -t);"), &o));
  ExpectVec(o, {-1, 2, 0, -1});
  ASSERT_TRUE(Compile(Body("return 1.5 & 1;"), "main", "tx_1_0").ok == false);
}

TEST(ShaderLanguage, ComparisonLogicAndConditional) {
  Vec4 o;
  ASSERT_TRUE(Eval(Body("return float4(p.x < p.y, p.x >= p.y, p.x == 0.25 && p.y != 1, "
                        "p.x > 1 || p.y <= 0.75);"),
                   &o));
  ExpectVec(o, {1, 0, 1, 1});
  ASSERT_TRUE(Eval(Body("return p.x > 0.5 ? float4(1, 2, 3, 4) : 9;"), &o));
  ExpectVec(o, {9, 9, 9, 9});
  ASSERT_TRUE(Eval(Body("float2 s = (p < 0.5) ? p * 10 : -p; return float4(s, !(p > 0.5));"), &o));
  ExpectVec(o, {2.5f, -0.75f, 1, 0});
}

TEST(ShaderLanguage, IncrementsAndCompoundAssignment) {
  Vec4 o;
  ASSERT_TRUE(Eval(Body("float a = 1; float b = a++; float c = ++a; float d = a--;"
                        "d += 2; d *= 3; d -= 1; d /= 2; return float4(a, b, c, d);"),
                   &o));
  ExpectVec(o, {2, 1, 3, ((3 + 2) * 3 - 1) / 2.f});
  ASSERT_TRUE(Eval(Body("int i = 13; i %= 5; int j = 6; j <<= 2; j >>= 1; j |= 1; j &= 13; "
                        "j ^= 2; float a, b; a = b = 4; return float4(i, j, a, b);"),
                   &o));
  ExpectVec(o, {3, float(((((6 << 2) >> 1) | 1) & 13) ^ 2), 4, 4});
}

TEST(ShaderLanguage, ControlFlow) {
  Vec4 o;
  ASSERT_TRUE(Eval(Body("float s = 0; for (int i = 1; i <= 10; i++) s += i;"
                        "int n = 0; while (n < 7) { n += 2; }"
                        "int k = 100; do { k -= 30; } while (k > 0);"
                        "float t = 0; for (int j = 0; j < 20; ++j) {"
                        "  if (j % 2 == 0) continue; if (j > 9) break; t += j; }"
                        "return float4(s, n, k, t);"),
                   &o));
  ExpectVec(o, {55, 8, -20, 1 + 3 + 5 + 7 + 9});
  ASSERT_TRUE(Eval(Body("float r; if (p.x > 0.5) r = 1; else if (p.x > 0.2) r = 2; else r = 3;"
                        "float q = 0; for (int a = 0; a < 3; a++) for (int b = 0; b < 4; b++) "
                        "{ if (b == 2) break; q += 1; }"
                        "[unroll] for (int c = 0; c < 2; c++) { q += 100; }"
                        "return float4(r, q, 0, 0);"),
                   &o));
  ExpectVec(o, {2, 6 + 200, 0, 0});
  ASSERT_TRUE(Eval(Body("if (p.y > 0.5) { return float4(1, 1, 1, 1); } return 0;"), &o));
  ExpectVec(o, {1, 1, 1, 1});
  ASSERT_TRUE(Eval(Body("for (int i = 0; i < 100; i++) { if (i == 3) return i; } return -1;"), &o));
  ExpectVec(o, {3, 3, 3, 3});
}

TEST(ShaderLanguage, EndlessLoopRunsOutOfBudgetInsteadOfHanging) {
  CompileOutput c = Compile(Body("float s = 0; for (;;) { s += 1; } return s;"), "main", "tx_1_0");
  ASSERT_TRUE(c.ok) << c.messages;
  Program p;
  std::string why;
  ASSERT_TRUE(Decode(c.code.data(), c.code.size() * 4, &p, &why));
  Machine m(p);
  ASSERT_TRUE(m.Init());
  int64_t budget = kFillBudget;
  float o[4];
  EXPECT_FALSE(m.Texel(0, 0, 0, 0, o, &budget));
  EXPECT_LT(budget, kFillBudget - kTexelBudget / 2);
  // The budget shared by a whole fill runs out across texels, each of which fits its own.
  CompileOutput finite = Compile(
      Body("float s = 0; for (int i = 0; i < 100; i++) s += p.x; return s;"), "main", "tx_1_0");
  ASSERT_TRUE(finite.ok);
  Program fp;
  ASSERT_TRUE(Decode(finite.code.data(), finite.code.size() * 4, &fp, &why));
  Machine fm(fp);
  ASSERT_TRUE(fm.Init());
  int64_t shared = 2000;
  int texels = 0;
  while (texels < 1000 && fm.Texel(0.5f, 0.5f, 0, 0, o, &shared)) ++texels;
  EXPECT_GT(texels, 0);
  EXPECT_LT(texels, 10);
  // A long but finite loop stays within the per-texel budget.
  Vec4 v;
  ASSERT_TRUE(Eval(Body("float s = 0; for (int i = 0; i < 10000; i++) s += 1; return s;"), &v));
  EXPECT_EQ(v[0], 10000);
}

TEST(ShaderLanguage, HelperFunctionsGlobalsAndParameters) {
  Vec4 o;
  const char* src =
      "static const float kScale = 2.0;\n"
      "static float counter = 10;\n"
      "float Twice(float v) { return v * kScale; }\n"
      "float3 Mix3(float3 a, float3 b) { return lerp(a, b, 0.5); }\n"
      "void Bump(inout float v, out float w) { v += 1; w = Twice(v); counter += 1; }\n"
      "float4 main(float2 size : PSIZE, float2 p : POSITION) : COLOR\n"
      "{\n"
      "  float a = p.x; float b;\n"
      "  Bump(a, b);\n"
      "  return float4(Mix3(float3(a, b, 0), 1).xy, size.x * 64, counter + size.y * 32);\n"
      "}\n";
  ASSERT_TRUE(Eval(src, &o, 0.25f, 0.75f, 1 / 64.f, 1 / 32.f));
  ExpectVec(o, {(1.25f + 1) / 2, (2.5f + 1) / 2, 1, 12});
  // Statics are reset for every texel.
  CompileOutput c = Compile(src, "main", "tx_1_0");
  ASSERT_TRUE(c.ok);
  Program p;
  std::string why;
  ASSERT_TRUE(Decode(c.code.data(), c.code.size() * 4, &p, &why));
  Machine m(p);
  ASSERT_TRUE(m.Init());
  int64_t budget = kFillBudget;
  float first[4], second[4];
  ASSERT_TRUE(m.Texel(0.5f, 0.5f, 1, 1, first, &budget));
  ASSERT_TRUE(m.Texel(0.5f, 0.5f, 1, 1, second, &budget));
  EXPECT_EQ(first[3], second[3]);
  // No parameters at all.
  ASSERT_TRUE(Eval("float4 main() : COLOR { return float4(0.1, 0.2, 0.3, 0.4); }", &o));
  ExpectVec(o, {0.1f, 0.2f, 0.3f, 0.4f});
  // Uninitialised locals read as zero, on every texel.
  ASSERT_TRUE(Eval(Body("float4 c; c.x = 1; return c;"), &o));
  ExpectVec(o, {1, 0, 0, 0});
}

// --- errors ------------------------------------------------------------------------------------

TEST(ShaderErrors, MessagesHaveOneFormWithLineAndColumn) {
  EXPECT_TRUE(IsMessageLine("memory(12,3): error X3004: undeclared identifier 'a'\n"));
  EXPECT_TRUE(IsMessageLine("error X3501: 'x': entrypoint not found\n"));
  EXPECT_FALSE(IsMessageLine("memory(1,1): error X3004: two\nerror X3000: lines\n"));
  EXPECT_FALSE(IsMessageLine("memory(1,1) error X3004: no colon\n"));
  EXPECT_EQ(ErrorOf(Body("  return foo;")),
            "memory(3,10): error X3004: undeclared identifier 'foo'\n");
  EXPECT_EQ(ErrorOf(Body("  return sin(1, 2);")),
            "memory(3,10): error X3013: 'sin': no matching 2 parameter intrinsic function\n");
  EXPECT_EQ(ErrorOf(Body("  return 1 +;")),
            "memory(3,13): error X3000: syntax error: unexpected token ';'\n");
  EXPECT_EQ(ErrorOf(Body("return 0;"), "Testout"),
            "error X3501: 'Testout': entrypoint not found\n");
  EXPECT_EQ(ErrorOf("", "Testout"), "error X3501: 'Testout': entrypoint not found\n");
  std::string profile = ErrorOf(Body("return 0;"), "main", "ps_2_0");
  EXPECT_TRUE(IsMessageLine(profile)) << profile;
  EXPECT_NE(profile.find("ps_2_0"), std::string::npos);
  const std::string cases[] = {
      Body("float3 v = float2(1, 2); return 0;"),                            // X3017
      Body("return float4(1, 2, 3);"),                                       // X3014
      Body("return p.xq;"),                                                  // X3018
      Body("float4 c = 0; c.xx = 1; return c;"),                             // X3018
      "static const float k = 1;\n" + Body("k = 2; return k;"),              // X3025
      "float f(float x) { return f(x); }\n" + Body("return f(1);"),          // X3500
      "float g(float x) { if (x > 0) return 1; }\n" + Body("return g(1);"),  // X3080
      Body("break; return 0;"),
      Body("return undefined_fn(1);"),
      Body("int x = 1; int x = 2; return x;"),
      Body("if (p) return 1; return 0;"),
      "float4 main(float2 p : TEXCOORD0) : COLOR { return 0; }",
      "float4 main(float2 p : POSITION) { return 0; }",
      Body("return float4x4(1);"),
      Body("/* never closed"),
      "#include \"other.hlsl\"\n" + Body("return 0;"),
      "#define F(x) x\n" + Body("return 0;"),
      "#define A B\n#define B A\n" + Body("return A;"),
      Body("return 1.0e99999;"),
      Body("return 0x1FFFFFFFF;"),
      Body("return 12abc;"),
      Body("return cross(p, p);"),
      Body("discard; return 0;"),
  };
  for (const std::string& src : cases) {
    std::string m = ErrorOf(src);
    EXPECT_TRUE(IsMessageLine(m)) << src << "\n-> " << m;
  }
  EXPECT_NE(ErrorOf(cases[0]).find("error X3017"), std::string::npos);
  EXPECT_NE(ErrorOf(cases[1]).find("error X3014"), std::string::npos);
  EXPECT_NE(ErrorOf(cases[2]).find("error X3018"), std::string::npos);
  EXPECT_NE(ErrorOf(cases[4]).find("error X3025"), std::string::npos);
  EXPECT_NE(ErrorOf(cases[5]).find("error X3500"), std::string::npos);
  EXPECT_NE(ErrorOf(cases[6]).find("error X3080"), std::string::npos);
  EXPECT_NE(ErrorOf(cases[8]).find("error X3004: undeclared identifier 'undefined_fn'"),
            std::string::npos);
}

TEST(ShaderErrors, TheFirstErrorInTheTextIsReported) {
  const std::string helper_first =
      "float Helper() { return missing_a; }\n" + Body("return missing_b + Helper();");
  EXPECT_NE(
      ErrorOf(helper_first).find("memory(1,25): error X3004: undeclared identifier 'missing_a'"),
      std::string::npos)
      << ErrorOf(helper_first);
  const std::string entry_first =
      Body("return missing_b;") + "float Unused() { return missing_a; }\n";
  EXPECT_NE(ErrorOf(entry_first).find("'missing_b'"), std::string::npos) << ErrorOf(entry_first);
  // A helper that is never called is still checked.
  EXPECT_NE(ErrorOf(Body("return 0;") + "float Unused() { return missing_a; }\n").find("missing_a"),
            std::string::npos);
}

TEST(ShaderErrors, HostileSourcesFailCleanly) {
  // Deep nesting of parentheses, unary operators, blocks and else-if chains.
  EXPECT_NE(ErrorOf(Body("return " + std::string(5000, '(') + "1" + std::string(5000, ')') + ";"))
                .find("X3000"),
            std::string::npos);
  EXPECT_FALSE(ErrorOf(Body("return " + std::string(20000, '-') + "1;")).empty());
  EXPECT_FALSE(
      ErrorOf(Body(std::string(5000, '{') + std::string(5000, '}') + "return 0;")).empty());
  std::string chain;
  for (int i = 0; i < 2000; ++i) chain += "if (p.x > " + std::to_string(i) + ") return 1; else ";
  EXPECT_FALSE(ErrorOf(Body(chain + "return 0;")).empty());
  // A long left-leaning expression is bounded by tree depth, not by the stack.
  std::string sum = "return p.x";
  for (int i = 0; i < 30000; ++i) sum += "+p.x";
  EXPECT_NE(ErrorOf(Body(sum + ";")).find("too complex"), std::string::npos);
  // Exponential inlining is refused rather than expanded.
  std::string fns = "float f0(float x) { return x + 1; }\n";
  for (int i = 1; i < 40; ++i)
    fns += "float f" + std::to_string(i) + "(float x) { return f" + std::to_string(i - 1) +
           "(x) + f" + std::to_string(i - 1) + "(x); }\n";
  EXPECT_NE(ErrorOf(fns + Body("return f39(p.x);")).find("X3507"), std::string::npos);
  // Too large a source.
  EXPECT_NE(ErrorOf(Body(std::string(kMaxSourceBytes, ' ') + "return 0;")).find("too large"),
            std::string::npos);
  // Every byte value, and bytes that are not text.
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += char(i);
  EXPECT_FALSE(ErrorOf(bytes).empty());
  EXPECT_FALSE(ErrorOf(Body("return 0;") + std::string(1, '\0')).empty());
  // Many variables exhaust registers with an error.
  std::string vars;
  for (int i = 0; i < 5000; ++i)
    vars += "float v" + std::to_string(i) + " = " + std::to_string(i) + ";";
  EXPECT_NE(ErrorOf(Body(vars + "return 0;")).find("X3507"), std::string::npos);
}
