// D3DX 9 textures and image files: texture creation, loading BMP and PNG files from memory into
// textures and surfaces, saving surfaces and textures as files in memory, mip-chain filtering.
#pragma once

#include "d3d9.h"
#include "d3dx9core.h"

// --- Size, level and format placeholders ------------------------------------------------------
#define D3DX_DEFAULT ((UINT)-1)           // size: round the file's size up to a power of two
#define D3DX_DEFAULT_NONPOW2 ((UINT)-2)   // size: keep the file's size
#define D3DX_FROM_FILE ((UINT)-3)         // size or mip count exactly as the file has it
#define D3DFMT_FROM_FILE ((D3DFORMAT)-3)  // format exactly as the file has it

// --- Filters: the low byte picks the kind, the higher bits are flags ---------------------------
#define D3DX_FILTER_NONE (1 << 0)
#define D3DX_FILTER_POINT (2 << 0)
#define D3DX_FILTER_LINEAR (3 << 0)
#define D3DX_FILTER_TRIANGLE (4 << 0)
#define D3DX_FILTER_BOX (5 << 0)

#define D3DX_FILTER_MIRROR_U (1 << 16)
#define D3DX_FILTER_MIRROR_V (2 << 16)
#define D3DX_FILTER_MIRROR_W (4 << 16)
#define D3DX_FILTER_MIRROR (7 << 16)
#define D3DX_FILTER_DITHER (1 << 19)
#define D3DX_FILTER_DITHER_DIFFUSION (2 << 19)
#define D3DX_FILTER_SRGB_IN (1 << 21)
#define D3DX_FILTER_SRGB_OUT (2 << 21)
#define D3DX_FILTER_SRGB (3 << 21)

#define D3DX_SKIP_DDS_MIP_LEVELS_MASK 0x1F
#define D3DX_SKIP_DDS_MIP_LEVELS_SHIFT 26

// --- D3DX error codes (facility 0x876) ----------------------------------------------------------
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

// --- Image files ---------------------------------------------------------------------------------
typedef enum _D3DXIMAGE_FILEFORMAT {
  D3DXIFF_BMP = 0,
  D3DXIFF_JPG = 1,
  D3DXIFF_TGA = 2,
  D3DXIFF_PNG = 3,
  D3DXIFF_DDS = 4,
  D3DXIFF_PPM = 5,
  D3DXIFF_DIB = 6,
  D3DXIFF_HDR = 7,
  D3DXIFF_PFM = 8,
  D3DXIFF_FORCE_DWORD = 0x7fffffff
} D3DXIMAGE_FILEFORMAT;

// What a file holds, as read from its headers.
typedef struct _D3DXIMAGE_INFO {
  UINT Width;
  UINT Height;
  UINT Depth;
  UINT MipLevels;
  D3DFORMAT Format;
  D3DRESOURCETYPE ResourceType;
  D3DXIMAGE_FILEFORMAT ImageFileFormat;
} D3DXIMAGE_INFO;

// --- Textures ------------------------------------------------------------------------------------
// Adjusts width, height, level count and format to what the device can create for this usage and
// pool, as D3DXCreateTexture would (any pointer may be null).
HRESULT WINAPI D3DXCheckTextureRequirements(LPDIRECT3DDEVICE9 pDevice, UINT* pWidth, UINT* pHeight,
                                            UINT* pNumMipLevels, DWORD Usage, D3DFORMAT* pFormat,
                                            D3DPOOL Pool);

HRESULT WINAPI D3DXCreateTexture(LPDIRECT3DDEVICE9 pDevice, UINT Width, UINT Height, UINT MipLevels,
                                 DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                 LPDIRECT3DTEXTURE9* ppTexture);

HRESULT WINAPI D3DXCreateTextureFromFileInMemory(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData,
                                                 UINT SrcDataSize, LPDIRECT3DTEXTURE9* ppTexture);

HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData,
                                                   UINT SrcDataSize, UINT Width, UINT Height,
                                                   UINT MipLevels, DWORD Usage, D3DFORMAT Format,
                                                   D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                                   D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo,
                                                   PALETTEENTRY* pPalette,
                                                   LPDIRECT3DTEXTURE9* ppTexture);

// As the in-memory forms, with the picture read from a file. D3DXERR_INVALIDDATA for a file that
// cannot be read.
HRESULT WINAPI D3DXCreateTextureFromFileA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile,
                                          LPDIRECT3DTEXTURE9* ppTexture);
HRESULT WINAPI D3DXCreateTextureFromFileExA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile, UINT Width,
                                            UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD Filter,
                                            DWORD MipFilter, D3DCOLOR ColorKey,
                                            D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                                            LPDIRECT3DTEXTURE9* ppTexture);

// Rebuilds every level below SrcLevel from the level above it (D3DX_DEFAULT filter = box).
HRESULT WINAPI D3DXFilterTexture(LPDIRECT3DBASETEXTURE9 pBaseTexture, const PALETTEENTRY* pPalette,
                                 UINT SrcLevel, DWORD Filter);

// --- Surfaces ------------------------------------------------------------------------------------
HRESULT WINAPI D3DXGetImageInfoFromFileInMemory(LPCVOID pSrcData, UINT SrcDataSize,
                                                D3DXIMAGE_INFO* pSrcInfo);

HRESULT WINAPI D3DXLoadSurfaceFromFileInMemory(LPDIRECT3DSURFACE9 pDestSurface,
                                               const PALETTEENTRY* pDestPalette,
                                               const RECT* pDestRect, LPCVOID pSrcData,
                                               UINT SrcDataSize, const RECT* pSrcRect, DWORD Filter,
                                               D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo);

HRESULT WINAPI D3DXLoadSurfaceFromMemory(LPDIRECT3DSURFACE9 pDestSurface,
                                         const PALETTEENTRY* pDestPalette, const RECT* pDestRect,
                                         LPCVOID pSrcMemory, D3DFORMAT SrcFormat, UINT SrcPitch,
                                         const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect,
                                         DWORD Filter, D3DCOLOR ColorKey);

HRESULT WINAPI D3DXLoadSurfaceFromSurface(LPDIRECT3DSURFACE9 pDestSurface,
                                          const PALETTEENTRY* pDestPalette, const RECT* pDestRect,
                                          LPDIRECT3DSURFACE9 pSrcSurface,
                                          const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect,
                                          DWORD Filter, D3DCOLOR ColorKey);

HRESULT WINAPI D3DXSaveSurfaceToFileInMemory(LPD3DXBUFFER* ppDestBuf,
                                             D3DXIMAGE_FILEFORMAT DestFormat,
                                             LPDIRECT3DSURFACE9 pSrcSurface,
                                             const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect);

HRESULT WINAPI D3DXSaveTextureToFileInMemory(LPD3DXBUFFER* ppDestBuf,
                                             D3DXIMAGE_FILEFORMAT DestFormat,
                                             LPDIRECT3DBASETEXTURE9 pSrcTexture,
                                             const PALETTEENTRY* pSrcPalette);
