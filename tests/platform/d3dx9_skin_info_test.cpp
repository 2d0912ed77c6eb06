// ID3DXSkinInfo: bones, names, offsets and influences with what each refuses; software skinning
// checked against positions and normals worked out by hand (two bones, mixed weights, one bone
// scaling unevenly, a vertex no bone moves), in place and with given inverse transposes; tangents
// in a declared layout; clones, remapping after a reorder, layouts, and face influences read from
// an index buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "d3dx9_test_support.h"

namespace {

constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

struct Vertex {
  D3DXVECTOR3 p, n;
  float u, v;
};

ID3DXSkinInfo* Make(DWORD vertices, DWORD bones, DWORD fvf = kFvf) {
  ID3DXSkinInfo* skin = nullptr;
  EXPECT_EQ(D3DXCreateSkinInfoFVF(vertices, fvf, bones, &skin), D3D_OK);
  return skin;
}

void ExpectNear(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected, float eps = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, eps);
  EXPECT_NEAR(actual.y, expected.y, eps);
  EXPECT_NEAR(actual.z, expected.z, eps);
}

D3DXVECTOR3 Unit(float x, float y, float z) {
  const float len = std::sqrt(x * x + y * y + z * z);
  return D3DXVECTOR3(x / len, y / len, z / len);
}

TEST(SkinInfo, KeepsBonesNamesOffsetsAndInfluences) {
  ID3DXSkinInfo* skin = Make(6, 3);
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(skin->GetNumBones(), 3u);
  EXPECT_EQ(skin->GetFVF(), kFvf);

  EXPECT_EQ(skin->SetBoneName(0, "hip"), D3D_OK);
  EXPECT_STREQ(skin->GetBoneName(0), "hip");
  EXPECT_EQ(skin->GetBoneName(1), nullptr);
  EXPECT_EQ(skin->GetBoneName(3), nullptr);
  EXPECT_EQ(skin->SetBoneName(3, "knee"), D3DERR_INVALIDCALL);
  EXPECT_EQ(skin->SetBoneName(1, nullptr), D3DERR_INVALIDCALL);

  ASSERT_NE(skin->GetBoneOffsetMatrix(2), nullptr);
  EXPECT_TRUE(D3DXMatrixIsIdentity(skin->GetBoneOffsetMatrix(2)));
  D3DXMATRIX offset;
  D3DXMatrixTranslation(&offset, 0, -2, 0);
  EXPECT_EQ(skin->SetBoneOffsetMatrix(2, &offset), D3D_OK);
  EXPECT_EQ(*skin->GetBoneOffsetMatrix(2), offset);
  EXPECT_EQ(skin->GetBoneOffsetMatrix(3), nullptr);
  EXPECT_EQ(skin->SetBoneOffsetMatrix(0, nullptr), D3DERR_INVALIDCALL);

  const DWORD vertices[] = {0, 1, 2};
  const float weights[] = {1.0f, 0.5f, 0.25f};
  ASSERT_EQ(skin->SetBoneInfluence(0, 3, vertices, weights), D3D_OK);
  EXPECT_EQ(skin->GetNumBoneInfluences(0), 3u);
  EXPECT_EQ(skin->GetNumBoneInfluences(7), 0u);
  const DWORD outside[] = {0, 6};
  EXPECT_EQ(skin->SetBoneInfluence(0, 2, outside, weights), D3DERR_INVALIDCALL);
  EXPECT_EQ(skin->SetBoneInfluence(3, 3, vertices, weights), D3DERR_INVALIDCALL);
  EXPECT_EQ(skin->SetBoneInfluence(1, 3, nullptr, weights), D3DERR_INVALIDCALL);
  DWORD gotVertices[3] = {};
  float gotWeights[3] = {};
  ASSERT_EQ(skin->GetBoneInfluence(0, gotVertices, gotWeights), D3D_OK);
  EXPECT_EQ(gotVertices[2], 2u) << "a refused SetBoneInfluence changed nothing";
  EXPECT_EQ(gotWeights[1], 0.5f);

  EXPECT_EQ(skin->SetBoneVertexInfluence(0, 1, 0.75f), D3D_OK);
  float w = 0;
  DWORD v = 0;
  ASSERT_EQ(skin->GetBoneVertexInfluence(0, 1, &w, &v), D3D_OK);
  EXPECT_EQ(w, 0.75f);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(skin->GetBoneVertexInfluence(0, 3, &w, &v), D3DERR_INVALIDCALL);
  EXPECT_EQ(skin->SetBoneVertexInfluence(1, 0, 1.0f), D3DERR_INVALIDCALL);
  DWORD index = 9;
  ASSERT_EQ(skin->FindBoneVertexInfluenceIndex(0, 2, &index), D3D_OK);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(skin->FindBoneVertexInfluenceIndex(0, 4, &index), D3DERR_INVALIDCALL);

  // Vertex 2 is pulled by all three bones, until the smaller pulls fall under the minimum.
  const DWORD v12[] = {1, 2};
  const float w12[] = {0.5f, 0.5f};
  const DWORD v2[] = {2};
  const float w2[] = {0.25f};
  ASSERT_EQ(skin->SetBoneInfluence(1, 2, v12, w12), D3D_OK);
  ASSERT_EQ(skin->SetBoneInfluence(2, 1, v2, w2), D3D_OK);
  DWORD most = 0;
  ASSERT_EQ(skin->GetMaxVertexInfluences(&most), D3D_OK);
  EXPECT_EQ(most, 3u);
  EXPECT_EQ(skin->SetMinBoneInfluence(0.3f), D3D_OK);
  EXPECT_EQ(skin->GetMinBoneInfluence(), 0.3f);
  ASSERT_EQ(skin->GetMaxVertexInfluences(&most), D3D_OK);
  EXPECT_EQ(most, 2u);
  EXPECT_EQ(skin->GetMaxVertexInfluences(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(skin->Release(), 0u);

  ID3DXSkinInfo* out = reinterpret_cast<ID3DXSkinInfo*>(1);
  EXPECT_EQ(D3DXCreateSkinInfo(4, nullptr, 1, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(D3DXCreateSkinInfoFVF(4, D3DFVF_XYZRHW, 1, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateSkinInfoFVF(4, kFvf, 0x20000, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateSkinInfoFVF(4, kFvf, 1, nullptr), D3DERR_INVALIDCALL);
}

// Bone 0 moves by (1, 0, 0); bone 1 scales x by 2, then moves by (0, 3, 0).
class SkinningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    skin_ = Make(4, 2);
    ASSERT_NE(skin_, nullptr);
    const DWORD v0[] = {0, 2}, v1[] = {1, 2};
    const float w0[] = {1.0f, 0.25f}, w1[] = {1.0f, 0.75f};
    ASSERT_EQ(skin_->SetBoneInfluence(0, 2, v0, w0), D3D_OK);
    ASSERT_EQ(skin_->SetBoneInfluence(1, 2, v1, w1), D3D_OK);
    D3DXMatrixTranslation(&bones_[0], 1, 0, 0);
    D3DXMATRIX s, t;
    D3DXMatrixScaling(&s, 2, 1, 1);
    D3DXMatrixTranslation(&t, 0, 3, 0);
    bones_[1] = s * t;
    src_ = {
        {D3DXVECTOR3(1, 1, 0), D3DXVECTOR3(1, 0, 0), 0.1f, 0.2f},
        {D3DXVECTOR3(1, 1, 0), Unit(1, 1, 0), 0.3f, 0.4f},
        {D3DXVECTOR3(2, 0, 1), Unit(1, 1, 0), 0.5f, 0.6f},
        {D3DXVECTOR3(5, 5, 5), D3DXVECTOR3(0, 0, 1), 0.7f, 0.8f},
    };
  }
  void TearDown() override {
    if (skin_) {
      EXPECT_EQ(skin_->Release(), 0u);
    }
  }

  void ExpectHandResults(const std::vector<Vertex>& out) {
    ExpectNear(out[0].p, D3DXVECTOR3(2, 1, 0));
    ExpectNear(out[0].n, D3DXVECTOR3(1, 0, 0));
    ExpectNear(out[1].p, D3DXVECTOR3(2, 4, 0));
    // The inverse transpose of the x scale halves x: (1, 1, 0) leans to (0.5, 1, 0).
    ExpectNear(out[1].n, Unit(0.5f, 1, 0));
    // 0.25 (3, 0, 1) + 0.75 (4, 3, 1); normals 0.25 (1, 1, 0) + 0.75 (0.5, 1, 0), normalised.
    ExpectNear(out[2].p, D3DXVECTOR3(3.75f, 2.25f, 1.0f));
    ExpectNear(out[2].n, Unit(0.625f, 1.0f, 0.0f));
    EXPECT_EQ(std::memcmp(&out[3], &src_[3], sizeof(Vertex)), 0) << "no bone moves vertex 3";
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(out[i].u, src_[i].u);
      EXPECT_EQ(out[i].v, src_[i].v);
    }
  }

  ID3DXSkinInfo* skin_ = nullptr;
  D3DXMATRIX bones_[2];
  std::vector<Vertex> src_;
};

TEST_F(SkinningTest, PositionsAndNormalsMatchTheHandResults) {
  std::vector<Vertex> dst(4);
  std::memset(dst.data(), 0xCD, dst.size() * sizeof(Vertex));
  ASSERT_EQ(skin_->UpdateSkinnedMesh(bones_, nullptr, src_.data(), dst.data()), D3D_OK);
  ExpectHandResults(dst);

  // In place, and with the inverse transposes given: the same.
  std::vector<Vertex> inPlace = src_;
  ASSERT_EQ(skin_->UpdateSkinnedMesh(bones_, nullptr, inPlace.data(), inPlace.data()), D3D_OK);
  ExpectHandResults(inPlace);
  D3DXMATRIX it[2];
  for (int b = 0; b < 2; ++b) {
    D3DXMatrixInverse(&it[b], nullptr, &bones_[b]);
    D3DXMatrixTranspose(&it[b], &it[b]);
  }
  ASSERT_EQ(skin_->UpdateSkinnedMesh(bones_, it, src_.data(), dst.data()), D3D_OK);
  ExpectHandResults(dst);

  // The given matrices are the ones used for normals: identities leave them alone.
  D3DXMatrixIdentity(&it[0]);
  D3DXMatrixIdentity(&it[1]);
  ASSERT_EQ(skin_->UpdateSkinnedMesh(bones_, it, src_.data(), dst.data()), D3D_OK);
  ExpectNear(dst[1].n, Unit(1, 1, 0));
  ExpectNear(dst[1].p, D3DXVECTOR3(2, 4, 0));

  EXPECT_EQ(skin_->UpdateSkinnedMesh(nullptr, nullptr, src_.data(), dst.data()),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(skin_->UpdateSkinnedMesh(bones_, nullptr, nullptr, dst.data()), D3DERR_INVALIDCALL);
}

TEST_F(SkinningTest, DeclaredTangentsFollowTheBonesWithoutTranslation) {
  const D3DVERTEXELEMENT9 decl[] = {
      {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
      {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TANGENT, 0},
      D3DDECL_END()};
  ASSERT_EQ(skin_->SetDeclaration(decl), D3D_OK);
  EXPECT_EQ(skin_->GetFVF(), 0u) << "a tangent has no FVF code";
  struct Tangent {
    D3DXVECTOR3 p, t;
  };
  const std::vector<Tangent> src = {{D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0)},
                                    {D3DXVECTOR3(0, 0, 0), Unit(1, 1, 0)},
                                    {D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(1, 0, 0)},
                                    {D3DXVECTOR3(1, 2, 3), D3DXVECTOR3(0, 0, 1)}};
  std::vector<Tangent> dst(4);
  ASSERT_EQ(skin_->UpdateSkinnedMesh(bones_, nullptr, src.data(), dst.data()), D3D_OK);
  ExpectNear(dst[0].p, D3DXVECTOR3(1, 0, 0));
  ExpectNear(dst[0].t, D3DXVECTOR3(0, 1, 0));
  ExpectNear(dst[1].p, D3DXVECTOR3(0, 3, 0));
  ExpectNear(dst[1].t, Unit(2, 1, 0));  // stretched with the surface, unlike a normal
  ExpectNear(dst[2].t, D3DXVECTOR3(1, 0, 0));
  ExpectNear(dst[3].p, D3DXVECTOR3(1, 2, 3));

  // Skinning needs a three-float position.
  const D3DVERTEXELEMENT9 packed[] = {
      {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
  ASSERT_EQ(skin_->SetDeclaration(packed), D3D_OK);
  EXPECT_EQ(skin_->UpdateSkinnedMesh(bones_, nullptr, src.data(), dst.data()), D3DERR_INVALIDCALL);
}

TEST(SkinInfo, ClonesRemapsAndChangesLayouts) {
  ID3DXSkinInfo* skin = Make(4, 2);
  const DWORD v0[] = {0, 1}, v1[] = {2, 3};
  const float w0[] = {0.5f, 0.6f}, w1[] = {0.7f, 0.8f};
  ASSERT_EQ(skin->SetBoneInfluence(0, 2, v0, w0), D3D_OK);
  ASSERT_EQ(skin->SetBoneInfluence(1, 2, v1, w1), D3D_OK);
  ASSERT_EQ(skin->SetBoneName(1, "arm"), D3D_OK);

  ID3DXSkinInfo* clone = nullptr;
  ASSERT_EQ(skin->Clone(&clone), D3D_OK);
  EXPECT_STREQ(clone->GetBoneName(1), "arm");
  EXPECT_NE(clone->GetBoneName(1), skin->GetBoneName(1));
  ASSERT_EQ(clone->SetBoneInfluence(0, 0, nullptr, nullptr), D3D_OK);
  EXPECT_EQ(skin->GetNumBoneInfluences(0), 2u) << "the clone shares nothing";

  // New vertex i was old vertex remap[i]: old 0 is split in two, old 1 dropped.
  DWORD remap[] = {3, 0, 0, UNUSED32, 2};
  ASSERT_EQ(skin->Remap(5, remap), D3D_OK);
  DWORD vertices[4];
  float weights[4];
  ASSERT_EQ(skin->GetNumBoneInfluences(0), 2u);
  skin->GetBoneInfluence(0, vertices, weights);
  EXPECT_EQ(vertices[0], 1u);
  EXPECT_EQ(vertices[1], 2u);
  EXPECT_EQ(weights[1], 0.5f);
  ASSERT_EQ(skin->GetNumBoneInfluences(1), 2u);
  skin->GetBoneInfluence(1, vertices, weights);
  EXPECT_EQ(vertices[0], 4u);
  EXPECT_EQ(weights[0], 0.7f);
  EXPECT_EQ(vertices[1], 0u);
  DWORD outside[] = {9};
  EXPECT_EQ(skin->Remap(1, outside), D3DERR_INVALIDCALL);
  EXPECT_EQ(skin->GetNumBoneInfluences(1), 2u);

  ASSERT_EQ(skin->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2), D3D_OK);
  EXPECT_EQ(skin->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2));
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
  ASSERT_EQ(skin->GetDeclaration(decl), D3D_OK);
  EXPECT_EQ(D3DXGetDeclLength(decl), 4u);
  EXPECT_EQ(skin->SetFVF(D3DFVF_XYZRHW), D3DERR_INVALIDCALL);
  EXPECT_EQ(skin->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2));

  ID3DXMesh* mesh = reinterpret_cast<ID3DXMesh*>(1);
  ID3DXBuffer* table = reinterpret_cast<ID3DXBuffer*>(1);
  EXPECT_EQ(skin->ConvertToBlendedMesh(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, &table, &mesh),
            E_NOTIMPL);
  EXPECT_EQ(mesh, nullptr);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(skin->ConvertToIndexedBlendedMesh(nullptr, 0, 20, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, &mesh),
            E_NOTIMPL);
  EXPECT_EQ(clone->Release(), 0u);
  EXPECT_EQ(skin->Release(), 0u);
}

using SkinInfoDeviceTest = d3dx_test::DeviceTest;

TEST_F(SkinInfoDeviceTest, FaceInfluencesCountDistinctBonesPerTriangle) {
  for (DWORD options : {DWORD{D3DXMESH_MANAGED}, DWORD{D3DXMESH_MANAGED | D3DXMESH_32BIT}}) {
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(2, 6, options, D3DFVF_XYZ, device_, &mesh), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(mesh->LockIndexBuffer(0, &data), D3D_OK);
    const DWORD faces[] = {0, 1, 2, 3, 4, 5};
    for (int i = 0; i < 6; ++i) {
      if (options & D3DXMESH_32BIT)
        static_cast<DWORD*>(data)[i] = faces[i];
      else
        static_cast<WORD*>(data)[i] = WORD(faces[i]);
    }
    mesh->UnlockIndexBuffer();
    ID3DXSkinInfo* skin = Make(6, 3, D3DFVF_XYZ);
    const DWORD a[] = {0, 3}, b[] = {1, 3}, c[] = {2};
    const float w[] = {1.0f, 1.0f};
    skin->SetBoneInfluence(0, 2, a, w);
    skin->SetBoneInfluence(1, 2, b, w);
    skin->SetBoneInfluence(2, 1, c, w);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(mesh->GetIndexBuffer(&ib), D3D_OK);
    DWORD most = 0;
    ASSERT_EQ(skin->GetMaxFaceInfluences(ib, 2, &most), D3D_OK);
    EXPECT_EQ(most, 3u);  // face 0: bones 0, 1, 2; face 1: bones 0 and 1 (vertex 3 twice)
    ASSERT_EQ(skin->GetMaxFaceInfluences(ib, 1, &most), D3D_OK);
    EXPECT_EQ(most, 3u);
    EXPECT_EQ(skin->GetMaxFaceInfluences(ib, 3, &most), D3DERR_INVALIDCALL) << "past the buffer";
    EXPECT_EQ(skin->GetMaxFaceInfluences(nullptr, 1, &most), D3DERR_INVALIDCALL);
    ib->Release();
    skin->Release();
    mesh->Release();
  }
}

}  // namespace
