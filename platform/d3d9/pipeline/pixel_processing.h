// Pixel processing, fixed function: the eight texture stages (arguments, operations, the
// temporary register) and the specular sum, in 8-bit integer colour arithmetic.
#pragma once

#include "d3d9/pipeline/pipeline_state.h"
#include "d3d9/pipeline/texture_sampler.h"

namespace d3d9 {

struct StageState {
  DWORD colorOp, colorArg0, colorArg1, colorArg2;
  DWORD alphaOp, alphaArg0, alphaArg1, alphaArg2;
  DWORD resultArg;
  uint32_t constant;
  bool projected;  // coordinates divide by their fourth component
  TextureUnit unit;
};

// One fragment as the stages read it.
struct Fragment {
  int diffuse[4];   // r, g, b, a
  int specular[4];  // r, g, b, a
  float tex[kTexSlots][4];
  // Set by the quad fast path, whose texture coordinates fall exactly on texel centres: the
  // texel each stage samples there, fetched directly.
  bool presampled;
  uint32_t texel[kMaxStages];
};

class PixelProcessor {
 public:
  // Rebuilds the stage set-up from state. `texturesOnly` when only textures or samplers changed.
  // `fast`: shortcuts that give the same values may be taken.
  void Configure(const DeviceState& s, bool fast);
  // Picks the texture levels for a triangle from its screen positions and coordinates.
  void ChooseLevels(const float* x, const float* y, const RVertex* const* v);
  // Shades the live lanes of a batch into its colours.
  void Shade(FragmentBatch& batch) const;
  // Shades one fragment (the fast paths); the same arithmetic as Shade.
  uint32_t ShadeOne(const Fragment& f) const;

  int StageCount() const { return stageCount_; }
  const StageState& Stage(int s) const { return stages_[s]; }
  // Whether the stages read the specular colour, and which stages read coordinates.
  bool ReadsSpecular() const { return readsSpecular_; }
  bool StageSamples(int s) const { return stages_[s].unit.texture != nullptr; }
  // How many of a stage's four coordinates sampling reads (0 when it samples nothing).
  int CoordinateComponents(int stage) const;

  // Shortcuts for the common configurations, decided once per state change. They compute the
  // same values as the general code.
  enum class ShadeKind { General, Diffuse, TextureModulate };
  ShadeKind Shortcut() const { return shade_; }
  int ShortcutAlpha() const { return shadeAlpha_; }  // 0 texture * diffuse, 1 texture, 2 diffuse
  bool SpecularAdd() const { return specularAdd_; }

 private:
  uint32_t SampleStage(const StageState& st, const float* t) const;

  int stageCount_ = 0;
  bool fast_ = true;
  StageState stages_[kMaxStages];
  uint32_t tfactor_ = 0xFFFFFFFF;
  bool specularAdd_ = false;
  bool readsSpecular_ = false;
  ShadeKind shade_ = ShadeKind::General;
  int shadeAlpha_ = 0;
};

// Texture stages that run: those before the first whose colour operation is DISABLE.
int ActiveStages(const DeviceState& s);

}  // namespace d3d9
