#include "platform/FilePieces.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

struct TQueueSwitch {
  explicit TQueueSwitch(bool allow) { TFilePieceReader::AllowQueue(allow); }
  ~TQueueSwitch() { TFilePieceReader::AllowQueue(true); }
};

} // namespace

// Through the system's queue and one read at a time alike: every piece gets the file's
// bytes, short at the end of the file and empty past it or at a negative offset; more
// pieces than one batch holds, overlapping pieces and empty ones.
TEST(FilePieces, EveryPieceGetsTheFilesBytesWhicheverWayItIsRead) {
  TTempDir dir;
  const std::string path = dir.File("pieces.bin");
  const std::string bytes = PatternBytes(300000, 7);
  WriteFile(path, bytes);
  const int64_t size = int64_t(bytes.size());

  struct TCase {
    int64_t Offset;
    int32_t Length, Expected;
  };
  std::vector<TCase> cases = {{0, 24, 24},         {size - 10, 36, 10}, {size, 12, 0},
                              {size + 4096, 8, 0}, {-1, 16, 0},         {100, 0, 0},
                              {5, 70000, 70000},   {40, 30, 30}};
  for (int k = 0; k < 300; ++k) cases.push_back({int64_t(k) * 997 % (size - 300), 1 + k % 280, 0});
  for (size_t k = 8; k < cases.size(); ++k) cases[k].Expected = cases[k].Length;

  for (bool queue : {true, false}) {
    TQueueSwitch allowed(queue);
    TFileStream file(path, TFileMode::OpenRead);
    TFilePieceReader reader(file.Handle());
    if (!queue) {
      EXPECT_FALSE(reader.Batched());
    }
    std::vector<std::string> buffers;
    std::vector<TFilePiece> pieces;
    for (const TCase& c : cases) buffers.emplace_back(size_t(c.Length), '?');
    for (size_t k = 0; k < cases.size(); ++k)
      pieces.push_back(
          {cases[k].Offset, cases[k].Length, reinterpret_cast<uint8_t*>(buffers[k].data()), -5});
    reader.Read(pieces);
    // Twice through one reader: the queue is used again as it was left.
    for (int round = 0; round < 2; ++round) {
      for (size_t k = 0; k < cases.size(); ++k) {
        const TCase& c = cases[k];
        ASSERT_EQ(pieces[k].Done, c.Expected) << "queue " << queue << " piece " << k;
        if (c.Expected > 0) {
          EXPECT_EQ(buffers[k].substr(0, size_t(c.Expected)),
                    bytes.substr(size_t(c.Offset), size_t(c.Expected)))
              << "queue " << queue << " piece " << k;
        }
      }
      for (std::string& buffer : buffers) buffer.assign(buffer.size(), '?');
      reader.Read(pieces);
    }
  }
}
