// The shader token reader, validator and executor on hand-assembled shader model 2 / 3 code: what
// it accepts and refuses, what it tells the device, and what each instruction and flow-control
// form computes lane by lane.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../platform/shader/shader_executor.h"
#include "support/shader_asm.h"
#include "support/shader_test_sampler.h"

using namespace shader_asm;

namespace {

const vexa::ShaderCodePath kPaths[] = {vexa::ShaderCodePath::kBest, vexa::ShaderCodePath::kGeneric};

std::string Refusal(const std::vector<DWORD>& t) {
  vexa::ShaderProgram p;
  std::string why;
  if (vexa::CreateShaderProgram(t.data(), t.size(), &p, &why)) return "";
  EXPECT_FALSE(p.valid());
  EXPECT_FALSE(why.empty());
  return why;
}

// Runs a vs_3_0 body on v0 = (l, l / 2, -l, 1) for lane l, with the given float constants;
// returns o0.
struct VsRun {
  vexa::ShaderProgram program;
  vexa::ShaderExecutor exec;
  float c[256][4] = {};
  INT i[16][4] = {};
  BOOL b[16] = {};

  ::testing::AssertionResult Build(Stream s,
                                   vexa::ShaderCodePath path = vexa::ShaderCodePath::kBest) {
    std::vector<DWORD> t = s.End();
    std::string why;
    if (!vexa::CreateShaderProgram(t.data(), t.size(), &program, &why, path))
      return ::testing::AssertionFailure() << why;
    return ::testing::AssertionSuccess();
  }
  bool Run(int count = 16, vexa::ShaderSampler* sampler = nullptr) {
    vexa::ShaderConstants k;
    k.f = &c[0][0];
    k.f_count = 256;
    k.i = &i[0][0];
    k.b = b;
    exec.Bind(program, k, sampler);
    for (int l = 0; l < 16; ++l) {
      exec.vertices().input[0].c[0].v[l] = float(l);
      exec.vertices().input[0].c[1].v[l] = float(l) / 2;
      exec.vertices().input[0].c[2].v[l] = -float(l);
      exec.vertices().input[0].c[3].v[l] = 1;
    }
    return exec.RunVertices(count);
  }
  float Out(int reg, int comp, int lane) { return exec.vertices().output[reg].c[comp].v[lane]; }
};

Stream Vs3() {
  Stream s(D3DVS_VERSION(3, 0));
  s.Dcl(DclUsage(D3DDECLUSAGE_POSITION), Dst(D3DSPR_INPUT, 0));
  s.Dcl(DclUsage(D3DDECLUSAGE_POSITION), Dst(D3DSPR_OUTPUT, 0));
  return s;
}

}  // namespace

// --- what the reader accepts and refuses -----------------------------------------------------

TEST(ShaderReader, DescribesDeclarationsAndDefinitionsForTheDevice) {
  {  // vs_2_0: inputs by dcl, outputs by the registers written.
    Stream s(D3DVS_VERSION(2, 0));
    s.Def(7, 1, 2, 3, 4);
    s({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 2), 3, 0, 1, 0});
    s({Ins(D3DSIO_DEFB, 2), Dst(D3DSPR_CONSTBOOL, 5), 1});
    s.Dcl(DclUsage(D3DDECLUSAGE_POSITION), Dst(D3DSPR_INPUT, 0));
    s.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD, 3), Dst(D3DSPR_INPUT, 4));
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_RASTOUT, D3DSRO_POSITION), Src(D3DSPR_INPUT, 0)});
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_ATTROUT, 1, 0x7), Src(D3DSPR_INPUT, 4)});
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEXCRDOUT, 5, 0x3), Src(D3DSPR_INPUT, 4)});
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_RASTOUT, D3DSRO_FOG, 0x1), Src(D3DSPR_INPUT, 4, Rep(3))});
    const std::vector<DWORD> t = s.End();
    vexa::ShaderProgram p;
    std::string why;
    ASSERT_TRUE(vexa::CreateShaderProgram(t.data(), t.size(), &p, &why)) << why;
    EXPECT_EQ(p.type(), vexa::ShaderType::kVertex);
    EXPECT_EQ(p.version(), D3DVS_VERSION(2, 0));
    EXPECT_EQ(p.dwords(), t.size());
    ASSERT_EQ(p.inputs().size(), 2u);
    EXPECT_EQ(p.inputs()[1].usage, D3DDECLUSAGE_TEXCOORD);
    EXPECT_EQ(p.inputs()[1].usage_index, 3);
    EXPECT_EQ(p.inputs()[1].slot, 4);
    ASSERT_EQ(p.outputs().size(), 4u);
    EXPECT_EQ(p.outputs()[0].slot, vexa::kVs2SlotPosition);
    EXPECT_EQ(p.outputs()[1].usage, D3DDECLUSAGE_COLOR);
    EXPECT_EQ(p.outputs()[1].usage_index, 1);
    EXPECT_EQ(p.outputs()[1].slot, vexa::kVs2SlotColor0 + 1);
    EXPECT_EQ(p.outputs()[1].mask, 0x7);
    EXPECT_EQ(p.outputs()[2].slot, vexa::kVs2SlotTexcoord0 + 5);
    EXPECT_EQ(p.outputs()[3].usage, D3DDECLUSAGE_FOG);
    EXPECT_EQ(p.outputs()[3].slot, vexa::kVs2SlotFog);
    ASSERT_EQ(p.float_defs().size(), 1u);
    EXPECT_EQ(p.float_defs()[0].reg, 7u);
    EXPECT_EQ(p.float_defs()[0].v[3], 4);
    ASSERT_EQ(p.int_defs().size(), 1u);
    EXPECT_EQ(p.int_defs()[0].v[0], 3);
    ASSERT_EQ(p.bool_defs().size(), 1u);
    EXPECT_EQ(p.bool_defs()[0].reg, 5u);
  }
  {  // ps_2_0: t# and v# slots, samplers with their types.
    Stream s(D3DPS_VERSION(2, 0));
    s.Dcl(0x80000000u, Dst(D3DSPR_TEXTURE, 2, 0x3));
    s.Dcl(0x80000000u, Dst(D3DSPR_INPUT, 1));
    s.Dcl(0x80000000u | D3DSTT_CUBE, Dst(D3DSPR_SAMPLER, 3));
    s({Ins(D3DSIO_TEX, 3), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEXTURE, 2), Src(D3DSPR_SAMPLER, 3)});
    s({Ins(D3DSIO_MUL, 3), Dst(D3DSPR_COLOROUT, 0), Src(D3DSPR_TEMP, 0), Src(D3DSPR_INPUT, 1)});
    const std::vector<DWORD> t = s.End();
    vexa::ShaderProgram p;
    std::string why;
    ASSERT_TRUE(vexa::CreateShaderProgram(t.data(), t.size(), &p, &why)) << why;
    ASSERT_EQ(p.inputs().size(), 2u);
    EXPECT_EQ(p.inputs()[0].usage, D3DDECLUSAGE_TEXCOORD);
    EXPECT_EQ(p.inputs()[0].usage_index, 2);
    EXPECT_EQ(p.inputs()[0].slot, vexa::kPs2SlotTexcoord0 + 2);
    EXPECT_EQ(p.inputs()[1].usage, D3DDECLUSAGE_COLOR);
    EXPECT_EQ(p.inputs()[1].slot, vexa::kPs2SlotColor0 + 1);
    ASSERT_EQ(p.samplers().size(), 1u);
    EXPECT_EQ(p.samplers()[0].index, 3);
    EXPECT_EQ(p.samplers()[0].type, D3DSTT_CUBE);
    ASSERT_EQ(p.outputs().size(), 1u);
    EXPECT_EQ(p.outputs()[0].usage, D3DDECLUSAGE_COLOR);
    EXPECT_FALSE(p.writes_depth());
  }
}

TEST(ShaderReader, RefusesEveryTruncationOfValidCode) {
  Stream s = Vs3();
  s.Def(3, 1, 2, 3, 4);
  s({Ins(D3DSIO_MAD, 4), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 0), Src(D3DSPR_CONST, 3, Rep(1)),
     Src(D3DSPR_CONST, 3)});
  s({D3DSHADER_COMMENT(2), 0x12345678, 0x9ABCDEF0});
  const std::vector<DWORD> full = s.End();
  for (size_t n = 0; n < full.size(); ++n) {
    // A copy of exactly n DWORDs, so reading past it is seen by the sanitizers.
    std::vector<DWORD> cut(full.begin(), full.begin() + long(n));
    EXPECT_NE(Refusal(cut), "") << "accepted " << n << " of " << full.size() << " dwords";
  }
  EXPECT_EQ(Refusal(full), "");
  // Anything after the end token is not read.
  std::vector<DWORD> more = full;
  more.push_back(0xDEADBEEF);
  EXPECT_EQ(Refusal(more), "");
}

TEST(ShaderReader, RefusesMalformedTokensWithTheirOffset) {
  struct Case {
    const char* what;
    std::vector<DWORD> code;
    const char* reason;
  };
  auto vs = [](std::initializer_list<DWORD> body) {
    Stream s = Vs3();
    s(body);
    return s.End();
  };
  auto ps2 = [](std::initializer_list<DWORD> body) {
    Stream s(D3DPS_VERSION(2, 0));
    s(body);
    return s.End();
  };
  const DWORD mov = Ins(D3DSIO_MOV, 2);
  const Case cases[] = {
      {"shader model 1", {D3DVS_VERSION(1, 1), D3DVS_END()}, "not supported"},
      {"shader model 4", {D3DPS_VERSION(4, 0), D3DPS_END()}, "not supported"},
      {"not a version", {0x12345678, D3DPS_END()}, "version"},
      {"unknown opcode", vs({Ins(200, 0)}), "unknown opcode"},
      {"ps_1_x texture op",
       ps2({Ins(D3DSIO_TEXBEM, 2), Dst(D3DSPR_TEXTURE, 0), Src(D3DSPR_TEXTURE, 1)}),
       "unknown opcode"},
      {"vs-only op in ps",
       ps2({Ins(D3DSIO_SLT, 3), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 1), Src(D3DSPR_TEMP, 2)}),
       "not available"},
      {"length mismatch",
       vs({Ins(D3DSIO_MOV, 3), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 0), Src(D3DSPR_INPUT, 0)}),
       "extra"},
      {"short instruction", vs({Ins(D3DSIO_ADD, 2), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 0)}),
       "length"},
      {"parameter without bit 31",
       vs({mov, Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 0) & 0x7FFFFFFF}), "bit 31"},
      {"reserved bits", vs({mov, Dst(D3DSPR_OUTPUT, 0) | 0x4000, Src(D3DSPR_INPUT, 0)}),
       "reserved"},
      {"empty write mask", vs({mov, Dst(D3DSPR_OUTPUT, 0, 0), Src(D3DSPR_INPUT, 0)}),
       "empty write mask"},
      {"temp out of range", ps2({mov, Dst(D3DSPR_TEMP, 12), Src(D3DSPR_TEMP, 0)}), "out of range"},
      {"constant out of range", ps2({mov, Dst(D3DSPR_TEMP, 0), Src(D3DSPR_CONST, 32)}),
       "out of range"},
      {"input out of range", vs({mov, Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 16)}),
       "out of range"},
      {"colour output out of range", ps2({mov, Dst(D3DSPR_COLOROUT, 4), Src(D3DSPR_TEMP, 0)}),
       "out of range"},
      {"writing an input", vs({mov, Dst(D3DSPR_INPUT, 0), Src(D3DSPR_INPUT, 0)}), "read-only"},
      {"undeclared input", vs({mov, Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 3)}), "not declared"},
      {"undeclared output", vs({mov, Dst(D3DSPR_OUTPUT, 5), Src(D3DSPR_INPUT, 0)}), "declared"},
      {"undeclared sampler",
       ps2({Ins(D3DSIO_TEX, 3), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 0), Src(D3DSPR_SAMPLER, 0)}),
       "not declared"},
      {"ps_1_x source modifier",
       vs({mov, Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 0, kXyzw, D3DSPSM_BIAS)}), "modifier"},
      {"abs in shader model 2",
       ps2({mov, Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 1, kXyzw, D3DSPSM_ABS)}), "abs"},
      {"scalar op without replicate",
       vs({Ins(D3DSIO_RCP, 2), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_INPUT, 0)}), "replicate"},
      {"a0 in a pixel shader",
       ps2({mov, Dst(D3DSPR_TEMP, 0), Src(D3DSPR_CONST, 0) | D3DSHADER_ADDRMODE_RELATIVE,
            Src(D3DSPR_ADDR, 0, Rep(0))}),
       ""},
      {"aL outside a loop",
       vs({mov, Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_CONST, 0) | D3DSHADER_ADDRMODE_RELATIVE,
           Src(D3DSPR_LOOP, 0, Rep(0))}),
       ""},
      {"else without if", vs({Ins(D3DSIO_ELSE, 0)}), "else without if"},
      {"unclosed if", vs({Ins(D3DSIO_IF, 1), Src(D3DSPR_CONSTBOOL, 0)}), "not closed"},
      {"break outside a loop", vs({Ins(D3DSIO_BREAK, 0)}), "outside a loop"},
      {"flow control in ps_2_0",
       ps2({Ins(D3DSIO_REP, 1), Src(D3DSPR_CONSTINT, 0), Ins(D3DSIO_ENDREP, 0)}), "not available"},
      {"bad comparison",
       vs({Ins(D3DSIO_IFC, 2, 7), Src(D3DSPR_INPUT, 0, Rep(0)), Src(D3DSPR_INPUT, 0, Rep(1)),
           Ins(D3DSIO_ENDIF, 0)}),
       "comparison"},
      {"call of an undefined label", vs({Ins(D3DSIO_CALL, 1), Src(D3DSPR_LABEL, 3)}),
       "undefined label"},
      {"comment past the end",
       {D3DVS_VERSION(3, 0), D3DSHADER_COMMENT(100), D3DVS_END()},
       "past the end"},
      {"no end token", {D3DVS_VERSION(3, 0), Ins(D3DSIO_NOP, 0)}, "no end token"},
      {"declaration after code",
       vs({Ins(D3DSIO_NOP, 0), Ins(D3DSIO_DCL, 2), DclUsage(D3DDECLUSAGE_NORMAL),
           Dst(D3DSPR_INPUT, 1)}),
       "precede"},
      {"integer constant in ps_2_0",
       ps2({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 0), 1, 0, 0, 0}), "ps_2_0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string why = Refusal(c.code);
    EXPECT_NE(why, "");
    EXPECT_EQ(why.rfind("dword ", 0), 0u) << why;
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
  // Nesting and recursion limits.
  Stream deep = Vs3();
  for (int i = 0; i < 5; ++i) deep({Ins(D3DSIO_REP, 1), Src(D3DSPR_CONSTINT, 0)});
  for (int i = 0; i < 5; ++i) deep({Ins(D3DSIO_ENDREP, 0)});
  EXPECT_NE(Refusal(deep.End()).find("nested too deeply"), std::string::npos);
  Stream rec = Vs3();
  rec({Ins(D3DSIO_CALL, 1), Src(D3DSPR_LABEL, 1), Ins(D3DSIO_RET, 0)});
  rec({Ins(D3DSIO_LABEL, 1), Src(D3DSPR_LABEL, 1), Ins(D3DSIO_CALL, 1), Src(D3DSPR_LABEL, 1),
       Ins(D3DSIO_RET, 0)});
  EXPECT_NE(Refusal(rec.End()).find("recursive"), std::string::npos);
  // Null and empty input.
  vexa::ShaderProgram p;
  std::string why;
  EXPECT_FALSE(vexa::CreateShaderProgram(nullptr, 10, &p, &why));
  const DWORD one = D3DVS_VERSION(3, 0);
  EXPECT_FALSE(vexa::CreateShaderProgram(&one, 0, &p, &why));
  EXPECT_FALSE(vexa::CreateShaderProgram(&one, 1, &p, &why));
}

TEST(ShaderReader, SurvivesRandomCorruptionOfValidCode) {
  Stream s(D3DPS_VERSION(3, 0));
  s.Def(0, 0.5f, 1, 2, -1);
  s({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 0), 4, 0, 1, 0});
  s.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD), Dst(D3DSPR_INPUT, 0));
  s.Dcl(0x80000000u | D3DSTT_2D, Dst(D3DSPR_SAMPLER, 0));
  s({Ins(D3DSIO_TEX, 3), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_INPUT, 0), Src(D3DSPR_SAMPLER, 0)});
  s({Ins(D3DSIO_LOOP, 2), Src(D3DSPR_LOOP, 0), Src(D3DSPR_CONSTINT, 0)});
  s({Ins(D3DSIO_ADD, 4), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 0),
     Src(D3DSPR_CONST, 0) | D3DSHADER_ADDRMODE_RELATIVE, Src(D3DSPR_LOOP, 0, Rep(0))});
  s({Ins(D3DSIO_BREAKC, 2, D3DSPC_GT), Src(D3DSPR_TEMP, 0, Rep(0)), Src(D3DSPR_CONST, 0, Rep(2))});
  s({Ins(D3DSIO_ENDLOOP, 0)});
  s({Ins(D3DSIO_TEXKILL, 1), Dst(D3DSPR_TEMP, 0)});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_COLOROUT, 0), Src(D3DSPR_TEMP, 0)});
  const std::vector<DWORD> valid = s.End();
  ASSERT_EQ(Refusal(valid), "");
  std::mt19937 rng(1234);
  shader_test::Sampler sampler;
  vexa::ShaderExecutor exec;
  exec.SetBudget(1 << 14);
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    std::vector<DWORD> t = valid;
    const int flips = 1 + int(rng() % 3);
    for (int f = 0; f < flips; ++f) t[rng() % t.size()] ^= 1u << (rng() % 32);
    vexa::ShaderProgram p;
    std::string why;
    if (!vexa::CreateShaderProgram(t.data(), t.size(), &p, &why)) continue;
    ++accepted;
    float c[224][4] = {};
    vexa::ShaderConstants k;
    k.f = &c[0][0];
    k.f_count = 224;
    exec.Bind(p, k, &sampler);
    if (p.type() == vexa::ShaderType::kPixel)
      exec.RunPixels(vexa::kAllShaderLanes);
    else
      exec.RunVertices(16);
  }
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 3000);
}

// --- what instructions compute ------------------------------------------------------------------

TEST(ShaderExecutor, ArithmeticInstructionsMatchTheirDefinitions) {
  // Each case writes o0 from v0 = (l, l / 2, -l, 1) and c0 = (0.5, -2, 3, 0.25).
  struct Case {
    const char* what;
    std::vector<DWORD> ins;
    std::function<void(const float* v, float* o)> want;
  };
  const DWORD o0 = Dst(D3DSPR_OUTPUT, 0);
  const DWORD v0 = Src(D3DSPR_INPUT, 0), c0 = Src(D3DSPR_CONST, 0);
  const float k[4] = {0.5f, -2, 3, 0.25f};
  const Case cases[] = {
      {"mov neg",
       {Ins(D3DSIO_MOV, 2), o0, Src(D3DSPR_INPUT, 0, Swz(3, 2, 1, 0), D3DSPSM_NEG)},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = -v[3 - i];
       }},
      {"mov abs sat",
       {Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 0, 0xF, D3DSPDM_SATURATE),
        Src(D3DSPR_INPUT, 0, kXyzw, D3DSPSM_ABSNEG)},
       [](const float*, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = 0;
       }},
      {"mad",
       {Ins(D3DSIO_MAD, 4), o0, v0, c0, Src(D3DSPR_CONST, 0, Rep(2))},
       [&](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = v[i] * k[i] + k[2];
       }},
      {"min max",
       {Ins(D3DSIO_MAX, 3), o0, v0, Src(D3DSPR_INPUT, 0, Swz(2, 3, 0, 1))},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = std::fmax(v[i], v[(i + 2) % 4]);
       }},
      {"slt",
       {Ins(D3DSIO_SLT, 3), o0, v0, c0},
       [&](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = v[i] < k[i];
       }},
      {"sge",
       {Ins(D3DSIO_SGE, 3), o0, v0, c0},
       [&](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = v[i] >= k[i];
       }},
      {"frc",
       {Ins(D3DSIO_FRC, 2), o0, Src(D3DSPR_INPUT, 0, kXyzw, D3DSPSM_NEG)},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = -v[i] - std::floor(-v[i]);
       }},
      {"sgn",
       {Ins(D3DSIO_SGN, 2), o0, v0},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = v[i] > 0 ? 1.f : v[i] < 0 ? -1.f : 0.f;
       }},
      {"lrp",
       {Ins(D3DSIO_LRP, 4), o0, Src(D3DSPR_CONST, 0, Rep(3)), v0, c0},
       [&](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = 0.25f * (v[i] - k[i]) + k[i];
       }},
      {"dp3",
       {Ins(D3DSIO_DP3, 3), o0, v0, c0},
       [&](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = v[0] * k[0] + v[1] * k[1] + v[2] * k[2];
       }},
      {"dp4",
       {Ins(D3DSIO_DP4, 3), Dst(D3DSPR_OUTPUT, 0, 0x6), v0, c0},
       [&](const float* v, float* o) {
         o[0] = o[3] = NAN;
         o[1] = o[2] = v[0] * k[0] + v[1] * k[1] + v[2] * k[2] + v[3] * k[3];
       }},
      {"rcp",
       {Ins(D3DSIO_RCP, 2), o0, Src(D3DSPR_INPUT, 0, Rep(2))},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = 1 / v[2];
       }},
      {"rsq",
       {Ins(D3DSIO_RSQ, 2), o0, Src(D3DSPR_INPUT, 0, Rep(2))},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = 1 / std::sqrt(std::fabs(v[2]));
       }},
      {"exp",
       {Ins(D3DSIO_EXP, 2), o0, Src(D3DSPR_INPUT, 0, Rep(1))},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = std::exp2(v[1]);
       }},
      {"log",
       {Ins(D3DSIO_LOG, 2), o0, Src(D3DSPR_INPUT, 0, Rep(2))},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = std::log2(std::fabs(v[2]));
       }},
      {"pow",
       {Ins(D3DSIO_POW, 3), o0, Src(D3DSPR_INPUT, 0, Rep(1)), Src(D3DSPR_CONST, 0, Rep(0))},
       [](const float* v, float* o) {
         for (int i = 0; i < 4; ++i) o[i] = std::pow(v[1], 0.5f);
       }},
      {"crs",
       {Ins(D3DSIO_CRS, 3), Dst(D3DSPR_OUTPUT, 0, 0x7), v0, c0},
       [&](const float* v, float* o) {
         o[0] = v[1] * k[2] - v[2] * k[1];
         o[1] = v[2] * k[0] - v[0] * k[2];
         o[2] = v[0] * k[1] - v[1] * k[0];
         o[3] = NAN;
       }},
      {"nrm",
       {Ins(D3DSIO_NRM, 2), o0, Src(D3DSPR_INPUT, 0, Swz(0, 3, 2, 1))},
       [](const float* v, float* o) {
         const float len = std::sqrt(v[0] * v[0] + v[3] * v[3] + v[2] * v[2]);
         o[0] = v[0] / len, o[1] = v[3] / len, o[2] = v[2] / len, o[3] = v[1] / len;
       }},
      {"sincos",
       {Ins(D3DSIO_SINCOS, 2), Dst(D3DSPR_OUTPUT, 0, 0x3), Src(D3DSPR_CONST, 0, Rep(2))},
       [](const float*, float* o) {
         o[0] = std::cos(3.f), o[1] = std::sin(3.f), o[2] = o[3] = NAN;
       }},
      {"lit",
       {Ins(D3DSIO_LIT, 2), o0, Src(D3DSPR_CONST, 0, Swz(0, 3, 0, 2))},
       [](const float*, float* o) {
         o[0] = 1, o[1] = 0.5f, o[2] = std::pow(0.25f, 3.f), o[3] = 1;
       }},
      {"dst",
       {Ins(D3DSIO_DST, 3), o0, v0, c0},
       [&](const float* v, float* o) { o[0] = 1, o[1] = v[1] * k[1], o[2] = v[2], o[3] = k[3]; }},
      {"m4x4",
       {Ins(D3DSIO_M4x4, 3), o0, v0, Src(D3DSPR_CONST, 4)},
       [](const float* v, float* o) {
         for (int r = 0; r < 4; ++r) {
           o[r] = 0;
           for (int c = 0; c < 4; ++c) o[r] += v[c] * float(r * 4 + c + 1);
         }
       }},
      {"m3x2",
       {Ins(D3DSIO_M3x2, 3), Dst(D3DSPR_OUTPUT, 0, 0x3), v0, Src(D3DSPR_CONST, 4)},
       [](const float* v, float* o) {
         for (int r = 0; r < 2; ++r) {
           o[r] = 0;
           for (int c = 0; c < 3; ++c) o[r] += v[c] * float(r * 4 + c + 1);
         }
         o[2] = o[3] = NAN;
       }},
  };
  for (auto path : kPaths) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      VsRun r;
      Stream s = Vs3();
      for (DWORD t : c.ins) s({t});
      ASSERT_TRUE(r.Build(s, path));
      std::memcpy(r.c[0], k, sizeof k);
      for (int i = 0; i < 16; ++i) r.c[4 + i / 4][i % 4] = float(i + 1);
      for (int l = 0; l < 16; ++l)
        for (int q = 0; q < 4; ++q) r.exec.vertices().output[0].c[q].v[l] = NAN;
      ASSERT_TRUE(r.Run());
      for (int l = 1; l < 16; ++l) {  // lane 0 has zeros (rcp, log of 0 are checked elsewhere)
        const float v[4] = {float(l), float(l) / 2, -float(l), 1};
        float want[4];
        c.want(v, want);
        for (int q = 0; q < 4; ++q) {
          const float got = r.Out(0, q, l);
          if (std::isnan(want[q])) {
            EXPECT_TRUE(std::isnan(got)) << "component " << q << " was written";
          } else {
            EXPECT_NEAR(got, want[q], 2e-6f * std::fmax(1.f, std::fabs(want[q])))
                << "lane " << l << " component " << q;
          }
        }
      }
    }
  }
}

TEST(ShaderExecutor, SpecialValuesFollowDirect3DRules) {
  VsRun r;
  Stream s = Vs3();
  // o0 = (rcp 0, rsq 0, log 0, exp -200); o1 = (pow 0^2, pow 0^0, rcp 1, rsq 1)
  s.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD), Dst(D3DSPR_OUTPUT, 1));
  s.Def(9, 0, 1, -200, 2);
  s({Ins(D3DSIO_RCP, 2), Dst(D3DSPR_OUTPUT, 0, 1), Src(D3DSPR_CONST, 9, Rep(0))});
  s({Ins(D3DSIO_RSQ, 2), Dst(D3DSPR_OUTPUT, 0, 2), Src(D3DSPR_CONST, 9, Rep(0))});
  s({Ins(D3DSIO_LOG, 2), Dst(D3DSPR_OUTPUT, 0, 4), Src(D3DSPR_CONST, 9, Rep(0))});
  s({Ins(D3DSIO_EXP, 2), Dst(D3DSPR_OUTPUT, 0, 8), Src(D3DSPR_CONST, 9, Rep(2))});
  s({Ins(D3DSIO_POW, 3), Dst(D3DSPR_OUTPUT, 1, 1), Src(D3DSPR_CONST, 9, Rep(0)),
     Src(D3DSPR_CONST, 9, Rep(3))});
  s({Ins(D3DSIO_POW, 3), Dst(D3DSPR_OUTPUT, 1, 2), Src(D3DSPR_CONST, 9, Rep(0)),
     Src(D3DSPR_CONST, 9, Rep(0))});
  s({Ins(D3DSIO_RCP, 2), Dst(D3DSPR_OUTPUT, 1, 4), Src(D3DSPR_CONST, 9, Rep(1))});
  s({Ins(D3DSIO_RSQ, 2), Dst(D3DSPR_OUTPUT, 1, 8), Src(D3DSPR_CONST, 9, Rep(1))});
  for (auto path : kPaths) {
    ASSERT_TRUE(r.Build(s, path));
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.Out(0, 0, 3), INFINITY);
    EXPECT_EQ(r.Out(0, 1, 3), INFINITY);
    EXPECT_EQ(r.Out(0, 2, 3), -INFINITY);
    EXPECT_EQ(r.Out(0, 3, 3), 0);
    EXPECT_EQ(r.Out(1, 0, 3), 0);
    EXPECT_EQ(r.Out(1, 1, 3), 1);
    EXPECT_EQ(r.Out(1, 2, 3), 1);
    EXPECT_EQ(r.Out(1, 3, 3), 1);
  }
}

TEST(ShaderExecutor, ComponentsReadBeforeAnyIsWritten) {
  // Swizzles that read what the same instruction writes (a swap, a rotation), and a matrix macro
  // whose destination is one of its rows.
  VsRun r;
  Stream s = Vs3();
  s.Def(10, 0, 0, 0, 0);
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_INPUT, 0)});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 0, 0x3), Src(D3DSPR_TEMP, 0, Swz(1, 0, 2, 3))});
  s({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_TEMP, 0, 0x7), Src(D3DSPR_TEMP, 0, Swz(1, 2, 0, 3)),
     Src(D3DSPR_TEMP, 0)});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 1), Src(D3DSPR_CONST, 10)});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 2), Src(D3DSPR_CONST, 10)});
  s({Ins(D3DSIO_M3x3, 3), Dst(D3DSPR_TEMP, 1, 0x7), Src(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 0)});
  s({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 1)});
  for (auto path : kPaths) {
    ASSERT_TRUE(r.Build(s, path));
    ASSERT_TRUE(r.Run());
    for (int l = 0; l < 16; ++l) {
      const float t[4] = {float(l) / 2, float(l), -float(l), 1};         // after the swap
      const float u[4] = {t[1] + t[0], t[2] + t[1], t[0] + t[2], t[3]};  // after the rotation
      // Rows r0, r1, r2 as they were before the macro wrote r1: r1 = (u.u, 0, 0).
      const float uu = u[0] * u[0] + u[1] * u[1] + u[2] * u[2];
      EXPECT_FLOAT_EQ(r.Out(0, 0, l), u[0] + uu) << l;
      EXPECT_FLOAT_EQ(r.Out(0, 1, l), u[1]) << l;
      EXPECT_FLOAT_EQ(r.Out(0, 2, l), u[2]) << l;
      EXPECT_FLOAT_EQ(r.Out(0, 3, l), u[3]) << l;
    }
  }
}

TEST(ShaderExecutor, FusedAndUnrolledKernelsMatchTheOperationsOneByOne) {
  // An add of three channels followed by a nrm of them runs as one kernel when all 16 lanes are
  // active; a partial run takes the operations one by one. Both must agree bit for bit, and
  // with the definition of nrm, for modifiers, saturation, in-place and aliased registers.
  struct Case {
    const char* what;
    DWORD add_dst, nrm_dst, nrm_src;
    int fused;
  };
  const DWORD r1 = Src(D3DSPR_TEMP, 1);
  const Case cases[] = {
      {"plain", Dst(D3DSPR_TEMP, 1, 0x7), Dst(D3DSPR_TEMP, 2, 0x7), r1, 1},
      {"saturated, negated, in place", Dst(D3DSPR_TEMP, 1, 0x7, D3DSPDM_SATURATE),
       Dst(D3DSPR_TEMP, 1, 0x7, D3DSPDM_SATURATE), Src(D3DSPR_TEMP, 1, kXyzw, D3DSPSM_NEG), 1},
      {"abs source, destination yzw reads r1.w", Dst(D3DSPR_TEMP, 1, 0x7), Dst(D3DSPR_TEMP, 2, 0xE),
       Src(D3DSPR_TEMP, 1, kXyzw, D3DSPSM_ABS), 1},
      {"swizzled length: not fused", Dst(D3DSPR_TEMP, 1, 0x7), Dst(D3DSPR_TEMP, 2, 0x7),
       Src(D3DSPR_TEMP, 1, Swz(2, 0, 1, 3)), 0},
      {"two destinations: not fused", Dst(D3DSPR_TEMP, 1, 0x7), Dst(D3DSPR_TEMP, 2, 0x3), r1, 0},
  };
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> any(-4, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Stream s = Vs3();
    s.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD), Dst(D3DSPR_OUTPUT, 1));
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 1, 0x8), Src(D3DSPR_INPUT, 0, Rep(3))});
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 2), Src(D3DSPR_CONST, 1)});
    s({Ins(D3DSIO_ADD, 3), c.add_dst, Src(D3DSPR_INPUT, 0),
       Src(D3DSPR_CONST, 0, kXyzw, D3DSPSM_NEG)});
    s({Ins(D3DSIO_NRM, 2), c.nrm_dst, c.nrm_src});
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_TEMP, 1)});
    s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 1), Src(D3DSPR_TEMP, 2)});
    const std::vector<DWORD> t = s.End();
    for (auto path : kPaths) {
      vexa::ShaderProgram p;
      std::string why;
      ASSERT_TRUE(vexa::CreateShaderProgram(t.data(), t.size(), &p, &why, path)) << why;
      EXPECT_EQ(p.fused_operations(), c.fused);
      float k[256][4] = {{0.5f, -0.25f, 1.5f, 0}, {9, 9, 9, 9}};
      vexa::ShaderConstants kc;
      kc.f = &k[0][0];
      kc.f_count = 256;
      vexa::ShaderExecutor whole, apart;
      whole.Bind(p, kc, nullptr);
      apart.Bind(p, kc, nullptr);
      for (int round = 0; round < 20; ++round) {
        for (int l = 0; l < 16; ++l)
          for (int q = 0; q < 4; ++q) {
            const float x = round == 0 && l == 3 ? 0.f : any(rng);  // a zero length once
            whole.vertices().input[0].c[q].v[l] = apart.vertices().input[0].c[q].v[l] =
                q < 3 && round == 0 && l == 3 ? k[0][q] : x;
            for (int o = 0; o < 2; ++o) apart.vertices().output[o].c[q].v[l] = -7;
          }
        ASSERT_TRUE(whole.RunVertices(16));
        ASSERT_TRUE(apart.RunVertices(15));  // the masked path: one operation at a time
        for (int l = 0; l < 16; ++l) {
          const vexa::VertexBatch& w = whole.vertices();
          const vexa::VertexBatch& a = apart.vertices();
          for (int o = 0; o < 2; ++o)
            for (int q = 0; q < 4; ++q) {
              if (l == 15) {
                EXPECT_EQ(a.output[o].c[q].v[l], -7) << "inactive lane written";
              } else if (!std::isnan(w.output[o].c[q].v[l])) {
                EXPECT_EQ(w.output[o].c[q].v[l], a.output[o].c[q].v[l])
                    << "lane " << l << " output " << o << " component " << q;
              } else {
                EXPECT_TRUE(std::isnan(a.output[o].c[q].v[l]));
              }
            }
          // The definition: r1.xyz = v - c0 (saturated if asked), then nrm of the source.
          float v[4], sum[4], src[4];
          for (int q = 0; q < 4; ++q) v[q] = w.input[0].c[q].v[l];
          const bool sat_add = c.add_dst & D3DSPDM_SATURATE;
          for (int q = 0; q < 3; ++q) {
            sum[q] = v[q] - k[0][q];
            if (sat_add) sum[q] = std::fmin(std::fmax(sum[q], 0.f), 1.f);
          }
          sum[3] = v[3];
          const DWORD swz = (c.nrm_src >> 16) & 0xFF;
          const DWORD mod = c.nrm_src & D3DSP_SRCMOD_MASK;
          for (int q = 0; q < 4; ++q) {
            src[q] = sum[(swz >> (2 * q)) & 3];
            if (mod == D3DSPSM_NEG) src[q] = -src[q];
            if (mod == D3DSPSM_ABS) src[q] = std::fabs(src[q]);
          }
          const float len2 = src[0] * src[0] + src[1] * src[1] + src[2] * src[2];
          if (len2 < 1e-6f) continue;
          const float inv = 1 / std::sqrt(len2);
          const bool in_place = (c.nrm_dst & 0x7FF) == 1;
          const bool sat_nrm = c.nrm_dst & D3DSPDM_SATURATE;
          const int o = in_place ? 0 : 1;
          for (int q = 0; q < 4; ++q) {
            if (!((c.nrm_dst >> (16 + q)) & 1)) continue;
            float want = src[q] * inv;
            if (sat_nrm) want = std::fmin(std::fmax(want, 0.f), 1.f);
            EXPECT_NEAR(w.output[o].c[q].v[l], want, 2e-6f) << "lane " << l << " component " << q;
          }
          if (!in_place) {
            for (int q = 0; q < 3; ++q) EXPECT_FLOAT_EQ(w.output[0].c[q].v[l], sum[q]) << l;
          }
        }
      }
    }
  }
}

// --- flow control
// -------------------------------------------------------------------------------------

TEST(ShaderExecutor, BranchesLoopsAndBreaksRunPerLane) {
  // o0.x: if (v.x < 5) { 1 } else { if (v.x >= 9) 2 else 3 };
  // o0.y: sum over a loop of aL = 0, 2, 4 ... (count i0.x = 6) of c[aL + 20].x, left through
  //       breakc when the running sum exceeds v.x;
  // o0.z: counts the iterations of a rep nested in the loop, left through breakp once it
  //       exceeds v.y;
  // o0.w: a subroutine called when v.x > 3 (callnz on p0), adding 100.
  Stream s = Vs3();
  s({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 0), 6, 0, 2, 0});
  s({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 1), 3, 0, 0, 0});
  s.Def(8, 5, 9, 0, 1);
  s.Def(9, 3, 100, 0, 0);
  const DWORD r0 = Dst(D3DSPR_TEMP, 0);
  s({Ins(D3DSIO_MOV, 2), r0, Src(D3DSPR_CONST, 8, Rep(2))});
  s({Ins(D3DSIO_IFC, 2, D3DSPC_LT), Src(D3DSPR_INPUT, 0, Rep(0)), Src(D3DSPR_CONST, 8, Rep(0))});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 0, 1), Src(D3DSPR_CONST, 8, Rep(3))});
  s({Ins(D3DSIO_ELSE, 0)});
  s({Ins(D3DSIO_SETP, 3, D3DSPC_GE), Dst(D3DSPR_PREDICATE, 0, 1), Src(D3DSPR_INPUT, 0, Rep(0)),
     Src(D3DSPR_CONST, 8, Rep(1))});
  s({Ins(D3DSIO_IF, 1), Src(D3DSPR_PREDICATE, 0, Rep(0))});
  s({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_TEMP, 0, 1), Src(D3DSPR_CONST, 8, Rep(3)),
     Src(D3DSPR_CONST, 8, Rep(3))});
  s({Ins(D3DSIO_ELSE, 0)});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 0, 1), Src(D3DSPR_CONST, 9, Rep(0))});
  s({Ins(D3DSIO_ENDIF, 0)});
  s({Ins(D3DSIO_ENDIF, 0)});
  // The loop.
  s({Ins(D3DSIO_LOOP, 2), Src(D3DSPR_LOOP, 0), Src(D3DSPR_CONSTINT, 0)});
  s({Ins(D3DSIO_ADD, 4), Dst(D3DSPR_TEMP, 0, 2), Src(D3DSPR_TEMP, 0, Rep(1)),
     Src(D3DSPR_CONST, 20, Rep(0)) | D3DSHADER_ADDRMODE_RELATIVE, Src(D3DSPR_LOOP, 0, Rep(0))});
  s({Ins(D3DSIO_REP, 1), Src(D3DSPR_CONSTINT, 1)});
  s({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_TEMP, 0, 4), Src(D3DSPR_TEMP, 0, Rep(2)),
     Src(D3DSPR_CONST, 8, Rep(3))});
  s({Ins(D3DSIO_SETP, 3, D3DSPC_GT), Dst(D3DSPR_PREDICATE, 0, 2), Src(D3DSPR_TEMP, 0, Rep(2)),
     Src(D3DSPR_INPUT, 0, Rep(1))});
  s({Ins(D3DSIO_BREAKP, 1), Src(D3DSPR_PREDICATE, 0, Rep(1))});
  s({Ins(D3DSIO_ENDREP, 0)});
  s({Ins(D3DSIO_BREAKC, 2, D3DSPC_GT), Src(D3DSPR_TEMP, 0, Rep(1)), Src(D3DSPR_INPUT, 0, Rep(0))});
  s({Ins(D3DSIO_ENDLOOP, 0)});
  // The subroutine call.
  s({Ins(D3DSIO_SETP, 3, D3DSPC_GT), Dst(D3DSPR_PREDICATE, 0, 8), Src(D3DSPR_INPUT, 0, Rep(0)),
     Src(D3DSPR_CONST, 9, Rep(0))});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 0, 8), Src(D3DSPR_CONST, 8, Rep(2))});
  s({Ins(D3DSIO_CALLNZ, 2), Src(D3DSPR_LABEL, 4), Src(D3DSPR_PREDICATE, 0, Rep(3))});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_TEMP, 0)});
  s({Ins(D3DSIO_RET, 0)});
  s({Ins(D3DSIO_LABEL, 1), Src(D3DSPR_LABEL, 4)});
  s({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_TEMP, 0, 8), Src(D3DSPR_TEMP, 0, Rep(3)),
     Src(D3DSPR_CONST, 9, Rep(1))});
  s({Ins(D3DSIO_RET, 0)});
  for (auto path : kPaths) {
    VsRun r;
    ASSERT_TRUE(r.Build(s, path));
    for (int i = 0; i < 12; ++i) r.c[20 + i][0] = float(i + 1);  // c[20 + aL].x
    ASSERT_TRUE(r.Run());
    for (int l = 0; l < 16; ++l) {
      const float v0 = float(l), v1 = float(l) / 2;
      const float x = v0 < 5 ? 1.f : v0 >= 9 ? 2.f : 3.f;
      float y = 0, z = 0;
      for (int it = 0, aL = 0; it < 6; ++it, aL += 2) {
        y += float(aL + 1);
        for (int k = 0; k < 3; ++k) {
          z += 1;
          if (z > v1) break;
        }
        if (y > v0) break;
      }
      const float w = v0 > 3 ? 100.f : 0.f;
      EXPECT_EQ(r.Out(0, 0, l), x) << l;
      EXPECT_EQ(r.Out(0, 1, l), y) << l;
      EXPECT_EQ(r.Out(0, 2, l), z) << l;
      EXPECT_EQ(r.Out(0, 3, l), w) << l;
    }
  }
}

TEST(ShaderExecutor, PredicationRelativeAddressingAndPartialRuns) {
  Stream p = Vs3();
  p.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD), Dst(D3DSPR_OUTPUT, 1));
  p.Def(0, 7, 0, 0, 0);
  p.Def(1, 2, 0, 0, 0);
  p({Ins(D3DSIO_MOVA, 2), Dst(D3DSPR_ADDR, 0, 1), Src(D3DSPR_INPUT, 0, Rep(1))});
  p({Ins(D3DSIO_MOV, 3), Dst(D3DSPR_OUTPUT, 0),
     Src(D3DSPR_CONST, 250) | D3DSHADER_ADDRMODE_RELATIVE, Src(D3DSPR_ADDR, 0, Rep(0))});
  p({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 1), Src(D3DSPR_INPUT, 0)});
  p({Ins(D3DSIO_SETP, 3, D3DSPC_GT), Dst(D3DSPR_PREDICATE, 0), Src(D3DSPR_INPUT, 0, Rep(0)),
     Src(D3DSPR_CONST, 0, Rep(0))});
  p({Ins(D3DSIO_MUL, 4) | D3DSHADER_INSTRUCTION_PREDICATED, Dst(D3DSPR_OUTPUT, 1, 1),
     Src(D3DSPR_PREDICATE, 0, Rep(0)), Src(D3DSPR_INPUT, 0), Src(D3DSPR_CONST, 1, Rep(0))});
  p({Ins(D3DSIO_ADD, 4) | D3DSHADER_INSTRUCTION_PREDICATED, Dst(D3DSPR_OUTPUT, 1, 2),
     Src(D3DSPR_PREDICATE, 0, Rep(0), D3DSPSM_NOT), Src(D3DSPR_INPUT, 0),
     Src(D3DSPR_INPUT, 0, kXyzw, D3DSPSM_NEG)});
  for (auto path : kPaths) {
    VsRun r;
    ASSERT_TRUE(r.Build(p, path));
    for (int i = 0; i < 256; ++i)
      for (int c = 0; c < 4; ++c) r.c[i][c] = float(i * 10 + c);
    // Lanes 12 .. 15 are not part of this run: their outputs keep what was there.
    for (int l = 0; l < 16; ++l) r.exec.vertices().output[1].c[0].v[l] = -99;
    ASSERT_TRUE(r.Run(12));
    for (int l = 0; l < 16; ++l) {
      if (l >= 12) {
        EXPECT_EQ(r.Out(1, 0, l), -99) << l;
        continue;
      }
      const int a = int(std::floor(float(l) / 2 + 0.5f));
      EXPECT_EQ(r.Out(0, 1, l), a + 250 < 256 ? float((a + 250) * 10 + 1) : 0.f) << l;
      EXPECT_EQ(r.Out(1, 0, l), l > 7 ? 2.f * float(l) : float(l)) << l;
      EXPECT_EQ(r.Out(1, 1, l), l > 7 ? float(l) / 2 : 0.f) << l;
    }
  }
}

TEST(ShaderExecutor, EndlessLoopsStopAtTheBudget) {
  Stream s = Vs3();
  s({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 0), 255, 0, 1, 0});
  s.Def(0, 1, 0, 0, 0);
  for (int i = 0; i < 4; ++i) s({Ins(D3DSIO_REP, 1), Src(D3DSPR_CONSTINT, 0)});
  s({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 0), Src(D3DSPR_CONST, 0)});
  for (int i = 0; i < 4; ++i) s({Ins(D3DSIO_ENDREP, 0)});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_TEMP, 0)});
  VsRun r;
  ASSERT_TRUE(r.Build(s));
  r.exec.SetBudget(100000);
  EXPECT_FALSE(r.Run());  // 255^4 iterations would never end in a test
  // Within budget, the same nest of two loops finishes: 255 * 255 additions.
  Stream t = Vs3();
  t({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 0), 255, 0, 1, 0});
  t.Def(0, 1, 0, 0, 0);
  t({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_CONST, 0, Rep(1))});
  for (int i = 0; i < 2; ++i) t({Ins(D3DSIO_REP, 1), Src(D3DSPR_CONSTINT, 0)});
  t({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_TEMP, 0), Src(D3DSPR_TEMP, 0), Src(D3DSPR_CONST, 0)});
  for (int i = 0; i < 2; ++i) t({Ins(D3DSIO_ENDREP, 0)});
  t({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_TEMP, 0)});
  VsRun q;
  ASSERT_TRUE(q.Build(t));
  ASSERT_TRUE(q.Run());
  EXPECT_EQ(q.Out(0, 0, 5), 255.f * 255.f);
}

// --- pixel shaders
// -----------------------------------------------------------------------------------

TEST(ShaderExecutor, PixelQuadsDerivativesKillsAndTextureRequests) {
  Stream s(D3DPS_VERSION(3, 0));
  s.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD), Dst(D3DSPR_INPUT, 0));
  s.Dcl(0x80000000u | D3DSTT_2D, Dst(D3DSPR_SAMPLER, 1));
  s.Def(0, 0.5f, -1, 2, 0);
  // r0 = (dsx(v.x), dsy(v.y), cmp(v.x - 0.5, 1, -1), dp2add(v.xy, c0.xy, c0.z))
  s({Ins(D3DSIO_DSX, 2), Dst(D3DSPR_TEMP, 0, 1), Src(D3DSPR_INPUT, 0, Rep(0))});
  s({Ins(D3DSIO_DSY, 2), Dst(D3DSPR_TEMP, 0, 2), Src(D3DSPR_INPUT, 0, Rep(1))});
  s({Ins(D3DSIO_ADD, 3), Dst(D3DSPR_TEMP, 1), Src(D3DSPR_INPUT, 0),
     Src(D3DSPR_CONST, 0, Rep(0), D3DSPSM_NEG)});
  s({Ins(D3DSIO_CMP, 4), Dst(D3DSPR_TEMP, 0, 4), Src(D3DSPR_TEMP, 1, Rep(0)),
     Src(D3DSPR_CONST, 0, Rep(2)), Src(D3DSPR_CONST, 0, Rep(1))});
  s({Ins(D3DSIO_DP2ADD, 4), Dst(D3DSPR_TEMP, 0, 8), Src(D3DSPR_INPUT, 0), Src(D3DSPR_CONST, 0),
     Src(D3DSPR_CONST, 0, Rep(2))});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_COLOROUT, 0), Src(D3DSPR_TEMP, 0)});
  // texldb with the sampler's swizzle, then kill where v.z < 0.
  s({Ins(D3DSIO_TEX, 3, 2), Dst(D3DSPR_COLOROUT, 1), Src(D3DSPR_INPUT, 0),
     Src(D3DSPR_SAMPLER, 1, Swz(3, 2, 1, 0))});
  s({Ins(D3DSIO_TEXKILL, 1), Dst(D3DSPR_INPUT, 0, 0x4)});
  // A whole-register read of which only one component is used: the request asks for that one.
  s({Ins(D3DSIO_TEX, 3, 2), Dst(D3DSPR_TEMP, 2), Src(D3DSPR_INPUT, 0),
     Src(D3DSPR_SAMPLER, 1, Swz(3, 2, 1, 0))});
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_COLOROUT, 2, 1), Src(D3DSPR_TEMP, 2, Rep(2))});
  const std::vector<DWORD> code = s.End();
  const shader_test::Texture tex = shader_test::Texture::Make(
      8, 8, [](int x, int y, float* c) { c[0] = float(x), c[1] = float(y), c[2] = 7, c[3] = 9; });
  for (auto path : kPaths) {
    vexa::ShaderProgram p;
    std::string why;
    ASSERT_TRUE(vexa::CreateShaderProgram(code.data(), code.size(), &p, &why, path)) << why;
    vexa::ShaderExecutor exec;
    shader_test::Sampler sampler;
    sampler.slots[1] = {&tex, shader_test::Filter::kPoint, shader_test::Address::kWrap};
    vexa::ShaderConstants k;
    exec.Bind(p, k, &sampler);
    vexa::PixelBatch& b = exec.pixels();
    float x[16], y[16];
    for (int l = 0; l < 16; ++l) {
      const int px = (l >> 2) * 2 + (l & 1), py = (l >> 1) & 1;
      x[l] = float(px * px) / 8;  // grows faster to the right
      y[l] = float(py) * 0.25f + float(px) / 16;
      b.input[0].c[0].v[l] = x[l];
      b.input[0].c[1].v[l] = y[l];
      b.input[0].c[2].v[l] = l % 5 == 0 ? -1.f : 1.f;
      b.input[0].c[3].v[l] = 1.f;  // the bias
    }
    EXPECT_EQ(exec.RunPixels(0xFFFF), 0xFFFFu & ~0x8421u);
    for (int l = 0; l < 16; ++l) {
      const int q = l & ~3;
      const int row = l & 2, col = l & 1;
      EXPECT_FLOAT_EQ(b.color[0].c[0].v[l], x[q + row + 1] - x[q + row]) << l;
      EXPECT_FLOAT_EQ(b.color[0].c[1].v[l], y[q + 2 + col] - y[q + col]) << l;
      EXPECT_EQ(b.color[0].c[2].v[l], x[l] - 0.5f >= 0 ? 2.f : -1.f) << l;
      EXPECT_FLOAT_EQ(b.color[0].c[3].v[l], x[l] * 0.5f - y[l] + 2) << l;
      // The sampler's swizzle reverses the colour.
      EXPECT_EQ(b.color[1].c[0].v[l], 9);
      EXPECT_EQ(b.color[1].c[1].v[l], 7);
      if (l % 5) {
        EXPECT_EQ(b.color[2].c[0].v[l], std::floor(y[l] * 8)) << l;
      }
    }
    EXPECT_EQ(sampler.last.components, 0x2);
    EXPECT_EQ(sampler.last.sampler, 1);
    EXPECT_EQ(sampler.last.mode, vexa::SampleMode::kBias);
    EXPECT_EQ(sampler.last.type, D3DSTT_2D);
    EXPECT_EQ(sampler.last.lod[3], 1.f);
  }
}

TEST(ShaderExecutor, LoopCounterIndexesInputsAndOutputs) {
  // vs_3_0: o[aL + 1] = v[aL] * 2 for aL = 0, 1, 2 (outputs o1 .. o3, inputs v0 .. v2).
  Stream s(D3DVS_VERSION(3, 0));
  s({Ins(D3DSIO_DEFI, 5), Dst(D3DSPR_CONSTINT, 0), 3, 0, 1, 0});
  s.Def(0, 2, 0, 0, 0);
  for (int r = 0; r < 3; ++r)
    s.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD, DWORD(r)), Dst(D3DSPR_INPUT, DWORD(r)));
  s.Dcl(DclUsage(D3DDECLUSAGE_POSITION), Dst(D3DSPR_OUTPUT, 0));
  for (int r = 1; r < 4; ++r)
    s.Dcl(DclUsage(D3DDECLUSAGE_TEXCOORD, DWORD(r)), Dst(D3DSPR_OUTPUT, DWORD(r)));
  s({Ins(D3DSIO_MOV, 2), Dst(D3DSPR_OUTPUT, 0), Src(D3DSPR_CONST, 0, Rep(1))});
  s({Ins(D3DSIO_LOOP, 2), Src(D3DSPR_LOOP, 0), Src(D3DSPR_CONSTINT, 0)});
  s({Ins(D3DSIO_MUL, 5), Dst(D3DSPR_OUTPUT, 1) | D3DSHADER_ADDRMODE_RELATIVE,
     Src(D3DSPR_LOOP, 0, Rep(0)), Src(D3DSPR_INPUT, 0) | D3DSHADER_ADDRMODE_RELATIVE,
     Src(D3DSPR_LOOP, 0, Rep(0)), Src(D3DSPR_CONST, 0, Rep(0))});
  s({Ins(D3DSIO_ENDLOOP, 0)});
  const std::vector<DWORD> t = s.End();
  for (auto path : kPaths) {
    vexa::ShaderProgram p;
    std::string why;
    ASSERT_TRUE(vexa::CreateShaderProgram(t.data(), t.size(), &p, &why, path)) << why;
    vexa::ShaderExecutor exec;
    vexa::ShaderConstants k;
    exec.Bind(p, k, nullptr);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c)
        for (int l = 0; l < 16; ++l)
          exec.vertices().input[r].c[c].v[l] = float(100 * r + 10 * c + l);
    ASSERT_TRUE(exec.RunVertices(16));
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c)
        for (int l = 0; l < 16; ++l)
          EXPECT_EQ(exec.vertices().output[r + 1].c[c].v[l], 2.f * float(100 * r + 10 * c + l));
  }
}
