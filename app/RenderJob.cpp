#include "app/RenderJob.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "platform/Exceptions.h"
#include "platform/StringList.h"

namespace palkor {

std::string FrameModelPartOf(const TViewerSession& session) {
  return session.HasModel() ? FrameModelPart(session.Model()) : std::string();
}

std::string FrameAnimPartOf(const TViewerSession& session) {
  if (const TFieldModel* field = session.FieldModel())
    return FrameAnimPart(field->AnimName, false, 0);
  return FrameAnimPart("", true, session.BattleAnimation());
}

void TSessionFrameTarget::SetView(int32_t rotateX, int32_t rotateY, int32_t rotateZ) {
  FSession.Camera.RotateX = rotateX;
  FSession.Camera.RotateY = rotateY;
  FSession.Camera.RotateZ = rotateZ;
}

void TSessionFrameTarget::ShowFrame(int32_t frame) {
  FSession.SetFrame(frame);
}

std::vector<uint8_t> TSessionFrameTarget::Capture(int32_t& width, int32_t& height) {
  FSession.Paint();
  width = FContext.Width();
  height = FContext.Height();
  return FContext.ReadPixelsRGB(false);
}

// GL reads the bottom row first: the rows are written in that order.
std::vector<uint8_t> TSessionFrameTarget::CaptureRows(int32_t& width, int32_t& height,
                                                      bool& bottomUp) {
  bottomUp = true;
  FSession.Paint();
  width = FContext.Width();
  height = FContext.Height();
  return FContext.ReadPixelsRGB(true);
}

int32_t RunRenderJob(TViewerSession& session, TFrameTarget& target, const TRenderJob& job) {
  int32_t passes = 1;
  if (job.AllAnimations)
    passes = session.BattleModel() ? session.BattleModel()->AnimCount()
                                   : int32_t(job.FieldAnimations.size());
  auto show = [&](int32_t pass) {
    if (job.ShowAnimation) return job.ShowAnimation(pass);
    if (session.BattleModel()) {
      session.ChooseBattleAnimation(pass);
    } else {
      if (!session.FieldModel()) throw Exception("No model selected");
      const TModelRef model = session.Model();
      session.LoadFieldModel(session.Archive(), model, job.FieldAnimations[size_t(pass)]);
    }
    return true;
  };
  // Every pass starts at the view as it was shown.
  TFrameOutputOptions output = job.Output;
  output.StartX = session.Camera.RotateX;
  output.StartY = session.Camera.RotateY;
  output.StartZ = session.Camera.RotateZ;
  int32_t written = 0;
  for (int32_t pass = 0; pass < passes; ++pass) {
    if (job.AllAnimations && !show(pass)) break;
    if (!session.HasModel()) throw Exception("No model selected");
    const int32_t lastFrame = session.LastFrame();
    if (job.PassBegins) job.PassBegins((lastFrame + 1) * output.Repeat);
    written += RenderAnimationFrames(target, output, FrameModelPartOf(session),
                                     FrameAnimPartOf(session), lastFrame, job.AfterFrame);
  }
  return written;
}

} // namespace palkor
