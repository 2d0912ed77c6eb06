// IDirect3D9 and IDirect3DDevice9 implementation classes.
#pragma once

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "d3d9/commands.h"
#include "d3d9/d3d9_internal.h"

namespace d3d9 {

struct StreamBinding {
  VertexBuffer* buffer = nullptr;
  UINT offset = 0;
  UINT stride = 0;
  UINT freq = 1;
};

struct LightSlot {
  D3DLIGHT9 light;
  bool enabled;
};

// The pipeline state. The device keeps two: the one the application sets and reads back, and the
// one its worker draws with, which follows the first through the command stream.
struct DeviceState {
  DWORD rs[256];
  DWORD tss[8][33];
  DWORD samp[16][14];
  D3DMATRIX world, view, proj;
  D3DMATRIX texTransform[8];
  D3DVIEWPORT9 viewport{};
  D3DMATERIAL9 material{};
  std::vector<LightSlot> lights;
  float clipPlanes[6][4] = {};
  RECT scissor{};
  IDirect3DBaseTexture9* textures[8] = {};
  StreamBinding streams[16];
  IndexBuffer* indices = nullptr;
  DWORD fvf = 0;
  FvfLayout layout;
  Surface* renderTarget = nullptr;
  Surface* depthStencil = nullptr;
};

// A block of recorded commands on its way to the worker.
struct alignas(64) CommandChunk {
  std::vector<uint8_t> bytes;
  size_t used = 0;
};

class Direct3D final : public ComObject<IDirect3D9> {
 public:
  Direct3D();
  ~Direct3D() override;

  HRESULT STDMETHODCALLTYPE RegisterSoftwareDevice(void*) override { return D3DERR_INVALIDCALL; }
  UINT STDMETHODCALLTYPE GetAdapterCount() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT Adapter, DWORD Flags,
                                                 D3DADAPTER_IDENTIFIER9* pIdentifier) override;
  UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT Adapter, D3DFORMAT Format) override;
  HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT Adapter, D3DFORMAT Format, UINT Mode,
                                             D3DDISPLAYMODE* pMode) override;
  HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) override;
  HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType,
                                            D3DFORMAT AdapterFormat, D3DFORMAT BackBufferFormat,
                                            BOOL bWindowed) override;
  HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType,
                                              D3DFORMAT AdapterFormat, DWORD Usage,
                                              D3DRESOURCETYPE RType,
                                              D3DFORMAT CheckFormat) override;
  HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType,
                                                       D3DFORMAT SurfaceFormat, BOOL Windowed,
                                                       D3DMULTISAMPLE_TYPE MultiSampleType,
                                                       DWORD* pQualityLevels) override;
  HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType,
                                                   D3DFORMAT AdapterFormat,
                                                   D3DFORMAT RenderTargetFormat,
                                                   D3DFORMAT DepthStencilFormat) override;
  HRESULT STDMETHODCALLTYPE CheckDeviceFormatConversion(UINT Adapter, D3DDEVTYPE DeviceType,
                                                        D3DFORMAT SourceFormat,
                                                        D3DFORMAT TargetFormat) override;
  HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType,
                                          D3DCAPS9* pCaps) override;
  HMONITOR STDMETHODCALLTYPE GetAdapterMonitor(UINT Adapter) override;
  HRESULT STDMETHODCALLTYPE CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                                         DWORD BehaviorFlags,
                                         D3DPRESENT_PARAMETERS* pPresentationParameters,
                                         IDirect3DDevice9** ppReturnedDeviceInterface) override;

  // The capabilities every device of this adapter reports.
  static void FillCaps(D3DCAPS9* caps);

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_IDirect3D9; }

 private:
  bool videoReady_ = false;
  std::vector<D3DDISPLAYMODE> modes_;  // the adapter's modes, one list shared by its formats
};

enum class DeviceHealth { Ok, Lost, NotReset };

class Device final : public ComObject<IDirect3DDevice9> {
 public:
  Device(Direct3D* d3d, HWND focus, DWORD behavior);
  ~Device() override;
  // Creates the implicit surfaces for `pp` (already validated and completed).
  HRESULT Initialize(const D3DPRESENT_PARAMETERS& pp);

  HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override;
  UINT STDMETHODCALLTYPE GetAvailableTextureMem() override;
  HRESULT STDMETHODCALLTYPE EvictManagedResources() override { return D3D_OK; }
  HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9** ppD3D9) override;
  HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9* pCaps) override;
  HRESULT STDMETHODCALLTYPE GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override;
  HRESULT STDMETHODCALLTYPE GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* p) override;
  HRESULT STDMETHODCALLTYPE SetCursorProperties(UINT, UINT, IDirect3DSurface9*) override;
  void STDMETHODCALLTYPE SetCursorPosition(int, int, DWORD) override {}
  BOOL STDMETHODCALLTYPE ShowCursor(BOOL bShow) override;
  HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*,
                                                      IDirect3DSwapChain9**) override;
  HRESULT STDMETHODCALLTYPE GetSwapChain(UINT, IDirect3DSwapChain9**) override;
  UINT STDMETHODCALLTYPE GetNumberOfSwapChains() override { return 1; }
  HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) override;
  HRESULT STDMETHODCALLTYPE Present(const RECT* pSourceRect, const RECT* pDestRect,
                                    HWND hDestWindowOverride, const RGNDATA* pDirtyRegion) override;
  HRESULT STDMETHODCALLTYPE GetBackBuffer(UINT iSwapChain, UINT iBackBuffer,
                                          D3DBACKBUFFER_TYPE Type,
                                          IDirect3DSurface9** ppBackBuffer) override;
  HRESULT STDMETHODCALLTYPE GetRasterStatus(UINT iSwapChain, D3DRASTER_STATUS* p) override;
  HRESULT STDMETHODCALLTYPE SetDialogBoxMode(BOOL) override { return D3D_OK; }
  void STDMETHODCALLTYPE SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP*) override {}
  void STDMETHODCALLTYPE GetGammaRamp(UINT, D3DGAMMARAMP* pRamp) override;
  HRESULT STDMETHODCALLTYPE CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage,
                                          D3DFORMAT Format, D3DPOOL Pool,
                                          IDirect3DTexture9** ppTexture,
                                          HANDLE* pSharedHandle) override;
  HRESULT STDMETHODCALLTYPE CreateVolumeTexture(UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                                IDirect3DVolumeTexture9**, HANDLE*) override;
  HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                              IDirect3DCubeTexture9**, HANDLE*) override;
  HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                               IDirect3DVertexBuffer9** ppVertexBuffer,
                                               HANDLE* pSharedHandle) override;
  HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format,
                                              D3DPOOL Pool, IDirect3DIndexBuffer9** ppIndexBuffer,
                                              HANDLE* pSharedHandle) override;
  HRESULT STDMETHODCALLTYPE CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format,
                                               D3DMULTISAMPLE_TYPE MultiSample,
                                               DWORD MultisampleQuality, BOOL Lockable,
                                               IDirect3DSurface9** ppSurface,
                                               HANDLE* pSharedHandle) override;
  HRESULT STDMETHODCALLTYPE CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                                      D3DMULTISAMPLE_TYPE MultiSample,
                                                      DWORD MultisampleQuality, BOOL Discard,
                                                      IDirect3DSurface9** ppSurface,
                                                      HANDLE* pSharedHandle) override;
  HRESULT STDMETHODCALLTYPE UpdateSurface(IDirect3DSurface9* pSourceSurface,
                                          const RECT* pSourceRect,
                                          IDirect3DSurface9* pDestinationSurface,
                                          const POINT* pDestPoint) override;
  HRESULT STDMETHODCALLTYPE UpdateTexture(IDirect3DBaseTexture9* pSourceTexture,
                                          IDirect3DBaseTexture9* pDestinationTexture) override;
  HRESULT STDMETHODCALLTYPE GetRenderTargetData(IDirect3DSurface9* pRenderTarget,
                                                IDirect3DSurface9* pDestSurface) override;
  HRESULT STDMETHODCALLTYPE GetFrontBufferData(UINT, IDirect3DSurface9*) override;
  HRESULT STDMETHODCALLTYPE StretchRect(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                                        IDirect3DSurface9* pDestSurface, const RECT* pDestRect,
                                        D3DTEXTUREFILTERTYPE Filter) override;
  HRESULT STDMETHODCALLTYPE ColorFill(IDirect3DSurface9* pSurface, const RECT* pRect,
                                      D3DCOLOR color) override;
  HRESULT STDMETHODCALLTYPE CreateOffscreenPlainSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                                        D3DPOOL Pool, IDirect3DSurface9** ppSurface,
                                                        HANDLE* pSharedHandle) override;
  HRESULT STDMETHODCALLTYPE SetRenderTarget(DWORD RenderTargetIndex,
                                            IDirect3DSurface9* pRenderTarget) override;
  HRESULT STDMETHODCALLTYPE GetRenderTarget(DWORD RenderTargetIndex,
                                            IDirect3DSurface9** ppRenderTarget) override;
  HRESULT STDMETHODCALLTYPE SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil) override;
  HRESULT STDMETHODCALLTYPE GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) override;
  HRESULT STDMETHODCALLTYPE BeginScene() override;
  HRESULT STDMETHODCALLTYPE EndScene() override;
  HRESULT STDMETHODCALLTYPE Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color,
                                  float Z, DWORD Stencil) override;
  HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE State,
                                         const D3DMATRIX* pMatrix) override;
  HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
  HRESULT STDMETHODCALLTYPE MultiplyTransform(D3DTRANSFORMSTATETYPE State,
                                              const D3DMATRIX* pMatrix) override;
  HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT9* pViewport) override;
  HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* pViewport) override;
  HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9* pMaterial) override;
  HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9* pMaterial) override;
  HRESULT STDMETHODCALLTYPE SetLight(DWORD Index, const D3DLIGHT9* pLight) override;
  HRESULT STDMETHODCALLTYPE GetLight(DWORD Index, D3DLIGHT9* pLight) override;
  HRESULT STDMETHODCALLTYPE LightEnable(DWORD Index, BOOL Enable) override;
  HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD Index, BOOL* pEnable) override;
  HRESULT STDMETHODCALLTYPE SetClipPlane(DWORD Index, const float* pPlane) override;
  HRESULT STDMETHODCALLTYPE GetClipPlane(DWORD Index, float* pPlane) override;
  HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
  HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
  HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE, IDirect3DStateBlock9**) override;
  HRESULT STDMETHODCALLTYPE BeginStateBlock() override;
  HRESULT STDMETHODCALLTYPE EndStateBlock(IDirect3DStateBlock9**) override;
  HRESULT STDMETHODCALLTYPE SetClipStatus(const D3DCLIPSTATUS9* pClipStatus) override;
  HRESULT STDMETHODCALLTYPE GetClipStatus(D3DCLIPSTATUS9* pClipStatus) override;
  HRESULT STDMETHODCALLTYPE GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override;
  HRESULT STDMETHODCALLTYPE SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
  HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                                 DWORD* pValue) override;
  HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                                 DWORD Value) override;
  HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type,
                                            DWORD* pValue) override;
  HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type,
                                            DWORD Value) override;
  HRESULT STDMETHODCALLTYPE ValidateDevice(DWORD* pNumPasses) override;
  HRESULT STDMETHODCALLTYPE SetPaletteEntries(UINT, const PALETTEENTRY*) override;
  HRESULT STDMETHODCALLTYPE GetPaletteEntries(UINT, PALETTEENTRY*) override;
  HRESULT STDMETHODCALLTYPE SetCurrentTexturePalette(UINT) override;
  HRESULT STDMETHODCALLTYPE GetCurrentTexturePalette(UINT*) override;
  HRESULT STDMETHODCALLTYPE SetScissorRect(const RECT* pRect) override;
  HRESULT STDMETHODCALLTYPE GetScissorRect(RECT* pRect) override;
  HRESULT STDMETHODCALLTYPE SetSoftwareVertexProcessing(BOOL bSoftware) override;
  BOOL STDMETHODCALLTYPE GetSoftwareVertexProcessing() override { return softwareVp_; }
  HRESULT STDMETHODCALLTYPE SetNPatchMode(float nSegments) override;
  float STDMETHODCALLTYPE GetNPatchMode() override { return nPatch_; }
  HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                                          UINT PrimitiveCount) override;
  HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT BaseVertexIndex,
                                                 UINT MinVertexIndex, UINT NumVertices,
                                                 UINT startIndex, UINT primCount) override;
  HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                            const void* pVertexStreamZeroData,
                                            UINT VertexStreamZeroStride) override;
  HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType,
                                                   UINT MinVertexIndex, UINT NumVertices,
                                                   UINT PrimitiveCount, const void* pIndexData,
                                                   D3DFORMAT IndexDataFormat,
                                                   const void* pVertexStreamZeroData,
                                                   UINT VertexStreamZeroStride) override;
  HRESULT STDMETHODCALLTYPE ProcessVertices(UINT, UINT, UINT, IDirect3DVertexBuffer9*,
                                            IDirect3DVertexDeclaration9*, DWORD) override;
  HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9*,
                                                    IDirect3DVertexDeclaration9**) override;
  HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9*) override;
  HRESULT STDMETHODCALLTYPE GetVertexDeclaration(IDirect3DVertexDeclaration9**) override;
  HRESULT STDMETHODCALLTYPE SetFVF(DWORD FVF) override;
  HRESULT STDMETHODCALLTYPE GetFVF(DWORD* pFVF) override;
  HRESULT STDMETHODCALLTYPE CreateVertexShader(const DWORD*, IDirect3DVertexShader9**) override;
  HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9* pShader) override;
  HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9** ppShader) override;
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT, const float*, UINT) override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderConstantF(UINT, float*, UINT) override;
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantI(UINT, const int*, UINT) override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderConstantI(UINT, int*, UINT) override;
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstantB(UINT, const BOOL*, UINT) override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderConstantB(UINT, BOOL*, UINT) override;
  HRESULT STDMETHODCALLTYPE SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                                            UINT OffsetInBytes, UINT Stride) override;
  HRESULT STDMETHODCALLTYPE GetStreamSource(UINT StreamNumber,
                                            IDirect3DVertexBuffer9** ppStreamData,
                                            UINT* pOffsetInBytes, UINT* pStride) override;
  HRESULT STDMETHODCALLTYPE SetStreamSourceFreq(UINT StreamNumber, UINT Setting) override;
  HRESULT STDMETHODCALLTYPE GetStreamSourceFreq(UINT StreamNumber, UINT* pSetting) override;
  HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9* pIndexData) override;
  HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer9** ppIndexData) override;
  HRESULT STDMETHODCALLTYPE CreatePixelShader(const DWORD*, IDirect3DPixelShader9**) override;
  HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9* pShader) override;
  HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9** ppShader) override;
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantF(UINT, const float*, UINT) override;
  HRESULT STDMETHODCALLTYPE GetPixelShaderConstantF(UINT, float*, UINT) override;
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantI(UINT, const int*, UINT) override;
  HRESULT STDMETHODCALLTYPE GetPixelShaderConstantI(UINT, int*, UINT) override;
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstantB(UINT, const BOOL*, UINT) override;
  HRESULT STDMETHODCALLTYPE GetPixelShaderConstantB(UINT, BOOL*, UINT) override;
  HRESULT STDMETHODCALLTYPE DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*) override;
  HRESULT STDMETHODCALLTYPE DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*) override;
  HRESULT STDMETHODCALLTYPE DeletePatch(UINT) override;
  HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) override;

  // Resource bookkeeping: live D3DPOOL_DEFAULT resources block Reset.
  void DefaultPoolCreated() { ++liveDefaultPool_; }
  void DefaultPoolDestroyed() { --liveDefaultPool_; }
  int LiveDefaultPoolResources() const { return liveDefaultPool_; }

  // Waits until every recorded command has run: callers touching resource memory from the
  // application's side (locks, copies, Reset) call it first.
  void Finish();
  // Shows the frame of the last Present once the worker has finished it. Without `wait` it only
  // looks and returns whether nothing is left pending.
  bool CompletePresent(bool wait);

  // Automation.
  void MarkLost() { health_ = DeviceHealth::Lost; }
  void MarkResettable() {
    if (health_ == DeviceHealth::Lost) health_ = DeviceHealth::NotReset;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_IDirect3DDevice9; }

 private:
  void SetDefaultState();
  void ReleaseBindings();
  HRESULT CreateImplicitSurfaces(const D3DPRESENT_PARAMETERS& pp);
  bool ResolvePresentParameters(D3DPRESENT_PARAMETERS* pp);
  HRESULT ValidateDraw() const;
  void UnbindUserPointerStreams(bool indicesToo);
  HRESULT CheckStretchSurface(Surface* s, const RECT* r, RECT* out, bool dest) const;

  // Rasterizer entry points (rasterizer.cpp).
  void Validate();
  void BuildPixelState();
  void BuildStageState();
  void ChooseShortcuts();
  HRESULT DrawStream(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices,
                     UINT stride, UINT vertexCount, const void* indices, bool indices32,
                     INT baseVertex, UINT minIndex);
  void TransformVertices(const uint8_t* src, UINT stride, UINT count, RVertex* out);
  void DrawTriangle(const RVertex* a, const RVertex* b, const RVertex* c);
  void ClipAndDrawTriangle(const RVertex* a, const RVertex* b, const RVertex* c);
  void RasterTriangle(const RVertex& a, const RVertex& b, const RVertex& c);
  void DrawLine(const RVertex* a, const RVertex* b, bool last);
  void DrawPoint(const RVertex* a);
  void PlotVertexPixel(const RVertex& v, int x, int y);
  bool TryQuadFastPath(const RVertex* v, const uint16_t* corners);
  void ToScreen(RVertex* v) const;
  void ChooseTextureLevels(const RVertex& a, const RVertex& b, const RVertex& c);
  void ChooseTextureLevels(const float* x, const float* y, const RVertex* const* attrs);
  void ShadeSpan(int y, int x0, int x1, const float* base, const float* dx, int attrMask,
                 bool perspective, float zBase, float zdx);

 public:
  // Pixel-stage helpers shared with the fast paths (rasterizer.cpp).
  struct Fragment {
    int diffuse[4];   // r, g, b, a
    int specular[4];  // r, g, b, a
    float uv[kMaxTexSets][2];
    // Set by the quad fast path, whose texture coordinates fall exactly on texel centres: the
    // texel each stage samples there, fetched directly.
    bool presampled;
    uint32_t texel[8];
  };
  // Runs texture stages and the alpha test; false when the fragment is discarded.
  bool ShadeFragment(Fragment& f, uint32_t* out);
  void WriteColour(int x, int y, uint32_t src);

 private:
  bool QuadSpriteLoop(const Fragment& frag, int u0, int v0, int px0, int px1, int py0, int py1);

 private:
  Direct3D* d3d_;
  std::shared_ptr<DeviceLink> link_;
  HWND focusWindow_;
  DWORD behavior_;
  D3DPRESENT_PARAMETERS pp_{};
  DeviceHealth health_ = DeviceHealth::Ok;
  bool inScene_ = false;
  int liveDefaultPool_ = 0;
  bool cursorShown_ = false;
  BOOL softwareVp_ = FALSE;
  float nPatch_ = 0;

  Surface* backBuffer_ = nullptr;  // implicit; owned by the device
  Surface* autoDepth_ = nullptr;   // implicit; owned by the device

  // The application's view of the state: validated, read back by the Get calls, and holding a
  // reference on every bound object.
  DeviceState api_;
  D3DCLIPSTATUS9 clipStatus_{};
  // The worker's state: reached only by commands (or by the application's thread while the worker
  // is idle). Bound objects are pinned, not referenced. The worker's fields, the application's
  // and the shared ones each start a cache line of their own: the two threads would otherwise
  // pass lines back and forth on every draw.
  alignas(64) DeviceState ex_;

  // Derived worker state, rebuilt when dirty.
  bool pixelDirty_ = true;
  bool stagesDirty_ = true;  // texture stages, samplers or textures changed (implies pixelDirty_)
  bool matrixDirty_ = true;
  float wvp_[4][4];
  PixelState ps_;
  std::vector<RVertex> scratch_;  // transformed vertices, reused between draws
  // The first scratchPlain_ entries of scratch_ hold zero specular colour, zero texture sets 1
  // and up and point size 1, so the sprite-format decode need not write them again.
  size_t scratchPlain_ = 0;
  std::vector<uint32_t> stretchCols_;
  std::vector<Pinned*> workerReleases_;  // pins let go of in the current chunk
  std::vector<uint32_t> frame_;          // the presented frame being converted
  int frameWidth_ = 0, frameHeight_ = 0;

  // --- Command stream (worker.cpp) ---
  // Appends a command whose payload T (value-initialised, returned for filling) is followed by
  // `extra` bytes.
  template <class T>
  T* Record(uint32_t op, size_t extra = 0) {
    const size_t size = CommandSize(sizeof(T) + extra);
    if (!recording_ || recording_->used + size > recording_->bytes.size()) NewChunk(size);
    uint8_t* at = recording_->bytes.data() + recording_->used;
    recording_->used += size;
    const CmdHeader header{op, static_cast<uint32_t>(size)};
    std::memcpy(at, &header, sizeof(header));
    return new (at + sizeof(CmdHeader)) T{};
  }
  void NewChunk(size_t size);
  void Publish();
  void ExecuteHere();
  bool TargetOverwrittenNext(const uint8_t* bytes, size_t size) const;
  void WorkerMain();
  void Execute(const uint8_t* bytes, size_t size);
  void UnpinReleased();
  void PinBinding(Pinned* p) {
    if (p) p->Pin();
  }
  void ExecUnpin(Pinned* p) {
    if (p) workerReleases_.push_back(p);
  }
  void ResetExecState(bool copy);
  void ExecRenderTarget(Surface* rt);
  void ExecClear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                 DWORD stencil);
  void ExecStretchRect(Surface* src, const RECT& sr, Surface* dst, const RECT& dr,
                       D3DTEXTUREFILTERTYPE filter);
  void ExecColorFill(Surface* s, const RECT& r, D3DCOLOR color);
  void ExecPresentCopy(const CmdPresent& c);

  // The application's thread.
  alignas(64) std::unique_ptr<CommandChunk> recording_;
  std::thread worker_;
  bool workerFailed_ = false;  // no thread could be started: commands run as they are published
  std::vector<Pinned*> unpinning_;
  // Presentation: the worker converts the frame; the application's thread shows it.
  bool presentPending_ = false;
  uint64_t presentChunk_ = 0;  // the chunk holding the pending frame's copy
  HWND presentWindow_ = nullptr;
  bool windowWritten_ = false;  // the worker wrote the pending frame into the window's surface

  // Shared, under mutex_.
  alignas(64) std::mutex mutex_;
  std::condition_variable work_;  // chunks published, or stop
  std::condition_variable done_;  // a chunk finished
  std::deque<std::unique_ptr<CommandChunk>> pending_;
  std::vector<std::unique_ptr<CommandChunk>> spare_;
  uint64_t published_ = 0;  // chunks handed to the worker
  uint64_t executed_ = 0;   // chunks it has finished
  bool stop_ = false;
  std::vector<Pinned*> released_;  // pins to drop on the application's side

  std::chrono::steady_clock::time_point lastPresent_{};
  friend class Direct3D;
};

}  // namespace d3d9
