// Shared pieces of the D3DX texture and surface functions: moving ARGB images in and out of
// surfaces and texture levels, and the file format <-> D3DFORMAT mapping.
#pragma once

#include "d3d9.h"
#include "d3dx9tex.h"
#include "d3d9/pixel_format.h"
#include "d3dx9/image_codec.h"

namespace d3dx {

D3DFORMAT ToD3DFormat(FilePixelFormat format);

// The whole of `rect` (or the whole surface) read as ARGB. Render targets that cannot be locked
// are read through a system-memory copy. Fails for formats without a conversion.
HRESULT ReadSurface(IDirect3DSurface9* surface, const RECT* rect, ArgbImage* out);
// Writes `image` (already at the rectangle's size) into `rect` (or the whole surface).
HRESULT WriteSurface(IDirect3DSurface9* surface, const RECT* rect, const ArgbImage& image);

// The common tail of every surface loader: crop, key, resample to the destination rectangle
// with `filter` and write. `srcRect` and `destRect` may be null for "whole".
HRESULT LoadSurfaceFromImage(IDirect3DSurface9* dest, const RECT* destRect, const ArgbImage& src,
                             const RECT* srcRect, DWORD filter, D3DCOLOR colourKey,
                             bool sourceHasAlpha);

// D3DX_DEFAULT and invalid-kind handling shared by the loaders: returns false for a kind other
// than none, point, linear, triangle or box.
bool ResolveFilter(DWORD filter, DWORD defaultFilter, DWORD* resolved);

}  // namespace d3dx
