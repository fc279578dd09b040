// Thumbnails of the demo models against committed baselines, and what the renderer does
// with a model that fails.
#include "render/Thumbnails.h"

#include "fixtures/Demo.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "tests/render/ImageBaseline.h"

#include <gtest/gtest.h>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::CompareWithBaseline;

namespace {

class ThumbnailTest : public ::testing::Test {
protected:
  TTempDir Dir;
  std::unique_ptr<TLGPFile> Field, Battle;

  void SetUp() override {
    WriteFile(Dir.File("char.lgp"), BuildLGP(BuildBrokenDemoFieldArchive()));
    WriteFile(Dir.File("battle.lgp"), BuildLGP(BuildDemoBattleArchive()));
    Field = TLGPFile::Create(Dir.File("char.lgp"), false);
    Battle = TLGPFile::Create(Dir.File("battle.lgp"), false);
  }

  // The pixels whose alpha is at least minAlpha, and whether any of them touches the
  // picture's edge.
  static size_t Covered(const std::vector<uint8_t>& rgba, int32_t size, bool& touchesEdge,
                        uint8_t minAlpha = 1) {
    size_t count = 0;
    touchesEdge = false;
    for (int32_t y = 0; y < size; ++y)
      for (int32_t x = 0; x < size; ++x)
        if (rgba[(size_t(y) * size_t(size) + size_t(x)) * 4 + 3] >= minAlpha) {
          ++count;
          touchesEdge = touchesEdge || x == 0 || y == 0 || x == size - 1 || y == size - 1;
        }
    return count;
  }
};

} // namespace

// One renderer draws every model of a run, field and battle alike, in the standard pose.
TEST_F(ThumbnailTest, DemoModelsMatchTheirBaselines) {
  TThumbnailRenderer renderer;
  ASSERT_EQ(renderer.Size(), DefaultThumbnailSize);
  struct TCase {
    const char* Baseline;
    TLGPFile* Archive;
    TModelRef Model;
    const char* Anim;
  } cases[] = {
      {"thumbnail-knight", Field.get(), TModelRef::OfFieldMember("KNIG.HRC"), "KNWA.A"},
      {"thumbnail-hound", Field.get(), TModelRef::OfFieldMember("HOUN.HRC"), "HOWA.A"},
      {"thumbnail-golem", Battle.get(), TModelRef::OfBattleCode("rt"), ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Baseline);
    const std::vector<uint8_t> picture = renderer.Render(*c.Archive, c.Model, c.Anim);
    ASSERT_EQ(picture.size(), size_t(128 * 128 * 4));
    // Framed to fill the square without leaving it, on a transparent background.
    bool touchesEdge = false;
    const size_t covered = Covered(picture, 128, touchesEdge);
    EXPECT_GT(covered, 128u * 128u / 8);
    EXPECT_LT(covered, 128u * 128u * 3 / 4);
    EXPECT_FALSE(touchesEdge);
    EXPECT_EQ(picture[3], 0);
    const auto result = CompareWithBaseline(c.Baseline, 128, 128, picture, 4);
    EXPECT_TRUE(result.Matches) << result.Message;
  }
}

// A model that fails gives its error and leaves nothing behind: the next picture is as
// it would be without it. Other sizes frame the model the same.
TEST_F(ThumbnailTest, AFailingModelLeavesTheRendererReady) {
  TThumbnailRenderer renderer(48);
  const std::vector<uint8_t> before =
      renderer.Render(*Field, TModelRef::OfFieldMember("HOUN.HRC"), "HOWA.A");
  EXPECT_THROW(renderer.Render(*Field, TModelRef::OfFieldMember("BRKN.HRC"), ""), Exception);
  EXPECT_THROW(renderer.Render(*Field, TModelRef::OfFieldMember("NONE.HRC"), ""), Exception);
  EXPECT_EQ(renderer.Render(*Field, TModelRef::OfFieldMember("HOUN.HRC"), "HOWA.A"), before);
  bool touchesEdge = false;
  EXPECT_GT(Covered(before, 48, touchesEdge, 255), 48u * 48u / 8);
  EXPECT_FALSE(touchesEdge);

  EXPECT_THROW(TThumbnailRenderer(0), Exception);
  EXPECT_THROW(TThumbnailRenderer(MaxThumbnailSize + 1), Exception);
}
