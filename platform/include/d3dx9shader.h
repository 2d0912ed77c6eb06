// D3DX 9 shaders: the HLSL compiler, constant tables and texture shaders.
//
// D3DXCompileShader accepts the profiles vs_2_0, vs_3_0, ps_2_0 and ps_3_0, which produce
// Direct3D 9 shader tokens with a "CTAB" constant table, and tx_1_0, which produces our own
// compact texture-shader program: D3DXCreateTextureShader validates such a program (it may come
// from anywhere) and D3DXFillTextureTX evaluates it on the CPU once per texel of every mip level.
//
// Loops are bounded at fill time, not at compile time: every backward jump charges the length of
// the loop body against a budget of 1 << 20 instructions per texel and 1 << 30 per fill. A shader
// that runs out fails the fill with D3DERR_INVALIDCALL and leaves the texture untouched.
#pragma once

#include "d3d9.h"
#include "d3dx9core.h"

struct D3DXVECTOR4;
struct D3DXMATRIX;
struct ID3DXBuffer;
typedef ID3DXBuffer* LPD3DXBUFFER;
struct IDirect3DDevice9;
typedef IDirect3DDevice9* LPDIRECT3DDEVICE9;
struct IDirect3DTexture9;
typedef IDirect3DTexture9* LPDIRECT3DTEXTURE9;

// Compile flags.
#define D3DXSHADER_DEBUG (1 << 0)
#define D3DXSHADER_SKIPVALIDATION (1 << 1)
#define D3DXSHADER_SKIPOPTIMIZATION (1 << 2)
#define D3DXSHADER_PACKMATRIX_ROWMAJOR (1 << 3)
#define D3DXSHADER_PACKMATRIX_COLUMNMAJOR (1 << 4)
#define D3DXSHADER_PARTIALPRECISION (1 << 5)
#define D3DXSHADER_FORCE_VS_SOFTWARE_NOOPT (1 << 6)
#define D3DXSHADER_FORCE_PS_SOFTWARE_NOOPT (1 << 7)
#define D3DXSHADER_NO_PRESHADER (1 << 8)
#define D3DXSHADER_AVOID_FLOW_CONTROL (1 << 9)
#define D3DXSHADER_PREFER_FLOW_CONTROL (1 << 10)
#define D3DXSHADER_ENABLE_STRICTNESS (1 << 11)
#define D3DXSHADER_ENABLE_BACKWARDS_COMPATIBILITY (1 << 12)
#define D3DXSHADER_IEEE_STRICTNESS (1 << 13)
#define D3DXSHADER_OPTIMIZATION_LEVEL0 (1 << 14)
#define D3DXSHADER_OPTIMIZATION_LEVEL1 0
#define D3DXSHADER_OPTIMIZATION_LEVEL2 ((1 << 14) | (1 << 15))
#define D3DXSHADER_OPTIMIZATION_LEVEL3 (1 << 15)
#define D3DXSHADER_USE_LEGACY_D3DX9_31_DLL (1 << 16)

#define D3DXCONSTTABLE_LARGEADDRESSAWARE (1 << 17)

// Version token of texture-shader programs.
#define D3DXTX_VERSION(major, minor) (('T' << 24) | ('X' << 16) | ((major) << 8) | (minor))

typedef LPCSTR D3DXHANDLE;
typedef D3DXHANDLE* LPD3DXHANDLE;

typedef struct _D3DXMACRO {
  LPCSTR Name;
  LPCSTR Definition;
} D3DXMACRO, *LPD3DXMACRO;

typedef enum _D3DXINCLUDE_TYPE {
  D3DXINC_LOCAL,
  D3DXINC_SYSTEM,
  D3DXINC_FORCE_DWORD = 0x7fffffff
} D3DXINCLUDE_TYPE,
    *LPD3DXINCLUDE_TYPE;

typedef enum _D3DXREGISTER_SET {
  D3DXRS_BOOL,
  D3DXRS_INT4,
  D3DXRS_FLOAT4,
  D3DXRS_SAMPLER,
  D3DXRS_FORCE_DWORD = 0x7fffffff
} D3DXREGISTER_SET,
    *LPD3DXREGISTER_SET;

typedef enum _D3DXPARAMETER_CLASS {
  D3DXPC_SCALAR,
  D3DXPC_VECTOR,
  D3DXPC_MATRIX_ROWS,
  D3DXPC_MATRIX_COLUMNS,
  D3DXPC_OBJECT,
  D3DXPC_STRUCT,
  D3DXPC_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_CLASS,
    *LPD3DXPARAMETER_CLASS;

typedef enum _D3DXPARAMETER_TYPE {
  D3DXPT_VOID,
  D3DXPT_BOOL,
  D3DXPT_INT,
  D3DXPT_FLOAT,
  D3DXPT_STRING,
  D3DXPT_TEXTURE,
  D3DXPT_TEXTURE1D,
  D3DXPT_TEXTURE2D,
  D3DXPT_TEXTURE3D,
  D3DXPT_TEXTURECUBE,
  D3DXPT_SAMPLER,
  D3DXPT_SAMPLER1D,
  D3DXPT_SAMPLER2D,
  D3DXPT_SAMPLER3D,
  D3DXPT_SAMPLERCUBE,
  D3DXPT_PIXELSHADER,
  D3DXPT_VERTEXSHADER,
  D3DXPT_PIXELFRAGMENT,
  D3DXPT_VERTEXFRAGMENT,
  D3DXPT_UNSUPPORTED,
  D3DXPT_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_TYPE,
    *LPD3DXPARAMETER_TYPE;

typedef struct _D3DXCONSTANTTABLE_DESC {
  LPCSTR Creator;
  DWORD Version;
  UINT Constants;
} D3DXCONSTANTTABLE_DESC, *LPD3DXCONSTANTTABLE_DESC;

typedef struct _D3DXCONSTANT_DESC {
  LPCSTR Name;
  D3DXREGISTER_SET RegisterSet;
  UINT RegisterIndex;
  UINT RegisterCount;
  D3DXPARAMETER_CLASS Class;
  D3DXPARAMETER_TYPE Type;
  UINT Rows;
  UINT Columns;
  UINT Elements;
  UINT StructMembers;
  UINT Bytes;
  LPCVOID DefaultValue;
} D3DXCONSTANT_DESC, *LPD3DXCONSTANT_DESC;

// The constant table of compiled shaders: a comment block whose first DWORD is the FOURCC
// "CTAB", followed by this header. Offsets count bytes from the header's first byte.
typedef struct _D3DXSHADER_CONSTANTTABLE {
  DWORD Size;          // sizeof(D3DXSHADER_CONSTANTTABLE)
  DWORD Creator;       // offset of the creator's name
  DWORD Version;       // the shader's version token
  DWORD Constants;     // number of D3DXSHADER_CONSTANTINFO entries
  DWORD ConstantInfo;  // offset of D3DXSHADER_CONSTANTINFO[Constants]
  DWORD Flags;         // the flags the shader was compiled with
  DWORD Target;        // offset of the profile name
} D3DXSHADER_CONSTANTTABLE, *LPD3DXSHADER_CONSTANTTABLE;

typedef struct _D3DXSHADER_CONSTANTINFO {
  DWORD Name;  // offset of the name
  WORD RegisterSet;
  WORD RegisterIndex;
  WORD RegisterCount;
  WORD Reserved;
  DWORD TypeInfo;      // offset of a D3DXSHADER_TYPEINFO
  DWORD DefaultValue;  // offset of RegisterCount registers of initial values, or 0
} D3DXSHADER_CONSTANTINFO, *LPD3DXSHADER_CONSTANTINFO;

typedef struct _D3DXSHADER_TYPEINFO {
  WORD Class;
  WORD Type;
  WORD Rows;
  WORD Columns;
  WORD Elements;
  WORD StructMembers;
  DWORD StructMemberInfo;  // offset of D3DXSHADER_STRUCTMEMBERINFO[StructMembers]
} D3DXSHADER_TYPEINFO, *LPD3DXSHADER_TYPEINFO;

typedef struct _D3DXSHADER_STRUCTMEMBERINFO {
  DWORD Name;
  DWORD TypeInfo;
} D3DXSHADER_STRUCTMEMBERINFO, *LPD3DXSHADER_STRUCTMEMBERINFO;

typedef struct _D3DXSEMANTIC {
  UINT Usage;
  UINT UsageIndex;
} D3DXSEMANTIC, *LPD3DXSEMANTIC;

// Include handler: accepted by the compiler and never called (sources cannot include files).
struct ID3DXInclude {
  STDMETHOD(Open)
  (D3DXINCLUDE_TYPE IncludeType, LPCSTR pFileName, LPCVOID pParentData, LPCVOID* ppData,
   UINT* pBytes) PURE;
  STDMETHOD(Close)(LPCVOID pData) PURE;

 protected:
  ~ID3DXInclude() = default;
};
typedef ID3DXInclude* LPD3DXINCLUDE;

extern const IID IID_ID3DXConstantTable;
extern const IID IID_ID3DXTextureShader;

// Constant table of a compiled vertex or pixel shader (see D3DXGetShaderConstantTable). Handles
// are pointers the table hands out; a constant's name ("light.colour", "bones[3]") may be given
// in place of a handle. The Set... methods convert the values to the constant's type and write
// whole registers through the device's Set{Vertex,Pixel}ShaderConstant{F,I,B}: matrices by rows
// or by columns as the constant was packed, as many registers as the table gives the constant.
// The tx_1_0 compiler produces no constant table (it returns NULL).
struct ID3DXConstantTable : public IUnknown {
  STDMETHOD_(LPVOID, GetBufferPointer)() PURE;
  STDMETHOD_(DWORD, GetBufferSize)() PURE;
  STDMETHOD(GetDesc)(D3DXCONSTANTTABLE_DESC* pDesc) PURE;
  STDMETHOD(GetConstantDesc)
  (D3DXHANDLE hConstant, D3DXCONSTANT_DESC* pConstantDesc, UINT* pCount) PURE;
  STDMETHOD_(UINT, GetSamplerIndex)(D3DXHANDLE hConstant) PURE;
  STDMETHOD_(D3DXHANDLE, GetConstant)(D3DXHANDLE hConstant, UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetConstantByName)(D3DXHANDLE hConstant, LPCSTR pName) PURE;
  STDMETHOD_(D3DXHANDLE, GetConstantElement)(D3DXHANDLE hConstant, UINT Index) PURE;
  STDMETHOD(SetDefaults)(LPDIRECT3DDEVICE9 pDevice) PURE;
  STDMETHOD(SetValue)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, LPCVOID pData, UINT Bytes) PURE;
  STDMETHOD(SetBool)(LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, BOOL b) PURE;
  STDMETHOD(SetBoolArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const BOOL* pb, UINT Count) PURE;
  STDMETHOD(SetInt)(LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, INT n) PURE;
  STDMETHOD(SetIntArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const INT* pn, UINT Count) PURE;
  STDMETHOD(SetFloat)(LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, FLOAT f) PURE;
  STDMETHOD(SetFloatArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const FLOAT* pf, UINT Count) PURE;
  STDMETHOD(SetVector)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXVECTOR4* pVector) PURE;
  STDMETHOD(SetVectorArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXVECTOR4* pVector, UINT Count) PURE;
  STDMETHOD(SetMatrix)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(SetMatrixArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixPointerArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXMATRIX** ppMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixTranspose)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(SetMatrixTransposeArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixTransposePointerArray)
  (LPDIRECT3DDEVICE9 pDevice, D3DXHANDLE hConstant, const D3DXMATRIX** ppMatrix, UINT Count) PURE;
};
typedef ID3DXConstantTable* LPD3DXCONSTANTTABLE;

// A validated texture-shader program. Its uniform globals (non-static globals) are its
// constants: handles are their names, the Set... methods change them for later fills (matrices
// do not exist), SetDefaults restores their initial values. Static globals are initialised once
// from the initial values.
struct ID3DXTextureShader : public IUnknown {
  STDMETHOD(GetFunction)(LPD3DXBUFFER* ppFunction) PURE;
  STDMETHOD(GetConstantBuffer)(LPD3DXBUFFER* ppConstantBuffer) PURE;
  STDMETHOD(GetDesc)(D3DXCONSTANTTABLE_DESC* pDesc) PURE;
  STDMETHOD(GetConstantDesc)
  (D3DXHANDLE hConstant, D3DXCONSTANT_DESC* pConstantDesc, UINT* pCount) PURE;
  STDMETHOD_(D3DXHANDLE, GetConstant)(D3DXHANDLE hConstant, UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetConstantByName)(D3DXHANDLE hConstant, LPCSTR pName) PURE;
  STDMETHOD_(D3DXHANDLE, GetConstantElement)(D3DXHANDLE hConstant, UINT Index) PURE;
  STDMETHOD(SetDefaults)() PURE;
  STDMETHOD(SetValue)(D3DXHANDLE hConstant, LPCVOID pData, UINT Bytes) PURE;
  STDMETHOD(SetBool)(D3DXHANDLE hConstant, BOOL b) PURE;
  STDMETHOD(SetBoolArray)(D3DXHANDLE hConstant, const BOOL* pb, UINT Count) PURE;
  STDMETHOD(SetInt)(D3DXHANDLE hConstant, INT n) PURE;
  STDMETHOD(SetIntArray)(D3DXHANDLE hConstant, const INT* pn, UINT Count) PURE;
  STDMETHOD(SetFloat)(D3DXHANDLE hConstant, FLOAT f) PURE;
  STDMETHOD(SetFloatArray)(D3DXHANDLE hConstant, const FLOAT* pf, UINT Count) PURE;
  STDMETHOD(SetVector)(D3DXHANDLE hConstant, const D3DXVECTOR4* pVector) PURE;
  STDMETHOD(SetVectorArray)(D3DXHANDLE hConstant, const D3DXVECTOR4* pVector, UINT Count) PURE;
  STDMETHOD(SetMatrix)(D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(SetMatrixArray)(D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixPointerArray)
  (D3DXHANDLE hConstant, const D3DXMATRIX** ppMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixTranspose)(D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(SetMatrixTransposeArray)
  (D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixTransposePointerArray)
  (D3DXHANDLE hConstant, const D3DXMATRIX** ppMatrix, UINT Count) PURE;
};
typedef ID3DXTextureShader* LPD3DXTEXTURESHADER;

// Compiles pFunctionName in pSrcData (SrcDataLen bytes) for pProfile (vs_2_0, vs_3_0, ps_2_0,
// ps_3_0 or tx_1_0). On failure *ppShader is left NULL and *ppErrorMsgs (when asked for) holds
// zero-terminated messages, one per line: "memory(LINE,COL): error XNNNN: text\n". Warnings may
// be returned on success. D3DXSHADER_PACKMATRIX_ROWMAJOR changes the default matrix packing.
HRESULT WINAPI D3DXCompileShader(LPCSTR pSrcData, UINT SrcDataLen, const D3DXMACRO* pDefines,
                                 LPD3DXINCLUDE pInclude, LPCSTR pFunctionName, LPCSTR pProfile,
                                 DWORD Flags, LPD3DXBUFFER* ppShader, LPD3DXBUFFER* ppErrorMsgs,
                                 LPD3DXCONSTANTTABLE* ppConstantTable);

// As D3DXCompileShader, with the source read from a file; messages name the file in place of
// "memory". A file that cannot be read fails with E_FAIL and an "error X1507" message.
HRESULT WINAPI D3DXCompileShaderFromFileA(LPCSTR pSrcFile, const D3DXMACRO* pDefines,
                                          LPD3DXINCLUDE pInclude, LPCSTR pFunctionName,
                                          LPCSTR pProfile, DWORD Flags, LPD3DXBUFFER* ppShader,
                                          LPD3DXBUFFER* ppErrorMsgs,
                                          LPD3DXCONSTANTTABLE* ppConstantTable);

// The version token of shader code, or 0 when pFunction is NULL or is not shader code.
DWORD WINAPI D3DXGetShaderVersion(const DWORD* pFunction);
// The size in bytes of shader model 2 / 3 code up to and including its end token, or 0. The
// stream is walked by the instruction lengths and never past 1 << 20 DWORDs.
UINT WINAPI D3DXGetShaderSize(const DWORD* pFunction);

// The constant table of shader model 2 / 3 code, read from its CTAB comment. Every offset of the
// table is checked; a missing or malformed table fails with D3DXERR_INVALIDDATA (0x88760B59),
// null arguments with D3DERR_INVALIDCALL.
HRESULT WINAPI D3DXGetShaderConstantTable(const DWORD* pFunction,
                                          LPD3DXCONSTANTTABLE* ppConstantTable);
HRESULT WINAPI D3DXGetShaderConstantTableEx(const DWORD* pFunction, DWORD Flags,
                                            LPD3DXCONSTANTTABLE* ppConstantTable);

// The declared inputs and outputs of validated shader code: *pCount receives their number and
// pSemantics, when not NULL, the semantics (MAXD3DDECLLENGTH entries suffice).
HRESULT WINAPI D3DXGetShaderInputSemantics(const DWORD* pFunction, D3DXSEMANTIC* pSemantics,
                                           UINT* pCount);
HRESULT WINAPI D3DXGetShaderOutputSemantics(const DWORD* pFunction, D3DXSEMANTIC* pSemantics,
                                            UINT* pCount);

HRESULT WINAPI D3DXCreateTextureShader(const DWORD* pFunction,
                                       LPD3DXTEXTURESHADER* ppTextureShader);

HRESULT WINAPI D3DXFillTextureTX(LPDIRECT3DTEXTURE9 pTexture, LPD3DXTEXTURESHADER pTextureShader);
