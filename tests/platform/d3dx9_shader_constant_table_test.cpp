// ID3DXConstantTable over the CTAB of compiled vertex and pixel shaders, written through a device
// that records every Set*ShaderConstant call; the D3DX functions that inspect shader code.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9math.h"
#include "d3dx9shader.h"
#include "support/shader_asm.h"
#include "support/shader_fake_device.h"

using shader_test::FakeDevice;

namespace {

constexpr HRESULT kInvalidData = HRESULT(0x88760B59);

struct Compiled {
  std::vector<DWORD> code;
  ID3DXConstantTable* table = nullptr;
  std::string messages;
  ~Compiled() { SafeRelease(table); }
};

::testing::AssertionResult Compile(const std::string& src, const char* profile, Compiled* out,
                                   DWORD flags = 0, const D3DXMACRO* macros = nullptr) {
  ID3DXBuffer* shader = nullptr;
  ID3DXBuffer* errors = nullptr;
  const HRESULT hr = D3DXCompileShader(src.data(), UINT(src.size()), macros, nullptr, "main",
                                       profile, flags, &shader, &errors, &out->table);
  if (errors) {
    out->messages = static_cast<const char*>(errors->GetBufferPointer());
    errors->Release();
  }
  if (FAILED(hr)) return ::testing::AssertionFailure() << out->messages;
  const DWORD* t = static_cast<const DWORD*>(shader->GetBufferPointer());
  out->code.assign(t, t + shader->GetBufferSize() / 4);
  shader->Release();
  return ::testing::AssertionSuccess();
}

D3DXMATRIX Counting() {
  D3DXMATRIX m;
  for (int i = 0; i < 16; ++i) (&m._11)[i] = float(i + 1);  // row r, column c holds 4r + c + 1
  return m;
}

// Builds a shader whose CTAB is the given bytes.
std::vector<DWORD> WithTable(DWORD version, const std::vector<BYTE>& table) {
  std::vector<DWORD> t = {version};
  const size_t dwords = (table.size() + 3) / 4;
  t.push_back(D3DSHADER_COMMENT(DWORD(dwords + 1)));
  t.push_back(MAKEFOURCC('C', 'T', 'A', 'B'));
  std::vector<DWORD> body(dwords, 0);
  if (!table.empty()) std::memcpy(body.data(), table.data(), table.size());
  t.insert(t.end(), body.begin(), body.end());
  t.push_back(D3DPS_END());
  return t;
}

// A table with one constant, its type at 64, name at 96.
std::vector<BYTE> OneConstant(const char* name, WORD set, WORD reg, WORD count, WORD cls, WORD type,
                              WORD rows, WORD cols, WORD elements) {
  std::vector<BYTE> b(128, 0);
  D3DXSHADER_CONSTANTTABLE h = {28, 112, D3DPS_VERSION(3, 0), 1, 28, 0, 112};
  std::memcpy(&b[0], &h, sizeof h);
  D3DXSHADER_CONSTANTINFO c = {96, set, reg, count, 0, 64, 0};
  std::memcpy(&b[28], &c, sizeof c);
  D3DXSHADER_TYPEINFO ti = {cls, type, rows, cols, elements, 0, 0};
  std::memcpy(&b[64], &ti, sizeof ti);
  std::strcpy(reinterpret_cast<char*>(&b[96]), name);
  std::strcpy(reinterpret_cast<char*>(&b[112]), "t");
  return b;
}

}  // namespace

TEST(ConstantTable, SetsScalarsVectorsAndMatricesByNameInTheirPacking) {
  Compiled c;
  ASSERT_TRUE(
      Compile("float Scale; float3 Dir; float4x4 ColumnMajor; row_major float4x4 RowMajor;\n"
              "float4x3 Bone; int Count; bool Flag;\n"
              "float4 main(float4 p : POSITION) : POSITION {\n"
              "  return mul(p, ColumnMajor) + mul(p, RowMajor) + float4(mul(p, Bone), 0) * Scale +"
              " float4(Dir, Count) * Flag;\n}\n",
              "vs_3_0", &c))
      << c.messages;
  FakeDevice d;
  const D3DXMATRIX m = Counting();
  ASSERT_EQ(c.table->SetFloat(&d, "Scale", 2.5f), D3D_OK);
  const D3DXVECTOR4 v(1, 2, 3, 4);
  ASSERT_EQ(c.table->SetVector(&d, "Dir", &v), D3D_OK);
  ASSERT_EQ(c.table->SetMatrix(&d, "ColumnMajor", &m), D3D_OK);
  ASSERT_EQ(c.table->SetMatrix(&d, "RowMajor", &m), D3D_OK);
  ASSERT_EQ(c.table->SetMatrix(&d, "Bone", &m), D3D_OK);
  ASSERT_EQ(c.table->SetFloat(&d, "Count", 3.9f), D3D_OK);  // an int: truncated
  ASSERT_EQ(c.table->SetBool(&d, "Flag", 5), D3D_OK);       // a bool: 1.0
  auto reg = [&](const char* name) {
    D3DXCONSTANT_DESC desc;
    UINT n = 1;
    EXPECT_EQ(c.table->GetConstantDesc(name, &desc, &n), D3D_OK) << name;
    return desc.RegisterIndex;
  };
  const float* f = d.vf[reg("Scale")];
  EXPECT_EQ(f[0], 2.5f);
  EXPECT_EQ(f[1], 0.f);
  f = d.vf[reg("Dir")];
  EXPECT_EQ(f[0], 1.f);
  EXPECT_EQ(f[2], 3.f);
  EXPECT_EQ(f[3], 0.f);  // three columns: the rest of the register is zero
  // Column-major: register j holds column j.
  for (int j = 0; j < 4; ++j)
    for (int r = 0; r < 4; ++r) EXPECT_EQ(d.vf[reg("ColumnMajor") + j][r], float(4 * r + j + 1));
  for (int i = 0; i < 4; ++i)
    for (int col = 0; col < 4; ++col)
      EXPECT_EQ(d.vf[reg("RowMajor") + i][col], float(4 * i + col + 1));
  // float4x3, column-major: three registers of four rows.
  D3DXCONSTANT_DESC bone;
  UINT n = 1;
  ASSERT_EQ(c.table->GetConstantDesc("Bone", &bone, &n), D3D_OK);
  EXPECT_EQ(bone.Class, D3DXPC_MATRIX_COLUMNS);
  EXPECT_EQ(bone.Rows, 4u);
  EXPECT_EQ(bone.Columns, 3u);
  EXPECT_EQ(bone.RegisterCount, 3u);
  for (int j = 0; j < 3; ++j)
    for (int r = 0; r < 4; ++r) EXPECT_EQ(d.vf[bone.RegisterIndex + j][r], float(4 * r + j + 1));
  EXPECT_EQ(d.vf[reg("Count")][0], 3.f);
  EXPECT_EQ(d.vf[reg("Flag")][0], 1.f);
  // Every write went to vertex float registers, whole registers at a time.
  for (const FakeDevice::Call& call : d.calls) {
    EXPECT_EQ(call.kind, FakeDevice::kVertexF);
    EXPECT_EQ(call.f.size(), size_t(call.count) * 4);
  }
  // Transposed input swaps the meaning of rows and columns.
  ASSERT_EQ(c.table->SetMatrixTranspose(&d, "RowMajor", &m), D3D_OK);
  EXPECT_EQ(d.vf[reg("RowMajor") + 1][0], 2.f);
  // D3DX leaves constants of other classes alone for the scalar and matrix setters.
  d.calls.clear();
  EXPECT_EQ(c.table->SetFloat(&d, "Dir", 9), D3D_OK);
  EXPECT_EQ(c.table->SetMatrix(&d, "Scale", &m), D3D_OK);
  EXPECT_TRUE(d.calls.empty());
}

TEST(ConstantTable, ArraysStructsDefaultsAndHandles) {
  Compiled c;
  ASSERT_TRUE(
      Compile("struct Light { float3 dir; float4 colour; };\n"
              "Light Lights[3];\n"
              "float4 Weights[2] = { {1, 2, 3, 4}, {5, 6, 7, 8} };\n"
              "float4x4 Palette[2];\n"
              "sampler2D Tex : register(s3);\n"
              "float4 main(float2 t : TEXCOORD0) : COLOR {\n"
              "  return Lights[2].colour * Lights[1].dir.x + Weights[1] + Palette[1][2] +"
              " tex2D(Tex, t);\n}\n",
              "ps_3_0", &c))
      << c.messages;
  FakeDevice d;
  D3DXCONSTANTTABLE_DESC td;
  ASSERT_EQ(c.table->GetDesc(&td), D3D_OK);
  EXPECT_EQ(td.Version, D3DPS_VERSION(3, 0));
  EXPECT_EQ(td.Constants, 4u);
  EXPECT_NE(td.Creator, nullptr);
  EXPECT_GT(c.table->GetBufferSize(), 28u);
  EXPECT_EQ(std::memcmp(c.table->GetBufferPointer(), &c.code[3], 4), 0);
  // Handles: by index, by name, members and elements.
  D3DXHANDLE lights = c.table->GetConstantByName(nullptr, "Lights");
  ASSERT_NE(lights, nullptr);
  D3DXCONSTANT_DESC desc;
  UINT n = 1;
  ASSERT_EQ(c.table->GetConstantDesc(lights, &desc, &n), D3D_OK);
  EXPECT_STREQ(desc.Name, "Lights");
  EXPECT_EQ(desc.Class, D3DXPC_STRUCT);
  EXPECT_EQ(desc.Elements, 3u);
  EXPECT_EQ(desc.StructMembers, 2u);
  EXPECT_EQ(desc.RegisterCount, 6u);
  EXPECT_EQ(desc.Bytes, 3u * 7 * 4);
  D3DXHANDLE second = c.table->GetConstantElement(lights, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(c.table->GetConstantElement(lights, 3), nullptr);
  D3DXHANDLE colour = c.table->GetConstantByName(second, "colour");
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour, c.table->GetConstant(second, 1));
  ASSERT_EQ(c.table->GetConstantDesc(colour, &desc, &n), D3D_OK);
  EXPECT_EQ(desc.RegisterIndex, 3u);  // element 1 starts at 2, its colour follows its dir
  EXPECT_EQ(c.table->GetConstantByName(nullptr, "Lights[1].colour"), colour);
  EXPECT_EQ(c.table->GetConstantByName(nullptr, "Lights[3]"), nullptr);
  EXPECT_EQ(c.table->GetConstantByName(nullptr, "Lights.colour"), nullptr);
  EXPECT_EQ(c.table->GetConstantByName(nullptr, "Nothing"), nullptr);
  EXPECT_EQ(c.table->GetConstant(nullptr, 4), nullptr);
  // Samplers.
  EXPECT_EQ(c.table->GetSamplerIndex("Tex"), 3u);
  EXPECT_EQ(c.table->GetSamplerIndex("Weights"), UINT(-1));
  // Arrays of structs take values member by member, element by element.
  const float values[14] = {1, 2, 3, 10, 20, 30, 40, 4, 5, 6, 50, 60, 70, 80};
  ASSERT_EQ(c.table->SetFloatArray(&d, "Lights", values, 14), D3D_OK);
  EXPECT_EQ(d.pf[0][2], 3.f);
  EXPECT_EQ(d.pf[1][3], 40.f);
  EXPECT_EQ(d.pf[2][0], 4.f);
  EXPECT_EQ(d.pf[3][1], 60.f);
  // An incomplete last element is not written.
  d.calls.clear();
  const float two[2] = {7, 7};
  ASSERT_EQ(c.table->SetFloatArray(&d, "Weights", two, 2), D3D_OK);
  EXPECT_TRUE(d.calls.empty());
  // Vector and matrix arrays.
  const D3DXVECTOR4 vs[2] = {D3DXVECTOR4(1, 1, 1, 1), D3DXVECTOR4(2, 2, 2, 2)};
  ASSERT_EQ(c.table->SetVectorArray(&d, "Weights", vs, 2), D3D_OK);
  D3DXCONSTANT_DESC w;
  c.table->GetConstantDesc("Weights", &w, &n);
  EXPECT_EQ(d.pf[w.RegisterIndex + 1][3], 2.f);
  const D3DXMATRIX ms[2] = {Counting(), Counting() * 2};
  ASSERT_EQ(c.table->SetMatrixArray(&d, "Palette", ms, 2), D3D_OK);
  D3DXCONSTANT_DESC pd;
  c.table->GetConstantDesc("Palette", &pd, &n);
  EXPECT_EQ(pd.RegisterCount, 8u);
  EXPECT_EQ(d.pf[pd.RegisterIndex + 4 + 2][1], 2.f * 7);  // element 1, column 2, row 1
  const D3DXMATRIX* mp[2] = {&ms[1], &ms[0]};
  ASSERT_EQ(c.table->SetMatrixPointerArray(&d, "Palette", mp, 2), D3D_OK);
  EXPECT_EQ(d.pf[pd.RegisterIndex][0], 2.f);
  // Defaults are register data.
  ASSERT_EQ(c.table->SetDefaults(&d), D3D_OK);
  EXPECT_EQ(d.pf[w.RegisterIndex][0], 1.f);
  EXPECT_EQ(d.pf[w.RegisterIndex + 1][3], 8.f);
  // Wrong handles and arguments.
  EXPECT_EQ(c.table->SetFloat(&d, "NoSuchName", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(c.table->SetFloat(nullptr, "Weights", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(c.table->SetValue(&d, "Weights", values, 3), D3DERR_INVALIDCALL);
  EXPECT_EQ(c.table->GetConstantDesc(nullptr, &desc, &n), D3DERR_INVALIDCALL);
  EXPECT_EQ(c.table->GetDesc(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(c.table->SetDefaults(nullptr), D3DERR_INVALIDCALL);
}

TEST(ConstantTable, BoolAndIntRegisterSetsUseTheirDeviceCalls) {
  // Our compiler keeps bools and ints in float registers; tables from elsewhere may not.
  std::vector<DWORD> code =
      WithTable(D3DPS_VERSION(3, 0),
                OneConstant("On", D3DXRS_BOOL, 2, 3, D3DXPC_VECTOR, D3DXPT_BOOL, 1, 3, 1));
  ID3DXConstantTable* t = nullptr;
  ASSERT_EQ(D3DXGetShaderConstantTable(code.data(), &t), D3D_OK);
  FakeDevice d;
  const BOOL b[3] = {TRUE, FALSE, 7};
  ASSERT_EQ(t->SetBoolArray(&d, "On", b, 3), D3D_OK);
  ASSERT_EQ(d.calls.size(), 3u);
  EXPECT_EQ(d.calls[0].kind, FakeDevice::kPixelB);
  EXPECT_EQ(d.pb[2], TRUE);
  EXPECT_EQ(d.pb[3], FALSE);
  EXPECT_EQ(d.pb[4], TRUE);
  t->Release();
  code = WithTable(D3DVS_VERSION(3, 0),
                   OneConstant("Loops", D3DXRS_INT4, 5, 1, D3DXPC_SCALAR, D3DXPT_INT, 1, 1, 1));
  ASSERT_EQ(D3DXGetShaderConstantTable(code.data(), &t), D3D_OK);
  ASSERT_EQ(t->SetInt(&d, "Loops", 9), D3D_OK);
  ASSERT_EQ(d.calls.back().kind, FakeDevice::kVertexI);
  EXPECT_EQ(d.vi[5][0], 9);
  EXPECT_EQ(d.vi[5][2], 1);  // an unset loop step reads 1
  ASSERT_EQ(t->SetFloat(&d, "Loops", -2.7f), D3D_OK);
  EXPECT_EQ(d.vi[5][0], -2);
  t->Release();
}

TEST(ConstantTable, MalformedTablesAreRefused) {
  ID3DXConstantTable* t = nullptr;
  EXPECT_EQ(D3DXGetShaderConstantTable(nullptr, &t), D3DERR_INVALIDCALL);
  const DWORD none[] = {D3DPS_VERSION(2, 0), D3DPS_END()};
  EXPECT_EQ(D3DXGetShaderConstantTable(none, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXGetShaderConstantTable(none, &t), kInvalidData);
  EXPECT_EQ(t, nullptr);
  const std::vector<BYTE> good =
      OneConstant("X", D3DXRS_FLOAT4, 0, 1, D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4, 1);
  ASSERT_EQ(D3DXGetShaderConstantTable(WithTable(D3DPS_VERSION(3, 0), good).data(), &t), D3D_OK);
  t->Release();
  // Every truncation of the table, and damage to each offset and count.
  for (size_t n = 0; n < 96; n += 4) {
    std::vector<BYTE> cut(good.begin(), good.begin() + long(n));
    t = nullptr;
    EXPECT_EQ(D3DXGetShaderConstantTable(WithTable(D3DPS_VERSION(3, 0), cut).data(), &t),
              kInvalidData)
        << n;
    EXPECT_EQ(t, nullptr);
  }
  struct Damage {
    size_t at;
    DWORD value;
    const char* what;
  };
  const Damage damage[] = {
      {0, 4, "header size"},
      {4, 5000, "creator offset"},
      {12, 70000, "constant count"},
      {16, 126, "constant array"},
      {28, 127, "name unterminated"},
      {28 + 4, D3DXRS_SAMPLER + 1, "register set"},
      {28 + 12, 200, "type offset"},
      {64, 9, "class"},
      {64 + 4, 5, "rows"},
      {64 + 8, 0, "no elements"},
      {64 + 8 + 2, 1, "members without a struct"},
  };
  for (const Damage& dmg : damage) {
    std::vector<BYTE> bad = good;
    if (dmg.at == 64 + 4 || dmg.at == 64 + 8 || dmg.at == 64 + 8 + 2 || dmg.at == 28 + 4) {
      const WORD w = WORD(dmg.value);
      std::memcpy(&bad[dmg.at], &w, 2);
    } else {
      std::memcpy(&bad[dmg.at], &dmg.value, 4);
    }
    if (dmg.at == 28) std::memset(&bad[96], 'x', 32);  // no terminator anywhere
    t = nullptr;
    EXPECT_EQ(D3DXGetShaderConstantTable(WithTable(D3DPS_VERSION(3, 0), bad).data(), &t),
              kInvalidData)
        << dmg.what;
    EXPECT_EQ(t, nullptr);
  }
  // A struct whose member is itself: recursion is bounded.
  std::vector<BYTE> loop = good;
  D3DXSHADER_TYPEINFO ti = {D3DXPC_STRUCT, D3DXPT_VOID, 1, 1, 1, 1, 80};
  std::memcpy(&loop[64], &ti, sizeof ti);
  D3DXSHADER_STRUCTMEMBERINFO self = {96, 64};
  std::memcpy(&loop[80], &self, sizeof self);
  EXPECT_EQ(D3DXGetShaderConstantTable(WithTable(D3DPS_VERSION(3, 0), loop).data(), &t),
            kInvalidData);
}

TEST(ShaderFunctions, VersionSizeSemanticsFilesMacrosAndPacking) {
  Compiled c;
  ASSERT_TRUE(Compile(
      "struct O { float4 p : POSITION; float2 t : TEXCOORD3; float f : FOG; };\n"
      "O main(float4 p : POSITION, float3 n : NORMAL1) { O o; o.p = p; o.t = n.xy; o.f = n.z;"
      " return o; }\n",
      "vs_3_0", &c));
  EXPECT_EQ(D3DXGetShaderVersion(c.code.data()), D3DVS_VERSION(3, 0));
  EXPECT_EQ(D3DXGetShaderVersion(nullptr), 0u);
  const DWORD junk[] = {0x12345678};
  EXPECT_EQ(D3DXGetShaderVersion(junk), 0u);
  EXPECT_EQ(D3DXGetShaderSize(c.code.data()), c.code.size() * 4);
  D3DXSEMANTIC sem[MAXD3DDECLLENGTH];
  UINT count = 0;
  ASSERT_EQ(D3DXGetShaderInputSemantics(c.code.data(), sem, &count), D3D_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(sem[1].Usage, UINT(D3DDECLUSAGE_NORMAL));
  EXPECT_EQ(sem[1].UsageIndex, 1u);
  ASSERT_EQ(D3DXGetShaderOutputSemantics(c.code.data(), nullptr, &count), D3D_OK);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(D3DXGetShaderOutputSemantics(c.code.data(), sem, &count), D3D_OK);
  EXPECT_EQ(sem[1].Usage, UINT(D3DDECLUSAGE_TEXCOORD));
  EXPECT_EQ(sem[1].UsageIndex, 3u);
  EXPECT_EQ(sem[2].Usage, UINT(D3DDECLUSAGE_FOG));
  EXPECT_EQ(D3DXGetShaderInputSemantics(junk, sem, &count), kInvalidData);

  // Macros and the packing flag.
  const D3DXMACRO macros[] = {{"SCALE", "3"}, {"ROWS", nullptr}, {nullptr, nullptr}};
  Compiled m;
  ASSERT_TRUE(
      Compile("float4x4 M;\nfloat4 main(float4 p : POSITION) : POSITION {\n"
              "#ifdef ROWS\n return mul(p, M) * SCALE;\n#else\n return 0;\n#endif\n}\n",
              "vs_2_0", &m, D3DXSHADER_PACKMATRIX_ROWMAJOR, macros))
      << m.messages;
  D3DXCONSTANT_DESC desc;
  UINT n = 1;
  ASSERT_EQ(m.table->GetConstantDesc("M", &desc, &n), D3D_OK);
  EXPECT_EQ(desc.Class, D3DXPC_MATRIX_ROWS);

  // From a file: the messages name it.
  const std::string path = ::testing::TempDir() + "shader_functions_test.fx";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("float4 main(float4 p : POSITION) : POSITION {\n  return q;\n}\n", f);
  std::fclose(f);
  ID3DXBuffer* shader = nullptr;
  ID3DXBuffer* errors = nullptr;
  EXPECT_EQ(D3DXCompileShaderFromFileA(path.c_str(), nullptr, nullptr, "main", "vs_2_0", 0, &shader,
                                       &errors, nullptr),
            E_FAIL);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(errors->GetBufferPointer())),
            path + "(2,10): error X3004: undeclared identifier 'q'\n");
  errors->Release();
  EXPECT_EQ(shader, nullptr);
  EXPECT_EQ(D3DXCompileShaderFromFileA((path + ".missing").c_str(), nullptr, nullptr, "main",
                                       "vs_2_0", 0, &shader, &errors, nullptr),
            E_FAIL);
  ASSERT_NE(errors, nullptr);
  EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("error X1507"),
            std::string::npos);
  errors->Release();
  std::remove(path.c_str());
}
