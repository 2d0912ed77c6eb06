// The .x file reader and its loaders: the document tree in every encoding (text, binary with 32-
// and 64-bit floats, MSZip in one block and in many), what the standard templates become (split
// vertices, materials, effect instances, adjacency, skin information, animation), meshes merged
// through their frames, hierarchies built through an allocator, and malformed files — truncated
// at every length, wrong counts, indices out of range, loops, deep nesting, absurd sizes, failing
// allocators — refused with nothing left behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "d3dx9_test_support.h"
#include "platform/d3dx9/xfile/xfile_document.h"
#include "platform/d3dx9/xfile/xfile_scene.h"
#include "xfile_test_support.h"

namespace {

using xfile_test::CountingAllocator;

const std::string& Bar() {
  static const std::string text = xfile_test::ReadData("skinned_bar.x");
  return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A mesh of a grid of quads, big enough that its binary form spans several MSZip blocks.
std::string GridFile(int side) {
  std::string s = "xof 0303txt 0032\nMesh Grid {\n" + std::to_string(side * side) + ";\n";
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      s += std::to_string(x) + ".5; " + std::to_string(y) + ".25; 0.0;" +
           (x == side - 1 && y == side - 1 ? ";\n" : ",\n");
  s += std::to_string((side - 1) * (side - 1)) + ";\n";
  for (int y = 0; y + 1 < side; ++y)
    for (int x = 0; x + 1 < side; ++x) {
      const int v = y * side + x;
      s += "4; " + std::to_string(v) + ", " + std::to_string(v + side) + ", " +
           std::to_string(v + side + 1) + ", " + std::to_string(v + 1) +
           (x == side - 2 && y == side - 2 ? ";;\n" : ";,\n");
    }
  return s + "}\n";
}

xfile::Document Parse(const std::string& file, HRESULT expected = D3D_OK) {
  xfile::Document doc;
  std::string why;
  EXPECT_EQ(xfile::ParseDocument(file.data(), file.size(), &doc, &why), expected) << why;
  return doc;
}

// Deep comparison of two objects' subtrees; numbers compared as the floats they load as.
void ExpectSameObject(const xfile::Document& a, uint32_t ia, const xfile::Document& b,
                      uint32_t ib) {
  const xfile::Object& x = a.objects[ia];
  const xfile::Object& y = b.objects[ib];
  ASSERT_EQ(x.templateName, y.templateName);
  ASSERT_EQ(x.name, y.name);
  ASSERT_EQ(x.hasUuid, y.hasUuid);
  ASSERT_EQ(x.values.size(), y.values.size()) << x.templateName << " " << x.name;
  for (size_t i = 0; i < x.values.size(); ++i) {
    ASSERT_EQ(x.values[i].string >= 0, y.values[i].string >= 0);
    if (x.values[i].string >= 0)
      EXPECT_EQ(a.strings[x.values[i].string], b.strings[y.values[i].string]);
    else
      EXPECT_EQ(float(x.values[i].number), float(y.values[i].number)) << x.templateName << i;
  }
  ASSERT_EQ(x.children.size(), y.children.size());
  for (size_t i = 0; i < x.children.size(); ++i) {
    ASSERT_EQ(x.children[i].reference, y.children[i].reference);
    if (x.children[i].reference)
      EXPECT_EQ(a.objects[x.children[i].object].name, b.objects[y.children[i].object].name);
    else
      ExpectSameObject(a, x.children[i].object, b, y.children[i].object);
  }
}

void ExpectSameDocument(const xfile::Document& a, const xfile::Document& b) {
  ASSERT_EQ(a.topLevel.size(), b.topLevel.size());
  for (size_t i = 0; i < a.topLevel.size(); ++i)
    ExpectSameObject(a, a.topLevel[i], b, b.topLevel[i]);
}

TEST(XFileDocument, KeepsObjectsValuesAndResolvedReferencesAndSkipsTemplates) {
  const xfile::Document doc = Parse(Bar());
  std::vector<std::string> top;
  for (uint32_t i : doc.topLevel) top.push_back(doc.objects[i].templateName);
  EXPECT_EQ(top, (std::vector<std::string>{"Header", "TrailNote", "Frame", "Material",
                                           "AnimTicksPerSecond", "AnimationSet"}));
  const xfile::Object& header = doc.objects[doc.topLevel[0]];
  ASSERT_EQ(header.values.size(), 3u);
  EXPECT_EQ(header.values[2].number, 1.0);
  const xfile::Object& note = doc.objects[doc.topLevel[1]];
  ASSERT_EQ(note.values.size(), 2u);
  EXPECT_EQ(doc.strings[note.values[1].string], "not geometry");

  // Root > Bar > MeshMaterialList > { Blue } names the top-level material, defined later.
  const xfile::Object& root = doc.objects[doc.topLevel[2]];
  EXPECT_EQ(root.name, "Root");
  const xfile::Object& bar = doc.objects[root.children[1].object];
  EXPECT_EQ(bar.templateName, "Mesh");
  const xfile::Object* list = nullptr;
  for (const xfile::Child& c : bar.children)
    if (doc.objects[c.object].templateName == "MeshMaterialList") list = &doc.objects[c.object];
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->children.size(), 2u);
  EXPECT_FALSE(list->children[0].reference);
  EXPECT_TRUE(list->children[1].reference);
  EXPECT_EQ(list->children[1].object, doc.topLevel[3]);
  const xfile::Object& blue = doc.objects[doc.topLevel[3]];
  EXPECT_TRUE(blue.hasUuid);
  EXPECT_EQ(blue.uuid.Data1, 0x6C1E3A5Du);
  EXPECT_EQ(blue.uuid.Data4[7], 0x6E);

  // A reference by UUID alone finds the object that carries it.
  const xfile::Document byUuid =
      Parse(Replaced(Bar(), "{ Blue }", "{ <6C1E3A5D-2B4F-4A7C-8E9D-1F2A3B4C5D6E> }"));
  ExpectSameDocument(doc, byUuid);
}

TEST(XFileDocument, BinaryAndCompressedEncodingsReadAsTheText) {
  const xfile::Document text = Parse(Bar());
  const std::string bin32 = xfile_test::ToBinary(Bar(), 32);
  const std::string bin64 = xfile_test::ToBinary(Bar(), 64);
  ASSERT_EQ(bin32.substr(0, 16), "xof 0303bin 0032");
  for (const std::string& file :
       {bin32, bin64, xfile_test::Compress(Bar()), xfile_test::Compress(bin32),
        xfile_test::Compress(bin64), xfile_test::Compress(bin32, 300)}) {
    SCOPED_TRACE(file.substr(0, 16));
    const xfile::Document other = Parse(file);
    ExpectSameDocument(text, other);
  }
  // 64-bit floats keep what 32-bit ones round away.
  const xfile::Document wide = Parse(bin64);
  const xfile::Object& anim = wide.objects[wide.topLevel[5]];
  const xfile::Object& key = wide.objects[wide.objects[anim.children[0].object].children[1].object];
  EXPECT_EQ(key.values.back().number, 0.70710678);

  // A body of several full blocks, each inflated with the blocks before it as its dictionary.
  const std::string grid = xfile_test::ToBinary(GridFile(60));
  ASSERT_GT(grid.size(), 3u * 0x8000);
  ExpectSameDocument(Parse(grid), Parse(xfile_test::Compress(grid)));
  ExpectSameDocument(Parse(GridFile(60)), Parse(xfile_test::Compress(GridFile(60))));
}

TEST(XFileDocument, RefusesBrokenHeadersTokensStructureAndCompression) {
  const std::string head = "xof 0303txt 0032\n";
  std::string deep = head;
  for (int i = 0; i < 200; ++i) deep += "Frame {";
  for (int i = 0; i < 200; ++i) deep += "}";
  const std::vector<std::string> broken = {
      "",
      "xof 0303txt 003",
      "xof 0303txt 0016\nHeader { 1; 0; 1; }",
      "xof 0303zip 0032\n",
      "xofx0303txt 0032\n",
      "xof 03a3txt 0032\n",
      head + "Header { 1; 0; 1;",
      head + "Header 1; 0; 1; }",
      head + "template T { <3D82AB43-62DA-11cf-AB39-0020AF71E433> DWORD x;",
      head + "template { DWORD x; }",
      head + "TextureFilename { \"open string; }",
      head + "Frame A { <3D82AB43-62DA-11cf> }",
      head + "Frame A { { Nowhere } }",
      head + "Frame A { { } }",
      head + "Frame A { { A B } }",
      head + "}",
      head + "Frame A { $ }",
      head + "Frame A { [ }",
      deep,
  };
  for (const std::string& file : broken) {
    SCOPED_TRACE(file.substr(0, 60));
    Parse(file, D3DXERR_INVALIDDATA);
  }

  // Binary: a list that runs past the end, an unknown token, a name longer than the file.
  std::string bin = "xof 0303bin 0032";
  const auto word = [](std::string* s, uint16_t v) { s->append(reinterpret_cast<char*>(&v), 2); };
  const auto dword = [](std::string* s, uint32_t v) { s->append(reinterpret_cast<char*>(&v), 4); };
  std::string list = bin;
  word(&list, 1), dword(&list, 6), list += "Header", word(&list, 10), word(&list, 6);
  dword(&list, 0x40000000), dword(&list, 1);
  Parse(list, D3DXERR_INVALIDDATA);
  std::string unknown = bin;
  word(&unknown, 0x99);
  Parse(unknown, D3DXERR_INVALIDDATA);
  std::string name = bin;
  word(&name, 1), dword(&name, 0xFFFFFFF0u), name += "abc";
  Parse(name, D3DXERR_INVALIDDATA);

  // Compressed: the blocks must be signed, sized as they say and add up to the stated size.
  const std::string good = xfile_test::Compress(Bar());
  Parse(good);
  std::string unsigned_ = good;
  unsigned_[24] = 'X';
  Parse(unsigned_, D3DXERR_INVALIDDATA);
  std::string bigger = good;
  bigger[16] = char(bigger[16] + 1);
  Parse(bigger, D3DXERR_INVALIDDATA);
  std::string tooSmall = good;
  std::memset(&tooSmall[16], 0, 4);
  Parse(tooSmall, D3DXERR_INVALIDDATA);
  std::string emptyBlock = good;
  emptyBlock[20] = emptyBlock[21] = 0;
  Parse(emptyBlock, D3DXERR_INVALIDDATA);
  std::string corrupt = good;
  for (size_t i = 26; i < 40; ++i) corrupt[i] = char(0xFF);
  Parse(corrupt, D3DXERR_INVALIDDATA);
  std::string huge = good;
  const uint32_t enormous = 0xF0000000u;
  std::memcpy(&huge[16], &enormous, 4);
  Parse(huge, D3DXERR_INVALIDDATA);
}

// A prefix of a file may only load when it ends between top-level objects, and then it holds
// exactly the objects before the cut; a compressed file states its size, so no prefix loads.
TEST(XFileDocument, TruncationFailsUnlessItFallsBetweenTopLevelObjects) {
  const std::string bin = xfile_test::ToBinary(Bar());
  for (const std::string& file : {Bar(), bin}) {
    const xfile::Document full = Parse(file);
    size_t loaded = 0;
    for (size_t n = 0; n < file.size(); ++n) {
      xfile::Document doc;
      xfile::Scene scene;
      if (FAILED(xfile::ParseDocument(file.data(), n, &doc))) {
        EXPECT_TRUE(doc.objects.empty());
        continue;
      }
      ++loaded;
      ASSERT_LE(doc.topLevel.size(), full.topLevel.size()) << n;
      for (size_t i = 0; i < doc.topLevel.size(); ++i)
        ExpectSameObject(full, full.topLevel[i], doc, doc.topLevel[i]);
      EXPECT_TRUE(SUCCEEDED(xfile::BuildScene(doc, &scene))) << n;
    }
    EXPECT_GT(loaded, 0u);
    EXPECT_LT(loaded, file.size() / 4);
  }
  const std::string packed = xfile_test::Compress(bin, 500);
  for (size_t n = 0; n < packed.size(); ++n) {
    xfile::Document doc;
    EXPECT_EQ(xfile::ParseDocument(packed.data(), n, &doc), D3DXERR_INVALIDDATA) << n;
  }
}

// --- On a device ---------------------------------------------------------------------------------

class XFileTest : public d3dx_test::DeviceTest {
 protected:
  struct Vertex {
    D3DXVECTOR3 position;
    D3DXVECTOR3 normal;
    D3DCOLOR colour;
    float u, v;
  };

  struct Loaded {
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* adjacency = nullptr;
    ID3DXBuffer* materials = nullptr;
    ID3DXBuffer* effects = nullptr;
    DWORD numMaterials = 0;
    void Release() {
      SafeRelease(mesh);
      SafeRelease(adjacency);
      SafeRelease(materials);
      SafeRelease(effects);
    }
  };

  HRESULT Load(const std::string& file, Loaded* out, DWORD options = D3DXMESH_MANAGED) {
    return D3DXLoadMeshFromXInMemory(file.data(), DWORD(file.size()), options, device_,
                                     &out->adjacency, &out->materials, &out->effects,
                                     &out->numMaterials, &out->mesh);
  }

  template <class T>
  static std::vector<T> Vertices(ID3DXBaseMesh* mesh) {
    std::vector<T> out(mesh->GetNumVertices());
    void* data = nullptr;
    EXPECT_EQ(mesh->GetNumBytesPerVertex(), sizeof(T));
    if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) return {};
    std::memcpy(out.data(), data, out.size() * sizeof(T));
    mesh->UnlockVertexBuffer();
    return out;
  }

  static std::vector<DWORD> Indices(ID3DXBaseMesh* mesh) {
    std::vector<DWORD> out(mesh->GetNumFaces() * 3);
    void* data = nullptr;
    if (FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data))) return {};
    for (size_t i = 0; i < out.size(); ++i)
      out[i] = (mesh->GetOptions() & D3DXMESH_32BIT) ? static_cast<DWORD*>(data)[i]
                                                     : static_cast<WORD*>(data)[i];
    mesh->UnlockIndexBuffer();
    return out;
  }

  static std::vector<DWORD> Attributes(ID3DXMesh* mesh) {
    DWORD* data = nullptr;
    if (FAILED(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &data))) return {};
    std::vector<DWORD> out(data, data + mesh->GetNumFaces());
    mesh->UnlockAttributeBuffer();
    return out;
  }

  static std::vector<D3DXATTRIBUTERANGE> Table(ID3DXMesh* mesh) {
    DWORD n = 0;
    mesh->GetAttributeTable(nullptr, &n);
    std::vector<D3DXATTRIBUTERANGE> out(n);
    if (n) mesh->GetAttributeTable(out.data(), &n);
    return out;
  }

  HRESULT LoadHierarchy(const std::string& file, CountingAllocator* alloc, D3DXFRAME** root,
                        ID3DXAnimationController** controller) {
    return D3DXLoadMeshHierarchyFromXInMemory(file.data(), DWORD(file.size()), D3DXMESH_MANAGED,
                                              device_, alloc, nullptr, root, controller);
  }
};

bool Near(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float eps = 1e-4f) {
  return std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps && std::fabs(a.z - b.z) <= eps;
}

TEST_F(XFileTest, BarLoadsWithSplitNormalsSortedMaterialsEffectsAndClosedAdjacency) {
  Loaded bar;
  ASSERT_EQ(Load(Bar(), &bar), D3D_OK);
  ID3DXMesh* mesh = bar.mesh;
  EXPECT_EQ(mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1));
  // 12 positions: the middle ring meets two side normals, the end rings three.
  EXPECT_EQ(mesh->GetNumVertices(), 4u * 2 + 8u * 3);
  EXPECT_EQ(mesh->GetNumFaces(), 20u);

  const std::vector<Vertex> v = Vertices<Vertex>(mesh);
  const std::vector<DWORD> idx = Indices(mesh);
  const std::vector<D3DXVECTOR3> normals = {{0, 0, -1}, {1, 0, 0},  {0, 0, 1},
                                            {-1, 0, 0}, {0, -1, 0}, {0, 1, 0}};
  std::set<std::pair<int, int>> pairs;  // (file position, normal) of every vertex
  for (const Vertex& x : v) {
    const int ring = int(std::lround(x.position.y / 2));
    const int corner = x.position.z < 0 ? (x.position.x < 0 ? 0 : 1) : (x.position.x > 0 ? 2 : 3);
    int n = 0;
    while (n < 6 && !Near(x.normal, normals[n])) ++n;
    ASSERT_LT(n, 6) << "normal not from the file, normalised";
    pairs.emplace(ring * 4 + corner, n);
    EXPECT_FLOAT_EQ(x.u, corner * 0.25f);
    EXPECT_FLOAT_EQ(x.v, ring * 0.5f);
    const D3DCOLOR expected = ring * 4 + corner == 0
                                  ? 0xFFFF0000u
                                  : (ring * 4 + corner == 11 ? 0x8000FF00u : 0x00FFFFFFu);
    EXPECT_EQ(x.colour, expected);
  }
  EXPECT_EQ(pairs.size(), v.size()) << "a vertex copied for a normal it already had";
  for (DWORD f = 0; f < 20; ++f) {
    EXPECT_TRUE(Near(v[idx[3 * f]].normal, v[idx[3 * f + 1]].normal) &&
                Near(v[idx[3 * f]].normal, v[idx[3 * f + 2]].normal))
        << "face " << f << " mixes normals";
  }

  // The caps (material 1) come first and last in the file; sorted, the sides lead.
  const std::vector<DWORD> attributes = Attributes(mesh);
  EXPECT_EQ(std::count(attributes.begin(), attributes.begin() + 16, 0u), 16);
  EXPECT_EQ(std::count(attributes.begin() + 16, attributes.end(), 1u), 4);
  const std::vector<D3DXATTRIBUTERANGE> table = Table(mesh);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].AttribId, 0u);
  EXPECT_EQ(table[0].FaceCount, 16u);
  EXPECT_EQ(table[1].FaceStart, 16u);
  for (DWORD f = 16; f < 20; ++f) EXPECT_NEAR(std::fabs(v[idx[3 * f]].normal.y), 1.0f, 1e-6f);

  ASSERT_EQ(bar.numMaterials, 2u);
  ASSERT_NE(bar.materials, nullptr);
  const auto* m = static_cast<const D3DXMATERIAL*>(bar.materials->GetBufferPointer());
  EXPECT_EQ(m[0].MatD3D.Diffuse.r, 1.0f);
  EXPECT_EQ(m[0].MatD3D.Power, 8.0f);
  EXPECT_EQ(m[0].MatD3D.Specular.g, 0.5f);
  EXPECT_EQ(m[0].MatD3D.Specular.a, 1.0f);
  EXPECT_EQ(m[0].MatD3D.Emissive.b, 0.25f);
  EXPECT_EQ(m[0].MatD3D.Ambient.a, 1.0f);
  ASSERT_NE(m[0].pTextureFilename, nullptr);
  EXPECT_STREQ(m[0].pTextureFilename, "bar.png");
  const auto* bytes = static_cast<const char*>(bar.materials->GetBufferPointer());
  EXPECT_GE(m[0].pTextureFilename, bytes);
  EXPECT_LT(m[0].pTextureFilename, bytes + bar.materials->GetBufferSize());
  EXPECT_EQ(m[1].MatD3D.Diffuse.b, 1.0f);
  EXPECT_EQ(m[1].pTextureFilename, nullptr);

  ASSERT_NE(bar.effects, nullptr);
  const auto* e = static_cast<const D3DXEFFECTINSTANCE*>(bar.effects->GetBufferPointer());
  EXPECT_EQ(e[0].pEffectFilename, nullptr);
  ASSERT_EQ(e[0].NumDefaults, 6u);
  EXPECT_EQ(e[1].NumDefaults, 5u);
  EXPECT_STREQ(e[0].pDefaults[0].pParamName, "Diffuse");
  EXPECT_EQ(e[0].pDefaults[0].Type, D3DXEDT_FLOATS);
  EXPECT_EQ(e[0].pDefaults[0].NumBytes, 16u);
  EXPECT_EQ(static_cast<const float*>(e[0].pDefaults[0].pValue)[0], 1.0f);
  EXPECT_STREQ(e[0].pDefaults[1].pParamName, "Power");
  EXPECT_EQ(*static_cast<const float*>(e[0].pDefaults[1].pValue), 8.0f);
  EXPECT_STREQ(e[0].pDefaults[5].pParamName, "Texture0@Name");
  EXPECT_EQ(e[0].pDefaults[5].Type, D3DXEDT_STRING);
  EXPECT_STREQ(static_cast<const char*>(e[0].pDefaults[5].pValue), "bar.png");

  // A closed box: every edge has a neighbour, through the copies that normals split off.
  ASSERT_NE(bar.adjacency, nullptr);
  ASSERT_EQ(bar.adjacency->GetBufferSize(), 20u * 3 * 4);
  const auto* adj = static_cast<const DWORD*>(bar.adjacency->GetBufferPointer());
  for (DWORD f = 0; f < 20; ++f)
    for (int k = 0; k < 3; ++k) {
      const DWORD n = adj[3 * f + k];
      ASSERT_LT(n, 20u) << "face " << f << " edge " << k;
      EXPECT_TRUE(adj[3 * n] == f || adj[3 * n + 1] == f || adj[3 * n + 2] == f);
    }
  bar.Release();
}

// What a hierarchy load gives, reduced to what can be compared across encodings.
struct HierarchySummary {
  std::vector<std::string> frames;  // names, depth first
  std::vector<float> matrices;
  std::vector<DWORD> influences;  // per bone of the one skinned container
  std::vector<float> weights;
  DWORD vertices = 0;
  double period = 0;
  bool operator==(const HierarchySummary&) const = default;
};

TEST_F(XFileTest, EveryEncodingLoadsTheSameMeshAndHierarchy) {
  const auto summarise = [&](const std::string& file) {
    HierarchySummary s;
    CountingAllocator alloc;
    D3DXFRAME* root = nullptr;
    ID3DXAnimationController* ac = nullptr;
    EXPECT_EQ(LoadHierarchy(file, &alloc, &root, &ac), D3D_OK);
    if (!root) return s;
    std::vector<D3DXFRAME*> stack{root};
    while (!stack.empty()) {
      D3DXFRAME* f = stack.back();
      stack.pop_back();
      s.frames.emplace_back(f->Name ? f->Name : "(null)");
      s.matrices.insert(s.matrices.end(), &f->TransformationMatrix._11,
                        &f->TransformationMatrix._11 + 16);
      if (f->pFrameSibling) stack.push_back(f->pFrameSibling);
      if (f->pFrameFirstChild) stack.push_back(f->pFrameFirstChild);
      if (D3DXMESHCONTAINER* c = f->pMeshContainer) {
        s.vertices = c->MeshData.pMesh->GetNumVertices();
        for (DWORD b = 0; c->pSkinInfo && b < c->pSkinInfo->GetNumBones(); ++b) {
          const DWORD n = c->pSkinInfo->GetNumBoneInfluences(b);
          std::vector<DWORD> v(n);
          std::vector<float> w(n);
          c->pSkinInfo->GetBoneInfluence(b, v.data(), w.data());
          s.influences.insert(s.influences.end(), v.begin(), v.end());
          s.weights.insert(s.weights.end(), w.begin(), w.end());
        }
      }
    }
    ID3DXAnimationSet* set = nullptr;
    if (ac && SUCCEEDED(ac->GetAnimationSet(0, &set))) {
      s.period = set->GetPeriod();
      set->Release();
    }
    SafeRelease(ac);
    D3DXFrameDestroy(root, &alloc);
    return s;
  };
  const HierarchySummary textHierarchy = summarise(Bar());
  EXPECT_EQ(textHierarchy.frames, (std::vector<std::string>{"Root", "Bone0", "Bone1"}));
  EXPECT_EQ(textHierarchy.vertices, 32u);

  Loaded text;
  ASSERT_EQ(Load(Bar(), &text), D3D_OK);
  const std::string bin32 = xfile_test::ToBinary(Bar(), 32);
  for (const std::string& file : {bin32, xfile_test::ToBinary(Bar(), 64),
                                  xfile_test::Compress(Bar()), xfile_test::Compress(bin32, 700)}) {
    SCOPED_TRACE(file.substr(0, 16));
    Loaded other;
    ASSERT_EQ(Load(file, &other), D3D_OK);
    EXPECT_EQ(Vertices<Vertex>(other.mesh).size(), Vertices<Vertex>(text.mesh).size());
    const std::vector<Vertex> a = Vertices<Vertex>(text.mesh), b = Vertices<Vertex>(other.mesh);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(Vertex)), 0);
    EXPECT_EQ(Indices(text.mesh), Indices(other.mesh));
    EXPECT_EQ(Attributes(text.mesh), Attributes(other.mesh));
    ASSERT_EQ(other.numMaterials, text.numMaterials);
    EXPECT_EQ(std::memcmp(other.materials->GetBufferPointer(), text.materials->GetBufferPointer(),
                          sizeof(D3DMATERIAL9)),
              0);
    other.Release();
    EXPECT_TRUE(summarise(file) == textHierarchy);
  }
  // The grid's compressed binary spans several blocks and still gives the same mesh.
  Loaded grid, packed;
  const std::string gridBin = xfile_test::ToBinary(GridFile(60));
  ASSERT_EQ(Load(GridFile(60), &grid, D3DXMESH_SYSTEMMEM), D3D_OK);
  ASSERT_EQ(Load(xfile_test::Compress(gridBin), &packed, D3DXMESH_SYSTEMMEM), D3D_OK);
  EXPECT_EQ(grid.mesh->GetNumFaces(), 2u * 59 * 59);
  EXPECT_EQ(grid.numMaterials, 0u);
  EXPECT_EQ(grid.materials, nullptr);
  EXPECT_EQ(Indices(grid.mesh), Indices(packed.mesh));
  grid.Release();
  packed.Release();
  text.Release();
}

// Meshes anywhere in the frames become one: positions through the frames' matrices (child after
// parent), normals through the inverse transposes, materials after each other, with a white one
// for a mesh that has none.
TEST_F(XFileTest, MergedMeshesArePlacedByTheirFrames) {
  const std::string file = R"(xof 0303txt 0032
Frame Outer {
 FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 10.0,0.0,0.0,1.0;; }
 Frame Inner {
  FrameTransformMatrix { 2.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }
  Mesh Slanted {
   3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;;
   1; 3; 0,1,2;;
   MeshNormals { 1; 1.0;1.0;0.0;; 1; 3; 0,0,0;; }
   MeshMaterialList { 1; 1; 0;; Material { 0.0;1.0;0.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; } }
  }
 }
}
Mesh Loose {
 3; 5.0;5.0;5.0;, 6.0;5.0;5.0;, 5.0;6.0;5.0;;
 1; 3; 0,1,2;;
}
)";
  Loaded merged;
  ASSERT_EQ(Load(file, &merged), D3D_OK);
  EXPECT_EQ(merged.mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL));
  struct PN {
    D3DXVECTOR3 p, n;
  };
  const std::vector<PN> v = Vertices<PN>(merged.mesh);
  ASSERT_EQ(v.size(), 6u);
  EXPECT_TRUE(Near(v[1].p, D3DXVECTOR3(12, 0, 0)));  // (1, 0, 0) scaled by 2, moved by 10
  EXPECT_TRUE(Near(v[2].p, D3DXVECTOR3(10, 1, 0)));
  // (1, 1, 0) under a scale of 2 in x leans towards y: (0.5, 1, 0) normalised.
  EXPECT_TRUE(Near(v[0].n, D3DXVECTOR3(0.5f, 1.0f, 0.0f) / std::sqrt(1.25f)));
  EXPECT_TRUE(Near(v[3].p, D3DXVECTOR3(5, 5, 5)));
  EXPECT_TRUE(Near(v[3].n, D3DXVECTOR3(0, 0, 0)));
  ASSERT_EQ(merged.numMaterials, 2u);
  const auto* m = static_cast<const D3DXMATERIAL*>(merged.materials->GetBufferPointer());
  EXPECT_EQ(m[0].MatD3D.Diffuse.g, 1.0f);
  EXPECT_EQ(m[1].MatD3D.Diffuse.r, 1.0f);
  EXPECT_EQ(Attributes(merged.mesh), (std::vector<DWORD>{0, 1}));
  merged.Release();
}

// A material's EffectInstance names the effect file and adds its parameters after the
// material's own defaults; a reference by UUID shares one material between meshes.
TEST_F(XFileTest, EffectInstancesCarryTheirFileAndParameters) {
  const std::string file = R"(xof 0303txt 0032
Material Shared {
 <11223344-5566-7788-99AA-BBCCDDEEFF00>
 0.5; 0.5; 0.5; 1.0;; 4.0; 1.0; 1.0; 1.0;; 0.0; 0.0; 0.0;;
 EffectInstance {
  "lit.fx";
  EffectParamFloats { "Tint"; 3; 1.0, 0.5, 0.25; }
  EffectParamDWord { "Passes"; 2; }
  EffectParamString { "Mode"; "soft"; }
  EffectParamFloats { "None"; 0; }
 }
}
Mesh Quad {
 4; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.0;, 0.0;1.0;0.0;;
 1; 4; 0,3,2,1;;
 MeshMaterialList { 1; 1; 0;; { <11223344-5566-7788-99AA-BBCCDDEEFF00> } }
}
)";
  Loaded quad;
  ASSERT_EQ(Load(file, &quad), D3D_OK);
  EXPECT_EQ(quad.mesh->GetNumFaces(), 2u);
  ASSERT_EQ(quad.numMaterials, 1u);
  const auto* e = static_cast<const D3DXEFFECTINSTANCE*>(quad.effects->GetBufferPointer());
  ASSERT_NE(e->pEffectFilename, nullptr);
  EXPECT_STREQ(e->pEffectFilename, "lit.fx");
  ASSERT_EQ(e->NumDefaults, 9u);
  const D3DXEFFECTDEFAULT* d = e->pDefaults;
  EXPECT_STREQ(d[4].pParamName, "Ambient");
  EXPECT_STREQ(d[5].pParamName, "Tint");
  EXPECT_EQ(d[5].Type, D3DXEDT_FLOATS);
  ASSERT_EQ(d[5].NumBytes, 12u);
  EXPECT_EQ(static_cast<const float*>(d[5].pValue)[2], 0.25f);
  EXPECT_EQ(d[6].Type, D3DXEDT_DWORD);
  EXPECT_EQ(*static_cast<const DWORD*>(d[6].pValue), 2u);
  EXPECT_EQ(d[7].Type, D3DXEDT_STRING);
  EXPECT_STREQ(static_cast<const char*>(d[7].pValue), "soft");
  EXPECT_EQ(d[8].NumBytes, 0u);
  quad.Release();

  Loaded broken;
  EXPECT_EQ(Load(Replaced(file, "\"Tint\"; 3;", "\"Tint\"; 4;"), &broken), D3DXERR_INVALIDDATA);
  EXPECT_EQ(Load(Replaced(file, "{ \"Passes\"; 2; }", "{ \"Passes\"; 2.5; }"), &broken),
            D3DXERR_INVALIDDATA);
}

TEST_F(XFileTest, HierarchyHasFramesSkinInformationAndAnAnimationThatBendsTheBar) {
  CountingAllocator alloc;
  D3DXFRAME* root = nullptr;
  ID3DXAnimationController* ac = nullptr;
  ASSERT_EQ(LoadHierarchy(Bar(), &alloc, &root, &ac), D3D_OK);
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(root->Name, "Root");
  EXPECT_EQ(root->pFrameSibling, nullptr);
  D3DXFRAME* bone0 = D3DXFrameFind(root, "Bone0");
  D3DXFRAME* bone1 = D3DXFrameFind(root, "Bone1");
  ASSERT_NE(bone0, nullptr);
  ASSERT_EQ(bone0->pFrameFirstChild, bone1);
  EXPECT_EQ(bone1->TransformationMatrix._42, 2.0f);
  EXPECT_EQ(alloc.liveFrames, 3);
  EXPECT_EQ(alloc.liveContainers, 1);

  D3DXMESHCONTAINER* c = root->pMeshContainer;
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->Name, "Bar");
  EXPECT_EQ(c->pNextMeshContainer, nullptr);
  ASSERT_EQ(c->NumMaterials, 2u);
  EXPECT_STREQ(c->pMaterials[0].pTextureFilename, "bar.png");
  ID3DXMesh* mesh = c->MeshData.pMesh;
  ID3DXSkinInfo* skin = c->pSkinInfo;
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(skin->GetFVF(), mesh->GetFVF());
  ASSERT_EQ(skin->GetNumBones(), 2u);
  EXPECT_STREQ(skin->GetBoneName(0), "Bone0");
  EXPECT_STREQ(skin->GetBoneName(1), "Bone1");
  EXPECT_EQ(skin->GetBoneOffsetMatrix(1)->_42, -2.0f);
  // Every copy of a file vertex keeps its weights: 12 + 8 vertices for each bone.
  ASSERT_EQ(skin->GetNumBoneInfluences(0), 20u);
  ASSERT_EQ(skin->GetNumBoneInfluences(1), 20u);
  DWORD maxInfluences = 0;
  EXPECT_EQ(skin->GetMaxVertexInfluences(&maxInfluences), D3D_OK);
  EXPECT_EQ(maxInfluences, 2u);

  // Half a second into the one-second animation: Bone1 turned 45 degrees about z at (0, 2, 0),
  // Bone0 halfway along its matrix keys to (1, 0, 0).
  ASSERT_NE(ac, nullptr);
  ASSERT_EQ(ac->GetNumAnimationSets(), 1u);
  ID3DXAnimationSet* set = nullptr;
  ASSERT_EQ(ac->GetTrackAnimationSet(0, &set), D3D_OK);
  ASSERT_NE(set, nullptr);
  EXPECT_STREQ(set->GetName(), "Bend");
  EXPECT_DOUBLE_EQ(set->GetPeriod(), 1.0);
  set->Release();
  ASSERT_EQ(ac->AdvanceTime(0.5, nullptr), D3D_OK);
  const float h = std::sqrt(0.5f);
  EXPECT_NEAR(bone1->TransformationMatrix._11, h, 1e-5f);
  EXPECT_NEAR(bone1->TransformationMatrix._12, h, 1e-5f);
  EXPECT_NEAR(bone1->TransformationMatrix._42, 2.0f, 1e-5f);
  EXPECT_NEAR(bone0->TransformationMatrix._41, 0.5f, 1e-5f);
  EXPECT_EQ(root->TransformationMatrix._41, 0.0f) << "no animation moves the root";

  // Skin with offset * combined: file vertex 9, (0.5, 4, -0.5), follows Bone1 alone.
  const D3DXMATRIX world0 = bone0->TransformationMatrix * root->TransformationMatrix;
  const D3DXMATRIX world1 = bone1->TransformationMatrix * world0;
  const D3DXMATRIX bones[2] = {*skin->GetBoneOffsetMatrix(0) * world0,
                               *skin->GetBoneOffsetMatrix(1) * world1};
  std::vector<Vertex> src = Vertices<Vertex>(mesh), dst(src.size());
  ASSERT_EQ(skin->UpdateSkinnedMesh(bones, nullptr, src.data(), dst.data()), D3D_OK);
  int checked = 0;
  for (size_t i = 0; i < src.size(); ++i)
    if (Near(src[i].position, D3DXVECTOR3(0.5f, 4.0f, -0.5f))) {
      EXPECT_TRUE(Near(dst[i].position, D3DXVECTOR3(0.5f - 1.5f * h, 2.0f + 2.5f * h, -0.5f)))
          << dst[i].position.x << " " << dst[i].position.y;
      ++checked;
    }
  EXPECT_EQ(checked, 3);

  D3DXVECTOR3 centre;
  float radius = 0;
  ASSERT_EQ(D3DXFrameCalculateBoundingSphere(root, &centre, &radius), D3D_OK);
  EXPECT_TRUE(Near(centre, D3DXVECTOR3(0, 2, 0)));  // 12 copies per end ring, 8 in the middle
  EXPECT_NEAR(radius, std::sqrt(4.5f), 1e-5f);

  ac->Release();
  EXPECT_EQ(D3DXFrameDestroy(root, &alloc), D3D_OK);
  EXPECT_EQ(alloc.liveFrames, 0);
  EXPECT_EQ(alloc.liveContainers, 0);
}

// Scale, position and matrix keys (the matrix split into scale, rotation and translation); an
// animation without keys of a kind holds its frame's own value; every set is registered.
TEST_F(XFileTest, AnimationKeysOfEveryKindBecomeKeyframedSets) {
  const std::string file = R"(xof 0303txt 0032
AnimTicksPerSecond { 30; }
Frame Arm {
 Frame Hand {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,3.0,0.0,1.0;; }
 }
}
AnimationSet Wave {
 Animation { { Hand } AnimationKey { 1; 2; 0; 3; 1.0,1.0,1.0;;, 30; 3; 2.0,1.0,1.0;;; } }
 Animation {
  { Arm }
  AnimationKey { 3; 1; 15; 16; 0.0,1.0,0.0,0.0, -1.0,0.0,0.0,0.0, 0.0,0.0,1.0,0.0, 1.0,2.0,3.0,1.0;;; }
  AnimationOptions { 0; 1; }
 }
}
AnimationSet Rest { Animation { { Hand } AnimationKey { 2; 1; 0; 3; 0.0,1.0,0.0;;; } } }
)";
  CountingAllocator alloc;
  D3DXFRAME* root = nullptr;
  ID3DXAnimationController* ac = nullptr;
  ASSERT_EQ(LoadHierarchy(file, &alloc, &root, &ac), D3D_OK);
  ASSERT_NE(ac, nullptr);
  EXPECT_EQ(ac->GetNumAnimationSets(), 2u);
  EXPECT_EQ(ac->GetMaxNumAnimationOutputs(), 2u);
  ID3DXAnimationSet* rest = nullptr;
  ASSERT_EQ(ac->GetAnimationSetByName("Rest", &rest), D3D_OK);
  rest->Release();
  ID3DXAnimationSet* set = nullptr;
  ASSERT_EQ(ac->GetTrackAnimationSet(0, &set), D3D_OK);
  ID3DXKeyframedAnimationSet* wave = nullptr;
  ASSERT_EQ(set->QueryInterface(IID_ID3DXKeyframedAnimationSet, reinterpret_cast<void**>(&wave)),
            D3D_OK);
  set->Release();
  EXPECT_STREQ(wave->GetName(), "Wave");
  EXPECT_EQ(wave->GetSourceTicksPerSecond(), 30.0);
  EXPECT_EQ(wave->GetPlaybackType(), D3DXPLAY_LOOP);
  UINT hand = 9, arm = 9;
  ASSERT_EQ(wave->GetAnimationIndexByName("Hand", &hand), D3D_OK);
  ASSERT_EQ(wave->GetAnimationIndexByName("Arm", &arm), D3D_OK);
  ASSERT_EQ(wave->GetNumScaleKeys(hand), 2u);
  D3DXKEY_VECTOR3 keys[2];
  wave->GetScaleKeys(hand, keys);
  EXPECT_EQ(keys[1].Time, 30.0f);
  EXPECT_EQ(keys[1].Value.x, 2.0f);
  ASSERT_EQ(wave->GetNumTranslationKeys(hand), 1u);
  wave->GetTranslationKeys(hand, keys);
  EXPECT_EQ(keys[0].Value.y, 3.0f) << "held from the frame";
  ASSERT_EQ(wave->GetNumRotationKeys(arm), 1u);
  D3DXKEY_QUATERNION q;
  wave->GetRotationKey(arm, 0, &q);
  EXPECT_EQ(q.Time, 15.0f);
  EXPECT_NEAR(std::fabs(q.Value.z), std::sqrt(0.5f), 1e-5f);  // a quarter turn about z
  EXPECT_NEAR(std::fabs(q.Value.w), std::sqrt(0.5f), 1e-5f);
  wave->GetTranslationKey(arm, 0, keys);
  EXPECT_TRUE(Near(keys[0].Value, D3DXVECTOR3(1, 2, 3)));
  wave->Release();

  ASSERT_EQ(ac->AdvanceTime(0.5, nullptr), D3D_OK);
  const D3DXFRAME* handFrame = D3DXFrameFind(root, "Hand");
  EXPECT_NEAR(handFrame->TransformationMatrix._11, 1.5f, 1e-5f);
  EXPECT_NEAR(handFrame->TransformationMatrix._42, 3.0f, 1e-5f);
  EXPECT_NEAR(root->TransformationMatrix._12, 1.0f, 1e-5f);
  EXPECT_NEAR(root->TransformationMatrix._43, 3.0f, 1e-5f);
  ac->Release();
  EXPECT_EQ(D3DXFrameDestroy(root, &alloc), D3D_OK);
  EXPECT_EQ(alloc.liveFrames, 0);
}

TEST_F(XFileTest, SeveralTopLevelObjectsGetARootAndAnimationIsOptional) {
  const std::string file = R"(xof 0303txt 0032
Mesh Lone { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3; 0,1,2;; }
Frame Second { }
)";
  CountingAllocator alloc;
  D3DXFRAME* root = nullptr;
  ID3DXAnimationController* ac = reinterpret_cast<ID3DXAnimationController*>(1);
  ASSERT_EQ(LoadHierarchy(file, &alloc, &root, &ac), D3D_OK);
  EXPECT_EQ(ac, nullptr) << "no animation sets, no controller";
  EXPECT_EQ(root->Name, nullptr);
  ASSERT_NE(root->pFrameFirstChild, nullptr);
  EXPECT_EQ(root->pFrameFirstChild->Name, nullptr);  // the frame made for the loose mesh
  ASSERT_NE(root->pFrameFirstChild->pMeshContainer, nullptr);
  EXPECT_EQ(root->pFrameFirstChild->pMeshContainer->pSkinInfo, nullptr);
  EXPECT_EQ(root->pFrameFirstChild->pMeshContainer->NumMaterials, 0u);
  EXPECT_STREQ(root->pFrameFirstChild->pFrameSibling->Name, "Second");
  EXPECT_EQ(alloc.liveFrames, 3);
  EXPECT_EQ(D3DXFrameDestroy(root, &alloc), D3D_OK);
  EXPECT_EQ(alloc.liveFrames + alloc.liveContainers, 0);

  // A file of frames and no meshes loads as frames; one with neither fails.
  ASSERT_EQ(LoadHierarchy("xof 0303txt 0032\nFrame Only { }\n", &alloc, &root, nullptr), D3D_OK);
  EXPECT_EQ(D3DXFrameDestroy(root, &alloc), D3D_OK);
  EXPECT_EQ(LoadHierarchy("xof 0303txt 0032\nHeader { 1; 0; 1; }\n", &alloc, &root, nullptr),
            E_FAIL);
  Loaded none;
  EXPECT_EQ(Load("xof 0303txt 0032\nFrame Only { }\n", &none), E_FAIL);
  EXPECT_EQ(none.mesh, nullptr);
}

TEST_F(XFileTest, MalformedFilesAreRefusedAndLeaveNothingBehind) {
  std::string deep = "xof 0303txt 0032\n";
  for (int i = 0; i < 150; ++i) deep += "Frame F" + std::to_string(i) + " {\n";
  for (int i = 0; i < 150; ++i) deep += "}\n";
  // Each reference doubles the frames below it: far more than a file may unfold to.
  std::string doubling = "xof 0303txt 0032\nFrame L0 { }\n";
  for (int i = 1; i < 40; ++i)
    doubling += "Frame L" + std::to_string(i) + " { { L" + std::to_string(i - 1) + " } { L" +
                std::to_string(i - 1) + " } }\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"vertex count", Replaced(Bar(), "12;\n  -0.5", "13;\n  -0.5")},
      {"absurd vertex count", Replaced(Bar(), "12;\n  -0.5", "4000000000;\n  -0.5")},
      {"face index", Replaced(Bar(), "4; 11, 10, 9, 8;;", "4; 11, 10, 9, 12;;")},
      {"two-sided face", Replaced(Bar(), "4; 11, 10, 9, 8;;", "2; 11, 10;;")},
      {"normal faces", Replaced(Bar(), "10;\n   4; 4, 4", "9;\n   4; 4, 4")},
      {"normal index", Replaced(Bar(), "4; 5, 5, 5, 5;;", "4; 5, 5, 5, 6;;")},
      {"normal face size", Replaced(Bar(), "4; 5, 5, 5, 5;;", "3; 5, 5, 5;;")},
      {"texture coordinates",
       Replaced(Bar(), "MeshTextureCoords {\n   12;", "MeshTextureCoords {\n   11;")},
      {"colour vertex", Replaced(Bar(), "11; 0.0; 1.0;", "12; 0.0; 1.0;")},
      {"material index", Replaced(Bar(), "0, 0, 0, 1;;", "0, 0, 0, 2;;")},
      {"material count", Replaced(Bar(), "MeshMaterialList {\n   2;", "MeshMaterialList {\n   3;")},
      {"material face count", Replaced(Bar(), "   2;\n   10;\n   1, 0", "   2;\n   11;\n   1, 0")},
      {"material values", Replaced(Bar(), "    8.0;\n", "    8.0; 9.0;\n")},
      {"skin vertex", Replaced(Bar(), "8, 9, 10, 11;\n   0.5", "8, 9, 10, 12;\n   0.5")},
      {"bone count", Replaced(Bar(), "XSkinMeshHeader {\n   2;\n   2;\n   2;",
                              "XSkinMeshHeader {\n   2;\n   2;\n   3;")},
      {"weights before header", Replaced(Bar(), "XSkinMeshHeader", "Unread")},
      {"missing reference", Replaced(Bar(), "{ Blue }", "{ Green }")},
      {"reference loop", Replaced(Bar(), "Frame Bone1 {", "Frame Bone1 {\n { Root }")},
      {"key size", Replaced(Bar(), "100; 3; 0.0, 2.0, 0.0;;;", "100; 2; 0.0, 2.0;;;")},
      {"key type", Replaced(Bar(), "AnimationKey {\n   2;", "AnimationKey {\n   7;")},
      {"ticks", Replaced(Bar(), "AnimTicksPerSecond {\n 100;", "AnimTicksPerSecond {\n 0;")},
      {"matrix", Replaced(Bar(), "0.0, 2.0, 0.0, 1.0;;\n   }", "0.0, 2.0, 0.0;;\n   }")},
      {"negative count", Replaced(Bar(), "12;\n  -0.5", "-12;\n  -0.5")},
      {"fractional count", Replaced(Bar(), "12;\n  -0.5", "12.5;\n  -0.5")},
      {"deep nesting", deep},
      {"doubling references", doubling},
  };
  for (const auto& [what, file] : cases) {
    SCOPED_TRACE(what);
    Loaded loaded;
    EXPECT_EQ(Load(file, &loaded), D3DXERR_INVALIDDATA);
    EXPECT_EQ(loaded.mesh, nullptr);
    EXPECT_EQ(loaded.materials, nullptr);
    CountingAllocator alloc;
    D3DXFRAME* root = reinterpret_cast<D3DXFRAME*>(1);
    ID3DXAnimationController* ac = nullptr;
    EXPECT_EQ(LoadHierarchy(file, &alloc, &root, &ac), D3DXERR_INVALIDDATA);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(ac, nullptr);
    EXPECT_EQ(alloc.liveFrames + alloc.liveContainers, 0);
  }
}

// Any prefix of the binary file either fails with nothing made or loads whole objects; the
// allocator ends with nothing alive and the device with nothing holding it (TearDown checks).
TEST_F(XFileTest, EveryTruncationOfABinaryFileLoadsCleanlyOrFails) {
  const std::string bin = xfile_test::ToBinary(Bar());
  int loaded = 0;
  for (size_t n = 1; n < bin.size(); ++n) {
    CountingAllocator alloc;
    D3DXFRAME* root = nullptr;
    ID3DXAnimationController* ac = nullptr;
    const HRESULT hr = LoadHierarchy(bin.substr(0, n), &alloc, &root, &ac);
    if (SUCCEEDED(hr)) {
      ++loaded;
      ASSERT_NE(root, nullptr);
      SafeRelease(ac);
      EXPECT_EQ(D3DXFrameDestroy(root, &alloc), D3D_OK);
    } else {
      EXPECT_TRUE(hr == D3DXERR_INVALIDDATA || hr == E_FAIL) << n;
      EXPECT_EQ(root, nullptr);
    }
    ASSERT_EQ(alloc.liveFrames + alloc.liveContainers, 0) << n;
  }
  EXPECT_GT(loaded, 0);
}

TEST_F(XFileTest, AllocatorFailuresUnwindWhatWasBuilt) {
  for (int n = 0; n < 4; ++n) {
    SCOPED_TRACE(n);
    CountingAllocator alloc;
    alloc.FailFrameAt(n);
    D3DXFRAME* root = nullptr;
    ID3DXAnimationController* ac = nullptr;
    EXPECT_EQ(LoadHierarchy(Bar(), &alloc, &root, &ac), n < 3 ? E_OUTOFMEMORY : D3D_OK);
    if (root) {
      SafeRelease(ac);
      D3DXFrameDestroy(root, &alloc);
    }
    EXPECT_EQ(alloc.liveFrames + alloc.liveContainers, 0);
  }
  CountingAllocator alloc;
  alloc.FailContainerAt(0);
  D3DXFRAME* root = nullptr;
  EXPECT_EQ(LoadHierarchy(Bar(), &alloc, &root, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(root, nullptr);
  EXPECT_EQ(alloc.liveFrames + alloc.liveContainers, 0);
}

TEST_F(XFileTest, FilesLoadByNameAndBadArgumentsAreRefused) {
  ID3DXMesh* mesh = nullptr;
  DWORD materials = 0;
  ASSERT_EQ(D3DXLoadMeshFromXA(xfile_test::DataPath("skinned_bar.x").c_str(), D3DXMESH_MANAGED,
                               device_, nullptr, nullptr, nullptr, &materials, &mesh),
            D3D_OK);
  EXPECT_EQ(mesh->GetNumFaces(), 20u);
  EXPECT_EQ(materials, 2u);
  mesh->Release();
  mesh = reinterpret_cast<ID3DXMesh*>(1);
  EXPECT_EQ(D3DXLoadMeshFromXA(xfile_test::DataPath("no_such_file.x").c_str(), 0, device_, nullptr,
                               nullptr, nullptr, nullptr, &mesh),
            D3DXERR_INVALIDDATA);
  EXPECT_EQ(mesh, nullptr);

  CountingAllocator alloc;
  D3DXFRAME* root = nullptr;
  ASSERT_EQ(
      D3DXLoadMeshHierarchyFromXA(xfile_test::DataPath("skinned_bar.x").c_str(), D3DXMESH_SYSTEMMEM,
                                  device_, &alloc, nullptr, &root, nullptr),
      D3D_OK);
  EXPECT_EQ(D3DXFrameDestroy(root, &alloc), D3D_OK);
  EXPECT_EQ(alloc.liveFrames + alloc.liveContainers, 0);

  const std::string& bar = Bar();
  EXPECT_EQ(
      D3DXLoadMeshFromXInMemory(nullptr, 10, 0, device_, nullptr, nullptr, nullptr, nullptr, &mesh),
      D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXLoadMeshFromXInMemory(bar.data(), DWORD(bar.size()), 0, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, &mesh),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXLoadMeshFromXInMemory(bar.data(), DWORD(bar.size()), 0, device_, nullptr, nullptr,
                                      nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXLoadMeshFromXInMemory(bar.data(), DWORD(bar.size()), 0xFFFFFFFF, device_, nullptr,
                                      nullptr, nullptr, nullptr, &mesh),
            D3DERR_INVALIDCALL)
      << "options the mesh refuses";
  EXPECT_EQ(D3DXLoadMeshHierarchyFromXInMemory(bar.data(), DWORD(bar.size()), 0, device_, nullptr,
                                               nullptr, &root, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXLoadMeshHierarchyFromXInMemory(bar.data(), DWORD(bar.size()), 0, device_, &alloc,
                                               nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
}

}  // namespace
