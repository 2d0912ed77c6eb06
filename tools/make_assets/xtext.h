// Writing the text form of .x files: numbers in a fixed, compact notation (so the output does not
// depend on locale or on how a printf rounds a trailing digit differently), and the mesh pieces
// both .x generators share.
#pragma once

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "d3dx9.h"

namespace assets {

// `v` with at most `decimals` digits after the point, trailing zeros dropped but one kept
// ("1.0", "-0.25"), and never "-0.0".
inline std::string Num(double v, int decimals = 4) {
  long long scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  long long q = std::llround(v * static_cast<double>(scale));
  if (q == 0) return "0.0";
  const std::string sign = q < 0 ? "-" : "";
  q = std::llabs(q);
  std::string digits = std::to_string(q % scale);
  digits.insert(0, static_cast<size_t>(decimals) - digits.size(), '0');
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return sign + std::to_string(q / scale) + "." + digits;
}

// `text` with `pad` before each of its lines, for objects nested in a frame.
inline std::string Indented(const std::string& text, const std::string& pad) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    const size_t stop = end == std::string::npos ? text.size() : end + 1;
    out += pad;
    out.append(text, start, stop - start);
    start = stop;
  }
  return out;
}

inline std::string Vec3(const D3DXVECTOR3& v, int decimals = 4) {
  return Num(v.x, decimals) + ";" + Num(v.y, decimals) + ";" + Num(v.z, decimals) + ";";
}

// The sixteen values of a matrix as a Matrix4x4 (array and template terminators included).
inline std::string Matrix(const D3DXMATRIX& m, const std::string& indent) {
  std::string s;
  for (int r = 0; r < 4; ++r) {
    s += indent;
    for (int c = 0; c < 4; ++c) {
      s += Num(m.m[r][c], 6);
      s += (r == 3 && c == 3) ? ";;\n" : (c == 3 ? ",\n" : ",");
    }
  }
  return s;
}

// A mesh as the generators build it: vertices with one normal and texture coordinate each,
// polygons (triangles and quads) indexing them, and a material per polygon.
struct MeshBuild {
  std::vector<D3DXVECTOR3> positions;
  std::vector<D3DXVECTOR3> normals;
  std::vector<D3DXVECTOR2> texcoords;
  std::vector<std::vector<unsigned>> polygons;
  std::vector<unsigned> materials;
};

// The Mesh's own data and its MeshNormals and MeshTextureCoords children (normal i belongs to
// vertex i, so the loader never has to split a vertex). The caller appends further children
// and the closing brace.
inline std::string MeshBody(const MeshBuild& m, const std::string& name) {
  std::string s = "Mesh " + name + " {\n " + std::to_string(m.positions.size()) + ";\n";
  for (size_t i = 0; i < m.positions.size(); ++i)
    s += " " + Vec3(m.positions[i]) + (i + 1 == m.positions.size() ? ";\n" : ",\n");
  auto faces = [&m](const char* pad, std::string* out) {
    *out += pad + std::to_string(m.polygons.size()) + ";\n";
    for (size_t f = 0; f < m.polygons.size(); ++f) {
      const std::vector<unsigned>& p = m.polygons[f];
      *out += pad + std::to_string(p.size()) + ";";
      for (size_t k = 0; k < p.size(); ++k)
        *out += std::to_string(p[k]) + (k + 1 == p.size() ? ";" : ",");
      *out += f + 1 == m.polygons.size() ? ";\n" : ",\n";
    }
  };
  faces(" ", &s);
  s += " MeshNormals {\n  " + std::to_string(m.normals.size()) + ";\n";
  for (size_t i = 0; i < m.normals.size(); ++i)
    s += "  " + Vec3(m.normals[i]) + (i + 1 == m.normals.size() ? ";\n" : ",\n");
  faces("  ", &s);
  s += " }\n MeshTextureCoords {\n  " + std::to_string(m.texcoords.size()) + ";\n";
  for (size_t i = 0; i < m.texcoords.size(); ++i)
    s += "  " + Num(m.texcoords[i].x) + ";" + Num(m.texcoords[i].y) + ";" +
         (i + 1 == m.texcoords.size() ? ";\n" : ",\n");
  s += " }\n";
  return s;
}

struct MaterialDesc {
  const char* name;
  float diffuse[4];
  float power;
  float specular[3];
  float emissive[3];
  const char* texture;  // null for none
};

// MeshMaterialList with its Material objects, polygon i using material m.materials[i].
inline std::string MaterialList(const MeshBuild& m, const std::vector<MaterialDesc>& descs) {
  std::string s = " MeshMaterialList {\n  " + std::to_string(descs.size()) + ";\n  " +
                  std::to_string(m.materials.size()) + ";\n  ";
  for (size_t f = 0; f < m.materials.size(); ++f) {
    s += std::to_string(m.materials[f]);
    s += f + 1 == m.materials.size() ? ";;\n" : ((f + 1) % 32 == 0 ? ",\n  " : ",");
  }
  for (const MaterialDesc& d : descs) {
    s += "  Material " + std::string(d.name) + " {\n   ";
    for (int i = 0; i < 4; ++i) s += Num(d.diffuse[i]) + (i == 3 ? ";;\n" : ";");
    s += "   " + Num(d.power) + ";\n   ";
    for (int i = 0; i < 3; ++i) s += Num(d.specular[i]) + (i == 2 ? ";;\n" : ";");
    s += "   ";
    for (int i = 0; i < 3; ++i) s += Num(d.emissive[i]) + (i == 2 ? ";;\n" : ";");
    if (d.texture) s += "   TextureFilename {\n    \"" + std::string(d.texture) + "\";\n   }\n";
    s += "  }\n";
  }
  return s + " }\n";
}

inline void Normalize(D3DXVECTOR3* v) {
  const float len = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
  if (len > 0.0f) *v = *v / len;
}

// The outward normal of a polygon whose front face is clockwise seen from outside, as Direct3D
// culls by default: (b - a) x (c - a).
inline D3DXVECTOR3 FaceNormal(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& c) {
  D3DXVECTOR3 n;
  const D3DXVECTOR3 ab = b - a, ac = c - a;
  D3DXVec3Cross(&n, &ab, &ac);
  return n;
}

}  // namespace assets
