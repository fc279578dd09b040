#include "archive/MemberHeaders.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <vector>

#include <unistd.h>

namespace palkor {

namespace {

// A read's size: large enough that the calls are few, small enough that the buffer stays
// in the processor's cache while its headers are taken out.
constexpr int64_t ReadSize = 128 * 1024;

// Fills count bytes at offset or throws "Stream read error".
void ReadAt(int handle, uint8_t* buffer, int64_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t n = ::pread(handle, buffer, size_t(count), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EReadError();
    buffer += n;
    count -= n;
    offset += n;
  }
}

} // namespace

void ReadMemberHeaders(int handle, int64_t fileSize, std::span<const int64_t> offsets,
                       const std::function<void(size_t k, const uint8_t* header)>& take) {
  constexpr int64_t HeaderSize = 24;
  // The headers in the order they lie; a table written in that order needs no sort.
  std::vector<uint32_t> order(offsets.size());
  std::iota(order.begin(), order.end(), 0u);
  if (!std::is_sorted(offsets.begin(), offsets.end()))
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return offsets[a] < offsets[b]; });
  std::vector<uint8_t> buffer(static_cast<size_t>(ReadSize));
  int64_t start = 0, end = 0; // the stretch of the file the buffer holds
  for (uint32_t k : order) {
    const int64_t at = offsets[k];
    if (at < 0 || at > fileSize - HeaderSize) throw EReadError();
    if (at < start || at + HeaderSize > end) {
      start = at;
      end = std::min(fileSize, at + ReadSize);
      ReadAt(handle, buffer.data(), end - start, start);
    }
    take(k, buffer.data() + (at - start));
  }
}

} // namespace palkor
