// Records of the engine core's lists: fonts and queued text, cameras and render views.
#pragma once

#include <cstdint>
#include <string>

#include "d3d9.h"
#include "d3dx9.h"

// One font of FontList: the D3DX font, the sprite batch its text is drawn through, and the
// description it was made from (kept so the font can be described after a reset).
struct Font {
  ID3DXFont* D3DFont;
  ID3DXSprite* D3DSprite;
  D3DXFONT_DESCA Description;
};

// One queued text of TextQueue, measured and aligned when it was queued.
struct TextCommand {
  int32_t X;             // origin after alignment
  int32_t Y;             // top of the text
  int32_t CentreOffset;  // rotation centre relative to the origin (0 when left aligned)
  float ScaleX;
  float ScaleY;
  float Rotation;  // radians
  float Depth;     // z translation of the text's transform
  int32_t Format;  // DT_LEFT, DT_CENTER or DT_RIGHT
  D3DCOLOR Colour;
  std::string Text;
  Font* FontHandle;
};

// A camera of CameraList, as far as the core reads it. Projection and View are recomputed from
// the lens and placement fields whenever the device is reset.
struct Camera {
  int32_t Id;  // free for the application; the engine core never reads it
  D3DMATRIX Projection;
  float FieldOfView;  // vertical, degrees
  float NearPlane;
  float FarPlane;
  D3DMATRIX View;
  float Eye[3];
  float LookAt[3];
  float Up[3];
  uint8_t Active;  // 1: the camera in use
};

// A render view of RenderViewList: one viewport of the back buffer seen through one camera.
struct RenderView {
  int32_t Id;  // free for the application; the frame never reads it
  Camera* CameraHandle;
  D3DVIEWPORT9 Viewport;
  D3DCOLOR ClearColour;
};
