// D3DX 9 effects: ID3DXEffect over effect source text (global parameters with semantics and
// annotations, strings, textures, samplers with sampler_state blocks, shaders and arrays of them,
// techniques of passes that set render, sampler and texture-stage states, transforms, lights, the
// material and vertex and pixel shaders).
//
// Handles (D3DXHANDLE) are either pointers the effect hands out or names: a parameter's name
// ("light", "light.colour", "bones[3]"), a technique's name, a pass's name within its technique,
// an annotation's name within its object. Every method accepts both.
//
// Values are kept in each parameter's own type (BOOL as 0 or 1, INT, FLOAT) and converted on the
// way in and out. Matrices are kept by rows whatever their packing: SetValue and GetValue take a
// row after row, as SetMatrix does; the packing only decides how they reach shader registers.
// State values may be expressions over parameters (+ - * / % | & ^ << >>, constructors, casts,
// members and constant indices), evaluated when the pass is applied. A shader state may name an
// element of a shader array by an index read from parameters ("VertexShader = (vs[n]);"): the
// index is read when the pass is applied and clamps to the array.
//
// Shaders are compiled once when the effect is created. A pass whose shaders the device refuses
// (CreateVertexShader / CreatePixelShader) makes its technique invalid (ValidateTechnique,
// FindNextValidTechnique) and BeginPass on it fails; the effect itself is still created.
#pragma once

#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9shader.h"

struct D3DXVECTOR4;
struct D3DXMATRIX;

#define D3DXFX_DONOTSAVESTATE (1 << 0)
#define D3DXFX_DONOTSAVESHADERSTATE (1 << 1)
#define D3DXFX_DONOTSAVESAMPLERSTATE (1 << 2)
#define D3DXFX_NOT_CLONEABLE (1 << 11)
#define D3DXFX_LARGEADDRESSAWARE (1 << 17)

#define D3DX_PARAMETER_SHARED (1 << 0)
#define D3DX_PARAMETER_LITERAL (1 << 1)
#define D3DX_PARAMETER_ANNOTATION (1 << 2)

typedef struct _D3DXEFFECT_DESC {
  LPCSTR Creator;
  UINT Parameters;
  UINT Techniques;
  UINT Functions;
} D3DXEFFECT_DESC;

typedef struct _D3DXPARAMETER_DESC {
  LPCSTR Name;
  LPCSTR Semantic;  // NULL when the parameter has none
  D3DXPARAMETER_CLASS Class;
  D3DXPARAMETER_TYPE Type;
  UINT Rows;
  UINT Columns;
  UINT Elements;  // 0 when the parameter is not an array
  UINT Annotations;
  UINT StructMembers;
  DWORD Flags;  // D3DX_PARAMETER_*
  UINT Bytes;
} D3DXPARAMETER_DESC;

typedef struct _D3DXTECHNIQUE_DESC {
  LPCSTR Name;
  UINT Passes;
  UINT Annotations;
} D3DXTECHNIQUE_DESC;

typedef struct _D3DXPASS_DESC {
  LPCSTR Name;
  UINT Annotations;
  const DWORD* pVertexShaderFunction;  // NULL when the pass sets no vertex shader
  const DWORD* pPixelShaderFunction;
} D3DXPASS_DESC;

typedef struct _D3DXFUNCTION_DESC {
  LPCSTR Name;
  UINT Annotations;
} D3DXFUNCTION_DESC;

extern const IID IID_ID3DXEffectPool;
extern const IID IID_ID3DXBaseEffect;
extern const IID IID_ID3DXEffect;
extern const IID IID_ID3DXEffectStateManager;

// Parameter sharing between effects does not exist here: every pool argument must be NULL.
struct ID3DXEffectPool : public IUnknown {};
typedef ID3DXEffectPool* LPD3DXEFFECTPOOL;

// Receives the device calls of an effect in place of the device (ID3DXEffect::SetStateManager).
struct ID3DXEffectStateManager : public IUnknown {
  STDMETHOD(SetTransform)(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) PURE;
  STDMETHOD(SetMaterial)(const D3DMATERIAL9* pMaterial) PURE;
  STDMETHOD(SetLight)(DWORD Index, const D3DLIGHT9* pLight) PURE;
  STDMETHOD(LightEnable)(DWORD Index, BOOL Enable) PURE;
  STDMETHOD(SetRenderState)(D3DRENDERSTATETYPE State, DWORD Value) PURE;
  STDMETHOD(SetTexture)(DWORD Stage, LPDIRECT3DBASETEXTURE9 pTexture) PURE;
  STDMETHOD(SetTextureStageState)(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) PURE;
  STDMETHOD(SetSamplerState)(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) PURE;
  STDMETHOD(SetNPatchMode)(FLOAT NumSegments) PURE;
  STDMETHOD(SetFVF)(DWORD FVF) PURE;
  STDMETHOD(SetVertexShader)(LPDIRECT3DVERTEXSHADER9 pShader) PURE;
  STDMETHOD(SetVertexShaderConstantF)
  (UINT RegisterIndex, const FLOAT* pConstantData, UINT RegisterCount) PURE;
  STDMETHOD(SetVertexShaderConstantI)
  (UINT RegisterIndex, const INT* pConstantData, UINT RegisterCount) PURE;
  STDMETHOD(SetVertexShaderConstantB)
  (UINT RegisterIndex, const BOOL* pConstantData, UINT RegisterCount) PURE;
  STDMETHOD(SetPixelShader)(LPDIRECT3DPIXELSHADER9 pShader) PURE;
  STDMETHOD(SetPixelShaderConstantF)
  (UINT RegisterIndex, const FLOAT* pConstantData, UINT RegisterCount) PURE;
  STDMETHOD(SetPixelShaderConstantI)
  (UINT RegisterIndex, const INT* pConstantData, UINT RegisterCount) PURE;
  STDMETHOD(SetPixelShaderConstantB)
  (UINT RegisterIndex, const BOOL* pConstantData, UINT RegisterCount) PURE;
};
typedef ID3DXEffectStateManager* LPD3DXEFFECTSTATEMANAGER;

struct ID3DXBaseEffect : public IUnknown {
  // Descriptions
  STDMETHOD(GetDesc)(D3DXEFFECT_DESC* pDesc) PURE;
  STDMETHOD(GetParameterDesc)(D3DXHANDLE hParameter, D3DXPARAMETER_DESC* pDesc) PURE;
  STDMETHOD(GetTechniqueDesc)(D3DXHANDLE hTechnique, D3DXTECHNIQUE_DESC* pDesc) PURE;
  STDMETHOD(GetPassDesc)(D3DXHANDLE hPass, D3DXPASS_DESC* pDesc) PURE;
  STDMETHOD(GetFunctionDesc)(D3DXHANDLE hFunction, D3DXFUNCTION_DESC* pDesc) PURE;

  // Handles
  STDMETHOD_(D3DXHANDLE, GetParameter)(D3DXHANDLE hParameter, UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetParameterByName)(D3DXHANDLE hParameter, LPCSTR pName) PURE;
  STDMETHOD_(D3DXHANDLE, GetParameterBySemantic)(D3DXHANDLE hParameter, LPCSTR pSemantic) PURE;
  STDMETHOD_(D3DXHANDLE, GetParameterElement)(D3DXHANDLE hParameter, UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetTechnique)(UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetTechniqueByName)(LPCSTR pName) PURE;
  STDMETHOD_(D3DXHANDLE, GetPass)(D3DXHANDLE hTechnique, UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetPassByName)(D3DXHANDLE hTechnique, LPCSTR pName) PURE;
  STDMETHOD_(D3DXHANDLE, GetFunction)(UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetFunctionByName)(LPCSTR pName) PURE;
  STDMETHOD_(D3DXHANDLE, GetAnnotation)(D3DXHANDLE hObject, UINT Index) PURE;
  STDMETHOD_(D3DXHANDLE, GetAnnotationByName)(D3DXHANDLE hObject, LPCSTR pName) PURE;

  // Values
  // SetValue takes up to the parameter's Bytes (a multiple of 4; texture parameters take texture
  // pointers); GetValue needs room for all of them and AddRefs the textures it hands out.
  STDMETHOD(SetValue)(D3DXHANDLE hParameter, LPCVOID pData, UINT Bytes) PURE;
  STDMETHOD(GetValue)(D3DXHANDLE hParameter, LPVOID pData, UINT Bytes) PURE;
  STDMETHOD(SetBool)(D3DXHANDLE hParameter, BOOL b) PURE;
  STDMETHOD(GetBool)(D3DXHANDLE hParameter, BOOL* pb) PURE;
  STDMETHOD(SetBoolArray)(D3DXHANDLE hParameter, const BOOL* pb, UINT Count) PURE;
  STDMETHOD(GetBoolArray)(D3DXHANDLE hParameter, BOOL* pb, UINT Count) PURE;
  STDMETHOD(SetInt)(D3DXHANDLE hParameter, INT n) PURE;
  STDMETHOD(GetInt)(D3DXHANDLE hParameter, INT* pn) PURE;
  STDMETHOD(SetIntArray)(D3DXHANDLE hParameter, const INT* pn, UINT Count) PURE;
  STDMETHOD(GetIntArray)(D3DXHANDLE hParameter, INT* pn, UINT Count) PURE;
  STDMETHOD(SetFloat)(D3DXHANDLE hParameter, FLOAT f) PURE;
  STDMETHOD(GetFloat)(D3DXHANDLE hParameter, FLOAT* pf) PURE;
  STDMETHOD(SetFloatArray)(D3DXHANDLE hParameter, const FLOAT* pf, UINT Count) PURE;
  STDMETHOD(GetFloatArray)(D3DXHANDLE hParameter, FLOAT* pf, UINT Count) PURE;
  STDMETHOD(SetVector)(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) PURE;
  STDMETHOD(GetVector)(D3DXHANDLE hParameter, D3DXVECTOR4* pVector) PURE;
  STDMETHOD(SetVectorArray)(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector, UINT Count) PURE;
  STDMETHOD(GetVectorArray)(D3DXHANDLE hParameter, D3DXVECTOR4* pVector, UINT Count) PURE;
  STDMETHOD(SetMatrix)(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(GetMatrix)(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(SetMatrixArray)(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(GetMatrixArray)(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixPointerArray)
  (D3DXHANDLE hParameter, const D3DXMATRIX** ppMatrix, UINT Count) PURE;
  STDMETHOD(GetMatrixPointerArray)(D3DXHANDLE hParameter, D3DXMATRIX** ppMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixTranspose)(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(GetMatrixTranspose)(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix) PURE;
  STDMETHOD(SetMatrixTransposeArray)
  (D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(GetMatrixTransposeArray)(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix, UINT Count) PURE;
  STDMETHOD(SetMatrixTransposePointerArray)
  (D3DXHANDLE hParameter, const D3DXMATRIX** ppMatrix, UINT Count) PURE;
  STDMETHOD(GetMatrixTransposePointerArray)
  (D3DXHANDLE hParameter, D3DXMATRIX** ppMatrix, UINT Count) PURE;
  // String parameters and string annotations; GetString's pointer lasts until the next SetString.
  STDMETHOD(SetString)(D3DXHANDLE hParameter, LPCSTR pString) PURE;
  STDMETHOD(GetString)(D3DXHANDLE hParameter, LPCSTR* ppString) PURE;
  // The effect holds a reference to the texture of each texture parameter.
  STDMETHOD(SetTexture)(D3DXHANDLE hParameter, LPDIRECT3DBASETEXTURE9 pTexture) PURE;
  STDMETHOD(GetTexture)(D3DXHANDLE hParameter, LPDIRECT3DBASETEXTURE9* ppTexture) PURE;
  // The device's shader of a (non-array) shader parameter, AddRef'd; NULL for a parameter set to
  // NULL and while the device is lost.
  STDMETHOD(GetPixelShader)(D3DXHANDLE hParameter, LPDIRECT3DPIXELSHADER9* ppPShader) PURE;
  STDMETHOD(GetVertexShader)(D3DXHANDLE hParameter, LPDIRECT3DVERTEXSHADER9* ppVShader) PURE;
  // Accepted and ignored: every element of an array is always uploaded.
  STDMETHOD(SetArrayRange)(D3DXHANDLE hParameter, UINT uStart, UINT uEnd) PURE;
};
typedef ID3DXBaseEffect* LPD3DXBASEEFFECT;

struct ID3DXEffect : public ID3DXBaseEffect {
  STDMETHOD(GetPool)(LPD3DXEFFECTPOOL* ppPool) PURE;

  // Techniques. The first technique is current when the effect is created; SetTechnique fails
  // between Begin and End.
  STDMETHOD(SetTechnique)(D3DXHANDLE hTechnique) PURE;
  STDMETHOD_(D3DXHANDLE, GetCurrentTechnique)() PURE;
  STDMETHOD(ValidateTechnique)(D3DXHANDLE hTechnique) PURE;
  // The first valid technique after hTechnique (from the first when NULL); *pTechnique is NULL
  // when there is none.
  STDMETHOD(FindNextValidTechnique)(D3DXHANDLE hTechnique, D3DXHANDLE* pTechnique) PURE;
  // Whether a pass of the technique (the current one when NULL) reads the parameter.
  STDMETHOD_(BOOL, IsParameterUsed)(D3DXHANDLE hParameter, D3DXHANDLE hTechnique) PURE;

  // Using a technique: Begin saves the device state its passes change (unless
  // D3DXFX_DONOTSAVESTATE; D3DXFX_DONOTSAVESHADERSTATE leaves shaders and their constants out,
  // D3DXFX_DONOTSAVESAMPLERSTATE sampler states and the textures of samplers) and End restores
  // it. BeginPass applies a pass with every parameter's current value; parameters changed before
  // EndPass reach the device at CommitChanges, which re-applies only what reads them. Calls out of
  // this order (BeginPass outside Begin, a second BeginPass before EndPass, CommitChanges or
  // EndPass outside a pass, End without Begin) fail with D3DERR_INVALIDCALL; BeginPass on a pass
  // whose shaders the device refused fails with D3DXERR_INVALIDDATA.
  STDMETHOD(Begin)(UINT* pPasses, DWORD Flags) PURE;
  STDMETHOD(BeginPass)(UINT Pass) PURE;
  STDMETHOD(CommitChanges)() PURE;
  STDMETHOD(EndPass)() PURE;
  STDMETHOD(End)() PURE;

  STDMETHOD(GetDevice)(LPDIRECT3DDEVICE9* ppDevice) PURE;
  // OnLostDevice ends an open Begin without restoring anything (Reset returns every state to
  // its default) and releases the effect's device shaders; OnResetDevice creates them again.
  // Between the two, Begin fails. Nothing else of the effect is lost: parameters, textures and
  // the current technique stay.
  STDMETHOD(OnLostDevice)() PURE;
  STDMETHOD(OnResetDevice)() PURE;

  STDMETHOD(SetStateManager)(LPD3DXEFFECTSTATEMANAGER pManager) PURE;
  STDMETHOD(GetStateManager)(LPD3DXEFFECTSTATEMANAGER* ppManager) PURE;

  // Parameter blocks are not available: E_NOTIMPL, and EndParameterBlock returns NULL.
  STDMETHOD(BeginParameterBlock)() PURE;
  STDMETHOD_(D3DXHANDLE, EndParameterBlock)() PURE;
  STDMETHOD(ApplyParameterBlock)(D3DXHANDLE hParameterBlock) PURE;
  STDMETHOD(DeleteParameterBlock)(D3DXHANDLE hParameterBlock) PURE;

  // A new effect from the same source on pDevice, with this effect's parameter values, textures
  // and current technique.
  STDMETHOD(CloneEffect)(LPDIRECT3DDEVICE9 pDevice, ID3DXEffect** ppEffect) PURE;
  // Bytes written into the parameter's value at a byte offset, without conversion.
  STDMETHOD(SetRawValue)(D3DXHANDLE hParameter, LPCVOID pData, UINT ByteOffset, UINT Bytes) PURE;
};
typedef ID3DXEffect* LPD3DXEFFECT;

// Creates an effect from SrcDataLen bytes of source (a terminating zero may be counted). Flags are
// D3DXSHADER_* (matrix packing) and D3DXFX_* flags. A null device, source, ppEffect, a zero length
// or a pool fail with D3DERR_INVALIDCALL; effects compiled ahead of time with D3DXERR_INVALIDDATA.
// On a bad source (E_FAIL) *ppCompilationErrors, when asked for, holds zero-terminated messages,
// one per line: "memory(LINE,COL): error XNNNN: text\n"; warnings may be returned on success.
// pInclude is never called (sources cannot include files).
HRESULT WINAPI D3DXCreateEffect(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData, UINT SrcDataLen,
                                const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude, DWORD Flags,
                                LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect,
                                LPD3DXBUFFER* ppCompilationErrors);

// As D3DXCreateEffect, with the source read from a file; messages name the file in place of
// "memory". A file that cannot be read fails with E_FAIL and an "error X1507" message.
HRESULT WINAPI D3DXCreateEffectFromFileA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile,
                                         const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude,
                                         DWORD Flags, LPD3DXEFFECTPOOL pPool,
                                         LPD3DXEFFECT* ppEffect, LPD3DXBUFFER* ppCompilationErrors);
