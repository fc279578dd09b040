#include "tests/cli/CliRunner.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/PNGReader.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "platform/Files.h"
#include "platform/images.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <fstream>
#include <sstream>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::ExpectFailures;
using palkor::testing::RunCli;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// RGBA pixels of a picture with some of every kind: width x height, a fully
// transparent top-left pixel and a half transparent one beside it.
std::vector<uint8_t> Painting(int32_t width, int32_t height, int colours) {
  std::vector<uint8_t> pixels;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const int k = (x * 7 + y * 3) % colours;
      const uint8_t alpha = x == 0 && y == 0 ? 0 : x == 1 && y == 0 ? 128 : 255;
      pixels.insert(pixels.end(), {uint8_t(k * 5), uint8_t(255 - k * 3), uint8_t(k * 11), alpha});
    }
  return pixels;
}

// The pixels as the texture shows them: transparent black, or opaque.
std::vector<uint8_t> AsShown(std::vector<uint8_t> pixels) {
  for (size_t i = 0; i < pixels.size(); i += 4) {
    if (pixels[i + 3] == 0)
      pixels[i] = pixels[i + 1] = pixels[i + 2] = 0;
    else
      pixels[i + 3] = 255;
  }
  return pixels;
}

// A PNG file whose header claims width x height pixels, with no pixels behind it: the
// header and an empty data chunk.
std::string PNGHeaderOnly(uint32_t width, uint32_t height) {
  auto chunk = [](const std::string& type, const std::string& data) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) out += char(uint32_t(data.size()) >> shift);
    const std::string body = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
    out += body;
    for (int shift = 24; shift >= 0; shift -= 8) out += char(crc >> shift);
    return out;
  };
  std::string header;
  for (uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) header += char(v >> shift);
  header += std::string("\x08\x06\x00\x00\x00", 5);
  return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", "");
}

TLGPFixture TexArchive() {
  TTexFixture tex;
  tex.Width = tex.Height = 2;
  tex.Palette = {{0, 0, 255, 0}, {0, 255, 0, 0}};
  tex.Indices = {0, 1, 1, 0};
  TLGPFixture lgp;
  lgp.Add("KNIG.HRC", ":HEADER_BLOCK 2\n");
  lgp.Add("ABCD.TEX", BuildTEX(tex));
  lgp.Add("BAD.TEX", "not a texture");
  lgp.Add("rtaa", "battle skeleton");
  lgp.Add("rtac", BuildOneColourTEX(1, 2, 3));
  return lgp;
}

// 3x2, colour-keyed: index 0 transparent, index 1 a colour, index 5 beyond the palette.
TTexFixture Keyed3x2() {
  TTexFixture f;
  f.Width = 3;
  f.Height = 2;
  f.ColourKey = 1;
  f.Palette = {{1, 2, 3, 4}, {0x10, 0x20, 0x30, 0}, {0xFF, 0x80, 0x00, 0}};
  f.Indices = {1, 2, 0, 2, 5, 1};
  return f;
}

} // namespace

TEST(TexCommand, WritesTheDecodedTextureAsAnRGBAPNGTopRowFirst) {
  TTempDir dir;
  std::string tex = dir.File("abcd.tex"), png = dir.File("abcd.png");
  WriteFile(tex, BuildTEX(Keyed3x2()));
  WriteFile(png, "replaced");
  auto r = RunCli({"tex", tex, png});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "");
  TPNGFile file = ReadPNGFile(png);
  EXPECT_EQ(file.Width, 3u);
  EXPECT_EQ(file.Height, 2u);
  EXPECT_EQ(file.BitDepth, 8);
  EXPECT_EQ(file.ColourType, 6);
  EXPECT_EQ(file.RGBA, (std::vector<uint8_t>{0x30, 0x20, 0x10, 255, 0x00, 0x80, 0xFF, 255,
                                             0,    0,    0,    0,   0x00, 0x80, 0xFF, 255,
                                             0,    0,    0,    255, 0x30, 0x20, 0x10, 255}));

  TTexFixture direct;
  direct.Width = 2;
  direct.Height = 1;
  direct.Direct = {0x7C00, 0x0421};
  WriteFile(tex, BuildTEX(direct));
  ASSERT_EQ(RunCli({"tex", tex, png}).ExitCode, 0);
  EXPECT_EQ(ReadPNGFile(png).RGBA, (std::vector<uint8_t>{0, 0, 255, 255, 8, 8, 8, 255}));
}

TEST(TexCommand, FailuresPrintOneLineExitOneAndWriteNothing) {
  TTempDir dir;
  std::string tex = dir.File("bad.tex"), png = dir.File("out.png");
  TTexFixture truncated = Keyed3x2();
  truncated.TruncateAt = 236 + 12 + 3;
  TTexFixture tooMany = Keyed3x2();
  tooMany.CountOverride = 300;
  TTexFixture empty = Keyed3x2();
  empty.WidthOverride = 0;

  const struct {
    const char* Name;
    std::string Bytes; // empty: no TEX file at all
    std::string Error;
  } cases[] = {
      {"missing", "", "palkor-cli: Cannot open file \"" + tex + "\". No such file or directory\n"},
      {"truncated", BuildTEX(truncated), "palkor-cli: Stream read error\n"},
      {"palette too large", BuildTEX(tooMany),
       "palkor-cli: Invalid palette count 300 in TEX file\n"},
      {"empty image", BuildTEX(empty), "palkor-cli: Cannot write an image of 0x0 pixels\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(tex.c_str());
    if (!c.Bytes.empty()) WriteFile(tex, c.Bytes);
    auto r = RunCli({"tex", tex, png});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, c.Error);
    EXPECT_FALSE(FileExists(png));
  }
  EXPECT_EQ(RunCli({"tex", tex}).ExitCode, 2);
}

TEST(TexImport, APictureGoesInAndComesBackOutWithTexAll) {
  TTempDir dir;
  const std::string archive = dir.File("char.lgp"), png = dir.File("paint.png");
  WriteFile(archive, BuildLGP(TexArchive()));
  const std::vector<uint8_t> few = Painting(9, 7, 40);
  WriteFile(png, EncodePNG(9, 7, few.data(), 4));
  auto r = RunCli({"tex-import", archive, "abcd.tex", png});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "1 partly transparent pixels made opaque\n");
  EXPECT_EQ(r.Err, "");

  // Out again: every texture, the one that is not a texture a failure of its own.
  const std::string out = dir.File("out/textures");
  r = RunCli({"tex", archive, "--all", out});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "wrote 2 of 3 textures\n");
  EXPECT_EQ(r.Err, "palkor-cli: BAD.TEX: BAD.TEX is not a TEX texture (Stream read error)\n");
  EXPECT_EQ(ReadPNGFile(out + "/ABCD.png").RGBA, AsShown(few));
  EXPECT_EQ(ReadPNGFile(out + "/rtac.png").RGBA, (std::vector<uint8_t>{1, 2, 3, 255}));
  EXPECT_FALSE(FileExists(out + "/BAD.png"));

  // More colours than a palette holds: close, not exact; --direct and --colours.
  const std::vector<uint8_t> many = Painting(64, 64, 1000);
  WriteFile(png, EncodePNG(64, 64, many.data(), 4));
  for (std::vector<std::string> extra :
       {std::vector<std::string>{}, {"--dither"}, {"--colours", "64"}, {"--direct"}}) {
    std::vector<std::string> args = {"tex-import", archive, "ABCD.TEX", png};
    args.insert(args.end(), extra.begin(), extra.end());
    r = RunCli(args);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_EQ(RunCli({"extract", archive, "ABCD.TEX", dir.File("abcd.tex")}).ExitCode, 0);
    ASSERT_EQ(RunCli({"tex", dir.File("abcd.tex"), dir.File("back.png")}).ExitCode, 0);
    const std::vector<uint8_t> back = ReadPNGFile(dir.File("back.png")).RGBA;
    const std::vector<uint8_t> shown = AsShown(many);
    ASSERT_EQ(back.size(), shown.size());
    double error = 0;
    for (size_t i = 0; i < back.size(); ++i) error += std::abs(int(back[i]) - int(shown[i]));
    EXPECT_LT(error / double(back.size()), extra.empty() ? 2.0 : 6.0);
  }
  // A texture not yet in the archive is added by one rebuild: the archive checks sound
  // and the new member decodes to the picture.
  WriteFile(png, EncodePNG(9, 7, few.data(), 4));
  r = RunCli({"tex-import", archive, "NEWT.TEX", png});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(RunCli({"check", archive}).ExitCode, 0);
  ASSERT_EQ(RunCli({"extract", archive, "NEWT.TEX", dir.File("newt.tex")}).ExitCode, 0);
  ASSERT_EQ(RunCli({"tex", dir.File("newt.tex"), dir.File("newt.png")}).ExitCode, 0);
  EXPECT_EQ(ReadPNGFile(dir.File("newt.png")).RGBA, AsShown(few));
  WriteFile(png, EncodePNG(64, 64, many.data(), 4));
  // The direct-colour member now written stays direct colour, and says what it lost.
  r = RunCli({"tex-import", archive, "ABCD.TEX", png});
  EXPECT_EQ(r.Out, "1 partly transparent pixels made opaque\n"
                   "1 transparent pixels made opaque (direct colour has no colour key)\n");
}

TEST(TexImport, FailuresChangeNothingAndSayWhyInOneLine) {
  TTempDir dir;
  const std::string archive = dir.File("char.lgp"), png = dir.File("paint.png");
  const std::string bytes = BuildLGP(TexArchive());
  WriteFile(archive, bytes);
  const std::vector<uint8_t> pixels = Painting(4, 4, 3);
  WriteFile(png, EncodePNG(4, 4, pixels.data(), 4));
  WriteFile(dir.File("huge.png"), PNGHeaderOnly(30000, 30000));
  WriteFile(dir.File("text.png"), "just text");
  std::string cut = EncodePNG(4, 4, pixels.data(), 4);
  WriteFile(dir.File("cut.png"), cut.substr(0, cut.size() - 20));
  ExpectFailures({
      {{"tex-import", archive, "ABCD.TEX", dir.File("text.png")},
       dir.File("text.png") + " is not a PNG image"},
      {{"tex-import", archive, "ABCD.TEX", dir.File("cut.png")},
       dir.File("cut.png") + ": damaged PNG image (the file ends early)"},
      {{"tex-import", archive, "ABCD.TEX", dir.File("huge.png")},
       dir.File("huge.png") +
           ": 30000x30000 pixels, more than a TEX texture holds (at most 536870911 pixels)"},
      {{"tex-import", archive, "ABCD.TEX", dir.File("none.png")},
       "Cannot open file \"" + dir.File("none.png") + "\". No such file or directory"},
      {{"tex-import", archive, "knig.hrc", png},
       "KNIG.HRC is not a TEX texture (Stream read error)"},
      {{"tex-import", archive, "NEW TEX.TEX", png},
       "\"NEW TEX.TEX\" is not a member name: only letters, digits, \"_\", \"-\" and \".\" may "
       "be in it"},
  });
  EXPECT_EQ(ReadAll(archive), bytes);
  EXPECT_EQ(RunCli({"tex-import", archive, "ABCD.TEX", png, "--colours", "1"}).ExitCode, 2);
  EXPECT_EQ(RunCli({"tex-import", archive, "ABCD.TEX", png, "--colours", "257"}).ExitCode, 2);
  EXPECT_EQ(ReadAll(archive), bytes);
}
