// Records of the engine's 2D lists: textures, texture shaders, sprites and their draw queue, and
// screen images.
#pragma once

#include <cstdint>
#include <vector>

#include "d3d9.h"
#include "d3dx9.h"

// A texture of TextureList with the material the mesh pass uses beside it. Format, Height and
// Width describe the texture as created.
struct Texture {
  IDirect3DTexture9* D3DTexture;
  D3DMATERIAL9 Material;
  uint32_t RenderTarget;  // non-zero: released and re-created around a device reset
  D3DFORMAT Format;
  int32_t Height;
  int32_t Width;
};

// A compiled texture shader of TextureShaderList.
struct TextureShader {
  ID3DXTextureShader* D3DTextureShader;
};

// A sprite of SpriteList: a texture drawn through its own D3DX sprite batch.
struct Sprite {
  ID3DXSprite* D3DSprite;
  Texture* TextureHandle;
  D3DXVECTOR2 Translation;  // working storage of the sprite pass
  D3DXVECTOR3 Centre;       // rotation centre in texels
  D3DXVECTOR2 Scale;
  DWORD BeginFlags;  // flags for ID3DXSprite::Begin
  int32_t Height;
  int32_t Width;
  float Rotation;  // radians
  DWORD SourceBlend;
  DWORD DestBlend;
};

// A queued draw of SpriteDrawQueue: a snapshot of the sprite's state when it was queued.
struct SpriteDrawCommand {
  Sprite* SpriteHandle;
  float X;
  float Y;
  float Rotation;
  D3DXVECTOR2 Scale;
  uint32_t Alpha;  // 0..255
  DWORD SourceBlend;
  DWORD DestBlend;
};

// A screen image of ScreenImageList: a picture blitted onto the back buffer every frame.
struct ScreenImage {
  IDirect3DSurface9* Surface;
  int8_t Visible;    // drawn only when exactly 1
  RECT Destination;  // back-buffer edges, right and bottom exclusive
  RECT Source;       // always the whole surface
  // The picture as a PNG file: default-pool surfaces must be released before a device reset,
  // and the surface is rebuilt from this copy after it.
  std::vector<uint8_t> Picture;
};
