// Font service: fontconfig resolution, FreeType rasterisation, glyph cache.
#include "text/font_service.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

namespace text {
namespace {

// One lock for the whole service: FreeType's library object and fontconfig's configuration are
// shared by every face.
std::mutex g_lock;
FT_Library g_library = nullptr;
bool g_libraryTried = false;
std::atomic<uint64_t> g_renders{0};

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsGeneric(const std::string& family) {
  return family == "sans-serif" || family == "serif" || family == "monospace";
}

FT_Library Library() {
  if (!g_libraryTried) {
    g_libraryTried = true;
    if (FT_Init_FreeType(&g_library) != 0) g_library = nullptr;
  }
  return g_library;
}

struct Resolved {
  std::string file;
  int index = 0;
  std::string family;
  int realWeight = 400;
  bool realItalic = false;
  bool found = false;
};

// Asks fontconfig for the best file of a family at a weight and slant. For a named (non-generic)
// family the match only counts if fontconfig really found that family.
Resolved Match(const std::string& family, int weight, bool italic) {
  Resolved r;
  if (!FcInit()) return r;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return r;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddDouble(pattern, FC_WEIGHT, FcWeightFromOpenTypeDouble(weight));
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return r;

  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
    r.file = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) r.index = index;
    double fcWeight = FC_WEIGHT_REGULAR;
    if (FcPatternGetDouble(match, FC_WEIGHT, 0, &fcWeight) != FcResultMatch) {
      int w = FC_WEIGHT_REGULAR;
      if (FcPatternGetInteger(match, FC_WEIGHT, 0, &w) == FcResultMatch) fcWeight = w;
    }
    r.realWeight = static_cast<int>(std::lround(FcWeightToOpenTypeDouble(fcWeight)));
    int slant = FC_SLANT_ROMAN;
    if (FcPatternGetInteger(match, FC_SLANT, 0, &slant) == FcResultMatch)
      r.realItalic = slant != FC_SLANT_ROMAN;
    bool familyOk = IsGeneric(family);
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
      if (i == 0) r.family = reinterpret_cast<const char*>(name);
      if (Lower(reinterpret_cast<const char*>(name)) == Lower(family)) {
        familyOk = true;
        r.family = reinterpret_cast<const char*>(name);
      }
    }
    r.found = familyOk;
  }
  FcPatternDestroy(match);
  return r;
}

class FaceImpl final : public Face {
 public:
  explicit FaceImpl(const FontRequest& request) : request_(request) { Open(); }
  ~FaceImpl() override {
    if (face_) FT_Done_Face(face_);
  }

  const FontMetrics& Metrics() const override { return metrics_; }
  const FontRequest& Request() const override { return request_; }

  const Glyph& GlyphFor(uint32_t codePoint) override {
    std::lock_guard<std::mutex> hold(g_lock);
    return GlyphLocked(codePoint);
  }

  int MeasureCp1252(const char* text, int count) override {
    if (!text) return 0;
    if (count < 0) count = static_cast<int>(std::strlen(text));
    std::lock_guard<std::mutex> hold(g_lock);
    int width = 0;
    for (int i = 0; i < count; ++i)
      width += GlyphLocked(Cp1252ToUnicode(static_cast<uint8_t>(text[i]))).advance;
    return width;
  }

  int RenderCp1252(const char* text, int count, uint8_t* buffer, int width, int height, int pitch,
                   int x, int y) override {
    if (!text) return 0;
    if (count < 0) count = static_cast<int>(std::strlen(text));
    std::lock_guard<std::mutex> hold(g_lock);
    const int64_t baseline = static_cast<int64_t>(y) + metrics_.ascent;
    int64_t pen = x;
    for (int i = 0; i < count; ++i) {
      const Glyph& g = GlyphLocked(Cp1252ToUnicode(static_cast<uint8_t>(text[i])));
      if (buffer) Blit(g, pen + g.left, baseline - g.top, buffer, width, height, pitch);
      pen += g.advance;
    }
    if (buffer && request_.underline)
      Line(x, pen, baseline + metrics_.underlinePosition, buffer, width, height, pitch);
    if (buffer && request_.strikeOut)
      Line(x, pen, baseline - metrics_.strikeOutPosition, buffer, width, height, pitch);
    return static_cast<int>(pen - x);
  }

 private:
  static void Blit(const Glyph& g, int64_t left, int64_t top, uint8_t* buffer, int width,
                   int height, int pitch) {
    int64_t x0 = std::max<int64_t>(0, left), x1 = std::min<int64_t>(width, left + g.width);
    int64_t y0 = std::max<int64_t>(0, top), y1 = std::min<int64_t>(height, top + g.height);
    for (int64_t yy = y0; yy < y1; ++yy) {
      const uint8_t* src = g.coverage.data() + (yy - top) * g.width;
      uint8_t* dst = buffer + yy * pitch;
      for (int64_t xx = x0; xx < x1; ++xx) dst[xx] = std::max(dst[xx], src[xx - left]);
    }
  }

  void Line(int64_t from, int64_t to, int64_t top, uint8_t* buffer, int width, int height,
            int pitch) const {
    int64_t x0 = std::max<int64_t>(0, from), x1 = std::min<int64_t>(width, to);
    int64_t y0 = std::max<int64_t>(0, top);
    int64_t y1 = std::min<int64_t>(height, top + metrics_.lineThickness);
    for (int64_t yy = y0; yy < y1; ++yy) std::memset(buffer + yy * pitch + x0, 255, x1 > x0 ? x1 - x0 : 0);
  }

  void Open() {
    std::lock_guard<std::mutex> hold(g_lock);
    const int weight = request_.weight <= 0 ? 400 : std::clamp(request_.weight, 1, 1000);
    std::string family = AliasFamily(request_.face);
    Resolved r = Match(family, weight, request_.italic);
    if (!r.found) r = Match("sans-serif", weight, request_.italic);
    FT_Library lib = Library();
    if (lib && !r.file.empty() && FT_New_Face(lib, r.file.c_str(), r.index, &face_) != 0)
      face_ = nullptr;
    if (face_) {
      FT_Select_Charmap(face_, FT_ENCODING_UNICODE);
      // fontconfig echoes the requested weight and slant for single-style families, so the
      // weight and slant the file really has come from the file itself.
      auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
      if (os2 && os2->version != 0xFFFF && os2->usWeightClass >= 1 && os2->usWeightClass <= 1000)
        r.realWeight = os2->usWeightClass;
      else
        r.realWeight = (face_->style_flags & FT_STYLE_FLAG_BOLD) ? 700 : 400;
      r.realItalic = (face_->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    }

    metrics_.family = r.family;
    metrics_.file = r.file;
    metrics_.realWeight = r.realWeight;
    // Bold is synthesised only when the nearest real weight is clearly lighter than asked for.
    metrics_.syntheticBold = face_ && weight >= 600 && r.realWeight < 550;
    metrics_.syntheticItalic = face_ && request_.italic && !r.realItalic;
    metrics_.weight = metrics_.syntheticBold ? weight : (face_ ? r.realWeight : weight);
    metrics_.italic = request_.italic;
    metrics_.underline = request_.underline;
    metrics_.strikeOut = request_.strikeOut;
    SetSize();
  }

  // Windows heights: negative = em height, positive = cell height (the font's Windows ascent plus
  // descent), 0 = a 16-pixel cell.
  void SetSize() {
    int h = request_.height == 0 ? 16 : request_.height;
    if (h == INT32_MIN) h = -16;
    h = std::clamp(h, -4096, 4096);
    if (!face_ || !FT_IS_SCALABLE(face_)) {
      // Without an outline font the metrics are still sound: a cell split 4:1.
      int cell = h > 0 ? h : (-h * 5 + 3) / 4;
      metrics_.ascent = (cell * 4 + 4) / 5;
      metrics_.descent = cell - metrics_.ascent;
      metrics_.cellHeight = cell;
      metrics_.emHeight = h < 0 ? -h : (cell * 4 + 4) / 5;
      metrics_.internalLeading = std::max(0, cell - metrics_.emHeight);
      metrics_.avgCharWidth = request_.width > 0 ? request_.width : std::max(1, metrics_.emHeight / 2);
      metrics_.maxCharWidth = metrics_.avgCharWidth;
      metrics_.lineThickness = std::max(1, metrics_.emHeight / 14);
      metrics_.underlinePosition = std::max(1, metrics_.descent / 2);
      metrics_.strikeOutPosition = metrics_.emHeight * 3 / 10;
      return;
    }
    const double units = face_->units_per_EM ? face_->units_per_EM : 2048;
    double winAscent = face_->ascender, winDescent = -face_->descender;
    double lineGap = face_->height - (face_->ascender - face_->descender);
    double avgWidth = 0, strikePos = 0, strikeSize = 0;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
        os2 && os2->version != 0xFFFF) {
      if (os2->usWinAscent + os2->usWinDescent > 0) {
        // Windows sizes the cell by the OS/2 "win" metrics; external leading is what the hhea
        // line gap adds beyond them.
        double hheaSpan = face_->ascender - face_->descender;
        winAscent = os2->usWinAscent;
        winDescent = os2->usWinDescent;
        lineGap = std::max(0.0, face_->height - hheaSpan - ((winAscent + winDescent) - hheaSpan));
      }
      avgWidth = os2->xAvgCharWidth;
      strikePos = os2->yStrikeoutPosition;
      strikeSize = os2->yStrikeoutSize;
    }
    if (winAscent + winDescent <= 0) {
      winAscent = units * 0.8;
      winDescent = units * 0.2;
    }
    double em;
    if (h < 0) em = -h;
    else em = h * units / (winAscent + winDescent);
    double scale = em / units;
    double emX = em;
    if (request_.width > 0) {
      double natural = avgWidth > 0 ? avgWidth * scale : em / 2;
      if (natural > 0) emX = em * request_.width / natural;
    }
    emX = std::clamp(emX, 1.0 / 64, 8192.0);
    em = std::clamp(em, 1.0 / 64, 8192.0);
    FT_Set_Char_Size(face_, static_cast<FT_F26Dot6>(std::lround(emX * 64)),
                     static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
    double scaleX = emX / units;

    metrics_.ascent = static_cast<int>(std::lround(winAscent * scale));
    metrics_.descent = h > 0 ? h - metrics_.ascent : static_cast<int>(std::lround(winDescent * scale));
    metrics_.cellHeight = metrics_.ascent + metrics_.descent;
    metrics_.emHeight = static_cast<int>(std::lround(em));
    metrics_.internalLeading = std::max(0, metrics_.cellHeight - metrics_.emHeight);
    metrics_.externalLeading = std::max(0, static_cast<int>(std::lround(lineGap * scale)));
    metrics_.fixedPitch = FT_IS_FIXED_WIDTH(face_);
    int bolden = metrics_.syntheticBold ? static_cast<int>(std::lround(em / 24.0)) : 0;
    metrics_.avgCharWidth =
        avgWidth > 0 ? static_cast<int>(std::lround(avgWidth * scaleX)) + bolden : 0;
    metrics_.maxCharWidth = static_cast<int>(std::lround(face_->max_advance_width * scaleX)) + bolden;
    metrics_.lineThickness =
        std::max(1, static_cast<int>(std::lround(face_->underline_thickness * scale)));
    metrics_.underlinePosition = std::clamp(
        static_cast<int>(std::lround(-face_->underline_position * scale)), 1,
        std::max(1, metrics_.descent - metrics_.lineThickness));
    if (strikePos <= 0) strikePos = units * 0.28;
    if (strikeSize > 0)
      metrics_.lineThickness = std::max(metrics_.lineThickness,
                                        static_cast<int>(std::lround(strikeSize * scale)));
    metrics_.strikeOutPosition = static_cast<int>(std::lround(strikePos * scale));
    if (metrics_.avgCharWidth <= 0) metrics_.avgCharWidth = GlyphLocked('x').advance;
    metrics_.maxCharWidth = std::max(metrics_.maxCharWidth, metrics_.avgCharWidth);
  }

  const Glyph& GlyphLocked(uint32_t codePoint) {
    auto found = glyphs_.find(codePoint);
    if (found != glyphs_.end()) return found->second;
    Glyph& g = glyphs_[codePoint];
    if (!face_) {
      g.advance = std::max(1, metrics_.emHeight / 2);
      return g;
    }
    FT_UInt index = FT_Get_Char_Index(face_, codePoint);
    const bool aa = request_.antialias;
    FT_Int32 flags = FT_LOAD_DEFAULT | (aa ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
    if (FT_Load_Glyph(face_, index, flags) != 0) {
      g.advance = std::max(1, metrics_.emHeight / 2);
      return g;
    }
    FT_GlyphSlot slot = face_->glyph;
    if (metrics_.syntheticBold) FT_GlyphSlot_Embolden(slot);
    if (metrics_.syntheticItalic) FT_GlyphSlot_Oblique(slot);
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, aa ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return g;
    ++g_renders;
    const FT_Bitmap& bm = slot->bitmap;
    g.width = static_cast<int>(bm.width);
    g.height = static_cast<int>(bm.rows);
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.coverage.assign(static_cast<size_t>(g.width) * g.height, 0);
    for (int row = 0; row < g.height; ++row) {
      const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
      uint8_t* dst = g.coverage.data() + static_cast<size_t>(row) * g.width;
      if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
        for (int col = 0; col < g.width; ++col)
          dst[col] = (src[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
      } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays == 256) {
        std::memcpy(dst, src, g.width);
      } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays > 1) {
        for (int col = 0; col < g.width; ++col) dst[col] = src[col] * 255 / (bm.num_grays - 1);
      }
    }
    return g;
  }

  FontRequest request_;
  FontMetrics metrics_;
  FT_Face face_ = nullptr;
  std::unordered_map<uint32_t, Glyph> glyphs_;
};

std::string CacheKey(const FontRequest& r) {
  return Lower(r.face) + '\x1f' + std::to_string(r.height) + ',' + std::to_string(r.width) + ',' +
         std::to_string(r.weight <= 0 ? 400 : r.weight) + ',' + (r.italic ? 'i' : '-') +
         (r.underline ? 'u' : '-') + (r.strikeOut ? 's' : '-') + (r.antialias ? 'a' : '-');
}

}  // namespace

std::string AliasFamily(const std::string& face) {
  static const std::map<std::string, std::string> aliases = {
      {"", "sans-serif"},
      {"arial", "sans-serif"},
      {"tahoma", "sans-serif"},
      {"ms sans serif", "sans-serif"},
      {"ms shell dlg", "sans-serif"},
      {"ms shell dlg 2", "sans-serif"},
      {"segoe ui", "sans-serif"},
      {"verdana", "sans-serif"},
      {"system", "sans-serif"},
      {"lucida console", "monospace"},
      {"courier new", "monospace"},
      {"courier", "monospace"},
      {"consolas", "monospace"},
      {"fixedsys", "monospace"},
      {"terminal", "monospace"},
      {"times new roman", "serif"},
      {"times", "serif"},
      {"sans-serif", "sans-serif"},
      {"sans", "sans-serif"},
      {"serif", "serif"},
      {"monospace", "monospace"},
      {"mono", "monospace"},
  };
  auto found = aliases.find(Lower(face));
  return found != aliases.end() ? found->second : face;
}

uint32_t Cp1252ToUnicode(uint8_t byte) {
  static const uint16_t high[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  if (byte >= 0x80 && byte < 0xA0) return high[byte - 0x80];
  return byte;
}

std::shared_ptr<Face> OpenFace(const FontRequest& request) {
  static std::mutex cacheLock;
  static std::unordered_map<std::string, std::shared_ptr<Face>> cache;
  std::lock_guard<std::mutex> hold(cacheLock);
  std::string key = CacheKey(request);
  auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  auto face = std::make_shared<FaceImpl>(request);
  cache.emplace(key, face);
  return face;
}

uint64_t FreeTypeRenderCount() { return g_renders.load(); }

}  // namespace text

// fontconfig 2.14 loses a few bytes while parsing its XML configuration, inside the library and
// out of our reach; LeakSanitizer reads this hook, so leak checks stay about our own code.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
