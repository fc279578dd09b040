#pragma once

#include "platform/Streams.h"

namespace palkor {

// A read-only window onto another stream: position 0 here is Start in Base, and the
// window is Size bytes long. Base is borrowed and must outlive the window. Each read
// repositions Base (to just after the bytes read). Writing is refused.
class TSubStream : public TStream {
public:
  TSubStream(TStream& base, int32_t start, int32_t size)
      : FBase(base), FStart(start), FSize(size) {}

  // Reads what the window still holds; "Stream read error" when Base holds less than
  // the window claims.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override { return 0; }
  // From the end, a positive offset moves back: End gives Size - offset. The result is
  // not checked; outside 0 .. Size later reads yield nothing.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

  int32_t Start() const { return FStart; }

private:
  TStream& FBase;
  int32_t FPosition = 0;
  int32_t FStart;
  int32_t FSize;
};

} // namespace palkor
