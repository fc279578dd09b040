#pragma once

#include "platform/Streams.h"
#include "platform/images.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace palkor {

// A decoded texture: Width x Height pixels of 4 bytes, red, green, blue, alpha in memory
// order, the top row first, rows packed, as pictures read from image files are. An empty
// image has Width and Height 0.
using TTexImage = TRGBAImage;

// The offset of the palette or pixel data in every TEX file the program reads.
constexpr int32_t TEXDataOffset = 236;

// Decodes the TEX file that stream holds from offset 0, with its palette or pixels at
// dataOffset; positions the stream itself. Throws "Stream read error" when the stream
// is shorter than the header and the data it announces, and Exception "Invalid palette
// count %d in TEX file" for a palette count that is negative or above 256. A width or
// height of 0 or less gives an empty image. Nothing is allocated for pixels that the
// stream does not hold.
std::unique_ptr<TTexImage> LoadTEX(TStream& stream, int32_t dataOffset);

} // namespace palkor
