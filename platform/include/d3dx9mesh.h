// D3DX 9 meshes: ID3DXBaseMesh and ID3DXMesh, vertex declarations from and to FVF codes, mesh
// creation, normals, bounds and ray tests, and the simple shapes (box, sphere, cylinder, torus,
// polygon, teapot) that D3DX keeps in d3dx9shape.h.
#pragma once

#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9math.h"

extern const IID IID_ID3DXBaseMesh;
extern const IID IID_ID3DXMesh;

// --- D3DX error codes (facility 0x876); d3dx9tex.h carries the same block ----------------------
#ifndef D3DXERR_INVALIDDATA
#define D3DXERR_CANNOTMODIFYINDEXBUFFER ((HRESULT)0x88760B54)
#define D3DXERR_INVALIDMESH ((HRESULT)0x88760B55)
#define D3DXERR_CANNOTATTRSORT ((HRESULT)0x88760B56)
#define D3DXERR_SKINNINGNOTSUPPORTED ((HRESULT)0x88760B57)
#define D3DXERR_TOOMANYINFLUENCES ((HRESULT)0x88760B58)
#define D3DXERR_INVALIDDATA ((HRESULT)0x88760B59)
#define D3DXERR_LOADEDMESHASNODATA ((HRESULT)0x88760B5A)
#define D3DXERR_DUPLICATENAMEDFRAGMENT ((HRESULT)0x88760B5B)
#define D3DXERR_CANNOTREMOVELASTITEM ((HRESULT)0x88760B5C)
#endif

#define UNUSED16 (0xffff)
#define UNUSED32 (0xffffffff)

// Creation options: the low three bytes; the top byte belongs to the D3DXMESHOPT flags.
enum _D3DXMESH {
  D3DXMESH_32BIT = 0x001,
  D3DXMESH_DONOTCLIP = 0x002,
  D3DXMESH_POINTS = 0x004,
  D3DXMESH_RTPATCHES = 0x008,
  D3DXMESH_NPATCHES = 0x4000,
  D3DXMESH_VB_SYSTEMMEM = 0x010,
  D3DXMESH_VB_MANAGED = 0x020,
  D3DXMESH_VB_WRITEONLY = 0x040,
  D3DXMESH_VB_DYNAMIC = 0x080,
  D3DXMESH_VB_SOFTWAREPROCESSING = 0x8000,
  D3DXMESH_IB_SYSTEMMEM = 0x100,
  D3DXMESH_IB_MANAGED = 0x200,
  D3DXMESH_IB_WRITEONLY = 0x400,
  D3DXMESH_IB_DYNAMIC = 0x800,
  D3DXMESH_IB_SOFTWAREPROCESSING = 0x10000,
  D3DXMESH_VB_SHARE = 0x1000,
  D3DXMESH_USEHWONLY = 0x2000,
  D3DXMESH_SYSTEMMEM = 0x110,
  D3DXMESH_MANAGED = 0x220,
  D3DXMESH_WRITEONLY = 0x440,
  D3DXMESH_DYNAMIC = 0x880,
  D3DXMESH_SOFTWAREPROCESSING = 0x18000,
};

enum _D3DXMESHOPT {
  D3DXMESHOPT_COMPACT = 0x01000000,
  D3DXMESHOPT_ATTRSORT = 0x02000000,
  D3DXMESHOPT_VERTEXCACHE = 0x04000000,
  D3DXMESHOPT_STRIPREORDER = 0x08000000,
  D3DXMESHOPT_IGNOREVERTS = 0x10000000,
  D3DXMESHOPT_DONOTSPLIT = 0x20000000,
  D3DXMESHOPT_DEVICEINDEPENDENT = 0x00400000,
};

enum _MAX_FVF_DECL_SIZE {
  MAX_FVF_DECL_SIZE = MAXD3DDECLLENGTH + 1  // the elements and D3DDECL_END
};

typedef struct ID3DXBaseMesh* LPD3DXBASEMESH;
typedef struct ID3DXMesh* LPD3DXMESH;

// One subset of a mesh: its faces are [FaceStart, FaceStart + FaceCount) and they index only the
// vertices [VertexStart, VertexStart + VertexCount).
typedef struct _D3DXATTRIBUTERANGE {
  DWORD AttribId;
  DWORD FaceStart;
  DWORD FaceCount;
  DWORD VertexStart;
  DWORD VertexCount;
} D3DXATTRIBUTERANGE, *LPD3DXATTRIBUTERANGE;

typedef struct _D3DXINTERSECTINFO {
  DWORD FaceIndex;
  FLOAT U;
  FLOAT V;
  FLOAT Dist;
} D3DXINTERSECTINFO, *LPD3DXINTERSECTINFO;

// --- ID3DXBaseMesh / ID3DXMesh -------------------------------------------------------------------
// Faces are triangle lists of 16-bit indices (32-bit with D3DXMESH_32BIT), one attribute DWORD
// per face. Adjacency arrays hold three DWORDs per face, the neighbours across the edges (v0, v1),
// (v1, v2) and (v2, v0), 0xFFFFFFFF where there is none.
DECLARE_INTERFACE_(ID3DXBaseMesh, IUnknown) {
  STDMETHOD(DrawSubset)(DWORD AttribId) PURE;
  STDMETHOD_(DWORD, GetNumFaces)() PURE;
  STDMETHOD_(DWORD, GetNumVertices)() PURE;
  STDMETHOD_(DWORD, GetFVF)() PURE;
  STDMETHOD(GetDeclaration)(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) PURE;
  STDMETHOD_(DWORD, GetNumBytesPerVertex)() PURE;
  STDMETHOD_(DWORD, GetOptions)() PURE;
  STDMETHOD(GetDevice)(LPDIRECT3DDEVICE9 * ppDevice) PURE;
  STDMETHOD(CloneMeshFVF)
  (DWORD Options, DWORD FVF, LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXMESH * ppCloneMesh) PURE;
  STDMETHOD(CloneMesh)
  (DWORD Options, const D3DVERTEXELEMENT9* pDeclaration, LPDIRECT3DDEVICE9 pD3DDevice,
   LPD3DXMESH* ppCloneMesh) PURE;
  STDMETHOD(GetVertexBuffer)(LPDIRECT3DVERTEXBUFFER9 * ppVB) PURE;
  STDMETHOD(GetIndexBuffer)(LPDIRECT3DINDEXBUFFER9 * ppIB) PURE;
  STDMETHOD(LockVertexBuffer)(DWORD Flags, LPVOID * ppData) PURE;
  STDMETHOD(UnlockVertexBuffer)() PURE;
  STDMETHOD(LockIndexBuffer)(DWORD Flags, LPVOID * ppData) PURE;
  STDMETHOD(UnlockIndexBuffer)() PURE;
  STDMETHOD(GetAttributeTable)(D3DXATTRIBUTERANGE * pAttribTable, DWORD * pAttribTableSize) PURE;
  STDMETHOD(ConvertPointRepsToAdjacency)(const DWORD* pPRep, DWORD* pAdjacency) PURE;
  STDMETHOD(ConvertAdjacencyToPointReps)(const DWORD* pAdjacency, DWORD* pPRep) PURE;
  STDMETHOD(GenerateAdjacency)(FLOAT Epsilon, DWORD * pAdjacency) PURE;
  STDMETHOD(UpdateSemantics)(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) PURE;
};

DECLARE_INTERFACE_(ID3DXMesh, ID3DXBaseMesh) {
  STDMETHOD(LockAttributeBuffer)(DWORD Flags, DWORD * *ppData) PURE;
  STDMETHOD(UnlockAttributeBuffer)() PURE;
  STDMETHOD(Optimize)
  (DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
   LPD3DXBUFFER* ppVertexRemap, LPD3DXMESH* ppOptMesh) PURE;
  STDMETHOD(OptimizeInplace)
  (DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
   LPD3DXBUFFER* ppVertexRemap) PURE;
  STDMETHOD(SetAttributeTable)(const D3DXATTRIBUTERANGE* pAttribTable, DWORD cAttribTableSize) PURE;
};

// --- Creation ------------------------------------------------------------------------------------
HRESULT WINAPI D3DXCreateMesh(DWORD NumFaces, DWORD NumVertices, DWORD Options,
                              const D3DVERTEXELEMENT9* pDeclaration, LPDIRECT3DDEVICE9 pD3DDevice,
                              LPD3DXMESH* ppMesh);
HRESULT WINAPI D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                                 LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXMESH* ppMesh);

// --- Vertex declarations and FVF codes -----------------------------------------------------------
HRESULT WINAPI D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]);
// D3DERR_INVALIDCALL (and *pFVF = 0) when the declaration has no FVF equivalent.
HRESULT WINAPI D3DXFVFFromDeclarator(const D3DVERTEXELEMENT9* pDeclarator, DWORD* pFVF);
UINT WINAPI D3DXGetFVFVertexSize(DWORD FVF);
// The extent of the elements of one stream: the largest Offset + element size.
UINT WINAPI D3DXGetDeclVertexSize(const D3DVERTEXELEMENT9* pDecl, DWORD Stream);
// The number of elements before D3DDECL_END (at most MAXD3DDECLLENGTH are looked at).
UINT WINAPI D3DXGetDeclLength(const D3DVERTEXELEMENT9* pDecl);

// --- Normals, bounds, rays -----------------------------------------------------------------------
// Per-vertex unit normals from the area-weighted normals of the faces around each vertex; with
// adjacency, vertices that adjacency joins (same point, split for other attributes) share one.
HRESULT WINAPI D3DXComputeNormals(LPD3DXBASEMESH pMesh, const DWORD* pAdjacency);
HRESULT WINAPI D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices,
                                      DWORD dwStride, D3DXVECTOR3* pMin, D3DXVECTOR3* pMax);
// Centre: the average of the positions; radius: the largest distance from it.
HRESULT WINAPI D3DXComputeBoundingSphere(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices,
                                         DWORD dwStride, D3DXVECTOR3* pCenter, FLOAT* pRadius);
// The nearest face the ray meets (either side), barycentric U and V (hit = v0 + U (v1 - v0) +
// V (v2 - v0)) and the distance in units of the ray direction's length; ppAllHits receives every
// hit as D3DXINTERSECTINFO.
HRESULT WINAPI D3DXIntersect(LPD3DXBASEMESH pMesh, const D3DXVECTOR3* pRayPos,
                             const D3DXVECTOR3* pRayDir, BOOL* pHit, DWORD* pFaceIndex, FLOAT* pU,
                             FLOAT* pV, FLOAT* pDist, LPD3DXBUFFER* ppAllHits, DWORD* pCountOfHits);
BOOL WINAPI D3DXIntersectTri(const D3DXVECTOR3* p0, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2,
                             const D3DXVECTOR3* pRayPos, const D3DXVECTOR3* pRayDir, FLOAT* pU,
                             FLOAT* pV, FLOAT* pDist);

// --- Shapes (d3dx9shape.h) -----------------------------------------------------------------------
// Managed meshes of D3DFVF_XYZ | D3DFVF_NORMAL vertices centred on the origin, front faces wound
// clockwise (left-handed), normals pointing out; ppAdjacency (optional) receives three DWORDs per
// face. Round shapes turn about the z axis.
HRESULT WINAPI D3DXCreateBox(LPDIRECT3DDEVICE9 pDevice, FLOAT Width, FLOAT Height, FLOAT Depth,
                             LPD3DXMESH* ppMesh, LPD3DXBUFFER* ppAdjacency);
HRESULT WINAPI D3DXCreateSphere(LPDIRECT3DDEVICE9 pDevice, FLOAT Radius, UINT Slices, UINT Stacks,
                                LPD3DXMESH* ppMesh, LPD3DXBUFFER* ppAdjacency);
// Radius1 at z = -Length / 2, Radius2 at z = +Length / 2, both ends capped.
HRESULT WINAPI D3DXCreateCylinder(LPDIRECT3DDEVICE9 pDevice, FLOAT Radius1, FLOAT Radius2,
                                  FLOAT Length, UINT Slices, UINT Stacks, LPD3DXMESH* ppMesh,
                                  LPD3DXBUFFER* ppAdjacency);
// InnerRadius: the radius of the tube; OuterRadius: from the centre to the middle of the tube.
HRESULT WINAPI D3DXCreateTorus(LPDIRECT3DDEVICE9 pDevice, FLOAT InnerRadius, FLOAT OuterRadius,
                               UINT Sides, UINT Rings, LPD3DXMESH* ppMesh,
                               LPD3DXBUFFER* ppAdjacency);
// A regular polygon of Sides edges of the given length in the z = 0 plane, as a fan about its
// centre (Sides + 1 vertices, Sides faces), normal +z.
HRESULT WINAPI D3DXCreatePolygon(LPDIRECT3DDEVICE9 pDevice, FLOAT Length, UINT Sides,
                                 LPD3DXMESH* ppMesh, LPD3DXBUFFER* ppAdjacency);
// The Utah teapot, lid up along +y, spout towards +x.
HRESULT WINAPI D3DXCreateTeapot(LPDIRECT3DDEVICE9 pDevice, LPD3DXMESH* ppMesh,
                                LPD3DXBUFFER* ppAdjacency);

// --- Materials and effect instances as .x files carry them --------------------------------------
typedef struct _D3DXMATERIAL {
  D3DMATERIAL9 MatD3D;
  LPSTR pTextureFilename;
} D3DXMATERIAL, *LPD3DXMATERIAL;

typedef enum _D3DXEFFECTDEFAULTTYPE {
  D3DXEDT_STRING = 0x1,  // pValue points to a null-terminated string
  D3DXEDT_FLOATS = 0x2,  // pValue points to NumBytes / 4 floats
  D3DXEDT_DWORD = 0x3,   // pValue points to one DWORD
  D3DXEDT_FORCEDWORD = 0x7fffffff
} D3DXEFFECTDEFAULTTYPE;

typedef struct _D3DXEFFECTDEFAULT {
  LPSTR pParamName;
  D3DXEFFECTDEFAULTTYPE Type;
  DWORD NumBytes;
  LPVOID pValue;
} D3DXEFFECTDEFAULT, *LPD3DXEFFECTDEFAULT;

typedef struct _D3DXEFFECTINSTANCE {
  LPSTR pEffectFilename;
  DWORD NumDefaults;
  LPD3DXEFFECTDEFAULT pDefaults;
} D3DXEFFECTINSTANCE, *LPD3DXEFFECTINSTANCE;

// --- ID3DXSkinInfo ------------------------------------------------------------------------------
extern const IID IID_ID3DXSkinInfo;
typedef struct ID3DXSkinInfo* LPD3DXSKININFO;

typedef struct _D3DXBONECOMBINATION {
  DWORD AttribId;
  DWORD FaceStart;
  DWORD FaceCount;
  DWORD VertexStart;
  DWORD VertexCount;
  DWORD* BoneId;
} D3DXBONECOMBINATION, *LPD3DXBONECOMBINATION;

// Which vertices each bone moves and by how much, plus the bones' names and offset matrices, and
// software skinning of any vertex data laid out as the FVF code or declaration says.
DECLARE_INTERFACE_(ID3DXSkinInfo, IUnknown) {
  STDMETHOD(SetBoneInfluence)
  (DWORD bone, DWORD numInfluences, const DWORD* vertices, const FLOAT* weights) PURE;
  STDMETHOD(SetBoneVertexInfluence)(DWORD boneNum, DWORD influenceNum, float weight) PURE;
  STDMETHOD_(DWORD, GetNumBoneInfluences)(DWORD bone) PURE;
  STDMETHOD(GetBoneInfluence)(DWORD bone, DWORD * vertices, FLOAT * weights) PURE;
  STDMETHOD(GetBoneVertexInfluence)
  (DWORD boneNum, DWORD influenceNum, float* pWeight, DWORD* pVertexNum) PURE;
  STDMETHOD(GetMaxVertexInfluences)(DWORD * maxVertexInfluences) PURE;
  STDMETHOD_(DWORD, GetNumBones)() PURE;
  STDMETHOD(FindBoneVertexInfluenceIndex)
  (DWORD boneNum, DWORD vertexNum, DWORD * pInfluenceIndex) PURE;
  STDMETHOD(GetMaxFaceInfluences)
  (LPDIRECT3DINDEXBUFFER9 pIB, DWORD NumFaces, DWORD * maxFaceInfluences) PURE;
  STDMETHOD(SetMinBoneInfluence)(FLOAT MinInfl) PURE;
  STDMETHOD_(FLOAT, GetMinBoneInfluence)() PURE;
  STDMETHOD(SetBoneName)(DWORD Bone, LPCSTR pName) PURE;
  STDMETHOD_(LPCSTR, GetBoneName)(DWORD Bone) PURE;
  STDMETHOD(SetBoneOffsetMatrix)(DWORD Bone, const D3DXMATRIX* pBoneTransform) PURE;
  STDMETHOD_(LPD3DXMATRIX, GetBoneOffsetMatrix)(DWORD Bone) PURE;
  STDMETHOD(Clone)(LPD3DXSKININFO * ppSkinInfo) PURE;
  STDMETHOD(Remap)(DWORD NumVertices, DWORD * pVertexRemap) PURE;
  STDMETHOD(SetFVF)(DWORD FVF) PURE;
  STDMETHOD(SetDeclaration)(const D3DVERTEXELEMENT9* pDeclaration) PURE;
  STDMETHOD_(DWORD, GetFVF)() PURE;
  STDMETHOD(GetDeclaration)(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) PURE;
  STDMETHOD(UpdateSkinnedMesh)
  (const D3DXMATRIX* pBoneTransforms, const D3DXMATRIX* pBoneInvTransposeTransforms,
   LPCVOID pVerticesSrc, PVOID pVerticesDst) PURE;
  STDMETHOD(ConvertToBlendedMesh)
  (LPD3DXMESH pMesh, DWORD Options, const DWORD* pAdjacencyIn, LPDWORD pAdjacencyOut,
   DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap, DWORD* pMaxFaceInfl, DWORD* pNumBoneCombinations,
   LPD3DXBUFFER* ppBoneCombinationTable, LPD3DXMESH* ppMesh) PURE;
  STDMETHOD(ConvertToIndexedBlendedMesh)
  (LPD3DXMESH pMesh, DWORD Options, DWORD paletteSize, const DWORD* pAdjacencyIn,
   LPDWORD pAdjacencyOut, DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap, DWORD* pMaxVertexInfl,
   DWORD* pNumBoneCombinations, LPD3DXBUFFER* ppBoneCombinationTable, LPD3DXMESH* ppMesh) PURE;
};

HRESULT WINAPI D3DXCreateSkinInfo(DWORD NumVertices, const D3DVERTEXELEMENT9* pDeclaration,
                                  DWORD NumBones, LPD3DXSKININFO* ppSkinInfo);
HRESULT WINAPI D3DXCreateSkinInfoFVF(DWORD NumVertices, DWORD FVF, DWORD NumBones,
                                     LPD3DXSKININFO* ppSkinInfo);

// --- Meshes from .x files -----------------------------------------------------------------------
// Every mesh of the file, placed by its frames' matrices, as one mesh of D3DFVF_XYZ plus NORMAL,
// DIFFUSE and TEX1 as the file has them; faces sorted by material. ppMaterials receives
// D3DXMATERIAL records followed by their texture file names, ppEffectInstances one
// D3DXEFFECTINSTANCE per material. Text, binary and MSZip-compressed files are read; a file
// that breaks the format fails with D3DXERR_INVALIDDATA, one without meshes with E_FAIL.
HRESULT WINAPI D3DXLoadMeshFromXA(LPCSTR pFilename, DWORD Options, LPDIRECT3DDEVICE9 pD3DDevice,
                                  LPD3DXBUFFER* ppAdjacency, LPD3DXBUFFER* ppMaterials,
                                  LPD3DXBUFFER* ppEffectInstances, DWORD* pNumMaterials,
                                  LPD3DXMESH* ppMesh);
HRESULT WINAPI D3DXLoadMeshFromXInMemory(LPCVOID Memory, DWORD SizeOfMemory, DWORD Options,
                                         LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXBUFFER* ppAdjacency,
                                         LPD3DXBUFFER* ppMaterials, LPD3DXBUFFER* ppEffectInstances,
                                         DWORD* pNumMaterials, LPD3DXMESH* ppMesh);
