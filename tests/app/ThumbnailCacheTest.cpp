// The members a model is read from, noted as it is built, and the thumbnail cache that
// keeps its picture while they lie where they did.
#include "app/thumbnailcache.h"

#include "archive/FolderArchive.h"
#include "archive/MemberLog.h"
#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "fixtures/Demo.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

class ThumbnailCacheTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TThumbnailCache Cache{Dir.File("cache/thumbnails")};
  std::vector<uint8_t> Picture = std::vector<uint8_t>(16 * 16 * 4, 7);

  static std::vector<std::string> Names(const std::vector<TMemberStamp>& members) {
    std::vector<std::string> names;
    for (const TMemberStamp& member : members) names.push_back(member.Name);
    std::sort(names.begin(), names.end());
    return names;
  }
  // The members the knight is built from, as the log notes them.
  static std::vector<TMemberStamp> KnightMembers(TLGPFile& archive) {
    TMemberReadLog log;
    TFieldModel knight(archive, "knig.hrc", "KNWA.A");
    return log.Members();
  }
  // Replaces member's data with its own bytes, as saving an animation does.
  static void Rewrite(TLGPFile& archive, const std::string& member) {
    const int32_t index = archive.IndexOf(member);
    auto bytes = archive.ReadMemberToMemory(index);
    bytes->SetPosition(0);
    archive.WriteMember(index, *bytes);
  }
};

} // namespace

// Every member the model reads, each once, as the archive spells it; a log inside
// another collects alone, and nothing is noted without one.
TEST_F(ThumbnailCacheTest, TheLogNotesEveryMemberAModelIsBuiltFrom) {
  WriteFile(Dir.File("char.lgp"), BuildLGP(BuildDemoFieldArchive()));
  WriteFile(Dir.File("battle.lgp"), BuildLGP(BuildDemoBattleArchive()));
  auto archive = TLGPFile::Create(Dir.File("char.lgp"), false);
  TMemberReadLog outer;
  const std::vector<TMemberStamp> knight = KnightMembers(*archive);
  EXPECT_TRUE(outer.Members().empty());
  const std::vector<std::string> names = Names(knight);
  for (const char* name : {"KNIG.HRC", "KNWA.A", "KNAA.RSD", "KNAA.P", "KNAC.TEX"})
    EXPECT_TRUE(std::count(names.begin(), names.end(), name) == 1) << name;
  EXPECT_EQ(StampMembers(*archive, names), [&] {
    std::vector<TMemberStamp> sorted = knight;
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.Name < b.Name; });
    return sorted;
  }());

  auto battle = TLGPFile::Create(Dir.File("battle.lgp"), false);
  TMemberReadLog log;
  TBattleModel golem;
  golem.LoadFromArchive(*battle, "rt");
  EXPECT_EQ(
      Names(log.Members()),
      (std::vector<std::string>{"rtaa", "rtab", "rtac", "rtad", "rtam", "rtan", "rtao", "rtap",
                                "rtaq", "rtar", "rtas", "rtat", "rtau", "rtav", "rtda", "rtdb"}));
}

// Kept and found again; a replaced member, a member gone, another key or a damaged file
// find nothing.
TEST_F(ThumbnailCacheTest, APictureIsFoundWhileItsMembersAreUnchanged) {
  WriteFile(Dir.File("char.lgp"), BuildLGP(BuildDemoFieldArchive()));
  auto archive = TLGPFile::Create(Dir.File("char.lgp"), false);
  const TThumbnailKey key{Dir.File("char.lgp"), "KNIG.HRC", "KNWA.A", 16};
  EXPECT_TRUE(Cache.Find(*archive, key).empty());
  Cache.Store(key, KnightMembers(*archive), Picture);
  EXPECT_EQ(Cache.Find(*archive, key), Picture);
  TThumbnailKey otherSize = key;
  otherSize.Size = 32;
  EXPECT_TRUE(Cache.Find(*archive, otherSize).empty());
  TThumbnailKey otherAnim = key;
  otherAnim.Anim = "KNWV.A";
  EXPECT_TRUE(Cache.Find(*archive, otherAnim).empty());

  // The hound's members are not the knight's: his picture stays.
  Rewrite(*archive, "HOWA.A");
  archive = TLGPFile::Create(Dir.File("char.lgp"), false);
  EXPECT_EQ(Cache.Find(*archive, key), Picture);
  Rewrite(*archive, "KNAA.P");
  archive = TLGPFile::Create(Dir.File("char.lgp"), false);
  EXPECT_TRUE(Cache.Find(*archive, key).empty());

  // Damaged files: cut anywhere, or their pixels spoilt.
  Cache.Store(key, KnightMembers(*archive), Picture);
  const std::string file = Cache.FileOf(key), whole = ReadFileBytes(file);
  for (size_t length : {size_t(0), size_t(5), size_t(40), whole.size() / 2, whole.size() - 1}) {
    WriteFile(file, whole.substr(0, length));
    EXPECT_TRUE(Cache.Find(*archive, key).empty()) << length;
  }
  std::string spoilt = whole;
  spoilt[spoilt.size() - 3] ^= 0x55;
  WriteFile(file, spoilt);
  EXPECT_TRUE(Cache.Find(*archive, key).empty());
}

// In a folder a member is a file: rewritten, even at the same size, it is drawn again.
TEST_F(ThumbnailCacheTest, AFolderMemberRewrittenIsChanged) {
  std::filesystem::create_directory(Dir.File("folder"));
  for (const auto& member : BuildDemoFieldArchive().Members)
    WriteFile(Dir.File("folder/" + member.Name), member.Data);
  auto archive = TFolderArchive::CreateFromFolder(Dir.File("folder"));
  const TThumbnailKey key{Dir.File("folder/"), "KNIG.HRC", "KNWA.A", 16};
  Cache.Store(key, KnightMembers(*archive), Picture);
  EXPECT_EQ(Cache.Find(*archive, key), Picture);
  const std::string p = Dir.File("folder/KNAA.P");
  std::filesystem::last_write_time(p,
                                   std::filesystem::last_write_time(p) + std::chrono::seconds(5));
  EXPECT_TRUE(Cache.Find(*archive, key).empty());
  Cache.Store(key, KnightMembers(*archive), Picture);
  std::filesystem::remove(p);
  EXPECT_TRUE(Cache.Find(*archive, key).empty());
}
