// Pieces of a file through io_uring: the reader maps the submission ring, its entries
// and the completion ring that io_uring_setup makes, fills one read entry a piece
// (user_data: the piece's place in the batch), publishes the new tail and waits in one
// io_uring_enter for every completion. Anything the queue cannot do (no io_uring, a
// read it refuses or leaves short) is done again, or finished, by pread.
#include "platform/FilePieces.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace palkor {

namespace {

std::atomic<bool> QueueAllowed{true};

// One mapping of the ring's file, unmapped when it goes.
struct TMapping {
  void* Address = MAP_FAILED;
  size_t Length = 0;

  bool Map(int ring, size_t length, off_t what) {
    Length = length;
    Address =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring, what);
    return Address != MAP_FAILED;
  }
  template <typename T>
  T* At(uint32_t offset) const {
    return reinterpret_cast<T*>(static_cast<uint8_t*>(Address) + offset);
  }
  ~TMapping() {
    if (Address != MAP_FAILED) ::munmap(Address, Length);
  }
};

} // namespace

struct TFilePieceReader::TQueue {
  // Pieces handed to the system at once.
  static constexpr unsigned Entries = 128;

  int Ring = -1;
  TMapping SqMap, CqMap, SqeMap;
  // Within the rings; the completion ring lies in the submission ring's mapping when the
  // system maps both at once.
  unsigned *SqTail = nullptr, *SqMask = nullptr, *SqArray = nullptr;
  unsigned *CqHead = nullptr, *CqTail = nullptr, *CqMask = nullptr;
  io_uring_sqe* Sqes = nullptr;
  io_uring_cqe* Cqes = nullptr;

  ~TQueue() {
    if (Ring >= 0) ::close(Ring);
  }

  bool Open() {
    io_uring_params params{};
    Ring = int(::syscall(__NR_io_uring_setup, Entries, &params));
    if (Ring < 0) return false;
    // Plain reads at an offset came with the same kernels as this feature.
    if (!(params.features & IORING_FEAT_RW_CUR_POS)) return false;
    size_t sqLength = params.sq_off.array + params.sq_entries * sizeof(unsigned);
    size_t cqLength = params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe);
    const bool single = params.features & IORING_FEAT_SINGLE_MMAP;
    if (single) sqLength = cqLength = std::max(sqLength, cqLength);
    if (!SqMap.Map(Ring, sqLength, IORING_OFF_SQ_RING)) return false;
    const TMapping& cq = single ? SqMap : CqMap;
    if (!single && !CqMap.Map(Ring, cqLength, IORING_OFF_CQ_RING)) return false;
    if (!SqeMap.Map(Ring, params.sq_entries * sizeof(io_uring_sqe), IORING_OFF_SQES)) return false;
    SqTail = SqMap.At<unsigned>(params.sq_off.tail);
    SqMask = SqMap.At<unsigned>(params.sq_off.ring_mask);
    SqArray = SqMap.At<unsigned>(params.sq_off.array);
    CqHead = cq.At<unsigned>(params.cq_off.head);
    CqTail = cq.At<unsigned>(params.cq_off.tail);
    CqMask = cq.At<unsigned>(params.cq_off.ring_mask);
    Sqes = SqeMap.At<io_uring_sqe>(0);
    Cqes = cq.At<io_uring_cqe>(params.cq_off.cqes);
    return true;
  }

  // Reads up to Entries pieces, setting Done from each completion. False, with nothing
  // handed over, when the system takes none of them; "Stream read error" when it fails
  // while it holds some (their buffers may still be written).
  bool Run(int handle, std::span<TFilePiece> pieces) {
    const unsigned count = unsigned(pieces.size());
    unsigned tail = *SqTail; // only this side moves it
    for (unsigned i = 0; i < count; ++i, ++tail) {
      TFilePiece& piece = pieces[i];
      piece.Done = 0;
      const unsigned slot = tail & *SqMask;
      io_uring_sqe& sqe = Sqes[slot];
      std::memset(&sqe, 0, sizeof sqe);
      // An offset of -1 would read at the file's position: such a piece is left unread.
      sqe.opcode = piece.Offset >= 0 && piece.Length > 0 ? IORING_OP_READ : IORING_OP_NOP;
      sqe.fd = handle;
      sqe.off = uint64_t(piece.Offset);
      sqe.addr = uint64_t(reinterpret_cast<uintptr_t>(piece.Dest));
      sqe.len = uint32_t(piece.Length);
      sqe.user_data = i;
      SqArray[slot] = slot;
    }
    __atomic_store_n(SqTail, tail, __ATOMIC_RELEASE);

    unsigned unsubmitted = count, reaped = 0;
    while (reaped < count) {
      long taken = ::syscall(__NR_io_uring_enter, Ring, unsubmitted, count - reaped,
                             IORING_ENTER_GETEVENTS, nullptr, 0);
      if (taken < 0) {
        if (errno == EINTR) continue;
        if (unsubmitted == count) {
          // Nothing handed over: take the entries back, so that the ring is as it was.
          __atomic_store_n(SqTail, tail - count, __ATOMIC_RELEASE);
          return false;
        }
        throw EReadError();
      }
      unsubmitted -= unsigned(taken);
      unsigned head = *CqHead;
      const unsigned filled = __atomic_load_n(CqTail, __ATOMIC_ACQUIRE);
      for (; head != filled; ++head) {
        const io_uring_cqe& cqe = Cqes[head & *CqMask];
        if (cqe.user_data < count) {
          TFilePiece& piece = pieces[size_t(cqe.user_data)];
          piece.Done = cqe.res > 0 ? std::min(cqe.res, piece.Length) : 0;
        }
        ++reaped;
      }
      __atomic_store_n(CqHead, head, __ATOMIC_RELEASE);
    }
    return true;
  }
};

void TFilePieceReader::AllowQueue(bool allow) {
  QueueAllowed = allow;
}

TFilePieceReader::TFilePieceReader(int handle) : FHandle(handle) {}

TFilePieceReader::~TFilePieceReader() = default;

bool TFilePieceReader::Batched() {
  if (!FQueueTried) {
    FQueueTried = true;
    if (QueueAllowed) {
      FQueue = std::make_unique<TQueue>();
      if (!FQueue->Open()) FQueue.reset();
    }
  }
  return FQueue != nullptr;
}

void TFilePieceReader::Read(std::span<TFilePiece> pieces) {
  for (TFilePiece& piece : pieces) piece.Done = 0;
  // A few pieces are read one by one: making the queue costs more than the calls it saves.
  constexpr size_t FewPieces = 16;
  if (pieces.size() >= FewPieces && Batched()) {
    for (size_t start = 0; start < pieces.size(); start += TQueue::Entries) {
      auto batch = pieces.subspan(start, std::min<size_t>(TQueue::Entries, pieces.size() - start));
      if (!FQueue->Run(FHandle, batch)) {
        FQueue.reset();
        break;
      }
    }
  }
  // Pieces the queue left short (or never had) are finished here; at the end of the
  // file this costs one more read.
  ReadEach(pieces);
}

void TFilePieceReader::ReadEach(std::span<TFilePiece> pieces) {
  for (TFilePiece& piece : pieces) {
    while (piece.Done < piece.Length) {
      ssize_t n = ::pread(FHandle, piece.Dest + piece.Done, size_t(piece.Length - piece.Done),
                          piece.Offset + piece.Done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      piece.Done += int32_t(n);
    }
  }
}

} // namespace palkor
