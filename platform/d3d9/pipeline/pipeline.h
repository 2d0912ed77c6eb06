// The device's pipeline on the worker side: it replays recorded commands, keeps the state they
// set, and runs draws through the stages (vertex processing, primitive assembly, rasterisation,
// pixel processing, output merging). Surface operations (clears, copies, fills, the presented
// frame) run here too, in command order.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "d3d9/command_queue.h"
#include "d3d9/commands.h"
#include "d3d9/pipeline/output_merger.h"
#include "d3d9/pipeline/pipeline_state.h"
#include "d3d9/pipeline/pixel_processing.h"
#include "d3d9/pipeline/primitive_assembly.h"
#include "d3d9/pipeline/rasterizer.h"
#include "d3d9/pipeline/shader_stage.h"
#include "d3d9/pipeline/vertex_processing.h"

namespace d3d9 {

// When set, draws, StretchRect and Clear take only the general path (the automation's switch,
// with which tests prove that the fast paths draw the same pixels). Devices record a change of it
// into their command streams, so it applies to the commands recorded after it.
extern std::atomic<bool> g_disableFastPaths;
// Whether a device shares its draws with a second thread, by stripes of rows (read when the
// device is made; on a single processor there is no second thread).
extern std::atomic<bool> g_deviceStripes;

class Pipeline final : public CommandExecutor, private FragmentSink {
 public:
  explicit Pipeline(CommandQueue* queue);
  ~Pipeline();

  void Execute(const uint8_t* bytes, size_t size) override;

  // With the worker idle: drops the pipeline's bindings and, given a state, takes a copy of it
  // (pinning what it binds).
  void Reset(const DeviceState* state);

  // The frame the last present copy made when it could not write into the window directly.
  std::vector<uint32_t>& Frame() { return frame_; }
  int FrameWidth() const { return frameWidth_; }
  int FrameHeight() const { return frameHeight_; }

 private:
  enum Dirty : unsigned {
    kVertex = 1,
    kAssembly = 2,
    kPixel = 4,
    kMerge = 8,
    kRaster = 16,
    kShaders = 32,    // the bound shaders
    kConstants = 64,  // shader constants
    kAll = 127,
  };
  // A second thread replaying the same commands through a mirror of this pipeline, drawing the
  // odd stripes while this one draws the even ones.
  struct Helper;
  Pipeline(CommandQueue* queue, Helper* owner);
  void Replay(const uint8_t* bytes, size_t size);
  void StartHelper();
  // Around commands that touch pixels outside the stripes or change the targets: both threads
  // have finished every earlier draw when Barrier returns, and the mirror waits until the
  // primary calls Proceed. Barrier returns whether this pipeline carries the command out.
  bool Barrier();
  void Proceed();
  void Drop(Pinned* p) {
    if (!owner_) queue_->Release(p);
  }

  void Validate();
  void Draw(const CmdDraw& c, const uint8_t* payload);
  bool TryQuadFastPath(const RVertex* v, const uint16_t* corners);
  bool QuadSpriteLoop(const Fragment& frag, int u0, int v0, int px0, int px1, int py0, int py1);
  bool TargetOverwrittenNext(const uint8_t* bytes, size_t size) const;

  // FragmentSink.
  void BeginTriangle(const float* x, const float* y, const RVertex* const* v) override;
  void Flush(FragmentBatch& batch) override;

  // Surface operations (surface_ops.cpp).
  void RenderTarget(Surface* rt);
  void Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
             DWORD stencil);
  void StretchRect(Surface* src, const RECT& sr, Surface* dst, const RECT& dr,
                   D3DTEXTUREFILTERTYPE filter);
  void ColorFill(Surface* s, const RECT& r, D3DCOLOR color);
  void PresentCopy(const CmdPresent& c);

  CommandQueue* queue_;
  Helper* owner_ = nullptr;         // the mirror's: the helper it belongs to
  std::unique_ptr<Helper> helper_;  // the primary's, when draws are shared
  bool helperStarted_ = false;
  int stripe_ = -1;
  uint64_t barriers_ = 0;
  DeviceState ex_;
  unsigned dirty_ = kAll;
  bool fast_ = true;  // fast paths allowed, as last recorded
  int stages_ = 0;

  VertexProcessor vertex_;
  // Shaders, when bound: a vertex shader runs unless the vertices are transformed already.
  bool vertexShader_ = false;
  bool pixelShader_ = false;
  ShaderLinkage linkage_;
  ShaderTextureSampler shaderSampler_;
  VertexShaderStage vertexShaderStage_;
  PixelShaderStage pixelShaderStage_;
  PrimitiveAssembler assembly_;
  Rasterizer raster_;
  PixelProcessor pixel_;
  OutputMerger merger_;

  std::vector<RVertex> scratch_;  // transformed vertices, reused between draws
  std::vector<uint32_t> stretchCols_;
  std::vector<uint32_t> frame_;  // the presented frame being converted
  int frameWidth_ = 0, frameHeight_ = 0;
};

}  // namespace d3d9
