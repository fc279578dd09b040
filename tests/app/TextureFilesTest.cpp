#include "app/TextureFiles.h"

#include "archive/FolderArchive.h"
#include "field/tex.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "platform/Files.h"

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::ErrorOf;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A palettised 2x2 TEX whose header bytes outside the decoder's fields are a pattern,
// as a game file's header is full of values of its own.
std::string GameLikeTEX(uint32_t seed, bool direct = false) {
  TTexFixture f;
  f.Width = f.Height = 2;
  if (direct)
    f.Direct = {0x001F, 0x03E0, 0x7C00, 0x7FFF};
  else {
    f.Palette = {{0, 0, 255, 0}, {0, 255, 0, 0}};
    f.Indices = {0, 1, 1, 0};
  }
  std::string tex = BuildTEX(f);
  const std::string pattern = PatternBytes(236, seed);
  const std::set<size_t> fields = {8, 60, 64, 88};
  for (size_t i = 0; i < 236; ++i)
    if (!fields.count(i & ~size_t(3))) tex[i] = pattern[i];
  return tex;
}

TTexImage Checker(int32_t width, int32_t height) {
  TTexImage image;
  image.Width = width;
  image.Height = height;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const bool on = (x + y) % 2 == 0;
      image.Pixels.insert(image.Pixels.end(),
                          {uint8_t(on ? 250 : 8), uint8_t(x * 30), uint8_t(on ? 0 : 248), 255});
    }
  return image;
}

TLGPFixture TexArchive() {
  TLGPFixture lgp;
  lgp.Add("KNIG.HRC", ":HEADER_BLOCK 2\n:SKELETON knight\n:BONES 0\n");
  lgp.Add("ABCD.TEX", GameLikeTEX(1));
  lgp.Add("DIRE.TEX", GameLikeTEX(2, true));
  lgp.Add("rtaa", "battle skeleton");
  lgp.Add("rtac", GameLikeTEX(3));
  lgp.Add("rtam", "a part");
  lgp.Add("xxac", "not a texture: no xxaa beside it");
  return lgp;
}

} // namespace

TEST(ImportTexture, ReplacesTheMemberKeepingItsHeaderAndEveryOtherMember) {
  for (bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "folder archive" : "LGP archive");
    TTempDir dir;
    TLGPFixture fixture = TexArchive();
    std::string path = dir.File("char.lgp");
    if (folder) {
      path = dir.File("char") + "/";
      std::filesystem::create_directory(path);
      for (const auto& m : fixture.Members) WriteFile(path + m.Name, m.Data);
    } else {
      WriteFile(path, BuildLGP(fixture));
    }
    const TTexImage picture = Checker(5, 3);
    auto archive = ArchiveKindForPath(path).Open();
    TTexImportResult result = ImportTexture(*archive, "abcd.tex", picture, {});
    EXPECT_FALSE(result.Direct);
    EXPECT_TRUE(result.Exact);
    EXPECT_EQ(result.Colours, 10);

    auto reopened = ArchiveKindForPath(path).Open();
    for (const auto& m : fixture.Members) {
      const std::string now(reopened->ReadMemberToMemory(reopened->IndexOf(m.Name))->View());
      if (m.Name != "ABCD.TEX") {
        EXPECT_EQ(now, m.Data) << m.Name;
        continue;
      }
      EXPECT_EQ(ReadTexture(*reopened, reopened->IndexOf(m.Name)).Pixels, picture.Pixels);
      const std::set<size_t> named = {8, 48, 52, 60, 64, 68, 88, 92};
      for (size_t i = 0; i < 236; ++i)
        if (!named.count(i & ~size_t(3))) {
          ASSERT_EQ(now[i], m.Data[i]) << i;
        }
    }

    // A direct-colour member stays direct colour; --direct makes a palettised one so.
    result = ImportTexture(*archive, "DIRE.TEX", picture, {});
    EXPECT_TRUE(result.Direct);
    result = ImportTexture(*archive, "rtac", picture, {true, {}});
    EXPECT_TRUE(result.Direct);
    reopened = ArchiveKindForPath(path).Open();
    for (const char* name : {"DIRE.TEX", "rtac"}) {
      const std::string now(reopened->ReadMemberToMemory(reopened->IndexOf(name))->View());
      EXPECT_TRUE(IsDirectColourTEX(now)) << name;
      EXPECT_EQ(now.size(), 236u + 5 * 3 * 2) << name;
      EXPECT_EQ(ReadTexture(*reopened, reopened->IndexOf(name)).Width, 5) << name;
    }
  }
}

TEST(ImportTexture, FailuresSayWhyInOneLineAndLeaveTheArchiveAsItWas) {
  TTempDir dir;
  const std::string path = dir.File("char.lgp");
  const std::string bytes = BuildLGP(TexArchive());
  WriteFile(path, bytes);
  auto archive = TLGPFile::Create(path, false);
  TTexImage empty;
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { ImportTexture(*archive, "KNIG.HRC", Checker(2, 2), {}); },
       "KNIG.HRC is not a TEX texture (Stream read error)"},
      {[&] { ImportTexture(*archive, "ABCD.TEX", empty, {}); },
       "picture: 0x0 pixels, no picture to write"},
      {[&] {
         ImportTexture(*archive, "ABCD.TEX", Checker(2, 2), {false, {300, false}});
       },
       "A TEX palette holds 2 to 256 colours, not 300"},
  };
  for (const auto& [action, message] : cases) {
    EXPECT_EQ(ErrorOf(action), message);
    EXPECT_EQ(ReadAll(path), bytes);
  }
}

TEST(TextureMembers, AreTEXFilesAndBattleTexturesAndGivePlainPictureNames) {
  TTempDir dir;
  WriteFile(dir.File("char.lgp"), BuildLGP(TexArchive()));
  auto archive = TLGPFile::Create(dir.File("char.lgp"), false);
  std::vector<std::string> names;
  for (int32_t index : TexMembers(*archive)) names.push_back(archive->EntryAt(index).Name);
  EXPECT_EQ(names, (std::vector<std::string>{"ABCD.TEX", "DIRE.TEX", "rtac"}));
  EXPECT_EQ(TexPictureName("ABCD.TEX"), "ABCD.png");
  EXPECT_EQ(TexPictureName("abcd.tex"), "abcd.png");
  EXPECT_EQ(TexPictureName("rtac"), "rtac.png");
  EXPECT_EQ(ErrorOf([] { TexPictureName("../x.TEX"); }), "\"../x.TEX\" is not a plain file name");

  // A new texture's header: the first palettised texture's (not the direct one before
  // it), else the demo layout.
  TLGPFixture lgp;
  lgp.Add("DIRE.TEX", GameLikeTEX(2, true))
      .Add("SHRT.TEX", "short")
      .Add("ABCD.TEX", GameLikeTEX(1));
  WriteFile(dir.File("other.lgp"), BuildLGP(lgp));
  auto other = TLGPFile::Create(dir.File("other.lgp"), false);
  EXPECT_EQ(NewTEXHeader(*other), GameLikeTEX(1).substr(0, 236));
  TLGPFixture none;
  none.Add("DIRE.TEX", GameLikeTEX(2, true));
  WriteFile(dir.File("none.lgp"), BuildLGP(none));
  auto plain = TLGPFile::Create(dir.File("none.lgp"), false);
  EXPECT_EQ(NewTEXHeader(*plain), DefaultTEXHeader());
}
