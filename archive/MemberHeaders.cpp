#include "archive/MemberHeaders.h"

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Memory.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <numeric>
#include <system_error>
#include <thread>
#include <vector>

namespace palkor {

namespace {

constexpr int64_t HeaderSize = 24;
// A read's size: large enough that the calls are few, small enough that the buffer stays
// in the processor's cache while its headers are taken out.
constexpr int64_t ReadSize = 128 * 1024;
// Headers spread over less than this are read by one thread: a second one costs more to
// start than it saves.
constexpr int64_t TwoThreadBytes = 8 << 20;

// Reads the headers at offsetAt(j) for j in [first, last), in that order (which is the
// order they lie in the file), into buffer and hands each to take(j, header).
template <typename TOffsetAt, typename TTake>
void ReadRun(int handle, int64_t fileSize, size_t first, size_t last, TOffsetAt&& offsetAt,
             uint8_t* buffer, TTake&& take) {
  int64_t start = 0, end = 0; // the stretch of the file the buffer holds
  for (size_t j = first; j < last; ++j) {
    const int64_t at = offsetAt(j);
    if (at < 0 || at > fileSize - HeaderSize) throw EReadError();
    if (at < start || at + HeaderSize > end) {
      start = at;
      end = std::min(fileSize, at + ReadSize);
      ReadHandleAt(handle, buffer, end - start, start);
    }
    take(j, buffer + (at - start));
  }
}

} // namespace

void ReadMemberHeaders(int handle, int64_t fileSize, std::span<const int64_t> offsets,
                       const std::function<void(size_t k, const uint8_t* header)>& take) {
  // The headers in the order they lie; a table written in that order needs no sort.
  std::vector<uint32_t> order;
  if (!std::is_sorted(offsets.begin(), offsets.end())) {
    order.resize(offsets.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return offsets[a] < offsets[b]; });
  }
  auto index = [&](size_t j) { return order.empty() ? j : size_t(order[j]); };
  auto offsetAt = [&](size_t j) { return offsets[index(j)]; };
  const size_t count = offsets.size();

  // Over a large file the second half of the headers is read by a second thread into a
  // list of its own, handed over in order once the first half is done. Its memory is
  // made present here first: pages first touched while two threads run cost the most.
  size_t split = count;
  if (count > 1 && offsetAt(count - 1) - offsetAt(0) >= TwoThreadBytes) split = count / 2;
  const size_t buffersSize = size_t(ReadSize) * (split < count ? 2 : 1);
  const size_t stashSize = split < count ? (count - split) * size_t(HeaderSize) : 0;
  std::unique_ptr<uint8_t[]> memory(new uint8_t[buffersSize + stashSize]);
  PrefaultForWrite(memory.get(), buffersSize + stashSize);
  uint8_t* const buffer = memory.get();
  uint8_t* const stash = buffer + buffersSize;
  std::exception_ptr secondFailure;
  std::thread second;
  if (split < count) {
    try {
      second = std::thread([&] {
        try {
          ReadRun(handle, fileSize, split, count, offsetAt, buffer + ReadSize,
                  [&](size_t j, const uint8_t* header) {
                    std::memcpy(stash + (j - split) * size_t(HeaderSize), header,
                                size_t(HeaderSize));
                  });
        } catch (...) {
          secondFailure = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      split = count; // no second thread: this one reads them all
    }
  }
  // The second thread is waited for however the first half ends.
  struct TJoin {
    std::thread& Thread;
    ~TJoin() {
      if (Thread.joinable()) Thread.join();
    }
  } join{second};
  ReadRun(handle, fileSize, 0, split, offsetAt, buffer,
          [&](size_t j, const uint8_t* header) { take(index(j), header); });
  if (second.joinable()) second.join();
  if (secondFailure) std::rethrow_exception(secondFailure);
  for (size_t j = split; j < count; ++j) take(index(j), stash + (j - split) * size_t(HeaderSize));
}

} // namespace palkor
