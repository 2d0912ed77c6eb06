// ID3DXFont: text drawn as sprite quads of glyphs cached in A8R8G8B8 managed textures. Glyph
// texels are white with the coverage in alpha, so the sprite's MODULATE stage turns the draw
// colour into the text colour and its alpha into the text's opacity.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "win32/com_object.h"
#include "automation.h"
#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9tex.h"
#include "text/font_service.h"
#include "windows.h"

const IID IID_ID3DXFont = {
    0xd79dbb70, 0x5f21, 0x4d36, {0xbb, 0xc2, 0xff, 0x52, 0x5c, 0x21, 0x3c, 0xdc}};

namespace {

constexpr UINT kCacheTextureSize = 256;
constexpr int kGlyphPadding = 1;  // transparent border so filtered, scaled text does not bleed
constexpr BYTE kNonAntialiasedQuality = 3;

// One Windows-1252 byte's glyph as placed in a cache texture.
struct CachedGlyph {
  bool ready = false;
  int texture = -1;  // index into the cache textures; -1 when the glyph has no pixels
  RECT source = {0, 0, 0, 0};
  int left = 0;  // pen position to the first column
  int top = 0;   // baseline up to the first row
  int advance = 0;
};

// A cache texture filled shelf by shelf, left to right.
struct CachePage {
  IDirect3DTexture9* texture = nullptr;
  UINT size = 0;
  UINT shelfY = 0;
  UINT shelfHeight = 0;
  UINT cursorX = 0;
};

// One laid-out line: a byte range of the text and its width in pixels.
struct Line {
  const char* text;
  int length;
  int width;
};

int FloorDiv2(int v) {
  return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

class Font final : public ComObject<ID3DXFont> {
 public:
  Font(IDirect3DDevice9* device, const D3DXFONT_DESCA& desc, ID3DXSprite* internalSprite)
      : device_(device), desc_(desc), sprite_(internalSprite) {
    device_->AddRef();
    desc_.FaceName[LF_FACESIZE - 1] = '\0';
    text::FontRequest request;
    request.face = desc_.FaceName;
    request.height = desc_.Height;
    request.width = (int)desc_.Width;
    request.weight = (int)desc_.Weight;
    request.italic = desc_.Italic != FALSE;
    request.antialias = desc_.Quality != kNonAntialiasedQuality;
    face_ = text::OpenFace(request);
    lines_.reserve(4);
  }
  ~Font() override {
    for (CachePage& page : pages_) SafeRelease(page.texture);
    SafeRelease(sprite_);
    device_->Release();
  }

  HRESULT STDMETHODCALLTYPE GetDevice(LPDIRECT3DDEVICE9* ppDevice) override {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDescA(D3DXFONT_DESCA* pDesc) override {
    if (!pDesc) return D3DERR_INVALIDCALL;
    *pDesc = desc_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDescW(D3DXFONT_DESCW* pDesc) override {
    if (!pDesc) return D3DERR_INVALIDCALL;
    pDesc->Height = desc_.Height;
    pDesc->Width = desc_.Width;
    pDesc->Weight = desc_.Weight;
    pDesc->MipLevels = desc_.MipLevels;
    pDesc->Italic = desc_.Italic;
    pDesc->CharSet = desc_.CharSet;
    pDesc->OutputPrecision = desc_.OutputPrecision;
    pDesc->Quality = desc_.Quality;
    pDesc->PitchAndFamily = desc_.PitchAndFamily;
    for (int i = 0; i < LF_FACESIZE; ++i)
      pDesc->FaceName[i] = (WCHAR)text::Cp1252ToUnicode((uint8_t)desc_.FaceName[i]);
    return D3D_OK;
  }

  BOOL STDMETHODCALLTYPE GetTextMetricsA(struct tagTEXTMETRICA* tm) override {
    if (!tm) return FALSE;
    const text::FontMetrics& m = face_->Metrics();
    std::memset(tm, 0, sizeof(*tm));
    tm->tmHeight = m.cellHeight;
    tm->tmAscent = m.ascent;
    tm->tmDescent = m.descent;
    tm->tmInternalLeading = m.internalLeading;
    tm->tmExternalLeading = m.externalLeading;
    tm->tmAveCharWidth = m.avgCharWidth;
    tm->tmMaxCharWidth = m.maxCharWidth;
    tm->tmWeight = m.weight;
    tm->tmDigitizedAspectX = 96;
    tm->tmDigitizedAspectY = 96;
    tm->tmFirstChar = 0x20;
    tm->tmLastChar = 0xFF;
    tm->tmDefaultChar = 0x1F;
    tm->tmBreakChar = 0x20;
    tm->tmItalic = m.italic ? 1 : 0;
    tm->tmUnderlined = m.underline ? 1 : 0;
    tm->tmStruckOut = m.strikeOut ? 1 : 0;
    tm->tmPitchAndFamily = desc_.PitchAndFamily;
    tm->tmCharSet = desc_.CharSet;
    return TRUE;
  }
  BOOL STDMETHODCALLTYPE GetTextMetricsW(struct tagTEXTMETRICW*) override { return FALSE; }
  HDC STDMETHODCALLTYPE GetDC() override { return nullptr; }

  HRESULT STDMETHODCALLTYPE GetGlyphData(UINT Glyph, LPDIRECT3DTEXTURE9* ppTexture, RECT* pBlackBox,
                                         POINT* pCellInc) override {
    if (Glyph > 0xFF) return D3DERR_INVALIDCALL;
    const CachedGlyph& g = Ensure((uint8_t)Glyph);
    if (ppTexture) {
      *ppTexture = g.texture >= 0 ? pages_[g.texture].texture : nullptr;
      if (*ppTexture) (*ppTexture)->AddRef();
    }
    if (pBlackBox) *pBlackBox = g.source;
    if (pCellInc) *pCellInc = POINT{g.advance, 0};
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE PreloadCharacters(UINT First, UINT Last) override {
    for (UINT c = First; c <= Last && c <= 0xFF; ++c) Ensure((uint8_t)c);
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE PreloadGlyphs(UINT First, UINT Last) override {
    return PreloadCharacters(First, Last);
  }
  HRESULT STDMETHODCALLTYPE PreloadTextA(LPCSTR pString, INT Count) override {
    if (!pString) return D3DERR_INVALIDCALL;
    const int n = Length(pString, Count);
    for (int i = 0; i < n; ++i) Ensure((uint8_t)pString[i]);
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE PreloadTextW(LPCWSTR pString, INT Count) override {
    if (!pString) return D3DERR_INVALIDCALL;
    const std::string narrow = Narrow(pString, Count);
    return PreloadTextA(narrow.c_str(), (INT)narrow.size());
  }

  INT STDMETHODCALLTYPE DrawTextA(ID3DXSprite* pSprite, LPCSTR pString, INT Count, LPRECT pRect,
                                  DWORD Format, D3DCOLOR Color) override {
    if (!pString) return 0;
    const int length = Length(pString, Count);
    Layout(pString, length, Format);
    const int lineHeight = face_->Metrics().cellHeight;
    const int totalHeight = (int)lines_.size() * lineHeight;
    int maxWidth = 0;
    for (const Line& line : lines_) maxWidth = std::max(maxWidth, line.width);

    if (Format & DT_CALCRECT) {
      if (!pRect) return 0;
      pRect->right = pRect->left + maxWidth;
      pRect->bottom = pRect->top + totalHeight;
      return totalHeight;
    }
    if (length == 0) return 0;

    // Without a rectangle the text is placed about the origin and never clipped.
    const RECT box = pRect ? *pRect : RECT{0, 0, 0, 0};
    const bool clip = pRect && !(Format & DT_NOCLIP);
    int y = box.top;
    if (Format & DT_BOTTOM) {
      y = box.bottom - totalHeight;
    } else if (Format & DT_VCENTER) {
      y = box.top + FloorDiv2((box.bottom - box.top) - totalHeight);
    }

    ID3DXSprite* sprite = pSprite;
    if (!sprite) {
      if (!sprite_ || FAILED(sprite_->Begin(D3DXSPRITE_ALPHABLEND))) return 0;
      D3DXMATRIX identity;
      sprite_->SetTransform(D3DXMatrixIdentity(&identity));
      sprite = sprite_;
    }
    bool drawn = true;
    const int ascent = face_->Metrics().ascent;
    for (const Line& line : lines_) {
      int x = box.left;
      if (Format & DT_RIGHT) {
        x = box.right - line.width;
      } else if (Format & DT_CENTER) {
        x = box.left + FloorDiv2((box.right - box.left) - line.width);
      }
      const int baseline = y + ascent;
      for (int i = 0; i < line.length; ++i) {
        const CachedGlyph& g = Ensure((uint8_t)line.text[i]);
        if (g.texture >= 0) {
          RECT src = g.source;
          LONG dx = x + g.left, dy = baseline - g.top;
          if (clip && !ClipToBox(box, &src, &dx, &dy)) {
            x += g.advance;
            continue;
          }
          const D3DXVECTOR3 position((float)dx, (float)dy, 0.0f);
          if (FAILED(sprite->Draw(pages_[g.texture].texture, &src, nullptr, &position, Color)))
            drawn = false;
        }
        x += g.advance;
      }
      y += lineHeight;
    }
    if (!pSprite) sprite_->End();
    return drawn ? totalHeight : 0;
  }

  INT STDMETHODCALLTYPE DrawTextW(ID3DXSprite* pSprite, LPCWSTR pString, INT Count, LPRECT pRect,
                                  DWORD Format, D3DCOLOR Color) override {
    if (!pString) return 0;
    const std::string narrow = Narrow(pString, Count);
    return DrawTextA(pSprite, narrow.c_str(), (INT)narrow.size(), pRect, Format, Color);
  }

  HRESULT STDMETHODCALLTYPE OnLostDevice() override {
    return sprite_ ? sprite_->OnLostDevice() : D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResetDevice() override {
    return sprite_ ? sprite_->OnResetDevice() : D3D_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_ID3DXFont; }

 private:
  static int Length(LPCSTR s, INT count) {
    if (count < 0) return (int)std::strlen(s);
    const void* end = std::memchr(s, 0, (size_t)count);
    return end ? (int)((const char*)end - s) : count;
  }

  // Wide text to Windows-1252 bytes; characters outside the code page become '?'.
  static std::string Narrow(LPCWSTR s, INT count) {
    std::string out;
    for (int i = 0; count < 0 ? s[i] != 0 : i < count; ++i) {
      if (s[i] == 0) break;
      const uint32_t c = (uint32_t)s[i];
      char byte = '?';
      for (int b = 0; b < 256; ++b)
        if (text::Cp1252ToUnicode((uint8_t)b) == c) {
          byte = (char)b;
          break;
        }
      out.push_back(byte);
    }
    return out;
  }

  // Splits the text into lines (at '\n' unless DT_SINGLELINE) and measures each.
  void Layout(const char* s, int length, DWORD format) {
    lines_.clear();
    int start = 0;
    for (int i = 0; i <= length; ++i) {
      const bool end = i == length;
      if (!end && (s[i] != '\n' || (format & DT_SINGLELINE))) continue;
      int lineEnd = i;
      if (lineEnd > start && s[lineEnd - 1] == '\r') --lineEnd;
      int width = 0;
      for (int k = start; k < lineEnd; ++k) width += Ensure((uint8_t)s[k]).advance;
      lines_.push_back(Line{s + start, lineEnd - start, width});
      start = i + 1;
    }
  }

  // Clips a glyph quad to the box; false when nothing of it is left.
  static bool ClipToBox(const RECT& box, RECT* src, LONG* dx, LONG* dy) {
    const LONG w = src->right - src->left, h = src->bottom - src->top;
    LONG x0 = *dx, y0 = *dy, x1 = *dx + w, y1 = *dy + h;
    const LONG cx0 = std::max(x0, box.left), cy0 = std::max(y0, box.top);
    const LONG cx1 = std::min(x1, box.right), cy1 = std::min(y1, box.bottom);
    if (cx0 >= cx1 || cy0 >= cy1) return false;
    src->left += cx0 - x0;
    src->top += cy0 - y0;
    src->right -= x1 - cx1;
    src->bottom -= y1 - cy1;
    *dx = cx0;
    *dy = cy0;
    return true;
  }

  const CachedGlyph& Ensure(uint8_t byte) {
    CachedGlyph& slot = glyphs_[byte];
    if (slot.ready) return slot;
    slot.ready = true;
    // Control characters take no room and draw nothing.
    if (byte < 0x20 && byte != '\t') return slot;
    const uint32_t codePoint = byte == '\t' ? 0x20 : text::Cp1252ToUnicode(byte);
    const text::Glyph& glyph = face_->GlyphFor(codePoint);
    slot.left = glyph.left;
    slot.top = glyph.top;
    slot.advance = glyph.advance;
    // A glyph that found no room (texture creation failed) is tried again on its next use.
    if (glyph.width > 0 && glyph.height > 0 && !Place(glyph, &slot)) slot.ready = false;
    return slot;
  }

  // Copies the glyph's coverage into a cache page, making a new page when the last one is full.
  bool Place(const text::Glyph& glyph, CachedGlyph* slot) {
    const UINT w = (UINT)glyph.width + 2 * kGlyphPadding,
               h = (UINT)glyph.height + 2 * kGlyphPadding;
    CachePage* page = pages_.empty() ? nullptr : &pages_.back();
    if (page) {
      if (page->cursorX + w > page->size) {  // next shelf
        page->shelfY += page->shelfHeight;
        page->shelfHeight = 0;
        page->cursorX = 0;
      }
      if (page->shelfY + h > page->size || w > page->size) page = nullptr;
    }
    if (!page) {
      UINT size = kCacheTextureSize;
      while (size < w || size < h) size *= 2;
      CachePage fresh;
      fresh.size = size;
      if (FAILED(device_->CreateTexture(size, size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                        &fresh.texture, nullptr)) ||
          !fresh.texture)
        return false;  // the glyph keeps its advance but draws nothing
      pages_.push_back(fresh);
      page = &pages_.back();
    }
    const RECT area = {(LONG)page->cursorX, (LONG)page->shelfY, (LONG)(page->cursorX + w),
                       (LONG)(page->shelfY + h)};
    D3DLOCKED_RECT locked;
    if (FAILED(page->texture->LockRect(0, &locked, &area, 0))) return false;
    for (UINT row = 0; row < h; ++row) {
      auto* out = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                              (size_t)row * locked.Pitch);
      for (UINT col = 0; col < w; ++col) {
        const int gx = (int)col - kGlyphPadding, gy = (int)row - kGlyphPadding;
        uint32_t coverage = 0;
        if (gx >= 0 && gy >= 0 && gx < glyph.width && gy < glyph.height)
          coverage = glyph.coverage[(size_t)gy * glyph.width + gx];
        out[col] = (coverage << 24) | 0x00FFFFFFu;
      }
    }
    page->texture->UnlockRect(0);
    slot->texture = (int)(page - pages_.data());
    slot->source = RECT{area.left + kGlyphPadding, area.top + kGlyphPadding,
                        area.right - kGlyphPadding, area.bottom - kGlyphPadding};
    page->cursorX += w;
    page->shelfHeight = std::max(page->shelfHeight, h);
    return true;
  }

  IDirect3DDevice9* device_;
  D3DXFONT_DESCA desc_;
  ID3DXSprite* sprite_;  // used when DrawTextA is given no sprite
  std::shared_ptr<text::Face> face_;
  CachedGlyph glyphs_[256];
  std::vector<CachePage> pages_;
  std::vector<Line> lines_;
};

}  // namespace

HRESULT WINAPI D3DXCreateFontIndirectA(LPDIRECT3DDEVICE9 pDevice, const D3DXFONT_DESCA* pDesc,
                                       LPD3DXFONT* ppFont) {
  if (!ppFont) return D3DERR_INVALIDCALL;
  *ppFont = nullptr;
  if (!pDevice || !pDesc) return D3DERR_INVALIDCALL;
  if (AutomationFaultActive(AutomationFault::CreateFont)) return E_OUTOFMEMORY;
  // A face whose font files are not installed is refused rather than drawn with another face (the
  // font service has named the package to install).
  char face[LF_FACESIZE + 1] = {};
  std::memcpy(face, pDesc->FaceName, LF_FACESIZE);
  if (!text::FaceAvailable(face)) return D3DXERR_INVALIDDATA;
  // The internal batch only serves DrawTextA calls without a sprite; without it the font still
  // measures and draws through a caller's sprite.
  ID3DXSprite* sprite = nullptr;
  if (FAILED(D3DXCreateSprite(pDevice, &sprite))) sprite = nullptr;
  *ppFont = new Font(pDevice, *pDesc, sprite);
  return D3D_OK;
}

HRESULT WINAPI D3DXCreateFontA(LPDIRECT3DDEVICE9 pDevice, INT Height, UINT Width, UINT Weight,
                               UINT MipLevels, BOOL Italic, DWORD CharSet, DWORD OutputPrecision,
                               DWORD Quality, DWORD PitchAndFamily, LPCSTR pFaceName,
                               LPD3DXFONT* ppFont) {
  D3DXFONT_DESCA desc = {};
  desc.Height = Height;
  desc.Width = Width;
  desc.Weight = Weight;
  desc.MipLevels = MipLevels;
  desc.Italic = Italic;
  desc.CharSet = (BYTE)CharSet;
  desc.OutputPrecision = (BYTE)OutputPrecision;
  desc.Quality = (BYTE)Quality;
  desc.PitchAndFamily = (BYTE)PitchAndFamily;
  if (pFaceName) {
    std::strncpy(desc.FaceName, pFaceName, LF_FACESIZE - 1);
    desc.FaceName[LF_FACESIZE - 1] = '\0';
  }
  return D3DXCreateFontIndirectA(pDevice, &desc, ppFont);
}
