#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace palkor {

// Reads the 24-byte member header (its name, 20 bytes NUL-padded, and its size) at each
// of offsets in the open file handle and gives it to take(k, header) for offsets[k], in
// the order the headers lie in the file (ties in the order given): one pass of large
// reads over the stretches that hold headers, gaps of a read or more passed over. A
// header costs neither a call to the system nor a page of memory of its own. Every header
// must lie inside the file, which is fileSize bytes long; "Stream read error" when the
// file is shorter than that after all.
void ReadMemberHeaders(int handle, int64_t fileSize, std::span<const int64_t> offsets,
                       const std::function<void(size_t k, const uint8_t* header)>& take);

} // namespace palkor
