#include "archive/SubStream.h"

#include <algorithm>

namespace palkor {

int64_t TSubStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition < 0 || FPosition >= FSize) return 0;
  int32_t n = int32_t(std::min<int64_t>(count, int64_t(FSize) - FPosition));
  FBase.SetPosition(int64_t(FStart) + FPosition);
  FPosition += n;
  FBase.ReadBuffer(buffer, n);
  return n;
}

int64_t TSubStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
  case TSeekOrigin::Beginning:
    FPosition = int32_t(offset);
    break;
  case TSeekOrigin::Current:
    FPosition = int32_t(FPosition + offset);
    break;
  case TSeekOrigin::End:
    FPosition = int32_t(FSize - offset);
    break;
  }
  return FPosition;
}

} // namespace palkor
