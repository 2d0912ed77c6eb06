// prop.x: a wooden barrel, 1 unit tall on y = 0, bulging from a radius of 0.34 at its ends to 0.40
// at its middle, with recessed lids inside a rim. A surface of revolution in smooth runs of rings;
// where two runs meet (the rim's edges) the vertices are doubled so the edge stays sharp.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "assets.h"
#include "xtext.h"

namespace assets {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kHeight = 1.0f;
constexpr float kEndRadius = 0.34f;
constexpr float kMidRadius = 0.40f;
constexpr float kRimWidth = 0.03f;
constexpr float kLidDepth = 0.04f;
constexpr int kAround = 32;

struct ProfilePoint {
  float r, y;    // radius and height
  float nr, ny;  // the normal's outward and upward components
  float v;       // texture row; u runs around
};

float SideRadius(float y) {
  const float t = 2.0f * y / kHeight - 1.0f;
  return kEndRadius + (kMidRadius - kEndRadius) * (1.0f - t * t);
}

// d(radius)/dy, for the side's normals.
float SideSlope(float y) {
  const float t = 2.0f * y / kHeight - 1.0f;
  return (kMidRadius - kEndRadius) * -2.0f * t * 2.0f / kHeight;
}

D3DXVECTOR3 Around(float r, float y, double angle) {
  return {r * static_cast<float>(std::cos(angle)), y, r * static_cast<float>(std::sin(angle))};
}

// Appends `polygon`, turned if needed so that it faces the way its first vertex's normal does.
void AddFacing(MeshBuild* m, std::vector<unsigned> polygon) {
  const D3DXVECTOR3 n =
      FaceNormal(m->positions[polygon[0]], m->positions[polygon[1]], m->positions[polygon[2]]);
  if (D3DXVec3Dot(&n, &m->normals[polygon[0]]) < 0.0f) std::reverse(polygon.begin(), polygon.end());
  m->polygons.push_back(std::move(polygon));
  m->materials.push_back(0);
}

// One smooth run: its rings share vertices, the seam column is doubled for the texture.
void AddRun(MeshBuild* m, const std::vector<ProfilePoint>& run) {
  const unsigned first = static_cast<unsigned>(m->positions.size());
  for (const ProfilePoint& p : run)
    for (int j = 0; j <= kAround; ++j) {
      const double a = 2.0 * kPi * j / kAround;
      m->positions.push_back(Around(p.r, p.y, a));
      D3DXVECTOR3 n = Around(p.nr, p.ny, a);
      Normalize(&n);
      m->normals.push_back(n);
      m->texcoords.push_back({float(j) / kAround, p.v});
    }
  const unsigned columns = kAround + 1;
  for (unsigned i = 0; i + 1 < run.size(); ++i)
    for (unsigned j = 0; j < kAround; ++j) {
      const unsigned a = first + i * columns + j;
      AddFacing(m, {a, a + columns, a + columns + 1, a + 1});
    }
}

// A lid: a disc at height y facing `up`, mapped onto the round lid picture.
void AddLid(MeshBuild* m, float y, float up) {
  const float r = kEndRadius - kRimWidth;
  const unsigned centre = static_cast<unsigned>(m->positions.size());
  m->positions.push_back({0.0f, y, 0.0f});
  m->normals.push_back({0.0f, up, 0.0f});
  m->texcoords.push_back({kPropLidU, kPropLidV});
  for (int j = 0; j < kAround; ++j) {
    const double a = 2.0 * kPi * j / kAround;
    m->positions.push_back(Around(r, y, a));
    m->normals.push_back({0.0f, up, 0.0f});
    m->texcoords.push_back({kPropLidU + kPropLidRadius * static_cast<float>(std::cos(a)),
                            kPropLidV + kPropLidRadius * static_cast<float>(std::sin(a))});
  }
  for (unsigned j = 0; j < kAround; ++j)
    AddFacing(m, {centre, centre + 1 + j, centre + 1 + (j + 1) % kAround});
}

}  // namespace

File MakeProp() {
  MeshBuild m;
  const float inner = kEndRadius - kRimWidth;
  auto sideV = [](float y) {
    return kPropSideTop + (kPropSideBottom - kPropSideTop) * (1.0f - y / kHeight);
  };
  std::vector<ProfilePoint> side;
  for (int i = 0; i <= 16; ++i) {
    const float y = kHeight * i / 16.0f;
    side.push_back({SideRadius(y), y, 1.0f, -SideSlope(y), sideV(y)});
  }
  AddRun(&m, side);
  // The rims (end grain) and the inside of the staves down to each lid.
  const float top = kHeight, bottom = 0.0f;
  AddRun(&m, {{kEndRadius, top, 0, 1, 0.008f}, {inner, top, 0, 1, 0.012f}});
  AddRun(&m, {{inner, top, -1, 0, 0.012f}, {inner, top - kLidDepth, -1, 0, 0.02f}});
  AddRun(&m, {{kEndRadius, bottom, 0, -1, 0.492f}, {inner, bottom, 0, -1, 0.488f}});
  AddRun(&m, {{inner, bottom, -1, 0, 0.488f}, {inner, bottom + kLidDepth, -1, 0, 0.48f}});
  AddLid(&m, top - kLidDepth, 1.0f);
  AddLid(&m, bottom + kLidDepth, -1.0f);

  std::string s =
      "xof 0303txt 0032\n"
      "// A wooden barrel for the 3D showcase, written by tools/make_assets.\n"
      "\n"
      "Header {\n 1;\n 0;\n 1;\n}\n"
      "\n"
      "Frame Prop {\n"
      " FrameTransformMatrix {\n";
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  s += Matrix(identity, "  ") + " }\n";
  const std::string mesh = MeshBody(m, "Barrel") + MaterialList(m, {{"Wood",
                                                                     {1.0f, 1.0f, 1.0f, 1.0f},
                                                                     12.0f,
                                                                     {0.15f, 0.15f, 0.15f},
                                                                     {0, 0, 0},
                                                                     "prop.png"}});
  s += Indented(mesh + "}\n", " ") + "}\n";
  return {"prop.x", std::vector<uint8_t>(s.begin(), s.end())};
}

}  // namespace assets
