// ID3DXSprite: batches textured screen-space quads and submits them through the device's
// ordinary draw path (DrawPrimitiveUP), with the device state that is current at the flush.
#include <algorithm>
#include <vector>

#include "win32/com_object.h"
#include "automation.h"
#include "d3d9.h"
#include "d3dx9core.h"

const IID IID_ID3DXSprite = {
    0xba0b762d, 0x7d28, 0x43ec, {0xb9, 0xdc, 0x2f, 0x84, 0x44, 0x3b, 0x06, 0x14}};

namespace {

constexpr DWORD kSpriteFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct SpriteVertex {
  float x, y, z;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(SpriteVertex) == 24, "XYZ | DIFFUSE | TEX1 is 24 bytes");

// One queued quad: four corners in the vertex array and its texture.
struct QueuedQuad {
  IDirect3DTexture9* texture;
  float depth;       // for the depth-sorting flags
  bool axisAligned;  // edges parallel to the screen axes
};

// Render states Begin sets; captured before and restored by End.
constexpr D3DRENDERSTATETYPE kSavedRenderStates[] = {
    D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,  D3DRS_DESTBLEND, D3DRS_BLENDOP,
    D3DRS_ALPHATESTENABLE,  D3DRS_ALPHAFUNC, D3DRS_ALPHAREF,  D3DRS_CULLMODE,
    D3DRS_LIGHTING,         D3DRS_ZENABLE,   D3DRS_FOGENABLE, D3DRS_FILLMODE,
};
constexpr int kRenderStateCount = sizeof(kSavedRenderStates) / sizeof(kSavedRenderStates[0]);

struct StageState {
  DWORD stage;
  D3DTEXTURESTAGESTATETYPE type;
};
constexpr StageState kSavedStageStates[] = {
    {0, D3DTSS_COLOROP},       {0, D3DTSS_COLORARG1},
    {0, D3DTSS_COLORARG2},     {0, D3DTSS_ALPHAOP},
    {0, D3DTSS_ALPHAARG1},     {0, D3DTSS_ALPHAARG2},
    {0, D3DTSS_TEXCOORDINDEX}, {0, D3DTSS_TEXTURETRANSFORMFLAGS},
    {1, D3DTSS_COLOROP},       {1, D3DTSS_ALPHAOP},
};
constexpr int kStageStateCount = sizeof(kSavedStageStates) / sizeof(kSavedStageStates[0]);

constexpr D3DSAMPLERSTATETYPE kSavedSamplerStates[] = {
    D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER,
};
constexpr int kSamplerStateCount = sizeof(kSavedSamplerStates) / sizeof(kSavedSamplerStates[0]);

class Sprite final : public ComObject<ID3DXSprite> {
 public:
  explicit Sprite(IDirect3DDevice9* device) : device_(device) {
    device_->AddRef();
    D3DXMatrixIdentity(&transform_);
    D3DXMatrixIdentity(&world_);
    D3DXMatrixIdentity(&view_);
    vertices_.reserve(4 * 64);
    quads_.reserve(64);
  }
  ~Sprite() override {
    if (inBatch_) {
      ReleaseQueued();
      ReleaseSaved();
    }
    device_->Release();
  }

  HRESULT STDMETHODCALLTYPE GetDevice(LPDIRECT3DDEVICE9* ppDevice) override {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTransform(D3DXMATRIX* pTransform) override {
    if (!pTransform) return D3DERR_INVALIDCALL;
    *pTransform = transform_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetTransform(const D3DXMATRIX* pTransform) override {
    if (!pTransform) return D3DERR_INVALIDCALL;
    transform_ = *pTransform;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetWorldViewRH(const D3DXMATRIX* pWorld,
                                           const D3DXMATRIX* pView) override {
    return SetWorldView(pWorld, pView);
  }
  HRESULT STDMETHODCALLTYPE SetWorldViewLH(const D3DXMATRIX* pWorld,
                                           const D3DXMATRIX* pView) override {
    return SetWorldView(pWorld, pView);
  }

  HRESULT STDMETHODCALLTYPE Begin(DWORD Flags) override {
    if (inBatch_) return D3DERR_INVALIDCALL;
    flags_ = Flags;
    saved_ = false;
    if (!(flags_ & D3DXSPRITE_DONOTSAVESTATE)) Capture();
    ApplyState();
    inBatch_ = true;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE Draw(LPDIRECT3DTEXTURE9 pTexture, const RECT* pSrcRect,
                                 const D3DXVECTOR3* pCenter, const D3DXVECTOR3* pPosition,
                                 D3DCOLOR Color) override {
    if (!inBatch_ || !pTexture) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc;
    if (FAILED(pTexture->GetLevelDesc(0, &desc)) || desc.Width == 0 || desc.Height == 0)
      return D3DERR_INVALIDCALL;
    RECT src = {0, 0, (LONG)desc.Width, (LONG)desc.Height};
    if (pSrcRect) src = *pSrcRect;
    if (src.right <= src.left || src.bottom <= src.top) return D3D_OK;  // nothing to draw

    const float cx = pCenter ? pCenter->x : 0.0f, cy = pCenter ? pCenter->y : 0.0f;
    const float cz = pCenter ? pCenter->z : 0.0f;
    const float px = pPosition ? pPosition->x : 0.0f, py = pPosition ? pPosition->y : 0.0f;
    const float pz = pPosition ? pPosition->z : 0.0f;
    const float x0 = px - cx, y0 = py - cy, z = pz - cz;
    const float x1 = x0 + (float)(src.right - src.left), y1 = y0 + (float)(src.bottom - src.top);
    if (desc.Width != reciprocalOf_[0] || desc.Height != reciprocalOf_[1]) {
      reciprocalOf_[0] = desc.Width;
      reciprocalOf_[1] = desc.Height;
      reciprocal_[0] = 1.0f / (float)desc.Width;
      reciprocal_[1] = 1.0f / (float)desc.Height;
    }
    const float iw = reciprocal_[0], ih = reciprocal_[1];
    const float u0 = (float)src.left * iw, u1 = (float)src.right * iw;
    const float v0 = (float)src.top * ih, v1 = (float)src.bottom * ih;

    SpriteVertex corner[4] = {
        Transformed(x0, y0, z, Color, u0, v0),
        Transformed(x1, y0, z, Color, u1, v0),
        Transformed(x1, y1, z, Color, u1, v1),
        Transformed(x0, y1, z, Color, u0, v1),
    };
    // Two triangles, clockwise on screen: (0, 1, 2) and (0, 2, 3).
    vertices_.insert(vertices_.end(), corner, corner + 4);
    if (!(flags_ & D3DXSPRITE_DO_NOT_ADDREF_TEXTURE)) pTexture->AddRef();
    const bool axisAligned = transform_._12 == 0.0f && transform_._21 == 0.0f;
    quads_.push_back(QueuedQuad{pTexture, corner[0].z, axisAligned});
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE Flush() override {
    if (!inBatch_) return D3DERR_INVALIDCALL;
    if (quads_.empty()) return D3D_OK;  // the common case in the engine's sprite pass
    Submit();
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE End() override {
    if (!inBatch_) return D3DERR_INVALIDCALL;
    if (!quads_.empty()) Submit();
    if (saved_) Restore();
    inBatch_ = false;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE OnLostDevice() override {
    // Nothing of ours lives in the default pool; a batch still open is closed without drawing.
    if (inBatch_) {
      ReleaseQueued();
      if (saved_) Restore();
      inBatch_ = false;
    }
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResetDevice() override { return D3D_OK; }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_ID3DXSprite; }

 private:
  HRESULT SetWorldView(const D3DXMATRIX* pWorld, const D3DXMATRIX* pView) {
    if (pWorld) world_ = *pWorld;
    if (pView) view_ = *pView;
    return D3D_OK;
  }

  SpriteVertex Transformed(float x, float y, float z, D3DCOLOR colour, float u, float v) const {
    const D3DXMATRIX& m = transform_;
    float tx = x * m._11 + y * m._21 + z * m._31 + m._41;
    float ty = x * m._12 + y * m._22 + z * m._32 + m._42;
    float tz = x * m._13 + y * m._23 + z * m._33 + m._43;
    const float tw = x * m._14 + y * m._24 + z * m._34 + m._44;
    if (tw != 1.0f && tw != 0.0f) {
      tx /= tw;
      ty /= tw;
      tz /= tw;
    }
    return SpriteVertex{tx, ty, tz, colour, u, v};
  }

  void Capture() {
    for (int i = 0; i < kRenderStateCount; ++i)
      device_->GetRenderState(kSavedRenderStates[i], &renderStates_[i]);
    for (int i = 0; i < kStageStateCount; ++i)
      device_->GetTextureStageState(kSavedStageStates[i].stage, kSavedStageStates[i].type,
                                    &stageStates_[i]);
    for (int i = 0; i < kSamplerStateCount; ++i)
      device_->GetSamplerState(0, kSavedSamplerStates[i], &samplerStates_[i]);
    device_->GetTransform(D3DTS_WORLD, &savedWorld_);
    device_->GetTransform(D3DTS_VIEW, &savedView_);
    device_->GetTransform(D3DTS_PROJECTION, &savedProjection_);
    device_->GetFVF(&savedFvf_);
    savedTexture_ = nullptr;
    device_->GetTexture(0, &savedTexture_);  // adds a reference
    savedVertexShader_ = nullptr;
    device_->GetVertexShader(&savedVertexShader_);
    savedPixelShader_ = nullptr;
    device_->GetPixelShader(&savedPixelShader_);
    saved_ = true;
  }

  void Restore() {
    for (int i = 0; i < kRenderStateCount; ++i)
      device_->SetRenderState(kSavedRenderStates[i], renderStates_[i]);
    for (int i = 0; i < kStageStateCount; ++i)
      device_->SetTextureStageState(kSavedStageStates[i].stage, kSavedStageStates[i].type,
                                    stageStates_[i]);
    for (int i = 0; i < kSamplerStateCount; ++i)
      device_->SetSamplerState(0, kSavedSamplerStates[i], samplerStates_[i]);
    device_->SetTransform(D3DTS_WORLD, &savedWorld_);
    device_->SetTransform(D3DTS_VIEW, &savedView_);
    device_->SetTransform(D3DTS_PROJECTION, &savedProjection_);
    device_->SetFVF(savedFvf_);
    device_->SetTexture(0, savedTexture_);
    device_->SetVertexShader(savedVertexShader_);
    device_->SetPixelShader(savedPixelShader_);
    ReleaseSaved();
  }

  void ReleaseSaved() {
    SafeRelease(savedTexture_);
    SafeRelease(savedVertexShader_);
    SafeRelease(savedPixelShader_);
    saved_ = false;
  }

  void ApplyState() {
    if (!(flags_ & D3DXSPRITE_DONOTMODIFY_RENDERSTATE)) {
      const bool blend = (flags_ & D3DXSPRITE_ALPHABLEND) != 0;
      device_->SetRenderState(D3DRS_ALPHABLENDENABLE, blend ? TRUE : FALSE);
      if (blend) {
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device_->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
      }
      device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
      device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
      device_->SetRenderState(D3DRS_ALPHAREF, 0);
      device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
      device_->SetRenderState(D3DRS_LIGHTING, FALSE);
      device_->SetRenderState(D3DRS_FOGENABLE, FALSE);
      device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
      // Screen-space sprites ignore the depth buffer; object-space ones keep the caller's test.
      if (!(flags_ & D3DXSPRITE_OBJECTSPACE)) device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);

      device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
      device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
      device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
      device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
      device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
      device_->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
      device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
      device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
      device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
      device_->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);

      device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
      device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
      device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
      device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
      device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
      device_->SetVertexShader(nullptr);
      device_->SetPixelShader(nullptr);
    }
    if (flags_ & D3DXSPRITE_OBJECTSPACE) {
      device_->SetTransform(D3DTS_WORLD, &world_);
      device_->SetTransform(D3DTS_VIEW, &view_);
    } else {
      // Pixel-exact screen space: the half-pixel shift puts the corner of texel (0, 0) of a sprite
      // at an integer position on the corner of that pixel, so texels map one to one.
      D3DVIEWPORT9 vp;
      if (FAILED(device_->GetViewport(&vp))) vp = D3DVIEWPORT9{0, 0, 1, 1, 0.0f, 1.0f};
      D3DXMATRIX identity, projection;
      D3DXMatrixIdentity(&identity);
      const float left = (float)vp.X + 0.5f, right = (float)vp.X + (float)vp.Width + 0.5f;
      const float bottom = (float)vp.Y + (float)vp.Height + 0.5f, top = (float)vp.Y + 0.5f;
      D3DXMatrixOrthoOffCenterLH(&projection, left, right, bottom, top, vp.MinZ, vp.MaxZ);
      device_->SetTransform(D3DTS_WORLD, &identity);
      device_->SetTransform(D3DTS_VIEW, &identity);
      device_->SetTransform(D3DTS_PROJECTION, &projection);
    }
  }

  void SortIfAsked() {
    const bool byTexture = (flags_ & D3DXSPRITE_SORT_TEXTURE) != 0;
    const bool frontToBack = (flags_ & D3DXSPRITE_SORT_DEPTH_FRONTTOBACK) != 0;
    const bool backToFront = (flags_ & D3DXSPRITE_SORT_DEPTH_BACKTOFRONT) != 0;
    if (!byTexture && !frontToBack && !backToFront) return;
    order_.resize(quads_.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
      const QueuedQuad &qa = quads_[a], &qb = quads_[b];
      if (frontToBack && qa.depth != qb.depth) return qa.depth < qb.depth;
      if (backToFront && qa.depth != qb.depth) return qa.depth > qb.depth;
      if (byTexture) return qa.texture < qb.texture;
      return false;
    });
    sortedQuads_.clear();
    sortedVertices_.clear();
    for (size_t i : order_) {
      sortedQuads_.push_back(quads_[i]);
      sortedVertices_.insert(sortedVertices_.end(), vertices_.begin() + 4 * i,
                             vertices_.begin() + 4 * i + 4);
    }
    quads_.swap(sortedQuads_);
    vertices_.swap(sortedVertices_);
  }

  // Draws the queued quads in order, texture by texture. Axis-aligned quads (glyphs, unrotated
  // sprites) go to the device one at a time, where its single-quad fast path takes them; turned
  // quads are drawn together, one DrawPrimitiveUP per run.
  void Submit() {
    SortIfAsked();
    device_->SetFVF(kSpriteFvf);
    size_t first = 0;
    while (first < quads_.size()) {
      const QueuedQuad& head = quads_[first];
      size_t last = first + 1;
      while (last < quads_.size() && quads_[last].texture == head.texture &&
             quads_[last].axisAligned == head.axisAligned)
        ++last;
      if (first == 0 || head.texture != quads_[first - 1].texture)
        device_->SetTexture(0, head.texture);
      if (head.axisAligned) {
        // The quad's four corners as a fan: triangles (0, 1, 2) and (0, 2, 3).
        for (size_t q = first; q < last; ++q)
          device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, &vertices_[4 * q], sizeof(SpriteVertex));
      } else {
        // The same two triangles per quad, as one list for the run.
        list_.clear();
        for (size_t q = first; q < last; ++q) {
          const SpriteVertex* c = &vertices_[4 * q];
          const SpriteVertex six[6] = {c[0], c[1], c[2], c[0], c[2], c[3]};
          list_.insert(list_.end(), six, six + 6);
        }
        device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)(2 * (last - first)), list_.data(),
                                 sizeof(SpriteVertex));
      }
      first = last;
    }
    ReleaseQueued();
  }

  void ReleaseQueued() {
    if (!(flags_ & D3DXSPRITE_DO_NOT_ADDREF_TEXTURE))
      for (QueuedQuad& q : quads_) q.texture->Release();
    quads_.clear();
    vertices_.clear();
  }

  IDirect3DDevice9* device_;
  D3DXMATRIX transform_;
  D3DXMATRIX world_;
  D3DXMATRIX view_;
  bool inBatch_ = false;
  DWORD flags_ = 0;

  std::vector<SpriteVertex> vertices_;  // four corners per queued quad
  std::vector<SpriteVertex> list_;      // a run of turned quads as triangles
  std::vector<QueuedQuad> quads_;
  // 1 / width and 1 / height for the texture size last drawn: sprites of one size follow each
  // other.
  UINT reciprocalOf_[2] = {0, 0};
  float reciprocal_[2] = {0.0f, 0.0f};
  std::vector<size_t> order_;
  std::vector<SpriteVertex> sortedVertices_;
  std::vector<QueuedQuad> sortedQuads_;

  bool saved_ = false;
  DWORD renderStates_[kRenderStateCount] = {};
  DWORD stageStates_[kStageStateCount] = {};
  DWORD samplerStates_[kSamplerStateCount] = {};
  D3DMATRIX savedWorld_ = {};
  D3DMATRIX savedView_ = {};
  D3DMATRIX savedProjection_ = {};
  DWORD savedFvf_ = 0;
  IDirect3DBaseTexture9* savedTexture_ = nullptr;
  IDirect3DVertexShader9* savedVertexShader_ = nullptr;
  IDirect3DPixelShader9* savedPixelShader_ = nullptr;
};

}  // namespace

HRESULT WINAPI D3DXCreateSprite(LPDIRECT3DDEVICE9 pDevice, LPD3DXSPRITE* ppSprite) {
  if (!ppSprite) return D3DERR_INVALIDCALL;
  *ppSprite = nullptr;
  if (!pDevice) return D3DERR_INVALIDCALL;
  if (AutomationFaultActive(AutomationFault::CreateSprite)) return E_OUTOFMEMORY;
  *ppSprite = new Sprite(pDevice);
  return D3D_OK;
}
