// Vertex processing, fixed function: decoding vertex elements, transform to clip space, lighting,
// vertex fog, point sizes, texture coordinate generation and texture transforms.
#pragma once

#include "d3d9/pipeline/pipeline_state.h"

namespace d3d9 {

// Where a draw's vertices are: for each stream, the first vertex of the draw and the stride.
struct VertexSource {
  const uint8_t* base[kMaxStreams] = {};
  UINT stride[kMaxStreams] = {};
};

// How stage s finds its texture coordinates (D3DTSS_TEXCOORDINDEX and TEXTURETRANSFORMFLAGS).
struct StageCoordinates {
  DWORD set;       // coordinate set of the vertex
  DWORD generate;  // D3DTSS_TCI_* (high bits of TEXCOORDINDEX), 0 = pass the set through
  DWORD count;     // transform output components, 0 = no transform
  bool projected;  // divide by the last component before sampling
};

class VertexProcessor {
 public:
  // Everything that depends on state, recomputed when the pipeline says it changed.
  // `fast`: shortcuts that give the same values may be taken.
  void Configure(const DeviceState& s, int stages, bool fast);
  // Transforms `count` vertices of `src`. Point sizes are computed only for point lists.
  void Process(const VertexSource& src, UINT count, bool points, RVertex* out);

  // Which attributes the vertices carry for the rasteriser.
  bool VertexFog() const { return fogMode_ != 0 || fogFromSpecular_; }
  const StageCoordinates& Coordinates(int stage) const { return coords_[stage]; }
  // Camera-space depth of a clip-space w for pixel fog: the projection's w is the eye depth for
  // perspective projections.
  const D3DMATRIX& WorldViewProjection() const { return wvp_; }

 private:
  struct Light {
    int type;
    float diffuse[3], specular[3], ambient[3];
    float position[3];   // camera space
    float direction[3];  // camera space, normalised (spot and directional)
    float range, falloff, att0, att1, att2;
    float cosTheta, cosPhi;  // half angles
  };
  struct Colour {
    float r, g, b, a;
  };
  void ProcessGeneral(const VertexSource& src, UINT count, bool points, RVertex* out);
  void ProcessSpriteFormat(const VertexSource& src, UINT count, RVertex* out);
  void LightVertex(const float p[3], const float n[3], const Colour* vd, const Colour* vs,
                   float diffuse[4], float specular[4]) const;

  VertexLayout layout_;
  D3DMATRIX wvp_{}, wv_{};
  float normal_[3][3] = {};  // inverse transpose of world x view, upper 3 x 3
  bool pretransformed_ = false;
  bool lighting_ = false;
  bool normalize_ = false;
  bool specularOn_ = false;
  bool localViewer_ = true;
  bool colorVertex_ = true;
  DWORD diffuseSource_ = 0, specularSource_ = 0, ambientSource_ = 0, emissiveSource_ = 0;
  D3DMATERIAL9 material_{};
  float globalAmbient_[3] = {};
  std::vector<Light> lights_;
  int fogMode_ = 0;  // vertex fog: D3DFOG_*; 0 none
  bool fogFromSpecular_ = false;
  bool rangeFog_ = false;
  float fogStart_ = 0, fogEnd_ = 1, fogDensity_ = 1;
  float pointSize_ = 1, pointMin_ = 1, pointMax_ = 64, scaleA_ = 1, scaleB_ = 0, scaleC_ = 0;
  bool pointScale_ = false;
  float viewportHeight_ = 1;
  int stages_ = 0;
  StageCoordinates coords_[kMaxStages] = {};
  D3DMATRIX texMatrix_[kMaxStages] = {};
  bool spriteFormat_ = false;
  bool fast_ = true;
  // The first plain_ entries of the output hold what the sprite-format decode does not write
  // (specular, fog, coordinates beyond stage 0's u and v), so it need not write them again.
  size_t plain_ = 0;
  RVertex* plainFor_ = nullptr;
};

// The fog factor (1: no fog) of a distance for D3DFOG_LINEAR, EXP or EXP2.
float FogFactor(int mode, float distance, float start, float end, float density);

// The largest point size the device draws, in pixels.
constexpr float kMaxPointSize = 256.f;

}  // namespace d3d9
