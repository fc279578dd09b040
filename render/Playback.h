#pragma once

#include <cstdint>

namespace palkor {

// Playing an animation on the frame clock: one frame every 80 ms of tick, in a phase set
// by an offset, so that the frame shown depends on the time of the paint and not on how
// many paints there were. A Quick Animation plays the animation once, from frame 1 round
// to frame 0, and stops there.
class TPlayback {
public:
  bool Playing() const { return FPlaying; }
  bool QuickAnimationRunning() const { return FQuick; }
  // The clock's offset: the phase playing goes on in.
  int32_t Offset() const { return FOffset; }

  // Switches playing on or off as the clock stands: on goes on in the phase it had.
  void SetPlaying(bool on) { FPlaying = on; }
  // Plays on from frame, shown at tick.
  void PlayFrom(uint32_t tick, int32_t frame, int32_t frameCount);
  // Plays the animation of frameCount frames once: frame 1 at tick, then on to frame 0.
  void StartQuickAnimation(uint32_t tick, int32_t frameCount);
  // Stops playing; a Quick Animation is over.
  void Stop();
  // Plays over and over in the clock's phase: a Quick Animation under way goes on as
  // plain playing.
  void PlayOver() {
    FQuick = false;
    FPlaying = true;
  }

  // What a paint at tick shows while playing.
  struct TStep {
    int32_t Frame = 0;
    // A Quick Animation came round and ended on frame 0: playing is now off.
    bool Stopped = false;
  };
  // The frame of an animation of frameCount frames that the clock shows at tick. A paint
  // can come a little late and miss frame 0: a frame lower than the last one a Quick
  // Animation showed means it has come round, and it stops on frame 0 all the same.
  TStep Advance(uint32_t tick, int32_t frameCount);

private:
  int32_t FOffset = 0;
  bool FPlaying = false;
  bool FQuick = false;
  int32_t FLastQuickFrame = 0; // the frame a Quick Animation showed last
};

} // namespace palkor
