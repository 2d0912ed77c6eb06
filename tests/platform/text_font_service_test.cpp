// The font service: face resolution, Windows heights, weights, styles, cp1252 and the glyph cache.
#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

#include <numeric>
#include <string>
#include <vector>

#include "platform/text/font_service.h"

namespace {

using text::FontRequest;
using text::OpenFace;

FontRequest Request(const std::string& face, int height, int weight = 400) {
  FontRequest r;
  r.face = face;
  r.height = height;
  r.weight = weight;
  return r;
}

// The file fontconfig gives for a generic family, found without the service.
std::string GenericFile(const char* family) {
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string file;
  FcChar8* value = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &value) == FcResultMatch)
    file = reinterpret_cast<const char*>(value);
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return file;
}

bool FamilyInstalled(const char* family) {
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = FcFontList(nullptr, pattern, objects);
  bool found = set && set->nfont > 0;
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

// Renders a string into a zeroed buffer sized to its cell and returns the buffer.
std::vector<uint8_t> RenderLine(text::Face& face, const char* s, int* width, int* height) {
  *width = face.MeasureCp1252(s, -1) + 8;
  *height = face.Metrics().cellHeight;
  std::vector<uint8_t> buffer(static_cast<size_t>(*width) * *height, 0);
  face.RenderCp1252(s, -1, buffer.data(), *width, *height, *width, 0, 0);
  return buffer;
}

long Ink(const std::vector<uint8_t>& buffer) {
  return std::accumulate(buffer.begin(), buffer.end(), 0L);
}

TEST(FontServiceResolution, WindowsFacesUseTheirGenericFamilies) {
  EXPECT_EQ(text::AliasFamily("Lucida Console"), "monospace");
  EXPECT_EQ(text::AliasFamily("courier new"), "monospace");
  EXPECT_EQ(text::AliasFamily("Consolas"), "monospace");
  EXPECT_EQ(text::AliasFamily("Arial"), "sans-serif");
  EXPECT_EQ(text::AliasFamily("TAHOMA"), "sans-serif");
  EXPECT_EQ(text::AliasFamily("MS Sans Serif"), "sans-serif");
  EXPECT_EQ(text::AliasFamily(""), "sans-serif");
  EXPECT_EQ(text::AliasFamily("Times New Roman"), "serif");
  EXPECT_EQ(text::AliasFamily("DejaVu Serif"), "DejaVu Serif");

  EXPECT_EQ(OpenFace(Request("Lucida Console", -13))->Metrics().file, GenericFile("monospace"));
  EXPECT_EQ(OpenFace(Request("Courier New", -13))->Metrics().file, GenericFile("monospace"));
  EXPECT_EQ(OpenFace(Request("Arial", -13))->Metrics().file, GenericFile("sans-serif"));
  EXPECT_EQ(OpenFace(Request("", -13))->Metrics().file, GenericFile("sans-serif"));
  EXPECT_EQ(OpenFace(Request("Times New Roman", -13))->Metrics().file, GenericFile("serif"));
  EXPECT_TRUE(OpenFace(Request("Lucida Console", -13))->Metrics().fixedPitch);
  EXPECT_FALSE(OpenFace(Request("Arial", -13))->Metrics().fixedPitch);
}

TEST(FontServiceResolution, UnknownFaceFallsBackToSansSerifAndInstalledFamiliesResolve) {
  auto unknown = OpenFace(Request("No Such Face 7Q", -13));
  EXPECT_EQ(unknown->Metrics().file, GenericFile("sans-serif"));
  EXPECT_GT(unknown->GlyphFor('A').coverage.size(), 0u);
  if (!FamilyInstalled("DejaVu Serif")) GTEST_SKIP() << "DejaVu Serif not installed";
  EXPECT_EQ(OpenFace(Request("dejavu serif", -13))->Metrics().family, "DejaVu Serif");
}

TEST(FontServiceResolution, SameRequestSharesOneFace) {
  auto a = OpenFace(Request("Arial", -15));
  auto b = OpenFace(Request("arial", -15));
  auto c = OpenFace(Request("Arial", -16));
  EXPECT_EQ(a.get(), b.get());
  EXPECT_NE(a.get(), c.get());
}

TEST(FontServiceHeights, NegativeIsTheEmHeightPositiveIsTheCell) {
  for (int h : {9, 13, 16, 24, 40}) {
    const auto& em = OpenFace(Request("Arial", -h))->Metrics();
    EXPECT_EQ(em.emHeight, h);
    EXPECT_EQ(em.cellHeight, em.ascent + em.descent);
    EXPECT_EQ(em.internalLeading, em.cellHeight - h);
    EXPECT_GE(em.cellHeight, h);

    const auto& cell = OpenFace(Request("Arial", h))->Metrics();
    EXPECT_EQ(cell.cellHeight, h);
    EXPECT_EQ(cell.ascent + cell.descent, h);
    EXPECT_LE(cell.emHeight, h);
  }
  // A cell of 20 holds a smaller em than an em of 20.
  EXPECT_LT(OpenFace(Request("Arial", 20))->Metrics().emHeight,
            OpenFace(Request("Arial", -20))->Metrics().emHeight);
  // Height 0 still gives a usable size.
  EXPECT_GT(OpenFace(Request("Arial", 0))->Metrics().cellHeight, 8);
}

TEST(FontServiceHeights, GlyphsScaleWithTheHeight) {
  auto small = OpenFace(Request("Arial", -10));
  auto large = OpenFace(Request("Arial", -40));
  const auto& h10 = small->GlyphFor('H');
  const auto& h40 = large->GlyphFor('H');
  // A capital H is about 0.73 em tall in most sans-serif faces.
  EXPECT_NEAR(h10.height, 7, 2);
  EXPECT_NEAR(h40.height, 29, 3);
  EXPECT_GT(h40.advance, 3 * h10.advance);
  // Glyphs sit in the cell: the top of H is below the cell top.
  EXPECT_LE(h40.top, large->Metrics().ascent);
}

TEST(FontServiceWeights, NearestRealWeightAndSyntheticBoldOnlyWithoutABold) {
  auto regular = OpenFace(Request("Arial", -20, 400));
  auto semibold = OpenFace(Request("Arial", -20, 600));
  auto bold = OpenFace(Request("Arial", -20, 700));
  EXPECT_EQ(regular->Metrics().weight, 400);
  EXPECT_EQ(bold->Metrics().weight, 700);
  EXPECT_FALSE(bold->Metrics().syntheticBold);
  EXPECT_NE(regular->Metrics().file, bold->Metrics().file);
  // The sans-serif family has a bold and no semibold: 600 takes a real heavier file, not
  // emboldened outlines.
  EXPECT_FALSE(semibold->Metrics().syntheticBold);
  EXPECT_GE(semibold->Metrics().realWeight, 600);

  int w = 0, h = 0;
  long inkRegular = Ink(RenderLine(*regular, "Hamburgefonts", &w, &h));
  long inkBold = Ink(RenderLine(*bold, "Hamburgefonts", &w, &h));
  EXPECT_GT(inkBold, inkRegular * 12 / 10);

  if (!FamilyInstalled("Noto Mono")) GTEST_SKIP() << "no single-weight family installed";
  auto plain = OpenFace(Request("Noto Mono", -20, 400));
  auto emboldened = OpenFace(Request("Noto Mono", -20, 700));
  EXPECT_FALSE(plain->Metrics().syntheticBold);
  EXPECT_TRUE(emboldened->Metrics().syntheticBold);
  EXPECT_EQ(emboldened->Metrics().file, plain->Metrics().file);
  EXPECT_EQ(emboldened->Metrics().weight, 700);
  EXPECT_GT(Ink(RenderLine(*emboldened, "Hamburgefonts", &w, &h)),
            Ink(RenderLine(*plain, "Hamburgefonts", &w, &h)) * 11 / 10);
}

TEST(FontServiceStyles, ItalicUnderlineAndStrikeOut) {
  FontRequest italic = Request("Arial", -20);
  italic.italic = true;
  auto upright = OpenFace(Request("Arial", -20));
  auto slanted = OpenFace(italic);
  EXPECT_TRUE(slanted->Metrics().italic);
  // The slanted l leans right: its top row starts further right than its bottom row.
  auto firstInk = [](const text::Glyph& g, int row) {
    for (int x = 0; x < g.width; ++x)
      if (g.coverage[static_cast<size_t>(row) * g.width + x] > 128) return x;
    return -1;
  };
  const auto& l = slanted->GlyphFor('l');
  ASSERT_GT(l.height, 4);
  EXPECT_GT(firstInk(l, 0), firstInk(l, l.height - 1));
  const auto& ul = upright->GlyphFor('l');
  EXPECT_EQ(firstInk(ul, 0), firstInk(ul, ul.height - 1));

  FontRequest underlined = Request("Arial", -20);
  underlined.underline = true;
  auto face = OpenFace(underlined);
  int w = 0, h = 0;
  auto line = RenderLine(*face, "a b", &w, &h);
  const int advance = face->MeasureCp1252("a b", -1);
  const int row = face->Metrics().ascent + face->Metrics().underlinePosition;
  ASSERT_LT(row, h);
  for (int x = 0; x < advance; ++x) EXPECT_EQ(line[static_cast<size_t>(row) * w + x], 255) << x;
  EXPECT_EQ(line[static_cast<size_t>(row) * w + advance], 0);

  FontRequest struck = Request("Arial", -20);
  struck.strikeOut = true;
  auto strikeFace = OpenFace(struck);
  auto strike = RenderLine(*strikeFace, "  ", &w, &h);  // spaces: only the line has ink
  const int strikeRow = strikeFace->Metrics().ascent - strikeFace->Metrics().strikeOutPosition;
  EXPECT_EQ(strike[static_cast<size_t>(strikeRow) * w + 1], 255);
  EXPECT_EQ(Ink(strike), 255L * strikeFace->MeasureCp1252("  ", -1) *
                             strikeFace->Metrics().lineThickness);
}

TEST(FontServiceGlyphs, AntialiasedCoverageAndMonochromeOption) {
  auto face = OpenFace(Request("Arial", -24));
  const auto& o = face->GlyphFor('O');
  bool partial = false;
  for (uint8_t c : o.coverage) partial |= c > 0 && c < 255;
  EXPECT_TRUE(partial) << "edges of an antialiased O carry intermediate coverage";

  FontRequest mono = Request("Arial", -24);
  mono.antialias = false;
  const auto& m = OpenFace(mono)->GlyphFor('O');
  ASSERT_FALSE(m.coverage.empty());
  for (uint8_t c : m.coverage) EXPECT_TRUE(c == 0 || c == 255);
}

TEST(FontServiceText, Cp1252MapsToUnicodeBeforeLookup) {
  EXPECT_EQ(text::Cp1252ToUnicode('A'), 0x41u);
  EXPECT_EQ(text::Cp1252ToUnicode(0x80), 0x20ACu);  // euro sign
  EXPECT_EQ(text::Cp1252ToUnicode(0x92), 0x2019u);  // right single quotation mark
  EXPECT_EQ(text::Cp1252ToUnicode(0x9F), 0x0178u);  // Y with diaeresis
  EXPECT_EQ(text::Cp1252ToUnicode(0x81), 0x81u);    // undefined: kept
  EXPECT_EQ(text::Cp1252ToUnicode(0xE9), 0xE9u);    // e acute: Latin-1 range

  auto face = OpenFace(Request("Arial", -20));
  const char euro[] = "\x80";
  int w = 0, h = 0;
  auto rendered = RenderLine(*face, euro, &w, &h);
  const auto& glyph = face->GlyphFor(0x20AC);
  EXPECT_EQ(face->MeasureCp1252(euro, 1), glyph.advance);
  // The euro glyph's rows appear in the rendering at its bearings.
  const int top = face->Metrics().ascent - glyph.top;
  for (int y = 0; y < glyph.height; ++y)
    for (int x = 0; x < glyph.width; ++x)
      ASSERT_EQ(rendered[static_cast<size_t>(top + y) * w + glyph.left + x],
                glyph.coverage[static_cast<size_t>(y) * glyph.width + x]);
}

TEST(FontServiceText, MeasureIsTheSumOfAdvancesAndRenderClips) {
  auto face = OpenFace(Request("Lucida Console", -13, 700));
  const char* s = "*   Kestrelwing   *";
  int sum = 0;
  for (const char* p = s; *p; ++p) sum += face->GlyphFor(static_cast<uint8_t>(*p)).advance;
  EXPECT_EQ(face->MeasureCp1252(s, -1), sum);
  EXPECT_EQ(face->MeasureCp1252(s, 5), 5 * face->GlyphFor('*').advance);  // monospace
  EXPECT_EQ(face->MeasureCp1252(nullptr, 3), 0);

  // Drawing far outside a small buffer touches nothing and still reports the advance.
  std::vector<uint8_t> small(16 * 16, 0);
  EXPECT_EQ(face->RenderCp1252(s, -1, small.data(), 16, 16, 16, -100000, 5), sum);
  EXPECT_EQ(face->RenderCp1252(s, -1, small.data(), 16, 16, 16, 5, 100000), sum);
  EXPECT_EQ(Ink(small), 0);
  // Partly inside: only the buffer is written (the guard bytes after it stay zero).
  std::vector<uint8_t> guarded(16 * 16 + 64, 0);
  face->RenderCp1252(s, -1, guarded.data(), 16, 16, 16, -3, -4);
  EXPECT_GT(Ink(guarded), 0);
  for (size_t i = 16 * 16; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], 0);
}

TEST(FontServiceCache, SecondDrawingDoesNoFreeTypeWork) {
  auto face = OpenFace(Request("Times New Roman", -17));
  int w = 0, h = 0;
  const uint64_t before = text::FreeTypeRenderCount();
  auto first = RenderLine(*face, "Cache me: qwxz!", &w, &h);
  const uint64_t afterFirst = text::FreeTypeRenderCount();
  EXPECT_GT(afterFirst, before);
  auto second = RenderLine(*face, "Cache me: qwxz!", &w, &h);
  EXPECT_EQ(text::FreeTypeRenderCount(), afterFirst);
  EXPECT_EQ(first, second);
  // The same face reopened shares the cache; a new size renders again.
  RenderLine(*OpenFace(Request("Times New Roman", -17)), "qwxz", &w, &h);
  EXPECT_EQ(text::FreeTypeRenderCount(), afterFirst);
  RenderLine(*OpenFace(Request("Times New Roman", -18)), "qwxz", &w, &h);
  EXPECT_GT(text::FreeTypeRenderCount(), afterFirst);
}

}  // namespace
