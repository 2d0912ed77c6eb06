// The D3DX shapes (counts, extents, outward normals and windings, adjacency, what they refuse),
// the winding checked against the device's culling, and the helpers over meshes: normals,
// bounding boxes and spheres, ray tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/win32/com_object.h"
#include "d3dx9_test_support.h"

namespace {

using d3dx_test::DeviceTest;
using d3dx_test::FindInk;

constexpr DWORD kNone = 0xFFFFFFFF;

struct ShapeVertex {
  D3DXVECTOR3 p, n;
};

std::vector<ShapeVertex> Vertices(ID3DXMesh* mesh) {
  std::vector<ShapeVertex> out(mesh->GetNumVertices());
  void* data = nullptr;
  EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
  if (!data) return {};
  std::memcpy(out.data(), data, out.size() * sizeof(ShapeVertex));
  mesh->UnlockVertexBuffer();
  return out;
}

std::vector<DWORD> Indices(ID3DXMesh* mesh) {
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

D3DXVECTOR3 FaceNormal(const std::vector<ShapeVertex>& v, const DWORD* f) {
  D3DXVECTOR3 n;
  const D3DXVECTOR3 a = v[f[1]].p - v[f[0]].p, b = v[f[2]].p - v[f[0]].p;
  D3DXVec3Cross(&n, &a, &b);
  return n;
}

void ExpectNear(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float eps, const char* what) {
  EXPECT_NEAR(a.x, b.x, eps) << what;
  EXPECT_NEAR(a.y, b.y, eps) << what;
  EXPECT_NEAR(a.z, b.z, eps) << what;
}

class ShapeTest : public DeviceTest {
 protected:
  void TearDown() override {
    for (IUnknown* object : objects_) EXPECT_EQ(object->Release(), 0u) << "a reference leaked";
    objects_.clear();
    DeviceTest::TearDown();
  }
  template <class T>
  T* Keep(T* object) {
    if (object) objects_.push_back(object);
    return object;
  }
  std::vector<IUnknown*> objects_;
};

// Counts, extents, normals, windings and adjacency of each shape. `outward(p)` is the direction
// away from the surface's inside at p.
TEST_F(ShapeTest, ShapesHaveTheDocumentedCountsAndFaceOutwards) {
  struct Shape {
    const char* name;
    std::function<HRESULT(ID3DXMesh**, ID3DXBuffer**)> make;
    DWORD vertices, faces;
    D3DXVECTOR3 lo, hi;
    std::function<D3DXVECTOR3(const D3DXVECTOR3&)> outward;
    bool closed;
  };
  auto fromOrigin = [](const D3DXVECTOR3& p) { return p; };
  auto fromRing = [](const D3DXVECTOR3& p) {  // torus: away from the tube's centre line
    const float r = std::sqrt(p.x * p.x + p.y * p.y);
    return p - D3DXVECTOR3(p.x / r, p.y / r, 0) * 1.0f;
  };
  const Shape shapes[] = {
      {"box",
       [&](ID3DXMesh** m, ID3DXBuffer** a) { return D3DXCreateBox(device_, 2, 3, 4, m, a); },
       24,
       12,
       {-1, -1.5f, -2},
       {1, 1.5f, 2},
       fromOrigin,
       true},
      {"sphere",
       [&](ID3DXMesh** m, ID3DXBuffer** a) { return D3DXCreateSphere(device_, 1.5f, 10, 6, m, a); },
       // Ten slices from +y: the widest in x are 18 degrees either side of the x axis.
       2 + 10 * 5,
       2 * 10 * 5,
       {-1.4265848f, -1.5f, -1.5f},
       {1.4265848f, 1.5f, 1.5f},
       fromOrigin,
       true},
      {"cylinder",
       [&](ID3DXMesh** m, ID3DXBuffer** a) {
         return D3DXCreateCylinder(device_, 1, 0.5f, 3, 8, 3, m, a);
       },
       2 + 8 * (3 + 3),
       2 * 8 + 3 * 2 * 8,
       {-1, -1, -1.5f},
       {1, 1, 1.5f},
       fromOrigin,
       true},
      {"torus",
       [&](ID3DXMesh** m, ID3DXBuffer** a) {
         return D3DXCreateTorus(device_, 0.25f, 1, 8, 12, m, a);
       },
       8 * 12,
       2 * 8 * 12,
       {-1.25f, -1.25f, -0.25f},
       {1.25f, 1.25f, 0.25f},
       fromRing,
       true},
      {"polygon",
       [&](ID3DXMesh** m, ID3DXBuffer** a) { return D3DXCreatePolygon(device_, 1, 6, m, a); },
       7,
       6,
       {-1, -0.8660254f, 0},
       {1, 0.8660254f, 0},
       [](const D3DXVECTOR3&) { return D3DXVECTOR3(0, 0, 1); },
       false},
  };
  for (const Shape& s : shapes) {
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* adjacency = nullptr;
    ASSERT_EQ(s.make(&mesh, &adjacency), D3D_OK) << s.name;
    Keep(mesh);
    Keep(adjacency);
    EXPECT_EQ(mesh->GetFVF(), DWORD{D3DFVF_XYZ | D3DFVF_NORMAL}) << s.name;
    EXPECT_EQ(mesh->GetOptions(), DWORD{D3DXMESH_MANAGED}) << s.name;
    ASSERT_EQ(mesh->GetNumVertices(), s.vertices) << s.name;
    ASSERT_EQ(mesh->GetNumFaces(), s.faces) << s.name;
    const auto v = Vertices(mesh);
    const auto f = Indices(mesh);
    D3DXVECTOR3 lo, hi;
    ASSERT_EQ(D3DXComputeBoundingBox(&v[0].p, s.vertices, sizeof(ShapeVertex), &lo, &hi), D3D_OK);
    ExpectNear(lo, s.lo, 1e-5f, s.name);
    ExpectNear(hi, s.hi, 1e-5f, s.name);
    for (const ShapeVertex& x : v) {
      EXPECT_NEAR(D3DXVec3Length(&x.n), 1.0f, 1e-5f) << s.name;
      const D3DXVECTOR3 out = s.outward(x.p);
      EXPECT_GT(D3DXVec3Dot(&x.n, &out), 0.0f) << s.name;
    }
    for (DWORD i = 0; i < s.faces; ++i) {
      const D3DXVECTOR3 n = FaceNormal(v, &f[3 * i]);
      const D3DXVECTOR3 centre = (v[f[3 * i]].p + v[f[3 * i + 1]].p + v[f[3 * i + 2]].p) / 3.0f;
      const D3DXVECTOR3 out = s.outward(centre);
      EXPECT_GT(D3DXVec3Dot(&n, &out), 0.0f) << s.name << " face " << i << " winds inwards";
    }
    // Adjacency: symmetric; complete on the closed shapes; the polygon's rim borders nothing.
    ASSERT_EQ(adjacency->GetBufferSize(), s.faces * 3 * sizeof(DWORD)) << s.name;
    const auto* adj = static_cast<const DWORD*>(adjacency->GetBufferPointer());
    int open = 0;
    for (DWORD i = 0; i < 3 * s.faces; ++i) {
      if (adj[i] == kNone) {
        ++open;
        continue;
      }
      ASSERT_LT(adj[i], s.faces) << s.name;
      EXPECT_NE(adj[i], i / 3) << s.name;
      const DWORD* back = adj + 3 * adj[i];
      EXPECT_TRUE(back[0] == i / 3 || back[1] == i / 3 || back[2] == i / 3) << s.name;
    }
    EXPECT_EQ(open, s.closed ? 0 : int(s.faces)) << s.name;
    std::vector<DWORD> generated(3 * s.faces);
    ASSERT_EQ(mesh->GenerateAdjacency(0.0f, generated.data()), D3D_OK);
    EXPECT_EQ(std::memcmp(generated.data(), adj, generated.size() * 4), 0) << s.name;
  }
  // Shape-specific geometry, on the meshes made above.
  const auto sphere = Vertices(static_cast<ID3DXMesh*>(objects_[2]));
  for (const ShapeVertex& x : sphere) {
    EXPECT_NEAR(D3DXVec3Length(&x.p), 1.5f, 1e-5f);
    ExpectNear(x.n, x.p / 1.5f, 1e-5f, "sphere normal");
  }
  EXPECT_EQ(sphere.front().p, D3DXVECTOR3(0, 0, 1.5f));  // poles on the z axis
  for (const ShapeVertex& x : Vertices(static_cast<ID3DXMesh*>(objects_[4]))) {
    // Radius 1 at z = -1.5 narrowing evenly to 0.5 at z = +1.5.
    const float r = std::sqrt(x.p.x * x.p.x + x.p.y * x.p.y);
    EXPECT_LE(r, 1.0f - 0.5f * (x.p.z + 1.5f) / 3.0f + 1e-5f) << "at z = " << x.p.z;
  }
  for (const ShapeVertex& x : Vertices(static_cast<ID3DXMesh*>(objects_[6]))) {
    const D3DXVECTOR3 tube = fromRing(x.p);
    EXPECT_NEAR(D3DXVec3Length(&tube), 0.25f, 1e-5f);
  }
  const auto polygon = Vertices(static_cast<ID3DXMesh*>(objects_[8]));
  for (int i = 1; i <= 6; ++i) {
    const D3DXVECTOR3 edge = polygon[i].p - polygon[i % 6 + 1].p;
    EXPECT_NEAR(D3DXVec3Length(&edge), 1.0f, 1e-5f);
    EXPECT_EQ(polygon[i].n, D3DXVECTOR3(0, 0, 1));
  }
}

TEST_F(ShapeTest, TeapotIsTheUtahTeapotLidUpSpoutTowardsPlusX) {
  ID3DXMesh* mesh = nullptr;
  ID3DXBuffer* adjacency = nullptr;
  ASSERT_EQ(D3DXCreateTeapot(device_, &mesh, &adjacency), D3D_OK);
  Keep(mesh);
  Keep(adjacency);
  // 32 patches of 6 x 6 quads, less the triangles that collapse at the knob and the bottom.
  EXPECT_EQ(mesh->GetNumFaces(), 32u * 6 * 6 * 2 - 48);
  const auto v = Vertices(mesh);
  const auto f = Indices(mesh);
  D3DXVECTOR3 lo, hi;
  ASSERT_EQ(D3DXComputeBoundingBox(&v[0].p, DWORD(v.size()), sizeof(ShapeVertex), &lo, &hi),
            D3D_OK);
  EXPECT_NEAR(lo.y, -0.7875f, 1e-4f);
  EXPECT_NEAR(hi.y, 0.7875f, 1e-4f);
  EXPECT_NEAR(lo.x, -1.5f, 1e-3f) << "the handle's outer curve";
  EXPECT_GT(hi.x, 1.6f) << "the spout's tip";
  EXPECT_NEAR(lo.z, -1.0f, 1e-4f);
  EXPECT_NEAR(hi.z, 1.0f, 1e-4f);
  for (const ShapeVertex& x : v) {
    EXPECT_NEAR(D3DXVec3Length(&x.n), 1.0f, 1e-4f);
    if (x.p.y == hi.y) {
      EXPECT_GT(x.n.y, 0.99f) << "the knob's top faces up";
    }
    if (x.p.y == lo.y && std::fabs(x.p.x) < 1e-5f) {
      EXPECT_LT(x.n.y, -0.99f) << "the bottom";
    }
    // The body, away from the handle and spout (which lie about z = 0): normals face out.
    if (std::fabs(x.p.z) > 0.4f && x.p.y > -0.6f && x.p.y < 0.4f) {
      const D3DXVECTOR3 out(x.p.x, 0, x.p.z);
      EXPECT_GT(D3DXVec3Dot(&x.n, &out), 0.0f);
    }
  }
  // Faces wind the way their vertices' normals point.
  int agree = 0;
  for (size_t i = 0; i < f.size(); i += 3) {
    const D3DXVECTOR3 n = FaceNormal(v, &f[i]);
    const D3DXVECTOR3 sum = v[f[i]].n + v[f[i + 1]].n + v[f[i + 2]].n;
    if (D3DXVec3Dot(&n, &sum) > 0.0f) ++agree;
  }
  EXPECT_EQ(agree, int(f.size() / 3));
  const auto* adj = static_cast<const DWORD*>(adjacency->GetBufferPointer());
  for (size_t i = 0; i < f.size(); ++i) EXPECT_TRUE(adj[i] == kNone || adj[i] < f.size() / 3);
}

TEST_F(ShapeTest, ShapesRefuseBadArgumentsAndLeaveTheirOutputsAlone) {
  const std::function<HRESULT(IDirect3DDevice9*, ID3DXMesh**, ID3DXBuffer**)> calls[] = {
      [](auto d, auto m, auto a) { return D3DXCreateSphere(d, 1, 1, 4, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateSphere(d, 1, 4, 1, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateSphere(d, -1, 4, 4, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateSphere(d, NAN, 4, 4, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateCylinder(d, 1, 1, 1, 1, 1, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateCylinder(d, 1, 1, 1, 3, 0, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateCylinder(d, 1, -1, 1, 3, 1, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateCylinder(d, 1, 1, -1, 3, 1, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateTorus(d, 1, 2, 2, 3, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateTorus(d, 1, 2, 3, 2, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateTorus(d, 1, -2, 3, 3, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreatePolygon(d, 1, 2, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreatePolygon(d, -1, 5, m, a); },
      [](auto d, auto m, auto a) { return D3DXCreateBox(d, -1, 1, 1, m, a); },
      [](auto, auto m, auto a) { return D3DXCreateBox(nullptr, 1, 1, 1, m, a); },
      [](auto d, auto, auto a) { return D3DXCreateTeapot(d, nullptr, a); },
  };
  for (const auto& call : calls) {
    ID3DXMesh* mesh = reinterpret_cast<ID3DXMesh*>(0x1);
    ID3DXBuffer* adjacency = reinterpret_cast<ID3DXBuffer*>(0x1);
    EXPECT_EQ(call(device_, &mesh, &adjacency), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh, reinterpret_cast<ID3DXMesh*>(0x1));
    EXPECT_EQ(adjacency, reinterpret_cast<ID3DXBuffer*>(0x1));
  }
  // Sizes no buffer could hold fail before anything is allocated.
  ID3DXMesh* mesh = nullptr;
  EXPECT_EQ(D3DXCreateSphere(device_, 1, 100000, 100000, &mesh, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(D3DXCreateTorus(device_, 1, 2, 0xFFFFFFFF, 0xFFFFFFFF, &mesh, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(mesh, nullptr);
  // The smallest round shapes D3DX makes: two slices, flat but valid.
  ASSERT_EQ(D3DXCreateSphere(device_, 1, 2, 2, &mesh, nullptr), D3D_OK);
  EXPECT_EQ(Keep(mesh)->GetNumFaces(), 4u);
  ASSERT_EQ(D3DXCreateCylinder(device_, 1, 1, 0, 2, 1, &mesh, nullptr), D3D_OK);
  EXPECT_EQ(Keep(mesh)->GetNumVertices(), 2u + 2 * (3 + 1));
}

// Front faces are clockwise: the polygon (normal +z) shows from +z under the default culling and
// is culled from -z.
TEST_F(ShapeTest, WindingMatchesTheDevicesCulling) {
  ID3DXMesh* polygon = nullptr;
  ASSERT_EQ(D3DXCreatePolygon(device_, 1, 8, &polygon, nullptr), D3D_OK);
  Keep(polygon);
  D3DXMATRIX identity, projection;
  D3DXMatrixIdentity(&identity);
  D3DXMatrixPerspectiveFovLH(&projection, 0.8f, float(kWidth) / kHeight, 0.1f, 100);
  device_->SetTransform(D3DTS_WORLD, &identity);
  device_->SetTransform(D3DTS_PROJECTION, &projection);
  device_->SetRenderState(D3DRS_LIGHTING, FALSE);
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  auto inkFrom = [&](float eyeZ) {
    const D3DXVECTOR3 eye(0, 0, eyeZ), at(0, 0, 0), up(0, 1, 0);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    device_->SetTransform(D3DTS_VIEW, &view);
    Clear(0xFF000000);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(polygon->DrawSubset(0), D3D_OK);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    const auto pixels = ReadBackBuffer();
    return FindInk(pixels, kWidth, kHeight, 0);
  };
  const auto front = inkFrom(4.0f);
  EXPECT_GT(front.count, 500);
  EXPECT_EQ(At(ReadBackBuffer(), kWidth / 2, kHeight / 2), 0xFFFFFFu);
  EXPECT_EQ(inkFrom(-4.0f).count, 0);
  device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  EXPECT_EQ(inkFrom(-4.0f).count, front.count);
}

TEST_F(ShapeTest, ComputeNormalsWeighsFacesByAreaAndJoinsAdjacentCopies) {
  // The box with its normals wiped: without adjacency each vertex takes its own face's normal.
  ID3DXMesh* box = nullptr;
  ID3DXBuffer* adjacency = nullptr;
  ASSERT_EQ(D3DXCreateBox(device_, 1, 2, 3, &box, &adjacency), D3D_OK);
  Keep(box);
  Keep(adjacency);
  const auto original = Vertices(box);
  auto wipe = [&] {
    void* data = nullptr;
    ASSERT_EQ(box->LockVertexBuffer(0, &data), D3D_OK);
    auto* v = static_cast<ShapeVertex*>(data);
    for (DWORD i = 0; i < box->GetNumVertices(); ++i) v[i].n = D3DXVECTOR3(0, 0, 0);
    box->UnlockVertexBuffer();
  };
  wipe();
  ASSERT_EQ(D3DXComputeNormals(box, nullptr), D3D_OK);
  const auto computed = Vertices(box);
  for (size_t i = 0; i < computed.size(); ++i) ExpectNear(computed[i].n, original[i].n, 1e-6f, "");
  // With adjacency, the copies of a corner share one normal pointing out through the corner.
  wipe();
  ASSERT_EQ(D3DXComputeNormals(box, static_cast<DWORD*>(adjacency->GetBufferPointer())), D3D_OK);
  const auto smooth = Vertices(box);
  for (const ShapeVertex& a : smooth) {
    EXPECT_NEAR(D3DXVec3Length(&a.n), 1.0f, 1e-5f);
    EXPECT_GT(a.n.x * a.p.x, 0.0f);
    EXPECT_GT(a.n.y * a.p.y, 0.0f);
    EXPECT_GT(a.n.z * a.p.z, 0.0f);
    for (const ShapeVertex& b : smooth) {
      if (a.p == b.p) ExpectNear(a.n, b.n, 1e-6f, "copies of one corner");
    }
  }

  // Area weighting: a vertex shared by a triangle of area 8 facing +z and one of area 0.5
  // facing -x gets normalize(-1, 0, 16), not the even mix normalize(-1, 0, 1).
  ID3DXMesh* fan = nullptr;
  ASSERT_EQ(D3DXCreateMeshFVF(2, 5, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL, device_, &fan),
            D3D_OK);
  Keep(fan);
  const ShapeVertex fanVertices[] = {
      {{0, 0, 0}, {}}, {{4, 0, 0}, {}}, {{0, 4, 0}, {}}, {{0, 0, 1}, {}}, {{0, 1, 0}, {}}};
  void* data = nullptr;
  ASSERT_EQ(fan->LockVertexBuffer(0, &data), D3D_OK);
  std::memcpy(data, fanVertices, sizeof(fanVertices));
  fan->UnlockVertexBuffer();
  ASSERT_EQ(fan->LockIndexBuffer(0, &data), D3D_OK);
  const WORD faces[] = {0, 1, 2, 0, 3, 4};
  std::memcpy(data, faces, sizeof(faces));
  fan->UnlockIndexBuffer();
  ASSERT_EQ(D3DXComputeNormals(fan, nullptr), D3D_OK);
  D3DXVECTOR3 expected(-1, 0, 16);
  D3DXVec3Normalize(&expected, &expected);
  ExpectNear(Vertices(fan)[0].n, expected, 1e-6f, "shared vertex");
  // A face naming a vertex that does not exist is skipped, not read.
  ASSERT_EQ(fan->LockIndexBuffer(0, &data), D3D_OK);
  static_cast<WORD*>(data)[4] = 999;
  fan->UnlockIndexBuffer();
  ASSERT_EQ(D3DXComputeNormals(fan, nullptr), D3D_OK);
  ExpectNear(Vertices(fan)[0].n, D3DXVECTOR3(0, 0, 1), 1e-6f, "big face only");

  ID3DXMesh* plain = nullptr;
  ASSERT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, D3DFVF_XYZ, device_, &plain), D3D_OK);
  Keep(plain);
  EXPECT_EQ(D3DXComputeNormals(plain, nullptr), D3DERR_INVALIDCALL) << "no normal to write";
  EXPECT_EQ(D3DXComputeNormals(nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(ShapeTest, BoundsAndRayTests) {
  // Positions in 16-byte strides (the fourth float is not part of the position).
  const float points[] = {0, 0, 0, 99, 2, 0, 0, 99, 0, 0, 0, 99, 0, 4, 0, 99};
  const auto* first = reinterpret_cast<const D3DXVECTOR3*>(points);
  D3DXVECTOR3 lo, hi, centre;
  float radius = 0;
  ASSERT_EQ(D3DXComputeBoundingBox(first, 4, 16, &lo, &hi), D3D_OK);
  ExpectNear(lo, D3DXVECTOR3(0, 0, 0), 0, "min");
  ExpectNear(hi, D3DXVECTOR3(2, 4, 0), 0, "max");
  // The centre is the average of the positions, not the box's middle.
  ASSERT_EQ(D3DXComputeBoundingSphere(first, 4, 16, &centre, &radius), D3D_OK);
  ExpectNear(centre, D3DXVECTOR3(0.5f, 1, 0), 1e-6f, "centre");
  EXPECT_NEAR(radius, std::sqrt(0.25f + 9.0f), 1e-5f);
  EXPECT_EQ(D3DXComputeBoundingBox(first, 0, 16, &lo, &hi), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXComputeBoundingBox(nullptr, 4, 16, &lo, &hi), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXComputeBoundingSphere(first, 4, 16, nullptr, &radius), D3DERR_INVALIDCALL);

  // Through a 2 x 2 x 2 box along +z: two hits, the nearer on the -z face.
  ID3DXMesh* box = nullptr;
  ASSERT_EQ(D3DXCreateBox(device_, 2, 2, 2, &box, nullptr), D3D_OK);
  Keep(box);
  const D3DXVECTOR3 from(0.3f, 0.2f, -10), along(0, 0, 1);
  BOOL hit = FALSE;
  DWORD face = kNone, count = 0;
  float u = -1, v = -1, dist = -1;
  ID3DXBuffer* all = nullptr;
  ASSERT_EQ(D3DXIntersect(box, &from, &along, &hit, &face, &u, &v, &dist, &all, &count), D3D_OK);
  Keep(all);
  EXPECT_TRUE(hit);
  EXPECT_EQ(count, 2u);
  EXPECT_NEAR(dist, 9.0f, 1e-5f);
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->GetBufferSize(), 2 * sizeof(D3DXINTERSECTINFO));
  const auto vertices = Vertices(box);
  const auto indices = Indices(box);
  const D3DXVECTOR3& p0 = vertices[indices[3 * face]].p;
  const D3DXVECTOR3 point = p0 + (vertices[indices[3 * face + 1]].p - p0) * u +
                            (vertices[indices[3 * face + 2]].p - p0) * v;
  ExpectNear(point, D3DXVECTOR3(0.3f, 0.2f, -1), 1e-5f, "hit point from U and V");
  const D3DXVECTOR3 miss(5, 5, -10);
  ASSERT_EQ(D3DXIntersect(box, &miss, &along, &hit, &face, &u, &v, &dist, &all, &count), D3D_OK);
  EXPECT_FALSE(hit);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(D3DXIntersect(nullptr, &miss, &along, &hit, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr),
            D3DERR_INVALIDCALL);
  // The distance counts lengths of the direction.
  const D3DXVECTOR3 a(0, 0, 0), b(1, 0, 0), c(0, 1, 0), start(0.2f, 0.2f, -1), twice(0, 0, 2);
  ASSERT_TRUE(D3DXIntersectTri(&a, &b, &c, &start, &twice, &u, &v, &dist));
  EXPECT_NEAR(dist, 0.5f, 1e-6f);
  EXPECT_NEAR(u, 0.2f, 1e-6f);
  EXPECT_NEAR(v, 0.2f, 1e-6f);
  const D3DXVECTOR3 away(0, 0, -1);
  EXPECT_FALSE(D3DXIntersectTri(&a, &b, &c, &start, &away, &u, &v, &dist));
}

}  // namespace
