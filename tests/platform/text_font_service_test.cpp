// The font service: face resolution, Windows heights, weights, styles, cp1252 and the glyph cache.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "platform/text/font_service.h"
#include "support/font_root.h"

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

constexpr const char kRoot[] = "/usr/share/fonts/truetype/";

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

TEST(FontServiceResolution, EveryWindowsFaceResolvesToOneNamedFamily) {
  const std::pair<const char*, const char*> table[] = {
      {"Arial", "Liberation Sans"},
      {"Times New Roman", "Liberation Serif"},
      {"Courier New", "Liberation Mono"},
      {"Courier", "Liberation Mono"},
      {"Lucida Console", "DejaVu Sans Mono"},
      {"LUCIDA CONSOLE", "DejaVu Sans Mono"},
      {"Consolas", "DejaVu Sans Mono"},
      {"Fixedsys", "DejaVu Sans Mono"},
      {"Terminal", "DejaVu Sans Mono"},
      {"System", "DejaVu Sans"},
      {"MS Sans Serif", "DejaVu Sans"},
      {"MS Shell Dlg", "DejaVu Sans"},
      {"Tahoma", "DejaVu Sans"},
      {"", "DejaVu Sans"},
      {"No Such Face 7Q", "DejaVu Sans"},
      {"Noto Mono", "DejaVu Sans"},  // installed or not, only the table's families are drawn
      {"dejavu serif", "DejaVu Serif"},
      {"liberation mono", "Liberation Mono"},
  };
  for (const auto& [face, family] : table) {
    SCOPED_TRACE(face);
    EXPECT_EQ(text::AliasFamily(face), family);
    const auto& m = OpenFace(Request(face, -13))->Metrics();
    EXPECT_EQ(m.family, family);
    EXPECT_EQ(m.file.rfind(kRoot, 0), 0u) << m.file;
  }
  EXPECT_EQ(OpenFace(Request("Lucida Console", -13))->Metrics().file,
            std::string(kRoot) + "dejavu/DejaVuSansMono.ttf");
  EXPECT_EQ(OpenFace(Request("Arial", -13))->Metrics().file,
            std::string(kRoot) + "liberation2/LiberationSans-Regular.ttf");
  EXPECT_TRUE(OpenFace(Request("Lucida Console", -13))->Metrics().fixedPitch);
  EXPECT_TRUE(OpenFace(Request("Courier New", -13))->Metrics().fixedPitch);
  EXPECT_FALSE(OpenFace(Request("Arial", -13))->Metrics().fixedPitch);
  EXPECT_EQ(OpenFace(Request("Courier New", -13))->Metrics().familyClass,
            text::FamilyClass::Monospace);
  EXPECT_EQ(OpenFace(Request("Times New Roman", -13))->Metrics().familyClass,
            text::FamilyClass::Serif);
  EXPECT_EQ(OpenFace(Request("Tahoma", -13))->Metrics().familyClass, text::FamilyClass::SansSerif);
}

TEST(FontServiceResolution, WeightAndSlantPickTheFamilysOwnStyleFiles) {
  struct Case {
    const char* face;
    int weight;
    bool italic;
    const char* file;
  };
  const Case cases[] = {
      {"Lucida Console", 700, false, "dejavu/DejaVuSansMono-Bold.ttf"},
      {"Lucida Console", 400, true, "dejavu/DejaVuSansMono-Oblique.ttf"},
      {"Lucida Console", 700, true, "dejavu/DejaVuSansMono-BoldOblique.ttf"},
      {"", 600, false, "dejavu/DejaVuSans-Bold.ttf"},  // the engine's default font
      {"", 500, false, "dejavu/DejaVuSans.ttf"},
      {"", 100, false, "dejavu/DejaVuSans.ttf"},  // no lighter file: never ExtraLight
      {"Times New Roman", 400, true, "liberation2/LiberationSerif-Italic.ttf"},
      {"Courier New", 900, true, "liberation2/LiberationMono-BoldItalic.ttf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.face) + " " + std::to_string(c.weight) + (c.italic ? " i" : ""));
    FontRequest request = Request(c.face, -13, c.weight);
    request.italic = c.italic;
    EXPECT_EQ(OpenFace(request)->Metrics().file, std::string(kRoot) + c.file);
  }
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

TEST(FontServiceWeights, TheWeightIsThatOfTheFileDrawn) {
  auto regular = OpenFace(Request("Arial", -20, 400));
  auto semibold = OpenFace(Request("Arial", -20, 600));
  auto bold = OpenFace(Request("Arial", -20, 700));
  EXPECT_EQ(regular->Metrics().weight, 400);
  EXPECT_EQ(bold->Metrics().weight, 700);
  EXPECT_NE(regular->Metrics().file, bold->Metrics().file);
  // No semibold file: 600 is drawn with the bold one and says so.
  EXPECT_EQ(semibold->Metrics().file, bold->Metrics().file);
  EXPECT_EQ(semibold->Metrics().weight, 700);

  int w = 0, h = 0;
  long inkRegular = Ink(RenderLine(*regular, "Hamburgefonts", &w, &h));
  long inkBold = Ink(RenderLine(*bold, "Hamburgefonts", &w, &h));
  EXPECT_GT(inkBold, inkRegular * 12 / 10);
}

TEST(MissingFontFile, NamesThePackageOnceAndNeverDrawsAnotherFace) {
  font_test::ScopedFontRoot root({"DejaVuSansMono-Bold.ttf"});
  ::testing::internal::CaptureStderr();
  std::string error;
  EXPECT_FALSE(text::FaceAvailable("Lucida Console", &error));
  EXPECT_FALSE(text::FaceAvailable("Consolas", nullptr));
  auto face = OpenFace(Request("Lucida Console", -13, 400));
  const std::string printed = ::testing::internal::GetCapturedStderr();

  EXPECT_NE(error.find((root.path() / "dejavu/DejaVuSansMono-Bold.ttf").string()),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("install the Debian package fonts-dejavu-core"), std::string::npos) << error;
  EXPECT_EQ(printed, error + "\n") << "one line, however often the family is asked for";

  // Even the regular style, whose file is there, is refused: the family is incomplete.
  EXPECT_EQ(face->Metrics().family, "DejaVu Sans Mono");
  EXPECT_EQ(face->Metrics().file, "");
  EXPECT_TRUE(face->GlyphFor('A').coverage.empty());
  EXPECT_GT(face->GlyphFor('A').advance, 0);

  // Other families are untouched.
  EXPECT_TRUE(text::FaceAvailable("Arial", &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(OpenFace(Request("Arial", -13))->GlyphFor('A').coverage.empty());
}

TEST(FontServiceEnvironment, TheUsersFontconfigFileChangesNothing) {
  auto draw = [] {
    text::SetFontRoot("/usr/share/fonts/truetype");  // a fresh configuration and face cache
    std::vector<std::string> files;
    std::vector<uint8_t> pixels;
    for (const char* face : {"Lucida Console", "Arial", "", "Times New Roman"}) {
      auto f = OpenFace(Request(face, -13, 700));
      files.push_back(f->Metrics().file);
      int w = 0, h = 0;
      auto line = RenderLine(*f, "Kestrelwing *", &w, &h);
      pixels.insert(pixels.end(), line.begin(), line.end());
    }
    return std::make_pair(files, pixels);
  };
  const auto before = draw();

  const auto dir =
      std::filesystem::temp_directory_path() / ("vexa-fontconfig-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto conf = dir / "fonts.conf";
  {
    std::ofstream out(conf);
    out << R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="strong"><family>monospace</family><prefer><family>Liberation Mono</family></prefer></alias>
  <alias binding="strong"><family>sans-serif</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="strong"><family>DejaVu Sans Mono</family><prefer><family>Liberation Mono</family></prefer></alias>
  <match target="font"><edit name="hinting" mode="assign"><bool>false</bool></edit></match>
  <match target="font"><edit name="antialias" mode="assign"><bool>false</bool></edit></match>
</fontconfig>
)";
  }
  ::setenv("FONTCONFIG_FILE", conf.c_str(), 1);
  const auto after = draw();
  ::unsetenv("FONTCONFIG_FILE");
  std::filesystem::remove_all(dir);

  EXPECT_EQ(after.first, before.first);
  EXPECT_TRUE(after.second == before.second) << "the same glyphs, pixel for pixel";
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
  EXPECT_EQ(Ink(strike),
            255L * strikeFace->MeasureCp1252("  ", -1) * strikeFace->Metrics().lineThickness);
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
