#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace palkor {

// One piece of a file to read: Length bytes from Offset into Dest.
struct TFilePiece {
  int64_t Offset = 0;
  int32_t Length = 0;
  uint8_t* Dest = nullptr;
  // Bytes read: Length, or fewer when the file ends (or fails) first.
  int32_t Done = 0;
};

// Reads many pieces of one open file. Where the system offers a submission queue
// (io_uring), a whole batch of pieces costs one call to the system; otherwise each
// piece is one read. A pass that needs a little of many places in a large file (the
// catalogue's) then costs neither a call a piece nor a read of the whole file.
class TFilePieceReader {
public:
  // handle stays the caller's and open while the reader is used.
  explicit TFilePieceReader(int handle);
  ~TFilePieceReader();
  TFilePieceReader(const TFilePieceReader&) = delete;
  TFilePieceReader& operator=(const TFilePieceReader&) = delete;

  // Fills every piece and sets its Done; a piece that cannot be read whole is left
  // short, never an exception.
  void Read(std::span<TFilePiece> pieces);
  // Whether Read asks for many pieces in one call (the queue is set up on first use).
  bool Batched();

  // Whether readers made from now on may use the queue (tests read both ways).
  static void AllowQueue(bool allow);

private:
  struct TQueue;
  // Reads the pieces one after another.
  void ReadEach(std::span<TFilePiece> pieces);

  int FHandle;
  std::unique_ptr<TQueue> FQueue;
  bool FQueueTried = false;
};

} // namespace palkor
