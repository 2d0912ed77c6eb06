// The programmable stages: vertex shaders in place of transform and lighting, pixel shaders in
// place of the texture stages, the texture reads they make, and the linkage of vertex outputs to
// pixel inputs through the rasteriser's varyings.
#pragma once

#include <memory>

#include "d3d9/pipeline/pipeline_state.h"
#include "d3d9/pipeline/texture_sampler.h"
#include "d3d9/pipeline/vertex_processing.h"
#include "shader/shader_executor.h"

namespace d3d9 {

// Where each input and output of the bound shaders travels. Colours and texture coordinates
// have fixed varyings (COLORn: n, TEXCOORDn: 2 + n), which fixed-function vertex processing also
// fills; other semantics a pixel shader reads take the varyings left free.
struct ShaderLinkage {
  struct Route {
    uint8_t slot;     // output slot of the vertex batch, or input slot of the pixel batch
    uint8_t varying;  // 0 .. kVaryings - 1
    uint8_t mask;     // components carried, bit 0 = x
    bool colour;      // a COLOR semantic
  };
  // Vertex shader outputs.
  Route vertexOut[vexa::kVertexOutputSlots * 4];
  int vertexOutCount = 0;
  int positionSlot = -1;
  int fogSlot = -1;
  int pointSizeSlot = -1;
  // Pixel shader inputs.
  Route pixelIn[vexa::kPixelInputSlots];
  int pixelInCount = 0;
  // Varyings the pixel side reads and how many components of each.
  uint16_t varyings = 0;
  uint8_t components[kVaryings] = {};

  // Links the bound shaders (either may be null: fixed function on that side).
  void Link(const VertexShader* vs, const PixelShader* ps, int fixedStages, bool fixedReadsSpecular,
            const uint8_t* fixedCoordinates);
};

// Texture reads for shaders: the textures and sampler states of the sixteen pixel samplers and
// the four vertex samplers, filtered in floating point from any format.
class ShaderTextureSampler final : public vexa::ShaderSampler {
 public:
  // `fast`: packed reads may go eight lanes at a time where the processor has AVX2.
  void Configure(const DeviceState& s, bool fast);
  void Sample(const vexa::SampleRequest& request, float* rgba) override;

  struct Unit {
    TextureImage* texture = nullptr;
    int levels = 0;
    int firstLevel = 0;  // D3DSAMP_MAXMIPLEVEL and the texture's LOD
    DWORD address[3] = {D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP};
    float border[4] = {};
    DWORD magFilter = D3DTEXF_POINT, minFilter = D3DTEXF_POINT, mipFilter = D3DTEXF_NONE;
    float lodBias = 0.f;
    SamplerView views[16];  // face 0's levels
    // A 2D texture whose levels are all A8R8G8B8, X8R8G8B8 or R32F, addressed in u and v by
    // WRAP on power-of-two sizes or by CLAMP: sampled a quad at a time.
    bool packed = false;
    bool lodMatters = true;  // more than one level or filter to choose from
    bool wide = false;       // packed, and read eight lanes at a time (AVX2 gathers)
  };

 private:
  // The levels and filter a level of detail selects.
  struct Choice {
    int level = 0;
    int level2 = -1;  // the next level blended in, or -1
    float blend = 0.f;
    int linear = 0;  // not a bool: its padded tail was copied by overlapping loads that stall
    bool SameLevels(const Choice& o) const {
      return level == o.level && level2 == o.level2 && linear == o.linear;
    }
  };
  static Choice Choose(const Unit& unit, float lod);
  void SampleLane(const Unit& unit, const vexa::SampleRequest& r, int lane, const Choice& choice,
                  float out[4]) const;
  // Lanes l0 .. l0 + 3 of a packed unit, all on the levels of `levels`, blended between them by
  // each lane's choice (`choices` may be null when `levels` has no second level).
  static void SampleQuad(const Unit& unit, const vexa::SampleRequest& r, int l0,
                         const Choice& levels, const Choice* choices, float* rgba);
  // The same for lanes l0 .. l0 + 7 of a wide unit.
  static void SamplePair(const Unit& unit, const vexa::SampleRequest& r, int l0,
                         const Choice& levels, const Choice* choices, float* rgba);
  // Fills the choices of the quad at l0; returns -1 (no lane used), the lead lane whose levels
  // the quad takes, or 4 (lane by lane).
  static int PlanQuad(const Unit& unit, const vexa::SampleRequest& r, int l0, bool cube,
                      float width, float height, Choice* choices);
  Unit units_[kSamplerSlots];
};

// Runs the bound vertex shader over a draw's vertices and writes them as the rasteriser reads
// them: clip-space positions and the varyings of the linkage.
class VertexShaderStage {
 public:
  VertexShaderStage();
  // `fixedPixels`: the texture stages read the varyings, colours in 0..255.
  void Configure(const DeviceState& s, const ShaderLinkage& link, bool fixedPixels,
                 ShaderTextureSampler* sampler);
  void Process(const VertexSource& src, UINT count, bool points, RVertex* out);

 private:
  struct Input {
    uint8_t slot;
    ElementRef element;
  };
  std::unique_ptr<vexa::ShaderExecutor> executor_;
  const ShaderLinkage* link_ = nullptr;
  Input inputs_[vexa::kVertexInputRegisters];
  int inputCount_ = 0;
  bool fixedPixels_ = false;
  bool clampColours_ = false;  // vs_2_0 saturates its colour outputs
  float pointSize_ = 1, pointMin_ = 1, pointMax_ = 64;
};

// Runs the bound pixel shader over a batch of fragments: colours (and, for floating-point
// targets, the unclamped values), depth when the shader writes it, and the lanes it kills.
class PixelShaderStage {
 public:
  PixelShaderStage();
  // `fixedVertices`: colours arrive in 0..255 from fixed-function vertex processing.
  void Configure(const DeviceState& s, const ShaderLinkage& link, bool fixedVertices,
                 ShaderTextureSampler* sampler);
  void Shade(FragmentBatch& batch);
  bool WritesDepth() const { return writesDepth_; }
  bool MayKill() const { return mayKill_; }

 private:
  void Run(FragmentBatch& b, int first, const int* lanes, int quads);
  std::unique_ptr<vexa::ShaderExecutor> executor_;
  const ShaderLinkage* link_ = nullptr;
  bool fixedVertices_ = false;
  bool writesDepth_ = false;
  bool mayKill_ = false;
  bool usesFace_ = false;
  bool usesPosition_ = false;
};

}  // namespace d3d9
