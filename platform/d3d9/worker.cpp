// The device's worker: draws recorded on the application's thread run here, the way a graphics
// processor runs a command buffer while the program prepares the next frame. Everything the
// application can observe (locks, copies, Reset, presented frames) waits for it first.
#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "d3d9/commands.h"
#include "d3d9/device.h"

namespace d3d9 {

namespace {

// A program that records faster than the worker draws waits once this many chunks are queued,
// so memory stays bounded (about 16 MB of commands) whatever it records between presents.
constexpr size_t kMaxPendingChunks = 64;

UINT VertexCountFor(D3DPRIMITIVETYPE type, UINT prims) {
  switch (type) {
    case D3DPT_POINTLIST:
      return prims;
    case D3DPT_LINELIST:
      return prims * 2;
    case D3DPT_LINESTRIP:
      return prims + 1;
    case D3DPT_TRIANGLELIST:
      return prims * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      return prims + 2;
    default:
      return 0;
  }
}

constexpr UINT kMaxPrimitives = 0xFFFFF;

// Reads the command at `*at`, moves `*at` past it and returns its payload.
const uint8_t* NextCommand(const uint8_t* bytes, size_t* at, CmdHeader* header) {
  std::memcpy(header, bytes + *at, sizeof(*header));
  const uint8_t* payload = bytes + *at + sizeof(CmdHeader);
  *at += header->size;
  return payload;
}

}  // namespace

std::atomic<bool> g_deviceWorker{true};

// --- Recording ----------------------------------------------------------------------------------

// Starts a chunk with room for a command of `size` bytes, handing the full one to the worker.
void Device::NewChunk(size_t size) {
  if (recording_ && recording_->used > 0) Publish();
  // A program that neither presents nor locks still gets its released resources back.
  UnpinReleased();
  if (!recording_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!spare_.empty()) {
        recording_ = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (!recording_) recording_ = std::make_unique<CommandChunk>();
  }
  if (recording_->bytes.size() < std::max(kChunkBytes, size))
    recording_->bytes.resize(std::max(kChunkBytes, size));
  recording_->used = 0;
}

// Hands the chunk being recorded to the worker, starting the worker on first use.
void Device::Publish() {
  if (!recording_ || recording_->used == 0) return;
  if (!g_deviceWorker) {
    // Synchronous: after what the worker still has, the commands run here and now.
    if (worker_.joinable()) {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [this] { return executed_ == published_; });
    }
    ExecuteHere();
    return;
  }
  if (!worker_.joinable() && !workerFailed_) {
    try {
      worker_ = std::thread([this] { WorkerMain(); });
    } catch (const std::system_error&) {
      workerFailed_ = true;
    }
  }
  if (workerFailed_) {
    // No second thread: the commands run here and now, in order, as a synchronous device would.
    ExecuteHere();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  pending_.push_back(std::move(recording_));
  ++published_;
  work_.notify_one();
  done_.wait(lock, [this] { return pending_.size() < kMaxPendingChunks; });
}

void Device::ExecuteHere() {
  Execute(recording_->bytes.data(), recording_->used);
  std::lock_guard<std::mutex> lock(mutex_);
  released_.insert(released_.end(), workerReleases_.begin(), workerReleases_.end());
  workerReleases_.clear();
  recording_->used = 0;
  ++published_;
  ++executed_;
}

void Device::WorkerMain() {
  pthread_setname_np(pthread_self(), "d3d9 worker");  // what debuggers and top show
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping with nothing left
    std::unique_ptr<CommandChunk> chunk = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    Execute(chunk->bytes.data(), chunk->used);
    lock.lock();
    chunk->used = 0;
    spare_.push_back(std::move(chunk));
    released_.insert(released_.end(), workerReleases_.begin(), workerReleases_.end());
    workerReleases_.clear();
    ++executed_;
    done_.notify_all();
  }
}

void Device::Finish() {
  Publish();
  if (worker_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return executed_ == published_; });
  }
  UnpinReleased();
}

// Drops, on the application's thread, the pins the worker has let go of; a resource the
// application released meanwhile is deleted here.
void Device::UnpinReleased() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unpinning_.swap(released_);
  }
  for (Pinned* p : unpinning_) p->Unpin();
  unpinning_.clear();
}

// --- Replay -------------------------------------------------------------------------------------

void Device::Execute(const uint8_t* bytes, size_t size) {
  for (size_t at = 0; at < size;) {
    CmdHeader header;
    const uint8_t* payload = NextCommand(bytes, &at, &header);
    switch (header.op) {
      case kOpRenderState: {
        auto* c = reinterpret_cast<const CmdState*>(payload);
        ex_.rs[c->a] = c->b;
        pixelDirty_ = true;
        break;
      }
      case kOpStageState: {
        auto* c = reinterpret_cast<const CmdState*>(payload);
        ex_.tss[c->a][c->b] = c->c;
        pixelDirty_ = stagesDirty_ = true;
        break;
      }
      case kOpSamplerState: {
        auto* c = reinterpret_cast<const CmdState*>(payload);
        ex_.samp[c->a][c->b] = c->c;
        pixelDirty_ = stagesDirty_ = true;
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
        matrixDirty_ = true;
        break;
      }
      case kOpViewport:
        ex_.viewport = reinterpret_cast<const CmdViewport*>(payload)->vp;
        pixelDirty_ = matrixDirty_ = true;
        break;
      case kOpScissor:
        ex_.scissor = reinterpret_cast<const CmdRect*>(payload)->r;
        pixelDirty_ = true;
        break;
      case kOpMaterial:
        ex_.material = reinterpret_cast<const CmdMaterial*>(payload)->m;
        break;
      case kOpLight:
      case kOpLightEnable: {
        auto* c = reinterpret_cast<const CmdLight*>(payload);
        if (ex_.lights.size() <= c->index)
          ex_.lights.resize(c->index + 1, LightSlot{D3DLIGHT9{}, false});
        ex_.lights[c->index].light = c->light;
        if (header.op == kOpLightEnable) ex_.lights[c->index].enabled = c->enable != FALSE;
        break;
      }
      case kOpClipPlane: {
        auto* c = reinterpret_cast<const CmdClipPlane*>(payload);
        std::memcpy(ex_.clipPlanes[c->index], c->plane, sizeof(c->plane));
        break;
      }
      case kOpTexture: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        auto* t = static_cast<Texture*>(c->object);
        IDirect3DBaseTexture9*& slot = ex_.textures[c->slot];
        if (slot) ExecUnpin(static_cast<Texture*>(slot));
        slot = t;
        pixelDirty_ = stagesDirty_ = true;
        break;
      }
      case kOpFvf: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        ex_.fvf = c->value;
        ex_.layout = FvfLayout::From(c->value);
        break;
      }
      case kOpStream: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        StreamBinding& s = ex_.streams[c->slot];
        ExecUnpin(s.buffer);
        s.buffer = static_cast<VertexBuffer*>(c->object);
        s.offset = c->offset;
        s.stride = c->stride;
        break;
      }
      case kOpIndices: {
        auto* c = reinterpret_cast<const CmdBind*>(payload);
        ExecUnpin(ex_.indices);
        ex_.indices = static_cast<IndexBuffer*>(c->object);
        break;
      }
      case kOpRenderTarget:
        ExecRenderTarget(static_cast<Surface*>(reinterpret_cast<const CmdBind*>(payload)->object));
        break;
      case kOpDepthStencil: {
        ExecUnpin(ex_.depthStencil);
        ex_.depthStencil = static_cast<Surface*>(reinterpret_cast<const CmdBind*>(payload)->object);
        pixelDirty_ = true;
        break;
      }
      case kOpDraw: {
        auto* c = reinterpret_cast<const CmdDraw*>(payload);
        const uint8_t* vertices;
        const void* indices = nullptr;
        if (c->user) {
          vertices = payload + sizeof(CmdDraw);
          if (c->indexed) indices = vertices + c->vertexBytes;
        } else {
          vertices = ex_.streams[0].buffer->data.data() + c->vertexOffset;
          if (c->indexed) indices = ex_.indices->data.data() + c->indexOffset;
        }
        DrawStream(c->type, c->prims, vertices, c->stride, c->vertexCount, indices, c->i32, 0,
                   c->minIndex);
        break;
      }
      case kOpClear: {
        auto* c = reinterpret_cast<const CmdClear*>(payload);
        DWORD flags = c->flags;
        if ((flags & D3DCLEAR_TARGET) && TargetOverwrittenNext(bytes + at, size - at))
          flags &= ~static_cast<DWORD>(D3DCLEAR_TARGET);
        ExecClear(c->count, reinterpret_cast<const D3DRECT*>(payload + sizeof(CmdClear)), flags,
                  c->color, c->z, c->stencil);
        break;
      }
      case kOpStretchRect: {
        auto* c = reinterpret_cast<const CmdStretch*>(payload);
        ExecStretchRect(c->src, c->sr, c->dst, c->dr, c->filter);
        ExecUnpin(c->src);
        ExecUnpin(c->dst);
        break;
      }
      case kOpColorFill: {
        auto* c = reinterpret_cast<const CmdFill*>(payload);
        ExecColorFill(c->surface, c->r, c->color);
        ExecUnpin(c->surface);
        break;
      }
      case kOpPresentCopy: {
        ExecPresentCopy(*reinterpret_cast<const CmdPresent*>(payload));
        break;
      }
      default:
        break;
    }
  }
}

// Whether the next command of the chunk that touches pixels is a StretchRect replacing the whole
// render target, so that a colour clear before it would be overwritten unseen (a background
// stretched over the screen right after the clear of each frame).
bool Device::TargetOverwrittenNext(const uint8_t* bytes, size_t size) const {
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
      case kOpStream:
      case kOpIndices:
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

// --- Draw entry points ---------------------------------------------------------------------------

HRESULT Device::ValidateDraw() const {
  if (!inScene_) return D3DERR_INVALIDCALL;
  if (!api_.layout.valid) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

// Direct3D unbinds stream 0 (and, for indexed draws, the indices) after a user-pointer draw.
void Device::UnbindUserPointerStreams(bool indicesToo) {
  if (api_.streams[0].buffer) {
    api_.streams[0].buffer->Release();
    api_.streams[0] = StreamBinding{};
    *Record<CmdBind>(kOpStream) = CmdBind{0, nullptr, 0, 0, 0};
  }
  if (indicesToo && api_.indices) {
    api_.indices->Release();
    api_.indices = nullptr;
    Record<CmdBind>(kOpIndices)->object = nullptr;
  }
}

// User-pointer data is copied into the command stream; more than this in one draw is refused.
constexpr size_t kMaxUserBytes = size_t{1} << 28;

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT prims, const void* data, UINT stride) {
  if (!data || stride == 0 || prims == 0 || prims > kMaxPrimitives) return D3DERR_INVALIDCALL;
  UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  if (stride < api_.layout.stride) return D3DERR_INVALIDCALL;
  if (static_cast<uint64_t>(n) * stride > kMaxUserBytes) return D3DERR_INVALIDCALL;
  UnbindUserPointerStreams(false);
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  // The last vertex needs only the format's bytes, not a whole stride.
  const size_t bytes = static_cast<size_t>(n - 1) * stride + api_.layout.stride;
  auto* c = Record<CmdDraw>(kOpDraw, bytes);
  *c =
      CmdDraw{type, prims, stride, n, 0, static_cast<uint32_t>(bytes), 0, 0, 0, true, false, false};
  std::memcpy(c + 1, data, bytes);
  return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT prims) {
  if (prims == 0 || prims > kMaxPrimitives) return D3DERR_INVALIDCALL;
  UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  const StreamBinding& s = api_.streams[0];
  if (!s.buffer || s.stride < api_.layout.stride || s.stride == 0) return D3DERR_INVALIDCALL;
  uint64_t begin = s.offset + static_cast<uint64_t>(start) * s.stride;
  uint64_t end = begin + static_cast<uint64_t>(n - 1) * s.stride + api_.layout.stride;
  if (end > s.buffer->data.size()) return D3DERR_INVALIDCALL;
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  *Record<CmdDraw>(kOpDraw) = CmdDraw{
      type, prims, s.stride, n, 0, 0, 0, static_cast<uint32_t>(begin), 0, false, false, false};
  return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT numVerts,
                                     UINT startIndex, UINT prims) {
  if (prims == 0 || prims > kMaxPrimitives || numVerts == 0) return D3DERR_INVALIDCALL;
  UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  const StreamBinding& s = api_.streams[0];
  IndexBuffer* ib = api_.indices;
  if (!s.buffer || !ib || s.stride < api_.layout.stride || s.stride == 0) return D3DERR_INVALIDCALL;
  bool i32 = ib->fvfOrFormat == D3DFMT_INDEX32;
  uint64_t isz = i32 ? 4 : 2;
  if ((static_cast<uint64_t>(startIndex) + n) * isz > ib->data.size()) return D3DERR_INVALIDCALL;
  int64_t first = static_cast<int64_t>(base) + minIndex;
  if (first < 0) return D3DERR_INVALIDCALL;
  uint64_t begin = s.offset + static_cast<uint64_t>(first) * s.stride;
  uint64_t end = begin + static_cast<uint64_t>(numVerts - 1) * s.stride + api_.layout.stride;
  if (end > s.buffer->data.size()) return D3DERR_INVALIDCALL;
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  *Record<CmdDraw>(kOpDraw) = CmdDraw{type,
                                      prims,
                                      s.stride,
                                      numVerts,
                                      minIndex,
                                      0,
                                      0,
                                      static_cast<uint32_t>(begin),
                                      static_cast<uint32_t>(startIndex * isz),
                                      false,
                                      true,
                                      i32};
  return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVerts,
                                       UINT prims, const void* indexData, D3DFORMAT indexFormat,
                                       const void* vertexData, UINT stride) {
  if (!indexData || !vertexData || stride == 0 || prims == 0 || prims > kMaxPrimitives ||
      numVerts == 0)
    return D3DERR_INVALIDCALL;
  if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  UINT n = VertexCountFor(type, prims);
  if (n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = ValidateDraw();
  if (FAILED(hr)) return hr;
  if (stride < api_.layout.stride) return D3DERR_INVALIDCALL;
  if (static_cast<uint64_t>(numVerts) * stride + static_cast<uint64_t>(n) * 4 > kMaxUserBytes)
    return D3DERR_INVALIDCALL;
  UnbindUserPointerStreams(true);
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  const bool i32 = indexFormat == D3DFMT_INDEX32;
  const size_t vbytes = static_cast<size_t>(numVerts - 1) * stride + api_.layout.stride;
  const size_t ibytes = static_cast<size_t>(n) * (i32 ? 4 : 2);
  auto* c = Record<CmdDraw>(kOpDraw, vbytes + ibytes);
  *c = CmdDraw{type,
               prims,
               stride,
               numVerts,
               minIndex,
               static_cast<uint32_t>(vbytes),
               static_cast<uint32_t>(ibytes),
               0,
               0,
               true,
               true,
               i32};
  auto* out = reinterpret_cast<uint8_t*>(c + 1);
  std::memcpy(out, static_cast<const uint8_t*>(vertexData) + static_cast<size_t>(minIndex) * stride,
              vbytes);
  std::memcpy(out + vbytes, indexData, ibytes);
  return D3D_OK;
}

}  // namespace d3d9
