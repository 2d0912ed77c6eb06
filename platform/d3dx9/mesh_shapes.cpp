// The D3DX shapes: box, sphere, cylinder, torus, polygon and teapot as managed meshes of
// D3DFVF_XYZ | D3DFVF_NORMAL vertices. Every face is wound clockwise seen from outside (the
// left-handed convention), which is the same as cross(v1 - v0, v2 - v0) pointing outwards.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "win32/com_object.h"
#include "d3d9.h"
#include "d3dx9/mesh.h"
#include "d3dx9core.h"
#include "d3dx9mesh.h"

namespace {

constexpr DWORD kShapeFvf = D3DFVF_XYZ | D3DFVF_NORMAL;
// Larger shapes than this are refused before anything is allocated (the device's buffers are
// smaller still).
constexpr uint64_t kMaxShapeElements = uint64_t{1} << 24;
const float kPi = std::acos(-1.0f);

struct ShapeVertex {
  D3DXVECTOR3 position;
  D3DXVECTOR3 normal;
};
static_assert(sizeof(ShapeVertex) == 24, "XYZ | NORMAL is 24 bytes");

class ShapeBuilder {
 public:
  DWORD Add(const D3DXVECTOR3& position, const D3DXVECTOR3& normal) {
    vertices_.push_back(ShapeVertex{position, normal});
    return static_cast<DWORD>(vertices_.size() - 1);
  }
  void Face(DWORD a, DWORD b, DWORD c) { indices_.insert(indices_.end(), {a, b, c}); }

  // The mesh, one subset (attribute 0) in its attribute table; adjacency from shared positions.
  HRESULT Build(IDirect3DDevice9* device, ID3DXMesh** ppMesh, ID3DXBuffer** ppAdjacency) const {
    const DWORD faces = static_cast<DWORD>(indices_.size() / 3);
    const DWORD count = static_cast<DWORD>(vertices_.size());
    const DWORD options = D3DXMESH_MANAGED | (count > 0xFFFF ? DWORD{D3DXMESH_32BIT} : 0);
    ID3DXMesh* mesh = nullptr;
    HRESULT hr = D3DXCreateMeshFVF(faces, count, options, kShapeFvf, device, &mesh);
    if (FAILED(hr)) return hr;
    void* data = nullptr;
    hr = mesh->LockVertexBuffer(0, &data);
    if (SUCCEEDED(hr)) {
      std::memcpy(data, vertices_.data(), vertices_.size() * sizeof(ShapeVertex));
      mesh->UnlockVertexBuffer();
      hr = mesh->LockIndexBuffer(0, &data);
    }
    if (SUCCEEDED(hr)) {
      if (options & D3DXMESH_32BIT) {
        std::memcpy(data, indices_.data(), indices_.size() * sizeof(DWORD));
      } else {
        auto* out = static_cast<WORD*>(data);
        for (size_t i = 0; i < indices_.size(); ++i) out[i] = static_cast<WORD>(indices_[i]);
      }
      mesh->UnlockIndexBuffer();
      const D3DXATTRIBUTERANGE all = {0, 0, faces, 0, count};
      hr = mesh->SetAttributeTable(&all, 1);
    }
    ID3DXBuffer* adjacency = nullptr;
    if (SUCCEEDED(hr) && ppAdjacency) {
      hr = D3DXCreateBuffer(faces * 3 * sizeof(DWORD), &adjacency);
      if (SUCCEEDED(hr))
        hr = mesh->GenerateAdjacency(0.0f, static_cast<DWORD*>(adjacency->GetBufferPointer()));
    }
    if (FAILED(hr)) {
      SafeRelease(adjacency);
      mesh->Release();
      return hr;
    }
    *ppMesh = mesh;
    if (ppAdjacency) *ppAdjacency = adjacency;
    return D3D_OK;
  }

 private:
  std::vector<ShapeVertex> vertices_;
  std::vector<DWORD> indices_;
};

// The arguments every shape takes. Like D3DX, a refused call leaves the outputs as they were.
HRESULT CheckOutputs(IDirect3DDevice9* device, ID3DXMesh** ppMesh) {
  return device && ppMesh ? D3D_OK : D3DERR_INVALIDCALL;
}

// More faces than a shape may have: 2 * a * b, with a and b checked first so the product cannot
// overflow.
bool TooLarge(uint64_t a, uint64_t b) {
  return a > kMaxShapeElements || b > kMaxShapeElements || 2 * a * b > kMaxShapeElements;
}

bool NonNegative(float v) {
  return v >= 0.0f && std::isfinite(v);
}

// (cos, sin) of `steps` angles evenly round the circle from `start`, turning by `turn` (+1
// anticlockwise seen from +z, -1 clockwise).
std::vector<D3DXVECTOR3> Circle(UINT steps, float start, float turn) {
  std::vector<D3DXVECTOR3> ring(steps);
  for (UINT i = 0; i < steps; ++i) {
    const float a = start + turn * 2.0f * kPi * static_cast<float>(i) / static_cast<float>(steps);
    ring[i] = D3DXVECTOR3(std::cos(a), std::sin(a), 0.0f);
  }
  return ring;
}

}  // namespace

// D3DX's order: faces -x, +y, +x, -y, +z, -z, four corners each, triangles (0, 1, 2) and
// (2, 3, 0) of each face's corners.
HRESULT WINAPI D3DXCreateBox(LPDIRECT3DDEVICE9 pDevice, FLOAT Width, FLOAT Height, FLOAT Depth,
                             LPD3DXMESH* ppMesh, LPD3DXBUFFER* ppAdjacency) {
  HRESULT hr = CheckOutputs(pDevice, ppMesh);
  if (FAILED(hr)) return hr;
  if (!NonNegative(Width) || !NonNegative(Height) || !NonNegative(Depth)) return D3DERR_INVALIDCALL;
  const D3DXVECTOR3 half(Width / 2.0f, Height / 2.0f, Depth / 2.0f);
  // Corner k of a face is n + su u + sv v for the signs below, with u x v = n.
  const D3DXVECTOR3 normals[6] = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0},
                                  {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  const D3DXVECTOR3 uAxes[6] = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {0, 1, 0}};
  const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  ShapeBuilder shape;
  for (int f = 0; f < 6; ++f) {
    const D3DXVECTOR3& n = normals[f];
    const D3DXVECTOR3& u = uAxes[f];
    D3DXVECTOR3 v;
    D3DXVec3Cross(&v, &n, &u);
    DWORD c[4];
    for (int k = 0; k < 4; ++k) {
      const D3DXVECTOR3 p = n + u * corners[k][0] + v * corners[k][1];
      c[k] = shape.Add(D3DXVECTOR3(p.x * half.x, p.y * half.y, p.z * half.z), n);
    }
    shape.Face(c[0], c[1], c[2]);
    shape.Face(c[2], c[3], c[0]);
  }
  return shape.Build(pDevice, ppMesh, ppAdjacency);
}

// D3DX's order: the +z pole, Stacks - 1 rings going down, the -z pole. Each ring starts at +y and
// turns clockwise seen from +z.
HRESULT WINAPI D3DXCreateSphere(LPDIRECT3DDEVICE9 pDevice, FLOAT Radius, UINT Slices, UINT Stacks,
                                LPD3DXMESH* ppMesh, LPD3DXBUFFER* ppAdjacency) {
  HRESULT hr = CheckOutputs(pDevice, ppMesh);
  if (FAILED(hr)) return hr;
  if (!NonNegative(Radius) || Slices < 2 || Stacks < 2) return D3DERR_INVALIDCALL;
  if (TooLarge(Slices, Stacks - 1)) return E_OUTOFMEMORY;
  const std::vector<D3DXVECTOR3> circle = Circle(Slices, kPi / 2.0f, -1.0f);
  ShapeBuilder shape;
  const DWORD top = shape.Add(D3DXVECTOR3(0, 0, Radius), D3DXVECTOR3(0, 0, 1));
  for (UINT stack = 1; stack < Stacks; ++stack) {
    const float phi = kPi * static_cast<float>(stack) / static_cast<float>(Stacks);
    const float ring = std::sin(phi), z = std::cos(phi);
    for (UINT s = 0; s < Slices; ++s) {
      const D3DXVECTOR3 n(circle[s].x * ring, circle[s].y * ring, z);
      shape.Add(n * Radius, n);
    }
  }
  const DWORD bottom = shape.Add(D3DXVECTOR3(0, 0, -Radius), D3DXVECTOR3(0, 0, -1));
  auto at = [&](UINT ring, UINT s) { return 1 + (ring - 1) * Slices + s % Slices; };
  for (UINT s = 0; s < Slices; ++s) shape.Face(top, at(1, s + 1), at(1, s));
  for (UINT ring = 1; ring + 1 < Stacks; ++ring)
    for (UINT s = 0; s < Slices; ++s) {
      shape.Face(at(ring, s), at(ring, s + 1), at(ring + 1, s));
      shape.Face(at(ring, s + 1), at(ring + 1, s + 1), at(ring + 1, s));
    }
  for (UINT s = 0; s < Slices; ++s) shape.Face(at(Stacks - 1, s), at(Stacks - 1, s + 1), bottom);
  return shape.Build(pDevice, ppMesh, ppAdjacency);
}

// D3DX's order: the -z cap's centre and rim, Stacks + 1 rings of the side from -z to +z, the +z
// cap's rim and centre. Rings start at +y and turn clockwise seen from +z.
HRESULT WINAPI D3DXCreateCylinder(LPDIRECT3DDEVICE9 pDevice, FLOAT Radius1, FLOAT Radius2,
                                  FLOAT Length, UINT Slices, UINT Stacks, LPD3DXMESH* ppMesh,
                                  LPD3DXBUFFER* ppAdjacency) {
  HRESULT hr = CheckOutputs(pDevice, ppMesh);
  if (FAILED(hr)) return hr;
  if (!NonNegative(Radius1) || !NonNegative(Radius2) || !NonNegative(Length) || Slices < 2 ||
      Stacks < 1)
    return D3DERR_INVALIDCALL;
  if (TooLarge(Slices, uint64_t{Stacks} + 1)) return E_OUTOFMEMORY;
  const std::vector<D3DXVECTOR3> circle = Circle(Slices, kPi / 2.0f, -1.0f);
  const float z0 = -Length / 2.0f;
  // The side's normal leans towards the narrow end: (cos, sin, (r1 - r2) / length), normalised.
  const float lean = Length > 0.0f ? (Radius1 - Radius2) / Length : 0.0f;
  ShapeBuilder shape;
  const D3DXVECTOR3 down(0, 0, -1), up(0, 0, 1);
  const DWORD bottom = shape.Add(D3DXVECTOR3(0, 0, z0), down);
  for (UINT s = 0; s < Slices; ++s) shape.Add(circle[s] * Radius1 + D3DXVECTOR3(0, 0, z0), down);
  const DWORD side = 1 + Slices;
  for (UINT ring = 0; ring <= Stacks; ++ring) {
    const float t = static_cast<float>(ring) / static_cast<float>(Stacks);
    // The end rings are computed exactly as the caps' rims, so they weld for adjacency.
    const float r = ring == Stacks ? Radius2 : Radius1 + (Radius2 - Radius1) * t;
    const float z = ring == Stacks ? -z0 : z0 + Length * t;
    for (UINT s = 0; s < Slices; ++s) {
      D3DXVECTOR3 n(circle[s].x, circle[s].y, lean);
      D3DXVec3Normalize(&n, &n);
      shape.Add(circle[s] * r + D3DXVECTOR3(0, 0, z), n);
    }
  }
  const DWORD topRim = side + (Stacks + 1) * Slices;
  for (UINT s = 0; s < Slices; ++s) shape.Add(circle[s] * Radius2 + D3DXVECTOR3(0, 0, -z0), up);
  const DWORD top = shape.Add(D3DXVECTOR3(0, 0, -z0), up);

  for (UINT s = 0; s < Slices; ++s) shape.Face(bottom, 1 + s, 1 + (s + 1) % Slices);
  for (UINT ring = 0; ring < Stacks; ++ring)
    for (UINT s = 0; s < Slices; ++s) {
      const DWORD a = side + ring * Slices + s, b = side + ring * Slices + (s + 1) % Slices;
      const DWORD c = a + Slices, d = b + Slices;  // the ring above
      shape.Face(a, c, b);
      shape.Face(b, c, d);
    }
  for (UINT s = 0; s < Slices; ++s) shape.Face(topRim + s, top, topRim + (s + 1) % Slices);
  return shape.Build(pDevice, ppMesh, ppAdjacency);
}

// D3DX's order: Rings rings about z, turning clockwise seen from +z from +x; each of Sides
// vertices round the tube, from the outside edge up over the top.
HRESULT WINAPI D3DXCreateTorus(LPDIRECT3DDEVICE9 pDevice, FLOAT InnerRadius, FLOAT OuterRadius,
                               UINT Sides, UINT Rings, LPD3DXMESH* ppMesh,
                               LPD3DXBUFFER* ppAdjacency) {
  HRESULT hr = CheckOutputs(pDevice, ppMesh);
  if (FAILED(hr)) return hr;
  if (!NonNegative(InnerRadius) || !NonNegative(OuterRadius) || Sides < 3 || Rings < 3)
    return D3DERR_INVALIDCALL;
  if (TooLarge(Sides, Rings)) return E_OUTOFMEMORY;
  const std::vector<D3DXVECTOR3> rings = Circle(Rings, 0.0f, -1.0f), sides = Circle(Sides, 0, 1);
  ShapeBuilder shape;
  for (UINT i = 0; i < Rings; ++i)
    for (UINT j = 0; j < Sides; ++j) {
      const D3DXVECTOR3 n(sides[j].x * rings[i].x, sides[j].x * rings[i].y, sides[j].y);
      const D3DXVECTOR3 centre = rings[i] * OuterRadius;
      shape.Add(centre + n * InnerRadius, n);
    }
  auto at = [&](UINT i, UINT j) { return (i % Rings) * Sides + j % Sides; };
  for (UINT i = 0; i < Rings; ++i)
    for (UINT j = 0; j < Sides; ++j) {
      shape.Face(at(i, j), at(i, j + 1), at(i + 1, j));
      shape.Face(at(i + 1, j), at(i, j + 1), at(i + 1, j + 1));
    }
  return shape.Build(pDevice, ppMesh, ppAdjacency);
}

// D3DX's order: the centre, then the corners anticlockwise seen from +z from +x.
HRESULT WINAPI D3DXCreatePolygon(LPDIRECT3DDEVICE9 pDevice, FLOAT Length, UINT Sides,
                                 LPD3DXMESH* ppMesh, LPD3DXBUFFER* ppAdjacency) {
  HRESULT hr = CheckOutputs(pDevice, ppMesh);
  if (FAILED(hr)) return hr;
  if (!NonNegative(Length) || Sides < 3) return D3DERR_INVALIDCALL;
  if (TooLarge(Sides, 1)) return E_OUTOFMEMORY;
  // Corners on the circle through a regular polygon whose edges are Length long.
  const float radius = Length / (2.0f * std::sin(kPi / static_cast<float>(Sides)));
  const std::vector<D3DXVECTOR3> circle = Circle(Sides, 0.0f, 1.0f);
  const D3DXVECTOR3 n(0, 0, 1);
  ShapeBuilder shape;
  const DWORD centre = shape.Add(D3DXVECTOR3(0, 0, 0), n);
  for (UINT i = 0; i < Sides; ++i) shape.Add(circle[i] * radius, n);
  for (UINT i = 0; i < Sides; ++i) shape.Face(centre, 1 + i, 1 + (i + 1) % Sides);
  return shape.Build(pDevice, ppMesh, ppAdjacency);
}

HRESULT WINAPI D3DXCreateTeapot(LPDIRECT3DDEVICE9 pDevice, LPD3DXMESH* ppMesh,
                                LPD3DXBUFFER* ppAdjacency) {
  HRESULT hr = CheckOutputs(pDevice, ppMesh);
  if (FAILED(hr)) return hr;
  std::vector<D3DXVECTOR3> positions, normals;
  std::vector<DWORD> indices;
  d3dx_mesh::TeapotGeometry(&positions, &normals, &indices);
  ShapeBuilder shape;
  for (size_t i = 0; i < positions.size(); ++i) shape.Add(positions[i], normals[i]);
  for (size_t i = 0; i + 2 < indices.size(); i += 3)
    shape.Face(indices[i], indices[i + 1], indices[i + 2]);
  return shape.Build(pDevice, ppMesh, ppAdjacency);
}
