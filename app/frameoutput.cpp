#include "app/frameoutput.h"

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "platform/Threads.h"
#include "platform/images.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace palkor {

std::string FrameModelPart(const TModelRef& model) {
  return model.IsBattle() ? "[Battle] " + model.Code() + "AA" : model.FileStem();
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

namespace {

// Encodes and writes images on threads of their own (one a processor, at most four)
// while the caller draws the next. A few images wait at most. The first failure stops
// the writing: images not yet begun are dropped, and the failure of the earliest image
// is thrown to the caller by the next Write or by Finish. Whatever ends the run, the
// images given before it are written.
class TImageWriter {
public:
  struct TImage {
    // Made before the image goes to be written, so that a file that cannot be made
    // stops the run at once.
    std::unique_ptr<TReplacedFile> File;
    int32_t Width = 0, Height = 0;
    bool BottomUp = false;
    std::vector<uint8_t> Pixels;
    int32_t Number = 0;
  };

  // Fails with "Cannot start a thread" when the threads cannot all be made; those made
  // are ended first.
  explicit TImageWriter(bool png) : FPng(png) {
    unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    FWaiting = threads + 1;
    FThreads.reserve(threads);
    try {
      for (unsigned t = 0; t < threads; ++t) FThreads.push_back(StartThread([this] { Run(); }));
    } catch (...) {
      Stop();
      throw;
    }
  }
  ~TImageWriter() { Stop(); }

  void Write(TImage image) {
    std::unique_lock<std::mutex> lock(FMutex);
    FRoom.wait(lock, [this] { return FQueue.size() < FWaiting || FError; });
    if (FError) std::rethrow_exception(FError);
    FQueue.push_back(std::move(image));
    FWork.notify_one();
  }
  // Waits for every image to be written; throws the failure that stopped the writing.
  void Finish() {
    Stop();
    if (FError) std::rethrow_exception(FError);
  }

private:
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FDone = true;
    }
    FWork.notify_all();
    for (std::thread& thread : FThreads)
      if (thread.joinable()) thread.join();
  }
  void Run() {
    for (;;) {
      TImage image;
      {
        std::unique_lock<std::mutex> lock(FMutex);
        FWork.wait(lock, [this] { return !FQueue.empty() || FDone; });
        if (FQueue.empty()) return;
        image = std::move(FQueue.front());
        FQueue.pop_front();
      }
      std::exception_ptr error;
      try {
        image.File->Commit(
            FPng ? EncodePNG(image.Width, image.Height, image.Pixels.data(), 3, image.BottomUp)
                 : EncodeBMP32(image.Width, image.Height, image.Pixels.data(), image.BottomUp));
        image.File.reset();
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(FMutex);
      if (error && (!FError || image.Number < FErrorNumber)) {
        FError = error;
        FErrorNumber = image.Number;
        FQueue.clear();
      }
      FRoom.notify_one();
    }
  }

  const bool FPng;
  size_t FWaiting = 1;
  std::mutex FMutex;
  std::condition_variable FWork, FRoom;
  std::deque<TImage> FQueue;
  bool FDone = false;
  std::exception_ptr FError;
  int32_t FErrorNumber = 0;
  std::vector<std::thread> FThreads;
};

} // namespace

int32_t RenderAnimationFrames(TFrameTarget& target, const TFrameOutputOptions& options,
                              const std::string& modelPart, const std::string& animPart,
                              int32_t lastFrame, const std::function<void()>& afterFrame) {
  // The parts come from member names, which may hold any byte: a part that would put
  // the files elsewhere is refused before anything is drawn.
  CheckMemberFileName(modelPart);
  CheckMemberFileName(animPart);
  auto angle = [](int32_t degrees) { return (degrees % 360 + 360) % 360; };
  int32_t x = angle(options.StartX), y = angle(options.StartY), z = angle(options.StartZ), n = 0;
  TImageWriter writer(options.Png);
  for (int32_t pass = 0; pass < options.Repeat; ++pass)
    for (int32_t f = 0; f <= lastFrame; ++f) {
      target.SetView(x, y, z);
      x = (x + options.IncX) % 360;
      y = (y + options.IncY) % 360;
      z = (z + options.IncZ) % 360;
      target.ShowFrame(f);
      TImageWriter::TImage image;
      image.Pixels = target.CaptureRows(image.Width, image.Height, image.BottomUp);
      image.File = std::make_unique<TReplacedFile>(
          FrameFileName(options.Prefix, modelPart, animPart, n, options.Png));
      image.Number = n;
      writer.Write(std::move(image));
      ++n;
      if (afterFrame) afterFrame();
    }
  writer.Finish();
  return n;
}

} // namespace palkor
