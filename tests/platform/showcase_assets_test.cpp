// The 3D showcase's assets in assets/showcase (written by tools/make_assets) as the platform's own
// loaders read them: the skinned figure through D3DXLoadMeshHierarchyFromXA (bones on its frames,
// weights that sum to one, offsets that undo the bind pose, named animation sets that loop and
// bend the joints the way a body bends), the barrel through D3DXLoadMeshFromXA with its texture,
// and every PNG through the texture loader (sizes, alpha where there should be some, transparent
// borders, premultiplied colours, a floor that tiles).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "d3dx9_test_support.h"
#include "xfile_test_support.h"

namespace {

using xfile_test::CountingAllocator;

// assets/showcase/<name>, found from this file's own path.
std::string AssetPath(const std::string& name) {
  const std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../../assets/showcase/" + name;
}

std::string ReadAsset(const std::string& name) {
  std::ifstream in(AssetPath(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Vertex {
  D3DXVECTOR3 position;
  D3DXVECTOR3 normal;
  D3DXVECTOR2 uv;
};

std::vector<Vertex> Vertices(ID3DXBaseMesh* mesh) {
  std::vector<Vertex> out(mesh->GetNumVertices());
  EXPECT_EQ(mesh->GetNumBytesPerVertex(), sizeof(Vertex));
  void* data = nullptr;
  if (mesh->GetNumBytesPerVertex() != sizeof(Vertex) ||
      FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)))
    return {};
  std::memcpy(out.data(), data, out.size() * sizeof(Vertex));
  mesh->UnlockVertexBuffer();
  return out;
}

std::vector<DWORD> Indices(ID3DXBaseMesh* mesh) {
  std::vector<DWORD> out(size_t(mesh->GetNumFaces()) * 3);
  void* data = nullptr;
  if (FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data))) return {};
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = (mesh->GetOptions() & D3DXMESH_32BIT) ? static_cast<DWORD*>(data)[i]
                                                   : static_cast<WORD*>(data)[i];
  mesh->UnlockIndexBuffer();
  return out;
}

// Faces whose winding (clockwise seen from the front, as Direct3D culls by default) disagrees with
// their vertices' normals: such a face is culled from the side its lighting is meant for.
int FacesAgainstTheirNormals(const std::vector<Vertex>& v, const std::vector<DWORD>& indices) {
  int wrong = 0;
  for (size_t f = 0; f + 2 < indices.size(); f += 3) {
    const Vertex &a = v[indices[f]], &b = v[indices[f + 1]], &c = v[indices[f + 2]];
    const D3DXVECTOR3 ab = b.position - a.position, ac = c.position - a.position;
    D3DXVECTOR3 n;
    D3DXVec3Cross(&n, &ab, &ac);
    const D3DXVECTOR3 normals = a.normal + b.normal + c.normal;
    if (D3DXVec3Dot(&n, &normals) <= 0.0f) ++wrong;
  }
  return wrong;
}

void ExpectUnitNormals(const std::vector<Vertex>& vertices) {
  int bad = 0;
  for (const Vertex& v : vertices)
    if (std::fabs(D3DXVec3Length(&v.normal) - 1.0f) > 1e-3f) ++bad;
  EXPECT_EQ(bad, 0) << "normals that are not unit length";
}

float MinY(const std::vector<D3DXVECTOR3>& points) {
  float y = 1e30f;
  for (const D3DXVECTOR3& p : points) y = std::min(y, p.y);
  return y;
}
float MaxY(const std::vector<D3DXVECTOR3>& points) {
  float y = -1e30f;
  for (const D3DXVECTOR3& p : points) y = std::max(y, p.y);
  return y;
}

// Every named frame's matrix in model space.
void Combine(const D3DXFRAME* f, const D3DXMATRIX& parent, std::map<std::string, D3DXMATRIX>* out) {
  for (; f; f = f->pFrameSibling) {
    const D3DXMATRIX m = f->TransformationMatrix * parent;
    if (f->Name) (*out)[f->Name] = m;
    Combine(f->pFrameFirstChild, m, out);
  }
}

void Containers(D3DXFRAME* f, std::vector<D3DXMESHCONTAINER*>* out) {
  for (; f; f = f->pFrameSibling) {
    for (D3DXMESHCONTAINER* c = f->pMeshContainer; c; c = c->pNextMeshContainer) out->push_back(c);
    Containers(f->pFrameFirstChild, out);
  }
}

D3DXVECTOR3 Origin(const D3DXMATRIX& m) {
  return {m._41, m._42, m._43};
}

class ShowcaseAssetsTest : public d3dx_test::DeviceTest {
 protected:
  // An A8R8G8B8 copy of a PNG's pixels, one level, unfiltered; `info` describes the file.
  IDirect3DTexture9* LoadTexture(const std::string& name, D3DXIMAGE_INFO* info = nullptr) {
    const std::string bytes = ReadAsset(name);
    EXPECT_FALSE(bytes.empty()) << AssetPath(name) << " is missing";
    if (bytes.empty()) return nullptr;
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_, bytes.data(), UINT(bytes.size()),
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 1, 0, D3DFMT_A8R8G8B8,
                                                  D3DPOOL_MANAGED, D3DX_FILTER_NONE,
                                                  D3DX_FILTER_NONE, 0, info, nullptr, &texture),
              D3D_OK)
        << name;
    return texture;
  }

  // Level 0 as 0xAARRGGBB words, rows top first.
  static std::vector<uint32_t> Pixels(IDirect3DTexture9* texture, UINT* width, UINT* height) {
    D3DSURFACE_DESC desc{};
    std::vector<uint32_t> out;
    D3DLOCKED_RECT locked;
    if (FAILED(texture->GetLevelDesc(0, &desc)) ||
        FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) {
      ADD_FAILURE() << "cannot read the texture";
      return out;
    }
    for (UINT y = 0; y < desc.Height; ++y) {
      const auto* row = static_cast<const uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch;
      for (UINT x = 0; x < desc.Width; ++x) {
        uint32_t p;
        std::memcpy(&p, row + 4 * size_t(x), 4);
        out.push_back(p);
      }
    }
    texture->UnlockRect(0);
    *width = desc.Width;
    *height = desc.Height;
    return out;
  }
};

// --- The figure ----------------------------------------------------------------------------------

class FigureTest : public ShowcaseAssetsTest {
 protected:
  void SetUp() override {
    ShowcaseAssetsTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(D3DXLoadMeshHierarchyFromXA(AssetPath("figure.x").c_str(), D3DXMESH_MANAGED, device_,
                                          &alloc_, nullptr, &root_, &controller_),
              D3D_OK);
    ASSERT_NE(root_, nullptr);
    ASSERT_NE(controller_, nullptr) << "the figure has no animation";
    std::vector<D3DXMESHCONTAINER*> containers;
    Containers(root_, &containers);
    ASSERT_EQ(containers.size(), 1u) << "one mesh";
    container_ = containers[0];
    mesh_ = container_->MeshData.pMesh;
    skin_ = container_->pSkinInfo;
    ASSERT_NE(skin_, nullptr) << "the mesh is not skinned";
  }

  void TearDown() override {
    if (controller_) controller_->Release();
    if (root_) {
      EXPECT_EQ(D3DXFrameDestroy(root_, &alloc_), D3D_OK);
    }
    EXPECT_EQ(alloc_.liveFrames, 0);
    EXPECT_EQ(alloc_.liveContainers, 0);
    ShowcaseAssetsTest::TearDown();
  }

  std::map<std::string, D3DXMATRIX> World() const {
    std::map<std::string, D3DXMATRIX> world;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    Combine(root_, identity, &world);
    return world;
  }

  // The mesh's positions skinned by the frames' current matrices.
  std::vector<D3DXVECTOR3> Skinned() const {
    const std::map<std::string, D3DXMATRIX> world = World();
    std::vector<D3DXMATRIX> bones(skin_->GetNumBones());
    for (DWORD b = 0; b < skin_->GetNumBones(); ++b) {
      const auto it = world.find(skin_->GetBoneName(b));
      if (it == world.end()) {
        ADD_FAILURE() << "no frame for bone " << skin_->GetBoneName(b);
        return {};
      }
      bones[b] = *skin_->GetBoneOffsetMatrix(b) * it->second;
    }
    const std::vector<Vertex> src = Vertices(mesh_);
    std::vector<Vertex> dst(src.size());
    EXPECT_EQ(skin_->UpdateSkinnedMesh(bones.data(), nullptr, src.data(), dst.data()), D3D_OK);
    std::vector<D3DXVECTOR3> out;
    for (const Vertex& v : dst) out.push_back(v.position);
    return out;
  }

  // Plays `name` from its start for `seconds`, alone on track 0.
  void Play(const char* name, double seconds) {
    ID3DXAnimationSet* set = nullptr;
    ASSERT_EQ(controller_->GetAnimationSetByName(name, &set), D3D_OK) << name;
    ASSERT_EQ(controller_->SetTrackAnimationSet(0, set), D3D_OK);
    set->Release();
    ASSERT_EQ(controller_->SetTrackEnable(0, TRUE), D3D_OK);
    ASSERT_EQ(controller_->SetTrackPosition(0, 0.0), D3D_OK);
    ASSERT_EQ(controller_->ResetTime(), D3D_OK);
    ASSERT_EQ(controller_->AdvanceTime(seconds, nullptr), D3D_OK);
  }

  double Period(const char* name) {
    ID3DXAnimationSet* set = nullptr;
    if (FAILED(controller_->GetAnimationSetByName(name, &set))) return 0.0;
    const double period = set->GetPeriod();
    set->Release();
    return period;
  }

  CountingAllocator alloc_;
  D3DXFRAME* root_ = nullptr;
  ID3DXAnimationController* controller_ = nullptr;
  D3DXMESHCONTAINER* container_ = nullptr;
  ID3DXMesh* mesh_ = nullptr;
  ID3DXSkinInfo* skin_ = nullptr;
};

TEST_F(FigureTest, MeshHasNormalsTextureCoordinatesAndFacesThatFaceOut) {
  EXPECT_EQ(mesh_->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
  EXPECT_GE(mesh_->GetNumVertices(), 1000u);
  EXPECT_LE(mesh_->GetNumVertices(), 8000u);
  const std::vector<Vertex> vertices = Vertices(mesh_);
  ASSERT_FALSE(vertices.empty());
  ExpectUnitNormals(vertices);
  EXPECT_EQ(FacesAgainstTheirNormals(vertices, Indices(mesh_)), 0);
  std::vector<D3DXVECTOR3> positions;
  for (const Vertex& v : vertices) positions.push_back(v.position);
  EXPECT_NEAR(MinY(positions), 0.0f, 0.005f) << "the figure stands on y = 0";

  ASSERT_GE(container_->NumMaterials, 1u);
  ASSERT_LE(container_->NumMaterials, 3u);
  int textured = 0;
  for (DWORD m = 0; m < container_->NumMaterials; ++m) {
    const char* file = container_->pMaterials[m].pTextureFilename;
    if (!file) continue;
    ++textured;
    IDirect3DTexture9* texture = LoadTexture(file);
    EXPECT_NE(texture, nullptr) << file;
    if (texture) texture->Release();
  }
  EXPECT_GE(textured, 1);
}

TEST_F(FigureTest, EveryBoneIsANamedFrameAndEveryVertexIsWeightedToOne) {
  const DWORD bones = skin_->GetNumBones();
  EXPECT_GE(bones, 8u);
  EXPECT_LE(bones, 20u);
  std::set<std::string> names;
  std::vector<double> sums(mesh_->GetNumVertices(), 0.0);
  std::vector<int> counts(mesh_->GetNumVertices(), 0);
  for (DWORD b = 0; b < bones; ++b) {
    const char* name = skin_->GetBoneName(b);
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(names.insert(name).second) << "two bones named " << name;
    EXPECT_NE(D3DXFrameFind(root_, name), nullptr) << name;
    const DWORD n = skin_->GetNumBoneInfluences(b);
    EXPECT_GT(n, 0u) << name << " moves nothing";
    std::vector<DWORD> vertices(n);
    std::vector<float> weights(n);
    ASSERT_EQ(skin_->GetBoneInfluence(b, vertices.data(), weights.data()), D3D_OK);
    for (DWORD i = 0; i < n; ++i) {
      ASSERT_LT(vertices[i], sums.size());
      EXPECT_GT(weights[i], 0.0f);
      sums[vertices[i]] += weights[i];
      ++counts[vertices[i]];
    }
  }
  int badSums = 0, badCounts = 0;
  for (size_t v = 0; v < sums.size(); ++v) {
    if (std::fabs(sums[v] - 1.0) > 1e-4) ++badSums;
    if (counts[v] < 1 || counts[v] > 4) ++badCounts;
  }
  EXPECT_EQ(badSums, 0) << "vertices whose weights do not sum to 1";
  EXPECT_EQ(badCounts, 0) << "vertices with no influence or more than four";
  DWORD most = 0;
  EXPECT_EQ(skin_->GetMaxVertexInfluences(&most), D3D_OK);
  EXPECT_LE(most, 4u);
}

// With the frames in their file pose (nothing played yet), each offset matrix undoes its bone's
// model-space matrix, so the bind pose skins every vertex onto itself.
TEST_F(FigureTest, OffsetsInvertTheBindPose) {
  const std::map<std::string, D3DXMATRIX> world = World();
  for (DWORD b = 0; b < skin_->GetNumBones(); ++b) {
    const auto it = world.find(skin_->GetBoneName(b));
    ASSERT_NE(it, world.end()) << skin_->GetBoneName(b);
    const D3DXMATRIX product = *skin_->GetBoneOffsetMatrix(b) * it->second;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(product.m[r][c], r == c ? 1.0f : 0.0f, 1e-4f)
            << skin_->GetBoneName(b) << " [" << r << "][" << c << "]";
  }
  const std::vector<D3DXVECTOR3> skinned = Skinned();
  const std::vector<Vertex> source = Vertices(mesh_);
  ASSERT_EQ(skinned.size(), source.size());
  float worst = 0.0f;
  for (size_t v = 0; v < source.size(); ++v) {
    const D3DXVECTOR3 d = skinned[v] - source[v].position;
    worst = std::max(worst, D3DXVec3Length(&d));
  }
  EXPECT_LT(worst, 1e-4f);
}

TEST_F(FigureTest, NamedSetsLoopBackToTheirFirstKeys) {
  EXPECT_GE(controller_->GetNumAnimationSets(), 2u);
  for (const char* name : {"Walk", "Wave"}) {
    ID3DXAnimationSet* set = nullptr;
    ASSERT_EQ(controller_->GetAnimationSetByName(name, &set), D3D_OK) << name;
    EXPECT_STREQ(set->GetName(), name);
    const double period = set->GetPeriod();
    EXPECT_GT(period, 0.1) << name;
    EXPECT_GE(set->GetNumAnimations(), skin_->GetNumBones()) << name << " leaves bones unposed";
    for (UINT a = 0; a < set->GetNumAnimations(); ++a) {
      D3DXVECTOR3 s0, t0, s1, t1;
      D3DXQUATERNION q0, q1;
      ASSERT_EQ(set->GetSRT(0.0, a, &s0, &q0, &t0), D3D_OK);
      ASSERT_EQ(set->GetSRT(period, a, &s1, &q1, &t1), D3D_OK);
      const D3DXVECTOR3 dt = t1 - t0;
      EXPECT_LT(D3DXVec3Length(&dt), 1e-4f) << name << " animation " << a;
      EXPECT_GT(std::fabs(D3DXQuaternionDot(&q0, &q1)), 0.99999f) << name << " animation " << a;
    }
    set->Release();
  }
}

// Over a whole walk cycle: the bones move, the body keeps its size and its feet near the floor,
// and each knee bends backwards (a rotation convention turned round would bend it forwards).
TEST_F(FigureTest, WalkMovesTheLegsLikeLegs) {
  const double period = Period("Walk");
  ASSERT_GT(period, 0.0);
  Play("Walk", 0.0);
  const std::map<std::string, D3DXMATRIX> start = World();
  const std::vector<D3DXVECTOR3> startSkin = Skinned();
  const float height = MaxY(startSkin) - MinY(startSkin);
  EXPECT_GT(height, 1.0f);
  float footGap[2] = {0.0f, 0.0f};
  for (int step = 1; step < 8; ++step) {
    const double t = period * step / 8.0;
    Play("Walk", t);
    const std::map<std::string, D3DXMATRIX> world = World();
    int moved = 0;
    for (const auto& [name, m] : world)
      for (int k = 0; k < 16; ++k)
        if (std::fabs(m.m[k / 4][k % 4] - start.at(name).m[k / 4][k % 4]) > 1e-3f) {
          ++moved;
          break;
        }
    EXPECT_GE(moved, 6) << "at " << t << " s";
    const std::vector<D3DXVECTOR3> skin = Skinned();
    EXPECT_GT(MinY(skin), -0.05f) << "feet through the floor at " << t << " s";
    EXPECT_LT(MinY(skin), 0.12f) << "both feet in the air at " << t << " s";
    EXPECT_NEAR(MaxY(skin) - MinY(skin), height, 0.25f) << "at " << t << " s";
    for (const char* side : {"Left", "Right"}) {
      ASSERT_TRUE(world.count(std::string(side) + "Thigh") &&
                  world.count(std::string(side) + "Shin") &&
                  world.count(std::string(side) + "Foot"));
      const D3DXVECTOR3 hip = Origin(world.at(std::string(side) + "Thigh"));
      const D3DXVECTOR3 knee = Origin(world.at(std::string(side) + "Shin"));
      const D3DXVECTOR3 ankle = Origin(world.at(std::string(side) + "Foot"));
      D3DXVECTOR3 thigh = knee - hip, shin = ankle - knee;
      D3DXVec3Normalize(&thigh, &thigh);
      D3DXVec3Normalize(&shin, &shin);
      // The figure faces -z: a shin bent backwards points further towards +z than its thigh.
      EXPECT_GE(shin.z, thigh.z - 1e-3f) << side << " knee bends forwards at " << t << " s";
    }
    const float gap = Origin(world.at("LeftFoot")).z - Origin(world.at("RightFoot")).z;
    footGap[0] = std::min(footGap[0], gap);
    footGap[1] = std::max(footGap[1], gap);
  }
  EXPECT_LT(footGap[0], -0.15f) << "the left foot never leads";
  EXPECT_GT(footGap[1], 0.15f) << "the right foot never leads";
}

// Halfway through the wave a hand is raised: the figure reaches well above the top of its head as
// it stands at rest, and a wrist is above the head's own joint.
TEST_F(FigureTest, WaveRaisesAHandAboveTheHead) {
  const double period = Period("Wave");
  ASSERT_GT(period, 0.0);
  Play("Wave", 0.0);
  const float restTop = MaxY(Skinned());
  const float restWrist =
      std::max(Origin(World().at("LeftHand")).y, Origin(World().at("RightHand")).y);
  Play("Wave", period / 2.0);
  const std::map<std::string, D3DXMATRIX> world = World();
  const float wrist = std::max(Origin(world.at("LeftHand")).y, Origin(world.at("RightHand")).y);
  EXPECT_GT(wrist, Origin(world.at("Head")).y);
  EXPECT_GT(wrist, restWrist + 0.3f);
  EXPECT_GT(MaxY(Skinned()), restTop + 0.05f);
}

// --- The prop ------------------------------------------------------------------------------------

TEST_F(ShowcaseAssetsTest, PropLoadsWithNormalsTextureCoordinatesAndItsTexture) {
  ID3DXMesh* mesh = nullptr;
  ID3DXBuffer* materials = nullptr;
  DWORD count = 0;
  ASSERT_EQ(D3DXLoadMeshFromXA(AssetPath("prop.x").c_str(), D3DXMESH_MANAGED, device_, nullptr,
                               &materials, nullptr, &count, &mesh),
            D3D_OK);
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
  EXPECT_GT(mesh->GetNumFaces(), 12u);
  const std::vector<Vertex> vertices = Vertices(mesh);
  ExpectUnitNormals(vertices);
  EXPECT_EQ(FacesAgainstTheirNormals(vertices, Indices(mesh)), 0);
  std::vector<D3DXVECTOR3> positions;
  int outside = 0;
  for (const Vertex& v : vertices) {
    positions.push_back(v.position);
    if (!(v.uv.x >= 0.0f && v.uv.x <= 1.0f && v.uv.y >= 0.0f && v.uv.y <= 1.0f)) ++outside;
  }
  EXPECT_EQ(outside, 0) << "texture coordinates outside the picture";
  EXPECT_NEAR(MinY(positions), 0.0f, 1e-4f) << "the prop stands on y = 0";

  ASSERT_GE(count, 1u);
  ASSERT_NE(materials, nullptr);
  const auto* m = static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer());
  for (DWORD i = 0; i < count; ++i) {
    ASSERT_NE(m[i].pTextureFilename, nullptr) << "material " << i << " has no texture";
    D3DXIMAGE_INFO info{};
    IDirect3DTexture9* texture = LoadTexture(m[i].pTextureFilename, &info);
    ASSERT_NE(texture, nullptr) << m[i].pTextureFilename;
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);
    texture->Release();
  }
  materials->Release();
  mesh->Release();
}

// --- The pictures --------------------------------------------------------------------------------

struct Picture {
  const char* name;
  UINT side;
  bool alpha;
};

const Picture kPictures[] = {
    {"floor.png", 256, false}, {"prop.png", 256, false}, {"figure.png", 256, false},
    {"spark0.png", 32, true},  {"spark1.png", 32, true}, {"spark2.png", 32, true},
    {"spark3.png", 32, true},  {"spark4.png", 32, true}, {"spark5.png", 32, true},
    {"spark6.png", 32, true},  {"spark7.png", 32, true}, {"smoke.png", 64, true},
};

// Sprites fade to transparent black before their borders, are opaque enough at the centre, and
// keep every colour channel within alpha (premultiplied, so additive blending adds nothing where
// they are transparent).
TEST_F(ShowcaseAssetsTest, PicturesLoadAtTheirSizesAndSpritesHaveCleanAlpha) {
  std::vector<std::vector<uint32_t>> sparks;
  for (const Picture& p : kPictures) {
    SCOPED_TRACE(p.name);
    D3DXIMAGE_INFO info{};
    IDirect3DTexture9* texture = LoadTexture(p.name, &info);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);
    EXPECT_EQ(info.Width, p.side);
    EXPECT_EQ(info.Height, p.side);
    EXPECT_EQ(info.Format == D3DFMT_A8R8G8B8, p.alpha);
    UINT w = 0, h = 0;
    const std::vector<uint32_t> pixels = Pixels(texture, &w, &h);
    texture->Release();
    ASSERT_EQ(pixels.size(), size_t(p.side) * p.side);
    if (!p.alpha) continue;
    int dirtyBorder = 0, unpremultiplied = 0;
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x) {
        const uint32_t c = pixels[size_t(y) * w + x];
        const uint32_t a = c >> 24;
        if ((x == 0 || y == 0 || x == w - 1 || y == h - 1) && c != 0) ++dirtyBorder;
        if (((c >> 16) & 0xFF) > a || ((c >> 8) & 0xFF) > a || (c & 0xFF) > a) ++unpremultiplied;
      }
    EXPECT_EQ(dirtyBorder, 0);
    EXPECT_EQ(unpremultiplied, 0);
    EXPECT_GT(pixels[size_t(h / 2) * w + w / 2] >> 24, 64u) << "faint at the centre";
    if (std::string(p.name).rfind("spark", 0) == 0) sparks.push_back(pixels);
  }
  ASSERT_EQ(sparks.size(), 8u);
  for (size_t f = 0; f < sparks.size(); ++f)
    EXPECT_NE(sparks[f], sparks[(f + 1) % sparks.size()]) << "spark frames " << f << " and next";
}

// The floor repeats without a visible seam: the step across each wrapped edge, averaged along it,
// is no larger than the median of the same average between neighbouring columns (rows) inside.
TEST_F(ShowcaseAssetsTest, FloorTilesSeamlessly) {
  IDirect3DTexture9* texture = LoadTexture("floor.png");
  ASSERT_NE(texture, nullptr);
  UINT w = 0, h = 0;
  const std::vector<uint32_t> p = Pixels(texture, &w, &h);
  texture->Release();
  ASSERT_EQ(p.size(), size_t(w) * h);
  ASSERT_GT(w, 2u);
  ASSERT_GT(h, 2u);
  auto step = [&p, w](UINT x0, UINT y0, UINT x1, UINT y1) {
    const uint32_t a = p[size_t(y0) * w + x0], b = p[size_t(y1) * w + x1];
    int d = 0;
    for (int s = 0; s < 24; s += 8) d += std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF));
    return d;
  };
  std::vector<double> columns(w), rows(h);  // [i]: between i and i + 1, wrapping at the end
  for (UINT x = 0; x < w; ++x)
    for (UINT y = 0; y < h; ++y) columns[x] += step(x, y, (x + 1) % w, y) / double(h);
  for (UINT y = 0; y < h; ++y)
    for (UINT x = 0; x < w; ++x) rows[y] += step(x, y, x, (y + 1) % h) / double(w);
  auto median = [](std::vector<double> v) {
    v.pop_back();  // the wrapped pair
    std::nth_element(v.begin(), v.begin() + ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  EXPECT_LE(columns.back(), median(columns)) << "a seam where the floor repeats sideways";
  EXPECT_LE(rows.back(), median(rows)) << "a seam where the floor repeats lengthwise";
}

}  // namespace
