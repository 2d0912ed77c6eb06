// D3DX 9 core: buffers, sprite batches and fonts.
// Only the ...A entry points exist; there are no A/W alias macros.
#pragma once

#include "d3d9.h"
#include "d3dx9math.h"
#include "windows.h"

struct IDirect3DDevice9;
typedef IDirect3DDevice9* LPDIRECT3DDEVICE9;
struct IDirect3DTexture9;
typedef IDirect3DTexture9* LPDIRECT3DTEXTURE9;
#ifndef D3DCOLOR_DEFINED
#define D3DCOLOR_DEFINED
typedef DWORD D3DCOLOR;
#endif
struct tagTEXTMETRICA;
struct tagTEXTMETRICW;

#define D3DX_DEFAULT ((UINT)-1)

extern const IID IID_ID3DXBuffer;
extern const IID IID_ID3DXSprite;
extern const IID IID_ID3DXFont;

// --- ID3DXBuffer ---------------------------------------------------------------------------------
// A block of bytes handed out by D3DX (compiled programs, messages, file images).
struct ID3DXBuffer : public IUnknown {
  STDMETHOD_(LPVOID, GetBufferPointer)() PURE;
  STDMETHOD_(DWORD, GetBufferSize)() PURE;
};
typedef ID3DXBuffer* LPD3DXBUFFER;

// A zero-filled buffer of NumBytes bytes (0 is allowed: an empty buffer).
HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer);

// --- ID3DXSprite ---------------------------------------------------------------------------------
#define D3DXSPRITE_DONOTSAVESTATE (1 << 0)
#define D3DXSPRITE_DONOTMODIFY_RENDERSTATE (1 << 1)
#define D3DXSPRITE_OBJECTSPACE (1 << 2)
#define D3DXSPRITE_BILLBOARD (1 << 3)
#define D3DXSPRITE_ALPHABLEND (1 << 4)
#define D3DXSPRITE_SORT_TEXTURE (1 << 5)
#define D3DXSPRITE_SORT_DEPTH_FRONTTOBACK (1 << 6)
#define D3DXSPRITE_SORT_DEPTH_BACKTOFRONT (1 << 7)
#define D3DXSPRITE_DO_NOT_ADDREF_TEXTURE (1 << 8)

struct ID3DXSprite : public IUnknown {
  STDMETHOD(GetDevice)(LPDIRECT3DDEVICE9* ppDevice) PURE;
  STDMETHOD(GetTransform)(D3DXMATRIX* pTransform) PURE;
  STDMETHOD(SetTransform)(const D3DXMATRIX* pTransform) PURE;
  STDMETHOD(SetWorldViewRH)(const D3DXMATRIX* pWorld, const D3DXMATRIX* pView) PURE;
  STDMETHOD(SetWorldViewLH)(const D3DXMATRIX* pWorld, const D3DXMATRIX* pView) PURE;
  STDMETHOD(Begin)(DWORD Flags) PURE;
  STDMETHOD(Draw)
  (LPDIRECT3DTEXTURE9 pTexture, const RECT* pSrcRect, const D3DXVECTOR3* pCenter,
   const D3DXVECTOR3* pPosition, D3DCOLOR Color) PURE;
  STDMETHOD(Flush)() PURE;
  STDMETHOD(End)() PURE;
  STDMETHOD(OnLostDevice)() PURE;
  STDMETHOD(OnResetDevice)() PURE;
};
typedef ID3DXSprite* LPD3DXSPRITE;

HRESULT WINAPI D3DXCreateSprite(LPDIRECT3DDEVICE9 pDevice, LPD3DXSPRITE* ppSprite);

// --- ID3DXFont -----------------------------------------------------------------------------------
#ifndef LF_FACESIZE
#define LF_FACESIZE 32
#endif

typedef struct _D3DXFONT_DESCA {
  INT Height;
  UINT Width;
  UINT Weight;
  UINT MipLevels;
  BOOL Italic;
  BYTE CharSet;
  BYTE OutputPrecision;
  BYTE Quality;
  BYTE PitchAndFamily;
  CHAR FaceName[LF_FACESIZE];
} D3DXFONT_DESCA, *LPD3DXFONT_DESCA;

typedef struct _D3DXFONT_DESCW {
  INT Height;
  UINT Width;
  UINT Weight;
  UINT MipLevels;
  BOOL Italic;
  BYTE CharSet;
  BYTE OutputPrecision;
  BYTE Quality;
  BYTE PitchAndFamily;
  WCHAR FaceName[LF_FACESIZE];
} D3DXFONT_DESCW, *LPD3DXFONT_DESCW;

// DrawText format flags (shared with USER's DrawText; either header may define them first).
#ifndef DT_TOP
#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_EXPANDTABS 0x00000040
#define DT_TABSTOP 0x00000080
#define DT_NOCLIP 0x00000100
#define DT_EXTERNALLEADING 0x00000200
#define DT_CALCRECT 0x00000400
#define DT_NOPREFIX 0x00000800
#define DT_INTERNAL 0x00001000
#define DT_RTLREADING 0x00020000
#endif

struct ID3DXFont : public IUnknown {
  STDMETHOD(GetDevice)(LPDIRECT3DDEVICE9* ppDevice) PURE;
  STDMETHOD(GetDescA)(D3DXFONT_DESCA* pDesc) PURE;
  STDMETHOD(GetDescW)(D3DXFONT_DESCW* pDesc) PURE;
  STDMETHOD_(BOOL, GetTextMetricsA)(struct tagTEXTMETRICA* pTextMetrics) PURE;
  STDMETHOD_(BOOL, GetTextMetricsW)(struct tagTEXTMETRICW* pTextMetrics) PURE;
  STDMETHOD_(HDC, GetDC)() PURE;
  STDMETHOD(GetGlyphData)
  (UINT Glyph, LPDIRECT3DTEXTURE9* ppTexture, RECT* pBlackBox, POINT* pCellInc) PURE;
  STDMETHOD(PreloadCharacters)(UINT First, UINT Last) PURE;
  STDMETHOD(PreloadGlyphs)(UINT First, UINT Last) PURE;
  STDMETHOD(PreloadTextA)(LPCSTR pString, INT Count) PURE;
  STDMETHOD(PreloadTextW)(LPCWSTR pString, INT Count) PURE;
  // Returns the height of the text drawn (or measured with DT_CALCRECT), 0 on failure.
  STDMETHOD_(INT, DrawTextA)
  (ID3DXSprite* pSprite, LPCSTR pString, INT Count, LPRECT pRect, DWORD Format,
   D3DCOLOR Color) PURE;
  STDMETHOD_(INT, DrawTextW)
  (ID3DXSprite* pSprite, LPCWSTR pString, INT Count, LPRECT pRect, DWORD Format,
   D3DCOLOR Color) PURE;
  STDMETHOD(OnLostDevice)() PURE;
  STDMETHOD(OnResetDevice)() PURE;
};
typedef ID3DXFont* LPD3DXFONT;

HRESULT WINAPI D3DXCreateFontIndirectA(LPDIRECT3DDEVICE9 pDevice, const D3DXFONT_DESCA* pDesc,
                                       LPD3DXFONT* ppFont);
HRESULT WINAPI D3DXCreateFontA(LPDIRECT3DDEVICE9 pDevice, INT Height, UINT Width, UINT Weight,
                               UINT MipLevels, BOOL Italic, DWORD CharSet, DWORD OutputPrecision,
                               DWORD Quality, DWORD PitchAndFamily, LPCSTR pFaceName,
                               LPD3DXFONT* ppFont);
