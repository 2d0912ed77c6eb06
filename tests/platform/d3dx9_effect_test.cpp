// ID3DXEffect: effects built from source, their parameters, handles and annotations, and what
// Begin, BeginPass, CommitChanges and End do to a device that records every call; error text for
// bad sources; fixed-function and shaded passes on the real device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d3dx9.h"
#include "support/effect_spy_device.h"
#include "support/headless_device.h"

using effect_test::Dword;
using effect_test::SpyDevice;
using effect_test::StubTexture;

namespace {

constexpr HRESULT kInvalidData = HRESULT(0x88760B59);

std::string RS(DWORD state, DWORD value) {
  return "RS " + Dword(state) + "=" + Dword(value);
}
std::string SAMP(DWORD i, DWORD type, DWORD value) {
  return "SAMP " + Dword(i) + " " + Dword(type) + "=" + Dword(value);
}

struct Created {
  HRESULT hr = E_FAIL;
  ID3DXEffect* fx = nullptr;
  std::string messages;
};

Created Create(IDirect3DDevice9* device, const std::string& src, DWORD flags = 0,
               const D3DXMACRO* macros = nullptr) {
  Created c;
  ID3DXBuffer* errors = nullptr;
  c.hr = D3DXCreateEffect(device, src.data(), UINT(src.size()), macros, nullptr, flags, nullptr,
                          &c.fx, &errors);
  if (errors) {
    c.messages = static_cast<const char*>(errors->GetBufferPointer());
    errors->Release();
  }
  return c;
}

bool Logged(const SpyDevice& d, const std::string& call) {
  return std::find(d.log.begin(), d.log.end(), call) != d.log.end();
}

// Calls starting with `prefix`.
std::vector<std::string> Calls(const SpyDevice& d, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : d.log)
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  return out;
}

D3DXMATRIX Counting() {
  D3DXMATRIX m;
  for (int i = 0; i < 16; ++i) (&m._11)[i] = float(i + 1);  // row r, column c holds 4r + c + 1
  return m;
}

// The register a shader's constant table gives a constant (by D3DX name path).
UINT RegisterOf(const DWORD* code, const char* name) {
  ID3DXConstantTable* table = nullptr;
  if (FAILED(D3DXGetShaderConstantTable(code, &table))) return ~0u;
  D3DXCONSTANT_DESC d;
  UINT n = 1;
  D3DXHANDLE h = table->GetConstantByName(nullptr, name);
  const UINT reg = h && SUCCEEDED(table->GetConstantDesc(h, &d, &n)) ? d.RegisterIndex : ~0u;
  table->Release();
  return reg;
}

const char kFixed[] = R"(
float alphaRef = 0.5;
bool depthOn = true;
float4 tint = {1, 0, 0, 1};
texture2D diffuseMap < string ResourceName = "stone.png"; >;
sampler2D diffuseSampler = sampler_state {
  Texture = <diffuseMap>;
  MinFilter = Linear;
  AddressU = Clamp;
};
float4x4 world : World;

technique Fixed < string Purpose = "fixed function"; int Order = 3; > {
  pass P0 < float Weight = 0.25; > {
    ZEnable = depthOn;
    AlphaRef = alphaRef * 255;
    AlphaFunc = GreaterEqual;
    SrcBlend = SrcAlpha;
    ColorWriteEnable = Red | Green | Blue;
    TextureFactor = tint;
    ColorOp[0] = Modulate;
    ColorArg1[0] = Texture;
    Sampler[0] = (diffuseSampler);
    MipFilter[1] = Linear;
    Texture[1] = <diffuseMap>;
    WorldTransform[0] = world;
  }
  pass P1 {
    CullMode = None;
  }
}
technique Second {
  pass Only { FillMode = Wireframe; }
}
)";

const char kShaded[] = R"(
float4x4 worldViewProj : WorldViewProjection;
row_major float4x4 rowMatrix;
float4 palette[3];
struct Light { float3 dir; float4 color; };
Light light;
float scale = 2;
float4 pinned : register(c20);
texture2D tex;
texture2D otherTex;
sampler2D s0 = sampler_state { Texture = <tex>; MinFilter = Linear; AddressU = Clamp; };
sampler2D s1 : register(s3) = sampler_state { Texture = <otherTex>; MagFilter = Point; };

struct VSOut { float4 pos : POSITION; float4 color : COLOR0; float2 uv : TEXCOORD0; };
VSOut VS(float4 p : POSITION, float2 uv : TEXCOORD0, uniform float bias) {
  VSOut o;
  o.pos = mul(p, worldViewProj) + mul(p, rowMatrix) * scale;
  o.color = palette[0] + palette[2] + light.color * dot(light.dir, p.xyz) + pinned + bias;
  o.uv = uv;
  return o;
}
float4 PS(float4 c : COLOR0, float2 uv : TEXCOORD0) : COLOR {
  return tex2D(s0, uv) * c + tex2D(s1, uv);
}
technique Shaded {
  pass P0 {
    VertexShader = compile vs_2_0 VS(0.25);
    PixelShader = compile ps_2_0 PS();
    ZEnable = true;
  }
}
technique Plain {
  pass P0 { VertexShader = NULL; PixelShader = NULL; CullMode = CW; }
}
)";

class EffectTest : public ::testing::Test {
 protected:
  SpyDevice dev;
  ID3DXEffect* fx = nullptr;

  void Load(const char* src, DWORD flags = 0) {
    Created c = Create(&dev, src, flags);
    ASSERT_EQ(c.hr, D3D_OK) << c.messages;
    fx = c.fx;
  }
  void TearDown() override {
    if (fx) {
      EXPECT_EQ(fx->Release(), 0u);
    }
    EXPECT_EQ(dev.Refs(), 1u);  // the effect gave back its reference to the device
  }
};

// --- building and errors -------------------------------------------------------------------------

TEST(EffectCreate, RefusesMissingArguments) {
  SpyDevice dev;
  ID3DXEffect* fx = reinterpret_cast<ID3DXEffect*>(1);
  const char src[] = "technique T { pass P { ZEnable = true; } }";
  EXPECT_EQ(D3DXCreateEffect(nullptr, src, sizeof src, nullptr, nullptr, 0, nullptr, &fx, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(fx, nullptr);
  EXPECT_EQ(D3DXCreateEffect(&dev, nullptr, 10, nullptr, nullptr, 0, nullptr, &fx, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateEffect(&dev, src, 0, nullptr, nullptr, 0, nullptr, &fx, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateEffect(&dev, src, sizeof src, nullptr, nullptr, 0, nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateEffectFromFileA(&dev, nullptr, nullptr, nullptr, 0, nullptr, &fx, nullptr),
            D3DERR_INVALIDCALL);
  // Compiled effect binaries are not source.
  const DWORD binary[] = {0xFEFF0901, 0, 0, 0};
  EXPECT_EQ(
      D3DXCreateEffect(&dev, binary, sizeof binary, nullptr, nullptr, 0, nullptr, &fx, nullptr),
      kInvalidData);
  EXPECT_EQ(dev.Refs(), 1u);
}

TEST(EffectCreate, ErrorsNameTheLineAndColumn) {
  SpyDevice dev;
  struct Case {
    const char* body;  // the fourth line of the source
    const char* message;
  } cases[] = {
      {"    ZEnable = ;", "memory(4,15): error X3000: syntax error: unexpected token ';'\n"},
      {"    ZEnabled = true;", "memory(4,5): error X3000: 'ZEnabled': unknown state\n"},
      {"    VertexShader = compile vs_2_0 Missing();",
       "memory(4,20): error X3501: 'Missing': entrypoint not found\n"},
      {"    ZEnable = nothing;", "memory(4,15): error X3004: undeclared identifier 'nothing'\n"},
      {"    ColorOp[8] = Modulate;",
       "memory(4,5): error X3000: 'ColorOp': index 8 is out of range\n"},
      {"    ZEnable = float2(1, 0);",
       "memory(4,15): error X3017: 'ZEnable' takes one value, not 2\n"},
      {"    PixelShader = compile vs_2_0 VS();",
       "memory(4,19): error X3000: 'vs_2_0' is not a pixel shader profile\n"},
      {"    Texture[0] = <a>;", "memory(4,18): error X3000: 'Texture' takes a texture parameter\n"},
      {"    LightPosition[0] = float2(1, 2);",
       "memory(4,24): error X3017: 'LightPosition' does not take 2 values\n"},
  };
  for (const Case& c : cases) {
    const std::string src = std::string("float4 a;\nfloat4 VS() : POSITION { return a; }\n") +
                            "technique T { pass P {\n" + c.body + "\n} }\n";
    Created r = Create(&dev, src);
    EXPECT_EQ(r.hr, E_FAIL) << c.body;
    EXPECT_EQ(r.fx, nullptr);
    EXPECT_EQ(r.messages, c.message) << c.body;
  }
  // An error inside a shader keeps the compiler's own position.
  Created r = Create(&dev,
                     "float4 VS() : POSITION {\n  return nope;\n}\n"
                     "technique T { pass P { VertexShader = compile vs_2_0 VS(); } }\n");
  EXPECT_EQ(r.hr, E_FAIL);
  EXPECT_EQ(r.messages.rfind("memory(2,10): error X3004: undeclared identifier 'nope'", 0), 0u)
      << r.messages;
  // An unknown profile has no position of its own: it gets the compile expression's.
  r = Create(&dev,
             "float4 VS() : POSITION { return 0; }\n"
             "technique T { pass P { VertexShader = compile vs_1_1 VS(); } }\n");
  EXPECT_EQ(r.hr, E_FAIL);
  EXPECT_EQ(r.messages.rfind("memory(2,39): error X3523:", 0), 0u) << r.messages;
  EXPECT_EQ(dev.Refs(), 1u);
}

TEST(EffectCreate, FromFilesThatNameThemselvesInErrors) {
  SpyDevice dev;
  const std::string path = ::testing::TempDir() + "d3dx9_effect_test.fx";
  auto write = [&](const char* text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  };
  ID3DXEffect* fx = nullptr;
  ID3DXBuffer* errors = nullptr;
  write("technique T { pass P { ZEnable = false; } }\n");
  ASSERT_EQ(
      D3DXCreateEffectFromFileA(&dev, path.c_str(), nullptr, nullptr, 0, nullptr, &fx, &errors),
      D3D_OK);
  EXPECT_EQ(errors, nullptr);
  ASSERT_NE(fx->GetTechniqueByName("T"), nullptr);
  EXPECT_EQ(fx->Release(), 0u);

  write("technique T {\n  pass P {\n    ZEnable = ;\n  }\n}\n");
  fx = nullptr;
  EXPECT_EQ(
      D3DXCreateEffectFromFileA(&dev, path.c_str(), nullptr, nullptr, 0, nullptr, &fx, &errors),
      E_FAIL);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(errors->GetBufferPointer())),
            path + "(3,15): error X3000: syntax error: unexpected token ';'\n");
  errors->Release();
  std::remove(path.c_str());

  errors = nullptr;
  EXPECT_EQ(
      D3DXCreateEffectFromFileA(&dev, path.c_str(), nullptr, nullptr, 0, nullptr, &fx, &errors),
      E_FAIL);
  ASSERT_NE(errors, nullptr);
  EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("X1507"),
            std::string::npos);
  errors->Release();
  EXPECT_EQ(fx, nullptr);
}

TEST(EffectCreate, MacrosReachTerminatedSources) {
  SpyDevice dev;
  const D3DXMACRO macros[] = {{"CULL", "CW"}, {nullptr, nullptr}};
  // The length may count the terminating zero.
  const char src[] = "technique T { pass P { CullMode = CULL; } }";
  Created c = Create(&dev, std::string(src, sizeof src), 0, macros);
  ASSERT_EQ(c.hr, D3D_OK) << c.messages;
  UINT passes = 0;
  ASSERT_EQ(c.fx->Begin(&passes, 0), D3D_OK);
  ASSERT_EQ(c.fx->BeginPass(0), D3D_OK);
  EXPECT_TRUE(Logged(dev, RS(D3DRS_CULLMODE, D3DCULL_CW)));
  c.fx->EndPass();
  c.fx->End();
  EXPECT_EQ(c.fx->Release(), 0u);
}

// --- handles, descriptions, values ---------------------------------------------------------------

const char kParams[] = R"(
struct Light { float3 dir : Direction; float4 color; };
float f = 1.5;
int count = 3;
bool flag = true;
float3 v3 = float3(1, 2, 3);
float4x3 m43;
row_major float2x2 rm = {1, 2, 3, 4};
float4 bones[4] : BoneArray;
Light light = {0, 0, 1, 1, 0.5, 0.25, 1};
Light lights[2];
texture2D tex;
texture cubeish;
sampler2D samp = sampler_state { Texture = <tex>; };
string label : Title = "rock";
technique T < string Author = "Ann"; float Version = 2.5; > { pass A < int Order = 7; > { } pass B { } }
technique U { pass A { } }
)";

TEST_F(EffectTest, DescribesParametersTechniquesAndPasses) {
  Load(kParams);
  D3DXEFFECT_DESC ed;
  ASSERT_EQ(fx->GetDesc(&ed), D3D_OK);
  EXPECT_EQ(ed.Parameters, 13u);
  EXPECT_EQ(ed.Techniques, 2u);

  D3DXPARAMETER_DESC d;
  ASSERT_EQ(fx->GetParameterDesc("m43", &d), D3D_OK);
  EXPECT_EQ(d.Class, D3DXPC_MATRIX_COLUMNS);  // column-major unless asked otherwise
  EXPECT_EQ(d.Type, D3DXPT_FLOAT);
  EXPECT_EQ(d.Rows, 4u);
  EXPECT_EQ(d.Columns, 3u);
  EXPECT_EQ(d.Bytes, 48u);
  EXPECT_EQ(d.Semantic, nullptr);
  ASSERT_EQ(fx->GetParameterDesc("rm", &d), D3D_OK);
  EXPECT_EQ(d.Class, D3DXPC_MATRIX_ROWS);
  ASSERT_EQ(fx->GetParameterDesc("bones", &d), D3D_OK);
  EXPECT_EQ(d.Class, D3DXPC_VECTOR);
  EXPECT_EQ(d.Elements, 4u);
  EXPECT_EQ(d.Bytes, 64u);
  EXPECT_STREQ(d.Semantic, "BoneArray");
  ASSERT_EQ(fx->GetParameterDesc("lights", &d), D3D_OK);
  EXPECT_EQ(d.Class, D3DXPC_STRUCT);
  EXPECT_EQ(d.Elements, 2u);
  EXPECT_EQ(d.StructMembers, 2u);
  EXPECT_EQ(d.Bytes, 56u);
  ASSERT_EQ(fx->GetParameterDesc("tex", &d), D3D_OK);
  EXPECT_EQ(d.Class, D3DXPC_OBJECT);
  EXPECT_EQ(d.Type, D3DXPT_TEXTURE2D);
  ASSERT_EQ(fx->GetParameterDesc("cubeish", &d), D3D_OK);
  EXPECT_EQ(d.Type, D3DXPT_TEXTURE);
  ASSERT_EQ(fx->GetParameterDesc("samp", &d), D3D_OK);
  EXPECT_EQ(d.Type, D3DXPT_SAMPLER2D);
  ASSERT_EQ(fx->GetParameterDesc("count", &d), D3D_OK);
  EXPECT_EQ(d.Type, D3DXPT_INT);
  EXPECT_EQ(d.Class, D3DXPC_SCALAR);

  D3DXHANDLE t = fx->GetTechniqueByName("T");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(fx->GetTechnique(0), t);
  EXPECT_EQ(fx->GetCurrentTechnique(), t);  // the first technique is current at first
  D3DXTECHNIQUE_DESC td;
  ASSERT_EQ(fx->GetTechniqueDesc(t, &td), D3D_OK);
  EXPECT_STREQ(td.Name, "T");
  EXPECT_EQ(td.Passes, 2u);
  EXPECT_EQ(td.Annotations, 2u);
  D3DXHANDLE b = fx->GetPassByName(t, "B");
  EXPECT_EQ(fx->GetPass(t, 1), b);
  EXPECT_EQ(fx->GetPass(t, 2), nullptr);
  D3DXPASS_DESC pd;
  ASSERT_EQ(fx->GetPassDesc(fx->GetPass(t, 0), &pd), D3D_OK);
  EXPECT_STREQ(pd.Name, "A");
  EXPECT_EQ(pd.Annotations, 1u);
  EXPECT_EQ(pd.pVertexShaderFunction, nullptr);
  // Another technique's pass of the same name is another pass.
  EXPECT_NE(fx->GetPassByName(fx->GetTechniqueByName("U"), "A"), fx->GetPass(t, 0));

  // A handle of one kind is never read as another kind.
  EXPECT_EQ(fx->GetParameterDesc(t, &d), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->GetTechniqueDesc(fx->GetParameterByName(nullptr, "f"), &td), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->GetParameterDesc("nothing", &d), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->GetParameterDesc("f", nullptr), D3DERR_INVALIDCALL);
}

TEST_F(EffectTest, FindsMembersAndElementsByHandleAndByName) {
  Load(kParams);
  D3DXHANDLE lights = fx->GetParameterByName(nullptr, "lights");
  ASSERT_NE(lights, nullptr);
  D3DXHANDLE second = fx->GetParameterElement(lights, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(fx->GetParameter(lights, 1), second);
  EXPECT_EQ(fx->GetParameterByName(nullptr, "lights[1]"), second);
  D3DXHANDLE color = fx->GetParameterByName(second, "color");
  EXPECT_EQ(fx->GetParameterByName(nullptr, "lights[1].color"), color);
  EXPECT_EQ(fx->GetParameter(second, 1), color);
  EXPECT_EQ(fx->GetParameterByName(lights, "[1].color"), color);
  D3DXHANDLE dir = fx->GetParameterByName(nullptr, "light.dir");
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(fx->GetParameterBySemantic(fx->GetParameterByName(nullptr, "light"), "DIRECTION"), dir);
  EXPECT_EQ(fx->GetParameterBySemantic(nullptr, "bonearray"), fx->GetParameter(nullptr, 6));
  D3DXPARAMETER_DESC d;
  ASSERT_EQ(fx->GetParameterDesc(color, &d), D3D_OK);
  EXPECT_STREQ(d.Name, "color");
  EXPECT_EQ(d.Columns, 4u);

  for (const char* bad : {"lights[2]", "lights[1].colour", "lights.color", "light[0]", "[0]",
                          "lights[x]", "lights[]", "f.x", "", "lights[1]color"})
    EXPECT_EQ(fx->GetParameterByName(nullptr, bad), nullptr) << bad;
  EXPECT_EQ(fx->GetParameterElement(fx->GetParameterByName(nullptr, "f"), 0), nullptr);
  EXPECT_EQ(fx->GetParameter(nullptr, 13), nullptr);

  // Member and element names work wherever a handle does.
  const D3DXVECTOR4 c(0.1f, 0.2f, 0.3f, 0.4f);
  ASSERT_EQ(fx->SetVector("lights[1].color", &c), D3D_OK);
  D3DXVECTOR4 back;
  ASSERT_EQ(fx->GetVector(color, &back), D3D_OK);
  EXPECT_FLOAT_EQ(back.z, 0.3f);
}

TEST_F(EffectTest, AnnotationsHangOffParametersTechniquesAndPasses) {
  Load(kParams);
  D3DXHANDLE t = fx->GetTechniqueByName("T");
  D3DXHANDLE author = fx->GetAnnotationByName(t, "Author");
  ASSERT_NE(author, nullptr);
  EXPECT_EQ(fx->GetAnnotation(t, 0), author);
  LPCSTR s = nullptr;
  ASSERT_EQ(fx->GetString(author, &s), D3D_OK);
  EXPECT_STREQ(s, "Ann");
  FLOAT version = 0;
  ASSERT_EQ(fx->GetFloat(fx->GetAnnotationByName("T", "Version"), &version), D3D_OK);
  EXPECT_FLOAT_EQ(version, 2.5f);
  INT order = 0;
  ASSERT_EQ(fx->GetInt(fx->GetAnnotationByName(fx->GetPass(t, 0), "Order"), &order), D3D_OK);
  EXPECT_EQ(order, 7);
  D3DXPARAMETER_DESC d;
  ASSERT_EQ(fx->GetParameterDesc(author, &d), D3D_OK);
  EXPECT_EQ(d.Type, D3DXPT_STRING);
  EXPECT_EQ(d.Flags & D3DX_PARAMETER_ANNOTATION, DWORD(D3DX_PARAMETER_ANNOTATION));
  EXPECT_EQ(fx->GetAnnotation(t, 2), nullptr);
  EXPECT_EQ(fx->GetAnnotationByName(t, "Nope"), nullptr);
  // String parameters take new strings; nothing else does.
  ASSERT_EQ(fx->GetString("label", &s), D3D_OK);
  EXPECT_STREQ(s, "rock");
  ASSERT_EQ(fx->GetParameterDesc("label", &d), D3D_OK);
  EXPECT_EQ(d.Type, D3DXPT_STRING);
  EXPECT_STREQ(d.Semantic, "Title");
  ASSERT_EQ(fx->SetString("label", "Bob"), D3D_OK);
  ASSERT_EQ(fx->GetString("label", &s), D3D_OK);
  EXPECT_STREQ(s, "Bob");
  EXPECT_EQ(fx->SetString("label", nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->GetString("f", &s), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetString("f", "x"), D3DERR_INVALIDCALL);
}

TEST_F(EffectTest, NamesAreRefusedWhenLargeAddressAware) {
  Load(kParams, D3DXFX_LARGEADDRESSAWARE);
  FLOAT f = 0;
  EXPECT_EQ(fx->GetFloat("f", &f), D3DERR_INVALIDCALL);
  ASSERT_EQ(fx->GetFloat(fx->GetParameterByName(nullptr, "f"), &f), D3D_OK);
  EXPECT_FLOAT_EQ(f, 1.5f);
}

TEST_F(EffectTest, InitialValuesAndConversions) {
  Load(kParams);
  FLOAT f = 0;
  INT n = 0;
  BOOL b = FALSE;
  ASSERT_EQ(fx->GetFloat("f", &f), D3D_OK);
  EXPECT_FLOAT_EQ(f, 1.5f);
  ASSERT_EQ(fx->GetInt("f", &n), D3D_OK);
  EXPECT_EQ(n, 1);
  ASSERT_EQ(fx->GetInt("count", &n), D3D_OK);
  EXPECT_EQ(n, 3);
  ASSERT_EQ(fx->GetBool("flag", &b), D3D_OK);
  EXPECT_EQ(b, TRUE);
  D3DXVECTOR4 v;
  ASSERT_EQ(fx->GetVector("v3", &v), D3D_OK);
  EXPECT_EQ(v, D3DXVECTOR4(1, 2, 3, 0));
  FLOAT light[7];
  ASSERT_EQ(fx->GetFloatArray("light", light, 7), D3D_OK);
  EXPECT_FLOAT_EQ(light[2], 1);
  EXPECT_FLOAT_EQ(light[4], 0.5f);
  D3DXMATRIX m;
  ASSERT_EQ(fx->GetMatrix("rm", &m), D3D_OK);
  EXPECT_FLOAT_EQ(m._12, 2);
  EXPECT_FLOAT_EQ(m._21, 3);
  EXPECT_FLOAT_EQ(m._33, 0);

  // Values are kept in the parameter's type.
  ASSERT_EQ(fx->SetFloat("count", 7.9f), D3D_OK);
  ASSERT_EQ(fx->GetInt("count", &n), D3D_OK);
  EXPECT_EQ(n, 7);
  ASSERT_EQ(fx->SetInt("flag", 42), D3D_OK);
  DWORD raw = 0;
  ASSERT_EQ(fx->GetValue("flag", &raw, 4), D3D_OK);
  EXPECT_EQ(raw, 1u);
  ASSERT_EQ(fx->SetBool("f", TRUE), D3D_OK);
  ASSERT_EQ(fx->GetFloat("f", &f), D3D_OK);
  EXPECT_FLOAT_EQ(f, 1);

  // Scalars only for the scalar calls, vectors for the vector calls, and so on.
  EXPECT_EQ(fx->SetFloat("v3", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetFloat("bones", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetVector("m43", &v), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetVector("bones", &v), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetMatrix("v3", &m), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetFloat("tex", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetFloat(nullptr, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetFloat("nothing", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->GetFloat("f", nullptr), D3DERR_INVALIDCALL);
}

TEST_F(EffectTest, ArraysMatricesAndRawValues) {
  Load(kParams);
  const D3DXVECTOR4 in[4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  ASSERT_EQ(fx->SetVectorArray("bones", in, 3), D3D_OK);
  D3DXVECTOR4 out[4] = {};
  ASSERT_EQ(fx->GetVectorArray("bones", out, 4), D3D_OK);
  EXPECT_EQ(out[2], in[2]);
  EXPECT_EQ(out[3], D3DXVECTOR4(0, 0, 0, 0));
  EXPECT_EQ(fx->SetVectorArray("bones", in, 5), D3DERR_INVALIDCALL);
  FLOAT floats[17] = {};
  ASSERT_EQ(fx->GetFloatArray("bones", floats, 16), D3D_OK);
  EXPECT_FLOAT_EQ(floats[5], 6);
  EXPECT_EQ(fx->GetFloatArray("bones", floats, 17), D3DERR_INVALIDCALL);
  const FLOAT pair[2] = {13, 14};
  ASSERT_EQ(fx->SetFloatArray("bones[1]", pair, 2), D3D_OK);  // part of one element
  ASSERT_EQ(fx->GetVector("bones[1]", out), D3D_OK);
  EXPECT_EQ(out[0], D3DXVECTOR4(13, 14, 7, 8));
  EXPECT_EQ(fx->GetVector("bones", out), D3DERR_INVALIDCALL);  // the whole array

  // 4x3: SetMatrix keeps the top-left 4 rows by 3 columns; transposed calls swap them.
  const D3DXMATRIX m = Counting();
  ASSERT_EQ(fx->SetMatrix("m43", &m), D3D_OK);
  FLOAT raw[12];
  ASSERT_EQ(fx->GetValue("m43", raw, sizeof raw), D3D_OK);
  EXPECT_FLOAT_EQ(raw[3], 5);    // row 1, column 0
  EXPECT_FLOAT_EQ(raw[11], 15);  // row 3, column 2
  D3DXMATRIX t;
  ASSERT_EQ(fx->GetMatrixTranspose("m43", &t), D3D_OK);
  EXPECT_FLOAT_EQ(t._12, 5);
  EXPECT_FLOAT_EQ(t._14, 13);
  EXPECT_FLOAT_EQ(t._41, 0);
  ASSERT_EQ(fx->SetMatrixTranspose("m43", &m), D3D_OK);
  ASSERT_EQ(fx->GetValue("m43", raw, sizeof raw), D3D_OK);
  EXPECT_FLOAT_EQ(raw[1], 5);  // row 0, column 1 from the transposed matrix
  const D3DXMATRIX* list[2] = {&m, nullptr};
  EXPECT_EQ(fx->SetMatrixPointerArray("m43", list, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetMatrixPointerArray("m43", list, 1), D3D_OK);
  EXPECT_EQ(fx->SetMatrixArray("m43", &m, 2), D3DERR_INVALIDCALL);

  // Sizes: SetValue takes at most the parameter, GetValue needs room for all of it.
  EXPECT_EQ(fx->GetValue("m43", raw, 44), D3DERR_INVALIDCALL);
  FLOAT big[13] = {};
  EXPECT_EQ(fx->SetValue("m43", big, sizeof big), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetValue("m43", big, 6), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetValue("m43", nullptr, 4), D3DERR_INVALIDCALL);
  ASSERT_EQ(fx->SetValue("m43", big, 8), D3D_OK);
  ASSERT_EQ(fx->GetValue("m43", raw, sizeof raw), D3D_OK);
  EXPECT_FLOAT_EQ(raw[1], 0);
  EXPECT_FLOAT_EQ(raw[2], 3);
  const FLOAT two = 2;
  ASSERT_EQ(fx->SetRawValue("light", &two, 16, 4), D3D_OK);  // the colour's second component
  ASSERT_EQ(fx->GetFloatArray("light.color", floats, 2), D3D_OK);
  EXPECT_FLOAT_EQ(floats[1], 2);
  EXPECT_EQ(fx->SetRawValue("light", &two, 26, 4), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetRawValue("light", &two, 0xFFFFFFFF, 4), D3DERR_INVALIDCALL);
}

TEST_F(EffectTest, TexturesAreReferenced) {
  Load(kParams);
  auto* a = new StubTexture("a");
  auto* b = new StubTexture("b");
  ASSERT_EQ(fx->SetTexture("tex", a), D3D_OK);
  EXPECT_EQ(a->Refs(), 2u);
  ASSERT_EQ(fx->SetTexture("tex", b), D3D_OK);
  EXPECT_EQ(a->Refs(), 1u);
  EXPECT_EQ(b->Refs(), 2u);
  IDirect3DBaseTexture9* got = nullptr;
  ASSERT_EQ(fx->GetTexture("tex", &got), D3D_OK);
  EXPECT_EQ(got, b);
  EXPECT_EQ(b->Refs(), 3u);
  got->Release();
  IDirect3DBaseTexture9* viaValue = a;
  ASSERT_EQ(fx->SetValue("cubeish", &viaValue, sizeof viaValue), D3D_OK);
  EXPECT_EQ(a->Refs(), 2u);
  EXPECT_EQ(fx->SetTexture("f", a), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetTexture("samp", a), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetValue("samp", &viaValue, sizeof viaValue), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->Release(), 0u);
  fx = nullptr;
  EXPECT_EQ(a->Refs(), 1u);
  EXPECT_EQ(b->Refs(), 1u);
  a->Release();
  b->Release();
  EXPECT_EQ(effect_test::Live::textures, 0);
}

// --- applying passes -----------------------------------------------------------------------------

TEST_F(EffectTest, PassesSetTheirStatesAndEndRestoresThem) {
  Load(kFixed);
  auto* tex = new StubTexture("stone");
  ASSERT_EQ(fx->SetTexture("diffuseMap", tex), D3D_OK);
  D3DXMATRIX world = Counting();
  ASSERT_EQ(fx->SetMatrix("world", &world), D3D_OK);
  dev.render[D3DRS_ZENABLE] = 0;
  dev.render[D3DRS_ALPHAREF] = 9;
  dev.render[D3DRS_CULLMODE] = D3DCULL_CCW;
  dev.sampler[{0, D3DSAMP_MINFILTER}] = D3DTEXF_POINT;
  auto* before = new StubTexture("before");
  dev.SetTexture(1, before);
  const auto render = dev.render;
  const auto sampler = dev.sampler;
  dev.log.clear();

  UINT passes = 0;
  ASSERT_EQ(fx->Begin(&passes, 0), D3D_OK);
  EXPECT_EQ(passes, 2u);
  EXPECT_TRUE(dev.log.empty());  // Begin only reads
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_EQ(dev.render[D3DRS_ZENABLE], 1u);
  EXPECT_EQ(dev.render[D3DRS_ALPHAREF], 127u);
  EXPECT_EQ(dev.render[D3DRS_ALPHAFUNC], DWORD(D3DCMP_GREATEREQUAL));
  EXPECT_EQ(dev.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCALPHA));
  EXPECT_EQ(dev.render[D3DRS_COLORWRITEENABLE], 7u);
  EXPECT_EQ(dev.render[D3DRS_TEXTUREFACTOR], 0xFFFF0000u);
  EXPECT_EQ((dev.stage[{0, D3DTSS_COLOROP}]), DWORD(D3DTOP_MODULATE));
  EXPECT_EQ((dev.stage[{0, D3DTSS_COLORARG1}]), DWORD(D3DTA_TEXTURE));
  // Sampler[0] applies the sampler's block to sampler 0; Texture[1] and MipFilter[1] stage 1.
  EXPECT_EQ(dev.textures[0], tex);
  EXPECT_EQ((dev.sampler[{0, D3DSAMP_MINFILTER}]), DWORD(D3DTEXF_LINEAR));
  EXPECT_EQ((dev.sampler[{0, D3DSAMP_ADDRESSU}]), DWORD(D3DTADDRESS_CLAMP));
  EXPECT_EQ(dev.textures[1], tex);
  EXPECT_EQ((dev.sampler[{1, D3DSAMP_MIPFILTER}]), DWORD(D3DTEXF_LINEAR));
  EXPECT_EQ(std::memcmp(&dev.transforms[D3DTS_WORLD], &world, sizeof world), 0);
  EXPECT_EQ(fx->EndPass(), D3D_OK);
  ASSERT_EQ(fx->BeginPass(1), D3D_OK);
  EXPECT_EQ(dev.render[D3DRS_CULLMODE], DWORD(D3DCULL_NONE));
  EXPECT_EQ(fx->EndPass(), D3D_OK);
  ASSERT_EQ(fx->End(), D3D_OK);

  // Every state the passes set is back, including ones set only by the second pass.
  for (auto [state, value] : render) EXPECT_EQ(dev.render[state], value) << state;
  for (auto [key, value] : sampler) EXPECT_EQ(dev.sampler[key], value);
  EXPECT_EQ(dev.render[D3DRS_SRCBLEND], 0u);  // was never set: read back as 0 and restored
  EXPECT_EQ(dev.textures[1], before);
  EXPECT_EQ(dev.textures[0], nullptr);
  EXPECT_EQ(dev.transforms.count(D3DTS_WORLD), 1u);
  EXPECT_FLOAT_EQ(dev.transforms[D3DTS_WORLD]._12, 0);  // identity again
  before->Release();
  fx->Release();
  fx = nullptr;
  EXPECT_EQ(tex->Refs(), 1u);  // neither the effect nor the restored device holds it
  tex->Release();
}

TEST_F(EffectTest, DoNotSaveFlagsLeaveStatesAsThePassSetThem) {
  Load(kFixed);
  auto* tex = new StubTexture("stone");
  fx->SetTexture("diffuseMap", tex);
  tex->Release();
  struct Case {
    DWORD flags;
    bool render_restored, sampler_restored;
  } cases[] = {{D3DXFX_DONOTSAVESTATE, false, false},
               {D3DXFX_DONOTSAVESAMPLERSTATE, true, false},
               {D3DXFX_DONOTSAVESHADERSTATE, true, true}};
  for (const Case& c : cases) {
    dev.render[D3DRS_ALPHAREF] = 9;
    dev.sampler[{0, D3DSAMP_MINFILTER}] = D3DTEXF_POINT;
    dev.SetTexture(0, nullptr);
    ASSERT_EQ(fx->Begin(nullptr, c.flags), D3D_OK);
    ASSERT_EQ(fx->BeginPass(0), D3D_OK);
    fx->EndPass();
    ASSERT_EQ(fx->End(), D3D_OK);
    EXPECT_EQ(dev.render[D3DRS_ALPHAREF], c.render_restored ? 9u : 127u) << c.flags;
    EXPECT_EQ((dev.sampler[{0, D3DSAMP_MINFILTER}]),
              DWORD(c.sampler_restored ? D3DTEXF_POINT : D3DTEXF_LINEAR))
        << c.flags;
    EXPECT_EQ(dev.textures[0] == nullptr, c.sampler_restored) << c.flags;
  }
}

TEST_F(EffectTest, CallsOutOfOrderAreRefused) {
  Load(kFixed);
  EXPECT_EQ(fx->BeginPass(0), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->EndPass(), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->End(), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->CommitChanges(), D3DERR_INVALIDCALL);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  EXPECT_EQ(fx->Begin(nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->CommitChanges(), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->BeginPass(2), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetTechnique("Second"), D3DERR_INVALIDCALL);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_EQ(fx->BeginPass(1), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->EndPass(), D3D_OK);
  EXPECT_EQ(fx->EndPass(), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->End(), D3D_OK);
  EXPECT_EQ(fx->SetTechnique("Nope"), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->SetTechnique(fx->GetParameterByName(nullptr, "tint")), D3DERR_INVALIDCALL);
}

TEST_F(EffectTest, TechniquesAreChosenByNameOrHandle) {
  Load(kFixed);
  ASSERT_EQ(fx->SetTechnique("Second"), D3D_OK);
  EXPECT_EQ(fx->GetCurrentTechnique(), fx->GetTechniqueByName("Second"));
  UINT passes = 0;
  ASSERT_EQ(fx->Begin(&passes, 0), D3D_OK);
  EXPECT_EQ(passes, 1u);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_EQ(dev.log, std::vector<std::string>{RS(D3DRS_FILLMODE, D3DFILL_WIREFRAME)});
  fx->EndPass();
  fx->End();
  ASSERT_EQ(fx->SetTechnique(fx->GetTechnique(0)), D3D_OK);
  ASSERT_EQ(fx->Begin(&passes, 0), D3D_OK);
  EXPECT_EQ(passes, 2u);
  fx->End();
  EXPECT_TRUE(fx->IsParameterUsed("alphaRef", "Fixed"));
  EXPECT_TRUE(fx->IsParameterUsed("diffuseMap", nullptr));  // through the sampler's block
  EXPECT_FALSE(fx->IsParameterUsed("alphaRef", "Second"));
}

TEST_F(EffectTest, ChangesInsideAPassWaitForCommitChanges) {
  Load(kFixed);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  dev.log.clear();
  ASSERT_EQ(fx->SetFloat("alphaRef", 0.25f), D3D_OK);
  ASSERT_EQ(fx->SetBool("depthOn", FALSE), D3D_OK);
  auto* tex = new StubTexture("late");
  ASSERT_EQ(fx->SetTexture("diffuseMap", tex), D3D_OK);
  EXPECT_TRUE(dev.log.empty());
  ASSERT_EQ(fx->CommitChanges(), D3D_OK);
  // Exactly the states that read the changed parameters, with their new values.
  std::vector<std::string> want = {RS(D3DRS_ZENABLE, 0), RS(D3DRS_ALPHAREF, 63), "TEX 0=late",
                                   "TEX 1=late"};
  EXPECT_EQ(dev.log, want);
  dev.log.clear();
  ASSERT_EQ(fx->CommitChanges(), D3D_OK);
  EXPECT_TRUE(dev.log.empty());  // nothing changed since
  fx->EndPass();
  // The next pass starts from every current value.
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_TRUE(Logged(dev, RS(D3DRS_ALPHAREF, 63)));
  EXPECT_TRUE(Logged(dev, RS(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA)));
  fx->EndPass();
  fx->End();
  tex->Release();
}

class Manager final : public ID3DXEffectStateManager {
 public:
  std::vector<std::string> log;
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX*) override {
    log.push_back("XF " + Dword(s));
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9*) override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE SetLight(DWORD, const D3DLIGHT9*) override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE LightEnable(DWORD, BOOL) override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE s, DWORD v) override {
    log.push_back(RS(s, v));
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTexture(DWORD i, LPDIRECT3DBASETEXTURE9) override {
    log.push_back("TEX " + Dword(i));
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD i, D3DTEXTURESTAGESTATETYPE t,
                                                 DWORD v) override {
    log.push_back("TSS " + Dword(i) + " " + Dword(t) + "=" + Dword(v));
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD i, D3DSAMPLERSTATETYPE t, DWORD v) override {
    log.push_back(SAMP(i, t, v));
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetNPatchMode(FLOAT) override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE SetFVF(DWORD) override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE SetVertexShader(LPDIRECT3DVERTEXSHADER9) override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT, const FLOAT*, UINT) override {
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantI(UINT, const INT*, UINT) override {
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantB(UINT, const BOOL*, UINT) override {
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPixelShader(LPDIRECT3DPIXELSHADER9) override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantF(UINT, const FLOAT*, UINT) override {
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantI(UINT, const INT*, UINT) override {
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantB(UINT, const BOOL*, UINT) override {
    return D3D_OK;
  }
};

TEST_F(EffectTest, AStateManagerReceivesThePassStates) {
  Load(kFixed);
  Manager m;
  ASSERT_EQ(fx->SetStateManager(&m), D3D_OK);
  EXPECT_EQ(m.refs, 2u);
  ID3DXEffectStateManager* got = nullptr;
  ASSERT_EQ(fx->GetStateManager(&got), D3D_OK);
  EXPECT_EQ(got, &m);
  got->Release();
  ASSERT_EQ(fx->SetTechnique("Second"), D3D_OK);
  dev.render[D3DRS_FILLMODE] = D3DFILL_SOLID;
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  fx->EndPass();
  fx->End();
  EXPECT_TRUE(Calls(dev, "RS").empty());  // the device itself is only read
  EXPECT_EQ(m.log, (std::vector<std::string>{RS(D3DRS_FILLMODE, D3DFILL_WIREFRAME),
                                             RS(D3DRS_FILLMODE, D3DFILL_SOLID)}));
  ASSERT_EQ(fx->SetStateManager(nullptr), D3D_OK);
  EXPECT_EQ(m.refs, 1u);
}

const char kLit[] = R"(
float4 lightColor = {1, 0.5, 0.25, 1};
float range = 10;
technique Lit {
  pass P0 {
    Lighting = true;
    LightEnable[1] = true;
    LightType[1] = Point;
    LightDiffuse[1] = lightColor;
    LightPosition[1] = float3(1, 2, 3);
    LightRange[1] = range * 2;
    LightEnable[3] = true;
    MaterialDiffuse = float4(1, 0, 0, 1);
    MaterialPower = 8;
  }
}
)";

TEST_F(EffectTest, LightsAndMaterialsAreSetMemberByMemberAndRestored) {
  Load(kLit);
  D3DLIGHT9 before = {};
  before.Type = D3DLIGHT_DIRECTIONAL;
  before.Specular = D3DCOLORVALUE{0.5f, 0.5f, 0.5f, 1};
  before.Direction = D3DVECTOR{0, -1, 0};
  dev.lights[1] = before;
  dev.lightEnables[1] = FALSE;
  dev.material.Power = 2;
  dev.material.Specular.r = 0.75f;
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  const D3DLIGHT9& l = dev.lights[1];
  EXPECT_EQ(l.Type, D3DLIGHT_POINT);
  EXPECT_FLOAT_EQ(l.Diffuse.g, 0.5f);
  EXPECT_FLOAT_EQ(l.Position.z, 3);
  EXPECT_FLOAT_EQ(l.Range, 20);
  EXPECT_FLOAT_EQ(l.Specular.r, 0.5f);  // members the pass leaves alone keep their values
  EXPECT_EQ(dev.lightEnables[1], TRUE);
  EXPECT_EQ(dev.lightEnables[3], TRUE);
  EXPECT_FLOAT_EQ(dev.material.Diffuse.r, 1);
  EXPECT_FLOAT_EQ(dev.material.Power, 8);
  EXPECT_FLOAT_EQ(dev.material.Specular.r, 0.75f);
  dev.log.clear();
  ASSERT_EQ(fx->SetFloat("range", 1), D3D_OK);
  ASSERT_EQ(fx->CommitChanges(), D3D_OK);
  EXPECT_EQ(dev.log, std::vector<std::string>{"LIGHT 1"});
  EXPECT_FLOAT_EQ(dev.lights[1].Range, 2);
  EXPECT_EQ(dev.lights[1].Type, D3DLIGHT_POINT);
  fx->EndPass();
  ASSERT_EQ(fx->End(), D3D_OK);
  EXPECT_EQ(std::memcmp(&dev.lights[1], &before, sizeof before), 0);
  EXPECT_EQ(dev.lightEnables[1], FALSE);
  EXPECT_EQ(dev.lightEnables[3], FALSE);  // never set before: disabled again
  EXPECT_FLOAT_EQ(dev.material.Power, 2);
  EXPECT_FLOAT_EQ(dev.material.Diffuse.r, 0);
}

// --- shaders -------------------------------------------------------------------------------------

TEST_F(EffectTest, ShaderConstantsLandInTheRegistersOfTheConstantTable) {
  Load(kShaded);
  D3DXHANDLE pass = fx->GetPass("Shaded", 0);
  D3DXPASS_DESC pd;
  ASSERT_EQ(fx->GetPassDesc(pass, &pd), D3D_OK);
  ASSERT_NE(pd.pVertexShaderFunction, nullptr);
  ASSERT_NE(pd.pPixelShaderFunction, nullptr);
  const D3DXMATRIX m = Counting();
  ASSERT_EQ(fx->SetMatrix("worldViewProj", &m), D3D_OK);
  ASSERT_EQ(fx->SetMatrix("rowMatrix", &m), D3D_OK);
  const D3DXVECTOR4 palette[3] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
  ASSERT_EQ(fx->SetVectorArray("palette", palette, 3), D3D_OK);
  const D3DXVECTOR4 dir(0.5f, 0.25f, 0.125f, 99), color(0.1f, 0.2f, 0.3f, 0.4f), pin(7, 7, 7, 7);
  ASSERT_EQ(fx->SetVector("light.dir", &dir), D3D_OK);
  ASSERT_EQ(fx->SetVector("light.color", &color), D3D_OK);
  ASSERT_EQ(fx->SetVector("pinned", &pin), D3D_OK);
  auto* tex = new StubTexture("tex");
  auto* other = new StubTexture("other");
  fx->SetTexture("tex", tex);
  fx->SetTexture("otherTex", other);

  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  ASSERT_NE(dev.vs, nullptr);
  ASSERT_NE(dev.ps, nullptr);
  // The device got the code the pass describes.
  const UINT size = D3DXGetShaderSize(pd.pVertexShaderFunction);
  ASSERT_GT(size, 0u);
  EXPECT_EQ(std::memcmp(static_cast<effect_test::StubVertexShader*>(dev.vs)->code(),
                        pd.pVertexShaderFunction, size),
            0);
  const DWORD* vs = pd.pVertexShaderFunction;
  // Column-major: one column per register. Row-major: one row per register.
  const UINT wvp = RegisterOf(vs, "worldViewProj");
  ASSERT_LT(wvp, 250u);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) EXPECT_EQ(dev.vf[wvp + c][r], m.m[r][c]) << r << c;
  const UINT rows = RegisterOf(vs, "rowMatrix");
  ASSERT_LT(rows, 250u);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(dev.vf[rows + r][c], m.m[r][c]);
  const UINT pal = RegisterOf(vs, "palette");
  ASSERT_LT(pal, 250u);
  EXPECT_EQ(dev.vf[pal + 2][1], 10.f);
  EXPECT_EQ(dev.vf[pal][3], 4.f);
  const UINT ld = RegisterOf(vs, "light.dir"), lc = RegisterOf(vs, "light.color");
  ASSERT_LT(ld, 250u);
  ASSERT_LT(lc, 250u);
  EXPECT_EQ(dev.vf[ld][2], 0.125f);
  EXPECT_EQ(dev.vf[ld][3], 0.f);  // a float3 leaves its fourth lane 0
  EXPECT_EQ(dev.vf[lc][3], 0.4f);
  EXPECT_EQ(dev.vf[RegisterOf(vs, "scale")][0], 2.f);
  EXPECT_EQ(dev.vf[20][0], 7.f);                         // an explicit register(c20)
  EXPECT_EQ(dev.vf[RegisterOf(vs, "$bias")][0], 0.25f);  // the compile expression's argument
  // Samplers: s1 is bound to s3, s0 gets the register its table names.
  const DWORD* ps = pd.pPixelShaderFunction;
  const UINT s0 = RegisterOf(ps, "s0");
  ASSERT_LT(s0, 16u);
  EXPECT_EQ(dev.textures[s0], tex);
  EXPECT_EQ((dev.sampler[{s0, D3DSAMP_MINFILTER}]), DWORD(D3DTEXF_LINEAR));
  EXPECT_EQ((dev.sampler[{s0, D3DSAMP_ADDRESSU}]), DWORD(D3DTADDRESS_CLAMP));
  EXPECT_EQ(dev.textures[3], other);
  EXPECT_TRUE(Logged(dev, SAMP(3, D3DSAMP_MAGFILTER, D3DTEXF_POINT)));
  fx->EndPass();
  fx->End();
  tex->Release();
  other->Release();
}

TEST_F(EffectTest, CommitChangesUploadsOnlyChangedConstants) {
  Load(kShaded);
  D3DXPASS_DESC pd;
  ASSERT_EQ(fx->GetPassDesc(fx->GetPass("Shaded", 0), &pd), D3D_OK);
  const UINT scale = RegisterOf(pd.pVertexShaderFunction, "scale");
  ASSERT_LT(scale, 250u);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  dev.log.clear();
  ASSERT_EQ(fx->SetFloat("scale", 3), D3D_OK);
  EXPECT_EQ(dev.vf[scale][0], 2.f);
  ASSERT_EQ(fx->CommitChanges(), D3D_OK);
  EXPECT_EQ(dev.log, std::vector<std::string>{"VSF " + Dword(scale) + "+1"});
  EXPECT_EQ(dev.vf[scale][0], 3.f);
  fx->EndPass();
  fx->End();
}

TEST_F(EffectTest, EndRestoresShadersAndTheirRegisters) {
  Load(kShaded);
  auto* old = new effect_test::StubVertexShader(&dev, nullptr);
  dev.SetVertexShader(old);
  const float sentinel[4] = {-1, -2, -3, -4};
  for (UINT r = 0; r < 32; ++r) dev.SetVertexShaderConstantF(r, sentinel, 1);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_NE(dev.vs, old);
  EXPECT_NE(dev.vf[20][0], -1.f);
  fx->EndPass();
  ASSERT_EQ(fx->End(), D3D_OK);
  EXPECT_EQ(dev.vs, old);
  EXPECT_EQ(dev.ps, nullptr);
  for (UINT r = 0; r < 32; ++r) EXPECT_EQ(dev.vf[r][1], -2.f) << r;

  // Without shader state, the effect's shader and constants stay.
  ASSERT_EQ(fx->Begin(nullptr, D3DXFX_DONOTSAVESHADERSTATE), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  fx->EndPass();
  ASSERT_EQ(fx->End(), D3D_OK);
  EXPECT_NE(dev.vs, old);
  EXPECT_EQ(dev.vf[20][0], 0.f);
  old->Release();
}

TEST_F(EffectTest, NullShadersAndInvalidTechniques) {
  dev.refuseShaders = true;
  Load(kShaded);  // the effect exists even when the device refuses its shaders
  EXPECT_EQ(fx->ValidateTechnique("Shaded"), kInvalidData);
  EXPECT_EQ(fx->ValidateTechnique("Plain"), D3D_OK);
  D3DXHANDLE next = nullptr;
  ASSERT_EQ(fx->FindNextValidTechnique(nullptr, &next), D3D_OK);
  EXPECT_EQ(next, fx->GetTechniqueByName("Plain"));
  ASSERT_EQ(fx->FindNextValidTechnique(next, &next), D3D_OK);
  EXPECT_EQ(next, nullptr);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  EXPECT_EQ(fx->BeginPass(0), kInvalidData);
  fx->End();
  ASSERT_EQ(fx->SetTechnique("Plain"), D3D_OK);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_TRUE(Logged(dev, "VS null"));
  EXPECT_TRUE(Logged(dev, "PS null"));
  fx->EndPass();
  fx->End();
}

TEST_F(EffectTest, SurvivesLostAndResetDevices) {
  Load(kShaded);
  EXPECT_EQ(effect_test::Live::shaders, 2);
  FLOAT scale = 5;
  ASSERT_EQ(fx->SetFloat("scale", scale), D3D_OK);
  ASSERT_EQ(fx->SetTechnique("Shaded"), D3D_OK);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  dev.SetVertexShader(nullptr);
  dev.SetPixelShader(nullptr);
  ASSERT_EQ(fx->OnLostDevice(), D3D_OK);
  EXPECT_EQ(effect_test::Live::shaders, 0);
  EXPECT_EQ(fx->End(), D3DERR_INVALIDCALL);  // losing the device ended the technique
  EXPECT_EQ(fx->Begin(nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(fx->OnResetDevice(), D3D_OK);
  EXPECT_EQ(effect_test::Live::shaders, 2);
  EXPECT_EQ(fx->GetCurrentTechnique(), fx->GetTechniqueByName("Shaded"));
  ASSERT_EQ(fx->GetFloat("scale", &scale), D3D_OK);
  EXPECT_EQ(scale, 5.f);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_NE(dev.vs, nullptr);
  fx->EndPass();
  fx->End();
  dev.SetVertexShader(nullptr);
  dev.SetPixelShader(nullptr);
  fx->Release();
  fx = nullptr;
  EXPECT_EQ(effect_test::Live::shaders, 0);
}

const char kShaderParams[] = R"(
float4 color;
int lights = 1;
float4 VS(float4 p : POSITION, uniform float n) : POSITION { return p * n + color; }
float4 PS() : COLOR { return color; }
VertexShader vsArray[3] = { compile vs_2_0 VS(1), compile vs_2_0 VS(2), NULL };
PixelShader ps = compile ps_2_0 PS();
technique T { pass P { VertexShader = (vsArray[lights]); PixelShader = <ps>; } }
technique Fixed { pass P { VertexShader = vsArray[2]; } }
)";

TEST_F(EffectTest, ShaderParametersAndArraysChosenByAParameter) {
  Load(kShaderParams);
  D3DXPARAMETER_DESC d;
  ASSERT_EQ(fx->GetParameterDesc("vsArray", &d), D3D_OK);
  EXPECT_EQ(d.Type, D3DXPT_VERTEXSHADER);
  EXPECT_EQ(d.Elements, 3u);
  IDirect3DVertexShader9 *first = nullptr, *second = nullptr, *none = nullptr;
  ASSERT_EQ(fx->GetVertexShader("vsArray[0]", &first), D3D_OK);
  ASSERT_EQ(fx->GetVertexShader("vsArray[1]", &second), D3D_OK);
  ASSERT_EQ(fx->GetVertexShader("vsArray[2]", &none), D3D_OK);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);  // one entry and profile: one shader, with other arguments
  EXPECT_EQ(none, nullptr);
  IDirect3DPixelShader9* ps = nullptr;
  ASSERT_EQ(fx->GetPixelShader("ps", &ps), D3D_OK);
  EXPECT_NE(ps, nullptr);
  EXPECT_EQ(fx->GetVertexShader("ps", &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(fx->GetVertexShader("vsArray", &none), D3DERR_INVALIDCALL);

  ASSERT_EQ(fx->SetInt("lights", 0), D3D_OK);
  D3DXPASS_DESC pd;
  ASSERT_EQ(fx->GetPassDesc(fx->GetPass("T", 0), &pd), D3D_OK);
  const UINT n = RegisterOf(pd.pVertexShaderFunction, "$n");
  ASSERT_LT(n, 250u);
  ASSERT_EQ(fx->SetInt("lights", 1), D3D_OK);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_EQ(dev.vs, second);
  EXPECT_EQ(dev.ps, ps);
  EXPECT_EQ(dev.vf[n][0], 2.f);
  ASSERT_EQ(fx->SetInt("lights", 0), D3D_OK);
  ASSERT_EQ(fx->CommitChanges(), D3D_OK);
  EXPECT_EQ(dev.vf[n][0], 1.f);
  dev.log.clear();
  ASSERT_EQ(fx->SetInt("lights", 9), D3D_OK);  // past the end: the last element
  ASSERT_EQ(fx->CommitChanges(), D3D_OK);
  EXPECT_EQ(dev.log, std::vector<std::string>{"VS null"});
  fx->EndPass();
  fx->End();
  ASSERT_EQ(fx->SetTechnique("Fixed"), D3D_OK);
  dev.log.clear();
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  EXPECT_EQ(dev.log, std::vector<std::string>{"VS null"});
  fx->EndPass();
  fx->End();
  first->Release();
  second->Release();
  ps->Release();

  Created bad =
      Create(&dev, std::string(kShaderParams) + "technique U { pass P { VertexShader = <ps>; } }");
  EXPECT_EQ(bad.hr, E_FAIL);
  EXPECT_NE(bad.messages.find("error X3000: 'VertexShader' takes"), std::string::npos)
      << bad.messages;
  bad = Create(&dev,
               "float4 VS() : POSITION { return 0; }\n"
               "VertexShader two[2] = { compile vs_2_0 VS() };\n");
  EXPECT_EQ(bad.messages, "memory(2,14): error X3017: 'two' takes 2 shaders, not 1\n");
}

TEST_F(EffectTest, ClonesCarryValuesUnlessNotCloneable) {
  Load(kParams);
  ASSERT_EQ(fx->SetFloat("f", 9), D3D_OK);
  ASSERT_EQ(fx->SetTechnique("U"), D3D_OK);
  ID3DXEffect* clone = nullptr;
  ASSERT_EQ(fx->CloneEffect(&dev, &clone), D3D_OK);
  FLOAT f = 0;
  ASSERT_EQ(clone->GetFloat("f", &f), D3D_OK);
  EXPECT_EQ(f, 9.f);
  EXPECT_EQ(clone->GetCurrentTechnique(), clone->GetTechniqueByName("U"));
  EXPECT_NE(clone->GetParameterByName(nullptr, "f"), fx->GetParameterByName(nullptr, "f"));
  EXPECT_EQ(clone->Release(), 0u);

  Created c = Create(&dev, kShaded, D3DXFX_NOT_CLONEABLE);
  ASSERT_EQ(c.hr, D3D_OK);
  EXPECT_EQ(c.fx->CloneEffect(&dev, &clone), D3DERR_INVALIDCALL);
  D3DXPASS_DESC pd;
  ASSERT_EQ(c.fx->GetPassDesc(c.fx->GetPass("Shaded", 0), &pd), D3D_OK);
  EXPECT_EQ(pd.pVertexShaderFunction, nullptr);
  EXPECT_EQ(c.fx->Release(), 0u);
}

// --- the real device -----------------------------------------------------------------------------

TEST(EffectOnDevice, FixedFunctionPassOnTheHeadlessDevice) {
  test_support::HeadlessDevice hd;
  ASSERT_TRUE(hd.Open(16, 16));
  IDirect3DDevice9* d = hd.device;
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(d->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
  Created c = Create(d, kFixed);
  ASSERT_EQ(c.hr, D3D_OK) << c.messages;
  ID3DXEffect* fx = c.fx;
  ASSERT_EQ(fx->SetTexture("diffuseMap", tex), D3D_OK);
  DWORD cull = 0, ref = 0;
  d->GetRenderState(D3DRS_CULLMODE, &cull);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(1), D3D_OK);
  DWORD now = 0;
  d->GetRenderState(D3DRS_CULLMODE, &now);
  EXPECT_EQ(now, DWORD(D3DCULL_NONE));
  fx->EndPass();
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  d->GetRenderState(D3DRS_ALPHAREF, &ref);
  EXPECT_EQ(ref, 127u);
  IDirect3DBaseTexture9* bound = nullptr;
  ASSERT_EQ(d->GetTexture(0, &bound), D3D_OK);
  EXPECT_EQ(bound, tex);
  if (bound) bound->Release();
  fx->EndPass();
  ASSERT_EQ(fx->End(), D3D_OK);
  d->GetRenderState(D3DRS_CULLMODE, &now);
  EXPECT_EQ(now, cull);
  ASSERT_EQ(d->GetTexture(0, &bound), D3D_OK);
  EXPECT_EQ(bound, nullptr);
  EXPECT_EQ(fx->Release(), 0u);
  EXPECT_EQ(tex->Release(), 0u);
  EXPECT_EQ(hd.Close(), 0u);
}

TEST(EffectOnDevice, ShadedPassDrawsWithCommittedConstants) {
  test_support::HeadlessDevice hd;
  ASSERT_TRUE(hd.Open(16, 16));
  IDirect3DDevice9* d = hd.device;
  Created c = Create(d, R"(
float4 tint = {1, 0, 0, 1};
float scale = 1;
float4 VS(float4 p : POSITION) : POSITION { return float4(p.xy * scale, p.z, 1); }
float4 PS() : COLOR { return tint; }
technique T {
  pass P {
    VertexShader = compile vs_2_0 VS();
    PixelShader = compile ps_2_0 PS();
    CullMode = None;
    ZEnable = false;
  }
}
)");
  ASSERT_EQ(c.hr, D3D_OK) << c.messages;
  ID3DXEffect* fx = c.fx;
  ASSERT_EQ(fx->ValidateTechnique("T"), D3D_OK);
  struct P {
    float x, y, z;
  } quad[4] = {{-1, 1, 0.5f}, {1, 1, 0.5f}, {-1, -1, 0.5f}, {1, -1, 0.5f}};
  ASSERT_EQ(d->SetFVF(D3DFVF_XYZ), D3D_OK);
  ASSERT_EQ(d->BeginScene(), D3D_OK);
  ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1, 0), D3D_OK);
  ASSERT_EQ(fx->Begin(nullptr, 0), D3D_OK);
  ASSERT_EQ(fx->BeginPass(0), D3D_OK);
  ASSERT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(P)), D3D_OK);
  // A half-size green quad over it, its constants committed inside the pass.
  const D3DXVECTOR4 green(0, 1, 0, 1);
  ASSERT_EQ(fx->SetVector("tint", &green), D3D_OK);
  ASSERT_EQ(fx->SetFloat("scale", 0.5f), D3D_OK);
  ASSERT_EQ(fx->CommitChanges(), D3D_OK);
  ASSERT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(P)), D3D_OK);
  fx->EndPass();
  ASSERT_EQ(fx->End(), D3D_OK);
  ASSERT_EQ(d->EndScene(), D3D_OK);
  const std::vector<uint32_t> pixels = hd.ReadBackBuffer();
  ASSERT_EQ(pixels.size(), 256u);
  EXPECT_EQ(pixels[1 * 16 + 1], 0xFF0000u);
  EXPECT_EQ(pixels[8 * 16 + 8], 0x00FF00u);
  IDirect3DVertexShader9* vs = nullptr;
  ASSERT_EQ(d->GetVertexShader(&vs), D3D_OK);
  EXPECT_EQ(vs, nullptr);  // End put back the fixed-function pipeline
  EXPECT_EQ(fx->Release(), 0u);
  EXPECT_EQ(hd.Close(), 0u);
}

}  // namespace
