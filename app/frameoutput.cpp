#include "app/frameoutput.h"

#include "battle/FF7Battle.h"
#include "field/ff73d.h"
#include "platform/Exceptions.h"
#include "platform/StringList.h"
#include "platform/images.h"

namespace palkor {

std::string FrameModelPart(const std::string& modelEntry) {
  std::string lower = modelEntry;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  size_t hrc = lower.find(".hrc");
  return hrc == std::string::npos ? modelEntry : modelEntry.substr(0, hrc);
}

std::string FrameAnimPart(const std::string& animEntry, bool battle, int32_t animIndex) {
  if (battle) return Format("A%03d", animIndex + 1);
  return animEntry.substr(0, 4);
}

std::string FrameFileName(const std::string& prefix, const std::string& model,
                          const std::string& anim, int32_t frameNumber, bool png) {
  return Format(png ? "%sPK_%s_%s_%.4d.png" : "%sPK_%s_%s_%.4d.bmp", prefix, model, anim,
                frameNumber);
}

void TSceneFrameTarget::SetView(int32_t rotateX, int32_t rotateY, int32_t rotateZ) {
  FState.RotateX = rotateX;
  FState.RotateY = rotateY;
  FState.RotateZ = rotateZ;
}

void TSceneFrameTarget::ShowFrame(int32_t frame) {
  if (FState.FieldModel)
    FState.FieldModel->SetFrame(frame);
  else if (FState.BattleModel)
    FState.BattleModel->Frame = frame;
}

std::vector<uint8_t> TSceneFrameTarget::Capture(int32_t& width, int32_t& height) {
  PaintScene(FState);
  width = FContext.Width();
  height = FContext.Height();
  return FContext.ReadPixelsRGB();
}

int32_t RenderAnimationFrames(TFrameTarget& target, const TFrameOutputOptions& options,
                              const std::string& modelPart, const std::string& animPart,
                              int32_t lastFrame, const std::function<void()>& afterFrame) {
  int32_t x = 0, y = 0, z = 0, n = 0;
  target.SetView(x, y, z);
  for (int32_t pass = 0; pass < options.Repeat; ++pass)
    for (int32_t f = 0; f <= lastFrame; ++f) {
      x = (x + options.IncX) % 360;
      y = (y + options.IncY) % 360;
      z = (z + options.IncZ) % 360;
      target.SetView(x, y, z);
      target.ShowFrame(f);
      int32_t width = 0, height = 0;
      std::vector<uint8_t> pixels = target.Capture(width, height);
      std::string name = FrameFileName(options.Prefix, modelPart, animPart, n, options.Png);
      if (options.Png)
        WritePNG(name, width, height, pixels.data(), 3);
      else
        WriteBMP32(name, width, height, pixels.data());
      ++n;
      if (afterFrame) afterFrame();
    }
  return n;
}

} // namespace palkor
