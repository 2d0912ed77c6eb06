// IDirect3DDevice9: validates each call, keeps the application's state, and records commands for
// its queue, whose worker replays them through the pipeline.
#pragma once

#include <chrono>
#include <memory>

#include "d3d9/command_queue.h"
#include "d3d9/d3d9_surface.h"
#include "d3d9/direct3d9.h"
#include "d3d9/pipeline/pipeline.h"

namespace d3d9 {

enum class DeviceHealth { Ok, Lost, NotReset };

// Automation bookkeeping (present.cpp): a device was reset.
void NoteReset();

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
  void Finish() { queue_.Finish(); }
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
  template <class T>
  T* Record(uint32_t op, size_t extra = 0) {
    return queue_.Record<T>(op, extra);
  }
  // Records a change of the automation's fast-path switch before a command that may use one.
  void NoteFastPaths() {
    const bool fast = !g_disableFastPaths.load(std::memory_order_relaxed);
    if (fast != recordedFast_) {
      recordedFast_ = fast;
      Record<CmdBind>(kOpFastPaths)->value = fast;
    }
  }
  void SetDefaultState();
  void ReleaseBindings();
  HRESULT SetConstants(ConstantFile file, UINT start, const void* data, UINT count);
  // The vertex and pixel shader calls, which differ only in their types and names.
  template <class I>
  HRESULT CreateShader(const char* call, const DWORD* tokens, I** out);
  template <class I>
  HRESULT BindShader(I* shader, Shader<I>*& bound, uint32_t op);
  template <class I>
  static HRESULT GetShader(Shader<I>* bound, I** out);
  HRESULT GetConstants(ConstantFile file, UINT start, void* data, UINT count);
  HRESULT CreateImplicitSurfaces(const D3DPRESENT_PARAMETERS& pp);
  bool ResolvePresentParameters(D3DPRESENT_PARAMETERS* pp);
  HRESULT ValidateDraw() const;
  HRESULT ValidateStreams(int64_t first, UINT count) const;
  void UnbindUserPointerStreams(bool indicesToo);
  HRESULT CheckStretchSurface(Surface* s, const RECT* r, RECT* out, bool dest) const;

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
  // reference on every bound object. The worker's copy lives in the pipeline and follows this
  // one through the command stream.
  DeviceState api_;
  D3DCLIPSTATUS9 clipStatus_{};

  // Presentation: the worker converts the frame; the application's thread shows it.
  bool recordedFast_ = true;
  bool presentPending_ = false;
  uint64_t presentChunk_ = 0;  // the chunk holding the pending frame's copy
  HWND presentWindow_ = nullptr;
  bool windowWritten_ = false;  // the worker wrote the pending frame into the window's surface
  std::chrono::steady_clock::time_point lastPresent_{};

  // Declared last: the queue's destructor runs the commands still queued, which the pipeline
  // carries out, so both must outlive everything above.
  Pipeline pipeline_{&queue_};
  CommandQueue queue_{&pipeline_};
  friend class Direct3D;
};

}  // namespace d3d9
