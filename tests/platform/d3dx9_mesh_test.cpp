// ID3DXMesh on the real device: creation and what it refuses, subsets drawn (checked by pixels),
// the attribute sort, clones between layouts and index sizes, adjacency and point
// representatives, locks and the attribute table; the FVF and declaration helpers; and the matrix
// decomposition that frame hierarchies use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/win32/com_object.h"
#include "d3dx9_test_support.h"

namespace {

using d3dx_test::DeviceTest;
using d3dx_test::FindInk;

constexpr DWORD kNone = 0xFFFFFFFF;

struct ColourVertex {
  float x, y, z;
  D3DCOLOR colour;
};
constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

struct FullVertex {
  float x, y, z, nx, ny, nz;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kFullFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

template <class T>
std::vector<T> Vertices(ID3DXBaseMesh* mesh) {
  std::vector<T> out(mesh->GetNumVertices());
  void* data = nullptr;
  EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
  if (!data) return {};
  std::memcpy(out.data(), data, out.size() * sizeof(T));
  mesh->UnlockVertexBuffer();
  return out;
}

std::vector<DWORD> Indices(ID3DXBaseMesh* mesh) {
  std::vector<DWORD> out(mesh->GetNumFaces() * 3);
  void* data = nullptr;
  EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
  if (!data) return {};
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = (mesh->GetOptions() & D3DXMESH_32BIT) ? static_cast<DWORD*>(data)[i]
                                                   : static_cast<WORD*>(data)[i];
  mesh->UnlockIndexBuffer();
  return out;
}

std::vector<DWORD> Attributes(ID3DXMesh* mesh) {
  DWORD* data = nullptr;
  EXPECT_EQ(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &data), D3D_OK);
  if (!data) return {};
  std::vector<DWORD> out(data, data + mesh->GetNumFaces());
  mesh->UnlockAttributeBuffer();
  return out;
}

std::vector<D3DXATTRIBUTERANGE> Table(ID3DXMesh* mesh) {
  DWORD n = 0;
  EXPECT_EQ(mesh->GetAttributeTable(nullptr, &n), D3D_OK);
  std::vector<D3DXATTRIBUTERANGE> out(n);
  if (n) {
    EXPECT_EQ(mesh->GetAttributeTable(out.data(), &n), D3D_OK);
  }
  return out;
}

template <class T>
void Fill(ID3DXMesh* mesh, const std::vector<T>& vertices, const std::vector<DWORD>& indices,
          const std::vector<DWORD>& attributes) {
  void* data = nullptr;
  ASSERT_EQ(mesh->LockVertexBuffer(0, &data), D3D_OK);
  std::memcpy(data, vertices.data(), vertices.size() * sizeof(T));
  mesh->UnlockVertexBuffer();
  ASSERT_EQ(mesh->LockIndexBuffer(0, &data), D3D_OK);
  for (size_t i = 0; i < indices.size(); ++i) {
    if (mesh->GetOptions() & D3DXMESH_32BIT)
      static_cast<DWORD*>(data)[i] = indices[i];
    else
      static_cast<WORD*>(data)[i] = static_cast<WORD>(indices[i]);
  }
  mesh->UnlockIndexBuffer();
  DWORD* attr = nullptr;
  ASSERT_EQ(mesh->LockAttributeBuffer(0, &attr), D3D_OK);
  std::copy(attributes.begin(), attributes.end(), attr);
  mesh->UnlockAttributeBuffer();
}

bool SamePosition(const float* a, const float* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

class MeshTest : public DeviceTest {
 protected:
  void TearDown() override {
    for (ID3DXMesh* mesh : meshes_) EXPECT_EQ(mesh->Release(), 0u) << "a mesh reference leaked";
    meshes_.clear();
    DeviceTest::TearDown();
  }

  // A mesh released (and checked for leaked references) at the end of the test.
  ID3DXMesh* Make(DWORD faces, DWORD vertices, DWORD options, DWORD fvf) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(faces, vertices, options, fvf, device_, &mesh), D3D_OK);
    return Keep(mesh);
  }
  ID3DXMesh* Keep(ID3DXMesh* mesh) {
    if (mesh) meshes_.push_back(mesh);
    return mesh;
  }

  // A 4 x 4 grid of vertices in the z = 0 plane, 18 faces with mixed attributes, and one vertex
  // no face uses.
  ID3DXMesh* MakeGrid() {
    ID3DXMesh* mesh = Make(18, 17, D3DXMESH_MANAGED, kColourFvf);
    if (!mesh) return nullptr;
    std::vector<ColourVertex> vertices;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        vertices.push_back({float(x), float(y), 0.0f, D3DCOLOR(0xFF000000 | (y * 4 + x))});
    vertices.push_back({9, 9, 9, 0xFFFFFFFF});
    std::vector<DWORD> indices;
    for (DWORD y = 0; y < 3; ++y)
      for (DWORD x = 0; x < 3; ++x) {
        const DWORD a = y * 4 + x;
        indices.insert(indices.end(), {a, a + 1, a + 5, a, a + 5, a + 4});
      }
    Fill(mesh, vertices, indices, kGridAttributes);
    return mesh;
  }
  const std::vector<DWORD> kGridAttributes = {2, 0, 1, 2, 0, 0, 1, 2, 1, 0, 2, 1, 1, 0, 2, 2, 0, 1};

  std::vector<ID3DXMesh*> meshes_;
};

TEST_F(MeshTest, CreationReportsItsLayoutAndRefusesBadArgumentsWithoutLeaking) {
  ID3DXMesh* mesh = Make(2, 4, D3DXMESH_MANAGED, kFullFvf);
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->GetNumFaces(), 2u);
  EXPECT_EQ(mesh->GetNumVertices(), 4u);
  EXPECT_EQ(mesh->GetFVF(), kFullFvf);
  EXPECT_EQ(mesh->GetNumBytesPerVertex(), sizeof(FullVertex));
  EXPECT_EQ(mesh->GetOptions(), DWORD{D3DXMESH_MANAGED});
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE], expected[MAX_FVF_DECL_SIZE];
  ASSERT_EQ(mesh->GetDeclaration(decl), D3D_OK);
  ASSERT_EQ(D3DXDeclaratorFromFVF(kFullFvf, expected), D3D_OK);
  EXPECT_EQ(std::memcmp(decl, expected, 5 * sizeof(D3DVERTEXELEMENT9)), 0);
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
  ASSERT_EQ(mesh->GetVertexBuffer(&vb), D3D_OK);
  ASSERT_EQ(mesh->GetIndexBuffer(&ib), D3D_OK);
  D3DVERTEXBUFFER_DESC vd;
  D3DINDEXBUFFER_DESC id;
  vb->GetDesc(&vd);
  ib->GetDesc(&id);
  EXPECT_EQ(vd.Pool, D3DPOOL_MANAGED);
  EXPECT_EQ(vd.Size, 4 * sizeof(FullVertex));
  EXPECT_EQ(id.Format, D3DFMT_INDEX16);
  EXPECT_EQ(id.Size, 2u * 3 * 2);
  vb->Release();
  ib->Release();
  void* face = nullptr;
  EXPECT_EQ(mesh->QueryInterface(IID_ID3DXBaseMesh, &face), S_OK);
  EXPECT_EQ(face, static_cast<void*>(mesh));
  mesh->Release();
  EXPECT_EQ(mesh->QueryInterface(IID_ID3DXBuffer, &face), E_NOINTERFACE);

  ID3DXMesh* wide = Make(1, 70000, D3DXMESH_32BIT | D3DXMESH_SYSTEMMEM, D3DFVF_XYZ);
  ASSERT_NE(wide, nullptr);
  ASSERT_EQ(wide->GetIndexBuffer(&ib), D3D_OK);
  ib->GetDesc(&id);
  ib->Release();
  EXPECT_EQ(id.Format, D3DFMT_INDEX32);
  EXPECT_EQ(id.Pool, D3DPOOL_SYSTEMMEM);

  const D3DVERTEXELEMENT9 twoStreams[] = {
      {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
      {1, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
      D3DDECL_END()};
  struct Refused {
    const char* why;
    DWORD faces, vertices, options, fvf;
  } refused[] = {
      {"no faces", 0, 3, D3DXMESH_MANAGED, D3DFVF_XYZ},
      {"no vertices", 1, 0, D3DXMESH_MANAGED, D3DFVF_XYZ},
      {"16-bit indices for 65536 vertices", 1, 65536, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ},
      {"pre-transformed vertices", 1, 3, D3DXMESH_MANAGED, D3DFVF_XYZRHW},
      {"reserved FVF bit", 1, 3, D3DXMESH_MANAGED, D3DFVF_XYZ | 0x2000},
      {"optimisation flag as an option", 1, 3, D3DXMESHOPT_ATTRSORT, D3DFVF_XYZ},
      {"dynamic managed buffers", 1, 3, D3DXMESH_MANAGED | D3DXMESH_DYNAMIC, D3DFVF_XYZ},
  };
  for (const Refused& r : refused) {
    ID3DXMesh* out = reinterpret_cast<ID3DXMesh*>(0x1);
    EXPECT_EQ(D3DXCreateMeshFVF(r.faces, r.vertices, r.options, r.fvf, device_, &out),
              D3DERR_INVALIDCALL)
        << r.why;
    EXPECT_EQ(out, nullptr) << r.why;
  }
  ID3DXMesh* out = nullptr;
  EXPECT_EQ(D3DXCreateMeshFVF(1, 3, 0, D3DFVF_XYZ, nullptr, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateMeshFVF(1, 3, 0, D3DFVF_XYZ, device_, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateMesh(1, 3, 0, twoStreams, device_, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateMesh(1, 3, 0, nullptr, device_, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(out, nullptr);
}

TEST(MeshDeclarations, FvfCodesAndDeclarationsConvertBothWays) {
  struct Case {
    DWORD fvf;
    UINT size, length;
  } cases[] = {
      {D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, 32, 3},
      {D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR, 24, 3},
      {D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL, 36, 4},
      {D3DFVF_XYZB5 | D3DFVF_LASTBETA_D3DCOLOR, 32, 3},
      {D3DFVF_XYZW | D3DFVF_PSIZE, 20, 2},
      {D3DFVF_XYZ | D3DFVF_TEX3 | D3DFVF_TEXCOORDSIZE1(0) | D3DFVF_TEXCOORDSIZE4(2), 40, 4},
      {D3DFVF_DIFFUSE, 4, 1},
  };
  for (const Case& c : cases) {
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(D3DXDeclaratorFromFVF(c.fvf, decl), D3D_OK) << std::hex << c.fvf;
    EXPECT_EQ(D3DXGetDeclLength(decl), c.length) << std::hex << c.fvf;
    EXPECT_EQ(D3DXGetDeclVertexSize(decl, 0), c.size) << std::hex << c.fvf;
    EXPECT_EQ(D3DXGetFVFVertexSize(c.fvf), c.size) << std::hex << c.fvf;
    DWORD back = 0;
    EXPECT_EQ(D3DXFVFFromDeclarator(decl, &back), D3D_OK) << std::hex << c.fvf;
    EXPECT_EQ(back, c.fvf);
  }
  // Blend weights then indices: FLOAT2 weights at 12, UBYTE4 indices at 20, the normal at 24.
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
  ASSERT_EQ(D3DXDeclaratorFromFVF(D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL, decl),
            D3D_OK);
  EXPECT_EQ(decl[1].Usage, D3DDECLUSAGE_BLENDWEIGHT);
  EXPECT_EQ(decl[1].Type, D3DDECLTYPE_FLOAT2);
  EXPECT_EQ(decl[1].Offset, 12);
  EXPECT_EQ(decl[2].Usage, D3DDECLUSAGE_BLENDINDICES);
  EXPECT_EQ(decl[2].Type, D3DDECLTYPE_UBYTE4);
  EXPECT_EQ(decl[3].Offset, 24);
  EXPECT_EQ(decl[4].Stream, 0xFF);

  for (DWORD bad : {DWORD{D3DFVF_XYZ | 0x2000}, DWORD{D3DFVF_XYZ | 0x900}, DWORD{D3DFVF_XYZB5},
                    DWORD{D3DFVF_XYZ | D3DFVF_LASTBETA_UBYTE4}})
    EXPECT_EQ(D3DXDeclaratorFromFVF(bad, decl), D3DERR_INVALIDCALL) << std::hex << bad;
  // No FVF code: elements out of the FVF order, a gap, a type FVF codes cannot name.
  const D3DVERTEXELEMENT9 normalFirst[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                           {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                           D3DDECL_END()};
  const D3DVERTEXELEMENT9 gap[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                   {0, 16, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                   D3DDECL_END()};
  const D3DVERTEXELEMENT9 halfTex[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                       {0, 12, D3DDECLTYPE_FLOAT16_2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                       D3DDECL_END()};
  for (const D3DVERTEXELEMENT9* d : {normalFirst, gap, halfTex}) {
    DWORD fvf = 123;
    EXPECT_EQ(D3DXFVFFromDeclarator(d, &fvf), D3DERR_INVALIDCALL);
    EXPECT_EQ(fvf, 0u);
  }
  EXPECT_EQ(D3DXGetDeclVertexSize(gap, 0), 28u);
  EXPECT_EQ(D3DXGetDeclVertexSize(gap, 1), 0u);
  EXPECT_EQ(D3DXGetDeclLength(nullptr), 0u);
}

TEST_F(MeshTest, DrawSubsetColoursExactlyTheFacesOfItsSubset) {
  // Four screen rectangles, two faces each, in subsets 0, 1, 0, 2.
  struct Quad {
    float x0, y0, x1, y1;
    D3DCOLOR colour;
    DWORD subset;
  } quads[] = {{10, 10, 40, 30, 0xFFFF0000, 0},
               {50, 10, 80, 30, 0xFF00FF00, 1},
               {10, 50, 40, 70, 0xFF0000FF, 0},
               {50, 50, 90, 80, 0xFFFFFF00, 2}};
  ID3DXMesh* mesh = Make(8, 16, D3DXMESH_MANAGED, kColourFvf);
  ASSERT_NE(mesh, nullptr);
  std::vector<ColourVertex> vertices;
  std::vector<DWORD> indices, attributes;
  for (const Quad& q : quads) {
    const DWORD a = static_cast<DWORD>(vertices.size());
    vertices.insert(vertices.end(), {{q.x0, q.y0, 0.5f, q.colour},
                                     {q.x1, q.y0, 0.5f, q.colour},
                                     {q.x1, q.y1, 0.5f, q.colour},
                                     {q.x0, q.y1, 0.5f, q.colour}});
    indices.insert(indices.end(), {a, a + 1, a + 2, a, a + 2, a + 3});  // clockwise on screen
    attributes.insert(attributes.end(), {q.subset, q.subset});
  }
  Fill(mesh, vertices, indices, attributes);

  // Positions are pixels: an orthographic projection of the back buffer, top row at y = 0.
  D3DXMATRIX identity, projection;
  D3DXMatrixIdentity(&identity);
  D3DXMatrixOrthoOffCenterLH(&projection, 0, float(kWidth), float(kHeight), 0, 0, 1);
  device_->SetTransform(D3DTS_WORLD, &identity);
  device_->SetTransform(D3DTS_VIEW, &identity);
  device_->SetTransform(D3DTS_PROJECTION, &projection);
  device_->SetRenderState(D3DRS_LIGHTING, FALSE);
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);

  auto check = [&](const char* stage) {
    for (DWORD subset = 0; subset < 4; ++subset) {
      Clear(0xFF000000);
      ASSERT_EQ(device_->BeginScene(), D3D_OK);
      EXPECT_EQ(mesh->DrawSubset(subset), D3D_OK) << stage;
      ASSERT_EQ(device_->EndScene(), D3D_OK);
      const auto pixels = ReadBackBuffer();
      int area = 0;
      for (const Quad& q : quads) {
        const bool drawn = q.subset == subset;
        if (drawn) area += int((q.x1 - q.x0) * (q.y1 - q.y0));
        EXPECT_EQ(At(pixels, int(q.x0 + q.x1) / 2, int(q.y0 + q.y1) / 2),
                  drawn ? (q.colour & 0xFFFFFF) : 0u)
            << stage << ", subset " << subset;
      }
      EXPECT_EQ(FindInk(pixels, kWidth, kHeight, 0).count, area) << stage << ", subset " << subset;
    }
  };
  EXPECT_TRUE(Table(mesh).empty());
  check("from the attribute buffer");
  ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr),
            D3D_OK);
  EXPECT_EQ(Table(mesh).size(), 3u);
  check("from the attribute table");
  EXPECT_EQ(mesh->DrawSubset(0), D3DERR_INVALIDCALL) << "outside a scene, as DrawIndexedPrimitive";
}

TEST_F(MeshTest, AttributeSortKeepsEveryFaceRemapsAndBuildsTheTable) {
  ID3DXMesh* mesh = MakeGrid();
  ASSERT_NE(mesh, nullptr);
  const auto oldVertices = Vertices<ColourVertex>(mesh);
  const auto oldIndices = Indices(mesh);
  std::vector<DWORD> adjacency(18 * 3), adjacencyOut(18 * 3), faceRemap(18);
  ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
  ID3DXBuffer* vertexRemap = nullptr;
  ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, adjacency.data(), adjacencyOut.data(),
                                  faceRemap.data(), &vertexRemap),
            D3D_OK);
  ASSERT_NE(vertexRemap, nullptr);

  // The unused vertex is gone; the remap names each new vertex's old one, -1 past the end.
  ASSERT_EQ(mesh->GetNumVertices(), 16u);
  ASSERT_EQ(vertexRemap->GetBufferSize(), 17u * 4);
  const auto* vremap = static_cast<const DWORD*>(vertexRemap->GetBufferPointer());
  EXPECT_EQ(vremap[16], kNone);
  const auto newVertices = Vertices<ColourVertex>(mesh);
  for (DWORD v = 0; v < 16; ++v) {
    ASSERT_LT(vremap[v], 16u);
    EXPECT_TRUE(SamePosition(&newVertices[v].x, &oldVertices[vremap[v]].x)) << v;
  }
  vertexRemap->Release();

  // Every face is still there, vertices in the same order; attributes ascend, stable.
  const auto newIndices = Indices(mesh);
  const auto attributes = Attributes(mesh);
  std::vector<bool> seen(18, false);
  for (DWORD f = 0; f < 18; ++f) {
    const DWORD old = faceRemap[f];
    ASSERT_LT(old, 18u);
    EXPECT_FALSE(seen[old]);
    seen[old] = true;
    EXPECT_EQ(attributes[f], kGridAttributes[old]);
    for (int k = 0; k < 3; ++k)
      EXPECT_TRUE(SamePosition(&newVertices[newIndices[3 * f + k]].x,
                               &oldVertices[oldIndices[3 * old + k]].x))
          << "face " << f;
    if (f > 0) {
      EXPECT_LE(attributes[f - 1], attributes[f]);
      if (attributes[f - 1] == attributes[f]) {
        EXPECT_LT(faceRemap[f - 1], faceRemap[f]);
      }
    }
  }
  // One range per attribute, covering its faces and the vertices they use.
  const auto table = Table(mesh);
  ASSERT_EQ(table.size(), 3u);
  DWORD next = 0;
  for (DWORD i = 0; i < 3; ++i) {
    const D3DXATTRIBUTERANGE& r = table[i];
    EXPECT_EQ(r.AttribId, i);
    EXPECT_EQ(r.FaceStart, next);
    EXPECT_EQ(r.FaceCount, 6u);
    next += r.FaceCount;
    for (DWORD k = 3 * r.FaceStart; k < 3 * (r.FaceStart + r.FaceCount); ++k) {
      EXPECT_GE(newIndices[k], r.VertexStart);
      EXPECT_LT(newIndices[k], r.VertexStart + r.VertexCount);
    }
  }
  // The remapped adjacency is the adjacency of the new mesh.
  std::vector<DWORD> regenerated(18 * 3);
  ASSERT_EQ(mesh->GenerateAdjacency(0.0f, regenerated.data()), D3D_OK);
  EXPECT_EQ(adjacencyOut, regenerated);
}

TEST_F(MeshTest, OptimizeRefusesBadRequestsAndChangesNothing) {
  ID3DXMesh* mesh = MakeGrid();
  ASSERT_NE(mesh, nullptr);
  std::vector<DWORD> adjacency(18 * 3), out(18 * 3);
  ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
  EXPECT_EQ(mesh->OptimizeInplace(0, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER, nullptr,
                                  nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->OptimizeInplace(DWORD{D3DXMESHOPT_ATTRSORT} | D3DXMESH_32BIT, nullptr, nullptr,
                                  nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, out.data(), nullptr, nullptr),
            D3DERR_INVALIDCALL);
  adjacency[4] = 500;  // no such face
  EXPECT_EQ(
      mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, adjacency.data(), out.data(), nullptr, nullptr),
      D3DERR_INVALIDCALL);
  // An index past the vertices cannot be renumbered: refused before anything moves.
  DWORD* attr = nullptr;
  void* data = nullptr;
  ASSERT_EQ(mesh->LockIndexBuffer(0, &data), D3D_OK);
  static_cast<WORD*>(data)[7] = 40;
  mesh->UnlockIndexBuffer();
  const auto before = Indices(mesh);
  ID3DXBuffer* remap = reinterpret_cast<ID3DXBuffer*>(0x1);
  EXPECT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, &remap),
            D3DXERR_INVALIDMESH);
  EXPECT_EQ(remap, nullptr);
  EXPECT_EQ(Indices(mesh), before);
  EXPECT_EQ(Attributes(mesh), kGridAttributes);
  EXPECT_EQ(mesh->GetNumVertices(), 17u);
  EXPECT_TRUE(Table(mesh).empty());
  // Faces only: allowed, the index is carried along untouched and no vertex moves.
  ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_IGNOREVERTS, nullptr, nullptr,
                                  nullptr, &remap),
            D3D_OK);
  EXPECT_EQ(mesh->GetNumVertices(), 17u);
  EXPECT_EQ(static_cast<DWORD*>(remap->GetBufferPointer())[16], 16u);
  remap->Release();
  const auto after = Indices(mesh);
  EXPECT_EQ(std::count(after.begin(), after.end(), 40u), 1);
  ASSERT_EQ(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attr), D3D_OK);
  EXPECT_TRUE(std::is_sorted(attr, attr + 18));
  mesh->UnlockAttributeBuffer();

  // Optimize makes a sorted copy and leaves the source alone.
  ID3DXMesh* source = MakeGrid();
  ASSERT_NE(source, nullptr);
  ID3DXMesh* copy = nullptr;
  ASSERT_EQ(source->Optimize(DWORD{D3DXMESHOPT_ATTRSORT} | D3DXMESH_SYSTEMMEM, nullptr, nullptr,
                             nullptr, nullptr, &copy),
            D3D_OK);
  Keep(copy);
  EXPECT_EQ(Attributes(source), kGridAttributes);
  EXPECT_TRUE(Table(source).empty());
  EXPECT_EQ(Table(copy).size(), 3u);
  EXPECT_EQ(copy->GetOptions(), DWORD{D3DXMESH_SYSTEMMEM});
  EXPECT_EQ(source->Optimize(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
}

TEST_F(MeshTest, ClonesConvertLayoutsAndIndexSizesAndRoundTrip) {
  ID3DXMesh* mesh = Make(2, 4, D3DXMESH_MANAGED, kFullFvf);
  ASSERT_NE(mesh, nullptr);
  const std::vector<FullVertex> vertices = {{0, 0, 0, 0, 0, -1, 0xFF336699, 0.5f, 0.25f},
                                            {1, 0, 0, 0, 0, -1, 0x80FF0000, 1, 0.25f},
                                            {1, 1, 0, 0, 0, -1, 0xFF00FF00, 1, 1},
                                            {0, 1, 0, 0, 0, -1, 0x00000000, 0.5f, 1}};
  Fill(mesh, vertices, {0, 1, 2, 0, 2, 3}, {7, 9});
  const D3DXATTRIBUTERANGE ranges[] = {{7, 0, 1, 0, 3}, {9, 1, 1, 0, 4}};
  ASSERT_EQ(mesh->SetAttributeTable(ranges, 2), D3D_OK);

  // Fewer elements, 32-bit indices: positions and texture coordinates carried, specular zero.
  struct Thin {
    float x, y, z;
    D3DCOLOR specular;
    float u, v;
  };
  ID3DXMesh* thin = nullptr;
  ASSERT_EQ(mesh->CloneMeshFVF(D3DXMESH_32BIT | D3DXMESH_SYSTEMMEM,
                               D3DFVF_XYZ | D3DFVF_SPECULAR | D3DFVF_TEX1, device_, &thin),
            D3D_OK);
  Keep(thin);
  EXPECT_EQ(thin->GetNumBytesPerVertex(), sizeof(Thin));
  EXPECT_EQ(Indices(thin), Indices(mesh));
  EXPECT_EQ(Attributes(thin), (std::vector<DWORD>{7, 9}));
  EXPECT_EQ(Table(thin).size(), 2u);
  const auto thinVertices = Vertices<Thin>(thin);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(SamePosition(&thinVertices[i].x, &vertices[i].x));
    EXPECT_EQ(thinVertices[i].specular, 0u);
    EXPECT_EQ(thinVertices[i].u, vertices[i].u);
    EXPECT_EQ(thinVertices[i].v, vertices[i].v);
  }
  // Back to the full layout with 16-bit indices: what the thin one lacked reads zero.
  ID3DXMesh* full = nullptr;
  ASSERT_EQ(thin->CloneMeshFVF(D3DXMESH_MANAGED, kFullFvf, device_, &full), D3D_OK);
  Keep(full);
  EXPECT_EQ(Indices(full), Indices(mesh));
  const auto fullVertices = Vertices<FullVertex>(full);
  EXPECT_EQ(fullVertices[0].colour, 0u);
  EXPECT_EQ(fullVertices[0].nz, 0.0f);
  EXPECT_EQ(fullVertices[2].u, 1.0f);

  // Other element types: a FLOAT4 position gains w = 1, a colour becomes four floats, texture
  // coordinates become half floats; and all of it converts back exactly.
  const D3DVERTEXELEMENT9 wide[] = {{0, 0, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_POSITION, 0},
                                    {0, 16, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_COLOR, 0},
                                    {0, 32, D3DDECLTYPE_FLOAT16_2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                    {0, 36, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                    D3DDECL_END()};
  ID3DXMesh* converted = nullptr;
  ASSERT_EQ(mesh->CloneMesh(D3DXMESH_MANAGED, wide, device_, &converted), D3D_OK);
  Keep(converted);
  EXPECT_EQ(converted->GetFVF(), 0u) << "half floats have no FVF code";
  struct Wide {
    float x, y, z, w, r, g, b, a;
    WORD u, v;
    float nx, ny, nz;
  };
  static_assert(sizeof(Wide) == 48, "layout of `wide`");
  const auto w = Vertices<Wide>(converted);
  EXPECT_EQ(w[1].x, 1.0f);
  EXPECT_EQ(w[1].w, 1.0f);
  EXPECT_FLOAT_EQ(w[0].r, 0x33 / 255.0f);
  EXPECT_FLOAT_EQ(w[0].b, 0x99 / 255.0f);
  EXPECT_FLOAT_EQ(w[1].a, 0x80 / 255.0f);
  EXPECT_EQ(w[0].u, 0x3800);  // 0.5
  EXPECT_EQ(w[0].v, 0x3400);  // 0.25
  ID3DXMesh* back = nullptr;
  ASSERT_EQ(converted->CloneMeshFVF(D3DXMESH_MANAGED, kFullFvf, device_, &back), D3D_OK);
  Keep(back);
  const auto round = Vertices<FullVertex>(back);
  ASSERT_EQ(round.size(), vertices.size());
  EXPECT_EQ(std::memcmp(round.data(), vertices.data(), sizeof(FullVertex) * 4), 0);

  // Shared vertex buffer: same layout and device only; the sharer may not renumber vertices.
  ID3DXMesh* sharer = nullptr;
  ASSERT_EQ(mesh->CloneMeshFVF(D3DXMESH_MANAGED | D3DXMESH_VB_SHARE, kFullFvf, device_, &sharer),
            D3D_OK);
  Keep(sharer);
  IDirect3DVertexBuffer9 *a = nullptr, *b = nullptr;
  mesh->GetVertexBuffer(&a);
  sharer->GetVertexBuffer(&b);
  EXPECT_EQ(a, b);
  a->Release();
  b->Release();
  EXPECT_EQ(sharer->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(sharer->OptimizeInplace(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_IGNOREVERTS, nullptr,
                                    nullptr, nullptr, nullptr),
            D3D_OK);
  ID3DXMesh* refused = reinterpret_cast<ID3DXMesh*>(0x1);
  EXPECT_EQ(mesh->CloneMeshFVF(D3DXMESH_VB_SHARE, D3DFVF_XYZ, device_, &refused),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(mesh->CloneMeshFVF(0, D3DFVF_XYZRHW | 0x2000, device_, &refused), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->CloneMesh(0, nullptr, device_, &refused), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->CloneMeshFVF(0, D3DFVF_XYZ, nullptr, &refused), D3DERR_INVALIDCALL);

  // 32-bit to 16-bit: too many vertices, or an index too large for 16 bits.
  ID3DXMesh* big = Make(1, 70000, D3DXMESH_32BIT | D3DXMESH_SYSTEMMEM, D3DFVF_XYZ);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device_, &refused),
            D3DERR_INVALIDCALL);
  ID3DXMesh* far = Make(1, 3, D3DXMESH_32BIT | D3DXMESH_SYSTEMMEM, D3DFVF_XYZ);
  ASSERT_NE(far, nullptr);
  Fill(far, std::vector<float>(9, 0.0f), {0, 1, 70000}, {0});
  EXPECT_EQ(far->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device_, &refused),
            D3DXERR_INVALIDDATA);
  EXPECT_EQ(refused, nullptr);

  // Semantics change in place when the vertex size stays.
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
  full->GetDeclaration(decl);
  decl[2].UsageIndex = 1;  // the diffuse colour becomes the specular one
  ASSERT_EQ(full->UpdateSemantics(decl), D3D_OK);
  EXPECT_EQ(full->GetFVF(), D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_SPECULAR | D3DFVF_TEX1);
  decl[3].Type = D3DDECLTYPE_FLOAT3;  // a larger vertex
  EXPECT_EQ(full->UpdateSemantics(decl), D3DERR_INVALIDCALL);
  EXPECT_EQ(full->GetNumBytesPerVertex(), sizeof(FullVertex));
}

TEST_F(MeshTest, AdjacencyFollowsSharedPositionsWithinEpsilon) {
  // Two triangles with their own vertices; the shared edge's ends differ by 0.001.
  ID3DXMesh* mesh = Make(2, 6, D3DXMESH_MANAGED, D3DFVF_XYZ);
  ASSERT_NE(mesh, nullptr);
  const std::vector<float> positions = {0, 0, 0, 1, 0, 0,      1, 1,      0,
                                        0, 0, 0, 1, 1, 0.001f, 0, 1.001f, 0};
  Fill(mesh, positions, {0, 1, 2, 3, 4, 5}, {0, 0});
  std::vector<DWORD> adjacency(6);
  ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
  EXPECT_EQ(adjacency, std::vector<DWORD>(6, kNone));
  ASSERT_EQ(mesh->GenerateAdjacency(0.01f, adjacency.data()), D3D_OK);
  // Face 0's edge (v2, v0) meets face 1's edge (v3, v4).
  EXPECT_EQ(adjacency, (std::vector<DWORD>{kNone, kNone, 1, 0, kNone, kNone}));
  std::vector<DWORD> reps(6);
  ASSERT_EQ(mesh->ConvertAdjacencyToPointReps(adjacency.data(), reps.data()), D3D_OK);
  EXPECT_EQ(reps, (std::vector<DWORD>{0, 1, 2, 0, 2, 5}));
  std::vector<DWORD> again(6);
  ASSERT_EQ(mesh->ConvertPointRepsToAdjacency(reps.data(), again.data()), D3D_OK);
  EXPECT_EQ(again, adjacency);
  ASSERT_EQ(mesh->ConvertPointRepsToAdjacency(nullptr, again.data()), D3D_OK);
  EXPECT_EQ(again, std::vector<DWORD>(6, kNone)) << "identity representatives share nothing";

  EXPECT_EQ(mesh->GenerateAdjacency(-1.0f, adjacency.data()), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->GenerateAdjacency(0.0f, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->ConvertAdjacencyToPointReps(nullptr, reps.data()), D3DERR_INVALIDCALL);
  // A face naming a vertex that does not exist borders nothing; nothing is read past the end.
  void* data = nullptr;
  ASSERT_EQ(mesh->LockIndexBuffer(0, &data), D3D_OK);
  static_cast<WORD*>(data)[4] = 60000;
  mesh->UnlockIndexBuffer();
  ASSERT_EQ(mesh->GenerateAdjacency(0.01f, adjacency.data()), D3D_OK);
  EXPECT_EQ(adjacency, std::vector<DWORD>(6, kNone));
  ASSERT_EQ(mesh->ConvertAdjacencyToPointReps(
                std::vector<DWORD>{kNone, kNone, 1, 0, kNone, kNone}.data(), reps.data()),
            D3D_OK);
  EXPECT_EQ(reps, (std::vector<DWORD>{0, 1, 2, 3, 4, 5}));
}

TEST_F(MeshTest, LocksAndTheAttributeTableRefuseBadInput) {
  ID3DXMesh* mesh = MakeGrid();
  ASSERT_NE(mesh, nullptr);
  void* data = reinterpret_cast<void*>(0x1);
  DWORD* attr = reinterpret_cast<DWORD*>(0x1);
  EXPECT_EQ(mesh->LockVertexBuffer(0x80000000, &data), D3DERR_INVALIDCALL);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY | D3DLOCK_DISCARD, &data), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->LockAttributeBuffer(0x1, &attr), D3DERR_INVALIDCALL);
  EXPECT_EQ(attr, nullptr);
  EXPECT_EQ(mesh->LockVertexBuffer(0, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->UnlockAttributeBuffer(), D3DERR_INVALIDCALL);

  const D3DXATTRIBUTERANGE good[] = {{0, 0, 10, 0, 16}, {1, 10, 8, 0, 16}};
  ASSERT_EQ(mesh->SetAttributeTable(good, 2), D3D_OK);
  const D3DXATTRIBUTERANGE pastFaces[] = {{0, 10, 9, 0, 16}};
  const D3DXATTRIBUTERANGE pastVertices[] = {{0, 0, 1, 10, 8}};
  EXPECT_EQ(mesh->SetAttributeTable(pastFaces, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->SetAttributeTable(pastVertices, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh->SetAttributeTable(nullptr, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(Table(mesh).size(), 2u) << "a refused table leaves the old one";
  // The size names the room given: one entry asked for, one written.
  D3DXATTRIBUTERANGE room[2] = {};
  room[1].AttribId = 77;
  DWORD size = 1;
  ASSERT_EQ(mesh->GetAttributeTable(room, &size), D3D_OK);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(room[0].FaceCount, 10u);
  EXPECT_EQ(room[1].AttribId, 77u);
  EXPECT_EQ(mesh->GetAttributeTable(nullptr, nullptr), D3DERR_INVALIDCALL);

  // Reading the attributes keeps the table; writing them drops it.
  ASSERT_EQ(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attr), D3D_OK);
  mesh->UnlockAttributeBuffer();
  EXPECT_EQ(Table(mesh).size(), 2u);
  ASSERT_EQ(mesh->LockAttributeBuffer(0, &attr), D3D_OK);
  mesh->UnlockAttributeBuffer();
  EXPECT_TRUE(Table(mesh).empty());
  ASSERT_EQ(mesh->SetAttributeTable(good, 2), D3D_OK);
  ASSERT_EQ(mesh->SetAttributeTable(nullptr, 0), D3D_OK);
  EXPECT_TRUE(Table(mesh).empty());
}

TEST(D3DXMatrixDecompose, RecoversScaleRotationAndTranslation) {
  const D3DXVECTOR3 axis(1, 2, 3), translation(5, -6, 7);
  D3DXQUATERNION rotation;
  D3DXQuaternionRotationAxis(&rotation, &axis, 0.7f);
  for (const D3DXVECTOR3& scale : {D3DXVECTOR3(2, 3, 4), D3DXVECTOR3(-2, 3, 4)}) {
    D3DXMATRIX m;
    D3DXMatrixTransformation(&m, nullptr, nullptr, &scale, nullptr, &rotation, &translation);
    D3DXVECTOR3 s, t;
    D3DXQUATERNION q;
    ASSERT_EQ(D3DXMatrixDecompose(&s, &q, &t, &m), S_OK);
    // A mirror is reported in the x scale, the rotation stays a rotation.
    EXPECT_NEAR(s.x, scale.x, 1e-5f);
    EXPECT_NEAR(s.y, scale.y, 1e-5f);
    EXPECT_NEAR(s.z, scale.z, 1e-5f);
    EXPECT_NEAR(std::fabs(D3DXQuaternionDot(&q, &rotation)), 1.0f, 1e-5f);
    EXPECT_EQ(t, translation);
    D3DXMATRIX again;
    D3DXMatrixTransformation(&again, nullptr, nullptr, &s, nullptr, &q, &t);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR((&again._11)[i], (&m._11)[i], 1e-4f) << i;
  }
  D3DXMATRIX flat;
  D3DXMatrixScaling(&flat, 1, 0, 1);
  D3DXVECTOR3 s, t;
  D3DXQUATERNION q;
  EXPECT_EQ(D3DXMatrixDecompose(&s, &q, &t, &flat), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXMatrixDecompose(&s, &q, nullptr, &flat), D3DERR_INVALIDCALL);
}

}  // namespace
