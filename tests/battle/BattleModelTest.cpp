#include "battle/BattleModel.h"

#include "fixtures/BattleWriters.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "render/offscreen.h"

#include <gtest/gtest.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

std::string PartWithPolys(int boxes) {
  TPFixture p;
  for (int i = 0; i < boxes; ++i) p.AddBox(float(i), 0, 0, 1, 1, 1, {255, 255, 255, 255});
  return BuildP(p);
}

std::string Animations(int count, int frames, int rotations) {
  std::vector<std::string> records;
  for (int a = 0; a < count; ++a) {
    TBattleAnimFixture anim;
    for (int f = 0; f < frames + a; ++f)
      anim.Frames.push_back({0, 0, 0, std::pmr::vector<TBattleRotation>(size_t(rotations))});
    records.push_back(EncodeBattleAnimation(anim));
  }
  return BuildBattleAnimations(records);
}

class BattleModelTest : public ::testing::Test {
protected:
  TOffscreenContext Context{4, 4};
  TBattleModel::TMemberList List;

  void Add(const std::string& suffix, const std::string& data) {
    List.emplace_back(suffix, std::make_unique<TMemoryStream>(data));
  }
  std::string ErrorOf() {
    try {
      TBattleModel model;
      model.Code = "rt";
      model.LoadFromList(List);
    } catch (const Exception& e) {
      return e.Message();
    }
    return "(no error)";
  }
};

} // namespace

TEST_F(BattleModelTest, MembersAreTakenInSuffixOrder) {
  Add("aa", BuildBattleSkeleton({{-1, 10, true}, {0, 5, false}, {0, 7, true}}));
  Add("ab", "never read");
  Add("ac", BuildOneColourTEX(200, 0, 0));
  Add("ad", BuildOneColourTEX(100, 0, 0));
  Add("am", PartWithPolys(1));
  Add("an", PartWithPolys(2));
  Add("ao", PartWithPolys(3)); // more part members than bones need: ignored
  Add("da", Animations(3, 2, 4));
  Add("db", "ignored");
  TBattleModel model;
  model.LoadFromList(List);
  ASSERT_EQ(List.size(), 1u); // what follows "da" is left alone
  EXPECT_EQ(List[0].first, "db");
  EXPECT_EQ(model.BoneCount, 3);
  EXPECT_EQ(model.Bones[1].Parent, 0);
  EXPECT_EQ(model.Bones[2].Length, 7);
  ASSERT_TRUE(model.Parts[0] && model.Parts[2]);
  EXPECT_FALSE(model.Parts[1]);
  EXPECT_EQ(model.Parts[0]->PolyTotal(), 12); // am to the first bone with a part
  EXPECT_EQ(model.Parts[2]->PolyTotal(), 24); // an to the second
  EXPECT_EQ(model.PolyTotal, 36);
  ASSERT_EQ(model.Textures.size(), 2u);
  EXPECT_EQ(model.Parts[2]->Textures, model.Textures); // every part lists all, ac first
  EXPECT_EQ(model.Textures[0]->Pixels.at(0), 200);
  EXPECT_EQ(model.AnimCount(), 3);
  EXPECT_EQ(model.AnimationIndex(5), 2);
  EXPECT_EQ(model.FrameCount(5), 4); // animation 2: 2 + 2 frames
  EXPECT_EQ(model.AnimationIndex(-1), 2);
  // A frame one past the last is frame 0 again.
  EXPECT_EQ(model.FrameAt(2, 4), model.FrameAt(2, 0));
  EXPECT_EQ(model.FrameAt(-1, -1), model.FrameAt(2, 3));
}

TEST_F(BattleModelTest, MissingOrMisplacedMembersFailWithOneMessage) {
  const std::string skeleton = BuildBattleSkeleton({{-1, 1, true}, {0, 1, true}});
  const struct {
    std::vector<std::pair<std::string, std::string>> Members;
    std::string Message;
  } cases[] = {
      {{{"ab", ""}, {"am", PartWithPolys(1)}},
       "ARRRGH! aa reality failure!: RTAA is not in the archive"},
      {{{"aa", skeleton}, {"am", PartWithPolys(1)}},
       "ARRRGH! ab reality failure!: RTAB is not in the archive"},
      {{{"aa", skeleton}, {"ab", ""}}, "List index out of bounds (1): RTAM is not in the archive"},
      {{{"aa", skeleton}, {"ab", ""}, {"am", PartWithPolys(1)}, {"an", PartWithPolys(1)}},
       "List index out of bounds (0): RTDA is not in the archive"},
      {{{"aa", skeleton}, {"ab", ""}, {"am", PartWithPolys(1)}, {"da", Animations(1, 1, 3)}},
       "Invalid battle model: more bones with parts than part members"},
      {{{"aa", BuildBattleSkeleton({}, -4)}, {"ab", ""}, {"am", ""}, {"da", ""}},
       "Invalid battle skeleton: bone count -4"},
      {{{"aa", BuildBattleSkeleton({}, 1000)}, {"ab", ""}, {"am", ""}, {"da", ""}},
       "Stream read error: RTAA ends before the data it describes"},
      {{{"aa", skeleton}, {"ab", ""}, {"ac", "not a texture"}, {"am", ""}},
       "Stream read error: RTAC ends before the data it describes"},
      {{{"aa", skeleton}, {"ab", ""}, {"am", PartWithPolys(1).substr(0, 40)}, {"da", ""}},
       "Stream read error: RTAM ends before the data it describes"},
  };
  for (const auto& c : cases) {
    List.clear();
    for (const auto& [suffix, data] : c.Members) Add(suffix, data);
    EXPECT_EQ(ErrorOf(), c.Message);
  }
}

TEST_F(BattleModelTest, AModelWithoutAnimationsHasNoFrames) {
  Add("aa", BuildBattleSkeleton({{-1, 1, true}}));
  Add("ab", "");
  Add("am", PartWithPolys(1));
  Add("ax", "skipped");
  Add("da", BuildBattleAnimations({}));
  TBattleModel model;
  model.LoadFromList(List);
  EXPECT_EQ(model.AnimCount(), 0);
  EXPECT_EQ(model.FrameCount(3), 0);
  EXPECT_EQ(model.AnimationIndex(3), 0);
  // The rest pose, no division by zero.
  EXPECT_EQ(model.FrameAt(3, 7), nullptr);
  auto joints = model.PoseJoints(model.FrameAt(3, 7), TMatrix4::Identity());
  ASSERT_EQ(joints.size(), 1u);
  EXPECT_EQ(joints[0].Joint.M[0], -1); // the mirror alone
}

TEST(BattleModelArchive, GathersTheModelsMembersByCodeInAnyCase) {
  TOffscreenContext context(4, 4);
  TTempDir dir;
  TLGPFixture lgp;
  lgp.Add("rtda", Animations(2, 3, 2)).Add("RTAM", PartWithPolys(2)).Add("rtab", "");
  lgp.Add("rtac", BuildOneColourTEX(9, 0, 0)).Add("rtaa", BuildBattleSkeleton({{-1, 4, true}}));
  lgp.Add("xxaa", BuildBattleSkeleton({})).Add("rtzz", "ignored, after da");
  WriteFile(dir.File("battle.lgp"), BuildLGP(lgp));
  auto archive = TLGPFile::Create(dir.File("battle.lgp"), false);
  TBattleModel model;
  model.LoadFromArchive(*archive, "RT");
  EXPECT_EQ(model.BoneCount, 1);
  EXPECT_EQ(model.PolyTotal, 24);
  EXPECT_EQ(model.Textures.size(), 1u);
  EXPECT_EQ(model.AnimCount(), 2);
  TBattleModel missing;
  EXPECT_THROW(missing.LoadFromArchive(*archive, "qq"), Exception);
}

TEST(BattleModelSave, TwoWritersOfOneModelKeepEachOthersAnimations) {
  TTempDir dir;
  const std::string path = dir.File("battle.lgp");
  WriteFile(path, BuildLGP(BuildDemoBattleArchive()));
  auto load = [&] {
    auto archive = TLGPFile::Create(path, false);
    auto model = std::make_unique<TBattleModel>();
    model->LoadFromArchive(*archive, "RT");
    return model;
  };
  auto rotations = [](const TBattleAnim& anim) {
    std::vector<int16_t> values;
    for (const TBattleFrame& frame : anim.Frames)
      for (const TBattleRotation& r : frame.Rotations) values.insert(values.end(), {r.X, r.Y, r.Z});
    return values;
  };
  // Both read before either writes; each swaps one animation for the other's frames.
  auto first = load(), second = load();
  ASSERT_EQ(first->AnimCount(), 2);
  const auto anim0 = rotations(first->Anims->Anims[0]), anim1 = rotations(first->Anims->Anims[1]);
  ASSERT_NE(anim0, anim1);
  first->SetAnimation(0, first->Anims->Anims[1].Frames);
  second->SetAnimation(1, second->Anims->Anims[0].Frames);
  first->SaveAnimations();
  second->SaveAnimations();

  auto after = load();
  EXPECT_EQ(rotations(after->Anims->Anims[0]), anim1);
  EXPECT_EQ(rotations(after->Anims->Anims[1]), anim0);
  // The second writer now holds what the archive holds.
  EXPECT_EQ(rotations(second->Anims->Anims[0]), anim1);
}
