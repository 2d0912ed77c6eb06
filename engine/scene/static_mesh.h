// Meshes: loaded from .x files or made as D3DX shapes, placed, turned, scaled, hung below other
// meshes, hidden, blended, bump-mapped, given materials and textures per subset, and culled by
// bounds. Every operation first finds the mesh (and any texture or parent handed to it) in its
// list and does nothing (result 0) when it is not there; a refused call changes nothing.
//
// Subsets: a mesh loaded with materials draws one subset per material, each with a texture
// record of its own that holds the subset's material and picture (made by the mesh, released
// with it). A mesh without them (every shape) draws subset 0 with its own material until
// SetMeshTexture or SetMeshMaterial gives it subsets.
#pragma once

#include <cstdint>

#include "engine/scene/mesh_pass.h"
#include "engine/scene/scene_records.h"
#include "engine/twod/twod_records.h"

// Segment counts of the round shapes may not exceed this.
constexpr int32_t kMaxShapeSegments = 1024;

// The meshes of an .x file (text, binary or compressed), merged into one managed mesh, with one
// subset per material. Texture files the materials name are looked for beside the .x file, then
// as named; a picture that cannot be read leaves its subset untextured and sets LastError 18,
// but the mesh is made. Normals are computed when the file has none. Bounds: a sphere computed
// from the vertices. 0 and LastError 20 (LastErrorText names the file and the reason) for a file
// that is missing, malformed or holds no mesh; 0 without a device.
Mesh* LoadMesh(const char* fileName);

// D3DX shapes, centred on the origin, bounded by a sphere computed from their vertices. Sizes
// must be finite and not negative; counts at most kMaxShapeSegments and at least: sphere slices
// and stacks 2, cylinder slices 2 and stacks 1, torus sides and rings 3, polygon sides 3. 0 for
// refused arguments or without a device; 0 and LastError 20 when D3DX fails.
Mesh* CreateBoxMesh(float width, float height, float depth);
Mesh* CreateSphereMesh(float radius, int32_t slices, int32_t stacks);
Mesh* CreateCylinderMesh(float radius1, float radius2, float length, int32_t slices,
                         int32_t stacks);
Mesh* CreateTorusMesh(float innerRadius, float outerRadius, int32_t sides, int32_t rings);
Mesh* CreateTeapotMesh();
Mesh* CreatePolygonMesh(float length, int32_t sides);
// A floor: `width` along x by `depth` along z in the y = 0 plane, centred on the origin, facing +y,
// of `divisions` (1 .. kMaxShapeSegments) squares per side; position, normal and texture
// coordinates running from 0 to `textureRepeat` across each side, so a picture repeats that often.
// Refused and failing as the D3DX shapes.
Mesh* CreatePlaneMesh(float width, float depth, int32_t divisions, float textureRepeat);

// The translation of the mesh's world transform (below its parent's when it has one).
int PositionMesh(Mesh* mesh, float x, float y, float z);
// Turns the mesh to yaw, pitch and roll in degrees (not added to the previous angles); children
// follow these angles. The scale is kept.
int RotateMesh(Mesh* mesh, float yawDegrees, float pitchDegrees, float rollDegrees);
// Scales the mesh along its own axes (factors finite and not 0); children do not inherit it.
int ScaleMesh(Mesh* mesh, float x, float y, float z);
// Extra angles a mesh gives its children, turned before its own.
int SetMeshOffsetAngles(Mesh* mesh, float yawDegrees, float pitchDegrees, float rollDegrees);
// Hangs `mesh` below `parent` (null: detaches it): it is then placed by its parent's angles and
// position. `positionOnly` non-zero takes only the parent's position. 0 when the parent is the
// mesh itself or hangs below it.
int AttachMesh(Mesh* mesh, Mesh* parent, int32_t positionOnly);
int HideMesh(Mesh* mesh);
int ShowMesh(Mesh* mesh);
// 0 opaque, 1 additive, 2 alpha blended, 3 additive scaled by `factor` (0xAARRGGBB); other modes
// are refused.
int SetMeshBlendMode(Mesh* mesh, int32_t mode, uint32_t factor);
// The DOT3 normal map drawn with subset 0 (null: none). 0 for a texture that is not listed.
int SetMeshBumpTexture(Mesh* mesh, Texture* texture);
// Subset `subset`'s picture becomes the texture's (null: untextured); the mesh keeps its own
// reference, and the subset its material. 0 for a subset the mesh does not have.
int SetMeshTexture(Mesh* mesh, int32_t subset, Texture* texture);
// A subset's material (colours 0xAARRGGBB, specular power 0 or more); subset -1 is the mesh's own
// material. 0 for a subset the mesh does not have.
int SetMeshMaterial(Mesh* mesh, int32_t subset, uint32_t diffuse, uint32_t ambient,
                    uint32_t specular, uint32_t emissive, float power);
// How many subsets the mesh draws from: its attribute ids' count. 0 for an unknown mesh.
int MeshSubsetCount(Mesh* mesh);
// Which bounds culling uses: 0 none (never culled), 1 sphere, 2 box. Both start as computed from
// the vertices; they turn and scale with the mesh.
int SetMeshBoundsKind(Mesh* mesh, int32_t kind);
// Bounds of your own, in the mesh's unscaled, unturned space; they become the kind in use.
int SetMeshBoundingSphere(Mesh* mesh, float x, float y, float z, float radius);
int SetMeshBoundingBox(Mesh* mesh, float x, float y, float z, float halfX, float halfY,
                       float halfZ);

// Releases the mesh, the subset textures it made, and removes it from MeshList. Its children are
// detached and keep their own placement. 1, or 0 for a mesh that is not listed.
int ReleaseMesh(Mesh* mesh);

// Forgets the meshes' side state (the engine is shutting down); the records go with the lists.
void DiscardMeshState();
