// figure.x: a small humanoid built from capped tubes and ellipsoids around a skeleton of 19 bones,
// skinned with smooth weights, with a looping "Walk" and a "Wave" that starts and ends at rest.
//
// Model space is Direct3D's: left-handed, y up, feet on y = 0, 1.85 units tall, facing -z (towards
// a camera on the -z side looking along +z). The bind pose is a T-pose because tubes along the
// coordinate axes are simple to build; both animations bring the arms down.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "assets.h"
#include "xtext.h"

namespace assets {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr DWORD kTicksPerSecond = 4800;

float Rad(double degrees) {
  return static_cast<float>(degrees * kPi / 180.0);
}

enum Bone {
  kHips,
  kSpine,
  kChest,
  kNeck,
  kHead,
  kLeftShoulder,
  kLeftUpperArm,
  kLeftForearm,
  kLeftHand,
  kRightShoulder,
  kRightUpperArm,
  kRightForearm,
  kRightHand,
  kLeftThigh,
  kLeftShin,
  kLeftFoot,
  kRightThigh,
  kRightShin,
  kRightFoot,
  kBoneCount
};

struct BoneDef {
  const char* name;
  int parent;
  D3DXVECTOR3 joint;  // bind-pose position in model space
};

// The figure's left is +x (it faces -z).
const std::array<BoneDef, kBoneCount>& Skeleton() {
  static const std::array<BoneDef, kBoneCount> bones = {{
      {"Hips", -1, {0.0f, 0.98f, 0.0f}},
      {"Spine", kHips, {0.0f, 1.12f, 0.0f}},
      {"Chest", kSpine, {0.0f, 1.30f, 0.0f}},
      {"Neck", kChest, {0.0f, 1.50f, 0.0f}},
      {"Head", kNeck, {0.0f, 1.60f, 0.0f}},
      {"LeftShoulder", kChest, {0.05f, 1.44f, 0.0f}},
      {"LeftUpperArm", kLeftShoulder, {0.19f, 1.45f, 0.0f}},
      {"LeftForearm", kLeftUpperArm, {0.46f, 1.45f, 0.0f}},
      {"LeftHand", kLeftForearm, {0.71f, 1.45f, 0.0f}},
      {"RightShoulder", kChest, {-0.05f, 1.44f, 0.0f}},
      {"RightUpperArm", kRightShoulder, {-0.19f, 1.45f, 0.0f}},
      {"RightForearm", kRightUpperArm, {-0.46f, 1.45f, 0.0f}},
      {"RightHand", kRightForearm, {-0.71f, 1.45f, 0.0f}},
      {"LeftThigh", kHips, {0.10f, 0.93f, 0.0f}},
      {"LeftShin", kLeftThigh, {0.10f, 0.52f, 0.0f}},
      {"LeftFoot", kLeftShin, {0.10f, 0.09f, 0.0f}},
      {"RightThigh", kHips, {-0.10f, 0.93f, 0.0f}},
      {"RightShin", kRightThigh, {-0.10f, 0.52f, 0.0f}},
      {"RightFoot", kRightShin, {-0.10f, 0.09f, 0.0f}},
  }};
  return bones;
}

struct Segment {
  D3DXVECTOR3 a, b;
};

// The stretch of model space each bone carries: from its joint to its child's, plus the pelvis
// bar between the hip joints for the hips, so the tops of the thighs blend into them.
std::vector<Segment> Influence(int bone) {
  const auto& s = Skeleton();
  auto joint = [&s](int b) { return s[size_t(b)].joint; };
  switch (bone) {
    case kHips:
      return {{joint(kHips), joint(kSpine)}, {joint(kRightThigh), joint(kLeftThigh)}};
    case kSpine:
      return {{joint(kSpine), joint(kChest)}};
    case kChest:
      return {{joint(kChest), joint(kNeck)}};
    case kNeck:
      return {{joint(kNeck), joint(kHead)}};
    case kHead:
      return {{joint(kHead), joint(kHead) + D3DXVECTOR3(0.0f, 0.24f, 0.0f)}};
    case kLeftHand:
    case kRightHand: {
      const float side = bone == kLeftHand ? 1.0f : -1.0f;
      return {{joint(bone), joint(bone) + D3DXVECTOR3(0.16f * side, 0.0f, 0.0f)}};
    }
    case kLeftFoot:
    case kRightFoot:
      return {{joint(bone), joint(bone) + D3DXVECTOR3(0.0f, -0.06f, -0.16f)}};
    default:
      break;
  }
  for (int child = 0; child < kBoneCount; ++child)
    if (s[size_t(child)].parent == bone) return {{joint(bone), joint(child)}};
  return {};
}

float Distance(const D3DXVECTOR3& p, const Segment& s) {
  const D3DXVECTOR3 ab = s.b - s.a, ap = p - s.a;
  const float len2 = D3DXVec3Dot(&ab, &ab);
  const float t = len2 > 0.0f ? std::clamp(D3DXVec3Dot(&ap, &ab) / len2, 0.0f, 1.0f) : 0.0f;
  const D3DXVECTOR3 d = ap - ab * t;
  return D3DXVec3Length(&d);
}

// --- Shapes --------------------------------------------------------------------------------------

struct Ring {
  float along;   // distance from the piece's start along its axis
  float r1, r2;  // radii along the piece's e1 and e2
};

// One closed shape: rings of vertices around a straight axis. Every ring's vertices share the
// skin weights of the ring's point on the axis, so a limb bends as one piece of tube.
struct Piece {
  D3DXVECTOR3 start, axis, e1, e2;
  std::vector<Ring> rings;
  int around;
  unsigned material;
  float u0, u1, v0, v1;
  std::vector<int> bones;  // those that may move it
  float blend;             // how far a joint's influence reaches into the next bone
};

std::vector<Ring> Ellipsoid(float length, float r1, float r2, int rings) {
  std::vector<Ring> out;
  for (int k = 0; k < rings; ++k) {
    const double a = kPi * k / (rings - 1);
    const float s = k == 0 || k == rings - 1 ? 0.0f : static_cast<float>(std::sin(a));
    out.push_back({static_cast<float>(0.5 * length * (1.0 - std::cos(a))), r1 * s, r2 * s});
  }
  return out;
}

// A tube through control rings (sorted by `along`), sampled `body` times with Catmull-Rom
// interpolation of the radii, closed by half-ellipsoid caps of `cap` rings reaching `startCap`
// before the first control ring and `endCap` beyond the last.
std::vector<Ring> Tube(const std::vector<Ring>& controls, int body, int cap, float startCap,
                       float endCap) {
  std::vector<Ring> out;
  const Ring& first = controls.front();
  const Ring& last = controls.back();
  for (int k = 0; k < cap; ++k) {
    const double phi = 0.5 * kPi * k / cap;
    const float s = static_cast<float>(std::sin(phi));
    out.push_back(
        {first.along - startCap * static_cast<float>(std::cos(phi)), first.r1 * s, first.r2 * s});
  }
  for (int k = 0; k < body; ++k) {
    const float along = first.along + (last.along - first.along) * k / float(body - 1);
    size_t i = 0;
    while (i + 2 < controls.size() && controls[i + 1].along <= along) ++i;
    const Ring& p1 = controls[i];
    const Ring& p2 = controls[i + 1];
    const Ring& p0 = controls[i > 0 ? i - 1 : i];
    const Ring& p3 = controls[std::min(i + 2, controls.size() - 1)];
    const float t = std::clamp((along - p1.along) / (p2.along - p1.along), 0.0f, 1.0f);
    auto spline = [t](float a, float b, float c, float d) {
      return 0.5f * (2.0f * b + (c - a) * t + (2.0f * a - 5.0f * b + 4.0f * c - d) * t * t +
                     (3.0f * b - a - 3.0f * c + d) * t * t * t);
    };
    out.push_back({along, spline(p0.r1, p1.r1, p2.r1, p3.r1), spline(p0.r2, p1.r2, p2.r2, p3.r2)});
  }
  for (int k = cap - 1; k >= 0; --k) {
    const double phi = 0.5 * kPi * k / cap;
    const float s = static_cast<float>(std::sin(phi));
    out.push_back(
        {last.along + endCap * static_cast<float>(std::cos(phi)), last.r1 * s, last.r2 * s});
  }
  return out;
}

// Control rings from absolute coordinates along an axis that starts at `origin`.
std::vector<Ring> Controls(float origin, float direction,
                           std::initializer_list<std::array<float, 3>> rows) {
  std::vector<Ring> out;
  for (const auto& r : rows) out.push_back({(r[0] - origin) * direction, r[1], r[2]});
  return out;
}

enum Material : unsigned { kCloth, kSkin, kDark };

// Texture regions of figure.png: the shirt in the upper half, the trousers in the lower, each kept
// a texel inside its half so that bilinear filtering never reaches the other.
constexpr float kShirtV0 = 0.008f, kShirtV1 = 0.492f, kTrousersV0 = 0.508f, kTrousersV1 = 0.992f;

Piece Shape(const D3DXVECTOR3& start, const D3DXVECTOR3& axis, const D3DXVECTOR3& e1,
            const D3DXVECTOR3& e2, std::vector<Ring> rings, int around, unsigned material,
            std::vector<int> bones, float blend) {
  return {start, axis, e1,   e2,   std::move(rings), around, material,
          0.0f,  1.0f, 0.0f, 1.0f, std::move(bones), blend};
}

Piece Textured(Piece piece, float v0, float v1) {
  piece.v0 = v0;
  piece.v1 = v1;
  return piece;
}

std::vector<Piece> Pieces() {
  const D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
  std::vector<Piece> pieces;
  // The trousers' top, then the shirt a little wider over it.
  pieces.push_back(Textured(
      Shape({0, 0.86f, 0}, y, x, z,
            Tube(Controls(
                     0.86f, 1.0f,
                     {{0.86f, 0.150f, 0.100f}, {0.95f, 0.165f, 0.105f}, {1.04f, 0.150f, 0.100f}}),
                 8, 5, 0.06f, 0.05f),
            28, kCloth, {kHips, kSpine}, 0.07f),
      kTrousersV1, kTrousersV0));
  pieces.push_back(Textured(Shape({0, 1.00f, 0}, y, x, z,
                                  Tube(Controls(1.00f, 1.0f,
                                                {{1.00f, 0.158f, 0.108f},
                                                 {1.10f, 0.150f, 0.100f},
                                                 {1.22f, 0.165f, 0.110f},
                                                 {1.34f, 0.185f, 0.115f},
                                                 {1.44f, 0.190f, 0.105f}}),
                                       20, 7, 0.06f, 0.09f),
                                  28, kCloth, {kHips, kSpine, kChest, kNeck}, 0.1f),
                            kShirtV1, kShirtV0));
  pieces.push_back(
      Shape({0, 1.44f, 0}, y, x, z,
            Tube(Controls(1.44f, 1.0f, {{1.44f, 0.05f, 0.05f}, {1.64f, 0.048f, 0.048f}}), 6, 3,
                 0.03f, 0.03f),
            16, kSkin, {kChest, kNeck, kHead}, 0.05f));
  pieces.push_back(Shape({0, 1.60f, -0.005f}, y, x, z, Ellipsoid(0.24f, 0.095f, 0.11f, 18), 24,
                         kSkin, {kNeck, kHead}, 0.04f));
  // Hair: a cap set up and back from the head, so that only its top and back show.
  pieces.push_back(Shape({0, 1.625f, 0.004f}, y, x, z, Ellipsoid(0.225f, 0.099f, 0.112f, 14), 24,
                         kDark, {kNeck, kHead}, 0.04f));
  // Eyes and nose show which way the figure faces.
  for (float side : {1.0f, -1.0f})
    pieces.push_back(Shape({0.035f * side, 1.74f, -0.081f}, -z, x, y,
                           Ellipsoid(0.034f, 0.017f, 0.017f, 6), 8, kDark, {kHead}, 0.04f));
  pieces.push_back(Shape({0, 1.71f, -0.09f}, -z, x, y, Ellipsoid(0.04f, 0.016f, 0.022f, 6), 8,
                         kSkin, {kHead}, 0.04f));
  for (float side : {1.0f, -1.0f}) {
    const bool left = side > 0.0f;
    const D3DXVECTOR3 out(side, 0, 0);
    const int shoulder = left ? kLeftShoulder : kRightShoulder;
    const int upperArm = left ? kLeftUpperArm : kRightUpperArm;
    const int forearm = left ? kLeftForearm : kRightForearm;
    const int hand = left ? kLeftHand : kRightHand;
    const int thigh = left ? kLeftThigh : kRightThigh;
    const int shin = left ? kLeftShin : kRightShin;
    const int foot = left ? kLeftFoot : kRightFoot;
    pieces.push_back(Textured(Shape({0.10f * side, 1.45f, 0}, out, y, z,
                                    Tube(Controls(0.10f, 1.0f,
                                                  {{0.10f, 0.055f, 0.055f},
                                                   {0.20f, 0.056f, 0.054f},
                                                   {0.33f, 0.050f, 0.048f},
                                                   {0.46f, 0.042f, 0.042f},
                                                   {0.58f, 0.044f, 0.042f},
                                                   {0.72f, 0.036f, 0.033f}}),
                                         20, 4, 0.05f, 0.03f),
                                    18, kCloth, {shoulder, upperArm, forearm, hand}, 0.045f),
                              kShirtV0, kShirtV1));
    pieces.push_back(Shape({0.71f * side, 1.45f, 0}, out, y, z,
                           Ellipsoid(0.16f, 0.028f, 0.046f, 10), 14, kSkin, {forearm, hand},
                           0.03f));
    pieces.push_back(Textured(Shape({0.10f * side, 1.00f, 0}, -y, x, z,
                                    Tube(Controls(1.00f, -1.0f,
                                                  {{1.00f, 0.085f, 0.085f},
                                                   {0.90f, 0.083f, 0.085f},
                                                   {0.70f, 0.068f, 0.070f},
                                                   {0.52f, 0.052f, 0.056f},
                                                   {0.40f, 0.055f, 0.058f},
                                                   {0.16f, 0.040f, 0.042f},
                                                   {0.10f, 0.040f, 0.042f}}),
                                         24, 4, 0.05f, 0.03f),
                                    16, kCloth, {kHips, thigh, shin, foot}, 0.06f),
                              kTrousersV0, kTrousersV1));
    pieces.push_back(Shape({0.10f * side, 0.055f, 0.07f}, -z, x, y,
                           Ellipsoid(0.25f, 0.052f, 0.055f, 12), 14, kDark, {shin, foot}, 0.03f));
  }
  return pieces;
}

// --- The mesh and its weights --------------------------------------------------------------------

struct Influences {
  std::array<int, 4> bone{};
  std::array<int, 4> weight{};  // in ten-thousandths, summing to 10000
  int count = 0;
};

constexpr int kWeightUnit = 10000;

// Weights from the distances of an axis point to each candidate bone: the nearest gets 1, the
// others fall off with how much farther they are, so a joint's two bones meet at one half each.
Influences WeighPoint(const D3DXVECTOR3& p, const Piece& piece) {
  std::vector<std::pair<float, int>> near;  // (distance, bone)
  for (int b : piece.bones) {
    float d = 1e9f;
    for (const Segment& s : Influence(b)) d = std::min(d, Distance(p, s));
    near.push_back({d, b});
  }
  std::stable_sort(near.begin(), near.end());
  std::vector<std::pair<double, int>> raw;
  double total = 0.0;
  for (const auto& [d, b] : near) {
    const double x = (d - near.front().first) / piece.blend;
    const double w = std::exp(-x * x);
    if (w < 0.01 || raw.size() == 4) break;
    raw.push_back({w, b});
    total += w;
  }
  Influences out;
  int sum = 0;
  for (const auto& [w, b] : raw) {
    const int q = static_cast<int>(std::lround(w / total * kWeightUnit));
    if (q == 0) continue;
    out.bone[size_t(out.count)] = b;
    out.weight[size_t(out.count)] = q;
    sum += q;
    ++out.count;
  }
  out.weight[0] += kWeightUnit - sum;  // the rounding remainder to the largest
  return out;
}

struct FigureMesh {
  MeshBuild mesh;
  std::vector<Influences> skin;  // per vertex
};

void AddPiece(const Piece& piece, FigureMesh* fig) {
  MeshBuild& m = fig->mesh;
  const int rings = static_cast<int>(piece.rings.size());
  const int around = piece.around;
  const float length = piece.rings.back().along - piece.rings.front().along;
  const size_t firstVertex = m.positions.size();
  const size_t firstPolygon = m.polygons.size();
  // Every vertex's representative for normal smoothing: a pole ring is one point and the seam
  // column the same as the first.
  std::vector<size_t> ringStart, logical;
  auto isPole = [&piece](int i) { return piece.rings[size_t(i)].r1 == 0.0f; };
  for (int i = 0; i < rings; ++i) {
    const Ring& r = piece.rings[size_t(i)];
    const D3DXVECTOR3 centre = piece.start + piece.axis * r.along;
    const Influences weights = WeighPoint(centre, piece);
    const float v =
        piece.v0 + (piece.v1 - piece.v0) * (r.along - piece.rings.front().along) / length;
    ringStart.push_back(m.positions.size());
    const int columns = isPole(i) ? around : around + 1;
    for (int j = 0; j < columns; ++j) {
      const double a = 2.0 * kPi * j / around;
      const D3DXVECTOR3 p = centre + piece.e1 * (r.r1 * static_cast<float>(std::cos(a))) +
                            piece.e2 * (r.r2 * static_cast<float>(std::sin(a)));
      const float u = isPole(i) ? (j + 0.5f) / around : float(j) / around;
      m.positions.push_back(p);
      m.texcoords.push_back({piece.u0 + (piece.u1 - piece.u0) * u, v});
      fig->skin.push_back(weights);
      logical.push_back(isPole(i) ? ringStart.back()
                                  : (j == around ? ringStart.back() : m.positions.size() - 1));
    }
  }
  auto at = [&](int i, int j) {
    return static_cast<unsigned>(ringStart[size_t(i)] + size_t(isPole(i) ? j % around : j));
  };
  for (int i = 0; i + 1 < rings; ++i)
    for (int j = 0; j < around; ++j) {
      if (isPole(i))
        m.polygons.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      else if (isPole(i + 1))
        m.polygons.push_back({at(i, j), at(i + 1, j), at(i, j + 1)});
      else
        m.polygons.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
      m.materials.push_back(piece.material);
    }
  // Outward and clockwise from outside: decided once on a quad halfway along.
  const std::vector<unsigned>& probe = m.polygons[firstPolygon + size_t(rings / 2) * around];
  const D3DXVECTOR3 n =
      FaceNormal(m.positions[probe[0]], m.positions[probe[1]], m.positions[probe[2]]);
  const D3DXVECTOR3 centre = piece.start + piece.axis * piece.rings[size_t(rings / 2)].along;
  const D3DXVECTOR3 outward = m.positions[probe[0]] - centre;
  if (D3DXVec3Dot(&n, &outward) < 0.0f)
    for (size_t f = firstPolygon; f < m.polygons.size(); ++f)
      std::reverse(m.polygons[f].begin(), m.polygons[f].end());
  // Area-weighted face normals summed on the representatives.
  std::vector<D3DXVECTOR3> sums(m.positions.size() - firstVertex, D3DXVECTOR3(0, 0, 0));
  for (size_t f = firstPolygon; f < m.polygons.size(); ++f) {
    const std::vector<unsigned>& p = m.polygons[f];
    for (size_t k = 1; k + 1 < p.size(); ++k) {
      const D3DXVECTOR3 fn =
          FaceNormal(m.positions[p[0]], m.positions[p[k]], m.positions[p[k + 1]]);
      for (unsigned v : {p[0], p[k], p[k + 1]}) sums[logical[v - firstVertex] - firstVertex] += fn;
    }
  }
  for (size_t v = firstVertex; v < m.positions.size(); ++v) {
    D3DXVECTOR3 normal = sums[logical[v - firstVertex] - firstVertex];
    Normalize(&normal);
    m.normals.push_back(normal);
  }
}

// --- Animation -----------------------------------------------------------------------------------

struct Pose {
  std::array<D3DXMATRIX, kBoneCount> rotation;  // each bone's own, relative to its parent
  D3DXVECTOR3 hips;                             // the hips' position
};

D3DXMATRIX RotX(double degrees) {
  D3DXMATRIX m;
  return *D3DXMatrixRotationX(&m, Rad(degrees));
}
D3DXMATRIX RotY(double degrees) {
  D3DXMATRIX m;
  return *D3DXMatrixRotationY(&m, Rad(degrees));
}
D3DXMATRIX RotZ(double degrees) {
  D3DXMATRIX m;
  return *D3DXMatrixRotationZ(&m, Rad(degrees));
}

// Arms hanging from the T-pose: a positive turn about z lifts +x.
constexpr double kArmDown = 72.0;

Pose RestPose() {
  Pose pose;
  for (D3DXMATRIX& m : pose.rotation) D3DXMatrixIdentity(&m);
  pose.hips = Skeleton()[kHips].joint;
  pose.rotation[kLeftUpperArm] = RotZ(-kArmDown);
  pose.rotation[kRightUpperArm] = RotZ(kArmDown);
  pose.rotation[kLeftForearm] = RotY(12.0);
  pose.rotation[kRightForearm] = RotY(-12.0);
  return pose;
}

// One stride of each leg per cycle, `p` in [0, 1). Row vectors: a bone's rotation applies its
// first factor first, so the arms hang down and then swing.
Pose WalkPose(double p) {
  Pose pose = RestPose();
  const double s = std::sin(2.0 * kPi * p), c = std::cos(2.0 * kPi * p);
  for (int side = 0; side < 2; ++side) {
    const double ls = side == 0 ? s : -s;  // this leg's phase
    const double lc = side == 0 ? c : -c;
    const double thigh = 22.0 * ls;                         // positive swings the leg forward (-z)
    const double knee = -(6.0 + 44.0 * std::max(0.0, lc));  // bent while the leg swings forward
    const double foot = -0.8 * (thigh + knee) + 8.0 * std::max(0.0, -lc);
    pose.rotation[side == 0 ? kLeftThigh : kRightThigh] = RotX(thigh);
    pose.rotation[side == 0 ? kLeftShin : kRightShin] = RotX(knee);
    pose.rotation[side == 0 ? kLeftFoot : kRightFoot] = RotX(foot);
    // Each arm swings against its own side's leg; the elbow bends more when it is in front.
    const double swing = -22.0 * ls;
    const double elbow = 14.0 + 16.0 * std::max(0.0, -ls);
    if (side == 0) {
      pose.rotation[kLeftUpperArm] = RotZ(-kArmDown) * RotX(swing);
      pose.rotation[kLeftForearm] = RotY(elbow);
    } else {
      pose.rotation[kRightUpperArm] = RotZ(kArmDown) * RotX(swing);
      pose.rotation[kRightForearm] = RotY(-elbow);
    }
  }
  // Lowest when both feet are apart, so the straighter leg stays near the floor.
  pose.hips.y += static_cast<float>(-0.03 + 0.03 * std::cos(4.0 * kPi * p));
  pose.rotation[kHips] = RotY(7.0 * s) * RotZ(2.5 * c);
  pose.rotation[kSpine] = RotY(-4.0 * s) * RotX(-3.0);  // leaning into the walk
  pose.rotation[kChest] = RotY(-5.0 * s);
  pose.rotation[kHead] = RotY(2.0 * s) * RotX(2.0 * std::sin(4.0 * kPi * p));
  return pose;
}

double SmoothStep(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

constexpr double kWaveSeconds = 3.0;

// The right arm rises, the hand waves three times, the arm comes back down; `t` in seconds.
Pose WavePose(double t) {
  Pose pose = RestPose();
  const double up = SmoothStep(0.0, 0.6, t) * (1.0 - SmoothStep(2.4, 3.0, t));
  const double wave = std::sin(2.0 * kPi * std::clamp(t - 0.6, 0.0, 1.8) / 0.6) *
                      SmoothStep(0.45, 0.75, t) * (1.0 - SmoothStep(2.25, 2.55, t));
  pose.rotation[kRightShoulder] = RotZ(-10.0 * up);
  // About z, a negative turn lifts -x: from hanging (72) to above the shoulder (-25).
  pose.rotation[kRightUpperArm] = RotZ(kArmDown - 97.0 * up) * RotX(-12.0 * up);
  pose.rotation[kRightForearm] = RotY(-12.0 * (1.0 - up)) * RotZ(up * (-70.0 + 25.0 * wave));
  pose.rotation[kRightHand] = RotZ(15.0 * wave);
  pose.rotation[kChest] = RotZ(3.0 * up);
  pose.rotation[kHead] = RotZ(6.0 * up) * RotX(3.0 * up);
  const double breath = std::sin(2.0 * kPi * t / kWaveSeconds);
  pose.rotation[kSpine] = RotX(1.5 * breath);
  pose.rotation[kLeftUpperArm] = RotZ(-kArmDown) * RotX(3.0 * breath);
  pose.hips.y += static_cast<float>(0.005 * breath);
  return pose;
}

struct AnimationDesc {
  const char* name;
  double seconds;
  int keys;  // evenly spaced, the last at `seconds`
  Pose (*pose)(double seconds, double period);
};

Pose WalkAt(double t, double period) {
  return WalkPose(t / period);
}
Pose WaveAt(double t, double) {
  return WavePose(t);
}

std::string AnimationSetText(const AnimationDesc& desc) {
  const auto& bones = Skeleton();
  std::vector<Pose> poses;
  std::vector<DWORD> times;
  for (int k = 0; k < desc.keys; ++k) {
    const double t = desc.seconds * k / (desc.keys - 1);
    poses.push_back(desc.pose(t, desc.seconds));
    times.push_back(static_cast<DWORD>(std::lround(t * kTicksPerSecond)));
  }
  std::string s = "AnimationSet " + std::string(desc.name) + " {\n";
  for (int b = 0; b < kBoneCount; ++b) {
    s += " Animation {\n  { " + std::string(bones[size_t(b)].name) + " }\n";
    s += "  AnimationKey {\n   0;\n   " + std::to_string(desc.keys) + ";\n";
    D3DXQUATERNION previous(0, 0, 0, 1);
    for (int k = 0; k < desc.keys; ++k) {
      D3DXQUATERNION q;
      D3DXQuaternionRotationMatrix(&q, &poses[size_t(k)].rotation[size_t(b)]);
      D3DXQuaternionNormalize(&q, &q);
      // Neighbouring keys on the same side of the sphere, so that slerp takes the short way.
      if (D3DXQuaternionDot(&q, &previous) < 0.0f) q = -q;
      previous = q;
      s += "   " + std::to_string(times[size_t(k)]) + ";4;" + Num(q.w, 6) + "," + Num(q.x, 6) +
           "," + Num(q.y, 6) + "," + Num(q.z, 6) + (k + 1 == desc.keys ? ";;;\n" : ";;,\n");
    }
    s += "  }\n";
    // Positions: the hips move, every other bone keeps its place under its parent.
    const bool moves = b == kHips;
    const int positions = moves ? desc.keys : 1;
    s += "  AnimationKey {\n   2;\n   " + std::to_string(positions) + ";\n";
    for (int k = 0; k < positions; ++k) {
      const D3DXVECTOR3 at =
          moves ? poses[size_t(k)].hips
                : bones[size_t(b)].joint - bones[size_t(bones[size_t(b)].parent)].joint;
      s += "   " + std::to_string(times[size_t(k)]) + ";3;" + Num(at.x, 5) + "," + Num(at.y, 5) +
           "," + Num(at.z, 5) + (k + 1 == positions ? ";;;\n" : ";;,\n");
    }
    s += "  }\n  AnimationOptions {\n   0;\n   1;\n  }\n }\n";
  }
  return s + "}\n";
}

// --- Frames --------------------------------------------------------------------------------------

D3DXMATRIX LocalBind(int b) {
  const auto& bones = Skeleton();
  const D3DXVECTOR3 parent = bones[size_t(b)].parent < 0
                                 ? D3DXVECTOR3(0, 0, 0)
                                 : bones[size_t(bones[size_t(b)].parent)].joint;
  const D3DXVECTOR3 d = bones[size_t(b)].joint - parent;
  D3DXMATRIX m;
  return *D3DXMatrixTranslation(&m, d.x, d.y, d.z);
}

// The bind pose's model-space matrix of a bone: its own and its parents' matrices combined.
D3DXMATRIX CombinedBind(int b) {
  D3DXMATRIX m = LocalBind(b);
  for (int p = Skeleton()[size_t(b)].parent; p >= 0; p = Skeleton()[size_t(p)].parent)
    m = m * LocalBind(p);
  return m;
}

void FrameText(int b, const std::string& indent, std::string* s) {
  *s += indent + "Frame " + Skeleton()[size_t(b)].name + " {\n" + indent +
        " FrameTransformMatrix {\n" + Matrix(LocalBind(b), indent + "  ") + indent + " }\n";
  for (int c = 0; c < kBoneCount; ++c)
    if (Skeleton()[size_t(c)].parent == b) FrameText(c, indent + " ", s);
  *s += indent + "}\n";
}

std::string SkinText(const FigureMesh& fig, FigureStats* stats) {
  const auto& bones = Skeleton();
  int maxPerVertex = 0, maxPerFace = 0;
  for (const Influences& in : fig.skin) {
    maxPerVertex = std::max(maxPerVertex, in.count);
    ++stats->influencesByCount[in.count];
  }
  // Per face as the loader splits polygons: fans from the first corner.
  for (const std::vector<unsigned>& p : fig.mesh.polygons)
    for (size_t k = 1; k + 1 < p.size(); ++k) {
      std::vector<int> used;
      for (unsigned v : {p[0], p[k], p[k + 1]})
        for (int i = 0; i < fig.skin[v].count; ++i) used.push_back(fig.skin[v].bone[size_t(i)]);
      std::sort(used.begin(), used.end());
      maxPerFace = std::max(maxPerFace, int(std::unique(used.begin(), used.end()) - used.begin()));
    }
  stats->maxPerFace = maxPerFace;
  std::string s = " XSkinMeshHeader {\n  " + std::to_string(maxPerVertex) + ";\n  " +
                  std::to_string(maxPerFace) + ";\n  " + std::to_string(kBoneCount) + ";\n }\n";
  for (int b = 0; b < kBoneCount; ++b) {
    std::vector<std::pair<size_t, int>> influenced;
    for (size_t v = 0; v < fig.skin.size(); ++v)
      for (int i = 0; i < fig.skin[v].count; ++i)
        if (fig.skin[v].bone[size_t(i)] == b)
          influenced.push_back({v, fig.skin[v].weight[size_t(i)]});
    s += " SkinWeights {\n  \"" + std::string(bones[size_t(b)].name) + "\";\n  " +
         std::to_string(influenced.size()) + ";\n";
    for (size_t i = 0; i < influenced.size(); ++i)
      s += (i % 16 == 0 ? "  " : "") + std::to_string(influenced[i].first) +
           (i + 1 == influenced.size() ? ";\n" : (i % 16 == 15 ? ",\n" : ","));
    for (size_t i = 0; i < influenced.size(); ++i)
      s += (i % 16 == 0 ? "  " : "") + Num(influenced[i].second / double(kWeightUnit)) +
           (i + 1 == influenced.size() ? ";\n" : (i % 16 == 15 ? ",\n" : ","));
    D3DXMATRIX offset;
    const D3DXMATRIX bind = CombinedBind(b);
    D3DXMatrixInverse(&offset, nullptr, &bind);
    s += Matrix(offset, "  ") + " }\n";
  }
  return s;
}

}  // namespace

File MakeFigure(FigureStats* stats) {
  *stats = FigureStats{};
  FigureMesh fig;
  for (const Piece& piece : Pieces()) AddPiece(piece, &fig);
  stats->vertices = fig.mesh.positions.size();
  stats->bones = kBoneCount;
  for (const std::vector<unsigned>& p : fig.mesh.polygons) stats->faces += p.size() - 2;

  std::string s =
      "xof 0303txt 0032\n"
      "// A small humanoid for the 3D showcase, written by tools/make_assets.\n"
      "\n"
      "template XSkinMeshHeader {\n"
      " <3CF169CE-FF7C-44ab-93C0-F78F62D172E2>\n"
      " WORD nMaxSkinWeightsPerVertex;\n"
      " WORD nMaxSkinWeightsPerFace;\n"
      " WORD nBones;\n"
      "}\n"
      "\n"
      "template SkinWeights {\n"
      " <6F0D123B-BAD2-4167-A0D0-80224F25FABB>\n"
      " STRING transformNodeName;\n"
      " DWORD nWeights;\n"
      " array DWORD vertexIndices[nWeights];\n"
      " array FLOAT weights[nWeights];\n"
      " Matrix4x4 matrixOffset;\n"
      "}\n"
      "\n"
      "template AnimTicksPerSecond {\n"
      " <9E415A43-7BA6-4a73-8743-B73D47E88476>\n"
      " DWORD AnimTicksPerSecond;\n"
      "}\n"
      "\n"
      "Header {\n 1;\n 0;\n 1;\n}\n"
      "\n"
      "AnimTicksPerSecond {\n " +
      std::to_string(kTicksPerSecond) +
      ";\n}\n"
      "\n"
      "Frame Figure {\n"
      " FrameTransformMatrix {\n";
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  s += Matrix(identity, "  ") + " }\n";
  std::string mesh = MeshBody(fig.mesh, "Body");
  const std::vector<MaterialDesc> materials = {
      {"Cloth", {1.0f, 1.0f, 1.0f, 1.0f}, 8.0f, {0.1f, 0.1f, 0.1f}, {0, 0, 0}, "figure.png"},
      {"Skin", {0.93f, 0.72f, 0.58f, 1.0f}, 16.0f, {0.25f, 0.22f, 0.2f}, {0, 0, 0}, nullptr},
      {"Dark", {0.16f, 0.13f, 0.12f, 1.0f}, 24.0f, {0.4f, 0.4f, 0.4f}, {0, 0, 0}, nullptr},
  };
  mesh += MaterialList(fig.mesh, materials);
  mesh += SkinText(fig, stats);
  s += Indented(mesh + "}\n", " ");
  FrameText(kHips, " ", &s);
  s += "}\n\n";
  s += AnimationSetText({"Walk", 1.0, 17, WalkAt});
  s += "\n";
  s += AnimationSetText({"Wave", kWaveSeconds, 31, WaveAt});
  return {"figure.x", std::vector<uint8_t>(s.begin(), s.end())};
}

}  // namespace assets
