#include "render/Playback.h"

#include "render/scene.h"

namespace palkor {

void TPlayback::PlayFrom(uint32_t tick, int32_t frame, int32_t frameCount) {
  if (frameCount > 0) FOffset = ClockOffsetAt(tick, frame, frameCount);
  FPlaying = true;
}

void TPlayback::StartQuickAnimation(uint32_t tick, int32_t frameCount) {
  FQuick = true;
  FLastQuickFrame = 0;
  FOffset = QuickAnimationOffset(tick, frameCount);
  FPlaying = true;
}

void TPlayback::Stop() {
  FPlaying = false;
  FQuick = false;
}

TPlayback::TStep TPlayback::Advance(uint32_t tick, int32_t frameCount) {
  TStep step;
  step.Frame = ClockFrame(tick, FOffset, frameCount);
  if (FQuick && (step.Frame == 0 || step.Frame < FLastQuickFrame)) {
    step.Frame = 0;
    step.Stopped = true;
    Stop();
  }
  FLastQuickFrame = step.Frame;
  return step;
}

} // namespace palkor
