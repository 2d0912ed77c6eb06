// The Direct3D 9 device on the CPU: objects shared by the device, its resources and the rasterizer.
#pragma once

#include <SDL.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "d3d9.h"
#include "d3d9/pixel_format.h"

namespace d3d9 {

class Device;

// When set, draws, StretchRect and Clear take only the general path. Tests use it to prove that
// the fast paths produce the same pixels.
extern std::atomic<bool> g_disableFastPaths;

// When cleared, devices carry out their commands on the application's thread as they are
// published (the automation's switch, for measuring the worker against a synchronous device).
extern std::atomic<bool> g_deviceWorker;

// Resources keep a weak link to their device: they may outlive it (the app releases the device
// first), and the device must not be kept alive by its own resources.
struct DeviceLink {
  Device* device = nullptr;
};

// Pixel storage of one surface, in its own format.
struct SurfaceStore {
  D3DFORMAT format = D3DFMT_UNKNOWN;
  UINT width = 0;
  UINT height = 0;
  UINT bpp = 0;
  int pitch = 0;
  std::vector<uint8_t> bits;

  bool Allocate(D3DFORMAT fmt, UINT w, UINT h);
  uint8_t* Row(int y) { return bits.data() + static_cast<size_t>(y) * pitch; }
  const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * pitch; }
};

// A resource the device's worker still needs. Pins are taken and dropped on the application's
// thread only; a resource released by the application while pinned is deleted at its last unpin,
// so the reference counts the application sees are those of a synchronous device.
class Pinned {
 public:
  virtual void Pin() = 0;
  virtual void Unpin() = 0;

 protected:
  ~Pinned() = default;
};

// Shared implementation of IDirect3DResource9 for the resource interfaces.
template <class I>
class Resource : public ComObject<I>, public Pinned {
 public:
  void Pin() override { ++pins_; }
  void Unpin() override {
    if (--pins_ == 0 && zombie_) delete this;
  }

  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** ppDevice) override;
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, const void*, DWORD, DWORD) override;
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, void*, DWORD*) override;
  HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID) override;
  DWORD STDMETHODCALLTYPE SetPriority(DWORD p) override {
    DWORD old = priority_;
    priority_ = p;
    return old;
  }
  DWORD STDMETHODCALLTYPE GetPriority() override { return priority_; }
  void STDMETHODCALLTYPE PreLoad() override {}
  D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return type_; }

  D3DPOOL Pool() const { return pool_; }
  DWORD Usage() const { return usage_; }

 protected:
  Resource(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, D3DPOOL pool, DWORD usage,
           bool countAsDefaultPool);
  ~Resource() override;
  void LastReleased() override {
    if (pins_ > 0)
      zombie_ = true;
    else
      delete this;
  }
  // Waits for the device's worker before the application touches this resource's memory.
  void FinishDeviceWork() const;

  int pins_ = 0;
  bool zombie_ = false;
  std::shared_ptr<DeviceLink> link_;
  D3DRESOURCETYPE type_;
  D3DPOOL pool_;
  DWORD usage_;
  DWORD priority_ = 0;
  bool counted_ = false;
  struct PrivateEntry {
    GUID guid;
    std::vector<uint8_t> data;
    IUnknown* unknown = nullptr;
  };
  std::vector<PrivateEntry> private_;
};

class Texture;

enum class SurfaceKind { Plain, RenderTarget, DepthStencil, TextureLevel, BackBuffer, AutoDepth };

class Surface final : public Resource<IDirect3DSurface9> {
 public:
  // Implicit surfaces (back buffer, automatic depth buffer) and texture levels are not counted
  // as default-pool resources of their own.
  Surface(std::shared_ptr<DeviceLink> link, SurfaceKind kind, D3DPOOL pool, DWORD usage,
          bool lockable, Texture* container);

  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetContainer(REFIID riid, void** ppContainer) override;
  HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                                     DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE UnlockRect() override;
  HRESULT STDMETHODCALLTYPE GetDC(HDC* phdc) override;
  HRESULT STDMETHODCALLTYPE ReleaseDC(HDC hdc) override;

  // A texture level lives as long as its texture: pins go to the texture.
  void Pin() override;
  void Unpin() override;

  // Texture levels die with their texture, whatever their own count says.
  void DestroyLevel() { delete this; }

  SurfaceStore store;
  SurfaceKind kind;
  bool lockable;
  bool locked = false;
  Texture* container;

 protected:
  bool IsOwnInterface(REFIID riid) const override;
};

class Texture final : public Resource<IDirect3DTexture9> {
 public:
  Texture(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage);
  ~Texture() override;
  bool Allocate(UINT width, UINT height, UINT levels, D3DFORMAT format);

  DWORD STDMETHODCALLTYPE SetLOD(DWORD LODNew) override;
  DWORD STDMETHODCALLTYPE GetLOD() override { return lod_; }
  DWORD STDMETHODCALLTYPE GetLevelCount() override { return static_cast<DWORD>(levels.size()); }
  HRESULT STDMETHODCALLTYPE SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override;
  D3DTEXTUREFILTERTYPE STDMETHODCALLTYPE GetAutoGenFilterType() override { return autoGen_; }
  void STDMETHODCALLTYPE GenerateMipSubLevels() override;
  HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT Level,
                                            IDirect3DSurface9** ppSurfaceLevel) override;
  HRESULT STDMETHODCALLTYPE LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                                     DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE UnlockRect(UINT Level) override;
  HRESULT STDMETHODCALLTYPE AddDirtyRect(const RECT*) override { return D3D_OK; }

  // On a cache line of its own: the device's worker reads it for every draw while the
  // application's thread changes the reference count beside it.
  alignas(64) std::vector<Surface*> levels;

 protected:
  bool IsOwnInterface(REFIID riid) const override;

 private:
  DWORD lod_ = 0;
  D3DTEXTUREFILTERTYPE autoGen_ = D3DTEXF_LINEAR;
};

template <class I, class Desc>
class Buffer final : public Resource<I> {
 public:
  Buffer(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, D3DPOOL pool, DWORD usage,
         UINT size, DWORD fvfOrFormat);
  HRESULT STDMETHODCALLTYPE Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData,
                                 DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE Unlock() override;
  HRESULT STDMETHODCALLTYPE GetDesc(Desc* pDesc) override;

  std::vector<uint8_t> data;
  DWORD fvfOrFormat;
  int lockCount = 0;

 protected:
  bool IsOwnInterface(REFIID riid) const override;
};
using VertexBuffer = Buffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
using IndexBuffer = Buffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

// Our implementation object behind an interface pointer, or null for a foreign object.
Surface* AsSurface(IDirect3DSurface9* s);
Texture* AsTexture(IDirect3DBaseTexture9* t);
VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* b);
IndexBuffer* AsIndexBuffer(IDirect3DIndexBuffer9* b);

// Automation bookkeeping (present.cpp).
void NoteReset();

// --- Rasterizer ---------------------------------------------------------------------------------

// A vertex after the vertex stage: clip-space position (x, y, z, w) for transformed vertices or
// screen position with w = 1 / rhw for pre-transformed ones, then colours and texture coordinates.
constexpr int kAttrDiffuse = 0;   // r, g, b, a in 0..255
constexpr int kAttrSpecular = 4;  // r, g, b, a in 0..255
constexpr int kAttrTex = 8;       // u, v of coordinate sets 0..3
constexpr int kMaxTexSets = 4;
constexpr int kAttrCount = kAttrTex + 2 * kMaxTexSets;

struct RVertex {
  float x, y, z, w;
  float attr[kAttrCount];
  float psize;
};

// Layout of a flexible vertex format.
struct FvfLayout {
  DWORD fvf = 0;
  bool valid = false;
  bool rhw = false;
  UINT stride = 0;
  int normal = -1;
  int psize = -1;
  int diffuse = -1;
  int specular = -1;
  int texCount = 0;
  int tex[8] = {};
  int texDim[8] = {};
  static FvfLayout From(DWORD fvf);
};

struct SamplerView {
  const uint8_t* bits = nullptr;
  int pitch = 0;
  int width = 0;
  int height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  bool argb32 = false;  // A8R8G8B8 or X8R8G8B8: read directly
  bool xrgb = false;
};

struct StageState {
  DWORD colorOp, colorArg0, colorArg1, colorArg2;
  DWORD alphaOp, alphaArg0, alphaArg1, alphaArg2;
  int texSet;  // texture coordinate set
  Texture* texture;
  DWORD addressU, addressV;
  D3DCOLOR border;
  DWORD magFilter, minFilter, mipFilter;
  DWORD maxMipLevel;
  SamplerView view;  // level chosen for the current triangle
  bool linear;       // filter of the current triangle
};

// Everything the pixel stage needs, rebuilt from device state only when that state changes.
struct PixelState {
  // Target.
  uint8_t* color = nullptr;
  int colorPitch = 0;
  D3DFORMAT colorFormat = D3DFMT_UNKNOWN;
  bool color32 = false;  // A8R8G8B8 / X8R8G8B8
  bool colorHasAlpha = false;
  uint8_t* depth = nullptr;
  int depthPitch = 0;
  int depthBits = 0;  // 0 (none), 16, 24, 32
  int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;
  // Depth.
  bool zTest = false, zWrite = false;
  DWORD zFunc = D3DCMP_LESSEQUAL;
  // Alpha test.
  bool alphaTest = false;
  DWORD alphaFunc = D3DCMP_ALWAYS;
  int alphaRef = 0;
  // Blending.
  bool blend = false;
  DWORD srcBlend = D3DBLEND_ONE, dstBlend = D3DBLEND_ZERO, blendOp = D3DBLENDOP_ADD;
  bool separateAlpha = false;
  DWORD srcBlendAlpha = D3DBLEND_ONE, dstBlendAlpha = D3DBLEND_ZERO, blendOpAlpha = D3DBLENDOP_ADD;
  uint32_t blendFactor = 0xFFFFFFFF;
  uint32_t writeMask = 0xFFFFFFFF;  // per-byte mask of the ARGB value
  // Texture stages.
  int stageCount = 0;
  StageState stages[8];
  uint32_t tfactor = 0xFFFFFFFF;
  bool specularAdd = false;
  bool flatShade = false;
  DWORD cullMode = D3DCULL_CCW;
  DWORD fillMode = D3DFILL_SOLID;
  bool lastPixel = true;
  // Shortcuts for the common configurations, decided once per state change. They compute the
  // same values as the general code.
  enum class Shade { General, Diffuse, TextureModulate } shade = Shade::General;
  int shadeAlpha = 0;  // TextureModulate: 0 texture * diffuse, 1 texture, 2 diffuse
  enum class Blend { General, None, SrcAlpha } blendKind = Blend::General;
};

}  // namespace d3d9
