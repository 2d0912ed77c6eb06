// GDI on memory: DIB sections, device contexts, stock objects, brushes, fonts and text output.
//
// Handles are the addresses of objects kept in one registry, so a stale or foreign handle is
// recognised and refused instead of being dereferenced. An object deleted while selected into a
// device context stays alive until it is deselected (its handle is dead at once).
//
// Only memory contexts have pixels. Display contexts (CreateDCA("DISPLAY"), GetDC) answer
// GetDeviceCaps and measure text, and drawing on them does nothing: windows are presented by the
// Direct3D device, never painted by GDI. Text output ignores TA_UPDATECP (no current position).
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <strings.h>
#include <unordered_map>
#include <vector>

#include "automation.h"
#include "text/font_service.h"
#include "windows.h"

namespace {

enum class Kind { Bitmap, Font, Brush, Pen, Dc };

struct GdiObject {
  explicit GdiObject(Kind k) : kind(k) {}
  virtual ~GdiObject() = default;
  Kind kind;
  bool stock = false;
  bool deleted = false;  // DeleteObject ran while selected: freed when deselected
  int selected = 0;      // device contexts holding the object
};

struct Bitmap : GdiObject {
  Bitmap() : GdiObject(Kind::Bitmap) {}
  ~Bitmap() override { std::free(bits); }
  int width = 1;
  int height = 1;  // rows, always positive
  bool topDown = false;
  int bpp = 1;
  int stride = 2;
  uint8_t* bits = nullptr;  // null for the 1 x 1 monochrome default of memory contexts
  BITMAPINFOHEADER header{};
  void* dc = nullptr;  // the context it is selected into

  uint8_t* Row(int y) const {  // y counted from the top
    return bits + static_cast<size_t>(topDown ? y : height - 1 - y) * stride;
  }
};

struct Font : GdiObject {
  Font() : GdiObject(Kind::Font) {}
  LOGFONTA logfont{};
  std::shared_ptr<text::Face> face;  // opened when first drawn or measured
};

struct Brush : GdiObject {
  Brush() : GdiObject(Kind::Brush) {}
  COLORREF colour = 0;
  bool hollow = false;
};

struct Pen : GdiObject {
  Pen() : GdiObject(Kind::Pen) {}
  COLORREF colour = 0;
  bool hollow = false;
};

struct Dc : GdiObject {
  Dc() : GdiObject(Kind::Dc) {}
  bool memory = false;  // CreateCompatibleDC: holds a selectable bitmap
  bool fromGetDC = false;
  Bitmap* bitmap = nullptr;
  Font* font = nullptr;
  Brush* brush = nullptr;
  Pen* pen = nullptr;
  int bkMode = OPAQUE;
  COLORREF bkColour = 0xFFFFFF;
  COLORREF textColour = 0;
  UINT align = TA_LEFT | TA_TOP;
};

std::recursive_mutex g_lock;
std::unordered_map<void*, std::unique_ptr<GdiObject>> g_objects;
std::atomic<DWORD> g_batchLimit{20};
constexpr DWORD kDefaultBatchLimit = 20;
GdiObject* g_stock[DEFAULT_GUI_FONT + 1] = {};
Bitmap* g_defaultBitmap = nullptr;

template <typename T>
T* Register(std::unique_ptr<T> object) {
  T* raw = object.get();
  g_objects.emplace(raw, std::move(object));
  return raw;
}

GdiObject* Find(const void* handle) {
  if (!handle) return nullptr;
  auto found = g_objects.find(const_cast<void*>(handle));
  if (found == g_objects.end() || found->second->deleted) return nullptr;
  return found->second.get();
}

template <typename T>
T* FindAs(const void* handle, Kind kind) {
  GdiObject* object = Find(handle);
  return object && object->kind == kind ? static_cast<T*>(object) : nullptr;
}

Dc* FindDc(HDC dc) {
  return FindAs<Dc>(dc, Kind::Dc);
}

void Free(GdiObject* object) {
  g_objects.erase(object);
}

Font* MakeFont(const LOGFONTA& lf) {
  auto font = std::make_unique<Font>();
  font->logfont = lf;
  font->logfont.lfFaceName[LF_FACESIZE - 1] = 0;
  return Register(std::move(font));
}

LOGFONTA StockLogFont(LONG height, LONG weight, const char* face, BYTE pitch) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = ANSI_CHARSET;
  lf.lfPitchAndFamily = pitch;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return lf;
}

void MakeStockObjects() {
  if (g_defaultBitmap) return;
  auto bitmap = std::make_unique<Bitmap>();
  bitmap->stock = true;
  g_defaultBitmap = Register(std::move(bitmap));

  const COLORREF brushes[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
  for (int i = WHITE_BRUSH; i <= BLACK_BRUSH; ++i) {
    auto brush = std::make_unique<Brush>();
    brush->colour = brushes[i];
    g_stock[i] = Register(std::move(brush));
  }
  auto hollow = std::make_unique<Brush>();
  hollow->hollow = true;
  g_stock[NULL_BRUSH] = Register(std::move(hollow));
  const COLORREF pens[] = {0xFFFFFF, 0x000000, 0};
  for (int i = WHITE_PEN; i <= NULL_PEN; ++i) {
    auto pen = std::make_unique<Pen>();
    pen->colour = pens[i - WHITE_PEN];
    pen->hollow = i == NULL_PEN;
    g_stock[i] = Register(std::move(pen));
  }
  g_stock[OEM_FIXED_FONT] =
      MakeFont(StockLogFont(12, FW_NORMAL, "Terminal", FIXED_PITCH | FF_MODERN));
  g_stock[ANSI_FIXED_FONT] =
      MakeFont(StockLogFont(12, FW_NORMAL, "Courier", FIXED_PITCH | FF_MODERN));
  g_stock[ANSI_VAR_FONT] =
      MakeFont(StockLogFont(12, FW_NORMAL, "MS Sans Serif", VARIABLE_PITCH | FF_SWISS));
  g_stock[SYSTEM_FONT] = MakeFont(StockLogFont(16, FW_BOLD, "System", VARIABLE_PITCH | FF_SWISS));
  g_stock[DEVICE_DEFAULT_FONT] =
      MakeFont(StockLogFont(16, FW_BOLD, "System", VARIABLE_PITCH | FF_SWISS));
  g_stock[SYSTEM_FIXED_FONT] =
      MakeFont(StockLogFont(16, FW_NORMAL, "Fixedsys", FIXED_PITCH | FF_MODERN));
  g_stock[DEFAULT_GUI_FONT] =
      MakeFont(StockLogFont(-11, FW_NORMAL, "MS Shell Dlg", VARIABLE_PITCH | FF_SWISS));
  for (GdiObject* object : g_stock)
    if (object) object->stock = true;
}

Dc* NewDc(bool memory) {
  MakeStockObjects();
  auto dc = std::make_unique<Dc>();
  dc->memory = memory;
  dc->bitmap = memory ? g_defaultBitmap : nullptr;
  dc->font = static_cast<Font*>(g_stock[SYSTEM_FONT]);
  dc->brush = static_cast<Brush*>(g_stock[WHITE_BRUSH]);
  dc->pen = static_cast<Pen*>(g_stock[BLACK_PEN]);
  for (GdiObject* held : {static_cast<GdiObject*>(dc->bitmap), static_cast<GdiObject*>(dc->font),
                          static_cast<GdiObject*>(dc->brush), static_cast<GdiObject*>(dc->pen)})
    if (held) ++held->selected;
  return Register(std::move(dc));
}

void Deselect(GdiObject* object) {
  if (!object) return;
  --object->selected;
  if (object->kind == Kind::Bitmap) static_cast<Bitmap*>(object)->dc = nullptr;
  if (object->deleted && object->selected <= 0) Free(object);
}

void FreeDc(Dc* dc) {
  Deselect(dc->bitmap);
  Deselect(dc->font);
  Deselect(dc->brush);
  Deselect(dc->pen);
  Free(dc);
}

text::FontRequest RequestOf(const LOGFONTA& lf) {
  text::FontRequest request;
  char face[LF_FACESIZE + 1] = {};
  std::memcpy(face, lf.lfFaceName, LF_FACESIZE);
  request.face = face;
  request.height = lf.lfHeight;
  request.width = lf.lfWidth < 0 ? -lf.lfWidth : lf.lfWidth;
  request.weight = lf.lfWeight;
  request.italic = lf.lfItalic != 0;
  request.underline = lf.lfUnderline != 0;
  request.strikeOut = lf.lfStrikeOut != 0;
  request.antialias = lf.lfQuality != NONANTIALIASED_QUALITY;
  return request;
}

text::Face& FaceOf(Dc* dc) {
  Font* font = dc->font;
  if (!font->face) font->face = text::OpenFace(RequestOf(font->logfont));
  return *font->face;
}

// The drawable pixels of a context: a 24- or 32-bit bitmap with memory.
Bitmap* Surface(Dc* dc) {
  Bitmap* b = dc->bitmap;
  return b && b->bits && (b->bpp == 24 || b->bpp == 32) ? b : nullptr;
}

void PutPixel(const Bitmap* b, int x, int y, COLORREF colour) {
  uint8_t* p = b->Row(y) + static_cast<size_t>(x) * (b->bpp / 8);
  p[0] = GetBValue(colour);
  p[1] = GetGValue(colour);
  p[2] = GetRValue(colour);
  if (b->bpp == 32) p[3] = 0;
}

void FillArea(const Bitmap* b, int64_t left, int64_t top, int64_t right, int64_t bottom,
              COLORREF colour) {
  left = std::max<int64_t>(left, 0);
  top = std::max<int64_t>(top, 0);
  right = std::min<int64_t>(right, b->width);
  bottom = std::min<int64_t>(bottom, b->height);
  if (left >= right || top >= bottom) return;
  const int bytes = b->bpp / 8;
  for (int64_t y = top; y < bottom; ++y) {
    uint8_t* p = b->Row(static_cast<int>(y)) + left * bytes;
    for (int64_t x = left; x < right; ++x, p += bytes) {
      p[0] = GetBValue(colour);
      p[1] = GetGValue(colour);
      p[2] = GetRValue(colour);
      if (bytes == 4) p[3] = 0;
    }
  }
}

int DisplayDimension(bool width) {
  if (SDL_WasInit(SDL_INIT_VIDEO)) {
    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0)
      return width ? mode.w : mode.h;
  }
  return width ? 1920 : 1080;
}

}  // namespace

// --- Bitmaps -------------------------------------------------------------------------------------

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, VOID** ppvBits,
                         HANDLE hSection, DWORD offset) {
  if (ppvBits) *ppvBits = nullptr;
  if (AutomationFaultActive(AutomationFault::CreateDIBSection)) return nullptr;
  if (!pbmi || usage != DIB_RGB_COLORS || hSection) return nullptr;
  const BITMAPINFOHEADER& h = pbmi->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1) return nullptr;
  if ((h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB) return nullptr;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return nullptr;
  const int64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
  const int64_t stride = ((static_cast<int64_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  const int64_t size = stride * rows;
  if (size > INT32_MAX) return nullptr;
  void* bits = std::calloc(static_cast<size_t>(size), 1);
  if (!bits) return nullptr;

  std::lock_guard<std::recursive_mutex> hold(g_lock);
  auto bitmap = std::make_unique<Bitmap>();
  bitmap->width = h.biWidth;
  bitmap->height = static_cast<int>(rows);
  bitmap->topDown = h.biHeight < 0;
  bitmap->bpp = h.biBitCount;
  bitmap->stride = static_cast<int>(stride);
  bitmap->bits = static_cast<uint8_t*>(bits);
  bitmap->header = h;
  bitmap->header.biSize = sizeof(BITMAPINFOHEADER);
  bitmap->header.biSizeImage = static_cast<DWORD>(size);
  bitmap->header.biClrUsed = 0;
  bitmap->header.biClrImportant = 0;
  if (ppvBits) *ppvBits = bits;
  return reinterpret_cast<HBITMAP>(Register(std::move(bitmap)));
}

int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi,
              UINT usage) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Bitmap* b = FindAs<Bitmap>(hbm, Kind::Bitmap);
  if (!FindDc(hdc) || !b || !b->bits || !lpbmi || usage != DIB_RGB_COLORS) return 0;
  BITMAPINFOHEADER& request = lpbmi->bmiHeader;
  if (request.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (!lpvBits) {
    // Without a buffer the call describes the bitmap.
    request = b->header;
    return b->height;
  }
  if ((request.biBitCount != 32 && request.biBitCount != 24) || request.biCompression != BI_RGB ||
      request.biPlanes != 1 || request.biWidth != b->width)
    return 0;
  const bool topDown = request.biHeight < 0;
  const int64_t rows = topDown ? -static_cast<int64_t>(request.biHeight) : request.biHeight;
  if (rows != b->height || start >= static_cast<UINT>(b->height)) return 0;
  const int lines =
      static_cast<int>(std::min<int64_t>(cLines, b->height - static_cast<int64_t>(start)));
  const int outBytes = request.biBitCount / 8, inBytes = b->bpp / 8;
  const size_t outStride = ((static_cast<size_t>(b->width) * request.biBitCount + 31) / 32) * 4;
  auto* out = static_cast<uint8_t*>(lpvBits);
  for (int i = 0; i < lines; ++i) {
    // Scan line numbers follow the requested order: from the bottom for a positive height.
    int scan = static_cast<int>(start) + i;
    int fromTop = topDown ? scan : b->height - 1 - scan;
    const uint8_t* src = b->Row(fromTop);
    uint8_t* dst = out + static_cast<size_t>(i) * outStride;
    for (int x = 0; x < b->width; ++x, src += inBytes, dst += outBytes) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      if (outBytes == 4) dst[3] = 0;
    }
    std::memset(dst, 0, outStride - static_cast<size_t>(b->width) * outBytes);
  }
  return lines;
}

// --- Device contexts -----------------------------------------------------------------------------

HDC CreateCompatibleDC(HDC hdc) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  if (hdc && !FindDc(hdc)) return nullptr;
  return reinterpret_cast<HDC>(NewDc(true));
}

HDC CreateDCA(LPCSTR pszDriver, LPCSTR pszDevice, LPCSTR pszPort, const DEVMODEA* pdm) {
  const bool display = (pszDriver && strcasecmp(pszDriver, "DISPLAY") == 0) ||
                       (pszDevice && strncasecmp(pszDevice, "\\\\.\\DISPLAY", 11) == 0);
  if (!display) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  return reinterpret_cast<HDC>(NewDc(false));
}

BOOL DeleteDC(HDC hdc) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc) return FALSE;
  FreeDc(dc);
  return TRUE;
}

HDC GetDC(HWND hWnd) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = NewDc(false);
  dc->fromGetDC = true;
  return reinterpret_cast<HDC>(dc);
}

int ReleaseDC(HWND hWnd, HDC hDC) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hDC);
  if (!dc || !dc->fromGetDC) return 0;
  FreeDc(dc);
  return 1;
}

int GetDeviceCaps(HDC hdc, int index) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc) return 0;
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    case HORZRES:
      return DisplayDimension(true);
    case VERTRES:
      return DisplayDimension(false);
    case HORZSIZE:
      return DisplayDimension(true) * 254 / 960;
    case VERTSIZE:
      return DisplayDimension(false) * 254 / 960;
    case BITSPIXEL:
      return dc->memory && dc->bitmap ? dc->bitmap->bpp : 32;
    case PLANES:
      return 1;
    case NUMCOLORS:
      return -1;
    default:
      return 0;
  }
}

// --- Objects -------------------------------------------------------------------------------------

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  GdiObject* object = Find(h);
  if (!dc || !object) return nullptr;
  GdiObject* previous = nullptr;
  switch (object->kind) {
    case Kind::Bitmap: {
      auto* bitmap = static_cast<Bitmap*>(object);
      if (!dc->memory) return nullptr;
      if (bitmap == dc->bitmap) return h;
      // A bitmap is selected into one context at a time (the shared default aside).
      if (bitmap->dc && !bitmap->stock) return nullptr;
      previous = dc->bitmap;
      dc->bitmap = bitmap;
      if (!bitmap->stock) bitmap->dc = dc;
      break;
    }
    case Kind::Font:
      previous = dc->font;
      dc->font = static_cast<Font*>(object);
      break;
    case Kind::Brush:
      previous = dc->brush;
      dc->brush = static_cast<Brush*>(object);
      break;
    case Kind::Pen:
      previous = dc->pen;
      dc->pen = static_cast<Pen*>(object);
      break;
    case Kind::Dc:
      return nullptr;
  }
  ++object->selected;
  if (previous == object) {
    --object->selected;
    return h;
  }
  // The previous object's handle is returned; if it was deleted meanwhile it is freed now and the
  // returned value is only good for comparison.
  Deselect(previous);
  return previous;
}

BOOL DeleteObject(HGDIOBJ ho) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  GdiObject* object = Find(ho);
  if (!object || object->kind == Kind::Dc) return FALSE;
  if (object->stock) return TRUE;
  if (object->selected > 0) {
    object->deleted = true;
    return TRUE;
  }
  Free(object);
  return TRUE;
}

int GetObjectA(HANDLE h, int c, LPVOID pv) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  GdiObject* object = Find(h);
  if (!object) return 0;
  if (object->kind == Kind::Bitmap) {
    auto* b = static_cast<Bitmap*>(object);
    const bool dib = b->bits != nullptr;
    if (!pv) return dib ? static_cast<int>(sizeof(DIBSECTION)) : static_cast<int>(sizeof(BITMAP));
    if (c < static_cast<int>(sizeof(BITMAP))) return 0;
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = b->width;
    bm.bmHeight = b->height;
    bm.bmWidthBytes = b->stride;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(b->bpp);
    bm.bmBits = b->bits;
    if (dib && c >= static_cast<int>(sizeof(DIBSECTION))) {
      DIBSECTION ds{};
      ds.dsBm = bm;
      ds.dsBmih = b->header;
      std::memcpy(pv, &ds, sizeof ds);
      return sizeof(DIBSECTION);
    }
    std::memcpy(pv, &bm, sizeof bm);
    return sizeof(BITMAP);
  }
  if (object->kind == Kind::Font) {
    if (!pv) return sizeof(LOGFONTA);
    if (c < static_cast<int>(sizeof(LOGFONTA))) return 0;
    std::memcpy(pv, &static_cast<Font*>(object)->logfont, sizeof(LOGFONTA));
    return sizeof(LOGFONTA);
  }
  return 0;
}

DWORD GetObjectType(HGDIOBJ h) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  GdiObject* object = Find(h);
  if (!object) return 0;
  switch (object->kind) {
    case Kind::Bitmap:
      return OBJ_BITMAP;
    case Kind::Font:
      return OBJ_FONT;
    case Kind::Brush:
      return OBJ_BRUSH;
    case Kind::Pen:
      return OBJ_PEN;
    case Kind::Dc:
      return static_cast<Dc*>(object)->memory ? OBJ_MEMDC : OBJ_DC;
  }
  return 0;
}

HGDIOBJ GetStockObject(int i) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  MakeStockObjects();
  if (i < 0 || i > DEFAULT_GUI_FONT) return nullptr;
  return g_stock[i];
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_BITMAP:
      return dc->bitmap;
    case OBJ_FONT:
      return dc->font;
    case OBJ_BRUSH:
      return dc->brush;
    case OBJ_PEN:
      return dc->pen;
    default:
      return nullptr;
  }
}

HBRUSH CreateSolidBrush(COLORREF color) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  auto brush = std::make_unique<Brush>();
  brush->colour = color & 0xFFFFFF;
  return reinterpret_cast<HBRUSH>(Register(std::move(brush)));
}

int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hDC);
  Brush* brush = FindAs<Brush>(hbr, Kind::Brush);
  if (!dc || !lprc || !brush) return 0;
  if (Bitmap* b = Surface(dc); b && !brush->hollow)
    FillArea(b, lprc->left, lprc->top, lprc->right, lprc->bottom, brush->colour);
  return 1;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  Bitmap* b = dc ? Surface(dc) : nullptr;
  if (!b || x < 0 || y < 0 || x >= b->width || y >= b->height) return CLR_INVALID;
  const uint8_t* p = b->Row(y) + static_cast<size_t>(x) * (b->bpp / 8);
  return RGB(p[2], p[1], p[0]);
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  Bitmap* b = dc ? Surface(dc) : nullptr;
  if (!b || x < 0 || y < 0 || x >= b->width || y >= b->height) return CLR_INVALID;
  PutPixel(b, x, y, color);
  return color & 0xFFFFFF;
}

// --- Text state ----------------------------------------------------------------------------------

int SetBkMode(HDC hdc, int mode) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  int previous = dc->bkMode;
  dc->bkMode = mode;
  return previous;
}

int GetBkMode(HDC hdc) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  return dc ? dc->bkMode : 0;
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF previous = dc->bkColour;
  dc->bkColour = color & 0xFFFFFF;
  return previous;
}

COLORREF GetBkColor(HDC hdc) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  return dc ? dc->bkColour : CLR_INVALID;
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF previous = dc->textColour;
  dc->textColour = color & 0xFFFFFF;
  return previous;
}

COLORREF GetTextColor(HDC hdc) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  return dc ? dc->textColour : CLR_INVALID;
}

UINT SetTextAlign(HDC hdc, UINT align) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc) return GDI_ERROR;
  UINT previous = dc->align;
  dc->align = align;
  return previous;
}

UINT GetTextAlign(HDC hdc) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  return dc ? dc->align : GDI_ERROR;
}

// --- Fonts and text ------------------------------------------------------------------------------

HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight,
                  DWORD bItalic, DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet,
                  DWORD iOutPrecision, DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily,
                  LPCSTR pszFaceName) {
  LOGFONTA lf{};
  lf.lfHeight = cHeight;
  lf.lfWidth = cWidth;
  lf.lfEscapement = cEscapement;
  lf.lfOrientation = cOrientation;
  lf.lfWeight = cWeight;
  lf.lfItalic = bItalic ? 1 : 0;
  lf.lfUnderline = bUnderline ? 1 : 0;
  lf.lfStrikeOut = bStrikeOut ? 1 : 0;
  lf.lfCharSet = static_cast<BYTE>(iCharSet);
  lf.lfOutPrecision = static_cast<BYTE>(iOutPrecision);
  lf.lfClipPrecision = static_cast<BYTE>(iClipPrecision);
  lf.lfQuality = static_cast<BYTE>(iQuality);
  lf.lfPitchAndFamily = static_cast<BYTE>(iPitchAndFamily);
  if (pszFaceName) std::strncpy(lf.lfFaceName, pszFaceName, LF_FACESIZE - 1);
  return CreateFontIndirectA(&lf);
}

HFONT CreateFontIndirectA(const LOGFONTA* lplf) {
  if (!lplf || lplf->lfWeight < 0 || lplf->lfWeight > 1000) return nullptr;
  // A face whose font files are not installed is refused rather than drawn with another face (the
  // font service has named the package to install).
  if (!text::FaceAvailable(RequestOf(*lplf).face)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  return reinterpret_cast<HFONT>(MakeFont(*lplf));
}

int GetTextFaceA(HDC hdc, int c, LPSTR lpName) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc) return 0;
  const char* face = dc->font->logfont.lfFaceName;
  int length = static_cast<int>(strnlen(face, LF_FACESIZE - 1));
  if (!lpName) return length + 1;
  if (c <= 0) return 0;
  int copied = std::min(length, c - 1);
  std::memcpy(lpName, face, static_cast<size_t>(copied));
  lpName[copied] = 0;
  return copied + 1;
}

BOOL GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc || !lptm) return FALSE;
  const text::FontMetrics& m = FaceOf(dc).Metrics();
  TEXTMETRICA tm{};
  tm.tmHeight = m.cellHeight;
  tm.tmAscent = m.ascent;
  tm.tmDescent = m.descent;
  tm.tmInternalLeading = m.internalLeading;
  tm.tmExternalLeading = m.externalLeading;
  tm.tmAveCharWidth = m.avgCharWidth;
  tm.tmMaxCharWidth = m.maxCharWidth;
  tm.tmWeight = m.weight;
  tm.tmDigitizedAspectX = 96;
  tm.tmDigitizedAspectY = 96;
  tm.tmFirstChar = 0x20;
  tm.tmLastChar = 0xFF;
  tm.tmDefaultChar = 0x1F;
  tm.tmBreakChar = 0x20;
  tm.tmItalic = m.italic ? 255 : 0;
  tm.tmUnderlined = m.underline ? 255 : 0;
  tm.tmStruckOut = m.strikeOut ? 255 : 0;
  // Low bit set means variable pitch (the flag's name notwithstanding); outline, TrueType.
  const BYTE group = m.familyClass == text::FamilyClass::Monospace ? FF_MODERN
                     : m.familyClass == text::FamilyClass::Serif   ? FF_ROMAN
                                                                   : FF_SWISS;
  tm.tmPitchAndFamily = static_cast<BYTE>((m.fixedPitch ? 0 : 1) | 2 | 4 | group);
  tm.tmCharSet = ANSI_CHARSET;
  *lptm = tm;
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc || !psizl || c < 0 || (c > 0 && !lpString)) return FALSE;
  text::Face& face = FaceOf(dc);
  psizl->cx = c > 0 ? face.MeasureCp1252(lpString, c) : 0;
  psizl->cy = face.Metrics().cellHeight;
  return TRUE;
}

BOOL TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  Dc* dc = FindDc(hdc);
  if (!dc || c < 0 || (c > 0 && !lpString)) return FALSE;
  if (c == 0) return TRUE;
  text::Face& face = FaceOf(dc);
  const text::FontMetrics& m = face.Metrics();
  const int64_t advance = face.MeasureCp1252(lpString, c);
  int64_t left = x, top = y;
  if ((dc->align & TA_CENTER) == TA_CENTER)
    left -= advance / 2;
  else if (dc->align & TA_RIGHT)
    left -= advance;
  if ((dc->align & TA_BASELINE) == TA_BASELINE)
    top -= m.ascent;
  else if (dc->align & TA_BOTTOM)
    top -= m.cellHeight;

  Bitmap* b = Surface(dc);
  if (!b) return TRUE;  // a context without pixels (display, default bitmap) draws nothing
  if (dc->bkMode == OPAQUE)
    FillArea(b, left, top, left + advance, top + m.cellHeight, dc->bkColour);

  // Coverage is rendered into a band around the cell wide enough for overhangs, clipped to the
  // bitmap, then blended in the text colour.
  const int64_t margin = m.cellHeight;
  const int64_t bx0 = std::max<int64_t>(0, left - margin);
  const int64_t bx1 = std::min<int64_t>(b->width, left + advance + margin);
  const int64_t by0 = std::max<int64_t>(0, top - margin);
  const int64_t by1 = std::min<int64_t>(b->height, top + m.cellHeight + margin);
  if (bx0 >= bx1 || by0 >= by1) return TRUE;
  const int bw = static_cast<int>(bx1 - bx0), bh = static_cast<int>(by1 - by0);
  thread_local std::vector<uint8_t> coverage;
  coverage.assign(static_cast<size_t>(bw) * bh, 0);
  // The band origin is at most 2^31 + margin from the cell, so the offsets fit after clamping.
  const int64_t ox = std::clamp<int64_t>(left - bx0, INT32_MIN / 2, INT32_MAX / 2);
  const int64_t oy = std::clamp<int64_t>(top - by0, INT32_MIN / 2, INT32_MAX / 2);
  face.RenderCp1252(lpString, c, coverage.data(), bw, bh, bw, static_cast<int>(ox),
                    static_cast<int>(oy));
  const int fr = GetRValue(dc->textColour), fg = GetGValue(dc->textColour),
            fb = GetBValue(dc->textColour);
  const int bytes = b->bpp / 8;
  for (int row = 0; row < bh; ++row) {
    const uint8_t* cov = coverage.data() + static_cast<size_t>(row) * bw;
    uint8_t* p = b->Row(static_cast<int>(by0 + row)) + bx0 * bytes;
    for (int col = 0; col < bw; ++col, p += bytes) {
      const int a = cov[col];
      if (a == 0) continue;
      p[0] = static_cast<uint8_t>((p[0] * (255 - a) + fb * a + 127) / 255);
      p[1] = static_cast<uint8_t>((p[1] * (255 - a) + fg * a + 127) / 255);
      p[2] = static_cast<uint8_t>((p[2] * (255 - a) + fr * a + 127) / 255);
      if (bytes == 4) p[3] = 0;
    }
  }
  return TRUE;
}

// --- Batching ------------------------------------------------------------------------------------
// Drawing is immediate, so the batch limit is only remembered for callers that save and restore it.

DWORD GdiSetBatchLimit(DWORD dw) {
  return g_batchLimit.exchange(dw == 0 ? kDefaultBatchLimit : dw);
}

DWORD GdiGetBatchLimit() {
  return g_batchLimit.load();
}

BOOL GdiFlush() {
  return TRUE;
}
