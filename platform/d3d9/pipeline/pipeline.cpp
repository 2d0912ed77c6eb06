// Command replay, state tracking and the draw path through the stages.
#include "d3d9/pipeline/pipeline.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <pthread.h>

#include "d3d9/d3d9_index_buffer.h"
#include "d3d9/d3d9_shader.h"
#include "d3d9/d3d9_surface.h"
#include "d3d9/d3d9_texture.h"
#include "d3d9/d3d9_vertex_buffer.h"
#include "d3d9/d3d9_vertex_declaration.h"

namespace d3d9 {

std::atomic<bool> g_disableFastPaths{false};
std::atomic<bool> g_deviceStripes{true};

namespace {

// Reads the command at `*at`, moves `*at` past it and returns its payload.
const uint8_t* NextCommand(const uint8_t* bytes, size_t* at, CmdHeader* header) {
  std::memcpy(header, bytes + *at, sizeof(*header));
  const uint8_t* payload = bytes + *at + sizeof(CmdHeader);
  *at += header->size;
  return payload;
}

// Which stages a render state concerns. Most states change only how fragments are merged, and
// the sprite pass changes a few of them around every quad: the other stages keep their set-up.
struct RenderStateStages {
  std::array<uint8_t, 256> stages;
  RenderStateStages() {
    stages.fill(8 /* kMerge */);
    const unsigned kVertex = 1, kAssembly = 2, kPixel = 4, kMerge = 8, kRaster = 16;
    for (D3DRENDERSTATETYPE s :
         {D3DRS_LIGHTING, D3DRS_NORMALIZENORMALS, D3DRS_LOCALVIEWER, D3DRS_COLORVERTEX,
          D3DRS_DIFFUSEMATERIALSOURCE, D3DRS_SPECULARMATERIALSOURCE, D3DRS_AMBIENTMATERIALSOURCE,
          D3DRS_EMISSIVEMATERIALSOURCE, D3DRS_AMBIENT, D3DRS_FOGVERTEXMODE, D3DRS_RANGEFOGENABLE,
          D3DRS_POINTSIZE, D3DRS_POINTSIZE_MIN, D3DRS_POINTSIZE_MAX, D3DRS_POINTSCALEENABLE,
          D3DRS_POINTSCALE_A, D3DRS_POINTSCALE_B, D3DRS_POINTSCALE_C})
      stages[s] = kVertex | kRaster;
    for (D3DRENDERSTATETYPE s :
         {D3DRS_FOGENABLE, D3DRS_FOGTABLEMODE, D3DRS_FOGSTART, D3DRS_FOGEND, D3DRS_FOGDENSITY})
      stages[s] = kVertex | kMerge | kRaster;
    stages[D3DRS_SPECULARENABLE] = kVertex | kPixel | kRaster;
    stages[D3DRS_TEXTUREFACTOR] = kPixel;
    for (D3DRENDERSTATETYPE s : {D3DRS_POINTSPRITEENABLE, D3DRS_CLIPPING, D3DRS_CLIPPLANEENABLE})
      stages[s] = kAssembly;
    for (D3DRENDERSTATETYPE s : {D3DRS_CULLMODE, D3DRS_FILLMODE, D3DRS_SHADEMODE, D3DRS_LASTPIXEL})
      stages[s] = kRaster;
    stages[D3DRS_SCISSORTESTENABLE] = kMerge | kRaster;
    stages[D3DRS_ZENABLE] = kMerge;
  }
};
const RenderStateStages kStateStages;

}  // namespace

// --- Two threads ---------------------------------------------------------------------------------

struct Pipeline::Helper {
  explicit Helper(CommandQueue* queue) : mirror(queue, this) {}
  Pipeline mirror;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  // Under mutex.
  const uint8_t* bytes = nullptr;  // the chunk posted
  size_t size = 0;
  uint64_t posted = 0, finished = 0;   // chunks
  uint64_t arrived = 0, released = 0;  // barriers
  bool stop = false;

  void Main() {
    pthread_setname_np(pthread_self(), "d3d9 stripes");
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return stop || posted > finished; });
      if (posted == finished) return;  // stopping
      const uint8_t* b = bytes;
      const size_t n = size;
      lock.unlock();
      mirror.Replay(b, n);
      lock.lock();
      ++finished;
      changed.notify_all();
    }
  }
};

Pipeline::Pipeline(CommandQueue* queue) : queue_(queue) {
  if (g_deviceStripes && std::thread::hardware_concurrency() >= 2) {
    helper_ = std::make_unique<Helper>(queue);
    stripe_ = 0;
    helper_->mirror.stripe_ = 1;
  }
}

Pipeline::Pipeline(CommandQueue* queue, Helper* owner) : queue_(queue), owner_(owner) {}

Pipeline::~Pipeline() {
  if (helper_ && helperStarted_) {
    {
      std::lock_guard<std::mutex> lock(helper_->mutex);
      helper_->stop = true;
    }
    helper_->changed.notify_all();
    helper_->thread.join();
  }
  Reset(nullptr);
}

void Pipeline::StartHelper() {
  helperStarted_ = true;
  try {
    helper_->thread = std::thread([h = helper_.get()] { h->Main(); });
  } catch (const std::system_error&) {
    // No second thread: this one draws every row.
    helper_.reset();
    helperStarted_ = false;
    stripe_ = -1;
    dirty_ = kAll;
  }
}

void Pipeline::Execute(const uint8_t* bytes, size_t size) {
  if (helper_ && !helperStarted_) StartHelper();
  if (!helper_) {
    Replay(bytes, size);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(helper_->mutex);
    helper_->bytes = bytes;
    helper_->size = size;
    ++helper_->posted;
  }
  helper_->changed.notify_all();
  Replay(bytes, size);
  std::unique_lock<std::mutex> lock(helper_->mutex);
  helper_->changed.wait(lock, [this] { return helper_->finished == helper_->posted; });
}

bool Pipeline::Barrier() {
  const uint64_t n = ++barriers_;
  if (owner_) {
    std::unique_lock<std::mutex> lock(owner_->mutex);
    owner_->arrived = n;
    owner_->changed.notify_all();
    owner_->changed.wait(lock, [this, n] { return owner_->released >= n; });
    return false;
  }
  if (helper_) {
    std::unique_lock<std::mutex> lock(helper_->mutex);
    helper_->changed.wait(lock, [this, n] { return helper_->arrived >= n; });
  }
  return true;
}

void Pipeline::Proceed() {
  if (!helper_) return;
  {
    std::lock_guard<std::mutex> lock(helper_->mutex);
    helper_->released = barriers_;
  }
  helper_->changed.notify_all();
}

// --- State ---------------------------------------------------------------------------------------

void Pipeline::Reset(const DeviceState* state) {
  if (helper_) helper_->mirror.Reset(state);
  if (owner_) {
    // The mirror pins nothing: the primary's pins cover both.
    ex_ = state ? *state : DeviceState{};
    dirty_ = kAll;
    return;
  }
  for (IDirect3DBaseTexture9* t : ex_.textures)
    if (t) AsTextureImage(t)->Pins()->Unpin();
  for (StreamBinding& s : ex_.streams)
    if (s.buffer) s.buffer->Unpin();
  if (ex_.indices) ex_.indices->Unpin();
  if (ex_.declaration) ex_.declaration->Unpin();
  if (ex_.renderTarget) ex_.renderTarget->Unpin();
  if (ex_.depthStencil) ex_.depthStencil->Unpin();
  if (ex_.vertexShader) ex_.vertexShader->Unpin();
  if (ex_.pixelShader) ex_.pixelShader->Unpin();
  ex_ = DeviceState{};
  if (state) {
    ex_ = *state;
    for (IDirect3DBaseTexture9* t : ex_.textures)
      if (t) AsTextureImage(t)->Pins()->Pin();
    for (StreamBinding& s : ex_.streams)
      if (s.buffer) s.buffer->Pin();
    if (ex_.indices) ex_.indices->Pin();
    if (ex_.declaration) ex_.declaration->Pin();
    if (ex_.renderTarget) ex_.renderTarget->Pin();
    if (ex_.depthStencil) ex_.depthStencil->Pin();
    if (ex_.vertexShader) ex_.vertexShader->Pin();
    if (ex_.pixelShader) ex_.pixelShader->Pin();
  }
  dirty_ = kAll;
}

void Pipeline::Replay(const uint8_t* bytes, size_t size) {
  for (size_t at = 0; at < size;) {
    CmdHeader header;
    const uint8_t* payload = NextCommand(bytes, &at, &header);
    switch (header.op) {
      case kOpRenderState: {
        auto* c = reinterpret_cast<const CmdState*>(payload);
        ex_.rs[c->a] = c->b;
        dirty_ |= kStateStages.stages[c->a];
        break;
      }
      case kOpStageState: {
        auto* c = reinterpret_cast<const CmdState*>(payload);
        ex_.tss[c->a][c->b] = c->c;
        dirty_ |= kPixel | kRaster;
        if (c->b == D3DTSS_COLOROP || c->b == D3DTSS_TEXCOORDINDEX ||
            c->b == D3DTSS_TEXTURETRANSFORMFLAGS)
          dirty_ |= kVertex | kAssembly;
        break;
      }
      case kOpSamplerState: {
        auto* c = reinterpret_cast<const CmdState*>(payload);
        ex_.samp[c->a][c->b] = c->c;
        dirty_ |= kPixel;
        break;
      }
      case kOpTransform: {
        auto* c = reinterpret_cast<const CmdTransform*>(payload);
        if (c->state == D3DTS_VIEW)
          ex_.view = c->m;
        else if (c->state == D3DTS_PROJECTION)
          ex_.proj = c->m;
        else if (c->state == 256)
          ex_.world = c->m;
        else
          ex_.texTransform[c->state - D3DTS_TEXTURE0] = c->m;
        dirty_ |= kVertex | kAssembly | kRaster;
        break;
      }
      case kOpViewport:
        ex_.viewport = reinterpret_cast<const CmdViewport*>(payload)->vp;
        dirty_ |= kVertex | kAssembly | kMerge | kRaster;
        break;
      case kOpScissor:
        ex_.scissor = reinterpret_cast<const CmdRect*>(payload)->r;
        dirty_ |= kMerge | kRaster;
        break;
      case kOpMaterial:
        ex_.material = reinterpret_cast<const CmdMaterial*>(payload)->m;
        dirty_ |= kVertex;
        break;
      case kOpLight:
      case kOpLightEnable: {
        auto* c = reinterpret_cast<const CmdLight*>(payload);
        if (ex_.lights.size() <= c->index)
          ex_.lights.resize(c->index + 1, LightSlot{D3DLIGHT9{}, false});
        ex_.lights[c->index].light = c->light;
        if (header.op == kOpLightEnable) ex_.lights[c->index].enabled = c->enable != FALSE;
        dirty_ |= kVertex;
        break;
      }
      case kOpClipPlane: {
        auto* c = reinterpret_cast<const CmdClipPlane*>(payload);
        std::memcpy(ex_.clipPlanes[c->index], c->plane, sizeof(c->plane));
        dirty_ |= kAssembly;
        break;
      }
      case kOpTexture: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        IDirect3DBaseTexture9*& slot = ex_.textures[c->slot];
        if (slot) Drop(AsTextureImage(slot)->Pins());
        slot = static_cast<IDirect3DBaseTexture9*>(c->object);
        dirty_ |= kPixel | kRaster;
        break;
      }
      case kOpFvf: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        ex_.fvf = c->value;
        if (!ex_.declaration) ex_.layout = VertexLayout::FromFvf(c->value);
        dirty_ |= kVertex | kAssembly | kRaster;
        break;
      }
      case kOpDeclaration: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        Drop(ex_.declaration);
        ex_.declaration = static_cast<VertexDeclaration*>(c->object);
        ex_.layout = ex_.declaration ? ex_.declaration->layout : VertexLayout::FromFvf(ex_.fvf);
        dirty_ |= kVertex | kAssembly | kRaster;
        break;
      }
      case kOpStream: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        StreamBinding& s = ex_.streams[c->slot];
        Drop(s.buffer);
        s.buffer = static_cast<VertexBuffer*>(c->object);
        s.offset = c->offset;
        s.stride = c->stride;
        break;
      }
      case kOpIndices: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        Drop(ex_.indices);
        ex_.indices = static_cast<IndexBuffer*>(c->object);
        break;
      }
      case kOpRenderTarget:
        // What was drawn into the old target may be read next as a texture: all of it.
        Barrier();
        Proceed();
        RenderTarget(static_cast<Surface*>(reinterpret_cast<const CmdBind*>(payload)->object));
        break;
      case kOpDepthStencil:
        Barrier();
        Proceed();
        Drop(ex_.depthStencil);
        ex_.depthStencil = static_cast<Surface*>(reinterpret_cast<const CmdBind*>(payload)->object);
        dirty_ |= kMerge | kRaster;
        break;
      case kOpDraw:
        Draw(*reinterpret_cast<const CmdDraw*>(payload), payload + sizeof(CmdDraw));
        break;
      case kOpClear: {
        // Surface operations are the primary's alone, with both threads' draws before them done.
        if (!Barrier()) break;
        auto* c = reinterpret_cast<const CmdClear*>(payload);
        DWORD flags = c->flags;
        if ((flags & D3DCLEAR_TARGET) && TargetOverwrittenNext(bytes + at, size - at))
          flags &= ~static_cast<DWORD>(D3DCLEAR_TARGET);
        Clear(c->count, reinterpret_cast<const D3DRECT*>(payload + sizeof(CmdClear)), flags,
              c->color, c->z, c->stencil);
        Proceed();
        break;
      }
      case kOpStretchRect: {
        if (!Barrier()) break;
        auto* c = reinterpret_cast<const CmdStretch*>(payload);
        StretchRect(c->src, c->sr, c->dst, c->dr, c->filter);
        Drop(c->src);
        Drop(c->dst);
        Proceed();
        break;
      }
      case kOpColorFill: {
        if (!Barrier()) break;
        auto* c = reinterpret_cast<const CmdFill*>(payload);
        ColorFill(c->surface, c->r, c->color);
        Drop(c->surface);
        Proceed();
        break;
      }
      case kOpPresentCopy:
        if (!Barrier()) break;
        PresentCopy(*reinterpret_cast<const CmdPresent*>(payload));
        Proceed();
        break;
      case kOpVertexShader:
        Drop(ex_.vertexShader);
        ex_.vertexShader =
            static_cast<VertexShader*>(reinterpret_cast<const CmdBind*>(payload)->object);
        dirty_ |= kShaders | kVertex | kAssembly | kPixel | kMerge | kRaster;
        break;
      case kOpPixelShader:
        Drop(ex_.pixelShader);
        ex_.pixelShader =
            static_cast<PixelShader*>(reinterpret_cast<const CmdBind*>(payload)->object);
        dirty_ |= kShaders | kVertex | kPixel | kMerge | kRaster;
        break;
      case kOpShaderConstants: {
        auto* c = reinterpret_cast<const CmdConstants*>(payload);
        WriteConstants(ex_.constants, c->file, c->start, c->count, c + 1);
        dirty_ |= kConstants;
        break;
      }
      case kOpFastPaths:
        fast_ = reinterpret_cast<const CmdBind*>(payload)->value != 0;
        dirty_ = kAll;
        break;
      default:
        break;
    }
  }
}

// Whether the next command of the chunk that touches pixels is a StretchRect replacing the whole
// render target, so that a colour clear before it would be overwritten unseen (a background
// stretched over the screen right after the clear of each frame).
bool Pipeline::TargetOverwrittenNext(const uint8_t* bytes, size_t size) const {
  for (size_t at = 0; at < size;) {
    CmdHeader header;
    const uint8_t* payload = NextCommand(bytes, &at, &header);
    switch (header.op) {
      case kOpRenderState:
      case kOpStageState:
      case kOpSamplerState:
      case kOpTransform:
      case kOpViewport:
      case kOpScissor:
      case kOpMaterial:
      case kOpLight:
      case kOpLightEnable:
      case kOpClipPlane:
      case kOpTexture:
      case kOpFvf:
      case kOpDeclaration:
      case kOpStream:
      case kOpIndices:
      case kOpVertexShader:
      case kOpPixelShader:
      case kOpShaderConstants:
        continue;  // state only
      case kOpStretchRect: {
        auto* c = reinterpret_cast<const CmdStretch*>(payload);
        const SurfaceStore& d = c->dst->store;
        return c->dst == ex_.renderTarget && c->src != c->dst && c->dr.left == 0 &&
               c->dr.top == 0 && c->dr.right == static_cast<LONG>(d.width) &&
               c->dr.bottom == static_cast<LONG>(d.height);
      }
      default:
        return false;
    }
  }
  return false;
}

void Pipeline::Validate() {
  if (!dirty_) return;
  vertexShader_ = ex_.vertexShader && !ex_.layout.pretransformed;
  pixelShader_ = ex_.pixelShader != nullptr;
  // A pixel shader reads the coordinates of every stage, whatever the stages' operations.
  if (dirty_ & (kVertex | kAssembly | kPixel | kRaster | kShaders))
    stages_ = pixelShader_ ? kMaxStages : ActiveStages(ex_);
  if (dirty_ & (kVertex | kShaders)) vertex_.Configure(ex_, stages_, fast_);
  if (dirty_ & (kAssembly | kShaders)) assembly_.Configure(ex_, stages_, vertexShader_);
  if (dirty_ & (kPixel | kShaders)) pixel_.Configure(ex_, fast_);
  if (dirty_ & (kPixel | kShaders)) shaderSampler_.Configure(ex_, fast_);
  if ((vertexShader_ || pixelShader_) && (dirty_ & (kVertex | kPixel | kShaders))) {
    uint8_t coordinates[kTexSlots] = {};
    for (int s = 0; s < pixel_.StageCount(); ++s)
      if (pixel_.StageSamples(s))
        coordinates[s] = static_cast<uint8_t>(pixel_.CoordinateComponents(s));
    linkage_.Link(vertexShader_ ? ex_.vertexShader : nullptr, ex_.pixelShader, pixel_.StageCount(),
                  pixel_.ReadsSpecular(), coordinates);
  }
  if (vertexShader_ && (dirty_ & (kVertex | kPixel | kShaders | kConstants)))
    vertexShaderStage_.Configure(ex_, linkage_, !pixelShader_, &shaderSampler_);
  if (pixelShader_ && (dirty_ & (kVertex | kPixel | kShaders | kConstants)))
    pixelShaderStage_.Configure(ex_, linkage_, !vertexShader_, &shaderSampler_);
  if (dirty_ & (kMerge | kVertex | kShaders)) {
    // A vertex shader's fog output is the vertex fog factor (1 when it writes none).
    merger_.Configure(ex_, vertexShader_ || vertex_.VertexFog(), fast_);
    if (pixelShader_ && ex_.pixelShader->Major() >= 3) merger_.DisableFog();
    // Pixel fog runs on the eye distance when the projection is a perspective one (its w is the
    // eye depth) and on pre-transformed vertices (whose rhw is 1 / w); on depth otherwise.
    const D3DMATRIX& p = ex_.proj;
    const bool affine = p._14 == 0.f && p._24 == 0.f && p._34 == 0.f && p._44 == 1.f;
    merger_.SetFogOnW(ex_.layout.pretransformed || !affine);
  }
  if (dirty_ & (kRaster | kMerge | kPixel | kVertex | kShaders)) {
    RasterSetup r;
    r.stripe = stripe_;
    r.clipX0 = merger_.ClipX0();
    r.clipY0 = merger_.ClipY0();
    r.clipX1 = merger_.ClipX1();
    r.clipY1 = merger_.ClipY1();
    r.cullMode = ex_.rs[D3DRS_CULLMODE];
    r.fillMode = ex_.rs[D3DRS_FILLMODE];
    r.flatShade = ex_.rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    r.lastPixel = ex_.rs[D3DRS_LASTPIXEL] != 0;
    r.diffuse = true;
    r.specular = pixel_.ReadsSpecular();
    r.fog = merger_.FogFromVertices();
    r.eye = merger_.FogOnEye();
    r.texSlots = 0;
    if (pixelShader_) {
      r.diffuse = (linkage_.varyings & 1) != 0;
      r.specular = (linkage_.varyings & 2) != 0;
      for (int s = 0; s < kTexSlots; ++s)
        if (linkage_.varyings & (1u << (2 + s))) {
          r.texSlots = static_cast<uint8_t>(r.texSlots | (1u << s));
          r.texComponents[s] = linkage_.components[2 + s];
        }
      r.helperLanes = true;
    } else {
      for (int s = 0; s < pixel_.StageCount(); ++s)
        if (pixel_.StageSamples(s)) {
          r.texSlots = static_cast<uint8_t>(r.texSlots | (1u << s));
          r.texComponents[s] = static_cast<uint8_t>(pixel_.CoordinateComponents(s));
        }
    }
    raster_.Configure(r, this);
  }
  dirty_ = 0;
}

void Pipeline::BeginTriangle(const float* x, const float* y, const RVertex* const* v) {
  if (!pixelShader_) pixel_.ChooseLevels(x, y, v);
}

void Pipeline::Flush(FragmentBatch& b) {
  // A shader that writes depth is tested on the depth it writes.
  const bool early = !(pixelShader_ && pixelShaderStage_.WritesDepth()) && merger_.EarlyDepth(b);
  if (!b.live) return;
  if (pixelShader_) {
    pixelShaderStage_.Shade(b);
    if (!b.live) return;
  } else {
    b.floatColour = false;
    pixel_.Shade(b);
  }
  merger_.Merge(b, early);
}

void Pipeline::Draw(const CmdDraw& c, const uint8_t* payload) {
  Validate();
  const RasterSetup& r = raster_.Setup();
  if (r.clipX0 >= r.clipX1 || r.clipY0 >= r.clipY1) return;
  VertexSource src;
  const void* indices = nullptr;
  if (c.user) {
    src.base[0] = payload;
    src.stride[0] = c.stride;
    if (c.indexed) indices = payload + c.vertexBytes;
  } else {
    for (int s = 0; s < kMaxStreams; ++s) {
      const StreamBinding& b = ex_.streams[s];
      if (!(ex_.layout.streams & (1u << s)) || !b.buffer) continue;
      src.base[s] =
          b.buffer->data.data() + b.offset + static_cast<size_t>(c.firstVertex) * b.stride;
      src.stride[s] = b.stride;
    }
    if (c.indexed) indices = ex_.indices->data.data() + c.indexOffset;
  }
  if (scratch_.size() < c.vertexCount) scratch_.resize(c.vertexCount);
  RVertex* v = scratch_.data();
  if (vertexShader_)
    vertexShaderStage_.Process(src, c.vertexCount, c.type == D3DPT_POINTLIST, v);
  else
    vertex_.Process(src, c.vertexCount, c.type == D3DPT_POINTLIST, v);

  if (fast_ && !indices && c.prims == 2 && !vertexShader_ && !pixelShader_) {
    static const uint16_t kList[6] = {0, 1, 2, 3, 4, 5};
    static const uint16_t kStrip[6] = {0, 1, 2, 2, 1, 3};
    static const uint16_t kFan[6] = {0, 1, 2, 0, 2, 3};
    const uint16_t* corners = c.type == D3DPT_TRIANGLELIST    ? kList
                              : c.type == D3DPT_TRIANGLESTRIP ? kStrip
                              : c.type == D3DPT_TRIANGLEFAN   ? kFan
                                                              : nullptr;
    if (corners && TryQuadFastPath(v, corners)) return;
  }
  assembly_.Draw(c.type, c.prims, v, c.vertexCount, indices, c.i32, c.minIndex, raster_);
}

}  // namespace d3d9
