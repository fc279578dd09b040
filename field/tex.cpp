// TEX texture layout (little-endian, offsets from the start of the file):
//
//   0    8   header, not read
//   8    4   colour-key flag, signed: above 0 makes palette index 0 transparent
//   12   48  header, not read
//   60   4   width in pixels, signed
//   64   4   height in pixels, signed
//   68   20  header, not read
//   88   4   palette entry count, signed; 0 means direct colour
//   92   ... header up to the data offset (236 in every file), not read
//   data:    palette images: count x 4 bytes blue, green, red, alpha (alpha unused),
//            then width x height index bytes, top row first, no padding
//            direct colour: width x height unsigned 16-bit values, top row first,
//            red in bits 0-4, green 5-9, blue 10-14, bit 15 unused
#include "field/tex.h"

#include <array>

namespace palkor {

namespace {

constexpr int64_t ColourKeyOffset = 8;
constexpr int64_t WidthOffset = 60;
constexpr int64_t HeightOffset = 64;
constexpr int64_t PaletteCountOffset = 88;
constexpr int32_t MaxPaletteCount = 256;

int32_t ReadI32LEAt(TStream& stream, int64_t offset) {
  stream.SetPosition(offset);
  return stream.ReadI32LE();
}

// Reads count bytes at offset in one piece, after checking that the stream holds them,
// so that a count the file cannot back is never allocated.
std::vector<uint8_t> ReadBlock(TStream& stream, int64_t offset, int64_t count) {
  if (offset < 0 || count > stream.Size() - offset) throw EReadError();
  std::vector<uint8_t> block(static_cast<size_t>(count));
  stream.SetPosition(offset);
  stream.ReadBuffer(block.data(), count);
  return block;
}

// A 5-bit colour field widened to 8 bits, its top bits repeated below so that 31 gives 255.
uint8_t Widen5(uint32_t v) {
  return uint8_t((v << 3) | (v >> 2));
}

} // namespace

std::unique_ptr<TTexImage> LoadTEX(TStream& stream, int32_t dataOffset) {
  int32_t width = ReadI32LEAt(stream, WidthOffset);
  int32_t height = ReadI32LEAt(stream, HeightOffset);
  int32_t count = ReadI32LEAt(stream, PaletteCountOffset);
  if (count < 0 || count > MaxPaletteCount)
    throw Exception(Format("Invalid palette count %d in TEX file", count));

  auto image = std::make_unique<TTexImage>();
  int64_t pixelCount = width > 0 && height > 0 ? int64_t(width) * height : 0;

  if (count == 0) {
    std::vector<uint8_t> data = ReadBlock(stream, dataOffset, pixelCount * 2);
    if (pixelCount == 0) return image;
    image->Width = width;
    image->Height = height;
    image->Pixels.resize(size_t(pixelCount) * 4);
    uint8_t* out = image->Pixels.data();
    for (int64_t i = 0; i < pixelCount; ++i, out += 4) {
      uint32_t value = GetU16LE(data.data() + i * 2);
      out[0] = Widen5(value & 0x1F);
      out[1] = Widen5((value >> 5) & 0x1F);
      out[2] = Widen5((value >> 10) & 0x1F);
      out[3] = 255;
    }
    return image;
  }

  bool colourKey = ReadI32LEAt(stream, ColourKeyOffset) > 0;
  std::vector<uint8_t> data = ReadBlock(stream, dataOffset, int64_t(count) * 4 + pixelCount);
  if (pixelCount == 0) return image;

  // Every index byte addresses this table of 256 colours. Indices at or beyond the
  // file's count have no colour of their own and decode to opaque black.
  std::array<std::array<uint8_t, 4>, 256> colours;
  colours.fill({0, 0, 0, 255});
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* entry = data.data() + i * 4;
    colours[size_t(i)] = {entry[2], entry[1], entry[0], 255};
  }
  if (colourKey) colours[0] = {0, 0, 0, 0};

  image->Width = width;
  image->Height = height;
  image->Pixels.resize(size_t(pixelCount) * 4);
  const uint8_t* indices = data.data() + int64_t(count) * 4;
  uint8_t* out = image->Pixels.data();
  for (int64_t i = 0; i < pixelCount; ++i, out += 4) {
    const auto& colour = colours[indices[i]];
    out[0] = colour[0];
    out[1] = colour[1];
    out[2] = colour[2];
    out[3] = colour[3];
  }
  return image;
}

} // namespace palkor
