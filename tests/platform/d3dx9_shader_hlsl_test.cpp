// Vertex and pixel shaders from HLSL: compiled through D3DXCompileShader for every profile, their
// constants set through the constant table, run on the shader executor and compared with values
// computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/shader_asm.h"
#include "support/shader_harness.h"
#include "support/lit_shadowed_shader.h"

using shader_test::ExpectNear;
using shader_test::Harness;
using shader_test::Vec4;

namespace {

const char* const kAllProfiles[] = {"vs_2_0", "vs_3_0", "ps_2_0", "ps_3_0"};
const char* const kPixelProfiles[] = {"ps_2_0", "ps_3_0"};
const char* const kVertexProfiles[] = {"vs_2_0", "vs_3_0"};
const vexa::ShaderCodePath kPaths[] = {vexa::ShaderCodePath::kBest, vexa::ShaderCodePath::kGeneric};

bool IsVs(const char* profile) {
  return profile[0] == 'v';
}

// A test input for lane l: varied signs and magnitudes.
Vec4 LaneInput(int l) {
  return {float(l) * 0.37f - 2.1f, 1.3f - float(l % 5) * 0.61f, float((l * 7) % 11) * 0.29f - 1.4f,
          0.25f + float(l) * 0.11f};
}

// Wraps a float4 expression of `a` (float4 TEXCOORD0) and `b` (float4 TEXCOORD1) in a shader of
// `profile`; the result is read back from COLOR0 (pixel) or TEXCOORD0 (vertex).
std::string Wrap(const char* profile, const std::string& globals, const std::string& body) {
  if (IsVs(profile))
    return globals +
           "void main(float4 a : TEXCOORD0, float4 b : TEXCOORD1, out float4 pos : POSITION,"
           " out float4 r : TEXCOORD0) {\n pos = 0;\n" +
           body + "\n}\n";
  return globals +
         "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR {\n float4 r;\n" + body +
         "\n return r;\n}\n";
}

// Runs `body` (which sets float4 r) for 16 lanes of a = LaneInput(l), b = LaneInput(15 - l).
::testing::AssertionResult RunLanes(Harness& h, const char* profile, const std::string& globals,
                                    const std::string& body, std::vector<Vec4>* out,
                                    vexa::ShaderCodePath path = vexa::ShaderCodePath::kBest) {
  ::testing::AssertionResult c = h.Compile(Wrap(profile, globals, body), profile, "main", 0, path);
  if (!c) return c;
  for (int l = 0; l < vexa::kShaderLanes; ++l) {
    h.Input(D3DDECLUSAGE_TEXCOORD, 0, l, LaneInput(l));
    h.Input(D3DDECLUSAGE_TEXCOORD, 1, l, LaneInput(15 - l));
  }
  out->assign(vexa::kShaderLanes, Vec4{});
  if (h.vs()) {
    if (!h.RunVertices()) return ::testing::AssertionFailure() << "vertex run failed";
    for (int l = 0; l < vexa::kShaderLanes; ++l) {
      for (int c = 0; c < 4; ++c)
        (*out)[size_t(l)][size_t(c)] = h.exec.vertices().output[vexa::kVs2SlotTexcoord0].c[c].v[l];
      if (profile[3] == '3') {  // vs_3_0: o1 follows the position in o0
        for (int c = 0; c < 4; ++c)
          (*out)[size_t(l)][size_t(c)] = h.exec.vertices().output[1].c[c].v[l];
      }
    }
  } else {
    h.RunPixels();
    for (int l = 0; l < vexa::kShaderLanes; ++l) (*out)[size_t(l)] = h.Color(l);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

// --- whole shaders
// ---------------------------------------------------------------------------------

TEST(HlslVertexShader, TransformsLightsAndPassesTextureCoordinates) {
  const std::string src =
      "float4x4 WorldViewProj;\n"
      "float3 LightDir;\n"
      "float4 Tint = {1, 0.5, 0.25, 1};\n"
      "struct VSOut { float4 pos : POSITION; float2 uv : TEXCOORD0; float4 col : COLOR0; };\n"
      "VSOut main(float4 pos : POSITION, float2 uv : TEXCOORD0, float3 n : NORMAL) {\n"
      "  VSOut o;\n"
      "  o.pos = mul(pos, WorldViewProj);\n"
      "  o.uv = uv * 2;\n"
      "  o.col = Tint * saturate(dot(normalize(n), -LightDir));\n"
      "  return o;\n"
      "}\n";
  D3DXMATRIX m;
  for (int i = 0; i < 16; ++i) (&m._11)[i] = float(i % 5) * 0.5f - float(i / 4) * 0.25f;
  for (const char* profile : kVertexProfiles) {
    for (auto path : kPaths) {
      SCOPED_TRACE(profile);
      Harness h;
      ASSERT_TRUE(h.Compile(src, profile, "main", 0, path));
      h.SetMatrix("WorldViewProj", m);
      h.SetVector("LightDir", 0, 0, -1);
      for (int l = 0; l < 16; ++l) {
        const Vec4 in = LaneInput(l);
        h.Input(D3DDECLUSAGE_POSITION, 0, l, {in[0], in[1], in[2], 1});
        h.Input(D3DDECLUSAGE_TEXCOORD, 0, l, {in[3], in[0], 0, 0});
        h.Input(D3DDECLUSAGE_NORMAL, 0, l, {in[1], in[2], in[0], 0});
      }
      ASSERT_TRUE(h.RunVertices());
      for (int l = 0; l < 16; ++l) {
        const Vec4 in = LaneInput(l);
        const float p[4] = {in[0], in[1], in[2], 1};
        Vec4 want;
        for (int j = 0; j < 4; ++j) {
          want[size_t(j)] = 0;
          for (int i = 0; i < 4; ++i) want[size_t(j)] += p[i] * (&m._11)[i * 4 + j];
        }
        ExpectNear(h.Output(D3DDECLUSAGE_POSITION, 0, l), want, 1e-5f, "position");
        const Vec4 uv = h.Output(D3DDECLUSAGE_TEXCOORD, 0, l);
        EXPECT_FLOAT_EQ(uv[0], in[3] * 2);
        EXPECT_FLOAT_EQ(uv[1], in[0] * 2);
        const float nx = in[1], ny = in[2], nz = in[0];
        const float len = std::sqrt(nx * nx + ny * ny + nz * nz);
        const float lit = std::fmin(std::fmax(nz / len, 0.f), 1.f);
        ExpectNear(h.Output(D3DDECLUSAGE_COLOR, 0, l), {lit, 0.5f * lit, 0.25f * lit, lit}, 1e-5f,
                   "colour");
      }
    }
  }
}

// --- intrinsics and operators, per component -----------------------------------------------------

struct ComponentCase {
  const char* expr;  // of float4 a, b
  std::function<float(float, float)> f;
  float tol;
};

const std::vector<ComponentCase>& ComponentCases() {
  static const std::vector<ComponentCase> cases = {
      {"a + b", [](float a, float b) { return a + b; }, 1e-6f},
      {"a - b", [](float a, float b) { return a - b; }, 1e-6f},
      {"a * b", [](float a, float b) { return a * b; }, 1e-6f},
      {"a / b", [](float a, float b) { return a / b; }, 1e-5f},
      {"-a * 3 + 1", [](float a, float) { return -a * 3 + 1; }, 1e-6f},
      {"abs(a)", [](float a, float) { return std::fabs(a); }, 0},
      {"frac(a)", [](float a, float) { return a - std::floor(a); }, 1e-6f},
      {"floor(a)", [](float a, float) { return std::floor(a); }, 1e-6f},
      {"ceil(a)", [](float a, float) { return std::ceil(a); }, 1e-6f},
      {"round(a)", [](float a, float) { return std::floor(a + 0.5f); }, 1e-6f},
      {"trunc(a)", [](float a, float) { return std::trunc(a); }, 1e-6f},
      {"sqrt(abs(a))", [](float a, float) { return std::sqrt(std::fabs(a)); }, 2e-6f},
      {"rsqrt(abs(a) + 0.5)", [](float a, float) { return 1 / std::sqrt(std::fabs(a) + 0.5f); },
       2e-6f},
      {"exp(a)", [](float a, float) { return std::exp(a); }, 4e-6f},
      {"exp2(a)", [](float a, float) { return std::exp2(a); }, 4e-6f},
      {"log(abs(a) + 0.1)", [](float a, float) { return std::log(std::fabs(a) + 0.1f); }, 4e-6f},
      {"log2(abs(a) + 0.1)", [](float a, float) { return std::log2(std::fabs(a) + 0.1f); }, 4e-6f},
      {"log10(abs(a) + 0.1)", [](float a, float) { return std::log10(std::fabs(a) + 0.1f); },
       4e-6f},
      {"sin(a)", [](float a, float) { return std::sin(a); }, 1e-5f},
      {"cos(a)", [](float a, float) { return std::cos(a); }, 1e-5f},
      {"tan(a * 0.3)", [](float a, float) { return std::tan(a * 0.3f); }, 2e-5f},
      {"saturate(a)", [](float a, float) { return std::fmin(std::fmax(a, 0.f), 1.f); }, 0},
      {"sign(a)", [](float a, float) { return a > 0   ? 1.f
                                              : a < 0 ? -1.f
                                                      : 0.f; }, 0},
      {"degrees(a)", [](float a, float) { return a * 57.2957795f; }, 1e-6f},
      {"radians(a)", [](float a, float) { return a * 0.0174532925f; }, 1e-6f},
      {"min(a, b)", [](float a, float b) { return std::fmin(a, b); }, 0},
      {"max(a, b)", [](float a, float b) { return std::fmax(a, b); }, 0},
      {"clamp(a, -0.5, b)", [](float a, float b) { return std::fmin(std::fmax(a, -0.5f), b); }, 0},
      {"pow(abs(a), b)", [](float a, float b) { return std::pow(std::fabs(a), b); }, 2e-5f},
      {"fmod(a, b)", [](float a, float b) { return std::fmod(a, b); }, 2e-5f},
      {"step(a, b)", [](float a, float b) { return b >= a ? 1.f : 0.f; }, 0},
      {"lerp(a, b, 0.3)", [](float a, float b) { return a + 0.3f * (b - a); }, 1e-6f},
      {"mad(a, b, 0.5)", [](float a, float b) { return a * b + 0.5f; }, 1e-6f},
      {"smoothstep(-1, 2, a)",
       [](float a, float) {
         float t = std::fmin(std::fmax((a + 1) / 3, 0.f), 1.f);
         return t * t * (3 - 2 * t);
       },
       1e-5f},
      {"a < b", [](float a, float b) { return a < b ? 1.f : 0.f; }, 0},
      {"a >= b", [](float a, float b) { return a >= b ? 1.f : 0.f; }, 0},
      {"a > b", [](float a, float b) { return a > b ? 1.f : 0.f; }, 0},
      {"a <= b", [](float a, float b) { return a <= b ? 1.f : 0.f; }, 0},
      {"a == floor(a)", [](float a, float) { return a == std::floor(a) ? 1.f : 0.f; }, 0},
      {"a != b", [](float a, float b) { return a != b ? 1.f : 0.f; }, 0},
      {"a > 0 && b > 0", [](float a, float b) { return a > 0 && b > 0 ? 1.f : 0.f; }, 0},
      {"a > 0 || b > 0", [](float a, float b) { return a > 0 || b > 0 ? 1.f : 0.f; }, 0},
      {"!(a > b)", [](float a, float b) { return !(a > b) ? 1.f : 0.f; }, 0},
      {"a > b ? a * 2 : b - 1", [](float a, float b) { return a > b ? a * 2 : b - 1; }, 1e-6f},
      {"a <= b ? 1 : -1", [](float a, float b) { return a <= b ? 1.f : -1.f; }, 0},
      {"(int4)(a * 3) / 2", [](float a, float) { return std::trunc(std::trunc(a * 3) / 2); }, 0},
      {"(int4)(b * 5) % 3", [](float, float b) { return std::fmod(std::trunc(b * 5), 3.f); }, 0},
  };
  return cases;
}

TEST(HlslIntrinsics, ComponentWiseOperationsMatchCppInEveryProfile) {
  for (const char* profile : kAllProfiles) {
    for (auto path : kPaths) {
      for (const ComponentCase& c : ComponentCases()) {
        SCOPED_TRACE(std::string(profile) + ": " + c.expr);
        Harness h;
        std::vector<Vec4> out;
        ASSERT_TRUE(RunLanes(h, profile, "", std::string(" r = ") + c.expr + ";", &out, path));
        for (int l = 0; l < 16; ++l) {
          const Vec4 a = LaneInput(l), b = LaneInput(15 - l);
          for (int k = 0; k < 4; ++k) {
            const float want = c.f(a[size_t(k)], b[size_t(k)]);
            EXPECT_NEAR(out[size_t(l)][size_t(k)], want, c.tol * std::fmax(1.f, std::fabs(want)))
                << "lane " << l << " component " << k << "\n"
                << h.Listing();
          }
        }
      }
    }
  }
}

TEST(HlslIntrinsics, VectorFunctionsMatchCpp) {
  for (const char* profile : kAllProfiles) {
    SCOPED_TRACE(profile);
    Harness h;
    std::vector<Vec4> out;
    ASSERT_TRUE(RunLanes(h, profile, "",
                         " r.x = dot(a.xyz, b.xyz); r.y = length(a); r.z = distance(a.xy, b.xy);"
                         " r.w = dot(a.xy, b.zw);",
                         &out));
    for (int l = 0; l < 16; ++l) {
      const Vec4 a = LaneInput(l), b = LaneInput(15 - l);
      const float d3 = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
      const float len = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2] + a[3] * a[3]);
      const float dist = std::hypot(a[0] - b[0], a[1] - b[1]);
      ExpectNear(out[size_t(l)], {d3, len, dist, a[0] * b[2] + a[1] * b[3]}, 2e-6f);
    }
    ASSERT_TRUE(RunLanes(h, profile, "",
                         " r = float4(cross(a.xyz, b.xyz), 0); r.w = any(a > 1) + 2 * all(b > -2);",
                         &out));
    for (int l = 0; l < 16; ++l) {
      const Vec4 a = LaneInput(l), b = LaneInput(15 - l);
      const bool any = a[0] > 1 || a[1] > 1 || a[2] > 1 || a[3] > 1;
      const bool all = b[0] > -2 && b[1] > -2 && b[2] > -2 && b[3] > -2;
      ExpectNear(out[size_t(l)],
                 {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0],
                  float(any) + 2 * float(all)},
                 1e-6f);
    }
    ASSERT_TRUE(RunLanes(h, profile, "",
                         " r = float4(normalize(a.xyz), 0); r.w = normalize(a.yw).y;", &out));
    for (int l = 0; l < 16; ++l) {
      const Vec4 a = LaneInput(l);
      const float len = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
      ExpectNear(out[size_t(l)],
                 {a[0] / len, a[1] / len, a[2] / len, a[3] / std::hypot(a[1], a[3])}, 2e-6f);
    }
    ASSERT_TRUE(RunLanes(h, profile, "",
                         " float3 n = normalize(b.xyz); r = float4(reflect(a.xyz, n), 1);", &out));
    for (int l = 0; l < 16; ++l) {
      const Vec4 a = LaneInput(l), b = LaneInput(15 - l);
      const float len = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
      const float n[3] = {b[0] / len, b[1] / len, b[2] / len};
      const float d = a[0] * n[0] + a[1] * n[1] + a[2] * n[2];
      ExpectNear(out[size_t(l)], {a[0] - 2 * d * n[0], a[1] - 2 * d * n[1], a[2] - 2 * d * n[2], 1},
                 2e-6f);
    }
  }
}

// --- the language
// ------------------------------------------------------------------------------------

TEST(HlslLanguage, LoopsBranchesAndEarlyExitsInEveryProfile) {
  struct Case {
    const char* body;
    std::function<float(const Vec4& a, const Vec4& b)> f;
  };
  const Case cases[] = {
      // Constant trip counts unroll everywhere; the counter indexes a static array.
      {"static const float w[4] = {0.5, 0.25, 2, -1};\n"
       " float s = 0; for (int i = 0; i < 4; i++) s += a[i] * w[i]; r = s;",
       [](const Vec4& a, const Vec4&) { return a[0] * 0.5f + a[1] * 0.25f + a[2] * 2 - a[3]; }},
      // Dynamic conditions inside constant loops: break, continue.
      {" float s = 0; for (int i = 0; i < 4; ++i) { if (a[i] < 0) continue; s += a[i]; } r = s;",
       [](const Vec4& a, const Vec4&) {
         float s = 0;
         for (int i = 0; i < 4; ++i)
           if (a[size_t(i)] >= 0) s += a[size_t(i)];
         return s;
       }},
      {" float s = 0; for (int i = 0; i < 4; ++i) { if (a[i] > b[i]) break; s += a[i] * (i + 1); } "
       "r = s;",
       [](const Vec4& a, const Vec4& b) {
         float s = 0;
         for (int i = 0; i < 4; ++i) {
           if (a[size_t(i)] > b[size_t(i)]) break;
           s += a[size_t(i)] * float(i + 1);
         }
         return s;
       }},
      // if / else chains on dynamic values.
      {" if (a.x > 0) r = 1; else if (a.y > 0) r = 2; else r = 3;",
       [](const Vec4& a, const Vec4&) { return a[0] > 0   ? 1.f
                                               : a[1] > 0 ? 2.f
                                                          : 3.f; }},
      {" float t = b.x; if (a.x < a.y) { t = a.x; if (a.z > 0) t *= 2; } r = t;",
       [](const Vec4& a, const Vec4& b) {
         return a[0] < a[1] ? (a[2] > 0 ? 2 * a[0] : a[0]) : b[0];
       }},
      // while and do-while with constant bounds.
      {" int n = 0; float s = 0; while (n < 3) { s += b[n]; n++; } r = s;",
       [](const Vec4&, const Vec4& b) { return b[0] + b[1] + b[2]; }},
      {" int k = 0; float p = 1; do { p *= a.w + k; k++; } while (k < 3); r = p;",
       [](const Vec4& a, const Vec4&) { return a[3] * (a[3] + 1) * (a[3] + 2); }},
      // Nested loops; the inner trip count depends on the outer counter.
      {" float s = 0; for (int i = 0; i < 3; i++) for (int j = 0; j <= i; j++) s += a[j] * b[i]; r "
       "= s;",
       [](const Vec4& a, const Vec4& b) {
         float s = 0;
         for (int i = 0; i < 3; i++)
           for (int j = 0; j <= i; j++) s += a[size_t(j)] * b[size_t(i)];
         return s;
       }},
      // The ternary operator and compound assignments.
      {" float x = a.x; x += 2; x *= b.y; x -= a.z; x /= 2; r = x > 0 ? x : -x;",
       [](const Vec4& a, const Vec4& b) {
         float x = ((a[0] + 2) * b[1] - a[2]) / 2;
         return x > 0 ? x : -x;
       }},
  };
  for (const char* profile : kAllProfiles) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(profile) + ": " + c.body);
      Harness h;
      std::vector<Vec4> out;
      std::string body = c.body;
      std::string globals;
      if (body.rfind("static", 0) == 0) {
        globals = body.substr(0, body.find('\n') + 1);
        body = body.substr(body.find('\n') + 1);
      }
      ASSERT_TRUE(RunLanes(h, profile, globals, body, &out));
      for (int l = 0; l < 16; ++l)
        EXPECT_NEAR(out[size_t(l)][0], c.f(LaneInput(l), LaneInput(15 - l)), 1e-5f)
            << "lane " << l << "\n"
            << h.Listing();
    }
  }
}

TEST(HlslLanguage, ReturnsFromNestedCodeAndHelperFunctions) {
  const std::string globals =
      "float Pick(float x, float y) { if (x > y) return x * 10; if (x < 0) return -1; return y; }\n"
      "void Accumulate(inout float s, float v, out float twice) { s += v; twice = 2 * v; }\n";
  for (const char* profile : kAllProfiles) {
    SCOPED_TRACE(profile);
    Harness h;
    std::vector<Vec4> out;
    ASSERT_TRUE(RunLanes(
        h, profile, globals,
        " float s = 1, t; Accumulate(s, a.y, t); r = float4(Pick(a.x, b.x), s, t, 0);", &out));
    for (int l = 0; l < 16; ++l) {
      const Vec4 a = LaneInput(l), b = LaneInput(15 - l);
      const float pick = a[0] > b[0] ? a[0] * 10 : a[0] < 0 ? -1 : b[0];
      ExpectNear(out[size_t(l)], {pick, 1 + a[1], 2 * a[1], 0}, 1e-6f);
    }
  }
}

TEST(HlslLanguage, DynamicLoopsRunOnlyWhereShaderModel3AllowsThem) {
  // The trip count comes from a uniform: a rep loop with breakc in shader model 3, an error in 2.
  const std::string globals = "int Count;\n";
  const std::string body =
      " float s = 0; for (int i = 0; i < Count; i++) { s += a.x; if (s > 4) break; } r = s;";
  for (const char* profile : {"vs_3_0", "ps_3_0"}) {
    SCOPED_TRACE(profile);
    Harness h;
    ASSERT_TRUE(h.Compile(Wrap(profile, globals, body), profile));
    EXPECT_NE(h.Listing().find("op38 "), std::string::npos) << h.Listing();  // rep
    for (int count : {0, 1, 3, 7}) {
      h.SetFloat("Count", float(count));
      std::vector<Vec4> out;
      for (int l = 0; l < 16; ++l) h.Input(D3DDECLUSAGE_TEXCOORD, 0, l, LaneInput(l));
      if (h.vs()) {
        ASSERT_TRUE(h.RunVertices());
      } else {
        h.RunPixels();
      }
      for (int l = 0; l < 16; ++l) {
        float s = 0;
        for (int i = 0; i < count; i++) {
          s += LaneInput(l)[0];
          if (s > 4) break;
        }
        const float got = h.vs() ? h.exec.vertices().output[1].c[0].v[l] : h.Color(l)[0];
        EXPECT_NEAR(got, s, 1e-5f) << "count " << count << " lane " << l;
      }
    }
  }
  for (const char* profile : {"vs_2_0", "ps_2_0"}) {
    Harness h;
    EXPECT_FALSE(h.Compile(Wrap(profile, globals, body), profile));
    EXPECT_NE(h.messages.find("error X3511: unable to unroll loop"), std::string::npos)
        << h.messages;
  }
}

TEST(HlslLanguage, StructsArraysMatricesCastsAndConstructors) {
  const std::string globals =
      "struct Light { float3 dir; float4 colour; };\n"
      "Light Lights[2];\n"
      "float3x3 Basis;\n"
      "row_major float2x3 Rows;\n"
      "static const float4 kTable[3] = { {1, 2, 3, 4}, float4(5, 6, 7, 8), {9, 10, 11, 12} };\n";
  const std::string body =
      " float3 n = a.xyz;\n"
      " float k = dot(n, Lights[0].dir) + dot(n, Lights[1].dir);\n"
      " float3 m = mul(n, Basis);\n"
      " float3 m2 = mul(Basis, n);\n"
      " float2 rv = mul(Rows, n);\n"
      " float3x3 t = transpose(Basis);\n"
      " float4 tab = kTable[1] + kTable[2].wzyx;\n"
      " float2x2 small = (float2x2)Basis;\n"
      " r = float4(k, m.x + m2.y, rv.x * rv.y, t[0][1] + small._m11 + tab.x + "
      "Lights[1].colour.z);\n"
      " r.w += (int)b.x + (float)(bool)b.y;\n";
  const float basis[3][3] = {{1, 2, 3}, {-1, 0.5f, 2}, {0.25f, -3, 1}};
  const float rows[2][3] = {{2, 0, -1}, {0.5f, 1, 1.5f}};
  for (const char* profile : kAllProfiles) {
    SCOPED_TRACE(profile);
    Harness h;
    ASSERT_TRUE(h.Compile(Wrap(profile, globals, body), profile)) << h.messages;
    h.SetFloats("Lights[0].dir", {0, 0, 1});
    h.SetFloats("Lights[1].dir", {1, 0, 0});
    h.SetFloats("Lights[1].colour", {0, 0, 4, 0});
    D3DXMATRIX m(basis[0][0], basis[0][1], basis[0][2], 0, basis[1][0], basis[1][1], basis[1][2], 0,
                 basis[2][0], basis[2][1], basis[2][2], 0, 0, 0, 0, 1);
    h.SetMatrix("Basis", m);
    D3DXMATRIX rm(rows[0][0], rows[0][1], rows[0][2], 0, rows[1][0], rows[1][1], rows[1][2], 0, 0,
                  0, 0, 0, 0, 0, 0, 0);
    h.SetMatrix("Rows", rm);
    for (int l = 0; l < 16; ++l) {
      h.Input(D3DDECLUSAGE_TEXCOORD, 0, l, LaneInput(l));
      h.Input(D3DDECLUSAGE_TEXCOORD, 1, l, LaneInput(15 - l));
    }
    if (h.vs()) {
      ASSERT_TRUE(h.RunVertices());
    } else {
      h.RunPixels();
    }
    for (int l = 0; l < 16; ++l) {
      const Vec4 a = LaneInput(l), b = LaneInput(15 - l);
      const float n[3] = {a[0], a[1], a[2]};
      const float k = n[2] + n[0];
      float m0 = 0, m2y = 0, rv[2] = {0, 0};
      for (int i = 0; i < 3; ++i) m0 += n[i] * basis[i][0];
      for (int j = 0; j < 3; ++j) m2y += basis[1][j] * n[j];
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) rv[i] += rows[i][j] * n[j];
      const float w =
          basis[1][0] + basis[1][1] + (5 + 12) + 4 + std::trunc(b[0]) + (b[1] != 0 ? 1 : 0);
      Vec4 got;
      for (int c = 0; c < 4; ++c)
        got[size_t(c)] = h.vs() ? h.exec.vertices()
                                      .output[profile[3] == '3' ? 1 : vexa::kVs2SlotTexcoord0]
                                      .c[c]
                                      .v[l]
                                : h.Color(l)[size_t(c)];
      ExpectNear(got, {k, m0 + m2y, rv[0] * rv[1], w}, 2e-5f);
    }
  }
}

// --- pixel shaders
// ---------------------------------------------------------------------------------

namespace {

struct PixelIn {
  float uv[2], wpos[3], n[3], spos[4];
};

PixelIn LitInput(int l) {
  PixelIn p;
  const float x = float(l % 4), y = float(l / 4);
  p.uv[0] = 0.1f + 0.13f * x;
  p.uv[1] = 0.2f + 0.11f * y;
  p.wpos[0] = x - 1.5f;
  p.wpos[1] = 0.5f * y;
  p.wpos[2] = 0.25f * x * y;
  p.n[0] = 0.2f * x - 0.3f;
  p.n[1] = 1.0f;
  p.n[2] = 0.1f * y;
  p.spos[0] = 0.3f + 0.1f * x;
  p.spos[1] = 0.35f + 0.1f * y;
  p.spos[2] = 0.3f + 0.12f * float(l % 7);
  p.spos[3] = 1.0f + 0.05f * y;
  return p;
}

void Normalize3(float* v) {
  const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int i = 0; i < 3; ++i) v[i] /= len;
}

}  // namespace

TEST(HlslPixelShader, LitTexturedShadowMappedMatchesReference) {
  const shader_test::Texture diffuse =
      shader_test::Texture::Make(16, 16, [](int x, int y, float* c) {
        c[0] = float(x) / 15;
        c[1] = float(y) / 15;
        c[2] = float((x ^ y) & 1);
        c[3] = 1;
      });
  const shader_test::Texture shadow =
      shader_test::Texture::Make(32, 32, [](int x, int y, float* c) {
        const float d = 0.2f + 0.6f * float((x * 7 + y * 3) % 32) / 31;
        c[0] = c[1] = c[2] = c[3] = d;
      });
  const float light[3] = {2, 5, -3}, eye[3] = {0, 2, -6}, colour[4] = {1, 0.9f, 0.8f, 1};
  for (const char* profile : kPixelProfiles) {
    for (auto path : kPaths) {
      SCOPED_TRACE(profile);
      Harness h;
      ASSERT_TRUE(h.Compile(test_support::kLitShadowedPixelShader, profile, "main", 0, path))
          << h.messages;
      h.SetVector("LightPos", light[0], light[1], light[2]);
      h.SetVector("EyePos", eye[0], eye[1], eye[2]);
      h.SetVector("LightColor", colour[0], colour[1], colour[2], colour[3]);
      h.SetFloat("ShadowTexel", 1.f / 32);
      h.sampler.slots[0] = {&diffuse, shader_test::Filter::kLinear, shader_test::Address::kWrap};
      h.sampler.slots[1] = {&shadow, shader_test::Filter::kPoint, shader_test::Address::kClamp};
      for (int l = 0; l < 16; ++l) {
        const PixelIn p = LitInput(l);
        h.Input(D3DDECLUSAGE_TEXCOORD, 0, l, {p.uv[0], p.uv[1], 0, 0});
        h.Input(D3DDECLUSAGE_TEXCOORD, 1, l, {p.wpos[0], p.wpos[1], p.wpos[2], 0});
        h.Input(D3DDECLUSAGE_TEXCOORD, 2, l, {p.n[0], p.n[1], p.n[2], 0});
        h.Input(D3DDECLUSAGE_TEXCOORD, 3, l, {p.spos[0], p.spos[1], p.spos[2], p.spos[3]});
      }
      EXPECT_EQ(h.RunPixels(0xFFFF), 0xFFFFu);
      for (int l = 0; l < 16; ++l) {
        const PixelIn p = LitInput(l);
        float N[3] = {p.n[0], p.n[1], p.n[2]};
        Normalize3(N);
        float L[3], V[3], H[3];
        for (int i = 0; i < 3; ++i) {
          L[i] = light[i] - p.wpos[i];
          V[i] = eye[i] - p.wpos[i];
        }
        Normalize3(L);
        Normalize3(V);
        for (int i = 0; i < 3; ++i) H[i] = L[i] + V[i];
        Normalize3(H);
        const float diff = std::fmin(std::fmax(N[0] * L[0] + N[1] * L[1] + N[2] * L[2], 0.f), 1.f);
        const float ndoth = std::fmin(std::fmax(N[0] * H[0] + N[1] * H[1] + N[2] * H[2], 0.f), 1.f);
        const float specular = std::pow(ndoth, 16.f);
        const float su = p.spos[0] / p.spos[3], sv = p.spos[1] / p.spos[3],
                    depth = p.spos[2] / p.spos[3];
        float lit = 0;
        for (int y = 0; y < 2; y++)
          for (int x = 0; x < 2; x++) {
            float s[4];
            shader_test::Sampler::Fetch(shadow, 0, 0, shader_test::Filter::kPoint,
                                        shader_test::Address::kClamp, su + float(x) / 32,
                                        sv + float(y) / 32, s);
            lit += s[0] >= depth ? 0.25f : 0.f;
          }
        float albedo[4];
        shader_test::Sampler::Fetch(diffuse, 0, 0, shader_test::Filter::kLinear,
                                    shader_test::Address::kWrap, p.uv[0], p.uv[1], albedo);
        Vec4 want;
        for (int c = 0; c < 4; ++c)
          want[size_t(c)] = (albedo[c] * diff + specular) * colour[c] * lit;
        ExpectNear(h.Color(l), want, 2e-5f, "colour");
      }
      // The program is valid shader code: the executor's validator accepted it; the listing
      // shows the texture reads.
      EXPECT_EQ(h.sampler.calls, 5);
    }
  }
}

TEST(HlslPixelShader, TextureFunctionsAndTheirLevelsOfDetail) {
  // Eight levels, each a solid colour: red holds the level number, so the level a read used shows.
  shader_test::Texture tex = shader_test::Texture::Make(128, 128, [](int, int, float* c) {
    c[0] = 0;
    c[1] = c[2] = 0.5f;
    c[3] = 1;
  });
  tex.SolidLevels([](int level, float* c) {
    c[0] = float(level);
    c[1] = c[2] = 0.5f;
    c[3] = 1;
  });
  const shader_test::Texture cube = shader_test::Texture::Cube(4, [](int face, float* c) {
    c[0] = float(face);
    c[1] = 10;
    c[2] = 20;
    c[3] = 1;
  });
  auto run = [&](const char* profile, const std::string& src, float scale) {
    Harness h;
    EXPECT_TRUE(h.Compile(src, profile)) << src;
    if (h.code.empty()) return std::vector<Vec4>();
    h.sampler.slots[0] = {&tex, shader_test::Filter::kPoint, shader_test::Address::kWrap};
    h.sampler.slots[1] = {&cube, shader_test::Filter::kPoint, shader_test::Address::kClamp};
    // Quad lanes one pixel apart: texture coordinates step by `scale` texels per pixel.
    for (int l = 0; l < 16; ++l) {
      const float x = float((l >> 2) * 2 + (l & 1)), y = float((l >> 1) & 1);
      h.Input(D3DDECLUSAGE_TEXCOORD, 0, l, {x * scale / 128, y * scale / 128, 0, 2});
      h.Input(D3DDECLUSAGE_TEXCOORD, 1, l,
              {l % 3 == 0 ? 1.f : -0.2f, l % 3 == 1 ? 1.f : 0.1f, l % 3 == 2 ? -1.f : 0.3f, 0});
    }
    h.RunPixels();
    std::vector<Vec4> out;
    for (int l = 0; l < 16; ++l) out.push_back(h.Color(l));
    return out;
  };
  const std::string head =
      "sampler2D S : register(s0); samplerCUBE C : register(s1);\n"
      "float4 main(float4 t : TEXCOORD0, float3 d : TEXCOORD1) : COLOR {\n";
  for (const char* profile : kPixelProfiles) {
    SCOPED_TRACE(profile);
    // Implicit level: one texel per pixel is level 0, four texels per pixel level 2.
    for (auto [scale, level] : {std::pair<float, float>{1, 0}, {4, 2}, {16, 4}}) {
      const std::vector<Vec4> o = run(profile, head + " return tex2D(S, t.xy); }", scale);
      for (const Vec4& c : o) EXPECT_EQ(c[0], level) << "scale " << scale;
    }
    // Bias adds to the implicit level; tex2Dproj divides by w first (w = 4 quarters the steps
    // that doubling multiplied: two texels per pixel).
    std::vector<Vec4> o = run(profile, head + " return tex2Dbias(S, float4(t.xy, 0, 1.0)); }", 4);
    for (const Vec4& c : o) EXPECT_EQ(c[0], 3);
    o = run(profile, head + " return tex2Dproj(S, t.xyzw * 2); }", 4);
    for (const Vec4& c : o) EXPECT_EQ(c[0], 1);
    // Cube maps pick the face of the direction's major axis.
    o = run(profile, head + " return texCUBE(C, d); }", 1);
    for (int l = 0; l < 16; ++l) {
      const float want = l % 3 == 0 ? 0.f : l % 3 == 1 ? 2.f : 5.f;
      EXPECT_EQ(o[size_t(l)][0], want) << "lane " << l;
      EXPECT_EQ(o[size_t(l)][1], 10);
    }
  }
  // Explicit levels and gradients exist in ps_3_0 only.
  std::vector<Vec4> o = run("ps_3_0", head + " return tex2Dlod(S, float4(t.xy, 0, 3)); }", 1);
  for (const Vec4& c : o) EXPECT_EQ(c[0], 3);
  o = run("ps_3_0",
          head + " return tex2Dgrad(S, t.xy, float2(8.0 / 128, 0), float2(0, 1.0 / 128)); }", 1);
  for (const Vec4& c : o) EXPECT_EQ(c[0], 3);
  Harness h;
  EXPECT_FALSE(h.Compile(head + " return tex2Dlod(S, t); }", "ps_2_0"));
  EXPECT_NE(h.messages.find("X4532"), std::string::npos) << h.messages;
}

TEST(HlslPixelShader, DerivativesPositionFaceAndKilledPixels) {
  const std::string src =
      "float4 main(float2 t : TEXCOORD0, float2 p : VPOS, float face : VFACE) : COLOR {\n"
      "  if (t.x > 2.5) discard;\n"
      "  clip(t.y - 0.5);\n"
      "  return float4(ddx(t.x * t.x), ddy(t.y * 3), p.x + 100 * p.y, face > 0 ? 1 : -1);\n"
      "}\n";
  Harness h;
  ASSERT_TRUE(h.Compile(src, "ps_3_0")) << h.messages;
  EXPECT_TRUE(h.program.uses_position());
  EXPECT_TRUE(h.program.uses_face());
  EXPECT_TRUE(h.program.may_kill());
  vexa::PixelBatch& b = h.exec.pixels();
  float tx[16], ty[16];
  for (int l = 0; l < 16; ++l) {
    const int qx = (l >> 2) * 2 + (l & 1), qy = (l >> 1) & 1;
    tx[l] = 0.75f * float(qx);
    ty[l] = float(qy) + (l >= 12 ? -0.75f : 0.25f);
    h.Input(D3DDECLUSAGE_TEXCOORD, 0, l, {tx[l], ty[l], 0, 0});
    b.position[0].v[l] = float(qx + 10);
    b.position[1].v[l] = float(qy + 20);
    b.face.v[l] = l < 8 ? 1.f : -1.f;
  }
  const uint32_t alive = h.RunPixels(0x7FFF);  // lane 15 is a helper pixel
  for (int l = 0; l < 16; ++l) {
    const bool killed = tx[l] > 2.5f || ty[l] - 0.5f < 0;
    EXPECT_EQ((alive >> l) & 1, (l < 15 && !killed) ? 1u : 0u) << "lane " << l;
    if (killed) continue;
    const int q = l & ~3, row = l & 2;
    const float dx = tx[q + row + 1] * tx[q + row + 1] - tx[q + row] * tx[q + row];
    const float dy = 3 * (ty[q + 2 + (l & 1)] - ty[q + (l & 1)]);
    ExpectNear(h.Color(l),
               {dx, dy, b.position[0].v[l] + 100 * b.position[1].v[l], l < 8 ? 1.f : -1.f}, 1e-5f);
  }
  // ps_2_0 has neither derivatives nor VPOS.
  Harness h2;
  EXPECT_FALSE(
      h2.Compile("float4 main(float2 t : TEXCOORD0) : COLOR { return ddx(t.x); }", "ps_2_0"));
  EXPECT_NE(h2.messages.find("ddx"), std::string::npos);
  EXPECT_FALSE(h2.Compile("float4 main(float2 p : VPOS) : COLOR { return p.x; }", "ps_2_0"));
  EXPECT_NE(h2.messages.find("invalid ps_2_0 input semantic 'VPOS'"), std::string::npos)
      << h2.messages;
}

TEST(HlslPixelShader, SeveralRenderTargetsDepthAndShaderModel2Discards) {
  const std::string src =
      "void main(float4 c : COLOR0, float4 t : TEXCOORD2, out float4 c0 : COLOR0,"
      " out float4 c1 : COLOR1, out float depth : DEPTH) {\n"
      "  if (t.x < 0) discard;\n"
      "  c0 = c * 2; c1 = t.yxwz; depth = saturate(t.z);\n"
      "}\n";
  for (const char* profile : kPixelProfiles) {
    SCOPED_TRACE(profile);
    Harness h;
    ASSERT_TRUE(h.Compile(src, profile)) << h.messages;
    EXPECT_TRUE(h.program.writes_depth());
    for (int l = 0; l < 16; ++l) {
      h.Input(D3DDECLUSAGE_COLOR, 0, l, {0.1f * float(l), 0.2f, 0.3f, 0.4f});
      h.Input(D3DDECLUSAGE_TEXCOORD, 2, l, {float(l % 3) - 1, 1, float(l) / 10, 3});
    }
    const uint32_t alive = h.RunPixels();
    for (int l = 0; l < 16; ++l) {
      EXPECT_EQ((alive >> l) & 1, l % 3 == 0 ? 0u : 1u);
      ExpectNear(h.Color(l, 0), {0.2f * float(l), 0.4f, 0.6f, 0.8f});
      ExpectNear(h.Color(l, 1), {1, float(l % 3) - 1, 3, float(l) / 10});
      EXPECT_FLOAT_EQ(h.exec.pixels().depth.v[l], std::fmin(float(l) / 10, 1.f));
    }
  }
}

TEST(HlslVertexShader, SkinningIndexesUniformArraysAndReadsTextures) {
  // Bone palettes are indexed with values from the vertex: relative addressing through a0.
  const std::string src =
      "float4x3 Bones[4];\n"
      "sampler2D Height : register(s0);\n"
      "float4 main(float4 pos : POSITION, float4 idx : BLENDINDICES, float4 w : BLENDWEIGHT) : "
      "POSITION {\n"
      "  float3 p = mul(pos, Bones[idx.x]) * w.x + mul(pos, Bones[idx.y]) * w.y;\n"
      "#ifdef TEXTURED\n"
      "  p.y += tex2Dlod(Height, float4(w.xy, 0, 0)).r;\n"
      "#endif\n"
      "  return float4(p, 1);\n"
      "}\n";
  float bones[4][4][3];
  for (int b = 0; b < 4; ++b)
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) bones[b][r][c] = float((b + 1) * (r + 2 * c + 1) % 7) - 2.5f;
  const shader_test::Texture height = shader_test::Texture::Make(2, 2, [](int x, int y, float* c) {
    c[0] = float(10 + x + 2 * y);
    c[1] = c[2] = c[3] = 0;
  });
  for (const char* profile : kVertexProfiles) {
    for (bool textured : {false, true}) {
      if (textured && profile[3] == '2') continue;
      SCOPED_TRACE(std::string(profile) + (textured ? " textured" : ""));
      Harness h;
      std::string s = src;
      if (textured) s = "#define TEXTURED\n" + s;
      ASSERT_TRUE(h.Compile(s, profile)) << h.messages;
      EXPECT_NE(h.Listing().find("[rel]"), std::string::npos) << h.Listing();
      for (int b = 0; b < 4; ++b) {
        D3DXMATRIX m;
        for (int r = 0; r < 4; ++r)
          for (int c = 0; c < 4; ++c) (&m._11)[r * 4 + c] = c < 3 ? bones[b][r][c] : 0;
        const std::string name = "Bones[" + std::to_string(b) + "]";
        h.SetMatrix(name.c_str(), m);
      }
      h.sampler.slots[0] = {&height, shader_test::Filter::kPoint, shader_test::Address::kClamp};
      for (int l = 0; l < 16; ++l) {
        h.Input(D3DDECLUSAGE_POSITION, 0, l, {float(l) * 0.5f, 1, -float(l % 4), 1});
        h.Input(D3DDECLUSAGE_BLENDINDICES, 0, l, {float(l % 4), float((l / 4) % 4), 0, 0});
        h.Input(D3DDECLUSAGE_BLENDWEIGHT, 0, l, {0.25f, 0.75f, 0, 0});
      }
      ASSERT_TRUE(h.RunVertices());
      for (int l = 0; l < 16; ++l) {
        const float pos[4] = {float(l) * 0.5f, 1, -float(l % 4), 1};
        float want[3] = {0, 0, 0};
        for (int c = 0; c < 3; ++c) {
          for (int r = 0; r < 4; ++r)
            want[c] += pos[r] * (bones[l % 4][r][c] * 0.25f + bones[(l / 4) % 4][r][c] * 0.75f);
        }
        if (textured) want[1] += 10 + 0 + 2;  // texel (0.25, 0.75) -> (0, 1) in a 2 x 2 texture
        ExpectNear(h.Output(D3DDECLUSAGE_POSITION, 0, l), {want[0], want[1], want[2], 1}, 1e-5f);
      }
    }
  }
}

// --- the token stream
// ------------------------------------------------------------------------------

namespace {

// The tokens after the version and the CTAB comment.
std::vector<DWORD> Body(const std::vector<DWORD>& code) {
  if (code.size() < 3) return {};
  const size_t comment = (code[1] & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
  return std::vector<DWORD>(code.begin() + 2 + long(comment), code.end());
}

std::vector<DWORD> BodyOf(const shader_asm::Stream& s) {
  std::vector<DWORD> t = const_cast<shader_asm::Stream&>(s).End();
  t.erase(t.begin());
  return t;
}

}  // namespace

TEST(HlslTokens, SmallShadersMatchHandAssembledCode) {
  using namespace shader_asm;
  {
    Harness h;
    ASSERT_TRUE(
        h.Compile("float4 Offset : register(c3);\n"
                  "void main(float4 p : POSITION, out float4 o : POSITION,"
                  " out float3 t : TEXCOORD0) {\n"
                  "  o = p * p.yyxw + Offset.zxyw;\n"
                  "  t = p.xyz * 2 + p.w;\n"
                  "}\n",
                  "vs_2_0"));
    EXPECT_EQ(h.code[0], 0xFFFE0200u);
    EXPECT_EQ(h.code[1] & 0xFFFF, DWORD(D3DSIO_COMMENT));
    EXPECT_EQ(h.code[2], DWORD(MAKEFOURCC('C', 'T', 'A', 'B')));
    EXPECT_EQ(h.code.back(), 0x0000FFFFu);
    Stream want(D3DVS_VERSION(2, 0));
    want.Def(0, 2, 0, 0, 0);
    want.Dcl(DclUsage(D3DDECLUSAGE_POSITION), Dst(D3DSPR_INPUT, 0));
    want({Ins(D3DSIO_MAD, 4), Dst(D3DSPR_RASTOUT, D3DSRO_POSITION), Src(D3DSPR_INPUT, 0),
          Src(D3DSPR_INPUT, 0, Swz(1, 1, 0, 3)), Src(D3DSPR_CONST, 3, Swz(2, 0, 1, 3))});
    want({Ins(D3DSIO_MAD, 4), Dst(D3DSPR_TEXCRDOUT, 0, 0x7), Src(D3DSPR_INPUT, 0, Swz(0, 1, 2, 2)),
          Src(D3DSPR_CONST, 0, Rep(0)), Src(D3DSPR_INPUT, 0, Rep(3))});
    EXPECT_EQ(Body(h.code), BodyOf(want)) << h.Listing();
  }
  {
    Harness h;
    ASSERT_TRUE(
        h.Compile("sampler2D Tex : register(s2);\n"
                  "float4 main(float2 uv : TEXCOORD1) : COLOR { return tex2D(Tex, uv); }\n",
                  "ps_2_0"));
    EXPECT_EQ(h.code[0], 0xFFFF0200u);
    Stream want(D3DPS_VERSION(2, 0));
    want.Dcl(0x80000000u, Dst(D3DSPR_TEXTURE, 1, 0x3));
    want.Dcl(0x80000000u | D3DSTT_2D, Dst(D3DSPR_SAMPLER, 2));
    want({Ins(D3DSIO_TEX, 3), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEXTURE, 1), Src(D3DSPR_SAMPLER, 2)});
    want({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_COLOROUT, 0), Src(D3DSPR_TEMP, 0)});
    EXPECT_EQ(Body(h.code), BodyOf(want)) << h.Listing();
  }
  {
    // ps_3_0 declarations with usages; one input register per instruction (its read port), so
    // the second input is copied first; the saturated dot product goes straight to the output.
    Harness h;
    ASSERT_TRUE(
        h.Compile("float4 main(float3 n : NORMAL, float3 l : TEXCOORD4) : COLOR {\n"
                  "  return saturate(dot(n, l));\n}\n",
                  "ps_3_0"));
    Stream want(D3DPS_VERSION(3, 0));
    want.Dcl(DclUsage(D3DDECLUSAGE_NORMAL), Dst(D3DSPR_INPUT, 0, 0x7));
    want.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD, 4), Dst(D3DSPR_INPUT, 1, 0x7));
    want({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 0, 0x7), Src(D3DSPR_INPUT, 1, Swz(0, 1, 2, 2))});
    want({Ins(D3DSIO_DP3, 3), Dst(D3DSPR_COLOROUT, 0, 0xF, D3DSPDM_SATURATE),
          Src(D3DSPR_INPUT, 0, Swz(0, 1, 2, 2)), Src(D3DSPR_TEMP, 0, Swz(0, 1, 2, 0))});
    EXPECT_EQ(Body(h.code), BodyOf(want)) << h.Listing();
  }
}

TEST(HlslTokens, ConstantTableLaysOutEntriesTypesDefaultsAndStrings) {
  Harness h;
  ASSERT_TRUE(
      h.Compile("float4x4 World;\n"
                "row_major float3x4 Bones[2] : register(c10);\n"
                "struct Mat { float4 tint; float gloss; };\n"
                "Mat Material = { {1, 2, 3, 4}, 0.5 };\n"
                "sampler2D Tex;\n"
                "float Unused;\n"
                "float4 main(float4 p : POSITION, uniform float k) : POSITION {\n"
                "  return mul(p, World) + mul(Bones[1], p).xyzx * Material.gloss + "
                "Material.tint * k + tex2Dlod(Tex, p);\n"
                "}\n",
                "vs_3_0"));
  size_t dwords = (h.code[1] & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
  ASSERT_GT(dwords, 8u);
  const BYTE* t = reinterpret_cast<const BYTE*>(&h.code[3]);
  const size_t size = (dwords - 1) * 4;
  D3DXSHADER_CONSTANTTABLE head;
  std::memcpy(&head, t, sizeof head);
  EXPECT_EQ(head.Size, sizeof(D3DXSHADER_CONSTANTTABLE));
  EXPECT_EQ(head.Version, 0xFFFE0300u);
  ASSERT_LT(head.Target, size);
  EXPECT_STREQ(reinterpret_cast<const char*>(t + head.Target), "vs_3_0");
  ASSERT_LT(head.Creator, size);
  EXPECT_GT(std::strlen(reinterpret_cast<const char*>(t + head.Creator)), 0u);
  ASSERT_EQ(head.Constants, 5u);  // Unused is left out
  struct Want {
    const char* name;
    WORD set, index, count, cls, type, rows, columns, elements, members;
  };
  // Sorted by name; registers bound first, the rest in declaration order, uniform parameters
  // last and named with '$'; samplers in their own registers.
  const Want want[] = {
      {"$k", D3DXRS_FLOAT4, 6, 1, D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1, 1, 0},
      {"Bones", D3DXRS_FLOAT4, 10, 6, D3DXPC_MATRIX_ROWS, D3DXPT_FLOAT, 3, 4, 2, 0},
      {"Material", D3DXRS_FLOAT4, 4, 2, D3DXPC_STRUCT, D3DXPT_VOID, 1, 5, 1, 2},
      {"Tex", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1, 0},
      {"World", D3DXRS_FLOAT4, 0, 4, D3DXPC_MATRIX_COLUMNS, D3DXPT_FLOAT, 4, 4, 1, 0},
  };
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(want[i].name);
    D3DXSHADER_CONSTANTINFO c;
    std::memcpy(&c, t + head.ConstantInfo + i * sizeof c, sizeof c);
    ASSERT_LT(c.Name, size);
    EXPECT_STREQ(reinterpret_cast<const char*>(t + c.Name), want[i].name);
    EXPECT_EQ(c.RegisterSet, want[i].set);
    EXPECT_EQ(c.RegisterIndex, want[i].index);
    EXPECT_EQ(c.RegisterCount, want[i].count);
    D3DXSHADER_TYPEINFO ti;
    ASSERT_LE(c.TypeInfo + sizeof ti, size);
    std::memcpy(&ti, t + c.TypeInfo, sizeof ti);
    EXPECT_EQ(ti.Class, want[i].cls);
    EXPECT_EQ(ti.Type, want[i].type);
    EXPECT_EQ(ti.Rows, want[i].rows);
    EXPECT_EQ(ti.Columns, want[i].columns);
    EXPECT_EQ(ti.Elements, want[i].elements);
    EXPECT_EQ(ti.StructMembers, want[i].members);
    if (want[i].members) {
      D3DXSHADER_STRUCTMEMBERINFO m[2];
      std::memcpy(m, t + ti.StructMemberInfo, sizeof m);
      EXPECT_STREQ(reinterpret_cast<const char*>(t + m[0].Name), "tint");
      EXPECT_STREQ(reinterpret_cast<const char*>(t + m[1].Name), "gloss");
      // The initialiser, register by register.
      ASSERT_NE(c.DefaultValue, 0u);
      float d[8];
      std::memcpy(d, t + c.DefaultValue, sizeof d);
      const float wd[8] = {1, 2, 3, 4, 0.5f, 0, 0, 0};
      for (int k = 0; k < 8; ++k) EXPECT_EQ(d[k], wd[k]) << k;
    } else {
      EXPECT_EQ(c.DefaultValue, 0u);
    }
  }
}

// --- errors --------------------------------------------------------------------------------------

TEST(HlslErrors, MistakesReportCodeLineAndColumn) {
  struct Case {
    const char* profile;
    const char* src;
    const char* message;  // expected within the messages
  };
  const Case cases[] = {
      {"ps_2_0", "float4 main(float4 p : POSITION) : COLOR\n{ return p; }",
       "memory(1,13): error X4502: invalid ps_2_0 input semantic 'POSITION'"},
      {"ps_3_0", "float4 main(float4 p) : COLOR { return p; }",
       "memory(1,13): error X3502: 'p': input parameter missing semantics"},
      {"vs_2_0", "float4 main(float4 p : POSITION) : COLOR0 { return p; }",
       "memory(1,8): error X4541: 'main': vertex shader must write POSITION"},
      {"vs_2_0",
       "sampler2D s;\nfloat4 main(float4 p : POSITION) : POSITION {\n  return tex2D(s, p.xy);\n}",
       "memory(3,10): error X4532: cannot map expression to vs_2_0 instruction set"},
      {"vs_3_0", "float4 main(float4 p : POSITION) : POSITION { discard; return p; }",
       "memory(1,47): error X4532"},
      {"ps_2_0", "float4 main(float2 t : TEXCOORD0) : COLOR {\n return ddy(t.x);\n}",
       "memory(2,9): error X4532"},
      {"ps_3_0", "float4 main(float2 t : TEXCOORD0) : COLOR {\n  return undefined + t.x;\n}",
       "memory(2,10): error X3004: undeclared identifier 'undefined'"},
      {"ps_3_0", "float4 A[4];\nfloat4 main(float2 t : TEXCOORD0) : COLOR {\n  return A[t.x];\n}",
       "memory(3,11): error X3512"},
      {"ps_3_0", "float4 main(float2 t : TEXCOORD0) : COLOR { int i = t.x; return i & 3; }",
       "error X3535: bitwise operations are not supported in ps_3_0"},
      {"ps_2_0", "float4 Big[40];\nfloat4 main() : COLOR { return Big[39]; }",
       "memory(1,8): error X4505"},
      {"vs_2_0",
       "float4 A : register(c4);\nfloat4 B : register(c4);\n"
       "float4 main() : POSITION { return A + B; }",
       "memory(2,8): error X4500: overlapping register semantics"},
      {"ps_3_0",
       "struct In { float2 t : TEXCOORD0; float4 c; };\n"
       "float4 main(In i) : COLOR { return i.c; }",
       "memory(1,42): error X3502: 'i': input member 'c' missing semantics"},
      {"vs_1_1", "float4 main() : POSITION { return 0; }",
       "error X3523: 'vs_1_1': invalid target profile"},
      {"ps_3_0",
       "float4 main(float2 t : TEXCOORD0) : COLOR { float3 v = float2(1, 2); return t.x; }",
       "error X3017: cannot implicitly convert from 'float2' to 'float3'"},
      {"ps_3_0", "float4 main(float2 t : TEXCOORD0) : COLOR { return t.xq; }", "error X3018"},
      {"ps_2_0",
       "int N;\nfloat4 main(float2 t : TEXCOORD0) : COLOR {\n  float s = 0;\n"
       "  while (s < t.x) s += 1;\n  return s;\n}",
       "memory(4,3): error X3511: unable to unroll loop"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.src);
    Harness h;
    EXPECT_FALSE(h.Compile(c.src, c.profile));
    EXPECT_NE(h.messages.find(c.message), std::string::npos) << h.messages;
    // One message per line, each ending in a newline.
    EXPECT_FALSE(h.messages.empty());
    if (!h.messages.empty()) {
      EXPECT_EQ(h.messages.back(), '\n');
    }
  }
}

TEST(HlslErrors, ModelLimitsAreErrors) {
  // 64 arithmetic slots in ps_2_0: sixteen sines are far more.
  std::string body = " float s = 0;\n";
  for (int i = 0; i < 16; ++i) body += " s += sin(t.x * " + std::to_string(i + 1) + ");\n";
  Harness h;
  EXPECT_FALSE(h.Compile("float4 main(float2 t : TEXCOORD0) : COLOR {\n" + body + " return s;\n}",
                         "ps_2_0"));
  EXPECT_NE(h.messages.find(
                "error X5608: compiled shader code uses too many arithmetic instruction slots"),
            std::string::npos)
      << h.messages;
  // The same code fits ps_3_0.
  EXPECT_TRUE(
      h.Compile("float4 main(float2 t : TEXCOORD0) : COLOR {\n" + body + " return s;\n}", "ps_3_0"))
      << h.messages;
  // More values alive at once than ps_2_0's twelve temporaries.
  std::string many;
  for (int i = 0; i < 14; ++i)
    many += " float4 v" + std::to_string(i) + " = t * " + std::to_string(i + 2) + ".5 + t.yxwz;\n";
  many += " float4 s = 0;\n";
  for (int i = 0; i < 14; ++i)
    many += " s = s * v" + std::to_string(i) + " + v" + std::to_string(13 - i) + ";\n";
  EXPECT_FALSE(h.Compile("float4 main(float4 t : TEXCOORD0) : COLOR {\n" + many + " return s;\n}",
                         "ps_2_0"));
  EXPECT_NE(h.messages.find("temporary registers"), std::string::npos) << h.messages;
}

TEST(HlslLanguage, EffectSyntaxIsParsedAndSkipped) {
  // Textures, sampler states, annotations, semantics on globals, typedefs and techniques: what
  // effect files hold around the shaders.
  const std::string src =
      "texture DiffuseMap < string ResourceName = \"stone.png\"; >;\n"
      "sampler2D Diffuse = sampler_state { Texture = <DiffuseMap>; MinFilter = Linear; };\n"
      "float4x4 WorldViewProj : WORLDVIEWPROJECTION < string UIWidget = \"None\"; >;\n"
      "typedef float4 colour;\n"
      "uniform bool UseTint = true;\n"
      "colour Tint = {0.5, 1, 1, 1};\n"
      "colour main(float2 t : TEXCOORD0) : COLOR {\n"
      "  colour c = tex2D(Diffuse, t);\n"
      "  if (UseTint) c *= Tint;\n"
      "  return c;\n"
      "}\n"
      "technique Plain < int Order = 1; > { pass P0 { PixelShader = compile ps_2_0 main(); } }\n";
  const shader_test::Texture tex = shader_test::Texture::Make(
      1, 1, [](int, int, float* c) { c[0] = 0.8f, c[1] = 0.6f, c[2] = 0.4f, c[3] = 1; });
  for (const char* profile : kPixelProfiles) {
    SCOPED_TRACE(profile);
    Harness h;
    ASSERT_TRUE(h.Compile(src, profile)) << h.messages;
    EXPECT_EQ(h.table->GetSamplerIndex("Diffuse"), 0u);
    EXPECT_EQ(h.table->GetConstantByName(nullptr, "DiffuseMap"), nullptr);  // no registers
    h.sampler.slots[0] = {&tex, shader_test::Filter::kPoint, shader_test::Address::kWrap};
    h.InputAll(D3DDECLUSAGE_TEXCOORD, 0, {0.5f, 0.5f, 0, 0});
    h.RunPixels();
    ExpectNear(h.Color(5), {0.4f, 0.6f, 0.4f, 1});  // UseTint's initial value is true
    ASSERT_EQ(h.table->SetBool(&h.device, "UseTint", FALSE), D3D_OK);
    h.RunPixels();
    ExpectNear(h.Color(5), {0.8f, 0.6f, 0.4f, 1});
  }
}
