#include "app/RenderJob.h"

#include "battle/BattleModel.h"
#include "fixtures/Demo.h"
#include "fixtures/PNGReader.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// The demo archives, and a session drawing headless into a small picture.
class RenderJobTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TOffscreenContext Context{32, 24};
  TViewerSession Session;
  TRenderJob Job;

  void SetUp() override {
    WriteDemoFiles(Dir.Path());
    std::filesystem::create_directory(Dir.File("out"));
    SetupScene();
    ResizeScene(32, 24);
    Job.Output.Prefix = Dir.File("out") + "/";
  }
  TArchiveKind Archive(const char* name) const { return {&TLGPFile::Class(), Dir.File(name)}; }
  int32_t Run() {
    TSessionFrameTarget target(Session, Context);
    return RunRenderJob(Session, target, Job);
  }
  // The files written, by name.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Dir.File("out")))
      names.insert(entry.path().filename().string());
    return names;
  }
  // Files prefix0000 to prefix(count - 1), with the extension.
  static std::set<std::string> Numbered(const std::string& prefix, int32_t count,
                                        const char* extension = ".bmp") {
    std::set<std::string> names;
    for (int32_t n = 0; n < count; ++n) names.insert(Format("%s%.4d%s", prefix, n, extension));
    return names;
  }
  static std::set<std::string> Joined(std::set<std::string> a, const std::set<std::string>& b) {
    a.insert(b.begin(), b.end());
    return a;
  }
};

} // namespace

TEST_F(RenderJobTest, TheAnimationOnShowOfAFieldModel) {
  Session.LoadFieldModel(Archive("char.lgp"), TModelRef::OfFieldMember("KNIG.HRC"), "KNWA.A");
  Job.Output.Png = true;
  Job.Output.Repeat = 2;
  EXPECT_EQ(Run(), 48);
  EXPECT_EQ(Files(), Numbered("PK_KNIG_KNWA_", 48, ".png"));
  // Each image is the session's picture at its frame.
  Session.Camera = {};
  Session.SetFrame(5);
  Session.Paint();
  const TPNGFile png = ReadPNGFile(Dir.File("out/PK_KNIG_KNWA_0005.png"));
  EXPECT_EQ(png.Width, 32u);
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i + 3 < png.RGBA.size(); i += 4)
    rgb.insert(rgb.end(), png.RGBA.begin() + i, png.RGBA.begin() + i + 3);
  EXPECT_EQ(rgb, Context.ReadPixelsRGB());
}

TEST_F(RenderJobTest, EveryAnimationOfAFieldModelInTurn) {
  Session.LoadFieldModel(Archive("char.lgp"), TModelRef::OfFieldMember("KNIG.HRC"), "KNWA.A");
  Job.AllAnimations = true;
  Job.FieldAnimations = {"KNWV.A", "KNWA.A"};
  std::vector<int32_t> passes;
  Job.PassBegins = [&](int32_t images) { passes.push_back(images); };
  const int32_t written = Run();
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_EQ(passes[1], 24);
  EXPECT_EQ(written, passes[0] + passes[1]);
  EXPECT_EQ(Files(), Joined(Numbered("PK_KNIG_KNWV_", passes[0]), Numbered("PK_KNIG_KNWA_", 24)));
  // The last animation stays on show.
  EXPECT_EQ(Session.FieldModel()->AnimName, "KNWA.A");
}

TEST_F(RenderJobTest, TheAnimationsOfABattleModel) {
  Session.LoadBattleModel(Archive("battle.lgp"), TModelRef::OfBattleCode("rt"));
  Session.ChooseBattleAnimation(1);
  // One past the last frame: frame 0 again, as the frame slider reaches.
  EXPECT_EQ(Run(), 21);
  EXPECT_EQ(Files(), Numbered("PK_[Battle] RTAA_A002_", 21));

  std::filesystem::remove_all(Dir.File("out"));
  std::filesystem::create_directory(Dir.File("out"));
  Job.AllAnimations = true;
  EXPECT_EQ(Run(), 17 + 21);
  EXPECT_EQ(Files(),
            Joined(Numbered("PK_[Battle] RTAA_A001_", 17), Numbered("PK_[Battle] RTAA_A002_", 21)));
}

TEST_F(RenderJobTest, APassThatIsNotShownEndsTheJob) {
  Session.LoadBattleModel(Archive("battle.lgp"), TModelRef::OfBattleCode("rt"));
  Job.AllAnimations = true;
  Job.ShowAnimation = [&](int32_t pass) {
    Session.ChooseBattleAnimation(pass);
    return pass == 0;
  };
  EXPECT_EQ(Run(), 17);
  EXPECT_EQ(Files(), Numbered("PK_[Battle] RTAA_A001_", 17));
  // Nothing on show: nothing to render.
  Session.Clear();
  Job.AllAnimations = false;
  EXPECT_THROW(Run(), Exception);
}
