// Validation of compiled texture-shader programs: D3DXCreateTextureShader accepts what the
// compiler makes and refuses corrupted, truncated or hand-made malformed programs.
#include <gtest/gtest.h>

#include <d3dx9.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../platform/d3dx9/shader_bytecode.h"
#include "../../platform/d3dx9/shader_compiler.h"
#include "../../platform/d3dx9/shader_vm.h"

using namespace vexa::shader;

namespace {

const char kLoopShader[] =
    "static const float3 kTint = float3(0.2, 0.4, 0.6);\n"
    "float gGain = 1.5;\n"
    "float Wave(float v) { return sin(v * 6.0) * 0.5 + 0.5; }\n"
    "float4 main(float2 p : POSITION, float2 s : PSIZE) : COLOR\n"
    "{\n"
    "  float acc = 0;\n"
    "  for (int i = 0; i < 4; i++) { if (i == 2) continue; acc += Wave(p.x + i * s.x); }\n"
    "  return float4(kTint * acc * gGain, dot(p, p) > 0.5 ? noise(p * 8) : length(p));\n"
    "}\n";

std::vector<uint32_t> Valid() {
  CompileOutput c = Compile(kLoopShader, "main", "tx_1_0");
  EXPECT_TRUE(c.ok) << c.messages;
  return c.code;
}

bool Accepts(const std::vector<uint32_t>& code) {
  Program p;
  std::string why;
  return Decode(code.data(), code.size() * 4, &p, &why);
}

HRESULT Create(const std::vector<uint32_t>& code) {
  LPD3DXTEXTURESHADER shader = nullptr;
  HRESULT hr = D3DXCreateTextureShader(reinterpret_cast<const DWORD*>(code.data()), &shader);
  if (SUCCEEDED(hr)) {
    EXPECT_NE(shader, nullptr);
    shader->Release();
  } else {
    EXPECT_EQ(shader, nullptr);
  }
  return hr;
}

// Runs a decoded program on a few texels; it may fail its budget but must not misbehave.
void Exercise(const Program& p) {
  Machine m(p);
  if (!m.Init()) return;
  int64_t budget = kTexelBudget * 4;
  float o[4];
  for (int i = 0; i < 3; ++i) m.Texel(0.1f * float(i), 0.5f, 0.25f, 0.25f, o, &budget);
}

// Header field positions.
enum {
  kMagicAt,
  kVersionAt,
  kTotalAt,
  kRegsAt,
  kConstsAt,
  kInitAt,
  kMainAt,
  kPosAt,
  kPsizeAt,
  kResultAt,
  kGlobalsAt,
  kTableAt
};

size_t FirstInstr(const std::vector<uint32_t>& code) {
  return kHeaderDwords + code[kConstsAt] * 4 + code[kInitAt] * 4;
}

}  // namespace

TEST(ShaderBytecode, CompilerOutputIsAcceptedAndRoundTrips) {
  std::vector<uint32_t> code = Valid();
  Program p;
  std::string why;
  ASSERT_TRUE(Decode(code.data(), code.size() * 4, &p, &why)) << why;
  EXPECT_EQ(Encode(p), code);
  EXPECT_EQ(ClaimedSize(code.data()), code.size() * 4);
  EXPECT_EQ(Create(code), S_OK);
  EXPECT_GT(p.init.size(), 0u);  // the static const initialiser
  EXPECT_NE(p.pos_reg, kNoRegister);
  EXPECT_NE(p.psize_reg, kNoRegister);
  ASSERT_EQ(p.uniforms.size(), 1u);
  EXPECT_EQ(p.uniforms[0].name, "gGain");
  EXPECT_EQ(p.uniforms[0].dim, 1);
}

TEST(ShaderBytecode, TruncatedProgramsAreRefused) {
  std::vector<uint32_t> code = Valid();
  for (size_t bytes = 0; bytes < code.size() * 4; ++bytes) {
    Program p;
    std::string why;
    EXPECT_FALSE(Decode(code.data(), bytes, &p, &why)) << bytes;
  }
  // Through the public entry the size comes from the header: shortening it is refused too.
  for (uint32_t total = 0; total < code[kTotalAt]; total += 3) {
    std::vector<uint32_t> bad = code;
    bad[kTotalAt] = total;
    EXPECT_EQ(Create(bad), D3DERR_INVALIDCALL) << total;
  }
}

TEST(ShaderBytecode, MalformedFieldsAreRefused) {
  const std::vector<uint32_t> code = Valid();
  auto refused = [&](const char* what, auto edit) {
    std::vector<uint32_t> bad = code;
    edit(bad);
    EXPECT_FALSE(Accepts(bad)) << what;
    EXPECT_EQ(Create(bad), D3DERR_INVALIDCALL) << what;
  };
  refused("magic", [](auto& c) { c[kMagicAt] ^= 1; });
  refused("version", [](auto& c) { c[kVersionAt] += 1; });
  refused("no registers", [](auto& c) { c[kRegsAt] = 0; });
  refused("too many registers", [](auto& c) { c[kRegsAt] = kMaxRegisters + 1; });
  refused("constant count", [](auto& c) { c[kConstsAt] += 1; });
  refused("main length", [](auto& c) { c[kMainAt] += 1; });
  refused("POSITION register", [](auto& c) { c[kPosAt] = c[kRegsAt]; });
  refused("PSIZE register", [](auto& c) { c[kPsizeAt] = 0x7FFFFFFF; });
  refused("result register", [](auto& c) { c[kResultAt] = c[kRegsAt]; });
  refused("global count", [](auto& c) { c[kGlobalsAt] = c[kRegsAt] + 1; });
  const size_t first = FirstInstr(code);
  refused("opcode", [&](auto& c) { c[first] = (c[first] & ~0xFFu) | kOpCount; });
  refused("destination register",
          [&](auto& c) { c[first] = (c[first] & 0xFFFF) | (c[kRegsAt] << 16); });
  refused("source register",
          [&](auto& c) { c[first + 1] = (c[first + 1] & 0xFFFF0000u) | c[kRegsAt]; });
  refused("constant index", [&](auto& c) {
    c[first + 1] = (c[first + 1] & 0xFFFF0000u) | kConstFlag | c[kConstsAt];
  });
  refused("reserved bits", [&](auto& c) { c[first + 3] |= 0x100; });
  refused("empty write mask", [&](auto& c) { c[first] &= ~0xF00u; });
  // The uniform table ("gGain": register, type, length 5, two words of name).
  const size_t table = code.size() - code[kTableAt];
  ASSERT_EQ(code[kTableAt], 5u);
  refused("uniform register", [&](auto& c) { c[table] = c[kGlobalsAt]; });
  refused("uniform base type", [&](auto& c) { c[table + 1] = (c[table + 1] & ~0xFFu); });
  refused("uniform components", [&](auto& c) { c[table + 1] = (c[table + 1] & 0xFF) | (5 << 8); });
  refused("uniform name length", [&](auto& c) { c[table + 2] = 0; });
  refused("uniform name past the table", [&](auto& c) { c[table + 2] = 9; });
  refused("uniform name character", [&](auto& c) { c[table + 3] = (c[table + 3] & ~0xFFu) | '-'; });
  refused("uniform name padding", [&](auto& c) { c[table + 4] |= 0xFF000000u; });
  refused("uniform table cut", [&](auto& c) {
    c[kTableAt] -= 1;
    c[kTotalAt] -= 1;
  });
  // A jump past the end of its section.
  std::vector<uint32_t> bad = code;
  bool found = false;
  for (size_t at = first; at < bad.size(); at += 4) {
    uint8_t op = bad[at] & 0xFF;
    if (op == kJmp || op == kJz || op == kJnz) {
      bad[at + 3] = (bad[at + 3] & 0xFFFF) | ((code[kMainAt] + 1) << 16);
      found = true;
      break;
    }
  }
  ASSERT_TRUE(found);
  EXPECT_FALSE(Accepts(bad));
  EXPECT_EQ(Create(bad), D3DERR_INVALIDCALL);
  // A plain operation with a reduction count, and an unused source that is not zero.
  refused("aux on a plain op", [&](auto& c) { c[first] |= 0x1000; });
  Program p;
  std::string why;
  ASSERT_TRUE(Decode(code.data(), code.size() * 4, &p, &why));
  ASSERT_FALSE(p.main.empty());
  Program q = p;
  q.main[0].op = kMov;
  q.main[0].aux = 0;
  q.main[0].src[2] = 1;
  EXPECT_FALSE(Accepts(Encode(q)));
  q = p;
  q.main[0] = Instr{};
  q.main[0].op = kNoise;
  q.main[0].mask = 1;
  q.main[0].aux = 4;
  EXPECT_FALSE(Accepts(Encode(q)));
  q.main[0].aux = 3;
  EXPECT_TRUE(Accepts(Encode(q)));
  q.main[0] = Instr{};
  q.main[0].op = kCross;
  q.main[0].mask = 3;
  EXPECT_FALSE(Accepts(Encode(q)));
}

TEST(ShaderBytecode, EveryBitFlipIsRefusedOrRunsSafely) {
  const std::vector<uint32_t> code = Valid();
  int refused = 0, accepted = 0;
  for (size_t word = 0; word < code.size(); ++word) {
    for (int bit = 0; bit < 32; ++bit) {
      std::vector<uint32_t> bad = code;
      bad[word] ^= 1u << bit;
      Program p;
      std::string why;
      if (Decode(bad.data(), bad.size() * 4, &p, &why)) {
        ++accepted;
        Exercise(p);
      } else {
        ++refused;
      }
    }
    if (word < kHeaderDwords && word != kGlobalsAt && word != kPosAt && word != kPsizeAt &&
        word != kResultAt && word != kRegsAt) {
      // Every flip of the magic, version and size fields breaks the program.
      for (int bit = 0; bit < 32; ++bit) {
        std::vector<uint32_t> bad = code;
        bad[word] ^= 1u << bit;
        EXPECT_FALSE(Accepts(bad)) << word << ":" << bit;
      }
    }
  }
  EXPECT_GT(refused, accepted / 4);
  EXPECT_GT(accepted, 0);  // constants and swizzles may take any value
}

TEST(ShaderBytecode, PublicEntryRejectsNullAndForeignBytes) {
  LPD3DXTEXTURESHADER shader = reinterpret_cast<LPD3DXTEXTURESHADER>(1);
  EXPECT_EQ(D3DXCreateTextureShader(nullptr, &shader), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader, nullptr);
  std::vector<uint32_t> code = Valid();
  EXPECT_EQ(D3DXCreateTextureShader(reinterpret_cast<const DWORD*>(code.data()), nullptr),
            D3DERR_INVALIDCALL);
  const DWORD zeros[kHeaderDwords] = {};
  EXPECT_EQ(D3DXCreateTextureShader(zeros, &shader), D3DERR_INVALIDCALL);
  // A vs_2_0 token stream is not a texture shader.
  const DWORD vs[kHeaderDwords + 4] = {0xFFFE0200, 0x0000FFFF};
  EXPECT_EQ(D3DXCreateTextureShader(vs, &shader), D3DERR_INVALIDCALL);
  // A program whose initialiser never ends is refused at creation.
  CompileOutput c = Compile(
      "static float g = 0;\n"
      "float Spin() { float s = 0; while (true) { s += 1; } return s; }\n"
      "static float h = Spin();\n"
      "float4 main() : COLOR { return h; }\n",
      "main", "tx_1_0");
  ASSERT_TRUE(c.ok) << c.messages;
  EXPECT_EQ(Create(c.code), D3DERR_INVALIDCALL);
}
