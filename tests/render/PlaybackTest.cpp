#include "render/Playback.h"

#include <gtest/gtest.h>

#include <vector>

using namespace palkor;

namespace {

// The frames that paints every 80 ms from tick show, while playing.
std::vector<int32_t> Paints(TPlayback& playback, uint32_t tick, int32_t frameCount, int count) {
  std::vector<int32_t> frames;
  for (int k = 0; k < count && playback.Playing(); ++k)
    frames.push_back(playback.Advance(tick + uint32_t(k) * 80, frameCount).Frame);
  return frames;
}

} // namespace

TEST(Playback, AQuickAnimationPlaysOnceAndStopsOnFrame0) {
  for (uint32_t start : {0u, 1234u, 0xFFFFFFFFu - 1000}) {
    SCOPED_TRACE(start);
    TPlayback playback;
    playback.StartQuickAnimation(start, 5);
    EXPECT_TRUE(playback.Playing() && playback.QuickAnimationRunning());
    EXPECT_EQ(Paints(playback, start, 5, 20), (std::vector<int32_t>{1, 2, 3, 4, 0}));
    EXPECT_FALSE(playback.Playing() || playback.QuickAnimationRunning());
  }
  // One frame: the first paint shows frame 0 and ends it.
  TPlayback single;
  single.StartQuickAnimation(500, 1);
  const TPlayback::TStep step = single.Advance(500, 1);
  EXPECT_EQ(step.Frame, 0);
  EXPECT_TRUE(step.Stopped);
  EXPECT_FALSE(single.Playing());
}

TEST(Playback, AQuickAnimationThatMissesFrame0StillStopsOnIt) {
  TPlayback playback;
  playback.StartQuickAnimation(0, 6);
  EXPECT_EQ(playback.Advance(0, 6).Frame, 1);
  EXPECT_EQ(playback.Advance(320, 6).Frame, 5);
  // The paint that would show frame 0 came late: frame 1 of the next round.
  const TPlayback::TStep late = playback.Advance(560, 6);
  EXPECT_EQ(late.Frame, 0);
  EXPECT_TRUE(late.Stopped);
  EXPECT_FALSE(playback.Playing());
}

TEST(Playback, PlayingGoesOnFromTheFrameOnShowAndPausingKeepsThePhase) {
  TPlayback playback;
  EXPECT_FALSE(playback.Playing());
  playback.PlayFrom(10000, 7, 24);
  EXPECT_EQ(Paints(playback, 10000, 24, 3), (std::vector<int32_t>{7, 8, 9}));
  // Paused and switched on again, the clock goes on where it would have been.
  playback.SetPlaying(false);
  EXPECT_TRUE(Paints(playback, 10240, 24, 3).empty());
  playback.SetPlaying(true);
  EXPECT_EQ(Paints(playback, 10800, 24, 2), (std::vector<int32_t>{17, 18}));
  // Played on from a frame stepped to while paused.
  playback.Stop();
  playback.PlayFrom(20000, 23, 24);
  EXPECT_EQ(Paints(playback, 20000, 24, 3), (std::vector<int32_t>{23, 0, 1}));
  EXPECT_TRUE(playback.Playing());
}

TEST(Playback, StoppingOrPlayingOverEndsAQuickAnimation) {
  TPlayback playback;
  playback.StartQuickAnimation(0, 4);
  playback.Stop();
  EXPECT_FALSE(playback.Playing() || playback.QuickAnimationRunning());

  playback.StartQuickAnimation(0, 4);
  playback.PlayOver();
  EXPECT_TRUE(playback.Playing());
  EXPECT_FALSE(playback.QuickAnimationRunning());
  // Round and round: frame 0 no longer stops it.
  EXPECT_EQ(Paints(playback, 0, 4, 6), (std::vector<int32_t>{1, 2, 3, 0, 1, 2}));
  // No frames: frame 0, and nothing stops.
  EXPECT_EQ(playback.Advance(400, 0).Frame, 0);
}
